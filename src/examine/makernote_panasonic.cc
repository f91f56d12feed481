// Panasonic maker notes: the "Panasonic" header and the directory after it;
// its tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 13> kPanasonicRows{{
  {1, "PanasonicQuality"},
  {3, "PanasonicWhiteB"},
  {7, "PanasonicFocus"},
  {15, "PanasonicSpotMode"},
  {26, "PanasonicOIS"},
  {28, "PanasonicMacroMode"},
  {31, "PanasonicShootMode"},
  {32, "PanasonicAudio"},
  {35, "PanasonicWBAdjust"},
  {36, "PanasonicFlashBias"},
  {40, "PanasonicColorEffect"},
  {44, "PanasonicContrast"},
  {45, "PanasonicNoiseReduce"},
}};
constexpr auto kPanasonicSorted = tag_table::sorted_by_tag(kPanasonicRows);
static_assert(!tag_table::has_repeated_tag(kPanasonicSorted), "a tag appears twice in the table");
constexpr MakerTagTable kPanasonicTable = maker_tag_table(kPanasonicSorted);

}  // namespace

bool read_panasonic_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (!mn_starts_with(*context, "Panasonic\0\0\0", 12)) {
    mn_warn(*context, "Maker note format not supported");
    return false;
  }
  return mn_read_directory(*context, 12, &kPanasonicTable, out);
}
