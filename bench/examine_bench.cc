// Cost of the structure examiner per file: the worker's silent read
// (examine_file) and the hash key's walk that stops after the EXIF
// directory. Runs over the examiner's real test files, or over the folder
// named by EXAMINE_BENCH_FOLDER. Reported as microseconds per file.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "examine/examiner.h"
#include "platform/files.h"

namespace {

std::vector<std::string> bench_files() {
  const char* folder = getenv("EXAMINE_BENCH_FOLDER");
  std::string root = folder != nullptr ? folder : CORVELLA_FIXTURES "/examine";
  std::vector<std::string> paths;
  if (auto names = platform::list_folder(root)) {
    for (const std::string& name : *names) {
      std::string path = platform::join_path(root, name);
      if (!platform::is_folder(path)) paths.push_back(path);
    }
  }
  return paths;
}

void report(benchmark::State& state, size_t files) {
  // Seconds per file (shown with an SI prefix: "27u" is 27 microseconds).
  state.counters["per_file"] = benchmark::Counter(static_cast<double>(files) * static_cast<double>(state.iterations()),
                                                  benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["files"] = static_cast<double>(files);
}

// The worker hands the examiner a file it has opened; so does this.
void BM_ExamineFile(benchmark::State& state) {
  std::vector<std::string> paths = bench_files();
  for (auto _ : state) {
    for (const std::string& path : paths) {
      FILE* file = fopen(path.c_str(), "rb");
      if (file == nullptr) continue;
      ExaminerContext* context = new_examiner_context(file, print_nothing);
      benchmark::DoNotOptimize(examine_file(path.c_str(), context));
      free_examiner_context(context);
      fclose(file);
    }
  }
  report(state, paths.size());
}
BENCHMARK(BM_ExamineFile)->Unit(benchmark::kMillisecond);

// The hash key: one context kept over the files, each opened by path.
void BM_WalkStopAfterExif(benchmark::State& state) {
  std::vector<std::string> paths = bench_files();
  ExaminerContext* context = new_examiner_context(nullptr, print_nothing);
  for (auto _ : state) {
    for (const std::string& path : paths) {
      benchmark::DoNotOptimize(walk_file(path.c_str(), context, true));
    }
  }
  free_examiner_context(context);
  report(state, paths.size());
}
BENCHMARK(BM_WalkStopAfterExif)->Unit(benchmark::kMillisecond);

// The whole printed dump, with the printing itself left out.
void BM_WalkFull(benchmark::State& state) {
  std::vector<std::string> paths = bench_files();
  ExaminerContext* context = new_examiner_context(nullptr, print_nothing);
  for (auto _ : state) {
    for (const std::string& path : paths) {
      benchmark::DoNotOptimize(walk_file(path.c_str(), context, false));
    }
  }
  free_examiner_context(context);
  report(state, paths.size());
}
BENCHMARK(BM_WalkFull)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
