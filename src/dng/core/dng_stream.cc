// dng_stream: window management, typed access and tag value conversions.
#include "dng/core/dng_stream.h"

#include <algorithm>

#include "dng/core/dng_area_task.h"  // dng_cancel_hook
#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_rounding.h"
#include "dng/core/dng_tag_types.h"

dng_stream::dng_stream(dng_cancel_hook* hook, uint32_t buffer_size, int32_t original_file_offset)
    : original_file_offset_(original_file_offset),
      buffer_size_(buffer_size),
      hook_(hook),
      write_limit_code_(dng_code_write_file) {
  if (buffer_size == 0) throw_dng_code(dng_code_unknown);
  own_buffer_.Resize(buffer_size);
  data_ = static_cast<uint8_t*>(own_buffer_.Buffer());
}

dng_stream::~dng_stream() = default;

uint32_t dng_stream::StorageLength() { throw_dng_code(dng_code_unknown); }
void dng_stream::StorageRead(void*, uint32_t, uint32_t) { throw_dng_code(dng_code_unknown); }
void dng_stream::StorageResize(uint32_t) { throw_dng_code(dng_code_unknown); }
void dng_stream::StorageWrite(const void*, uint32_t, uint32_t) { throw_dng_code(dng_code_unknown); }

void dng_stream::PollCancel() {
  if (hook_ != nullptr) hook_->Poll();
}

uint32_t dng_stream::TotalLength() {
  if (!length_known_) {
    length_ = StorageLength();
    length_known_ = true;
  }
  return dirty_ ? std::max(length_, window_end_) : length_;
}

void dng_stream::SeekForRead(uint32_t position) {
  CursorScope scope(*this);
  if (position > TotalLength()) throw_dng_code(dng_code_end_of_file);
  position_ = position;
}

uint32_t dng_stream::OriginalFilePosition() const {
  if (original_file_offset_ == -1) return 0xFFFFFFFFu;
  return static_cast<uint32_t>(original_file_offset_) + Position();
}

void dng_stream::FlushBuffer() {
  if (!dirty_) return;
  CursorScope scope(*this);
  PollCancel();
  StorageWrite(data_, window_end_ - window_start_, window_start_);
  if (length_known_ && length_ < window_end_) length_ = window_end_;
  window_start_ = 0;
  window_end_ = 0;
  dirty_ = false;
}

void dng_stream::Resize(uint32_t length) {
  FlushBuffer();
  CursorScope scope(*this);
  if (length != TotalLength()) {
    StorageResize(length);
    length_ = length;
    length_known_ = true;
  }
  // What the window holds past the new end is no longer part of the stream.
  if (!view_ && window_end_ > length) window_end_ = std::max(window_start_, length);
}

dng_memory_block* dng_stream::CopyToMemoryBlock(dng_memory_allocator& allocator) {
  FlushBuffer();
  uint32_t length = TotalLength();
  dng_memory_block* block = allocator.NewBlock(length);
  try {
    SeekForRead(0);
    GetBytes(block->Buffer(), length);
  } catch (...) {
    delete block;
    throw;
  }
  return block;
}

void dng_stream::Refill() {
  uint32_t length = TotalLength();
  if (position_ >= length) throw_dng_code(dng_code_end_of_file);
  uint32_t start = buffer_size_ >= kBufferSize ? position_ & ~(kBufferSize - 1) : position_;
  uint32_t end = length - start < buffer_size_ ? length : start + buffer_size_;
  PollCancel();
  // The window is empty while it is being filled, so a failed read leaves
  // no stale bytes behind.
  window_start_ = 0;
  window_end_ = 0;
  StorageRead(data_, end - start, start);
  window_start_ = start;
  window_end_ = end;
}

void dng_stream::GetBytes(void* data, uint32_t count) {
  CursorScope scope(*this);
  uint8_t* out = static_cast<uint8_t*>(data);
  while (count != 0) {
    uint32_t offset = position_ - window_start_;
    uint32_t available = window_end_ - window_start_;
    if (offset <= available) {
      uint32_t n = std::min(count, available - offset);
      if (n != 0) dng_pixel_kernels.CopyBlock(data_ + offset, out, n);
      position_ += n;
      out += n;
      count -= n;
      if (count == 0) return;
    }
    if (view_) throw_dng_code(dng_code_end_of_file);
    FlushBuffer();
    if (count >= buffer_size_) {
      // A window or more: straight into the caller's memory, with the same
      // bytes, position and errors as through the window.
      uint32_t length = TotalLength();
      if (position_ >= length) throw_dng_code(dng_code_end_of_file);
      uint32_t n = std::min(count, length - position_);
      PollCancel();
      StorageRead(out, n, position_);
      position_ += n;
      out += n;
      count -= n;
      if (count != 0) throw_dng_code(dng_code_end_of_file);
      return;
    }
    Refill();
  }
}

float dng_stream::GetReal32() {
  uint32_t bits = GetUInt32();
  float value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

double dng_stream::GetReal64() {
  uint64_t bits;
  GetRaw(&bits, 8);
  if (swapped_) bits = __builtin_bswap64(bits);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

void dng_stream::PutBytes(const void* data, uint32_t count) {
  if (view_) throw_dng_code(dng_code_unknown);
  if (count == 0) return;
  CursorScope scope(*this);
  if (count > UINT32_MAX - position_) throw_dng_code(write_limit_code_);
  const uint8_t* in = static_cast<const uint8_t*>(data);
  uint32_t end = position_ + count;
  uint32_t offset = position_ - window_start_;
  if (dirty_ && offset <= window_end_ - window_start_ && count <= buffer_size_ - offset) {
    dng_pixel_kernels.CopyBlock(in, data_ + offset, count);
    window_end_ = std::max(window_end_, end);
    position_ = end;
    return;
  }
  FlushBuffer();
  if (count < buffer_size_) {
    window_start_ = position_;
    window_end_ = end;
    dirty_ = true;
    dng_pixel_kernels.CopyBlock(in, data_, count);
    position_ = end;
    return;
  }
  // A read window may hold the old bytes of the range written.
  window_start_ = 0;
  window_end_ = 0;
  PollCancel();
  StorageWrite(in, count, position_);
  if (length_known_ && length_ < end) length_ = end;
  position_ = end;
}

void dng_stream::PutUInt8(uint8_t value) {
  CursorScope scope(*this);
  uint32_t offset = position_ - window_start_;
  if (dirty_ && offset <= window_end_ - window_start_ && offset < buffer_size_ && position_ != UINT32_MAX) {
    data_[offset] = value;
    ++position_;
    window_end_ = std::max(window_end_, position_);
    return;
  }
  PutBytes(&value, 1);
}

void dng_stream::PutUInt16(uint16_t value) {
  if (swapped_) value = __builtin_bswap16(value);
  PutBytes(&value, 2);
}

void dng_stream::PutUInt32(uint32_t value) {
  if (swapped_) value = __builtin_bswap32(value);
  PutBytes(&value, 4);
}

void dng_stream::PutReal32(float value) {
  uint32_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  PutUInt32(bits);
}

void dng_stream::PutReal64(double value) {
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  if (swapped_) bits = __builtin_bswap64(bits);
  PutBytes(&bits, 8);
}

double dng_stream::TagValueAsReal64(uint32_t type) {
  switch (type) {
    case dng_type_byte:
      return GetUInt8();
    case dng_type_short:
      return GetUInt16();
    case dng_type_long:
    case dng_type_ifd:
      return GetUInt32();
    case dng_type_sbyte:
      return GetInt8();
    case dng_type_sshort:
      return GetInt16();
    case dng_type_slong:
      return GetInt32();
    case dng_type_rational: {
      uint32_t n = GetUInt32();
      uint32_t d = GetUInt32();
      return d == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(d);
    }
    case dng_type_srational: {
      int32_t n = GetInt32();
      int32_t d = GetInt32();
      return d == 0 ? 0.0 : static_cast<double>(n) / static_cast<double>(d);
    }
    case dng_type_float:
      return GetReal32();
    case dng_type_double:
      return GetReal64();
    default:
      return 0.0;
  }
}

uint32_t dng_stream::TagValueAsUInt32(uint32_t type) {
  switch (type) {
    case dng_type_byte:
      return GetUInt8();
    case dng_type_short:
      return GetUInt16();
    case dng_type_long:
    case dng_type_ifd:
      return GetUInt32();
    default:
      // Below 0 gives 0, from 2^32 - 1 up the largest value, NaN 0.
      return round_half_up_uint32(TagValueAsReal64(type));
  }
}

int32_t dng_stream::TagValueAsInt32(uint32_t type) {
  switch (type) {
    case dng_type_sbyte:
      return GetInt8();
    case dng_type_sshort:
      return GetInt16();
    case dng_type_slong:
      return GetInt32();
    default:
      return round_half_away_int32(TagValueAsReal64(type));
  }
}

namespace {

// |n| of a signed 32-bit value as unsigned (the most negative value too).
uint32_t magnitude(int32_t n) { return n < 0 ? 0u - static_cast<uint32_t>(n) : static_cast<uint32_t>(n); }

}  // namespace

dng_unsigned_ratio dng_stream::TagValueAsURational(uint32_t type) {
  switch (type) {
    case dng_type_byte:
      return {GetUInt8(), 1};
    case dng_type_short:
      return {GetUInt16(), 1};
    case dng_type_long:
    case dng_type_ifd:
      return {GetUInt32(), 1};
    case dng_type_rational: {
      uint32_t n = GetUInt32();
      uint32_t d = GetUInt32();
      return {n, d};
    }
    case dng_type_sbyte:
    case dng_type_sshort:
    case dng_type_slong: {
      int32_t n = type == dng_type_sbyte ? GetInt8() : type == dng_type_sshort ? GetInt16() : GetInt32();
      return n > 0 ? dng_unsigned_ratio(static_cast<uint32_t>(n), 1) : dng_unsigned_ratio(0, 1);
    }
    case dng_type_srational: {
      int32_t n = GetInt32();
      int32_t d = GetInt32();
      if ((n < 0) == (d < 0)) return {magnitude(n), magnitude(d)};
      return {0, 1};
    }
    default: {
      double x = TagValueAsReal64(type);
      if (!(x > 0.0)) return {0, 1};
      uint32_t d = 1;
      while (d < 10000 && x < 1000000.0) {
        d *= 10;
        x *= 10.0;
      }
      return {round_half_up_uint32(x), d};
    }
  }
}

dng_signed_ratio dng_stream::TagValueAsSRational(uint32_t type) {
  if (type == dng_type_srational) {
    int32_t n = GetInt32();
    int32_t d = GetInt32();
    return {n, d};
  }
  double x = TagValueAsReal64(type);
  int32_t d = 1;
  if (x > 0.0) {
    while (d < 10000 && x < 1000000.0) {
      d *= 10;
      x *= 10.0;
    }
    return {round_half_up_int32(x), d};
  }
  while (d < 10000 && x > -1000000.0) {
    d *= 10;
    x *= 10.0;
  }
  return {saturating_cast<int32_t>(x - 0.5), d};
}
