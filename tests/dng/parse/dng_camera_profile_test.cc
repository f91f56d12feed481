#include "dng/parse/dng_camera_profile.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_shared.h"
#include "dng/support/stderr_capture.h"
#include "parse_harness.h"
#include "support/dng_builder.h"

namespace {

using dng_parse_test::parse_bytes;
using testing_support::DngBuilder;
using Fractions = std::vector<std::pair<int32_t, int32_t>>;

constexpr int kIfd0 = DngBuilder::kIfd0;

// Entries in ten-thousandths (every profile matrix is a multiple of 1/10000),
// row by row; {} for the empty matrix.
std::vector<int64_t> ten_thousandths(const dng_matrix& m) {
  std::vector<int64_t> out;
  for (uint32_t r = 0; r < m.Rows(); ++r)
    for (uint32_t c = 0; c < m.Cols(); ++c) {
      const double scaled = m[r][c] * 10000.0;
      EXPECT_NEAR(scaled, std::nearbyint(scaled), 1e-6) << "entry " << r << "," << c;
      out.push_back(static_cast<int64_t>(std::nearbyint(scaled)));
    }
  return out;
}

dng_matrix make(uint32_t rows, uint32_t cols, const std::vector<double>& entries) {
  dng_matrix m(rows, cols);
  for (uint32_t i = 0; i < rows * cols; ++i) m[i / cols][i % cols] = entries[i];
  return m;
}

Fractions over_million(const std::vector<int32_t>& millionths) {
  Fractions out;
  for (int32_t v : millionths) out.emplace_back(v, 1000000);
  return out;
}

dng_camera_profile profile_from(const dng_info& info) {
  dng_host host;
  const char nothing = 0;
  dng_stream stream(&nothing, 0);
  dng_camera_profile profile;
  profile.SetFromShared(host, stream, info);
  return profile;
}

// What the builder's ColorMatrix1 becomes: D50 maps to 0.9932 at most, within
// 1 % of 1, so the entries stay.
const std::vector<int64_t> kBuilderMatrix1 = {10000, -2000, -1000, -3000, 12000, 1000, -500, 2000, 7000};

TEST(CameraProfileFromFile, TakesTheColourTagsOfEachIlluminant) {
  struct Want {
    uint32_t illuminant1, illuminant2;
    std::vector<int64_t> color1, color2, calibration1, calibration2, reduction1, reduction2;
    bool two_matrices;
  };
  struct Case {
    std::string name;
    std::function<void(DngBuilder&)> tags;
    Want want;
  };
  // ColorMatrix2 maps D50 to (2, 1, 0.9643): halved before rounding.
  const Fractions matrix2 = over_million({0, 2000000, 0, 0, 1000000, 0, 1000000, 0, 0});
  const std::vector<int64_t> matrix2_fitted = {0, 10000, 0, 0, 5000, 0, 5000, 0, 0};
  const Fractions calibration1 = over_million({1234560, 0, 0, 0, 1000000, 0, 0, 0, 987654});
  const std::vector<int64_t> calibration1_rounded = {12346, 0, 0, 0, 10000, 0, 0, 0, 9877};
  const Fractions calibration2 = over_million({900000, 0, 0, 0, 1000000, 0, 0, 0, -12344});
  const std::vector<int64_t> calibration2_rounded = {9000, 0, 0, 0, 10000, 0, 0, 0, -123};
  const Fractions reduction1 = over_million({1, 0, 0, 0, 1000000, 0, 0, 0, 333333});
  const std::vector<int64_t> reduction1_rounded = {0, 0, 0, 0, 10000, 0, 0, 0, 3333};
  const Fractions reduction2 = over_million({500000, 0, 0, 0, 250000, 0, 0, 0, 666667});
  const std::vector<int64_t> reduction2_rounded = {5000, 0, 0, 0, 2500, 0, 0, 0, 6667};

  const std::vector<Case> cases = {
      {"one illuminant", [](DngBuilder&) {}, {21, 0, kBuilderMatrix1, {}, {}, {}, {}, {}, false}},
      {"two illuminants, each matrix kept apart",
       [&](DngBuilder& b) {
         b.add_short(kIfd0, 50779, {17});
         b.add_srational(kIfd0, 50722, matrix2);
         b.add_srational(kIfd0, 50723, calibration1);
         b.add_srational(kIfd0, 50724, calibration2);
         b.add_srational(kIfd0, 50725, reduction1);
         b.add_srational(kIfd0, 50726, reduction2);
       },
       {21, 17, kBuilderMatrix1, matrix2_fitted, calibration1_rounded, calibration2_rounded,
        reduction1_rounded, reduction2_rounded, true}},
      {"second illuminant's data without ColorMatrix2 is not taken",
       [&](DngBuilder& b) {
         b.add_short(kIfd0, 50779, {17});
         b.add_srational(kIfd0, 50723, calibration1);
         b.add_srational(kIfd0, 50724, calibration2);
         b.add_srational(kIfd0, 50726, reduction2);
       },
       {21, 0, kBuilderMatrix1, {}, calibration1_rounded, {}, {}, {}, false}},
      // The parse drops ColorMatrix2 without a distinct second illuminant.
      {"ColorMatrix2 with the first illuminant again gives one illuminant",
       [&](DngBuilder& b) {
         b.add_short(kIfd0, 50779, {21});
         b.add_srational(kIfd0, 50722, matrix2);
         b.add_srational(kIfd0, 50726, reduction2);
       },
       {21, 0, kBuilderMatrix1, {}, {}, {}, {}, {}, false}},
      {"ColorMatrix1 mapping D50 to 4 is quartered",
       [](DngBuilder& b) {
         b.remove(kIfd0, 50721);
         b.add_srational(kIfd0, 50721, over_million({0, 4000000, 0, 0, 2000000, 0, 0, -1000000, 0}));
         b.remove(kIfd0, 50778);
         b.add_short(kIfd0, 50778, {255});
       },
       {255, 0, {0, 10000, 0, 0, 5000, 0, 0, -2500, 0}, {}, {}, {}, {}, {}, false}},
  };
  for (bool big : {false, true}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + (big ? " (MM)" : " (II)"));
      DngBuilder b(big);
      b.add_dng_tags();
      b.add_cfa_image(kIfd0);
      c.tags(b);
      auto parsed = parse_bytes(b.build());
      ASSERT_EQ(parsed.code, 0) << parsed.err;
      const dng_camera_profile p = profile_from(*parsed.info);
      EXPECT_EQ(p.CalibrationIlluminant1(), c.want.illuminant1);
      EXPECT_EQ(p.CalibrationIlluminant2(), c.want.illuminant2);
      EXPECT_EQ(ten_thousandths(p.ColorMatrix1()), c.want.color1);
      EXPECT_EQ(ten_thousandths(p.ColorMatrix2()), c.want.color2);
      EXPECT_EQ(ten_thousandths(p.CameraCalibration1()), c.want.calibration1);
      EXPECT_EQ(ten_thousandths(p.CameraCalibration2()), c.want.calibration2);
      EXPECT_EQ(ten_thousandths(p.ReductionMatrix1()), c.want.reduction1);
      EXPECT_EQ(ten_thousandths(p.ReductionMatrix2()), c.want.reduction2);
      EXPECT_EQ(p.HasTwoColorMatrices(), c.want.two_matrices);
      EXPECT_TRUE(p.FitsChannelCount(3));
      EXPECT_TRUE(p.Name().Empty());
    }
  }
}

TEST(CameraProfileFromFile, MonochromeFileGivesAnEmptyProfile) {
  DngBuilder b;
  b.add_dng_tags();
  b.remove(kIfd0, 50721);
  b.remove(kIfd0, 50728);
  b.add_linear_raw_image(kIfd0);
  auto parsed = parse_bytes(b.build());
  ASSERT_EQ(parsed.code, 0) << parsed.err;
  const dng_camera_profile p = profile_from(*parsed.info);
  EXPECT_TRUE(p.ColorMatrix1().IsEmpty());
  EXPECT_TRUE(p.ColorMatrix2().IsEmpty());
  EXPECT_FALSE(p.HasTwoColorMatrices());
  EXPECT_TRUE(p.FitsChannelCount(1));
  EXPECT_FALSE(p.FitsChannelCount(3));
}

// Shapes set straight into the shared object, as no file could give them.
struct Shapes {
  dng_matrix color1 = {};
  dng_matrix color2 = {};
  dng_matrix calibration1 = {};
  dng_matrix calibration2 = {};
  dng_matrix reduction1 = {};
  dng_matrix reduction2 = {};
};

dng_camera_profile profile_with(const Shapes& s) {
  dng_info info;
  info.shared = std::make_unique<dng_shared>();
  info.shared->color_matrix1 = s.color1;
  info.shared->color_matrix2 = s.color2;
  info.shared->camera_calibration1 = s.calibration1;
  info.shared->camera_calibration2 = s.calibration2;
  info.shared->reduction_matrix1 = s.reduction1;
  info.shared->reduction_matrix2 = s.reduction2;
  return profile_from(info);
}

dng_matrix ones(uint32_t rows, uint32_t cols) {
  return make(rows, cols, std::vector<double>(rows * cols, 0.25));
}

TEST(CameraProfileShape, FitsChannelCountAndTwoMatrices) {
  struct Case {
    std::string name;
    Shapes shapes;
    std::vector<uint32_t> fits;  // channel counts 1..4 that fit
    bool two_matrices;
  };
  const std::vector<Case> cases = {
      {"empty profile", {}, {1}, false},
      {"3 channels, one matrix", {ones(3, 3)}, {1, 3}, false},
      {"3 channels, everything", {ones(3, 3), ones(3, 3), ones(3, 3), ones(3, 3), ones(3, 3), ones(3, 3)},
       {1, 3}, true},
      {"4 channels with 3 x 4 reductions",
       {ones(4, 3), ones(4, 3), ones(4, 4), {}, ones(3, 4), ones(3, 4)}, {1, 4}, true},
      {"2 channels", {ones(2, 3), ones(2, 3)}, {1, 2}, true},
      {"ColorMatrix2 with other rows", {ones(3, 3), ones(4, 3)}, {1}, false},
      {"ColorMatrix2 without ColorMatrix1", {{}, ones(3, 3)}, {1}, false},
      {"calibration 2 of the wrong size", {ones(3, 3), ones(3, 3), {}, ones(4, 4)}, {1}, true},
      {"reduction 1 of the wrong shape", {ones(3, 3), {}, {}, {}, ones(3, 4)}, {1}, false},
      {"reduction 2 transposed", {ones(4, 3), ones(4, 3), {}, {}, {}, ones(4, 3)}, {1}, true},
      {"second-illuminant data without ColorMatrix2 is not taken",
       {ones(4, 3), {}, {}, ones(3, 3), {}, ones(4, 3)}, {1, 4}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const dng_camera_profile p = profile_with(c.shapes);
    for (uint32_t n = 1; n <= 4; ++n) {
      const bool want = std::find(c.fits.begin(), c.fits.end(), n) != c.fits.end();
      EXPECT_EQ(p.FitsChannelCount(n), want) << n << " channels";
    }
    EXPECT_EQ(p.HasTwoColorMatrices(), c.two_matrices);
  }
}

TEST(CameraProfileShape, ConvertToFourColors) {
  const dng_matrix m1 = make(3, 3, {0.5, 0, 0, 0, 1, 0, 0, 0, 0.25});
  struct Case {
    std::string name;
    Shapes shapes;
    int32_t code;
    bool has_matrix2;
  };
  const std::vector<Case> cases = {
      {"one matrix", {m1}, 0, false},
      {"everything", {m1, m1, ones(3, 3), ones(3, 3), ones(3, 3), ones(3, 3)}, 0, true},
      {"already four channels", {ones(4, 3)}, dng_code_unknown, false},
      {"empty profile", {}, dng_code_unknown, false},
      {"a misshapen calibration", {m1, {}, ones(2, 2)}, dng_code_unknown, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_camera_profile p = profile_with(c.shapes);
    const dng_camera_profile before = p;
    dng_test::StderrCapture err;
    int32_t code = 0;
    try {
      p.ConvertToFourColors();
    } catch (const dng_exception& e) {
      code = e.Code();
    }
    const std::string printed = err.Take();
    EXPECT_EQ(code, c.code);
    if (code != 0) {
      EXPECT_EQ(printed, "*** Error: Unknown error ***\n");
      EXPECT_EQ(p.ColorMatrix1(), before.ColorMatrix1());
      EXPECT_EQ(p.CameraCalibration1(), before.CameraCalibration1());
      continue;
    }
    const std::vector<int64_t> m1_four = {5000, 0, 0, 0, 10000, 0, 0, 0, 2500, 0, 0, 0};
    EXPECT_EQ(ten_thousandths(p.ColorMatrix1()), m1_four);
    EXPECT_EQ(ten_thousandths(p.ColorMatrix2()), c.has_matrix2 ? m1_four : std::vector<int64_t>{});
    EXPECT_TRUE(p.CameraCalibration1().IsEmpty());
    EXPECT_TRUE(p.CameraCalibration2().IsEmpty());
    EXPECT_TRUE(p.ReductionMatrix1().IsEmpty());
    EXPECT_TRUE(p.ReductionMatrix2().IsEmpty());
    EXPECT_TRUE(p.FitsChannelCount(4));
    EXPECT_EQ(p.HasTwoColorMatrices(), c.has_matrix2);
  }
}

}  // namespace
