// The colour-calibration helpers of camera profiles: normalising a colour
// matrix (XYZ to camera) against the D50 white, and the colour temperature of
// an EXIF LightSource code.
#pragma once

#include <cstdint>

#include "dng/core/dng_matrix.h"

// Scales M so that the D50 white maps to a camera value whose largest channel
// is 1, then rounds every entry to a multiple of 1/10000 (half away from zero,
// saturated at the int32 range of entry x 10000). A matrix whose largest D50
// channel is already within 1 % of 1, or is not positive (also NaN), is only
// rounded. The empty matrix stays empty; a non-empty matrix without 3 columns
// raises 100007.
void fit_color_matrix_to_d50(dng_matrix& m);

// The colour temperature in kelvin of a calibration illuminant given as an
// EXIF LightSource code; 0 for codes without a fixed temperature.
uint32_t illuminant_temperature(uint32_t light_source);
