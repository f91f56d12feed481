#include "dng/render/dng_tone_curve.h"

#include <array>
#include <cmath>

namespace {

// The knots of the curve, as (x, y) with both increasing strictly. Rows of
// the forward table are knots (i / 1024, value); rows of the inverse table
// are knots (value, i / 1024).
struct knot {
  double x;
  double y;
};

constexpr knot kKnots[] = {
    {0.0, 0.0},
    {1.0 / 1024.0, 0.00078},
    {0.00121, 1.0 / 1024.0},
    {16.0 / 1024.0, 0.01485},
    {0.0162, 16.0 / 1024.0},
    {0.04292, 64.0 / 1024.0},
    {64.0 / 1024.0, 0.10433},
    {0.12122, 256.0 / 1024.0},
    {0.23787, 512.0 / 1024.0},
    {256.0 / 1024.0, 0.52069},
    {0.43434, 768.0 / 1024.0},
    {512.0 / 1024.0, 0.80486},
    {768.0 / 1024.0, 0.93986},
    {0.99291, 1023.0 / 1024.0},
    {1023.0 / 1024.0, 0.99987},
    {1.0, 1.0},
};
constexpr int kKnotCount = sizeof(kKnots) / sizeof(kKnots[0]);

// A monotone piecewise cubic Hermite interpolant through kKnots.
class monotone_cubic {
 public:
  monotone_cubic() {
    double secant[kKnotCount - 1];
    for (int k = 0; k + 1 < kKnotCount; ++k) {
      secant[k] = (kKnots[k + 1].y - kKnots[k].y) / (kKnots[k + 1].x - kKnots[k].x);
    }
    tangent_[0] = secant[0];
    tangent_[kKnotCount - 1] = secant[kKnotCount - 2];
    for (int k = 1; k + 1 < kKnotCount; ++k) {
      tangent_[k] = secant[k - 1] * secant[k] > 0.0 ? 0.5 * (secant[k - 1] + secant[k]) : 0.0;
    }
    // Fritsch-Carlson: keep each segment's tangent ratios inside the circle
    // of radius 3, which makes every segment monotone.
    for (int k = 0; k + 1 < kKnotCount; ++k) {
      const double a = tangent_[k] / secant[k];
      const double b = tangent_[k + 1] / secant[k];
      const double r = a * a + b * b;
      if (r > 9.0) {
        const double tau = 3.0 / std::sqrt(r);
        tangent_[k] = tau * a * secant[k];
        tangent_[k + 1] = tau * b * secant[k];
      }
    }
  }

  double operator()(double x) const {
    if (x <= 0.0) return 0.0;
    if (x >= 1.0) return 1.0;
    int k = 0;
    while (k + 2 < kKnotCount && x >= kKnots[k + 1].x) ++k;
    const double h = kKnots[k + 1].x - kKnots[k].x;
    const double t = (x - kKnots[k].x) / h;
    const double t2 = t * t;
    const double t3 = t2 * t;
    return (2 * t3 - 3 * t2 + 1) * kKnots[k].y + (t3 - 2 * t2 + t) * h * tangent_[k] +
           (-2 * t3 + 3 * t2) * kKnots[k + 1].y + (t3 - t2) * h * tangent_[k + 1];
  }

  // The x where the curve reaches y, by bisection to double precision.
  double Inverse(double y) const {
    for (const knot& k : kKnots) {
      if (k.y == y) return k.x;
    }
    double lo = 0.0;
    double hi = 1.0;
    for (int round = 0; round < 100 && hi - lo > 1e-15; ++round) {
      const double mid = 0.5 * (lo + hi);
      if ((*this)(mid) < y) {
        lo = mid;
      } else {
        hi = mid;
      }
    }
    return 0.5 * (lo + hi);
  }

 private:
  double tangent_[kKnotCount];
};

struct tone_tables {
  std::array<float, dng_tone_curve_acr3_default::kTableEntries> forward;
  std::array<float, dng_tone_curve_acr3_default::kTableEntries> inverse;

  tone_tables() {
    const monotone_cubic curve;
    constexpr uint32_t last = dng_tone_curve_acr3_default::kTableEntries - 1;
    for (uint32_t i = 0; i <= last; ++i) {
      const double x = double(i) / double(last);
      forward[i] = static_cast<float>(curve(x));
      inverse[i] = static_cast<float>(curve.Inverse(x));
    }
    forward[0] = inverse[0] = 0.0f;
    forward[last] = inverse[last] = 1.0f;
  }
};

const tone_tables& tables() {
  static const tone_tables instance;
  return instance;
}

double table_lookup(const float* table, double x) {
  const float xf = static_cast<float>(x);
  const float y = xf * 1024.0f;
  if (std::isnan(y)) return table[0];
  // The integer part limited to 0..1023 (NaN gives 0).
  int32_t i = 0;
  if (y >= 1023.0f) {
    i = 1023;
  } else if (y > 0.0f) {
    i = static_cast<int32_t>(y);
  }
  const float t = y - static_cast<float>(i);
  return table[i] * (1.0f - t) + table[i + 1] * t;
}

}  // namespace

double dng_tone_curve_acr3_default::ValueAt(double x) const {
  return table_lookup(tables().forward.data(), x);
}

double dng_tone_curve_acr3_default::InverseAt(double y) const {
  return table_lookup(tables().inverse.data(), y);
}

const dng_1d_function& dng_tone_curve_acr3_default::Instance() {
  static const dng_tone_curve_acr3_default instance;
  return instance;
}

const float* dng_tone_curve_acr3_default::ForwardTable() { return tables().forward.data(); }
const float* dng_tone_curve_acr3_default::InverseTable() { return tables().inverse.data(); }
