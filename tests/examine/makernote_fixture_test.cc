// Camera JPEGs with real maker notes: each walks without a warning or a
// failure and prints its maker-note block as expected.
#include <gtest/gtest.h>

#include <string>

#include "examine_harness.h"
#include "support/temp_folder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;

struct RealNote {
  const char* file;
  const char* block;  // the whole maker-note block of the dump
};

const RealNote kRealNotes[] = {
    // Second format with a little-endian TIFF header of its own; strings in
    // the note.
    {"nikon_d1x_type3_le_iptc.jpg",
     "\n\tMaker Notes for NIKON CORPORATION\n"
     "\t\tNikonVersion: 48 50 48 48 \n"
     "\t\tNikonISOUsed: 0 200\n"
     "\t\tNikonColorMode1: COLOR\n"
     "\t\tNikonQuality: RAW    \n"
     "\t\tNikonWhiteBal: FLASH       \n"
     "\t\tNikonImgSharp: NONE  \n"
     "\t\tNikonFocusMode: AF-S  \n"
     "\t\tNikonFlashSet: NORMAL      \n"
     "\t\tNikonAutoFlash: NEW_TTL \n"
     "\t\tNikonWhiteBalBias: 0\n"
     "\t\tNikonToneComp: NORMAL\n"
     "\t\tNikonLensType: 2 \n"
     "\t\tNikonLensRange: 17\n"
     "\t\tNikonFlashUsed: 3 \n"
     "\t\tNikonAutoFocus: 1 0 1 0 \n"
     "\t\tNikonShootBrack: 1 \n"
     "\t\tNikonColorMode2: MODE2   \n"
     "\t\tNikonLighting: SPEEDLIGHT \n"
     "\t\tNikonHueAdjust: 3\n"
     "\n"},
    // "OLYMP" header; strings from the file, rationals looked for in the
    // note although the camera counted their offsets from the file.
    {"olympus_c960_olymp.jpg",
     "\n\tMaker Notes for OLYMPUS OPTICAL CO.,LTD\n"
     "\t\tOlympusQuality: 2\n"
     "\t\tOlympusMacroMode: 0\n"
     "\t\tOlympusDigiZoom: [Can't interpret rational value (count = 1; value = 892; maxlen = 176).]\n"
     "\t\tFirmwareVer: SR874\n"
     "\t\tOlympusCameraID: 158 3 0 0 \n"
     "\n"},
    // Fujifilm notes start with their version, tag 0, which ends the list.
    {"fujifilm_finepix40i.jpg", "\n\tMaker Notes for FUJIFILM\n\t\tFujiVersion: [tag is 0]\n\n"},
    {"sanyo_sr662.jpg",
     "\n\tMaker Notes for SANYO Electric Co.,Ltd.\n"
     "\t\tSanyoShootMode: [Can't interpret value (TIFF_[S]LONG count = 3).]\n"
     "\t\tSanyoQuality: 4\n"
     "\t\tSanyoDump: [Can't interpret value (TIFF_[S]LONG count = 20).]\n"
     "\n"},
    // A little-endian note in a big-endian file: read in the file's order,
    // its entry count is too large for the note.
    {"canon_powershot_s330.jpg", "\n\tMaker Notes for Canon\n\t\t[Error interpreting Maker Notes.]\n\n"},
};

class RealMakerNote : public testing::TestWithParam<RealNote> {};

TEST_P(RealMakerNote, WalksWithoutWarningsAndPrintsItsBlock) {
  const RealNote& c = GetParam();
  Examination e(testing_support::read_file(std::string(CORVELLA_FIXTURES "/jpeg/") + c.file));
  testing::internal::CaptureStderr();
  const bool walked = e.walk();
  const std::string dump = e.dump();
  const bool read = e.examine();
  const std::string warnings = testing::internal::GetCapturedStderr();
  EXPECT_TRUE(walked) << e.message();
  EXPECT_TRUE(read) << e.message();
  EXPECT_EQ(warnings, "");
  EXPECT_TRUE(contains(dump, c.block)) << dump;
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealMakerNote, testing::ValuesIn(kRealNotes), [](const auto& info) {
  std::string name = info.param.file;
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
});

}  // namespace
