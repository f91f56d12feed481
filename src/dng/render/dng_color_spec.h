// The camera colour model of one negative and camera profile: the colour
// and reduction matrices of its two calibration illuminants (with camera
// calibration and analog balance applied), blended by inverse colour
// temperature for a white point; the white balance that white gives in
// camera space; and the matrix from camera space to XYZ relative to D50.
//
// Made by dng_negative::NewColorSpec and owned by its caller; one thread.
// WhiteInCamera and CameraToPCSMatrix are meaningful after SelectWhite,
// which may be called any number of times.
#pragma once

#include <cstdint>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_vector.h"

class dng_camera_profile;
class dng_negative;

class dng_color_spec {
 public:
  // For one colour channel nothing is read. Otherwise a missing profile, or
  // one that does not fit the negative's channel count, raises 100006.
  dng_color_spec(const dng_negative& negative, const dng_camera_profile* profile);
  virtual ~dng_color_spec() = default;
  dng_color_spec(const dng_color_spec&) = delete;
  dng_color_spec& operator=(const dng_color_spec&) = delete;

  uint32_t Channels() const { return channels_; }
  // Kelvin; the first is the lower one. 5000 for both when the profile has
  // a single usable illuminant.
  double Temperature1() const { return temperature1_; }
  double Temperature2() const { return temperature2_; }
  const dng_matrix& ColorMatrix1() const { return color_matrix1_; }
  const dng_matrix& ColorMatrix2() const { return color_matrix2_; }

  // The colour and reduction matrices for a white point: the first
  // illuminant's at or below its temperature, the second's at or above its
  // own, and between them a blend weighted by inverse temperature.
  void BlendMatricesForWhite(const dng_chromaticity& white, dng_matrix& color_matrix,
                             dng_matrix& reduction_matrix) const;

  // The white whose camera response is the neutral, by fixed-point
  // iteration from D50 (at most 30 rounds).
  dng_chromaticity WhiteFromNeutral(const dng_vector& neutral) const;

  // Selects the white: the camera white (largest entry 1) and the
  // camera-to-PCS matrix that maps it to D50.
  void SelectWhite(const dng_chromaticity& white);

  const dng_chromaticity& WhiteXY() const { return white_; }
  const dng_vector& WhiteInCamera() const { return camera_white_; }
  const dng_matrix& CameraToPCSMatrix() const { return camera_to_pcs_; }

 private:
  uint32_t channels_ = 0;
  double temperature1_ = 0.0;
  double temperature2_ = 0.0;
  dng_matrix color_matrix1_;
  dng_matrix color_matrix2_;
  dng_matrix reduction_matrix1_;
  dng_matrix reduction_matrix2_;
  dng_chromaticity white_;
  dng_vector camera_white_;
  dng_matrix camera_to_pcs_;
};

// The Bradford chromatic adaptation (3 x 3) that maps XYZ seen under white
// w1 to XYZ under white w2; the cone response ratios are limited to 0.1..10.
dng_matrix white_adaptation_matrix(const dng_chromaticity& w1, const dng_chromaticity& w2);
