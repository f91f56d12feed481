// TIFF's unsigned and signed rationals, with conversions to and from reals.
#pragma once

#include <cstdint>

// RATIONAL: numerator and denominator as uint32.
struct dng_unsigned_ratio {
  uint32_t n = 0;
  uint32_t d = 0;

  dng_unsigned_ratio() = default;
  dng_unsigned_ratio(uint32_t numerator, uint32_t denominator) : n(numerator), d(denominator) {}

  // n / d; 0.0 when d is 0.
  double ToReal() const;

  // Sets the ratio from x. x of 0, below 0 or NaN gives 0/1. A denominator of
  // 0 is chosen from x: 1 from 32768 up, 32768 from 1 up, 2^30 below 1. The
  // numerator is x * d + 0.5 truncated, saturated to 32 bits.
  void FromReal(double x, uint32_t denominator = 0);

  // While both are divisible by factor and d is not below it, divides both.
  // Factors below 2 change nothing.
  void DivideOutFactor(uint32_t factor);
};

// SRATIONAL: numerator and denominator as int32.
struct dng_signed_ratio {
  int32_t n = 0;
  int32_t d = 0;

  dng_signed_ratio() = default;
  dng_signed_ratio(int32_t numerator, int32_t denominator) : n(numerator), d(denominator) {}

  double ToReal() const;

  // x of 0 or NaN gives 0/1. A denominator of 0 is chosen from |x| as for the
  // unsigned form; the numerator is x * d rounded half away from zero,
  // saturated to 32 bits.
  void FromReal(double x, uint32_t denominator = 0);

  // Signed division and comparison; factors below 2 change nothing.
  void DivideOutFactor(int32_t factor);
};
