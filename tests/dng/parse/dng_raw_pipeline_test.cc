// The raw pipeline over whole generated DNG files, layout by layout: stage 1
// holds exactly the samples the file was written from, stage 2 matches the
// linearization formula (exact where one lookup does it all, within 1 in
// fixed point) and stage 3 equals the per-pixel kernel demosaic of stage 2.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/support/raw_reference.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"

namespace {

using testing_support::build_raw_dng;
using testing_support::image_sample;
using testing_support::RawDng;
using testing_support::RawDngOptions;
using testing_support::RawPipelineResult;

// Counts and reports the first few differences of two sample sources.
struct Mismatches {
  uint32_t count = 0;
  void add(const std::string& where, double got, double want) {
    if (count++ < 5) ADD_FAILURE() << where << ": got " << got << ", want " << want;
  }
};

std::string at(uint32_t plane, int32_t row, int32_t col) {
  return "plane " + std::to_string(plane) + " (" + std::to_string(row) + ", " + std::to_string(col) + ")";
}

void expect_stage1(const RawDng& file, const dng_simple_image& stage1) {
  ASSERT_EQ(stage1.Bounds().W(), file.width);
  ASSERT_EQ(stage1.Bounds().H(), file.height);
  ASSERT_EQ(stage1.Planes(), file.samples);
  Mismatches m;
  for (uint32_t p = 0; p < file.samples; ++p)
    for (uint32_t y = 0; y < file.height; ++y)
      for (uint32_t x = 0; x < file.width; ++x) {
        const uint32_t got = image_sample(stage1, int32_t(y), int32_t(x), p);
        if (got != file.at(x, y, p)) m.add(at(p, int32_t(y), int32_t(x)), got, file.at(x, y, p));
      }
  EXPECT_EQ(m.count, 0u);
}

// One lookup per sample: a 9- to 16-bit source with a single black level.
bool single_lookup(const RawDngOptions& o) {
  return o.bits > 8 && o.bits <= 16 && o.black_repeat_rows * o.black_repeat_cols == 1 && !o.black_delta_h &&
         !o.black_delta_v;
}

void expect_stage2(const RawDngOptions& o, const RawDng& file, const RawPipelineResult& r) {
  const dng_box& active = r.linearization.active_area;
  const dng_simple_image& stage2 = *r.stage2;
  ASSERT_EQ(stage2.Bounds().H(), active.H());
  ASSERT_EQ(stage2.Bounds().W(), active.W());
  const double tolerance = single_lookup(o) ? 0 : 1;
  Mismatches m;
  for (uint32_t p = 0; p < file.samples; ++p)
    for (int32_t y = 0; y < int32_t(active.H()); ++y)
      for (int32_t x = 0; x < int32_t(active.W()); ++x) {
        const uint32_t stored = file.at(uint32_t(x + active.left), uint32_t(y + active.top), p);
        const double want = dng_test::analytic_linear(r.linearization, p, y, x, stored);
        const double got = image_sample(stage2, y, x, p);
        if (std::fabs(got - want) > tolerance) m.add(at(p, y, x), got, want);
      }
  EXPECT_EQ(m.count, 0u);
}

void expect_stage3(const RawPipelineResult& r) {
  const dng_simple_image& stage2 = *r.stage2;
  dng_test::Mosaic mosaic{{}, int32_t(stage2.Bounds().H()), int32_t(stage2.Bounds().W())};
  for (int32_t y = 0; y < mosaic.rows; ++y)
    for (int32_t x = 0; x < mosaic.cols; ++x) mosaic.samples.push_back(uint16_t(image_sample(stage2, y, x, 0)));
  const std::vector<uint16_t> want = dng_test::reference_demosaic(mosaic, r.mosaic);
  const dng_simple_image& stage3 = *r.stage3;
  const int32_t rows = int32_t(stage3.Bounds().H()), cols = int32_t(stage3.Bounds().W());
  const dng_extent f = r.mosaic.FullScaleFactors();
  ASSERT_EQ(rows, mosaic.rows * f.v);
  ASSERT_EQ(cols, mosaic.cols * f.h);
  ASSERT_EQ(stage3.Planes(), r.mosaic.color_planes);
  Mismatches m;
  for (uint32_t k = 0; k < r.mosaic.color_planes; ++k)
    for (int32_t y = 0; y < rows; ++y)
      for (int32_t x = 0; x < cols; ++x) {
        const uint16_t w = want[(size_t(k) * rows + size_t(y)) * cols + size_t(x)];
        const uint32_t got = image_sample(stage3, y, x, k);
        if (got != w) m.add(at(k, y, x), got, w);
      }
  EXPECT_EQ(m.count, 0u);
}

TEST(RawPipeline, EveryLayoutReadsLinearizesAndInterpolatesToItsReference) {
  for (const RawDngOptions& o : testing_support::raw_dng_layouts()) {
    SCOPED_TRACE(o.name);
    const RawDng file = build_raw_dng(o);
    dng_test::StderrCapture diagnostics;
    const RawPipelineResult r = testing_support::run_raw_pipeline(file.bytes);
    const std::string err = diagnostics.Take();
    ASSERT_EQ(r.code, 0) << "at " << testing_support::raw_stage_name(r.stage) << "\n" << err;
    ASSERT_NE(r.stage1, nullptr);
    expect_stage1(file, *r.stage1);
    ASSERT_NE(r.stage2, nullptr);
    expect_stage2(o, file, r);
    if (o.cfa_rows.empty()) {
      EXPECT_EQ(r.stage3, nullptr);
    } else {
      ASSERT_NE(r.stage3, nullptr);
      expect_stage3(r);
    }
  }
}

// The generated scene is what the layouts rely on: each reaches 0 and the
// largest value of its depth.
TEST(RawPipeline, GeneratedScenesReachBlackAndWhite) {
  for (const RawDngOptions& o : testing_support::raw_dng_layouts()) {
    if (o.scene) continue;
    SCOPED_TRACE(o.name);
    const RawDng file = build_raw_dng(o);
    const uint64_t max = o.bits >= 32 ? 0xFFFFFFFFull : (1ull << o.bits) - 1;
    uint32_t lowest = UINT32_MAX, highest = 0;
    for (uint32_t v : file.stage1) {
      lowest = std::min(lowest, v);
      highest = std::max(highest, v);
    }
    EXPECT_EQ(lowest, 0u);
    EXPECT_EQ(highest, max);
  }
}

}  // namespace
