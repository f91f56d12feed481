// A growable stream over pages of memory blocks.
#pragma once

#include <cstdint>

#include "dng/core/dng_stream.h"

class dng_memory_allocator;
class dng_memory_block;

// Owns its pages, which are never freed before destruction (also when the
// length shrinks). Bytes that the length grows over read as zeros.
// Allocation failures, and lengths past 0xFFFFFFFF, raise 100005.
class dng_memory_stream : public dng_stream {
 public:
  // page_size of 0 raises 100000.
  explicit dng_memory_stream(dng_memory_allocator& allocator, dng_cancel_hook* hook = nullptr,
                             uint32_t page_size = 65536);
  ~dng_memory_stream() override;

  uint32_t PageCount() const { return page_count_; }

 protected:
  uint32_t StorageLength() override { return storage_length_; }
  void StorageRead(void* data, uint32_t count, uint32_t offset) override;
  void StorageResize(uint32_t length) override;
  void StorageWrite(const void* data, uint32_t count, uint32_t offset) override;

 private:
  // Copies count bytes between the pages from offset and data.
  void CopyPages(uint8_t* data, uint32_t count, uint32_t offset, bool to_pages);

  dng_memory_allocator& allocator_;
  uint32_t page_size_;
  uint32_t page_count_ = 0;
  uint32_t page_capacity_ = 0;
  dng_memory_block** pages_ = nullptr;  // malloc'd array of page_capacity_
  uint32_t storage_length_ = 0;
};
