#include "dng/render/dng_color_space.h"

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/render/dng_1d_functions.h"
#include "dng/render/dng_icc_profile.h"

namespace {

bool profile_bytes(const std::vector<uint8_t>& profile, uint32_t& size, const uint8_t*& data) {
  size = static_cast<uint32_t>(profile.size());
  data = profile.data();
  return true;
}

}  // namespace

const dng_1d_function& dng_color_space::EncodingCurve() const {
  return dng_1d_identity::Instance();
}

bool dng_color_space::IccProfileBytes(uint32_t& size, const uint8_t*& data) const {
  size = 0;
  data = nullptr;
  return false;
}

void dng_color_space::SetRGBToPCS(const dng_matrix& m) {
  const dng_vector_3 ones(1.0, 1.0, 1.0);
  const dng_vector w = matrix_vector_product(m, ones);
  const dng_vector_3 d50 = d50_xyz();
  dng_vector scale(3);
  for (uint32_t i = 0; i < 3; ++i) scale[i] = d50[i] / w[i];
  to_pcs_ = matrix_product(scale.ToDiagonalMatrix(), m);
  from_pcs_ = matrix_inverse(to_pcs_);
}

void dng_color_space::SetGrayToPCS() {
  to_pcs_ = d50_xyz().ToColumnMatrix();
  from_pcs_ = dng_matrix(1, 3);
  from_pcs_[0][1] = 1.0;
}

dng_space_sRGB::dng_space_sRGB() {
  SetRGBToPCS(dng_matrix_3by3(0.4361, 0.3851, 0.1431,  //
                              0.2225, 0.7169, 0.0606,  //
                              0.0139, 0.0971, 0.7141));
}

const dng_1d_function& dng_space_sRGB::EncodingCurve() const {
  return dng_function_GammaEncode_sRGB::Instance();
}

bool dng_space_sRGB::IccProfileBytes(uint32_t& size, const uint8_t*& data) const {
  return profile_bytes(srgb_icc_profile(), size, data);
}

const dng_color_space& dng_space_sRGB::Instance() {
  static const dng_space_sRGB instance;
  return instance;
}

dng_space_ProPhoto::dng_space_ProPhoto() {
  SetRGBToPCS(dng_matrix_3by3(0.7977, 0.1352, 0.0313,  //
                              0.2880, 0.7119, 0.0001,  //
                              0.0, 0.0, 0.8249));
}

const dng_1d_function& dng_space_ProPhoto::EncodingCurve() const {
  return dng_function_GammaEncode_1_8::Instance();
}

bool dng_space_ProPhoto::IccProfileBytes(uint32_t& size, const uint8_t*& data) const {
  return profile_bytes(prophoto_icc_profile(), size, data);
}

const dng_color_space& dng_space_ProPhoto::Instance() {
  static const dng_space_ProPhoto instance;
  return instance;
}

dng_space_GrayGamma22::dng_space_GrayGamma22() { SetGrayToPCS(); }

const dng_1d_function& dng_space_GrayGamma22::EncodingCurve() const {
  return dng_function_GammaEncode_2_2::Instance();
}

bool dng_space_GrayGamma22::IccProfileBytes(uint32_t& size, const uint8_t*& data) const {
  return profile_bytes(gray_gamma22_icc_profile(), size, data);
}

const dng_color_space& dng_space_GrayGamma22::Instance() {
  static const dng_space_GrayGamma22 instance;
  return instance;
}

const dng_color_space*& validate_render_space() {
  static const dng_color_space* space = &dng_space_sRGB::Instance();
  return space;
}

namespace {

// Fetched when the program starts: the sRGB space is built then, not inside
// the first rendering. Both objects are function statics, so nothing here
// depends on the order in which other files are initialised.
[[maybe_unused]] const dng_color_space* const render_space_at_start = validate_render_space();

}  // namespace
