// EXIF date texts, the current local time with its zone, and the zone
// offset at a date, under POSIX TZ strings (no zone database needed).
#include "dng/core/dng_date_time.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "dng/support/scoped_zone.h"

namespace {

// Clears the test clock even when a test fails half-way.
struct ScopedTestClock {
  explicit ScopedTestClock(time_t now) { set_dng_test_clock(now); }
  ~ScopedTestClock() { clear_dng_test_clock(); }
};

time_t utc_instant(int year, int month, int day, int hour, int minute) {
  struct tm tm {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return timegm(&tm);
}

dng_calendar_time date_time(uint32_t year, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
                            uint32_t second) {
  dng_calendar_time d;
  d.year = year;
  d.month = month;
  d.day = day;
  d.hour = hour;
  d.minute = minute;
  d.second = second;
  return d;
}

std::string text_of(const dng_calendar_time& d) {
  char buf[64];
  snprintf(buf, sizeof buf, "%u-%u-%u %u:%u:%u", d.year, d.month, d.day, d.hour, d.minute, d.second);
  return buf;
}

TEST(CalendarTime, ParseExifText) {
  struct Case {
    const char* text;
    const char* fields;
    bool in_range;
  };
  const Case cases[] = {
      {"2010:05:09 14:03:59", "2010-5-9 14:3:59", true},
      {"2010:05:09", "2010-5-9 0:0:0", true},
      {"    :  :     :  :  ", "0-0-0 0:0:0", false},  // EXIF's form of "no date"
      {"", "0-0-0 0:0:0", false},
      {"2010-05-09 14:03:59", "2010-0-0 0:0:0", false},  // stops at the first "-"
      {"2010:02:31 00:00:00", "2010-2-31 0:0:0", true},  // days are not checked per month
      {"2010:05:09 24:00:00", "2010-5-9 24:0:0", false},
      {"0000:05:09 10:00:00", "0-5-9 10:0:0", false},
      {"9999:12:31 23:59:59", "9999-12-31 23:59:59", true},
      {"2010:13:01 00:00:00", "2010-13-1 0:0:0", false},
      {"4294967297:1:1", "1-1-1 0:0:0", true},  // digits wrap modulo 2^32
  };
  for (const Case& c : cases) {
    dng_calendar_time d = date_time(7, 7, 7, 7, 7, 7);
    EXPECT_EQ(d.ParseExifText(c.text), c.in_range) << c.text;
    EXPECT_EQ(text_of(d), c.fields) << c.text;
  }
}

TEST(CalendarTime, ScanDateNumberLeavesTheCursor) {
  const char* text = " :12ab";
  const char* cursor = text;
  EXPECT_EQ(scan_date_number(cursor), 12u);
  EXPECT_EQ(cursor, text + 4);
  EXPECT_EQ(scan_date_number(cursor), 0u);
  EXPECT_EQ(cursor, text + 4);  // not a digit: stays on it
}

TEST(CalendarTime, NoneAndOrigin) {
  dng_calendar_time d = date_time(2010, 5, 9, 1, 2, 3);
  d.SetNone();
  EXPECT_EQ(text_of(d), "0-0-0 0:0:0");
  dng_time_origin origin;
  EXPECT_EQ(origin.position, -1);
  EXPECT_EQ(origin.kind, 0);
}

TEST(CurrentLocalTime, ZoneIsTheOffsetTruncatedTowardZero) {
  struct Case {
    const char* tz;
    time_t now;
    const char* local;
    int32_t zone;
  };
  const char* newfoundland = "NST3:30NDT,M3.2.0,M11.1.0";
  const Case cases[] = {
      {"UTC0", utc_instant(2026, 12, 10, 17, 5), "2026-12-10 17:5:0", 0},
      // The same date, and a UTC date earlier than the local one.
      {"EET-2", utc_instant(2026, 12, 31, 21, 30), "2026-12-31 23:30:0", 2},
      {"EET-2", utc_instant(2026, 12, 31, 22, 30), "2027-1-1 0:30:0", 2},
      // Half-hour zones give the same hours whatever the minute.
      {"IST-5:30", utc_instant(2026, 6, 1, 4, 30), "2026-6-1 10:0:0", 5},
      {"IST-5:30", utc_instant(2026, 6, 1, 5, 15), "2026-6-1 10:45:0", 5},
      {newfoundland, utc_instant(2026, 1, 15, 12, 0), "2026-1-15 8:30:0", -3},
      {newfoundland, utc_instant(2026, 7, 15, 12, 0), "2026-7-15 9:30:0", -2},
      // A UTC date later than the local one.
      {newfoundland, utc_instant(2027, 1, 1, 2, 0), "2026-12-31 22:30:0", -3},
  };
  for (const Case& c : cases) {
    ScopedZone tz(c.tz);
    dng_calendar_time local;
    int32_t zone = 99;
    current_local_time_at(c.now, local, zone);
    EXPECT_EQ(text_of(local), c.local) << c.tz << " " << c.local;
    EXPECT_EQ(zone, c.zone) << c.tz << " " << c.local;
  }
}

TEST(CurrentLocalTime, TestClockFixesTheInstant) {
  ScopedZone tz("IST-5:30");
  dng_calendar_time local;
  int32_t zone = 0;
  {
    ScopedTestClock clock(utc_instant(2001, 2, 3, 4, 5));
    current_local_time(local, zone);
    EXPECT_EQ(text_of(local), "2001-2-3 9:35:0");
    EXPECT_EQ(zone, 5);
  }
  // Cleared: the system clock again (the year can change between the reads).
  time_t before = time(nullptr);
  current_local_time(local, zone);
  time_t after = time(nullptr);
  struct tm first {};
  struct tm last {};
  localtime_r(&before, &first);
  localtime_r(&after, &last);
  EXPECT_GE(local.year, static_cast<uint32_t>(first.tm_year + 1900));
  EXPECT_LE(local.year, static_cast<uint32_t>(last.tm_year + 1900));
}

TEST(ZoneOffsetHours, RoundsHalvesAwayFromZeroAtTheGivenDate) {
  struct Case {
    const char* tz;
    dng_calendar_time when;
    int32_t hours;
  };
  const char* newfoundland = "NST3:30NDT,M3.2.0,M11.1.0";
  const Case cases[] = {
      {"UTC0", date_time(2010, 5, 9, 14, 3, 59), 0},
      {"IST-5:30", date_time(2010, 5, 9, 14, 3, 59), 6},        // +5:30
      {newfoundland, date_time(2010, 1, 9, 12, 0, 0), -4},       // -3:30
      {newfoundland, date_time(2010, 7, 9, 12, 0, 0), -3},       // -2:30 in summer time
      {"EST5EDT,M3.2.0,M11.1.0", date_time(2010, 1, 9, 12, 0, 0), -5},
      {"EST5EDT,M3.2.0,M11.1.0", date_time(2010, 7, 9, 12, 0, 0), -4},
      // The switch happens at 2:00 local standard time, 7:00 UTC.
      {"EST5EDT,M3.2.0,M11.1.0", date_time(2010, 3, 14, 6, 59, 59), -5},
      {"EST5EDT,M3.2.0,M11.1.0", date_time(2010, 3, 14, 7, 0, 0), -4},
      {"CET-1", date_time(1, 1, 1, 0, 0, 0), 1},
      {"CET-1", date_time(9999, 12, 31, 23, 59, 59), 1},
  };
  for (const Case& c : cases) {
    ScopedZone tz(c.tz);
    EXPECT_EQ(zone_offset_hours(c.when), c.hours) << c.tz << " " << text_of(c.when);
  }
}

TEST(ZoneOffsetHours, FallsBackToTheCurrentZone) {
  // The current zone truncates (+5:30 gives 5) where the dated one rounds
  // (6), which tells the fallback apart.
  ScopedTestClock clock(utc_instant(2026, 6, 1, 12, 0));
  {
    ScopedZone tz("IST-5:30");
    EXPECT_EQ(zone_offset_hours(date_time(2010, 13, 1, 0, 0, 0)), 5);
    EXPECT_EQ(zone_offset_hours(dng_calendar_time()), 5);
  }
  {
    // +13:45 rounds to 14, outside -13..13.
    ScopedZone tz("CHAST-13:45");
    EXPECT_EQ(zone_offset_hours(date_time(2010, 5, 9, 0, 0, 0)), 13);
  }
}

}  // namespace
