// Casio maker notes: the newer "QVC" notes and the older header-less ones,
// with a tag table for each.
#include "examine/byte_reader.h"
#include "examine/makernote_internal.h"

namespace {

constexpr std::array<TagDef, 3> kCasioQvcRows{{
  {8193, "CasioASCII1"},
  {8194, "CasioASCII2"},
  {12294, "CasioASCII3"},
}};
constexpr auto kCasioQvcSorted = tag_table::sorted_by_tag(kCasioQvcRows);
static_assert(!tag_table::has_repeated_tag(kCasioQvcSorted), "a tag appears twice in the table");
constexpr MakerTagTable kCasioQvcTable = maker_tag_table(kCasioQvcSorted);

constexpr std::array<TagDef, 12> kCasioRows{{
  {1, "CasioRecord"},
  {2, "CasioQuality"},
  {3, "CasioFocus"},
  {4, "CasioFlash"},
  {5, "CasioIntensity"},
  {6, "CasioDistance"},
  {7, "CasioWhiteB"},
  {10, "CasioDZoom"},
  {11, "CasioSharp"},
  {12, "CasioContrast"},
  {13, "CasioSaturate"},
  {20, "CasioSensitive"},
}};
constexpr auto kCasioSorted = tag_table::sorted_by_tag(kCasioRows);
static_assert(!tag_table::has_repeated_tag(kCasioSorted), "a tag appears twice in the table");
constexpr MakerTagTable kCasioTable = maker_tag_table(kCasioSorted);

}  // namespace

bool read_casio_directory(MakerNoteContext* context, MakerNoteDirectory* out) {
  if (mn_starts_with(*context, "QVC\0\0\0", 6)) {
    // Only three text tags of the newer notes are known; they are still
    // printed.
    mn_warn(*context, "Casio maker note version not supported");
    return mn_read_directory(*context, 6, &kCasioQvcTable, out);
  }
  return mn_read_directory(*context, 0, &kCasioTable, out);
}
