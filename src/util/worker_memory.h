// The memory budget of a worker. The front end limits each worker's address
// space, so that the workers of a run together cannot exhaust the machine;
// the worker sizes its DNG image cap to fit inside its limit, so that an
// image block over the budget is refused when it is asked for and the file
// is answered as not checked, with the worker still inside its limit.
#pragma once

#include <cstdint>

namespace worker_memory {

// What a worker takes besides the stage images of a DNG check: the program,
// the heap of parsing and metadata, and the bounded buffers of raw reading,
// linearisation and interpolation. A release worker peaks at about 20 MiB
// beyond its images.
inline constexpr uint64_t kProgramReserve = uint64_t{128} << 20;

// A DNG check holds at most two images of the largest stage size at once:
// the raw and the linear image of a three-plane file (a CFA file's linear
// image is a third of the interpolated one that follows it).
inline constexpr uint64_t kStageImagesAtOnce = 2;

// The image every budget holds: 150 megapixels of three 16-bit planes,
// counted as 152 so that the 151-megapixel sensors sold as 150 fit too.
inline constexpr uint64_t kFloorImageBytes = uint64_t{152'000'000} * 3 * 2;

// The smallest limit a worker is given.
inline constexpr uint64_t kFloor = kStageImagesAtOnce * kFloorImageBytes + kProgramReserve;

// The workers of a run together may take this share of physical memory;
// the rest stays for the front end and the rest of the machine.
inline constexpr uint64_t kShareNumerator = 3;
inline constexpr uint64_t kShareDenominator = 4;

// The limit of each of `workers` workers on a machine with `physical` bytes
// of memory: their share of it, never below kFloor.
uint64_t limit_for(uint64_t physical, int workers);

// The largest image block a worker with an address-space limit of `limit`
// bytes may allocate: what remains after kProgramReserve, split among the
// images held at once.
uint64_t image_cap_for(uint64_t limit);

}  // namespace worker_memory
