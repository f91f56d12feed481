#include "dng/core/dng_rational.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

struct UnsignedFromRealCase {
  double x;
  uint32_t denominator;
  uint32_t n, d;
};
void PrintTo(const UnsignedFromRealCase& c, std::ostream* os) { *os << c.x << "_" << c.denominator; }

class UnsignedFromReal : public ::testing::TestWithParam<UnsignedFromRealCase> {};

TEST_P(UnsignedFromReal, GivesTheRatio) {
  const auto& c = GetParam();
  dng_unsigned_ratio r(77, 77);
  r.FromReal(c.x, c.denominator);
  EXPECT_EQ(r.n, c.n);
  EXPECT_EQ(r.d, c.d);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnsignedFromReal,
    ::testing::Values(UnsignedFromRealCase{0.5, 0, 536870912, 1073741824},
                      UnsignedFromRealCase{100.25, 0, 3284992, 32768},
                      UnsignedFromRealCase{40000.4, 0, 40000, 1},
                      UnsignedFromRealCase{32768.0, 0, 32768, 1},
                      UnsignedFromRealCase{32767.99, 0, 1073741496, 32768},
                      UnsignedFromRealCase{1.0, 0, 32768, 32768},
                      UnsignedFromRealCase{0.9999, 0, 1073634450, 1073741824},
                      UnsignedFromRealCase{0.0, 0, 0, 1}, UnsignedFromRealCase{0.0, 10000, 0, 1},
                      UnsignedFromRealCase{-3.0, 0, 0, 1},
                      UnsignedFromRealCase{1.23456, 10000, 12346, 10000},
                      // Out of range saturates rather than keeping the low 32 bits.
                      UnsignedFromRealCase{5e9, 0, 4294967295u, 1},
                      UnsignedFromRealCase{3e6, 10000, 4294967295u, 10000},
                      UnsignedFromRealCase{kInf, 0, 4294967295u, 1},
                      UnsignedFromRealCase{kNaN, 0, 0, 1}));

struct SignedFromRealCase {
  double x;
  uint32_t denominator;
  int32_t n, d;
};
void PrintTo(const SignedFromRealCase& c, std::ostream* os) { *os << c.x << "_" << c.denominator; }

class SignedFromReal : public ::testing::TestWithParam<SignedFromRealCase> {};

TEST_P(SignedFromReal, GivesTheRatio) {
  const auto& c = GetParam();
  dng_signed_ratio r(77, 77);
  r.FromReal(c.x, c.denominator);
  EXPECT_EQ(r.n, c.n);
  EXPECT_EQ(r.d, c.d);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SignedFromReal,
    ::testing::Values(SignedFromRealCase{-0.5, 0, -536870912, 1073741824},
                      SignedFromRealCase{-2.5, 10, -25, 10}, SignedFromRealCase{0.25, 10, 3, 10},
                      SignedFromRealCase{-0.25, 10, -3, 10}, SignedFromRealCase{0.0, 10000, 0, 1},
                      SignedFromRealCase{-40000.4, 0, -40000, 1},
                      SignedFromRealCase{-1.5, 0, -49152, 32768},
                      SignedFromRealCase{-5e9, 0, INT32_MIN, 1},
                      SignedFromRealCase{5e9, 0, INT32_MAX, 1},
                      SignedFromRealCase{-3e5, 10000, INT32_MIN, 10000},
                      SignedFromRealCase{-kInf, 0, INT32_MIN, 1},
                      SignedFromRealCase{kNaN, 0, 0, 1}));

TEST(DngRatio, DivideOutFactor) {
  struct Case {
    uint32_t n, d, factor, n2, d2;
  };
  for (const Case& c : {Case{1500, 1000, 10, 15, 10}, Case{100, 10, 10, 10, 1},
                        Case{0, 10, 10, 0, 1}, Case{7, 3, 10, 7, 3}, Case{0, 0, 10, 0, 0},
                        Case{500, 100, 0, 500, 100}, Case{500, 100, 1, 500, 100}}) {
    dng_unsigned_ratio r(c.n, c.d);
    r.DivideOutFactor(c.factor);
    EXPECT_EQ(r.n, c.n2) << c.n << "/" << c.d;
    EXPECT_EQ(r.d, c.d2) << c.n << "/" << c.d;
  }
  dng_signed_ratio s(-1500, 1000);
  s.DivideOutFactor(10);
  EXPECT_EQ(s.n, -15);
  EXPECT_EQ(s.d, 10);
  dng_signed_ratio negative_denominator(100, -100);
  negative_denominator.DivideOutFactor(10);  // -100 is below the factor: unchanged
  EXPECT_EQ(negative_denominator.n, 100);
  EXPECT_EQ(negative_denominator.d, -100);
  dng_signed_ratio minimum(INT32_MIN, 1);
  minimum.DivideOutFactor(-1);  // never divides INT32_MIN by -1
  EXPECT_EQ(minimum.n, INT32_MIN);
}

TEST(DngRatio, ToReal) {
  EXPECT_EQ(dng_unsigned_ratio(5, 0).ToReal(), 0.0);
  EXPECT_EQ(dng_signed_ratio(-1, 4).ToReal(), -0.25);
  EXPECT_EQ(dng_signed_ratio(5, 0).ToReal(), 0.0);
  EXPECT_EQ(dng_unsigned_ratio(0xFFFFFFFF, 1).ToReal(), 4294967295.0);
  EXPECT_EQ(dng_signed_ratio(1, -4).ToReal(), -0.25);
}

}  // namespace
