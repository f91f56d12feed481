#include "dng/parse/dng_exif.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iterator>
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

namespace {

void dump_version_bytes(const char* name, uint32_t v) {
  std::printf("%s: %u.%u.%u.%u\n", name, v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

// ExifVersion and its kin hold four ASCII digits ("0230").
void dump_version_text(const char* name, uint32_t v) {
  std::printf("%s: ", name);
  for (int shift = 24; shift >= 0; shift -= 8) {
    const uint32_t c = (v >> shift) & 0xFF;
    std::printf("%c", c >= 32 && c <= 126 ? static_cast<char>(c) : '.');
  }
  std::printf("\n");
}

void dump_value_name(const char* name, dng_value_kind kind, uint32_t value) {
  std::printf("%s: %s\n", name, tag_value_name(kind, value));
}

void dump_real(const char* name, const char* format, double value) {
  std::printf("%s: ", name);
  std::printf(format, value);
  std::printf("\n");
}

// An APEX aperture value as the f-number it stands for.
void dump_aperture(const char* name, double apex) { std::printf("%s: f/%0.1f\n", name, std::exp2(apex / 2.0)); }

void dump_flash(uint32_t flash) {
  std::printf("Flash: %u\n", flash);
  std::printf((flash & 1) != 0 ? "    Flash fired\n" : "    Flash did not fire\n");
  switch ((flash >> 1) & 3) {
    case 2: std::printf("    Strobe return light not detected\n"); break;
    case 3: std::printf("    Strobe return light detected\n"); break;
    default: break;
  }
  switch ((flash >> 3) & 3) {
    case 1: std::printf("    Compulsory flash firing\n"); break;
    case 2: std::printf("    Compulsory flash suppression\n"); break;
    case 3: std::printf("    Auto mode\n"); break;
    default: break;
  }
  if ((flash & 0x20) != 0) std::printf("    No flash function\n");
  if ((flash & 0x40) != 0) std::printf("    Red-eye reduction supported\n");
}

// "%0.1f-%0.1f mm" (or one length when both ends agree) and the f-numbers
// at the two ends in the same way.
void dump_lens_info(const dng_unsigned_ratio (&info)[4]) {
  const double shortest = info[0].ToReal(), longest = info[1].ToReal();
  const double f_short = info[2].ToReal(), f_long = info[3].ToReal();
  std::printf("LensInfo: ");
  if (shortest == longest) {
    std::printf("%0.1f mm", shortest);
  } else {
    std::printf("%0.1f-%0.1f mm", shortest, longest);
  }
  if (f_short == f_long) {
    std::printf(" f/%0.1f\n", f_short);
  } else {
    std::printf(" f/%0.1f-%0.1f\n", f_short, f_long);
  }
}

void dump_ratio_triple(const char* name, const dng_unsigned_ratio (&r)[3]) {
  std::printf("%s: %0.4f %0.4f %0.4f\n", name, r[0].ToReal(), r[1].ToReal(), r[2].ToReal());
}

void dump_uints(const char* name, const uint32_t* values, uint32_t count) {
  std::printf("%s:", name);
  for (uint32_t i = 0; i < count; ++i) std::printf(" %u", values[i]);
  std::printf("\n");
}

void dump_date_line(const char* name, const dng_calendar_time& date_time) {
  std::printf("%s: ", name);
  dump_date_time(date_time);
  std::printf("\n");
}

// One tag just taken by the object, printed from what it now holds. The
// APEX tags print their own value, read again from the entry (it was read
// whole a moment ago), since the object keeps only the exposure time and
// f-number it implies.
void dump_exif_tag(const dng_exif& x, dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                   uint32_t count, uint32_t position) {
  const char* name = tag_code_name(parent, tag);
  auto own_value = [&] {
    stream.SeekForRead(position);
    return stream.TagValueAsReal64(type);
  };
  if (parent == dng_parent_gps) {
    switch (tag) {
      case 0: dump_version_bytes(name, x.gps_version_id); return;
      case 1: dump_text_line(name, x.gps_latitude_ref); return;
      case 2: dump_ratio_triple(name, x.gps_latitude); return;
      case 3: dump_text_line(name, x.gps_longitude_ref); return;
      case 4: dump_ratio_triple(name, x.gps_longitude); return;
      case 5: std::printf("%s: %u\n", name, x.gps_altitude_ref); return;
      case 6: dump_real(name, "%0.2f", x.gps_altitude.ToReal()); return;
      case 7: dump_ratio_triple(name, x.gps_time_stamp); return;
      case 8: dump_text_line(name, x.gps_satellites); return;
      case 9: dump_text_line(name, x.gps_status); return;
      case 10: dump_text_line(name, x.gps_measure_mode); return;
      case 11: dump_real(name, "%0.2f", x.gps_dop.ToReal()); return;
      case 12: dump_text_line(name, x.gps_speed_ref); return;
      case 13: dump_real(name, "%0.2f", x.gps_speed.ToReal()); return;
      case 14: dump_text_line(name, x.gps_track_ref); return;
      case 15: dump_real(name, "%0.2f", x.gps_track.ToReal()); return;
      case 16: dump_text_line(name, x.gps_img_direction_ref); return;
      case 17: dump_real(name, "%0.2f", x.gps_img_direction.ToReal()); return;
      case 18: dump_text_line(name, x.gps_map_datum); return;
      case 19: dump_text_line(name, x.gps_dest_latitude_ref); return;
      case 20: dump_ratio_triple(name, x.gps_dest_latitude); return;
      case 21: dump_text_line(name, x.gps_dest_longitude_ref); return;
      case 22: dump_ratio_triple(name, x.gps_dest_longitude); return;
      case 23: dump_text_line(name, x.gps_dest_bearing_ref); return;
      case 24: dump_real(name, "%0.2f", x.gps_dest_bearing.ToReal()); return;
      case 25: dump_text_line(name, x.gps_dest_distance_ref); return;
      case 26: dump_real(name, "%0.2f", x.gps_dest_distance.ToReal()); return;
      case 27: dump_text_line(name, x.gps_processing_method); return;
      case 28: dump_text_line(name, x.gps_area_information); return;
      case 29: dump_text_line(name, x.gps_date_stamp); return;
      case 30: std::printf("%s: %u\n", name, x.gps_differential); return;
      default: return;
    }
  }
  if (parent == dng_parent_interop) {
    switch (tag) {
      case 1: dump_text_line(name, x.interoperability_index); return;
      case 2: dump_version_text(name, x.interoperability_version); return;
      case 4096: dump_text_line(name, x.related_image_file_format); return;
      case 4097: std::printf("%s: %u\n", name, x.related_image_width); return;
      case 4098: std::printf("%s: %u\n", name, x.related_image_length); return;
      default: return;
    }
  }
  switch (tag) {
    case 270: dump_text_line(name, x.image_description); return;
    case 271: dump_text_line(name, x.make); return;
    case 272: dump_text_line(name, x.model); return;
    case 305: dump_text_line(name, x.software); return;
    case 315: dump_text_line(name, x.artist); return;
    case 306: dump_date_line(name, x.date_time); return;
    case 33405:
    case 50735: dump_text_line(name, x.camera_serial_number); return;
    case 33432:
      std::printf("%s: ", name);
      dump_string(x.copyright);
      if (!x.copyright2.Empty()) {
        std::printf(" ");
        dump_string(x.copyright2);
      }
      std::printf("\n");
      return;
    case 37398: dump_version_bytes(name, x.tiff_ep_standard_id); return;
    case 50736: dump_lens_info(x.lens_info); return;
    case 37390:
    case 41486: dump_real(name, "%0.2f", x.focal_plane_x_resolution.ToReal()); return;
    case 37391:
    case 41487: dump_real(name, "%0.2f", x.focal_plane_y_resolution.ToReal()); return;
    case 37392:
    case 41488: dump_value_name(name, dng_value_kind::resolution_unit, x.focal_plane_resolution_unit); return;
    case 37399:
    case 41495: dump_value_name(name, dng_value_kind::sensing_method, x.sensing_method); return;
    case 33423:
      if (type == dng_type_ascii) {
        dump_text_line(name, x.battery_level_text);
      } else {
        dump_real(name, "%0.1f", x.battery_level.ToReal());
      }
      return;
    case 33434:
      std::printf("%s: ", name);
      dump_exposure_time(x.exposure_time.ToReal());
      std::printf("\n");
      return;
    case 33437: std::printf("%s: f/%0.1f\n", name, x.f_number.ToReal()); return;
    case 34850: dump_value_name(name, dng_value_kind::exposure_program, x.exposure_program); return;
    case 34855: dump_uints(name, x.iso_speed_ratings, std::min(count, 3u)); return;
    case 34858:
      std::printf("%s:", name);
      if (count >= 1) std::printf(" %d", x.date_time_original_zone);
      if (count >= 2) std::printf(" %d", x.date_time_zone);
      std::printf("\n");
      return;
    case 34859: std::printf("%s: %u\n", name, x.self_timer_mode); return;
    case 36864: dump_version_text(name, x.exif_version); return;
    case 40960: dump_version_text(name, x.flash_pix_version); return;
    case 36867: dump_date_line(name, x.date_time_original); return;
    case 36868: dump_date_line(name, x.date_time_digitized); return;
    case 37121:
      std::printf("%s:", name);
      for (int shift = 24; shift >= 0; shift -= 8) {
        std::printf(" %s", tag_value_name(dng_value_kind::components_configuration,
                                          (x.components_configuration >> shift) & 0xFF));
      }
      std::printf("\n");
      return;
    case 37122: dump_real(name, "%0.2f", x.compressed_bits_per_pixel.ToReal()); return;
    case 37377:
      std::printf("%s: ", name);
      dump_exposure_time(std::exp2(-own_value()));
      std::printf("\n");
      return;
    case 37378: dump_aperture(name, own_value()); return;
    case 37379: dump_real(name, "%0.2f", x.brightness_value.ToReal()); return;
    case 37380: dump_real(name, "%+0.2f", x.exposure_bias_value.ToReal()); return;
    case 37381: dump_aperture(name, x.max_aperture_value.ToReal()); return;
    case 37382: dump_real(name, "%0.2f m", x.subject_distance.ToReal()); return;
    case 37383: dump_value_name(name, dng_value_kind::metering_mode, x.metering_mode); return;
    case 37384: dump_value_name(name, dng_value_kind::light_source, x.light_source); return;
    case 37385: dump_flash(x.flash); return;
    case 37386: dump_real(name, "%0.1f mm", x.focal_length.ToReal()); return;
    case 37393: std::printf("%s: %u\n", name, x.image_number); return;
    case 37396:
    case 41492: dump_uints(name, x.subject_area, std::min(x.subject_area_count, 4u)); return;
    case 37397:
    case 41493: dump_real(name, "%0.1f", x.exposure_index.ToReal()); return;
    case 37510: dump_text_line(name, x.user_comment); return;
    case 37520: dump_text_line(name, x.subsec_time); return;
    case 37521: dump_text_line(name, x.subsec_time_original); return;
    case 37522: dump_text_line(name, x.subsec_time_digitized); return;
    case 40961: dump_value_name(name, dng_value_kind::color_space, x.color_space); return;
    case 40962: std::printf("%s: %u\n", name, x.pixel_x_dimension); return;
    case 40963: std::printf("%s: %u\n", name, x.pixel_y_dimension); return;
    case 41728: dump_value_name(name, dng_value_kind::file_source, x.file_source); return;
    case 41729: dump_value_name(name, dng_value_kind::scene_type, x.scene_type); return;
    case 41730:
      std::printf("%s:\n", name);
      dump_cfa_pattern(x.cfa_pattern, x.cfa_repeat_pattern_rows, x.cfa_repeat_pattern_cols);
      return;
    case 41985: dump_value_name(name, dng_value_kind::custom_rendered, x.custom_rendered); return;
    case 41986: dump_value_name(name, dng_value_kind::exposure_mode, x.exposure_mode); return;
    case 41987: dump_value_name(name, dng_value_kind::white_balance, x.white_balance); return;
    case 41988: dump_real(name, "%0.2f", x.digital_zoom_ratio.ToReal()); return;
    case 41989: std::printf("%s: %u mm\n", name, x.focal_length_in_35mm_film); return;
    case 41990: dump_value_name(name, dng_value_kind::scene_capture_type, x.scene_capture_type); return;
    case 41991: dump_value_name(name, dng_value_kind::gain_control, x.gain_control); return;
    case 41992: dump_value_name(name, dng_value_kind::contrast, x.contrast); return;
    case 41993: dump_value_name(name, dng_value_kind::saturation, x.saturation); return;
    case 41994: dump_value_name(name, dng_value_kind::contrast, x.sharpness); return;
    case 41996: dump_value_name(name, dng_value_kind::subject_distance_range, x.subject_distance_range); return;
    case 42016:
      std::printf("%s: <", name);
      for (uint8_t b : x.image_unique_id.data) std::printf("%02x", b);
      std::printf(">\n");
      return;
    case 42240: dump_real(name, "%0.2f", x.gamma.ToReal()); return;
    default: return;
  }
}

}  // namespace

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
  if (taken && dng_verbose) dump_exif_tag(*this, stream, parent, tag, type, count, position);
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
