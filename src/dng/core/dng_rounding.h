// The one saturating conversion from floating point to integer, and the
// rounding rules of the DNG code, each a named helper built on it.
//
// Saturation rule: NaN gives 0; a value at or beyond a bound of the target
// type gives that bound; anything else truncates toward zero. In-range
// results are those of a plain conversion; nothing is undefined.
#pragma once

#include <cstdint>
#include <limits>
#include <type_traits>

namespace dng_rounding_detail {

// 2^bits as a double, exactly.
constexpr double power_of_two(int bits) {
  double r = 1.0;
  for (int i = 0; i < bits; ++i) r *= 2.0;
  return r;
}

}  // namespace dng_rounding_detail

template <class Int>
constexpr Int saturating_cast(double x) {
  static_assert(std::is_integral_v<Int>);
  using limits = std::numeric_limits<Int>;
  // The first value above the range: 2^(value bits), exact in a double.
  constexpr double above = dng_rounding_detail::power_of_two(limits::digits);
  constexpr double lowest = static_cast<double>(limits::min());
  if (x != x) return 0;  // NaN
  if (x <= lowest) return limits::min();
  if (x >= above) return limits::max();
  return static_cast<Int>(x);
}

// x + 0.5 truncated toward zero: halves go up for positive x, but toward
// zero for negative x (-2.5 gives -2, -1.7 gives -1). Rationals and matrix
// entries written by the DNG code use it.
constexpr int32_t round_half_up_int32(double x) { return saturating_cast<int32_t>(x + 0.5); }

// The unsigned form: x + 0.5 truncated; 0 or below gives 0 (numerators of
// unsigned rationals, unsigned tag values read from reals).
constexpr uint32_t round_half_up_uint32(double x) { return saturating_cast<uint32_t>(x + 0.5); }

// Halves away from zero: x + 0.5 for positive x, x - 0.5 otherwise, then
// truncated (signed rationals, Quantize, signed tag values read from reals).
constexpr int32_t round_half_away_int32(double x) {
  return saturating_cast<int32_t>(x > 0.0 ? x + 0.5 : x - 0.5);
}

// Single-precision samples to integers: x + 0.5 added in single precision,
// then truncated (the float-to-integer pixel routines).
constexpr uint32_t round_half_up_float_uint32(float x) {
  return saturating_cast<uint32_t>(static_cast<double>(x + 0.5f));
}
