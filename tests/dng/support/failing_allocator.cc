#include "dng/support/failing_allocator.h"

#include <algorithm>
#include <cstdlib>

#include "dng/core/dng_memory_block.h"

namespace dng_test {

namespace {

uint64_t raw_count = 0;
uint64_t raw_fail_at = 0;
dng_raw_malloc_fn previous_raw = nullptr;

void* counting_malloc(size_t bytes) {
  ++raw_count;
  if (raw_count == raw_fail_at) return nullptr;
  return std::malloc(bytes);
}

void* null_malloc(size_t) { return nullptr; }

}  // namespace

RawMallocFailure::RawMallocFailure(uint64_t fail_at) {
  raw_count = 0;
  raw_fail_at = fail_at;
  previous_raw = exchange_dng_raw_malloc(&counting_malloc);
}

RawMallocFailure::~RawMallocFailure() { exchange_dng_raw_malloc(previous_raw); }

uint64_t RawMallocFailure::Count() const { return raw_count; }

dng_memory_block* FailingAllocator::NewBlock(uint32_t size) {
  requests_.push_back(size);
  if (requests_.size() != fail_at_) return dng_memory_allocator::NewBlock(size);
  dng_raw_malloc_fn previous = exchange_dng_raw_malloc(&null_malloc);
  try {
    dng_memory_block* block = dng_memory_allocator::NewBlock(size);
    exchange_dng_raw_malloc(previous);
    return block;
  } catch (...) {
    exchange_dng_raw_malloc(previous);
    throw;
  }
}

uint32_t FailingAllocator::LargestRequest() const {
  return requests_.empty() ? 0 : *std::max_element(requests_.begin(), requests_.end());
}

}  // namespace dng_test
