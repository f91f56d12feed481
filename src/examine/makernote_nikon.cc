// Nikon maker notes: the first format ("Nikon" header, version 1), the second
// (version 2 with a TIFF header of its own) and header-less notes; the tag
// tables of both formats.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 8> kNikon1Rows{{
  {3, "NikonQuality"},
  {4, "NikonColor"},
  {5, "NikonImgAdjust"},
  {6, "NikonCCDSensitive"},
  {7, "NikonWhiteBal"},
  {8, "NikonFocus"},
  {10, "NikonDigiZoom"},
  {11, "NikonAdapter"},
}};
constexpr auto kNikon1Sorted = tag_table::sorted_by_tag(kNikon1Rows);
static_assert(!tag_table::has_repeated_tag(kNikon1Sorted), "a tag appears twice in the table");
constexpr MakerTagTable kNikon1Table = maker_tag_table(kNikon1Sorted);

constexpr std::array<TagDef, 37> kNikon2Rows{{
  {1, "NikonVersion"},
  {2, "NikonISOUsed"},
  {3, "NikonColorMode1"},
  {4, "NikonQuality"},
  {5, "NikonWhiteBal"},
  {6, "NikonImgSharp"},
  {7, "NikonFocusMode"},
  {8, "NikonFlashSet"},
  {9, "NikonAutoFlash"},
  {11, "NikonWhiteBalBias"},
  {15, "NikonISOSelect"},
  {18, "NikonFlashComp"},
  {19, "NikonISOReq"},
  {24, "NikonFlashBrackComp"},
  {25, "NikonAEBrackComp"},
  {29, "NikonSerial2"},
  {128, "NikonImgAdjust"},
  {129, "NikonToneComp"},
  {130, "NikonLensAdapter"},
  {131, "NikonLensType"},
  {132, "NikonLensRange"},
  {133, "NikonFocusDist"},
  {134, "NikonDigiZoom"},
  {135, "NikonFlashUsed"},
  {136, "NikonAutoFocus"},
  {137, "NikonShootBrack"},
  {141, "NikonColorMode2"},
  {143, "NikonSceneMode"},
  {144, "NikonLighting"},
  {146, "NikonHueAdjust"},
  {148, "NikonSaturate"},
  {149, "NikonNoiseReduce"},
  {160, "NikonSerial"},
  {167, "NikonActuations"},
  {169, "NikonImageOpt"},
  {170, "NikonSaturate2"},
  {171, "NikonDigiProg"},
}};
constexpr auto kNikon2Sorted = tag_table::sorted_by_tag(kNikon2Rows);
static_assert(!tag_table::has_repeated_tag(kNikon2Sorted), "a tag appears twice in the table");
constexpr MakerTagTable kNikon2Table = maker_tag_table(kNikon2Sorted);

}  // namespace

bool read_nikon_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (!mn_starts_with(*context, "Nikon\0", 6)) return mn_read_directory(*context, 0, &kNikon2Table, out);
  const uint16_t version = context->end >= 8 ? get_u16(context->note + 6, true) : 0;
  if (version == 0x0100) return mn_read_directory(*context, 8, &kNikon1Table, out);
  if (version != 0x0200 && version != 0x0210) {
    mn_warn(*context, "Nikon maker note version not supported");
    return false;
  }
  // The second format carries a TIFF header of its own at byte 10; the
  // directory's offset and every offset in it count from that header.
  constexpr uint32_t kHeader = 10;
  if (context->end < kHeader + 8) {
    mn_warn(*context, "invalid Nikon TIFF header");
    return false;
  }
  const uint8_t* header = context->note + kHeader;
  bool big_endian;
  if (header[0] == 'M' && header[1] == 'M') {
    big_endian = true;
  } else if (header[0] == 'I' && header[1] == 'I') {
    big_endian = false;
  } else {
    mn_warn(*context, "invalid Nikon TIFF header");
    return false;
  }
  if (get_u16(header + 2, big_endian) != 42) {
    mn_warn(*context, "invalid Nikon TIFF header");
    return false;
  }
  const uint64_t position = uint64_t{kHeader} + get_u32(header + 4, big_endian);
  if (position > context->end) return false;
  context->big_endian = big_endian;
  context->base = kHeader;
  return mn_read_directory(*context, static_cast<uint32_t>(position), &kNikon2Table, out);
}
