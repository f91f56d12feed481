// Memory blocks: a logical size and a data pointer aligned to 16 bytes, with
// 64 bytes of slack past the end. Large buffers of the DNG code (pixels,
// stream pages, tables, task buffers) are blocks made by an allocator.
#pragma once

#include <cstddef>
#include <cstdint>

// A block of memory that its owner deletes through the virtual destructor.
class dng_memory_block {
 public:
  virtual ~dng_memory_block() = default;
  dng_memory_block(const dng_memory_block&) = delete;
  dng_memory_block& operator=(const dng_memory_block&) = delete;

  uint32_t Size() const { return size_; }
  void* Buffer() const { return data_; }
  uint8_t* Buffer_uint8() const { return static_cast<uint8_t*>(data_); }

 protected:
  dng_memory_block(uint32_t size, void* data) : size_(size), data_(data) {}
  void SetData(void* data) { data_ = data; }

 private:
  uint32_t size_;
  void* data_;
};

// A block whose raw storage comes from malloc: size + 64 bytes, the data
// pointer rounded up to a multiple of 16. A size whose raw allocation would
// not fit 32 bits, or a failed malloc, raises 100005.
class dng_malloc_block : public dng_memory_block {
 public:
  explicit dng_malloc_block(uint32_t size);
  ~dng_malloc_block() override;

 private:
  void* raw_;
};

// The function that supplies raw storage to blocks and heap buffers
// (malloc). Tests swap it to simulate exhaustion; returns the previous one.
using dng_raw_malloc_fn = void* (*)(size_t);
dng_raw_malloc_fn exchange_dng_raw_malloc(dng_raw_malloc_fn fn);

// Raw storage of `bytes` through the current function; null on failure.
void* dng_raw_malloc(size_t bytes);
