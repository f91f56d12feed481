// Minolta maker notes: a directory at the note's start (older "+M" notes are
// refused); its tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 7> kMinoltaRows{{
  {0, "MinoltaMakerType"},
  {1, "Minolta1Tag"},
  {3, "Minolta3Tag"},
  {64, "MinoltaCompImgSz"},
  {136, "MinoltaThumbOff"},
  {137, "MinoltaThumbLen"},
  {3584, "MinoltaPIM"},
}};
constexpr auto kMinoltaSorted = tag_table::sorted_by_tag(kMinoltaRows);
static_assert(!tag_table::has_repeated_tag(kMinoltaSorted), "a tag appears twice in the table");
constexpr MakerTagTable kMinoltaTable = maker_tag_table(kMinoltaSorted);

}  // namespace

bool read_minolta_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  // Notes of the "+M" kind, and notes that do not start with a plausible
  // entry count, are of a layout this decoder does not know.
  if (mn_starts_with(*context, "+M\0", 3) || context->end < 2) {
    mn_warn(*context, "Minolta maker note version not supported");
    return false;
  }
  const uint16_t first = get_u16(context->note, context->big_endian);
  if (first < 2 || first > 255) {
    mn_warn(*context, "Minolta maker note version not supported");
    return false;
  }
  return mn_read_directory(*context, 0, &kMinoltaTable, out);
}
