// The 1-D functions of rendering: identity, composition, the exposure ramp
// and exposure tone, and the sRGB, gamma 1.8 and gamma 2.2 encodings.
#pragma once

#include "dng/core/dng_1d_function.h"

class dng_1d_identity : public dng_1d_function {
 public:
  bool IsIdentityMap() const override { return true; }
  double ValueAt(double x) const override { return x; }
  double InverseAt(double y) const override { return y; }
  // The shared object, made on first use, destroyed at exit.
  static const dng_1d_function& Instance();
};

// second(clamp(first(x), 0, 1)). Both functions are borrowed and must
// outlive this one.
class dng_1d_concatenate : public dng_1d_function {
 public:
  dng_1d_concatenate(const dng_1d_function& first, const dng_1d_function& second)
      : first_(first), second_(second) {}
  bool IsIdentityMap() const override {
    return first_.IsIdentityMap() && second_.IsIdentityMap();
  }
  // NaN from the first function is clamped to 0.
  double ValueAt(double x) const override;
  double InverseAt(double y) const override;

 private:
  const dng_1d_function& first_;
  const dng_1d_function& second_;
};

// A linear ramp from black (0) to white (1), clipped to 1, with a quadratic
// toe of radius min(0.0625 / slope, minimum_black / 2) around the black point.
class dng_function_exposure_ramp : public dng_1d_function {
 public:
  dng_function_exposure_ramp(double white, double black, double minimum_black);
  double ValueAt(double x) const override;

  double Slope() const { return slope_; }
  double Black() const { return black_; }
  double Radius() const { return radius_; }
  double ToeFactor() const { return toe_factor_; }

 private:
  double slope_;
  double black_;
  double radius_;
  double toe_factor_;
};

// The identity for exposure >= 0 stops; for negative exposure a slope of
// 2^exposure up to 0.25 joined to a quadratic that maps 1 to 1 with equal
// value and slope at 0.25.
class dng_function_exposure_tone : public dng_1d_function {
 public:
  explicit dng_function_exposure_tone(double exposure);
  double ValueAt(double x) const override;

 private:
  bool identity_ = false;
  double s_ = 1.0;
  double b_ = 0.0;
  double c_ = 0.0;
  double d_ = 0.0;
};

// The sRGB transfer function (linear segment below 0.0031308).
class dng_function_GammaEncode_sRGB : public dng_1d_function {
 public:
  double ValueAt(double x) const override;
  double InverseAt(double y) const override;
  static const dng_1d_function& Instance();
};

// x^(1/1.8) with a cubic Hermite toe below 0.00082118790552.
class dng_function_GammaEncode_1_8 : public dng_1d_function {
 public:
  double ValueAt(double x) const override;
  double InverseAt(double y) const override;
  static const dng_1d_function& Instance();
};

// x^(1/2.2) with a cubic Hermite toe below 0.0034800731.
class dng_function_GammaEncode_2_2 : public dng_1d_function {
 public:
  double ValueAt(double x) const override;
  double InverseAt(double y) const override;
  static const dng_1d_function& Instance();
};
