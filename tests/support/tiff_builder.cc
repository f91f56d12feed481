#include "support/tiff_builder.h"

#include <stdexcept>

namespace testing_support {

namespace {

std::string be16(uint16_t v) { return std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

std::string be32(uint32_t v) {
  return std::string{static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF),
                     static_cast<char>((v >> 8) & 0xFF), static_cast<char>(v & 0xFF)};
}

}  // namespace

int TiffBuilder::add_ifd() {
  ifds_.emplace_back();
  return static_cast<int>(ifds_.size()) - 1;
}

void TiffBuilder::add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const std::string& value) {
  ifds_.at(ifd).entries.push_back(Entry{tag, type, count, value, std::nullopt, {}});
}

void TiffBuilder::add_raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
  ifds_.at(ifd).entries.push_back(Entry{tag, type, count, "", field, {}});
}

void TiffBuilder::add_byte(int ifd, uint16_t tag, const std::vector<uint8_t>& values) {
  add(ifd, tag, 1, static_cast<uint32_t>(values.size()), std::string(values.begin(), values.end()));
}

void TiffBuilder::add_undefined(int ifd, uint16_t tag, const std::string& bytes) {
  add(ifd, tag, 7, static_cast<uint32_t>(bytes.size()), bytes);
}

void TiffBuilder::add_short(int ifd, uint16_t tag, const std::vector<uint16_t>& values) {
  std::string bytes;
  for (uint16_t v : values) bytes += u16(v);
  add(ifd, tag, 3, static_cast<uint32_t>(values.size()), bytes);
}

void TiffBuilder::add_long(int ifd, uint16_t tag, const std::vector<uint32_t>& values) {
  std::string bytes;
  for (uint32_t v : values) bytes += u32(v);
  add(ifd, tag, 4, static_cast<uint32_t>(values.size()), bytes);
}

void TiffBuilder::add_ascii(int ifd, uint16_t tag, const std::string& text, bool terminate) {
  std::string bytes = text;
  if (terminate) bytes.push_back('\0');
  add(ifd, tag, 2, static_cast<uint32_t>(bytes.size()), bytes);
}

void TiffBuilder::add_rational(int ifd, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& values) {
  std::string bytes;
  for (const auto& [n, d] : values) bytes += u32(n) + u32(d);
  add(ifd, tag, 5, static_cast<uint32_t>(values.size()), bytes);
}

void TiffBuilder::add_ifd_pointer(int ifd, uint16_t tag, const std::vector<int>& targets) {
  Entry entry{tag, 4, static_cast<uint32_t>(targets.size()), std::string(4 * targets.size(), '\0'), std::nullopt,
              targets};
  ifds_.at(ifd).entries.push_back(entry);
}

void TiffBuilder::set_next(int ifd, int target) { ifds_.at(ifd).next = target; }
void TiffBuilder::set_next_raw(int ifd, uint32_t offset) { ifds_.at(ifd).next_raw = offset; }
void TiffBuilder::set_count_raw(int ifd, uint16_t count) { ifds_.at(ifd).count_raw = count; }
void TiffBuilder::set_first_offset_raw(uint32_t offset) { first_raw_ = offset; }
void TiffBuilder::set_magic(uint16_t magic) { magic_ = magic; }
void TiffBuilder::omit_next_field(int ifd) { ifds_.at(ifd).omit_next = true; }

std::string TiffBuilder::u16(uint16_t v) const {
  std::string b = be16(v);
  return big_endian_ ? b : std::string{b[1], b[0]};
}

std::string TiffBuilder::u32(uint32_t v) const {
  std::string b = be32(v);
  return big_endian_ ? b : std::string{b[3], b[2], b[1], b[0]};
}

std::string TiffBuilder::build() {
  // Layout: the header, then each directory followed by its long values,
  // everything at even offsets.
  uint32_t at = 8;
  for (Ifd& ifd : ifds_) {
    ifd.offset = at;
    at += 2 + 12 * static_cast<uint32_t>(ifd.entries.size()) + (ifd.omit_next ? 0 : 4);
    for (Entry& e : ifd.entries) {
      if (e.field || e.value.size() <= 4) continue;
      e.value_offset = at;
      at += static_cast<uint32_t>(e.value.size());
      at += at & 1;
    }
  }
  // Directory pointers, now that every directory has its place.
  for (Ifd& ifd : ifds_) {
    for (Entry& e : ifd.entries) {
      if (e.targets.empty()) continue;
      e.value.clear();
      for (int t : e.targets) e.value += u32(ifds_.at(t).offset);
    }
  }

  std::string out = big_endian_ ? "MM" : "II";
  out += u16(magic_);
  out += u32(first_raw_ ? *first_raw_ : (ifds_.empty() ? 0 : ifds_[0].offset));
  for (Ifd& ifd : ifds_) {
    if (out.size() != ifd.offset) throw std::logic_error("directory out of place");
    out += u16(ifd.count_raw ? *ifd.count_raw : static_cast<uint16_t>(ifd.entries.size()));
    for (Entry& e : ifd.entries) {
      out += u16(e.tag) + u16(e.type) + u32(e.count);
      if (e.field) {
        out += u32(*e.field);
      } else if (e.value.size() <= 4) {
        out += e.value + std::string(4 - e.value.size(), '\0');
      } else {
        out += u32(e.value_offset);
      }
    }
    if (!ifd.omit_next) {
      uint32_t next = ifd.next_raw ? *ifd.next_raw : ifd.next ? ifds_.at(*ifd.next).offset : 0;
      out += u32(next);
    }
    for (Entry& e : ifd.entries) {
      if (e.field || e.value.size() <= 4) continue;
      out += e.value;
      if (out.size() & 1) out.push_back('\0');
    }
  }
  return out;
}

std::string exif_jpeg(const std::string& tiff) {
  std::string app1 = "Exif" + std::string(2, '\0') + tiff;
  return std::string("\xFF\xD8\xFF\xE1", 4) + be16(static_cast<uint16_t>(app1.size() + 2)) + app1 + "\xFF\xD9";
}

std::string jfif_exif_jpeg(const std::string& tiff) {
  std::string app0 = std::string("JFIF\0", 5) + "\x01\x02" + "\x01" + be16(72) + be16(72) + std::string(2, '\0');
  std::string out = std::string("\xFF\xD8\xFF\xE0", 4) + be16(static_cast<uint16_t>(app0.size() + 2)) + app0;
  // A comment segment the scan has to step over.
  std::string comment = "made for a test";
  out += std::string("\xFF\xFE", 2) + be16(static_cast<uint16_t>(comment.size() + 2)) + comment;
  std::string app1 = "Exif" + std::string(2, '\0') + tiff;
  out += std::string("\xFF\xE1", 2) + be16(static_cast<uint16_t>(app1.size() + 2)) + app1 + "\xFF\xD9";
  return out;
}

std::string fujifilm_file(const std::string& tiff) {
  std::string out = "FUJIFILMCCD-RAW 0201FF383501";
  out.resize(160, '\0');
  return out + tiff;
}

std::string minolta_mrw(const std::string& tiff) {
  std::string prd = "27200001" + std::string(16, '\x01');
  std::string body = std::string("\0PRD", 4) + be32(static_cast<uint32_t>(prd.size())) + prd +
                     std::string("\0TTW", 4) + be32(static_cast<uint32_t>(tiff.size())) + tiff;
  return std::string("\0MRM", 4) + be32(static_cast<uint32_t>(body.size())) + body;
}

}  // namespace testing_support
