// Writes TIFF structures byte by byte for the examiner's tests: directories
// with their entries in the order given, chained, with EXIF, GPS and SubIFD
// pointers, in either byte order, and the JPEG, FUJIFILM and MRW wrappers
// that carry a TIFF structure inside other files.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

class TiffBuilder {
 public:
  explicit TiffBuilder(bool big_endian = false) : big_endian_(big_endian) {}

  bool big_endian() const { return big_endian_; }

  // A new, empty directory; gives its index. Directory 0 is the first.
  int add_ifd();

  // An entry whose value bytes (already in the file's byte order) go in the
  // value field when they fit and after the directory when they do not.
  void add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const std::string& value);
  // An entry whose 4-byte value field is given as it stands.
  void add_raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t field);
  void add_byte(int ifd, uint16_t tag, const std::vector<uint8_t>& values);
  void add_undefined(int ifd, uint16_t tag, const std::string& bytes);
  void add_short(int ifd, uint16_t tag, const std::vector<uint16_t>& values);
  void add_long(int ifd, uint16_t tag, const std::vector<uint32_t>& values);
  // ASCII with its terminating zero byte (unless terminate is false).
  void add_ascii(int ifd, uint16_t tag, const std::string& text, bool terminate = true);
  void add_rational(int ifd, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& values);
  // A LONG entry holding the offsets of other directories (EXIF 34665,
  // GPS 34853, SubIFDs 330).
  void add_ifd_pointer(int ifd, uint16_t tag, const std::vector<int>& targets);

  void set_next(int ifd, int target);
  void set_next_raw(int ifd, uint32_t offset);
  // The entry count written for a directory, when it should differ from the
  // entries it has.
  void set_count_raw(int ifd, uint16_t count);
  void set_first_offset_raw(uint32_t offset);
  void set_magic(uint16_t magic);
  // Leaves the directory's next-offset field out (the file ends sooner).
  void omit_next_field(int ifd);

  // The TIFF bytes, from the header on. Offsets count from the header.
  std::string build();
  // Where a directory landed in the last build.
  uint32_t ifd_offset(int ifd) const { return ifds_.at(ifd).offset; }

  std::string u16(uint16_t v) const;
  std::string u32(uint32_t v) const;

 private:
  struct Entry {
    uint16_t tag;
    uint16_t type;
    uint32_t count;
    std::string value;                 // bytes in file order
    std::optional<uint32_t> field;     // raw value field
    std::vector<int> targets;          // directory pointers
    uint32_t value_offset = 0;         // set during layout
  };
  struct Ifd {
    std::vector<Entry> entries;
    std::optional<int> next;
    std::optional<uint32_t> next_raw;
    std::optional<uint16_t> count_raw;
    bool omit_next = false;
    uint32_t offset = 0;
  };

  bool big_endian_;
  uint16_t magic_ = 42;
  std::optional<uint32_t> first_raw_;
  std::vector<Ifd> ifds_;
};

// A JPEG whose first segment is an EXIF APP1 segment holding tiff.
std::string exif_jpeg(const std::string& tiff);
// A JFIF JPEG: an APP0 segment, one other segment, then the EXIF APP1
// segment holding tiff.
std::string jfif_exif_jpeg(const std::string& tiff);
// A Fuji RAF-style file: "FUJIFILM", then tiff at offset 160.
std::string fujifilm_file(const std::string& tiff);
// A Minolta MRW file: the MRM header, a PRD block, then the TTW block
// holding tiff.
std::string minolta_mrw(const std::string& tiff);

}  // namespace testing_support
