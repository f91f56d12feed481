// dng_memory_stream: pages appended on demand and copied piece by piece.
#include "dng/core/dng_memory_stream.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"

dng_memory_stream::dng_memory_stream(dng_memory_allocator& allocator, dng_cancel_hook* hook, uint32_t page_size)
    : dng_stream(hook, kBufferSize, -1), allocator_(allocator), page_size_(page_size) {
  if (page_size == 0) throw_dng_code(dng_code_unknown);
  SetWriteLimitCode(dng_code_memory);
}

dng_memory_stream::~dng_memory_stream() {
  for (uint32_t i = 0; i < page_count_; ++i) delete pages_[i];
  std::free(pages_);
}

void dng_memory_stream::StorageRead(void* data, uint32_t count, uint32_t offset) {
  if (offset > storage_length_ || count > storage_length_ - offset) throw_dng_code(dng_code_end_of_file);
  CopyPages(static_cast<uint8_t*>(data), count, offset, false);
}

void dng_memory_stream::StorageResize(uint32_t length) {
  while (uint64_t{page_count_} * page_size_ < length) {
    if (page_count_ == page_capacity_) {
      uint64_t grown = std::max<uint64_t>(uint64_t{page_capacity_} + 32, uint64_t{page_capacity_} * 2);
      auto* list = static_cast<dng_memory_block**>(dng_raw_malloc(grown * sizeof(dng_memory_block*)));
      if (list == nullptr) throw_dng_code(dng_code_memory);
      if (page_count_ != 0) std::memcpy(list, pages_, page_count_ * sizeof(dng_memory_block*));
      std::free(pages_);
      pages_ = list;
      page_capacity_ = static_cast<uint32_t>(grown);
    }
    pages_[page_count_] = allocator_.NewBlock(page_size_);
    ++page_count_;
  }
  // Bytes that join the stream read as zeros, never as what a page held
  // before or whatever the allocator returned.
  for (uint32_t offset = storage_length_; offset < length;) {
    uint32_t within = offset % page_size_;
    uint32_t n = std::min(length - offset, page_size_ - within);
    std::memset(pages_[offset / page_size_]->Buffer_uint8() + within, 0, n);
    offset += n;
  }
  storage_length_ = length;
}

void dng_memory_stream::StorageWrite(const void* data, uint32_t count, uint32_t offset) {
  if (count > UINT32_MAX - offset) throw_dng_code(dng_code_memory);
  StorageResize(std::max(storage_length_, offset + count));
  CopyPages(static_cast<uint8_t*>(const_cast<void*>(data)), count, offset, true);
}

void dng_memory_stream::CopyPages(uint8_t* data, uint32_t count, uint32_t offset, bool to_pages) {
  while (count != 0) {
    uint32_t page = offset / page_size_;
    uint32_t within = offset % page_size_;
    uint32_t n = std::min(count, page_size_ - within);
    uint8_t* bytes = pages_[page]->Buffer_uint8() + within;
    if (to_pages) {
      std::memcpy(bytes, data, n);
    } else {
      std::memcpy(data, bytes, n);
    }
    data += n;
    offset += n;
    count -= n;
  }
}
