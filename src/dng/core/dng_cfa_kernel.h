// One phase of a bilinear demosaic kernel: which neighbouring raw samples,
// with which weights, make the missing value of one colour.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"

struct dng_cfa_kernel {
  static constexpr uint32_t kMaxTaps = 8;

  uint32_t count = 0;
  dng_extent offset[kMaxTaps];  // (row, column) in source samples after Finish
  float weight[kMaxTaps] = {};
  uint16_t weight16[kMaxTaps] = {};  // fixed point, 256 = 1.0; they add up to 256
  int32_t linear_offset[kMaxTaps] = {};

  // Adds weight at offset: ignored at or below 0, merged with a tap at the
  // same offset, else appended (a ninth tap raises 100000).
  void AddTap(dng_extent at, float w);

  // Halves the offsets along a doubled side (with the phase's parity), sorts
  // the taps by row then column, computes the linear offsets for the steps
  // and the 16-bit weights; the first of the largest 16-bit weights takes
  // what the rounding lost or gained, and the float weights become the
  // 16-bit ones over 256.
  void Finish(dng_extent factors, uint32_t phase_row, uint32_t phase_col, int32_t row_step,
              int32_t col_step);
};
