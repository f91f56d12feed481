#include "dng/core/dng_memory_block.h"

#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"

namespace {

void* system_malloc(size_t bytes) { return std::malloc(bytes); }

dng_raw_malloc_fn raw_malloc = &system_malloc;

}  // namespace

dng_raw_malloc_fn exchange_dng_raw_malloc(dng_raw_malloc_fn fn) {
  dng_raw_malloc_fn previous = raw_malloc;
  raw_malloc = fn != nullptr ? fn : &system_malloc;
  return previous;
}

void* dng_raw_malloc(size_t bytes) { return raw_malloc(bytes); }

dng_malloc_block::dng_malloc_block(uint32_t size) : dng_memory_block(size, nullptr), raw_(nullptr) {
  if (size > dng_max_block_size) throw_dng_code(dng_code_memory);
  raw_ = dng_raw_malloc(size_t{size} + dng_block_slack);
  if (raw_ == nullptr) throw_dng_code(dng_code_memory);
  const uintptr_t address = reinterpret_cast<uintptr_t>(raw_);
  const uintptr_t aligned = (address + (dng_block_alignment - 1)) & ~uintptr_t{dng_block_alignment - 1};
  SetData(static_cast<uint8_t*>(raw_) + (aligned - address));
}

dng_malloc_block::~dng_malloc_block() { std::free(raw_); }
