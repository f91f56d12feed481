// Leica maker notes: Fujifilm-made notes, the "LEICA" header, or a directory
// at the start; their tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 8> kLeicaRows{{
  {1, "LeicaCompress"},
  {3, "LeicaWhiteBal"},
  {7, "LeicaFocusMode"},
  {15, "LeicaSpotAF"},
  {28, "LeicaMacro"},
  {31, "LeicaAperture"},
  {36, "LeicaFlashEV"},
  {44, "LeicaContrast"},
}};
constexpr auto kLeicaSorted = tag_table::sorted_by_tag(kLeicaRows);
static_assert(!tag_table::has_repeated_tag(kLeicaSorted), "a tag appears twice in the table");
constexpr MakerTagTable kLeicaTable = maker_tag_table(kLeicaSorted);

}  // namespace

bool read_leica_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (mn_starts_with(*context, "FUJIFILM", 8)) return read_fujifilm_directory(context, out);
  if (mn_starts_with(*context, "LEICA", 5)) return mn_read_directory(*context, 8, &kLeicaTable, out);
  return mn_read_directory(*context, 0, &kLeicaTable, out);
}
