// Printing of one directory entry's values by TIFF type, and of the IPTC
// records held in tag 33723.
#pragma once

#include <cstddef>
#include <cstdint>

#include "examine/print_hook.h"

// Prints count values of a TIFF type from value (length bytes, in the
// file's byte order): at most 11 values, or 201 characters of ASCII, then
// "..." when more remain; then "\n". No value bytes print "[NULL]".
// Never reads past length, whatever count says.
void print_values(PrintFn print, bool big_endian, const uint8_t* value, size_t length, int type,
                  uint32_t count);

// Prints the IPTC records in bytes: keywords, the record version, and one
// line per other record. A record that runs past the end is not printed.
void print_iptc(PrintFn print, const uint8_t* bytes, size_t length);
