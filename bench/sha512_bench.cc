// SHA-512 throughput: our digest of a 1 GiB file (read in the same 10240-byte
// pieces as a reference-hash store) against sha512sum on the same file, in
// one run, plus the bare compression function in memory. Prints the ratio of
// the two file throughputs at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "noise_file.h"
#include <vector>

#include "frontend/core/hash_key.h"
#include "frontend/core/sha512.h"

extern char** environ;

namespace {

using namespace frontend;

constexpr size_t kFileSize = size_t{1} << 30;

std::string g_file;
double g_best_ours = 0;   // seconds
double g_best_theirs = 0;

void make_file() { g_file = write_noise_file("corvella_sha512_bench.bin", kFileSize); }

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

void record(double* best, double seconds) {
  if (*best == 0 || seconds < *best) *best = seconds;
}

void BM_Sha512Compress(benchmark::State& state) {
  std::vector<uint8_t> data(1 << 20, 0x5A);
  Sha512 sha;
  sha512_start(&sha);
  for (auto _ : state) {
    sha512_compress(&sha, data.data(), data.size() / kSha512BlockSize);
    benchmark::DoNotOptimize(sha.h[0]);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * data.size()));
}
BENCHMARK(BM_Sha512Compress);

void BM_OurDigestOf1GiBFile(benchmark::State& state) {
  uint8_t digest[kSha512DigestSize];
  for (auto _ : state) {
    double start = now();
    if (!hash_file_digest(g_file.c_str(), digest)) state.SkipWithError("read failed");
    record(&g_best_ours, now() - start);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_OurDigestOf1GiBFile)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Sha512sumOf1GiBFile(benchmark::State& state) {
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char name[] = "sha512sum";
    std::vector<char*> argv = {name, g_file.data(), nullptr};
    double start = now();
    pid_t pid;
    if (posix_spawnp(&pid, "sha512sum", &actions, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("sha512sum not found");
      posix_spawn_file_actions_destroy(&actions);
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    record(&g_best_theirs, now() - start);
    posix_spawn_file_actions_destroy(&actions);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kFileSize));
}
BENCHMARK(BM_Sha512sumOf1GiBFile)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  make_file();
  // Warm the page cache so both sides read from memory.
  uint8_t digest[kSha512DigestSize];
  hash_file_digest(g_file.c_str(), digest);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_best_ours > 0 && g_best_theirs > 0) {
    printf("SHA-512 of 1 GiB, best of 5: ours %.0f MB/s, sha512sum %.0f MB/s, ratio %.2f\n",
           kFileSize / g_best_ours / 1e6, kFileSize / g_best_theirs / 1e6, g_best_theirs / g_best_ours);
  }
  unlink(g_file.c_str());
  return 0;
}
