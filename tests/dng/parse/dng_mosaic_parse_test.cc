// Reading the mosaic description from a parsed main directory and the
// file-wide tags: CFA directories fill it, others leave it empty.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "dng/core/dng_mosaic_info.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_shared.h"

namespace {

TEST(DngMosaicParse, CopiesTheCfaDescriptionOfCfaDirectoriesOnly) {
  struct Case {
    const char* name;
    uint32_t photometric;
    uint32_t rows, cols;
    uint32_t colors;
    uint32_t layout;
    uint32_t green_split;
    bool filled;
  };
  const std::vector<Case> cases = {
      {"RGGB", 32803, 2, 2, 3, 1, 0, true},
      {"CYGM four colours", 32803, 2, 4, 4, 1, 0, true},
      {"staggered with green split", 32803, 2, 2, 3, 2, 250, true},
      {"linear raw", 34892, 2, 2, 3, 1, 0, false},
      {"RGB", 2, 2, 2, 3, 1, 0, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dng_ifd ifd;
    ifd.photometric_interpretation = c.photometric;
    ifd.cfa_repeat_pattern_rows = c.rows;
    ifd.cfa_repeat_pattern_cols = c.cols;
    for (uint32_t r = 0; r < c.rows; ++r) {
      for (uint32_t col = 0; col < c.cols; ++col) ifd.cfa_pattern[r][col] = uint8_t((r * 2 + col) % c.colors);
    }
    for (uint32_t k = 0; k < 4; ++k) ifd.cfa_plane_color[k] = uint8_t(k);
    ifd.cfa_layout = c.layout;
    ifd.bayer_green_split = c.green_split;
    dng_shared shared;
    shared.color_planes = c.colors;

    dng_mosaic_info info;
    info.Parse(ifd, shared);
    ASSERT_EQ(info.IsColorFilterArray(), c.filled);
    if (!c.filled) {
      EXPECT_EQ(info.color_planes, 0u);
      continue;
    }
    EXPECT_EQ(info.pattern_rows, c.rows);
    EXPECT_EQ(info.pattern_cols, c.cols);
    for (uint32_t r = 0; r < c.rows; ++r) {
      for (uint32_t col = 0; col < c.cols; ++col) EXPECT_EQ(info.pattern[r][col], ifd.cfa_pattern[r][col]);
    }
    EXPECT_EQ(info.color_planes, c.colors);
    for (uint32_t k = 0; k < c.colors; ++k) EXPECT_EQ(info.plane_color[k], k);
    EXPECT_EQ(info.cfa_layout, c.layout);
    EXPECT_EQ(info.bayer_green_split, c.green_split);
  }
}

TEST(DngMosaicParse, OutOfRangeCountsNeverReachBeyondTheArrays) {
  dng_ifd ifd;
  ifd.photometric_interpretation = 32803;
  ifd.cfa_repeat_pattern_rows = 200;
  ifd.cfa_repeat_pattern_cols = 9;
  dng_shared shared;
  shared.color_planes = 7;
  dng_mosaic_info info;
  info.Parse(ifd, shared);
  EXPECT_EQ(info.pattern_rows, dng_mosaic_info::kMaxPattern);
  EXPECT_EQ(info.pattern_cols, dng_mosaic_info::kMaxPattern);
  EXPECT_EQ(info.color_planes, dng_mosaic_info::kMaxColors);
}

TEST(DngMosaicParse, FinishParseRoundsTheCropAndTakesTheAspect) {
  struct Case {
    double crop_h, crop_w, scale_h, scale_v;
    dng_extent crop;
    double aspect;
  };
  const std::vector<Case> cases = {
      {2000.5, 2999.4, 1.0, 1.0, {2001, 2999}, 1.0},
      {10.0, 20.0, 2.0, 1.0, {10, 20}, 2.0},
      {10.0, 20.0, 1.0, 2.0, {10, 20}, 0.5},
  };
  for (const auto& c : cases) {
    dng_mosaic_info info;
    info.FinishParse(dng_extent(12, 34), c.crop_h, c.crop_w, c.scale_h, c.scale_v);
    EXPECT_EQ(info.stage_size, dng_extent(12, 34));
    EXPECT_EQ(info.crop_size, c.crop);
    EXPECT_DOUBLE_EQ(info.aspect_ratio, c.aspect);
  }
}

}  // namespace
