// Asahi and Pentax maker notes: the "AOC" header with its byte-order mark, or
// a big-endian directory at the note's start; their tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 7> kAsahiRows{{
  {8, "AsahiQuality"},
  {9, "AsahiRes"},
  {13, "AsahiFocus"},
  {25, "AsahiWhiteB"},
  {31, "AsahiSaturate"},
  {32, "AsahiContrast"},
  {33, "AsahiSharp"},
}};
constexpr auto kAsahiSorted = tag_table::sorted_by_tag(kAsahiRows);
static_assert(!tag_table::has_repeated_tag(kAsahiSorted), "a tag appears twice in the table");
constexpr MakerTagTable kAsahiTable = maker_tag_table(kAsahiSorted);

}  // namespace

bool read_asahi_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (mn_starts_with(*context, "AOC\0", 4)) {
    // Bytes 4 and 5 say the byte order: two blanks big-endian, two zero
    // bytes the file's.
    if (mn_starts_with(*context, "AOC\0  ", 6)) {
      context->big_endian = true;
    } else if (!mn_starts_with(*context, "AOC\0\0\0", 6)) {
      mn_warn(*context, "Asahi maker note version not supported");
      return false;
    }
    return mn_read_directory(*context, 6, &kAsahiTable, out);
  }
  if (context->end < 2 || get_u16(context->note, context->big_endian) < 10) {
    mn_warn(*context, "Asahi maker note version not supported");
    return false;
  }
  context->big_endian = true;
  return mn_read_directory(*context, 0, &kAsahiTable, out);
}
