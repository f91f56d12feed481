// UTF-8 lead-byte lengths and the tolerant decoder.
#include "dng/core/dng_utf8.h"

namespace {

// What the six-bits-at-a-time sum carries from the lead and continuation
// markers of a sequence of each length, subtracted modulo 2^32.
constexpr uint32_t kMarkerOffset[7] = {0, 0, 0x3080u, 0xE2080u, 0x3C82080u, 0xFA082080u, 0x82082080u};

}  // namespace

const uint8_t utf8_lead_length_table[256] = {
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x00
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x10
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x20
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x30
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x40
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x50
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x60
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,  // 0x70
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x80
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0x90
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xA0
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,  // 0xB0
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xC0
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,  // 0xD0
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,  // 0xE0
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 6, 6, 6, 6,  // 0xF0
};

uint32_t next_utf8_code_point(const char*& cursor) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(cursor);
  if (p[0] == 0) return 0;
  uint32_t length = utf8_lead_length_table[p[0]];
  if (length == 0) {
    ++cursor;
    return 0xFFFD;
  }
  uint32_t value = p[0];
  for (uint32_t i = 1; i < length; ++i) {
    if (p[i] == 0) {
      cursor += i;
      return 0xFFFD;
    }
    value = value * 64 + p[i];
  }
  cursor += length;
  return value - kMarkerOffset[length];
}
