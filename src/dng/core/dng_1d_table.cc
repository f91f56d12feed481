#include "dng/core/dng_1d_table.h"

#include <cstring>

#include "dng/core/dng_1d_function.h"

void dng_1d_table::Allocate(dng_memory_allocator& allocator) {
  entries_ = nullptr;
  block_.reset();
  block_.reset(allocator.NewBlock(kEntryCount * sizeof(float)));
  entries_ = static_cast<float*>(block_->Buffer());
  std::memset(entries_, 0, kEntryCount * sizeof(float));
}

void dng_1d_table::Fill(dng_memory_allocator& allocator, const dng_1d_function& function) {
  Allocate(allocator);
  for (uint32_t i = 0; i <= kTableSize; ++i) {
    entries_[i] = static_cast<float>(function.ValueAt(double(i) / double(kTableSize)));
  }
  entries_[kTableSize + 1] = entries_[kTableSize];
}
