// The DNG code runs on little-endian machines only: the stream's swap flag
// and the "low byte first in memory" narrowing copies of pixel buffers
// assume it.
#pragma once

#include <bit>

static_assert(std::endian::native == std::endian::little,
              "the DNG code assumes a little-endian target");

// True when the machine stores values little-endian (always, see above).
inline constexpr bool dng_host_little_endian = true;
