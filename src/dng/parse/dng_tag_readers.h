// Readers of text, two-part text, encoded text, date-time, matrix and vector
// tag values. The stream stands at the value; parent and tag name the
// warnings. Counts come from the file: every reader checks that the bytes it
// will read lie within the stream before it allocates anything, and raises
// 100011 (as the read itself would) when they do not.
#pragma once

#include <cstdint>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_vector.h"

// count bytes as a text ending at the first zero byte. A value without any
// zero byte warns "%s %s is not NULL terminated" (count 0 included: the text
// is empty and no byte is read). With ascii_check the bytes are read as ASCII
// or code page 1252 and a non-ASCII result warns "%s %s has non-ASCII
// characters"; without it they are taken as UTF-8. Neither warning is given
// for maker-note and private-data parents (0x30000 and up). With trim,
// trailing blanks are removed.
void read_string_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                     dng_text& text, bool trim, bool ascii_check);

// Two texts in one value: first up to the first zero byte; second after the
// first zero byte that follows a non-zero byte (empty when none). Both are
// read as ASCII or code page 1252 and lose trailing blanks. Warns as
// read_string_tag, the termination warning only when the value has at most
// one zero byte.
void read_string_pair_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                          dng_text& first, dng_text& second);

// An EXIF text with an 8-byte encoding label (UserComment and the GPS
// texts): "UNICODE" as UTF-16 in the stream's byte order, "ASCII", "JIS",
// anything else as printable ASCII. Counts below 8 give an empty text with
// the count warning. Trailing blanks are removed.
void read_encoded_text_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                           dng_text& text);

// An EXIF date-time (type 2, count 20, else false). A value that does not
// parse sets the date-time to none; it is still accepted when it holds only
// blanks, zeros and colons, else "%s %s is not a valid date/time" and false.
bool read_date_time_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                        uint32_t count, dng_calendar_time& date_time);

// rows x columns reals, row by row, replacing matrix; the count must be
// rows x columns (else the count warning and false, matrix unchanged).
// rows and columns are 1..4.
bool read_matrix_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                     uint32_t count, uint32_t rows, uint32_t columns, dng_matrix& matrix);

// n reals replacing vector; the count must be n (1..4).
bool read_vector_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                     uint32_t count, uint32_t n, dng_vector& vector);
