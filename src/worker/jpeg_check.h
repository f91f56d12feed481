// Decode of a JPEG file through libjpeg: the file is valid when the library
// neither failed nor warned while reading every marker and all of the
// entropy-coded data.
#pragma once

#include <cstddef>

// How large the decode reconstructs the pixels. Every warning and error the
// library can give comes from reading markers and entropy-coded data, which
// a decode at any size reads in full; the inverse DCT, upsampling and colour
// conversion report nothing. So the verdict and the messages are the same at
// both sizes, and an eighth of the size costs a fraction of the time.
// kFull is the reference that tests compare against.
enum class JpegDecodeSize { kEighth, kFull };

// Gives true for a sound JPEG in the open file fd, read from its first byte
// (the descriptor's position is neither used nor moved). The library's
// messages go to standard error as "\nERROR processing JPEG: <message>\n".
// The decode stops at the first warning or error: either already makes the
// file invalid.
bool jpeg_check_file(int fd, JpegDecodeSize size = JpegDecodeSize::kEighth);

// The most memory one decode may ask libjpeg for (its coefficient buffers):
// enough for progressive images of several hundred megapixels, small enough
// that a hostile header cannot make eight workers exhaust the machine.
inline constexpr long kJpegMaxMemory = 1024L * 1024L * 1024L;

// The same check over JPEG data held in memory (a thumbnail inside another
// file). max_memory replaces kJpegMaxMemory (tests use a small limit).
bool jpeg_check_memory(const unsigned char* data, size_t size, JpegDecodeSize decode_size = JpegDecodeSize::kEighth,
                       long max_memory = kJpegMaxMemory);
