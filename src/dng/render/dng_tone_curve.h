// The default tone curve: two tables of 1025 single-precision entries on
// [0, 1], forward and inverse, looked up with linear interpolation.
//
// The forward table samples a monotone cubic (Fritsch-Carlson tangents)
// through a small set of knots; the inverse table holds, at entry i, the x
// where that cubic reaches i / 1024, found by bisection. Both are built once,
// on first use, and are read-only afterwards.
#pragma once

#include <cstdint>

#include "dng/core/dng_1d_function.h"

class dng_tone_curve_acr3_default : public dng_1d_function {
 public:
  static constexpr uint32_t kTableEntries = 1025;

  double ValueAt(double x) const override;
  double InverseAt(double y) const override;

  static const dng_1d_function& Instance();

  // The two tables (kTableEntries entries each; entry 0 is 0, entry 1024 1).
  static const float* ForwardTable();
  static const float* InverseTable();
};
