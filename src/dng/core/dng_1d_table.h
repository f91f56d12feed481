// A sampled function on [0, 1]: 4098 single-precision entries, entry i the
// function at i / 4096 and entry 4097 repeating entry 4096, looked up with
// linear interpolation.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"

class dng_1d_function;

class dng_1d_table {
 public:
  static constexpr uint32_t kTableBits = 12;
  static constexpr uint32_t kTableSize = 1u << kTableBits;  // 4096 intervals
  static constexpr uint32_t kEntryCount = kTableSize + 2;    // 4098 entries

  dng_1d_table() = default;
  virtual ~dng_1d_table() = default;
  dng_1d_table(const dng_1d_table&) = delete;
  dng_1d_table& operator=(const dng_1d_table&) = delete;

  // A new block of 4098 zero entries from the allocator (the old one is
  // released); failure raises 100005.
  void Allocate(dng_memory_allocator& allocator);

  // Allocate, then entry i = function.ValueAt(i / 4096) as float for i =
  // 0..4096 and entry 4097 = entry 4096.
  void Fill(dng_memory_allocator& allocator, const dng_1d_function& function);

  bool HasData() const { return block_ != nullptr; }
  // The entries, or null before Allocate.
  float* Entries() const { return entries_; }

  // t = x * 4096 (single precision), clamped to [0, 4096] with NaN as 0;
  // i = t truncated, f = t - i; (1 - f) * entry i + f * entry i + 1. A table
  // without data gives 0.
  float Lookup(float x) const {
    if (entries_ == nullptr) return 0.0f;
    float t = x * static_cast<float>(kTableSize);
    t = t > 0.0f ? t : 0.0f;  // NaN compares false and becomes 0
    t = t < static_cast<float>(kTableSize) ? t : static_cast<float>(kTableSize);
    const uint32_t i = static_cast<uint32_t>(t);
    const float f = t - static_cast<float>(i);
    return (1.0f - f) * entries_[i] + f * entries_[i + 1];
  }

 private:
  std::unique_ptr<dng_memory_block> block_;
  float* entries_ = nullptr;
};
