#include "dng/core/dng_limits.h"

#include <algorithm>

namespace {

uint64_t image_memory_cap = std::min(dng_default_image_memory_cap, dng_max_block_size);

}  // namespace

uint64_t dng_image_memory_cap() { return image_memory_cap; }

uint64_t set_dng_image_memory_cap(uint64_t bytes) {
  const uint64_t previous = image_memory_cap;
  image_memory_cap = std::min(bytes, dng_max_block_size);
  return previous;
}
