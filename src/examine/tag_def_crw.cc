// Tag table of Canon CIFF heap records, by the record tag in the low 14 bits of the tag word.
#include "examine/tag_def.h"

#include <cstdio>

namespace {

constexpr std::array<TagDef, 60> kCrwRows{{
  {0, "NullRecord"},
  {1, "FreeBytes"},
  {50, "CanonColorInfo1"},
  {2053, "CanonFileDescription"},
  {2058, "CanonRawMakeModel"},
  {2059, "CanonFirmwareVersion"},
  {2060, "ComponentVersion"},
  {2061, "ROMOperationMode"},
  {2064, "OwnerName"},
  {2069, "CanonImageType"},
  {2070, "OriginalFileName"},
  {2071, "ThumbnailFileName"},
  {4106, "TargetImageType"},
  {4112, "ShutterReleaseMethod"},
  {4113, "ShutterReleaseTiming"},
  {4118, "ReleaseSetting"},
  {4124, "BaseISO"},
  {4136, "CanonFlashInfo?"},
  {4137, "FocalLength"},
  {4138, "CanonShotInfo"},
  {4140, "CanonColorInfo2"},
  {4141, "CanonCameraSettings"},
  {4144, "WhiteSample"},
  {4145, "SensorInfo"},
  {4147, "CanonCustomFunctions"},
  {4152, "CanonPictureInfo"},
  {4153, "?"},
  {4243, "CanonFileInfo"},
  {4264, "?"},
  {4265, "ColorBalance"},
  {4266, "?"},
  {4270, "ColorTemperature"},
  {4276, "ColorSpace"},
  {4277, "RawJpgInfo"},
  {4288, "?"},
  {4289, "?"},
  {6147, "ImageFormat"},
  {6148, "RecordID"},
  {6150, "SelfTimerTime"},
  {6151, "TargetDistanceSetting"},
  {6155, "SerialNumber"},
  {6158, "TimeStamp"},
  {6160, "ImageInfo"},
  {6163, "FlashInfo"},
  {6164, "MeasuredEV"},
  {6167, "FileNumber"},
  {6168, "ExposureInfo"},
  {6196, "CanonModelID"},
  {6197, "DecoderTable"},
  {6203, "SerialNumberFormat"},
  {8197, "RawData"},
  {8199, "JpgFromRaw"},
  {8200, "ThumbnailImage"},
  {10244, "ImageDescription"},
  {10247, "CameraObject"},
  {12290, "ShootingRecord"},
  {12291, "MeasuredInfo"},
  {12292, "CameraSpecification"},
  {12298, "ImageProps"},
  {12299, "ExifInformation"},
}};

constexpr auto kCrwSorted = tag_table::sorted_by_tag(kCrwRows);
static_assert(!tag_table::has_repeated_tag(kCrwSorted), "a tag appears twice in the table");

}  // namespace

const char* tag_def_CRW_name(int32_t tag) { return tag_table::name_of(kCrwSorted, tag); }

size_t tag_def_CRW_rows() { return kCrwRows.size(); }
