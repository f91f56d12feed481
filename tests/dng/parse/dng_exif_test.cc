// EXIF, GPS and Interoperability tags: exposure snapping and the APEX
// companions, the tag tables (entries in, fields, warning lines or "not
// taken" out) and FinishParse's conflict warnings and fallbacks.
#include "dng/parse/dng_exif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "dng/core/dng_host.h"
#include "parse_test_util.h"

namespace {

using dng_test::printed_by;
using dng_test::rationals;
using dng_test::shorts;
using dng_test::srationals;
using dng_test::TagEntry;
using dng_test::warning_line;

constexpr uint32_t kPos = dng_test::kValuePosition;

std::vector<bool> offer(dng_exif& exif, const std::vector<TagEntry>& entries,
                        bool is_main_ifd = false) {
  std::vector<bool> taken;
  for (const TagEntry& e : entries) {
    dng_test::EntryStream s(e);
    taken.push_back(
        exif.ReadTag(s.Stream(), nullptr, e.parent, is_main_ifd, e.tag, e.type, e.count, kPos));
  }
  return taken;
}

std::string ratio_text(const dng_unsigned_ratio& r) {
  return std::to_string(r.n) + "/" + std::to_string(r.d);
}

TEST(ExposureTime, SnapsToStandardSpeedsAndStoresTidyRatios) {
  struct Case {
    double seconds;
    bool snap;
    const char* stored;  // "0/0" = absent
  };
  const Case cases[] = {
      {1.0 / 60, true, "1/60"},
      {0.0166, true, "1/60"},
      {1.0 / 64, true, "1/60"},  // 2% off in the first pass, 16/15 in the second
      {1.0 / 64, false, "1/64"},
      {0.3, true, "3/10"},
      {0.25, true, "1/4"},
      {0.5, true, "1/2"},
      {0.7, true, "7/10"},
      {1.0, true, "1/1"},
      {2.5, true, "25/10"},
      {1.0 / 200, true, "1/200"},
      {40.0, true, "40/1"},  // no standard speed above 30 s
      {150.4, true, "150/1"},
      {1.0 / 8000, true, "1/8000"},
      {1.0 / 20000, true, "1/20000"},
      {0.0, true, "0/0"},
      {-1.0, true, "0/0"},
      {40000.0, true, "0/0"},
      {1.0 / 65536, true, "0/0"},
      {std::nan(""), true, "0/0"},
      {INFINITY, false, "0/0"},
  };
  for (const Case& c : cases) {
    dng_exif exif;
    exif.shutter_speed_value = dng_signed_ratio(5, 1);
    exif.StoreExposureTime(c.seconds, c.snap);
    EXPECT_EQ(ratio_text(exif.exposure_time), c.stored) << c.seconds;
    if (exif.exposure_time.d != 0) {
      EXPECT_NEAR(exif.shutter_speed_value.ToReal(), -std::log2(exif.exposure_time.ToReal()),
                  1e-6)
          << c.seconds;
    } else {
      EXPECT_EQ(exif.shutter_speed_value.d, 0) << c.seconds;
    }
  }
}

TEST(ExposureTime, FallbackRoundingBetweenStandardSpeeds) {
  struct Case {
    double seconds;
    double standard;
  };
  const Case cases[] = {
      {0.0, 0.0},       {12.0, 12.0},           {0.9, 0.9},           {1.0 / 7, 1.0 / 7},
      {1.0 / 110, 0.2 / 22}, {1.0 / 700, 0.1 / 70}, {1.0 / 900, 0.02 / 18}, {1.0 / 14000, 0.01 / 140},
  };
  for (const Case& c : cases) {
    EXPECT_NEAR(dng_exif::StandardExposureTime(c.seconds), c.standard, 1e-12) << c.seconds;
  }
}

TEST(FNumber, StoresTenthsAndTheApertureValue) {
  struct Case {
    double f;
    const char* stored;
    double aperture;  // < 0: absent
  };
  const Case cases[] = {
      {2.8, "28/10", 2.0 * std::log2(2.8)},
      {4.0, "4/1", 4.0},
      {11.0, "11/1", 2.0 * std::log2(11.0)},
      {1.0, "1/1", 0.0},
      {32768.0, "32768/1", 30.0},
      {0.95, "0/0", -1},
      {40000.0, "0/0", -1},
      {std::nan(""), "0/0", -1},
  };
  for (const Case& c : cases) {
    dng_exif exif;
    exif.StoreFNumber(c.f);
    EXPECT_EQ(ratio_text(exif.f_number), c.stored) << c.f;
    if (c.aperture < 0) {
      EXPECT_EQ(exif.aperture_value.d, 0u) << c.f;
    } else {
      ASSERT_NE(exif.aperture_value.d, 0u) << c.f;
      EXPECT_NEAR(exif.aperture_value.ToReal(), c.aperture, 1e-6) << c.f;
    }
  }
}

TEST(ExifTags, ApexValuesFollowOrCheckTheirPartners) {
  struct Case {
    const char* what;
    std::vector<TagEntry> entries;
    std::string err;
    std::function<void(const dng_exif&)> check;
  };
  const Case cases[] = {
      {"ShutterSpeedValue 6 alone gives 1/60",
       {{34665, 37377, 10, 1, srationals({{6, 1}})}}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(ratio_text(e.exposure_time), "1/60");
         EXPECT_NEAR(e.shutter_speed_value.ToReal(), std::log2(60.0), 1e-6);
       }},
      {"ShutterSpeedValue agreeing with ExposureTime",
       {{34665, 33434, 5, 1, rationals({{1, 60}})}, {34665, 37377, 10, 1, srationals({{6, 1}})}},
       "", [](const dng_exif& e) { EXPECT_EQ(ratio_text(e.exposure_time), "1/60"); }},
      {"ShutterSpeedValue conflicting with ExposureTime",
       {{34665, 33434, 5, 1, rationals({{1, 60}})}, {34665, 37377, 10, 1, srationals({{7, 1}})}},
       warning_line("The ExposureTime and ShutterSpeedValue tags have conflicting values"),
       [](const dng_exif& e) { EXPECT_NEAR(e.shutter_speed_value.ToReal(), std::log2(60.0), 1e-6); }},
      {"ExposureTime of zero", {{34665, 33434, 5, 1, rationals({{0, 1}})}},
       warning_line("The ExposureTime is <= 0"),
       [](const dng_exif& e) { EXPECT_EQ(e.exposure_time.d, 0u); }},
      {"ExposureTime with denominator 0", {{34665, 33434, 5, 1, rationals({{1, 0}})}},
       warning_line("The ExposureTime is <= 0"), [](const dng_exif&) {}},
      {"ApertureValue alone gives the f-number", {{34665, 37378, 5, 1, rationals({{5, 1}})}}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(ratio_text(e.f_number), "57/10");
         EXPECT_NEAR(e.aperture_value.ToReal(), 2.0 * std::log2(5.7), 1e-6);
       }},
      {"ApertureValue conflicting with FNumber",
       {{34665, 33437, 5, 1, rationals({{28, 10}})}, {34665, 37378, 5, 1, rationals({{4, 1}})}},
       warning_line("The FNumber and ApertureValue tags have conflicting values"),
       [](const dng_exif& e) { EXPECT_EQ(ratio_text(e.f_number), "28/10"); }},
      {"ApertureValue 0/0 is not compared",
       {{34665, 33437, 5, 1, rationals({{28, 10}})}, {34665, 37378, 5, 1, rationals({{0, 0}})}},
       "", [](const dng_exif& e) { EXPECT_EQ(ratio_text(e.f_number), "28/10"); }},
      {"negative FNumber stores nothing", {{34665, 33437, 10, 1, srationals({{-2, 1}})}},
       warning_line("Exif IFD FNumber has unexpected type (SRational)"),
       [](const dng_exif& e) { EXPECT_EQ(e.f_number.d, 0u); }},
  };
  for (const Case& c : cases) {
    dng_exif exif;
    std::vector<bool> taken;
    const dng_test::Printed p = printed_by([&] { taken = offer(exif, c.entries); });
    EXPECT_EQ(taken, std::vector<bool>(c.entries.size(), true)) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    SCOPED_TRACE(c.what);
    c.check(exif);
  }
}

std::string hex_id(const char* digits) { return std::string(digits) + std::string(1, '\0'); }

TEST(ExifTags, TableOfEntries) {
  struct Case {
    const char* what;
    std::vector<TagEntry> entries;
    std::vector<bool> taken;
    std::string err;
    std::function<void(const dng_exif&)> check;
    bool is_main_ifd = false;
  };
  const Case cases[] = {
      {"IFD-0 texts",
       {{0, 271, 2, 7, std::string("Canon \0", 7)}, {0, 272, 2, 4, std::string("R5\0\0", 4)},
        {0, 50735, 2, 4, std::string("123\0", 4)}},
       {true, true, true}, "",
       [](const dng_exif& e) {
         EXPECT_STREQ(e.make.CStr(), "Canon");
         EXPECT_STREQ(e.model.CStr(), "R5");
         EXPECT_STREQ(e.camera_serial_number.CStr(), "123");
       }},
      {"Make of type Byte is read with a warning", {{0, 271, 1, 4, std::string("Sony", 4)}},
       {true},
       warning_line("IFD 0 Make has unexpected type (Byte)") +
           warning_line("IFD 0 Make is not NULL terminated"),
       [](const dng_exif& e) { EXPECT_STREQ(e.make.CStr(), "Sony"); }},
      {"DateTime and its origin", {{0, 306, 2, 20, std::string("2023:01:02 03:04:05\0", 20)}},
       {true}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.date_time.year, 2023u);
         EXPECT_EQ(e.date_time_origin.position, static_cast<int32_t>(kPos));
         EXPECT_EQ(e.date_time_origin.kind, 1);
       }},
      {"bad DateTime not taken", {{0, 306, 2, 20, std::string("2023:01:02 25:04:05\0", 20)}},
       {false}, warning_line("IFD 0 DateTime is not a valid date/time"),
       [](const dng_exif& e) { EXPECT_EQ(e.date_time_origin.kind, 0); }},
      {"Copyright pair", {{0, 33432, 2, 11, std::string("Me\0Editor\0\0", 11)}}, {true}, "",
       [](const dng_exif& e) {
         EXPECT_STREQ(e.copyright.CStr(), "Me");
         EXPECT_STREQ(e.copyright2.CStr(), "Editor");
       }},
      {"Copyright without terminator", {{0, 33432, 2, 2, "Me"}}, {true},
       warning_line("IFD 0 Copyright is not NULL terminated"),
       [](const dng_exif& e) { EXPECT_STREQ(e.copyright.CStr(), "Me"); }},
      {"LensInfo", {{0, 50736, 5, 4, rationals({{24, 1}, {70, 1}, {28, 10}, {4, 1}})}}, {true},
       "", [](const dng_exif& e) { EXPECT_EQ(e.lens_info[2].n, 28u); }},
      {"LensInfo of 3 values not taken", {{0, 50736, 5, 3, rationals({{24, 1}, {70, 1}, {4, 1}})}},
       {false}, warning_line("IFD 0 LensInfo has unexpected count (3)"),
       [](const dng_exif& e) { EXPECT_EQ(e.lens_info[0].d, 0u); }},
      {"TIFF/EP id", {{0, 37398, 1, 4, std::string("\x01\x00\x00\x00", 4)}}, {true}, "",
       [](const dng_exif& e) { EXPECT_EQ(e.tiff_ep_standard_id, 0x01000000u); }},
      {"focal plane tags in the main SubIFD",
       {{0x10000, 37390, 5, 1, rationals({{300, 1}})}, {0x10000, 37392, 3, 1, shorts({3})}},
       {true, true}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.focal_plane_x_resolution.n, 300u);
         EXPECT_EQ(e.focal_plane_resolution_unit, 3u);
       },
       true},
      {"focal plane tags in a preview SubIFD are not taken",
       {{0x10001, 37390, 5, 1, rationals({{300, 1}})}, {0x10001, 271, 2, 2, "A"}},
       {false, false}, "", [](const dng_exif& e) { EXPECT_EQ(e.focal_plane_x_resolution.d, 0u); }},
      {"EXIF values",
       {{34665, 34855, 3, 3, shorts({100, 200, 400})},
        {34665, 34858, 8, 2, shorts({0xFFF8, 2})},
        {34665, 36864, 7, 4, "0230"},
        {34665, 37385, 3, 1, shorts({0x19})},
        {34665, 37386, 5, 1, rationals({{0, 10}})},
        {34665, 41728, 7, 1, std::string("\x03", 1)},
        {34665, 40962, 4, 1, dng_test::longs({6000})}},
       std::vector<bool>(7, true), "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.iso_speed_ratings[2], 400u);
         EXPECT_EQ(e.date_time_original_zone, -8);
         EXPECT_EQ(e.date_time_zone, 2);
         EXPECT_EQ(e.exif_version, 0x30323330u);
         EXPECT_EQ(e.flash, 0x19u);
         EXPECT_EQ(e.focal_length.d, 0u);  // not above 0: absent
         EXPECT_EQ(e.file_source, 3u);
         EXPECT_EQ(e.pixel_x_dimension, 6000u);
       }},
      {"ISO of four values reads three", {{34665, 34855, 3, 4, shorts({1, 2, 3, 4})}}, {true},
       warning_line("Exif IFD ISOSpeedRatings has unexpected count (4)"),
       [](const dng_exif& e) { EXPECT_EQ(e.iso_speed_ratings[2], 3u); }},
      {"SubjectArea and SubjectLocation",
       {{34665, 37396, 3, 5, shorts({1, 2, 3, 4, 5})}, {34665, 41492, 3, 3, shorts({7, 8, 9})}},
       {false, true},
       warning_line("Exif IFD SubjectArea has unexpected count (5)") +
           warning_line("Exif IFD SubjectLocation has unexpected count (3)"),
       [](const dng_exif& e) {
         EXPECT_EQ(e.subject_area_count, 3u);
         EXPECT_EQ(e.subject_area[2], 9u);
       }},
      {"EXIF CFA pattern read column by column",
       {{34665, 41730, 7, 10, shorts({3, 2}) + std::string("\x00\x01\x01\x02\x02\x00", 6)}},
       {true}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.cfa_repeat_pattern_cols, 3u);
         EXPECT_EQ(e.cfa_repeat_pattern_rows, 2u);
         EXPECT_EQ(e.cfa_pattern[0][0], 0);
         EXPECT_EQ(e.cfa_pattern[1][0], 1);
         EXPECT_EQ(e.cfa_pattern[0][1], 1);
         EXPECT_EQ(e.cfa_pattern[1][2], 0);
         EXPECT_EQ(e.cfa_pattern[2][0], 255);
       }},
      {"EXIF CFA pattern with 9 columns", {{34665, 41730, 7, 13, shorts({9, 1}) + "123456789"}},
       {false}, "", [](const dng_exif& e) { EXPECT_EQ(e.cfa_repeat_pattern_cols, 0u); }},
      {"EXIF CFA pattern count mismatch", {{34665, 41730, 7, 9, shorts({2, 2}) + "12345"}},
       {false}, warning_line("Exif IFD CFAPatternExif has unexpected count (9)"),
       [](const dng_exif&) {}},
      {"EXIF CFA pattern of 4 bytes", {{34665, 41730, 7, 4, shorts({1, 1})}}, {false},
       warning_line("Exif IFD CFAPatternExif has unexpected count (4)"), [](const dng_exif&) {}},
      {"ImageUniqueID", {{34665, 42016, 2, 33, hex_id("00112233445566778899aabbccddeeff")}},
       {true}, "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.image_unique_id.data[0], 0x00);
         EXPECT_EQ(e.image_unique_id.data[15], 0xFF);
       }},
      {"ImageUniqueID of 31 digits", {{34665, 42016, 2, 33, hex_id("00112233445566778899aabbccddeef ")}},
       {false}, "", [](const dng_exif& e) { EXPECT_TRUE(e.image_unique_id.IsZero()); }},
      {"ImageUniqueID with a G", {{34665, 42016, 2, 33, hex_id("00112233445566778899aabbccddeefG")}},
       {false}, "", [](const dng_exif& e) { EXPECT_TRUE(e.image_unique_id.IsZero()); }},
      {"ImageUniqueID count 32", {{34665, 42016, 2, 32, "00112233445566778899aabbccddeeff"}},
       {false}, warning_line("Exif IFD ImageUniqueID has unexpected count (32)"),
       [](const dng_exif&) {}},
      {"UserComment", {{34665, 37510, 7, 12, std::string("ASCII\0\0\0Nice", 12)}}, {true}, "",
       [](const dng_exif& e) { EXPECT_STREQ(e.user_comment.CStr(), "Nice"); }},
      {"BatteryLevel as text or ratio",
       {{34665, 33423, 2, 5, std::string("full\0", 5)}, {34665, 33423, 5, 1, rationals({{3, 4}})}},
       {true, true}, "",
       [](const dng_exif& e) {
         EXPECT_STREQ(e.battery_level_text.CStr(), "full");
         EXPECT_EQ(e.battery_level.d, 4u);
       }},
      {"GPS tags",
       {{34853, 0, 1, 4, std::string("\x02\x02\x00\x00", 4)},
        {34853, 1, 2, 2, std::string("N\0", 2)},
        {34853, 2, 5, 3, rationals({{52, 1}, {30, 1}, {0, 1}})},
        {34853, 5, 1, 1, std::string("\x01", 1)},
        {34853, 6, 5, 1, rationals({{120, 1}})},
        {34853, 27, 7, 11, std::string("ASCII\0\0\0GPS", 11)},
        {34853, 29, 2, 11, std::string("2023:01:02\0", 11)},
        {34853, 30, 3, 1, shorts({1})}},
       std::vector<bool>(8, true), "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.gps_version_id, 0x02020000u);
         EXPECT_STREQ(e.gps_latitude_ref.CStr(), "N");
         EXPECT_EQ(e.gps_latitude[1].n, 30u);
         EXPECT_EQ(e.gps_altitude_ref, 1u);
         EXPECT_EQ(e.gps_altitude.n, 120u);
         EXPECT_STREQ(e.gps_processing_method.CStr(), "GPS");
         EXPECT_STREQ(e.gps_date_stamp.CStr(), "2023:01:02");
         EXPECT_EQ(e.gps_differential, 1u);
       }},
      {"GPS refusals",
       {{34853, 2, 5, 2, rationals({{52, 1}, {30, 1}})},
        {34853, 7, 10, 3, srationals({{1, 1}, {2, 1}, {3, 1}})},
        {34853, 6, 10, 1, srationals({{-5, 1}})},
        {34853, 27, 2, 4, "abc"},
        {34853, 1, 7, 2, "N"},
        {34853, 31, 2, 2, "x"},
        {34853, 271, 2, 2, "x"}},
       std::vector<bool>(7, false),
       warning_line("GPS IFD GPSLatitude has unexpected count (2)") +
           warning_line("GPS IFD GPSTimeStamp has unexpected type (SRational)") +
           warning_line("GPS IFD GPSAltitude has unexpected type (SRational)") +
           warning_line("GPS IFD GPSProcessingMethod has unexpected type (ASCII)") +
           warning_line("GPS IFD GPSLatitudeRef has unexpected type (Undefined)"),
       [](const dng_exif& e) { EXPECT_EQ(e.gps_latitude[0].d, 0u); }},
      {"GPSAltitude with two values is read with a warning",
       {{34853, 6, 5, 2, rationals({{7, 1}, {8, 1}})}}, {true},
       warning_line("GPS IFD GPSAltitude has unexpected count (2)"),
       [](const dng_exif& e) { EXPECT_EQ(e.gps_altitude.n, 7u); }},
      {"Interoperability tags",
       {{40965, 1, 2, 4, std::string("R98\0", 4)},
        {40965, 2, 7, 4, "0100"},
        {40965, 4097, 4, 1, dng_test::longs({640})},
        {40965, 3, 2, 2, "x"}},
       {true, true, true, false}, "",
       [](const dng_exif& e) {
         EXPECT_STREQ(e.interoperability_index.CStr(), "R98");
         EXPECT_EQ(e.interoperability_version, 0x30313030u);
         EXPECT_EQ(e.related_image_width, 640u);
       }},
      {"EXIF tags are not taken in other directories",
       {{34853, 33434, 5, 1, rationals({{1, 60}})}, {0x20000, 33434, 5, 1, rationals({{1, 60}})},
        {40965, 271, 2, 2, "x"}, {33424, 272, 2, 2, "x"}},
       {false, false, false, false}, "",
       [](const dng_exif& e) { EXPECT_EQ(e.exposure_time.d, 0u); }},
  };
  for (const Case& c : cases) {
    dng_exif exif;
    std::vector<bool> taken;
    const dng_test::Printed p = printed_by([&] { taken = offer(exif, c.entries, c.is_main_ifd); });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_EQ(taken, c.taken) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    SCOPED_TRACE(c.what);
    c.check(exif);
  }
}

TEST(ExifFinishParse, ConflictsAndFallbacks) {
  struct Case {
    const char* what;
    std::function<void(dng_exif&)> setup;
    std::string err;
    std::function<void(const dng_exif&)> check;
  };
  auto lens = [](dng_exif& e, uint32_t short_end, uint32_t long_end, uint32_t f_short10,
                 uint32_t f_long10) {
    e.lens_info[0] = dng_unsigned_ratio(short_end, 1);
    e.lens_info[1] = dng_unsigned_ratio(long_end, 1);
    e.lens_info[2] = dng_unsigned_ratio(f_short10, 10);
    e.lens_info[3] = dng_unsigned_ratio(f_long10, 10);
  };
  const Case cases[] = {
      {"empty", [](dng_exif&) {}, "", [](const dng_exif&) {}},
      {"MaxApertureValue above ApertureValue",
       [](dng_exif& e) {
         e.StoreFNumber(4.0);
         e.max_aperture_value = dng_unsigned_ratio(43, 10);
       },
       warning_line("MaxApertureValue conflicts with ApertureValue and/or FNumber"),
       [](const dng_exif&) {}},
      {"MaxApertureValue within 0.25",
       [](dng_exif& e) {
         e.StoreFNumber(4.0);
         e.max_aperture_value = dng_unsigned_ratio(42, 10);
       },
       "", [](const dng_exif&) {}},
      {"MaxApertureValue against FNumber alone",
       [](dng_exif& e) {
         e.f_number = dng_unsigned_ratio(2, 1);
         e.max_aperture_value = dng_unsigned_ratio(3, 1);
       },
       warning_line("MaxApertureValue conflicts with ApertureValue and/or FNumber"),
       [](const dng_exif&) {}},
      {"MaxApertureValue outside the lens range",
       [&](dng_exif& e) {
         lens(e, 24, 70, 28, 28);
         e.max_aperture_value = dng_unsigned_ratio(1, 1);  // 2 log2 2.8 - 1.25 = 1.72
       },
       warning_line("Possible MaxApertureValue conflict with LensInfo"), [](const dng_exif&) {}},
      {"FocalLength below 1 mm",
       [](dng_exif& e) { e.focal_length = dng_unsigned_ratio(5, 10); },
       warning_line("FocalLength is less than 1.0 mm (legal but unlikely)"),
       [](const dng_exif&) {}},
      {"FocalLength beyond 2.1 x the long end",
       [&](dng_exif& e) {
         lens(e, 24, 70, 28, 28);
         e.focal_length = dng_unsigned_ratio(148, 1);
       },
       warning_line("Possible FocalLength conflict with LensInfo"), [](const dng_exif&) {}},
      {"FocalLength within the lens",
       [&](dng_exif& e) {
         lens(e, 24, 70, 28, 28);
         e.focal_length = dng_unsigned_ratio(50, 1);
       },
       "", [](const dng_exif&) {}},
      {"DateTime from DateTimeOriginal",
       [](dng_exif& e) {
         e.date_time_original.ParseExifText("2022:03:04 05:06:07");
         e.subsec_time_original.Assign("42");
         e.date_time_original_zone = -5;
       },
       "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.date_time.day, 4u);
         EXPECT_STREQ(e.subsec_time.CStr(), "42");
         EXPECT_EQ(e.date_time_zone, -5);
       }},
      {"a valid DateTime stays",
       [](dng_exif& e) {
         e.date_time.ParseExifText("2021:01:01 00:00:00");
         e.date_time_original.ParseExifText("2022:03:04 05:06:07");
       },
       "", [](const dng_exif& e) { EXPECT_EQ(e.date_time.year, 2021u); }},
      {"ISO from ExposureIndex", [](dng_exif& e) { e.exposure_index = dng_unsigned_ratio(4005, 10); },
       "", [](const dng_exif& e) { EXPECT_EQ(e.iso_speed_ratings[0], 401u); }},
      {"ISO from a huge ExposureIndex is held to int32",
       [](dng_exif& e) { e.exposure_index = dng_unsigned_ratio(4000000000u, 1); }, "",
       [](const dng_exif& e) { EXPECT_EQ(e.iso_speed_ratings[0], 2147483647u); }},
      {"ISO already set",
       [](dng_exif& e) {
         e.iso_speed_ratings[0] = 100;
         e.exposure_index = dng_unsigned_ratio(200, 1);
       },
       "", [](const dng_exif& e) { EXPECT_EQ(e.iso_speed_ratings[0], 100u); }},
      {"GPS holding only its version is cleared",
       [](dng_exif& e) {
         e.gps_version_id = 0x02020000;
         e.gps_altitude_ref = 0;
       },
       "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.gps_version_id, 0u);
         EXPECT_EQ(e.gps_altitude_ref, dng_exif_absent);
       }},
      {"GPS with a date keeps its version",
       [](dng_exif& e) {
         e.gps_version_id = 0x02020000;
         e.gps_date_stamp.Assign("2023:01:01");
       },
       "", [](const dng_exif& e) { EXPECT_EQ(e.gps_version_id, 0x02020000u); }},
      {"GPS with an altitude keeps its reference",
       [](dng_exif& e) {
         e.gps_version_id = 0x02020000;
         e.gps_altitude = dng_unsigned_ratio(10, 1);
         e.gps_altitude_ref = 1;
       },
       "",
       [](const dng_exif& e) {
         EXPECT_EQ(e.gps_version_id, 0x02020000u);
         EXPECT_EQ(e.gps_altitude_ref, 1u);
       }},
  };
  for (const Case& c : cases) {
    dng_exif exif;
    c.setup(exif);
    dng_host host;
    const dng_test::Printed p = printed_by([&] { exif.FinishParse(host, nullptr); });
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    SCOPED_TRACE(c.what);
    c.check(exif);
  }
}

TEST(ExifFactory, HostMakesAnEmptyExifObject) {
  dng_host host;
  std::unique_ptr<dng_exif> exif = host.NewExif();
  ASSERT_NE(exif, nullptr);
  EXPECT_EQ(exif->flash, dng_exif_absent);
  EXPECT_EQ(exif->date_time_zone, dng_exif_no_zone);
}

}  // namespace
