// An owned malloc'd pointer (null meaning none) without a recorded size: the
// storage of texts and of scratch buffers.
#pragma once

#include <cstddef>

class dng_heap_buffer {
 public:
  dng_heap_buffer() = default;
  // Size 0 gives null; failure raises 100005.
  explicit dng_heap_buffer(size_t size);
  ~dng_heap_buffer() { Release(); }
  dng_heap_buffer(const dng_heap_buffer&) = delete;
  dng_heap_buffer& operator=(const dng_heap_buffer&) = delete;

  void* Buffer() const { return data_; }
  char* Buffer_char() const { return static_cast<char*>(data_); }

  // Frees the block, if any; the pointer becomes null.
  void Release();

  // Frees the current block (its contents are not kept), then allocates as
  // the sized constructor; on failure raises 100005 and stays null.
  void Resize(size_t size);

 private:
  void* data_ = nullptr;
};
