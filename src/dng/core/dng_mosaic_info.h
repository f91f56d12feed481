// The colour-filter array of a raw image: its repeating pattern, the colours
// of the interpolated planes and the layout of its sites.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"

class dng_mosaic_info {
 public:
  static constexpr uint32_t kMaxPattern = 8;
  static constexpr uint32_t kMaxColors = 4;

  dng_mosaic_info() = default;
  virtual ~dng_mosaic_info() = default;

  bool IsColorFilterArray() const { return pattern_rows != 0 && pattern_cols != 0; }

  // Layouts 2 and 3 double the rows of the interpolated image, 4 and 5 its
  // columns; every other layout keeps the size.
  dng_extent FullScaleFactors() const {
    if (cfa_layout == 2 || cfa_layout == 3) return {2, 1};
    if (cfa_layout == 4 || cfa_layout == 5) return {1, 2};
    return {1, 1};
  }

  uint32_t pattern_rows = 0;
  uint32_t pattern_cols = 0;
  uint8_t pattern[kMaxPattern][kMaxPattern] = {};
  uint32_t color_planes = 0;
  uint8_t plane_color[kMaxColors] = {};
  uint32_t cfa_layout = 1;
  uint32_t bayer_green_split = 0;
  dng_extent stage_size;
  dng_extent crop_size;
  double aspect_ratio = 1.0;
};
