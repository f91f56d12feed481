// A mosaic description for tests, written as rows of colour letters: each
// letter's place in colors is its plane ("RGGB" rows {"RG", "GB"} with
// colors "RGB").
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "dng/core/dng_mosaic_info.h"

namespace dng_test {

inline dng_mosaic_info mosaic(const std::vector<std::string>& rows, const std::string& colors, uint32_t layout = 1) {
  dng_mosaic_info info;
  info.pattern_rows = static_cast<uint32_t>(rows.size());
  info.pattern_cols = static_cast<uint32_t>(rows[0].size());
  for (size_t r = 0; r < rows.size(); ++r) {
    for (size_t c = 0; c < rows[r].size(); ++c) {
      info.pattern[r][c] = static_cast<uint8_t>(colors.find(rows[r][c]));
    }
  }
  info.color_planes = static_cast<uint32_t>(colors.size());
  for (uint32_t i = 0; i < info.color_planes; ++i) info.plane_color[i] = static_cast<uint8_t>(i);
  info.cfa_layout = layout;
  return info;
}

}  // namespace dng_test
