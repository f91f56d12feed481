#include "dng/parse/dng_exif.h"

#include <cmath>
#include <iterator>
#include <cstdint>
#include <memory>
#include <new>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_rounding.h"
#include "dng/core/dng_tag_types.h"
#include "dng/core/dng_utf8.h"
#include "dng/parse/dng_tag_checks.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_tag_names.h"
#include "dng/parse/dng_tag_readers.h"

std::unique_ptr<dng_exif> dng_host::NewExif() {
  try {
    return std::make_unique<dng_exif>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

namespace {

// The standard shutter speeds, longest first, searched in this order.
constexpr double k_standard_speeds[] = {
    30.0,         25.0,         20.0,          15.0,          13.0,         10.0,
    8.0,          6.0,          5.0,           4.0,           3.2,          3.0,
    2.5,          2.0,          1.6,           1.5,           1.3,          1.0,
    0.8,          0.7,          0.6,           0.5,           0.4,          0.3,
    1.0 / 4,      1.0 / 5,      1.0 / 6,       1.0 / 8,       1.0 / 10,     1.0 / 13,
    1.0 / 15,     1.0 / 20,     1.0 / 25,      1.0 / 30,      1.0 / 40,     1.0 / 45,
    1.0 / 50,     1.0 / 60,     1.0 / 80,      1.0 / 90,      1.0 / 100,    1.0 / 125,
    1.0 / 160,    1.0 / 180,    1.0 / 200,     1.0 / 250,     1.0 / 320,    1.0 / 350,
    1.0 / 400,    1.0 / 500,    1.0 / 640,     1.0 / 750,     1.0 / 800,    1.0 / 1000,
    1.0 / 1250,   1.0 / 1500,   1.0 / 1600,    1.0 / 2000,    1.0 / 2500,   1.0 / 3000,
    1.0 / 3200,   1.0 / 4000,   1.0 / 5000,    1.0 / 6000,    1.0 / 6400,   1.0 / 8000,
    1.0 / 10000,  1.0 / 12000,  1.0 / 12800,   1.0 / 16000};
static_assert(std::size(k_standard_speeds) == 70);

// Stored exposure times and f-numbers lie within these.
constexpr double k_min_exposure_time = 1.0 / 32768;
constexpr double k_max_exposure_time = 32768.0;
constexpr double k_min_fnumber = 1.0;
constexpr double k_max_fnumber = 32768.0;
constexpr double k_apex_tolerance = 0.25;

bool present(const dng_unsigned_ratio& r) { return r.d != 0; }

// Four bytes in file order, first byte highest.
uint32_t read_packed_bytes(dng_stream& stream) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | stream.GetUInt8();
  return v;
}

// A SHORT-like value with its (warning-only) type and count checks.
uint32_t read_value(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                    uint32_t count, uint32_t type1, uint32_t type2 = 0) {
  check_tag_type(parent, tag, type, type1, type2);
  check_tag_count(parent, tag, count, 1);
  return stream.TagValueAsUInt32(type);
}

dng_unsigned_ratio read_ratio(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                              uint32_t count) {
  check_tag_type(parent, tag, type, dng_type_rational);
  check_tag_count(parent, tag, count, 1);
  return stream.TagValueAsURational(type);
}

dng_signed_ratio read_signed_ratio(dng_stream& stream, uint32_t parent, uint32_t tag,
                                   uint32_t type, uint32_t count) {
  check_tag_type(parent, tag, type, dng_type_srational);
  check_tag_count(parent, tag, count, 1);
  return stream.TagValueAsSRational(type);
}

uint32_t read_packed(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                     uint32_t count, uint32_t expected_type) {
  check_tag_type(parent, tag, type, expected_type);
  check_tag_count(parent, tag, count, 4);
  return read_packed_bytes(stream);
}

// An ASCII text, trimmed, read as ASCII or code page 1252.
void read_text(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
               dng_text& text) {
  check_tag_type(parent, tag, type, dng_type_ascii);
  read_string_tag(stream, parent, tag, count, text, true, true);
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

double log2_of(double x) { return std::log2(x); }

}  // namespace

dng_unsigned_ratio fnumber_ratio(double f) {
  dng_unsigned_ratio r;
  if (f > 10.0) {
    r.FromReal(f, 1);
  } else {
    r.FromReal(f, 10);
    r.DivideOutFactor(10);
  }
  return r;
}

bool dng_exif::ReadTag(dng_stream& stream, dng_shared* shared, uint32_t parent, bool is_main_ifd,
                       uint32_t tag, uint32_t type, uint32_t count, uint32_t position) {
  bool taken = false;
  // Each reader starts at the value; one that refuses may have read part of
  // it.
  auto again = [&] { stream.SeekForRead(position); };
  if (parent == dng_parent_ifd0) {
    taken = ReadMainIfdTag(stream, shared, parent, tag, type, count, position);
  }
  if (!taken && (parent == dng_parent_ifd0 || is_main_ifd)) {
    again();
    taken = ReadMainIfdExifTag(stream, shared, parent, tag, type, count, position);
  }
  if (!taken && (parent == dng_parent_ifd0 || parent == dng_parent_exif)) {
    again();
    taken = ReadExifIfdTag(stream, shared, parent, tag, type, count, position);
  }
  if (!taken && parent == dng_parent_gps) {
    taken = ReadGpsTag(stream, shared, parent, tag, type, count, position);
  }
  if (!taken && parent == dng_parent_interop) {
    taken = ReadInteropTag(stream, shared, parent, tag, type, count, position);
  }
  if (taken && dng_verbose) {
    again();
    dump_tag_values(stream, tag_type_name(type), parent, tag, type, count);
  }
  return taken;
}

bool dng_exif::ReadMainIfdTag(dng_stream& stream, dng_shared* /*shared*/, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t /*position*/) {
  switch (tag) {
    case 270:  // ImageDescription
      read_text(stream, parent, tag, type, count, image_description);
      return true;
    case 271:  // Make
      read_text(stream, parent, tag, type, count, make);
      return true;
    case 272:  // Model
      read_text(stream, parent, tag, type, count, model);
      return true;
    case 305:  // Software
      read_text(stream, parent, tag, type, count, software);
      return true;
    case 315:  // Artist
      read_text(stream, parent, tag, type, count, artist);
      return true;
    case 306: {  // DateTime
      const uint32_t original_position = stream.OriginalFilePosition();
      if (!read_date_time_tag(stream, parent, tag, type, count, date_time)) return false;
      date_time_origin.position = static_cast<int32_t>(original_position);
      date_time_origin.kind = 1;
      return true;
    }
    case 33405:  // KodakCameraSerialNumber
    case 50735:  // CameraSerialNumber
      read_text(stream, parent, tag, type, count, camera_serial_number);
      return true;
    case 33432:  // Copyright
      check_tag_type(parent, tag, type, dng_type_ascii);
      read_string_pair_tag(stream, parent, tag, count, copyright, copyright2);
      return true;
    case 37398:  // TIFF/EPStandardID
      tiff_ep_standard_id = read_packed(stream, parent, tag, type, count, dng_type_byte);
      return true;
    case 50736:  // LensInfo
      check_tag_type(parent, tag, type, dng_type_rational);
      if (!check_tag_count(parent, tag, count, 4)) return false;
      for (dng_unsigned_ratio& r : lens_info) r = stream.TagValueAsURational(type);
      return true;
    default:
      return false;
  }
}

bool dng_exif::ReadMainIfdExifTag(dng_stream& stream, dng_shared* /*shared*/, uint32_t parent,
                                  uint32_t tag, uint32_t type, uint32_t count,
                                  uint32_t /*position*/) {
  switch (tag) {
    case 37390:  // FocalPlaneXResolution
      focal_plane_x_resolution = read_ratio(stream, parent, tag, type, count);
      return true;
    case 37391:  // FocalPlaneYResolution
      focal_plane_y_resolution = read_ratio(stream, parent, tag, type, count);
      return true;
    case 37392:  // FocalPlaneResolutionUnit
      focal_plane_resolution_unit = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 37399:  // SensingMethod
      sensing_method = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    default:
      return false;
  }
}

bool dng_exif::ReadExifIfdTag(dng_stream& stream, dng_shared* /*shared*/, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t /*position*/) {
  switch (tag) {
    case 33423:  // BatteryLevel
      check_tag_type(parent, tag, type, dng_type_rational, dng_type_ascii);
      if (type == dng_type_ascii) {
        read_string_tag(stream, parent, tag, count, battery_level_text, true, true);
      } else {
        check_tag_count(parent, tag, count, 1);
        battery_level = stream.TagValueAsURational(type);
      }
      return true;

    case 33434: {  // ExposureTime
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      const double seconds = stream.TagValueAsReal64(type);
      StoreExposureTime(seconds, true);
      if (!(seconds > 0.0)) report_dng_warning("The ExposureTime is <= 0");
      return true;
    }

    case 33437: {  // FNumber
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      double f = stream.TagValueAsReal64(type);
      if (!(f > 0.0)) f = 0.0;
      StoreFNumber(f);
      return true;
    }

    case 34850:  // ExposureProgram
      exposure_program = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;

    case 34855: {  // ISOSpeedRatings
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1, 3);
      const uint32_t n = count < 3 ? count : 3;
      for (uint32_t i = 0; i < n; ++i) iso_speed_ratings[i] = stream.TagValueAsUInt32(type);
      return true;
    }

    case 34858:  // TimeZoneOffset
      check_tag_type(parent, tag, type, dng_type_sshort);
      check_tag_count(parent, tag, count, 1, 2);
      if (count >= 1) date_time_original_zone = stream.TagValueAsInt32(type);
      if (count >= 2) date_time_zone = stream.TagValueAsInt32(type);
      return true;

    case 34859:  // SelfTimerMode
      self_timer_mode = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;

    case 36864:  // ExifVersion
      exif_version = read_packed(stream, parent, tag, type, count, dng_type_undefined);
      return true;

    case 36867:  // DateTimeOriginal
      return read_date_time_tag(stream, parent, tag, type, count, date_time_original);
    case 36868:  // DateTimeDigitized
      return read_date_time_tag(stream, parent, tag, type, count, date_time_digitized);

    case 37121:  // ComponentsConfiguration
      components_configuration = read_packed(stream, parent, tag, type, count, dng_type_undefined);
      return true;

    case 37122:  // CompressedBitsPerPixel
      compressed_bits_per_pixel = read_ratio(stream, parent, tag, type, count);
      return true;

    case 37377: {  // ShutterSpeedValue
      check_tag_type(parent, tag, type, dng_type_srational);
      check_tag_count(parent, tag, count, 1);
      const double v = stream.TagValueAsReal64(type);
      if (present(exposure_time)) {
        if (std::fabs(-log2_of(exposure_time.ToReal()) - v) > k_apex_tolerance) {
          report_dng_warning("The ExposureTime and ShutterSpeedValue tags have conflicting values");
        }
      } else {
        StoreExposureTime(std::exp2(-v), true);
      }
      return true;
    }

    case 37378: {  // ApertureValue
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      const dng_unsigned_ratio value = stream.TagValueAsURational(type);
      const double v = value.ToReal();
      if (present(f_number) && value.d != 0 &&
          std::fabs(2.0 * log2_of(f_number.ToReal()) - v) > k_apex_tolerance) {
        report_dng_warning("The FNumber and ApertureValue tags have conflicting values");
      }
      StoreAperture(v);
      return true;
    }

    case 37379:  // BrightnessValue
      brightness_value = read_signed_ratio(stream, parent, tag, type, count);
      return true;
    case 37380:  // ExposureBiasValue
      exposure_bias_value = read_signed_ratio(stream, parent, tag, type, count);
      return true;
    case 37381:  // MaxApertureValue
      max_aperture_value = read_ratio(stream, parent, tag, type, count);
      return true;
    case 37382:  // SubjectDistance
      subject_distance = read_ratio(stream, parent, tag, type, count);
      return true;
    case 37383:  // MeteringMode
      metering_mode = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 37384:  // LightSource
      light_source = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 37385:  // Flash
      flash = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;

    case 37386:  // FocalLength
      focal_length = read_ratio(stream, parent, tag, type, count);
      if (!(focal_length.ToReal() > 0.0)) focal_length = dng_unsigned_ratio();
      return true;

    case 37393:  // ImageNumber
      image_number = read_value(stream, parent, tag, type, count, dng_type_short, dng_type_long);
      return true;

    case 37396:    // SubjectArea
    case 41492: {  // SubjectLocation
      check_tag_type(parent, tag, type, dng_type_short);
      if (!check_tag_count(parent, tag, count, 2, 4)) return false;
      if (tag == 41492) check_tag_count(parent, tag, count, 2);
      subject_area_count = count;
      for (uint32_t i = 0; i < count; ++i) subject_area[i] = stream.TagValueAsUInt32(type);
      return true;
    }

    case 37397:  // ExposureIndex
    case 41493:  // ExposureIndexExif
      exposure_index = read_ratio(stream, parent, tag, type, count);
      return true;

    case 37510:  // UserComment
      check_tag_type(parent, tag, type, dng_type_undefined);
      read_encoded_text_tag(stream, parent, tag, count, user_comment);
      return true;

    case 37520:  // SubsecTime
      read_text(stream, parent, tag, type, count, subsec_time);
      return true;
    case 37521:  // SubsecTimeOriginal
      read_text(stream, parent, tag, type, count, subsec_time_original);
      return true;
    case 37522:  // SubsecTimeDigitized
      read_text(stream, parent, tag, type, count, subsec_time_digitized);
      return true;

    case 40960:  // FlashPixVersion
      flash_pix_version = read_packed(stream, parent, tag, type, count, dng_type_undefined);
      return true;
    case 40961:  // ColorSpace
      color_space = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 40962:  // PixelXDimension
      pixel_x_dimension = read_value(stream, parent, tag, type, count, dng_type_short,
                                     dng_type_long);
      return true;
    case 40963:  // PixelYDimension
      pixel_y_dimension = read_value(stream, parent, tag, type, count, dng_type_short,
                                     dng_type_long);
      return true;
    case 41486:  // FocalPlaneXResolutionExif
      focal_plane_x_resolution = read_ratio(stream, parent, tag, type, count);
      return true;
    case 41487:  // FocalPlaneYResolutionExif
      focal_plane_y_resolution = read_ratio(stream, parent, tag, type, count);
      return true;
    case 41488:  // FocalPlaneResolutionUnitExif
      focal_plane_resolution_unit = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41495:  // SensingMethodExif
      sensing_method = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;

    case 41728:  // FileSource
    case 41729:  // SceneType
      check_tag_type(parent, tag, type, dng_type_undefined);
      check_tag_count(parent, tag, count, 1);
      (tag == 41728 ? file_source : scene_type) = stream.GetUInt8();
      return true;

    case 41730: {  // CFAPatternExif
      check_tag_type(parent, tag, type, dng_type_undefined);
      if (count <= 4) {
        check_tag_count(parent, tag, count, 5, 0xFFFFFFFF);
        return false;
      }
      const uint32_t columns = stream.GetUInt16();
      const uint32_t rows = stream.GetUInt16();
      if (!check_tag_count(parent, tag, count, columns * rows + 4)) return false;
      if (columns < 1 || columns > kMaxCFAPattern || rows < 1 || rows > kMaxCFAPattern) {
        return false;
      }
      cfa_repeat_pattern_cols = columns;
      cfa_repeat_pattern_rows = rows;
      for (uint32_t c = 0; c < columns; ++c) {
        for (uint32_t r = 0; r < rows; ++r) cfa_pattern[r][c] = stream.GetUInt8();
      }
      return true;
    }

    case 41985:  // CustomRendered
      custom_rendered = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41986:  // ExposureMode
      exposure_mode = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41987:  // WhiteBalance
      white_balance = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41988:  // DigitalZoomRatio
      digital_zoom_ratio = read_ratio(stream, parent, tag, type, count);
      return true;
    case 41989:  // FocalLengthIn35mmFilm
      focal_length_in_35mm_film = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41990:  // SceneCaptureType
      scene_capture_type = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41991:  // GainControl
      gain_control = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41992:  // Contrast
      contrast = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41993:  // Saturation
      saturation = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41994:  // Sharpness
      sharpness = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    case 41996:  // SubjectDistanceRange
      subject_distance_range = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;

    case 42016: {  // ImageUniqueID
      constexpr uint32_t k_digits = 2 * dng_digest::kBytes;
      if (!check_tag_type(parent, tag, type, dng_type_ascii)) return false;
      if (!check_tag_count(parent, tag, count, k_digits + 1)) return false;
      dng_text text;
      read_string_tag(stream, parent, tag, count, text, true, true);
      if (text.ByteLength() != k_digits) return false;
      dng_digest id;
      const char* digits = text.CStr();
      for (uint32_t i = 0; i < k_digits; ++i) {
        const int d = hex_digit(upper_ascii_char(digits[i]));
        if (d < 0) return false;
        id.data[i / 2] = static_cast<uint8_t>((id.data[i / 2] << 4) | d);
      }
      image_unique_id = id;
      return true;
    }

    case 42240:  // Gamma
      gamma = read_ratio(stream, parent, tag, type, count);
      return true;

    default:
      return false;
  }
}

bool dng_exif::ReadGpsTag(dng_stream& stream, dng_shared* /*shared*/, uint32_t parent,
                          uint32_t tag, uint32_t type, uint32_t count, uint32_t /*position*/) {
  // Tags holding three ratios, one ratio, or a text.
  auto triple = [&](dng_unsigned_ratio (&field)[3]) {
    if (!check_tag_type(parent, tag, type, dng_type_rational)) return false;
    if (!check_tag_count(parent, tag, count, 3)) return false;
    for (dng_unsigned_ratio& r : field) r = stream.TagValueAsURational(type);
    return true;
  };
  auto single = [&](dng_unsigned_ratio& field) {
    if (!check_tag_type(parent, tag, type, dng_type_rational)) return false;
    check_tag_count(parent, tag, count, 1);
    field = stream.TagValueAsURational(type);
    return true;
  };
  auto text = [&](dng_text& field) {
    if (!check_tag_type(parent, tag, type, dng_type_ascii)) return false;
    read_string_tag(stream, parent, tag, count, field, true, true);
    return true;
  };
  auto encoded = [&](dng_text& field) {
    if (!check_tag_type(parent, tag, type, dng_type_undefined)) return false;
    read_encoded_text_tag(stream, parent, tag, count, field);
    return true;
  };
  switch (tag) {
    case 0:  // GPSVersionID
      gps_version_id = read_packed(stream, parent, tag, type, count, dng_type_byte);
      return true;
    case 1: return text(gps_latitude_ref);
    case 2: return triple(gps_latitude);
    case 3: return text(gps_longitude_ref);
    case 4: return triple(gps_longitude);
    case 5:  // GPSAltitudeRef
      gps_altitude_ref = read_value(stream, parent, tag, type, count, dng_type_byte);
      return true;
    case 6: return single(gps_altitude);
    case 7: return triple(gps_time_stamp);
    case 8: return text(gps_satellites);
    case 9: return text(gps_status);
    case 10: return text(gps_measure_mode);
    case 11: return single(gps_dop);
    case 12: return text(gps_speed_ref);
    case 13: return single(gps_speed);
    case 14: return text(gps_track_ref);
    case 15: return single(gps_track);
    case 16: return text(gps_img_direction_ref);
    case 17: return single(gps_img_direction);
    case 18: return text(gps_map_datum);
    case 19: return text(gps_dest_latitude_ref);
    case 20: return triple(gps_dest_latitude);
    case 21: return text(gps_dest_longitude_ref);
    case 22: return triple(gps_dest_longitude);
    case 23: return text(gps_dest_bearing_ref);
    case 24: return single(gps_dest_bearing);
    case 25: return text(gps_dest_distance_ref);
    case 26: return single(gps_dest_distance);
    case 27: return encoded(gps_processing_method);
    case 28: return encoded(gps_area_information);
    case 29: return text(gps_date_stamp);
    case 30:  // GPSDifferential
      gps_differential = read_value(stream, parent, tag, type, count, dng_type_short);
      return true;
    default:
      return false;
  }
}

bool dng_exif::ReadInteropTag(dng_stream& stream, dng_shared* /*shared*/, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t /*position*/) {
  switch (tag) {
    case 1:  // InteroperabilityIndex
      check_tag_type(parent, tag, type, dng_type_ascii);
      check_tag_count(parent, tag, count, 4);
      read_string_tag(stream, parent, tag, count, interoperability_index, true, true);
      return true;
    case 2:  // InteroperabilityVersion
      interoperability_version = read_packed(stream, parent, tag, type, count, dng_type_undefined);
      return true;
    case 4096:  // RelatedImageFileFormat
      read_text(stream, parent, tag, type, count, related_image_file_format);
      return true;
    case 4097:  // RelatedImageWidth
      related_image_width = read_value(stream, parent, tag, type, count, dng_type_short,
                                       dng_type_long);
      return true;
    case 4098:  // RelatedImageLength
      related_image_length = read_value(stream, parent, tag, type, count, dng_type_short,
                                        dng_type_long);
      return true;
    default:
      return false;
  }
}

double dng_exif::StandardExposureTime(double t) {
  if (!(t > 0.0)) return 0.0;
  for (int pass = 0; pass < 2; ++pass) {
    double x = t;
    if (pass == 1) {
      if (!(t < 0.1)) break;
      x = t >= 0.01 ? t * 16.0 / 15.0 : t * 1.024;
    }
    for (double s : k_standard_speeds) {
      if (x >= 0.98 * s && x <= 1.02 * s) return s;
    }
  }
  if (t >= 10.0) return std::floor(t + 0.5);
  if (t >= 0.5) return std::floor(10.0 * t + 0.5) * 0.1;
  if (t >= 0.05) return 1.0 / std::floor(1.0 / t + 0.5);
  if (t >= 1.0 / 130) return 0.2 / std::floor(0.2 / t + 0.5);
  if (t >= 1.0 / 750) return 0.1 / std::floor(0.1 / t + 0.5);
  if (t >= 1.0 / 1300) return 0.02 / std::floor(0.02 / t + 0.5);
  if (t >= 1.0 / 15000) return 0.01 / std::floor(0.01 / t + 0.5);
  return 0.001 / std::floor(0.001 / t + 0.5);
}

void dng_exif::StoreExposureTime(double t, bool snap) {
  exposure_time = dng_unsigned_ratio();
  shutter_speed_value = dng_signed_ratio();
  if (snap) t = StandardExposureTime(t);
  if (!(t >= k_min_exposure_time && t <= k_max_exposure_time)) return;
  if (t >= 100.0) {
    exposure_time.FromReal(t, 1);
  } else if (t >= 1.0) {
    exposure_time.FromReal(t, 10);
    exposure_time.DivideOutFactor(10);
  } else if (t <= 0.1) {
    exposure_time = dng_unsigned_ratio(1, round_half_up_uint32(1.0 / t));
  } else {
    exposure_time.FromReal(t, 100);
    exposure_time.DivideOutFactor(10);
    for (uint32_t n = 2; n <= 9; ++n) {
      const double ratio = (1.0 / n) / t;
      if (ratio >= 0.99 && ratio <= 1.01) {
        exposure_time = dng_unsigned_ratio(1, n);
        break;
      }
    }
  }
  shutter_speed_value.FromReal(-log2_of(exposure_time.ToReal()), 1000000);
  shutter_speed_value.DivideOutFactor(10);
}

void dng_exif::StoreShutterSpeed(double v) {
  if (!present(exposure_time)) StoreExposureTime(std::exp2(-v), true);
}

void dng_exif::StoreFNumber(double f) {
  f_number = dng_unsigned_ratio();
  aperture_value = dng_unsigned_ratio();
  if (!(f >= k_min_fnumber && f <= k_max_fnumber)) return;
  f_number = fnumber_ratio(f);
  const double a = 2.0 * log2_of(f_number.ToReal());
  if (a >= 0.0 && a <= 99.99) {
    aperture_value.FromReal(a, 1000000);
    aperture_value.DivideOutFactor(10);
  }
}

void dng_exif::StoreAperture(double v) {
  if (!present(f_number)) StoreFNumber(std::exp2(v / 2.0));
}

void dng_exif::StoreDateTime(const dng_calendar_time& dt, int32_t zone_hours) {
  date_time = dt;
  subsec_time.Assign(nullptr);
  date_time_zone = zone_hours;
}

void dng_exif::FinishParse(dng_host& /*host*/, dng_shared* /*shared*/) {
  if (present(max_aperture_value)) {
    const double m = max_aperture_value.ToReal();
    double expected = m;
    if (present(aperture_value)) {
      expected = aperture_value.ToReal();
    } else if (present(f_number) && f_number.ToReal() >= 1.0) {
      expected = 2.0 * log2_of(f_number.ToReal());
    }
    if (m > expected + k_apex_tolerance) {
      report_dng_warning("MaxApertureValue conflicts with ApertureValue and/or FNumber");
    }
    if (present(lens_info[2]) && present(lens_info[3])) {
      const double a = lens_info[2].ToReal();
      const double b = lens_info[3].ToReal();
      if (a >= 1.0 && a <= b &&
          (m < 2.0 * log2_of(a) - 1.25 || m > 2.0 * log2_of(b) + 2.25)) {
        report_dng_warning("Possible MaxApertureValue conflict with LensInfo");
      }
    }
  }

  if (present(focal_length)) {
    const double f = focal_length.ToReal();
    if (f < 1.0) {
      report_dng_warning("FocalLength is less than 1.0 mm (legal but unlikely)");
    } else if (present(lens_info[0]) && present(lens_info[1]) &&
               (f < 0.6 * lens_info[0].ToReal() || f > 2.1 * lens_info[1].ToReal())) {
      report_dng_warning("Possible FocalLength conflict with LensInfo");
    }
  }

  if (!date_time.InRange() && date_time_original.InRange()) {
    date_time = date_time_original;
    subsec_time = subsec_time_original;
    date_time_zone = date_time_original_zone;
  }

  if (iso_speed_ratings[0] == 0 && present(exposure_index)) {
    // A ratio can reach 4 x 10^9; the rounding works in int32, so the value
    // is held to that range first.
    double index = exposure_index.ToReal();
    if (index > static_cast<double>(INT32_MAX)) index = static_cast<double>(INT32_MAX);
    iso_speed_ratings[0] = static_cast<uint32_t>(round_half_up_int32(index));
  }

  if (!present(gps_altitude)) gps_altitude_ref = dng_exif_absent;
  if (!present(gps_latitude[0]) && !present(gps_longitude[0]) && !present(gps_altitude) &&
      !present(gps_time_stamp[0]) && gps_date_stamp.Empty()) {
    gps_version_id = 0;
  }
}
