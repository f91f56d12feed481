// Canon maker notes: a directory at the note's start; its tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 11> kCanonRows{{
  {1, "Canon1Tag"},
  {4, "Canon4Tag"},
  {6, "ImageType"},
  {7, "FirmwareVer"},
  {8, "ImgNum"},
  {9, "OwnerName"},
  {12, "Serial"},
  {15, "CustomFunc"},
  {144, "CustomFunc"},
  {147, "Canon93Tag"},
  {160, "CanonA0Tag"},
}};
constexpr auto kCanonSorted = tag_table::sorted_by_tag(kCanonRows);
static_assert(!tag_table::has_repeated_tag(kCanonSorted), "a tag appears twice in the table");
constexpr MakerTagTable kCanonTable = maker_tag_table(kCanonSorted);

}  // namespace

bool read_canon_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  return mn_read_directory(*context, 0, &kCanonTable, out);
}
