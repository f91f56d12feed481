// Sigma maker notes: the "SIGMA" or "FOVEON" header and the directory after
// it; its tag names.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 23> kSigmaRows{{
  {2, "SigmaSerial"},
  {3, "SigmaDrive"},
  {4, "SigmaResolution"},
  {5, "SigmaAutofocus"},
  {6, "SigmaFocusSet"},
  {7, "SigmaWhiteBal"},
  {8, "SigmaExpMode"},
  {9, "SigmaMeterMode"},
  {10, "SigmaLensRange"},
  {11, "SigmaColor"},
  {12, "SigmaExposure"},
  {13, "SigmaContrast"},
  {14, "SigmaShadow"},
  {15, "SigmaHighlight"},
  {16, "SigmaSaturate"},
  {17, "SigmaSharp"},
  {18, "SigmaFill"},
  {20, "SigmaColorAdj"},
  {21, "SigmaAdjMode"},
  {22, "SigmaQuality"},
  {23, "SigmaFirmware"},
  {24, "SigmaSoftware"},
  {25, "SigmaAutoBrack"},
}};
constexpr auto kSigmaSorted = tag_table::sorted_by_tag(kSigmaRows);
static_assert(!tag_table::has_repeated_tag(kSigmaSorted), "a tag appears twice in the table");
constexpr MakerTagTable kSigmaTable = maker_tag_table(kSigmaSorted);

}  // namespace

bool read_sigma_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (!mn_starts_with(*context, "SIGMA\0\0\0", 8) && !mn_starts_with(*context, "FOVEON\0\0", 8)) {
    mn_warn(*context, "Sigma maker note version not supported");
    return false;
  }
  return mn_read_directory(*context, 10, &kSigmaTable, out);
}
