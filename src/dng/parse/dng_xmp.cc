#include "dng/parse/dng_xmp.h"

#include <cstdio>
#include <new>
#include <string>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_iptc.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp_store.h"
#include "dng/parse/dng_xmp_text.h"
#include "xmp/namespace_registry.h"

namespace {

constexpr const char* kTiff = kXMP_NS_TIFF;
constexpr const char* kExif = kXMP_NS_EXIF;
constexpr const char* kAux = kXMP_NS_EXIF_Aux;
constexpr const char* kDc = kXMP_NS_DC;
constexpr const char* kXap = kXMP_NS_XMP;
constexpr const char* kPhotoshop = kXMP_NS_Photoshop;
constexpr const char* kIptcCore = kXMP_NS_IPTCCore;

// None of the first three bits behaves as prefer-native.
uint32_t effective(uint32_t options) {
  if ((options & (dng_xmp_native_replaces | dng_xmp_prefer_xmp | dng_xmp_prefer_native)) == 0) {
    options |= dng_xmp_prefer_native;
  }
  return options;
}

// The sync rule over one value: read() takes the XMP value into the native
// one and answers whether the property could be read; write() stores the
// native value; remove() deletes the property. Answers whether the value
// was taken from XMP.
template <class Read, class Write, class Remove>
bool sync_rule(uint32_t options, bool absent, Read read, Write write, Remove remove) {
  options = effective(options);
  if ((options & dng_xmp_native_replaces) != 0) {
    if (absent) {
      remove();
    } else {
      write();
    }
    return false;
  }
  if ((options & dng_xmp_prefer_native) != 0 && !absent) {
    write();
    return false;
  }
  if ((options & dng_xmp_prefer_xmp) != 0 || absent) {
    if (read()) return true;
    if (!absent) write();
    return false;
  }
  write();
  return false;
}

std::string uint_text(uint32_t value) { return std::to_string(value); }

const char* truth(bool value) { return value ? "True" : "False"; }

}  // namespace

dng_xmp::dng_xmp(dng_memory_allocator& allocator) : allocator_(&allocator) {
  try {
    store_ = std::make_unique<dng_xmp_store>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

dng_xmp::dng_xmp(const dng_xmp& other) : allocator_(other.allocator_) {
  try {
    store_ = std::make_unique<dng_xmp_store>(*other.store_);
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

dng_xmp::~dng_xmp() = default;

void dng_xmp::Parse(dng_host& host, const void* bytes, uint32_t length) {
  store_->ParsePacket(host, bytes, length);
}

std::unique_ptr<dng_memory_block> dng_xmp::WritePacketBlock(bool packet, uint32_t target_length,
                                                            uint32_t padding) const {
  return store_->SerializeToBlock(*allocator_, packet, target_length, padding);
}

// ---- Value operations ------------------------------------------------------

bool dng_xmp::SyncString(const char* ns, const char* path, dng_text& text, uint32_t options) {
  options = effective(options);
  return sync_rule(
      options, text.Empty(),
      [&] {
        dng_text read;
        if (!store_->GetText(ns, path, read)) return false;
        text = read;
        if ((options & dng_xmp_ascii_only) != 0 && !text.AllASCII()) {
          if ((options & dng_xmp_prefer_native) != 0) {
            text = dng_text();
          } else {
            text.FoldToASCII();
          }
        }
        return true;
      },
      [&] { store_->SetText(ns, path, text); }, [&] { store_->DeleteItem(ns, path); });
}

bool dng_xmp::SyncStringList(const char* ns, const char* path, dng_text_list& list, bool unordered,
                             uint32_t options) {
  return sync_rule(
      options, list.Count() == 0, [&] { return store_->GetTextList(ns, path, list); },
      [&] { store_->SetTextList(ns, path, list, unordered); }, [&] { store_->DeleteItem(ns, path); });
}

bool dng_xmp::GetUInt32(const char* ns, const char* path, uint32_t& value) const {
  dng_text text;
  if (!store_->GetText(ns, path, text)) return false;
  const char* cursor = text.CStr();
  return scan_uint32(cursor, value);
}

void dng_xmp::SetUInt32(const char* ns, const char* path, uint32_t value) {
  store_->SetValue(ns, path, uint_text(value).c_str());
}

bool dng_xmp::SyncUInt32(const char* ns, const char* path, uint32_t& value, bool absent, uint32_t options) {
  return sync_rule(
      options, absent, [&] { return GetUInt32(ns, path, value); }, [&] { SetUInt32(ns, path, value); },
      [&] { store_->DeleteItem(ns, path); });
}

bool dng_xmp::SyncUInt32Array(const char* ns, const char* path, uint32_t* values, uint32_t& count,
                              uint32_t maximum, uint32_t options) {
  dng_text_list list;
  for (uint32_t i = 0; i < count && i < maximum; ++i) list.Append(dng_text(uint_text(values[i]).c_str()));
  const bool taken = SyncStringList(ns, path, list, false, options);
  uint32_t stored = 0;
  for (uint32_t i = 0; i < list.Count() && i < maximum; ++i) {
    const char* cursor = list[i].CStr();
    uint32_t value = 0;
    if (scan_uint32(cursor, value)) values[stored++] = value;
  }
  count = stored;
  for (uint32_t i = stored; i < maximum; ++i) values[i] = 0;
  return taken;
}

bool dng_xmp::GetURational(const char* ns, const char* path, dng_unsigned_ratio& r) const {
  dng_text text;
  if (!store_->GetText(ns, path, text)) return false;
  const char* cursor = text.CStr();
  dng_unsigned_ratio read;
  if (!scan_uint32(cursor, read.n) || *cursor++ != '/' || !scan_uint32(cursor, read.d) || read.d == 0) {
    return false;
  }
  r = read;
  return true;
}

void dng_xmp::SetURational(const char* ns, const char* path, const dng_unsigned_ratio& r) {
  store_->SetValue(ns, path, (uint_text(r.n) + "/" + uint_text(r.d)).c_str());
}

bool dng_xmp::GetSRational(const char* ns, const char* path, dng_signed_ratio& r) const {
  dng_text text;
  if (!store_->GetText(ns, path, text)) return false;
  const char* cursor = text.CStr();
  dng_signed_ratio read;
  if (!scan_int32(cursor, read.n) || *cursor++ != '/' || !scan_int32(cursor, read.d) || read.d == 0) {
    return false;
  }
  r = read;
  return true;
}

void dng_xmp::SetSRational(const char* ns, const char* path, const dng_signed_ratio& r) {
  store_->SetValue(ns, path, (std::to_string(r.n) + "/" + std::to_string(r.d)).c_str());
}

bool dng_xmp::SyncURational(const char* ns, const char* path, dng_unsigned_ratio& r, uint32_t options) {
  return sync_rule(
      options, r.d == 0, [&] { return GetURational(ns, path, r); }, [&] { SetURational(ns, path, r); },
      [&] { store_->DeleteItem(ns, path); });
}

bool dng_xmp::SyncSRational(const char* ns, const char* path, dng_signed_ratio& r, uint32_t options) {
  return sync_rule(
      options, r.d == 0, [&] { return GetSRational(ns, path, r); }, [&] { SetSRational(ns, path, r); },
      [&] { store_->DeleteItem(ns, path); });
}

bool dng_xmp::GetFingerprint(const char* ns, const char* path, dng_digest& digest) const {
  dng_text text;
  if (!store_->GetText(ns, path, text) || text.ByteLength() != dng_digest::kBytes * 2) return false;
  const dng_digest read = decode_fingerprint_hex(text.CStr());
  if (read.IsZero()) return false;
  digest = read;
  return true;
}

void dng_xmp::SetFingerprint(const char* ns, const char* path, const dng_digest& digest) {
  if (digest.IsZero()) {
    store_->DeleteItem(ns, path);
    return;
  }
  store_->SetValue(ns, path, encode_fingerprint_hex(digest).CStr());
}

// ---- Flash -----------------------------------------------------------------

void dng_xmp::SyncFlash(uint32_t& flash, uint32_t& mask, uint32_t options) {
  options = effective(options);
  const bool present = flash != dng_exif_absent;
  if ((options & dng_xmp_native_replaces) != 0 || present) {
    store_->DeleteItem(kExif, "Flash");
    if (!present) return;
    store_->SetFieldText(kExif, "Flash", kExif, "Fired", dng_text(truth((flash & 1) != 0)));
    if ((mask & 0x06) == 0x06) {
      store_->SetFieldText(kExif, "Flash", kExif, "Return", dng_text(uint_text((flash >> 1) & 3).c_str()));
    }
    if ((mask & 0x18) == 0x18) {
      store_->SetFieldText(kExif, "Flash", kExif, "Mode", dng_text(uint_text((flash >> 3) & 3).c_str()));
    }
    if ((mask & 0x20) != 0) {
      store_->SetFieldText(kExif, "Flash", kExif, "Function", dng_text(truth((flash & 0x20) != 0)));
    }
    if ((mask & 0x40) != 0) {
      store_->SetFieldText(kExif, "Flash", kExif, "RedEyeMode", dng_text(truth((flash & 0x40) != 0)));
    }
    return;
  }
  dng_text field;
  if (!store_->ItemExists(kExif, "Flash") || !store_->GetFieldText(kExif, "Flash", kExif, "Fired", field)) return;
  uint32_t value = field.EqualsText("True", false) ? 1 : 0;
  uint32_t known = 1;
  auto two_bits = [&](const char* name, uint32_t shift, uint32_t bits) {
    dng_text text;
    if (!store_->GetFieldText(kExif, "Flash", kExif, name, text)) return;
    const char* cursor = text.CStr();
    uint32_t read = 0;
    if (scan_uint32(cursor, read) && read <= 3) {
      value |= read << shift;
      known |= bits;
    }
  };
  auto one_bit = [&](const char* name, uint32_t bit) {
    dng_text text;
    if (!store_->GetFieldText(kExif, "Flash", kExif, name, text)) return;
    known |= bit;
    if (text.EqualsText("True", false)) value |= bit;
  };
  two_bits("Return", 1, 0x06);
  two_bits("Mode", 3, 0x18);
  one_bit("Function", 0x20);
  one_bit("RedEyeMode", 0x40);
  flash = value;
  mask = known;
}

// ---- EXIF exchange ---------------------------------------------------------

void dng_xmp::SyncExifVersion(dng_exif& exif, uint32_t options) {
  dng_text text;
  const uint32_t v = exif.exif_version;
  if (v != 0) {
    char digits[5];
    bool all_digits = true;
    for (int i = 0; i < 4; ++i) {
      const char c = static_cast<char>((v >> (24 - 8 * i)) & 0xFF);
      all_digits = all_digits && c >= '0' && c <= '9';
      digits[i] = c;
    }
    digits[4] = 0;
    if (all_digits) text.Assign(digits);
  }
  SyncString(kExif, "ExifVersion", text, options);
  if (!text.Empty()) {
    const char* t = text.CStr();
    bool four = true;
    for (int i = 0; i < 4; ++i) four = four && t[i] >= '0' && t[i] <= '9';
    if (four) {
      exif.exif_version = (static_cast<uint32_t>(static_cast<uint8_t>(t[0])) << 24) |
                          (static_cast<uint32_t>(static_cast<uint8_t>(t[1])) << 16) |
                          (static_cast<uint32_t>(static_cast<uint8_t>(t[2])) << 8) |
                          static_cast<uint32_t>(static_cast<uint8_t>(t[3]));
    }
  }
  if (exif.exif_version == 0) {
    exif.exif_version = 0x30323231;  // "0221"
    store_->SetValue(kExif, "ExifVersion", "0221");
  }
}

void dng_xmp::SyncExposure(dng_exif& exif, uint32_t options) {
  for (int pass = 0; pass < 2; ++pass) {
    dng_unsigned_ratio exposure_time = exif.exposure_time;
    SyncURational(kExif, "ExposureTime", exposure_time, options);
    if (exposure_time.d != 0) exif.StoreExposureTime(exposure_time.ToReal(), false);
    dng_signed_ratio shutter = exif.shutter_speed_value;
    SyncSRational(kExif, "ShutterSpeedValue", shutter, options);
    if (shutter.d != 0) exif.StoreShutterSpeed(shutter.ToReal());
  }
  for (int pass = 0; pass < 2; ++pass) {
    dng_unsigned_ratio f_number = exif.f_number;
    SyncURational(kExif, "FNumber", f_number, options);
    if (f_number.d != 0) exif.StoreFNumber(f_number.ToReal());
    dng_unsigned_ratio aperture = exif.aperture_value;
    SyncURational(kExif, "ApertureValue", aperture, options);
    if (aperture.d != 0) exif.StoreAperture(aperture.ToReal());
  }
}

void dng_xmp::SyncDates(dng_exif& exif, uint32_t options) {
  struct date_slot {
    const char* ns;
    const char* path;
    dng_calendar_time& value;
    dng_text& subsec;
    int32_t zone;         // written with the text
    int32_t* zone_store;  // filled when read; null: no zone
  };
  const date_slot slots[] = {
      {kTiff, "DateTime", exif.date_time, exif.subsec_time, exif.date_time_zone, &exif.date_time_zone},
      {kExif, "DateTimeOriginal", exif.date_time_original, exif.subsec_time_original, exif.date_time_original_zone,
       &exif.date_time_original_zone},
      {kExif, "DateTimeDigitized", exif.date_time_digitized, exif.subsec_time_digitized,
       exif.date_time_original_zone, nullptr},
  };
  for (const date_slot& slot : slots) {
    dng_text text = encode_iso_date(slot.value, true, slot.subsec.CStr(), slot.zone, 0);
    SyncString(slot.ns, slot.path, text, options);
    if (!slot.value.InRange() && !text.Empty()) {
      decode_iso_date(text.CStr(), &slot.value, nullptr, &slot.subsec, slot.zone_store, nullptr);
    }
  }
}

void dng_xmp::SyncAltText(const char* ns, const char* path, dng_text& text) {
  dng_text read;
  if (store_->GetDefaultLangText(ns, path, read)) {
    text = read;
    if (!text.AllASCII()) text = dng_text();
  } else if (!text.Empty()) {
    store_->SetDefaultLangText(ns, path, text);
  }
}

void dng_xmp::SyncCreator(dng_exif& exif) {
  dng_text_list list;
  if (!exif.artist.Empty()) list.Append(exif.artist);
  const bool exists = store_->ItemExists(kDc, "creator");
  store_->GetTextList(kDc, "creator", list);
  if (!exists && list.Count() != 0) store_->SetTextList(kDc, "creator", list, false);
  exif.artist = dng_text();
  if (list.Count() != 0 && list[0].AllASCII()) exif.artist = list[0];
}

void dng_xmp::SyncUserComment(dng_exif& exif) {
  if (exif.user_comment.Empty()) {
    dng_text read;
    if (store_->GetDefaultLangText(kExif, "UserComment", read)) exif.user_comment = read;
  } else {
    store_->SetDefaultLangText(kExif, "UserComment", exif.user_comment);
  }
}

void dng_xmp::SyncLens(dng_exif& exif, uint32_t options) {
  dng_text info = encode_lens_info(exif.lens_info);
  SyncString(kAux, "LensInfo", info, options | dng_xmp_ascii_only);
  decode_lens_info(info.CStr(), exif.lens_info);

  SyncString(kAux, "Lens", exif.lens, options);
  if (exif.lens.Empty() && exif.lens_info[0].d != 0) {
    exif.lens = lens_name_from_info(exif.lens_info);
    store_->SetText(kAux, "Lens", exif.lens);
  }
}

void dng_xmp::SyncGps(dng_exif& exif, uint32_t options) {
  const uint32_t o = options;
  const uint32_t o8 = options | dng_xmp_ascii_only;

  dng_text version = encode_gps_version(exif.gps_version_id);
  if (SyncString(kExif, "GPSVersionID", version, o)) exif.gps_version_id = decode_gps_version(version.CStr());

  auto coordinate = [&](const char* path, dng_text& ref, dng_unsigned_ratio* coord) {
    dng_text text = encode_gps_coordinate(ref, coord);
    if (SyncString(kExif, path, text, o)) decode_gps_coordinate(text.CStr(), ref, coord);
  };
  coordinate("GPSLatitude", exif.gps_latitude_ref, exif.gps_latitude);
  coordinate("GPSLongitude", exif.gps_longitude_ref, exif.gps_longitude);

  SyncUInt32(kExif, "GPSAltitudeRef", exif.gps_altitude_ref, exif.gps_altitude_ref == dng_exif_absent, o);
  SyncURational(kExif, "GPSAltitude", exif.gps_altitude, o);

  dng_text stamp = encode_gps_timestamp(exif.gps_date_stamp, exif.gps_time_stamp);
  if (SyncString(kExif, "GPSTimeStamp", stamp, o)) {
    decode_gps_timestamp(stamp.CStr(), exif.gps_date_stamp, exif.gps_time_stamp);
  }

  SyncString(kExif, "GPSSatellites", exif.gps_satellites, o8);
  SyncString(kExif, "GPSStatus", exif.gps_status, o8);
  SyncString(kExif, "GPSMeasureMode", exif.gps_measure_mode, o8);
  SyncURational(kExif, "GPSDOP", exif.gps_dop, o);
  SyncString(kExif, "GPSSpeedRef", exif.gps_speed_ref, o8);
  SyncURational(kExif, "GPSSpeed", exif.gps_speed, o);
  SyncString(kExif, "GPSTrackRef", exif.gps_track_ref, o8);
  SyncURational(kExif, "GPSTrack", exif.gps_track, o);
  SyncString(kExif, "GPSImgDirectionRef", exif.gps_img_direction_ref, o8);
  SyncURational(kExif, "GPSImgDirection", exif.gps_img_direction, o);
  SyncString(kExif, "GPSMapDatum", exif.gps_map_datum, o8);
  coordinate("GPSDestLatitude", exif.gps_dest_latitude_ref, exif.gps_dest_latitude);
  coordinate("GPSDestLongitude", exif.gps_dest_longitude_ref, exif.gps_dest_longitude);
  SyncString(kExif, "GPSDestBearingRef", exif.gps_dest_bearing_ref, o8);
  SyncURational(kExif, "GPSDestBearing", exif.gps_dest_bearing, o);
  SyncString(kExif, "GPSDestDistanceRef", exif.gps_dest_distance_ref, o8);
  SyncURational(kExif, "GPSDestDistance", exif.gps_dest_distance, o);
  SyncString(kExif, "GPSProcessingMethod", exif.gps_processing_method, o);
  SyncString(kExif, "GPSAreaInformation", exif.gps_area_information, o);
  SyncUInt32(kExif, "GPSDifferential", exif.gps_differential, exif.gps_differential == dng_exif_absent, o);
}

void dng_xmp::ExchangeExif(dng_exif& exif, bool native_replaces) {
  const uint32_t o = native_replaces ? dng_xmp_native_replaces : dng_xmp_prefer_native;
  const uint32_t o8 = o | dng_xmp_ascii_only;
  auto up_to = [](uint32_t value, uint32_t limit) { return value > limit; };

  SyncString(kTiff, "Make", exif.make, o8);
  SyncString(kTiff, "Model", exif.model, o8);
  SyncExifVersion(exif, o);
  SyncExposure(exif, o);
  SyncUInt32(kExif, "ExposureProgram", exif.exposure_program, exif.exposure_program == dng_exif_absent, o);

  uint32_t iso_count = 0;
  while (iso_count < 3 && exif.iso_speed_ratings[iso_count] != 0) ++iso_count;
  SyncUInt32Array(kExif, "ISOSpeedRatings", exif.iso_speed_ratings, iso_count, 3, o);

  SyncURational(kExif, "ExposureIndex", exif.exposure_index, o);
  SyncDates(exif, o);
  SyncSRational(kExif, "BrightnessValue", exif.brightness_value, o);
  SyncSRational(kExif, "ExposureBiasValue", exif.exposure_bias_value, o);
  SyncURational(kExif, "MaxApertureValue", exif.max_aperture_value, o);
  SyncURational(kExif, "SubjectDistance", exif.subject_distance, o);
  SyncUInt32(kExif, "MeteringMode", exif.metering_mode, exif.metering_mode == dng_exif_absent, o);
  SyncUInt32(kExif, "LightSource", exif.light_source, up_to(exif.light_source, 0xFFFF), o);
  SyncFlash(exif.flash, exif.flash_mask, o);
  SyncURational(kExif, "FocalLength", exif.focal_length, o);
  SyncUInt32(kExif, "SensingMethod", exif.sensing_method, up_to(exif.sensing_method, 0xFFFF), o);
  SyncUInt32(kExif, "FileSource", exif.file_source, up_to(exif.file_source, 255), o);
  SyncUInt32(kExif, "SceneType", exif.scene_type, up_to(exif.scene_type, 255), o);
  SyncUInt32(kExif, "FocalLengthIn35mmFilm", exif.focal_length_in_35mm_film, exif.focal_length_in_35mm_film == 0,
             o);
  const struct {
    const char* path;
    uint32_t& value;
  } shorts[] = {
      {"CustomRendered", exif.custom_rendered},       {"ExposureMode", exif.exposure_mode},
      {"WhiteBalance", exif.white_balance},           {"SceneCaptureType", exif.scene_capture_type},
      {"GainControl", exif.gain_control},             {"Contrast", exif.contrast},
      {"Saturation", exif.saturation},                {"Sharpness", exif.sharpness},
      {"SubjectDistanceRange", exif.subject_distance_range},
  };
  for (const auto& entry : shorts) SyncUInt32(kExif, entry.path, entry.value, up_to(entry.value, 0xFFFF), o);

  if (exif.subject_area_count > 4) exif.subject_area_count = 4;
  SyncUInt32Array(kExif, "SubjectArea", exif.subject_area, exif.subject_area_count, 4, o);

  SyncURational(kExif, "DigitalZoomRatio", exif.digital_zoom_ratio, o);
  SyncURational(kExif, "FocalPlaneXResolution", exif.focal_plane_x_resolution, o);
  SyncURational(kExif, "FocalPlaneYResolution", exif.focal_plane_y_resolution, o);
  SyncUInt32(kExif, "FocalPlaneResolutionUnit", exif.focal_plane_resolution_unit,
             up_to(exif.focal_plane_resolution_unit, 0xFFFF), o);

  SyncAltText(kDc, "description", exif.image_description);
  SyncCreator(exif);
  SyncString(kXap, "CreatorTool", exif.software, dng_xmp_prefer_xmp | dng_xmp_ascii_only);
  SyncAltText(kDc, "rights", exif.copyright);
  SyncString(kAux, "SerialNumber", exif.camera_serial_number, o8);
  SyncLens(exif, o);
  SyncString(kAux, "LensID", exif.lens_id, o);
  SyncString(kAux, "LensSerialNumber", exif.lens_serial_number, o);
  SyncUInt32(kAux, "ImageNumber", exif.image_number, exif.image_number == dng_exif_absent, o);
  SyncUserComment(exif);
  SyncSRational(kAux, "FlashCompensation", exif.flash_compensation, o);
  SyncString(kAux, "OwnerName", exif.owner_name, o);
  SyncString(kAux, "Firmware", exif.firmware, o);

  dng_text unique_id = encode_fingerprint_hex(exif.image_unique_id);
  SyncString(kExif, "ImageUniqueID", unique_id, o);
  exif.image_unique_id = decode_fingerprint_hex(unique_id.CStr());

  SyncGps(exif, o);
}

// ---- IPTC ------------------------------------------------------------------

void dng_xmp::SyncIPTC(dng_iptc& iptc, uint32_t options) {
  SyncString(kPhotoshop, "Title", iptc.title, options);
  SyncString(kPhotoshop, "Category", iptc.category, options);

  uint32_t urgency = iptc.urgency < 0 ? 0 : static_cast<uint32_t>(iptc.urgency);
  const bool urgency_absent = iptc.urgency < 0;
  if ((SyncUInt32(kPhotoshop, "Urgency", urgency, urgency_absent, options) || !urgency_absent) && urgency <= 9) {
    iptc.urgency = static_cast<int32_t>(urgency);
  }

  SyncStringList(kPhotoshop, "SupplementalCategories", iptc.supplemental_categories, true, options);
  SyncStringList(kPhotoshop, "Keywords", iptc.keywords, true, options);
  SyncString(kPhotoshop, "Instructions", iptc.instructions, options);

  dng_text date = encode_iso_date(iptc.date_created, iptc.has_time, nullptr, 0, iptc.zone_minutes);
  if (SyncString(kPhotoshop, "DateCreated", date, options)) {
    decode_iso_date(date.CStr(), &iptc.date_created, &iptc.has_time, nullptr, nullptr, &iptc.zone_minutes);
  }

  const struct {
    const char* ns;
    const char* path;
    dng_text& text;
  } texts[] = {
      {kPhotoshop, "Author", iptc.author},
      {kPhotoshop, "AuthorsPosition", iptc.authors_position},
      {kPhotoshop, "City", iptc.city},
      {kPhotoshop, "State", iptc.state},
      {kPhotoshop, "Country", iptc.country},
      {kIptcCore, "CountryCode", iptc.country_code},
      {kIptcCore, "Location", iptc.location},
      {kPhotoshop, "TransmissionReference", iptc.transmission_reference},
      {kPhotoshop, "Headline", iptc.headline},
      {kPhotoshop, "Credit", iptc.credit},
      {kPhotoshop, "Source", iptc.source},
      {kPhotoshop, "Copyright", iptc.copyright},
      {kPhotoshop, "Caption", iptc.caption},
      {kPhotoshop, "CaptionWriter", iptc.caption_writer},
  };
  for (const auto& entry : texts) SyncString(entry.ns, entry.path, entry.text, options);
}

dng_digest dng_xmp::GetIPTCDigest() const {
  dng_digest digest;
  GetFingerprint(kPhotoshop, "LegacyIPTCDigest", digest);
  return digest;
}

void dng_xmp::SetIPTCDigest(const dng_digest& digest) { SetFingerprint(kPhotoshop, "LegacyIPTCDigest", digest); }

void dng_xmp::VerifyIPTCFingerprint(dng_negative& negative, bool xmp_wins) {
  if (negative.IPTCBytes() == nullptr || negative.IPTCSize() == 0) {
    negative.DropIPTC();
    return;
  }
  const dng_digest digest = negative.IPTCFingerprint();
  const dng_digest stored = GetIPTCDigest();
  if (!stored.IsZero()) {
    if (stored.SameAs(digest)) return;
    xmp_wins = false;
  }
  SetIPTCDigest(digest);
  dng_iptc iptc;
  iptc.LoadBlock(negative.IPTCBytes(), negative.IPTCSize(), negative.IPTCFilePosition());
  SyncIPTC(iptc, xmp_wins ? dng_xmp_prefer_xmp : dng_xmp_prefer_native);
  negative.DropIPTC();
}

void dng_xmp::BuildIPTCBlock(dng_negative& negative) {
  if (!store_->HoldsMeta()) return;
  dng_iptc iptc;
  SyncIPTC(iptc, dng_xmp_prefer_xmp);
  if (iptc.HasNoFields()) return;
  negative.AdoptIPTC(iptc.SaveBlock(negative.Allocator()), dng_no_iptc_offset);
}

// ---- Date-time and orientation ---------------------------------------------

void dng_xmp::UpdateDateTime(const dng_calendar_time& date_time, int32_t zone_hours) {
  store_->SetText(kTiff, "DateTime", encode_iso_date(date_time, true, nullptr, zone_hours, 0));
}

dng_image_flip dng_xmp::GetOrientation() const {
  uint32_t value = 0;
  if (GetUInt32(kTiff, "Orientation", value) && value >= 1 && value <= 8) return dng_image_flip::FromTiff(value);
  return dng_image_flip();
}

void dng_xmp::SetOrientation(const dng_image_flip& flip) { SetUInt32(kTiff, "Orientation", flip.ToTiff()); }

void dng_xmp::DropOrientation() { store_->DeleteItem(kTiff, "Orientation"); }

void dng_xmp::ReconcileOrientation(dng_negative& negative, bool xmp_wins) {
  uint32_t value = 0;
  if (GetUInt32(kTiff, "Orientation", value) && value >= 1 && value <= 8 &&
      (xmp_wins || !negative.HasOrientation())) {
    negative.StoreOrientation(GetOrientation());
  } else {
    SetOrientation(negative.StoredOrientation());
  }
}
