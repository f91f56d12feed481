// Writes X3F files byte by byte for the examiner's tests: the 232-byte
// header, the sections in order (raw bytes or a PROP section of
// properties), and the directory of sections at the end with its offset in
// the file's last 4 bytes. Everything little-endian.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

// A PROP section: its 24-byte header, the table of name and value offsets
// (16-bit units into the character data) and the UTF-16 character data.
class X3fProperties {
 public:
  // A property whose name and value are written as zero-ended UTF-16
  // strings (each character of the given text as one unit).
  X3fProperties& add(const std::string& name, const std::string& value);
  // A table row pointing wherever it is told.
  X3fProperties& add_raw(uint32_t name_offset, uint32_t value_offset);
  // Units appended to the character data as they stand.
  X3fProperties& add_characters(const std::vector<uint16_t>& units);
  // Header fields written instead of the true ones.
  X3fProperties& set_count_raw(uint32_t count);
  X3fProperties& set_character_length_raw(uint32_t units);

  std::string build() const;

 private:
  std::vector<std::pair<uint32_t, uint32_t>> table_;
  std::vector<uint16_t> characters_;
  std::optional<uint32_t> count_raw_;
  std::optional<uint32_t> characters_raw_;
};

class X3fBuilder {
 public:
  // Version 2.2, a fixed identifier, 640 x 480, no rotation, no label.
  X3fBuilder();

  // The 16-bit halves at bytes 4 and 6.
  X3fBuilder& set_version(uint16_t at4, uint16_t at6);
  X3fBuilder& set_size(uint32_t columns, uint32_t rows, uint32_t rotation);
  // Up to 32 bytes of label; a label of 32 has no zero byte.
  X3fBuilder& set_white_balance(const std::string& label);
  X3fBuilder& set_extended(int slot, uint8_t type, uint32_t value);

  // A section of the given 4-character type holding bytes.
  X3fBuilder& add_section(const std::string& type, const std::string& bytes);
  X3fBuilder& add_properties(const X3fProperties& properties);
  // A directory entry as given, with no section behind it.
  X3fBuilder& add_entry_raw(uint32_t offset, uint32_t length, const std::string& type);

  X3fBuilder& set_directory_id(const std::string& id);
  X3fBuilder& set_entry_count_raw(uint32_t count);
  // The value of the file's last 4 bytes.
  X3fBuilder& set_directory_pointer_raw(uint32_t offset);

  std::string build();

  // Where things landed in the last build (absolute offsets).
  size_t directory_offset() const { return directory_offset_; }
  const std::vector<size_t>& section_offsets() const { return section_offsets_; }
  size_t entry_offset(size_t i) const { return directory_offset_ + 12 + 12 * i; }

 private:
  struct Entry {
    std::string type;
    std::string bytes;
    bool raw = false;
    uint32_t offset = 0;
    uint32_t length = 0;
  };
  std::string header_;
  std::vector<Entry> entries_;
  std::string directory_id_ = "SECd";
  std::optional<uint32_t> count_raw_;
  std::optional<uint32_t> pointer_raw_;
  size_t directory_offset_ = 0;
  std::vector<size_t> section_offsets_;
};

}  // namespace testing_support
