#include "dng/core/dng_rational.h"

#include <cmath>
#include <cstdint>

#include "dng/core/dng_rounding.h"

namespace {

uint32_t chosen_denominator(double magnitude) {
  if (magnitude >= 32768.0) return 1;
  if (magnitude >= 1.0) return 0x8000;
  return 0x40000000;
}

}  // namespace

double dng_unsigned_ratio::ToReal() const {
  return d == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(d);
}

void dng_unsigned_ratio::FromReal(double x, uint32_t denominator) {
  if (!(x > 0.0)) {
    n = 0;
    d = 1;
    return;
  }
  d = denominator != 0 ? denominator : chosen_denominator(x);
  n = round_half_up_uint32(x * static_cast<double>(d));
}

void dng_unsigned_ratio::DivideOutFactor(uint32_t factor) {
  if (factor < 2) return;
  while (n % factor == 0 && d % factor == 0 && d >= factor) {
    n /= factor;
    d /= factor;
  }
}

double dng_signed_ratio::ToReal() const {
  return d == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(d);
}

void dng_signed_ratio::FromReal(double x, uint32_t denominator) {
  if (x == 0.0 || std::isnan(x)) {
    n = 0;
    d = 1;
    return;
  }
  uint32_t chosen = denominator != 0 ? denominator : chosen_denominator(std::fabs(x));
  if (chosen > INT32_MAX) chosen = INT32_MAX;  // a denominator must stay positive
  d = static_cast<int32_t>(chosen);
  n = round_half_away_int32(x * static_cast<double>(chosen));
}

void dng_signed_ratio::DivideOutFactor(int32_t factor) {
  if (factor < 2) return;
  while (n % factor == 0 && d % factor == 0 && d >= factor) {
    n /= factor;
    d /= factor;
  }
}
