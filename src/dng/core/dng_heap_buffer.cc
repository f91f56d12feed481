#include "dng/core/dng_heap_buffer.h"

#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_block.h"

dng_heap_buffer::dng_heap_buffer(size_t size) { Resize(size); }

void dng_heap_buffer::Release() {
  std::free(data_);
  data_ = nullptr;
}

void dng_heap_buffer::Resize(size_t size) {
  Release();
  if (size == 0) return;
  data_ = dng_raw_malloc(size);
  if (data_ == nullptr) throw_dng_memory(size);
}
