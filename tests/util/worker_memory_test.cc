#include "util/worker_memory.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

constexpr uint64_t kGiB = uint64_t{1} << 30;

// Each worker's share of the machine, and the floor below which no worker
// is limited: a run's workers together stay within three quarters of
// physical memory unless the floor of each asks for more.
TEST(WorkerMemory, EachWorkerGetsItsShareOfTheMachineButNeverLessThanTheFloor) {
  struct Case {
    uint64_t physical;
    int workers;
    uint64_t limit;
  } cases[] = {
      {24 * kGiB, 8, 24 * kGiB / 4 * 3 / 8},  // 2.25 GiB each
      {64 * kGiB, 1, 48 * kGiB},
      {64 * kGiB, 3, 16 * kGiB},
      {8 * kGiB, 8, worker_memory::kFloor},   // the floor: 8 x 1.8 GiB
      {0, 4, worker_memory::kFloor},          // the machine did not say
      {64 * kGiB, 0, 48 * kGiB},              // a count below one counts as one
  };
  for (const Case& c : cases) {
    const uint64_t limit = worker_memory::limit_for(c.physical, c.workers);
    EXPECT_EQ(limit, c.limit) << c.physical << " " << c.workers;
    if (limit > worker_memory::kFloor) {
      EXPECT_LE(limit * static_cast<uint64_t>(c.workers > 0 ? c.workers : 1), c.physical / 4 * 3);
    }
  }
}

// The floor holds the largest DNG the budget is made for: two images of
// 150 megapixels in three 16-bit planes (14204 x 10652, the sensor sold as
// 150 megapixels), besides the program itself.
TEST(WorkerMemory, TheFloorHoldsTwoImagesOf150MegapixelsInThree16BitPlanes) {
  const uint64_t image = uint64_t{14204} * 10652 * 3 * 2;
  const uint64_t cap = worker_memory::image_cap_for(worker_memory::kFloor);
  EXPECT_GE(cap, image);
  EXPECT_LE(2 * cap + worker_memory::kProgramReserve, worker_memory::kFloor);
  // At 2.25 GiB (24 GiB shared by eight) a block may take about 1 GiB.
  EXPECT_EQ(worker_memory::image_cap_for(24 * kGiB / 4 * 3 / 8), (2304 - 128) * (uint64_t{1} << 20) / 2);
  // A limit that leaves nothing beyond the program allows no image at all.
  EXPECT_EQ(worker_memory::image_cap_for(worker_memory::kProgramReserve), 0u);
  EXPECT_EQ(worker_memory::image_cap_for(0), 0u);
}

}  // namespace
