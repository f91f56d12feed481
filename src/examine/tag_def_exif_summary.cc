// Tag table of the summary mode: the TIFF and EXIF tags a summary keeps, with the names it files them under.
#include "examine/tag_def.h"

namespace {

constexpr std::array<TagDef, 42> kExifSummaryRows{{
  {167, "Actuations"},
  {37378, "ApertureValue"},
  {315, "Artist"},
  {50735, "CameraSerialNumber"},
  {41992, "Contrast"},
  {33432, "Copyright"},
  {41985, "CustomRendered"},
  {306, "DateTimeChanged"},
  {36867, "DateTimeOriginal"},
  {36868, "DateTimeDigitized"},
  {41988, "DigitalZoomRatio"},
  {37380, "ExposureBiasValue"},
  {41986, "ExposureMode"},
  {34850, "ExposureProgram"},
  {33434, "ExposureTime"},
  {37385, "Flash"},
  {33437, "FNumber"},
  {37386, "FocalLength"},
  {41989, "FocalLengthIn35mmFilm"},
  {41991, "GainControl"},
  {42016, "ImageUniqueID"},
  {34855, "ISOSpeedRatings"},
  {37384, "LightSource"},
  {271, "Make"},
  {37383, "MeteringMode"},
  {272, "Model"},
  {37381, "MaxApertureValue"},
  {274, "Orientation"},
  {262, "PhotometricInterpretation"},
  {41993, "Saturation"},
  {41990, "SceneCaptureType"},
  {41729, "SceneType"},
  {41495, "SensingMethod"},
  {41994, "Sharpness"},
  {37377, "ShutterSpeedValue"},
  {305, "Software"},
  {41996, "SubjectDistanceRange"},
  {37520, "SubSecTime"},
  {37521, "SubSecTimeOriginal"},
  {37522, "SubSecTimeDigitized"},
  {41987, "WhiteBalance"},
  {37500, "MakerNote"},
}};

constexpr auto kExifSummarySorted = tag_table::sorted_by_tag(kExifSummaryRows);
static_assert(!tag_table::has_repeated_tag(kExifSummarySorted), "a tag appears twice in the table");

}  // namespace

const char* tag_def_EXIF_find(int32_t tag) {
  const TagDef* row = tag_table::find(kExifSummarySorted, tag);
  return row != nullptr ? row->name : nullptr;
}

size_t tag_def_EXIF_rows() { return kExifSummaryRows.size(); }
