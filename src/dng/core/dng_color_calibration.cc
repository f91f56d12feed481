#include "dng/core/dng_color_calibration.h"

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_vector.h"

void fit_color_matrix_to_d50(dng_matrix& m) {
  if (!m.HasEntries()) return;
  const dng_vector camera_white = matrix_vector_product(m, d50_xyz());
  const double largest = camera_white.LargestEntry();
  if (largest > 0.0 && (largest < 0.99 || largest > 1.01)) m.MultiplyAll(1.0 / largest);
  m.Quantize(10000.0);
}

uint32_t illuminant_temperature(uint32_t light_source) {
  switch (light_source) {
    case 1:   // daylight
    case 4:   // flash
    case 9:   // fine weather
    case 18:  // standard light B
    case 20:  // D55
      return 5500;
    case 2:   // fluorescent
    case 14:  // cool white fluorescent
      return 4200;
    case 3:   // tungsten
    case 17:  // standard light A
      return 2850;
    case 10:  // cloudy
    case 19:  // standard light C
    case 21:  // D65
      return 6500;
    case 11:  // shade
    case 22:  // D75
      return 7500;
    case 12:  // daylight fluorescent
      return 6400;
    case 13:  // day white fluorescent
    case 23:  // D50
      return 5000;
    case 15:  // white fluorescent
      return 3450;
    case 24:  // ISO studio tungsten
      return 3200;
    default:
      return 0;
  }
}
