#include "dng/core/dng_checked_size.h"

#include "dng/core/dng_limits.h"

uint32_t image_block_size(std::initializer_list<uint64_t> factors) {
  const uint64_t bytes = checked_product_u64(factors);
  if (bytes > dng_image_memory_cap()) throw_dng_memory(bytes);
  return static_cast<uint32_t>(bytes);
}
