// Olympus maker notes: the "OLYMP" header or a directory at the start; their
// tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 11> kOlympusRows{{
  {512, "OlympusShootMode"},
  {513, "OlympusQuality"},
  {514, "OlympusMacroMode"},
  {516, "OlympusDigiZoom"},
  {519, "FirmwareVer"},
  {520, "OlympusPicInfo"},
  {521, "OlympusCameraID"},
  {256, "Thumbnail"},
  {8224, "Thumbnail2"},
  {257, "ThumbnailOffset"},
  {258, "ThumbnailSize"},
}};
constexpr auto kOlympusSorted = tag_table::sorted_by_tag(kOlympusRows);
static_assert(!tag_table::has_repeated_tag(kOlympusSorted), "a tag appears twice in the table");
constexpr MakerTagTable kOlympusTable = maker_tag_table(kOlympusSorted);

}  // namespace

bool read_olympus_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  const uint32_t position = mn_starts_with(*context, "OLYMP\0", 6) ? 8 : 0;
  return mn_read_directory(*context, position, &kOlympusTable, out);
}
