// The allocator through which the DNG code makes memory blocks. The base
// class is the default allocator; a host may supply a subclass.
#pragma once

#include <cstdint>

#include "dng/core/dng_memory_block.h"

class dng_memory_allocator {
 public:
  dng_memory_allocator() = default;
  virtual ~dng_memory_allocator() = default;

  // A new block of `size` bytes that the caller owns. Failure (of the block
  // object or its storage, or a size too large for a block) raises 100005
  // and leaks nothing.
  virtual dng_memory_block* NewBlock(uint32_t size);
};

// The allocator used wherever none is given; valid for the whole program.
extern dng_memory_allocator default_memory_allocator;
