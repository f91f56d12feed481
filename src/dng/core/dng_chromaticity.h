// CIE 1931 xy chromaticities of white points, their conversion to and from
// XYZ, and the D50 white of the profile connection space.
#pragma once

#include "dng/core/dng_vector.h"

struct dng_chromaticity {
  double x = 0.0;
  double y = 0.0;

  dng_chromaticity() = default;
  dng_chromaticity(double x_, double y_) : x(x_), y(y_) {}

  bool IsPositive() const { return x > 0.0 && y > 0.0; }
};

// (0.3457, 0.3585).
dng_chromaticity d50_chromaticity();

// (X / s, Y / s) with s = X + Y + Z when s > 0, else D50.
dng_chromaticity chromaticity_from_xyz(const dng_vector_3& xyz);

// XYZ with Y = 1. x and y are first limited to [0.01, 0.99], then scaled
// together so that x + y is at most 0.99.
dng_vector_3 xyz_from_chromaticity(const dng_chromaticity& xy);

// xyz_from_chromaticity of D50: (0.9642957, 1, 0.8251046).
dng_vector_3 d50_xyz();
