// Small raw DNG files of every kind the pipeline reads (uncompressed and
// lossless, CFA and LinearRaw, strips and tiles, both byte orders, the
// category-16 quirk, linearization tags, a doubled layout) as seeds of the
// pipeline fuzz target: each goes through the whole pipeline without an
// error, is written into the folder DNG_PIPELINE_FUZZ_SEEDS names (to
// refresh fuzz/corpus/dng_pipeline), else into a private folder, and reads
// back whole.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "support/temp_folder.h"

namespace {

using testing_support::RawDngOptions;

std::vector<RawDngOptions> seed_layouts() {
  std::vector<RawDngOptions> seeds;
  auto add = [&](const char* name, auto&& change) {
    RawDngOptions o;
    o.name = name;
    o.width = 20;
    o.height = 14;
    change(o);
    seeds.push_back(o);
  };
  add("cfa_u16_strips", [](RawDngOptions& o) { o.tile_length = 5; });
  add("cfa_u10_tiles_mm", [](RawDngOptions& o) {
    o.bits = 10;
    o.tile_width = o.tile_length = 16;
    o.big_endian = true;
  });
  add("cfa_ljpeg14_two_components_tiles", [](RawDngOptions& o) {
    o.bits = 14;
    o.compression = 7;
    o.jpeg_components = 2;
    o.tile_width = o.tile_length = 16;
  });
  add("cfa_ljpeg12_strips_quirk_mm", [](RawDngOptions& o) {
    o.bits = 12;
    o.compression = 7;
    o.tile_length = 7;
    o.dng_version = 0x01000000;
    o.big_endian = true;
  });
  add("cfa_linearized_active_crop", [](RawDngOptions& o) {
    o.bits = 12;
    o.linearization_table = {0, 500, 1800, 4095, 9000, 30000, 65535};
    o.black_repeat_rows = o.black_repeat_cols = 2;
    o.black_levels = {40, 44, 41, 43};
    o.black_delta_h = o.black_delta_v = true;
    o.active_area = std::vector<uint32_t>{1, 2, 13, 18};
    o.default_crop_origin = {{1, 1}, {1, 1}};
    o.default_crop_size = {{12, 1}, {10, 1}};
  });
  add("cfa_cygm_layout2_ljpeg", [](RawDngOptions& o) {
    o.cfa_rows = {"CY", "GM"};
    o.cfa_colors = "CYGM";
    o.cfa_layout = 2;
    o.compression = 7;
    o.restart_interval = 20;
  });
  add("linear_raw_u16_tiles", [](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.tile_width = o.tile_length = 16;
  });
  add("linear_raw_ljpeg8_three_components", [](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.bits = 8;
    o.compression = 7;
    o.jpeg_components = 3;
  });
  return seeds;
}

TEST(DngPipelineSeeds, RunCleanAndAreWrittenAsFuzzSeeds) {
  testing_support::TempFolder scratch;
  const char* named = std::getenv("DNG_PIPELINE_FUZZ_SEEDS");
  const std::string folder = named != nullptr && named[0] != '\0' ? std::string(named) : scratch.path();
  for (const RawDngOptions& o : seed_layouts()) {
    SCOPED_TRACE(o.name);
    const std::string bytes = testing_support::build_raw_dng(o).bytes;
    {
      dng_test::StderrCapture quiet;
      const auto r = testing_support::run_raw_pipeline(bytes);
      EXPECT_EQ(r.code, 0) << testing_support::raw_stage_name(r.stage);
    }
    const std::string path = folder + "/" + o.name + ".dng";
    {
      std::ofstream out(path, std::ios::binary);
      out << bytes;
      ASSERT_TRUE(out.good()) << path;
    }
    EXPECT_EQ(testing_support::read_file(path), bytes);
  }
}

}  // namespace
