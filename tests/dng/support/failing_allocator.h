// Fault injection for DNG allocation: an allocator whose n-th block fails as
// real exhaustion does (the raw allocation returns null), and which records
// the sizes it was asked for; and a scope that makes the n-th raw allocation
// of blocks and heap buffers fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "dng/core/dng_memory_allocator.h"

namespace dng_test {

// While alive, raw allocation number `fail_at` (1-based, counted from
// construction) returns null; 0 means none fails. Counts every raw
// allocation of blocks and heap buffers.
class RawMallocFailure {
 public:
  explicit RawMallocFailure(uint64_t fail_at);
  ~RawMallocFailure();
  RawMallocFailure(const RawMallocFailure&) = delete;
  RawMallocFailure& operator=(const RawMallocFailure&) = delete;

  uint64_t Count() const;
};

// Block number `fail_at` (1-based; 0 = none) fails with 100005 through the
// real failure path of the default allocator; every request is recorded.
class FailingAllocator : public dng_memory_allocator {
 public:
  explicit FailingAllocator(uint64_t fail_at = 0) : fail_at_(fail_at) {}

  dng_memory_block* NewBlock(uint32_t size) override;

  const std::vector<uint32_t>& Requests() const { return requests_; }
  uint32_t LargestRequest() const;

 private:
  uint64_t fail_at_;
  std::vector<uint32_t> requests_;
};

}  // namespace dng_test
