// Directory entries of TIFF files under construction, and the directory that
// sorts, sizes and writes them with their out-of-line values.
//
// An entry knows its code, field type and count and writes its value in the
// stream's byte order. Entries hold their values (or point at values that
// their owner keeps alive) and are borrowed by a tag_directory, so they must
// outlive the writing of that directory. Not copyable: several entries point
// into themselves.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_digest.h"
#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_rational.h"
#include "dng/core/dng_text.h"

class dng_color_space;
class dng_memory_block;
class dng_stream;
class dng_encoded_preview;

class tiff_tag {
 public:
  virtual ~tiff_tag() = default;
  tiff_tag(const tiff_tag&) = delete;
  tiff_tag& operator=(const tiff_tag&) = delete;

  uint16_t Code() const { return code_; }
  uint16_t Type() const { return type_; }
  uint32_t Count() const { return count_; }
  // count x the size of one value of the type, in 64 bits.
  uint64_t ValueByteCount() const;

  // Writes exactly ValueByteCount bytes at the stream's position.
  virtual void WriteValue(dng_stream& stream) const = 0;

 protected:
  tiff_tag(uint16_t code, uint16_t type, uint32_t count) : code_(code), type_(type), count_(count) {}
  void SetCount(uint32_t count) { count_ = count; }
  void SetType(uint16_t type) { type_ = type; }

 private:
  uint16_t code_;
  uint16_t type_;
  uint32_t count_;
};

// Values in memory in this machine's order. On a byte-swapped stream they
// are written word by word: SHORT, SSHORT and 14 as 16-bit words, DOUBLE as
// 64-bit, LONG, RATIONAL, SLONG, SRATIONAL, FLOAT, IFD and 15 as 32-bit
// words; every other type as bytes.
class tag_data_ptr : public tiff_tag {
 public:
  tag_data_ptr(uint16_t code, uint16_t type, uint32_t count, const void* data)
      : tiff_tag(code, type, count), data_(data) {}
  void WriteValue(dng_stream& stream) const override;

 protected:
  void SetData(const void* data) { data_ = data; }

 private:
  const void* data_;
};

class tag_uint8 : public tag_data_ptr {
 public:
  tag_uint8(uint16_t code, uint8_t value) : tag_data_ptr(code, 1, 1, &value_), value_(value) {}

 private:
  uint8_t value_;
};

class tag_uint16 : public tag_data_ptr {
 public:
  tag_uint16(uint16_t code, uint16_t value) : tag_data_ptr(code, 3, 1, &value_), value_(value) {}

 private:
  uint16_t value_;
};

class tag_uint32 : public tag_data_ptr {
 public:
  tag_uint32(uint16_t code, uint32_t value) : tag_data_ptr(code, 4, 1, &value_), value_(value) {}
  void Set(uint32_t value) { value_ = value; }

 private:
  uint32_t value_;
};

class tag_urational : public tag_data_ptr {
 public:
  tag_urational(uint16_t code, const dng_unsigned_ratio& value)
      : tag_data_ptr(code, 5, 1, &value_), value_(value) {}

 private:
  dng_unsigned_ratio value_;
};

class tag_srational : public tag_data_ptr {
 public:
  tag_srational(uint16_t code, const dng_signed_ratio& value)
      : tag_data_ptr(code, 10, 1, &value_), value_(value) {}

 private:
  dng_signed_ratio value_;
};

// Entries over a caller's array, which must outlive them.
class tag_uint8_ptr : public tag_data_ptr {
 public:
  tag_uint8_ptr(uint16_t code, const uint8_t* data, uint32_t count, uint16_t type = 1)
      : tag_data_ptr(code, type, count, data) {}
};

class tag_uint16_ptr : public tag_data_ptr {
 public:
  tag_uint16_ptr(uint16_t code, const uint16_t* data, uint32_t count)
      : tag_data_ptr(code, 3, count, data) {}
};

class tag_int16_ptr : public tag_data_ptr {
 public:
  tag_int16_ptr(uint16_t code, const int16_t* data, uint32_t count)
      : tag_data_ptr(code, 8, count, data) {}
};

class tag_uint32_ptr : public tag_data_ptr {
 public:
  tag_uint32_ptr(uint16_t code, const uint32_t* data, uint32_t count)
      : tag_data_ptr(code, 4, count, data) {}
};

class tag_urational_ptr : public tag_data_ptr {
 public:
  tag_urational_ptr(uint16_t code, const dng_unsigned_ratio* data, uint32_t count)
      : tag_data_ptr(code, 5, count, data) {}
};

class tag_srational_ptr : public tag_data_ptr {
 public:
  tag_srational_ptr(uint16_t code, const dng_signed_ratio* data, uint32_t count)
      : tag_data_ptr(code, 10, count, data) {}
};

// A dng_matrix, row by row, each entry as a signed rational over 10000.
class tag_matrix : public tag_srational_ptr {
 public:
  tag_matrix(uint16_t code, const dng_matrix& m);

 private:
  dng_signed_ratio values_[16];
};

// InterColorProfile (34675, UNDEFINED): the space's ICC profile; count 0
// without a space or without a profile.
class tag_icc_profile : public tag_data_ptr {
 public:
  explicit tag_icc_profile(const dng_color_space* space);
};

// An EXIF date-time text "YYYY:MM:DD HH:MM:SS" (ASCII, count 20); the
// buffer stays zero when the time is not in range.
class tag_exif_date_time : public tag_data_ptr {
 public:
  tag_exif_date_time(uint16_t code, const dng_calendar_time& time);

 private:
  char text_[20] = {};
};

// A text and its zero. ASCII type; with force_ascii the text is folded to
// ASCII first, without it a text that is not all ASCII is written as BYTE
// (its UTF-8 bytes).
class tag_string : public tiff_tag {
 public:
  tag_string(uint16_t code, const dng_text& text, bool force_ascii = true);
  void WriteValue(dng_stream& stream) const override;

 private:
  dng_text text_;
};

// An EXIF text with its character-code prefix (UNDEFINED): "ASCII\0\0\0"
// and the bytes for ASCII text, "UNICODE\0" and UTF-16 units in the
// stream's byte order for any other text.
class tag_encoded_text : public tiff_tag {
 public:
  tag_encoded_text(uint16_t code, const dng_text& text);
  void WriteValue(dng_stream& stream) const override;

 private:
  dng_text text_;
  dng_heap_buffer utf16_;
  uint32_t units_ = 0;
};

// IPTC/NAA (33723, LONG): the block, zero-padded to whole 32-bit words. The
// block is borrowed.
class tag_iptc : public tiff_tag {
 public:
  tag_iptc(const void* data, uint32_t length);
  void WriteValue(dng_stream& stream) const override;

 private:
  const void* data_;
  uint32_t length_;
};

// The EXIF CFAPattern (UNDEFINED): 16-bit column and row counts, then the
// colours column by column. The pattern is rows of 8 bytes, at most 8 x 8.
class tag_cfa_pattern : public tiff_tag {
 public:
  tag_cfa_pattern(uint16_t code, uint32_t rows, uint32_t cols, const uint8_t (*pattern)[8]);
  void WriteValue(dng_stream& stream) const override;

 private:
  uint32_t rows_;
  uint32_t cols_;
  uint8_t pattern_[8][8] = {};
};

// ImageResources (34377, BYTE): image resource blocks, always big-endian:
// the JPEG thumbnail (id 1036), the IPTC digest (id 1061) when not all
// zero, then the caller's resource bytes. Everything is borrowed.
class tag_image_resources : public tiff_tag {
 public:
  tag_image_resources(const dng_encoded_preview* thumbnail, const dng_digest& iptc_digest,
                      const dng_memory_block* resources);
  void WriteValue(dng_stream& stream) const override;

 private:
  const dng_encoded_preview* thumbnail_;
  dng_digest digest_;
  const dng_memory_block* resources_;
};

// One image file directory under construction: up to 100 borrowed entries
// sorted by code (equal codes keep their insertion order).
class tag_directory {
 public:
  static constexpr uint32_t kMaxEntries = 100;

  tag_directory() = default;
  virtual ~tag_directory() = default;
  tag_directory(const tag_directory&) = delete;
  tag_directory& operator=(const tag_directory&) = delete;

  // A 101st entry raises 100000.
  void Insert(const tiff_tag* tag);

  uint32_t Size() const { return count_; }
  const tiff_tag* Entry(uint32_t index) const { return entries_[index]; }

  // 0 when empty; else 2 + 12 x entries + 4 plus every value longer than 4
  // bytes rounded up to even. A directory past 4 GB raises 100000.
  uint32_t ByteSize() const;

  // Writes the directory at the stream's position P (offsets are P + ...),
  // with a next-directory offset of 0, then the long values in entry order.
  // Nothing for an empty directory.
  void WriteTo(dng_stream& stream) const;

 private:
  uint32_t count_ = 0;
  const tiff_tag* entries_[kMaxEntries] = {};
};
