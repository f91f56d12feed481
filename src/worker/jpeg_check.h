// Full decode of a JPEG file through libjpeg: the file is valid when the
// library neither failed nor warned while reading every scanline.
#pragma once

#include <cstddef>

// Gives true for a sound JPEG. The library's messages go to standard error
// as "\nERROR processing JPEG: <message>\n". The decode stops at the first
// warning or error: either already makes the file invalid.
bool jpeg_check_file(const char* path);

// The same check over JPEG data held in memory (a thumbnail inside another
// file).
bool jpeg_check_memory(const unsigned char* data, size_t size);

// The most memory one decode may ask libjpeg for (its coefficient buffers):
// enough for progressive images of several hundred megapixels, small enough
// that a hostile header cannot make eight workers exhaust the machine.
inline constexpr long kJpegMaxMemory = 1024L * 1024L * 1024L;
