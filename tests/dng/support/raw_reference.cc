#include "dng/support/raw_reference.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "dng/core/dng_cfa_color_kernels.h"

namespace dng_test {

double analytic_linear(const dng_linearization_info& info, uint32_t plane, int32_t row, int32_t col,
                       uint32_t stored) {
  double y = stored;
  if (!info.table.empty()) y = info.table[std::min<size_t>(stored, info.table.size() - 1)];
  double black = info.black_level[uint32_t(row) % info.black_level_repeat_rows]
                                 [uint32_t(col) % info.black_level_repeat_cols][plane];
  if (!info.black_delta_h.empty()) black += info.black_delta_h[size_t(col)];
  if (!info.black_delta_v.empty()) black += info.black_delta_v[size_t(row)];
  const double span = info.white_level[plane] - info.PeakBlackLevel(plane);
  return std::clamp(std::floor((y - black) / span * 65535 + 0.5), 0.0, 65535.0);
}

namespace {

int32_t repeat_index(int32_t i, int32_t size, int32_t period) {
  auto mod = [](int32_t a, int32_t n) { return ((a % n) + n) % n; };
  if (i < 0) return mod(i, period);
  if (i >= size) return size - period + mod(i - (size - period), period);
  return i;
}

}  // namespace

uint16_t mosaic_at(const Mosaic& m, const dng_mosaic_info& info, int32_t r, int32_t c) {
  return m.at(repeat_index(r, m.rows, int32_t(info.pattern_rows)),
              repeat_index(c, m.cols, int32_t(info.pattern_cols)));
}

std::vector<uint16_t> reference_demosaic(const Mosaic& m, const dng_mosaic_info& info) {
  auto kernels = std::make_unique<dng_cfa_color_kernels[]>(4);
  build_all_cfa_kernels(kernels.get(), info, 1000, 1);
  const dng_extent f = info.FullScaleFactors();
  const int32_t rows = m.rows * f.v, cols = m.cols * f.h;
  std::vector<uint16_t> out(size_t(rows) * size_t(cols) * info.color_planes);
  for (uint32_t k = 0; k < info.color_planes; ++k) {
    const dng_extent e = kernels[k].ExpandedSize();
    for (int32_t y = 0; y < rows; ++y) {
      for (int32_t x = 0; x < cols; ++x) {
        const dng_cfa_kernel& kernel = kernels[k].Kernel(uint32_t(y % e.v), uint32_t(x % e.h));
        uint32_t sum = 128;
        for (uint32_t t = 0; t < kernel.count; ++t) {
          sum += kernel.weight16[t] *
                 uint32_t(mosaic_at(m, info, y / f.v + kernel.offset[t].v, x / f.h + kernel.offset[t].h));
        }
        out[(size_t(k) * rows + size_t(y)) * cols + size_t(x)] = uint16_t(sum >> 8);
      }
    }
  }
  return out;
}

}  // namespace dng_test
