// The UTF-8 decoder shared by the text operations.
#pragma once

#include <cstdint>

// Length of the UTF-8 sequence a byte starts: 1 for 0x00-0x7F, 0 for the
// continuation bytes 0x80-0xBF, then 2, 3, 4, 5, 6 by lead byte.
extern const uint8_t utf8_lead_length_table[256];

// Decodes the sequence at the cursor (a zero-terminated string) and moves
// the cursor past it. Continuation bytes are combined six bits at a time
// without testing their top bits. Never stalls and never passes the
// terminator: a byte that starts nothing gives U+FFFD and one byte of
// progress; a sequence cut short by the terminator gives U+FFFD and leaves
// the cursor on the terminator. At the terminator itself it answers 0 and
// stays.
uint32_t next_utf8_code_point(const char*& cursor);

// 'a'-'z' as 'A'-'Z'; every other byte unchanged.
inline char upper_ascii_char(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }
