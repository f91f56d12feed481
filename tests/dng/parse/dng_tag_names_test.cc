// Display names of directories, tags, field types and values, and the tag
// checks with their exact warning lines.
#include "dng/parse/dng_tag_names.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dng/parse/dng_tag_checks.h"
#include "parse_test_util.h"

namespace {

using dng_test::printed_by;
using dng_test::warning_line;

TEST(ParentIfdName, TableNamesAndNumberedFallbacks) {
  struct Case {
    uint32_t parent;
    const char* name;
  };
  const Case cases[] = {
      {0, "IFD 0"},
      {34665, "Exif IFD"},
      {34853, "GPS IFD"},
      {40965, "Interoperability IFD"},
      {33424, "Kodak DCR Private IFD"},
      {65024, "Kodak KDC Private IFD"},
      {0x30004, "Kodak MakerNote 65280"},
      {0x3000F, "Olympus MakerNote 12288"},
      {0x3001B, "Sony Private IFD 3C"},
      {0x40009, "Panasonic RAW"},
      {0x4000B, "PSD Resources"},
      {0x10000, "SubIFD 1"},
      {0x10003, "SubIFD 4"},
      {0x1FFFF, "SubIFD 65536"},
      {0x20000, "Chained IFD 1"},
      {0x20009, "Chained IFD 10"},
      {0x3001C, "ParentIFD 196636"},  // past the maker-note names
      {0x40002, "ParentIFD 262146"},  // a tag code, not a parent
      {0x50000, "ParentIFD 327680"},
      {0xFFFFFFFF, "ParentIFD 4294967295"},
  };
  for (const Case& c : cases) EXPECT_STREQ(parent_ifd_name(c.parent), c.name) << c.parent;
}

TEST(TagCodeName, GroupChosenByParentThenFallbacks) {
  struct Case {
    uint32_t parent;
    uint32_t tag;
    const char* name;
  };
  const Case cases[] = {
      {0, 254, "NewSubFileType"},
      {0, 33723, "IPTC/NAA"},
      {0, 37398, "TIFF/EPStandardID"},
      {0, 65024, "KodakKDCPrivateIFD"},
      {0, 65535, "Tag65535"},
      {34665, 41493, "ExposureIndexExif"},
      {0x10000, 50829, "ActiveArea"},
      {0x2000A, 700, "XMP"},
      {0x40007, 33434, "ExposureTime"},  // Leaf tags use the main group
      {34853, 0, "GPSVersionID"},
      {34853, 30, "GPSDifferential"},
      {34853, 254, "Tag254"},  // the GPS group only
      {40965, 1, "InteroperabilityIndex"},
      {40965, 4098, "RelatedImageLength"},
      {40965, 256, "Tag256"},
      {0x40003, 0x40005, "FujiRawInfo1"},
      {0x40001, 0x40002, "ContaxHeader"},
      {33424, 256, "Tag256"},  // Kodak directories have no names
      {0x30008, 1, "Tag1"},
      {0x40000, 0x300A, "CRW_300A"},
      {0x40000, 0x12345, "CRW_12345"},
      {0x40008, 0x00505244, "MRW_PRD"},
      {0x40008, 0x1F20FF41, "MRW_ \xFF" "A"},
      {0x40005, 0x12, "RAF1_0012"},
      {0x40006, 0xABCD, "RAF2_ABCD"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(tag_code_name(c.parent, c.tag), c.name) << c.parent << " " << c.tag;
  }
}

TEST(TagTypeName, KnownTypesAndFallback) {
  EXPECT_STREQ(tag_type_name(1), "Byte");
  EXPECT_STREQ(tag_type_name(7), "Undefined");
  EXPECT_STREQ(tag_type_name(13), "IFD");
  EXPECT_STREQ(tag_type_name(15), "Complex");
  EXPECT_STREQ(tag_type_name(0), "Type0");
  EXPECT_STREQ(tag_type_name(16), "Type16");
}

TEST(TagValueName, TablesAndFallbacks) {
  struct Case {
    dng_value_kind kind;
    uint32_t value;
    const char* name;
  };
  const Case cases[] = {
      {dng_value_kind::new_subfile_type, 1, "Preview Image"},
      {dng_value_kind::compression, 32773, "PackBits"},
      {dng_value_kind::compression, 2, "2"},
      {dng_value_kind::photometric_interpretation, 34892, "LinearRaw"},
      {dng_value_kind::orientation, 9, "9 - unknown"},
      {dng_value_kind::orientation, 0, "0"},
      {dng_value_kind::cfa_color, 6, "White"},
      {dng_value_kind::cfa_color, 7, "Color7"},
      {dng_value_kind::light_source, 21, "D65"},
      {dng_value_kind::light_source, 16, "16"},
      {dng_value_kind::light_source, 0x8000 + 5000, "5000K"},
      {dng_value_kind::light_source, 0xFFFF, "32767K"},
      {dng_value_kind::color_space, 65535, "Uncalibrated"},
      {dng_value_kind::contrast, 2, "Hard"},
      {dng_value_kind::components_configuration, 0, "-"},
      {dng_value_kind::cfa_layout, 5, "Staggered layout D: even rows are offset left by 1/2 column"},
      {dng_value_kind::colorimetric_reference, 1, "ICC Profile PCS"},
      {dng_value_kind::maker_note_safety, 2, "2"},
  };
  for (const Case& c : cases) {
    EXPECT_STREQ(tag_value_name(c.kind, c.value), c.name) << c.value;
  }
}

TEST(TagValueName, EachKindKeepsItsOwnFallbackBuffer) {
  const char* compression = tag_value_name(dng_value_kind::compression, 3);
  const char* color = tag_value_name(dng_value_kind::cfa_color, 9);
  const char* tag = tag_code_name(0, 1);
  const char* parent = parent_ifd_name(0x10001);
  EXPECT_STREQ(compression, "3");
  EXPECT_STREQ(color, "Color9");
  EXPECT_STREQ(tag, "Tag1");
  EXPECT_STREQ(parent, "SubIFD 2");
}

TEST(TagChecks, PassOrPrintOneWarningLine) {
  struct Case {
    const char* what;
    std::function<bool()> check;
    bool passes;
    std::string warning;  // empty when it passes
  };
  const Case cases[] = {
      {"type allowed", [] { return check_tag_type(0, 271, 2, 2); }, true, ""},
      {"type in the fourth slot", [] { return check_tag_type(0, 271, 9, 3, 4, 8, 9); }, true, ""},
      {"type refused", [] { return check_tag_type(0, 271, 3, 2); }, false,
       "IFD 0 Make has unexpected type (Short)"},
      {"type 0 against unused slots", [] { return check_tag_type(34665, 33434, 0, 5); }, false,
       "Exif IFD ExposureTime has unexpected type (Type0)"},
      {"unknown type", [] { return check_tag_type(0x10000, 256, 99, 3, 4); }, false,
       "SubIFD 1 ImageWidth has unexpected type (Type99)"},
      {"count exact", [] { return check_tag_count(0, 50706, 4, 4); }, true, ""},
      {"max below min means min only", [] { return check_tag_count(0, 50706, 1, 1, 0); }, true,
       ""},
      {"max below min refuses two", [] { return check_tag_count(0, 50706, 2, 1, 0); }, false,
       "IFD 0 DNGVersion has unexpected count (2)"},
      {"count in range", [] { return check_tag_count(34665, 37396, 4, 2, 4); }, true, ""},
      {"count above range", [] { return check_tag_count(34665, 37396, 5, 2, 4); }, false,
       "Exif IFD SubjectArea has unexpected count (5)"},
      {"count below range", [] { return check_tag_count(34853, 2, 0, 3); }, false,
       "GPS IFD GPSLatitude has unexpected count (0)"},
      {"huge count", [] { return check_tag_count(0, 50740, 0xFFFFFFFF, 1); }, false,
       "IFD 0 DNGPrivateData has unexpected count (4294967295)"},
      {"three planes", [] { return check_color_planes(0, 50722, 3); }, true, ""},
      {"unknown planes", [] { return check_color_planes(0, 50722, 0); }, false,
       "IFD 0 ColorMatrix2 is not allowed with unknown color plane count  (missing "
       "ColorMatrix1 tag?)"},
      {"monochrome", [] { return check_color_planes(0, 50727, 1); }, false,
       "IFD 0 AnalogBalance is not allowed with monochrome images"},
      {"main image", [] { return check_main_ifd(0x10000, 50719, 0); }, true, ""},
      {"preview image", [] { return check_main_ifd(0x10001, 50719, 1); }, false,
       "SubIFD 2 DefaultCropOrigin is not allowed IFDs with NewSubFileType != 0"},
      {"raw CFA", [] { return check_raw_ifd(0, 50712, 32803); }, true, ""},
      {"raw linear", [] { return check_raw_ifd(0, 50712, 34892); }, true, ""},
      {"not raw", [] { return check_raw_ifd(0, 50712, 2); }, false,
       "IFD 0 LinearizationTable is not allowed in IFDs with a non-raw "
       "PhotometricInterpretation"},
      {"CFA", [] { return check_cfa_ifd(0, 33421, 32803); }, true, ""},
      {"linear raw is not CFA", [] { return check_cfa_ifd(0x20000, 33421, 34892); }, false,
       "Chained IFD 1 CFARepeatPatternDim is not allowed in IFDs with a non-CFA "
       "PhotometricInterpretation"},
  };
  for (const Case& c : cases) {
    bool passed = false;
    const dng_test::Printed p = printed_by([&] { passed = c.check(); });
    EXPECT_EQ(passed, c.passes) << c.what;
    EXPECT_EQ(p.err, c.warning.empty() ? "" : warning_line(c.warning)) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
  }
}

}  // namespace
