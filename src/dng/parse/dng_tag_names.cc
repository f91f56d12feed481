#include "dng/parse/dng_tag_names.h"

#include <cstdio>
#include <span>

#include "dng/parse/dng_parse_limits.h"

namespace {

struct dng_name_row {
  uint32_t code;
  const char* name;
};

constexpr dng_name_row k_parent_names[] = {
    {0, "IFD 0"},
    {34665, "Exif IFD"},
    {34853, "GPS IFD"},
    {40965, "Interoperability IFD"},
    {33424, "Kodak DCR Private IFD"},
    {65024, "Kodak KDC Private IFD"},
    {0x30000, "Canon MakerNote"},
    {0x30001, "Epson MakerNote"},
    {0x30002, "Fuji MakerNote"},
    {0x30003, "Kodak MakerNote"},
    {0x30004, "Kodak MakerNote 65280"},
    {0x30005, "Leica MakerNote"},
    {0x30006, "Mamiya MakerNote"},
    {0x30007, "Minolta MakerNote"},
    {0x30008, "Nikon MakerNote"},
    {0x30009, "Olympus MakerNote"},
    {0x3000A, "Olympus MakerNote 8208"},
    {0x3000B, "Olympus MakerNote 8224"},
    {0x3000C, "Olympus MakerNote 8240"},
    {0x3000D, "Olympus MakerNote 8256"},
    {0x3000E, "Olympus MakerNote 8272"},
    {0x3000F, "Olympus MakerNote 12288"},
    {0x30010, "Panasonic MakerNote"},
    {0x30011, "Pentax MakerNote"},
    {0x30012, "Phase One MakerNote"},
    {0x30013, "Ricoh MakerNote"},
    {0x30014, "Ricoh MakerNote Camera Info"},
    {0x30015, "Sony MakerNote"},
    {0x30016, "Sony MakerNote SubInfo"},
    {0x30017, "Sony Private IFD 1"},
    {0x30018, "Sony Private IFD 2"},
    {0x30019, "Sony Private IFD 3A"},
    {0x3001A, "Sony Private IFD 3B"},
    {0x3001B, "Sony Private IFD 3C"},
    {0x40000, "Canon CRW"},
    {0x40001, "Contax RAW"},
    {0x40003, "Fuji RAF"},
    {0x40007, "Leaf MOS"},
    {0x40008, "Minolta MRW"},
    {0x40009, "Panasonic RAW"},
    {0x4000A, "JPEG"},
    {0x4000B, "PSD Resources"},
};

constexpr dng_name_row k_main_tags[] = {
    {254, "NewSubFileType"},
    {255, "SubFileType"},
    {256, "ImageWidth"},
    {257, "ImageLength"},
    {258, "BitsPerSample"},
    {259, "Compression"},
    {262, "PhotometricInterpretation"},
    {263, "Thresholding"},
    {264, "CellWidth"},
    {265, "CellLength"},
    {266, "FillOrder"},
    {270, "ImageDescription"},
    {271, "Make"},
    {272, "Model"},
    {273, "StripOffsets"},
    {274, "Orientation"},
    {277, "SamplesPerPixel"},
    {278, "RowsPerStrip"},
    {279, "StripByteCounts"},
    {280, "MinSampleValue"},
    {281, "MaxSampleValue"},
    {282, "XResolution"},
    {283, "YResolution"},
    {284, "PlanarConfiguration"},
    {285, "FreeOffsets"},
    {286, "FreeByteCounts"},
    {290, "GrayResponseUnit"},
    {291, "GrayResponseCurve"},
    {296, "ResolutionUnit"},
    {301, "TransferFunction"},
    {305, "Software"},
    {306, "DateTime"},
    {315, "Artist"},
    {316, "HostComputer"},
    {318, "WhitePoint"},
    {319, "PrimaryChromaticities"},
    {320, "ColorMap"},
    {322, "TileWidth"},
    {323, "TileLength"},
    {324, "TileOffsets"},
    {325, "TileByteCounts"},
    {330, "SubIFDs"},
    {338, "ExtraSamples"},
    {339, "SampleFormat"},
    {347, "JPEGTables"},
    {512, "JPEGProc"},
    {513, "JPEGInterchangeFormat"},
    {514, "JPEGInterchangeFormatLength"},
    {529, "YCbCrCoefficients"},
    {530, "YCbCrSubSampling"},
    {531, "YCbCrPositioning"},
    {532, "ReferenceBlackWhite"},
    {700, "XMP"},
    {33405, "KodakCameraSerialNumber"},
    {33421, "CFARepeatPatternDim"},
    {33422, "CFAPattern"},
    {33423, "BatteryLevel"},
    {33424, "KodakDCRPrivateIFD"},
    {33432, "Copyright"},
    {33434, "ExposureTime"},
    {33437, "FNumber"},
    {33723, "IPTC/NAA"},
    {34310, "LeafPKTS"},
    {34377, "ImageResources"},
    {34665, "ExifIFD"},
    {34675, "ICCProfile"},
    {34850, "ExposureProgram"},
    {34852, "SpectralSensitivity"},
    {34853, "GPSInfo"},
    {34855, "ISOSpeedRatings"},
    {34856, "OECF"},
    {34857, "Interlace"},
    {34858, "TimeZoneOffset"},
    {34859, "SelfTimerMode"},
    {36864, "ExifVersion"},
    {36867, "DateTimeOriginal"},
    {36868, "DateTimeDigitized"},
    {37121, "ComponentsConfiguration"},
    {37122, "CompressedBitsPerPixel"},
    {37377, "ShutterSpeedValue"},
    {37378, "ApertureValue"},
    {37379, "BrightnessValue"},
    {37380, "ExposureBiasValue"},
    {37381, "MaxApertureValue"},
    {37382, "SubjectDistance"},
    {37383, "MeteringMode"},
    {37384, "LightSource"},
    {37385, "Flash"},
    {37386, "FocalLength"},
    {37387, "FlashEnergy"},
    {37388, "SpatialFrequencyResponse"},
    {37389, "Noise"},
    {37390, "FocalPlaneXResolution"},
    {37391, "FocalPlaneYResolution"},
    {37392, "FocalPlaneResolutionUnit"},
    {37393, "ImageNumber"},
    {37394, "SecurityClassification"},
    {37395, "ImageHistory"},
    {37396, "SubjectArea"},
    {37397, "ExposureIndex"},
    {37398, "TIFF/EPStandardID"},
    {37399, "SensingMethod"},
    {37500, "MakerNote"},
    {37510, "UserComment"},
    {37520, "SubsecTime"},
    {37521, "SubsecTimeOriginal"},
    {37522, "SubsecTimeDigitized"},
    {40960, "FlashPixVersion"},
    {40961, "ColorSpace"},
    {40962, "PixelXDimension"},
    {40963, "PixelYDimension"},
    {40964, "RelatedSoundFile"},
    {40965, "InteroperabilityIFD"},
    {41483, "FlashEnergyExif"},
    {41484, "SpatialFrequencyResponseExif"},
    {41486, "FocalPlaneXResolutionExif"},
    {41487, "FocalPlaneYResolutionExif"},
    {41488, "FocalPlaneResolutionUnitExif"},
    {41492, "SubjectLocation"},
    {41493, "ExposureIndexExif"},
    {41495, "SensingMethodExif"},
    {41728, "FileSource"},
    {41729, "SceneType"},
    {41730, "CFAPatternExif"},
    {41985, "CustomRendered"},
    {41986, "ExposureMode"},
    {41987, "WhiteBalance"},
    {41988, "DigitalZoomRatio"},
    {41989, "FocalLengthIn35mmFilm"},
    {41990, "SceneCaptureType"},
    {41991, "GainControl"},
    {41992, "Contrast"},
    {41993, "Saturation"},
    {41994, "Sharpness"},
    {41995, "DeviceSettingDescription"},
    {41996, "SubjectDistanceRange"},
    {42016, "ImageUniqueID"},
    {42240, "Gamma"},
    {50341, "PrintImageMatchingInfo"},
    {50706, "DNGVersion"},
    {50707, "DNGBackwardVersion"},
    {50708, "UniqueCameraModel"},
    {50709, "LocalizedCameraModel"},
    {50710, "CFAPlaneColor"},
    {50711, "CFALayout"},
    {50712, "LinearizationTable"},
    {50713, "BlackLevelRepeatDim"},
    {50714, "BlackLevel"},
    {50715, "BlackLevelDeltaH"},
    {50716, "BlackLevelDeltaV"},
    {50717, "WhiteLevel"},
    {50718, "DefaultScale"},
    {50719, "DefaultCropOrigin"},
    {50720, "DefaultCropSize"},
    {50721, "ColorMatrix1"},
    {50722, "ColorMatrix2"},
    {50723, "CameraCalibration1"},
    {50724, "CameraCalibration2"},
    {50725, "ReductionMatrix1"},
    {50726, "ReductionMatrix2"},
    {50727, "AnalogBalance"},
    {50728, "AsShotNeutral"},
    {50729, "AsShotWhiteXY"},
    {50730, "BaselineExposure"},
    {50731, "BaselineNoise"},
    {50732, "BaselineSharpness"},
    {50733, "BayerGreenSplit"},
    {50734, "LinearResponseLimit"},
    {50735, "CameraSerialNumber"},
    {50736, "LensInfo"},
    {50737, "ChromaBlurRadius"},
    {50738, "AntiAliasStrength"},
    {50739, "ShadowScale"},
    {50740, "DNGPrivateData"},
    {50741, "MakerNoteSafety"},
    {50778, "CalibrationIlluminant1"},
    {50779, "CalibrationIlluminant2"},
    {50780, "BestQualityScale"},
    {50781, "RawDataUniqueID"},
    {50827, "OriginalRawFileName"},
    {50828, "OriginalRawFileData"},
    {50829, "ActiveArea"},
    {50830, "MaskedAreas"},
    {50831, "AsShotICCProfile"},
    {50832, "AsShotPreProfileMatrix"},
    {50833, "CurrentICCProfile"},
    {50834, "CurrentPreProfileMatrix"},
    {50879, "ColorimetricReference"},
    {65024, "KodakKDCPrivateIFD"},
};
constexpr dng_name_row k_gps_tags[] = {
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
};
constexpr dng_name_row k_interop_tags[] = {
    {1, "InteroperabilityIndex"},
    {2, "InteroperabilityVersion"},
    {4096, "RelatedImageFileFormat"},
    {4097, "RelatedImageWidth"},
    {4098, "RelatedImageLength"},
};
constexpr dng_name_row k_fuji_tags[] = {
    {0x40004, "FujiHeader"},
    {0x40005, "FujiRawInfo1"},
    {0x40006, "FujiRawInfo2"},
};
constexpr dng_name_row k_contax_tags[] = {
    {0x40002, "ContaxHeader"},
};

constexpr const char* k_type_names[] = {"Byte",     "ASCII",     "Short",  "Long",   "Rational",
                                        "SByte",    "Undefined", "SShort", "SLong",  "SRational",
                                        "Float",    "Double",    "IFD",    "Unicode", "Complex"};

const char* find_name(std::span<const dng_name_row> rows, uint32_t code) {
  for (const dng_name_row& row : rows) {
    if (row.code == code) return row.name;
  }
  return nullptr;
}

// The group of tag names that the parent code selects (empty for parents
// without one).
std::span<const dng_name_row> tag_group(uint32_t parent) {
  switch (parent) {
    case dng_parent_ifd0:
    case dng_parent_exif:
    case dng_parent_leaf_mos:
      return k_main_tags;
    case dng_parent_gps:
      return k_gps_tags;
    case dng_parent_interop:
      return k_interop_tags;
    case dng_parent_fuji_raf:
      return k_fuji_tags;
    case dng_parent_contax_raw:
      return k_contax_tags;
    default:
      if (is_sub_ifd_parent(parent) || is_chained_ifd_parent(parent)) return k_main_tags;
      return {};
  }
}

// Each byte of the code, highest first, as itself when above 31, else "_".
char mrw_char(uint32_t tag, int shift) {
  const auto c = static_cast<unsigned char>(tag >> shift);
  return c > 31 ? static_cast<char>(c) : '_';
}

struct dng_value_row {
  uint32_t value;
  const char* name;
};

constexpr dng_value_row k_new_subfile_type[] = {{0, "Main Image"}, {1, "Preview Image"}};
constexpr dng_value_row k_compression[] = {{1, "Uncompressed"}, {5, "LZW"},     {6, "Old JPEG"},
                                           {7, "JPEG"},         {8, "Deflate"}, {32773, "PackBits"}};
constexpr dng_value_row k_photometric[] = {
    {0, "WhiteIsZero"}, {1, "BlackIsZero"},      {2, "RGB"},   {3, "RGBPalette"},
    {4, "TransparencyMask"}, {5, "CMYK"},        {6, "YCbCr"}, {8, "CIELab"},
    {9, "ICCLab"},      {32803, "CFA"},          {34892, "LinearRaw"}};
constexpr dng_value_row k_orientation[] = {
    {1, "1 - 0th row is top, 0th column is left"},
    {2, "2 - 0th row is top, 0th column is right"},
    {3, "3 - 0th row is bottom, 0th column is right"},
    {4, "4 - 0th row is bottom, 0th column is left"},
    {5, "5 - 0th row is left, 0th column is top"},
    {6, "6 - 0th row is right, 0th column is top"},
    {7, "7 - 0th row is right, 0th column is bottom"},
    {8, "8 - 0th row is left, 0th column is bottom"},
    {9, "9 - unknown"}};
constexpr dng_value_row k_resolution_unit[] = {
    {1, "None"}, {2, "Inch"}, {3, "cm"}, {4, "mm"}, {5, "Micrometer"}};
constexpr dng_value_row k_cfa_color[] = {{0, "Red"},     {1, "Green"},  {2, "Blue"}, {3, "Cyan"},
                                         {4, "Magenta"}, {5, "Yellow"}, {6, "White"}};
constexpr dng_value_row k_sensing_method[] = {
    {0, "Undefined"},        {1, "MonochromeArea"},      {2, "OneChipColorArea"},
    {3, "TwoChipColorArea"}, {4, "ThreeChipColorArea"},  {5, "ColorSequentialArea"},
    {6, "MonochromeLinear"}, {7, "TriLinear"},           {8, "ColorSequentialLinear"}};
constexpr dng_value_row k_exposure_program[] = {
    {0, "Unidentified"},     {1, "Manual"},         {2, "Program Normal"},
    {3, "Aperture Priority"}, {4, "Shutter Priority"}, {5, "Program Creative"},
    {6, "Program Action"},   {7, "Portrait Mode"},  {8, "Landscape Mode"}};
constexpr dng_value_row k_metering_mode[] = {
    {0, "Unknown"},   {1, "Average"}, {2, "CenterWeightedAverage"}, {3, "Spot"},
    {4, "MultiSpot"}, {5, "Pattern"}, {6, "Partial"},               {255, "Other"}};
constexpr dng_value_row k_light_source[] = {
    {0, "Unknown"},
    {1, "Daylight"},
    {2, "Fluorescent"},
    {3, "Tungsten (incandescent light)"},
    {4, "Flash"},
    {9, "Fine weather"},
    {10, "Cloudy weather"},
    {11, "Shade"},
    {12, "Daylight fluorescent (D 5700 - 7100K)"},
    {13, "Day white fluorescent (N 4600 - 5400K)"},
    {14, "Cool white fluorescent (W 3900 - 4500K)"},
    {15, "White fluorescent (WW 3200 - 3700K)"},
    {17, "Standard light A"},
    {18, "Standard light B"},
    {19, "Standard light C"},
    {20, "D55"},
    {21, "D65"},
    {22, "D75"},
    {23, "D50"},
    {24, "ISO studio tungsten"},
    {255, "Other"}};
constexpr dng_value_row k_color_space[] = {{1, "sRGB"}, {65535, "Uncalibrated"}};
constexpr dng_value_row k_file_source[] = {{3, "DSC"}};
constexpr dng_value_row k_scene_type[] = {{1, "A directly photographed image"}};
constexpr dng_value_row k_custom_rendered[] = {{0, "Normal process"}, {1, "Custom process"}};
constexpr dng_value_row k_exposure_mode[] = {
    {0, "Auto exposure"}, {1, "Manual exposure"}, {2, "Auto bracket"}};
constexpr dng_value_row k_white_balance[] = {{0, "Auto white balance"}, {1, "Manual white balance"}};
constexpr dng_value_row k_scene_capture_type[] = {
    {0, "Standard"}, {1, "Landscape"}, {2, "Portrait"}, {3, "Night scene"}};
constexpr dng_value_row k_gain_control[] = {{0, "None"},
                                            {1, "Low gain up"},
                                            {2, "High gain up"},
                                            {3, "Low gain down"},
                                            {4, "High gain down"}};
constexpr dng_value_row k_contrast[] = {{0, "Normal"}, {1, "Soft"}, {2, "Hard"}};
constexpr dng_value_row k_saturation[] = {
    {0, "Normal"}, {1, "Low saturation"}, {2, "High saturation"}};
constexpr dng_value_row k_subject_distance_range[] = {
    {0, "Unknown"}, {1, "Macro"}, {2, "Close view"}, {3, "Distant view"}};
constexpr dng_value_row k_components[] = {{0, "-"}, {1, "Y"}, {2, "Cb"}, {3, "Cr"},
                                          {4, "R"}, {5, "G"}, {6, "B"}};
constexpr dng_value_row k_cfa_layout[] = {
    {1, "Rectangular (or square) layout"},
    {2, "Staggered layout A: even columns are offset down by 1/2 row"},
    {3, "Staggered layout B: even columns are offset up by 1/2 row"},
    {4, "Staggered layout C: even rows are offset right by 1/2 column"},
    {5, "Staggered layout D: even rows are offset left by 1/2 column"}};
constexpr dng_value_row k_maker_note_safety[] = {{0, "Unsafe"}, {1, "Safe"}};
constexpr dng_value_row k_colorimetric_reference[] = {{0, "Scene Referred"},
                                                      {1, "ICC Profile PCS"}};

// Indexed by dng_value_kind.
constexpr std::span<const dng_value_row> k_value_tables[] = {
    k_new_subfile_type, k_compression,      k_photometric,          k_orientation,
    k_resolution_unit,  k_cfa_color,        k_sensing_method,       k_exposure_program,
    k_metering_mode,    k_light_source,     k_color_space,          k_file_source,
    k_scene_type,       k_custom_rendered,  k_exposure_mode,        k_white_balance,
    k_scene_capture_type, k_gain_control,   k_contrast,             k_saturation,
    k_subject_distance_range, k_components, k_cfa_layout,           k_maker_note_safety,
    k_colorimetric_reference};
static_assert(std::size(k_value_tables) == dng_value_kind_count);

}  // namespace

const char* parent_ifd_name(uint32_t parent) {
  if (const char* name = find_name(k_parent_names, parent)) return name;
  static thread_local char buffer[dng_name_buffer_size];
  if (is_sub_ifd_parent(parent)) {
    std::snprintf(buffer, sizeof buffer, "SubIFD %u", parent - 0xFFFF);
  } else if (is_chained_ifd_parent(parent)) {
    std::snprintf(buffer, sizeof buffer, "Chained IFD %u", parent - 0x1FFFF);
  } else {
    std::snprintf(buffer, sizeof buffer, "ParentIFD %u", parent);
  }
  return buffer;
}

const char* tag_code_name(uint32_t parent, uint32_t tag) {
  if (const char* name = find_name(tag_group(parent), tag)) return name;
  static thread_local char buffer[dng_name_buffer_size];
  switch (parent) {
    case dng_parent_canon_crw:
      std::snprintf(buffer, sizeof buffer, "CRW_%04X", tag);
      break;
    case dng_parent_minolta_mrw:
      std::snprintf(buffer, sizeof buffer, "MRW%c%c%c%c", mrw_char(tag, 24), mrw_char(tag, 16),
                    mrw_char(tag, 8), mrw_char(tag, 0));
      break;
    case dng_tag_fuji_raw_info1:
      std::snprintf(buffer, sizeof buffer, "RAF1_%04X", tag);
      break;
    case dng_tag_fuji_raw_info2:
      std::snprintf(buffer, sizeof buffer, "RAF2_%04X", tag);
      break;
    default:
      std::snprintf(buffer, sizeof buffer, "Tag%u", tag);
      break;
  }
  return buffer;
}

const char* tag_type_name(uint32_t type) {
  if (type >= 1 && type <= std::size(k_type_names)) return k_type_names[type - 1];
  static thread_local char buffer[dng_name_buffer_size];
  std::snprintf(buffer, sizeof buffer, "Type%u", type);
  return buffer;
}

const char* tag_value_name(dng_value_kind kind, uint32_t value) {
  const auto index = static_cast<uint32_t>(kind);
  if (index >= dng_value_kind_count) return "";
  for (const dng_value_row& row : k_value_tables[index]) {
    if (row.value == value) return row.name;
  }
  static thread_local char buffers[dng_value_kind_count][dng_name_buffer_size];
  char* buffer = buffers[index];
  if (kind == dng_value_kind::cfa_color) {
    std::snprintf(buffer, dng_name_buffer_size, "Color%u", value);
  } else if (kind == dng_value_kind::light_source && (value & 0x8000) != 0) {
    std::snprintf(buffer, dng_name_buffer_size, "%uK", value & 0x7FFF);
  } else {
    std::snprintf(buffer, dng_name_buffer_size, "%u", value);
  }
  return buffer;
}
