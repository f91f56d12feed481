// The descriptive metadata of a DNG file: the TIFF texts of IFD 0, the
// date-times, the EXIF exposure values, the GPS and Interoperability blocks,
// lens information and serial numbers. Takes what it knows of every entry it
// is offered, keeps exposure time and shutter speed, f-number and aperture
// consistent, and warns about conflicts in FinishParse.
//
// Made empty by the host's NewExif, filled while a dng_info reads the file,
// finished once (before the shared object), then handed over to the negative.
// Owns its texts. Used by one thread.
#pragma once

#include <cstdint>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_digest.h"
#include "dng/core/dng_rational.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_text.h"

class dng_host;
class dng_shared;

// "Absent" for the uint32 value fields; a ratio with denominator 0 is absent.
inline constexpr uint32_t dng_exif_absent = 0xFFFFFFFF;
// "No zone" for the zone offsets.
inline constexpr int32_t dng_exif_no_zone = 0x7FFFFFFF;

// f above 10 as f/1, else in tenths with common factors of 10 removed.
dng_unsigned_ratio fnumber_ratio(double f);

class dng_exif {
 public:
  dng_exif() = default;
  virtual ~dng_exif() = default;
  dng_exif(const dng_exif&) = default;
  dng_exif& operator=(const dng_exif&) = default;

  // One entry at the stream's position (which is position): IFD 0 tries the
  // main-IFD tags; IFD 0 or the main image's IFD the focal-plane and sensing
  // tags; IFD 0 or the EXIF IFD the EXIF tags; the GPS and Interoperability
  // IFDs their own. True when taken. The shared object may be null.
  virtual bool ReadTag(dng_stream& stream, dng_shared* shared, uint32_t parent, bool is_main_ifd,
                       uint32_t tag, uint32_t type, uint32_t count, uint32_t position);

  // Conflict warnings, the DateTime fallback, ISO from the exposure index and
  // the GPS clean-up.
  virtual void FinishParse(dng_host& host, dng_shared* shared);

  virtual bool ReadMainIfdTag(dng_stream& stream, dng_shared* shared, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t position);
  virtual bool ReadMainIfdExifTag(dng_stream& stream, dng_shared* shared, uint32_t parent,
                                  uint32_t tag, uint32_t type, uint32_t count, uint32_t position);
  virtual bool ReadExifIfdTag(dng_stream& stream, dng_shared* shared, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t position);
  virtual bool ReadGpsTag(dng_stream& stream, dng_shared* shared, uint32_t parent, uint32_t tag,
                          uint32_t type, uint32_t count, uint32_t position);
  virtual bool ReadInteropTag(dng_stream& stream, dng_shared* shared, uint32_t parent,
                              uint32_t tag, uint32_t type, uint32_t count, uint32_t position);

  // Sets ExposureTime (snapped to the nearest standard speed when asked) and
  // the ShutterSpeedValue derived from it; both are cleared first and stay
  // absent unless 2^-15 <= seconds <= 32768.
  void StoreExposureTime(double seconds, bool snap);
  // Only while ExposureTime is absent: StoreExposureTime(2^-v, snap).
  void StoreShutterSpeed(double v);
  // Sets FNumber and the ApertureValue derived from it; both are cleared
  // first and stay absent unless 1 <= f <= 32768.
  void StoreFNumber(double f);
  // Only while FNumber is absent: StoreFNumber(2^(v/2)).
  void StoreAperture(double v);
  // The standard shutter speed within 2% of seconds (a second pass allows
  // the 1/64-for-1/60 style of speed), else seconds rounded to a sensible
  // step; 0 for seconds not above 0.
  static double StandardExposureTime(double seconds);
  // Sets DateTime and its zone, and empties SubsecTime.
  void StoreDateTime(const dng_calendar_time& date_time, int32_t zone_hours);

  dng_text image_description;
  dng_text make;
  dng_text model;
  dng_text software;
  dng_text artist;
  dng_text copyright;
  dng_text copyright2;  // the part of the Copyright value after its first text
  dng_text user_comment;

  dng_calendar_time date_time;
  dng_time_origin date_time_origin;
  dng_calendar_time date_time_original;
  dng_calendar_time date_time_digitized;
  dng_text subsec_time;
  dng_text subsec_time_original;
  dng_text subsec_time_digitized;
  int32_t date_time_zone = dng_exif_no_zone;
  int32_t date_time_original_zone = dng_exif_no_zone;

  // Four bytes packed first byte highest.
  uint32_t tiff_ep_standard_id = 0;
  uint32_t exif_version = 0;
  uint32_t flash_pix_version = 0;

  dng_unsigned_ratio exposure_time;
  dng_unsigned_ratio f_number;
  dng_signed_ratio shutter_speed_value;
  dng_unsigned_ratio aperture_value;
  dng_signed_ratio brightness_value;
  dng_signed_ratio exposure_bias_value;
  dng_unsigned_ratio max_aperture_value;
  dng_unsigned_ratio focal_length;
  dng_unsigned_ratio digital_zoom_ratio;
  dng_unsigned_ratio exposure_index;
  dng_unsigned_ratio subject_distance;
  dng_unsigned_ratio gamma;
  dng_unsigned_ratio battery_level;
  dng_text battery_level_text;

  uint32_t exposure_program = dng_exif_absent;
  uint32_t metering_mode = dng_exif_absent;
  uint32_t light_source = dng_exif_absent;
  uint32_t flash = dng_exif_absent;
  uint32_t flash_mask = 0xFFFF;  // which Flash bits are known
  uint32_t sensing_method = dng_exif_absent;
  uint32_t color_space = dng_exif_absent;
  uint32_t file_source = dng_exif_absent;
  uint32_t scene_type = dng_exif_absent;
  uint32_t custom_rendered = dng_exif_absent;
  uint32_t exposure_mode = dng_exif_absent;
  uint32_t white_balance = dng_exif_absent;
  uint32_t scene_capture_type = dng_exif_absent;
  uint32_t gain_control = dng_exif_absent;
  uint32_t contrast = dng_exif_absent;
  uint32_t saturation = dng_exif_absent;
  uint32_t sharpness = dng_exif_absent;
  uint32_t subject_distance_range = dng_exif_absent;
  uint32_t self_timer_mode = dng_exif_absent;
  uint32_t image_number = dng_exif_absent;

  uint32_t focal_length_in_35mm_film = 0;
  uint32_t iso_speed_ratings[3] = {};
  uint32_t subject_area_count = 0;
  uint32_t subject_area[4] = {};

  uint32_t components_configuration = 0;
  dng_unsigned_ratio compressed_bits_per_pixel;
  uint32_t pixel_x_dimension = 0;
  uint32_t pixel_y_dimension = 0;
  dng_unsigned_ratio focal_plane_x_resolution;
  dng_unsigned_ratio focal_plane_y_resolution;
  uint32_t focal_plane_resolution_unit = dng_exif_absent;

  // The EXIF CFA pattern: rows x columns entries (at most 8 x 8), 255 unset.
  static constexpr uint32_t kMaxCFAPattern = 8;
  uint32_t cfa_repeat_pattern_rows = 0;
  uint32_t cfa_repeat_pattern_cols = 0;
  uint8_t cfa_pattern[kMaxCFAPattern][kMaxCFAPattern] = {
      {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
      {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
      {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
      {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255}};

  dng_digest image_unique_id;  // all zero = none

  uint32_t gps_version_id = 0;
  dng_text gps_latitude_ref;
  dng_unsigned_ratio gps_latitude[3];
  dng_text gps_longitude_ref;
  dng_unsigned_ratio gps_longitude[3];
  uint32_t gps_altitude_ref = dng_exif_absent;
  dng_unsigned_ratio gps_altitude;
  dng_unsigned_ratio gps_time_stamp[3];
  dng_text gps_satellites;
  dng_text gps_status;
  dng_text gps_measure_mode;
  dng_unsigned_ratio gps_dop;
  dng_text gps_speed_ref;
  dng_unsigned_ratio gps_speed;
  dng_text gps_track_ref;
  dng_unsigned_ratio gps_track;
  dng_text gps_img_direction_ref;
  dng_unsigned_ratio gps_img_direction;
  dng_text gps_map_datum;
  dng_text gps_dest_latitude_ref;
  dng_unsigned_ratio gps_dest_latitude[3];
  dng_text gps_dest_longitude_ref;
  dng_unsigned_ratio gps_dest_longitude[3];
  dng_text gps_dest_bearing_ref;
  dng_unsigned_ratio gps_dest_bearing;
  dng_text gps_dest_distance_ref;
  dng_unsigned_ratio gps_dest_distance;
  dng_text gps_processing_method;
  dng_text gps_area_information;
  dng_text gps_date_stamp;
  uint32_t gps_differential = dng_exif_absent;

  dng_text interoperability_index;
  uint32_t interoperability_version = 0;
  dng_text related_image_file_format;
  uint32_t related_image_width = 0;
  uint32_t related_image_length = 0;

  dng_text camera_serial_number;
  // Shortest and longest focal length, f-number at each.
  dng_unsigned_ratio lens_info[4];

  // Filled only by the XMP exchange.
  dng_text lens_id;
  dng_text lens;
  dng_text lens_serial_number;
  dng_signed_ratio flash_compensation;
  dng_text owner_name;
  dng_text firmware;
};
