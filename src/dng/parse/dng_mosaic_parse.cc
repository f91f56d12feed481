// The parse half of dng_mosaic_info: reading the CFA description from the
// main image directory and the file-wide tags.
#include <algorithm>

#include "dng/core/dng_mosaic_info.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_shared.h"

void dng_mosaic_info::Parse(const dng_ifd& main_ifd, const dng_shared& shared) {
  constexpr uint32_t kPhotometricCFA = 32803;
  if (main_ifd.photometric_interpretation != kPhotometricCFA) return;
  // The directory checks bound these already; the clamps keep the arrays
  // safe for a directory that skipped them.
  pattern_rows = std::min(main_ifd.cfa_repeat_pattern_rows, kMaxPattern);
  pattern_cols = std::min(main_ifd.cfa_repeat_pattern_cols, kMaxPattern);
  for (uint32_t r = 0; r < pattern_rows; ++r) {
    for (uint32_t c = 0; c < pattern_cols; ++c) pattern[r][c] = main_ifd.cfa_pattern[r][c];
  }
  color_planes = std::min(shared.color_planes, kMaxColors);
  for (uint32_t k = 0; k < color_planes; ++k) plane_color[k] = main_ifd.cfa_plane_color[k];
  cfa_layout = main_ifd.cfa_layout;
  bayer_green_split = main_ifd.bayer_green_split;
}
