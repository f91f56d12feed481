// Address space for decoding a very large strip or tile in one library call
// without the memory it would take.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// A writable range of `size` bytes of address space in which every window
// of kStripWindowBytes maps the same memory. Data written at an address
// reads back until as much again has been written after it, so a decoder
// that looks back at most that far (deflate looks back 32 KB, predictors one
// pixel) decodes correctly; what it wrote earlier is gone, which a check
// that only wants to know whether the data decodes does not need.
class StripWindow {
 public:
  // nullptr when the address space or the memory cannot be had.
  static std::unique_ptr<StripWindow> make(uint64_t size);
  ~StripWindow();
  StripWindow(const StripWindow&) = delete;
  StripWindow& operator=(const StripWindow&) = delete;

  void* data() const { return base_; }
  uint64_t size() const { return size_; }

 private:
  StripWindow(void* base, size_t reserved, uint64_t size) : base_(base), reserved_(reserved), size_(size) {}
  void* base_;
  size_t reserved_;
  uint64_t size_;
};

inline constexpr size_t kStripWindowBytes = 8 * 1024 * 1024;
// The largest range handed out: reserving more address space than this is
// refused, and pieces that large are read a row at a time instead.
inline constexpr uint64_t kMaxStripWindowRange = uint64_t{64} * 1024 * 1024 * 1024;
