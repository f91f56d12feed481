// Writes camera maker notes for the maker-note decoders' tests: a directory
// (laid out by TiffBuilder) wrapped in each maker's header form, and the
// JPEG or TIFF files that carry such a note in their EXIF directory.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// One maker-note directory: entries in the order given, values of more
// than four bytes in a data area after the directory.
class MakerNoteBuilder {
 public:
  explicit MakerNoteBuilder(bool big_endian = false) : big_endian_(big_endian) {}

  bool big_endian() const { return big_endian_; }

  // An entry whose value bytes are given in the note's byte order.
  MakerNoteBuilder& add(uint16_t tag, uint16_t type, uint32_t count, const std::string& value);
  // An entry whose 4-byte value field is given as it stands.
  MakerNoteBuilder& add_raw(uint16_t tag, uint16_t type, uint32_t count, uint32_t field);
  MakerNoteBuilder& add_byte(uint16_t tag, const std::vector<uint8_t>& values);
  // ASCII with its terminating zero byte (unless terminate is false).
  MakerNoteBuilder& add_ascii(uint16_t tag, const std::string& text, bool terminate = true);
  MakerNoteBuilder& add_short(uint16_t tag, const std::vector<uint16_t>& values);
  MakerNoteBuilder& add_long(uint16_t tag, const std::vector<uint32_t>& values);
  MakerNoteBuilder& add_rational(uint16_t tag, uint32_t numerator, uint32_t denominator);
  MakerNoteBuilder& add_srational(uint16_t tag, int32_t numerator, int32_t denominator);

  // The next-directory field (0 when not set).
  MakerNoteBuilder& set_next_raw(uint32_t offset);
  // The entry count written, when it should differ from the entries held.
  MakerNoteBuilder& set_count_raw(uint16_t count);

  // A note that starts with header, padded with zero bytes up to position,
  // where the directory goes; offsets of long values count from origin
  // (a position in the note).
  std::string build(const std::string& header, uint32_t position, uint32_t origin) const;

  std::string u16(uint16_t v) const;
  std::string u32(uint32_t v) const;

 private:
  struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;
    bool raw;
    uint32_t field;
  };
  bool big_endian_;
  std::vector<Entry> entries_;
  uint32_t next_ = 0;
  bool count_raw_set_ = false;
  uint16_t count_raw_ = 0;
};

// The header forms of the makers, each around the directory of b.
// A directory at the note's start (canon, casio, headerless nikon, ...).
std::string plain_note(const MakerNoteBuilder& b);
// "OLYMP", a zero byte and a version; directory at 8.
std::string olympus_note(const MakerNoteBuilder& b);
// "SANYO", a zero byte and a version; directory at 8.
std::string sanyo_note(const MakerNoteBuilder& b);
// "FUJIFILM" and the directory's position (12) as 16 bits little-endian;
// offsets count from the note's start. b should be little-endian.
std::string fujifilm_note(const MakerNoteBuilder& b);
// "Nikon", a zero byte and version 1.0; directory at 8.
std::string nikon1_note(const MakerNoteBuilder& b);
// "Nikon", a zero byte, the version (2.0 or 2.10), two zero bytes, then a
// TIFF header in b's byte order at 10 whose directory follows it; offsets
// count from that header.
std::string nikon2_note(const MakerNoteBuilder& b, uint16_t version = 0x0210);
// "QVC" and three zero bytes; directory at 6.
std::string casio_qvc_note(const MakerNoteBuilder& b);
// "AOC", a zero byte and the two-byte mark ("  " or two zero bytes);
// directory at 6.
std::string asahi_aoc_note(const MakerNoteBuilder& b, const std::string& mark);
// "LEICA", zero bytes; directory at 8.
std::string leica_note(const MakerNoteBuilder& b);
// "Panasonic" and three zero bytes; directory at 12.
std::string panasonic_note(const MakerNoteBuilder& b);
// "SIGMA" and three zero bytes (or "FOVEON" and two), two bytes of
// version; directory at 10.
std::string sigma_note(const MakerNoteBuilder& b, bool foveon = false);

// A JPEG whose EXIF APP1 segment holds a TIFF structure with Make and Model
// in the first directory and the note as the MakerNote of its EXIF
// directory.
std::string maker_note_jpeg(const std::string& make, const std::string& note, bool big_endian = false,
                            const std::string& model = "Test Model");
// A TIFF whose first directory holds Make and the MakerNote, which the
// worker's silent read reaches.
std::string maker_note_tiff(const std::string& make, const std::string& note, bool big_endian = false);

}  // namespace testing_support
