// The whole printed dump of one small file per container kind.
#include <gtest/gtest.h>

#include <string>

#include "examine_harness.h"
#include "support/tiff_builder.h"

namespace {

using examine_test::Examination;
using testing_support::TiffBuilder;

// IFD0 (width, Make, DateTime, EXIF link) -> IFD1 (compression); the EXIF
// directory holds DateTimeDigitized.
std::string small_tiff(bool big_endian) {
  TiffBuilder b(big_endian);
  int ifd0 = b.add_ifd(), ifd1 = b.add_ifd(), exif = b.add_ifd();
  b.add_short(ifd0, 256, {320});
  b.add_ascii(ifd0, 271, "Maker");
  b.add_ascii(ifd0, 306, "2020:01:02 03:04:05");
  b.add_ifd_pointer(ifd0, 34665, {exif});
  b.set_next(ifd0, ifd1);
  b.add_short(ifd1, 259, {6});
  b.add_ascii(exif, 36868, "2020:01:02 03:04:06");
  return b.build();
}

const char* const kDirectories =
    "\n"
    "First Image File Directory at offset 8 (4 entries)\n"
    "\tImageWidth: 320 \n"
    "\tMake: Maker\n"
    "\tDateTimeChanged: 2020:01:02 03:04:05\n"
    "\tExif IFD: 106 \n"
    "\n"
    "Next Image File Directory at offset 88 (1 entries)\n"
    "\tCompression: 6 \n"
    "\t\t(Compression: JPEG)\n"
    "\n"
    "Next Image File Directory offset is zero\n"
    "\n"
    "Number of Sub IFDs: 0\n"
    "\n"
    "EXIF Image File Directory at offset 106 (1 entries)\n"
    "\tDateTimeDigitized: 2020:01:02 03:04:06\n"
    "\n"
    "Next Image File Directory offset is zero\n"
    "\n"
    "Number of Sub IFDs: 0\n"
    "\n"
    "Number of Sub IFDs: 0\n";

struct GoldenCase {
  const char* what;
  std::string file;
  std::string header;  // what the dump shows before the directories
};

class GoldenDump : public testing::TestWithParam<GoldenCase> {};

TEST_P(GoldenDump, PrintsTheWholeStructure) {
  const GoldenCase& c = GetParam();
  Examination e(c.file);
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_EQ(e.dump(), "image\n" + c.header + kDirectories);
}

INSTANTIATE_TEST_SUITE_P(
    Containers, GoldenDump,
    testing::Values(GoldenCase{"TIFF", small_tiff(false), "Little Endian\n"},
                    GoldenCase{"TIFF big-endian", small_tiff(true), "Big Endian\n"},
                    GoldenCase{"EXIF JPEG", testing_support::exif_jpeg(small_tiff(false)),
                               "\tLength in EXIF header: @4=0x0 @5=0x98 (152 or 38912)\n"
                               "JPEG in EXIF format\n"
                               "Little Endian\n"},
                    GoldenCase{"JFIF then EXIF", testing_support::jfif_exif_jpeg(small_tiff(true)),
                               "JPEG/JFIF (not TIFF compatible)\n"
                               "\tHeader length: 16\n"
                               "\tVersion: 1.2\n"
                               "\tUnits: 1\n"
                               "\tXdensity: 72\n"
                               "\tYdensity: 72\n"
                               "\tXthumbnail: 0\n"
                               "\tYthumbnail: 0\n"
                               "Big Endian\n"},
                    GoldenCase{"FUJIFILM", testing_support::fujifilm_file(small_tiff(true)), "Big Endian\n"},
                    GoldenCase{"MRW", testing_support::minolta_mrw(small_tiff(false)), "Little Endian\n"}),
    [](const testing::TestParamInfo<GoldenCase>& info) {
      std::string name;
      for (char c : std::string(info.param.what)) name += isalnum(static_cast<unsigned char>(c)) ? c : '_';
      return name;
    });

}  // namespace
