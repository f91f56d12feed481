// The parser's structure dumps as a developer sees them: dng_outputs
// --verbose, run as a real child process, over builder files and real
// camera files of both byte orders. Each standard output is kept in golden/
// and compared byte for byte; CORVELLA_UPDATE_GOLDEN=1 rewrites them. Without
// the option the same files print their result lines and nothing else, as
// in the worker, whose standard output is its result channel.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "dng_outputs_run.h"
#include "support/dng_builder.h"
#include "support/raw_dng_builder.h"
#include "support/temp_folder.h"

namespace {

using namespace testing_support;

std::string golden_path(const std::string& name) { return std::string(DNG_RENDER_GOLDEN) + "/" + name; }

std::string fixture(const std::string& name) { return read_file(std::string(CORVELLA_FIXTURES) + "/dng/" + name); }

// The standard output of dng_outputs run in folder on the named files, so
// that its result lines carry the bare names.
std::string run_outputs(const TempFolder& folder, const std::vector<std::string>& args) {
  DngOutputsStreams streams;
  streams.out_path = folder.sub("out.txt");
  streams.folder = folder.path();
  run_dng_outputs(args, streams);
  return read_file(streams.out_path);
}

// EXIF, GPS and Interoperability directories holding most of the tags the
// parser keeps, with values that reach the named forms: flash flags, an
// exposure time and f-number with their APEX values, a lens range, an
// image id, dates, texts in both encodings, a CFA pattern.
void add_metadata(DngBuilder& b) {
  const int ifd0 = DngBuilder::kIfd0;
  b.add_ascii(ifd0, 270, "Colour chart");
  b.add_ascii(ifd0, 305, "Corvella builder");
  b.add_ascii(ifd0, 306, "2024:05:06 07:08:09");
  b.add_ascii(ifd0, 315, "A. Photographer");
  b.add(ifd0, 33432, 2, 17, std::string("Owner\0Editor 2\0\0\0", 17));
  b.add_byte(ifd0, 37398, {1, 0, 0, 0});
  b.add_ascii(ifd0, 50735, "SN 0042");
  b.add_rational(ifd0, 50736, {{24, 1}, {70, 1}, {28, 10}, {40, 10}});

  const int exif = b.exif_ifd();
  b.add_rational(exif, 33434, {{1, 250}});
  b.add_rational(exif, 33437, {{28, 10}});
  b.add_short(exif, 34850, {3});
  b.add_short(exif, 34855, {200, 400});
  b.add(exif, 34858, 8, 2, b.u16(0xFFFE) + b.u16(1));
  b.add_undefined(exif, 36864, "0230");
  b.add_ascii(exif, 36867, "2024:05:06 07:08:09");
  b.add_ascii(exif, 36868, "2024:05:06 07:08:10");
  b.add_undefined(exif, 37121, std::string("\1\2\3\0", 4));
  b.add_srational(exif, 37377, {{7965784, 1000000}});
  b.add_rational(exif, 37378, {{2970854, 1000000}});
  b.add_srational(exif, 37379, {{-150, 100}});
  b.add_srational(exif, 37380, {{-1, 3}});
  b.add_rational(exif, 37381, {{297, 100}});
  b.add_rational(exif, 37382, {{35, 10}});
  b.add_short(exif, 37383, {5});
  b.add_short(exif, 37384, {0x8000 | 5000});
  b.add_short(exif, 37385, {0x59});
  b.add_rational(exif, 37386, {{50, 1}});
  b.add_long(exif, 37393, {1234});
  b.add_short(exif, 37396, {16, 12, 8, 6});
  b.add_undefined(exif, 37510, std::string("ASCII\0\0\0Chart on the wall", 25));
  b.add_ascii(exif, 37520, "25");
  b.add_ascii(exif, 37521, "50");
  b.add_undefined(exif, 40960, "0100");
  b.add_short(exif, 40961, {1});
  b.add_long(exif, 40962, {32});
  b.add_long(exif, 40963, {24});
  b.add_rational(exif, 41486, {{3000, 1}});
  b.add_rational(exif, 41487, {{3000, 1}});
  b.add_short(exif, 41488, {3});
  b.add_short(exif, 41495, {2});
  b.add_undefined(exif, 41728, "\3");
  b.add_undefined(exif, 41729, "\1");
  // Two columns, two rows; the colours column by column.
  b.add_undefined(exif, 41730, b.u16(2) + b.u16(2) + std::string("\0\1\1\2", 4));
  b.add_short(exif, 41985, {0});
  b.add_short(exif, 41986, {2});
  b.add_short(exif, 41987, {1});
  b.add_rational(exif, 41988, {{15, 10}});
  b.add_short(exif, 41989, {75});
  b.add_short(exif, 41990, {3});
  b.add_short(exif, 41991, {1});
  b.add_short(exif, 41992, {2});
  b.add_short(exif, 41993, {1});
  b.add_short(exif, 41994, {0});
  b.add_short(exif, 41996, {2});
  b.add_ascii(exif, 42016, "0123456789abcdef0123456789ABCDEF");
  b.add_rational(exif, 42240, {{22, 10}});

  const int gps = b.gps_ifd();
  b.add_byte(gps, 0, {2, 3, 0, 0});
  b.add_ascii(gps, 1, "N");
  b.add_rational(gps, 2, {{48, 1}, {51, 1}, {2406, 100}});
  b.add_ascii(gps, 3, "E");
  b.add_rational(gps, 4, {{2, 1}, {21, 1}, {798, 100}});
  b.add_byte(gps, 5, {0});
  b.add_rational(gps, 6, {{35, 1}});
  b.add_rational(gps, 7, {{12, 1}, {34, 1}, {56, 1}});
  b.add_undefined(gps, 27, std::string("ASCII\0\0\0GPS", 11));
  b.add_ascii(gps, 29, "2024:05:06");
  b.add_short(gps, 30, {0});

  const int interop = b.interop_ifd();
  b.add_ascii(interop, 1, "R98");
  b.add_undefined(interop, 2, "0100");
  b.add_long(interop, 4097, {32});
  b.add_long(interop, 4098, {24});
}

// A mosaic in three strips with every linearisation and area tag.
RawDngOptions mosaic(bool big_endian) {
  RawDngOptions o;
  o.width = 32;
  o.height = 24;
  o.tile_length = 8;
  o.big_endian = big_endian;
  o.linearization_table = {0, 1000, 20000, 40000, 65535};
  o.black_repeat_rows = 2;
  o.black_repeat_cols = 2;
  o.black_levels = {16, 17, 18, 19};
  o.black_delta_h = true;
  o.black_delta_v = true;
  o.active_area = std::vector<uint32_t>{2, 0, 24, 32};
  o.masked_areas = {{0, 0, 2, 32}};
  o.default_crop_origin = std::make_pair(Rational{2, 1}, Rational{2, 1});
  o.default_crop_size = std::make_pair(Rational{28, 1}, Rational{18, 1});
  o.default_scale = std::make_pair(Rational{1, 1}, Rational{3, 2});
  o.extra = add_metadata;
  return o;
}

// Three samples in tiles, a black level per sample and phase.
RawDngOptions linear_raw() {
  RawDngOptions o;
  o.width = 32;
  o.height = 32;
  o.cfa_rows.clear();
  o.linear_samples = 3;
  o.tile_width = 16;
  o.tile_length = 16;
  o.big_endian = true;
  o.black_repeat_rows = 1;
  o.black_repeat_cols = 2;
  o.black_levels = {10, 20, 30, 11, 21, 31};
  return o;
}

struct Golden {
  const char* golden;
  const char* file;
  std::string bytes;
};

std::vector<Golden> goldens() {
  return {
      {"verbose_builder_mosaic.txt", "mosaic.dng", build_raw_dng(mosaic(false)).bytes},
      {"verbose_builder_linear_raw.txt", "linear.dng", build_raw_dng(linear_raw()).bytes},
      // A camera's little-endian file (its raw data cut off) and a
      // big-endian one with three SubIFDs and a maker note in its private
      // data.
      {"verbose_kissx4_first64k.txt", "kissx4.dng", fixture("canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng")},
      {"verbose_350d_stripped.txt", "350d.dng", fixture("canon_eos_350d_ljpeg_tiled_STRIPPED.dng")},
  };
}

TEST(DngOutputsVerbose, DumpsMatchTheGoldenTranscripts) {
  const bool update = std::getenv("CORVELLA_UPDATE_GOLDEN") != nullptr;
  TempFolder folder;
  for (const Golden& g : goldens()) {
    SCOPED_TRACE(g.golden);
    folder.write_file(g.file, g.bytes);
    const std::string got = run_outputs(folder, {"--verbose", g.file});
    if (update) {
      std::ofstream(golden_path(g.golden), std::ios::binary) << got;
      continue;
    }
    EXPECT_EQ(got, read_file(golden_path(g.golden)));
  }
}

// The dumps print what the parse read, whatever the byte order: the mosaic
// written big-endian prints the little-endian transcript but for its byte
// order line.
TEST(DngOutputsVerbose, BothByteOrdersPrintTheSameValues) {
  TempFolder folder;
  folder.write_file("ii.dng", build_raw_dng(mosaic(false)).bytes);
  folder.write_file("mm.dng", build_raw_dng(mosaic(true)).bytes);
  std::string little = run_outputs(folder, {"--verbose", "ii.dng"});
  const std::string big = run_outputs(folder, {"--verbose", "mm.dng"});
  const std::string order = "\nUses little-endian byte order\n";
  ASSERT_EQ(little.compare(0, order.size(), order), 0) << little;
  little.replace(0, order.size(), "\nUses big-endian byte order\n");
  little.replace(little.rfind(" ii.dng\n"), 8, " mm.dng\n");
  EXPECT_EQ(big, little);
}

// Without --verbose standard output carries one result line per file.
TEST(DngOutputsVerbose, WithoutTheOptionOnlyResultLinesArePrinted) {
  TempFolder folder;
  std::vector<std::string> names;
  std::string expected;
  for (const Golden& g : goldens()) {
    folder.write_file(g.file, g.bytes);
    names.push_back(g.file);
    // The last line of the verbose transcript is the file's result line.
    const std::string verbose = read_file(golden_path(g.golden));
    const size_t last = verbose.rfind('\n', verbose.size() - 2);
    expected += verbose.substr(last + 1);
  }
  EXPECT_EQ(run_outputs(folder, names), expected);
}

}  // namespace
