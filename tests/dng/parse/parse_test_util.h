// Helpers of the DNG parse tests: both output streams captured around an
// action, and little byte builders for tag values in either byte order.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>

#include "dng/core/dng_stream.h"

#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "dng/support/stdout_capture.h"

namespace dng_test {

// What an action printed, and the DNG code it raised (0 when none).
struct Printed {
  std::string err;
  std::string out;
  int32_t code = 0;
};

template <class F>
Printed printed_by(F&& action) {
  Printed p;
  StdoutCapture out;
  StderrCapture err;
  p.code = code_of(action);
  p.err = err.Take();
  p.out = out.Take();
  return p;
}

// One warning line as report_dng_warning prints it.
inline std::string warning_line(const std::string& message) {
  return "*** Warning: " + message + " ***\n";
}

inline std::string error_line(const std::string& message) {
  return "*** Error: " + message + " ***\n";
}

// Appends v in the given byte order.
inline void put16(std::string& s, uint32_t v, bool big_endian) {
  const char b[2] = {static_cast<char>(v), static_cast<char>(v >> 8)};
  if (big_endian) {
    s += b[1];
    s += b[0];
  } else {
    s.append(b, 2);
  }
}

inline void put32(std::string& s, uint32_t v, bool big_endian) {
  if (big_endian) {
    put16(s, v >> 16, true);
    put16(s, v & 0xFFFF, true);
  } else {
    put16(s, v & 0xFFFF, false);
    put16(s, v >> 16, false);
  }
}

// Values of TIFF field types, in the given byte order.
inline std::string shorts(std::initializer_list<uint32_t> values, bool big_endian = false) {
  std::string s;
  for (uint32_t v : values) put16(s, v, big_endian);
  return s;
}

inline std::string longs(std::initializer_list<uint32_t> values, bool big_endian = false) {
  std::string s;
  for (uint32_t v : values) put32(s, v, big_endian);
  return s;
}

// Pairs of numerator and denominator.
inline std::string rationals(std::initializer_list<std::pair<uint32_t, uint32_t>> values,
                             bool big_endian = false) {
  std::string s;
  for (const auto& [n, d] : values) {
    put32(s, n, big_endian);
    put32(s, d, big_endian);
  }
  return s;
}

inline std::string srationals(std::initializer_list<std::pair<int32_t, int32_t>> values,
                              bool big_endian = false) {
  std::string s;
  for (const auto& [n, d] : values) {
    put32(s, static_cast<uint32_t>(n), big_endian);
    put32(s, static_cast<uint32_t>(d), big_endian);
  }
  return s;
}

// Whole-number signed rationals (denominator 1), e.g. matrix entries.
inline std::string sints(std::initializer_list<int32_t> values, bool big_endian = false) {
  std::string s;
  for (int32_t v : values) {
    put32(s, static_cast<uint32_t>(v), big_endian);
    put32(s, 1, big_endian);
  }
  return s;
}

// One directory entry offered to a tag reader: its value bytes stand at
// kValuePosition of a stream of their own.
struct TagEntry {
  uint32_t parent;
  uint32_t tag;
  uint32_t type;
  uint32_t count;
  std::string value;
};

inline constexpr uint32_t kValuePosition = 8;

// A stream holding the entry's value at kValuePosition, positioned there.
class EntryStream {
 public:
  explicit EntryStream(const TagEntry& entry, bool big_endian = false)
      : bytes_(std::string(kValuePosition, '\xEE') + entry.value),
        stream_(bytes_.data(), static_cast<uint32_t>(bytes_.size())) {
    stream_.SetByteSwapped(big_endian);
    stream_.SeekForRead(kValuePosition);
  }
  dng_stream& Stream() { return stream_; }

 private:
  std::string bytes_;
  dng_stream stream_;
};

}  // namespace dng_test
