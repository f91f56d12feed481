#include "dng/render/dng_color_spec.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_white_temperature.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_negative.h"
#include "dng/render/dng_color_space.h"
#include "dng/support/code_of.h"
#include "dng/support/parsed_dng.h"
#include "dng/support/stderr_capture.h"
#include "support/dng_builder.h"

namespace {

using dng_test::code_of;
using testing_support::DngBuilder;
using srationals = std::vector<std::pair<int32_t, int32_t>>;

constexpr int kIfd0 = DngBuilder::kIfd0;

srationals matrix_tag(const std::vector<double>& values) {
  srationals out;
  for (double v : values) out.push_back({int32_t(std::lround(v * 10000)), 10000});
  return out;
}

// The colour tags of a test camera.
struct camera {
  std::vector<double> color_matrix1;
  uint16_t illuminant1 = 21;  // D65
  std::vector<double> color_matrix2;  // empty: one illuminant
  uint16_t illuminant2 = 17;          // standard light A
  std::vector<std::pair<uint32_t, uint32_t>> neutral = {{1, 2}, {1, 1}, {2, 3}};
  std::vector<std::pair<uint32_t, uint32_t>> analog_balance;
};

const std::vector<double> kDaylight = {1.0, -0.2, -0.1, -0.3, 1.2, 0.1, -0.05, 0.2, 0.7};
const std::vector<double> kTungsten = {0.6, -0.1, 0.05, -0.4, 1.3, 0.15, -0.1, 0.35, 0.5};

// A parsed DNG of the camera's colour tags, and the negative made from it.
dng_test::parsed_dng camera_negative(const camera& c) {
  DngBuilder b;
  b.add_dng_tags();
  b.remove(kIfd0, 50721);
  b.add_srational(kIfd0, 50721, matrix_tag(c.color_matrix1));
  b.remove(kIfd0, 50778);
  b.add_short(kIfd0, 50778, {c.illuminant1});
  if (!c.color_matrix2.empty()) {
    b.add_srational(kIfd0, 50722, matrix_tag(c.color_matrix2));
    b.add_short(kIfd0, 50779, {c.illuminant2});
  }
  b.remove(kIfd0, 50728);
  if (!c.neutral.empty()) b.add_rational(kIfd0, 50728, c.neutral);
  if (!c.analog_balance.empty()) b.add_rational(kIfd0, 50727, c.analog_balance);
  b.add_cfa_image(kIfd0);
  return dng_test::parsed_dng(b.build());
}

std::vector<double> entries(const dng_vector& v) {
  std::vector<double> out;
  for (uint32_t i = 0; i < v.Count(); ++i) out.push_back(v[i]);
  return out;
}

TEST(DngColorSpec, ACameraNeutralPatchRendersGray) {
  struct neutral_case {
    const char* name;
    camera cam;
  };
  camera one;
  one.color_matrix1 = kDaylight;
  camera two = one;
  two.color_matrix2 = kTungsten;
  camera warm = two;
  warm.neutral = {{3, 4}, {1, 1}, {1, 2}};  // a warmer light than the others
  camera balanced = two;
  balanced.analog_balance = {{11, 10}, {1, 1}, {9, 10}};
  const neutral_case cases[] = {{"one illuminant", one}, {"two illuminants", two},
                                {"warm light", warm}, {"analog balance", balanced}};
  for (const neutral_case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_test::parsed_dng cn = camera_negative(c.cam);
    ASSERT_TRUE(cn.valid) << cn.errors;
    std::unique_ptr<dng_color_spec> spec = cn.negative->NewColorSpec();
    ASSERT_EQ(spec->Channels(), 3u);
    const dng_vector& neutral = cn.negative->CameraNeutral();
    ASSERT_EQ(neutral.Count(), 3u);
    spec->SelectWhite(spec->WhiteFromNeutral(neutral));

    // The camera white is the neutral, scaled to a largest entry of 1.
    const dng_vector& white = spec->WhiteInCamera();
    const double scale = neutral.LargestEntry();
    for (uint32_t i = 0; i < 3; ++i) EXPECT_NEAR(white[i], neutral[i] / scale, 1e-6) << i;

    // A patch at the camera white maps to the D50 white and to equal
    // channels in every output space.
    const dng_vector xyz = matrix_vector_product(spec->CameraToPCSMatrix(), white);
    const dng_vector_3 d50 = d50_xyz();
    for (uint32_t i = 0; i < 3; ++i) EXPECT_NEAR(xyz[i], d50[i], 1e-6) << i;
    for (const dng_color_space* space : {&dng_space_ProPhoto::Instance(), &dng_space_sRGB::Instance()}) {
      const dng_vector half = matrix_vector_product(space->MatrixFromPCS(), xyz);
      EXPECT_NEAR(half[0], half[1], 1e-6);
      EXPECT_NEAR(half[1], half[2], 1e-6);
      EXPECT_NEAR(half[0], 1.0, 1e-6);
    }
  }
}

TEST(DngColorSpec, IlluminantsAreOrderedAndSingleOnesUse5000K) {
  struct order_case {
    const char* name;
    uint16_t illuminant1;
    std::vector<double> matrix2;
    uint16_t illuminant2;
    double t1;
    double t2;
    const std::vector<double>* first;  // the matrix that ends up first
  };
  const order_case cases[] = {
      {"D65 then A: exchanged", 21, kTungsten, 17, 2850, 6500, &kTungsten},
      {"A then D65", 17, kTungsten, 21, 2850, 6500, &kDaylight},
      {"one matrix", 21, {}, 17, 5000, 5000, &kDaylight},
      {"same temperature twice", 21, kTungsten, 21, 5000, 5000, &kDaylight},
      {"an illuminant without temperature", 21, kTungsten, 255, 5000, 5000, &kDaylight},
  };
  for (const order_case& c : cases) {
    SCOPED_TRACE(c.name);
    camera cam;
    cam.color_matrix1 = kDaylight;
    cam.illuminant1 = c.illuminant1;
    cam.color_matrix2 = c.matrix2;
    cam.illuminant2 = c.illuminant2;
    dng_test::parsed_dng cn = camera_negative(cam);
    ASSERT_TRUE(cn.valid) << cn.errors;
    std::unique_ptr<dng_color_spec> spec = cn.negative->NewColorSpec();
    EXPECT_NEAR(spec->Temperature1(), c.t1, 1.0);
    EXPECT_NEAR(spec->Temperature2(), c.t2, 1.0);
    // Profile matrices are fitted to D50, so compare shapes of the rows by
    // their ratio to the first entry.
    const dng_matrix& m1 = spec->ColorMatrix1();
    const std::vector<double>& first = *c.first;
    for (uint32_t r = 0; r < 3; ++r) {
      EXPECT_NEAR(m1[r][1] / m1[0][0], first[3 * r + 1] / first[0], 2e-3) << r;
    }
    if (c.t1 == c.t2) {
      EXPECT_EQ(spec->ColorMatrix1(), spec->ColorMatrix2());
    }

    // Whites at or beyond the ends take that end's matrix unblended.
    dng_matrix color_matrix;
    dng_matrix reduction;
    spec->BlendMatricesForWhite(dng_chromaticity(0.5267, 0.4133), color_matrix, reduction);  // about 2000 K
    EXPECT_EQ(color_matrix, spec->ColorMatrix1());
    spec->BlendMatricesForWhite(dng_chromaticity(0.28, 0.29), color_matrix, reduction);  // far above 6504 K
    EXPECT_EQ(color_matrix, spec->ColorMatrix2());
    EXPECT_TRUE(reduction.IsEmpty());
  }
}

TEST(DngColorSpec, BlendLiesBetweenTheIlluminants) {
  camera cam;
  cam.color_matrix1 = kDaylight;
  cam.color_matrix2 = kTungsten;
  dng_test::parsed_dng cn = camera_negative(cam);
  ASSERT_TRUE(cn.valid) << cn.errors;
  std::unique_ptr<dng_color_spec> spec = cn.negative->NewColorSpec();
  dng_matrix mid;
  dng_matrix reduction;
  spec->BlendMatricesForWhite(d50_chromaticity(), mid, reduction);  // about 5000 K
  const dng_matrix& a = spec->ColorMatrix1();
  const dng_matrix& b = spec->ColorMatrix2();
  // One weight g for all entries, strictly inside (0, 1): at 5003 K,
  // g = (1/5003 - 1/6500) / (1/2850 - 1/6500), about 0.234.
  double g = -1.0;
  for (uint32_t r = 0; r < 3; ++r) {
    for (uint32_t col = 0; col < 3; ++col) {
      if (std::abs(a[r][col] - b[r][col]) < 1e-3) continue;
      const double entry_g = (mid[r][col] - b[r][col]) / (a[r][col] - b[r][col]);
      if (g < 0) g = entry_g;
      EXPECT_NEAR(entry_g, g, 1e-9);
    }
  }
  EXPECT_NEAR(g, 0.235, 0.01);
}

TEST(DngColorSpec, WhiteAdaptationMatchesTheBradfordReference) {
  // D65 to D50 with the Bradford cone matrix, as commonly tabulated.
  const double reference[3][3] = {{1.0478112, 0.0228866, -0.0501270},
                                  {0.0295424, 0.9904844, -0.0170491},
                                  {-0.0092345, 0.0150436, 0.7521316}};
  const dng_matrix m = white_adaptation_matrix(dng_chromaticity(0.3127, 0.3290), d50_chromaticity());
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[r][c], reference[r][c], 1e-3) << r << "," << c;
  }
  const dng_matrix same = white_adaptation_matrix(d50_chromaticity(), d50_chromaticity());
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(same[r][c], r == c ? 1.0 : 0.0, 1e-12);
  }
  // Extreme whites stay finite: the cone ratios are limited.
  const dng_matrix extreme = white_adaptation_matrix(dng_chromaticity(0.01, 0.01), dng_chromaticity(0.7, 0.29));
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_TRUE(std::isfinite(extreme[r][c]));
  }
}

TEST(DngColorSpec, SelectingD50KeepsTheColorMatrix) {
  camera cam;
  cam.color_matrix1 = kDaylight;
  dng_test::parsed_dng cn = camera_negative(cam);
  ASSERT_TRUE(cn.valid) << cn.errors;
  std::unique_ptr<dng_color_spec> spec = cn.negative->NewColorSpec();
  spec->SelectWhite(d50_chromaticity());
  // Camera-to-PCS is the inverse of the (scaled) colour matrix itself.
  const dng_matrix back = matrix_product(spec->ColorMatrix1(), spec->CameraToPCSMatrix());
  const double s = back[0][0];
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(back[r][c], r == c ? s : 0.0, 1e-9);
  }
  EXPECT_NEAR(spec->WhiteInCamera().LargestEntry(), 1.0, 1e-12);
}

TEST(DngColorSpec, ChannelCountsAndProfiles) {
  dng_negative negative(default_memory_allocator);
  negative.SetColorChannels(3);
  EXPECT_EQ(code_of([&] { dng_color_spec spec(negative, nullptr); }), dng_code_bad_format);
  const dng_camera_profile empty;
  EXPECT_EQ(code_of([&] { dng_color_spec spec(negative, &empty); }), dng_code_bad_format);

  negative.SetColorChannels(1);
  dng_color_spec gray(negative, nullptr);
  EXPECT_EQ(gray.WhiteFromNeutral(dng_vector(1)).x, d50_chromaticity().x);
  gray.SelectWhite(dng_chromaticity(0.3, 0.3));
  EXPECT_EQ(entries(gray.WhiteInCamera()), std::vector<double>{1.0});
  EXPECT_EQ(gray.CameraToPCSMatrix().Rows(), 3u);
  EXPECT_EQ(gray.CameraToPCSMatrix().Cols(), 1u);
}

TEST(DngColorSpec, DegenerateMatricesNeverGiveNaN) {
  camera cam;
  cam.color_matrix1 = {0, 0, 0, 0, 0, 0, 0, 0, 0};
  dng_test::parsed_dng cn = camera_negative(cam);
  if (cn.negative->AttachedProfile() == nullptr) GTEST_SKIP() << "a zero matrix is refused earlier";
  std::unique_ptr<dng_color_spec> spec;
  const int32_t made = code_of([&] { spec = cn.negative->NewColorSpec(); });
  if (made != 0) {
    EXPECT_EQ(made, dng_code_bad_format);
    return;
  }
  // No white can be found or selected through a zero matrix: a clean matrix
  // error instead of NaN.
  EXPECT_EQ(code_of([&] { spec->SelectWhite(d50_chromaticity()); }), dng_code_matrix_math);
  EXPECT_EQ(code_of([&] { spec->WhiteFromNeutral(cn.negative->CameraNeutral()); }), dng_code_matrix_math);
}

}  // namespace
