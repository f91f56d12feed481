#include "dng/core/dng_memory_allocator.h"

#include "dng/core/dng_allocation.h"

dng_memory_allocator default_memory_allocator;

dng_memory_block* dng_memory_allocator::NewBlock(uint32_t size) {
  return dng_new<dng_malloc_block>(size);
}
