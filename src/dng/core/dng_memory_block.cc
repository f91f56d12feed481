#include "dng/core/dng_memory_block.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"

namespace {

void* system_malloc(size_t bytes) { return std::malloc(bytes); }

dng_raw_malloc_fn raw_malloc = &system_malloc;

// Image-sized blocks ask for transparent huge pages over the 2 MiB-aligned
// part of their storage: a stage image is written once from end to end,
// and faulting it in 2 MiB pages instead of 4 KiB ones removes most of the
// cost of that first touch. Advice the system cannot follow changes
// nothing.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
constexpr size_t kHugePageMinimum = 4 * kHugePage;

void advise_huge_pages(void* raw, size_t bytes) {
  if (bytes < kHugePageMinimum) return;
  const uintptr_t begin = (reinterpret_cast<uintptr_t>(raw) + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(raw) + bytes) & ~(kHugePage - 1);
  if (end > begin) (void)madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

}  // namespace

dng_raw_malloc_fn exchange_dng_raw_malloc(dng_raw_malloc_fn fn) {
  dng_raw_malloc_fn previous = raw_malloc;
  raw_malloc = fn != nullptr ? fn : &system_malloc;
  return previous;
}

void* dng_raw_malloc(size_t bytes) { return raw_malloc(bytes); }

dng_malloc_block::dng_malloc_block(uint32_t size) : dng_memory_block(size, nullptr), raw_(nullptr) {
  if (size > dng_max_block_size) throw_dng_memory(size);
  raw_ = dng_raw_malloc(size_t{size} + dng_block_slack);
  if (raw_ == nullptr) throw_dng_memory(size);
  advise_huge_pages(raw_, size_t{size} + dng_block_slack);
  const uintptr_t address = reinterpret_cast<uintptr_t>(raw_);
  const uintptr_t aligned = (address + (dng_block_alignment - 1)) & ~uintptr_t{dng_block_alignment - 1};
  SetData(static_cast<uint8_t*>(raw_) + (aligned - address));
}

dng_malloc_block::~dng_malloc_block() { std::free(raw_); }
