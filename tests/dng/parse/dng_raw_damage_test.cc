// Damaged lossless JPEG tiles in generated DNG files. A tile cut short
// always fails: by the end of the file with 100011, by its byte count with
// 100006. Single-bit
// flips over one tile's entropy-coded data are tried one by one; none may
// crash or hang, and the share that the reader reports as damaged is
// printed per kind of stream. Lossless JPEG carries no check bits: a flip
// among the extra bits of a difference changes one sample and leaves a
// well-formed stream, so the share grows with the part of the data that
// Huffman codes take.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"

namespace {

using dng_test::code_of;
using testing_support::build_raw_dng;
using testing_support::RawDng;
using testing_support::RawDngOptions;
using testing_support::RawPipelineResult;
using testing_support::RawStage;

// Kinds of lossless stream; each file has 2 x 2 tiles of 32 x 16.
std::vector<RawDngOptions> damage_kinds() {
  std::vector<RawDngOptions> t;
  auto add = [&t](const std::string& name, uint32_t bits, uint32_t components, auto&& set) {
    RawDngOptions o;
    o.name = name;
    o.compression = 7;
    o.bits = bits;
    o.jpeg_components = components;
    o.width = 64;
    o.height = 32;
    o.tile_width = 32;
    o.tile_length = 16;
    set(o);
    t.push_back(o);
  };
  auto none = [](RawDngOptions&) {};
  add("16-bit, 1 component", 16, 1, none);
  add("14-bit, 2 components (half-width frame)", 14, 2, none);
  add("12-bit, 4 components (quarter-width frame)", 12, 4, none);
  add("8-bit, 2 components", 8, 2, none);
  add("14-bit, predictor 6", 14, 2, [](RawDngOptions& o) { o.predictor = 6; });
  add("14-bit, restart every 16 pixels", 14, 2, [](RawDngOptions& o) { o.restart_interval = 16; });
  add("16-bit, DNG 1.0 category 16", 16, 1, [](RawDngOptions& o) {
    o.dng_version = 0x01000000;
    o.scene = [](uint32_t x, uint32_t y, uint32_t) { return (x * 977 + y * 131) % 5 == 0 ? 32768u : (x + y) * 700; };
  });
  add("LinearRaw 3 x 12-bit", 12, 3, [](RawDngOptions& o) { o.cfa_rows.clear(); });
  // Smooth like a camera scene: small differences, so most bits are codes.
  add("14-bit, 2 components, smooth scene", 14, 2, [](RawDngOptions& o) {
    o.scene = [](uint32_t x, uint32_t y, uint32_t) { return 3000 + x * 20 + y * 7 + (x * 7 + y * 13) % 4; };
  });
  return t;
}

// The range of a tile's entropy-coded data: after the SOS segment up to
// the last EOI marker.
struct EntropyRange {
  uint32_t begin = 0, end = 0;
};

EntropyRange entropy_range(const std::string& bytes, uint32_t offset, uint32_t count) {
  EntropyRange r;
  for (uint32_t i = offset; i + 3 < offset + count; ++i) {
    if (uint8_t(bytes[i]) == 0xFF && uint8_t(bytes[i + 1]) == 0xDA) {
      r.begin = i + 2 + (uint32_t(uint8_t(bytes[i + 2])) << 8 | uint8_t(bytes[i + 3]));
      break;
    }
  }
  for (uint32_t i = offset + count - 2; i > r.begin; --i) {
    if (uint8_t(bytes[i]) == 0xFF && uint8_t(bytes[i + 1]) == 0xD9) {
      r.end = i;
      break;
    }
  }
  return r;
}

// Reads the main image of bytes with the directory parsed from the sound
// file; the code it ends with.
int32_t read_code(const RawPipelineResult& parsed, const std::string& bytes) {
  dng_host host;
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.SetByteSwapped(parsed.info->big_endian);
  const dng_ifd& ifd = *parsed.main_ifd;
  dng_simple_image image(dng_box(0, 0, int32_t(ifd.image_length), int32_t(ifd.image_width)), ifd.samples_per_pixel,
                         ifd.SamplePixelType());
  return code_of([&] { ifd.ReadImageData(host, stream, image); });
}

RawPipelineResult parse(const std::string& bytes) {
  RawPipelineResult r = testing_support::run_raw_pipeline(bytes, RawStage::kParse);
  EXPECT_EQ(r.code, 0);
  return r;
}

TEST(RawDamage, TruncatedTilesAlwaysFail) {
  dng_test::StderrCapture quiet;
  for (const RawDngOptions& o : damage_kinds()) {
    SCOPED_TRACE(o.name);
    const RawDng file = build_raw_dng(o);
    RawPipelineResult parsed = parse(file.bytes);
    ASSERT_NE(parsed.main_ifd, nullptr);
    ASSERT_EQ(read_code(parsed, file.bytes), 0);

    // The end of the file cuts the last tile: everything before the EOI
    // marker is needed.
    const uint32_t last = static_cast<uint32_t>(file.tile_offsets.size() - 1);
    const EntropyRange tail = entropy_range(file.bytes, file.tile_offsets[last], file.tile_byte_counts[last]);
    ASSERT_GT(tail.end, tail.begin);
    for (uint32_t cut = file.tile_offsets[last]; cut < tail.end; ++cut) {
      ASSERT_EQ(read_code(parsed, file.bytes.substr(0, cut)), dng_code_end_of_file) << "cut at " << cut;
    }
    // A byte count that ends inside a middle tile.
    const EntropyRange middle = entropy_range(file.bytes, file.tile_offsets[1], file.tile_byte_counts[1]);
    dng_ifd& ifd = *parsed.info->ifd[parsed.info->main_index];
    const uint32_t sound = ifd.tile_byte_count[1];
    for (uint32_t count = 0; count < middle.end - file.tile_offsets[1]; ++count) {
      ifd.tile_byte_count[1] = count;
      ASSERT_EQ(read_code(parsed, file.bytes), dng_code_bad_format) << "byte count " << count;
    }
    ifd.tile_byte_count[1] = sound;
  }
}

TEST(RawDamage, ShareOfSingleBitFlipsDetected) {
  dng_test::StderrCapture quiet;
  std::string report = "Single-bit flips over one tile's entropy-coded data, detected:\n";
  for (const RawDngOptions& o : damage_kinds()) {
    SCOPED_TRACE(o.name);
    const RawDng file = build_raw_dng(o);
    const RawPipelineResult parsed = parse(file.bytes);
    ASSERT_NE(parsed.main_ifd, nullptr);
    const EntropyRange range = entropy_range(file.bytes, file.tile_offsets[1], file.tile_byte_counts[1]);
    ASSERT_GT(range.end, range.begin);
    uint32_t flips = 0, detected = 0;
    std::string damaged = file.bytes;
    for (uint32_t at = range.begin; at < range.end; ++at) {
      for (uint32_t bit = 0; bit < 8; ++bit) {
        damaged[at] = static_cast<char>(file.bytes[at] ^ (1 << bit));
        const int32_t code = read_code(parsed, damaged);
        ASSERT_TRUE(code == 0 || code == dng_code_bad_format || code == dng_code_end_of_file)
            << "byte " << at << " bit " << bit << ": " << code;
        ++flips;
        if (code != 0) ++detected;
      }
      damaged[at] = file.bytes[at];
    }
    char line[160];
    std::snprintf(line, sizeof line, "  %-45s %5u of %5u (%.1f %%)\n", o.name.c_str(), detected, flips,
                  100.0 * detected / flips);
    report += line;
    ::testing::Test::RecordProperty(o.name, std::to_string(detected) + "/" + std::to_string(flips));
  }
  quiet.Take();
  std::printf("%s", report.c_str());
}

}  // namespace
