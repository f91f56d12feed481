#include "dng/core/dng_rounding.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <ostream>

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

// One row per input: what each rounding rule gives for it.
struct RoundingCase {
  double x;
  int32_t half_up;        // round_half_up_int32
  uint32_t half_up_u;     // round_half_up_uint32
  int32_t half_away;      // round_half_away_int32
};

void PrintTo(const RoundingCase& c, std::ostream* os) { *os << c.x; }

class RoundingTest : public ::testing::TestWithParam<RoundingCase> {};

TEST_P(RoundingTest, EachRuleGivesItsResult) {
  const RoundingCase& c = GetParam();
  EXPECT_EQ(round_half_up_int32(c.x), c.half_up);
  EXPECT_EQ(round_half_up_uint32(c.x), c.half_up_u);
  EXPECT_EQ(round_half_away_int32(c.x), c.half_away);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, RoundingTest,
    ::testing::Values(
        RoundingCase{2.5, 3, 3, 3}, RoundingCase{-2.5, -2, 0, -3}, RoundingCase{-0.4, 0, 0, 0},
        RoundingCase{-1.7, -1, 0, -2}, RoundingCase{0.49999999, 0, 0, 0},
        RoundingCase{0.0, 0, 0, 0}, RoundingCase{1e-300, 0, 0, 0},
        RoundingCase{2147483646.4, 2147483646, 2147483646u, 2147483646},
        // From here on the plain conversion would be undefined or keep low bits.
        RoundingCase{2147483647.6, INT32_MAX, 2147483648u, INT32_MAX},
        RoundingCase{-2147483649.0, INT32_MIN, 0, INT32_MIN},
        RoundingCase{5e9, INT32_MAX, UINT32_MAX, INT32_MAX},
        RoundingCase{4294967294.6, INT32_MAX, UINT32_MAX, INT32_MAX},
        RoundingCase{9.3e18, INT32_MAX, UINT32_MAX, INT32_MAX},
        RoundingCase{-9.3e18, INT32_MIN, 0, INT32_MIN},
        RoundingCase{kInf, INT32_MAX, UINT32_MAX, INT32_MAX},
        RoundingCase{-kInf, INT32_MIN, 0, INT32_MIN},
        RoundingCase{kNaN, 0, 0, 0}));

TEST(SaturatingCast, BoundsOfEveryTargetType) {
  EXPECT_EQ(saturating_cast<int64_t>(9.3e18), INT64_MAX);
  EXPECT_EQ(saturating_cast<int64_t>(-9.3e18), INT64_MIN);
  EXPECT_EQ(saturating_cast<int64_t>(std::ldexp(1.0, 62)), int64_t{1} << 62);
  EXPECT_EQ(saturating_cast<uint64_t>(std::ldexp(1.0, 64)), UINT64_MAX);
  EXPECT_EQ(saturating_cast<uint16_t>(65535.9), 65535);
  EXPECT_EQ(saturating_cast<uint16_t>(65536.0), 65535);
  EXPECT_EQ(saturating_cast<uint8_t>(-0.9), 0);
  EXPECT_EQ(saturating_cast<int32_t>(-7.9), -7);
  EXPECT_EQ(saturating_cast<uint32_t>(kNaN), 0u);
}

TEST(RoundHalfUpFloat, AddsTheHalfInSinglePrecision) {
  EXPECT_EQ(round_half_up_float_uint32(32767.5f), 32768u);
  EXPECT_EQ(round_half_up_float_uint32(65535.0f), 65535u);
  // 0.5 - 2^-25 plus 0.5 rounds to 1.0 in single precision (not in double).
  EXPECT_EQ(round_half_up_float_uint32(0.5f - std::ldexp(1.0f, -25)), 1u);
  EXPECT_EQ(round_half_up_float_uint32(-3.0f), 0u);
  EXPECT_EQ(round_half_up_float_uint32(std::numeric_limits<float>::quiet_NaN()), 0u);
  EXPECT_EQ(round_half_up_float_uint32(1e20f), UINT32_MAX);
}

}  // namespace
