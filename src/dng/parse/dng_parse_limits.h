// Named limits of the DNG container parser, each with the reason it exists.
// Counts and sizes taken from a file are held against these and against the
// stream's length before anything is allocated or walked.
#pragma once

#include <cstdint>

// The IFD table holds IFD 0 and up to ten sub-IFDs; further SubIFDs entries
// are warned about and not read.
inline constexpr uint32_t dng_max_ifds = 11;
inline constexpr uint32_t dng_max_sub_ifds = dng_max_ifds - 1;

// Directories read through NextIFD links after IFD 0.
inline constexpr uint32_t dng_max_chained_ifds = 10;

// A maker-note chain that follows its own links (the Mamiya rule) reads at
// most this many directories, and stops earlier at a link it has followed.
inline constexpr uint32_t dng_max_maker_note_chain = 16;

// The smallest maker-note directory: an entry count, one entry (12 bytes).
inline constexpr uint32_t dng_min_maker_note_ifd_size = 14;

// Verbose dumps: the most lines of a hex dump and values of a value list
// (never fewer than 4); quoted texts are cut at this times 64 code points.
inline constexpr uint32_t dng_dump_limit = 100;

// Warning texts are formatted into buffers of this size; parent and tag
// names are short enough for every format.
inline constexpr uint32_t dng_message_buffer_size = 256;

// Fallback names ("Tag%u", "SubIFD %u", ...) are formatted into buffers of
// this size.
inline constexpr uint32_t dng_name_buffer_size = 32;

// TIFF's inline value field: values of at most this many bytes are stored in
// the entry itself.
inline constexpr uint32_t dng_inline_value_bytes = 4;

// The first parent code of maker-note directories; directories at or above
// it (maker notes and private blocks) get no termination or character
// warnings from the text readers.
inline constexpr uint32_t dng_first_maker_note_parent = 0x30000;
