// Chromaticity conversions.
#include "dng/core/dng_chromaticity.h"

#include <algorithm>

dng_chromaticity d50_chromaticity() { return {0.3457, 0.3585}; }

dng_chromaticity chromaticity_from_xyz(const dng_vector_3& xyz) {
  double sum = xyz[0] + xyz[1] + xyz[2];
  if (sum > 0.0) return {xyz[0] / sum, xyz[1] / sum};
  return d50_chromaticity();
}

dng_vector_3 xyz_from_chromaticity(const dng_chromaticity& xy) {
  // NaN is limited to the lower bound like any value below it.
  auto limit = [](double v) { return v >= 0.99 ? 0.99 : (v >= 0.01 ? v : 0.01); };
  double x = limit(xy.x);
  double y = limit(xy.y);
  if (x + y > 0.99) {
    double scale = 0.99 / (x + y);
    x *= scale;
    y *= scale;
  }
  return dng_vector_3(x / y, 1.0, (1.0 - x - y) / y);
}

dng_vector_3 d50_xyz() { return xyz_from_chromaticity(d50_chromaticity()); }
