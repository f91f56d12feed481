// The verbose structure dumps of the DNG tag readers. They print to standard
// output, which in the worker is the result channel, so every dump site runs
// only while dng_verbose is on; it starts off and the program never sets it.
#pragma once

#include <cstdint>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_vector.h"

// The process-wide switch of the dumps; false.
extern bool dng_verbose;

// The tag's values at the stream's position: the name (the tag's own when
// name is null) and ":", then the values as the type prints them, at most
// dng_dump_limit of them (never fewer than 4). label names each value of a
// list ("    %s [%u] = ").
void dump_tag_values(dng_stream& stream, const char* label, uint32_t parent, uint32_t tag,
                     uint32_t type, uint32_t count, const char* name = nullptr);

// count bytes as lines of 16 hex entries and their printable characters, at
// most dng_dump_limit lines, then "    ... %u more bytes".
void dump_hex_ascii(dng_stream& stream, uint32_t count);

// count bytes of an XMP packet as lines prefixed "XMP: ".
void dump_xmp(dng_stream& stream, uint32_t count);

// The text in double quotes with escapes, cut at dng_dump_limit x 64 code
// points.
void dump_string(const dng_text& text);

// "name: " and the quoted text, on a line of its own.
void dump_text_line(const char* name, const dng_text& text);

// One line per pattern row: "    " and each colour's name padded to 9
// columns. rows and cols are held to the pattern's 8 x 8.
void dump_cfa_pattern(const uint8_t (&pattern)[8][8], uint32_t rows, uint32_t cols);

void dump_matrix(const dng_matrix& matrix);
void dump_vector(const dng_vector& vector);
void dump_date_time(const dng_calendar_time& date_time);
// "%0.2f sec", "1/%0.1f sec", "1/%0.0f sec" or "<invalid>".
void dump_exposure_time(double seconds);
