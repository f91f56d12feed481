// The positioned, buffered byte stream through which the DNG code reads and
// writes every byte: a byte-order flag, typed getters and putters, TIFF tag
// value conversions, and an abstract storage of four operations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "dng/core/dng_endian.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_rational.h"

class dng_cancel_hook;
class dng_memory_allocator;
class dng_memory_block;

// Reads are served from a window of the storage (4096 bytes aligned to 4096
// for the owned buffer; a view's window is the caller's whole memory). Writes
// collect in the window until FlushBuffer. Positions and lengths are uint32;
// every bound is checked as "count <= end - position", so no sum wraps.
//
// Owned and used by one thread. Destruction never flushes: a writer calls
// FlushBuffer (or a subclass's checked close) itself. After a failure the
// stream stays usable for further seeks and reads.
class dng_stream {
 public:
  // A stream over storage, with an owned buffer of buffer_size bytes
  // (100005 when it cannot be allocated; 0 raises 100000).
  explicit dng_stream(dng_cancel_hook* hook = nullptr, uint32_t buffer_size = kBufferSize,
                      int32_t original_file_offset = 0);

  // A read-only view over count bytes of caller memory, which must outlive
  // the stream. Reading past count raises 100011; writing raises 100000.
  // Inline, so that a reader looping over a local view sees its window.
  dng_stream(const void* data, uint32_t count, int32_t original_file_offset = 0)
      : length_known_(true),
        view_(true),
        length_(count),
        original_file_offset_(original_file_offset),
        data_(static_cast<uint8_t*>(const_cast<void*>(data))),
        buffer_size_(count),
        window_end_(count),
        hook_(nullptr),
        write_limit_code_(dng_code_unknown) {
    Attach();
  }

  virtual ~dng_stream();

  dng_stream(const dng_stream&) = delete;
  dng_stream& operator=(const dng_stream&) = delete;

  static constexpr uint32_t kBufferSize = 4096;

  // True when multi-byte values are stored big-endian.
  bool IsByteSwapped() const { return swapped_; }
  void SetByteSwapped(bool swapped) { swapped_ = swapped; }

  // The length: asked of the storage once and cached; includes bytes written
  // into the window and not yet flushed.
  uint32_t TotalLength();

  uint32_t Position() const {
    return next_ != nullptr ? window_start_ + static_cast<uint32_t>(next_ - data_) : position_;
  }

  // Sets the position; beyond the length raises 100011 and leaves the
  // position unchanged. The length itself is allowed.
  void SeekForRead(uint32_t position);
  // Sets the position without any check.
  void SeekForWrite(uint32_t position) {
    CursorScope scope(*this);
    position_ = position;
  }

  // original-file offset + position, or 0xFFFFFFFF when the stream was not
  // cut from a file.
  uint32_t OriginalFilePosition() const;

  // Stores the window's written bytes, if any.
  void FlushBuffer();

  // Flushes, then makes the storage exactly length bytes long.
  void Resize(uint32_t length);

  // Flushes and reads the whole stream from position 0 into a new block of
  // the allocator, which the caller owns.
  dng_memory_block* CopyToMemoryBlock(dng_memory_allocator& allocator);

  // Reads count bytes. When fewer remain, copies those, advances past them,
  // then raises 100011.
  void GetBytes(void* data, uint32_t count);

  uint8_t GetUInt8() {
    if (next_ < end_) [[likely]] return *next_++;
    uint8_t value;
    GetBytes(&value, 1);
    return value;
  }
  uint16_t GetUInt16() {
    uint16_t value;
    GetRaw(&value, 2);
    return swapped_ ? __builtin_bswap16(value) : value;
  }
  uint32_t GetUInt32() {
    uint32_t value;
    GetRaw(&value, 4);
    return swapped_ ? __builtin_bswap32(value) : value;
  }
  int8_t GetInt8() { return static_cast<int8_t>(GetUInt8()); }
  int16_t GetInt16() { return static_cast<int16_t>(GetUInt16()); }
  int32_t GetInt32() { return static_cast<int32_t>(GetUInt32()); }
  // 4 bytes, reversed as one word when swapped, as an IEEE single.
  float GetReal32();
  // 8 bytes as an IEEE double, fully reversed when swapped.
  double GetReal64();

  // Writes count bytes at the position. A write that would end past
  // 0xFFFFFFFF is refused (100010; 100005 for memory streams).
  void PutBytes(const void* data, uint32_t count);
  void PutUInt8(uint8_t value);
  void PutUInt16(uint16_t value);
  void PutUInt32(uint32_t value);
  void PutReal32(float value);
  void PutReal64(double value);

  // One value of TIFF field type `type` read at the position, converted.
  // Conversions from reals saturate and NaN gives 0.
  uint32_t TagValueAsUInt32(uint32_t type);
  int32_t TagValueAsInt32(uint32_t type);
  // Types without a numeric reading (2, 7, 14, 15, unknown) give 0.0 and
  // read nothing.
  double TagValueAsReal64(uint32_t type);
  dng_unsigned_ratio TagValueAsURational(uint32_t type);
  dng_signed_ratio TagValueAsSRational(uint32_t type);

 protected:
  // The storage. The base versions raise 100000.
  virtual uint32_t StorageLength();
  // Reads exactly count bytes at offset.
  virtual void StorageRead(void* data, uint32_t count, uint32_t offset);
  virtual void StorageResize(uint32_t length);
  virtual void StorageWrite(const void* data, uint32_t count, uint32_t offset);

  // The code a write ending past 0xFFFFFFFF raises.
  void SetWriteLimitCode(int32_t code) { write_limit_code_ = code; }

 private:
  // count bytes from the window when they are all there, else GetBytes.
  void GetRaw(void* out, uint32_t count) {
    if (end_ - next_ >= static_cast<std::ptrdiff_t>(count)) [[likely]] {
      std::memcpy(out, next_, count);
      next_ += count;
      return;
    }
    GetBytes(out, count);
  }

  // The read cursor. While next_ is set the position is window_start_ +
  // (next_ - data_) and end_ marks the window end in the buffer; otherwise
  // position_ holds it and both are null. Every operation other than the
  // inline reads detaches first and attaches again when it is done.
  void Detach() {
    if (next_ != nullptr) {
      position_ = Position();
      next_ = nullptr;
      end_ = nullptr;
    }
  }
  void Attach() {
    next_ = nullptr;
    end_ = nullptr;
    uint32_t offset = position_ - window_start_;
    uint32_t size = window_end_ - window_start_;
    if (data_ != nullptr && offset <= size) {
      next_ = data_ + offset;
      end_ = data_ + size;
    }
  }
  // Detaches for its lifetime (also when an exception leaves); nested
  // scopes attach only when the outermost one ends.
  struct CursorScope {
    explicit CursorScope(dng_stream& stream) : s(stream) {
      if (s.detached_++ == 0) s.Detach();
    }
    ~CursorScope() {
      if (--s.detached_ == 0) s.Attach();
    }
    CursorScope(const CursorScope&) = delete;
    CursorScope& operator=(const CursorScope&) = delete;
    dng_stream& s;
  };
  void PollCancel();
  // Fills the window around the position (100011 when the position is at
  // or past the length).
  void Refill();

  bool swapped_ = false;
  bool length_known_ = false;
  bool view_ = false;
  bool dirty_ = false;
  uint32_t length_ = 0;
  int32_t original_file_offset_;
  uint32_t position_ = 0;
  const uint8_t* next_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint32_t detached_ = 0;  // depth of CursorScope
  dng_heap_buffer own_buffer_;
  uint8_t* data_ = nullptr;
  uint32_t buffer_size_;
  // The window holds the stream's bytes [window_start_, window_end_); its
  // limit is window_start_ + buffer_size_.
  uint32_t window_start_ = 0;
  uint32_t window_end_ = 0;
  dng_cancel_hook* hook_;
  int32_t write_limit_code_;
};
