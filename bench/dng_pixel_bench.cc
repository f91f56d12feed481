// Throughput of the pixel copies that carry a DNG validation, each against
// memcpy in the same run: CopyBlock, same-type CopyAreaFrom (whole image and
// an inner area), ByteSwapWords, the planar to three-plane interleave of the
// demosaic output, and 16-bit to float. Every benchmark writes 48 MiB, the
// size of a stage image rather than a cache, and its rate counts the bytes
// written.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_simple_image.h"

namespace {

constexpr int32_t kRows = 4096;
constexpr int32_t kCols = 6144;  // one 16-bit plane: 48 MiB
constexpr int64_t kBytes = int64_t(kRows) * kCols * 2;

// The machines are shared: compare the fastest repetitions (the "_min" rows'
// times; Google Benchmark applies the same minimum to the rate column, so
// read the time), not the typical ones.
double fastest(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

void record(benchmark::State& state, double bytes_per_iteration) {
  state.SetBytesProcessed(int64_t(double(state.iterations()) * bytes_per_iteration));
}

void fill(void* data, size_t bytes) {
  uint8_t* p = static_cast<uint8_t*>(data);
  for (size_t i = 0; i < bytes; ++i) p[i] = uint8_t(i * 131 + 7);
}

void BM_memcpy(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0));
  std::vector<uint8_t> a(bytes), b(bytes);
  fill(a.data(), bytes);
  for (auto _ : state) {
    std::memcpy(b.data(), a.data(), bytes);
    benchmark::ClobberMemory();
  }
  record(state, double(bytes));
}

void BM_CopyBlock(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0));
  std::vector<uint8_t> a(bytes), b(bytes);
  fill(a.data(), bytes);
  for (auto _ : state) {
    dng_pixel_kernels.CopyBlock(a.data(), b.data(), uint32_t(bytes));
    benchmark::ClobberMemory();
  }
  record(state, double(bytes));
}

void BM_CopyAreaFrom_SameType(benchmark::State& state) {
  const bool inner = state.range(0) != 0;
  dng_simple_image src(dng_box(0, 0, kRows, kCols), 1, 3);
  dng_simple_image dst(dng_box(0, 0, kRows, kCols), 1, 3);
  fill(src.Buffer().data, size_t(kRows) * kCols * 2);
  fill(dst.Buffer().data, size_t(kRows) * kCols * 2);  // no page faults in the timing
  // The inner area is not contiguous: one run per row.
  const dng_box area = inner ? dng_box(8, 8, kRows - 8, kCols - 8) : dng_box(0, 0, kRows, kCols);
  dng_pixel_buffer out = dst.Buffer();
  for (auto _ : state) {
    out.CopyAreaFrom(src.Buffer(), area, 0, 1);
    benchmark::ClobberMemory();
  }
  record(state, double(area.H()) * area.W() * 2);
}

void BM_ByteSwapWords(benchmark::State& state) {
  const size_t bytes = size_t(state.range(0));
  std::vector<uint8_t> a(bytes);
  fill(a.data(), bytes);
  for (auto _ : state) {
    dng_pixel_kernels.ByteSwapWords(a.data(), uint32_t(bytes / 2));
    benchmark::ClobberMemory();
  }
  record(state, double(bytes));
}

// A planar three-plane buffer (rows padded as a filter task pads them)
// written into an interleaved three-plane image.
void BM_Interleave3(benchmark::State& state) {
  const int32_t rows = kRows / 2, cols = kCols * 2 / 3;
  std::vector<uint16_t> planar(size_t(rows) * 3 * cols);
  fill(planar.data(), planar.size() * 2);
  dng_pixel_buffer src;
  src.area = dng_box(0, 0, rows, cols);
  src.planes = 3;
  src.col_step = 1;
  src.plane_step = cols;
  src.row_step = 3 * cols;
  src.pixel_type = 3;
  src.pixel_size = 2;
  src.data = planar.data();
  dng_simple_image dst(dng_box(0, 0, rows, cols), 3, 3);
  fill(dst.Buffer().data, size_t(rows) * cols * 3 * 2);
  dng_pixel_buffer out = dst.Buffer();
  for (auto _ : state) {
    out.CopyAreaFrom(src, src.area, 0, 3);
    benchmark::ClobberMemory();
  }
  record(state, double(rows) * cols * 3 * 2);
}

void BM_U16ToFloat(benchmark::State& state) {
  const int32_t rows = kRows / 2;
  dng_simple_image src(dng_box(0, 0, rows, kCols), 1, 3);
  dng_simple_image dst(dng_box(0, 0, rows, kCols), 1, 11);
  fill(src.Buffer().data, size_t(rows) * kCols * 2);
  fill(dst.Buffer().data, size_t(rows) * kCols * 4);
  dng_pixel_buffer out = dst.Buffer();
  for (auto _ : state) {
    out.CopyAreaFrom(src.Buffer(), src.Bounds(), 0, 1);
    benchmark::ClobberMemory();
  }
  record(state, double(rows) * kCols * 4);
}

BENCHMARK(BM_memcpy)->Arg(kBytes)->Repetitions(15)->ComputeStatistics("min", fastest);
BENCHMARK(BM_CopyBlock)->Arg(kBytes)->Repetitions(15)->ComputeStatistics("min", fastest);
BENCHMARK(BM_CopyAreaFrom_SameType)->Arg(0)->Arg(1)->Repetitions(15)->ComputeStatistics("min", fastest);
BENCHMARK(BM_ByteSwapWords)->Arg(kBytes)->Repetitions(15)->ComputeStatistics("min", fastest);
BENCHMARK(BM_Interleave3)->Repetitions(15)->ComputeStatistics("min", fastest);
BENCHMARK(BM_U16ToFloat)->Repetitions(15)->ComputeStatistics("min", fastest);

}  // namespace

// Repetitions of the benchmarks are interleaved (unless the command line
// says otherwise), so load changes on a shared machine hit all of them alike.
int main(int argc, char** argv) {
  std::vector<char*> args(argv, argv + argc);
  static char interleave[] = "--benchmark_enable_random_interleaving=true";
  args.insert(args.begin() + 1, interleave);
  int count = int(args.size());
  benchmark::Initialize(&count, args.data());
  if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
