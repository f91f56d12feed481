// Code page 1252 by table; EUC-JP through iconv with replacement of bad bytes.
#include "dng/core/dng_code_page.h"

#include <iconv.h>

#include <cerrno>
#include <cstring>

namespace {

// 0x80-0x9F of code page 1252; every other byte is its own code point.
constexpr uint16_t k1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,  // 0x80
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,  // 0x88
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 0x90
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,  // 0x98
};

uint32_t convert_1252(const char* bytes, uint32_t count, uint16_t* out, uint32_t room) {
  if (count > room) return 0;
  for (uint32_t i = 0; i < count; ++i) out[i] = code_page_1252_unit(static_cast<uint8_t>(bytes[i]));
  return count;
}

uint32_t convert_euc_jp(const char* bytes, uint32_t count, uint16_t* out, uint32_t room) {
  iconv_t cd = iconv_open("UTF-16LE", "EUC-JP");
  if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  char* in = const_cast<char*>(bytes);
  size_t in_left = count;
  char* to = reinterpret_cast<char*>(out);
  size_t to_left = size_t{room} * 2;
  bool overflow = false;
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &to, &to_left) != static_cast<size_t>(-1)) break;
    if (errno == EILSEQ || errno == EINVAL) {
      // Not EUC-JP here, or cut short at the end: one replacement
      // character, then go on at the next byte.
      if (to_left < 2) {
        overflow = true;
        break;
      }
      const uint16_t replacement = 0xFFFD;
      std::memcpy(to, &replacement, 2);
      to += 2;
      to_left -= 2;
      ++in;
      --in_left;
      iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else {
      overflow = true;  // E2BIG
      break;
    }
  }
  if (!overflow && iconv(cd, nullptr, nullptr, &to, &to_left) == static_cast<size_t>(-1)) overflow = true;
  iconv_close(cd);
  if (overflow) return 0;
  return static_cast<uint32_t>((to - reinterpret_cast<char*>(out)) / 2);
}

}  // namespace

uint16_t code_page_1252_unit(uint8_t byte) {
  return (byte >= 0x80 && byte <= 0x9F) ? k1252High[byte - 0x80] : byte;
}

uint32_t code_page_to_utf16(uint32_t code_page, const char* bytes, uint32_t count, uint16_t* out,
                            uint32_t room) {
  switch (code_page) {
    case dng_code_page_1252:
      return convert_1252(bytes, count, out, room);
    case dng_code_page_euc_jp:
      return convert_euc_jp(bytes, count, out, room);
    default:
      return 0;
  }
}
