// How many requests one corvex answers per second over its pipes, against a
// bare pipe echo of the same bytes through cat, measured in the same run.
// The worker's round trip for a small unidentifiable file should cost no
// more than one and a half bare round trips.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>

#include "platform/files.h"
#include "platform/process.h"
#include "util/worker_wire.h"

namespace {

// A child with its standard input and output on pipes.
struct PipedChild {
  platform::ChildProcess child;
  platform::Fd to;
  platform::Fd from;

  explicit PipedChild(std::vector<std::string> argv) {
    auto in = platform::make_pipe();
    auto out = platform::make_pipe();
    platform::SpawnOptions options;
    options.argv = std::move(argv);
    options.stdin_fd = in->read_end.get();
    options.stdout_fd = out->write_end.get();
    std::string error;
    auto c = platform::spawn_process(options, &error);
    if (!c) {
      fprintf(stderr, "%s\n", error.c_str());
      exit(1);
    }
    child = std::move(*c);
    to = std::move(in->write_end);
    from = std::move(out->read_end);
  }
  ~PipedChild() {
    to.reset();
    from.reset();
    child.kill_and_wait();
  }
};

struct Scratch {
  std::string folder;
  std::string file;
  Scratch() {
    folder = *platform::make_temp_folder("corvex-bench-");
    file = folder + "/sample.bin";
    FILE* f = fopen(file.c_str(), "wb");
    fputs("not an image", f);
    fclose(f);
  }
  ~Scratch() { platform::remove_tree(folder); }
};

void BM_CorvexRoundTrip(benchmark::State& state) {
  Scratch scratch;
  PipedChild worker({CORVEX_PATH, scratch.folder + "/props"});
  std::string request = wire::encode_request(wire::kInternalMode, {scratch.file});
  char answer[2 * wire::kRecordSize];
  for (auto _ : state) {
    platform::write_all(worker.to.get(), request.data(), request.size());
    if (platform::read_full(worker.from.get(), answer, sizeof answer) != static_cast<ssize_t>(sizeof answer)) {
      state.SkipWithError("worker gave no answer");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

void BM_PipeEchoRoundTrip(benchmark::State& state) {
  PipedChild cat({"/bin/cat"});
  // The same traffic as one worker answer: the request out, two records back.
  char bytes[2 * wire::kRecordSize] = {};
  for (auto _ : state) {
    platform::write_all(cat.to.get(), bytes, sizeof bytes);
    if (platform::read_full(cat.from.get(), bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) {
      state.SkipWithError("cat gave no echo");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

BENCHMARK(BM_CorvexRoundTrip)->UseRealTime()->MinTime(2.0);
BENCHMARK(BM_PipeEchoRoundTrip)->UseRealTime()->MinTime(2.0);

// Prints the usual table, then the ratio of the two round trips.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const auto& run : runs) ns_per_iteration_[run.benchmark_name()] = run.GetAdjustedRealTime();
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    double worker = ns_per_iteration_["BM_CorvexRoundTrip/min_time:2.000/real_time"];
    double echo = ns_per_iteration_["BM_PipeEchoRoundTrip/min_time:2.000/real_time"];
    if (worker > 0 && echo > 0) {
      printf("corvex round trip %.1f us, bare pipe echo round trip %.1f us, ratio %.2f (target: at most 1.50)\n",
             worker / 1000, echo / 1000, worker / echo);
    }
  }

 private:
  std::map<std::string, double> ns_per_iteration_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
}
