#include "examine/byte_reader.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "examine/print_hook.h"

namespace {

TEST(ByteOrder, ReadsBothOrders) {
  const uint8_t b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(get_u16(b, true), 0x0102);
  EXPECT_EQ(get_u16(b, false), 0x0201);
  EXPECT_EQ(get_u32(b, true), 0x01020304u);
  EXPECT_EQ(get_u32(b, false), 0x04030201u);
  EXPECT_EQ(get_u64(b, true), 0x0102030405060708ull);
  EXPECT_EQ(get_u64(b, false), 0x0807060504030201ull);
  const uint8_t big[4] = {0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(get_u32_as_real(big, true), 4294967294.0);
}

TEST(ByteReaderTest, FailsCleanlyAtTheEndAndStaysPut) {
  const uint8_t b[7] = {0, 1, 0, 0, 0, 2, 9};
  ByteReader in(b, sizeof b, true);
  uint16_t v16;
  uint32_t v32;
  Rational r;
  ASSERT_TRUE(in.u16(&v16));
  EXPECT_EQ(v16, 1);
  ASSERT_TRUE(in.u32(&v32));
  EXPECT_EQ(v32, 2u);
  EXPECT_FALSE(in.u16(&v16));
  EXPECT_FALSE(in.u32(&v32));
  EXPECT_FALSE(in.rational(&r));
  EXPECT_EQ(in.position(), 6u);
  uint8_t v8;
  EXPECT_TRUE(in.u8(&v8));
  EXPECT_FALSE(in.u8(&v8));
}

TEST(ByteReaderTest, HugeLengthsDoNotWrap) {
  const uint8_t b[16] = {};
  ByteReader in(b, sizeof b, false);
  ASSERT_TRUE(in.skip(8));
  EXPECT_FALSE(in.skip(SIZE_MAX));
  EXPECT_FALSE(in.has(SIZE_MAX - 4));
  ByteReader sub(nullptr, 0, false);
  EXPECT_FALSE(in.sub(8, SIZE_MAX, &sub));
  EXPECT_FALSE(in.sub(SIZE_MAX, 1, &sub));
  EXPECT_TRUE(in.sub(8, 8, &sub));
  EXPECT_EQ(sub.size(), 8u);
  const uint8_t* p;
  EXPECT_FALSE(in.bytes(9, &p));
  EXPECT_TRUE(in.bytes(8, &p));
}

struct InlineCase {
  int type;
  uint32_t count;
  size_t bytes;
};

TEST(ByteReaderTest, InlineValueNeverExceedsTheFieldOrTheCount) {
  const InlineCase cases[] = {{1, 0, 0}, {1, 3, 3}, {1, 4, 4}, {1, 5, 0},  {7, 4, 4},          {3, 2, 4},
                              {3, 3, 0}, {4, 1, 4}, {5, 1, 0}, {12, 1, 0}, {4, 0x40000001, 0}, {1, 0xFFFFFFFF, 0}};
  for (const InlineCase& c : cases) {
    EXPECT_EQ(inline_value_length(c.type, c.count), c.bytes) << c.type << " x " << c.count;
  }
}

TEST(CLocale, FormatsTimesInUtc) {
  char text[40];
  format_utc_time(text, sizeof text, "%Y:%m:%d %H:%M:%S", 0);
  EXPECT_STREQ(text, "1970:01:01 00:00:00");
  format_utc_time(text, sizeof text, "%Y%m%d_%H%M%S", 1000000000);
  EXPECT_STREQ(text, "20010909_014640");
}

}  // namespace
