// Calendar date-times of image metadata: the six-number value, the EXIF
// text parser, the current local time with its zone, and the zone offset in
// force at a given date-time.
#pragma once

#include <cstdint>
#include <ctime>

// Year, month, day, hour, minute, second. All zero means "no date-time".
class dng_calendar_time {
 public:
  uint32_t year = 0;
  uint32_t month = 0;
  uint32_t day = 0;
  uint32_t hour = 0;
  uint32_t minute = 0;
  uint32_t second = 0;

  void SetNone() { *this = dng_calendar_time(); }

  // 1..9999, 1..12, 1..31, 0..23, 0..59, 0..59; the day is not compared
  // with the length of its month.
  bool InRange() const;

  // Reads six numbers ("YYYY:MM:DD HH:MM:SS") with scan_date_number into the
  // six fields, whatever they hold, and answers InRange of the result.
  bool ParseExifText(const char* text);
};

// Skips spaces and colons; when a digit follows, reads the run of digits as
// a decimal number (modulo 2^32) and leaves the cursor after it; otherwise
// answers 0 and leaves the cursor at the character that is not a digit.
uint32_t scan_date_number(const char*& cursor);

// Where a parsed date-time came from: its text's position in the original
// file (-1 none) and a kind (0 none, 1 an EXIF text tag).
struct dng_time_origin {
  int32_t position = -1;
  int32_t kind = 0;
};

// The current local date-time and the local zone offset in whole hours:
// the offset in seconds truncated toward zero (+5:30 gives 5, -3:30 gives -3).
// Reads the test clock while one is set, else the system clock.
void current_local_time(dng_calendar_time& local, int32_t& zone_hours);

// current_local_time at the given instant.
void current_local_time_at(time_t now, dng_calendar_time& local, int32_t& zone_hours);

// The zone offset in whole hours in force at d read as a UTC date-time,
// rounded to the nearest hour with halves away from zero (+5:30 gives 6).
// The C library applies the zone's rules of that date, historical changes
// included. Falls back to the zone of current_local_time when d is out of
// range, cannot be converted, or the offset lies outside -13..13.
int32_t zone_offset_hours(const dng_calendar_time& d);

// Test clock: while set, current_local_time reads this instant, so that
// stamps written during a run can be fixed in tests. Process-wide.
void set_dng_test_clock(time_t now);
void clear_dng_test_clock();
