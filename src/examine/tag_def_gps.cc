// Tag table of the EXIF GPS directory: tags 0 to 30.
#include "examine/tag_def.h"

namespace {

constexpr std::array<TagDef, 31> kGpsRows{{
  {0, "GPSVersionID"},
  {1, "GPSLatitudeRef"},
  {2, "GPSLatitude"},
  {3, "GPSLongitudeRef"},
  {4, "GPSLongitude"},
  {5, "GPSAltitudeRef"},
  {6, "GPSAltitude"},
  {7, "GPSTimeStamp"},
  {8, "GPSSatellites"},
  {9, "GPSStatus"},
  {10, "GPSMeasureMode"},
  {11, "GPSDOP"},
  {12, "GPSSpeedRef"},
  {13, "GPSSpeed"},
  {14, "GPSTrackRef"},
  {15, "GPSTrack"},
  {16, "GPSImgDirectionRef"},
  {17, "GPSImgDirection"},
  {18, "GPSMapDatum"},
  {19, "GPSDestLatitudeRef"},
  {20, "GPSDestLatitude"},
  {21, "GPSDestLongitudeRef"},
  {22, "GPSDestLongitude"},
  {23, "GPSDestBearingRef"},
  {24, "GPSDestBearing"},
  {25, "GPSDestDistanceRef"},
  {26, "GPSDestDistance"},
  {27, "GPSProcessingMethod"},
  {28, "GPSAreaInformation"},
  {29, "GPSDateStamp"},
  {30, "GPSDifferential"},
}};

constexpr auto kGpsSorted = tag_table::sorted_by_tag(kGpsRows);
static_assert(!tag_table::has_repeated_tag(kGpsSorted), "a tag appears twice in the table");

}  // namespace

const char* tag_def_GPS_name(int32_t tag) {
  const TagDef* row = tag_table::find(kGpsSorted, tag);
  return row != nullptr ? row->name : nullptr;
}

size_t tag_def_GPS_rows() { return kGpsRows.size(); }
