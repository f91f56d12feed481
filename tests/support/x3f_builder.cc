#include "support/x3f_builder.h"

#include <cstring>

#include "support/ciff_builder.h"

namespace testing_support {

namespace {

void put32(std::string* s, size_t at, uint32_t v) { s->replace(at, 4, le32(v)); }

}  // namespace

X3fProperties& X3fProperties::add(const std::string& name, const std::string& value) {
  const uint32_t name_at = static_cast<uint32_t>(characters_.size());
  for (char c : name) characters_.push_back(static_cast<uint8_t>(c));
  characters_.push_back(0);
  const uint32_t value_at = static_cast<uint32_t>(characters_.size());
  for (char c : value) characters_.push_back(static_cast<uint8_t>(c));
  characters_.push_back(0);
  table_.emplace_back(name_at, value_at);
  return *this;
}

X3fProperties& X3fProperties::add_raw(uint32_t name_offset, uint32_t value_offset) {
  table_.emplace_back(name_offset, value_offset);
  return *this;
}

X3fProperties& X3fProperties::add_characters(const std::vector<uint16_t>& units) {
  characters_.insert(characters_.end(), units.begin(), units.end());
  return *this;
}

X3fProperties& X3fProperties::set_count_raw(uint32_t count) {
  count_raw_ = count;
  return *this;
}

X3fProperties& X3fProperties::set_character_length_raw(uint32_t units) {
  characters_raw_ = units;
  return *this;
}

std::string X3fProperties::build() const {
  std::string bytes = "SECp" + le32(0x00020000) +
                      le32(count_raw_.value_or(static_cast<uint32_t>(table_.size()))) + le32(0) + le32(0) +
                      le32(characters_raw_.value_or(static_cast<uint32_t>(characters_.size())));
  for (const auto& [name, value] : table_) bytes += le32(name) + le32(value);
  for (uint16_t unit : characters_) bytes += le16(unit);
  return bytes;
}

X3fBuilder::X3fBuilder() : header_(232, '\0') {
  memcpy(header_.data(), "FOVb", 4);
  set_version(2, 2);
  const char identifier[] = "0123456789abcdef";
  memcpy(header_.data() + 8, identifier, 16);
  set_size(640, 480, 0);
}

X3fBuilder& X3fBuilder::set_version(uint16_t at4, uint16_t at6) {
  header_.replace(4, 2, le16(at4));
  header_.replace(6, 2, le16(at6));
  return *this;
}

X3fBuilder& X3fBuilder::set_size(uint32_t columns, uint32_t rows, uint32_t rotation) {
  put32(&header_, 28, columns);
  put32(&header_, 32, rows);
  put32(&header_, 36, rotation);
  return *this;
}

X3fBuilder& X3fBuilder::set_white_balance(const std::string& label) {
  std::string field = label.substr(0, 32);
  field.resize(32, '\0');
  header_.replace(40, 32, field);
  return *this;
}

X3fBuilder& X3fBuilder::set_extended(int slot, uint8_t type, uint32_t value) {
  header_[72 + slot] = static_cast<char>(type);
  put32(&header_, 104 + 4 * static_cast<size_t>(slot), value);
  return *this;
}

X3fBuilder& X3fBuilder::add_section(const std::string& type, const std::string& bytes) {
  Entry e;
  e.type = type;
  e.bytes = bytes;
  entries_.push_back(e);
  return *this;
}

X3fBuilder& X3fBuilder::add_properties(const X3fProperties& properties) {
  return add_section("PROP", properties.build());
}

X3fBuilder& X3fBuilder::add_entry_raw(uint32_t offset, uint32_t length, const std::string& type) {
  Entry e;
  e.type = type;
  e.raw = true;
  e.offset = offset;
  e.length = length;
  entries_.push_back(e);
  return *this;
}

X3fBuilder& X3fBuilder::set_directory_id(const std::string& id) {
  directory_id_ = id;
  return *this;
}

X3fBuilder& X3fBuilder::set_entry_count_raw(uint32_t count) {
  count_raw_ = count;
  return *this;
}

X3fBuilder& X3fBuilder::set_directory_pointer_raw(uint32_t offset) {
  pointer_raw_ = offset;
  return *this;
}

std::string X3fBuilder::build() {
  std::string file = header_;
  section_offsets_.clear();
  std::string entries;
  for (const Entry& e : entries_) {
    std::string type = e.type.substr(0, 4);
    type.resize(4, '\0');
    if (e.raw) {
      entries += le32(e.offset) + le32(e.length) + type;
      continue;
    }
    section_offsets_.push_back(file.size());
    entries += le32(static_cast<uint32_t>(file.size())) + le32(static_cast<uint32_t>(e.bytes.size())) + type;
    file += e.bytes;
  }
  directory_offset_ = file.size();
  std::string id = directory_id_.substr(0, 4);
  id.resize(4, '\0');
  file += id + le32(0x00020000) + le32(count_raw_.value_or(static_cast<uint32_t>(entries_.size()))) + entries;
  file += le32(pointer_raw_.value_or(static_cast<uint32_t>(directory_offset_)));
  return file;
}

}  // namespace testing_support
