// The file-wide DNG tags: where the further directories and metadata blocks
// lie, the DNG versions, the camera model names and the colour calibration.
// Read from IFD 0 and (maker note, Interoperability offset) the EXIF IFD,
// repaired with warnings by FinishParse, and checked by Validate.
//
// Made empty by the host's NewShared, filled while a dng_info reads the file,
// finished once after the EXIF object, validated once. Owns its texts,
// matrices and vectors; the blocks stay in the file (count and absolute
// position here). Used by one thread.
#pragma once

#include <cstdint>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_digest.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_rational.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_vector.h"

class dng_exif;
class dng_host;

// Four version bytes packed first byte highest: 1.1.0.0 is 0x01010000.
inline constexpr uint32_t dng_version_1_0 = 0x01000000;
inline constexpr uint32_t dng_version_1_1 = 0x01010000;

class dng_shared {
 public:
  dng_shared() = default;
  virtual ~dng_shared() = default;
  dng_shared(const dng_shared&) = default;
  dng_shared& operator=(const dng_shared&) = default;

  // One entry at the stream's position (which is position): IFD 0 tries the
  // main-IFD tags, then the EXIF-IFD ones; the EXIF IFD only those; other
  // parents nothing. True when taken. The EXIF object (may be null), the
  // main-image flag and the offset delta are not used.
  virtual bool ReadTag(dng_stream& stream, dng_exif* exif, uint32_t parent, bool is_main_ifd,
                       uint32_t tag, uint32_t type, uint32_t count, uint32_t position,
                       int64_t offset_delta);

  // Repairs after the parse, each with its warning; nothing for a file
  // without DNGVersion (not a DNG).
  virtual void FinishParse(dng_host& host, dng_exif* exif);

  // The file-level DNG checks: versions and invertible colour transforms.
  // The first failure prints one error line and answers false.
  virtual bool Validate();

  virtual bool ReadMainIfdTag(dng_stream& stream, dng_exif* exif, uint32_t parent, uint32_t tag,
                              uint32_t type, uint32_t count, uint32_t position);
  virtual bool ReadExifIfdTag(dng_stream& stream, dng_exif* exif, uint32_t parent, uint32_t tag,
                              uint32_t type, uint32_t count, uint32_t position);

  // Directory offsets as stored (relative to the TIFF block), 0 = none.
  uint32_t exif_ifd = 0;
  uint32_t gps_info = 0;
  uint32_t interoperability_ifd = 0;
  uint32_t kodak_dcr_private_ifd = 0;
  uint32_t kodak_kdc_private_ifd = 0;

  // Blocks: counts and absolute stream positions (position 0 when the count
  // is 0).
  uint32_t xmp_count = 0;
  uint32_t xmp_position = 0;
  // count x the type's size, saturated at 0xFFFFFFFF so that a hostile
  // count reads as a block no file can hold.
  uint32_t iptc_length = 0;
  uint32_t iptc_position = 0;
  uint32_t maker_note_count = 0;
  uint32_t maker_note_position = 0;
  uint32_t maker_note_safety = 0;

  uint32_t dng_version = 0;           // 0 = absent
  uint32_t dng_backward_version = 0;  // 0 = absent

  dng_text unique_camera_model;
  dng_text localized_camera_model;

  // 0 until ColorMatrix1 is read; 1 (monochrome) after FinishParse when it
  // was never read.
  uint32_t color_planes = 0;

  uint32_t calibration_illuminant1 = 0;
  uint32_t calibration_illuminant2 = 0;
  dng_matrix color_matrix1;
  dng_matrix color_matrix2;
  dng_matrix camera_calibration1;
  dng_matrix camera_calibration2;
  dng_matrix reduction_matrix1;
  dng_matrix reduction_matrix2;
  dng_vector analog_balance;
  dng_vector as_shot_neutral;
  dng_chromaticity as_shot_white_xy;

  dng_signed_ratio baseline_exposure{0, 1};
  dng_unsigned_ratio baseline_noise{1, 1};
  dng_unsigned_ratio baseline_sharpness{1, 1};
  dng_unsigned_ratio linear_response_limit{1, 1};
  dng_unsigned_ratio shadow_scale{1, 1};

  uint32_t dng_private_data_count = 0;
  uint32_t dng_private_data_position = 0;

  dng_digest raw_data_unique_id;  // all zero = none
  dng_text original_raw_file_name;
  uint32_t original_raw_file_data_count = 0;
  uint32_t original_raw_file_data_position = 0;
  uint32_t as_shot_icc_profile_count = 0;
  uint32_t as_shot_icc_profile_position = 0;
  dng_matrix as_shot_pre_profile_matrix;
  uint32_t current_icc_profile_count = 0;
  uint32_t current_icc_profile_position = 0;
  dng_matrix current_pre_profile_matrix;
  uint32_t colorimetric_reference = 0;

 private:
  // The colour tags: planes check, then the rows x columns matrix.
  bool ReadColorMatrix(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                       uint32_t count, uint32_t rows, uint32_t columns, dng_matrix& matrix);
  bool ReadColorVector(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                       uint32_t count, dng_vector& vector);
};
