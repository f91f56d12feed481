// Lossless JPEG: round trips through the encoder and the decoder over bit
// depths, components, predictors, point transforms, restarts and the
// category-16 quirk, checked against a bit-by-bit reference decoder; the
// encoder's exact bytes; and hand-written hostile streams, each refused with
// its code (over-full tables, wrapping frame sizes, damaged entropy data).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_ljpeg_decoder.h"
#include "dng/core/dng_ljpeg_encoder.h"
#include "dng/core/dng_ljpeg_huffman.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_spooler.h"
#include "dng/core/dng_stream.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "ljpeg_reference.h"

namespace {

using dng_test::code_of;
using dng_test::reference_ljpeg_decode;
using Bytes = std::vector<uint8_t>;

class CollectingSpooler : public dng_spooler {
 public:
  void Spool(const void* data, uint32_t count) override {
    const auto* p = static_cast<const uint16_t*>(data);
    samples.insert(samples.end(), p, p + count / 2);
    ++rows;
  }
  std::vector<uint16_t> samples;
  uint32_t rows = 0;
};

Bytes encode(const std::vector<uint16_t>& samples, uint32_t height, uint32_t width,
             uint32_t channels, uint32_t bits, const ljpeg_encode_options& options = {}) {
  dng_memory_stream stream(default_memory_allocator);
  ljpeg_encode_samples(samples.data(), height, width, channels, bits, int64_t{width} * channels,
                       channels, stream, options);
  stream.FlushBuffer();
  Bytes out(stream.TotalLength());
  stream.SeekForRead(0);
  stream.GetBytes(out.data(), static_cast<uint32_t>(out.size()));
  return out;
}

struct Decoded {
  int32_t code = 0;
  std::vector<uint16_t> samples;
  uint32_t rows = 0;
  uint32_t end_position = 0;
};

Decoded decode(const Bytes& data, bool quirk = false, uint64_t minimum = 0,
               uint64_t maximum = UINT64_MAX, bool general = false) {
  dng_stream stream(data.data(), static_cast<uint32_t>(data.size()));
  CollectingSpooler spooler;
  Decoded result;
  result.code = code_of([&] {
    if (general) {
      ljpeg_decoder decoder(stream, spooler, quirk);
      decoder.UseGeneralLoopOnly(true);
      ljpeg_frame_size size = decoder.ReadHeaders();
      uint64_t bytes = uint64_t{size.width} * size.height * size.components * 2;
      if (bytes < minimum || bytes > maximum) throw_dng_code(dng_code_bad_format);
      decoder.DecodeAllRows();
    } else {
      ljpeg_decode_to_spooler(stream, spooler, minimum, maximum, quirk);
    }
  });
  result.samples = std::move(spooler.samples);
  result.rows = spooler.rows;
  result.end_position = stream.Position();
  return result;
}

// Gradients, edges and noise, with 0 and the largest value present and, at
// 16 bits, a jump of exactly 32768 (category 16).
std::vector<uint16_t> scene(uint32_t height, uint32_t width, uint32_t channels, uint32_t bits) {
  std::vector<uint16_t> s(size_t{height} * width * channels);
  uint32_t max = (1u << bits) - 1u;
  uint32_t seed = 12345u + bits * 7u + channels;
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t c = 0; c < channels; ++c) {
        seed = seed * 1103515245u + 12345u;
        uint64_t v = (uint64_t{x} * max / (width - 1 + (width == 1))) / 2 + (y * 37u + c * 11u) % 64u +
                     ((seed >> 16) & 7u);
        if ((x / 4 + y) % 5 == 0) v = max - (v & 0xFF);
        if (x == 1 && y == 1) v = 0;
        if (x == 2 && y == 1) v = max;
        s[(size_t{y} * width + x) * channels + c] = static_cast<uint16_t>(std::min<uint64_t>(v, max));
      }
    }
  }
  if (bits == 16 && width > 4 && height > 1) {
    s[(size_t{1} * width + 3) * channels] = 0;
    s[(size_t{1} * width + 4) * channels] = 32768;
  }
  return s;
}

TEST(LosslessJpeg, RoundTripsOverDepthsComponentsPredictorsAndRestarts) {
  int variant = 0;
  for (uint32_t bits : {8u, 10u, 12u, 14u, 15u, 16u}) {
    for (uint32_t channels = 1; channels <= 4; ++channels) {
      for (uint32_t predictor = 1; predictor <= 7; ++predictor, ++variant) {
        ljpeg_encode_options options;
        options.predictor = predictor;
        options.point_transform = std::min(std::vector<uint32_t>{0, 1, 3, bits, 15}[variant % 5], 15u);
        const uint32_t width = 13 + variant % 4;
        const uint32_t height = 9;
        // No restarts, every row, every two rows, and an interval under one
        // row (restarts off).
        options.restart_interval = std::vector<uint32_t>{0, width, 2 * width, width - 1}[variant % 4];
        options.category_16_bits = variant % 3 == 1;
        SCOPED_TRACE("bits " + std::to_string(bits) + " channels " + std::to_string(channels) +
                     " predictor " + std::to_string(predictor) + " pt " +
                     std::to_string(options.point_transform) + " restart " +
                     std::to_string(options.restart_interval) + " quirk " +
                     std::to_string(options.category_16_bits));
        auto samples = scene(height, width, channels, bits);
        Bytes stream = encode(samples, height, width, channels, bits, options);
        Decoded fast = decode(stream, options.category_16_bits);
        ASSERT_EQ(fast.code, 0);
        EXPECT_EQ(fast.samples, samples);
        EXPECT_EQ(fast.rows, height);
        Decoded general = decode(stream, options.category_16_bits, 0, UINT64_MAX, true);
        EXPECT_EQ(general.samples, samples);
        auto reference = reference_ljpeg_decode(stream, options.category_16_bits);
        ASSERT_TRUE(reference.has_value());
        EXPECT_EQ(reference->samples, samples);
        // The stream is left at the EOI marker.
        EXPECT_EQ(fast.end_position, stream.size() - 2);
      }
    }
  }
}

TEST(LosslessJpeg, DefaultEncoderWritesTheExpectedBytes) {
  // Four samples equal to the first predictor: one category, coded "0".
  Bytes stream = encode({128, 128, 128, 128}, 2, 2, 1, 8);
  Bytes expected = {0xFF, 0xD8,
                    0xFF, 0xC3, 0x00, 0x0B, 8, 0x00, 0x02, 0x00, 0x02, 1, 0, 0x11, 0,
                    0xFF, 0xC4, 0x00, 20, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                    0xFF, 0xDA, 0x00, 0x08, 1, 0, 0x00, 1, 0, 0,
                    0x0F,
                    0xFF, 0xD9};
  EXPECT_EQ(stream, expected);
}

TEST(LosslessJpeg, TwoChannelFramesOfHalfWidthDeliverDoubleRows) {
  auto samples = scene(6, 8, 2, 14);
  Decoded d = decode(encode(samples, 6, 8, 2, 14), false, 6 * 16 * 2, 6 * 16 * 2);
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(d.rows, 6u);
  EXPECT_EQ(d.samples, samples);
}

TEST(LosslessJpeg, EncoderFallsBackToFlatCountsWhenCodesWouldExceed16Bits) {
  // Category frequencies growing like Fibonacci numbers over all 17
  // categories give codes longer than 16 bits; the encoder then uses flat
  // counts and still round-trips.
  uint32_t fib[17] = {1, 1};
  for (int i = 2; i < 17; ++i) fib[i] = fib[i - 1] + fib[i - 2];
  std::vector<uint16_t> samples = {32768};
  uint16_t value = 32768;
  for (int category = 16; category >= 0; --category) {
    for (uint32_t k = 0; k < fib[16 - category]; ++k) {
      uint32_t step = category == 0 ? 0u : (1u << (category - 1));
      value = static_cast<uint16_t>(value + step);
      samples.push_back(value);
    }
  }
  uint32_t width = static_cast<uint32_t>(samples.size());
  dng_test::StderrCapture capture;
  Bytes stream = encode(samples, 1, width, 1, 16);
  EXPECT_NE(capture.Take().find("Unknown error"), std::string::npos);
  Decoded d = decode(stream);
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(d.samples, samples);
}

// A hand-written stream: every segment is given as bytes, so a test can
// damage exactly one field.
struct Hand {
  uint8_t precision = 8;
  uint32_t height = 2, width = 2;
  uint8_t sampling = 0x11;
  uint32_t frame_length_delta = 0;
  Bytes before_frame;
  Bytes tables;  // DHT segments; empty means the default 5-bit table
  Bytes between; // after the tables, before SOS (DRI...)
  uint8_t scan_table = 0x00;
  uint8_t scan_id = 1;
  uint8_t predictor = 1, point_transform = 0;
  Bytes data = {0x00, 0x00, 0x0F};  // four category-0 codes, then 1-bit padding
  Bytes tail = {0xFF, 0xD9};
  bool scan = true;

  // A table of 17 five-bit codes for the categories 0..16 (plus extra).
  static Bytes table(uint32_t index = 0, uint32_t symbols = 17, int length_delta = 0) {
    Bytes t = {0xFF, 0xC4};
    uint32_t length = 19 + symbols + static_cast<uint32_t>(length_delta);
    t.push_back(static_cast<uint8_t>(length >> 8));
    t.push_back(static_cast<uint8_t>(length));
    t.push_back(static_cast<uint8_t>(index));
    for (int len = 1; len <= 16; ++len) t.push_back(len == 5 ? static_cast<uint8_t>(symbols) : 0);
    for (uint32_t s = 0; s < symbols; ++s) t.push_back(static_cast<uint8_t>(s));
    return t;
  }

  Bytes Build() const {
    Bytes b = {0xFF, 0xD8};
    b.insert(b.end(), before_frame.begin(), before_frame.end());
    Bytes f = {0xFF, 0xC3, 0, static_cast<uint8_t>(11 + frame_length_delta), precision,
               static_cast<uint8_t>(height >> 8), static_cast<uint8_t>(height),
               static_cast<uint8_t>(width >> 8), static_cast<uint8_t>(width), 1, 1, sampling, 0};
    b.insert(b.end(), f.begin(), f.end());
    Bytes t = tables.empty() ? table() : tables;
    b.insert(b.end(), t.begin(), t.end());
    b.insert(b.end(), between.begin(), between.end());
    if (scan) {
      Bytes s = {0xFF, 0xDA, 0, 8, 1, scan_id, scan_table, predictor, 0, point_transform};
      b.insert(b.end(), s.begin(), s.end());
      b.insert(b.end(), data.begin(), data.end());
    }
    b.insert(b.end(), tail.begin(), tail.end());
    return b;
  }
};

// Packs (value, bit count) pairs, padding the last byte with 1-bits and
// stuffing 0xFF bytes.
Bytes pack(const std::vector<std::pair<uint32_t, int>>& fields) {
  Bytes out;
  uint32_t acc = 0;
  int n = 0;
  auto put = [&](uint32_t v, int count) {
    for (int i = count - 1; i >= 0; --i) {
      acc = (acc << 1) | ((v >> i) & 1u);
      if (++n == 8) {
        out.push_back(static_cast<uint8_t>(acc));
        if (acc == 0xFF) out.push_back(0);
        acc = 0;
        n = 0;
      }
    }
  };
  for (auto [v, count] : fields) put(v, count);
  if (n != 0) put(0x7F, 8 - n);
  return out;
}

TEST(LosslessJpeg, HandWrittenStreamDecodes) {
  Decoded d = decode(Hand{}.Build(), false, 8, 8);
  ASSERT_EQ(d.code, 0);
  EXPECT_EQ(d.samples, (std::vector<uint16_t>{128, 128, 128, 128}));
}

TEST(LosslessJpeg, SoundVariationsAllDecode) {
  struct Case {
    const char* name;
    Hand hand;
    bool quirk;
    std::vector<uint16_t> expected;
  };
  std::vector<Case> cases;
  {
    Hand h;  // DQT, RST and TEM are passed over; APP1 (holding 0xFF D9) is skipped by length
    h.before_frame = {0xFF, 0xDB, 0xFF, 0xD3, 0xFF, 0x01, 0xFF, 0xE1, 0x00, 0x06, 0xFF, 0xD9, 0xFF, 0xD9,
                      0xFF, 0xFE, 0x00, 0x03, 0x41};
    cases.push_back({"markers before the frame", h, false, {128, 128, 128, 128}});
  }
  {
    Hand h;  // fill bytes before EOI, and junk after it (a byte count larger than the data)
    h.tail = {0xFF, 0xFF, 0xFF, 0xD9, 0x12, 0x34, 0xFF};
    cases.push_back({"fill bytes and trailing bytes", h, false, {128, 128, 128, 128}});
  }
  {
    Hand h;  // a table redefined in place: the later definition holds
    Bytes first = Hand::table(0, 17);
    first[4 + 1 + 4] = 0;  // move the 17 codes from length 5 ...
    first[4 + 1 + 5] = 17; // ... to length 6
    h.tables = first;
    Bytes second = Hand::table(0, 17);
    h.tables.insert(h.tables.end(), second.begin(), second.end());
    cases.push_back({"table redefined", h, false, {128, 128, 128, 128}});
  }
  {
    Hand h;  // category 16 with the quirk clear: no extra bits, +32768
    h.precision = 16;
    h.data = pack({{16, 5}, {0, 5}, {0, 5}, {0, 5}});
    cases.push_back({"category 16 quirk clear", h, false, {0, 0, 0, 0}});
  }
  {
    Hand h;  // category 16 with the quirk set: 16 extra bits are consumed
    h.precision = 16;
    h.data = pack({{16, 5}, {0x8000, 16}, {1, 5}, {1, 1}, {0, 5}, {0, 5}});
    cases.push_back({"category 16 quirk set", h, true, {0, 1, 0, 0}});
  }
  {
    Hand h;  // the largest and the smallest sample of the precision
    h.data = pack({{8, 5}, {127, 8}, {8, 5}, {255, 8}, {0, 5}, {0, 5}});
    cases.push_back({"samples at both ends of the precision", h, false, {0, 255, 0, 0}});
  }
  {
    Hand h;  // a point transform as large as the precision: first predictor 0
    h.point_transform = 8;
    cases.push_back({"point transform at the precision", h, false, {0, 0, 0, 0}});
  }
  {
    Hand h;  // point transform 3: first predictor 2^(8-3-1)
    h.point_transform = 3;
    cases.push_back({"point transform 3", h, false, {16, 16, 16, 16}});
  }
  {
    Hand h;  // a restart interval under one row turns restarts off
    h.between = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x01};
    cases.push_back({"restart interval under a row", h, false, {128, 128, 128, 128}});
  }
  {
    Hand h;  // a restart after every row
    h.between = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x02};
    h.data = pack({{1, 5}, {1, 1}, {0, 5}});
    Bytes second = pack({{1, 5}, {0, 1}, {0, 5}});
    h.data.push_back(0xFF);
    h.data.push_back(0xD0);
    h.data.insert(h.data.end(), second.begin(), second.end());
    cases.push_back({"restart every row", h, false, {129, 129, 127, 127}});
  }
  {
    Hand h;  // no end marker, and the stream ends with the data
    h.tail = {};
    cases.push_back({"no EOI", h, false, {128, 128, 128, 128}});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoded d = decode(c.hand.Build(), c.quirk);
    EXPECT_EQ(d.code, 0);
    EXPECT_EQ(d.samples, c.expected);
  }
}

TEST(LosslessJpeg, HostileStreamsGiveTheirCodes) {
  struct Case {
    const char* name;
    Bytes stream;
    int32_t code;
    uint64_t minimum = 0;
    uint64_t maximum = UINT64_MAX;
  };
  std::vector<Case> cases;
  auto with = [](auto change) {
    Hand h;
    change(h);
    return h.Build();
  };
  cases.push_back({"no SOI", Bytes{0xFF, 0xD9, 0xFF, 0xD8}, dng_code_bad_format});
  cases.push_back({"progressive frame", [] { Bytes b = Hand{}.Build(); b[3] = 0xC2; return b; }(),
                   dng_code_bad_format});
  cases.push_back({"precision 17", with([](Hand& h) { h.precision = 17; }), dng_code_bad_format});
  cases.push_back({"precision 1", with([](Hand& h) { h.precision = 1; }), dng_code_bad_format});
  cases.push_back({"zero height", with([](Hand& h) { h.height = 0; }), dng_code_bad_format});
  cases.push_back({"frame length", with([](Hand& h) { h.frame_length_delta = 1; }), dng_code_bad_format});
  cases.push_back({"sampling 2 x 1", with([](Hand& h) { h.sampling = 0x21; }), dng_code_bad_format});
  cases.push_back({"DRI length 5", with([](Hand& h) { h.between = {0xFF, 0xDD, 0, 5, 0, 2, 0}; }),
                   dng_code_bad_format});
  cases.push_back({"table class AC", with([](Hand& h) { h.tables = Hand::table(0x10); }), dng_code_bad_format});
  cases.push_back({"table index 4", with([](Hand& h) { h.tables = Hand::table(4); }), dng_code_bad_format});
  cases.push_back({"missing table", with([](Hand& h) { h.tables = Hand::table(1); }), dng_code_bad_format});
  cases.push_back({"scan table number 4", with([](Hand& h) { h.scan_table = 0x40; }), dng_code_bad_format});
  cases.push_back({"scan table number 15", with([](Hand& h) { h.scan_table = 0xF0; }), dng_code_bad_format});
  cases.push_back({"scan names no frame component", with([](Hand& h) { h.scan_id = 9; }), dng_code_bad_format});
  cases.push_back({"DHT overrunning its length", with([](Hand& h) { h.tables = Hand::table(0, 17, -1); }),
                   dng_code_bad_format});
  cases.push_back({"another frame after the frame", with([](Hand& h) {
                     h.between = {0xFF, 0xC3, 0, 11, 8, 0, 2, 0, 2, 1, 1, 0x11, 0};
                   }),
                   dng_code_bad_format});
  cases.push_back({"predictor 8", with([](Hand& h) { h.predictor = 8; }), dng_code_bad_format});
  // Over-full tables: three codes of length 1, and two hundred.
  cases.push_back({"three codes of length 1", with([](Hand& h) {
                     h.tables = {0xFF, 0xC4, 0, 22, 0, 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 2};
                   }),
                   dng_code_bad_format});
  cases.push_back({"two hundred codes of length 1", with([](Hand& h) {
                     h.tables = {0xFF, 0xC4, 0, 19 + 200, 0, 200};
                     h.tables.resize(h.tables.size() + 15, 0);
                     for (int i = 0; i < 200; ++i) h.tables.push_back(static_cast<uint8_t>(i % 17));
                   }),
                   dng_code_bad_format});
  cases.push_back({"more than 256 symbols", with([](Hand& h) {
                     h.tables = {0xFF, 0xC4, 0x01, 0x13, 0, 0, 0, 0, 0, 0, 0, 0, 0, 200, 100};
                     h.tables.resize(h.tables.size() + 7 + 300, 0);
                   }),
                   dng_code_bad_format});
  // A frame that matches the 256 x 256 tile only modulo 2^32.
  {
    Bytes b = {0xFF, 0xD8, 0xFF, 0xC3, 0, 20, 16, 0x80, 0x01, 0x40, 0x00, 4};
    for (uint8_t id = 1; id <= 4; ++id) b.insert(b.end(), {id, 0x11, 0});
    Bytes t = Hand::table();
    b.insert(b.end(), t.begin(), t.end());
    b.insert(b.end(), {0xFF, 0xDA, 0, 14, 4, 1, 0, 2, 0, 3, 0, 4, 0, 1, 0, 0});
    b.insert(b.end(), {0xFF, 0xD9});
    cases.push_back({"frame size wrapping 32 bits", b, dng_code_bad_format, 256 * 256 * 2, 256 * 256 * 2});
  }
  cases.push_back({"frame one sample short", Hand{}.Build(), dng_code_bad_format, 10, 10});
  cases.push_back({"no scan for a non-empty tile", with([](Hand& h) { h.scan = false; }), dng_code_bad_format, 8, 8});
  // Damaged entropy-coded data.
  cases.push_back({"code matching no entry", with([](Hand& h) { h.data = {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}; }),
                   dng_code_bad_format});
  cases.push_back({"category 17", with([](Hand& h) {
                     h.tables = Hand::table(0, 18);
                     h.data = pack({{17, 5}, {0, 5}, {0, 5}, {0, 5}});
                   }),
                   dng_code_bad_format});
  cases.push_back({"a sample above the frame's precision",
                   with([](Hand& h) { h.data = pack({{8, 5}, {128, 8}, {0, 5}, {0, 5}, {0, 5}}); }),
                   dng_code_bad_format});
  cases.push_back({"data ending at a marker too early", with([](Hand& h) { h.data = {0x00}; }), dng_code_bad_format});
  cases.push_back({"extra bits past the marker", with([](Hand& h) { h.data = pack({{0, 5}, {0, 5}, {0, 5}, {9, 5}}); h.data.pop_back(); }),
                   dng_code_bad_format});
  cases.push_back({"data cut by the end of the stream", with([](Hand& h) { h.data = {0x00}; h.tail = {}; }),
                   dng_code_end_of_file});
  cases.push_back({"wrong restart marker", with([](Hand& h) {
                     h.between = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x02};
                     h.data = pack({{0, 5}, {0, 5}});
                     h.data.insert(h.data.end(), {0xFF, 0xD1});
                     Bytes second = pack({{0, 5}, {0, 5}});
                     h.data.insert(h.data.end(), second.begin(), second.end());
                   }),
                   dng_code_bad_format});
  cases.push_back({"segment length past the end", Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0xFF, 0xF0, 0}, dng_code_end_of_file});
  cases.push_back({"segment length under 2", Bytes{0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x01, 0}, dng_code_bad_format});

  dng_test::StderrCapture quiet;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(decode(c.stream, false, c.minimum, c.maximum).code, c.code);
  }
}

// Sound encoders end the data with the padding bits of its last byte; a
// stream that reaches its last sample with more than a few whole bytes of
// data unread is damaged. Stuffed 0xFF bytes count once, fill bytes before
// the marker not at all; data left before a restart marker is passed over.
TEST(LosslessJpeg, DataLeftOverAfterTheLastSample) {
  struct Case {
    const char* name;
    Bytes data;  // the four samples' codes, padding, then what follows them
    Bytes tail;
    int32_t code;
  };
  const Bytes codes = {0x00, 0x00, 0x0F};
  auto with = [&codes](std::initializer_list<uint8_t> extra) {
    Bytes d = codes;
    d.insert(d.end(), extra);
    return d;
  };
  const Bytes eoi = {0xFF, 0xD9};
  const std::vector<Case> cases = {
      {"padding bits only", codes, eoi, 0},
      {"the allowance of whole bytes", with({0x12, 0x34, 0x56, 0x78}), eoi, 0},
      {"one byte over the allowance", with({0x12, 0x34, 0x56, 0x78, 0x9A}), eoi, dng_code_bad_format},
      {"a run of zeros", with({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}), eoi, dng_code_bad_format},
      {"fill bytes before the marker", codes, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xD9}, 0},
      {"stuffed bytes count once", with({0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}), eoi, 0},
      {"five stuffed bytes", with({0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00}), eoi,
       dng_code_bad_format},
      {"left over with no marker at the end", with({1, 2, 3, 4, 5}), {}, dng_code_bad_format},
      {"the allowance with no marker at the end", with({1, 2, 3, 4}), {}, 0},
      {"bytes after the end marker", codes, {0xFF, 0xD9, 1, 2, 3, 4, 5, 6, 7, 8}, 0},
  };
  dng_test::StderrCapture quiet;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Hand h;
    h.data = c.data;
    h.tail = c.tail;
    for (bool general : {false, true}) {
      Decoded d = decode(h.Build(), false, 8, 8, general);
      EXPECT_EQ(d.code, c.code);
      if (c.code == 0) {
        EXPECT_EQ(d.samples, (std::vector<uint16_t>{128, 128, 128, 128}));
      }
    }
  }
  {
    SCOPED_TRACE("left over before a restart marker");
    Hand h;  // one row per interval; the first ends with 8 bytes to spare
    h.between = {0xFF, 0xDD, 0x00, 0x04, 0x00, 0x02};
    h.data = pack({{0, 5}, {0, 5}});
    h.data.insert(h.data.end(), {1, 2, 3, 4, 5, 6, 7, 8, 0xFF, 0xD0});
    Bytes second = pack({{0, 5}, {0, 5}});
    h.data.insert(h.data.end(), second.begin(), second.end());
    EXPECT_EQ(decode(h.Build(), false, 8, 8).code, 0);
  }
  // The encoder's own streams, over layouts and restarts, leave nothing.
  for (uint32_t channels : {1u, 2u, 4u}) {
    for (uint32_t restart : {0u, 16u, 48u}) {
      ljpeg_encode_options o;
      o.restart_interval = restart;
      auto samples = scene(9, 16, channels, 12);
      Decoded d = decode(encode(samples, 9, 16, channels, 12, o));
      EXPECT_EQ(d.code, 0) << channels << " channels, restart " << restart;
      EXPECT_EQ(d.samples, samples);
    }
  }
}

TEST(LosslessJpeg, BuildHuffmanLookupChecksTheCodeSpace) {
  struct Case {
    std::vector<std::pair<int, int>> counts;  // (length, count)
    bool fits;
  };
  std::vector<Case> cases = {
      {{{1, 2}}, true},             // 0, 1: full
      {{{1, 3}}, false},
      {{{1, 1}, {2, 2}}, true},     // 0, 10, 11
      {{{1, 1}, {2, 3}}, false},
      {{{8, 255}, {9, 1}}, true},   // the 256-symbol limit
      {{{16, 255}}, true},
      {{{2, 4}, {3, 1}}, false},    // a code after a full length
  };
  dng_test::StderrCapture quiet;
  for (const Case& c : cases) {
    ljpeg_huffman_table table{};
    uint32_t total = 0;
    for (auto [length, count] : c.counts) {
      table.counts[length] = static_cast<uint8_t>(count);
      total += static_cast<uint32_t>(count);
    }
    for (uint32_t i = 0; i < 256; ++i) table.values[i] = static_cast<uint8_t>(i);
    EXPECT_EQ(code_of([&] { build_huffman_lookup(table); }), c.fits ? 0 : dng_code_bad_format) << total;
  }
}

TEST(LosslessJpeg, ChannelWithoutDifferencesGetsOneCodeOfLengthOne) {
  uint32_t frequencies[257] = {};
  frequencies[0] = 1000;
  ljpeg_huffman_table table{};
  ljpeg_code_lengths(table, frequencies);
  EXPECT_EQ(table.counts[1], 1);
  for (int length = 2; length <= 16; ++length) EXPECT_EQ(table.counts[length], 0) << length;
  EXPECT_EQ(table.values[0], 0);
}

// Every truncation inside the entropy-coded data fails; single-bit flips
// there are detected in a share that is printed for the record.
TEST(LosslessJpeg, DamagedDataIsDetected) {
  const uint32_t width = 32, height = 16, channels = 2, bits = 14;
  auto samples = scene(height, width, channels, bits);
  Bytes stream = encode(samples, height, width, channels, bits);
  // The entropy-coded data runs from after the SOS segment to the EOI.
  size_t sos = 0;
  for (size_t i = 0; i + 1 < stream.size(); ++i) {
    if (stream[i] == 0xFF && stream[i + 1] == 0xDA) sos = i;
  }
  size_t data_start = sos + 2 + ((stream[sos + 2] << 8) | stream[sos + 3]);
  size_t data_end = stream.size() - 2;
  uint64_t expected_bytes = uint64_t{width} * height * channels * 2;

  dng_test::StderrCapture quiet;
  for (size_t cut = data_start; cut < data_end; ++cut) {
    Bytes truncated(stream.begin(), stream.begin() + static_cast<long>(cut));
    EXPECT_NE(decode(truncated, false, expected_bytes, expected_bytes).code, 0) << cut;
  }
  uint32_t flips = 0, detected = 0, silent_changes = 0;
  for (size_t at = data_start; at < data_end; ++at) {
    for (int bit = 0; bit < 8; ++bit) {
      Bytes damaged = stream;
      damaged[at] ^= static_cast<uint8_t>(1 << bit);
      ++flips;
      Decoded d = decode(damaged, false, expected_bytes, expected_bytes);
      if (d.code != 0) {
        ++detected;
      } else if (d.samples != samples) {
        ++silent_changes;
      }
    }
  }
  std::string share = std::to_string(detected) + " of " + std::to_string(flips);
  RecordProperty("single_bit_flips_detected", share);
  printf("single-bit flips detected: %s (%u changed samples silently)\n", share.c_str(), silent_changes);
  EXPECT_GT(detected, 0u);
}

}  // namespace
