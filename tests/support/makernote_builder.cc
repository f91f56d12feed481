#include "support/makernote_builder.h"

#include "support/tiff_builder.h"

namespace testing_support {

MakerNoteBuilder& MakerNoteBuilder::add(uint16_t tag, uint16_t type, uint32_t count, const std::string& value) {
  entries_.push_back(Entry{tag, type, count, value, false, 0});
  return *this;
}

MakerNoteBuilder& MakerNoteBuilder::add_raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
  entries_.push_back(Entry{tag, type, count, "", true, field});
  return *this;
}

MakerNoteBuilder& MakerNoteBuilder::add_byte(uint16_t tag, const std::vector<uint8_t>& values) {
  return add(tag, 1, static_cast<uint32_t>(values.size()), std::string(values.begin(), values.end()));
}

MakerNoteBuilder& MakerNoteBuilder::add_ascii(uint16_t tag, const std::string& text, bool terminate) {
  std::string bytes = text;
  if (terminate) bytes.push_back('\0');
  return add(tag, 2, static_cast<uint32_t>(bytes.size()), bytes);
}

MakerNoteBuilder& MakerNoteBuilder::add_short(uint16_t tag, const std::vector<uint16_t>& values) {
  std::string bytes;
  for (uint16_t v : values) bytes += u16(v);
  return add(tag, 3, static_cast<uint32_t>(values.size()), bytes);
}

MakerNoteBuilder& MakerNoteBuilder::add_long(uint16_t tag, const std::vector<uint32_t>& values) {
  std::string bytes;
  for (uint32_t v : values) bytes += u32(v);
  return add(tag, 4, static_cast<uint32_t>(values.size()), bytes);
}

MakerNoteBuilder& MakerNoteBuilder::add_rational(uint16_t tag, uint32_t numerator, uint32_t denominator) {
  return add(tag, 5, 1, u32(numerator) + u32(denominator));
}

MakerNoteBuilder& MakerNoteBuilder::add_srational(uint16_t tag, int32_t numerator, int32_t denominator) {
  return add(tag, 10, 1, u32(static_cast<uint32_t>(numerator)) + u32(static_cast<uint32_t>(denominator)));
}

MakerNoteBuilder& MakerNoteBuilder::set_next_raw(uint32_t offset) {
  next_ = offset;
  return *this;
}

MakerNoteBuilder& MakerNoteBuilder::set_count_raw(uint16_t count) {
  count_raw_set_ = true;
  count_raw_ = count;
  return *this;
}

std::string MakerNoteBuilder::u16(uint16_t v) const { return TiffBuilder(big_endian_).u16(v); }
std::string MakerNoteBuilder::u32(uint32_t v) const { return TiffBuilder(big_endian_).u32(v); }

std::string MakerNoteBuilder::build(const std::string& header, uint32_t position, uint32_t origin) const {
  // The directory is laid out by TiffBuilder with every long value given as
  // a raw offset into the data area that follows the directory here.
  TiffBuilder tiff(big_endian_);
  const int ifd = tiff.add_ifd();
  const uint32_t directory_size = 2 + 12 * static_cast<uint32_t>(entries_.size()) + 4;
  uint32_t data_at = position + directory_size;
  std::string data;
  for (const Entry& e : entries_) {
    if (e.raw) {
      tiff.add_raw(ifd, e.tag, e.type, e.count, e.field);
    } else if (e.value.size() <= 4) {
      tiff.add(ifd, e.tag, e.type, e.count, e.value);
    } else {
      tiff.add_raw(ifd, e.tag, e.type, e.count, data_at + static_cast<uint32_t>(data.size()) - origin);
      data += e.value;
      if (data.size() & 1) data.push_back('\0');
    }
  }
  tiff.set_next_raw(ifd, next_);
  if (count_raw_set_) tiff.set_count_raw(ifd, count_raw_);
  const std::string directory = tiff.build().substr(8, directory_size);

  std::string note = header;
  if (note.size() < position) note.resize(position, '\0');
  note.resize(position);
  return note + directory + data;
}

std::string plain_note(const MakerNoteBuilder& b) { return b.build("", 0, 0); }

std::string olympus_note(const MakerNoteBuilder& b) { return b.build(std::string("OLYMP\0\1\0", 8), 8, 0); }

std::string sanyo_note(const MakerNoteBuilder& b) { return b.build(std::string("SANYO\0\1\0", 8), 8, 0); }

std::string fujifilm_note(const MakerNoteBuilder& b) {
  return b.build(std::string("FUJIFILM\x0C\0\0\0", 12), 12, 0);
}

std::string nikon1_note(const MakerNoteBuilder& b) { return b.build(std::string("Nikon\0\1\0", 8), 8, 0); }

std::string nikon2_note(const MakerNoteBuilder& b, uint16_t version) {
  std::string header = std::string("Nikon\0", 6);
  header.push_back(static_cast<char>(version >> 8));
  header.push_back(static_cast<char>(version & 0xFF));
  header += std::string(2, '\0');
  header += b.big_endian() ? "MM" : "II";
  header += b.u16(42) + b.u32(8);
  return b.build(header, 18, 10);
}

std::string casio_qvc_note(const MakerNoteBuilder& b) { return b.build(std::string("QVC\0\0\0", 6), 6, 0); }

std::string asahi_aoc_note(const MakerNoteBuilder& b, const std::string& mark) {
  return b.build(std::string("AOC\0", 4) + mark, 6, 0);
}

std::string leica_note(const MakerNoteBuilder& b) { return b.build(std::string("LEICA\0\0\0", 8), 8, 0); }

std::string panasonic_note(const MakerNoteBuilder& b) {
  return b.build(std::string("Panasonic\0\0\0", 12), 12, 0);
}

std::string sigma_note(const MakerNoteBuilder& b, bool foveon) {
  const std::string header = foveon ? std::string("FOVEON\0\0\1\0", 10) : std::string("SIGMA\0\0\0\1\0", 10);
  return b.build(header, 10, 0);
}

std::string maker_note_jpeg(const std::string& make, const std::string& note, bool big_endian,
                            const std::string& model) {
  TiffBuilder tiff(big_endian);
  const int first = tiff.add_ifd();
  const int exif = tiff.add_ifd();
  tiff.add_ascii(first, 271, make);
  tiff.add_ascii(first, 272, model);
  tiff.add_ifd_pointer(first, 34665, {exif});
  tiff.add_ascii(exif, 36868, "2024:01:02 03:04:05");
  tiff.add_undefined(exif, 37500, note);
  return exif_jpeg(tiff.build());
}

std::string maker_note_tiff(const std::string& make, const std::string& note, bool big_endian) {
  TiffBuilder tiff(big_endian);
  const int first = tiff.add_ifd();
  tiff.add_long(first, 256, {1});
  tiff.add_long(first, 257, {1});
  tiff.add_ascii(first, 271, make);
  tiff.add_undefined(first, 37500, note);
  return tiff.build();
}

}  // namespace testing_support
