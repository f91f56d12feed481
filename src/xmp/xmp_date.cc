// ISO 8601 date-time reading, writing and normalisation.
#include "xmp/xmp_date.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "xmp/xmp_error.h"
#include "xmp/xmp_limits.h"
#include "xmp/xmp_utils.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

[[noreturn]] void BadDate(XMP_StringPtr message) { XMP_Throw(kXMPErr_BadParam, message); }

}  // namespace

XMP_Int32 ReadDecimal(XMP_StringPtr text, size_t* position, XMP_StringPtr message) {
  size_t pos = *position;
  XMP_Int32 value = 0;
  int digits = 0;
  while (IsDigit(text[pos])) {
    if (++digits > xmp_limits::kMaxDateFieldDigits) BadDate(message);
    value = value * 10 + (text[pos] - '0');
    ++pos;
  }
  if (digits == 0) BadDate(message);
  *position = pos;
  return value;
}

void ParseIsoDate(XMP_StringPtr text, XMPDateValue* value) {
  if (text == nullptr || *text == 0) XMP_Throw(kXMPErr_BadValue, "Empty convert-from string");
  *value = XMPDateValue{};
  const size_t length = strlen(text);
  size_t pos = 0;
  const bool timeOnly = text[0] == 'T' || (length >= 2 && text[1] == ':') || (length >= 3 && text[2] == ':');

  if (!timeOnly) {
    bool negative = false;
    if (text[pos] == '-') {
      negative = true;
      ++pos;
    }
    value->year = ReadDecimal(text, &pos, "Invalid year in date string");
    if (negative) value->year = -value->year;
    if (text[pos] == 0) return;
    if (text[pos] != '-') BadDate("Invalid date string, after year");
    ++pos;
    value->month = ReadDecimal(text, &pos, "Invalid month in date string");
    if (text[pos] == 0) return;
    if (text[pos] != '-') BadDate("Invalid date string, after month");
    ++pos;
    value->day = ReadDecimal(text, &pos, "Invalid day in date string");
    if (text[pos] == 0) return;
    if (text[pos] != 'T') BadDate("Invalid date string, after day");
    if (value->year != 0 || value->month != 0 || value->day != 0) {
      if (value->month < 1 || value->month > 12) BadDate("Month is out of range");
      if (value->day < 1 || value->day > 31) BadDate("Day is out of range");
    }
  }

  if (text[pos] == 'T') ++pos;
  value->hour = ReadDecimal(text, &pos, "Invalid hour in date string");
  if (text[pos] != ':') BadDate("Invalid date string, after hour");
  if (value->hour > 23) BadDate("Hour is out of range");
  ++pos;
  value->minute = ReadDecimal(text, &pos, "Invalid minute in date string");
  if (text[pos] != 0 && !strchr("+-:Z", text[pos])) BadDate("Invalid date string, after minute");
  if (value->minute > 59) BadDate("Minute is out of range");

  if (text[pos] == ':') {
    ++pos;
    value->second = ReadDecimal(text, &pos, "Invalid whole seconds in date string");
    if (text[pos] != 0 && !strchr("+-.Z", text[pos])) BadDate("Invalid date string, after whole seconds");
    if (value->second > 59) BadDate("Whole second is out of range");
    if (text[pos] == '.') {
      ++pos;
      // The first nine digits are the nanoseconds; any further ones carry
      // nothing and are skipped, however many.
      int digits = 0;
      XMP_Int32 nanoSecond = 0;
      while (IsDigit(text[pos])) {
        if (digits < xmp_limits::kFractionDigits) nanoSecond = nanoSecond * 10 + (text[pos] - '0');
        ++digits;
        ++pos;
      }
      if (digits == 0) BadDate("Invalid fractional seconds in date string");
      for (int d = digits; d < xmp_limits::kFractionDigits; ++d) nanoSecond *= 10;
      value->nanoSecond = nanoSecond;
      if (text[pos] != 0 && !strchr("+-Z", text[pos])) BadDate("Invalid date string, after fractional second");
    }
  }

  if (text[pos] == 'Z') {
    ++pos;
  } else if (text[pos] == '+' || text[pos] == '-') {
    value->tzSign = text[pos] == '+' ? 1 : -1;
    ++pos;
    value->tzHour = ReadDecimal(text, &pos, "Invalid time zone hour in date string");
    if (text[pos] != ':') BadDate("Invalid date string, after time zone hour");
    if (value->tzHour > 23) BadDate("Time zone hour is out of range");
    ++pos;
    value->tzMinute = ReadDecimal(text, &pos, "Invalid time zone minute in date string");
    if (value->tzMinute > 59) BadDate("Time zone minute is out of range");
  } else if (text[pos] != 0) {
    BadDate("Time zone must begin with 'Z', '+', or '-'");
  }
  if (text[pos] != 0) BadDate("Invalid date string, extra chars at end");
}

bool IsLeapYear(XMP_Int32 year) {
  const int64_t y = year < 0 ? 1 - int64_t{year} : year;
  return y % 4 == 0 && (y % 100 != 0 || y % 400 == 0);
}

XMP_Int32 DaysInMonth(XMP_Int32 year, XMP_Int32 month) {
  static constexpr XMP_Int32 kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  XMP_Int32 days = kDays[month - 1];
  if (month == 2 && IsLeapYear(year)) ++days;
  return days;
}

namespace {

// Moves whole units of `field` beyond [0, unit) into `carry`.
void Carry(int64_t* field, int64_t unit, int64_t* carry) {
  int64_t whole = *field / unit;
  if (*field % unit < 0) --whole;
  *field -= whole * unit;
  *carry += whole;
}

// Days in 400 Gregorian years: from a positive year on, any 4800
// consecutive months hold exactly this many days.
constexpr int64_t kDaysPer400Years = 146097;

void NormalizeDate(int64_t* year, int64_t* month, int64_t* day) {
  int64_t m = *month - 1;
  Carry(&m, 12, year);
  *month = m + 1;
  // Whole 400-year cycles first, so a huge day count costs no more than a
  // few thousand month steps.
  while (*day > kDaysPer400Years && *year >= 1 && *year < INT32_MAX) {
    *day -= kDaysPer400Years;
    *year += 400;
  }
  while (*day < -kDaysPer400Years && *year > 401) {
    *day += kDaysPer400Years;
    *year -= 400;
  }
  while (*day <= 0) {
    if (--*month < 1) {
      *month = 12;
      --*year;
    }
    *day += DaysInMonth(static_cast<XMP_Int32>(*year), static_cast<XMP_Int32>(*month));
  }
  for (int64_t days; *day > (days = DaysInMonth(static_cast<XMP_Int32>(*year), static_cast<XMP_Int32>(*month)));) {
    *day -= days;
    if (++*month > 12) {
      *month = 1;
      ++*year;
    }
  }
}

}  // namespace

void NormalizeDateTime(XMPDateValue* value) {
  int64_t year = value->year, month = value->month, day = value->day;
  int64_t hour = value->hour, minute = value->minute, second = value->second;
  int64_t nanoSecond = value->nanoSecond;
  const bool hasDate = year != 0 || month != 0 || day != 0;
  if (hasDate) NormalizeDate(&year, &month, &day);
  Carry(&hour, 24, &day);
  Carry(&minute, 60, &hour);
  Carry(&second, 60, &minute);
  Carry(&nanoSecond, 1000000000, &second);
  Carry(&second, 60, &minute);
  Carry(&minute, 60, &hour);
  Carry(&hour, 24, &day);
  if (hasDate) NormalizeDate(&year, &month, &day);
  value->year = static_cast<XMP_Int32>(year);
  value->month = static_cast<XMP_Int32>(month);
  value->day = static_cast<XMP_Int32>(day);
  value->hour = static_cast<XMP_Int32>(hour);
  value->minute = static_cast<XMP_Int32>(minute);
  value->second = static_cast<XMP_Int32>(second);
  value->nanoSecond = static_cast<XMP_Int32>(nanoSecond);
}

void FormatIsoDate(const XMPDateValue& original, char* buffer, size_t size) {
  XMPDateValue value = original;
  NormalizeDateTime(&value);
  if (value.second == 0 && value.nanoSecond == 0) {
    snprintf(buffer, size, "%.4d-%02d-%02dT%02d:%02d", value.year, value.month, value.day, value.hour, value.minute);
  } else if (value.nanoSecond == 0) {
    snprintf(buffer, size, "%.4d-%02d-%02dT%02d:%02d:%02d", value.year, value.month, value.day, value.hour,
             value.minute, value.second);
  } else {
    snprintf(buffer, size, "%.4d-%02d-%02dT%02d:%02d:%02d.%09d", value.year, value.month, value.day, value.hour,
             value.minute, value.second, value.nanoSecond);
    size_t end = strlen(buffer);
    while (end > 0 && buffer[end - 1] == '0') buffer[--end] = 0;
  }
}

void WriteIsoDate(const XMPDateValue& original, XMP_StringPtr* text, XMP_StringLen* length) {
  const XMPDateValue value = original;
  const bool hasTime = value.hour != 0 || value.minute != 0 || value.second != 0 || value.nanoSecond != 0 ||
                       value.tzSign != 0 || value.tzHour != 0 || value.tzMinute != 0;
  char buffer[100];
  bool fullForm = false;
  if (value.month == 0) {
    if (value.day == 0 && !hasTime) {
      snprintf(buffer, sizeof buffer, "%.4d", value.year);
    } else if (value.year != 0 || value.day != 0) {
      BadDate("Invalid partial date");
    } else {
      fullForm = true;
    }
  } else if (value.day == 0) {
    if (value.month < 1 || value.month > 12) BadDate("Month is out of range");
    if (hasTime) BadDate("Invalid partial date, non-zeros after zero month and day");
    snprintf(buffer, sizeof buffer, "%.4d-%02d", value.year, value.month);
  } else if (hasTime) {
    fullForm = true;
  } else {
    if (value.month < 1 || value.month > 12) BadDate("Month is out of range");
    if (value.day < 1 || value.day > 31) BadDate("Day is out of range");
    snprintf(buffer, sizeof buffer, "%.4d-%02d-%02d", value.year, value.month, value.day);
  }

  if (fullForm) {
    if (value.tzHour < 0 || value.tzHour > 23 || value.tzMinute < 0 || value.tzMinute > 59 || value.tzSign < -1 ||
        value.tzSign > 1) {
      BadDate("Invalid time zone values");
    }
    const bool zeroZone = value.tzHour == 0 && value.tzMinute == 0;
    if ((value.tzSign == 0) != zeroZone) BadDate("Invalid time zone values");
    FormatIsoDate(value, buffer, sizeof buffer);
    const size_t used = strlen(buffer);
    if (value.tzSign == 0) {
      snprintf(buffer + used, sizeof buffer - used, "Z");
    } else {
      snprintf(buffer + used, sizeof buffer - used, "%c%02d:%02d", value.tzSign < 0 ? '-' : '+', value.tzHour,
               value.tzMinute);
    }
  }
  *sDateText = buffer;
  *text = sDateText->c_str();
  *length = static_cast<XMP_StringLen>(sDateText->size());
}
