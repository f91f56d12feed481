// Chromaticity conversions and colour temperature: published white points,
// the isotemperature table against an independent approximation of the
// Planckian locus, and the bounds of the method.
#include "dng/core/dng_white_temperature.h"

#include <gtest/gtest.h>

#include <cmath>

#include "dng/core/dng_chromaticity.h"

namespace {

TEST(Chromaticity, ConversionsAndD50) {
  dng_chromaticity d50 = d50_chromaticity();
  EXPECT_EQ(d50.x, 0.3457);
  EXPECT_EQ(d50.y, 0.3585);
  dng_vector_3 xyz = d50_xyz();
  EXPECT_NEAR(xyz[0], 0.9642957, 5e-8);
  EXPECT_EQ(xyz[1], 1.0);
  EXPECT_NEAR(xyz[2], 0.8251046, 5e-8);

  struct Case {
    dng_vector_3 xyz;
    double x, y;
  };
  const Case to_xy[] = {
      {dng_vector_3(0, 0, 0), 0.3457, 0.3585},
      {dng_vector_3(1, 1, 1), 1.0 / 3, 1.0 / 3},
      {dng_vector_3(-1, 0, 0), 0.3457, 0.3585},
      {dng_vector_3(0.9504559, 1, 1.0890578), 0.3127, 0.3290},
  };
  for (const Case& c : to_xy) {
    dng_chromaticity xy = chromaticity_from_xyz(c.xyz);
    EXPECT_NEAR(xy.x, c.x, 1e-6);
    EXPECT_NEAR(xy.y, c.y, 1e-6);
  }

  struct Limit {
    dng_chromaticity in;
    double x, y;  // after limiting
  };
  const Limit limits[] = {
      {{0.6, 0.5}, 0.54, 0.45},
      {{0.0, 0.5}, 0.01, 0.5},
      {{0.3, 1.2}, 0.3 * 0.99 / 1.29, 0.99 * 0.99 / 1.29},
      {{-1.0, -1.0}, 0.01, 0.01},
      {{0.3457, 0.3585}, 0.3457, 0.3585},
  };
  for (const Limit& c : limits) {
    dng_vector_3 v = xyz_from_chromaticity(c.in);
    EXPECT_NEAR(v[0], c.x / c.y, 1e-9) << c.in.x << "," << c.in.y;
    EXPECT_EQ(v[1], 1.0);
    EXPECT_NEAR(v[2], (1 - c.x - c.y) / c.y, 1e-9) << c.in.x << "," << c.in.y;
  }

  EXPECT_TRUE(dng_chromaticity(0.3, 0.3).IsPositive());
  EXPECT_FALSE(dng_chromaticity(0, 0.3).IsPositive());
  EXPECT_FALSE(dng_chromaticity(0.3, -0.1).IsPositive());
}

TEST(WhiteTemperature, PublishedWhitePoints) {
  struct Case {
    const char* name;
    dng_chromaticity xy;
    double temperature;
    double tint;
    double temperature_tolerance;
    double tint_tolerance;
  };
  const Case cases[] = {
      {"D50", {0.3457, 0.3585}, 5000.7, 9.56, 0.05, 0.005},
      {"D65", {0.3127, 0.3290}, 6503.7, 9.77, 0.05, 0.005},
      // Tells the published row at 325 mired from its misprint (3064.6 K).
      {"warm", {0.43, 0.40}, 3086.7, -1.90, 0.05, 0.005},
      {"A", {0.44757, 0.40745}, 2855.8, 0.0, 0.05, 0.02},
      // Beyond the first and the last line.
      {"blue", {0.20, 0.20}, 100000.0, 40.88, 1e-6, 0.01},
      {"red", {0.60, 0.40}, 1e6 / 600, 8.70, 1e-6, 0.01},
  };
  for (const Case& c : cases) {
    dng_white_temperature white;
    white.SetFromChromaticity(c.xy);
    EXPECT_NEAR(white.temperature, c.temperature, c.temperature_tolerance) << c.name;
    EXPECT_NEAR(white.tint, c.tint, c.tint_tolerance) << c.name;
  }
}

TEST(WhiteTemperature, HostileChromaticityEndsWithoutACrash) {
  // 1.5 - x + 6y = 0: u and v are infinite or NaN.
  dng_white_temperature white;
  white.SetFromChromaticity({1.5, 0.0});
  EXPECT_NEAR(white.temperature, 1e6 / 600, 1e-9);
  white.SetFromChromaticity({NAN, 0.3});
  EXPECT_NEAR(white.temperature, 1e6 / 600, 1e-9);
}

// Planckian locus in CIE 1960 UCS by Krystek's rational approximation
// (1000 K to 15000 K, error below 1e-4): independent of the table.
void planckian_uv(double kelvin, double* u, double* v) {
  double t = kelvin;
  *u = (0.860117757 + 1.54118254e-4 * t + 1.28641212e-7 * t * t) / (1 + 8.42420235e-4 * t + 7.08145163e-7 * t * t);
  *v = (0.317398726 + 4.22806245e-5 * t + 4.20481691e-8 * t * t) / (1 - 2.89741816e-5 * t + 1.61456053e-7 * t * t);
}

TEST(WhiteTemperature, TableFollowsThePlanckianLocus) {
  EXPECT_EQ(isotemperature_table[19].mired, 325);
  EXPECT_EQ(isotemperature_table[19].u, 0.24792);
  const dng_isotemperature_line first = isotemperature_table[0];
  const dng_isotemperature_line tenth = isotemperature_table[10];
  const dng_isotemperature_line last = isotemperature_table[30];
  EXPECT_EQ(first.u, 0.18006);
  EXPECT_EQ(first.t, -0.24341);
  EXPECT_EQ(tenth.v, 0.29326);
  EXPECT_EQ(last.t, -116.45);
  for (int i = 0; i < dng_isotemperature_lines; ++i) {
    const dng_isotemperature_line& line = isotemperature_table[i];
    double expected_mired = i <= 10 ? 10.0 * i : 100.0 + 25.0 * (i - 10);
    EXPECT_EQ(line.mired, expected_mired) << i;
    if (i > 0) {
      EXPECT_GT(line.u, isotemperature_table[i - 1].u) << i;
      EXPECT_LT(line.t, isotemperature_table[i - 1].t) << i;
    }
    if (line.mired < 1e6 / 15000) continue;
    double u, v;
    planckian_uv(1e6 / line.mired, &u, &v);
    EXPECT_NEAR(line.u, u, 2e-4) << line.mired << " mired";
    EXPECT_NEAR(line.v, v, 2e-4) << line.mired << " mired";
  }
}

}  // namespace
