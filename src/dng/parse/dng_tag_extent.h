// The one answer to "do count values of a TIFF field type, starting at this
// position, fit in the stream?", computed in 64 bits so that no product or
// sum of file values wraps.
#pragma once

#include <cstdint>

#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"

// count x the size of one value of type, exactly (at most 2^35 - 8).
constexpr uint64_t tag_value_bytes(uint32_t count, uint32_t type) {
  return uint64_t{count} * tag_type_size(type);
}

// position + bytes <= length, without wrapping.
constexpr bool extent_fits(uint64_t position, uint64_t bytes, uint64_t length) {
  return position <= length && bytes <= length - position;
}

// count values of type starting at position lie within the stream.
inline bool tag_value_fits(dng_stream& stream, uint64_t position, uint32_t count, uint32_t type) {
  return extent_fits(position, tag_value_bytes(count, type), stream.TotalLength());
}

// bytes from the stream's current position lie within the stream.
inline bool bytes_left_fit(dng_stream& stream, uint64_t bytes) {
  return extent_fits(stream.Position(), bytes, stream.TotalLength());
}
