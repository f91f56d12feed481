// Linearization against the analytic formula: clip(round((table value -
// black at the pixel) x range / (white - peak black)), 0, range), exact on
// the single-lookup path and within 1 in fixed point; black patterns, row
// and column deltas, short tables, 8-, 16- and 32-bit sources, the black
// quantization, and small white-minus-black spans against large tables.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/code_of.h"
#include "dng/support/raw_reference.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;

struct Case {
  const char* name;
  uint32_t source_type;
  uint32_t bits;
  std::vector<uint16_t> table;
  uint32_t rep_rows = 1, rep_cols = 1;
  std::vector<double> blacks;  // rep_rows x rep_cols
  bool col_deltas = false, row_deltas = false;
  double white = 0;  // 0: the largest value of the bit depth
  bool exact = false;
};

constexpr int32_t kRows = 10, kCols = 12;
const dng_box kActive(1, 2, 9, 11);  // 8 x 9

uint32_t input(int32_t r, int32_t c, uint32_t bits) {
  uint64_t max = bits >= 32 ? 0xFFFFFFFFull : (1ull << bits) - 1;
  uint64_t v = (uint64_t(r) * 977 + uint64_t(c) * 131) * 40503 % (max + 1);
  if ((r + c) % 7 == 0) v = max;
  if ((r * c) % 5 == 1) v = 0;
  return static_cast<uint32_t>(v);
}

TEST(Linearization, MatchesTheAnalyticFormula) {
  std::vector<Case> cases = {
      {"16-bit single black, one lookup", dng_type_short, 12, {}, 1, 1, {256}, false, false, 4095, true},
      {"16-bit with a short table", dng_type_short, 12, {0, 100, 400, 900, 1600, 60000}, 1, 1, {50}, false, false, 0, true},
      {"2 x 2 black pattern", dng_type_short, 14, {}, 2, 2, {512, 520, 530, 515}},
      {"column and row deltas", dng_type_short, 14, {}, 1, 1, {600}, true, true},
      {"row deltas only", dng_type_short, 16, {}, 2, 1, {1000, 1100}, false, true},
      {"8-bit source", dng_type_byte, 8, {}, 1, 1, {16}},
      {"8-bit source with a table to 65535, white 255", dng_type_byte, 8,
       {0, 1000, 30000, 65535}, 1, 1, {0}, false, false, 255},
      {"16-bit, table to 65535, small span, 2 x 2 pattern", dng_type_short, 12,
       {0, 2, 9, 65535}, 2, 2, {1, 2, 3, 0}, false, false, 10},
      {"32-bit source", dng_type_long, 20, {}, 1, 2, {4000, 4100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_linearization_info info;
    info.active_area = kActive;
    info.table = c.table;
    info.black_level_repeat_rows = c.rep_rows;
    info.black_level_repeat_cols = c.rep_cols;
    for (uint32_t r = 0; r < c.rep_rows; ++r)
      for (uint32_t k = 0; k < c.rep_cols; ++k) info.black_level[r][k][0] = c.blacks[r * c.rep_cols + k];
    if (c.col_deltas)
      for (int32_t k = 0; k < kActive.right - kActive.left; ++k) info.black_delta_h.push_back(k * 3.5 - 10);
    if (c.row_deltas)
      for (int32_t r = 0; r < kActive.bottom - kActive.top; ++r) info.black_delta_v.push_back(r * 7.25);
    double white = c.white != 0 ? c.white : std::pow(2.0, c.bits) - 1;
    info.white_level[0] = white;
    info.QuantizeBlackLevels();

    dng_simple_image source(dng_box(0, 0, kRows, kCols), 1, c.source_type);
    std::vector<uint32_t> samples(kRows * kCols);
    for (int32_t r = 0; r < kRows; ++r)
      for (int32_t k = 0; k < kCols; ++k) samples[r * kCols + k] = input(r, k, c.bits);
    dng_pixel_buffer b;
    b.area = source.Bounds();
    b.row_step = kCols;
    b.pixel_type = dng_type_long;
    b.pixel_size = 4;
    b.data = samples.data();
    source.WriteArea(b);

    dng_simple_image dest(dng_box(0, 0, kActive.bottom - kActive.top, kActive.right - kActive.left), 1,
                          dng_type_short, 65535);
    dng_host host;
    ASSERT_EQ(code_of([&] { info.LinearizeImage(host, source, dest); }), 0);

    uint32_t off = 0;
    for (int32_t r = kActive.top; r < kActive.bottom; ++r) {
      for (int32_t k = kActive.left; k < kActive.right; ++k) {
        int32_t ar = r - kActive.top, ac = k - kActive.left;
        double expected = dng_test::analytic_linear(info, 0, ar, ac, samples[r * kCols + k]);
        double got = *static_cast<const uint16_t*>(dest.Buffer().Pixel(ar, ac, 0));
        double tolerance = c.exact ? 0 : 1;
        if (std::fabs(got - expected) > tolerance) {
          ++off;
          ADD_FAILURE() << "at " << r << "," << k << " got " << got << " expected " << expected;
        }
      }
    }
    EXPECT_EQ(off, 0u);
  }
}

TEST(Linearization, TwelveBitEdgeValues) {
  dng_linearization_info info;
  info.active_area = dng_box(0, 0, 1, 4);
  info.black_level[0][0][0] = 256;
  info.white_level[0] = 4095;
  dng_simple_image source(dng_box(0, 0, 1, 4), 1, dng_type_short);
  uint16_t in[4] = {256, 4095, 100, 2175};
  dng_pixel_buffer b;
  b.area = source.Bounds();
  b.row_step = 4;
  b.pixel_type = dng_type_short;
  b.pixel_size = 2;
  b.data = in;
  source.WriteArea(b);
  dng_simple_image dest(dng_box(0, 0, 1, 4), 1, dng_type_short, 65535);
  dng_host host;
  info.LinearizeImage(host, source, dest);
  std::vector<uint16_t> out;
  for (int i = 0; i < 4; ++i) out.push_back(*static_cast<const uint16_t*>(dest.Buffer().Pixel(0, i, 0)));
  EXPECT_EQ(out, (std::vector<uint16_t>{0, 65535, 0, 32759}));
}

TEST(Linearization, BlackQuantizationAndRefusals) {
  dng_linearization_info big;
  big.black_level[0][0][0] = 10000000;
  big.QuantizeBlackLevels();
  EXPECT_EQ(big.black_denominator, 128);
  dng_linearization_info small;
  small.black_level[0][0][0] = 7679999.6;
  small.QuantizeBlackLevels();
  EXPECT_EQ(small.black_denominator, 256);
  EXPECT_DOUBLE_EQ(small.black_level[0][0][0], 7679999.6015625);

  dng_test::StderrCapture quiet;
  dng_linearization_info flat;
  flat.active_area = dng_box(0, 0, 2, 2);
  flat.black_level[0][0][0] = 4095;
  flat.white_level[0] = 4095;
  dng_simple_image source(dng_box(0, 0, 2, 2), 1, dng_type_short);
  dng_simple_image dest(dng_box(0, 0, 2, 2), 1, dng_type_short, 65535);
  dng_host host;
  EXPECT_EQ(code_of([&] { flat.LinearizeImage(host, source, dest); }), dng_code_bad_format);
  flat.white_level[0] = 65535;
  dng_simple_image bytes(dng_box(0, 0, 2, 2), 1, dng_type_byte);
  EXPECT_EQ(code_of([&] { flat.LinearizeImage(host, source, bytes); }), dng_code_unknown);
}

}  // namespace
