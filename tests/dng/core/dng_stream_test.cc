// Byte streams over caller memory and over a recording storage: windows and
// physical reads, short reads, hostile counts and positions, byte order,
// writes through the window, and the conversions of tag values.
#include "dng/core/dng_stream.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "dng/core/dng_area_task.h"  // dng_cancel_hook
#include "dng/core/dng_byte_order_guard.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/code_of.h"
#include "dng/support/counting_stream.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;
using dng_test::CountingStream;
using dng_test::StderrCapture;
using dng_test::Transfer;

std::vector<uint8_t> random_bytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> bytes(n);
  for (auto& b : bytes) b = static_cast<uint8_t>(random());
  return bytes;
}

TEST(Stream, ViewReadsWithoutStorageAndEndsAtItsCount) {
  StderrCapture quiet;
  const uint8_t bytes[10] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  dng_stream view(bytes, sizeof bytes);
  EXPECT_EQ(view.TotalLength(), 10u);
  uint8_t got[10] = {};
  view.GetBytes(got, 10);
  EXPECT_EQ(got[9], 10);
  EXPECT_EQ(code_of([&] { view.GetUInt8(); }), dng_code_end_of_file);
  EXPECT_EQ(view.Position(), 10u);
  EXPECT_EQ(quiet.Take(), "*** Error: Unexpected end-of-file ***\n");

  // Seeks: to the length is allowed, one more is not and leaves the position.
  view.SeekForRead(10);
  EXPECT_EQ(code_of([&] { view.SeekForRead(11); }), dng_code_end_of_file);
  EXPECT_EQ(view.Position(), 10u);

  // A view is never written.
  view.SeekForWrite(0);
  EXPECT_EQ(code_of([&] { view.PutUInt8(0); }), dng_code_unknown);
  EXPECT_EQ(view.GetUInt8(), 1);
}

TEST(Stream, ShortReadCopiesAdvancesThenFails) {
  StderrCapture quiet;
  std::vector<uint8_t> bytes = random_bytes(5000, 1);
  CountingStream stream(bytes);
  stream.SeekForRead(4999);
  uint8_t got[2] = {0, 0xEE};
  EXPECT_EQ(code_of([&] { stream.GetBytes(got, 2); }), dng_code_end_of_file);
  EXPECT_EQ(got[0], bytes[4999]);
  EXPECT_EQ(got[1], 0xEE);
  EXPECT_EQ(stream.Position(), 5000u);
  // The stream stays usable.
  stream.SeekForRead(0);
  EXPECT_EQ(stream.GetUInt8(), bytes[0]);
}

TEST(Stream, ScatteredReadsCostOneReadPerAlignedBlock) {
  std::vector<uint8_t> bytes = random_bytes(3 * 4096 + 100, 2);
  CountingStream stream(bytes);
  // Entries of a directory and their values, all in the second block.
  for (uint32_t position : {4100u, 4200u, 8000u, 4096u, 8191u}) {
    stream.SeekForRead(position);
    EXPECT_EQ(stream.GetUInt8(), bytes[position]);
  }
  EXPECT_EQ(stream.Reads(), (std::vector<Transfer>{{4096, 4096}}));
  // A value straddling two blocks reads both; the last block is short.
  stream.ClearRecords();
  stream.SeekForRead(3 * 4096 - 2);
  EXPECT_EQ(stream.GetUInt32(), uint32_t{bytes[12286]} | uint32_t{bytes[12287]} << 8 |
                                    uint32_t{bytes[12288]} << 16 | uint32_t{bytes[12289]} << 24);
  EXPECT_EQ(stream.Reads(), (std::vector<Transfer>{{8192, 4096}, {12288, 100}}));
  EXPECT_EQ(stream.LengthQueries(), 0u);  // cached from the first refill
}

TEST(Stream, ReadsOfAWindowOrMoreGoStraightToTheCaller) {
  std::vector<uint8_t> bytes = random_bytes(200000, 3);
  CountingStream stream(bytes);
  stream.SeekForRead(10);
  EXPECT_EQ(stream.GetUInt8(), bytes[10]);  // window [0, 4096)
  std::vector<uint8_t> got(65536);
  stream.GetBytes(got.data(), 65536);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 11, bytes.begin() + 11 + 65536), got);
  // The rest of the window first, then one read of what remains.
  EXPECT_EQ(stream.Reads(), (std::vector<Transfer>{{0, 4096}, {4096, 65536 - 4085}}));
  EXPECT_EQ(stream.Position(), 11u + 65536);
}

// Random seeks (inside, at and past the end) and reads of every size from
// tiny to hostile; each must copy exactly the bytes that exist, advance past
// them, fail with 100011 when the count exceeds them, and never ask the
// storage for bytes outside it. The destination holds exactly the bytes
// expected, so any copy past them is an overrun that the address sanitizer
// reports.
TEST(Stream, GetBytesAgreesWithAPlainModel) {
  StderrCapture quiet;
  const uint32_t length = 70000;
  std::vector<uint8_t> bytes = random_bytes(length, 4);
  std::mt19937 random(5);
  CountingStream stream(bytes);
  dng_stream view(bytes.data(), length);
  const uint32_t counts[] = {0, 1, 2, 3, 4, 7, 100, 4095, 4096, 4097, 8192, 65536, 69999, 70000,
                             70001, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFF000};
  for (int round = 0; round < 3000; ++round) {
    uint32_t position = std::uniform_int_distribution<uint32_t>(0, length + 10)(random);
    if (round % 17 == 0) position = 0xFFFFFFFF - std::uniform_int_distribution<uint32_t>(0, 5000)(random);
    uint32_t count = counts[random() % std::size(counts)];
    if (round % 3 == 0) count = std::uniform_int_distribution<uint32_t>(0, 9000)(random);
    uint32_t available = position < length ? length - position : 0;
    uint32_t copied = std::min(count, available);
    bool fails = count > available;
    for (dng_stream* s : {static_cast<dng_stream*>(&stream), &view}) {
      s->SeekForWrite(position);
      std::vector<uint8_t> got(copied);
      int32_t code = code_of([&] { s->GetBytes(got.data(), count); });
      ASSERT_EQ(code, fails ? dng_code_end_of_file : 0) << position << " " << count;
      ASSERT_EQ(s->Position(), position + copied) << position << " " << count;
      ASSERT_TRUE(std::equal(got.begin(), got.end(), bytes.begin() + (copied ? position : 0)))
          << position << " " << count;
    }
  }
  for (const Transfer& read : stream.Reads()) {
    EXPECT_LE(read.count, length);
    EXPECT_LE(read.offset, length - read.count);
  }
}

TEST(Stream, ByteOrderAndReals) {
  const uint8_t bytes[] = {0x3F, 0xF0, 0, 0, 0, 0, 0, 0};
  dng_stream view(bytes, sizeof bytes);
  view.SetByteSwapped(true);
  EXPECT_EQ(view.GetReal64(), 1.0);
  view.SeekForRead(0);
  view.SetByteSwapped(false);
  double tiny = view.GetReal64();
  EXPECT_TRUE(std::fpclassify(tiny) == FP_SUBNORMAL);
  EXPECT_NEAR(tiny, 3.03e-319, 1e-321);
  view.SeekForRead(0);
  EXPECT_EQ(view.GetUInt16(), 0xF03Fu);
  view.SetByteSwapped(true);
  view.SeekForRead(0);
  EXPECT_EQ(view.GetUInt16(), 0x3FF0u);
  view.SeekForRead(0);
  EXPECT_EQ(view.GetUInt32(), 0x3FF00000u);
  view.SeekForRead(0);
  EXPECT_EQ(view.GetReal32(), 1.875f);  // 3FF00000
}

TEST(Stream, ByteOrderGuardsNestAndRestore) {
  const uint8_t bytes[] = {0};
  dng_stream view(bytes, 1);
  {
    TempBigEndian big(view);
    EXPECT_TRUE(view.IsByteSwapped());
    {
      TempLittleEndian little(view);
      EXPECT_FALSE(view.IsByteSwapped());
    }
    EXPECT_TRUE(view.IsByteSwapped());
  }
  EXPECT_FALSE(view.IsByteSwapped());
  view.SetByteSwapped(true);
  {
    TempBigEndian explicit_little(view, false);
    EXPECT_FALSE(view.IsByteSwapped());
  }
  EXPECT_TRUE(view.IsByteSwapped());
}

TEST(Stream, OriginalFilePosition) {
  const uint8_t bytes[8] = {};
  dng_stream cut(bytes, 8, 1000);
  cut.SeekForRead(5);
  EXPECT_EQ(cut.OriginalFilePosition(), 1005u);
  dng_stream uncut(bytes, 8, -1);
  uncut.SeekForRead(5);
  EXPECT_EQ(uncut.OriginalFilePosition(), 0xFFFFFFFFu);
}

TEST(Stream, WritesCollectInTheWindowUntilFlushed) {
  CountingStream stream({});
  stream.SetByteSwapped(true);
  stream.PutUInt16(0x1234);
  stream.PutUInt32(0x56789ABC);
  stream.PutUInt8(0xDE);
  stream.PutReal64(1.0);
  stream.SetByteSwapped(false);
  stream.PutUInt16(0x1234);
  stream.PutReal32(1.0f);
  EXPECT_TRUE(stream.Writes().empty());
  EXPECT_EQ(stream.TotalLength(), 21u);  // written, not yet stored
  stream.FlushBuffer();
  EXPECT_EQ(stream.Writes(), (std::vector<Transfer>{{0, 21}}));
  EXPECT_EQ(stream.Bytes(), (std::vector<uint8_t>{0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0x3F, 0xF0, 0, 0, 0,
                                                  0, 0, 0, 0x34, 0x12, 0, 0, 0x80, 0x3F}));
  // Reading back sees the same values.
  stream.SeekForRead(0);
  stream.SetByteSwapped(true);
  EXPECT_EQ(stream.GetUInt16(), 0x1234);
  EXPECT_EQ(stream.GetUInt32(), 0x56789ABCu);
  EXPECT_EQ(stream.GetUInt8(), 0xDE);
  EXPECT_EQ(stream.GetReal64(), 1.0);

  // A write of a window or more goes straight to storage.
  stream.ClearRecords();
  std::vector<uint8_t> big(5000, 7);
  stream.SeekForWrite(100);
  stream.PutBytes(big.data(), 5000);
  EXPECT_EQ(stream.Writes(), (std::vector<Transfer>{{100, 5000}}));
  EXPECT_EQ(stream.TotalLength(), 5100u);
}

TEST(Stream, ReadsAfterWritesSeeTheWrittenBytes) {
  // Random mixes of small and large writes and reads against a plain
  // vector.
  std::mt19937 random(6);
  std::vector<uint8_t> model = random_bytes(20000, 7);
  CountingStream stream(model);
  for (int round = 0; round < 2000; ++round) {
    uint32_t position = std::uniform_int_distribution<uint32_t>(0, 20000)(random);
    uint32_t count = std::uniform_int_distribution<uint32_t>(0, round % 10 == 0 ? 9000 : 300)(random);
    if (random() % 2 == 0) {
      std::vector<uint8_t> data = random_bytes(count, static_cast<uint32_t>(round));
      stream.SeekForWrite(position);
      stream.PutBytes(data.data(), count);
      if (model.size() < size_t{position} + count) model.resize(size_t{position} + count);
      std::copy(data.begin(), data.end(), model.begin() + position);
    } else {
      uint32_t available = position < model.size() ? static_cast<uint32_t>(model.size()) - position : 0;
      count = std::min(count, available);
      std::vector<uint8_t> got(count);
      stream.SeekForRead(position);
      stream.GetBytes(got.data(), count);
      ASSERT_TRUE(std::equal(got.begin(), got.end(), model.begin() + position)) << round;
    }
  }
  stream.FlushBuffer();
  EXPECT_EQ(stream.Bytes(), model);
}

TEST(Stream, InlineGettersAndPuttersKeepThePositionWithWrites) {
  // Single values read and written in random order, positions checked
  // after every step against a plain vector.
  StderrCapture quiet;
  std::mt19937 random(11);
  std::vector<uint8_t> model = random_bytes(9000, 12);
  CountingStream stream(model);
  for (int round = 0; round < 20000; ++round) {
    uint32_t op = random() % 6;
    uint32_t position = stream.Position();
    if (op == 0) {
      stream.SeekForWrite(std::uniform_int_distribution<uint32_t>(0, static_cast<uint32_t>(model.size()) + 3)(random));
    } else if (op <= 2) {
      uint32_t size = op == 1 ? 1 : 2;
      uint32_t available = position < model.size() ? static_cast<uint32_t>(model.size()) - position : 0;
      uint32_t expected = op == 1 ? (available >= 1 ? model[position] : 0)
                                  : (available >= 2 ? model[position] | model[position + 1] << 8 : 0);
      uint32_t got = 0;
      int32_t code = code_of([&] { got = op == 1 ? stream.GetUInt8() : stream.GetUInt16(); });
      if (available >= size) {
        ASSERT_EQ(code, 0) << round;
        ASSERT_EQ(got, expected) << round;
        ASSERT_EQ(stream.Position(), position + size) << round;
      } else {
        ASSERT_EQ(code, dng_code_end_of_file) << round;
        ASSERT_EQ(stream.Position(), position + available) << round;
      }
    } else if (op == 3) {
      uint32_t value = random();
      code_of([&] { stream.GetUInt32(); });  // moves on (or to the end)
      position = stream.Position();
      stream.PutUInt8(static_cast<uint8_t>(value));
      if (model.size() < size_t{position} + 1) model.resize(size_t{position} + 1);
      model[position] = static_cast<uint8_t>(value);
      ASSERT_EQ(stream.Position(), position + 1) << round;
    } else if (op == 4) {
      uint16_t value = static_cast<uint16_t>(random());
      stream.PutUInt16(value);
      if (model.size() < size_t{position} + 2) model.resize(size_t{position} + 2);
      model[position] = static_cast<uint8_t>(value);
      model[position + 1] = static_cast<uint8_t>(value >> 8);
      ASSERT_EQ(stream.Position(), position + 2) << round;
    } else {
      ASSERT_EQ(stream.OriginalFilePosition(), position) << round;
      if (random() % 8 == 0) stream.FlushBuffer();
      ASSERT_EQ(stream.Position(), position) << round;
    }
  }
  stream.FlushBuffer();
  EXPECT_EQ(stream.Bytes(), model);
}

TEST(Stream, WritesEndingPast32BitsAreRefused) {
  StderrCapture quiet;
  CountingStream stream({});
  stream.SeekForWrite(0xFFFFFFF0u);
  uint8_t data[32] = {};
  EXPECT_EQ(code_of([&] { stream.PutBytes(data, 32); }), dng_code_write_file);
  EXPECT_EQ(code_of([&] { stream.PutBytes(data, 0xFFFFFFFF); }), dng_code_write_file);
  stream.SeekForWrite(0xFFFFFFFFu);
  EXPECT_EQ(code_of([&] { stream.PutUInt8(1); }), dng_code_write_file);
  // The last byte below 2^32 can be written.
  stream.SeekForWrite(0xFFFFFFFEu);
  EXPECT_EQ(code_of([&] { stream.PutUInt8(1); }), 0);
  EXPECT_EQ(stream.Position(), 0xFFFFFFFFu);
  EXPECT_TRUE(stream.Writes().empty());
}

TEST(Stream, CopyToMemoryBlockAndResize) {
  std::vector<uint8_t> bytes = random_bytes(9000, 8);
  CountingStream stream(bytes);
  stream.SeekForWrite(8990);
  stream.PutUInt32(0xAABBCCDD);  // pending in the window
  dng_memory_block* block = stream.CopyToMemoryBlock(default_memory_allocator);
  ASSERT_EQ(block->Size(), 9000u);
  EXPECT_EQ(block->Buffer_uint8()[8990], 0xDD);
  EXPECT_EQ(block->Buffer_uint8()[0], bytes[0]);
  delete block;

  stream.Resize(100);
  EXPECT_EQ(stream.TotalLength(), 100u);
  EXPECT_EQ(stream.Bytes().size(), 100u);
  StderrCapture quiet;
  stream.SeekForWrite(99);
  EXPECT_EQ(stream.GetUInt8(), bytes[99]);
  EXPECT_EQ(code_of([&] { stream.GetUInt8(); }), dng_code_end_of_file);
}

struct CountingHook : dng_cancel_hook {
  int polls = 0;
  int throw_at = 0;  // 0: never
  void Poll() override {
    ++polls;
    if (polls == throw_at) throw dng_exception(dng_code_canceled);
  }
};

TEST(Stream, CancelHookIsPolledBeforeEachPhysicalTransfer) {
  CountingHook hook;
  std::vector<uint8_t> bytes = random_bytes(20000, 9);
  CountingStream stream(bytes, &hook);
  stream.GetUInt8();
  stream.SeekForRead(5000);
  stream.GetUInt8();
  EXPECT_EQ(hook.polls, 2);
  hook.throw_at = 3;
  stream.SeekForRead(9000);
  EXPECT_EQ(code_of([&] { stream.GetUInt8(); }), dng_code_canceled);
  EXPECT_EQ(stream.Reads().size(), 2u);
  // A cancelled refill leaves nothing stale: the next read refills.
  EXPECT_EQ(stream.GetUInt8(), bytes[9000]);
}

// One tag value of `type` in little-endian bytes and its four conversions
// as text.
struct TagCase {
  uint32_t type;
  std::vector<uint8_t> bytes;
  const char* as_uint32;
  const char* as_int32;
  const char* as_urational;
  const char* as_srational;
};

std::vector<uint8_t> le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}
std::vector<uint8_t> le_float(float f) {
  uint32_t bits;
  memcpy(&bits, &f, 4);
  return le32(bits);
}
std::vector<uint8_t> le_double(double d) {
  uint64_t bits;
  memcpy(&bits, &d, 8);
  std::vector<uint8_t> out = le32(static_cast<uint32_t>(bits));
  std::vector<uint8_t> high = le32(static_cast<uint32_t>(bits >> 32));
  out.insert(out.end(), high.begin(), high.end());
  return out;
}
std::vector<uint8_t> pair32(uint32_t n, uint32_t d) {
  std::vector<uint8_t> out = le32(n);
  std::vector<uint8_t> second = le32(d);
  out.insert(out.end(), second.begin(), second.end());
  return out;
}

TEST(Stream, TagValueConversions) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const TagCase cases[] = {
      {dng_type_byte, {200}, "200", "200", "200/1", "2000000/10000"},
      {dng_type_short, {0, 0}, "0", "0", "0/1", "0/10000"},
      {dng_type_short, {0xFF, 0xFF}, "65535", "65535", "65535/1", "6553500/100"},
      {dng_type_long, le32(0xFFFFFFFF), "4294967295", "2147483647", "4294967295/1", "2147483647/1"},
      {dng_type_ifd, le32(7), "7", "7", "7/1", "70000/10000"},
      {dng_type_sbyte, {0xFF}, "0", "-1", "0/1", "-10000/10000"},
      {dng_type_sshort, {0x00, 0x80}, "0", "-32768", "0/1", "-3276800/100"},
      {dng_type_slong, le32(5), "5", "5", "5/1", "50000/10000"},
      {dng_type_rational, pair32(7, 2), "4", "4", "7/2", "35000/10000"},
      {dng_type_rational, pair32(5, 0), "0", "0", "5/0", "0/10000"},
      {dng_type_srational, pair32(static_cast<uint32_t>(-7), 2), "0", "-4", "0/1", "-7/2"},
      {dng_type_srational, pair32(static_cast<uint32_t>(-3), static_cast<uint32_t>(-4)), "1", "1", "3/4", "-3/-4"},
      {dng_type_srational, pair32(0x80000000u, 0xFFFFFFFFu), "2147483648", "2147483647", "2147483648/1",
       "-2147483648/-1"},
      {dng_type_float, le_float(0.5f), "1", "1", "5000/10000", "5000/10000"},
      {dng_type_float, le_float(-0.25f), "0", "0", "0/1", "-2500/10000"},
      {dng_type_float, le_float(123456.7f), "123457", "123457", "1234567/10", "1234567/10"},
      {dng_type_double, le_double(2000000.4), "2000000", "2000000", "2000000/1", "2000000/1"},
      {dng_type_double, le_double(3e9), "3000000000", "2147483647", "3000000000/1", "2147483647/1"},
      {dng_type_double, le_double(-3e9), "0", "-2147483648", "0/1", "-2147483648/1"},
      // Out of range and not-a-number values saturate; NaN gives 0.
      {dng_type_float, le_float(5e9f), "4294967295", "2147483647", "4294967295/1", "2147483647/1"},
      {dng_type_double, le_double(1e300), "4294967295", "2147483647", "4294967295/1", "2147483647/1"},
      {dng_type_double, le_double(inf), "4294967295", "2147483647", "4294967295/1", "2147483647/1"},
      {dng_type_double, le_double(-inf), "0", "-2147483648", "0/1", "-2147483648/1"},
      {dng_type_double, le_double(nan), "0", "0", "0/1", "0/1"},
      {dng_type_float, le_float(static_cast<float>(nan)), "0", "0", "0/1", "0/1"},
      {dng_type_double, le_double(4294967294.6), "4294967295", "2147483647", "4294967295/1", "2147483647/1"},
      // Types without a number read nothing.
      {dng_type_ascii, {'7'}, "0", "0", "0/1", "0/10000"},
      {dng_type_undefined, {9}, "0", "0", "0/1", "0/10000"},
      {14, {1, 2}, "0", "0", "0/1", "0/10000"},
      {0, {1}, "0", "0", "0/1", "0/10000"},
      {99, {1}, "0", "0", "0/1", "0/10000"},
  };
  for (const TagCase& c : cases) {
    std::vector<uint8_t> bytes = c.bytes;
    bool reads = c.type != dng_type_ascii && c.type != dng_type_undefined && c.type != 14 && c.type != 0 &&
                 c.type != 99;
    uint32_t consumed = reads ? tag_type_size(c.type) : 0;
    auto run = [&](auto convert) {
      dng_stream view(bytes.data(), static_cast<uint32_t>(bytes.size()));
      std::string text = convert(view);
      EXPECT_EQ(view.Position(), consumed) << "type " << c.type;
      return text;
    };
    std::string label = "type " + std::to_string(c.type) + " case " + c.as_urational;
    EXPECT_EQ(run([&](dng_stream& s) { return std::to_string(s.TagValueAsUInt32(c.type)); }), c.as_uint32)
        << label;
    EXPECT_EQ(run([&](dng_stream& s) { return std::to_string(s.TagValueAsInt32(c.type)); }), c.as_int32) << label;
    EXPECT_EQ(run([&](dng_stream& s) {
                dng_unsigned_ratio r = s.TagValueAsURational(c.type);
                return std::to_string(r.n) + "/" + std::to_string(r.d);
              }),
              c.as_urational)
        << label;
    EXPECT_EQ(run([&](dng_stream& s) {
                dng_signed_ratio r = s.TagValueAsSRational(c.type);
                return std::to_string(r.n) + "/" + std::to_string(r.d);
              }),
              c.as_srational)
        << label;
  }
}

TEST(Stream, TagValueAsReal64) {
  struct Case {
    uint32_t type;
    std::vector<uint8_t> bytes;
    double value;
  };
  const Case cases[] = {
      {dng_type_sbyte, {0x80}, -128.0},
      {dng_type_rational, pair32(1, 4), 0.25},
      {dng_type_rational, pair32(5, 0), 0.0},
      {dng_type_srational, pair32(static_cast<uint32_t>(-1), 4), -0.25},
      {dng_type_long, le32(0xFFFFFFFF), 4294967295.0},
      {dng_type_double, le_double(-1.5), -1.5},
  };
  for (const Case& c : cases) {
    dng_stream view(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    EXPECT_EQ(view.TagValueAsReal64(c.type), c.value) << c.type;
  }
  // Big-endian files: rational halves and doubles follow the swap flag.
  const uint8_t big[] = {0, 0, 0, 3, 0, 0, 0, 4, 0x3F, 0xF8, 0, 0, 0, 0, 0, 0};
  dng_stream view(big, sizeof big);
  view.SetByteSwapped(true);
  EXPECT_EQ(view.TagValueAsReal64(dng_type_rational), 0.75);
  EXPECT_EQ(view.TagValueAsReal64(dng_type_double), 1.5);
}

}  // namespace
