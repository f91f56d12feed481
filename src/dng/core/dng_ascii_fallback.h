// The table that folds non-ASCII code points to plain ASCII.
#pragma once

#include <cstdint>

struct dng_ascii_fallback {
  uint32_t code_point;
  const char* replacement;  // one to three ASCII characters
};

inline constexpr int ascii_fallback_rows = 97;

// Rows in ascending order of code point.
extern const dng_ascii_fallback ascii_fallback_table[ascii_fallback_rows];

// The replacement of the first row with that code point, else "?".
const char* ascii_fallback_for(uint32_t code_point);
