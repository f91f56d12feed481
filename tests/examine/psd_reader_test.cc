// The bounded reader: big-endian values, clean failure at the end of the
// data or the section, and a file source that reads the same as memory.
#include "examine/psd_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "support/temp_folder.h"

namespace {

const uint8_t kBytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0, 0xFF, 0xFE};

TEST(PsdReader, ReadsBigEndianValues) {
  psd::PsdMemorySource source(kBytes, sizeof kBytes);
  psd::PsdReader in(source);
  uint16_t u16;
  uint32_t u32;
  int16_t s16;
  ASSERT_TRUE(in.readUShort(&u16));
  EXPECT_EQ(u16, 0x1234);
  ASSERT_TRUE(in.readLong(&u32));
  EXPECT_EQ(u32, 0x56789ABCu);
  ASSERT_TRUE(in.skipBytes(2));
  ASSERT_TRUE(in.readShort(&s16));
  EXPECT_EQ(s16, -2);
  EXPECT_EQ(in.position(), 10u);
  EXPECT_EQ(in.remaining(), 0u);

  psd::PsdReader again(source);
  uint64_t u64;
  ASSERT_TRUE(again.readLong64(&u64));
  EXPECT_EQ(u64, 0x123456789ABCDEF0u);
}

TEST(PsdReader, FailsAtTheEndWithoutMoving) {
  psd::PsdMemorySource source(kBytes, sizeof kBytes);
  psd::PsdReader in(source);
  ASSERT_TRUE(in.skipBytes(7));
  uint32_t u32;
  uint64_t u64;
  EXPECT_FALSE(in.readLong(&u32));
  EXPECT_FALSE(in.readLong64(&u64));
  EXPECT_EQ(in.position(), 7u);
  EXPECT_FALSE(in.skipBytes(4));
  EXPECT_FALSE(in.skipBytes(UINT64_MAX));  // no wrap-around of position + n
  EXPECT_EQ(in.position(), 7u);
  EXPECT_TRUE(in.skipBytes(3));
  uint8_t byte;
  EXPECT_FALSE(in.readByte(&byte));
  EXPECT_FALSE(in.seekTo(11));
  EXPECT_TRUE(in.seekTo(0));
  ASSERT_TRUE(in.readByte(&byte));
  EXPECT_EQ(byte, 0x12);
}

TEST(PsdReader, SectionNarrowsAndRestoresTheEnd) {
  psd::PsdMemorySource source(kBytes, sizeof kBytes);
  psd::PsdReader in(source);
  ASSERT_TRUE(in.skipBytes(2));
  {
    psd::PsdSection outer(in, 6);
    EXPECT_EQ(in.remaining(), 6u);
    {
      psd::PsdSection inner(in, 100);  // never wider than the section around it
      EXPECT_EQ(in.remaining(), 6u);
    }
    {
      psd::PsdSection inner(in, 2);
      uint32_t u32;
      EXPECT_FALSE(in.readLong(&u32));
      uint16_t u16;
      EXPECT_TRUE(in.readUShort(&u16));
      EXPECT_EQ(u16, 0x5678);
    }
    EXPECT_EQ(in.remaining(), 4u);
    EXPECT_FALSE(in.seekTo(9));
  }
  EXPECT_EQ(in.remaining(), 6u);
}

TEST(PsdReader, SaturatingProducts) {
  EXPECT_EQ(psd::saturating_multiply(0, UINT64_MAX), 0u);
  EXPECT_EQ(psd::saturating_multiply(0xFFFFFFFFu, 0xFFFFFFFFu), 0xFFFFFFFE00000001u);
  EXPECT_EQ(psd::saturating_multiply(0x100000000u, 0x100000000u), UINT64_MAX);
  EXPECT_EQ(psd::saturating_multiply(3, 5), 15u);
}

TEST(PsdReader, FileSourceReadsLikeMemoryAcrossItsReadAhead) {
  std::string data(200 * 1024 + 13, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 256);
  testing_support::TempFolder folder;
  std::string path = folder.write_file("data.bin", data);
  auto file = psd::PsdFileSource::open(path.c_str());
  ASSERT_NE(file, nullptr);
  EXPECT_EQ(file->size(), data.size());
  psd::PsdMemorySource memory(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  // Reads that straddle read-ahead blocks, go backwards, and end at the end.
  const uint64_t offsets[] = {0, 65530, 65536, 131071, 10, 204800, data.size() - 5};
  for (uint64_t offset : offsets) {
    uint8_t a[70000], b[70000];
    size_t n = std::min<uint64_t>(sizeof a, data.size() - offset);
    ASSERT_TRUE(file->read_at(offset, a, n)) << offset;
    ASSERT_TRUE(memory.read_at(offset, b, n));
    EXPECT_EQ(memcmp(a, b, n), 0) << offset;
  }
  uint8_t byte;
  EXPECT_FALSE(file->read_at(data.size(), &byte, 1));
  EXPECT_FALSE(file->read_at(UINT64_MAX, &byte, 1));
}

TEST(PsdReader, FileSourceRefusesWhatIsNotARegularFile) {
  testing_support::TempFolder folder;
  EXPECT_EQ(psd::PsdFileSource::open(folder.path().c_str()), nullptr);
  EXPECT_EQ(psd::PsdFileSource::open(folder.sub("missing").c_str()), nullptr);
  EXPECT_EQ(psd::PsdFileSource::open("/dev/null"), nullptr);
}

}  // namespace
