// Reference versions of the raw pipeline's arithmetic, written for clarity
// rather than speed: the linearization formula of one sample and a demosaic
// that applies each destination pixel's kernel on its own.
#pragma once

#include <cstdint>
#include <vector>

#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_mosaic_info.h"

namespace dng_test {

// Stage-2 value of a stored sample at (row, col) of the active area:
// clip(round((table value - black at the pixel) x 65535 / (white - peak
// black)), 0, 65535) with the info's black levels, deltas and white level.
double analytic_linear(const dng_linearization_info& info, uint32_t plane, int32_t row, int32_t col,
                       uint32_t stored);

// A one-plane mosaic of rows x cols samples, row by row.
struct Mosaic {
  std::vector<uint16_t> samples;
  int32_t rows = 0, cols = 0;
  uint16_t at(int32_t r, int32_t c) const { return samples[size_t(r) * size_t(cols) + size_t(c)]; }
};

// The sample at (r, c), which may lie outside the mosaic: there the mosaic
// repeats its first (last) pattern rows and columns in phase.
uint16_t mosaic_at(const Mosaic& m, const dng_mosaic_info& info, int32_t r, int32_t c);

// The full-scale interpolation of the mosaic: plane by plane, row by row;
// outside its bounds the mosaic repeats its first (last) pattern rows and
// columns in phase.
std::vector<uint16_t> reference_demosaic(const Mosaic& m, const dng_mosaic_info& info);

}  // namespace dng_test
