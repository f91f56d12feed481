// The X3F header and directory walk: the dump of a built file, the header
// fields by version, the white balance label that fills its field, property
// texts that run to the end of their data, property tables whose sizes wrap
// in 32 bits or run past their section, read failures, the "C" locale of
// the printed values, and two real camera files.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <string>

#include "examine_harness.h"
#include "support/comma_locale.h"
#include "support/ciff_builder.h"
#include "support/temp_folder.h"
#include "support/x3f_builder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;
using testing_support::le32;
using testing_support::X3fBuilder;
using testing_support::X3fProperties;

std::string test_name(const char* what) {
  std::string name;
  for (char ch : std::string(what)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
  return name;
}

std::string camera_file() {
  X3fBuilder b;
  b.set_size(640, 480, 90).set_white_balance("Daylight");
  b.set_extended(0, 1, 3).set_extended(5, 10, 0).set_extended(6, 11, 7);
  b.add_section("IMAG", std::string(16, '\x11'));
  b.add_properties(X3fProperties().add("ISO", "100").add("CAMMANUF", "SIGMA").add("TIME", "1000000000"));
  return b.build();
}

TEST(X3fWalk, GoldenDump) {
  Examination e(camera_file());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_EQ(e.dump(),
            "image\n"
            "X3F\n"
            "File Format Version: 2.2\n"
            "Unique Identifier: 30313233343536373839616263646566\n"
            "Image Columns: 640\n"
            "Image Rows: 480\n"
            "Rotation: 90\n"
            "White Balance Label: Daylight\n"
            "Exposure adjust: 3.000000\n"
            "X3 Fill Light adjust: 0.000000\n"
            "Directoryoffset = 374\n"
            "Directory Section: SECd\n"
            "Number of Entries: 2\n"
            "Entry 0: offset: 232; length: 16; type: IMAG\n"
            "Entry 1: offset: 248; length: 126; type: PROP\n"
            "Number of Properties: 3; Property Table Size = 24; Block Size = 102\n"
            "Property 0: name offset 0; value offset 8\n"
            "\tISO = 100\n"
            "Property 1: name offset 16; value offset 34\n"
            "\tCAMMANUF = SIGMA\n"
            "Property 2: name offset 46; value offset 56\n"
            "\tTIME = 1000000000\n");
}

TEST(X3fWalk, SilentReadRefusesWhatTheWalkPrints) {
  Examination e(camera_file());
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "TV_IFD_X3F::read not supported");
  EXPECT_TRUE(e.walk(true)) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\tCAMMANUF = SIGMA\n"));
}

TEST(X3fWalk, KnownPropertiesBecomeSummaryItemsWhateverTheirCase) {
  X3fBuilder b;
  b.add_properties(X3fProperties()
                       .add("iso", "200")
                       .add("CamModel", "SD")
                       .add("TIME", "1000000000")
                       .add("FLength", "30")
                       .add("LENSMODEL", "145"));
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  std::string items;
  for (const SummaryItem& item : e.state()->summary.items) items += item.name + "=" + item.text + ";";
  EXPECT_EQ(items,
            "ISOSpeedRatings=200;Model=SD;DateTimeOriginal=20010909_014640;DateTimeDigitized=20010909_014640;"
            "FocalLength=30;");
}

struct VersionCase {
  uint16_t at4, at6;
  bool extended;
};

class X3fVersion : public testing::TestWithParam<VersionCase> {};

TEST_P(X3fVersion, LabelAndExtendedDataFromVersionTwoPointOne) {
  const VersionCase& c = GetParam();
  X3fBuilder b;
  b.set_version(c.at4, c.at6).set_white_balance("Auto").set_extended(31, 9, 12);
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "File Format Version: " + std::to_string(c.at4) + "." + std::to_string(c.at6) + "\n"));
  EXPECT_EQ(contains(e.dump(), "Rotation: 0\nWhite Balance Label: Auto\nColor adjust blue: 12.000000\nDirectoryoffset"),
            c.extended);
  EXPECT_EQ(contains(e.dump(), "White Balance"), c.extended);
}

INSTANTIATE_TEST_SUITE_P(Versions, X3fVersion,
                         testing::Values(VersionCase{2, 0, false}, VersionCase{1, 9, false}, VersionCase{2, 1, true},
                                         VersionCase{3, 0, true}, VersionCase{2, 3, true}));

TEST(X3fWalk, FullWhiteBalanceLabelStopsAtItsField) {
  // 32 characters, no zero byte, and the extended-data types right after.
  X3fBuilder b;
  b.set_white_balance(std::string(32, 'W')).set_extended(0, 1, 1);
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "White Balance Label: " + std::string(32, 'W') + "\nExposure adjust: 1.000000\n"));
}

TEST(X3fWalk, WithoutPropSectionPrintsTheEntries) {
  X3fBuilder b;
  b.add_section("IMAG", "abcd").add_section("CAMF", "efgh");
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(),
                       "Number of Entries: 2\n"
                       "Entry 0: offset: 232; length: 4; type: IMAG\n"
                       "Entry 1: offset: 236; length: 4; type: CAMF\n"));
  EXPECT_FALSE(contains(e.dump(), "Number of Properties"));
}

TEST(X3fWalk, SectionTypesAreShownAsText) {
  X3fBuilder b;
  b.set_directory_id(std::string("S\x01\0d", 4));
  b.add_section(std::string("IM\0G", 4), "abcd").add_section("\x7f\x80ZZ", "efgh");
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "Directory Section: S??d\n"));
  EXPECT_TRUE(contains(e.dump(), "type: IM\n"));
  EXPECT_TRUE(contains(e.dump(), "type: ??ZZ\n"));
}

TEST(X3fWalk, LastPropSectionIsTheOneWalked) {
  X3fBuilder b;
  b.add_properties(X3fProperties().add("FIRST", "1"));
  b.add_properties(X3fProperties().add("SECOND", "2"));
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\tSECOND = 2\n"));
  EXPECT_FALSE(contains(e.dump(), "FIRST ="));
}

// Property texts: read from the character data only, up to a zero unit,
// the low byte of each unit, at most 199 characters, "?" when empty.
struct TextCase {
  const char* what;
  X3fProperties properties;
  std::string line;
};

class PropertyText : public testing::TestWithParam<TextCase> {};

TEST_P(PropertyText, StaysInTheCharacterData) {
  const TextCase& c = GetParam();
  X3fBuilder b;
  b.add_properties(c.properties);
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << c.what << ": " << e.message();
  EXPECT_TRUE(contains(e.dump(), c.line)) << c.what << "\n" << e.dump();
}

X3fProperties unterminated_value() {
  // The value runs to the end of the character data; the directory
  // ("SECd") follows in the file.
  X3fProperties p;
  p.add("NAME", "x").add_raw(0, 7).add_characters({'a', 'b'});
  return p;
}

INSTANTIATE_TEST_SUITE_P(
    Texts, PropertyText,
    testing::Values(TextCase{"name past the characters", X3fProperties().add("A", "B").add_raw(4000, 2), "\t? = B\n"},
                    TextCase{"offsets 0xFFFFFFFF", X3fProperties().add("A", "B").add_raw(0xFFFFFFFF, 0xFFFFFFFF),
                             "Property 1: name offset -2; value offset -2\n\t? = ?\n"},
                    TextCase{"empty name", X3fProperties().add("", "value"), "\t? = value\n"},
                    TextCase{"value to the end of the data", unterminated_value(), "\tNAME = ab\n"},
                    TextCase{"long name", X3fProperties().add(std::string(250, 'n'), "v"),
                             "\t" + std::string(199, 'n') + " = v\n"},
                    TextCase{"units above 255", X3fProperties().add_raw(0, 3).add_characters({0x141, 0x242, 0, 'v', 0}),
                             "\tAB = v\n"}),
    [](const testing::TestParamInfo<TextCase>& info) { return test_name(info.param.what); });

// PROP sections whose table and characters cannot be what the header says.
struct PropCase {
  const char* what;
  uint32_t count;
  uint32_t characters;
  const char* message;
};

class PropSize : public testing::TestWithParam<PropCase> {};

TEST_P(PropSize, IsCheckedInSixtyFourBitsAgainstSectionAndFile) {
  const PropCase& c = GetParam();
  X3fBuilder b;
  b.add_properties(X3fProperties().add("ISO", "100").set_count_raw(c.count).set_character_length_raw(c.characters));
  // Room after the section, so that only the section bounds the table.
  b.add_section("IMAG", std::string(400, '\x01'));
  Examination e(b.build());
  EXPECT_FALSE(e.walk()) << c.what;
  EXPECT_EQ(e.message(), c.message) << c.what;
  EXPECT_FALSE(contains(e.dump(), "Number of Properties")) << c.what;
  EXPECT_LE(e.state()->scratch.size(), 1024u) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, PropSize,
    testing::Values(
        PropCase{"count 0x20000000 wraps to 0", 0x20000000, 8, "Read error - file may be short (reading PROP data)"},
        PropCase{"count 0x40000001", 0x40000001, 8, "Read error - file may be short (reading PROP data)"},
        PropCase{"count 0xFFFFFFFF", 0xFFFFFFFF, 8, "Read error - file may be short (reading PROP data)"},
        PropCase{"characters 0x80000000 wrap to 0", 1, 0x80000000,
                 "Read error - file may be short (reading PROP data)"},
        PropCase{"characters 0xFFFFFFFF", 1, 0xFFFFFFFF, "Read error - file may be short (reading PROP data)"},
        PropCase{"table past the section", 40, 8, "Bad PROP section - property table runs past the section"},
        PropCase{"characters past the section", 1, 100, "Bad PROP section - property table runs past the section"}),
    [](const testing::TestParamInfo<PropCase>& info) { return test_name(info.param.what); });

struct FailureCase {
  const char* what;
  std::string file;
  bool ok;
  const char* message;
  const char* printed;  // the dump's end
};

class X3fFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(X3fFailure, EndsWithItsMessage) {
  const FailureCase& c = GetParam();
  Examination e(c.file);
  EXPECT_EQ(e.walk(), c.ok) << c.what;
  EXPECT_EQ(e.message(), c.message) << c.what;
  const std::string dump = e.dump();
  const std::string end = c.printed;
  EXPECT_TRUE(dump.size() >= end.size() && dump.compare(dump.size() - end.size(), end.size(), end) == 0)
      << c.what << "\n" << dump;
}

std::string x3f(void (*fill)(X3fBuilder&)) {
  X3fBuilder b;
  fill(b);
  return b.build();
}

INSTANTIATE_TEST_SUITE_P(
    Files, X3fFailure,
    testing::Values(
        FailureCase{"short header", x3f([](X3fBuilder&) {}).substr(0, 200), false,
                    "Read error - file may be short (reading X3F header)", "image\nX3F\n"},
        FailureCase{"no directory pointer", x3f([](X3fBuilder& b) { b.set_directory_pointer_raw(0); }), false,
                    "Bad header - missing DirectoryPointer", "White Balance Label: \n"},
        FailureCase{"directory past the end", x3f([](X3fBuilder& b) { b.set_directory_pointer_raw(0x7FFFFFF0); }),
                    false, "Read error - file may be short (reading directory header)",
                    "Directoryoffset = 2147483632\n"},
        FailureCase{"more entries than the file holds", x3f([](X3fBuilder& b) {
                      b.add_section("IMAG", "abcd").set_entry_count_raw(0x7FFFFFFF);
                    }),
                    false, "Read error - file may be short (reading directory entry)",
                    "Entry 0: offset: 232; length: 4; type: IMAG\n"},
        FailureCase{"PROP header past the end", x3f([](X3fBuilder& b) { b.add_entry_raw(0xFFFFFFF0, 100, "PROP"); }),
                    false, "Read error - file may be short (reading PROP header)",
                    "Entry 0: offset: 4294967280; length: 100; type: PROP\n"},
        FailureCase{"no entries", x3f([](X3fBuilder& b) { b.add_section("IMAG", "abcd").set_entry_count_raw(0); }),
                    true, "OK", "Number of Entries: 0\n"},
        FailureCase{"negative entry count", x3f([](X3fBuilder& b) { b.set_entry_count_raw(0x80000000); }), true,
                    "OK", "Number of Entries: -2147483648\n"},
        FailureCase{"PROP of length 0", x3f([](X3fBuilder& b) { b.add_entry_raw(232, 0, "PROP"); }), true, "OK",
                    "type: PROP\n"},
        FailureCase{"PROP of negative length", x3f([](X3fBuilder& b) { b.add_entry_raw(232, 0x80000000, "PROP"); }),
                    true, "OK", "type: PROP\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) { return test_name(info.param.what); });

TEST(X3fWalk, ExtendedValuesUseThePointWhateverTheLocale) {
  testing_support::CommaLocale locale;
  ASSERT_TRUE(locale.active()) << "no comma-decimal locale (scripts/install-deps installs the locales package)";
  char probe[16];
  snprintf(probe, sizeof probe, "%f", 1.5);
  ASSERT_STREQ(probe, "1,500000");
  Examination e(camera_file());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "Exposure adjust: 3.000000\nX3 Fill Light adjust: 0.000000\n"));
}

struct RealX3f {
  const char* name;
  std::vector<const char*> lines;
};

class RealX3fFile : public testing::TestWithParam<RealX3f> {};

TEST_P(RealX3fFile, WalksDirectoryAndProperties) {
  const RealX3f& c = GetParam();
  std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES "/raw/") + c.name);
  ASSERT_FALSE(bytes.empty());
  Examination e(bytes);
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "TV_IFD_X3F::read not supported");
  ASSERT_TRUE(e.walk()) << e.message();
  for (const char* line : c.lines) EXPECT_TRUE(contains(e.dump(), line)) << line << "\n" << e.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, RealX3fFile,
    testing::Values(RealX3f{"sigma_sd10_stripped.x3f",
                            {"File Format Version: 2.2\n", "Image Columns: 2268\nImage Rows: 1512\nRotation: 90\n",
                             "White Balance Label: Sunlight\n", "Directoryoffset = 1388\n",
                             "Entry 4: offset: 424; length: 964; type: PROP\n",
                             "Number of Properties: 26; Property Table Size = 208; Block Size = 940\n",
                             "\tCAMMODEL = SIGMA SD10\n", "\tFLEQ35MM = 51\n"}},
                    RealX3f{"sigma_dp2_stripped.x3f",
                            {"White Balance Label: Auto\n", "Entry 2: offset: 3016; length: 1176; type: PROP\n",
                             "\tCAMMODEL = SIGMA DP2\n", "\tFIRMVERS = 1.03.0.000\n"}}),
    [](const testing::TestParamInfo<RealX3f>& info) { return test_name(info.param.name); });

}  // namespace
