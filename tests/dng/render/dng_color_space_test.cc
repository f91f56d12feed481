#include "dng/render/dng_color_space.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <cmath>
#include <memory>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/render/dng_1d_functions.h"
#include "dng/render/dng_icc_profile.h"

namespace {

TEST(DngColorSpace, SRGBMatchesThePublishedD50Matrix) {
  // IEC 61966-2-1 primaries adapted to D50 (Bradford).
  const double published[3][3] = {{0.4360747, 0.3850649, 0.1430804},
                                   {0.2225045, 0.7168786, 0.0606169},
                                   {0.0139322, 0.0971045, 0.7141733}};
  const dng_matrix& m = dng_space_sRGB::Instance().MatrixToPCS();
  ASSERT_EQ(m.Rows(), 3u);
  ASSERT_EQ(m.Cols(), 3u);
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(m[r][c], published[r][c], 1e-3) << r << "," << c;
  }
}

TEST(DngColorSpace, RGBWhiteIsD50AndMatricesAreInverse) {
  const dng_color_space* spaces[] = {&dng_space_sRGB::Instance(), &dng_space_ProPhoto::Instance()};
  const dng_vector_3 d50 = d50_xyz();
  for (const dng_color_space* space : spaces) {
    EXPECT_FALSE(space->IsMonochrome());
    const dng_vector white = matrix_vector_product(space->MatrixToPCS(), dng_vector_3(1, 1, 1));
    for (uint32_t i = 0; i < 3; ++i) EXPECT_NEAR(white[i], d50[i], 1e-12);
    const dng_matrix round = matrix_product(space->MatrixFromPCS(), space->MatrixToPCS());
    for (uint32_t r = 0; r < 3; ++r) {
      for (uint32_t c = 0; c < 3; ++c) EXPECT_NEAR(round[r][c], r == c ? 1.0 : 0.0, 1e-12);
    }
  }
}

TEST(DngColorSpace, GrayMapsToD50AndBackToLuminance) {
  const dng_color_space& gray = dng_space_GrayGamma22::Instance();
  EXPECT_TRUE(gray.IsMonochrome());
  const dng_matrix& to = gray.MatrixToPCS();
  const dng_matrix& from = gray.MatrixFromPCS();
  ASSERT_EQ(to.Rows(), 3u);
  ASSERT_EQ(to.Cols(), 1u);
  ASSERT_EQ(from.Rows(), 1u);
  ASSERT_EQ(from.Cols(), 3u);
  const dng_vector_3 d50 = d50_xyz();
  for (uint32_t i = 0; i < 3; ++i) EXPECT_EQ(to[i][0], d50[i]);
  EXPECT_EQ(matrix_product(from, to)[0][0], 1.0);
}

TEST(DngColorSpace, EncodingCurvesAndTheRenderSpaceOption) {
  EXPECT_EQ(&dng_space_sRGB::Instance().EncodingCurve(), &dng_function_GammaEncode_sRGB::Instance());
  EXPECT_EQ(&dng_space_ProPhoto::Instance().EncodingCurve(), &dng_function_GammaEncode_1_8::Instance());
  EXPECT_EQ(&dng_space_GrayGamma22::Instance().EncodingCurve(), &dng_function_GammaEncode_2_2::Instance());
  EXPECT_EQ(validate_render_space(), &dng_space_sRGB::Instance());
}

// An lcms2 profile handle that closes itself.
struct profile_closer {
  void operator()(void* p) const { cmsCloseProfile(p); }
};
using profile_handle = std::unique_ptr<void, profile_closer>;

struct transform_closer {
  void operator()(void* p) const { cmsDeleteTransform(p); }
};
using transform_handle = std::unique_ptr<void, transform_closer>;

TEST(DngIccProfile, BuiltInProfilesOpenAsTheirKind) {
  struct expected {
    const char* name;
    const dng_color_space& space;
    uint32_t size;
    cmsColorSpaceSignature data;
  };
  const expected cases[] = {
      {"sRGB", dng_space_sRGB::Instance(), 3144, cmsSigRgbData},
      {"ProPhoto", dng_space_ProPhoto::Instance(), 940, cmsSigRgbData},
      {"Gray", dng_space_GrayGamma22::Instance(), 408, cmsSigGrayData},
  };
  for (const expected& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    ASSERT_TRUE(c.space.IccProfileBytes(size, data));
    EXPECT_EQ(size, c.size);
    // The size field of the header agrees.
    EXPECT_EQ((uint32_t(data[0]) << 24) | (uint32_t(data[1]) << 16) | (uint32_t(data[2]) << 8) |
                  data[3],
              c.size);
    profile_handle profile(cmsOpenProfileFromMem(data, size));
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(cmsGetDeviceClass(profile.get()), cmsSigDisplayClass);
    EXPECT_EQ(cmsGetColorSpace(profile.get()), c.data);
    EXPECT_EQ(cmsGetPCS(profile.get()), cmsSigXYZData);
    EXPECT_EQ(cmsGetEncodedICCversion(profile.get()), 0x02100000u);
    const auto* white = static_cast<const cmsCIEXYZ*>(cmsReadTag(profile.get(), cmsSigMediaWhitePointTag));
    ASSERT_NE(white, nullptr);
    EXPECT_NEAR(white->X, 0.9642, 1e-4);
    EXPECT_NEAR(white->Y, 1.0, 1e-4);
    EXPECT_NEAR(white->Z, 0.8249, 1e-4);
    EXPECT_TRUE(cmsIsMatrixShaper(profile.get()));
  }
}

TEST(DngIccProfile, ProfilesConvertLikeTheirSpaces) {
  // Device values through lcms2 to XYZ must agree with the space's own
  // decoding curve and to-PCS matrix.
  profile_handle xyz(cmsCreateXYZProfile());
  struct expected {
    const char* name;
    const dng_color_space& space;
  };
  const expected cases[] = {
      {"sRGB", dng_space_sRGB::Instance()},
      {"ProPhoto", dng_space_ProPhoto::Instance()},
      {"Gray", dng_space_GrayGamma22::Instance()},
  };
  for (const expected& c : cases) {
    SCOPED_TRACE(c.name);
    uint32_t size = 0;
    const uint8_t* data = nullptr;
    ASSERT_TRUE(c.space.IccProfileBytes(size, data));
    profile_handle profile(cmsOpenProfileFromMem(data, size));
    ASSERT_NE(profile, nullptr);
    const bool gray = c.space.IsMonochrome();
    transform_handle to_xyz(cmsCreateTransform(profile.get(), gray ? TYPE_GRAY_DBL : TYPE_RGB_DBL,
                                               xyz.get(), TYPE_XYZ_DBL, INTENT_RELATIVE_COLORIMETRIC,
                                               cmsFLAGS_NOCACHE | cmsFLAGS_NOOPTIMIZE));
    ASSERT_NE(to_xyz, nullptr);
    const double samples[][3] = {{1, 1, 1}, {0.5, 0.5, 0.5}, {0.8, 0.3, 0.1}, {0.05, 0.6, 0.9}};
    for (const auto& s : samples) {
      double in[3] = {s[0], s[1], s[2]};
      cmsCIEXYZ out;
      cmsDoTransform(to_xyz.get(), in, &out, 1);
      const dng_matrix& m = c.space.MatrixToPCS();
      const dng_1d_function& curve = c.space.EncodingCurve();
      for (uint32_t row = 0; row < 3; ++row) {
        double expected_value = 0.0;
        for (uint32_t col = 0; col < m.Cols(); ++col) expected_value += m[row][col] * curve.InverseAt(in[col]);
        const double got = row == 0 ? out.X : row == 1 ? out.Y : out.Z;
        EXPECT_NEAR(got, expected_value, 2e-3) << "sample " << s[0] << "," << s[1] << "," << s[2]
                                               << " row " << row;
      }
    }
  }
}

TEST(DngIccProfile, GeneratorRefusesASizeItCannotMeet) {
  EXPECT_ANY_THROW(make_display_icc_profile(dng_space_GrayGamma22::Instance(), {"x", "y", 100}));
  // An odd remainder cannot be filled by 2-byte curve entries.
  EXPECT_ANY_THROW(make_display_icc_profile(dng_space_GrayGamma22::Instance(), {"x", "y", 409}));
  EXPECT_EQ(make_display_icc_profile(dng_space_GrayGamma22::Instance(), {"x", "y", 1000}).size(), 1000u);
}

}  // namespace
