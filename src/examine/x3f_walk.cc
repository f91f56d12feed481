// The X3F header and the printing walk of an X3F directory: its section
// entries and the properties of its last PROP section (a table of name and
// value offsets into UTF-16 character data).
#include "examine/x3f_walk.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "examine/byte_reader.h"
#include "examine/print_hook.h"

namespace {

using Status = FileSource::Status;

// The header after the 8 bytes the dispatch has read: identifier, image
// size and rotation, white balance label and the extended data.
constexpr size_t kHeaderRest = 224;
constexpr size_t kIdentifierAt = 8;  // offsets from the start of the file
constexpr size_t kColumnsAt = 28;
constexpr size_t kRowsAt = 32;
constexpr size_t kRotationAt = 36;
constexpr size_t kWhiteBalanceAt = 40;
constexpr size_t kWhiteBalanceLength = 32;
constexpr size_t kExtendedTypesAt = 72;
constexpr size_t kExtendedValuesAt = 104;
constexpr size_t kExtendedSlots = 32;

constexpr size_t kDirectoryHeader = 12;
constexpr size_t kDirectoryEntry = 12;
constexpr size_t kPropHeader = 24;
constexpr size_t kPropCountAt = 8;
constexpr size_t kPropCharactersAt = 20;

// Characters kept of a property's name or value.
constexpr size_t kMaxPropertyText = 199;

constexpr const char* kPropTooLargeText = "Bad PROP section - property table runs past the section";

const char* extended_format(uint8_t type) {
  switch (type) {
    case 1: return "Exposure adjust: %s\n";
    case 2: return "Contrast adjust: %s\n";
    case 3: return "Shadow adjust: %s\n";
    case 4: return "Highlight adjust: %s\n";
    case 5: return "Saturation adjust: %s\n";
    case 6: return "Sharpness adjust: %s\n";
    case 7: return "Color adjust red: %s\n";
    case 8: return "Color adjust green: %s\n";
    case 9: return "Color adjust blue: %s\n";
    case 10: return "X3 Fill Light adjust: %s\n";
    default: return nullptr;
  }
}

bool printable(uint8_t c) { return c >= 0x20 && c <= 0x7e; }

// A 4-character section type as text: up to a zero byte, "?" for a
// character that cannot be shown.
std::string type_text(const uint8_t* type) {
  std::string text;
  for (size_t i = 0; i < 4 && type[i] != 0; ++i) text += printable(type[i]) ? static_cast<char>(type[i]) : '?';
  return text;
}

char shown(uint8_t c) { return printable(c) ? static_cast<char>(c) : '?'; }

// The string of 16-bit units at unit offset `at` of the character data (of
// `units` units): up to a zero unit or the end of the data, the low byte of
// each unit, at most kMaxPropertyText characters.
std::string property_text(const uint8_t* characters, uint64_t units, uint32_t at) {
  std::string text;
  for (uint64_t i = at; i < units && text.size() < kMaxPropertyText; ++i) {
    const uint16_t unit = get_u16(characters + 2 * i, false);
    if (unit == 0) break;
    const uint8_t low = static_cast<uint8_t>(unit & 0xFF);
    if (low == 0) break;  // the kept text ends at a zero byte as well
    text += static_cast<char>(low);
  }
  return text;
}

bool equal_ignoring_case(const std::string& a, const char* b) {
  size_t n = strlen(b);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return true;
}

// Appends the summary items a known property gives.
void summarise_property(ExaminerState* state, const std::string& name, const std::string& value) {
  static constexpr struct {
    const char* property;
    const char* item;
  } kItems[] = {{"CAMMANUF", "Make"},         {"CAMMODEL", "Model"},          {"ISO", "ISOSpeedRatings"},
                {"FIRMVERS", "Software"},     {"SH_DESC", "ShutterSpeedValue"}, {"AP_DESC", "FNumber"},
                {"FLENGTH", "FocalLength"},   {"WB_DESC", "WhiteBalance"},    {"FLASH", "Flash"}};
  const uint32_t length = static_cast<uint32_t>(value.size() + 1);
  for (const auto& known : kItems) {
    if (equal_ignoring_case(name, known.property)) {
      summary_append(state, 0, 2, 0, length, 0, known.item, value.c_str());
      return;
    }
  }
  if (equal_ignoring_case(name, "TIME")) {
    const long long seconds = strtoll(value.c_str(), nullptr, 10);
    char when[64];
    format_utc_time(when, sizeof when, "%Y%m%d_%H%M%S", static_cast<time_t>(seconds));
    summary_append(state, 0, 2, 0, static_cast<uint32_t>(strlen(when) + 1), 0, "DateTimeOriginal", when);
    summary_append(state, 0, 2, 0, static_cast<uint32_t>(strlen(when) + 1), 0, "DateTimeDigitized", when);
  }
}

}  // namespace

bool x3f_examine_header(ExaminerState* state, ExamineMode mode) {
  const PrintFn print = state->print;
  state->big_endian = false;
  print("X3F\n");
  uint8_t header[8 + kHeaderRest];
  switch (state->source.read_at(0, header, sizeof header)) {
    case Status::seek_failed:
    case Status::short_read: return state->fail("Read error - file may be short (reading X3F header)");
    case Status::ok: break;
  }
  const uint16_t version_a = get_u16(header + 4, false);
  const uint16_t version_b = get_u16(header + 6, false);
  print("File Format Version: %d.%d\n", int{version_a}, int{version_b});
  print("Unique Identifier: ");
  for (size_t i = 0; i < 16; ++i) print("%02x", unsigned{header[kIdentifierAt + i]});
  print("\n");
  print("Image Columns: %d\n", static_cast<int32_t>(get_u32(header + kColumnsAt, false)));
  print("Image Rows: %d\n", static_cast<int32_t>(get_u32(header + kRowsAt, false)));
  print("Rotation: %d\n", static_cast<int32_t>(get_u32(header + kRotationAt, false)));
  if (version_a > 2 || (version_a == 2 && version_b != 0)) {
    // The label fills its 32 bytes when it is that long: no zero byte then.
    const char* label = reinterpret_cast<const char*>(header + kWhiteBalanceAt);
    print("White Balance Label: %.*s\n", static_cast<int>(strnlen(label, kWhiteBalanceLength)), label);
    for (size_t slot = 0; slot < kExtendedSlots; ++slot) {
      const char* format = extended_format(header[kExtendedTypesAt + slot]);
      if (format == nullptr) continue;
      char value[400];  // "%f" of the largest 32-bit integer needs 17
      format_c(value, sizeof value, "%f", get_u32_as_real(header + kExtendedValuesAt + 4 * slot, false));
      print(format, value);
    }
  }

  uint8_t pointer[4];
  if (!state->source.size_known()) return state->fail("Seek error - file may be short");
  switch (state->source.read_at(state->source.size() - sizeof pointer, pointer, sizeof pointer)) {
    case Status::seek_failed: return state->fail("Seek error - file may be short");
    case Status::short_read: return state->fail("Read error - file may be short (reading X3F DirectoryPointer)");
    case Status::ok: break;
  }
  const uint32_t directory_offset = get_u32(pointer, false);
  if (directory_offset == 0) return state->fail("Bad header - missing DirectoryPointer");
  auto* directory = new TV_IFD_X3F(state);
  state->first = directory;
  if (mode == ExamineMode::read) return directory->read(directory_offset);
  return directory->walk(directory_offset, "First", mode == ExamineMode::walk_stop_after_exif, false, false);
}

TV_IFD_X3F::~TV_IFD_X3F() = default;

bool TV_IFD_X3F::walk(uint32_t directory_offset, const char*, bool, bool, bool) {
  const PrintFn print = state->print;
  FileSource& source = state->source;
  print("Directoryoffset = %d\n", static_cast<int32_t>(directory_offset));
  uint8_t header[kDirectoryHeader];
  switch (source.read_at(directory_offset, header, sizeof header)) {
    case Status::seek_failed: return fail("Seek error (Directory) - file may be short");
    case Status::short_read: return fail("Read error - file may be short (reading directory header)");
    case Status::ok: break;
  }
  print("Directory Section: %c%c%c%c\n", shown(header[0]), shown(header[1]), shown(header[2]), shown(header[3]));
  const int32_t count = static_cast<int32_t>(get_u32(header + 8, false));
  print("Number of Entries: %d\n", count);
  if (count <= 0) return true;

  // Entries are read one at a time: a count larger than the file ends at
  // the first entry it lacks.
  bool prop_found = false;
  uint32_t prop_offset = 0;
  uint32_t prop_length = 0;
  for (int32_t i = 0; i < count; ++i) {
    uint8_t entry[kDirectoryEntry];
    const uint64_t at = uint64_t{directory_offset} + kDirectoryHeader + kDirectoryEntry * static_cast<uint64_t>(i);
    if (source.read_at(at, entry, sizeof entry) != Status::ok) {
      return fail("Read error - file may be short (reading directory entry)");
    }
    const uint32_t offset = get_u32(entry, false);
    const uint32_t length = get_u32(entry + 4, false);
    print("Entry %d: offset: %u; length: %u; type: %s\n", i, offset, length, type_text(entry + 8).c_str());
    if (memcmp(entry + 8, "PROP", 4) == 0) {
      prop_found = true;
      prop_offset = offset;
      prop_length = length;
    }
  }
  if (!prop_found || static_cast<int32_t>(prop_length) <= 0) return true;

  uint8_t prop[kPropHeader];
  switch (source.read_at(prop_offset, prop, sizeof prop)) {
    case Status::seek_failed: return fail("Seek error (PROP section) - file may be short");
    case Status::short_read: return fail("Read error - file may be short (reading PROP header)");
    case Status::ok: break;
  }
  const uint32_t properties = get_u32(prop + kPropCountAt, false);
  const uint32_t character_units = get_u32(prop + kPropCharactersAt, false);
  // Sizes from the file, in 64 bits: the table and the characters must lie
  // in the file and in the section the directory gives.
  const uint64_t table_size = uint64_t{properties} * 8;
  const uint64_t block_size = table_size + uint64_t{character_units} * 2;
  const uint64_t data_at = uint64_t{prop_offset} + kPropHeader;
  if (!source.has_range(data_at, block_size)) return fail("Read error - file may be short (reading PROP data)");
  if (prop_length < kPropHeader || block_size > prop_length - kPropHeader) return fail(kPropTooLargeText);
  try {
    if (state->scratch.size() < block_size) state->scratch.resize(block_size);
  } catch (const std::bad_alloc&) {
    return fail("Out of memory");
  }
  if (block_size > 0 && source.read_at(data_at, state->scratch.data(), block_size) != Status::ok) {
    return fail("Read error - file may be short (reading PROP data)");
  }
  print("Number of Properties: %d; Property Table Size = %d; Block Size = %d\n", static_cast<int32_t>(properties),
        static_cast<int32_t>(table_size), static_cast<int32_t>(block_size));

  const uint8_t* table = state->scratch.data();
  const uint8_t* characters = table + table_size;
  for (uint32_t i = 0; i < properties; ++i) {
    const uint32_t name_at = get_u32(table + 8 * size_t{i}, false);
    const uint32_t value_at = get_u32(table + 8 * size_t{i} + 4, false);
    print("Property %d: name offset %d; value offset %d\n", static_cast<int32_t>(i),
          static_cast<int32_t>(name_at * 2u), static_cast<int32_t>(value_at * 2u));
    const std::string name = property_text(characters, character_units, name_at);
    const std::string value = property_text(characters, character_units, value_at);
    print("\t%s = %s\n", name.empty() ? "?" : name.c_str(), value.empty() ? "?" : value.c_str());
    summarise_property(state, name, value);
  }
  return true;
}
