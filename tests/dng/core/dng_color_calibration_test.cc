#include "dng/core/dng_color_calibration.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_vector.h"
#include "dng/support/stderr_capture.h"

namespace {

using Rows3 = std::vector<std::array<double, 3>>;

dng_matrix make(const Rows3& rows) {
  dng_matrix m(static_cast<uint32_t>(rows.size()), 3);
  for (uint32_t r = 0; r < m.Rows(); ++r)
    for (uint32_t c = 0; c < 3; ++c) m[r][c] = rows[r][c];
  return m;
}

// Entries in ten-thousandths, which every fitted entry must be exactly.
std::vector<int64_t> ten_thousandths(const dng_matrix& m) {
  std::vector<int64_t> out;
  for (uint32_t r = 0; r < m.Rows(); ++r)
    for (uint32_t c = 0; c < m.Cols(); ++c) {
      const double scaled = m[r][c] * 10000.0;
      const double nearest = std::nearbyint(scaled);
      EXPECT_NEAR(scaled, nearest, 1e-6) << "entry " << r << "," << c << " is not a multiple of 1/10000";
      out.push_back(static_cast<int64_t>(nearest));
    }
  return out;
}

// The D50 white in XYZ from its public chromaticity (x 0.3457, y 0.3585).
constexpr double kD50X = 0.3457 / 0.3585;
constexpr double kD50Z = (1.0 - 0.3457 - 0.3585) / 0.3585;

TEST(FitColorMatrixToD50, ScalesOnlyOutsideOnePercentThenRounds) {
  // Rows that use only the Y column see D50 exactly as their Y entry (Y = 1),
  // so the expected scale does not depend on the white's X and Z.
  struct Case {
    std::string name;
    Rows3 in;
    std::vector<int64_t> want;  // ten-thousandths
  };
  const std::vector<Case> cases = {
      {"largest 2.0 is halved",
       {{0.5, 0, 0}, {0, 2, 0}, {0, 0, 0.5}},
       {2500, 0, 0, 0, 10000, 0, 0, 0, 2500}},
      {"largest 1.005 keeps its entries, only rounded",
       {{0, 1.005, 0}, {0.123456, 0, 0}, {0, 0, -0.00004}},
       {0, 10050, 0, 1235, 0, 0, 0, 0, 0}},
      {"largest exactly 0.99 is left unscaled",
       {{0, 0.99, 0}, {0, 0.5, 0}, {0, 0.25, 0}},
       {0, 9900, 0, 0, 5000, 0, 0, 2500, 0}},
      {"largest exactly 1.01 is left unscaled",
       {{0, 0.5, 0}, {0, 1.01, 0}, {0, 0.25, 0}},
       {0, 5000, 0, 0, 10100, 0, 0, 2500, 0}},
      {"largest 0.5 is doubled",
       {{0, 0.5, 0}, {0, 0.25, 0}, {0, -0.5, 0}},
       {0, 10000, 0, 0, 5000, 0, 0, -10000, 0}},
      {"largest 1.25 in the last row scales every row",
       {{0, 0.5, 0}, {0, 1, 0}, {0, 1.25, 0}},
       {0, 4000, 0, 0, 8000, 0, 0, 10000, 0}},
      {"no positive channel: only rounded",
       {{0, -2, 0}, {-0.12344, 0, 0}, {0, 0, -5}},
       {0, -20000, 0, -1234, 0, 0, 0, 0, -50000}},
      {"all zero (singular): stays zero",
       {{0, 0, 0}, {0, 0, 0}, {0, 0, 0}},
       {0, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"singular but positive is scaled like any other",
       {{0, 3, 0}, {0, 3, 0}, {0, 3, 0}},
       {0, 10000, 0, 0, 10000, 0, 0, 10000, 0}},
      {"four channels: the fourth row's 4.0 quarters all",
       {{0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {0, 4, 0}},
       {0, 2500, 0, 0, 5000, 0, 0, 7500, 0, 0, 10000, 0}},
      // Entries whose ten-thousandths leave the int32 range saturate.
      {"huge entries saturate at the int32 range",
       {{1e6, 0, -2e6}, {-1e6, 0, 0}, {0, -1, 0}},
       {2147483647, 0, -2147483648LL, -2147483648LL, 0, 0, 0, -10000, 0}},
      {"a tiny positive largest channel scales entries into saturation",
       {{0, 0.001, 0}, {1000, 0, -2000}, {0, 0, 0}},
       {0, 10000, 0, 2147483647, 0, -2147483648LL, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_matrix m = make(c.in);
    fit_color_matrix_to_d50(m);
    EXPECT_EQ(m.Rows(), c.in.size());
    EXPECT_EQ(m.Cols(), 3u);
    EXPECT_EQ(ten_thousandths(m), c.want);
  }
}

TEST(FitColorMatrixToD50, UsesTheD50WhiteForXAndZ) {
  struct Case {
    std::string name;
    Rows3 in;
    double white_channel;  // what D50 gives in the largest channel
  };
  const std::vector<Case> cases = {
      {"X only", {{1, 0, 0}, {0, 0, 0}, {0, 0, 0}}, kD50X},
      {"Z only", {{0, 0, 0}, {0, 0, 1}, {0, 0, 0}}, kD50Z},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_matrix m = make(c.in);
    fit_color_matrix_to_d50(m);
    std::vector<int64_t> want(9, 0);
    for (size_t i = 0; i < 9; ++i)
      if (c.in[i / 3][i % 3] != 0) want[i] = std::llround(10000.0 / c.white_channel);
    EXPECT_EQ(ten_thousandths(m), want);
  }
}

TEST(FitColorMatrixToD50, CameraLikeMatrixMapsD50ToOneAndKeepsItsProportions) {
  // A made-up XYZ-to-camera matrix of the usual form, given 2.5 times too large.
  const Rows3 rows = {{0.7012, -0.1003, -0.0517}, {-0.4021, 1.2534, 0.2046}, {-0.1009, 0.1987, 0.6031}};
  Rows3 big = rows;
  for (auto& row : big)
    for (double& e : row) e *= 2.5;
  dng_matrix m = make(big);
  fit_color_matrix_to_d50(m);

  const dng_vector_3 d50(kD50X, 1.0, kD50Z);
  const dng_vector white = matrix_vector_product(m, d50);
  EXPECT_NEAR(white.LargestEntry(), 1.0, 3 * 0.5e-4 * 1.3);  // three entries' rounding
  const dng_vector original_white = matrix_vector_product(make(rows), d50);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c)
      EXPECT_NEAR(m[r][c], rows[r][c] / original_white.LargestEntry(), 0.5e-4 + 1e-12) << r << "," << c;
  ten_thousandths(m);
}

TEST(FitColorMatrixToD50, EmptyStaysEmptyAndWrongWidthFails) {
  dng_matrix empty;
  fit_color_matrix_to_d50(empty);
  EXPECT_TRUE(empty.IsEmpty());

  dng_matrix wide(3, 4);
  wide[0][0] = 2.0;
  dng_test::StderrCapture err;
  int32_t code = 0;
  try {
    fit_color_matrix_to_d50(wide);
  } catch (const dng_exception& e) {
    code = e.Code();
  }
  err.Take();
  EXPECT_EQ(code, dng_code_matrix_math);
}

TEST(IlluminantTemperature, EveryLightSourceCode) {
  // EXIF LightSource codes with a fixed colour temperature; every other code
  // (unknown, other light source, the unassigned ones) has none.
  const std::map<uint32_t, uint32_t> kelvin = {
      {1, 5500},  {2, 4200},  {3, 2850},  {4, 5500},  {9, 5500},  {10, 6500}, {11, 7500},
      {12, 6400}, {13, 5000}, {14, 4200}, {15, 3450}, {17, 2850}, {18, 5500}, {19, 6500},
      {20, 5500}, {21, 6500}, {22, 7500}, {23, 5000}, {24, 3200},
  };
  for (uint32_t code = 0; code <= 300; ++code) {
    const auto it = kelvin.find(code);
    EXPECT_EQ(illuminant_temperature(code), it == kelvin.end() ? 0u : it->second) << "code " << code;
  }
  for (uint32_t code : {65535u, 65536u + 21u, 0x80000000u + 17u, 0xFFFFFFFFu})
    EXPECT_EQ(illuminant_temperature(code), 0u) << "code " << code;
}

}  // namespace
