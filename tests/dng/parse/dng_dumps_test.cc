// The verbose dump lines of the image-directory and EXIF objects, entry by
// entry: the forms each tag prints, bounded lists for hostile counts, and
// dumps that show what lies in the stream instead of reading past its end.
// The switch is turned on only inside each check; with it off nothing
// reaches standard output, and turning it on changes no warning, no verdict
// and no stored value.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"

#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_tag_names.h"
#include "parse_test_util.h"
#include "support/dng_builder.h"

namespace {

using dng_test::longs;
using dng_test::printed_by;
using dng_test::rationals;
using dng_test::shorts;
using dng_test::srationals;
using dng_test::TagEntry;

constexpr uint32_t kPos = dng_test::kValuePosition;

// dng_verbose on for the life of the object.
class VerboseOn {
 public:
  VerboseOn() { dng_verbose = true; }
  ~VerboseOn() { dng_verbose = false; }
  VerboseOn(const VerboseOn&) = delete;
  VerboseOn& operator=(const VerboseOn&) = delete;
};

std::string repeated_shorts(uint32_t value, uint32_t n) {
  std::string s;
  for (uint32_t i = 0; i < n; ++i) dng_test::put16(s, value, false);
  return s;
}

std::string uint_line(const char* name, uint32_t value, uint32_t n) {
  std::string s = name;
  s += ":";
  for (uint32_t i = 0; i < n; ++i) s += " " + std::to_string(value);
  return s + "\n";
}

// Offers the entries to an object and gives what was printed, once with the
// dumps off and once on: the warnings, the code and what offer reports of
// the object must not change.
template <class Object>
std::string dumps_of(const std::function<void(Object&)>& setup, const std::vector<TagEntry>& entries,
                     const std::function<bool(Object&, dng_stream&, const TagEntry&)>& offer,
                     const std::function<std::string(const Object&)>& fields) {
  auto run = [&](bool verbose, std::string& state) {
    Object object;
    if (setup) setup(object);
    dng_test::Printed p = printed_by([&] {
      for (const TagEntry& e : entries) {
        dng_test::EntryStream s(e);
        if (verbose) {
          VerboseOn on;
          offer(object, s.Stream(), e);
        } else {
          offer(object, s.Stream(), e);
        }
      }
    });
    state = fields(object);
    return p;
  };
  std::string quiet_state, verbose_state;
  const dng_test::Printed quiet = run(false, quiet_state);
  const dng_test::Printed verbose = run(true, verbose_state);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(verbose.err, quiet.err);
  EXPECT_EQ(verbose.code, quiet.code);
  EXPECT_EQ(verbose_state, quiet_state);
  return verbose.out;
}

struct IfdCase {
  const char* name;
  std::function<void(dng_ifd&)> setup;
  std::vector<TagEntry> entries;
  std::string expected;
};

std::string ifd_fields(const dng_ifd& ifd) {
  std::string s;
  for (uint32_t v : ifd.bits_per_sample) s += std::to_string(v) + ",";
  for (uint32_t v : ifd.extra_samples) s += std::to_string(v) + ",";
  s += std::to_string(ifd.compression) + "," + std::to_string(ifd.masked_areas_count) + "," +
       std::to_string(ifd.black_level[0][0][2]) + "," + std::to_string(ifd.cfa_pattern[1][2]);
  return s;
}

TEST(IfdDumps, EachTakenTagPrintsItsLine) {
  const uint32_t cfa = 32803;
  auto samples = [](uint32_t n) { return [n](dng_ifd& ifd) { ifd.samples_per_pixel = n; }; };
  auto cfa_ifd = [&](dng_ifd& ifd) { ifd.photometric_interpretation = cfa; };
  const IfdCase cases[] = {
      {"NewSubFileType named", nullptr, {{0, 254, 4, 1, longs({1})}}, "NewSubFileType: Preview Image\n"},
      {"NewSubFileType without a name", nullptr, {{0, 254, 4, 1, longs({2})}}, "NewSubFileType: 2\n"},
      {"ImageWidth from a SHORT", nullptr, {{0, 256, 3, 1, shorts({640})}}, "ImageWidth: 640\n"},
      {"BitsPerSample past the fourth", nullptr, {{0, 258, 3, 6, repeated_shorts(16, 6)}},
       uint_line("BitsPerSample", 16, 6)},
      {"BitsPerSample held to the dump limit", nullptr, {{0, 258, 3, 150, repeated_shorts(12, 150)}},
       uint_line("BitsPerSample", 12, 100) + "    ... 50 more entries\n"},
      {"SampleFormat", samples(2), {{0, 339, 3, 2, shorts({3, 3})}}, "SampleFormat: 3 3\n"},
      {"ExtraSamples keeps four", samples(8), {{0, 338, 3, 6, shorts({1, 2, 3, 4, 5, 6})}},
       "ExtraSamples: 1 2 3 4\n    ... 2 more entries\n"},
      // Zero is stored as 1 after its warning; the line shows what is kept.
      {"Compression zero", nullptr, {{0, 259, 3, 1, shorts({0})}}, "Compression: Uncompressed\n"},
      {"Compression named", nullptr, {{0, 259, 3, 1, shorts({32773})}}, "Compression: PackBits\n"},
      {"PhotometricInterpretation", nullptr, {{0, 262, 3, 1, shorts({34892})}},
       "PhotometricInterpretation: LinearRaw\n"},
      {"Orientation 9", nullptr, {{0, 274, 3, 1, shorts({9})}}, "Orientation: 9 - unknown\n"},
      {"Orientation without a name", nullptr, {{0, 274, 3, 1, shorts({12})}}, "Orientation: 12\n"},
      {"XResolution", nullptr, {{0, 282, 5, 1, rationals({{600, 2}})}}, "XResolution: 300.00\n"},
      {"ResolutionUnit", nullptr, {{0, 296, 3, 1, shorts({3})}}, "ResolutionUnit: cm\n"},
      {"RowsPerStrip", nullptr, {{0, 278, 4, 1, longs({16})}}, "RowsPerStrip: 16\n"},
      {"StripOffsets through the value dump", nullptr, {{0, 273, 4, 2, longs({100, 200})}},
       "StripOffsets: Offset = 100 200\n"},
      {"TileByteCounts as a list", nullptr, {{0, 325, 3, 5, shorts({1, 2, 3, 4, 5})}},
       "TileByteCounts: 5 entries\n    Count [0] = 1\n    Count [1] = 2\n    Count [2] = 3\n"
       "    Count [3] = 4\n    Count [4] = 5\n"},
      // Read as a text, a list past the end of the stream would end the
      // parse; its bytes are shown instead.
      {"StripByteCounts given as ASCII", nullptr, {{0, 279, 2, 40, "12"}},
       "StripByteCounts: Byte, size = 40\n    31 32 " + std::string(14 * 3 + 3, ' ') + "12\n"
       "    ... 38 more bytes\n"},
      {"SubIFDs of type IFD shown as LONG", nullptr, {{0, 330, 13, 2, longs({1000, 2000})}},
       "SubIFDs: IFD = 1000 2000\n"},
      {"JPEGTables", nullptr, {{0, 347, 7, 5, std::string(5, '\0')}},
       "JPEGTables: count = 5, offset = " + std::to_string(kPos) + "\n"},
      {"YCbCrSubSampling", nullptr, {{0, 530, 3, 2, shorts({2, 1})}}, "YCbCrSubSampling: H = 2, V = 1\n"},
      {"CFA pattern of three columns, names padded",
       cfa_ifd,
       {{0, 33421, 3, 2, shorts({2, 3})}, {0, 33422, 1, 6, std::string("\3\4\5\6\1\x09", 6)}},
       "CFARepeatPatternDim: Rows = 2, Cols = 3\n"
       "CFAPattern:\n"
       "    Cyan     Magenta  Yellow   \n"
       "    White    Green    Color9   \n"},
      {"CFAPlaneColor of four", cfa_ifd, {{0, 50710, 1, 4, std::string("\0\1\2\3", 4)}},
       "CFAPlaneColor: Red Green Blue Cyan\n"},
      {"CFALayout", cfa_ifd, {{0, 50711, 3, 1, shorts({2})}},
       "CFALayout: Staggered layout A: even columns are offset down by 1/2 row\n"},
      {"BlackLevel of one phase and three samples",
       [](dng_ifd& ifd) {
         ifd.photometric_interpretation = 34892;
         ifd.samples_per_pixel = 3;
       },
       {{0, 50714, 5, 3, rationals({{1, 2}, {64, 1}, {1023, 10}})}}, "BlackLevel: 0.50 64.00 102.30\n"},
      {"BlackLevel by row phase",
       cfa_ifd,
       {{0, 50713, 3, 2, shorts({2, 1})}, {0, 50714, 3, 2, shorts({256, 1000})}},
       "BlackLevelRepeatDim: Rows = 2, Cols = 1\nBlackLevel:\n      256.00\n     1000.00\n"},
      {"WhiteLevel of six samples keeps four",
       [](dng_ifd& ifd) {
         ifd.photometric_interpretation = 34892;
         ifd.samples_per_pixel = 6;
       },
       {{0, 50717, 4, 6, longs({1, 2, 3, 4, 5, 6})}}, "WhiteLevel: 1 2 3 4\n    ... 2 more entries\n"},
      {"DefaultCropOrigin", nullptr, {{0, 50719, 5, 2, rationals({{5, 2}, {8, 1}})}},
       "DefaultCropOrigin: H = 2.50 V = 8.00\n"},
      {"BestQualityScale", nullptr, {{0, 50780, 5, 1, rationals({{3, 2}})}}, "BestQualityScale: 1.5000\n"},
      {"ActiveArea signed", nullptr, {{0, 50829, 9, 4, longs({0xFFFFFFFF, 2, 30, 40})}},
       "ActiveArea: T = -1 L = 2 B = 30 R = 40\n"},
      {"MaskedAreas keeps four of five", nullptr,
       {{0, 50830, 3, 20, shorts({0, 0, 1, 1, 1, 1, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5})}},
       "MaskedAreas: 4\n"
       "    Area [0]: T = 0 L = 0 B = 1 R = 1\n"
       "    Area [1]: T = 1 L = 1 B = 2 R = 2\n"
       "    Area [2]: T = 2 L = 2 B = 3 R = 3\n"
       "    Area [3]: T = 3 L = 3 B = 4 R = 4\n"},
      // Entries the object does not take print nothing here (the container
      // parser dumps them with a "*").
      {"CFAPattern before its dimensions", cfa_ifd, {{0, 33422, 1, 4, std::string("\0\1\1\2", 4)}}, ""},
      {"unknown tag", nullptr, {{0, 40000, 3, 1, shorts({7})}}, ""},
  };
  const std::function<bool(dng_ifd&, dng_stream&, const TagEntry&)> offer = [](dng_ifd& ifd, dng_stream& stream,
                                                                               const TagEntry& e) {
    return ifd.ReadTag(stream, e.parent, e.tag, e.type, e.count, kPos);
  };
  for (const IfdCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dumps_of<dng_ifd>(c.setup, c.entries, offer, ifd_fields), c.expected);
  }
}

struct ExifCase {
  const char* name;
  std::vector<TagEntry> entries;
  std::string expected;
};

std::string exif_fields(const dng_exif& x) {
  auto r = [](const dng_unsigned_ratio& v) { return std::to_string(v.n) + "/" + std::to_string(v.d) + ","; };
  return r(x.exposure_time) + r(x.f_number) + r(x.aperture_value) + std::to_string(x.flash) + "," +
         std::to_string(x.image_unique_id.data[0]) + "," + x.copyright.CStr() + "," + x.copyright2.CStr();
}

TEST(ExifDumps, EachTakenTagPrintsItsLine) {
  const uint32_t exif = dng_parent_exif;
  const ExifCase cases[] = {
      {"ExposureTime of seconds", {{exif, 33434, 5, 1, rationals({{2, 1}})}}, "ExposureTime: 2.00 sec\n"},
      {"ExposureTime snapped", {{exif, 33434, 5, 1, rationals({{166, 10000}})}}, "ExposureTime: 1/60.0 sec\n"},
      {"ExposureTime short", {{exif, 33434, 5, 1, rationals({{1, 4000}})}}, "ExposureTime: 1/4000 sec\n"},
      {"ExposureTime of zero", {{exif, 33434, 5, 1, rationals({{0, 1}})}}, "ExposureTime: <invalid>\n"},
      {"FNumber", {{exif, 33437, 5, 1, rationals({{56, 10}})}}, "FNumber: f/5.6\n"},
      // The APEX tags print their own values, also when they disagree with
      // the exposure time and f-number already kept.
      {"ShutterSpeedValue of its own",
       {{exif, 33434, 5, 1, rationals({{1, 60}})}, {exif, 37377, 10, 1, srationals({{10, 1}})}},
       "ExposureTime: 1/60.0 sec\nShutterSpeedValue: 1/1024 sec\n"},
      {"ApertureValue of its own",
       {{exif, 33437, 5, 1, rationals({{28, 10}})}, {exif, 37378, 5, 1, rationals({{4, 1}})}},
       "FNumber: f/2.8\nApertureValue: f/4.0\n"},
      {"MaxApertureValue", {{exif, 37381, 5, 1, rationals({{5, 1}})}}, "MaxApertureValue: f/5.7\n"},
      {"Flash that did not fire", {{exif, 37385, 3, 1, shorts({0})}}, "Flash: 0\n    Flash did not fire\n"},
      {"Flash without return light",
       {{exif, 37385, 3, 1, shorts({0x05})}},
       "Flash: 5\n    Flash fired\n    Strobe return light not detected\n"},
      {"Flash with return light and compulsory firing",
       {{exif, 37385, 3, 1, shorts({0x0F})}},
       "Flash: 15\n    Flash fired\n    Strobe return light detected\n    Compulsory flash firing\n"},
      {"Flash suppressed", {{exif, 37385, 3, 1, shorts({0x10})}},
       "Flash: 16\n    Flash did not fire\n    Compulsory flash suppression\n"},
      {"No flash function", {{exif, 37385, 3, 1, shorts({0x20})}},
       "Flash: 32\n    Flash did not fire\n    No flash function\n"},
      {"Flash with red-eye reduction", {{exif, 37385, 3, 1, shorts({0x59})}},
       "Flash: 89\n    Flash fired\n    Auto mode\n    Red-eye reduction supported\n"},
      {"LensInfo of a prime", {{0, 50736, 5, 4, rationals({{50, 1}, {50, 1}, {18, 10}, {18, 10}})}},
       "LensInfo: 50.0 mm f/1.8\n"},
      {"LensInfo of a zoom", {{0, 50736, 5, 4, rationals({{18, 1}, {55, 1}, {35, 10}, {56, 10}})}},
       "LensInfo: 18.0-55.0 mm f/3.5-5.6\n"},
      {"ImageUniqueID of either case", {{exif, 42016, 2, 33, "00FFaa55" + std::string(24, 'e') + '\0'}},
       "ImageUniqueID: <00ffaa55eeeeeeeeeeeeeeeeeeeeeeee>\n"},
      {"ImageUniqueID of 31 digits is not taken", {{exif, 42016, 2, 33, std::string(31, '1') + "  "}}, ""},
      {"DateTime", {{0, 306, 2, 20, std::string("2021:02:03 04:05:06\0", 20)}}, "DateTime: 2021:02:03 04:05:06\n"},
      {"DateTime of blanks", {{0, 306, 2, 20, std::string(19, ' ') + '\0'}}, "DateTime: 0000:00:00 00:00:00\n"},
      {"DateTimeOriginal", {{exif, 36867, 2, 20, std::string("1999:12:31 23:59:59\0", 20)}},
       "DateTimeOriginal: 1999:12:31 23:59:59\n"},
      {"Copyright of one text", {{0, 33432, 2, 6, std::string("Owner\0", 6)}}, "Copyright: \"Owner\"\n"},
      {"Model with a tab", {{0, 272, 2, 9, std::string("Tab\there\0", 9)}}, "Model: \"Tab\\there\"\n"},
      {"BatteryLevel as text", {{exif, 33423, 2, 5, std::string("full\0", 5)}}, "BatteryLevel: \"full\"\n"},
      {"BatteryLevel as a ratio", {{exif, 33423, 5, 1, rationals({{7, 10}})}}, "BatteryLevel: 0.7\n"},
      {"LightSource named", {{exif, 37384, 3, 1, shorts({3})}}, "LightSource: Tungsten (incandescent light)\n"},
      {"ExifVersion with a byte that does not print", {{exif, 36864, 7, 4, std::string("02\x01" "1", 4)}},
       "ExifVersion: 02.1\n"},
      {"GPSVersionID", {{dng_parent_gps, 0, 1, 4, std::string("\2\2\0\0", 4)}}, "GPSVersionID: 2.2.0.0\n"},
      {"GPSTimeStamp", {{dng_parent_gps, 7, 5, 3, rationals({{1, 1}, {2, 1}, {3, 2}})}},
       "GPSTimeStamp: 1.0000 2.0000 1.5000\n"},
      {"GPSSpeed", {{dng_parent_gps, 13, 5, 1, rationals({{1, 3}})}}, "GPSSpeed: 0.33\n"},
      {"InteroperabilityIndex", {{dng_parent_interop, 1, 2, 4, std::string("R98\0", 4)}},
       "InteroperabilityIndex: \"R98\"\n"},
      {"RelatedImageWidth", {{dng_parent_interop, 4097, 3, 1, shorts({640})}}, "RelatedImageWidth: 640\n"},
  };
  const std::function<bool(dng_exif&, dng_stream&, const TagEntry&)> offer = [](dng_exif& x, dng_stream& stream,
                                                                                const TagEntry& e) {
    return x.ReadTag(stream, nullptr, e.parent, false, e.tag, e.type, e.count, kPos);
  };
  for (const ExifCase& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(dumps_of<dng_exif>(nullptr, c.entries, offer, exif_fields), c.expected);
  }
}

// A count that runs past the end of the stream: the dumps show the values
// and bytes that are there and count the rest, and raise nothing.
TEST(ValueDumps, StopAtTheEndOfTheStream) {
  const std::string bytes("\x01\x00\x02\x00\x03\x00" "ABCDEFGHIJ", 16);
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  VerboseOn on;
  const dng_test::Printed p = printed_by([&] {
    dump_tag_values(stream, "Short", 0, 40000, dng_type_short, 3);
    stream.SeekForRead(0);
    dump_tag_values(stream, "Short", 0, 40000, dng_type_short, 1000);
    stream.SeekForRead(10);
    dump_hex_ascii(stream, 50);
    stream.SeekForRead(14);
    dump_xmp(stream, 70000);
    stream.SeekForRead(16);
    dump_tag_values(stream, "Byte", 0, 40001, dng_type_byte, 1);
    stream.SeekForRead(16);
    dump_tag_values(stream, "Long", 0, 40002, dng_type_long, 2);
  });
  EXPECT_EQ(p.code, 0);
  // The bytes after the three SHORTs read as SHORTs too.
  EXPECT_EQ(p.out, "Tag40000: Short = 1 2 3\n"
                   "Tag40000: 1000 entries\n    Short [0] = 1\n    Short [1] = 2\n    Short [2] = 3\n"
                   "    Short [3] = 16961\n    Short [4] = 17475\n    Short [5] = 17989\n    Short [6] = 18503\n"
                   "    Short [7] = 19017\n    ... 992 more entries\n"
                   "    45 46 47 48 49 4a " + std::string(10 * 3 + 3, ' ') + "EFGHIJ\n"
                   "    ... 44 more bytes\n"
                   "XMP: IJ\n"
                   "Tag40001: Byte, size = 1\n"
                   "    ... 1 more bytes\n"
                   "Tag40002: Long =\n"
                   "    ... 2 more entries\n");
}

// The container parser's dump of an entry nobody takes: "*", the tag's
// name and its values under the type's name. A value that lies past the
// end of the file gives the same verdict and warnings as without the dumps.
TEST(ContainerDumps, UnclaimedEntriesPrintUnderTheirTypeAndStayInTheFile) {
  testing_support::DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(testing_support::DngBuilder::kIfd0);
  b.add_short(testing_support::DngBuilder::kIfd0, 40000, {7, 8});
  b.add_short(testing_support::DngBuilder::kIfd0, 40001, std::vector<uint16_t>(40, 9));
  std::string bytes = b.build();
  // The 40 values now start 4 bytes before the end of the file.
  b.set_field(testing_support::DngBuilder::kIfd0, 40001, static_cast<uint32_t>(bytes.size() - 4));
  bytes = b.build();

  // What the validation's parse prints, and its outcome.
  auto parse = [&](bool verbose) {
    bool valid = false;
    dng_test::Printed p = printed_by([&] {
      if (verbose) dng_verbose = true;
      dng_host host;
      dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
      dng_info info;
      try {
        info.ReadStructure(host, stream);
        info.FinishParse(host);
        valid = info.Validate();
      } catch (...) {
        dng_verbose = false;
        throw;
      }
      dng_verbose = false;
    });
    return std::make_pair(p, valid);
  };
  const auto [quiet, quiet_valid] = parse(false);
  const auto [verbose, verbose_valid] = parse(true);
  EXPECT_EQ(quiet.out, "");
  EXPECT_EQ(verbose.code, quiet.code);
  EXPECT_EQ(verbose_valid, quiet_valid);
  EXPECT_TRUE(quiet_valid) << quiet.err;
  EXPECT_EQ(verbose.err, quiet.err);
  const dng_test::Printed& p = verbose;
  EXPECT_NE(p.out.find("\n*Tag40000: Short = 7 8\n"), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("\n*Tag40001: 40 entries\n    Short [0] = "), std::string::npos) << p.out;
  EXPECT_NE(p.out.find("\n    ... 38 more entries\n"), std::string::npos) << p.out;
}

}  // namespace
