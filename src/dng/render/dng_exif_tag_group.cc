#include "dng/render/dng_exif_tag_group.h"

#include <cstdio>
#include <cstring>

#include "dng/parse/dng_exif.h"

namespace {
constexpr uint32_t kMaxShort = 0xFFFF;
constexpr uint32_t kMaxByte = 0xFF;
}  // namespace

template <class Tag, class... Args>
void exif_tag_group::Add(tag_directory& directory, Args&&... args) {
  auto tag = std::make_unique<Tag>(std::forward<Args>(args)...);
  directory.Insert(tag.get());
  tags_.push_back(std::move(tag));
}

void exif_tag_group::AddURational(tag_directory& directory, uint16_t code, const dng_unsigned_ratio& value) {
  if (value.d != 0) Add<tag_urational>(directory, code, value);
}

void exif_tag_group::AddSRational(tag_directory& directory, uint16_t code, const dng_signed_ratio& value) {
  if (value.d != 0) Add<tag_srational>(directory, code, value);
}

void exif_tag_group::AddShort(tag_directory& directory, uint16_t code, uint32_t value) {
  if (value <= kMaxShort) Add<tag_uint16>(directory, code, uint16_t(value));
}

void exif_tag_group::AddText(tag_directory& directory, uint16_t code, const dng_text& text) {
  if (!text.Empty()) Add<tag_string>(directory, code, text, true);
}

void exif_tag_group::AddDate(tag_directory& directory, uint16_t code, const dng_calendar_time& time) {
  if (time.InRange()) Add<tag_exif_date_time>(directory, code, time);
}

void exif_tag_group::AddURationals(tag_directory& directory, uint16_t code,
                                   const dng_unsigned_ratio* values, uint32_t count) {
  auto block = std::make_unique<uint8_t[]>(sizeof(dng_unsigned_ratio) * count);
  std::memcpy(block.get(), values, sizeof(dng_unsigned_ratio) * count);
  Add<tag_urational_ptr>(directory, code, reinterpret_cast<const dng_unsigned_ratio*>(block.get()), count);
  values_.push_back(std::move(block));
}

void exif_tag_group::AddBytesMSBFirst(tag_directory& directory, uint16_t code, uint32_t value,
                                      uint16_t type) {
  auto block = std::make_unique<uint8_t[]>(4);
  for (int i = 0; i < 4; ++i) block[i] = uint8_t(value >> (24 - 8 * i));
  Add<tag_uint8_ptr>(directory, code, block.get(), 4u, type);
  values_.push_back(std::move(block));
}

void exif_tag_group::AddUndefinedByte(tag_directory& directory, uint16_t code, uint32_t value) {
  if (value > kMaxByte) return;
  auto block = std::make_unique<uint8_t[]>(1);
  block[0] = uint8_t(value);
  Add<tag_uint8_ptr>(directory, code, block.get(), 1u, uint16_t(7));
  values_.push_back(std::move(block));
}

exif_tag_group::exif_tag_group(tag_directory& ifd0, const dng_exif& exif, bool maker_note_safe,
                               const void* maker_note, uint32_t maker_note_length, bool dng) {
  const bool with_maker_note = maker_note_safe && maker_note != nullptr && maker_note_length != 0;

  // IFD 0.
  AddDate(ifd0, 306, exif.date_time);
  AddText(ifd0, 271, exif.make);
  AddText(ifd0, 272, exif.model);
  AddText(ifd0, 305, exif.software);
  AddText(ifd0, 315, exif.artist);
  AddText(ifd0, 33432, exif.copyright);
  AddText(ifd0, 270, exif.image_description);
  if (exif.date_time_original.InRange() && exif.date_time_original_zone != dng_exif_no_zone) {
    auto block = std::make_unique<uint8_t[]>(2 * sizeof(int16_t));
    int16_t zones[2] = {int16_t(exif.date_time_original_zone), int16_t(exif.date_time_zone)};
    std::memcpy(block.get(), zones, sizeof(zones));
    const bool both = exif.date_time.InRange() && exif.date_time_zone != dng_exif_no_zone;
    Add<tag_int16_ptr>(ifd0, 34858, reinterpret_cast<const int16_t*>(block.get()), both ? 2u : 1u);
    values_.push_back(std::move(block));
  }
  if (with_maker_note) Add<tag_uint16>(ifd0, 50741, uint16_t(1));
  if (dng) {
    AddText(ifd0, 50735, exif.camera_serial_number);
    if (exif.lens_info[0].d != 0 && exif.lens_info[1].d != 0) AddURationals(ifd0, 50736, exif.lens_info, 4);
    if (exif.image_number != 0xFFFFFFFFu) Add<tag_uint32>(ifd0, 37393, exif.image_number);
    AddShort(ifd0, 34859, exif.self_timer_mode);
    if (!exif.battery_level_text.Empty()) {
      AddText(ifd0, 33423, exif.battery_level_text);
    } else {
      AddURational(ifd0, 33423, exif.battery_level);
    }
  }

  // EXIF directory.
  tag_directory& e = exif_directory_;
  if (exif.exif_version != 0) AddBytesMSBFirst(e, 36864, exif.exif_version, 7);
  AddURational(e, 33434, exif.exposure_time);
  AddSRational(e, 37377, exif.shutter_speed_value);
  AddURational(e, 33437, exif.f_number);
  AddURational(e, 37378, exif.aperture_value);
  AddSRational(e, 37379, exif.brightness_value);
  AddSRational(e, 37380, exif.exposure_bias_value);
  AddURational(e, 37381, exif.max_aperture_value);
  AddURational(e, 37382, exif.subject_distance);
  AddURational(e, 37386, exif.focal_length);
  if (exif.iso_speed_ratings[0] != 0) AddShort(e, 34855, exif.iso_speed_ratings[0]);
  AddShort(e, 37385, exif.flash);
  AddShort(e, 34850, exif.exposure_program);
  AddShort(e, 37383, exif.metering_mode);
  AddShort(e, 37384, exif.light_source);
  AddShort(e, 41495, exif.sensing_method);
  if (exif.focal_length_in_35mm_film != 0) AddShort(e, 41989, exif.focal_length_in_35mm_film);
  AddUndefinedByte(e, 41728, exif.file_source);
  AddUndefinedByte(e, 41729, exif.scene_type);
  if (exif.cfa_repeat_pattern_rows != 0 && exif.cfa_repeat_pattern_cols != 0) {
    Add<tag_cfa_pattern>(e, 41730, exif.cfa_repeat_pattern_rows, exif.cfa_repeat_pattern_cols,
                         exif.cfa_pattern);
  }
  AddShort(e, 41985, exif.custom_rendered);
  AddShort(e, 41986, exif.exposure_mode);
  AddShort(e, 41987, exif.white_balance);
  AddShort(e, 41990, exif.scene_capture_type);
  AddShort(e, 41991, exif.gain_control);
  AddShort(e, 41992, exif.contrast);
  AddShort(e, 41993, exif.saturation);
  AddShort(e, 41994, exif.sharpness);
  AddShort(e, 41996, exif.subject_distance_range);
  AddURational(e, 41988, exif.digital_zoom_ratio);
  AddURational(e, 41493, exif.exposure_index);
  AddURational(e, 41486, exif.focal_plane_x_resolution);
  AddURational(e, 41487, exif.focal_plane_y_resolution);
  AddShort(e, 41488, exif.focal_plane_resolution_unit);
  if (exif.subject_area_count >= 2 && exif.subject_area_count <= 4) {
    auto block = std::make_unique<uint8_t[]>(4 * sizeof(uint16_t));
    uint16_t area[4] = {};
    for (uint32_t i = 0; i < exif.subject_area_count; ++i) area[i] = uint16_t(exif.subject_area[i]);
    std::memcpy(block.get(), area, sizeof(area));
    Add<tag_uint16_ptr>(e, 37396, reinterpret_cast<const uint16_t*>(block.get()), exif.subject_area_count);
    values_.push_back(std::move(block));
  }
  AddDate(e, 36867, exif.date_time_original);
  AddDate(e, 36868, exif.date_time_digitized);
  if (exif.date_time.InRange()) AddText(e, 37520, exif.subsec_time);
  if (exif.date_time_original.InRange()) AddText(e, 37521, exif.subsec_time_original);
  if (exif.date_time_digitized.InRange()) AddText(e, 37522, exif.subsec_time_digitized);
  if (with_maker_note) {
    Add<tag_uint8_ptr>(e, 37500, static_cast<const uint8_t*>(maker_note), maker_note_length, uint16_t(7));
  }
  if (!exif.user_comment.Empty()) Add<tag_encoded_text>(e, 37510, exif.user_comment);
  if (!exif.image_unique_id.IsZero()) {
    char hex[2 * dng_digest::kBytes + 1] = {};
    for (uint32_t i = 0; i < dng_digest::kBytes; ++i) {
      std::snprintf(hex + 2 * i, 3, "%02X", exif.image_unique_id.data[i]);
    }
    Add<tag_string>(e, 42016, dng_text(hex), true);
  }

  // GPS directory.
  tag_directory& g = gps_directory_;
  if (exif.gps_version_id != 0) AddBytesMSBFirst(g, 0, exif.gps_version_id, 1);
  auto coordinate = [&](uint16_t ref_code, const dng_text& ref, const dng_unsigned_ratio* value) {
    if (ref.Empty() || value[0].d == 0) return;
    AddText(g, ref_code, ref);
    AddURationals(g, uint16_t(ref_code + 1), value, 3);
  };
  coordinate(1, exif.gps_latitude_ref, exif.gps_latitude);
  coordinate(3, exif.gps_longitude_ref, exif.gps_longitude);
  if (exif.gps_altitude_ref <= kMaxByte) Add<tag_uint8>(g, 5, uint8_t(exif.gps_altitude_ref));
  AddURational(g, 6, exif.gps_altitude);
  if (exif.gps_time_stamp[0].d != 0) AddURationals(g, 7, exif.gps_time_stamp, 3);
  AddText(g, 8, exif.gps_satellites);
  AddText(g, 9, exif.gps_status);
  AddText(g, 10, exif.gps_measure_mode);
  AddURational(g, 11, exif.gps_dop);
  AddText(g, 12, exif.gps_speed_ref);
  AddURational(g, 13, exif.gps_speed);
  AddText(g, 14, exif.gps_track_ref);
  AddURational(g, 15, exif.gps_track);
  AddText(g, 16, exif.gps_img_direction_ref);
  AddURational(g, 17, exif.gps_img_direction);
  AddText(g, 18, exif.gps_map_datum);
  coordinate(19, exif.gps_dest_latitude_ref, exif.gps_dest_latitude);
  coordinate(21, exif.gps_dest_longitude_ref, exif.gps_dest_longitude);
  AddText(g, 23, exif.gps_dest_bearing_ref);
  AddURational(g, 24, exif.gps_dest_bearing);
  AddText(g, 25, exif.gps_dest_distance_ref);
  AddURational(g, 26, exif.gps_dest_distance);
  if (!exif.gps_processing_method.Empty()) Add<tag_encoded_text>(g, 27, exif.gps_processing_method);
  if (!exif.gps_area_information.Empty()) Add<tag_encoded_text>(g, 28, exif.gps_area_information);
  AddText(g, 29, exif.gps_date_stamp);
  AddShort(g, 30, exif.gps_differential);

  if (exif_directory_.Size() != 0) ifd0.Insert(&exif_link_);
  if (gps_directory_.Size() != 0) ifd0.Insert(&gps_link_);
}
