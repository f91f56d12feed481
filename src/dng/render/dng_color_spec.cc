#include "dng/render/dng_color_spec.h"

#include <cmath>
#include <utility>

#include "dng/core/dng_color_calibration.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_white_temperature.h"
#include "dng/parse/dng_camera_profile.h"
#include "dng/parse/dng_negative.h"

namespace {

bool is_square_of(const dng_matrix& m, uint32_t n) { return m.Rows() == n && m.Cols() == n; }

}  // namespace

dng_color_spec::dng_color_spec(const dng_negative& negative, const dng_camera_profile* profile)
    : channels_(negative.ColorChannels()) {
  const uint32_t n = channels_;
  if (n < 2) return;
  if (profile == nullptr || !profile->FitsChannelCount(n)) throw_dng_code(dng_code_bad_format);

  temperature1_ = illuminant_temperature(profile->CalibrationIlluminant1());
  temperature2_ = illuminant_temperature(profile->CalibrationIlluminant2());
  color_matrix1_ = profile->ColorMatrix1();
  color_matrix2_ = profile->ColorMatrix2();
  reduction_matrix1_ = profile->ReductionMatrix1();
  reduction_matrix2_ = profile->ReductionMatrix2();
  if (is_square_of(profile->CameraCalibration1(), n)) {
    color_matrix1_ = matrix_product(profile->CameraCalibration1(), color_matrix1_);
  }
  if (!profile->HasTwoColorMatrices() || temperature1_ <= 0.0 || temperature2_ <= 0.0 ||
      temperature1_ == temperature2_) {
    temperature1_ = temperature2_ = 5000.0;
    color_matrix2_ = color_matrix1_;
    reduction_matrix2_ = reduction_matrix1_;
  } else if (is_square_of(profile->CameraCalibration2(), n)) {
    color_matrix2_ = matrix_product(profile->CameraCalibration2(), color_matrix2_);
  }

  dng_vector balance(n);
  for (uint32_t i = 0; i < n; ++i) balance[i] = negative.ChannelBalance(i);
  const dng_matrix analog = balance.ToDiagonalMatrix();
  color_matrix1_ = matrix_product(analog, color_matrix1_);
  color_matrix2_ = matrix_product(analog, color_matrix2_);

  if (temperature2_ < temperature1_) {
    std::swap(temperature1_, temperature2_);
    std::swap(color_matrix1_, color_matrix2_);
    std::swap(reduction_matrix1_, reduction_matrix2_);
  }
}

void dng_color_spec::BlendMatricesForWhite(const dng_chromaticity& white, dng_matrix& color_matrix,
                                           dng_matrix& reduction_matrix) const {
  dng_white_temperature temperature;
  temperature.SetFromChromaticity(white);
  const double t = temperature.temperature;
  double g;
  if (t <= temperature1_) {
    g = 1.0;
  } else if (t >= temperature2_) {
    g = 0.0;
  } else {
    g = (1.0 / t - 1.0 / temperature2_) / (1.0 / temperature1_ - 1.0 / temperature2_);
  }

  if (g >= 1.0) {
    color_matrix = color_matrix1_;
  } else if (g <= 0.0) {
    color_matrix = color_matrix2_;
  } else {
    color_matrix = matrix_sum(scalar_matrix_product(g, color_matrix1_),
                              scalar_matrix_product(1.0 - g, color_matrix2_));
  }

  if (reduction_matrix1_.HasEntries()) {
    if (!reduction_matrix2_.HasEntries() || g >= 1.0) {
      reduction_matrix = reduction_matrix1_;
    } else if (g <= 0.0) {
      reduction_matrix = reduction_matrix2_;
    } else {
      reduction_matrix = matrix_sum(scalar_matrix_product(g, reduction_matrix1_),
                                    scalar_matrix_product(1.0 - g, reduction_matrix2_));
    }
  } else {
    reduction_matrix = reduction_matrix2_;
  }
}

dng_chromaticity dng_color_spec::WhiteFromNeutral(const dng_vector& neutral) const {
  if (channels_ == 1) return d50_chromaticity();
  dng_chromaticity current = d50_chromaticity();
  dng_chromaticity next = current;
  for (int round = 1; round <= 30; ++round) {
    dng_matrix color_matrix;
    dng_matrix reduction_matrix;
    BlendMatricesForWhite(current, color_matrix, reduction_matrix);
    const dng_vector xyz =
        matrix_vector_product(matrix_inverse_hinted(color_matrix, reduction_matrix), neutral);
    next = chromaticity_from_xyz(dng_vector_3(xyz));
    if (round == 30) {
      next = dng_chromaticity((next.x + current.x) * 0.5, (next.y + current.y) * 0.5);
    }
    if (std::abs(next.x - current.x) + std::abs(next.y - current.y) < 1e-7) return next;
    current = next;
  }
  return next;
}

void dng_color_spec::SelectWhite(const dng_chromaticity& white) {
  white_ = white;
  if (channels_ == 1) {
    camera_white_ = dng_vector(1);
    camera_white_[0] = 1.0;
    camera_to_pcs_ = d50_xyz().ToColumnMatrix();
    return;
  }
  dng_matrix color_matrix;
  dng_matrix reduction_matrix;
  BlendMatricesForWhite(white, color_matrix, reduction_matrix);
  dng_matrix p = matrix_product(color_matrix, white_adaptation_matrix(d50_chromaticity(), white));
  const double largest = matrix_vector_product(p, d50_xyz()).LargestEntry();
  // A degenerate matrix (largest response 0, or not a number) stays
  // unscaled rather than turning every entry into a NaN.
  if (largest != 0.0 && std::isfinite(largest)) p = scalar_matrix_product(1.0 / largest, p);
  camera_white_ = matrix_vector_product(p, d50_xyz());
  camera_to_pcs_ = matrix_inverse_hinted(p, reduction_matrix);
}

dng_matrix white_adaptation_matrix(const dng_chromaticity& w1, const dng_chromaticity& w2) {
  const dng_matrix_3by3 cone(0.8951, 0.2664, -0.1614,  //
                             -0.7502, 1.7135, 0.0367,  //
                             0.0389, -0.0685, 1.0296);
  const dng_vector c1 = matrix_vector_product(cone, xyz_from_chromaticity(w1));
  const dng_vector c2 = matrix_vector_product(cone, xyz_from_chromaticity(w2));
  dng_vector ratio(3);
  for (uint32_t i = 0; i < 3; ++i) {
    double r = c2[i] / c1[i];
    if (!(r >= 0.1)) r = 0.1;  // below the limit, or not a number
    if (r > 10.0) r = 10.0;
    ratio[i] = r;
  }
  return matrix_product(matrix_product(matrix_inverse(cone), ratio.ToDiagonalMatrix()), cone);
}
