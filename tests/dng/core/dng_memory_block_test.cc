#include "dng/core/dng_memory_block.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::FailingAllocator;
using dng_test::RawMallocFailure;
using dng_test::StderrCapture;

int32_t code_of(void (*f)()) {
  try {
    f();
  } catch (const dng_exception& e) {
    return e.Code();
  }
  return 0;
}

TEST(DngMemoryBlock, DataIsAlignedAndWritableToTheEndPlusSlack) {
  for (uint32_t size : {0u, 1u, 15u, 16u, 17u, 1000000u}) {
    std::unique_ptr<dng_memory_block> block(default_memory_allocator.NewBlock(size));
    EXPECT_EQ(block->Size(), size);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(block->Buffer()) % 16, 0u) << size;
    // The aligned pointer moved at most 15 bytes into the raw allocation, so
    // the logical size plus 48 bytes of slack are ours (AddressSanitizer
    // checks the write).
    std::memset(block->Buffer(), 0xA5, size + 48);
  }
}

TEST(DngMemoryBlock, SizeWhoseSlackWouldWrapIsRefusedBeforeAllocating) {
  StderrCapture quiet;
  RawMallocFailure counting(0);
  for (uint64_t size : {uint64_t{UINT32_MAX}, uint64_t{UINT32_MAX} - 63, dng_max_block_size + 1}) {
    try {
      std::unique_ptr<dng_memory_block> block(default_memory_allocator.NewBlock(static_cast<uint32_t>(size)));
      ADD_FAILURE() << "block of " << size << " bytes was made";
    } catch (const dng_exception& e) {
      EXPECT_EQ(e.Code(), dng_code_memory);
    }
  }
  EXPECT_EQ(counting.Count(), 0u);
}

TEST(DngMemoryBlock, FailedStorageRaises100005AndLeaksNothing) {
  StderrCapture capture;
  // The leak check of AddressSanitizer at exit covers the released block object.
  EXPECT_EQ(code_of([] {
              RawMallocFailure fail(1);
              delete default_memory_allocator.NewBlock(100);
            }),
            dng_code_memory);
  EXPECT_EQ(capture.Take(), "*** Error: Unable to allocate memory ***\n");
}

TEST(DngMemoryBlock, FailingAllocatorFailsOnlyTheNthBlock) {
  StderrCapture quiet;
  FailingAllocator allocator(2);
  std::unique_ptr<dng_memory_block> first(allocator.NewBlock(10));
  try {
    allocator.NewBlock(20);
    ADD_FAILURE() << "second block was made";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_memory);
  }
  std::unique_ptr<dng_memory_block> third(allocator.NewBlock(30));
  EXPECT_EQ(allocator.Requests(), (std::vector<uint32_t>{10, 20, 30}));
  EXPECT_EQ(allocator.LargestRequest(), 30u);
}

TEST(DngHeapBuffer, SizeZeroIsNullAndResizeDiscardsTheOldBlock) {
  dng_heap_buffer empty(0);
  EXPECT_EQ(empty.Buffer(), nullptr);

  dng_heap_buffer buffer(32);
  ASSERT_NE(buffer.Buffer(), nullptr);
  std::memset(buffer.Buffer(), 1, 32);
  buffer.Resize(0);
  EXPECT_EQ(buffer.Buffer(), nullptr);
  buffer.Resize(8);
  ASSERT_NE(buffer.Buffer(), nullptr);
  buffer.Release();
  EXPECT_EQ(buffer.Buffer(), nullptr);
  buffer.Release();  // releasing nothing is harmless
}

TEST(DngHeapBuffer, FailedResizeRaises100005AndStaysNull) {
  StderrCapture quiet;
  dng_heap_buffer buffer(16);
  RawMallocFailure fail(1);
  try {
    buffer.Resize(64);
    ADD_FAILURE() << "resize succeeded";
  } catch (const dng_exception& e) {
    EXPECT_EQ(e.Code(), dng_code_memory);
  }
  EXPECT_EQ(buffer.Buffer(), nullptr);
}

}  // namespace
