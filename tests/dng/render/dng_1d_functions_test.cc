#include "dng/render/dng_1d_functions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "dng/core/dng_1d_table.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/render/dng_tone_curve.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

TEST(Dng1dTable, FilledFromIdentityHoldsTheSamplePositions) {
  dng_1d_table table;
  table.Fill(default_memory_allocator, dng_1d_identity::Instance());
  const float* e = table.Entries();
  for (uint32_t i : {0u, 1u, 1024u, 2048u, 4095u}) EXPECT_FLOAT_EQ(e[i], float(i) / 4096.0f) << i;
  EXPECT_EQ(e[4096], 1.0f);
  EXPECT_EQ(e[4097], 1.0f);
  EXPECT_FLOAT_EQ(table.Lookup(0.3f), 0.3f);
  EXPECT_EQ(table.Lookup(float(kNaN)), 0.0f);
}

TEST(Dng1dFunction, SecantSearchInvertsAMonotoneFunction) {
  // The base search, through a function that does not replace it.
  const dng_function_exposure_tone tone(-1.5);
  for (double y : {0.0, 0.001, 0.25, 0.5, 0.99, 1.0}) {
    const double x = tone.InverseAt(y);
    EXPECT_GE(x, 0.0);
    EXPECT_LE(x, 1.0);
    EXPECT_NEAR(tone.ValueAt(x), y, 1e-9) << y;
  }
  // Out of range and NaN targets stay inside [0, 1].
  for (double y : {-1.0, 2.0, kNaN}) {
    const double x = tone.InverseAt(y);
    EXPECT_TRUE(x >= 0.0 && x <= 1.0) << y;
  }
}

TEST(DngGammaEncode, ReferenceValuesAndRoundTrips) {
  const dng_1d_function& srgb = dng_function_GammaEncode_sRGB::Instance();
  EXPECT_NEAR(srgb.ValueAt(0.5), 0.735357, 1e-6);
  EXPECT_NEAR(srgb.ValueAt(0.0031308), 0.04045, 1e-5);
  EXPECT_NEAR(srgb.ValueAt(1.0), 1.0, 1e-12);

  struct round_trip {
    const char* name;
    const dng_1d_function& f;
  };
  const round_trip cases[] = {
      {"sRGB", srgb},
      {"1.8", dng_function_GammaEncode_1_8::Instance()},
      {"2.2", dng_function_GammaEncode_2_2::Instance()},
  };
  for (const round_trip& c : cases) {
    for (double x : {0.0, 1e-5, 0.0005, 0.002, 0.01, 0.2, 0.5, 1.0}) {
      EXPECT_NEAR(c.f.InverseAt(c.f.ValueAt(x)), x, 1e-7) << c.name << " at " << x;
    }
  }
}

TEST(DngGammaEncode, ToesMeetThePowerCurves) {
  struct toe {
    const char* name;
    const dng_1d_function& f;
    double x1;
    double gamma;
    double end_slope;
  };
  const toe cases[] = {
      {"1.8", dng_function_GammaEncode_1_8::Instance(), 0.00082118790552, 1.8, 3.2106542054},
      {"2.2", dng_function_GammaEncode_2_2::Instance(), 0.0034800731, 2.2, 9.9661890075},
  };
  for (const toe& c : cases) {
    const double power_at_joint = std::pow(c.x1, 1.0 / c.gamma);
    const double h = c.x1 * 1e-6;
    // Equal value on both sides of the joint.
    EXPECT_NEAR(c.f.ValueAt(c.x1), power_at_joint, 1e-8) << c.name;
    EXPECT_NEAR(c.f.ValueAt(c.x1 + h), power_at_joint, 1e-6) << c.name;
    // Start slope 32, end slope as stated.
    EXPECT_NEAR(c.f.ValueAt(h) / h, 32.0, 1e-3) << c.name;
    EXPECT_NEAR((c.f.ValueAt(c.x1) - c.f.ValueAt(c.x1 - h)) / h, c.end_slope, 1e-3) << c.name;
    // Increasing through the toe.
    double last = -1.0;
    for (int i = 0; i <= 100; ++i) {
      const double v = c.f.ValueAt(c.x1 * i / 100.0);
      EXPECT_GT(v, last) << c.name << " step " << i;
      last = v;
    }
  }
}

TEST(DngGammaEncode, TwoTwoInverseSearchesOnlyInsideTheToe) {
  const dng_1d_function& f = dng_function_GammaEncode_2_2::Instance();
  const double in_toe = f.InverseAt(0.05);
  EXPECT_LT(in_toe, 0.0034800731);
  EXPECT_NEAR(f.ValueAt(in_toe), 0.05, 1e-9);
  EXPECT_EQ(f.InverseAt(0.5), std::pow(0.5, 2.2));
}

TEST(DngExposureTone, IdentityAtOrAboveZeroAndCompressionBelow) {
  for (double e : {0.0, 0.5}) {
    const dng_function_exposure_tone tone(e);
    for (double x : {0.0, 0.1, 0.7, 1.0}) EXPECT_EQ(tone.ValueAt(x), x) << e;
  }
  const dng_function_exposure_tone down(-1.0);
  EXPECT_DOUBLE_EQ(down.ValueAt(0.25), 0.125);
  EXPECT_NEAR(down.ValueAt(1.0), 1.0, 1e-12);
  // Equal slopes where the pieces meet: 0.5 on the linear side.
  const double h = 1e-7;
  EXPECT_NEAR((down.ValueAt(0.25 + h) - down.ValueAt(0.25)) / h, 0.5, 1e-5);
}

TEST(DngExposureRamp, LinearRampWithToe) {
  const dng_function_exposure_ramp plain(1.0, 0.0, 0.0);
  EXPECT_EQ(plain.Radius(), 0.0);
  for (double x : {0.0, 0.3, 1.0}) EXPECT_DOUBLE_EQ(plain.ValueAt(x), x);
  EXPECT_EQ(plain.ValueAt(2.0), 1.0);
  EXPECT_EQ(plain.ValueAt(-0.5), 0.0);

  const dng_function_exposure_ramp toed(0.5, 0.02, 0.02);
  EXPECT_DOUBLE_EQ(toed.Radius(), 0.01);
  const double b = toed.Black();
  const double r = toed.Radius();
  EXPECT_EQ(toed.ValueAt(b - r), 0.0);
  EXPECT_NEAR(toed.ValueAt(b + r - 1e-12), r * toed.Slope(), 1e-9);  // the toe meets the ramp
  EXPECT_GT(toed.ValueAt(b), 0.0);
  // A ramp of zero width still gives defined values.
  const dng_function_exposure_ramp flat(0.0, 0.0, 0.0);
  for (double x : {0.0, 0.5}) EXPECT_FALSE(std::isnan(flat.ValueAt(x))) << x;
}

TEST(Dng1dConcatenate, ClampsBetweenTheParts) {
  const dng_function_exposure_ramp twice(0.5, 0.0, 0.0);  // 2x, clipped to 1
  const dng_1d_concatenate both(twice, dng_function_GammaEncode_sRGB::Instance());
  EXPECT_FALSE(both.IsIdentityMap());
  EXPECT_DOUBLE_EQ(both.ValueAt(0.25), dng_function_GammaEncode_sRGB::Instance().ValueAt(0.5));
  EXPECT_DOUBLE_EQ(both.ValueAt(0.9), 1.0);
  EXPECT_NEAR(both.InverseAt(both.ValueAt(0.2)), 0.2, 1e-6);

  const dng_1d_concatenate identities(dng_1d_identity::Instance(), dng_1d_identity::Instance());
  EXPECT_TRUE(identities.IsIdentityMap());
  EXPECT_EQ(identities.ValueAt(kNaN), 0.0);
  EXPECT_EQ(identities.ValueAt(3.0), 1.0);
}

TEST(DngToneCurve, TellingRows) {
  struct row {
    uint32_t index;
    float forward;
    float inverse;
  };
  const row rows[] = {
      {0, 0.0f, 0.0f},           {1, 0.00078f, 0.00121f},   {16, 0.01485f, 0.0162f},
      {64, 0.10433f, 0.04292f},  {256, 0.52069f, 0.12122f}, {512, 0.80486f, 0.23787f},
      {768, 0.93986f, 0.43434f}, {1023, 0.99987f, 0.99291f}, {1024, 1.0f, 1.0f},
  };
  const float* forward = dng_tone_curve_acr3_default::ForwardTable();
  const float* inverse = dng_tone_curve_acr3_default::InverseTable();
  for (const row& r : rows) {
    EXPECT_NEAR(forward[r.index], r.forward, 1e-5) << r.index;
    EXPECT_NEAR(inverse[r.index], r.inverse, 1e-5) << r.index;
  }
}

TEST(DngToneCurve, TablesIncreaseAndInvertEachOther) {
  const float* forward = dng_tone_curve_acr3_default::ForwardTable();
  const float* inverse = dng_tone_curve_acr3_default::InverseTable();
  for (uint32_t i = 1; i < dng_tone_curve_acr3_default::kTableEntries; ++i) {
    ASSERT_GT(forward[i], forward[i - 1]) << i;
    ASSERT_GT(inverse[i], inverse[i - 1]) << i;
  }
  const dng_1d_function& curve = dng_tone_curve_acr3_default::Instance();
  double worst = 0.0;
  for (int i = 0; i <= 4096; ++i) {
    const double y = i / 4096.0;
    worst = std::max(worst, std::abs(curve.ValueAt(curve.InverseAt(y)) - y));
  }
  EXPECT_LT(worst, 1e-4);
  EXPECT_EQ(curve.ValueAt(0.0), 0.0);
  EXPECT_EQ(curve.ValueAt(1.0), 1.0);
  EXPECT_EQ(curve.ValueAt(kNaN), 0.0);
}

}  // namespace
