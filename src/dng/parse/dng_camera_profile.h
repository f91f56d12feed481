// The colour calibration of a camera as the DNG colour tags give it: up to two
// calibration illuminants, each with a colour matrix (XYZ to camera), an
// optional camera calibration and an optional reduction matrix. Every colour
// matrix taken in is fitted to D50 (dng/core/dng_color_calibration.h) and
// every matrix is rounded to 1/10000.
//
// Built once per image from the shared tags and owned by its user; used by
// one thread.
#pragma once

#include <cstdint>

#include "dng/core/dng_matrix.h"
#include "dng/core/dng_text.h"

class dng_host;
class dng_info;
class dng_stream;

class dng_camera_profile {
 public:
  // The empty profile: no name, illuminants 0, all six matrices empty.
  dng_camera_profile() = default;
  dng_camera_profile(const dng_camera_profile&) = default;
  dng_camera_profile& operator=(const dng_camera_profile&) = default;
  virtual ~dng_camera_profile() = default;

  // Fills the colour data from the parsed file's shared tags (the info must
  // have been read; a missing shared object leaves the profile as it is).
  // The second illuminant's data is taken only when ColorMatrix2 is present.
  // The host and the stream are not used.
  void SetFromShared(dng_host& host, dng_stream& stream, const dng_info& info);

  // ColorMatrix2 has 3 columns and as many rows as ColorMatrix1.
  bool HasTwoColorMatrices() const;

  // True for one channel; for n channels, ColorMatrix1 is n x 3 and every
  // other matrix is empty or of its n-channel shape.
  bool FitsChannelCount(uint32_t channels) const;

  // Three colour channels become four: each colour matrix present gains a
  // fourth row of zeros, the calibrations and reduction matrices are dropped.
  // A profile that does not fit three channels raises 100000.
  virtual void ConvertToFourColors();

  const dng_text& Name() const { return name_; }
  void SetName(const char* name) { name_.Assign(name); }

  uint32_t CalibrationIlluminant1() const { return calibration_illuminant1_; }
  uint32_t CalibrationIlluminant2() const { return calibration_illuminant2_; }
  const dng_matrix& ColorMatrix1() const { return color_matrix1_; }
  const dng_matrix& ColorMatrix2() const { return color_matrix2_; }
  const dng_matrix& CameraCalibration1() const { return camera_calibration1_; }
  const dng_matrix& CameraCalibration2() const { return camera_calibration2_; }
  const dng_matrix& ReductionMatrix1() const { return reduction_matrix1_; }
  const dng_matrix& ReductionMatrix2() const { return reduction_matrix2_; }

 private:
  dng_text name_;
  uint32_t calibration_illuminant1_ = 0;
  uint32_t calibration_illuminant2_ = 0;
  dng_matrix color_matrix1_;
  dng_matrix color_matrix2_;
  dng_matrix camera_calibration1_;
  dng_matrix camera_calibration2_;
  dng_matrix reduction_matrix1_;
  dng_matrix reduction_matrix2_;
};
