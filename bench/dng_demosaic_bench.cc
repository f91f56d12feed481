// The full-scale bilinear demosaic of an RGGB mosaic: the 16-bit row routine
// of the pixel table against the two-phase row routine on the same Bayer
// kernels (one 6000-pixel row per colour plane), and whole demosaics of a
// 6000 x 4000 mosaic. The rate counts destination pixels (three planes).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "dng/core/dng_cfa_color_kernels.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"

namespace {

constexpr int32_t kWidth = 6000;
constexpr int32_t kHeight = 4000;

dng_mosaic_info rggb() {
  dng_mosaic_info info;
  info.pattern_rows = info.pattern_cols = 2;
  info.pattern[0][0] = 0;
  info.pattern[0][1] = 1;
  info.pattern[1][0] = 1;
  info.pattern[1][1] = 2;
  info.color_planes = 3;
  for (uint8_t k = 0; k < 3; ++k) info.plane_color[k] = k;
  return info;
}

using row_fn = void (*)(const uint16_t*, uint16_t*, uint32_t, uint32_t, uint32_t, const uint32_t*,
                        const int32_t* const*, const uint16_t* const*, uint32_t);

// Three source rows (above, this, below) and both phase rows of every plane.
void run_rows(benchmark::State& state, row_fn fn) {
  const int32_t step = kWidth + 4;
  std::vector<uint16_t> src(size_t(step) * 3);
  for (size_t i = 0; i < src.size(); ++i) src[i] = uint16_t(i * 2654435761u >> 18);
  std::vector<uint16_t> dst(static_cast<size_t>(kWidth));
  auto kernels = std::make_unique<dng_cfa_color_kernels[]>(4);
  build_all_cfa_kernels(kernels.get(), rggb(), step, 1);
  const uint16_t* row = src.data() + step + 2;
  for (auto _ : state) {
    for (uint32_t phase_row = 0; phase_row < 2; ++phase_row) {
      for (uint32_t k = 0; k < 3; ++k) {
        const dng_cfa_color_kernels& c = kernels[k];
        const dng_cfa_kernel* first = &c.Kernel(phase_row, 0);
        const dng_cfa_kernel* second = &c.Kernel(phase_row, 1);
        const uint32_t counts[2] = {first->count, second->count};
        const int32_t* offsets[2] = {first->linear_offset, second->linear_offset};
        const uint16_t* weights[2] = {first->weight16, second->weight16};
        fn(row, dst.data(), kWidth, 0, 2, counts, offsets, weights, 0);
        benchmark::DoNotOptimize(dst.data());
      }
    }
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * 2 * 3);
}

void BM_InterpolateRowU16_table(benchmark::State& state) {
  run_rows(state, dng_scalar_pixel_kernels.InterpolateRowU16);
}
void BM_InterpolateRowU16_2x2(benchmark::State& state) { run_rows(state, interpolate_row_u16_2x2); }

void BM_InterpolateFull_RGGB(benchmark::State& state) {
  dng_simple_image src(dng_box(0, 0, kHeight, kWidth), 1, dng_type_short);
  const dng_pixel_buffer& b = src.Buffer();
  for (int32_t r = 0; r < kHeight; ++r) {
    auto* p = static_cast<uint16_t*>(b.Pixel(r, 0, 0));
    for (int32_t c = 0; c < kWidth; ++c) p[c] = uint16_t((r * 7 + c * 13 + (r * c & 255)) & 0xFFFF);
  }
  dng_mosaic_info info = rggb();
  info.stage_size = dng_extent(kHeight, kWidth);
  dng_simple_image dst(dng_box(0, 0, kHeight, kWidth), 3, dng_type_short);
  dng_host host;
  for (auto _ : state) info.InterpolateFull(host, src, dst, 0);
  state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight * 3);
}

}  // namespace

BENCHMARK(BM_InterpolateRowU16_table)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_InterpolateRowU16_2x2)->Repetitions(5)->ReportAggregatesOnly();
BENCHMARK(BM_InterpolateFull_RGGB)->Unit(benchmark::kMillisecond)->Repetitions(3)->ReportAggregatesOnly();
BENCHMARK_MAIN();
