// Decode of a JPEG file through libjpeg: the file is valid when the library
// neither failed nor warned while reading every marker and all of the
// entropy-coded data.
//
// The pixels are reconstructed at an eighth of the size. Every warning and
// error the library can give comes from reading markers and entropy-coded
// data, which a decode at any size reads in full; the inverse DCT,
// upsampling and colour conversion report nothing. So the verdict and the
// messages are those of a full-size decode, at a fraction of the cost. An
// image whose full-size buffers could come near the memory limit is decoded
// at full size: whether the library runs out depends on the size decoded.
#pragma once

#include <cstddef>

// The most memory one decode may ask libjpeg for (its coefficient buffers):
// enough for progressive images of several hundred megapixels, small enough
// that a hostile header cannot make eight workers exhaust the machine.
inline constexpr long kJpegMaxMemory = 1024L * 1024L * 1024L;

// How many bytes of a file the library is handed at a time: those of its own
// stdio source, whose slices decide some of its messages.
inline constexpr size_t kJpegSourceSlice = 4096;

// The file's first kJpegSourceSlice bytes (all of them when the file is
// shorter) when they have been read already; the rest is read after them.
struct JpegFileStart {
  const unsigned char* data = nullptr;
  size_t size = 0;
};

// Gives true for a sound JPEG in the open regular file fd, read from its
// first byte (the descriptor's position is neither used nor moved). The
// library's messages go to standard error as
// "\nERROR processing JPEG: <message>\n". The decode stops at the first
// warning or error: either already makes the file invalid.
bool jpeg_check_file(int fd, JpegFileStart start = {});

// The same check over JPEG data held in memory (a thumbnail inside another
// file). max_memory replaces kJpegMaxMemory (tests use a small limit).
bool jpeg_check_memory(const unsigned char* data, size_t size, long max_memory = kJpegMaxMemory);
