#include "dng/core/dng_checked_size.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>

#include "dng/core/dng_allocation.h"
#include "dng/core/dng_limits.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::StderrCapture;

template <class F>
int32_t code_of(F f) {
  try {
    f();
  } catch (const dng_exception& e) {
    return e.Code();
  }
  return 0;
}

TEST(CheckedSize, OverflowRaisesTheGivenCode) {
  StderrCapture quiet;
  EXPECT_EQ(checked_mul_u64(UINT32_MAX, UINT32_MAX), 0xFFFFFFFE00000001ull);
  EXPECT_EQ(code_of([] { checked_mul_u64(uint64_t{1} << 32, uint64_t{1} << 32); }), dng_code_memory);
  EXPECT_EQ(code_of([] { checked_add_u64(UINT64_MAX, 1, dng_code_bad_format); }), dng_code_bad_format);
  EXPECT_EQ(checked_add_u64(UINT64_MAX - 1, 1), UINT64_MAX);
  EXPECT_EQ(checked_product_u64({30000, 30000, 3, 2}), 5400000000ull);
  EXPECT_EQ(code_of([] { checked_product_u64({uint64_t{1} << 40, uint64_t{1} << 30, 0}); }),
            dng_code_memory);  // overflow before the zero factor still counts
  EXPECT_EQ(checked_u32(UINT32_MAX), UINT32_MAX);
  EXPECT_EQ(code_of([] { checked_u32(uint64_t{UINT32_MAX} + 1); }), dng_code_memory);
}

TEST(ImageBlockSize, RefusesWhatExceedsTheCapOrABlock) {
  StderrCapture quiet;
  // The three-plane 16-bit image of the largest validated size wraps a
  // 32-bit product to 1.1 GB; here it is refused.
  EXPECT_EQ(code_of([] { image_block_size({30000, 30000, 3, 2}); }), dng_code_memory);
  EXPECT_EQ(image_block_size({1000, 1000, 3, 2}), 6000000u);
  EXPECT_EQ(image_block_size({dng_max_block_size}), dng_max_block_size);
  EXPECT_EQ(code_of([] { image_block_size({dng_max_block_size + 1}); }), dng_code_memory);

  const uint64_t previous = set_dng_image_memory_cap(1 << 20);
  EXPECT_EQ(image_block_size({1024, 1024}), 1u << 20);
  EXPECT_EQ(code_of([] { image_block_size({1025, 1024}); }), dng_code_memory);
  EXPECT_EQ(set_dng_image_memory_cap(UINT64_MAX), uint64_t{1} << 20);
  EXPECT_EQ(dng_image_memory_cap(), dng_max_block_size);  // never above a block
  set_dng_image_memory_cap(previous);
}

TEST(DngAllocation, BadAllocBecomesUnableToAllocateMemory) {
  StderrCapture capture;
  EXPECT_EQ(code_of([] { with_dng_allocation([]() -> int { throw std::bad_alloc(); }); }),
            dng_code_memory);
  EXPECT_EQ(capture.Take(), "*** Error: Unable to allocate memory ***\n");
  // Other exceptions pass unchanged.
  EXPECT_THROW(with_dng_allocation([]() -> int { throw std::runtime_error("x"); }),
               std::runtime_error);
  EXPECT_EQ(with_dng_allocation([] { return 7; }), 7);

  struct Greedy {
    Greedy() { throw std::bad_alloc(); }
  };
  EXPECT_EQ(code_of([] { delete dng_new<Greedy>(); }), dng_code_memory);
  EXPECT_EQ(*dng_make_unique<int>(5), 5);
}

}  // namespace
