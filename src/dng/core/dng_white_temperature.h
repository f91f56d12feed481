// Correlated colour temperature and tint of a chromaticity, by Robertson's
// method over the published table of 31 isotemperature lines.
#pragma once

#include "dng/core/dng_chromaticity.h"

struct dng_white_temperature {
  double temperature = 0.0;  // kelvin
  double tint = 0.0;

  // Temperatures are bounded by the table: from 10^6 / 600 (about 1666.7 K)
  // to 10^6 / 10 (100000 K).
  void SetFromChromaticity(const dng_chromaticity& xy);
};

// One isotemperature line: reciprocal temperature (mired), the point (u, v)
// of CIE 1960 UCS on the Planckian locus, and the line's slope t.
struct dng_isotemperature_line {
  double mired;
  double u;
  double v;
  double t;
};

inline constexpr int dng_isotemperature_lines = 31;
extern const dng_isotemperature_line isotemperature_table[dng_isotemperature_lines];
