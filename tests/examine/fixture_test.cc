// Real camera and scanner files through both entries of the examiner.
#include <gtest/gtest.h>

#include <string>

#include "examine_harness.h"
#include "support/temp_folder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;

struct FixtureCase {
  const char* name;
  bool read_ok;  // examine_file
  const char* read_message;
  bool walk_ok;  // walk_file, whole dump
  const char* walk_message;
  bool dng;
  const char* make;
  const char* date_time_digitized;  // after the stop-after-EXIF walk
  const char* in_dump;              // a line of the whole dump
};

const FixtureCase kFixtures[] = {
    {"gray_8bit_multipage.tiff", true, "OK", true, "OK", false, "", "",
     "\t\t(Subfile Type: single page of multi-page image)\n"},
    {"child_ifd_jpeg.tiff", true, "OK", true, "OK", false, "", "", "\nNumber of Sub IFDs: 1\n"},
    // Gray with alpha: two BitsPerSample values, which the examiner refuses.
    {"subsubifds.tif", false, "Image File Directory offset not at word boundary", false,
     "BitsPerSample has other than 1 or 3 values", false, "", nullptr, "WARNING: Image File Directory offset not at word"},
    {"canon_eos300d_exiftool_small.tif", true, "OK", true, "OK", false, "Canon", "", "\t\t\t\tKeyword: "},
    {"canon_powershot_s330.jpg", true, "OK", true, "OK", false, "Canon", "2002:11:16 15:27:01",
     "JPEG in EXIF format\n"},
    {"sanyo_sr662.jpg", true, "OK", true, "OK", false, "SANYO Electric Co.,Ltd.", "2001:09:15 18:11:27",
     "JPEG/JFIF (not TIFF compatible)\n"},
    {"fujifilm_finepix_s5pro_stripped.raf", true, "OK", true, "OK", false, "FUJIFILM", "2007:05:22 13:58:30",
     "\tMake: FUJIFILM\n"},
    {"konicaminolta_dimage_a2_stripped.mrw", true, "OK", true, "OK", false, "Konica Minolta Camera, I",
     "2004:11:18 23:14:58", "\tModel: DiMAGE A2\n"},
    {"nikon_d70_stripped.nef", true, "OK", true, "OK", false, "NIKON CORPORATION", "2004:06:09 16:02:35",
     "Sub Image File Directory"},
    {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", true, "OK", true, "OK", true, "Canon", "2005:08:03 18:59:18",
     "\nXMP entry:\n"},
    // The first 8 KB of a raw file: the first directory is whole, what it
    // points to is not.
    {"sony_ilce7m3_TRUNCATED.arw", true, "OK", false, "Read error - file may be short (reading entry count)", false,
     "SONY", nullptr, "\tModel: ILCE-7M3\n"},
    {"canon_eos300d_ciff_stripped.crw", false, "TV_IFD_CRW::read not supported", true, "OK", false, "", nullptr,
     "\nFirst Directory Block at offset 26 (3 entries)\n"},
    {"sigma_sd10_stripped.x3f", false, "TV_IFD_X3F::read not supported", true, "OK", false, "", nullptr,
     "Directory Section: SECd\n"},
};

std::string fixture(const char* name) {
  return testing_support::read_file(std::string(CORVELLA_FIXTURES "/examine/") + name);
}

class RealFile : public testing::TestWithParam<FixtureCase> {};

TEST_P(RealFile, ReadAndWalk) {
  const FixtureCase& c = GetParam();
  std::string bytes = fixture(c.name);
  ASSERT_FALSE(bytes.empty()) << c.name;
  Examination e(bytes);
  EXPECT_EQ(e.examine(), c.read_ok) << c.name;
  EXPECT_EQ(e.message(), c.read_message) << c.name;
  if (c.read_ok) {
    EXPECT_EQ(e.first()->is_dng, c.dng) << c.name;
  }

  EXPECT_EQ(e.walk(), c.walk_ok) << c.name << ": " << e.message();
  if (c.walk_message != nullptr) {
    EXPECT_EQ(e.message(), c.walk_message) << c.name;
  }
  EXPECT_TRUE(contains(e.dump(), c.in_dump)) << c.name << "\n" << e.dump();
  if (c.read_ok) {
    EXPECT_STREQ(e.state()->make, c.make) << c.name;
  }

  if (c.date_time_digitized != nullptr) {
    ASSERT_TRUE(e.walk(true)) << c.name << ": " << e.message();
    EXPECT_STREQ(e.state()->date_time_digitized, c.date_time_digitized) << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealFile, testing::ValuesIn(kFixtures),
                         [](const testing::TestParamInfo<FixtureCase>& info) {
                           std::string name;
                           for (char ch : std::string(info.param.name)) {
                             name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           }
                           return name;
                         });

TEST(RealFileOrders, LittleAndBigEndianCamerasAgreeWithTheirByteOrder) {
  Examination little(fixture("sanyo_sr662.jpg"));
  ASSERT_TRUE(little.walk());
  EXPECT_FALSE(little.state()->big_endian);
  Examination big(fixture("konicaminolta_dimage_a2_stripped.mrw"));
  ASSERT_TRUE(big.walk());
  EXPECT_TRUE(big.state()->big_endian);
}

}  // namespace
