// The EXIF, GPS and TIFF/EP entries of a dng_exif: some go into IFD 0, the
// others into an EXIF and a GPS directory that the group owns. A value is
// written only when it is set: a rational with a non-zero denominator, a
// 16-bit field up to 65535, a byte field up to 255, a non-empty text, a date
// in range.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dng/render/dng_tiff_tags.h"

class dng_exif;

class exif_tag_group {
 public:
  // Inserts into ifd0 and the group's own directories. The maker note
  // (borrowed) is written only when marked safe and not empty; the entries
  // marked "DNG only" only with dng set. ExifIFD and GPSInfo go into ifd0
  // when their directory is not empty; their values are set by the writer.
  exif_tag_group(tag_directory& ifd0, const dng_exif& exif, bool maker_note_safe,
                 const void* maker_note, uint32_t maker_note_length, bool dng);
  exif_tag_group(const exif_tag_group&) = delete;
  exif_tag_group& operator=(const exif_tag_group&) = delete;

  tag_directory& ExifDirectory() { return exif_directory_; }
  tag_directory& GpsDirectory() { return gps_directory_; }
  // The file offsets of the two directories.
  void SetExifOffset(uint32_t offset) { exif_link_.Set(offset); }
  void SetGpsOffset(uint32_t offset) { gps_link_.Set(offset); }

 private:
  // Helpers that make an entry, keep it and insert it.
  template <class Tag, class... Args>
  void Add(tag_directory& directory, Args&&... args);
  void AddURational(tag_directory& directory, uint16_t code, const dng_unsigned_ratio& value);
  void AddSRational(tag_directory& directory, uint16_t code, const dng_signed_ratio& value);
  void AddShort(tag_directory& directory, uint16_t code, uint32_t value);
  void AddText(tag_directory& directory, uint16_t code, const dng_text& text);
  void AddDate(tag_directory& directory, uint16_t code, const dng_calendar_time& time);
  void AddURationals(tag_directory& directory, uint16_t code, const dng_unsigned_ratio* values,
                     uint32_t count);
  void AddUndefinedByte(tag_directory& directory, uint16_t code, uint32_t value);
  void AddBytesMSBFirst(tag_directory& directory, uint16_t code, uint32_t value, uint16_t type);

  tag_directory exif_directory_;
  tag_directory gps_directory_;
  tag_uint32 exif_link_{34665, 0};
  tag_uint32 gps_link_{34853, 0};
  std::vector<std::unique_ptr<tiff_tag>> tags_;
  // The values that pointer entries point at, each in a block of its own
  // so that its address stays put.
  std::vector<std::unique_ptr<uint8_t[]>> values_;
};
