// Demosaic kernels: the Bayer kernels by hand, the 16-bit rounding fix-up,
// the halving of doubled layouts, refused layouts and missing colours, and
// for many patterns that every kernel reads only its own colour with
// weights adding to 256; rows interpolated from a linear ramp stay exact.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dng/core/dng_cfa_color_kernels.h"
#include "dng/core/dng_cfa_kernel.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/code_of.h"
#include "dng/support/mosaic_pattern.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;
using dng_test::mosaic;


struct Tap {
  int32_t v, h;
  uint16_t w;
  bool operator==(const Tap&) const = default;
};

std::vector<Tap> taps(const dng_cfa_kernel& k) {
  std::vector<Tap> t;
  for (uint32_t i = 0; i < k.count; ++i) t.push_back({k.offset[i].v, k.offset[i].h, k.weight16[i]});
  return t;
}

TEST(CfaKernels, BayerKernels) {
  dng_mosaic_info info = mosaic({"RG", "GB"}, "RGB");
  dng_cfa_color_kernels k[4];
  build_all_cfa_kernels(k, info, 100, 1);
  // At the red site.
  EXPECT_EQ(taps(k[0].Kernel(0, 0)), (std::vector<Tap>{{0, 0, 256}}));
  EXPECT_EQ(taps(k[1].Kernel(0, 0)), (std::vector<Tap>{{-1, 0, 64}, {0, -1, 64}, {0, 1, 64}, {1, 0, 64}}));
  EXPECT_EQ(taps(k[2].Kernel(0, 0)), (std::vector<Tap>{{-1, -1, 64}, {-1, 1, 64}, {1, -1, 64}, {1, 1, 64}}));
  // At the green site of the red row.
  EXPECT_EQ(taps(k[0].Kernel(0, 1)), (std::vector<Tap>{{0, -1, 128}, {0, 1, 128}}));
  EXPECT_EQ(taps(k[2].Kernel(0, 1)), (std::vector<Tap>{{-1, 0, 128}, {1, 0, 128}}));
  // Linear offsets follow the steps.
  const dng_cfa_kernel& g = k[1].Kernel(0, 0);
  EXPECT_EQ(std::vector<int32_t>(g.linear_offset, g.linear_offset + 4), (std::vector<int32_t>{-100, -1, 1, 100}));
}

TEST(CfaKernels, SixteenBitWeightsAddUpTo256) {
  dng_cfa_kernel k;
  k.AddTap({0, 1}, 1.0f / 3);
  k.AddTap({0, -1}, 1.0f / 3);
  k.AddTap({1, 0}, 1.0f / 3);
  k.AddTap({0, 1}, 0.0f);    // ignored
  k.AddTap({2, 2}, -1.0f);   // ignored
  k.Finish({1, 1}, 0, 0, 10, 1);
  EXPECT_EQ(taps(k), (std::vector<Tap>{{0, -1, 86}, {0, 1, 85}, {1, 0, 85}}));
  EXPECT_FLOAT_EQ(k.weight[0], 86.0f / 256);

  dng_cfa_kernel merged;
  merged.AddTap({0, 1}, 0.25f);
  merged.AddTap({0, 1}, 0.25f);
  merged.AddTap({1, 1}, 0.5f);
  merged.Finish({1, 1}, 0, 0, 10, 1);
  EXPECT_EQ(taps(merged), (std::vector<Tap>{{0, 1, 128}, {1, 1, 128}}));

  dng_test::StderrCapture quiet;
  dng_cfa_kernel full;
  for (int i = 0; i < 8; ++i) full.AddTap({i, 0}, 0.1f);
  EXPECT_EQ(code_of([&] { full.AddTap({9, 0}, 0.1f); }), dng_code_unknown);
}

TEST(CfaKernels, DoubledRowsHalveTheOffsetsWithThePhaseParity) {
  dng_cfa_kernel k;
  k.AddTap({-1, 0}, 0.5f);
  k.AddTap({1, 0}, 0.5f);
  k.Finish({2, 1}, 1, 0, 10, 1);  // odd phase row: (-1 + 1) >> 1 = 0, (1 + 1) >> 1 = 1
  EXPECT_EQ(taps(k), (std::vector<Tap>{{0, 0, 128}, {1, 0, 128}}));
  dng_cfa_kernel even;
  even.AddTap({-1, 0}, 0.5f);
  even.AddTap({1, 0}, 0.5f);
  even.Finish({2, 1}, 0, 0, 10, 1);  // even: -1 >> 1 = -1, 1 >> 1 = 0
  EXPECT_EQ(taps(even), (std::vector<Tap>{{-1, 0, 128}, {0, 0, 128}}));
}

TEST(CfaKernels, RefusedLayoutsAndMissingColours) {
  dng_test::StderrCapture quiet;
  dng_cfa_color_kernels k[4];
  for (uint32_t layout : {0u, 6u, 7u, 8u, 9u}) {
    EXPECT_EQ(code_of([&] { build_all_cfa_kernels(k, mosaic({"RG", "GB"}, "RGB", layout), 10, 1); }),
              dng_code_unknown)
        << layout;
  }
  // Blue is named as a plane colour but absent from the pattern: the searches
  // end after one pattern instead of walking forever.
  EXPECT_EQ(code_of([&] { build_all_cfa_kernels(k, mosaic({"RG", "GR"}, "RGB"), 10, 1); }),
            dng_code_bad_format);
  EXPECT_EQ(code_of([&] { build_all_cfa_kernels(k, mosaic({"RGG", "GRG", "GGR"}, "RGB"), 10, 1); }),
            dng_code_bad_format);
}

// For every phase of every colour: weights add to 256, own-colour sites
// read only themselves, and every tap reads a source sample of the colour.
TEST(CfaKernels, EveryKernelReadsOnlyItsColour) {
  struct Case {
    const char* name;
    std::vector<std::string> rows;
    std::string colors;
    uint32_t layout;
    // The cross rule takes the right neighbour untested, so where the
    // right neighbour holds another colour (6 x 6, layouts 4 and 5) one tap
    // reads it; those patterns are checked for weights only.
    bool own_colour_taps = true;
  };
  std::vector<Case> cases = {
      {"RGGB", {"RG", "GB"}, "RGB", 1},
      {"GRBG", {"GR", "BG"}, "RGB", 1},
      {"CYGM", {"CYCY", "GMGM", "YCYC", "MGMG"}, "CMYG", 1},
      {"3 x 3", {"RGB", "GBR", "BRG"}, "RGB", 1},
      {"6 x 6", {"GGRGGB", "GGBGGR", "BRGRBG", "GGBGGR", "GGRGGB", "RBGBRG"}, "RGB", 1, false},
      {"colour on some rows", {"RR", "GG", "GB"}, "RGB", 1},
      {"layout 2", {"RG", "GB"}, "RGB", 2},
      {"layout 3", {"RG", "GB"}, "RGB", 3},
      {"layout 4", {"RG", "GB"}, "RGB", 4, false},
      {"layout 5", {"RG", "GB"}, "RGB", 5, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_mosaic_info info = mosaic(c.rows, c.colors, c.layout);
    dng_cfa_color_kernels k[4];
    build_all_cfa_kernels(k, info, 1000, 1);
    dng_extent f = info.FullScaleFactors();
    int32_t pr = static_cast<int32_t>(info.pattern_rows), pc = static_cast<int32_t>(info.pattern_cols);
    for (uint32_t color = 0; color < info.color_planes; ++color) {
      dng_extent e = k[color].ExpandedSize();
      ASSERT_EQ(e.v, pr * f.v);
      ASSERT_EQ(e.h, pc * f.h);
      for (int32_t r = 0; r < e.v; ++r) {
        for (int32_t col = 0; col < e.h; ++col) {
          const dng_cfa_kernel& kernel = k[color].Kernel(static_cast<uint32_t>(r), static_cast<uint32_t>(col));
          ASSERT_GT(kernel.count, 0u);
          uint32_t sum = 0;
          for (uint32_t i = 0; i < kernel.count; ++i) {
            sum += kernel.weight16[i];
            // The source sample that the tap reads, and its colour.
            int32_t sr = (r >> (f.v - 1)) + kernel.offset[i].v;
            int32_t sc = (col >> (f.h - 1)) + kernel.offset[i].h;
            int32_t pr_i = ((sr % pr) + pr) % pr, pc_i = ((sc % pc) + pc) % pc;
            if (c.own_colour_taps) {
              EXPECT_EQ(info.pattern[pr_i][pc_i], color) << "phase " << r << "," << col << " tap " << i;
            }
          }
          EXPECT_EQ(sum, 256u) << "phase " << r << "," << col;
          // A site of the colour (layout 1) reads just itself.
          if (c.layout == 1 && info.pattern[r][col] == color) {
            EXPECT_EQ(taps(kernel), (std::vector<Tap>{{0, 0, 256}}));
          }
        }
      }
    }
  }
}

TEST(CfaKernels, CrossRuleDoesNotTestTheRightNeighbour) {
  // Green above, below and left of the red site at (1, 1), blue to its right.
  dng_mosaic_info info = mosaic({"RGR", "GRB", "RGR"}, "RGB");
  dng_cfa_color_kernels k[4];
  build_all_cfa_kernels(k, info, 100, 1);
  EXPECT_EQ(taps(k[1].Kernel(1, 1)), (std::vector<Tap>{{-1, 0, 64}, {0, -1, 64}, {0, 1, 64}, {1, 0, 64}}));
}

TEST(CfaKernels, GeneralCaseInterpolatesBetweenTheNearestRows) {
  // Blue only at (2, 1) of a 3 x 2 pattern: at (0, 1) the nearest blue rows
  // are one above (-1) and two below (+2).
  dng_mosaic_info info = mosaic({"RG", "GR", "GB"}, "RGB");
  dng_cfa_color_kernels k[4];
  build_all_cfa_kernels(k, info, 100, 1);
  const dng_cfa_kernel& kernel = k[2].Kernel(0, 1);
  // Rows: above 0.5 x 2/3 at (-1, 0); below 0.5 x 1/3 at (2, 0). Columns:
  // this column has blue, so the half reads the column itself: nearest blue
  // above (-1) with 0.5 x 2/3 and below (+2) with 0.5 x 1/3.
  EXPECT_EQ(taps(kernel), (std::vector<Tap>{{-1, 0, 171}, {2, 0, 85}}));
}

TEST(CfaKernels, InterpolatedRowsReproduceALinearRamp) {
  // An RGGB mosaic of f(r, c) = 40 r + 7 c + 1000 in every colour: bilinear
  // kernels are symmetric, so every plane equals f inside the border.
  const int32_t rows = 12, cols = 16;
  std::vector<uint16_t> source(rows * cols);
  for (int32_t r = 0; r < rows; ++r) {
    for (int32_t c = 0; c < cols; ++c) source[r * cols + c] = static_cast<uint16_t>(40 * r + 7 * c + 1000);
  }
  dng_mosaic_info info = mosaic({"RG", "GB"}, "RGB");
  dng_cfa_color_kernels k[4];
  build_all_cfa_kernels(k, info, cols, 1);

  dng_pixel_buffer src;
  src.area = {0, 0, rows, cols};
  src.row_step = cols;
  src.col_step = 1;
  src.pixel_type = dng_type_short;
  src.pixel_size = 2;
  src.data = source.data();

  std::vector<uint16_t> out(3 * (rows - 2) * (cols - 2));
  dng_pixel_buffer dst;
  dst.area = {1, 1, rows - 1, cols - 1};
  dst.planes = 3;
  dst.plane_step = (rows - 2) * (cols - 2);
  dst.row_step = cols - 2;
  dst.col_step = 1;
  dst.pixel_type = dng_type_short;
  dst.pixel_size = 2;
  dst.data = out.data();
  k[0].InterpolateRows(src, dst);
  for (int32_t p = 0; p < 3; ++p) {
    for (int32_t r = 1; r < rows - 1; ++r) {
      for (int32_t c = 1; c < cols - 1; ++c) {
        EXPECT_EQ(*static_cast<uint16_t*>(dst.Pixel(r, c, static_cast<uint32_t>(p))), 40 * r + 7 * c + 1000)
            << p << " " << r << " " << c;
      }
    }
  }
}

}  // namespace
