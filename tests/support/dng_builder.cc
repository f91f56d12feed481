#include "support/dng_builder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "support/tiff_builder.h"

namespace testing_support {

namespace {

std::string put16(uint16_t v, bool big) {
  return big ? std::string{static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}
             : std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)};
}

std::string put32(uint32_t v, bool big) {
  std::string b{static_cast<char>(v >> 24), static_cast<char>((v >> 16) & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                static_cast<char>(v & 0xFF)};
  return big ? b : std::string{b[3], b[2], b[1], b[0]};
}

uint32_t get32(const std::string& s, uint32_t at, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    uint32_t byte = static_cast<uint8_t>(s.at(at + (big ? i : 3 - i)));
    v = (v << 8) | byte;
  }
  return v;
}

uint32_t type_size(uint16_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
  }
}

struct MiniEntry {
  uint16_t tag;
  uint16_t type;
  uint32_t count;
  std::string value;  // in the directory's byte order
};

// A directory that will stand at blob offset `at`, followed by its
// out-of-line values; a value at blob offset v is stored as base + v.
std::string mini_ifd(bool big, uint32_t at, int64_t base, const std::vector<MiniEntry>& entries, uint32_t next) {
  std::string dir = put16(static_cast<uint16_t>(entries.size()), big);
  std::string values;
  uint32_t values_at = at + 2 + 12 * static_cast<uint32_t>(entries.size()) + 4;
  for (const MiniEntry& e : entries) {
    dir += put16(e.tag, big) + put16(e.type, big) + put32(e.count, big);
    if (e.value.size() <= 4) {
      dir += e.value + std::string(4 - e.value.size(), '\0');
    } else {
      dir += put32(static_cast<uint32_t>(base + values_at + values.size()), big);
      values += e.value;
      if (values.size() & 1) values.push_back('\0');
    }
  }
  dir += put32(next, big);
  return dir + values;
}

std::vector<MiniEntry> plain_entries(bool big) {
  return {{0x0001, 3, 1, put16(7, big)}, {0x0002, 2, 11, std::string("maker note\0", 11)}};
}

// A directory holding only an inline entry; fits anywhere.
std::string inline_only_ifd(bool big, uint16_t tag) { return mini_ifd(big, 0, 0, {{tag, 3, 1, put16(9, big)}}, 0); }

}  // namespace

std::vector<MakerNoteKind> all_maker_note_kinds() {
  return {MakerNoteKind::kEpson,       MakerNoteKind::kFujifilm,    MakerNoteKind::kLeica,
          MakerNoteKind::kNikon,       MakerNoteKind::kOlympus,     MakerNoteKind::kPanasonic,
          MakerNoteKind::kPentax,      MakerNoteKind::kRicoh,       MakerNoteKind::kMakeNikon,
          MakerNoteKind::kMakeCanon,   MakerNoteKind::kMakeMinolta, MakerNoteKind::kMakeKonicaMinolta,
          MakerNoteKind::kMakeSony,    MakerNoteKind::kMakeKodak,   MakerNoteKind::kMamiya};
}

const char* maker_note_kind_name(MakerNoteKind kind) {
  switch (kind) {
    case MakerNoteKind::kEpson: return "Epson";
    case MakerNoteKind::kFujifilm: return "Fujifilm";
    case MakerNoteKind::kLeica: return "Leica";
    case MakerNoteKind::kNikon: return "Nikon";
    case MakerNoteKind::kOlympus: return "Olympus";
    case MakerNoteKind::kPanasonic: return "Panasonic";
    case MakerNoteKind::kPentax: return "Pentax";
    case MakerNoteKind::kRicoh: return "Ricoh";
    case MakerNoteKind::kMakeNikon: return "MakeNikon";
    case MakerNoteKind::kMakeCanon: return "MakeCanon";
    case MakerNoteKind::kMakeMinolta: return "MakeMinolta";
    case MakerNoteKind::kMakeKonicaMinolta: return "MakeKonicaMinolta";
    case MakerNoteKind::kMakeSony: return "MakeSony";
    case MakerNoteKind::kMakeKodak: return "MakeKodak";
    case MakerNoteKind::kMamiya: return "Mamiya";
  }
  return "?";
}

std::string maker_note_make(MakerNoteKind kind) {
  switch (kind) {
    case MakerNoteKind::kMakeNikon: return "NIKON CORPORATION";
    case MakerNoteKind::kMakeCanon: return "Canon";
    case MakerNoteKind::kMakeMinolta: return "Minolta Co., Ltd.";
    case MakerNoteKind::kMakeKonicaMinolta: return "KONICA MINOLTA";
    case MakerNoteKind::kMakeSony: return "SONY";
    case MakerNoteKind::kMakeKodak: return "EASTMAN KODAK COMPANY";
    case MakerNoteKind::kMamiya: return "Mamiya-OP Co.,Ltd.";
    default: return "";
  }
}

std::string maker_note_bytes(const MakerNoteSpec& spec, bool big, uint32_t p, int64_t d) {
  int64_t base = static_cast<int64_t>(p) - d;  // stored offset of blob offset 0
  auto with_header = [&](const std::string& header, bool order) {
    auto at = static_cast<uint32_t>(header.size());
    return header + mini_ifd(order, at, base, plain_entries(order), 0);
  };
  switch (spec.kind) {
    case MakerNoteKind::kEpson: return with_header(std::string("EPSON\0\1\0", 8), big);
    case MakerNoteKind::kLeica: return with_header(std::string("LEICA\0\0\0", 8), big);
    case MakerNoteKind::kPanasonic: return with_header(std::string("Panasonic\0\0\0", 12), big);
    case MakerNoteKind::kFujifilm: {
      // Offsets count from the maker note's start; q, little-endian, says
      // where the directory is.
      std::string header = "FUJIFILM" + put32(12, false);
      return header + mini_ifd(big, 12, 0, plain_entries(big), 0);
    }
    case MakerNoteKind::kNikon: {
      // A TIFF header at +10; offsets count from it.
      bool own = spec.own_big_endian;
      std::string header = std::string("Nikon\0\2\x10\0\0", 10) + (own ? "MM" : "II") + put16(42, own) + put32(8, own);
      return header + mini_ifd(own, 18, -10, plain_entries(own), 0);
    }
    case MakerNoteKind::kOlympus: {
      std::vector<MiniEntry> entries = plain_entries(big);
      if (spec.olympus_subdirectory) entries.push_back({8208, 7, 18, inline_only_ifd(big, 0x0100)});
      return std::string("OLYMP\0\1\0", 8) + mini_ifd(big, 8, base, entries, 0);
    }
    case MakerNoteKind::kPentax: {
      bool own = spec.own_big_endian;
      return std::string("AOC\0", 4) + (own ? "MM" : "II") + mini_ifd(own, 6, base, plain_entries(own), 0);
    }
    case MakerNoteKind::kRicoh: {
      std::vector<MiniEntry> entries = plain_entries(true);
      if (spec.ricoh_camera_info) {
        std::string info = std::string("[Ricoh Camera Info]\0", 20) + inline_only_ifd(true, 0x0003);
        entries.push_back({0x2001, 7, static_cast<uint32_t>(info.size()), info});
      }
      return std::string("Ricoh\0\0\0", 8) + mini_ifd(true, 8, base, entries, 0);
    }
    case MakerNoteKind::kMamiya: {
      int n = std::max(1, spec.mamiya_directories);
      std::string out;
      uint32_t dir_size = static_cast<uint32_t>(mini_ifd(big, 0, 0, plain_entries(big), 0).size());
      for (int i = 0; i < n; ++i) {
        uint32_t at = static_cast<uint32_t>(out.size());
        uint32_t next = 0;
        if (i + 1 < n) next = static_cast<uint32_t>(base + at + dir_size);
        else if (spec.mamiya_loop) next = static_cast<uint32_t>(base);
        out += mini_ifd(big, at, base, plain_entries(big), next);
      }
      return out;
    }
    default:
      return mini_ifd(big, 0, base, plain_entries(big), 0);
  }
}

PrivateSection makn_section(const MakerNoteSpec& note, bool mark_big, uint32_t original_offset) {
  std::string body = std::string(mark_big ? "MM" : "II") + put32(original_offset, true);
  body += maker_note_bytes(note, mark_big, 0, -static_cast<int64_t>(original_offset));
  return {"MakN", body, std::nullopt};
}

PrivateSection sr2_section(bool mark_big) {
  return {"SR2 ", std::string(mark_big ? "MM" : "II") + put32(4096, true) + std::string(16, '\x5A'), std::nullopt};
}

PrivateSection raf_section(bool mark_big, const std::vector<std::string>& blocks) {
  std::string body = mark_big ? "MM" : "II";
  for (size_t i = 0; i < 3; ++i) {
    std::string b = i < blocks.size() ? blocks[i] : std::string();
    body += put32(static_cast<uint32_t>(b.size()), true) + b;
  }
  return {"RAF ", body, std::nullopt};
}

PrivateSection cntx_section(bool mark_big, const std::string& header) {
  return {"Cntx", std::string(mark_big ? "MM" : "II") + put32(static_cast<uint32_t>(header.size()), true) + header,
          std::nullopt};
}

PrivateSection tag_block_section(const std::string& key, bool mark_big) {
  bool wide_codes = key == "MRW ";
  bool has_type = key != "CRW " && key != "MRW ";
  std::string body = std::string(mark_big ? "MM" : "II") + put16(2, true);
  auto entry = [&](uint32_t code, uint16_t type, uint32_t count, const std::string& value) {
    body += wide_codes ? put32(code, true) : put16(static_cast<uint16_t>(code), true);
    if (has_type) body += put16(type, true);
    body += put32(count, true) + value;
  };
  entry(0x0001, has_type ? 2 : 7, 6, std::string("block\0", 6));
  if (has_type) entry(0x0002, 3, 1, put16(5, mark_big));
  else entry(0x0002, 7, 2, put16(5, mark_big));
  return {key, body, std::nullopt};
}

std::string private_data_bytes(const std::vector<PrivateSection>& sections) {
  std::string out("Adobe\0", 6);
  for (const PrivateSection& s : sections) {
    out += s.key.substr(0, 4) + put32(s.length_raw ? *s.length_raw : static_cast<uint32_t>(s.body.size()), true);
    out += s.body;
    if (out.size() & 1) out.push_back('\0');
  }
  return out;
}

DngBuilder::DngBuilder(bool big_endian) : big_endian_(big_endian) { add_ifd(); }

std::string DngBuilder::u16(uint16_t v) const { return put16(v, big_endian_); }
std::string DngBuilder::u32(uint32_t v) const { return put32(v, big_endian_); }

int DngBuilder::add_ifd() {
  ifds_.emplace_back();
  return static_cast<int>(ifds_.size()) - 1;
}

void DngBuilder::set_next(int ifd, int target) { ifds_.at(ifd).next = target; }
void DngBuilder::set_next_raw(int ifd, uint32_t offset) { ifds_.at(ifd).next_raw = offset; }
void DngBuilder::keep_entry_order(int ifd) { ifds_.at(ifd).keep_order = true; }

void DngBuilder::add(int ifd, uint16_t tag, uint16_t type, uint32_t count, const std::string& value_bytes) {
  ifds_.at(ifd).entries.push_back(Entry{tag, type, count, value_bytes, 0, {}, Kind::kValue});
}

void DngBuilder::add_raw(int ifd, uint16_t tag, uint16_t type, uint32_t count, uint32_t field) {
  ifds_.at(ifd).entries.push_back(Entry{tag, type, count, "", field, {}, Kind::kRaw});
}

void DngBuilder::add_byte(int ifd, uint16_t tag, const std::vector<uint8_t>& values) {
  add(ifd, tag, 1, static_cast<uint32_t>(values.size()), std::string(values.begin(), values.end()));
}

void DngBuilder::add_undefined(int ifd, uint16_t tag, const std::string& bytes) {
  add(ifd, tag, 7, static_cast<uint32_t>(bytes.size()), bytes);
}

void DngBuilder::add_short(int ifd, uint16_t tag, const std::vector<uint16_t>& values) {
  std::string bytes;
  for (uint16_t v : values) bytes += u16(v);
  add(ifd, tag, 3, static_cast<uint32_t>(values.size()), bytes);
}

void DngBuilder::add_long(int ifd, uint16_t tag, const std::vector<uint32_t>& values) {
  std::string bytes;
  for (uint32_t v : values) bytes += u32(v);
  add(ifd, tag, 4, static_cast<uint32_t>(values.size()), bytes);
}

void DngBuilder::add_ascii(int ifd, uint16_t tag, const std::string& text, bool terminate) {
  std::string bytes = text;
  if (terminate) bytes.push_back('\0');
  add(ifd, tag, 2, static_cast<uint32_t>(bytes.size()), bytes);
}

void DngBuilder::add_rational(int ifd, uint16_t tag, const std::vector<std::pair<uint32_t, uint32_t>>& values) {
  std::string bytes;
  for (const auto& [n, d] : values) bytes += u32(n) + u32(d);
  add(ifd, tag, 5, static_cast<uint32_t>(values.size()), bytes);
}

void DngBuilder::add_srational(int ifd, uint16_t tag, const std::vector<std::pair<int32_t, int32_t>>& values) {
  std::string bytes;
  for (const auto& [n, d] : values) bytes += u32(static_cast<uint32_t>(n)) + u32(static_cast<uint32_t>(d));
  add(ifd, tag, 10, static_cast<uint32_t>(values.size()), bytes);
}

void DngBuilder::remove(int ifd, uint16_t tag) {
  auto& entries = ifds_.at(ifd).entries;
  entries.erase(std::remove_if(entries.begin(), entries.end(), [tag](const Entry& e) { return e.tag == tag; }),
                entries.end());
}

void DngBuilder::add_subifds(int parent, const std::vector<int>& children) {
  Entry e{330, 4, static_cast<uint32_t>(children.size()), "", 0, children, Kind::kPointer};
  ifds_.at(parent).entries.push_back(e);
}

int DngBuilder::exif_ifd() {
  if (!exif_) {
    exif_ = add_ifd();
    ifds_.at(kIfd0).entries.push_back(Entry{34665, 4, 1, "", 0, {*exif_}, Kind::kPointer});
  }
  return *exif_;
}

int DngBuilder::gps_ifd() {
  if (!gps_) {
    gps_ = add_ifd();
    ifds_.at(kIfd0).entries.push_back(Entry{34853, 4, 1, "", 0, {*gps_}, Kind::kPointer});
  }
  return *gps_;
}

int DngBuilder::interop_ifd() {
  if (!interop_) {
    int exif = exif_ifd();
    interop_ = add_ifd();
    ifds_.at(exif).entries.push_back(Entry{40965, 4, 1, "", 0, {*interop_}, Kind::kPointer});
  }
  return *interop_;
}

void DngBuilder::add_dng_tags(uint32_t version, uint32_t backward, const std::string& make) {
  auto bytes = [](uint32_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  add_byte(kIfd0, 50706, bytes(version));
  if (backward != 0) add_byte(kIfd0, 50707, bytes(backward));
  add_ascii(kIfd0, 50708, "Corvella Test Camera");
  remove(kIfd0, 271);
  add_ascii(kIfd0, 271, make);
  add_srational(kIfd0, 50721, {{10000, 10000}, {-2000, 10000}, {-1000, 10000},
                               {-3000, 10000}, {12000, 10000}, {1000, 10000},
                               {-500, 10000}, {2000, 10000}, {7000, 10000}});
  add_rational(kIfd0, 50728, {{1, 2}, {1, 1}, {2, 3}});
  add_short(kIfd0, 50778, {21});
}

void DngBuilder::add_image(int ifd, bool cfa, bool tiled) {
  uint16_t samples = cfa ? 1 : 3;
  uint32_t bytes = 16u * 16u * 2u * samples;
  // Pixel values ramp so that each sample differs from its neighbours.
  std::string pixels;
  for (uint32_t i = 0; i < bytes / 2; ++i) pixels += u16(static_cast<uint16_t>(256 + 37 * i));
  uint32_t image_offset = static_cast<uint32_t>(image_.size());
  image_ += pixels;

  add_long(ifd, 254, {0});
  add_short(ifd, 256, {16});
  add_short(ifd, 257, {16});
  add_short(ifd, 258, std::vector<uint16_t>(samples, 16));
  add_short(ifd, 259, {1});
  add_short(ifd, 262, {static_cast<uint16_t>(cfa ? 32803 : 34892)});
  if (ifd == kIfd0) add_short(ifd, 274, {1});
  add_short(ifd, 277, {samples});
  add_short(ifd, 284, {1});
  if (tiled) {
    add_short(ifd, 322, {16});
    add_short(ifd, 323, {16});
    ifds_.at(ifd).entries.push_back(Entry{324, 4, 1, "", image_offset, {}, Kind::kImageOffset});
    add_long(ifd, 325, {bytes});
  } else {
    ifds_.at(ifd).entries.push_back(Entry{273, 4, 1, "", image_offset, {}, Kind::kImageOffset});
    add_short(ifd, 278, {16});
    add_long(ifd, 279, {bytes});
  }
  if (cfa) {
    add_short(ifd, 33421, {2, 2});
    add_byte(ifd, 33422, {0, 1, 1, 2});
  }
  add_short(ifd, 50717, std::vector<uint16_t>(samples, 60000));
  add_short(ifd, 50719, {2, 2});
  add_short(ifd, 50720, {12, 12});
}

void DngBuilder::add_cfa_image(int ifd, bool tiled) { add_image(ifd, true, tiled); }
void DngBuilder::add_linear_raw_image(int ifd, bool tiled) { add_image(ifd, false, tiled); }

void DngBuilder::add_rgb_preview(int ifd) {
  uint32_t image_offset = static_cast<uint32_t>(image_.size());
  std::string pixels;
  for (int i = 0; i < 8 * 8 * 3; ++i) pixels.push_back(static_cast<char>(i * 5));
  image_ += pixels;
  add_long(ifd, 254, {1});
  add_short(ifd, 256, {8});
  add_short(ifd, 257, {8});
  add_short(ifd, 258, {8, 8, 8});
  add_short(ifd, 259, {1});
  add_short(ifd, 262, {2});
  if (ifd == kIfd0) add_short(ifd, 274, {1});
  ifds_.at(ifd).entries.push_back(Entry{273, 4, 1, "", image_offset, {}, Kind::kImageOffset});
  add_short(ifd, 277, {3});
  add_short(ifd, 278, {8});
  add_long(ifd, 279, {static_cast<uint32_t>(pixels.size())});
  add_short(ifd, 284, {1});
}

uint32_t DngBuilder::append_image_data(const std::string& bytes) {
  auto at = static_cast<uint32_t>(image_.size());
  image_ += bytes;
  return at;
}

void DngBuilder::add_image_offsets(int ifd, uint16_t tag, const std::vector<uint32_t>& relative) {
  remove(ifd, tag);
  auto count = static_cast<uint32_t>(relative.size());
  Entry e{tag, 4, count, "", relative.empty() ? 0 : relative[0], {}, Kind::kImageOffset};
  image_offset_arrays_.erase({ifd, tag});
  if (count > 1) {
    image_offset_arrays_[{ifd, tag}] = relative;
    e.value = std::string(size_t{count} * 4, '\0');
  }
  ifds_.at(ifd).entries.push_back(e);
}

void DngBuilder::add_maker_note(const MakerNoteSpec& spec) {
  maker_note_ = spec;
  int exif = exif_ifd();
  std::string make = maker_note_make(spec.kind);
  if (!make.empty()) {
    remove(kIfd0, 271);
    add_ascii(kIfd0, 271, make);
  }
  std::string sample = maker_note_bytes(spec, big_endian_, 0, 0);
  ifds_.at(exif).entries.push_back(
      Entry{37500, 7, static_cast<uint32_t>(sample.size()), std::string(sample.size(), '\0'), 0, {}, Kind::kMakerNote});
}

void DngBuilder::add_private_data(const std::vector<PrivateSection>& sections) {
  private_sections_ = sections;
  add_byte(kIfd0, 50740, {});
  Entry& e = ifds_.at(kIfd0).entries.back();
  e.value = private_data_bytes(sections);
  e.count = static_cast<uint32_t>(e.value.size());
}

void DngBuilder::add_xmp(int ifd, const std::string& packet) {
  add_byte(ifd, 700, std::vector<uint8_t>(packet.begin(), packet.end()));
}

void DngBuilder::add_iptc(int ifd, const std::string& block) {
  // IPTC is written as LONGs in DNG files; pad the block to a multiple of 4.
  std::string padded = block;
  while (padded.size() % 4 != 0) padded.push_back('\0');
  add(ifd, 33723, 4, static_cast<uint32_t>(padded.size() / 4), padded);
}

void DngBuilder::set_count(int ifd, uint16_t tag, uint32_t count) { overrides_.push_back({ifd, tag, true, count}); }
void DngBuilder::set_field(int ifd, uint16_t tag, uint32_t field) { overrides_.push_back({ifd, tag, false, field}); }
void DngBuilder::set_entry_count(int ifd, uint16_t count) { ifds_.at(ifd).count_raw = count; }
void DngBuilder::set_magic(uint16_t magic) { magic_ = magic; }
void DngBuilder::set_first_offset_raw(uint32_t offset) { first_raw_ = offset; }
void DngBuilder::patch_u32(uint32_t position, uint32_t value, bool big) { patches_.push_back({position, {value, big}}); }

std::string DngBuilder::build() {
  TiffBuilder tb(big_endian_);
  tb.set_magic(magic_);
  if (first_raw_) tb.set_first_offset_raw(*first_raw_);
  written_order_.assign(ifds_.size(), {});
  for (size_t i = 0; i < ifds_.size(); ++i) tb.add_ifd();
  for (size_t i = 0; i < ifds_.size(); ++i) {
    Ifd& ifd = ifds_[i];
    std::vector<Entry> entries = ifd.entries;
    if (!ifd.keep_order) {
      std::stable_sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) { return a.tag < b.tag; });
    }
    int n = static_cast<int>(i);
    for (const Entry& e : entries) {
      written_order_[i].push_back(e.tag);
      switch (e.kind) {
        case Kind::kValue:
        case Kind::kMakerNote: tb.add(n, e.tag, e.type, e.count, e.value); break;
        case Kind::kRaw: tb.add_raw(n, e.tag, e.type, e.count, e.field); break;
        case Kind::kImageOffset:
          if (e.value.empty()) tb.add_raw(n, e.tag, e.type, e.count, 0);
          else tb.add(n, e.tag, e.type, e.count, e.value);
          break;
        case Kind::kPointer: tb.add_ifd_pointer(n, e.tag, e.targets); break;
      }
    }
    if (ifd.next) tb.set_next(n, *ifd.next);
    if (ifd.next_raw) tb.set_next_raw(n, *ifd.next_raw);
    if (ifd.count_raw) tb.set_count_raw(n, *ifd.count_raw);
  }
  std::string out = tb.build();
  ifd_offsets_.clear();
  for (size_t i = 0; i < ifds_.size(); ++i) ifd_offsets_.push_back(tb.ifd_offset(static_cast<int>(i)));
  last_ = out;
  marks_.clear();
  boundaries_.clear();

  // Pixel data at the end of the file.
  if (out.size() & 1) out.push_back('\0');
  auto image_at = static_cast<uint32_t>(out.size());
  out += image_;
  if (!image_.empty()) marks_["image"] = image_at;
  for (size_t i = 0; i < ifds_.size(); ++i) {
    for (const Entry& e : ifds_[i].entries) {
      if (e.kind != Kind::kImageOffset) continue;
      auto array = image_offset_arrays_.find({static_cast<int>(i), e.tag});
      if (array != image_offset_arrays_.end()) {
        uint32_t at = value_position(static_cast<int>(i), e.tag);
        for (uint32_t relative : array->second) {
          out.replace(at, 4, u32(image_at + relative));
          at += 4;
        }
        continue;
      }
      uint32_t at = entry_position(static_cast<int>(i), e.tag) + 8;
      std::string field = u32(image_at + e.field);
      out.replace(at, 4, field);
    }
  }
  last_ = out;

  // The maker note, now that its position is known.
  if (maker_note_ && exif_) {
    uint32_t p = value_position(*exif_, 37500);
    std::string bytes = maker_note_bytes(*maker_note_, big_endian_, p, 0);
    out.replace(p, bytes.size(), bytes);
    marks_["makernote"] = p;
  }
  if (find(kIfd0, 50740) != nullptr) {
    uint32_t p = value_position(kIfd0, 50740);
    marks_["private"] = p;
    uint32_t at = p + 6;
    for (size_t i = 0; i < private_sections_.size(); ++i) {
      marks_["private." + std::to_string(i) + ".length"] = at + 4;
      at += 8 + static_cast<uint32_t>(private_sections_[i].body.size());
      at += (at - p) & 1;
    }
  }

  // Boundaries for truncation tables.
  for (size_t i = 0; i < ifds_.size(); ++i) {
    uint32_t at = ifd_offsets_[i];
    boundaries_.push_back(at);
    boundaries_.push_back(at + 2);
    boundaries_.push_back(at + 2 + 12 * static_cast<uint32_t>(written_order_[i].size()));
    for (uint16_t tag : written_order_[i]) {
      const Entry* e = find(static_cast<int>(i), tag);
      uint64_t bytes = uint64_t{e->count} * type_size(e->type);
      if (bytes <= 4 || e->kind == Kind::kRaw || e->kind == Kind::kImageOffset) continue;
      uint32_t v = value_position(static_cast<int>(i), tag);
      boundaries_.push_back(v);
      boundaries_.push_back(static_cast<uint32_t>(v + bytes));
    }
  }
  for (const auto& [name, at] : marks_) boundaries_.push_back(at);
  boundaries_.push_back(static_cast<uint32_t>(out.size()));
  std::sort(boundaries_.begin(), boundaries_.end());
  boundaries_.erase(std::unique(boundaries_.begin(), boundaries_.end()), boundaries_.end());

  // Overwrites.
  for (const Override& o : overrides_) {
    uint32_t at = entry_position(o.ifd, o.tag) + (o.count ? 4 : 8);
    out.replace(at, 4, u32(o.value));
  }
  for (const auto& [at, v] : patches_) out.replace(at, 4, put32(v.first, v.second));
  last_ = out;
  return out;
}

const DngBuilder::Entry* DngBuilder::find(int ifd, uint16_t tag) const {
  for (const Entry& e : ifds_.at(ifd).entries) {
    if (e.tag == tag) return &e;
  }
  return nullptr;
}

int DngBuilder::entry_index(int ifd, uint16_t tag) const {
  const auto& order = written_order_.at(ifd);
  auto it = std::find(order.begin(), order.end(), tag);
  if (it == order.end()) throw std::logic_error("no such entry");
  return static_cast<int>(it - order.begin());
}

uint32_t DngBuilder::ifd_offset(int ifd) const { return ifd_offsets_.at(ifd); }

uint32_t DngBuilder::entry_position(int ifd, uint16_t tag) const {
  return ifd_offsets_.at(ifd) + 2 + 12 * static_cast<uint32_t>(entry_index(ifd, tag));
}

uint32_t DngBuilder::value_position(int ifd, uint16_t tag) const {
  const Entry* e = find(ifd, tag);
  uint32_t at = entry_position(ifd, tag) + 8;
  if (e == nullptr) throw std::logic_error("no such entry");
  if (uint64_t{e->count} * type_size(e->type) <= 4) return at;
  return get32(last_, at, big_endian_);
}

}  // namespace testing_support
