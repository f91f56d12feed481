#include "dng/core/dng_area_task.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <algorithm>
#include <functional>
#include <ostream>
#include <random>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_filter_task.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::FailingAllocator;
using dng_test::StderrCapture;

// Records the calls a runner makes.
class RecordingTask : public dng_area_task {
 public:
  RecordingTask(dng_extent cell = dng_extent(1, 1), dng_extent limit = dng_extent(256, 256),
                dng_box align1 = dng_box())
      : align1_(align1) {
    cell_size_ = cell;
    tile_size_limit_ = limit;
  }
  dng_box AlignTile1() const override { return align1_; }
  void Begin(uint32_t threads, const dng_extent& tile_size, dng_memory_allocator&,
             dng_cancel_hook*) override {
    begun = threads;
    begin_tile = tile_size;
  }
  void ProcessTile(uint32_t thread, const dng_box& tile, dng_cancel_hook*) override {
    EXPECT_EQ(thread, 0u);
    tiles.push_back(tile);
  }
  void End(uint32_t threads) override { ended = threads; }

  dng_box align1_;
  uint32_t begun = 0, ended = 0;
  dng_extent begin_tile;
  std::vector<dng_box> tiles;
};

struct TileSizeCase {
  const char* name;
  dng_box area;
  dng_extent cell, limit;
  dng_extent expected;
};
void PrintTo(const TileSizeCase& c, std::ostream* os) { *os << c.name; }

class ChooseTileSizeTest : public ::testing::TestWithParam<TileSizeCase> {};

TEST_P(ChooseTileSizeTest, EvenTilesWithinTheLimit) {
  const TileSizeCase& c = GetParam();
  RecordingTask task(c.cell, c.limit);
  EXPECT_EQ(task.ChooseTileSize(c.area), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ChooseTileSizeTest,
    ::testing::Values(
        TileSizeCase{"spread_1000x600", dng_box(0, 0, 1000, 600), {1, 1}, {256, 256}, {250, 200}},
        TileSizeCase{"one_tile_100x100", dng_box(0, 0, 100, 100), {1, 1}, {256, 256}, {100, 100}},
        TileSizeCase{"split_257", dng_box(0, 0, 257, 10), {1, 1}, {256, 256}, {129, 10}},
        TileSizeCase{"cell_2x2_on_5x5", dng_box(0, 0, 5, 5), {2, 2}, {256, 256}, {6, 6}},
        TileSizeCase{"rounded_to_cells", dng_box(0, 0, 1000, 1000), {3, 3}, {256, 256}, {252, 252}},
        TileSizeCase{"cells_past_limit", dng_box(0, 0, 256, 256), {3, 3}, {256, 256}, {255, 255}},
        // An empty area, and a limit below the cell size, still give at
        // least one cell, so the walk always advances.
        TileSizeCase{"empty_area", dng_box(5, 5, 5, 5), {1, 1}, {256, 256}, {1, 1}},
        TileSizeCase{"empty_area_cells", dng_box(0, 0, 0, 0), {8, 8}, {256, 256}, {8, 8}},
        TileSizeCase{"limit_below_cell", dng_box(0, 0, 100, 100), {8, 8}, {4, 4}, {8, 8}},
        TileSizeCase{"empty_limit", dng_box(0, 0, 10, 10), {1, 1}, {0, 0}, {1, 1}}));

TEST(RunAreaTask, WalksTilesInOrderAndCallsBeginAndEnd) {
  RecordingTask task;
  run_area_task_single(task, dng_box(0, 0, 257, 10), default_memory_allocator, nullptr);
  EXPECT_EQ(task.begun, 1u);
  EXPECT_EQ(task.ended, 1u);
  EXPECT_EQ(task.tiles, (std::vector<dng_box>{dng_box(0, 0, 129, 10), dng_box(129, 0, 257, 10)}));

  RecordingTask cells(dng_extent(2, 2));
  run_area_task_single(cells, dng_box(0, 0, 5, 5), default_memory_allocator, nullptr);
  EXPECT_EQ(cells.tiles, std::vector<dng_box>{dng_box(0, 0, 5, 5)});
}

TEST(RunAreaTask, EmptyAreaAndTinyLimitsEnd) {
  RecordingTask empty;
  run_area_task_single(empty, dng_box(3, 3, 3, 40), default_memory_allocator, nullptr);
  EXPECT_TRUE(empty.tiles.empty());

  // A limit of 4 below an 8 x 8 cell: tiles of one cell, and the walk ends.
  RecordingTask reduced(dng_extent(8, 8), dng_extent(4, 4));
  run_area_task_single(reduced, dng_box(0, 0, 20, 17), default_memory_allocator, nullptr);
  EXPECT_EQ(reduced.tiles.size(), 9u);
  for (const dng_box& t : reduced.tiles) EXPECT_LE(t.H(), 8u);
}

TEST(RunAreaTask, AlignmentKeepsTilesInsideGridCells) {
  std::mt19937 rng(41);
  for (int round = 0; round < 50; ++round) {
    const dng_box area(int32_t(rng() % 100), int32_t(rng() % 100), 0, 0);
    const dng_box a(area.top, area.left, area.top + 1 + int32_t(rng() % 400), area.left + 1 + int32_t(rng() % 400));
    RecordingTask task(dng_extent(1, 1), dng_extent(1 + int32_t(rng() % 100), 1 + int32_t(rng() % 100)),
                       dng_box(0, 0, 64, 64));
    run_area_task_single(task, a, default_memory_allocator, nullptr);
    uint64_t covered = 0;
    for (const dng_box& t : task.tiles) {
      EXPECT_EQ(t.top / 64, (t.bottom - 1) / 64) << "round " << round;
      EXPECT_EQ(t.left / 64, (t.right - 1) / 64) << "round " << round;
      EXPECT_EQ(intersect_boxes(t, a), t);
      covered += uint64_t(t.H()) * t.W();
    }
    EXPECT_EQ(covered, uint64_t(a.H()) * a.W());  // disjoint tiles inside the area cover it
  }
}

class ThrowingHook : public dng_cancel_hook {
 public:
  void Poll() override {
    ++polls;
    if (throw_at != 0 && polls == throw_at) throw_dng_code(dng_code_canceled);
  }
  int polls = 0;
  int throw_at = 0;
};

TEST(RunAreaTask, CancelHookPolledBeforeEveryTile) {
  RecordingTask task;
  ThrowingHook counting;
  run_area_task_single(task, dng_box(0, 0, 600, 600), default_memory_allocator, &counting);
  EXPECT_EQ(counting.polls, int(task.tiles.size()));

  RecordingTask stopped;
  ThrowingHook first;
  first.throw_at = 1;
  dng_host host(nullptr, &first);
  try {
    host.RunAreaTask(stopped, dng_box(0, 0, 600, 600));
    ADD_FAILURE() << "the task ran to its end";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_canceled);
  }
  EXPECT_TRUE(stopped.tiles.empty());
  EXPECT_EQ(stopped.begun, 1u);
  EXPECT_EQ(stopped.ended, 0u);
}

TEST(DngHost, DefaultsRetryableCodesAndFactories) {
  StderrCapture quiet;
  dng_host host;
  EXPECT_EQ(&host.Allocator(), &default_memory_allocator);
  EXPECT_TRUE(host.ReadMetadata());
  EXPECT_EQ(host.TargetSize(), 0u);
  EXPECT_FALSE(host.KeepStage1() || host.KeepStage2() || host.KeepPrivateData() || host.KeepOriginalRawData());
  for (int32_t code : {100003, 100005}) EXPECT_TRUE(host.IsRetryableCode(code)) << code;
  for (int32_t code : {0, 100000, 100002, 100006, 100011, -1}) EXPECT_FALSE(host.IsRetryableCode(code)) << code;
  host.PollCancel();  // no hook: nothing happens

  FailingAllocator allocator(1);
  dng_host failing(&allocator);
  try {
    delete failing.AllocateBlock(10);
    ADD_FAILURE() << "block was made";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_memory);
  }
  EXPECT_EQ(allocator.Requests(), std::vector<uint32_t>{10});
}

// dst = sum of the 3 x 3 neighbourhood of src (edges repeated), one plane.
class BoxSumTask : public dng_filter_task {
 public:
  BoxSumTask(const dng_image& src, dng_image& dst, dng_extent limit) : dng_filter_task(src, dst) {
    tile_size_limit_ = limit;
  }
  dng_box SourceAreaFor(const dng_box& a) const override {
    return dng_box(a.top - 1, a.left - 1, a.bottom + 1, a.right + 1);
  }
  void FilterArea(uint32_t, const dng_pixel_buffer& src, dng_pixel_buffer& dst) override {
    ranges.push_back(src.pixel_range);
    for (int32_t r = dst.area.top; r < dst.area.bottom; ++r)
      for (int32_t c = dst.area.left; c < dst.area.right; ++c) {
        uint32_t sum = 0;
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc) sum += *static_cast<const uint16_t*>(src.Pixel(r + dr, c + dc, 0));
        *static_cast<uint16_t*>(dst.Pixel(r, c, 0)) = uint16_t(sum);
      }
  }
  std::vector<uint32_t> ranges;
};

TEST(DngFilterTask, OutputIndependentOfTheTileSize) {
  std::mt19937 rng(42);
  const dng_box bounds(0, 0, 37, 53);
  dng_simple_image src(bounds, 1, 3, 4000);
  for (int32_t r = 0; r < 37; ++r)
    for (int32_t c = 0; c < 53; ++c) *static_cast<uint16_t*>(src.Buffer().Pixel(r, c, 0)) = uint16_t(rng() % 4000);
  auto at = [&](int32_t r, int32_t c) {
    return *static_cast<uint16_t*>(src.Buffer().Pixel(std::clamp(r, 0, 36), std::clamp(c, 0, 52), 0));
  };
  dng_host host;
  for (dng_extent limit : {dng_extent(256, 256), dng_extent(7, 5), dng_extent(1, 1), dng_extent(16, 3)}) {
    dng_simple_image dst(bounds, 1, 3);
    BoxSumTask task(src, dst, limit);
    host.RunAreaTask(task, bounds);
    for (int32_t r = 0; r < 37; ++r)
      for (int32_t c = 0; c < 53; ++c) {
        uint32_t sum = 0;
        for (int dr = -1; dr <= 1; ++dr)
          for (int dc = -1; dc <= 1; ++dc) sum += at(r + dr, c + dc);
        ASSERT_EQ(*static_cast<uint16_t*>(dst.Buffer().Pixel(r, c, 0)), uint16_t(sum))
            << r << "," << c << " limit " << limit.v << "x" << limit.h;
      }
    EXPECT_EQ(task.ranges.front(), 4000u);  // same type: the image's range
  }
}

// Records the block sizes and the buffer descriptions a filter task makes.
class ProbeTask : public dng_filter_task {
 public:
  ProbeTask(const dng_image& src, dng_image& dst, uint32_t src_type, dng_extent source_tile = dng_extent())
      : dng_filter_task(src, dst), source_tile_(source_tile) {
    src_pixel_type_ = src_type;
  }
  dng_extent SourceTileSizeFor(const dng_extent& tile) const override {
    return source_tile_.v != 0 ? source_tile_ : dng_filter_task::SourceTileSizeFor(tile);
  }
  void FilterArea(uint32_t, const dng_pixel_buffer& src, dng_pixel_buffer&) override { seen = src; }
  dng_extent source_tile_;
  dng_pixel_buffer seen;
};

TEST(DngFilterTask, RowsPaddedTo16BytesAndRangesByType) {
  StderrCapture quiet;
  dng_simple_image src(dng_box(0, 0, 3, 5), 2, 3, 1000);
  dng_simple_image dst(dng_box(0, 0, 3, 5), 1, 3);
  struct Case {
    uint32_t type, padded_cols, range;
  };
  for (const Case& c : {Case{3, 8, 1000}, Case{1, 16, 255}, Case{4, 8, 0xFFFFFFFF}, Case{8, 8, 65535},
                        Case{11, 8, 0}}) {
    FailingAllocator allocator;
    ProbeTask task(src, dst, c.type);
    run_area_task_single(task, dng_box(0, 0, 3, 5), allocator, nullptr);
    const uint32_t size = tag_type_size(c.type);
    EXPECT_EQ(allocator.Requests().front(), c.padded_cols * 2 * 3 * size) << c.type;
    EXPECT_EQ(task.seen.plane_step, int32_t(c.padded_cols)) << c.type;
    EXPECT_EQ(task.seen.row_step, int32_t(2 * c.padded_cols)) << c.type;
    EXPECT_EQ(task.seen.pixel_range, c.range) << c.type;
  }
  EXPECT_EQ(dng_filter_task::PaddedColumns(5, 8), 6u);
  EXPECT_EQ(dng_filter_task::PaddedColumns(17, 1), 32u);

  // A buffer type without a range rule is refused.
  ProbeTask bad(src, dst, 12);
  try {
    run_area_task_single(bad, dng_box(0, 0, 3, 5), default_memory_allocator, nullptr);
    ADD_FAILURE() << "type 12 buffer was made";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_unknown);
  }
}

TEST(DngFilterTask, HugeBuffersRefusedBeforeAllocating) {
  StderrCapture quiet;
  dng_simple_image src(dng_box(0, 0, 3, 5), 3, 3);
  dng_simple_image dst(dng_box(0, 0, 3, 5), 3, 3);
  FailingAllocator allocator;
  ProbeTask task(src, dst, 11, dng_extent(60000, 60000));
  try {
    run_area_task_single(task, dng_box(0, 0, 3, 5), allocator, nullptr);
    ADD_FAILURE() << "huge buffers were made";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_memory);
  }
  EXPECT_TRUE(allocator.Requests().empty());
}

}  // namespace
