#include "examine/tv_ifd.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "examine/byte_reader.h"
#include "examine/examiner.h"
#include "examine/makernote.h"
#include "examine/tag_def.h"
#include "examine/value_print.h"

namespace {

using examine_limits::kMaxDirectories;
using examine_limits::kMaxNestingDepth;
using examine_limits::kPrintedValueBytes;
using examine_limits::kMaxSubIfds;
using examine_limits::kMaxTotalEntries;
using examine_limits::kMaxValueCount;

// Failure texts of the examiner's own guards (the others are inline below).
constexpr const char* kLoopText = "Image File Directory loop";
constexpr const char* kTooManyDirectoriesText = "Too many Image File Directories";
constexpr const char* kTooManyEntriesText = "Too many Image File Directory entries";
constexpr const char* kTooDeepText = "Image File Directories nested too deeply";

// Copies a text value into a fixed field: at most keep characters, never
// more than the value's bytes, stopping at a zero byte; always terminated.
void copy_text(char* field, size_t keep, const uint8_t* value, size_t length) {
  size_t n = 0;
  size_t limit = std::min(keep, length);
  while (n < limit && value[n] != 0) {
    field[n] = static_cast<char>(value[n]);
    ++n;
  }
  field[n] = '\0';
}

const char* subfile_type_text(uint32_t value) {
  switch (value) {
    case 1: return "reduced-resolution version";
    case 2: return "single page of multi-page image";
    case 4: return "transparency mask";
    default: return "Unknown";
  }
}

const char* compression_text(uint32_t value) {
  switch (value) {
    case 1: return "Uncompressed";
    case 2: return "CCITT_1D";
    case 3: return "Group_3_Fax";
    case 4: return "Group_4_Fax";
    case 5: return "LZW";
    case 6: return "JPEG";
    case 7: return "JPEG_DNG";
    case 32773: return "PackBits";
    default: return "Unknown";
  }
}

const char* orientation_text(uint32_t value) {
  static constexpr const char* kNames[] = {"top left",  "top right", "bottom right", "bottom left",
                                           "left top",  "right top", "right bottom", "left bottom"};
  return value >= 1 && value <= 8 ? kNames[value - 1] : "Unknown";
}

// The i-th value of an integer type (BYTE, SHORT, LONG and their signed
// kinds) from value bytes that hold it.
uint32_t integer_value(const uint8_t* value, uint32_t size, uint32_t i, bool big_endian) {
  const uint8_t* p = value + size_t{i} * size;
  switch (size) {
    case 1: return p[0];
    case 2: return get_u16(p, big_endian);
    default: return get_u32(p, big_endian);
  }
}

// Keeps the nesting depth of a walk while it runs.
class DepthGuard {
 public:
  explicit DepthGuard(ExaminerState* state) : state_(state) { ++state_->depth; }
  ~DepthGuard() { --state_->depth; }
  bool too_deep() const { return state_->depth > kMaxNestingDepth; }

 private:
  ExaminerState* state_;
};

}  // namespace

TV_IFD::TV_IFD(ExaminerState* owner) : file(owner->file), message(owner->message), state(owner) {}

TV_IFD::~TV_IFD() {
  // The chain can be thousands of directories long: unlink it here rather
  // than letting each destructor delete the next one.
  TV_IFD* link = next;
  next = nullptr;
  while (link != nullptr) {
    TV_IFD* after = link->next;
    link->next = nullptr;
    delete link;
    link = after;
  }
  for (SubIfd& sub : sub_ifds) delete sub.ifd;
  delete exif;
  delete gps;
}

bool TV_IFD::fail(const char* text) { return state->fail(text); }

bool TV_IFD::read_entries(uint32_t offset, bool walking, const char* label, const EntryFlags& flags) {
  if (offset & 1) {
    if (!walking) return fail("Image File Directory offset not at word boundary");
    state->print("\nWARNING: Image File Directory offset not at word boundary.\n");
  }
  const uint64_t position = state->base + offset;
  if (!state->visited.insert(position).second) return fail(kLoopText);
  if (++state->directories > kMaxDirectories) return fail(kTooManyDirectoriesText);

  uint8_t count_bytes[2];
  switch (state->source.read_at(position, count_bytes, 2)) {
    case FileSource::Status::seek_failed: return fail("Seek error - file may be short");
    case FileSource::Status::short_read: return fail("Read error - file may be short (reading entry count)");
    case FileSource::Status::ok: break;
  }
  const uint32_t count = get_u16(count_bytes, state->big_endian);
  directory_offset = position;
  directory_size = 2 + 12 * count + 4;
  if (walking) {
    state->print("\n%s Image File Directory at offset %d (%d entries)\n", label,
                 static_cast<int32_t>(offset), static_cast<int>(count));
  }
  if (count == 0) return fail("Image File Directory has no entries");
  if (count > kMaxTotalEntries - std::min(state->entries, kMaxTotalEntries)) return fail(kTooManyEntriesText);
  state->entries += count;

  // The entries and the next-directory offset in one read; whatever the
  // file lacks shows up below as the read error of the first missing part.
  size_t wanted = size_t{12} * count + 4;
  if (state->source.size_known()) {
    uint64_t left = state->source.size() > position + 2 ? state->source.size() - position - 2 : 0;
    wanted = static_cast<size_t>(std::min<uint64_t>(wanted, left));
  }
  std::vector<uint8_t> block;
  try {
    block.resize(wanted);
  } catch (const std::bad_alloc&) {
    return fail("Out of memory");
  }
  bool seek_ok;
  size_t got = state->source.read_some_at(position + 2, block.data(), block.size(), &seek_ok);
  if (!seek_ok) return fail("Seek error - file may be short");

  int32_t previous_tag = -1;
  for (uint32_t i = 0; i < count; ++i) {
    size_t at = size_t{12} * i;
    if (got < at + 12) return fail("Read error - file may be short (reading entry)");
    int32_t tag;
    if (!read_ifd_entry(this, block.data() + at, flags.stop_after_exif, flags.summary, flags.gps,
                        flags.hide_maker_note, flags.kind, &tag)) {
      return false;
    }
    if (tag < previous_tag) {
      if (!walking) return fail("tags are out of order");
      state->print("\nWARNING: Tags are out of order.\n");
    }
    previous_tag = tag;
  }
  const size_t at = size_t{12} * count;
  next_offset_read_ = got >= at + 4;
  next_offset_ = next_offset_read_ ? get_u32(block.data() + at, state->big_endian) : 0;
  return true;
}

bool TV_IFD::read(uint32_t offset) {
  EntryFlags flags{false, false, false, false, 0};
  return read_entries(offset, false, nullptr, flags);
}

bool TV_IFD::walk(uint32_t offset, const char* label, bool stop_after_exif, bool summary,
                  bool hide_maker_note) {
  DepthGuard depth(state);
  if (depth.too_deep()) return fail(kTooDeepText);

  // This directory and the chain after it are printed first, one after the
  // other; then, from the last of the chain back to this one, each
  // directory's EXIF, GPS and sub-directories. (The order is that of a walk
  // which follows each Next link as soon as it reads it.)
  struct Step {
    TV_IFD* directory;
    bool stop_after_exif;
    bool summary;
    bool hide_maker_note;
  };
  std::vector<Step> chain;
  TV_IFD* directory = this;
  Step step{this, stop_after_exif, summary, hide_maker_note};
  uint32_t at = offset;
  const char* name = label;
  for (;;) {
    const bool gps_directory = strcmp(name, "GPS") == 0;
    const int kind = strcmp(name, "EXIF") == 0 ? 2 : strcmp(name, "First") == 0 ? 1 : 0;
    EntryFlags flags{step.stop_after_exif, step.summary, gps_directory, step.hide_maker_note, kind};
    chain.push_back(step);
    if (!directory->read_entries(at, true, name, flags)) return false;
    // The next offset matters only when the walk goes on along the chain.
    if (step.stop_after_exif && directory->exif_offset > 0) break;
    if (!directory->next_offset_read_) {
      return fail("Read error - file may be short (reading Image File Directory offset)");
    }
    const uint32_t next_offset = directory->next_offset_;
    if (next_offset == 0) {
      state->print("\nNext Image File Directory offset is zero\n");
      break;
    }
    directory->next = new TV_IFD(state);
    directory = directory->next;
    step = Step{directory, false, false, false};
    at = next_offset;
    name = "Next";
  }
  for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
    if (!it->directory->walk_below(it->stop_after_exif, it->summary, it->hide_maker_note)) return false;
  }
  return true;
}

bool TV_IFD::walk_below(bool stop_after_exif, bool summary, bool hide_maker_note) {
  if (exif_offset > 0) {
    exif = new TV_IFD(state);
    if (!exif->walk(static_cast<uint32_t>(exif_offset), "EXIF", false, summary, hide_maker_note)) return false;
  }
  if (gps_offset > 0) {
    gps = new TV_IFD(state);
    if (!gps->walk(static_cast<uint32_t>(gps_offset), "GPS", false, false, true)) return false;
  }
  if (stop_after_exif && exif_offset > 0) return true;
  state->print("\nNumber of Sub IFDs: %d\n", static_cast<int>(sub_ifd_count));
  for (uint32_t i = 0; i < sub_ifd_count; ++i) {
    sub_ifds[i].ifd = new TV_IFD(state);
    if (!sub_ifds[i].ifd->walk(sub_ifds[i].offset, "Sub", false, false, false)) return false;
  }
  if (has_xmp) state->print("\nXMP entry:\n%s\n", xmp.c_str());
  return true;
}

bool TV_IFD_CRW::read(uint32_t) {
  state->print("TV_IFD_CRW::read not supported\n");
  return fail("TV_IFD_CRW::read not supported");
}

bool TV_IFD_X3F::read(uint32_t) {
  state->print("TV_IFD_X3F::read not supported\n");
  return fail("TV_IFD_X3F::read not supported");
}

bool read_ifd_entry(TV_IFD* dir, const uint8_t entry[12], bool stop_after_exif, bool summary, bool gps,
                    bool hide_maker_note, int kind, int32_t* tag_out) {
  ExaminerState* state = dir->state;
  const bool big_endian = state->big_endian;
  const PrintFn print = state->print;
  const uint16_t tag = get_u16(entry, big_endian);
  const uint16_t type = get_u16(entry + 2, big_endian);
  const uint32_t count = get_u32(entry + 4, big_endian);
  const uint8_t* field = entry + 8;
  const uint32_t field_value = get_u32(field, big_endian);
  *tag_out = tag;

  if (type < 1 || type > 12) {
    print("Unknown type = %d\n", int{type});
    return true;
  }
  const uint32_t size = tiff_type_size(type);
  const uint64_t total = uint64_t{size} * count;

  const char* name = gps ? tag_def_GPS_name(tag) : tag_def_name(tag);
  print("\t%s: ", name != nullptr ? name : "(null)");
  if (count > kMaxValueCount) {
    print("[>5000000 values - not displayed]\n");
    return true;
  }
  if (tag == 37500 && hide_maker_note) {
    print("[not shown]\n");
    return true;
  }

  // The value bytes: in the entry when they fit, else at the offset.
  const uint8_t* value;
  size_t value_length;
  bool single_known = false;
  uint32_t single = 0;
  if (total <= 4) {
    value = field;
    value_length = static_cast<size_t>(total);
    if (count == 1) {
      single_known = true;
      single = integer_value(field, size, 0, big_endian);
    }
  } else {
    if (field_value & 1) print("\nWARNING: Image File Directory value offset not at word boundary.\n");
    const uint64_t position = state->base + field_value;
    // Values the directory keeps are fetched whole; the rest only as far
    // as the dump shows them, which keeps image data such as previews and
    // tables unread. The file must hold the whole value either way.
    const bool kept_whole = ((tag == 273 || tag == 700) && !stop_after_exif) || tag == 33723 || tag == 37500;
    size_t wanted = static_cast<size_t>(total);
    if (!kept_whole && state->source.size_known()) wanted = std::min(wanted, kPrintedValueBytes);
    if (!state->source.has_range(position, total)) {
      return state->fail("Read error - file may be short (reading value)");
    }
    try {
      if (state->scratch.size() < wanted) state->scratch.resize(wanted);
    } catch (const std::bad_alloc&) {
      return state->fail("Out of memory");
    }
    switch (state->source.read_at(position, state->scratch.data(), wanted)) {
      case FileSource::Status::seek_failed: return state->fail("Seek error - file may be short");
      case FileSource::Status::short_read: return state->fail("Read error - file may be short (reading value)");
      case FileSource::Status::ok: break;
    }
    value = state->scratch.data();
    value_length = wanted;
  }
  // Values of integer types held in value (at most value_length / size).
  const uint32_t values_held = static_cast<uint32_t>(std::min<uint64_t>(count, value_length / size));

  bool printed = false;
  if (summary) {
    const char* summary_name = tag_def_EXIF_find(tag);
    if (summary_name == nullptr && tag != 34665 && !state->summary_all) return true;
    if (tag != 34665) {
      capture_clear();
      print_values(capture_printf, big_endian, value, value_length, type, count);
      std::string text = capture_text();
      while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t' ||
                               text.back() == '\r')) {
        text.pop_back();
      }
      capture_clear();
      summary_append(state, tag, type, single, static_cast<uint32_t>(total), kind,
                     summary_name != nullptr ? summary_name : (name != nullptr ? name : "(null)"), text.c_str());
      printed = true;
    }
  }
  if (!printed) print_values(print, big_endian, value, value_length, type, count);

  const char* missing_value = "Tag is missing value";
  switch (tag) {
    case 46:
      dir->preview_offset = field_value;
      dir->preview_length = static_cast<uint32_t>(total);
      break;
    case 254:
      print("\t\t(Subfile Type: %s)\n", subfile_type_text(single_known ? single : 0));
      break;
    case 256:
    case 257:
    case 262:
    case 277:
    case 278:
      if (!single_known) return state->fail(missing_value);
      if (tag == 256) dir->width = static_cast<int32_t>(single);
      if (tag == 257) dir->length = static_cast<int32_t>(single);
      if (tag == 262) dir->photometric = single;
      if (tag == 277) dir->samples_per_pixel = single;
      if (tag == 278) dir->rows_per_strip = single;
      break;
    case 258:
      if (single_known) {
        dir->bits_per_sample[0] = single;
      } else {
        if (count != 1 && count != 3) return state->fail("BitsPerSample has other than 1 or 3 values");
        if (size != 2) return state->fail("BitsPerSample has other than 16-bit values");
        if (values_held < 3) return state->fail(missing_value);
        for (uint32_t i = 0; i < 3; ++i) dir->bits_per_sample[i] = integer_value(value, size, i, big_endian);
      }
      break;
    case 259:
      if (!single_known) return state->fail(missing_value);
      dir->compression = single;
      print("\t\t(Compression: %s)\n", compression_text(single));
      break;
    case 271:
      copy_text(state->make, sizeof state->make - 1, value, value_length);
      break;
    case 272:
      copy_text(state->model, sizeof state->model - 1, value, value_length);
      break;
    case 273:
      dir->strip_count = count;
      if (!stop_after_exif) {
        if (type != 3 && type != 4) return state->fail("StripOffsets type not 3 or 4");
        try {
          dir->strip_offsets.resize(values_held);
        } catch (const std::bad_alloc&) {
          return state->fail("Out of memory");
        }
        for (uint32_t i = 0; i < values_held; ++i) dir->strip_offsets[i] = integer_value(value, size, i, big_endian);
      }
      break;
    case 274:
      state->orientation = static_cast<int>(single_known ? single : 0);
      print("\t\t(Orientation: %s)\n", orientation_text(single_known ? single : 0));
      break;
    case 279:
      if (single_known) dir->strip_byte_count = single;
      break;
    case 306:
      copy_text(state->date_time, sizeof state->date_time - 1, value, value_length);
      break;
    case 330:
      if (count > kMaxSubIfds) return state->fail("Too many SubIFDs");
      if (type != 4) return state->fail("SubIFD offset is not signed 32-bit number (type 4)");
      dir->sub_ifd_count = values_held;
      for (uint32_t i = 0; i < values_held; ++i) dir->sub_ifds[i].offset = integer_value(value, size, i, big_endian);
      break;
    case 513:
    case 514:
      if (count == 1) {
        if (type != 3 && type != 4) {
          return state->fail(tag == 513 ? "JPEGInterchangeFormat type not 3 or 4"
                                        : "JPEGInterchangeFormatLength type not 3 or 4");
        }
        (tag == 513 ? dir->jpeg_interchange_format : dir->jpeg_interchange_format_length) = single;
      }
      break;
    case 700:
      if (!stop_after_exif) {
        const char* text = reinterpret_cast<const char*>(value);
        dir->xmp.assign(text, strnlen(text, value_length));
        dir->has_xmp = true;
      }
      break;
    case 33723:
      print_iptc(print, value, value_length);
      break;
    case 34665:
      if (type != 4 || count != 1) return state->fail("Exif_IFD is not type 4 and/or has more than one value");
      dir->exif_offset = static_cast<int32_t>(single);
      break;
    case 34853:
      if (type != 4 || count != 1) return state->fail("GPS_IFD is not type 4 and/or has more than one value");
      dir->gps_offset = static_cast<int32_t>(single);
      break;
    case 36868:
      copy_text(state->date_time_digitized, sizeof state->date_time_digitized - 1, value, value_length);
      break;
    case 37500: {
      try {
        dir->maker_note.assign(value, value + value_length);
      } catch (const std::bad_alloc&) {
        return state->fail("Out of memory");
      }
      dir->maker_note_offset = field_value;
      print("\tMakerNoteBase: %d\n", static_cast<int32_t>(field_value));
      MakerNoteFindings& found = state->maker_note;
      found.actuations = 0;
      found.serial[0] = '\0';
      print_maker_notes(print, state->model, dir->maker_note.data(), static_cast<uint32_t>(dir->maker_note.size()),
                        state->make, big_endian, state->file, state->base, &found, state->maker_note_warnings);
      found.serial[sizeof found.serial - 1] = '\0';
      char actuations[16];
      snprintf(actuations, sizeof actuations, "%u", found.actuations);
      summary_append(state, 167, 4, found.actuations, 4, kind, "Actuations", actuations);
      if (found.serial[0] != '\0') {
        summary_append(state, 50735, 2, 0, static_cast<uint32_t>(strlen(found.serial) + 1), kind,
                       "CameraSerialNumber", found.serial);
      }
      break;
    }
    case 37522:
      copy_text(state->sub_sec_time_digitized, sizeof state->sub_sec_time_digitized - 1, value, value_length);
      break;
    case 50706:
      dir->is_dng = true;
      break;
    default:
      break;
  }
  return true;
}
