#include "dng/parse/dng_info.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "dng/core/dng_byte_order_guard.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/core/dng_text.h"
#include "dng/parse/dng_tag_checks.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_tag_extent.h"
#include "dng/parse/dng_tag_names.h"
#include "dng/parse/dng_tag_readers.h"

namespace {

constexpr uint32_t kDngVersion110 = 0x01010000;
constexpr uint32_t kMagicTiff = 42;
constexpr uint32_t kMagicPanasonic = 85;
constexpr uint32_t kMagicOlympusOR = 0x4F52;
constexpr uint32_t kMagicOlympusSR = 0x5352;

constexpr uint32_t key_code(const char (&key)[5]) {
  return (uint32_t(uint8_t(key[0])) << 24) | (uint32_t(uint8_t(key[1])) << 16) | (uint32_t(uint8_t(key[2])) << 8) |
         uint32_t(uint8_t(key[3]));
}

// A position computed from file values: beyond the stream (or beyond what a
// 32-bit stream can address) it raises 100011, as a read there would.
uint32_t checked_position(dng_stream& stream, int64_t position) {
  if (position < 0 || static_cast<uint64_t>(position) > stream.TotalLength()) throw_dng_code(dng_code_end_of_file);
  return static_cast<uint32_t>(position);
}

void seek(dng_stream& stream, int64_t position) { stream.SeekForRead(checked_position(stream, position)); }

// Sets the stream's order from a "MM"/"II" mark; anything else keeps it.
void set_order_from_mark(dng_stream& stream, uint16_t mark) {
  if (mark == 0x4D4D) stream.SetByteSwapped(dng_host_little_endian);
  if (mark == 0x4949) stream.SetByteSwapped(!dng_host_little_endian);
}

struct OlympusSubdirectory {
  uint32_t tag;
  uint32_t parent;
};

constexpr OlympusSubdirectory kOlympusSubdirectories[] = {
    {8208, dng_parent_olympus_8208}, {8224, dng_parent_olympus_8224}, {8240, dng_parent_olympus_8240},
    {8256, dng_parent_olympus_8256}, {8272, dng_parent_olympus_8272}, {12288, dng_parent_olympus_12288},
};

struct PrivateTagBlock {
  uint32_t key;
  uint32_t parent;
  bool wide_codes;  // 32-bit tag codes
  bool has_type;    // a 16-bit type field (else UNDEFINED)
};

constexpr PrivateTagBlock kPrivateTagBlocks[] = {
    {key_code("CRW "), dng_parent_canon_crw, false, false}, {key_code("KDC "), dng_parent_kodak_kdc, false, true},
    {key_code("Koda"), dng_parent_kodak_dcr, false, true},  {key_code("Leaf"), dng_parent_leaf_mos, false, true},
    {key_code("MRW "), dng_parent_minolta_mrw, true, false}, {key_code("Pano"), dng_parent_panasonic_raw, false, true},
};

}  // namespace

dng_info::dng_info() = default;

dng_info::~dng_info() = default;

void dng_info::CheckMagic() {
  switch (magic_number) {
    case kMagicTiff:
    case kMagicPanasonic:
    case kMagicOlympusOR:
    case kMagicOlympusSR:
      return;
    default:
      report_dng_error("Invalid TIFF magic number");
      throw_dng_code(dng_code_bad_format);
  }
}

void dng_info::ReadStructure(dng_host& host, dng_stream& stream) {
  tiff_block_offset = stream.Position();
  uint16_t order = stream.GetUInt16();
  if (order == 0x4949) {
    big_endian = false;
  } else if (order == 0x4D4D) {
    big_endian = true;
  } else {
    report_dng_error("Unknown byte order");
    throw_dng_code(dng_code_bad_format);
  }
  stream.SetByteSwapped(big_endian == dng_host_little_endian);
  if (dng_verbose) std::printf(big_endian ? "\nUses big-endian byte order\n" : "\nUses little-endian byte order\n");
  magic_number = stream.GetUInt16();
  if (dng_verbose) std::printf("Magic number = %u\n\n", magic_number);
  CheckMagic();
  uint32_t first = stream.GetUInt32();

  exif = host.NewExif();
  shared = host.NewShared();
  ifd[0] = host.NewIFD();
  ifd_count = 1;
  const int64_t base = tiff_block_offset;
  ReadIfd(host, stream, exif.get(), shared.get(), ifd[0].get(), base + first, base, dng_parent_ifd0);

  // The chain after IFD 0; chained directories never see the EXIF or shared
  // objects.
  uint32_t link = ifd[0]->next_ifd_offset;
  while (link != 0) {
    if (chained_ifd_count == dng_max_chained_ifds) {
      report_dng_warning("Chained IFD count exceeds DNG parsing limit");
      break;
    }
    uint32_t n = chained_ifd_count;
    chained_ifd[n] = host.NewIFD();
    ReadIfd(host, stream, nullptr, nullptr, chained_ifd[n].get(), base + link, base,
            dng_parent_first_chained_ifd + n);
    ++chained_ifd_count;
    link = chained_ifd[n]->next_ifd_offset;
  }

  // SubIFDs, breadth first: the table grows while it is walked.
  bool full = false;
  for (uint32_t i = 0; i < ifd_count && !full; ++i) {
    for (uint32_t j = 0; j < ifd[i]->sub_ifds_count; ++j) {
      if (ifd_count == dng_max_ifds) {
        report_dng_warning("SubIFD count exceeds DNG parsing limit");
        full = true;
        break;
      }
      seek(stream, int64_t{ifd[i]->sub_ifds_position} + 4 * int64_t{j});
      uint32_t offset = stream.GetUInt32();
      uint32_t k = ifd_count;
      ifd[k] = host.NewIFD();
      ReadIfd(host, stream, exif.get(), shared.get(), ifd[k].get(), base + offset, base, SlotParent(k));
      ++ifd_count;
    }
  }

  if (shared->exif_ifd != 0) {
    ReadIfd(host, stream, exif.get(), shared.get(), nullptr, base + shared->exif_ifd, base, dng_parent_exif);
  }
  if (shared->gps_info != 0) {
    ReadIfd(host, stream, exif.get(), shared.get(), nullptr, base + shared->gps_info, base, dng_parent_gps);
  }
  if (shared->interoperability_ifd != 0) {
    if (CheckIfdOffset(stream, base + shared->interoperability_ifd, base)) {
      ReadIfd(host, stream, exif.get(), shared.get(), nullptr, base + shared->interoperability_ifd, base,
              dng_parent_interop);
    } else {
      report_dng_warning("The Interoperability IFD is not a valid IFD");
    }
  }
  if (shared->kodak_dcr_private_ifd != 0) {
    ReadIfd(host, stream, exif.get(), shared.get(), nullptr, base + shared->kodak_dcr_private_ifd, base,
            dng_parent_kodak_dcr);
  }
  if (shared->kodak_kdc_private_ifd != 0) {
    ReadIfd(host, stream, exif.get(), shared.get(), nullptr, base + shared->kodak_kdc_private_ifd, base,
            dng_parent_kodak_kdc);
  }
  if (shared->maker_note_count != 0) {
    ReadMakerNote(host, stream, shared->maker_note_count, shared->maker_note_position, base, 0,
                  stream.TotalLength());
  }
  if (shared->dng_private_data_count != 0 && shared->dng_version != 0) ReadPrivateData(host, stream);
}

void dng_info::ReadIfd(dng_host& host, dng_stream& stream, dng_exif* exif_object, dng_shared* shared_object,
                       dng_ifd* ifd_object, uint64_t ifd_position, int64_t offset_delta, uint32_t parent) {
  uint32_t position = checked_position(stream, static_cast<int64_t>(std::min<uint64_t>(ifd_position, INT64_MAX)));
  stream.SeekForRead(position);
  if (ifd_object != nullptr) ifd_object->this_ifd_offset = position;
  uint32_t entries = stream.GetUInt16();
  bool maker_note = is_maker_note_parent(parent);
  const char* name = parent_ifd_name(parent);
  if (dng_verbose) std::printf("%s: Offset = %u, Entries = %u\n\n", name, position, entries);
  if ((position & 1) != 0 && !maker_note) report_formatted_warning("%s has odd offset (%u)", name, position);

  uint32_t previous = 0;
  for (uint32_t i = 0; i < entries; ++i) {
    uint64_t entry = uint64_t{position} + 2 + 12 * uint64_t{i};
    seek(stream, static_cast<int64_t>(entry));
    uint32_t tag = stream.GetUInt16();
    uint32_t type = stream.GetUInt16();
    if (tag == 0 && type == 0) {
      report_formatted_warning("%s had zero/zero tag code/type entry", name);
      return;
    }
    uint32_t count = stream.GetUInt32();
    if (i > 0 && tag <= previous && !maker_note) {
      report_formatted_warning("%s tags are not sorted in ascending numerical order", name);
    }
    previous = tag;
    if (tag_type_size(type) == 0) {
      report_formatted_warning("%s %s has unknown type (%u)", name, tag_code_name(parent, tag), type);
      continue;
    }
    uint64_t value_position = entry + 8;
    if (tag_value_bytes(count, type) > dng_inline_value_bytes) {
      uint32_t offset = stream.GetUInt32();
      if ((offset & 1) != 0 && (position & 1) == 0 && !maker_note && parent != dng_parent_kodak_dcr &&
          parent != dng_parent_kodak_kdc) {
        report_formatted_warning("%s %s has odd data offset (%u)", name, tag_code_name(parent, tag), offset);
      }
      value_position = checked_position(stream, int64_t{offset} + offset_delta);
    }
    ReadTag(host, stream, exif_object, shared_object, ifd_object, parent, tag, type, count, value_position,
            offset_delta);
  }

  seek(stream, static_cast<int64_t>(uint64_t{position} + 2 + 12 * uint64_t{entries}));
  uint32_t next = stream.GetUInt32();
  if (dng_verbose) std::printf("NextIFD = %u\n", next);
  if (ifd_object != nullptr) ifd_object->next_ifd_offset = next;
  if (next != 0 && parent != dng_parent_ifd0 && !is_chained_ifd_parent(parent)) {
    report_formatted_warning("%s has an unexpected non-zero NextIFD (%u)", name, next);
  }
  if (dng_verbose) std::printf("\n");
}

void dng_info::ReadTag(dng_host& host, dng_stream& stream, dng_exif* exif_object, dng_shared* shared_object,
                       dng_ifd* ifd_object, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
                       uint64_t value_position, int64_t offset_delta) {
  bool is_main = (parent == dng_parent_ifd0 || is_sub_ifd_parent(parent)) && ifd_object != nullptr &&
                 ifd_object->uses_new_subfile_type && ifd_object->new_subfile_type == 0;
  if (magic_number == kMagicPanasonic && parent == dng_parent_ifd0 && tag < 254) {
    parent = dng_parent_panasonic_raw;
    ifd_object = nullptr;
  }
  uint32_t vp = checked_position(stream, static_cast<int64_t>(std::min<uint64_t>(value_position, INT64_MAX)));

  stream.SeekForRead(vp);
  if (ifd_object != nullptr && ifd_object->ReadTag(stream, parent, tag, type, count, vp)) return;
  if (exif_object != nullptr && shared_object != nullptr) {
    stream.SeekForRead(vp);
    if (exif_object->ReadTag(stream, shared_object, parent, is_main, tag, type, count, vp)) return;
    stream.SeekForRead(vp);
    if (shared_object->ReadTag(stream, exif_object, parent, is_main, tag, type, count, vp, offset_delta)) {
      return;
    }
  }

  if (parent == dng_parent_olympus_maker_note && type == dng_type_undefined && count >= 14) {
    for (const OlympusSubdirectory& sub : kOlympusSubdirectories) {
      if (sub.tag != tag) continue;
      uint64_t length = stream.TotalLength();
      if (ReadMakerNoteIfd(host, stream, length - vp, vp, offset_delta, vp, length, sub.parent)) return;
      break;
    }
  }
  if (parent == dng_parent_ricoh_maker_note && tag == 0x2001 && type == dng_type_undefined && count > 22) {
    char header[20];
    stream.SeekForRead(vp);
    stream.GetBytes(header, sizeof header);
    if (std::memcmp(header, "[Ricoh Camera Info]", 19) == 0) {
      ReadMakerNoteIfd(host, stream, uint64_t{count} - 20, uint64_t{vp} + 20, offset_delta, uint64_t{vp} + 20,
                       uint64_t{vp} + count, dng_parent_ricoh_camera_info);
      return;
    }
  }

  stream.SeekForRead(vp);
  if (dng_verbose) {
    std::printf("*");
    dump_tag_values(stream, tag_type_name(type), parent, tag, type, count);
  } else if (type == dng_type_ascii) {
    dng_text scratch;
    read_string_tag(stream, parent, tag, count, scratch, false, true);
  }
}

bool dng_info::CheckIfdOffset(dng_stream& stream, uint64_t ifd_position, int64_t offset_delta) {
  uint64_t length = stream.TotalLength();
  if (ifd_position > length || length - ifd_position < 2) return false;
  stream.SeekForRead(static_cast<uint32_t>(ifd_position));
  uint64_t entries = stream.GetUInt16();
  if (entries == 0) return false;
  if (ifd_position + 12 * entries + 6 > length) return false;
  for (uint64_t i = 0; i < entries; ++i) {
    stream.SeekForRead(static_cast<uint32_t>(ifd_position + 2 + 12 * i + 2));
    uint32_t type = stream.GetUInt16();
    uint32_t count = stream.GetUInt32();
    if (tag_type_size(type) == 0) return false;
    uint64_t bytes = tag_value_bytes(count, type);
    if (bytes > dng_inline_value_bytes) {
      int64_t start = int64_t{stream.GetUInt32()} + offset_delta;
      if (start < 0 || !extent_fits(static_cast<uint64_t>(start), bytes, length)) return false;
    }
  }
  return true;
}

bool dng_info::ReadMakerNoteIfd(dng_host& host, dng_stream& stream, uint64_t size, uint64_t ifd_position,
                                int64_t offset_delta, uint64_t lowest, uint64_t highest, uint32_t parent) {
  maker_note_next_ifd = 0;
  if (size < dng_min_maker_note_ifd_size) return false;
  uint32_t position = checked_position(stream, static_cast<int64_t>(std::min<uint64_t>(ifd_position, INT64_MAX)));
  stream.SeekForRead(position);
  uint64_t entries = stream.GetUInt16();
  if (entries == 0 || 2 + 12 * entries > size) return false;
  for (uint64_t i = 0; i < entries; ++i) {
    seek(stream, static_cast<int64_t>(position + 2 + 12 * i + 2));
    if (tag_type_size(stream.GetUInt16()) == 0) return false;
  }
  if (dng_verbose) std::printf("%s: Offset = %u, Entries = %u\n\n", parent_ifd_name(parent), position,
                               static_cast<uint32_t>(entries));
  for (uint64_t i = 0; i < entries; ++i) {
    uint64_t entry = position + 2 + 12 * i;
    seek(stream, static_cast<int64_t>(entry));
    uint32_t tag = stream.GetUInt16();
    uint32_t type = stream.GetUInt16();
    uint32_t count = stream.GetUInt32();
    uint64_t bytes = tag_value_bytes(count, type);
    int64_t value_position = static_cast<int64_t>(entry + 8);
    if (bytes > dng_inline_value_bytes) {
      value_position = int64_t{stream.GetUInt32()} + offset_delta;
      if (value_position < 0 || static_cast<uint64_t>(value_position) < lowest ||
          static_cast<uint64_t>(value_position) > highest || bytes > highest - static_cast<uint64_t>(value_position)) {
        continue;
      }
    }
    ReadTag(host, stream, exif.get(), shared.get(), nullptr, parent, tag, type, count,
            static_cast<uint64_t>(value_position), offset_delta);
  }
  if (size >= 2 + 12 * entries + 4) {
    seek(stream, static_cast<int64_t>(position + 2 + 12 * entries));
    maker_note_next_ifd = stream.GetUInt32();
  }
  if (dng_verbose) std::printf("\n");
  return true;
}

void dng_info::ReadMakerNote(dng_host& host, dng_stream& stream, uint64_t size, uint64_t position,
                             int64_t offset_delta, uint64_t lowest, uint64_t highest) {
  uint8_t header[16] = {};
  seek(stream, static_cast<int64_t>(std::min<uint64_t>(position, INT64_MAX)));
  stream.GetBytes(header, static_cast<uint32_t>(std::min<uint64_t>(size, sizeof header)));
  auto starts = [&](const char* text, size_t n) { return std::memcmp(header, text, n) == 0; };
  auto read = [&](uint64_t s, uint64_t p, int64_t d, uint32_t parent) {
    ReadMakerNoteIfd(host, stream, s, p, d, lowest, highest, parent);
  };

  if (starts("EPSON\0\1\0", 8)) {
    if (size > 8) read(size - 8, position + 8, offset_delta, dng_parent_epson_maker_note);
  } else if (starts("FUJIFILM", 8)) {
    uint32_t q;
    {
      TempLittleEndian little(stream);
      seek(stream, static_cast<int64_t>(position + 8));
      q = stream.GetUInt32();
    }
    if (q >= 12 && q < size) {
      read(size - q, position + q, static_cast<int64_t>(position), dng_parent_fuji_maker_note);
    }
  } else if (starts("LEICA\0\0\0", 8)) {
    if (size > 8) read(size - 8, position + 8, offset_delta, dng_parent_leica_maker_note);
  } else if (starts("Nikon\0\2", 7)) {
    seek(stream, static_cast<int64_t>(position + 10));
    uint16_t mark = stream.GetUInt16();
    if (mark != 0x4D4D && mark != 0x4949) return;
    TempBigEndian order(stream, mark == 0x4D4D);
    if (stream.GetUInt16() != 42) return;
    uint32_t q = stream.GetUInt32();
    // q must leave room for the directory: s - 10 is meaningful only when
    // the maker note is longer than its header.
    if (size > 10 && q >= 8 && q < size - 10) {
      read(size - 10 - q, position + 10 + q, static_cast<int64_t>(position + 10), dng_parent_nikon_maker_note);
    }
  } else if (starts("OLYMP", 5)) {
    if (size > 8) read(size - 8, position + 8, offset_delta, dng_parent_olympus_maker_note);
  } else if (starts("Panasonic\0\0\0", 12)) {
    if (size > 12) read(size - 12, position + 12, offset_delta, dng_parent_panasonic_maker_note);
  } else if (starts("AOC\0", 4)) {
    if (size > 6) {
      seek(stream, static_cast<int64_t>(position + 4));
      uint16_t mark = stream.GetUInt16();
      TempBigEndian order(stream, stream.IsByteSwapped() == dng_host_little_endian);
      set_order_from_mark(stream, mark);
      read(size - 6, position + 6, offset_delta, dng_parent_pentax_maker_note);
    }
  } else if (starts("RICOH", 5) || starts("Ricoh", 5)) {
    if (size > 8) {
      TempBigEndian order(stream);
      read(size - 8, position + 8, offset_delta, dng_parent_ricoh_maker_note);
    }
  } else {
    const dng_text& make = exif->make;
    if (make.BeginsWith("NIKON", false)) {
      read(size, position, offset_delta, dng_parent_nikon_maker_note);
    } else if (make.BeginsWith("CANON", false)) {
      read(size, position, offset_delta, dng_parent_canon_maker_note);
    } else if (make.BeginsWith("MINOLTA", false) || make.BeginsWith("KONICA MINOLTA", false)) {
      read(size, position, offset_delta, dng_parent_minolta_maker_note);
    } else if (make.BeginsWith("SONY", false)) {
      read(size, position, offset_delta, dng_parent_sony_maker_note);
    } else if (make.BeginsWith("EASTMAN KODAK", false)) {
      read(size, position, offset_delta, dng_parent_kodak_maker_note);
    } else if (make.BeginsWith("Mamiya", false)) {
      // The chain follows links stored in the file: it ends at a zero link,
      // at a link already followed, or after a fixed number of directories.
      read(size, position, offset_delta, dng_parent_mamiya_maker_note);
      uint64_t visited[dng_max_maker_note_chain] = {position};
      uint32_t directories = 1;
      while (maker_note_next_ifd != 0 && directories < dng_max_maker_note_chain) {
        int64_t next = offset_delta + maker_note_next_ifd;
        if (next < 0) break;
        auto at = static_cast<uint64_t>(next);
        if (std::find(visited, visited + directories, at) != visited + directories) break;
        visited[directories++] = at;
        read(size, at, offset_delta, dng_parent_mamiya_maker_note);
      }
    }
  }
}

void dng_info::ReadSonyPrivateData(dng_host&, dng_stream&, uint32_t, uint32_t, uint64_t) {}

void dng_info::ReadPrivateData(dng_host& host, dng_stream& stream) {
  const uint64_t count = shared->dng_private_data_count;
  const uint64_t start = shared->dng_private_data_position;
  if (count < 6) return;
  uint8_t signature[6];
  seek(stream, static_cast<int64_t>(start));
  stream.GetBytes(signature, sizeof signature);
  if (std::memcmp(signature, "Adobe\0", 6) != 0) return;

  TempBigEndian big(stream);
  uint64_t section = 6;
  while (section + 8 < count) {
    seek(stream, static_cast<int64_t>(start + section));
    uint32_t key = stream.GetUInt32();
    uint64_t length = stream.GetUInt32();
    if (key == key_code("MakN") && length > 6) {
      if (dng_verbose) std::printf("Found MakerNote inside DNGPrivateData\n\n");
      uint16_t mark = stream.GetUInt16();
      uint32_t original = stream.GetUInt32();
      uint64_t bytes = length - 6;
      // The block is filled from the stream: it must lie within it before
      // anything is allocated.
      if (!bytes_left_fit(stream, bytes)) throw_dng_code(dng_code_end_of_file);
      std::unique_ptr<dng_memory_block> block(host.AllocateBlock(static_cast<uint32_t>(bytes)));
      uint32_t original_position = stream.OriginalFilePosition();
      stream.GetBytes(block->Buffer(), static_cast<uint32_t>(bytes));
      dng_stream note(block->Buffer(), static_cast<uint32_t>(bytes), static_cast<int32_t>(original_position));
      note.SetByteSwapped((mark == 0x4D4D) == dng_host_little_endian);
      ReadMakerNote(host, note, bytes, 0, -int64_t{original}, 0, bytes);
    } else if (key == key_code("SR2 ") && length > 6) {
      if (dng_verbose) std::printf("Found Sony private data inside DNGPrivateData\n\n");
      uint16_t mark = stream.GetUInt16();
      uint32_t original = stream.GetUInt32();
      uint64_t new_offset = start + section + 14;
      TempBigEndian order(stream, mark == 0x4D4D);
      ReadSonyPrivateData(host, stream, static_cast<uint32_t>(length - 6), original, new_offset);
    } else if (key == key_code("RAF ") && length > 4) {
      if (dng_verbose) std::printf("Found Fuji RAF tags inside DNGPrivateData\n\n");
      uint16_t mark = stream.GetUInt16();
      constexpr uint32_t kTags[] = {dng_tag_fuji_header, dng_tag_fuji_raw_info1, dng_tag_fuji_raw_info2};
      for (uint32_t tag : kTags) {
        uint32_t c = stream.GetUInt32();
        uint64_t value_position = stream.Position();
        if (c != 0) {
          {
            TempBigEndian order(stream, mark == 0x4D4D);
            ReadTag(host, stream, exif.get(), shared.get(), nullptr, dng_parent_fuji_raf, tag, dng_type_undefined,
                    c, value_position, 0);
          }
          seek(stream, static_cast<int64_t>(value_position + c));
        }
      }
    } else if (key == key_code("Cntx") && length > 4) {
      if (dng_verbose) std::printf("Found Contax Raw header inside DNGPrivateData\n\n");
      uint16_t mark = stream.GetUInt16();
      uint32_t c = stream.GetUInt32();
      if (c != 0) {
        TempBigEndian order(stream, mark == 0x4D4D);
        ReadTag(host, stream, exif.get(), shared.get(), nullptr, dng_parent_contax_raw, dng_tag_contax_header,
                dng_type_undefined, c, stream.Position(), 0);
      }
    } else if (length > 4) {
      const PrivateTagBlock* block = nullptr;
      for (const PrivateTagBlock& b : kPrivateTagBlocks) {
        if (b.key == key) block = &b;
      }
      if (block != nullptr) {
        if (dng_verbose) std::printf("Found %s tags inside DNGPrivateData\n\n", parent_ifd_name(block->parent));
        uint16_t mark = stream.GetUInt16();
        uint32_t entries = stream.GetUInt16();
        for (uint32_t i = 0; i < entries; ++i) {
          uint32_t tag = block->wide_codes ? stream.GetUInt32() : stream.GetUInt16();
          uint32_t type = block->has_type ? stream.GetUInt16() : dng_type_undefined;
          uint32_t c = stream.GetUInt32();
          uint64_t value_position = stream.Position();
          {
            TempBigEndian order(stream, mark == 0x4D4D);
            ReadTag(host, stream, exif.get(), shared.get(), nullptr, block->parent, tag, type, c, value_position, 0);
          }
          seek(stream, static_cast<int64_t>(value_position + tag_value_bytes(c, type)));
        }
      }
    }
    section += 8 + length;
    if ((section & 1) != 0) ++section;
  }
}

void dng_info::FinishParse(dng_host& host) {
  exif->FinishParse(host, shared.get());
  shared->FinishParse(host, exif.get());
  for (uint32_t i = 0; i < ifd_count; ++i) ifd[i]->FinishParse();
  for (uint32_t i = 0; i < chained_ifd_count; ++i) chained_ifd[i]->FinishParse();
  if (shared->dng_version == 0) return;

  main_index = -1;
  for (uint32_t i = 0; i < ifd_count; ++i) {
    if (!ifd[i]->uses_new_subfile_type || ifd[i]->new_subfile_type != 0) continue;
    if (main_index == -1) {
      main_index = static_cast<int32_t>(i);
    } else {
      report_dng_error("Multiple IFDs marked as main image");
    }
  }
  if (shared->dng_version < kDngVersion110 && main_index != -1) ifd[main_index]->lossless_jpeg_bug16 = true;
  if (chained_ifd_count != 0) report_dng_warning("This file has Chained IFDs, which will be ignored by DNG readers");
}

bool dng_info::Validate() {
  if (!shared->Validate()) return false;
  if (magic_number != kMagicTiff) {
    report_dng_error("Invalid TIFF magic number");
    return false;
  }
  if (main_index == -1) {
    report_dng_error("Unable to find main image IFD");
    return false;
  }
  for (uint32_t i = 0; i < ifd_count; ++i) {
    if (!ifd[i]->Validate(*shared, SlotParent(i)) && static_cast<int32_t>(i) == main_index) return false;
  }
  return true;
}
