// The linearization info taken from a directory: table and deltas read from
// their positions in either byte order, the whole image as the active area
// when none is given, and arrays past the end refused before sizing.
#include <gtest/gtest.h>

#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_linearization_parse.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;

TEST(LinearizationParse, ReadsTablesAndDeltasInBothByteOrders) {
  for (bool big : {false, true}) {
    SCOPED_TRACE(big ? "MM" : "II");
    // Table of 3 shorts at 4, two SHORT column deltas at 10, one SRATIONAL
    // row delta (-3/2) at 14.
    std::vector<uint8_t> f(22, 0);
    auto put16 = [&](size_t at, uint16_t v) {
      f[at + (big ? 1 : 0)] = static_cast<uint8_t>(v);
      f[at + (big ? 0 : 1)] = static_cast<uint8_t>(v >> 8);
    };
    auto put32 = [&](size_t at, uint32_t v) {
      for (int i = 0; i < 4; ++i) f[at + (big ? 3 - i : i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put16(4, 10);
    put16(6, 2000);
    put16(8, 65535);
    put16(10, 5);
    put16(12, 7);
    put32(14, static_cast<uint32_t>(-3));
    put32(18, 2);
    dng_ifd ifd;
    ifd.image_width = 2;
    ifd.image_length = 1;
    ifd.linearization_table_count = 3;
    ifd.linearization_table_position = 4;
    ifd.black_level_delta_h_type = dng_type_short;
    ifd.black_level_delta_h_count = 2;
    ifd.black_level_delta_h_position = 10;
    ifd.black_level_delta_v_type = dng_type_srational;
    ifd.black_level_delta_v_count = 1;
    ifd.black_level_delta_v_position = 14;
    ifd.black_level[0][0][0] = 64.3;
    ifd.white_level[0] = 4000;
    dng_stream stream(f.data(), static_cast<uint32_t>(f.size()));
    stream.SetByteSwapped(big);
    dng_host host;
    dng_linearization_info info;
    parse_linearization_info(host, stream, ifd, info);
    EXPECT_EQ(info.table, (std::vector<uint16_t>{10, 2000, 65535}));
    EXPECT_EQ(info.black_delta_h, (std::vector<double>{5, 7}));
    EXPECT_EQ(info.black_delta_v, (std::vector<double>{-1.5}));
    EXPECT_EQ(info.active_area, dng_box(0, 0, 1, 2));
    EXPECT_DOUBLE_EQ(info.black_level[0][0][0], 64.30078125);  // quantized to 1/256
    EXPECT_EQ(info.white_level[0], 4000);
  }
}

TEST(LinearizationParse, ArraysPastTheEndAreRefused) {
  std::vector<uint8_t> f(16, 0);
  dng_host host;
  dng_test::StderrCapture quiet;
  for (int which = 0; which < 2; ++which) {
    dng_ifd ifd;
    if (which == 0) {
      ifd.linearization_table_count = 65536;
      ifd.linearization_table_position = 8;
    } else {
      ifd.black_level_delta_v_type = dng_type_double;
      ifd.black_level_delta_v_count = 0xFFFFFFFF;
      ifd.black_level_delta_v_position = 0;
    }
    dng_stream stream(f.data(), static_cast<uint32_t>(f.size()));
    dng_linearization_info info;
    EXPECT_EQ(code_of([&] { parse_linearization_info(host, stream, ifd, info); }), dng_code_end_of_file) << which;
  }
}

}  // namespace
