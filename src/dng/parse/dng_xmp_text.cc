#include "dng/parse/dng_xmp_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <system_error>

#include "dng/core/dng_rounding.h"
#include "dng/parse/dng_iptc.h"

namespace {

bool is_space(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void skip_space(const char*& cursor) {
  while (is_space(*cursor)) ++cursor;
}

// Matches one literal character of a scan format (no space skipping).
bool expect(const char*& cursor, char c) {
  if (*cursor != c) return false;
  ++cursor;
  return true;
}

// Optional sign and a run of digits, the magnitude capped just above 2^32
// so that overflow is seen without wrapping.
bool scan_magnitude(const char*& cursor, bool& negative, uint64_t& magnitude) {
  const char* p = cursor;
  skip_space(p);
  negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  if (!is_digit(*p)) return false;
  constexpr uint64_t cap = uint64_t{1} << 33;
  magnitude = 0;
  while (is_digit(*p)) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > cap) magnitude = cap;
    ++p;
  }
  cursor = p;
  return true;
}

// A ratio n/d with n the value times d rounded, saturated to 32 bits.
dng_unsigned_ratio ratio_of(double value, uint32_t denominator) {
  return dng_unsigned_ratio(round_half_up_uint32(value * denominator), denominator);
}

bool valid_ymd(int64_t year, int64_t month, int64_t day) {
  return year >= 1 && year <= 9999 && month >= 1 && month <= 12 && day >= 1 && day <= 31;
}

char upper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool is_gps_ref_letter(char c) { return c == 'E' || c == 'N' || c == 'S' || c == 'W'; }

std::string format_uint(uint32_t value, int width = 0) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%0*u", width, value);
  return buffer;
}

}  // namespace

bool scan_uint32(const char*& cursor, uint32_t& value) {
  const char* p = cursor;
  bool negative = false;
  uint64_t magnitude = 0;
  if (!scan_magnitude(p, negative, magnitude)) return false;
  if (magnitude > UINT32_MAX || (negative && magnitude != 0)) return false;
  value = static_cast<uint32_t>(magnitude);
  cursor = p;
  return true;
}

bool scan_int32(const char*& cursor, int32_t& value) {
  const char* p = cursor;
  bool negative = false;
  uint64_t magnitude = 0;
  if (!scan_magnitude(p, negative, magnitude)) return false;
  const uint64_t limit = negative ? uint64_t{1} << 31 : (uint64_t{1} << 31) - 1;
  if (magnitude > limit) return false;
  value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude)) : static_cast<int32_t>(magnitude);
  cursor = p;
  return true;
}

bool scan_double(const char*& cursor, double& value) {
  const char* p = cursor;
  skip_space(p);
  bool negative = false;
  if (*p == '+' || *p == '-') {
    negative = *p == '-';
    ++p;
  }
  // Only a decimal number: from_chars would also take "inf" and "nan".
  if (!is_digit(*p) && !(*p == '.' && is_digit(p[1]))) return false;
  double parsed = 0.0;
  const auto [end, error] = std::from_chars(p, p + std::strlen(p), parsed, std::chars_format::general);
  if (error != std::errc() || !std::isfinite(parsed)) return false;
  value = negative ? -parsed : parsed;
  cursor = end;
  return true;
}

std::string format_fixed(double value, int precision) {
  char buffer[400];
  const auto [end, error] = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, precision);
  if (error != std::errc()) return std::string();
  return std::string(buffer, end);
}

void trim_decimal_zeros(std::string& text) {
  if (text.find('.') == std::string::npos) return;
  while (!text.empty() && text.back() == '0') text.pop_back();
  if (!text.empty() && text.back() == '.') text.pop_back();
}

dng_text encode_iso_date(const dng_calendar_time& date_time, bool with_time, const char* fraction,
                         int32_t zone_hours, int32_t zone_minutes) {
  if (!date_time.InRange()) return dng_text();
  std::string out = format_uint(date_time.year, 4) + "-" + format_uint(date_time.month, 2) + "-" +
                    format_uint(date_time.day, 2);
  if (with_time) {
    out += 'T';
    out += format_uint(date_time.hour, 2) + ":" + format_uint(date_time.minute, 2) + ":" +
           format_uint(date_time.second, 2);
    if (fraction != nullptr && *fraction != 0) {
      bool digits = true;
      for (const char* p = fraction; *p != 0; ++p) digits = digits && is_digit(*p);
      if (digits) out += std::string(".") + fraction;
    }
    if (zone_hours < -13 || zone_hours > 13) {
      zone_hours = zone_offset_hours(date_time);
      zone_minutes = 0;
    }
    const int64_t total = int64_t{zone_hours} * 60 + zone_minutes;
    if (total >= -dng_iptc_zone_limit && total <= dng_iptc_zone_limit) {
      if (total == 0) {
        out += "Z";
      } else {
        const uint32_t magnitude = static_cast<uint32_t>(total < 0 ? -total : total);
        out += total < 0 ? '-' : '+';
        out += format_uint(magnitude / 60, 2) + ":" + format_uint(magnitude % 60, 2);
      }
    }
  }
  return dng_text(out.c_str());
}

void decode_iso_date(const char* text, dng_calendar_time* date_time, bool* has_time,
                     dng_text* fraction, int32_t* zone_hours, int32_t* zone_minutes) {
  dng_calendar_time value;
  bool timed = false;
  if (date_time != nullptr) date_time->SetNone();
  if (has_time != nullptr) *has_time = false;
  if (fraction != nullptr) *fraction = dng_text();
  if (zone_hours != nullptr) *zone_hours = dng_xmp_no_zone;
  if (zone_minutes != nullptr) *zone_minutes = 0;
  if (text == nullptr) return;

  const char* p = text;
  if (!scan_uint32(p, value.year) || !expect(p, '-') || !scan_uint32(p, value.month) || !expect(p, '-') ||
      !scan_uint32(p, value.day)) {
    return;
  }
  if (!value.InRange()) return;

  const char* t = std::strchr(text, 'T');
  if (t != nullptr) {
    dng_calendar_time timed_value = value;
    p = t + 1;
    if (scan_uint32(p, timed_value.hour) && expect(p, ':') && scan_uint32(p, timed_value.minute) &&
        expect(p, ':') && scan_uint32(p, timed_value.second)) {
      if (!timed_value.InRange()) return;
      value = timed_value;
      timed = true;
    }
  }
  if (date_time != nullptr) *date_time = value;
  if (has_time != nullptr) *has_time = timed;
  if (t == nullptr) return;

  if (const char* dot = std::strchr(t, '.'); dot != nullptr && fraction != nullptr) {
    const char* end = dot + 1;
    while (is_digit(*end)) ++end;
    std::string digits(dot + 1, end);
    fraction->Assign(digits.c_str());
  }

  const char* zone = std::strpbrk(t, "+-Z");
  if (zone == nullptr) return;
  if (*zone == 'Z') {
    if (zone_hours != nullptr) *zone_hours = 0;
    return;
  }
  const int32_t sign = *zone == '-' ? -1 : 1;
  p = zone + 1;
  uint32_t hours = 0;
  uint32_t minutes = 0;
  if (!scan_uint32(p, hours)) return;
  if (expect(p, ':') && !scan_uint32(p, minutes)) minutes = 0;
  const uint64_t total = uint64_t{hours} * 60 + minutes;
  if (total > static_cast<uint64_t>(dng_iptc_zone_limit)) {
    // A zone no place keeps: the clock time cannot be placed either.
    value.hour = value.minute = value.second = 0;
    if (date_time != nullptr) *date_time = value;
    if (has_time != nullptr) *has_time = false;
    if (fraction != nullptr) *fraction = dng_text();
    return;
  }
  if (zone_hours != nullptr) {
    *zone_hours = sign * static_cast<int32_t>(hours);
    if (zone_minutes != nullptr) *zone_minutes = sign * static_cast<int32_t>(minutes);
  } else if (zone_minutes != nullptr) {
    *zone_minutes = sign * static_cast<int32_t>(total);
  }
}

dng_text encode_gps_version(uint32_t version) {
  if (version == 0 || version >= 0x0A000000) return dng_text();
  const uint32_t b0 = version >> 24, b1 = (version >> 16) & 0xFF, b2 = (version >> 8) & 0xFF, b3 = version & 0xFF;
  if (b1 > 9 || b2 > 9 || b3 > 9) return dng_text();
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%u.%u.%u.%u", b0, b1, b2, b3);
  return dng_text(buffer);
}

uint32_t decode_gps_version(const char* text) {
  if (text == nullptr || std::strlen(text) != 7) return 0;
  const char* p = text;
  uint32_t b[4];
  for (int i = 0; i < 4; ++i) {
    if (i > 0 && !expect(p, '.')) return 0;
    if (!scan_uint32(p, b[i]) || b[i] > 255) return 0;
  }
  return (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

dng_text encode_gps_coordinate(const dng_text& ref, const dng_unsigned_ratio coord[3]) {
  if (ref.ByteLength() != 1 || coord[0].d == 0 || coord[1].d == 0) return dng_text();
  const char letter = upper(ref.CStr()[0]);
  if (!is_gps_ref_letter(letter)) return dng_text();
  std::string out = std::to_string(round_half_up_uint32(coord[0].ToReal())) + ",";
  if (coord[2].n != 0 && coord[2].d != 0) {
    std::string seconds = format_fixed(coord[2].ToReal(), 2);
    trim_decimal_zeros(seconds);
    out += std::to_string(round_half_up_uint32(coord[1].ToReal())) + "," + seconds;
  } else {
    std::string minutes = format_fixed(coord[1].ToReal(), 4);
    trim_decimal_zeros(minutes);
    out += minutes;
  }
  out += letter;
  return dng_text(out.c_str());
}

void decode_gps_coordinate(const char* text, dng_text& ref, dng_unsigned_ratio coord[3]) {
  ref = dng_text();
  for (int i = 0; i < 3; ++i) coord[i] = dng_unsigned_ratio();
  if (text == nullptr) return;
  const size_t length = std::strlen(text);
  if (length < 2) return;
  const char letter = upper(text[length - 1]);
  if (!is_gps_ref_letter(letter)) return;
  const std::string body(text, length - 1);
  const char* p = body.c_str();
  uint32_t degrees = 0;
  double minutes = 0.0;
  double seconds = 0.0;
  if (!scan_uint32(p, degrees) || !expect(p, ',') || !scan_double(p, minutes)) return;
  if (expect(p, ',') && scan_double(p, seconds)) {
    coord[0] = dng_unsigned_ratio(degrees, 1);
    coord[1] = ratio_of(minutes, 1);
    coord[2] = ratio_of(seconds, 100);
  } else {
    coord[0] = dng_unsigned_ratio(degrees, 1);
    coord[1] = ratio_of(minutes, 10000);
    coord[2] = dng_unsigned_ratio(0, 0);
  }
  const char letter_text[2] = {letter, 0};
  ref.Assign(letter_text);
}

dng_text encode_gps_timestamp(const dng_text& date_stamp, const dng_unsigned_ratio time[3]) {
  if (time[0].d == 0 || time[1].d == 0 || time[2].d == 0) return dng_text();
  std::string seconds = format_fixed(time[2].ToReal(), 6);
  if (seconds.size() < 9) seconds.insert(0, 9 - seconds.size(), '0');
  trim_decimal_zeros(seconds);
  std::string out;
  if (!date_stamp.Empty()) {
    const char* p = date_stamp.CStr();
    int32_t y = 0, m = 0, d = 0;
    if (scan_int32(p, y) && expect(p, ':') && scan_int32(p, m) && expect(p, ':') && scan_int32(p, d) &&
        valid_ymd(y, m, d)) {
      out = format_uint(static_cast<uint32_t>(y), 4) + "-" + format_uint(static_cast<uint32_t>(m), 2) + "-" +
            format_uint(static_cast<uint32_t>(d), 2) + "T";
    }
  }
  out += format_uint(round_half_up_uint32(time[0].ToReal()), 2) + ":" +
         format_uint(round_half_up_uint32(time[1].ToReal()), 2) + ":" + seconds + "Z";
  return dng_text(out.c_str());
}

void decode_gps_timestamp(const char* text, dng_text& date_stamp, dng_unsigned_ratio time[3]) {
  date_stamp = dng_text();
  for (int i = 0; i < 3; ++i) time[i] = dng_unsigned_ratio();
  if (text == nullptr || *text == 0) return;
  uint32_t year = 0, month = 0, day = 0, hours = 0, minutes = 0;
  double seconds = 0.0;
  const char* p = text;
  if (scan_uint32(p, year) && expect(p, '-') && scan_uint32(p, month) && expect(p, '-') && scan_uint32(p, day) &&
      expect(p, 'T') && scan_uint32(p, hours) && expect(p, ':') && scan_uint32(p, minutes) && expect(p, ':') &&
      scan_double(p, seconds)) {
    if (valid_ymd(year, month, day)) {
      const std::string stamp = format_uint(year, 4) + ":" + format_uint(month, 2) + ":" + format_uint(day, 2);
      date_stamp.Assign(stamp.c_str());
    }
  } else {
    p = text;
    if (!scan_uint32(p, hours) || !expect(p, ':') || !scan_uint32(p, minutes) || !expect(p, ':') ||
        !scan_double(p, seconds)) {
      return;
    }
  }
  time[0] = dng_unsigned_ratio(hours, 1);
  time[1] = dng_unsigned_ratio(minutes, 1);
  time[2] = ratio_of(seconds, 1000);
}

dng_text encode_lens_info(const dng_unsigned_ratio info[4]) {
  if (info[0].d == 0) return dng_text();
  char buffer[96];
  std::snprintf(buffer, sizeof buffer, "%u/%u %u/%u %u/%u %u/%u", info[0].n, info[0].d, info[1].n, info[1].d,
                info[2].n, info[2].d, info[3].n, info[3].d);
  return dng_text(buffer);
}

bool decode_lens_info(const char* text, dng_unsigned_ratio info[4]) {
  if (text == nullptr) return false;
  dng_unsigned_ratio read[4];
  const char* p = text;
  for (int i = 0; i < 4; ++i) {
    if (i > 0) skip_space(p);
    if (!scan_uint32(p, read[i].n) || !expect(p, '/') || !scan_uint32(p, read[i].d)) return false;
  }
  for (int i = 0; i < 4; ++i) info[i] = read[i];
  return true;
}

dng_text lens_name_from_info(const dng_unsigned_ratio info[4]) {
  if (info[0].d == 0) return dng_text();
  const double f1 = info[0].ToReal();
  const double f2 = info[1].ToReal();
  const double a1 = info[2].ToReal();
  const double a2 = info[3].ToReal();
  std::string name = format_fixed(f1, 1);
  // Pieces are appended in place, here and in encode_iso_date, rather than
  // made as "text" + temporary string, which inserts at the front of the
  // temporary and which GCC 12 at -O2 takes for an overlapping copy.
  if (f1 != f2) {
    name += '-';
    name += format_fixed(f2, 1);
  }
  name += " mm";
  if (info[2].d != 0) {
    name += " f/";
    name += format_fixed(a1, 1);
    if (f1 != f2 && a1 != a2) {
      name += '-';
      name += format_fixed(a2, 1);
    }
  }
  return dng_text(name.c_str());
}

dng_text encode_fingerprint_hex(const dng_digest& digest) {
  if (digest.IsZero()) return dng_text();
  static const char kHex[] = "0123456789ABCDEF";
  char buffer[dng_digest::kBytes * 2 + 1];
  for (uint32_t i = 0; i < dng_digest::kBytes; ++i) {
    buffer[2 * i] = kHex[digest.data[i] >> 4];
    buffer[2 * i + 1] = kHex[digest.data[i] & 15];
  }
  buffer[dng_digest::kBytes * 2] = 0;
  return dng_text(buffer);
}

dng_digest decode_fingerprint_hex(const char* text) {
  dng_digest digest;
  if (text == nullptr || std::strlen(text) != dng_digest::kBytes * 2) return digest;
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
  };
  dng_digest read;
  for (uint32_t i = 0; i < dng_digest::kBytes; ++i) {
    const int high = nibble(text[2 * i]);
    const int low = nibble(text[2 * i + 1]);
    if (high < 0 || low < 0) return digest;
    read.data[i] = static_cast<uint8_t>(high * 16 + low);
  }
  return read;
}
