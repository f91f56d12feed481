// The maker-note dispatcher: picks the maker by the file's Make, lets the
// maker's reader find its directory in the note and prints the entries the
// maker's tag table names.
#include "examine/makernote.h"

#include <sys/types.h>

#include <algorithm>
#include <cctype>
#include <cinttypes>
#include <cstdlib>
#include <cstring>

#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

// One row of the maker table: the lower-case prefix of the Make that picks
// it and the reader of its directory. Nikon notes hold their strings; the
// others point into the file.
struct MakerRow {
  int id;
  const char* prefix;
  MakerDirectoryReader reader;
  bool strings_in_note;
};

constexpr MakerRow kMakers[] = {
    {1, "canon", read_canon_directory, false},
    {2, "olympus", read_olympus_directory, false},
    {3, "fujifilm", read_fujifilm_directory, false},
    {4, "nikon", read_nikon_directory, true},
    {5, "casio", read_casio_directory, false},
    {6, "minolta", read_minolta_directory, false},
    {7, "sanyo", read_sanyo_directory, false},
    {8, "asahi", read_asahi_directory, false},
    {9, "pentax", read_asahi_directory, false},
    {10, "leica", read_leica_directory, false},
    {11, "panasonic", read_panasonic_directory, false},
    {12, "sigma", read_sigma_directory, false},
};

// A fetched value's bytes are at most this long: type 2 values are printed
// as text of at most 999 characters.
constexpr uint32_t kMaxFetchedValue = 1000;

// Maker-note entries read over one examination. A note holds at most 65535
// entries of which a few hundred are real; a file whose directories all
// point at one large note would otherwise repeat that work without end.
constexpr int kMaxEntriesPerExamination = 1 << 18;

// What an entry's value may be fetched from.
struct ValueSource {
  const MakerNoteContext* context;
  FILE* file;
  uint64_t tiff_base;  // file offsets count from here
  bool from_note;
};

const MakerRow* find_maker(const char* make) {
  char lower[25];
  size_t n = 0;
  for (; n < 24 && make[n] != '\0'; ++n) {
    lower[n] = static_cast<char>(tolower(static_cast<unsigned char>(make[n])));
  }
  lower[n] = '\0';
  for (const MakerRow& row : kMakers) {
    if (strncmp(lower, row.prefix, strlen(row.prefix)) == 0) return &row;
  }
  return nullptr;
}

// The value of an entry: the value field itself when length is 4 bytes or
// less, else the (at most 1000) bytes at the offset in the value field,
// from the note (counted from its base) or from the file. Gives the number
// of bytes put in out, or -1 when they cannot be had.
long mn_fetch_value(const uint8_t field[4], uint32_t length, const ValueSource& source, uint8_t* out) {
  if (length <= 4) {
    memcpy(out, field, length);
    return static_cast<long>(length);
  }
  length = std::min(length, kMaxFetchedValue);
  const MakerNoteContext& context = *source.context;
  const uint64_t offset = get_u32(field, context.big_endian);
  if (source.from_note) {
    const uint64_t position = uint64_t{context.base} + offset;
    if (position > context.end || length > context.end - position) return -1;
    memcpy(out, context.note + position, length);
    return static_cast<long>(length);
  }
  if (source.file == nullptr) return -1;
  const off_t bookmark = ftello(source.file);
  if (bookmark < 0) return -1;
  const uint64_t position = source.tiff_base + offset;
  long got = -1;
  if (position <= static_cast<uint64_t>(INT64_MAX) && fseeko(source.file, static_cast<off_t>(position), SEEK_SET) == 0 &&
      fread(out, 1, length, source.file) == length) {
    got = static_cast<long>(length);
  }
  if (fseeko(source.file, bookmark, SEEK_SET) != 0) got = -1;
  return got;
}

int64_t magnitude(int64_t v) { return v < 0 ? -v : v; }

int64_t gcd(int64_t a, int64_t b) {
  a = magnitude(a);
  b = magnitude(b);
  while (b != 0) {
    int64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

}  // namespace

// The text of a rational (type 5 unsigned, type 10 signed), reduced by its
// greatest common divisor. Zero parts are tested before reducing, so 0/0
// (common in unset fields) prints "0".
void mn_rational_text(int type, uint32_t numerator_bits, uint32_t denominator_bits, char* text, size_t size) {
  int64_t n = type == 10 ? int64_t{static_cast<int32_t>(numerator_bits)} : int64_t{numerator_bits};
  int64_t d = type == 10 ? int64_t{static_cast<int32_t>(denominator_bits)} : int64_t{denominator_bits};
  if (n == 0) {
    format_c(text, size, "0");
    return;
  }
  if (d == 0) {
    format_c(text, size, "Infinite");
    return;
  }
  const int64_t g = gcd(n, d);
  n /= g;
  d /= g;
  const int64_t an = magnitude(n);
  const int64_t ad = magnitude(d);
  if (an == ad || ad == 1) {
    format_c(text, size, "%" PRId64, n / d);
    return;
  }
  const double quotient = static_cast<double>(n) / static_cast<double>(d);
  const bool decimal = type == 5 ? (ad < an || (ad >= 3 && an >= 2 && std::abs(quotient) >= 0.1))
                                 : (ad < an || (ad > 2 && an > 1 && std::abs(quotient) >= 0.1));
  if (decimal) {
    format_c(text, size, "%.1f", quotient);
  } else {
    format_c(text, size, "%" PRId64 "/%" PRId64, n, d);
  }
}

namespace {

// Prints one entry (the 12 bytes at entry) when the directory's table
// names its tag. False ends the listing (tag 0).
bool mn_print_entry(PrintFn print, const uint8_t* entry, const MakerNoteDirectory& directory,
                    const ValueSource& source) {
  const bool big_endian = directory.big_endian;
  const uint16_t tag = get_u16(entry, big_endian);
  const uint16_t type = get_u16(entry + 2, big_endian);
  const uint32_t count = get_u32(entry + 4, big_endian);
  const uint8_t* field = entry + 8;

  const char* name = directory.table->name(tag);
  if (name == nullptr) return true;
  print("\t\t%s: ", name);
  if (tag == 0) {
    print("[tag is %d]\n", 0);
    return false;
  }

  char text[1024] = "?";
  const MakerNoteContext& context = *source.context;
  switch (type) {
    case 1:
    case 7: {
      // The value field holds four bytes, and only count of them belong
      // to the value.
      const uint32_t n = std::min<uint32_t>(count, 4);
      size_t at = 0;
      text[0] = '\0';
      for (uint32_t i = 0; i < n; ++i) {
        at += static_cast<size_t>(format_c(text + at, sizeof text - at, "%d ", field[i]));
      }
      break;
    }
    case 2: {
      uint8_t bytes[kMaxFetchedValue];
      const long got = mn_fetch_value(field, count, source, bytes);
      if (got >= 0) {
        // File strings need not end in a zero byte: take what the value
        // holds, up to its first zero byte and at most 999 characters.
        const size_t usable = std::min<size_t>(static_cast<size_t>(got), kMaxFetchedValue - 1);
        const size_t length = strnlen(reinterpret_cast<const char*>(bytes), usable);
        memcpy(text, bytes, length);
        text[length] = '\0';
      }
      break;
    }
    case 3:
      if (count > 1) {
        format_c(text, sizeof text, "%d %d", get_u16(field, big_endian), get_u16(field + 2, big_endian));
      } else {
        format_c(text, sizeof text, "%d", get_u16(field, big_endian));
      }
      break;
    case 8:
      if (count > 1) {
        format_c(text, sizeof text, "%d %d", static_cast<int16_t>(get_u16(field, big_endian)),
                 static_cast<int16_t>(get_u16(field + 2, big_endian)));
      } else {
        format_c(text, sizeof text, "%d", static_cast<int16_t>(get_u16(field, big_endian)));
      }
      break;
    case 4:
    case 9:
      if (count == 1) {
        format_c(text, sizeof text, "%d", static_cast<int32_t>(get_u32(field, big_endian)));
      } else {
        format_c(text, sizeof text, "[Can't interpret value (TIFF_[S]LONG count = %d).]", static_cast<int32_t>(count));
      }
      break;
    case 5:
    case 10: {
      const uint32_t offset = get_u32(field, big_endian);
      const uint64_t position = uint64_t{context.base} + offset;
      if (position > context.end || context.end - position < 8) {
        format_c(text, sizeof text, "[Can't interpret rational value (count = %d; value = %u; maxlen = %u).]",
                 static_cast<int32_t>(count), offset, context.end);
      } else {
        const uint8_t* p = context.note + position;
        mn_rational_text(type, get_u32(p, big_endian), get_u32(p + 4, big_endian), text, sizeof text);
      }
      break;
    }
    default:
      format_c(text, sizeof text, "[Can't interpret value (type = %d).]", int{type});
      break;
  }
  print("%s\n", text);
  return true;
}

}  // namespace

const char* MakerTagTable::name(uint16_t tag) const {
  const TagDef* end = rows + size;
  const TagDef* it = std::lower_bound(rows, end, int32_t{tag}, [](const TagDef& row, int32_t t) { return row.tag < t; });
  return it != end && it->tag == tag ? it->name : nullptr;
}

bool mn_read_directory(const MakerNoteContext& context, uint32_t position, const MakerTagTable* table,
                       MakerNoteDirectory* out) {
  if (position > context.end || context.end - position < 2) return false;
  const uint16_t count = get_u16(context.note + position, context.big_endian);
  const uint32_t entries_end = position + 2 + 12 * uint32_t{count};  // at most position + 786422
  if (uint64_t{entries_end} > context.end) return false;
  out->entry_count = count;
  out->first_entry = position + 2;
  out->table = table;
  out->big_endian = context.big_endian;
  out->base = context.base;
  out->end = context.end;
  out->next = context.end - entries_end >= 4 ? get_u32(context.note + entries_end, context.big_endian) : 0;
  return true;
}

bool mn_starts_with(const MakerNoteContext& context, const char* prefix, size_t length) {
  return context.end >= length && memcmp(context.note, prefix, length) == 0;
}

void mn_warn(const MakerNoteContext& context, const char* text) {
  if (context.warnings) fprintf(stderr, "%s: %s\n", "(null)", text);
}

void mn_warn_detail(const MakerNoteContext& context, const char* text, const char* detail) {
  if (context.warnings) fprintf(stderr, "%s: %s (%s)\n", "(null)", text, detail);
}

void print_maker_notes(PrintFn print, const char* /*model*/, const uint8_t* note, uint32_t note_length,
                       const char* make, bool big_endian, FILE* file, uint64_t tiff_base, MakerNoteFindings* findings,
                       bool warnings) {
  const bool has_make = make != nullptr && make[0] != '\0';
  print("\n\tMaker Notes for %s\n", has_make ? make : "?");
  const MakerRow* row = has_make ? find_maker(make) : nullptr;
  if (row == nullptr || row->reader == nullptr) {
    print("\t\t[Can't interpret Maker Notes.]\n");
    print("\n");
    return;
  }
  if (findings != nullptr) ++findings->count;
  MakerNoteContext context{note, note == nullptr ? 0 : note_length, big_endian};
  context.warnings = warnings;
  MakerNoteDirectory directory;
  if (!row->reader(&context, &directory)) {
    print("\t\t[Error interpreting Maker Notes.]\n");
    print("\n");
    return;
  }
  const ValueSource source{&context, file, tiff_base, row->strings_in_note};
  for (uint32_t i = 0; i < directory.entry_count; ++i) {
    if (findings != nullptr) {
      if (findings->total >= kMaxEntriesPerExamination) break;
      ++findings->total;
    }
    if (!mn_print_entry(print, note + directory.first_entry + 12 * i, directory, source)) break;
  }
  print("\n");
}
