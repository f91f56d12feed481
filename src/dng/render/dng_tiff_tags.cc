#include "dng/render/dng_tiff_tags.h"

#include <cstdio>
#include <cstring>

#include "dng/core/dng_byte_order_guard.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_tag_sets.h"

namespace {

uint32_t even(uint64_t n) { return static_cast<uint32_t>((n + 1) & ~uint64_t(1)); }

void put_zeros(dng_stream& stream, uint32_t count) {
  static const uint8_t zeros[8] = {};
  while (count > 0) {
    const uint32_t n = count < 8 ? count : 8;
    stream.PutBytes(zeros, n);
    count -= n;
  }
}

}  // namespace

uint64_t tiff_tag::ValueByteCount() const { return uint64_t(count_) * tag_type_size(type_); }

void tag_data_ptr::WriteValue(dng_stream& stream) const {
  const uint64_t bytes = ValueByteCount();
  if (bytes == 0) return;
  if (bytes > 0xFFFFFFFFu) throw_dng_code(dng_code_unknown);
  if (!stream.IsByteSwapped()) {
    stream.PutBytes(data_, static_cast<uint32_t>(bytes));
    return;
  }
  const uint8_t* p = static_cast<const uint8_t*>(data_);
  switch (Type()) {
    case 3: case 8: case 14:
      for (uint64_t i = 0; i < bytes; i += 2) {
        uint16_t v;
        std::memcpy(&v, p + i, 2);
        stream.PutUInt16(v);
      }
      break;
    case 12:
      for (uint64_t i = 0; i < bytes; i += 8) {
        double v;
        std::memcpy(&v, p + i, 8);
        stream.PutReal64(v);
      }
      break;
    case 4: case 5: case 9: case 10: case 11: case 13: case 15:
      for (uint64_t i = 0; i < bytes; i += 4) {
        uint32_t v;
        std::memcpy(&v, p + i, 4);
        stream.PutUInt32(v);
      }
      break;
    default:
      stream.PutBytes(p, static_cast<uint32_t>(bytes));
      break;
  }
}

tag_matrix::tag_matrix(uint16_t code, const dng_matrix& m) : tag_srational_ptr(code, values_, 0) {
  uint32_t count = 0;
  for (uint32_t row = 0; row < m.Rows(); ++row) {
    for (uint32_t col = 0; col < m.Cols(); ++col) values_[count++].FromReal(m[row][col], 10000);
  }
  SetCount(count);
}

tag_icc_profile::tag_icc_profile(const dng_color_space* space) : tag_data_ptr(34675, 7, 0, nullptr) {
  uint32_t size = 0;
  const uint8_t* data = nullptr;
  if (space != nullptr && space->IccProfileBytes(size, data) && data != nullptr) {
    SetData(data);
    SetCount(size);
  }
}

tag_exif_date_time::tag_exif_date_time(uint16_t code, const dng_calendar_time& time)
    : tag_data_ptr(code, 2, 20, text_) {
  if (time.InRange()) {
    std::snprintf(text_, sizeof(text_), "%04u:%02u:%02u %02u:%02u:%02u", time.year, time.month,
                  time.day, time.hour, time.minute, time.second);
  }
}

tag_string::tag_string(uint16_t code, const dng_text& text, bool force_ascii)
    : tiff_tag(code, 2, 0), text_(text) {
  if (force_ascii) {
    text_.FoldToASCII();
  } else if (!text_.AllASCII()) {
    SetType(1);
  }
  SetCount(text_.ByteLength() + 1);
}

void tag_string::WriteValue(dng_stream& stream) const {
  stream.PutBytes(text_.CStr(), text_.ByteLength() + 1);
}

tag_encoded_text::tag_encoded_text(uint16_t code, const dng_text& text)
    : tiff_tag(code, 7, 0), text_(text) {
  if (text_.AllASCII()) {
    SetCount(text_.ByteLength() + 8);
  } else {
    units_ = text_.ToUTF16Units(utf16_);
    SetCount(2 * units_ + 8);
  }
}

void tag_encoded_text::WriteValue(dng_stream& stream) const {
  if (units_ == 0 && text_.AllASCII()) {
    stream.PutBytes("ASCII\0\0\0", 8);
    stream.PutBytes(text_.CStr(), text_.ByteLength());
    return;
  }
  stream.PutBytes("UNICODE\0", 8);
  const uint16_t* units = static_cast<const uint16_t*>(utf16_.Buffer());
  for (uint32_t i = 0; i < units_; ++i) stream.PutUInt16(units[i]);
}

tag_iptc::tag_iptc(const void* data, uint32_t length)
    : tiff_tag(33723, 4, static_cast<uint32_t>((uint64_t(length) + 3) / 4)), data_(data), length_(length) {}

void tag_iptc::WriteValue(dng_stream& stream) const {
  stream.PutBytes(data_, length_);
  put_zeros(stream, static_cast<uint32_t>(uint64_t(Count()) * 4 - length_));
}

tag_cfa_pattern::tag_cfa_pattern(uint16_t code, uint32_t rows, uint32_t cols, const uint8_t (*pattern)[8])
    : tiff_tag(code, 7, 0), rows_(rows > 8 ? 8 : rows), cols_(cols > 8 ? 8 : cols) {
  for (uint32_t r = 0; r < rows_; ++r) std::memcpy(pattern_[r], pattern[r], 8);
  SetCount(rows_ * cols_ + 4);
}

void tag_cfa_pattern::WriteValue(dng_stream& stream) const {
  stream.PutUInt16(static_cast<uint16_t>(cols_));
  stream.PutUInt16(static_cast<uint16_t>(rows_));
  for (uint32_t c = 0; c < cols_; ++c) {
    for (uint32_t r = 0; r < rows_; ++r) stream.PutUInt8(pattern_[r][c]);
  }
}

namespace {

uint64_t image_resources_size(const dng_encoded_preview* thumbnail, const dng_digest& digest,
                              const dng_memory_block* resources) {
  uint64_t size = 0;
  if (thumbnail != nullptr && thumbnail->jpeg != nullptr) {
    size = uint64_t(thumbnail->jpeg->Size()) + 40;
    size += size & 1;
  }
  if (!digest.IsZero()) size += 28;
  if (resources != nullptr && resources->Size() != 0) {
    size += resources->Size();
    size += size & 1;
  }
  return size;
}

}  // namespace

tag_image_resources::tag_image_resources(const dng_encoded_preview* thumbnail,
                                         const dng_digest& iptc_digest,
                                         const dng_memory_block* resources)
    : tiff_tag(34377, 1, 0),
      thumbnail_(thumbnail != nullptr && thumbnail->jpeg != nullptr ? thumbnail : nullptr),
      digest_(iptc_digest),
      resources_(resources != nullptr && resources->Size() != 0 ? resources : nullptr) {
  const uint64_t size = image_resources_size(thumbnail_, digest_, resources_);
  if (size > 0xFFFFFFFFu) throw_dng_code(dng_code_unknown);
  SetCount(static_cast<uint32_t>(size));
}

void tag_image_resources::WriteValue(dng_stream& stream) const {
  TempBigEndian big_endian(stream);
  if (thumbnail_ != nullptr) {
    const uint32_t length = thumbnail_->jpeg->Size();
    const uint32_t row_bytes = (thumbnail_->width * 24 + 31) / 32 * 4;
    stream.PutBytes("8BIM", 4);
    stream.PutUInt16(1036);
    stream.PutUInt16(0);
    stream.PutUInt32(length + 28);
    stream.PutUInt32(1);
    stream.PutUInt32(thumbnail_->width);
    stream.PutUInt32(thumbnail_->height);
    stream.PutUInt32(row_bytes);
    stream.PutUInt32(row_bytes * thumbnail_->height);
    stream.PutUInt32(length);
    stream.PutUInt16(24);
    stream.PutUInt16(1);
    stream.PutBytes(thumbnail_->jpeg->Buffer(), length);
    if (length & 1) stream.PutUInt8(0);
  }
  if (!digest_.IsZero()) {
    stream.PutBytes("8BIM", 4);
    stream.PutUInt16(1061);
    stream.PutUInt16(0);
    stream.PutUInt32(dng_digest::kBytes);
    stream.PutBytes(digest_.data, dng_digest::kBytes);
  }
  if (resources_ != nullptr) {
    stream.PutBytes(resources_->Buffer(), resources_->Size());
    if (resources_->Size() & 1) stream.PutUInt8(0);
  }
}

void tag_directory::Insert(const tiff_tag* tag) {
  if (count_ >= kMaxEntries) throw_dng_code(dng_code_unknown);
  uint32_t at = count_;
  while (at > 0 && entries_[at - 1]->Code() > tag->Code()) {
    entries_[at] = entries_[at - 1];
    --at;
  }
  entries_[at] = tag;
  ++count_;
}

uint32_t tag_directory::ByteSize() const {
  if (count_ == 0) return 0;
  uint64_t size = 2 + 12 * uint64_t(count_) + 4;
  for (uint32_t i = 0; i < count_; ++i) {
    const uint64_t bytes = entries_[i]->ValueByteCount();
    if (bytes > 4) size += even(bytes);
  }
  if (size > 0xFFFFFFFFu) throw_dng_code(dng_code_unknown);
  return static_cast<uint32_t>(size);
}

void tag_directory::WriteTo(dng_stream& stream) const {
  if (count_ == 0) return;
  const uint32_t size = ByteSize();
  const uint32_t start = stream.Position();
  if (size > 0xFFFFFFFFu - start) throw_dng_code(dng_code_unknown);
  uint32_t offset = start + 12 * count_ + 6;
  stream.PutUInt16(static_cast<uint16_t>(count_));
  for (uint32_t i = 0; i < count_; ++i) {
    const tiff_tag& tag = *entries_[i];
    const uint64_t bytes = tag.ValueByteCount();
    stream.PutUInt16(tag.Code());
    stream.PutUInt16(tag.Type());
    stream.PutUInt32(tag.Count());
    if (bytes <= 4) {
      tag.WriteValue(stream);
      put_zeros(stream, static_cast<uint32_t>(4 - bytes));
    } else {
      stream.PutUInt32(offset);
      offset += even(bytes);
    }
  }
  stream.PutUInt32(0);
  for (uint32_t i = 0; i < count_; ++i) {
    const tiff_tag& tag = *entries_[i];
    const uint64_t bytes = tag.ValueByteCount();
    if (bytes > 4) {
      tag.WriteValue(stream);
      if (bytes & 1) stream.PutUInt8(0);
    }
  }
}
