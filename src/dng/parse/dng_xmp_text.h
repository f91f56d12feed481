// Text forms of metadata values as XMP writes them: ISO 8601 dates, GPS
// version, coordinates and time stamps, lens information and 16-byte
// identifiers. Encoders answer an empty text for a value they cannot write;
// decoders leave a field absent (zero, or a zero denominator) when its text
// does not parse, including a number that does not fit its type. Numbers are
// read and written in the C form whatever the process locale.
#pragma once

#include <cstdint>
#include <string>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_digest.h"
#include "dng/core/dng_rational.h"
#include "dng/core/dng_text.h"

// Zone hours that mean "no zone".
inline constexpr int32_t dng_xmp_no_zone = 0x7FFFFFFF;

// "YYYY-MM-DD", with the time "THH:MM:SS", a fraction ".digits" when
// fraction is all digits and not empty, and the zone: "Z" or "+HH:MM" /
// "-HH:MM" of zone_hours * 60 + zone_minutes when that lies within
// -780..780 minutes. Zone hours outside -13..13 are replaced by the zone in
// force at the date-time (minutes 0). Empty when date_time is not in range.
dng_text encode_iso_date(const dng_calendar_time& date_time, bool with_time, const char* fraction,
                         int32_t zone_hours, int32_t zone_minutes);

// Reads "Y-M-D[Thh:mm:ss[.fraction][Z|+hh:mm|-hh:mm]]". Every output may be
// null. Outputs start as: no date-time, no time, empty fraction, zone hours
// dng_xmp_no_zone and zone minutes 0. A date or time out of range leaves no
// date-time. With zone_hours the zone gives ±hours and ±minutes; without
// it zone_minutes gets the whole offset in minutes. A zone beyond 780
// minutes either side of UTC drops the time and the zone (the date stays).
void decode_iso_date(const char* text, dng_calendar_time* date_time, bool* has_time,
                     dng_text* fraction, int32_t* zone_hours, int32_t* zone_minutes);

// Removes trailing '0's and then a trailing '.'; for printed decimals.
void trim_decimal_zeros(std::string& text);

// "a.b.c.d" of the four bytes (highest first) when the value is not 0,
// the highest byte is below 10 and each other byte at most 9; else empty.
dng_text encode_gps_version(uint32_t version);
// The bytes of a 7-character "a.b.c.d" text; 0 otherwise.
uint32_t decode_gps_version(const char* text);

// "D,M,S.ssR" (with seconds) or "D,M.mmmmR" of a one-letter reference E,
// N, S or W (any case; written upper-case). Empty when the reference or
// the degrees' or minutes' denominators do not allow it.
dng_text encode_gps_coordinate(const dng_text& ref, const dng_unsigned_ratio coord[3]);
// Clears the outputs, then reads "D,M.mR" (minutes in 1/10000, seconds 0/0)
// or "D,M,S.sR" (minutes /1, seconds in 1/100).
void decode_gps_coordinate(const char* text, dng_text& ref, dng_unsigned_ratio coord[3]);

// "YYYY-MM-DDThh:mm:ss.sZ" with a valid "Y:M:D" date stamp, else
// "hh:mm:ss.sZ"; empty when a denominator is 0.
dng_text encode_gps_timestamp(const dng_text& date_stamp, const dng_unsigned_ratio time[3]);
// Clears the outputs; reads either form (seconds in 1/1000); a valid date
// becomes the stamp "YYYY:MM:DD".
void decode_gps_timestamp(const char* text, dng_text& date_stamp, dng_unsigned_ratio time[3]);

// "n/d n/d n/d n/d" of the four lens-info rationals when the first
// denominator is not 0; else empty.
dng_text encode_lens_info(const dng_unsigned_ratio info[4]);
// True (and info replaced) when the text reads as eight numbers.
bool decode_lens_info(const char* text, dng_unsigned_ratio info[4]);
// A lens name such as "24.0-70.0 mm f/2.8" from the focal lengths and
// f-numbers; empty when the first denominator is 0.
dng_text lens_name_from_info(const dng_unsigned_ratio info[4]);

// 32 upper-case hex digits; empty for an all-zero digest.
dng_text encode_fingerprint_hex(const dng_digest& digest);
// The digest of exactly 32 hex digits (either case); zero otherwise.
dng_digest decode_fingerprint_hex(const char* text);

// Exact C-form number readers over a zero-terminated text, in the manner of
// the scanf conversions they stand in for: leading white space is skipped,
// a sign is allowed. They answer false, leaving cursor unchanged, when no
// number is there or it does not fit (an unsigned value may be negative
// only as -0). On success cursor is after the number.
bool scan_uint32(const char*& cursor, uint32_t& value);
bool scan_int32(const char*& cursor, int32_t& value);
// Finite decimals only.
bool scan_double(const char*& cursor, double& value);
// printf's "%.<precision>f" in the C form.
std::string format_fixed(double value, int precision);
