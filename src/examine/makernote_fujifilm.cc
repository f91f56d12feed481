// Fujifilm maker notes: the "FUJIFILM" header (little-endian, offsets from
// the note's start) or a directory at the start; their tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 16> kFujifilmRows{{
  {0, "FujiVersion"},
  {4096, "FujiQuality"},
  {4097, "FujiSharpness"},
  {4098, "FujiWhiteBal"},
  {4099, "FujiColor"},
  {4100, "FujiTone"},
  {4112, "FujiFlashMode"},
  {4113, "FujiFlashStrength"},
  {4128, "FujiMacro"},
  {4129, "FujiFocusMode"},
  {4144, "FujiSlowSync"},
  {4145, "FujiPicMode"},
  {4352, "FujiBracket"},
  {4864, "FujiBlurWarn"},
  {4865, "FujiFocusWarn"},
  {4866, "FujiAEWarn"},
}};
constexpr auto kFujifilmSorted = tag_table::sorted_by_tag(kFujifilmRows);
static_assert(!tag_table::has_repeated_tag(kFujifilmSorted), "a tag appears twice in the table");
constexpr MakerTagTable kFujifilmTable = maker_tag_table(kFujifilmSorted);

}  // namespace

bool read_fujifilm_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (mn_starts_with(*context, "FUJIFILM", 8)) {
    // Little-endian whatever the file, with the directory's position in
    // bytes 8 and 9; offsets count from the note's start.
    if (context->end < 10) return false;
    context->big_endian = false;
    return mn_read_directory(*context, get_u16(context->note + 8, false), &kFujifilmTable, out);
  }
  return mn_read_directory(*context, 0, &kFujifilmTable, out);
}
