// The file-wide DNG tags: the tag table (entries in, fields, warning lines or
// "not taken" out), the repairs of FinishParse and the rules of Validate.
#include "dng/parse/dng_shared.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "dng/core/dng_host.h"
#include "dng/core/dng_tag_types.h"
#include "parse_test_util.h"

namespace {

using dng_test::error_line;
using dng_test::printed_by;
using dng_test::rationals;
using dng_test::sints;
using dng_test::srationals;
using dng_test::TagEntry;
using dng_test::warning_line;

constexpr uint32_t kPos = dng_test::kValuePosition;

// Offers each entry in turn; answers whether each was taken.
std::vector<bool> offer(dng_shared& shared, const std::vector<TagEntry>& entries) {
  std::vector<bool> taken;
  for (const TagEntry& e : entries) {
    dng_test::EntryStream s(e);
    taken.push_back(shared.ReadTag(s.Stream(), nullptr, e.parent, false, e.tag, e.type, e.count,
                                   kPos, 0));
  }
  return taken;
}

std::string bytes_of(const char* s, size_t n) { return std::string(s, n); }

const std::string kMatrix3 = sints({1, 0, 0, 0, 1, 0, 0, 0, 1});

TEST(SharedTags, TableOfEntries) {
  struct Case {
    const char* what;
    std::vector<TagEntry> entries;
    std::vector<bool> taken;
    std::string err;
    std::function<void(const dng_shared&)> check;
  };
  const Case cases[] = {
      {"XMP", {{0, 700, 1, 5, "<x:x>"}}, {true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.xmp_count, 5u);
         EXPECT_EQ(s.xmp_position, kPos);
       }},
      {"XMP of type Undefined warns and is kept", {{0, 700, 7, 5, "<x:x>"}}, {true},
       warning_line("IFD 0 XMP has unexpected type (Undefined)"),
       [](const dng_shared& s) { EXPECT_EQ(s.xmp_count, 5u); }},
      {"XMP count 0", {{0, 700, 1, 0, ""}}, {true}, "",
       [](const dng_shared& s) { EXPECT_EQ(s.xmp_position, 0u); }},
      {"IPTC longs", {{0, 33723, 4, 3, std::string(12, 'i')}}, {true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.iptc_length, 12u);
         EXPECT_EQ(s.iptc_position, kPos);
       }},
      {"IPTC undefined bytes", {{0, 33723, 7, 4, "iiii"}}, {true},
       warning_line("IFD 0 IPTC/NAA has unexpected type (Undefined)"),
       [](const dng_shared& s) { EXPECT_EQ(s.iptc_length, 4u); }},
      {"IPTC length past 32 bits saturates", {{0, 33723, 4, 0x40000001, "iiii"}}, {true}, "",
       [](const dng_shared& s) { EXPECT_EQ(s.iptc_length, 0xFFFFFFFFu); }},
      {"IPTC doubles past 32 bits", {{0, 33723, 12, 0xFFFFFFFF, "iiii"}}, {true},
       warning_line("IFD 0 IPTC/NAA has unexpected type (Double)"),
       [](const dng_shared& s) { EXPECT_EQ(s.iptc_length, 0xFFFFFFFFu); }},
      {"EXIF, GPS and Kodak offsets",
       {{0, 34665, 4, 1, dng_test::longs({1000})},
        {0, 34853, 13, 1, dng_test::longs({2000})},
        {0, 33424, 4, 1, dng_test::longs({3000})},
        {0, 65024, 4, 1, dng_test::longs({4000})}},
       {true, true, true, true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.exif_ifd, 1000u);
         EXPECT_EQ(s.gps_info, 2000u);
         EXPECT_EQ(s.kodak_dcr_private_ifd, 3000u);
         EXPECT_EQ(s.kodak_kdc_private_ifd, 4000u);
       }},
      {"EXIF offset as a short with two values", {{0, 34665, 3, 2, dng_test::shorts({77, 5})}},
       {true},
       warning_line("IFD 0 ExifIFD has unexpected type (Short)") +
           warning_line("IFD 0 ExifIFD has unexpected count (2)"),
       [](const dng_shared& s) { EXPECT_EQ(s.exif_ifd, 77u); }},
      {"versions",
       {{0, 50706, 1, 4, bytes_of("\x01\x04\x00\x00", 4)},
        {0, 50707, 1, 4, bytes_of("\x01\x01\x00\x00", 4)}},
       {true, true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.dng_version, 0x01040000u);
         EXPECT_EQ(s.dng_backward_version, 0x01010000u);
       }},
      {"version with a wrong count still reads four bytes",
       {{0, 50706, 1, 2, bytes_of("\x01\x02\x03\x04", 4)}}, {true},
       warning_line("IFD 0 DNGVersion has unexpected count (2)"),
       [](const dng_shared& s) { EXPECT_EQ(s.dng_version, 0x01020304u); }},
      {"UniqueCameraModel with blanks", {{0, 50708, 2, 7, bytes_of("Cam   \0", 7)}}, {true},
       warning_line("UniqueCameraModel string has trailing blanks"),
       [](const dng_shared& s) { EXPECT_STREQ(s.unique_camera_model.CStr(), "Cam"); }},
      {"UniqueCameraModel in code page 1252", {{0, 50708, 2, 4, bytes_of("Z\xE9t\0", 4)}}, {true},
       warning_line("IFD 0 UniqueCameraModel has non-ASCII characters"),
       [](const dng_shared& s) { EXPECT_STREQ(s.unique_camera_model.CStr(), "Z\xC3\xA9t"); }},
      {"LocalizedCameraModel as UTF-8 bytes",
       {{0, 50709, 1, 7, bytes_of("K\xC3\xA4m  \0", 7)}}, {true},
       warning_line("LocalizedCameraModel string has trailing blanks"),
       [](const dng_shared& s) { EXPECT_STREQ(s.localized_camera_model.CStr(), "K\xC3\xA4m"); }},
      {"OriginalRawFileName untrimmed", {{0, 50827, 2, 6, bytes_of("a.raw ", 6)}}, {true},
       warning_line("IFD 0 OriginalRawFileName is not NULL terminated"),
       [](const dng_shared& s) { EXPECT_STREQ(s.original_raw_file_name.CStr(), "a.raw "); }},
      {"ColorMatrix1 of 9 values gives 3 planes", {{0, 50721, 10, 9, kMatrix3}}, {true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.color_planes, 3u);
         EXPECT_EQ(s.color_matrix1.Rows(), 3u);
         EXPECT_EQ(s.color_matrix1[2][2], 1.0);
       }},
      {"ColorMatrix1 of 12 values gives 4 planes",
       {{0, 50721, 10, 12, sints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})}}, {true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.color_planes, 4u);
         EXPECT_EQ(s.color_matrix1[3][2], 12.0);
       }},
      {"ColorMatrix1 of 3 values: 3 planes, not taken", {{0, 50721, 10, 3, sints({1, 2, 3})}},
       {false}, warning_line("IFD 0 ColorMatrix1 has unexpected count (3)"),
       [](const dng_shared& s) {
         EXPECT_EQ(s.color_planes, 3u);
         EXPECT_FALSE(s.color_matrix1.HasEntries());
       }},
      {"ColorMatrix1 of 30 values: 4 planes, not taken", {{0, 50721, 10, 30, kMatrix3}}, {false},
       warning_line("IFD 0 ColorMatrix1 has unexpected count (30)"),
       [](const dng_shared& s) { EXPECT_EQ(s.color_planes, 4u); }},
      {"ColorMatrix1 of unsigned rationals warns, read as reals",
       {{0, 50721, 5, 9, rationals({{1, 2}, {0, 1}, {0, 1}, {0, 1}, {1, 1}, {0, 1}, {0, 1},
                                    {0, 1}, {1, 1}})}},
       {true}, warning_line("IFD 0 ColorMatrix1 has unexpected type (Rational)"),
       [](const dng_shared& s) { EXPECT_EQ(s.color_matrix1[0][0], 0.5); }},
      {"colour tags without ColorMatrix1",
       {{0, 50722, 10, 9, kMatrix3},
        {0, 50727, 5, 3, rationals({{1, 1}, {1, 1}, {1, 1}})},
        {0, 50728, 5, 3, rationals({{1, 2}, {1, 1}, {1, 2}})}},
       {false, false, false},
       warning_line("IFD 0 ColorMatrix2 is not allowed with unknown color plane count  (missing "
                    "ColorMatrix1 tag?)") +
           warning_line("IFD 0 AnalogBalance is not allowed with unknown color plane count  "
                        "(missing ColorMatrix1 tag?)") +
           warning_line("IFD 0 AsShotNeutral is not allowed with unknown color plane count  "
                        "(missing ColorMatrix1 tag?)"),
       [](const dng_shared& s) {
         EXPECT_FALSE(s.color_matrix2.HasEntries());
         EXPECT_TRUE(s.analog_balance.IsEmpty());
         EXPECT_TRUE(s.as_shot_neutral.IsEmpty());
       }},
      {"colour set after ColorMatrix1",
       {{0, 50721, 10, 9, kMatrix3},
        {0, 50722, 10, 9, kMatrix3},
        {0, 50723, 10, 9, sints({2, 0, 0, 0, 2, 0, 0, 0, 2})},
        {0, 50725, 10, 9, kMatrix3},
        {0, 50727, 5, 3, rationals({{1, 1}, {2, 1}, {1, 1}})},
        {0, 50728, 5, 3, rationals({{1, 2}, {1, 1}, {1, 4}})},
        {0, 50730, 10, 1, srationals({{-1, 2}})},
        {0, 50731, 5, 1, rationals({{3, 2}})},
        {0, 50778, 3, 1, dng_test::shorts({17})},
        {0, 50779, 3, 1, dng_test::shorts({21})}},
       std::vector<bool>(10, true), "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.camera_calibration1[1][1], 2.0);
         EXPECT_EQ(s.reduction_matrix1.Rows(), 3u);
         EXPECT_EQ(s.analog_balance[1], 2.0);
         EXPECT_EQ(s.as_shot_neutral[2], 0.25);
         EXPECT_EQ(s.baseline_exposure.n, -1);
         EXPECT_EQ(s.baseline_noise.n, 3u);
         EXPECT_EQ(s.calibration_illuminant1, 17u);
         EXPECT_EQ(s.calibration_illuminant2, 21u);
       }},
      {"AsShotWhiteXY count 3 not taken",
       {{0, 50721, 10, 9, kMatrix3}, {0, 50729, 5, 3, rationals({{1, 3}, {1, 3}, {1, 3}})}},
       {true, false}, warning_line("IFD 0 AsShotWhiteXY has unexpected count (3)"),
       [](const dng_shared& s) { EXPECT_FALSE(s.as_shot_white_xy.IsPositive()); }},
      {"pre-profile matrices: 3 rows when the count is planes x 3, else planes",
       {{0, 50721, 10, 12, sints({1, 0, 0, 0, 1, 0, 0, 0, 1, 1, 1, 1})},
        {0, 50832, 10, 12, sints({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12})},
        {0, 50834, 10, 16, std::string(16 * 8, '\0')}},
       {true, true, true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.as_shot_pre_profile_matrix.Rows(), 3u);
         EXPECT_EQ(s.as_shot_pre_profile_matrix.Cols(), 4u);
         EXPECT_EQ(s.as_shot_pre_profile_matrix[2][3], 12.0);
         EXPECT_EQ(s.current_pre_profile_matrix.Rows(), 4u);
       }},
      {"RawDataUniqueID",
       {{0, 50781, 1, 16, "0123456789abcdef"},
        {0, 50781, 1, 15, "0123456789abcde"},
        {0, 50781, 7, 16, "fedcba9876543210"}},
       {true, false, false},
       warning_line("IFD 0 RawDataUniqueID has unexpected count (15)") +
           warning_line("IFD 0 RawDataUniqueID has unexpected type (Undefined)"),
       [](const dng_shared& s) { EXPECT_EQ(s.raw_data_unique_id.data[15], 'f'); }},
      {"blocks: private data, raw file data, profiles",
       {{0, 50740, 1, 3, "abc"},
        {0, 50828, 7, 2, "xy"},
        {0, 50831, 7, 1, "p"},
        {0, 50833, 1, 1, "q"}},
       {true, true, true, true}, warning_line("IFD 0 CurrentICCProfile has unexpected type (Byte)"),
       [](const dng_shared& s) {
         EXPECT_EQ(s.dng_private_data_count, 3u);
         EXPECT_EQ(s.dng_private_data_position, kPos);
         EXPECT_EQ(s.original_raw_file_data_count, 2u);
         EXPECT_EQ(s.as_shot_icc_profile_position, kPos);
         EXPECT_EQ(s.current_icc_profile_count, 1u);
       }},
      {"MakerNote and Interoperability offset in the EXIF IFD",
       {{34665, 37500, 7, 40, std::string(40, 'm')}, {34665, 40965, 4, 1, dng_test::longs({99})}},
       {true, true}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.maker_note_count, 40u);
         EXPECT_EQ(s.maker_note_position, kPos);
         EXPECT_EQ(s.interoperability_ifd, 99u);
       }},
      {"MakerNote in IFD 0 is taken too", {{0, 37500, 2, 4, "abc"}}, {true},
       warning_line("IFD 0 MakerNote has unexpected type (ASCII)"),
       [](const dng_shared& s) { EXPECT_EQ(s.maker_note_count, 4u); }},
      {"IFD-0 tags are not taken in the EXIF IFD or a SubIFD",
       {{34665, 50706, 1, 4, "\x01\x01\x00\x00"}, {0x10000, 700, 1, 1, "x"},
        {0x10000, 37500, 7, 1, "x"}, {0, 271, 2, 2, "A"}},
       {false, false, false, false}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.dng_version, 0u);
         EXPECT_EQ(s.xmp_count, 0u);
       }},
  };
  for (const Case& c : cases) {
    dng_shared shared;
    std::vector<bool> taken;
    const dng_test::Printed p = printed_by([&] { taken = offer(shared, c.entries); });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_EQ(taken, c.taken) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    SCOPED_TRACE(c.what);
    c.check(shared);
  }
}

dng_matrix identity(uint32_t n) {
  dng_matrix m(n, 3);
  for (uint32_t i = 0; i < n && i < 3; ++i) m[i][i] = 1.0;
  if (n == 4) m[3][0] = 1.0;
  return m;
}

// A DNG 1.1 with a usable three-plane colour set, which FinishParse leaves
// alone and Validate passes.
dng_shared good_shared() {
  dng_shared s;
  s.dng_version = 0x01010000;
  s.unique_camera_model.Assign("Cam");
  s.color_planes = 3;
  s.color_matrix1 = identity(3);
  s.as_shot_neutral = dng_vector(3);
  for (uint32_t i = 0; i < 3; ++i) s.as_shot_neutral[i] = 1.0;
  return s;
}

TEST(SharedFinishParse, RepairsWithTheirWarnings) {
  struct Case {
    const char* what;
    std::function<void(dng_shared&)> setup;
    std::string err;
    std::function<void(const dng_shared&)> check;
  };
  const Case cases[] = {
      {"a good DNG is left alone", [](dng_shared&) {}, "",
       [](const dng_shared& s) {
         EXPECT_EQ(s.dng_backward_version, 0x01010000u);
         EXPECT_EQ(s.color_planes, 3u);
       }},
      {"not a DNG: nothing happens",
       [](dng_shared& s) {
         s.dng_version = 0;
         s.unique_camera_model.Assign(nullptr);
         s.baseline_noise = dng_unsigned_ratio(0, 1);
       },
       "",
       [](const dng_shared& s) {
         EXPECT_TRUE(s.unique_camera_model.Empty());
         EXPECT_EQ(s.baseline_noise.n, 0u);
       }},
      {"DNGVersion 0.9 with illuminant 17",
       [](dng_shared& s) {
         s.dng_version = 0x00090000;
         s.calibration_illuminant1 = 17;
       },
       warning_line("DNGVersion less than 1.0.0.0"),
       [](const dng_shared& s) {
         EXPECT_EQ(s.dng_version, 0x01000000u);
         EXPECT_EQ(s.dng_backward_version, 0x01000000u);
         EXPECT_EQ(s.calibration_illuminant1, 21u);
       }},
      {"backward version derived from 1.2.3.4", [](dng_shared& s) { s.dng_version = 0x01020304; },
       "", [](const dng_shared& s) { EXPECT_EQ(s.dng_backward_version, 0x01020000u); }},
      {"backward version below 1.0",
       [](dng_shared& s) { s.dng_backward_version = 0x00010000; },
       warning_line("DNGBackwardVersion less than 1.0.0.0"),
       [](const dng_shared& s) { EXPECT_EQ(s.dng_backward_version, 0x01000000u); }},
      {"backward version above the version",
       [](dng_shared& s) { s.dng_backward_version = 0x01030000; },
       warning_line("DNGBackwardVersion > DNGVersion"),
       [](const dng_shared& s) { EXPECT_EQ(s.dng_backward_version, 0x01010000u); }},
      {"no UniqueCameraModel", [](dng_shared& s) { s.unique_camera_model.Assign(nullptr); },
       warning_line("Missing or invalid UniqueCameraModel"),
       [](const dng_shared& s) {
         EXPECT_STREQ(s.unique_camera_model.CStr(), "Digital Negative");
       }},
      {"no ColorMatrix1: monochrome, colour rules skipped",
       [](dng_shared& s) {
         s.color_planes = 0;
         s.as_shot_neutral.MakeEmpty();
       },
       "", [](const dng_shared& s) { EXPECT_EQ(s.color_planes, 1u); }},
      {"equal illuminant pair empties ColorMatrix2",
       [](dng_shared& s) {
         s.color_matrix2 = identity(3);
         s.calibration_illuminant1 = 21;
         s.calibration_illuminant2 = 21;
       },
       warning_line("Invalid CalibrationIlluminant pair"),
       [](const dng_shared& s) { EXPECT_FALSE(s.color_matrix2.HasEntries()); }},
      {"missing second illuminant",
       [](dng_shared& s) {
         s.color_matrix2 = identity(3);
         s.calibration_illuminant1 = 17;
       },
       warning_line("Invalid CalibrationIlluminant pair"),
       [](const dng_shared& s) { EXPECT_FALSE(s.color_matrix2.HasEntries()); }},
      {"a good illuminant pair keeps ColorMatrix2",
       [](dng_shared& s) {
         s.color_matrix2 = identity(3);
         s.calibration_illuminant1 = 17;
         s.calibration_illuminant2 = 21;
       },
       "", [](const dng_shared& s) { EXPECT_TRUE(s.color_matrix2.HasEntries()); }},
      {"ICC PCS reference drops AsShotNeutral and sets D50",
       [](dng_shared& s) {
         s.colorimetric_reference = 1;
         s.as_shot_white_xy = dng_chromaticity(0.3127, 0.3290);
       },
       warning_line("AsShotNeutral not allowed for this ColorimetricReference value") +
           warning_line("AsShotWhiteXY does not match the ICC Profile PCS"),
       [](const dng_shared& s) {
         EXPECT_TRUE(s.as_shot_neutral.IsEmpty());
         EXPECT_EQ(s.as_shot_white_xy.x, 0.3457);
         EXPECT_EQ(s.as_shot_white_xy.y, 0.3585);
       }},
      {"ICC PCS reference with a white within 0.01 of D50",
       [](dng_shared& s) {
         s.colorimetric_reference = 1;
         s.as_shot_neutral.MakeEmpty();
         s.as_shot_white_xy = dng_chromaticity(0.35, 0.36);
       },
       "", [](const dng_shared& s) { EXPECT_EQ(s.as_shot_white_xy.x, 0.3457); }},
      {"both neutral and white",
       [](dng_shared& s) { s.as_shot_white_xy = dng_chromaticity(0.3, 0.3); },
       warning_line("Both AsShotNeutral and AsShotWhiteXY included"),
       [](const dng_shared& s) { EXPECT_FALSE(s.as_shot_white_xy.IsPositive()); }},
      {"neither neutral nor white", [](dng_shared& s) { s.as_shot_neutral.MakeEmpty(); },
       "*** Warning: Neither AsShotNeutral nor AsShotWhiteXY included (legal but not "
       "recommended) ***\n",
       [](const dng_shared&) {}},
      {"white alone is fine",
       [](dng_shared& s) {
         s.as_shot_neutral.MakeEmpty();
         s.as_shot_white_xy = dng_chromaticity(0.3, 0.3);
       },
       "", [](const dng_shared& s) { EXPECT_TRUE(s.as_shot_white_xy.IsPositive()); }},
      {"invalid baseline values and limits",
       [](dng_shared& s) {
         s.baseline_noise = dng_unsigned_ratio(0, 1);
         s.baseline_sharpness = dng_unsigned_ratio(1, 0);
         s.linear_response_limit = dng_unsigned_ratio(49, 100);
         s.shadow_scale = dng_unsigned_ratio(0, 0);
       },
       warning_line("Invalid BaselineNoise") + warning_line("Invalid BaselineSharpness") +
           warning_line("Invalid LinearResponseLimit") + warning_line("Invalid ShadowScale"),
       [](const dng_shared& s) {
         EXPECT_EQ(s.baseline_noise.n, 1u);
         EXPECT_EQ(s.baseline_sharpness.d, 1u);
         EXPECT_EQ(s.linear_response_limit.n, 1u);
         EXPECT_EQ(s.shadow_scale.d, 1u);
       }},
      {"limits at 0.5 and 1.0 hold",
       [](dng_shared& s) { s.linear_response_limit = dng_unsigned_ratio(1, 2); }, "",
       [](const dng_shared& s) { EXPECT_EQ(s.linear_response_limit.d, 2u); }},
      {"limit above 1.0",
       [](dng_shared& s) { s.linear_response_limit = dng_unsigned_ratio(101, 100); },
       warning_line("Invalid LinearResponseLimit"), [](const dng_shared&) {}},
  };
  for (const Case& c : cases) {
    dng_shared shared = good_shared();
    c.setup(shared);
    dng_host host;
    const dng_test::Printed p = printed_by([&] { shared.FinishParse(host, nullptr); });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    SCOPED_TRACE(c.what);
    c.check(shared);
  }
}

TEST(SharedValidate, VersionsAndInvertibleColourTransforms) {
  const std::string singular = error_line("Matrix math error");
  struct Case {
    const char* what;
    std::function<void(dng_shared&)> setup;
    bool valid;
    std::string err;
  };
  const Case cases[] = {
      {"good", [](dng_shared&) {}, true, ""},
      {"no version", [](dng_shared& s) { s.dng_version = 0; }, false,
       error_line("Missing or invalid DNGVersion")},
      {"backward 1.1 passes", [](dng_shared& s) { s.dng_backward_version = 0x01010000; }, true,
       ""},
      {"backward 1.1.0.1 is too high", [](dng_shared& s) { s.dng_backward_version = 0x01010001; },
       false, error_line("DNGBackwardVersion (or DNGVersion) is too high")},
      {"monochrome skips the colour checks",
       [](dng_shared& s) {
         s.color_planes = 1;
         s.color_matrix1 = dng_matrix(3, 3);
       },
       true, ""},
      {"singular ColorMatrix1", [](dng_shared& s) { s.color_matrix1 = dng_matrix(3, 3); }, false,
       singular + error_line("ColorMatrix1 is not invertable")},
      {"ColorMatrix1 never read", [](dng_shared& s) { s.color_matrix1.MakeEmpty(); }, false,
       singular + error_line("ColorMatrix1 is not invertable")},
      {"singular CameraCalibration1",
       [](dng_shared& s) { s.camera_calibration1 = dng_matrix(3, 3); }, false,
       singular + error_line("CameraCalibration1 is not invertable")},
      {"zero AnalogBalance",
       [](dng_shared& s) {
         s.analog_balance = dng_vector(3);
         s.analog_balance[0] = s.analog_balance[1] = 1.0;
       },
       false, singular + error_line("AnalogBalance is not invertable")},
      {"four planes with a reduction hint",
       [](dng_shared& s) {
         s.color_planes = 4;
         s.color_matrix1 = identity(4);
         s.reduction_matrix1 = dng_matrix(3, 4);
         for (uint32_t i = 0; i < 3; ++i) s.reduction_matrix1[i][i] = 1.0;
       },
       true, ""},
      {"no ColorMatrix2: set 2 is not checked",
       [](dng_shared& s) { s.camera_calibration2 = dng_matrix(3, 3); }, true, ""},
      {"singular ColorMatrix2", [](dng_shared& s) { s.color_matrix2 = dng_matrix(3, 3); }, false,
       singular + error_line("ColorMatrix2 is not invertable")},
      {"singular CameraCalibration2",
       [](dng_shared& s) {
         s.color_matrix2 = identity(3);
         s.camera_calibration2 = dng_matrix(3, 3);
       },
       false, singular + error_line("CameraCalibration2 is not invertable")},
  };
  for (const Case& c : cases) {
    dng_shared shared = good_shared();
    c.setup(shared);
    bool valid = false;
    const dng_test::Printed p = printed_by([&] { valid = shared.Validate(); });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_EQ(valid, c.valid) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
  }
}

// Repair then check, as the container parser runs them.
TEST(SharedValidate, DerivedBackwardVersionDecides) {
  struct Case {
    uint32_t version;
    bool valid;
  };
  for (const Case c : {Case{0x01010000, true}, Case{0x01020000, false}}) {
    dng_shared shared = good_shared();
    shared.dng_version = c.version;
    dng_host host;
    bool valid = false;
    const dng_test::Printed p = printed_by([&] {
      shared.FinishParse(host, nullptr);
      valid = shared.Validate();
    });
    EXPECT_EQ(valid, c.valid) << c.version;
    EXPECT_EQ(shared.dng_backward_version, c.version);
    EXPECT_EQ(p.out, "");
  }
}

TEST(SharedFactory, HostMakesAnEmptySharedObject) {
  dng_host host;
  std::unique_ptr<dng_shared> shared = host.NewShared();
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(shared->dng_version, 0u);
  EXPECT_EQ(shared->baseline_noise.d, 1u);
}

}  // namespace
