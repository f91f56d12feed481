#include "dng/core/dng_1d_table.h"

#include <cstring>

void dng_1d_table::Allocate(dng_memory_allocator& allocator) {
  entries_ = nullptr;
  block_.reset();
  block_.reset(allocator.NewBlock(kEntryCount * sizeof(float)));
  entries_ = static_cast<float*>(block_->Buffer());
  std::memset(entries_, 0, kEntryCount * sizeof(float));
}
