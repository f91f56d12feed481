// DNG stream and MD5 throughput against their plain baselines, in one run:
//  - a warm 256 MiB file read in 64 KiB GetBytes through dng_file_stream,
//    against fread of the same pieces;
//  - byte-swapped GetUInt16 one value at a time from a view, against a
//    plain load-and-swap loop over the same memory;
//  - MD5 of a warm 512 MiB file (read in 64 KiB pieces), against md5sum.
// Prints each ratio (ours over the baseline's throughput) at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_md5.h"
#include "dng/core/dng_stream.h"

extern char** environ;

namespace {

constexpr size_t kReadFileSize = size_t{256} << 20;
constexpr size_t kMd5FileSize = size_t{512} << 20;
constexpr size_t kPiece = 64 << 10;
constexpr size_t kViewSize = size_t{16} << 20;

std::string g_read_file;
std::string g_md5_file;

struct Best {
  double seconds = 0;
  void Record(double s) {
    if (seconds == 0 || s < seconds) seconds = s;
  }
};
Best g_stream_read, g_fread, g_view_u16, g_plain_u16, g_md5_ours, g_md5sum;

double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string make_file(const char* name, size_t size) {
  const char* tmp = getenv("TMPDIR");
  std::string path = std::string(tmp != nullptr ? tmp : "/tmp") + "/" + name;
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) {
    perror(path.c_str());
    exit(1);
  }
  std::vector<unsigned char> chunk(1 << 20);
  uint64_t x = 88172645463325252ULL;
  for (size_t done = 0; done < size; done += chunk.size()) {
    for (auto& b : chunk) {
      x ^= x << 13;
      x ^= x >> 7;
      x ^= x << 17;
      b = static_cast<unsigned char>(x);
    }
    fwrite(chunk.data(), 1, chunk.size(), out);
  }
  fclose(out);
  return path;
}

// Reads a whole file once so that it is in the page cache.
void warm(const std::string& path) {
  FILE* in = fopen(path.c_str(), "rb");
  std::vector<char> buffer(kPiece);
  while (fread(buffer.data(), 1, buffer.size(), in) == buffer.size()) {
  }
  fclose(in);
}

void BM_FreadOf256MiB(benchmark::State& state) {
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    double start = now();
    FILE* in = fopen(g_read_file.c_str(), "rb");
    for (size_t done = 0; done < kReadFileSize; done += kPiece) {
      if (fread(buffer.data(), 1, kPiece, in) != kPiece) state.SkipWithError("short read");
    }
    fclose(in);
    g_fread.Record(now() - start);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kReadFileSize));
}
BENCHMARK(BM_FreadOf256MiB)->Iterations(15)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_FileStreamGetBytesOf256MiB(benchmark::State& state) {
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    double start = now();
    dng_file_stream stream(g_read_file.c_str());
    for (size_t done = 0; done < kReadFileSize; done += kPiece) {
      stream.GetBytes(buffer.data(), static_cast<uint32_t>(kPiece));
    }
    g_stream_read.Record(now() - start);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kReadFileSize));
}
BENCHMARK(BM_FileStreamGetBytesOf256MiB)->Iterations(15)->UseRealTime()->Unit(benchmark::kMillisecond);

std::vector<uint8_t>& view_bytes() {
  static std::vector<uint8_t> bytes = [] {
    std::vector<uint8_t> b(kViewSize);
    for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 2654435761u >> 13);
    return b;
  }();
  return bytes;
}

// The baseline takes one value per step, as the stream does: without
// auto-vectorisation the compiler would turn it into a vector reduction,
// which measures something else.
#if defined(__clang__)
#define SCALAR_LOOP _Pragma("clang loop vectorize(disable) interleave(disable)")
__attribute__((noinline)) uint32_t plain_sum_u16(const uint8_t* p, size_t size) {
#else
#define SCALAR_LOOP
__attribute__((noinline, optimize("no-tree-vectorize"))) uint32_t plain_sum_u16(const uint8_t* p, size_t size) {
#endif
  uint32_t sum = 0;
  SCALAR_LOOP
  for (size_t i = 0; i < size; i += 2) {
    uint16_t v;
    memcpy(&v, p + i, 2);
    sum += __builtin_bswap16(v);
  }
  return sum;
}

void BM_PlainLoadAndSwapU16(benchmark::State& state) {
  const uint8_t* p = view_bytes().data();
  for (auto _ : state) {
    double start = now();
    uint32_t sum = plain_sum_u16(p, kViewSize);
    benchmark::DoNotOptimize(sum);
    g_plain_u16.Record(now() - start);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kViewSize));
}
BENCHMARK(BM_PlainLoadAndSwapU16)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_ViewGetUInt16Swapped(benchmark::State& state) {
  const uint8_t* p = view_bytes().data();
  for (auto _ : state) {
    double start = now();
    dng_stream view(p, static_cast<uint32_t>(kViewSize));
    view.SetByteSwapped(true);
    uint32_t sum = 0;
    for (size_t i = 0; i < kViewSize; i += 2) sum += view.GetUInt16();
    benchmark::DoNotOptimize(sum);
    g_view_u16.Record(now() - start);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kViewSize));
}
BENCHMARK(BM_ViewGetUInt16Swapped)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Md5OfAWarm512MiBFile(benchmark::State& state) {
  std::vector<uint8_t> buffer(kPiece);
  for (auto _ : state) {
    double start = now();
    int fd = open(g_md5_file.c_str(), O_RDONLY);
    dng_md5_context md5;
    ssize_t n;
    while ((n = read(fd, buffer.data(), buffer.size())) > 0) md5.Feed(buffer.data(), static_cast<size_t>(n));
    close(fd);
    benchmark::DoNotOptimize(md5.Digest().data[0]);
    g_md5_ours.Record(now() - start);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMd5FileSize));
}
BENCHMARK(BM_Md5OfAWarm512MiBFile)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_Md5sumOfAWarm512MiBFile(benchmark::State& state) {
  for (auto _ : state) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    char name[] = "md5sum";
    std::vector<char*> argv = {name, g_md5_file.data(), nullptr};
    double start = now();
    pid_t pid;
    if (posix_spawnp(&pid, "md5sum", &actions, nullptr, argv.data(), environ) != 0) {
      state.SkipWithError("md5sum not found");
      posix_spawn_file_actions_destroy(&actions);
      break;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    g_md5sum.Record(now() - start);
    posix_spawn_file_actions_destroy(&actions);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kMd5FileSize));
}
BENCHMARK(BM_Md5sumOfAWarm512MiBFile)->Iterations(5)->UseRealTime()->Unit(benchmark::kMillisecond);

void print_ratio(const char* what, size_t bytes, const Best& ours, const Best& theirs, const char* baseline) {
  if (ours.seconds <= 0 || theirs.seconds <= 0) return;
  printf("%s, best runs: ours %.0f MB/s, %s %.0f MB/s, ratio %.2f\n", what, bytes / ours.seconds / 1e6, baseline,
         bytes / theirs.seconds / 1e6, theirs.seconds / ours.seconds);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  g_read_file = make_file("corvella_dng_stream_bench.bin", kReadFileSize);
  g_md5_file = make_file("corvella_dng_md5_bench.bin", kMd5FileSize);
  // Written back before timing, so that no disk traffic overlaps the runs.
  sync();
  warm(g_read_file);
  warm(g_md5_file);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  print_ratio("dng_file_stream 64 KiB GetBytes of 256 MiB", kReadFileSize, g_stream_read, g_fread, "fread");
  print_ratio("Swapped GetUInt16 from a view (16 MiB)", kViewSize, g_view_u16, g_plain_u16, "load-and-swap");
  print_ratio("MD5 of 512 MiB", kMd5FileSize, g_md5_ours, g_md5sum, "md5sum");
  unlink(g_read_file.c_str());
  unlink(g_md5_file.c_str());
  return 0;
}
