// Byte-order readers and the bounded reader through which the examiners
// turn file bytes into numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

// The only place where bytes become integers. Each reads exactly the bytes
// its name says from p, which the caller has bounds-checked.
inline uint16_t get_u16(const uint8_t* p, bool big_endian) {
  return big_endian ? static_cast<uint16_t>((p[0] << 8) | p[1])
                    : static_cast<uint16_t>((p[1] << 8) | p[0]);
}

inline uint32_t get_u32(const uint8_t* p, bool big_endian) {
  if (big_endian) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
  }
  return (uint32_t{p[3]} << 24) | (uint32_t{p[2]} << 16) | (uint32_t{p[1]} << 8) | p[0];
}

// A 64-bit value from 8 bytes; big-endian files hold the high half first.
inline uint64_t get_u64(const uint8_t* p, bool big_endian) {
  uint64_t first = get_u32(p, big_endian);
  uint64_t second = get_u32(p + 4, big_endian);
  return big_endian ? (first << 32) | second : (second << 32) | first;
}

// A 32-bit value converted to floating point as an unsigned integer.
inline double get_u32_as_real(const uint8_t* p, bool big_endian) {
  return static_cast<double>(get_u32(p, big_endian));
}

inline float get_float(const uint8_t* p, bool big_endian) {
  uint32_t bits = get_u32(p, big_endian);
  float value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

inline double get_double(const uint8_t* p, bool big_endian) {
  uint64_t bits = get_u64(p, big_endian);
  double value;
  memcpy(&value, &bits, sizeof value);
  return value;
}

struct Rational {
  uint32_t numerator;
  uint32_t denominator;
};

// A cursor over a span of bytes with a byte order. Every read checks that
// the bytes are there (without overflowing) and fails cleanly at the end,
// leaving the cursor where it was.
class ByteReader {
 public:
  ByteReader(const uint8_t* data, size_t size, bool big_endian)
      : data_(data), size_(data == nullptr ? 0 : size), big_endian_(big_endian) {}

  size_t size() const { return size_; }
  size_t position() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  bool big_endian() const { return big_endian_; }
  const uint8_t* data() const { return data_; }

  // True when n bytes are left at the cursor.
  bool has(size_t n) const { return n <= size_ - pos_; }

  bool seek(size_t pos) {
    if (pos > size_) return false;
    pos_ = pos;
    return true;
  }
  bool skip(size_t n) {
    if (!has(n)) return false;
    pos_ += n;
    return true;
  }
  bool u8(uint8_t* out) {
    if (!has(1)) return false;
    *out = data_[pos_++];
    return true;
  }
  bool u16(uint16_t* out) {
    if (!has(2)) return false;
    *out = get_u16(data_ + pos_, big_endian_);
    pos_ += 2;
    return true;
  }
  bool u32(uint32_t* out) {
    if (!has(4)) return false;
    *out = get_u32(data_ + pos_, big_endian_);
    pos_ += 4;
    return true;
  }
  bool rational(Rational* out) {
    if (!has(8)) return false;
    out->numerator = get_u32(data_ + pos_, big_endian_);
    out->denominator = get_u32(data_ + pos_ + 4, big_endian_);
    pos_ += 8;
    return true;
  }
  // Points *out at the next n bytes and steps over them.
  bool bytes(size_t n, const uint8_t** out) {
    if (!has(n)) return false;
    *out = data_ + pos_;
    pos_ += n;
    return true;
  }
  // A reader over length bytes at offset (from the span's start), with the
  // same byte order; an empty reader and false when they are not all there.
  bool sub(size_t offset, size_t length, ByteReader* out) const {
    if (offset > size_ || length > size_ - offset) return false;
    *out = ByteReader(data_ + offset, length, big_endian_);
    return true;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool big_endian_;
};

// Bytes per value of a TIFF field type (1 to 12); 0 for any other type.
inline constexpr uint32_t tiff_type_size(int type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

// The value bytes held in an entry's 4-byte value field: count values of
// the type's size when they fit in the field (never more than the four
// bytes the field has, never more than the count asks for); 0 bytes when
// the value lives elsewhere.
inline size_t inline_value_length(int type, uint32_t count) {
  uint64_t total = uint64_t{tiff_type_size(type)} * count;
  return total <= 4 ? static_cast<size_t>(total) : 0;
}
