// Helpers of the DNG parse tests: both output streams captured around an
// action, and little byte builders for tag values in either byte order.
#pragma once

#include <cstdint>
#include <string>

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

}  // namespace dng_test
