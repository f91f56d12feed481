// Conversion of Windows code-page bytes to UTF-16: code page 1252 from a
// built-in table, code page 20932 (EUC-JP) through the C library's iconv.
// Results never depend on the process locale.
#pragma once

#include <cstdint>

inline constexpr uint32_t dng_code_page_1252 = 1252;
inline constexpr uint32_t dng_code_page_euc_jp = 20932;

// The code page that texts of unknown encoding are read in: always 1252.
constexpr uint32_t dng_system_code_page() { return dng_code_page_1252; }

// The code point of a 1252 byte: the published mapping, with the five
// unassigned bytes 0x81, 0x8D, 0x8F, 0x90 and 0x9D mapped to the C1 control
// of the same value.
uint16_t code_page_1252_unit(uint8_t byte);

// Converts count bytes of the code page into at most room UTF-16 units at
// out (no terminator) and answers the number written. A byte sequence that
// does not decode, or is cut short at the end, gives U+FFFD and the
// conversion goes on at the next byte. Answers 0 for an unknown code page,
// when the units do not fit, or when the converter cannot be opened.
uint32_t code_page_to_utf16(uint32_t code_page, const char* bytes, uint32_t count, uint16_t* out,
                            uint32_t room);
