// A small file that claims a 30000 x 30000 image: every one of its 13924
// tiles points at the same 256 x 256 lossless tile. The pipeline must end
// cleanly within the image-memory cap: stage 1 is read whole (the shared
// tile repeated), and the first stage that would exceed the cap is refused
// before it allocates.
#include <gtest/gtest.h>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"

namespace {

using testing_support::RawDngOptions;
using testing_support::RawPipelineResult;
using testing_support::RawStage;

struct CapGuard {
  explicit CapGuard(uint64_t bytes) : previous(set_dng_image_memory_cap(bytes)) {}
  ~CapGuard() { set_dng_image_memory_cap(previous); }
  uint64_t previous;
};

TEST(RawLarge, TilesAllPointingAtOneSmallTileEndCleanly) {
  RawDngOptions o;
  o.name = "30000 x 30000 of one shared tile";
  o.width = 30000;
  o.height = 30000;
  o.compression = 7;
  o.bits = 8;
  o.jpeg_components = 2;
  o.tile_width = 256;
  o.tile_length = 256;
  o.share_first_tile = true;
  const testing_support::RawDng file = testing_support::build_raw_dng(o);
  ASSERT_EQ(file.tile_offsets.size(), 118u * 118u);
  ASSERT_LT(file.bytes.size(), 200000u);

  // Stage 1 (one byte a sample, 900 MB) fits; stage 2 (two bytes) does not.
  CapGuard cap(uint64_t{1} << 30);
  dng_test::StderrCapture diagnostics;
  const RawPipelineResult r = testing_support::run_raw_pipeline(file.bytes);
  const std::string err = diagnostics.Take();
  EXPECT_EQ(r.code, dng_code_memory) << err;
  EXPECT_EQ(r.stage, RawStage::kLinearize) << testing_support::raw_stage_name(r.stage);
  ASSERT_NE(r.stage1, nullptr);
  for (uint32_t y = 0; y < 30000; y += 997) {
    for (uint32_t x = 0; x < 30000; x += 1009) {
      ASSERT_EQ(testing_support::image_sample(*r.stage1, int32_t(y), int32_t(x), 0),
                testing_support::raw_scene_sample(o, x % 256, y % 256, 0))
          << y << ", " << x;
    }
  }
  EXPECT_EQ(r.stage2, nullptr);
}

}  // namespace
