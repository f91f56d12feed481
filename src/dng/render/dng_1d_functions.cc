#include "dng/render/dng_1d_functions.h"

#include <algorithm>
#include <cmath>

namespace {

// Limits v to [0, 1]; NaN gives 0.
double clamp_unit(double v) {
  if (v >= 1.0) return 1.0;
  return v > 0.0 ? v : 0.0;
}

// The cubic Hermite toe on [0, x1]: value 0 and slope 32 at 0, value y1 and
// slope m1 at x1.
double hermite_toe(double x, double x1, double y1, double m1) {
  const double t = x / x1;
  const double u = 1.0 - t;
  return y1 * t * t * (3.0 - 2.0 * t) + 32.0 * x1 * t * u * u - m1 * x1 * t * t * u;
}

}  // namespace

const dng_1d_function& dng_1d_identity::Instance() {
  static const dng_1d_identity instance;
  return instance;
}

double dng_1d_concatenate::ValueAt(double x) const {
  return second_.ValueAt(clamp_unit(first_.ValueAt(x)));
}

double dng_1d_concatenate::InverseAt(double y) const {
  return first_.InverseAt(second_.InverseAt(y));
}

dng_function_exposure_ramp::dng_function_exposure_ramp(double white, double black,
                                                       double minimum_black)
    : slope_(1.0 / (white - black)), black_(black) {
  radius_ = std::min(0.0625 / slope_, 0.5 * minimum_black);
  toe_factor_ = radius_ > 0.0 ? slope_ / (4.0 * radius_) : 0.0;
}

double dng_function_exposure_ramp::ValueAt(double x) const {
  if (x <= black_ - radius_) return 0.0;
  if (x >= black_ + radius_) {
    const double v = (x - black_) * slope_;
    return v < 1.0 ? v : 1.0;  // NaN (0 x infinity at a zero-width ramp) gives 1
  }
  const double d = x - black_ + radius_;
  return toe_factor_ * d * d;
}

dng_function_exposure_tone::dng_function_exposure_tone(double exposure) {
  if (exposure >= 0.0) {
    identity_ = true;
    return;
  }
  s_ = std::pow(2.0, exposure);
  b_ = (1.0 - s_) * 16.0 / 9.0;
  c_ = s_ - b_ / 2.0;
  d_ = 1.0 - b_ - c_;
}

double dng_function_exposure_tone::ValueAt(double x) const {
  if (identity_) return x;
  if (x <= 0.25) return s_ * x;
  return (b_ * x + c_) * x + d_;
}

double dng_function_GammaEncode_sRGB::ValueAt(double x) const {
  if (x <= 0.0031308) return 12.92 * x;
  return 1.055 * std::pow(x, 1.0 / 2.4) - 0.055;
}

double dng_function_GammaEncode_sRGB::InverseAt(double y) const {
  if (y <= 0.040449936) return y / 12.92;
  return std::pow((y + 0.055) / 1.055, 2.4);
}

const dng_1d_function& dng_function_GammaEncode_sRGB::Instance() {
  static const dng_function_GammaEncode_sRGB instance;
  return instance;
}

namespace {
constexpr double kToe18X1 = 0.00082118790552;
constexpr double kToe18Y1 = 0.019310851;
constexpr double kToe18M1 = 3.2106542054;
constexpr double kToe22X1 = 0.0034800731;
constexpr double kToe22Y1 = 0.0763027458;
constexpr double kToe22M1 = 9.9661890075;
}  // namespace

double dng_function_GammaEncode_1_8::ValueAt(double x) const {
  if (x > kToe18X1) return std::pow(x, 1.0 / 1.8);
  return hermite_toe(x, kToe18X1, kToe18Y1, kToe18M1);
}

double dng_function_GammaEncode_1_8::InverseAt(double y) const {
  if (y > 0.0 && y < kToe18Y1) return SecantInverse(y);
  return y > 0.0 ? std::pow(y, 1.8) : 0.0;
}

const dng_1d_function& dng_function_GammaEncode_1_8::Instance() {
  static const dng_function_GammaEncode_1_8 instance;
  return instance;
}

double dng_function_GammaEncode_2_2::ValueAt(double x) const {
  if (x > kToe22X1) return std::pow(x, 1.0 / 2.2);
  return hermite_toe(x, kToe22X1, kToe22Y1, kToe22M1);
}

double dng_function_GammaEncode_2_2::InverseAt(double y) const {
  if (y > 0.0 && y < kToe22Y1) return SecantInverse(y);
  return y > 0.0 ? std::pow(y, 2.2) : 0.0;
}

const dng_1d_function& dng_function_GammaEncode_2_2::Instance() {
  static const dng_function_GammaEncode_2_2 instance;
  return instance;
}
