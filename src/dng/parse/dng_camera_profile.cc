#include "dng/parse/dng_camera_profile.h"

#include "dng/core/dng_color_calibration.h"
#include "dng/core/dng_errors.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_shared.h"

namespace {

// The matrix rounded to 1/10000 when present; left as it is otherwise.
void take_quantized(dng_matrix& target, const dng_matrix& source) {
  if (!source.HasEntries()) return;
  target = source;
  target.Quantize(10000.0);
}

bool empty_or_shape(const dng_matrix& m, uint32_t rows, uint32_t cols) {
  return m.IsEmpty() || (m.Rows() == rows && m.Cols() == cols);
}

// n x 3 becomes (n + 1) x 3 with a last row of zeros; the empty matrix stays
// empty.
void add_zero_row(dng_matrix& m) {
  if (m.IsEmpty()) return;
  dng_matrix grown(m.Rows() + 1, m.Cols());
  for (uint32_t r = 0; r < m.Rows(); ++r)
    for (uint32_t c = 0; c < m.Cols(); ++c) grown[r][c] = m[r][c];
  m = grown;
}

}  // namespace

void dng_camera_profile::SetFromShared(dng_host&, dng_stream&, const dng_info& info) {
  const dng_shared* shared = info.shared.get();
  if (shared == nullptr) return;

  calibration_illuminant1_ = shared->calibration_illuminant1;
  color_matrix1_ = shared->color_matrix1;
  fit_color_matrix_to_d50(color_matrix1_);
  take_quantized(camera_calibration1_, shared->camera_calibration1);
  take_quantized(reduction_matrix1_, shared->reduction_matrix1);

  if (!shared->color_matrix2.HasEntries()) return;

  calibration_illuminant2_ = shared->calibration_illuminant2;
  color_matrix2_ = shared->color_matrix2;
  fit_color_matrix_to_d50(color_matrix2_);
  take_quantized(camera_calibration2_, shared->camera_calibration2);
  take_quantized(reduction_matrix2_, shared->reduction_matrix2);
}

bool dng_camera_profile::HasTwoColorMatrices() const {
  return color_matrix2_.Cols() == 3 && color_matrix2_.Rows() == color_matrix1_.Rows();
}

bool dng_camera_profile::FitsChannelCount(uint32_t channels) const {
  if (channels == 1) return true;
  return color_matrix1_.Rows() == channels && color_matrix1_.Cols() == 3 &&
         empty_or_shape(color_matrix2_, channels, 3) &&
         empty_or_shape(camera_calibration1_, channels, channels) &&
         empty_or_shape(camera_calibration2_, channels, channels) &&
         empty_or_shape(reduction_matrix1_, 3, channels) &&
         empty_or_shape(reduction_matrix2_, 3, channels);
}

void dng_camera_profile::ConvertToFourColors() {
  if (!FitsChannelCount(3)) throw_dng_code(dng_code_unknown);
  add_zero_row(color_matrix1_);
  add_zero_row(color_matrix2_);
  camera_calibration1_.MakeEmpty();
  camera_calibration2_.MakeEmpty();
  reduction_matrix1_.MakeEmpty();
  reduction_matrix2_.MakeEmpty();
}
