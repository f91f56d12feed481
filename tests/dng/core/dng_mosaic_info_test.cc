// Demosaic of the mosaic: flat fields stay flat, own-colour sites keep their
// sample, full-scale interpolation equals a per-pixel kernel demosaic over
// sub-tile seams and mosaic edges, the reduced path equals a per-cell
// average, and the size choices and refusals.
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "dng/core/dng_cfa_color_kernels.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/code_of.h"
#include "dng/support/mosaic_pattern.h"
#include "dng/support/raw_reference.h"

namespace {

using dng_test::code_of;
using dng_test::mosaic;


using dng_test::Mosaic;
using dng_test::mosaic_at;
using dng_test::reference_demosaic;

Mosaic random_mosaic(int32_t rows, int32_t cols, uint32_t seed) {
  std::mt19937 rng(seed);
  Mosaic m{std::vector<uint16_t>(size_t(rows) * size_t(cols)), rows, cols};
  for (auto& s : m.samples) s = static_cast<uint16_t>(rng() & 0xFFFF);
  return m;
}

std::unique_ptr<dng_simple_image> stage2_image(const Mosaic& m) {
  auto image = std::make_unique<dng_simple_image>(dng_box(0, 0, m.rows, m.cols), 1, dng_type_short);
  const dng_pixel_buffer& b = image->Buffer();
  for (int32_t r = 0; r < m.rows; ++r) {
    for (int32_t c = 0; c < m.cols; ++c) *static_cast<uint16_t*>(b.Pixel(r, c, 0)) = m.at(r, c);
  }
  return image;
}

uint16_t sample(const dng_simple_image& image, int32_t r, int32_t c, uint32_t plane) {
  return *static_cast<const uint16_t*>(image.Buffer().Pixel(r, c, plane));
}

std::unique_ptr<dng_simple_image> interpolate_full(const Mosaic& m, dng_mosaic_info info) {
  info.stage_size = dng_extent(m.rows, m.cols);
  const dng_extent size = info.ScaledSize(dng_extent(1, 1));
  auto src = stage2_image(m);
  auto dst = std::make_unique<dng_simple_image>(dng_box(0, 0, size.v, size.h), info.color_planes,
                                                dng_type_short);
  dng_host host;
  info.Demosaic(host, *src, *dst, dng_extent(1, 1), 0);
  return dst;
}

struct PatternCase {
  const char* name;
  std::vector<std::string> rows;
  std::string colors;
  uint32_t layout;
};

const std::vector<PatternCase>& pattern_cases() {
  static const std::vector<PatternCase> cases = {
      {"RGGB", {"RG", "GB"}, "RGB", 1},
      {"GRBG", {"GR", "BG"}, "RGB", 1},
      {"CYGM", {"CYCY", "GMGM"}, "CYGM", 1},
      {"3x3", {"RGB", "GBR", "BRG"}, "RGB", 1},
      {"6x6", {"GRGGBG", "BGBRGR", "GRGGBG", "GBGGRG", "RGRBGB", "GBGGRG"}, "RGB", 1},
      {"rows_only", {"RR", "GB"}, "RGB", 1},
      {"layout2", {"RG", "GB"}, "RGB", 2},
      {"layout3", {"RG", "GB"}, "RGB", 3},
      {"layout4", {"RG", "GB"}, "RGB", 4},
      {"layout5", {"RG", "GB"}, "RGB", 5},
  };
  return cases;
}

// Sizes that cross the 128-pixel sub-tiles (also after doubling), and
// ones not a multiple of the pattern.
const std::vector<std::pair<int32_t, int32_t>> kSizes = {{6, 6}, {7, 13}, {66, 131}, {130, 67}};

TEST(DngMosaicInfo, FullScaleEqualsPerPixelKernelDemosaic) {
  uint32_t seed = 1;
  for (const auto& pc : pattern_cases()) {
    const dng_mosaic_info info = mosaic(pc.rows, pc.colors, pc.layout);
    for (auto [rows, cols] : kSizes) {
      SCOPED_TRACE(std::string(pc.name) + " " + std::to_string(rows) + "x" + std::to_string(cols));
      const Mosaic m = random_mosaic(rows, cols, seed++);
      const auto dst = interpolate_full(m, info);
      const std::vector<uint16_t> want = reference_demosaic(m, info);
      const int32_t out_rows = int32_t(dst->Bounds().H()), out_cols = int32_t(dst->Bounds().W());
      const dng_extent f = info.FullScaleFactors();
      ASSERT_EQ(out_rows, rows * f.v);
      ASSERT_EQ(out_cols, cols * f.h);
      int mismatches = 0;
      for (uint32_t k = 0; k < info.color_planes && mismatches < 5; ++k) {
        for (int32_t y = 0; y < out_rows; ++y) {
          for (int32_t x = 0; x < out_cols; ++x) {
            const uint16_t w = want[(size_t(k) * out_rows + size_t(y)) * out_cols + size_t(x)];
            if (sample(*dst, y, x, k) != w && mismatches++ < 5) {
              ADD_FAILURE() << "plane " << k << " at (" << y << ", " << x << "): "
                            << sample(*dst, y, x, k) << " want " << w;
            }
          }
        }
      }
    }
  }
}

TEST(DngMosaicInfo, FlatFieldsStayFlatAndOwnColourSitesExact) {
  uint32_t seed = 100;
  for (const auto& pc : pattern_cases()) {
    const dng_mosaic_info info = mosaic(pc.rows, pc.colors, pc.layout);
    SCOPED_TRACE(pc.name);
    for (uint16_t level : {uint16_t(0), uint16_t(1), uint16_t(4095), uint16_t(65535)}) {
      Mosaic flat{std::vector<uint16_t>(66 * 131, level), 66, 131};
      const auto dst = interpolate_full(flat, info);
      for (uint32_t k = 0; k < info.color_planes; ++k) {
        for (int32_t y = 0; y < int32_t(dst->Bounds().H()); ++y) {
          for (int32_t x = 0; x < int32_t(dst->Bounds().W()); ++x) {
            ASSERT_EQ(sample(*dst, y, x, k), level) << "plane " << k << " at " << y << ", " << x;
          }
        }
      }
    }
    if (pc.layout != 1) continue;
    const Mosaic m = random_mosaic(130, 67, seed++);
    const auto dst = interpolate_full(m, info);
    for (int32_t y = 0; y < m.rows; ++y) {
      for (int32_t x = 0; x < m.cols; ++x) {
        const uint8_t color = info.pattern[uint32_t(y) % info.pattern_rows][uint32_t(x) % info.pattern_cols];
        ASSERT_EQ(sample(*dst, y, x, color), m.at(y, x)) << y << ", " << x;
      }
    }
  }
}

TEST(DngMosaicInfo, ReducedAveragesEachCellPerColour) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::string colors;
    dng_extent factors;
    int32_t src_rows, src_cols;
  };
  const std::vector<Case> cases = {
      {"RGGB 2x2", {"RG", "GB"}, "RGB", {2, 2}, 40, 60},
      {"RGGB 3x3 ragged", {"RG", "GB"}, "RGB", {3, 3}, 40, 61},
      {"RGGB 11x11 over tiles", {"RG", "GB"}, "RGB", {11, 11}, 600, 310},
      {"RGGB 4x2", {"RG", "GB"}, "RGB", {4, 2}, 37, 22},
      {"CYGM 2x4", {"CYCY", "GMGM"}, "CYGM", {2, 4}, 30, 42},
      {"3x3 3x3", {"RGB", "GBR", "BRG"}, "RGB", {3, 3}, 33, 27},
  };
  uint32_t seed = 200;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dng_mosaic_info info = mosaic(c.rows, c.colors);
    info.stage_size = dng_extent(c.src_rows, c.src_cols);
    ASSERT_TRUE(info.CellsCoverAllColors(c.factors));
    const dng_extent size = info.ScaledSize(c.factors);
    const Mosaic m = random_mosaic(c.src_rows, c.src_cols, seed++);
    auto src = stage2_image(m);
    dng_simple_image dst(dng_box(0, 0, size.v, size.h), info.color_planes, dng_type_short);
    dng_host host;
    info.Demosaic(host, *src, dst, c.factors, 0);
    for (int32_t y = 0; y < size.v; ++y) {
      for (int32_t x = 0; x < size.h; ++x) {
        uint64_t sums[4] = {};
        uint32_t counts[4] = {};
        for (int32_t i = 0; i < c.factors.v; ++i) {
          for (int32_t j = 0; j < c.factors.h; ++j) {
            const int32_t r = y * c.factors.v + i, col = x * c.factors.h + j;
            const uint8_t k = info.pattern[uint32_t(r) % info.pattern_rows][uint32_t(col) % info.pattern_cols];
            sums[k] += mosaic_at(m, info, r, col);
            ++counts[k];
          }
        }
        for (uint32_t k = 0; k < info.color_planes; ++k) {
          ASSERT_EQ(sample(dst, y, x, k), (counts[k] / 2 + sums[k]) / counts[k])
              << "plane " << k << " at " << y << ", " << x;
        }
      }
    }
  }
}

TEST(DngMosaicInfo, ColourMissingFromThePatternIsRefused) {
  // Blue is a plane colour but no site holds it: no cell can average it.
  dng_mosaic_info info = mosaic({"RG", "GR"}, "RGB");
  info.stage_size = dng_extent(8, 8);
  const Mosaic m = random_mosaic(8, 8, 7);
  auto src = stage2_image(m);
  dng_simple_image dst(dng_box(0, 0, 4, 4), 3, dng_type_short);
  dng_host host;
  EXPECT_EQ(code_of([&] { info.InterpolateReduced(host, *src, dst, dng_extent(2, 2), 0); }),
            dng_code_bad_format);
  dng_simple_image full(dng_box(0, 0, 8, 8), 3, dng_type_short);
  EXPECT_EQ(code_of([&] { info.InterpolateFull(host, *src, full, 0); }), dng_code_bad_format);
}

TEST(DngMosaicInfo, ScaledSizesAndRefusals) {
  struct Case {
    uint32_t layout;
    dng_extent stage, factors, want;
  };
  const std::vector<Case> cases = {
      {1, {10, 10}, {1, 1}, {10, 10}}, {2, {10, 12}, {1, 1}, {20, 12}},
      {3, {10, 12}, {1, 1}, {20, 12}}, {4, {10, 12}, {1, 1}, {10, 24}},
      {5, {10, 12}, {1, 1}, {10, 24}}, {1, {10, 10}, {3, 3}, {3, 3}},
      {1, {10, 10}, {65, 1}, {0, 0}},  {1, {1, 1}, {64, 64}, {1, 1}},
  };
  for (const auto& c : cases) {
    dng_mosaic_info info = mosaic({"RG", "GB"}, "RGB", c.layout);
    info.stage_size = c.stage;
    EXPECT_EQ(info.ScaledSize(c.factors), c.want) << "layout " << c.layout;
  }
  // Doubling a side beyond 32 bits is refused as memory before any image is made.
  dng_mosaic_info tall = mosaic({"RG", "GB"}, "RGB", 2);
  tall.stage_size = dng_extent(0x40000000, 16);
  EXPECT_EQ(code_of([&] { (void)tall.ScaledSize(dng_extent(1, 1)); }), dng_code_memory);
  // A stage-3 image of that size is refused before allocating.
  EXPECT_EQ(code_of([] { dng_simple_image big(dng_box(0, 0, 0x7FFFFFFF, 30000), 3, dng_type_short); }),
            dng_code_memory);
}

TEST(DngMosaicInfo, DownScaleChoice) {
  dng_mosaic_info info = mosaic({"RG", "GB"}, "RGB");
  info.FinishParse(dng_extent(2000, 3000), 2000.4, 2999.5, 1.0, 1.0);
  EXPECT_EQ(info.crop_size, dng_extent(2000, 3000));
  EXPECT_EQ(info.ChooseDownScale(0), dng_extent(1, 1));
  EXPECT_EQ(info.ChooseDownScale(256), dng_extent(11, 11));
  EXPECT_FALSE(info.CellsCoverAllColors(dng_extent(1, 1)));
  EXPECT_TRUE(info.CellsCoverAllColors(dng_extent(2, 2)));
  EXPECT_FALSE(info.DownScaleFits(dng_extent(12, 12), 256));
  EXPECT_FALSE(info.DownScaleFits(dng_extent(65, 1), 1));
}

TEST(DngMosaicInfo, ConvertToFourColors) {
  dng_mosaic_info info = mosaic({"RG", "GB"}, "RGB");
  ASSERT_TRUE(info.ConvertToFourColors());
  EXPECT_EQ(info.color_planes, 4u);
  EXPECT_EQ(info.plane_color[3], 3);
  // The green under the red site's column becomes the fourth colour.
  EXPECT_EQ(info.pattern[1][0], 3);
  EXPECT_EQ(info.pattern[0][1], 1);
  dng_mosaic_info rows_only = mosaic({"RR", "GB"}, "RGB");
  EXPECT_FALSE(rows_only.ConvertToFourColors());
}

}  // namespace
