#include "xmp/xmp_date.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ctime>
#include <random>
#include <string>

#include "xmp/xmp_error.h"
#include "xmp/xmp_utils.h"

namespace {

class IsoDate : public ::testing::Test {
 protected:
  void SetUp() override { XMPUtils::Initialize(); }
  void TearDown() override { XMPUtils::Shutdown(); }

  static std::string Write(const XMPDateValue& value) {
    try {
      XMP_StringPtr text = nullptr;
      XMP_StringLen length = 0;
      WriteIsoDate(value, &text, &length);
      EXPECT_EQ(strlen(text), length);
      return text;
    } catch (const XMP_Error& error) {
      return std::string("error ") + std::to_string(error.GetID()) + " " + error.GetErrMsg();
    }
  }
};

struct ParseCase {
  const char* text;
  XMPDateValue value;  // expected when error is null
  const char* error;   // id-4 message
};

TEST_F(IsoDate, ParseTable) {
  const ParseCase cases[] = {
      {"2010", {2010}, nullptr},
      {"2010-05", {2010, 5}, nullptr},
      {"2010-13", {2010, 13}, nullptr},  // range checked only when a time follows
      {"2010-05-09", {2010, 5, 9}, nullptr},
      {"2010-02-31", {2010, 2, 31}, nullptr},
      {"-0044-03-15", {-44, 3, 15}, nullptr},
      {"2010-05-09T10:20", {2010, 5, 9, 10, 20}, nullptr},
      {"2010-05-09T10:20:30Z", {2010, 5, 9, 10, 20, 30}, nullptr},
      {"2010-05-09T10:20:30+05:30", {2010, 5, 9, 10, 20, 30, 1, 5, 30}, nullptr},
      {"2010-05-09T10:20-08:00", {2010, 5, 9, 10, 20, 0, -1, 8, 0}, nullptr},
      {"12:30", {0, 0, 0, 12, 30}, nullptr},
      {"1:30", {0, 0, 0, 1, 30}, nullptr},
      {"T12:30:05Z", {0, 0, 0, 12, 30, 5}, nullptr},
      {"12:30:05.5", {0, 0, 0, 12, 30, 5, 0, 0, 0, 500000000}, nullptr},
      {"12:30:05.000000001", {0, 0, 0, 12, 30, 5, 0, 0, 0, 1}, nullptr},
      {"12:30:05.1234567891", {0, 0, 0, 12, 30, 5, 0, 0, 0, 123456789}, nullptr},
      {"12:30:05.12345678901234567890123456789012345678901234567890Z", {0, 0, 0, 12, 30, 5, 0, 0, 0, 123456789},
       nullptr},
      {"999999999", {999999999}, nullptr},
      {"2010-01-999999999", {2010, 1, 999999999}, nullptr},  // date only: no range check, but bounded

      {"2010-13-01T10:00", {}, "Month is out of range"},
      {"2010-00-01T10:00", {}, "Month is out of range"},
      {"2010-05-32T10:00", {}, "Day is out of range"},
      {"2010-05-09T24:00", {}, "Hour is out of range"},
      {"2010-05-09T10:60", {}, "Minute is out of range"},
      {"2010-05-09T10:00:60", {}, "Whole second is out of range"},
      {"2010-05-09T10:00+24:00", {}, "Time zone hour is out of range"},
      {"2010-05-09T10:00+01:60", {}, "Time zone minute is out of range"},
      {"2010-05-09T10:00+01", {}, "Invalid date string, after time zone hour"},
      {"2010-05-09T10:00X", {}, "Invalid date string, after minute"},
      {"2010-05-09T10", {}, "Invalid date string, after hour"},
      {"2010-05-09T10:00:05X", {}, "Invalid date string, after whole seconds"},
      {"2010-05-09T10:00:05.5X", {}, "Invalid date string, after fractional second"},
      {"2010-05-09T10:00:05.Z", {}, "Invalid fractional seconds in date string"},
      {"2010-05-09T10:00:Z", {}, "Invalid whole seconds in date string"},
      {"2010-05-09T10:00Zjunk", {}, "Invalid date string, extra chars at end"},
      {"2010-05-09T10:00+01:00junk", {}, "Invalid date string, extra chars at end"},
      {"2010/05", {}, "Invalid date string, after year"},
      {"2010-05/09", {}, "Invalid date string, after month"},
      {"2010-05-09 10:00", {}, "Invalid date string, after day"},
      {"x2010", {}, "Invalid year in date string"},
      {"2010-", {}, "Invalid month in date string"},
      {"2010-05-", {}, "Invalid day in date string"},
      {"2010-05-09T", {}, "Invalid hour in date string"},
      {"2010-05-09T10:", {}, "Invalid minute in date string"},
      {"2010-05-09T10:00+", {}, "Invalid time zone hour in date string"},
      {"2010-05-09T10:00+01:", {}, "Invalid time zone minute in date string"},
      // Ten digits never reach a 32-bit field.
      {"2147483648", {}, "Invalid year in date string"},
      {"1234567890-01-01", {}, "Invalid year in date string"},
      {"2010-0000000001", {}, "Invalid month in date string"},
      {"2010-01-2147483647", {}, "Invalid day in date string"},
      {"2010-01-01T0000000010:00", {}, "Invalid hour in date string"},
      {"10:0000000000", {}, "Invalid minute in date string"},
      {"10:00:0000000005", {}, "Invalid whole seconds in date string"},
      {"10:00+9999999999:00", {}, "Invalid time zone hour in date string"},
      {"10:00+01:9999999999", {}, "Invalid time zone minute in date string"},
  };
  for (const ParseCase& c : cases) {
    SCOPED_TRACE(c.text);
    XMPDateValue value;
    try {
      ParseIsoDate(c.text, &value);
      ASSERT_EQ(c.error, nullptr) << "no error";
      EXPECT_EQ(Write(value), Write(c.value));
      EXPECT_TRUE(value == c.value);
    } catch (const XMP_Error& error) {
      ASSERT_NE(c.error, nullptr) << error.GetErrMsg();
      EXPECT_EQ(error.GetID(), kXMPErr_BadParam);
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
  for (const char* empty : {"", static_cast<const char*>(nullptr)}) {
    XMPDateValue value;
    try {
      ParseIsoDate(empty, &value);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), kXMPErr_BadValue);
      EXPECT_STREQ(error.GetErrMsg(), "Empty convert-from string");
    }
  }
}

TEST_F(IsoDate, WriteTable) {
  const struct {
    XMPDateValue value;
    const char* text;
  } cases[] = {
      {{2009, 10, 17, 12, 30, 5}, "2009-10-17T12:30:05Z"},
      {{2009, 10, 17, 12, 30, 5, -1, 5, 0}, "2009-10-17T12:30:05-05:00"},
      {{2009, 10, 17, 12, 30, 5, 1, 5, 30}, "2009-10-17T12:30:05+05:30"},
      {{2009, 10, 17, 12, 30, 5, 0, 0, 0, 250000000}, "2009-10-17T12:30:05.25Z"},
      {{2009, 10, 17, 12, 30, 0, 0, 0, 0, 1}, "2009-10-17T12:30:00.000000001Z"},
      {{2009, 10, 17, 12, 30}, "2009-10-17T12:30Z"},
      {{2009, 12, 31, 25}, "2010-01-01T01:00Z"},
      {{2012, 2, 28, 24}, "2012-02-29T00:00Z"},
      {{2100, 2, 28, 24}, "2100-03-01T00:00Z"},
      {{2000, 2, 28, 24}, "2000-02-29T00:00Z"},
      {{2010, 3, 1, -1}, "2010-02-28T23:00Z"},
      {{2010, 1, 1, 0, 0, 0, 0, 0, 0, -1}, "2009-12-31T23:59:59.999999999Z"},
      {{2010, 14, 1, 1}, "2011-02-01T01:00Z"},
      {{2010}, "2010"},
      {{-44}, "-0044"},
      {{2010, 5}, "2010-05"},
      {{2010, 5, 9}, "2010-05-09"},
      {{0, 0, 0, 12, 30}, "0000-00-00T12:30Z"},
      {{0, 0, 5}, "error 4 Invalid partial date"},
      {{2010, 0, 5}, "error 4 Invalid partial date"},
      {{2010, 13}, "error 4 Month is out of range"},
      {{2010, 5, 0, 10}, "error 4 Invalid partial date, non-zeros after zero month and day"},
      {{2010, 13, 1}, "error 4 Month is out of range"},
      {{2010, 5, 32}, "error 4 Day is out of range"},
      {{2010, 5, 9, 10, 0, 0, 1, 0, 0}, "error 4 Invalid time zone values"},   // +00:00 stays refused here
      {{2010, 5, 9, 10, 0, 0, -1, 0, 0}, "error 4 Invalid time zone values"},
      {{2010, 5, 9, 10, 0, 0, 0, 1, 0}, "error 4 Invalid time zone values"},
      {{2010, 5, 9, 10, 0, 0, 1, 24, 0}, "error 4 Invalid time zone values"},
      {{2010, 5, 9, 10, 0, 0, 1, 1, 60}, "error 4 Invalid time zone values"},
      {{2010, 5, 9, 10, 0, 0, 2, 1, 0}, "error 4 Invalid time zone values"},
  };
  for (const auto& c : cases) EXPECT_EQ(Write(c.value), c.text) << c.text;
}

TEST_F(IsoDate, ParsedTextsWriteBackUnchanged) {
  for (const char* text : {"2010", "2010-05", "2010-05-09", "2010-05-09T10:20Z", "2010-05-09T10:20:30.5+01:00",
                           "1999-12-31T23:59:59-12:00"}) {
    XMPDateValue value;
    ParseIsoDate(text, &value);
    EXPECT_EQ(Write(value), text);
  }
}

TEST_F(IsoDate, HugeDayCountsNormaliseAsTheCalendarSays) {
  // glibc's timegm as an independent calendar for years from 1 on.
  std::mt19937 random(7);
  std::uniform_int_distribution<int> year(1, 9000), month(1, 12), day(-1000000, 999999999);
  for (int round = 0; round < 200; ++round) {
    XMPDateValue value{year(random), month(random), day(random), 1};
    std::tm tm{};
    tm.tm_year = value.year - 1900;
    tm.tm_mon = value.month - 1;
    tm.tm_mday = value.day;
    tm.tm_hour = 1;
    const time_t seconds = timegm(&tm);
    std::tm out{};
    gmtime_r(&seconds, &out);
    if (out.tm_year + 1900 < 1) continue;
    char expected[64];
    snprintf(expected, sizeof expected, "%.4d-%02d-%02dT01:00Z", out.tm_year + 1900, out.tm_mon + 1, out.tm_mday);
    EXPECT_EQ(Write(value), expected) << value.year << "-" << value.month << "-" << value.day;
  }
}

TEST(IsoDateCalendar, LeapYears) {
  const std::pair<XMP_Int32, bool> cases[] = {{2000, true}, {1900, false}, {2004, true}, {2010, false},
                                              {0, true},    {-1, false},   {-3, true},   {-399, true}};
  for (const auto& [year, leap] : cases) EXPECT_EQ(IsLeapYear(year), leap) << year;
  EXPECT_EQ(DaysInMonth(2012, 2), 29);
  EXPECT_EQ(DaysInMonth(2011, 2), 28);
  EXPECT_EQ(DaysInMonth(2011, 12), 31);
}

}  // namespace
