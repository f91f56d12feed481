// Date-time parsing and the local zone through the C library's
// localtime_r/timegm and the tm_gmtoff offset.
#include "dng/core/dng_date_time.h"

#include <atomic>
#include <cerrno>

#include "dng/core/dng_critical_section.h"

namespace {

std::atomic<bool> test_clock_set{false};
std::atomic<int64_t> test_clock_now{0};

// Local broken-down time of t; false when the C library cannot convert it.
// tzset first, so a changed TZ takes effect (localtime_r need not read it).
bool local_time_of(time_t t, struct tm& local) {
  dng_critical_section_guard guard(&time_conversion_lock());
  tzset();
  return localtime_r(&t, &local) != nullptr;
}

}  // namespace

bool dng_calendar_time::InRange() const {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31 && hour <= 23 &&
         minute <= 59 && second <= 59;
}

uint32_t scan_date_number(const char*& cursor) {
  while (*cursor == ' ' || *cursor == ':') ++cursor;
  uint32_t value = 0;
  while (*cursor >= '0' && *cursor <= '9') {
    value = value * 10 + static_cast<uint32_t>(*cursor - '0');
    ++cursor;
  }
  return value;
}

bool dng_calendar_time::ParseExifText(const char* text) {
  const char* cursor = text;
  year = scan_date_number(cursor);
  month = scan_date_number(cursor);
  day = scan_date_number(cursor);
  hour = scan_date_number(cursor);
  minute = scan_date_number(cursor);
  second = scan_date_number(cursor);
  return InRange();
}

void current_local_time_at(time_t now, dng_calendar_time& local, int32_t& zone_hours) {
  struct tm tm {};
  if (!local_time_of(now, tm)) {
    local.SetNone();
    zone_hours = 0;
    return;
  }
  local.year = static_cast<uint32_t>(tm.tm_year + 1900);
  local.month = static_cast<uint32_t>(tm.tm_mon + 1);
  local.day = static_cast<uint32_t>(tm.tm_mday);
  local.hour = static_cast<uint32_t>(tm.tm_hour);
  local.minute = static_cast<uint32_t>(tm.tm_min);
  local.second = static_cast<uint32_t>(tm.tm_sec);
  zone_hours = static_cast<int32_t>(tm.tm_gmtoff / 3600);  // truncates toward zero
}

void current_local_time(dng_calendar_time& local, int32_t& zone_hours) {
  time_t now = test_clock_set.load() ? static_cast<time_t>(test_clock_now.load()) : time(nullptr);
  current_local_time_at(now, local, zone_hours);
}

int32_t zone_offset_hours(const dng_calendar_time& d) {
  if (d.InRange()) {
    struct tm utc {};
    utc.tm_year = static_cast<int>(d.year) - 1900;
    utc.tm_mon = static_cast<int>(d.month) - 1;
    utc.tm_mday = static_cast<int>(d.day);
    utc.tm_hour = static_cast<int>(d.hour);
    utc.tm_min = static_cast<int>(d.minute);
    utc.tm_sec = static_cast<int>(d.second);
    errno = 0;
    time_t t = timegm(&utc);  // -1 is also 23:59:59 on 31 December 1969
    bool converted = !(t == static_cast<time_t>(-1) && errno != 0);
    struct tm local {};
    if (converted && local_time_of(t, local)) {
      long diff = local.tm_gmtoff;
      long hours = diff >= 0 ? (diff + 1800) / 3600 : (diff - 1800) / 3600;
      if (hours >= -13 && hours <= 13) return static_cast<int32_t>(hours);
    }
  }
  dng_calendar_time now;
  int32_t zone = 0;
  current_local_time(now, zone);
  return zone;
}

void set_dng_test_clock(time_t now) {
  test_clock_now.store(static_cast<int64_t>(now));
  test_clock_set.store(true);
}

void clear_dng_test_clock() { test_clock_set.store(false); }
