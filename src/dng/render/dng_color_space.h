// Output colour spaces: matrices to and from the profile connection space
// (XYZ relative to D50), the encoding curve, and an ICC display profile.
#pragma once

#include <cstdint>

#include "dng/core/dng_1d_function.h"
#include "dng/core/dng_matrix.h"

// The base holds the two matrices; the derived spaces set them in their
// constructors and are shared read-only objects.
class dng_color_space {
 public:
  virtual ~dng_color_space() = default;
  dng_color_space(const dng_color_space&) = delete;
  dng_color_space& operator=(const dng_color_space&) = delete;

  // The curve from linear values to encoded ones; the base gives the identity.
  virtual const dng_1d_function& EncodingCurve() const;

  // The ICC profile of the space: its size and bytes (valid for the whole
  // program) and true; the base gives 0, null and false.
  virtual bool IccProfileBytes(uint32_t& size, const uint8_t*& data) const;

  // 3 x 3 for RGB, 3 x 1 for gray.
  const dng_matrix& MatrixToPCS() const { return to_pcs_; }
  // 3 x 3 for RGB, 1 x 3 for gray.
  const dng_matrix& MatrixFromPCS() const { return from_pcs_; }
  bool IsMonochrome() const { return to_pcs_.Cols() == 1; }

 protected:
  dng_color_space() = default;

  // to-PCS = diag(D50 / (M x (1, 1, 1))) x M, so that RGB (1, 1, 1) is the D50
  // white; from-PCS is its inverse.
  void SetRGBToPCS(const dng_matrix& m);
  // to-PCS = the D50 XYZ as a column; from-PCS = (0, 1, 0), that is Y.
  void SetGrayToPCS();

 private:
  dng_matrix to_pcs_;
  dng_matrix from_pcs_;
};

class dng_space_sRGB : public dng_color_space {
 public:
  dng_space_sRGB();
  const dng_1d_function& EncodingCurve() const override;
  bool IccProfileBytes(uint32_t& size, const uint8_t*& data) const override;
  // The shared object, made on first use, destroyed at exit.
  static const dng_color_space& Instance();
};

class dng_space_ProPhoto : public dng_color_space {
 public:
  dng_space_ProPhoto();
  const dng_1d_function& EncodingCurve() const override;
  bool IccProfileBytes(uint32_t& size, const uint8_t*& data) const override;
  static const dng_color_space& Instance();
};

class dng_space_GrayGamma22 : public dng_color_space {
 public:
  dng_space_GrayGamma22();
  const dng_1d_function& EncodingCurve() const override;
  bool IccProfileBytes(uint32_t& size, const uint8_t*& data) const override;
  static const dng_color_space& Instance();
};

// The colour space of the rendered TIFF that DNG validation writes when
// asked to: the sRGB space until a caller sets another. An initialiser of
// this library fetches it when the program starts, which therefore builds
// the sRGB space before main runs.
const dng_color_space*& validate_render_space();
