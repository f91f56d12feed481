// Sanyo maker notes: the "SANYO" header or a directory at the start; their
// tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 26> kSanyoRows{{
  {256, "SanyoThumb"},
  {512, "SanyoShootMode"},
  {513, "SanyoQuality"},
  {514, "SanyoMacroMode"},
  {516, "SanyoDigiZoom"},
  {519, "SanyoFirmware"},
  {520, "SanyoPicInfo"},
  {521, "SanyoCameraID"},
  {526, "SanyoSeqShot"},
  {527, "SanyoWideRange"},
  {528, "SanyoColorAdjust"},
  {531, "SanyoQuickShot"},
  {532, "SanyoSelfTime"},
  {534, "SanyoVoiceMemo"},
  {535, "SanyoRecShutter"},
  {536, "SanyoFlicker"},
  {537, "SanyoOpticalZoom"},
  {539, "SanyoDigiZoom"},
  {541, "SanyoLightSrc"},
  {542, "SanyoResaved"},
  {543, "SanyoScene"},
  {547, "SanyoFocalDist"},
  {548, "SanyoSeqInterval"},
  {549, "SanyoFlash"},
  {3584, "SanyoPrintIM"},
  {3840, "SanyoDump"},
}};
constexpr auto kSanyoSorted = tag_table::sorted_by_tag(kSanyoRows);
static_assert(!tag_table::has_repeated_tag(kSanyoSorted), "a tag appears twice in the table");
constexpr MakerTagTable kSanyoTable = maker_tag_table(kSanyoSorted);

}  // namespace

bool read_sanyo_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  const uint32_t position = mn_starts_with(*context, "SANYO\0", 6) ? 8 : 0;
  return mn_read_directory(*context, position, &kSanyoTable, out);
}
