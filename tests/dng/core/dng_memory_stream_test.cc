// Memory streams: pages grown on demand and kept when the length shrinks,
// reads past the data, writes past 32 bits, and allocation failures.
#include "dng/core/dng_memory_stream.h"

#include <gtest/gtest.h>

#include <vector>

#include "dng/core/dng_memory_allocator.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;
using dng_test::FailingAllocator;
using dng_test::StderrCapture;

TEST(MemoryStream, PagesGrowAndSurviveAShrink) {
  dng_memory_stream stream(default_memory_allocator, nullptr, 2048);
  EXPECT_EQ(stream.TotalLength(), 0u);
  std::vector<uint8_t> data(5000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
  stream.PutBytes(data.data(), 5000);
  EXPECT_EQ(stream.PageCount(), 3u);
  EXPECT_EQ(stream.TotalLength(), 5000u);

  std::vector<uint8_t> back(5000);
  stream.SeekForRead(0);
  stream.GetBytes(back.data(), 5000);
  EXPECT_EQ(back, data);

  stream.Resize(100);
  EXPECT_EQ(stream.PageCount(), 3u);
  EXPECT_EQ(stream.TotalLength(), 100u);
  StderrCapture quiet;
  stream.SeekForRead(99);
  EXPECT_EQ(stream.GetUInt8(), data[99]);
  EXPECT_EQ(code_of([&] { stream.GetUInt8(); }), dng_code_end_of_file);
  EXPECT_EQ(code_of([&] { stream.SeekForRead(101); }), dng_code_end_of_file);
}

TEST(MemoryStream, SmallWritesAcrossPagesReadBack) {
  dng_memory_stream stream(default_memory_allocator, nullptr, 7);
  stream.SetByteSwapped(true);
  for (uint32_t i = 0; i < 3000; ++i) stream.PutUInt32(i * 2654435761u);
  stream.FlushBuffer();
  EXPECT_EQ(stream.TotalLength(), 12000u);
  EXPECT_EQ(stream.PageCount(), (12000u + 6) / 7);
  dng_memory_block* block = stream.CopyToMemoryBlock(default_memory_allocator);
  ASSERT_EQ(block->Size(), 12000u);
  const uint8_t* bytes = block->Buffer_uint8();
  uint32_t v = 2999 * 2654435761u;
  EXPECT_EQ(bytes[11996], v >> 24);
  EXPECT_EQ(bytes[11999], v & 0xFF);
  delete block;
}

TEST(MemoryStream, WritesEndingPast32BitsAreRefusedBeforeAllocating) {
  FailingAllocator allocator;
  dng_memory_stream stream(allocator, nullptr, 2048);
  StderrCapture capture;
  stream.SeekForWrite(0xFFFFFFF0u);
  uint8_t data[32] = {};
  EXPECT_EQ(code_of([&] { stream.PutBytes(data, 32); }), dng_code_memory);
  EXPECT_EQ(capture.Take(), "*** Error: Unable to allocate memory ***\n");
  EXPECT_TRUE(allocator.Requests().empty());
}

TEST(MemoryStream, AFailedPageRaisesMemoryAndKeepsTheStreamWhole) {
  FailingAllocator allocator(2);  // the second page fails
  dng_memory_stream stream(allocator, nullptr, 1024);
  std::vector<uint8_t> data(5000, 1);
  StderrCapture quiet;
  EXPECT_EQ(code_of([&] { stream.PutBytes(data.data(), 5000); }), dng_code_memory);
  EXPECT_EQ(stream.PageCount(), 1u);
  EXPECT_EQ(stream.TotalLength(), 0u);
}

TEST(MemoryStream, GapsAndRegrownBytesReadAsZeros) {
  dng_memory_stream stream(default_memory_allocator, nullptr, 64);
  std::vector<uint8_t> ones(5000, 0xFF);
  stream.PutBytes(ones.data(), 5000);
  stream.Resize(10);
  stream.SeekForWrite(6000);
  stream.PutBytes(ones.data(), 4096);  // the length grows over 10..5999 again
  std::vector<uint8_t> back(6000);
  stream.SeekForRead(0);
  stream.GetBytes(back.data(), 6000);
  std::vector<uint8_t> expected(6000, 0);
  std::fill(expected.begin(), expected.begin() + 10, 0xFF);
  EXPECT_EQ(back, expected);
}

TEST(MemoryStream, PageSizeZeroIsRefused) {
  StderrCapture quiet;
  EXPECT_EQ(code_of([] { dng_memory_stream stream(default_memory_allocator, nullptr, 0); }), dng_code_unknown);
}

}  // namespace
