// The XMP text forms of metadata values: ISO dates with their zones, GPS
// version, coordinates and time stamps, lens information and identifiers,
// each written and read back, and read from hostile texts (numbers that do
// not fit, huge zones, missing parts).
#include "dng/parse/dng_xmp_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

#include "support/comma_locale.h"
#include "dng/support/scoped_zone.h"

namespace {

dng_calendar_time date(uint32_t y, uint32_t mo, uint32_t d, uint32_t h = 0, uint32_t mi = 0, uint32_t s = 0) {
  dng_calendar_time t;
  t.year = y;
  t.month = mo;
  t.day = d;
  t.hour = h;
  t.minute = mi;
  t.second = s;
  return t;
}

std::string ratio_text(const dng_unsigned_ratio& r) { return std::to_string(r.n) + "/" + std::to_string(r.d); }

std::string date_text(const dng_calendar_time& t) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%u-%u-%u %u:%u:%u", t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buffer;
}

constexpr int32_t kNoZone = dng_xmp_no_zone;

// A zone with daylight saving from the last Sunday of March to the last
// Sunday of October: +1 in winter, +2 in summer.
constexpr const char kEuropeanZone[] = "CET-1CEST,M3.5.0,M10.5.0/3";

TEST(EncodeIsoDate, WritesDateTimeFractionAndZone) {
  ScopedZone zone(kEuropeanZone);
  const struct {
    dng_calendar_time when;
    bool with_time;
    const char* fraction;
    int32_t zone_hours;
    int32_t zone_minutes;
    const char* expected;
  } cases[] = {
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, 0, 0, "2007-03-04T05:06:07Z"},
      {date(2007, 3, 4, 5, 6, 7), false, "25", 2, 0, "2007-03-04"},
      {date(2007, 3, 4, 5, 6, 7), true, "25", 2, 0, "2007-03-04T05:06:07.25+02:00"},
      {date(2007, 3, 4, 5, 6, 7), true, "2a", 2, 0, "2007-03-04T05:06:07+02:00"},
      {date(2007, 3, 4, 5, 6, 7), true, "", -5, -30, "2007-03-04T05:06:07-05:30"},
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, 0, 330, "2007-03-04T05:06:07+05:30"},
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, 13, 0, "2007-03-04T05:06:07+13:00"},
      // 781 minutes: no zone is written.
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, 13, 1, "2007-03-04T05:06:07"},
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, 0, -2000000000, "2007-03-04T05:06:07"},
      // Without a zone of its own: the machine's zone at that date.
      {date(2007, 3, 4, 5, 6, 7), true, nullptr, kNoZone, 0, "2007-03-04T05:06:07+01:00"},
      {date(2007, 7, 4, 5, 6, 7), true, nullptr, kNoZone, 0, "2007-07-04T05:06:07+02:00"},
      {date(2007, 7, 4, 5, 6, 7), true, nullptr, 14, 30, "2007-07-04T05:06:07+02:00"},
      {date(9999, 12, 31, 23, 59, 59), true, nullptr, -13, 0, "9999-12-31T23:59:59-13:00"},
      {date(2007, 13, 4), true, nullptr, 0, 0, ""},
      {date(2007, 3, 4, 24, 0, 0), true, nullptr, 0, 0, ""},
      {dng_calendar_time(), true, nullptr, 0, 0, ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(encode_iso_date(c.when, c.with_time, c.fraction, c.zone_hours, c.zone_minutes).CStr(), c.expected)
        << c.expected;
  }
}

TEST(DecodeIsoDate, ReadsEachPartAndRejectsWhatDoesNotFit) {
  const struct {
    const char* text;
    const char* when;  // date_text of the result
    bool has_time;
    const char* fraction;
    int32_t zone_hours;
    int32_t zone_part_minutes;  // with a zone-hours output
    int32_t zone_minutes;       // without one: the whole offset
  } cases[] = {
      {"2007-03-04T05:06:07.25+02:00", "2007-3-4 5:6:7", true, "25", 2, 0, 120},
      {"2007-03-04T05:06:07-05:30", "2007-3-4 5:6:7", true, "", -5, -30, -330},
      {"2007-03-04T05:06:07Z", "2007-3-4 5:6:7", true, "", 0, 0, 0},
      {"2007-03-04T05:06:07", "2007-3-4 5:6:7", true, "", kNoZone, 0, 0},
      {"2007-03-04", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06:07+13:00", "2007-3-4 5:6:7", true, "", 13, 0, 780},
      // Zones beyond 13 hours either side: the time and zone go, the date
      // stays.
      {"2007-03-04T05:06:07+13:01", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06:07.5-99:00", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06:07+4294967295:59", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06:07+71582789:00", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      // A zone number that does not fit is no zone.
      {"2007-03-04T05:06:07+4294967296:00", "2007-3-4 5:6:7", true, "", kNoZone, 0, 0},
      // Out of range or not fitting: no date-time at all.
      {"2007-13-04", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T24:00:00Z", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"4294967296-03-04", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-4294967300", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03-04T05:06:4294967296", "2007-3-4 0:0:0", false, "", kNoZone, 0, 0},
      {"2007--3-04", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"2007-03", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
      {"T", "0-0-0 0:0:0", false, "", kNoZone, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dng_calendar_time when = date(1, 1, 1, 1, 1, 1);
    bool has_time = true;
    dng_text fraction("old");
    int32_t zone_hours = 5;
    int32_t zone_minutes = 5;
    decode_iso_date(c.text, &when, &has_time, &fraction, &zone_hours, &zone_minutes);
    EXPECT_EQ(date_text(when), c.when);
    EXPECT_EQ(has_time, c.has_time);
    EXPECT_STREQ(fraction.CStr(), c.fraction);
    EXPECT_EQ(zone_hours, c.zone_hours);
    EXPECT_EQ(zone_minutes, c.zone_part_minutes);

    int32_t total = 5;
    decode_iso_date(c.text, nullptr, nullptr, nullptr, nullptr, &total);
    EXPECT_EQ(total, c.zone_minutes);
  }
}

TEST(DecodeIsoDate, ToleratesAbsentOutputsAndNullText) {
  decode_iso_date("2007-03-04T05:06:07.25+02:00", nullptr, nullptr, nullptr, nullptr, nullptr);
  dng_calendar_time when = date(2001, 1, 1);
  decode_iso_date(nullptr, &when, nullptr, nullptr, nullptr, nullptr);
  EXPECT_FALSE(when.InRange());
}

TEST(IsoDate, RoundTripsThroughTheTextForm) {
  const struct {
    dng_calendar_time when;
    const char* fraction;
    int32_t zone_hours;
    int32_t zone_minutes;
  } cases[] = {
      {date(1, 1, 1, 0, 0, 0), "", 0, 0},
      {date(2010, 5, 9, 14, 3, 59), "123", -8, 0},
      {date(2010, 5, 9, 14, 3, 59), "", 5, 45},
      {date(9999, 12, 31, 23, 59, 59), "9", 13, 0},
      {date(2000, 2, 31, 12, 0, 0), "", -13, 0},
  };
  for (const auto& c : cases) {
    const dng_text text = encode_iso_date(c.when, true, c.fraction, c.zone_hours, c.zone_minutes);
    SCOPED_TRACE(text.CStr());
    dng_calendar_time when;
    bool has_time = false;
    dng_text fraction;
    int32_t zone_hours = 0;
    int32_t zone_minutes = 0;
    decode_iso_date(text.CStr(), &when, &has_time, &fraction, &zone_hours, &zone_minutes);
    EXPECT_EQ(date_text(when), date_text(c.when));
    EXPECT_TRUE(has_time);
    EXPECT_STREQ(fraction.CStr(), c.fraction);
    EXPECT_EQ(zone_hours, c.zone_hours);
    EXPECT_EQ(zone_minutes, c.zone_minutes);
  }
}

TEST(TrimDecimalZeros, DropsTrailingZerosAndPoint) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {{"29.50", "29.5"}, {"30.00", "30"}, {"0.000", "0"}, {"100", "100"}, {"", ""}, {"10.0001", "10.0001"}};
  for (const auto& c : cases) {
    std::string text = c.in;
    trim_decimal_zeros(text);
    EXPECT_EQ(text, c.out) << c.in;
  }
}

TEST(NumberScanners, ReadWhatFitsAndRefuseTheRest) {
  const struct {
    const char* text;
    bool ok;
    uint32_t value;
    size_t consumed;
  } unsigned_cases[] = {
      {"4294967295", true, 4294967295u, 10}, {"4294967296", false, 0, 0}, {" +12x", true, 12, 4},
      {"-0", true, 0, 2},                    {"-1", false, 0, 0},         {"99999999999999999999999", false, 0, 0},
      {"x1", false, 0, 0},                   {"", false, 0, 0},           {"+", false, 0, 0},
  };
  for (const auto& c : unsigned_cases) {
    const char* cursor = c.text;
    uint32_t value = 7;
    EXPECT_EQ(scan_uint32(cursor, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 7u) << c.text;
    EXPECT_EQ(static_cast<size_t>(cursor - c.text), c.consumed) << c.text;
  }

  const struct {
    const char* text;
    bool ok;
    int32_t value;
  } signed_cases[] = {
      {"2147483647", true, 2147483647}, {"2147483648", false, 0}, {"-2147483648", true, INT32_MIN},
      {"-2147483649", false, 0},        {"-17/3", true, -17},     {"--1", false, 0},
  };
  for (const auto& c : signed_cases) {
    const char* cursor = c.text;
    int32_t value = 7;
    EXPECT_EQ(scan_int32(cursor, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 7) << c.text;
  }

  const struct {
    const char* text;
    bool ok;
    double value;
  } double_cases[] = {
      {"51.25N", true, 51.25}, {".5", true, 0.5},   {"-.5", true, -0.5}, {"1e3,", true, 1000.0},
      {"1e400", false, 0},     {"inf", false, 0},   {"nan", false, 0},   {"-", false, 0},
      {"", false, 0},          {" 7", true, 7.0},
  };
  for (const auto& c : double_cases) {
    const char* cursor = c.text;
    double value = 7.0;
    EXPECT_EQ(scan_double(cursor, value), c.ok) << c.text;
    EXPECT_EQ(value, c.ok ? c.value : 7.0) << c.text;
  }
}

TEST(GpsVersion, EncodesAndDecodesDottedBytes) {
  const struct {
    uint32_t value;
    const char* text;
  } encodes[] = {{0x02020000, "2.2.0.0"}, {0x09090909, "9.9.9.9"}, {0, ""},
                 {0x0A000000, ""},        {0x02100000, ""},        {0x0200000A, ""}};
  for (const auto& c : encodes) EXPECT_STREQ(encode_gps_version(c.value).CStr(), c.text) << c.value;

  const struct {
    const char* text;
    uint32_t value;
  } decodes[] = {{"2.2.0.0", 0x02020000}, {"2.3.0.1", 0x02030001}, {"2.2.0", 0},   {"2.2.0.00", 0},
                 {"2.2.0.x", 0},          {"-1.2.3.", 0},          {"", 0}};
  for (const auto& c : decodes) EXPECT_EQ(decode_gps_version(c.text), c.value) << c.text;
}

TEST(GpsCoordinate, Encodes) {
  const struct {
    const char* ref;
    dng_unsigned_ratio d, m, s;
    const char* expected;
  } cases[] = {
      {"N", {48, 1}, {51, 1}, {2950, 100}, "48,51,29.5N"},
      {"N", {48, 1}, {5125, 100}, {0, 0}, "48,51.25N"},
      {"w", {48, 1}, {5125, 100}, {0, 1}, "48,51.25W"},
      {"S", {48, 1}, {51, 1}, {3000, 100}, "48,51,30S"},
      {"E", {965, 10}, {1, 3}, {0, 0}, "97,0.3333E"},
      {"E", {4294967295u, 1}, {0, 1}, {0, 0}, "4294967295,0E"},
      {"X", {48, 1}, {51, 1}, {0, 0}, ""},
      {"NE", {48, 1}, {51, 1}, {0, 0}, ""},
      {"", {48, 1}, {51, 1}, {0, 0}, ""},
      {"N", {48, 0}, {51, 1}, {0, 0}, ""},
      {"N", {48, 1}, {51, 0}, {0, 0}, ""},
  };
  for (const auto& c : cases) {
    const dng_unsigned_ratio coord[3] = {c.d, c.m, c.s};
    EXPECT_STREQ(encode_gps_coordinate(dng_text(c.ref), coord).CStr(), c.expected) << c.expected;
  }
}

TEST(GpsCoordinate, Decodes) {
  const struct {
    const char* text;
    const char* ref;
    const char* d;
    const char* m;
    const char* s;
  } cases[] = {
      {"48,51.25N", "N", "48/1", "512500/10000", "0/0"},
      {"48,51,29.5N", "N", "48/1", "51/1", "2950/100"},
      {"48,51.25w", "W", "48/1", "512500/10000", "0/0"},
      // Saturating conversions of readings that do not fit a ratio.
      {"48,5e9N", "N", "48/1", "4294967295/10000", "0/0"},
      {"48,-5N", "N", "48/1", "0/10000", "0/0"},
      // Unreadable: every output cleared.
      {"48,51.25X", "", "0/0", "0/0", "0/0"},
      {"N", "", "0/0", "0/0", "0/0"},
      {"48N", "", "0/0", "0/0", "0/0"},
      {"4294967296,51.25N", "", "0/0", "0/0", "0/0"},
      {"48,1e400N", "", "0/0", "0/0", "0/0"},
      {"48,nanN", "", "0/0", "0/0", "0/0"},
      {"", "", "0/0", "0/0", "0/0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dng_text ref("Q");
    dng_unsigned_ratio coord[3] = {{1, 1}, {1, 1}, {1, 1}};
    decode_gps_coordinate(c.text, ref, coord);
    EXPECT_STREQ(ref.CStr(), c.ref);
    EXPECT_EQ(ratio_text(coord[0]), c.d);
    EXPECT_EQ(ratio_text(coord[1]), c.m);
    EXPECT_EQ(ratio_text(coord[2]), c.s);
  }
}

TEST(GpsTimestamp, Encodes) {
  const struct {
    const char* stamp;
    dng_unsigned_ratio h, m, s;
    const char* expected;
  } cases[] = {
      {"2008:05:12", {14, 1}, {5, 1}, {335, 10}, "2008-05-12T14:05:33.5Z"},
      {"", {14, 1}, {5, 1}, {335, 10}, "14:05:33.5Z"},
      {"2008:13:12", {14, 1}, {5, 1}, {5, 1}, "14:05:05Z"},
      {"garbage", {14, 1}, {5, 1}, {0, 1}, "14:05:00Z"},
      {"2008:05:12", {29, 2}, {5, 1}, {1, 3}, "2008-05-12T15:05:00.333333Z"},
      {"2008:05:12", {14, 0}, {5, 1}, {1, 1}, ""},
      {"2008:05:12", {14, 1}, {5, 1}, {1, 0}, ""},
  };
  for (const auto& c : cases) {
    const dng_unsigned_ratio time[3] = {c.h, c.m, c.s};
    EXPECT_STREQ(encode_gps_timestamp(dng_text(c.stamp), time).CStr(), c.expected) << c.expected;
  }
}

TEST(GpsTimestamp, Decodes) {
  const struct {
    const char* text;
    const char* stamp;
    const char* h;
    const char* m;
    const char* s;
  } cases[] = {
      {"2008-05-12T14:05:33.5Z", "2008:05:12", "14/1", "5/1", "33500/1000"},
      {"14:05:33.5Z", "", "14/1", "5/1", "33500/1000"},
      {"2008-13-12T14:05:33.5Z", "", "14/1", "5/1", "33500/1000"},
      {"14:05:1e300Z", "", "14/1", "5/1", "4294967295/1000"},
      {"99999999999:05:33Z", "", "0/0", "0/0", "0/0"},
      {"14:05Z", "", "0/0", "0/0", "0/0"},
      {"", "", "0/0", "0/0", "0/0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    dng_text stamp("old");
    dng_unsigned_ratio time[3] = {{1, 1}, {1, 1}, {1, 1}};
    decode_gps_timestamp(c.text, stamp, time);
    EXPECT_STREQ(stamp.CStr(), c.stamp);
    EXPECT_EQ(ratio_text(time[0]), c.h);
    EXPECT_EQ(ratio_text(time[1]), c.m);
    EXPECT_EQ(ratio_text(time[2]), c.s);
  }
}

TEST(LensInfo, TextFormAndName) {
  const struct {
    dng_unsigned_ratio info[4];
    const char* text;
    const char* name;
  } cases[] = {
      {{{24, 1}, {70, 1}, {28, 10}, {28, 10}}, "24/1 70/1 28/10 28/10", "24.0-70.0 mm f/2.8"},
      {{{50, 1}, {50, 1}, {14, 10}, {14, 10}}, "50/1 50/1 14/10 14/10", "50.0 mm f/1.4"},
      {{{18, 1}, {55, 1}, {35, 10}, {56, 10}}, "18/1 55/1 35/10 56/10", "18.0-55.0 mm f/3.5-5.6"},
      {{{24, 1}, {70, 1}, {0, 0}, {0, 0}}, "24/1 70/1 0/0 0/0", "24.0-70.0 mm"},
      {{{50, 1}, {50, 1}, {0, 0}, {0, 0}}, "50/1 50/1 0/0 0/0", "50.0 mm"},
      {{{24, 0}, {70, 1}, {28, 10}, {28, 10}}, "", ""},
  };
  for (const auto& c : cases) {
    EXPECT_STREQ(encode_lens_info(c.info).CStr(), c.text);
    EXPECT_STREQ(lens_name_from_info(c.info).CStr(), c.name);
    if (*c.text == 0) continue;
    dng_unsigned_ratio back[4];
    ASSERT_TRUE(decode_lens_info(c.text, back)) << c.text;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(ratio_text(back[i]), ratio_text(c.info[i])) << c.text;
  }

  for (const char* bad : {"24/1 70/1 28/10", "4294967296/1 70/1 28/10 28/10", "24/1 70/1 28/10 28/", "", "a/b"}) {
    dng_unsigned_ratio info[4] = {{1, 1}, {2, 1}, {3, 1}, {4, 1}};
    EXPECT_FALSE(decode_lens_info(bad, info)) << bad;
    EXPECT_EQ(ratio_text(info[3]), "4/1") << bad;
  }
}

TEST(FingerprintHex, RoundTripsAndRefusesMalformedTexts) {
  dng_digest digest;
  for (uint32_t i = 0; i < dng_digest::kBytes; ++i) digest.data[i] = static_cast<uint8_t>(i * 17 + 10);
  const dng_text text = encode_fingerprint_hex(digest);
  EXPECT_STREQ(text.CStr(), "0A1B2C3D4E5F708192A3B4C5D6E7F809");
  EXPECT_TRUE(decode_fingerprint_hex(text.CStr()).SameAs(digest));
  EXPECT_TRUE(decode_fingerprint_hex("0a1b2c3d4e5f708192a3b4c5d6e7f809").SameAs(digest));
  EXPECT_STREQ(encode_fingerprint_hex(dng_digest()).CStr(), "");
  for (const char* bad : {"0A1B2C3D4E5F708192A3B4C5D6E7F80", "0A1B2C3D4E5F708192A3B4C5D6E7F8090",
                          "0A1B2C3D4E5F708192A3B4C5D6E7F8G9", ""}) {
    EXPECT_TRUE(decode_fingerprint_hex(bad).IsZero()) << bad;
  }
}

TEST(XmpTextForms, KeepThePointUnderADecimalCommaLocale) {
  testing_support::CommaLocale comma;
  if (!comma.active()) GTEST_SKIP() << "no decimal-comma locale available";
  const dng_unsigned_ratio coord[3] = {{48, 1}, {5125, 100}, {0, 0}};
  EXPECT_STREQ(encode_gps_coordinate(dng_text("N"), coord).CStr(), "48,51.25N");
  const dng_unsigned_ratio info[4] = {{24, 1}, {70, 1}, {28, 10}, {28, 10}};
  EXPECT_STREQ(lens_name_from_info(info).CStr(), "24.0-70.0 mm f/2.8");
  dng_text stamp;
  dng_unsigned_ratio time[3];
  decode_gps_timestamp("14:05:33.5Z", stamp, time);
  EXPECT_EQ(ratio_text(time[2]), "33500/1000");
}

}  // namespace
