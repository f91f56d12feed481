#include "dng/parse/dng_shared.h"

#include <cstdio>
#include <memory>
#include <new>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_tag_checks.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_tag_extent.h"
#include "dng/parse/dng_tag_names.h"
#include "dng/parse/dng_tag_readers.h"

std::unique_ptr<dng_shared> dng_host::NewShared() {
  try {
    return std::make_unique<dng_shared>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

namespace {

// Tag codes of the file-wide tags.
enum : uint32_t {
  k_tag_xmp = 700,
  k_tag_kodak_dcr_private_ifd = 33424,
  k_tag_iptc = 33723,
  k_tag_exif_ifd = 34665,
  k_tag_gps_info = 34853,
  k_tag_maker_note = 37500,
  k_tag_interoperability_ifd = 40965,
  k_tag_dng_version = 50706,
  k_tag_dng_backward_version = 50707,
  k_tag_unique_camera_model = 50708,
  k_tag_localized_camera_model = 50709,
  k_tag_color_matrix1 = 50721,
  k_tag_color_matrix2 = 50722,
  k_tag_camera_calibration1 = 50723,
  k_tag_camera_calibration2 = 50724,
  k_tag_reduction_matrix1 = 50725,
  k_tag_reduction_matrix2 = 50726,
  k_tag_analog_balance = 50727,
  k_tag_as_shot_neutral = 50728,
  k_tag_as_shot_white_xy = 50729,
  k_tag_baseline_exposure = 50730,
  k_tag_baseline_noise = 50731,
  k_tag_baseline_sharpness = 50732,
  k_tag_linear_response_limit = 50734,
  k_tag_shadow_scale = 50739,
  k_tag_dng_private_data = 50740,
  k_tag_maker_note_safety = 50741,
  k_tag_calibration_illuminant1 = 50778,
  k_tag_calibration_illuminant2 = 50779,
  k_tag_raw_data_unique_id = 50781,
  k_tag_original_raw_file_name = 50827,
  k_tag_original_raw_file_data = 50828,
  k_tag_as_shot_icc_profile = 50831,
  k_tag_as_shot_pre_profile_matrix = 50832,
  k_tag_current_icc_profile = 50833,
  k_tag_current_pre_profile_matrix = 50834,
  k_tag_colorimetric_reference = 50879,
  k_tag_kodak_kdc_private_ifd = 65024,
};

constexpr uint32_t k_illuminant_d65 = 21;
constexpr uint32_t k_colorimetric_icc_pcs = 1;
constexpr double k_white_xy_tolerance = 0.01;

// Four bytes in file order, first byte highest.
uint32_t read_version_bytes(dng_stream& stream) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) v = (v << 8) | stream.GetUInt8();
  return v;
}

// A directory offset (types 4 or 13, count 1; both warn only).
uint32_t read_ifd_offset(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                         uint32_t count) {
  check_tag_type(parent, tag, type, dng_type_long, dng_type_ifd);
  check_tag_count(parent, tag, count, 1);
  return stream.TagValueAsUInt32(type);
}

void dump_version(const char* name, uint32_t v) {
  std::printf("%s: %u.%u.%u.%u\n", name, v >> 24, (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
}

// Removes trailing blanks from a model name, with its warning.
void strip_model_blanks(dng_text& text, const char* warning) {
  if (text.StripTrailingSpaces()) report_dng_warning(warning);
}

// The inversion of m (with the hint) completes.
bool invertible(const dng_matrix& m, const dng_matrix& hint = dng_matrix()) {
  try {
    (void)matrix_inverse_hinted(m, hint);
    return true;
  } catch (const dng_exception&) {
    return false;
  }
}

// One colour transform: the colour matrix, then camera calibration and analog
// balance applied in front, then the whole with the reduction matrix as the
// hint. Each failure is one error line; the balance is checked only when
// asked (the second set relies on the first set's check).
bool transform_invertible(const dng_matrix& color_matrix, const dng_matrix& calibration,
                          const dng_vector& analog_balance, const dng_matrix& reduction,
                          bool check_balance, const char* matrix_message,
                          const char* calibration_message, const char* transform_message) {
  if (!invertible(color_matrix)) {
    report_dng_error(matrix_message);
    return false;
  }
  dng_matrix m = color_matrix;
  try {
    if (calibration.HasEntries()) {
      if (!invertible(calibration)) {
        report_dng_error(calibration_message);
        return false;
      }
      m = matrix_product(calibration, m);
    }
    if (!analog_balance.IsEmpty()) {
      const dng_matrix balance = analog_balance.ToDiagonalMatrix();
      if (check_balance && !invertible(balance)) {
        report_dng_error("AnalogBalance is not invertable");
        return false;
      }
      m = matrix_product(balance, m);
    }
  } catch (const dng_exception&) {
    report_dng_error(transform_message);
    return false;
  }
  if (!invertible(m, reduction.HasEntries() ? reduction : dng_matrix())) {
    report_dng_error(transform_message);
    return false;
  }
  return true;
}

}  // namespace

bool dng_shared::ReadTag(dng_stream& stream, dng_exif* exif, uint32_t parent,
                         bool /*is_main_ifd*/, uint32_t tag, uint32_t type, uint32_t count,
                         uint32_t position, int64_t /*offset_delta*/) {
  if (parent == dng_parent_ifd0) {
    if (ReadMainIfdTag(stream, exif, parent, tag, type, count, position)) return true;
    // The main-IFD reader may have moved the stream without taking the tag.
    stream.SeekForRead(position);
    return ReadExifIfdTag(stream, exif, parent, tag, type, count, position);
  }
  if (parent == dng_parent_exif) {
    return ReadExifIfdTag(stream, exif, parent, tag, type, count, position);
  }
  return false;
}

bool dng_shared::ReadColorMatrix(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                                 uint32_t count, uint32_t rows, uint32_t columns,
                                 dng_matrix& matrix) {
  check_tag_type(parent, tag, type, dng_type_srational);
  if (!check_color_planes(parent, tag, color_planes)) return false;
  if (!read_matrix_tag(stream, parent, tag, type, count, rows, columns, matrix)) return false;
  if (dng_verbose) {
    std::printf("%s:\n", tag_code_name(parent, tag));
    dump_matrix(matrix);
  }
  return true;
}

bool dng_shared::ReadColorVector(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                                 uint32_t count, dng_vector& vector) {
  check_tag_type(parent, tag, type, dng_type_rational);
  if (!check_color_planes(parent, tag, color_planes)) return false;
  if (!read_vector_tag(stream, parent, tag, type, count, color_planes, vector)) return false;
  if (dng_verbose) {
    std::printf("%s:", tag_code_name(parent, tag));
    dump_vector(vector);
  }
  return true;
}

bool dng_shared::ReadMainIfdTag(dng_stream& stream, dng_exif* /*exif*/, uint32_t parent,
                                uint32_t tag, uint32_t type, uint32_t count, uint32_t position) {
  switch (tag) {
    case k_tag_xmp:
      check_tag_type(parent, tag, type, dng_type_byte);
      xmp_count = count;
      xmp_position = count != 0 ? position : 0;
      if (dng_verbose) {
        std::printf("XMP: Count = %u, Offset = %u\n", xmp_count, xmp_position);
        dump_xmp(stream, count);
      }
      return true;

    case k_tag_kodak_dcr_private_ifd:
      kodak_dcr_private_ifd = read_ifd_offset(stream, parent, tag, type, count);
      if (dng_verbose) std::printf("KodakDCRPrivateIFD: %u\n", kodak_dcr_private_ifd);
      return true;

    case k_tag_iptc: {
      check_tag_type(parent, tag, type, dng_type_long, dng_type_ascii);
      const uint64_t bytes = tag_value_bytes(count, type);
      iptc_length = bytes > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes);
      iptc_position = iptc_length != 0 ? position : 0;
      if (dng_verbose) {
        std::printf("IPTC/NAA: Count = %u, Offset = %u\n", iptc_length, iptc_position);
        dump_hex_ascii(stream, iptc_length);
      }
      return true;
    }

    case k_tag_exif_ifd:
      exif_ifd = read_ifd_offset(stream, parent, tag, type, count);
      if (dng_verbose) std::printf("ExifIFD: %u\n", exif_ifd);
      return true;

    case k_tag_gps_info:
      gps_info = read_ifd_offset(stream, parent, tag, type, count);
      if (dng_verbose) std::printf("GPSInfo: %u\n", gps_info);
      return true;

    case k_tag_dng_version:
      check_tag_type(parent, tag, type, dng_type_byte);
      check_tag_count(parent, tag, count, 4);
      dng_version = read_version_bytes(stream);
      if (dng_verbose) dump_version("DNGVersion", dng_version);
      return true;

    case k_tag_dng_backward_version:
      check_tag_type(parent, tag, type, dng_type_byte);
      check_tag_count(parent, tag, count, 4);
      dng_backward_version = read_version_bytes(stream);
      if (dng_verbose) dump_version("DNGBackwardVersion", dng_backward_version);
      return true;

    case k_tag_unique_camera_model:
      check_tag_type(parent, tag, type, dng_type_ascii);
      read_string_tag(stream, parent, tag, count, unique_camera_model, false, true);
      strip_model_blanks(unique_camera_model, "UniqueCameraModel string has trailing blanks");
      if (dng_verbose) {
        std::printf("UniqueCameraModel: ");
        dump_string(unique_camera_model);
        std::printf("\n");
      }
      return true;

    case k_tag_localized_camera_model:
      check_tag_type(parent, tag, type, dng_type_ascii, dng_type_byte);
      read_string_tag(stream, parent, tag, count, localized_camera_model, false, false);
      strip_model_blanks(localized_camera_model,
                         "LocalizedCameraModel string has trailing blanks");
      if (dng_verbose) {
        std::printf("LocalizedCameraModel: ");
        dump_string(localized_camera_model);
        std::printf("\n");
      }
      return true;

    case k_tag_color_matrix1: {
      check_tag_type(parent, tag, type, dng_type_srational);
      if (color_planes == 0) {
        const uint32_t planes = count / 3;
        color_planes = planes < 3 ? 3 : (planes > 4 ? 4 : planes);
      }
      if (!check_color_planes(parent, tag, color_planes)) return false;
      if (!read_matrix_tag(stream, parent, tag, type, count, color_planes, 3, color_matrix1)) {
        return false;
      }
      if (dng_verbose) {
        std::printf("ColorMatrix1:\n");
        dump_matrix(color_matrix1);
      }
      return true;
    }

    case k_tag_color_matrix2:
      return ReadColorMatrix(stream, parent, tag, type, count, color_planes, 3, color_matrix2);
    case k_tag_camera_calibration1:
      return ReadColorMatrix(stream, parent, tag, type, count, color_planes, color_planes,
                             camera_calibration1);
    case k_tag_camera_calibration2:
      return ReadColorMatrix(stream, parent, tag, type, count, color_planes, color_planes,
                             camera_calibration2);
    case k_tag_reduction_matrix1:
      return ReadColorMatrix(stream, parent, tag, type, count, 3, color_planes,
                             reduction_matrix1);
    case k_tag_reduction_matrix2:
      return ReadColorMatrix(stream, parent, tag, type, count, 3, color_planes,
                             reduction_matrix2);

    case k_tag_analog_balance:
      return ReadColorVector(stream, parent, tag, type, count, analog_balance);
    case k_tag_as_shot_neutral:
      return ReadColorVector(stream, parent, tag, type, count, as_shot_neutral);

    case k_tag_as_shot_white_xy:
      check_tag_type(parent, tag, type, dng_type_rational);
      if (!check_color_planes(parent, tag, color_planes)) return false;
      if (!check_tag_count(parent, tag, count, 2)) return false;
      as_shot_white_xy.x = stream.TagValueAsReal64(type);
      as_shot_white_xy.y = stream.TagValueAsReal64(type);
      if (dng_verbose) {
        std::printf("AsShotWhiteXY: %0.4f %0.4f\n", as_shot_white_xy.x, as_shot_white_xy.y);
      }
      return true;

    case k_tag_baseline_exposure:
      check_tag_type(parent, tag, type, dng_type_srational);
      check_tag_count(parent, tag, count, 1);
      baseline_exposure = stream.TagValueAsSRational(type);
      if (dng_verbose) std::printf("BaselineExposure: %+0.2f\n", baseline_exposure.ToReal());
      return true;

    case k_tag_baseline_noise:
    case k_tag_baseline_sharpness:
    case k_tag_linear_response_limit:
    case k_tag_shadow_scale: {
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      const dng_unsigned_ratio value = stream.TagValueAsURational(type);
      dng_unsigned_ratio& field = tag == k_tag_baseline_noise         ? baseline_noise
                                  : tag == k_tag_baseline_sharpness   ? baseline_sharpness
                                  : tag == k_tag_linear_response_limit ? linear_response_limit
                                                                       : shadow_scale;
      field = value;
      if (dng_verbose) std::printf("%s: %0.4f\n", tag_code_name(parent, tag), field.ToReal());
      return true;
    }

    case k_tag_dng_private_data:
      check_tag_type(parent, tag, type, dng_type_byte);
      dng_private_data_count = count;
      dng_private_data_position = position;
      if (dng_verbose) {
        std::printf("DNGPrivateData: Count = %u, Offset = %u\n", count, position);
        dump_hex_ascii(stream, count);
      }
      return true;

    case k_tag_maker_note_safety:
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1);
      maker_note_safety = stream.TagValueAsUInt32(type);
      if (dng_verbose) {
        std::printf("MakerNoteSafety: %s\n",
                    tag_value_name(dng_value_kind::maker_note_safety, maker_note_safety));
      }
      return true;

    case k_tag_calibration_illuminant1:
    case k_tag_calibration_illuminant2: {
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1);
      uint32_t& field = tag == k_tag_calibration_illuminant1 ? calibration_illuminant1
                                                              : calibration_illuminant2;
      field = stream.TagValueAsUInt32(type);
      if (dng_verbose) {
        std::printf("%s: %s\n", tag_code_name(parent, tag),
                    tag_value_name(dng_value_kind::light_source, field));
      }
      return true;
    }

    case k_tag_raw_data_unique_id:
      if (!check_tag_type(parent, tag, type, dng_type_byte)) return false;
      if (!check_tag_count(parent, tag, count, dng_digest::kBytes)) return false;
      stream.GetBytes(raw_data_unique_id.data, dng_digest::kBytes);
      if (dng_verbose) {
        std::printf("RawDataUniqueID: <");
        for (uint8_t b : raw_data_unique_id.data) std::printf("%02x", b);
        std::printf(">\n");
      }
      return true;

    case k_tag_original_raw_file_name:
      check_tag_type(parent, tag, type, dng_type_ascii, dng_type_byte);
      read_string_tag(stream, parent, tag, count, original_raw_file_name, false, false);
      if (dng_verbose) {
        std::printf("OriginalRawFileName: ");
        dump_string(original_raw_file_name);
        std::printf("\n");
      }
      return true;

    case k_tag_original_raw_file_data:
      check_tag_type(parent, tag, type, dng_type_undefined);
      original_raw_file_data_count = count;
      original_raw_file_data_position = position;
      if (dng_verbose) {
        std::printf("OriginalRawFileData: Count = %u, Offset = %u\n", count, position);
      }
      return true;

    case k_tag_as_shot_icc_profile:
      check_tag_type(parent, tag, type, dng_type_undefined);
      as_shot_icc_profile_count = count;
      as_shot_icc_profile_position = position;
      if (dng_verbose) std::printf("AsShotICCProfile: Count = %u, Offset = %u\n", count, position);
      return true;

    case k_tag_current_icc_profile:
      check_tag_type(parent, tag, type, dng_type_undefined);
      current_icc_profile_count = count;
      current_icc_profile_position = position;
      if (dng_verbose) {
        std::printf("CurrentICCProfile: Count = %u, Offset = %u\n", count, position);
      }
      return true;

    case k_tag_as_shot_pre_profile_matrix:
    case k_tag_current_pre_profile_matrix: {
      const uint32_t rows = count == uint64_t{color_planes} * 3 ? 3 : color_planes;
      return ReadColorMatrix(stream, parent, tag, type, count, rows, color_planes,
                             tag == k_tag_as_shot_pre_profile_matrix
                                 ? as_shot_pre_profile_matrix
                                 : current_pre_profile_matrix);
    }

    case k_tag_colorimetric_reference:
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1);
      colorimetric_reference = stream.TagValueAsUInt32(type);
      if (dng_verbose) {
        std::printf("ColorimetricReference: %s\n",
                    tag_value_name(dng_value_kind::colorimetric_reference,
                                   colorimetric_reference));
      }
      return true;

    case k_tag_kodak_kdc_private_ifd:
      kodak_kdc_private_ifd = read_ifd_offset(stream, parent, tag, type, count);
      if (dng_verbose) std::printf("KodakKDCPrivateIFD: %u\n", kodak_kdc_private_ifd);
      return true;

    default:
      return false;
  }
}

bool dng_shared::ReadExifIfdTag(dng_stream& stream, dng_exif* /*exif*/, uint32_t parent,
                                uint32_t tag, uint32_t type, uint32_t count, uint32_t position) {
  switch (tag) {
    case k_tag_maker_note:
      check_tag_type(parent, tag, type, dng_type_undefined);
      maker_note_count = count;
      maker_note_position = position;
      if (dng_verbose) {
        std::printf("MakerNote: Count = %u, Offset = %u\n", count, position);
        dump_hex_ascii(stream, count);
      }
      return true;

    case k_tag_interoperability_ifd:
      interoperability_ifd = read_ifd_offset(stream, parent, tag, type, count);
      if (dng_verbose) std::printf("InteroperabilityIFD: %u\n", interoperability_ifd);
      return true;

    default:
      return false;
  }
}

void dng_shared::FinishParse(dng_host& /*host*/, dng_exif* /*exif*/) {
  if (dng_version == 0) return;

  if (dng_version < dng_version_1_0) {
    report_dng_warning("DNGVersion less than 1.0.0.0");
    calibration_illuminant1 = k_illuminant_d65;
    dng_version = dng_version_1_0;
  }
  if (dng_backward_version == 0) dng_backward_version = dng_version & 0xFFFF0000;
  if (dng_backward_version < dng_version_1_0) {
    report_dng_warning("DNGBackwardVersion less than 1.0.0.0");
    dng_backward_version = dng_version_1_0;
  } else if (dng_backward_version > dng_version) {
    report_dng_warning("DNGBackwardVersion > DNGVersion");
    dng_backward_version = dng_version;
  }

  if (unique_camera_model.Empty()) {
    report_dng_warning("Missing or invalid UniqueCameraModel");
    unique_camera_model.Assign("Digital Negative");
  }

  if (color_planes == 0) color_planes = 1;

  if (color_planes > 1) {
    if (color_matrix2.HasEntries() &&
        (calibration_illuminant1 == 0 || calibration_illuminant2 == 0 ||
         calibration_illuminant1 == calibration_illuminant2)) {
      report_dng_warning("Invalid CalibrationIlluminant pair");
      color_matrix2.MakeEmpty();
    }
    if (colorimetric_reference == k_colorimetric_icc_pcs) {
      if (!as_shot_neutral.IsEmpty()) {
        report_dng_warning("AsShotNeutral not allowed for this ColorimetricReference value");
        as_shot_neutral.MakeEmpty();
      }
      const dng_chromaticity pcs = d50_chromaticity();
      if (as_shot_white_xy.IsPositive() &&
          (abs_double(as_shot_white_xy.x - pcs.x) > k_white_xy_tolerance ||
           abs_double(as_shot_white_xy.y - pcs.y) > k_white_xy_tolerance)) {
        report_dng_warning("AsShotWhiteXY does not match the ICC Profile PCS");
      }
      as_shot_white_xy = pcs;
    } else if (!as_shot_neutral.IsEmpty()) {
      if (as_shot_white_xy.IsPositive()) {
        report_dng_warning("Both AsShotNeutral and AsShotWhiteXY included");
        as_shot_white_xy = dng_chromaticity();
      }
    } else if (!as_shot_white_xy.IsPositive()) {
      report_dng_warning("Neither AsShotNeutral nor AsShotWhiteXY included",
                         "legal but not recommended");
    }
  }

  if (!(baseline_noise.ToReal() > 0.0)) {
    report_dng_warning("Invalid BaselineNoise");
    baseline_noise = dng_unsigned_ratio(1, 1);
  }
  if (!(baseline_sharpness.ToReal() > 0.0)) {
    report_dng_warning("Invalid BaselineSharpness");
    baseline_sharpness = dng_unsigned_ratio(1, 1);
  }
  const double limit = linear_response_limit.ToReal();
  if (limit < 0.5 || limit > 1.0) {
    report_dng_warning("Invalid LinearResponseLimit");
    linear_response_limit = dng_unsigned_ratio(1, 1);
  }
  if (!(shadow_scale.ToReal() > 0.0)) {
    report_dng_warning("Invalid ShadowScale");
    shadow_scale = dng_unsigned_ratio(1, 1);
  }
}

bool dng_shared::Validate() {
  if (dng_version < dng_version_1_0) {
    report_dng_error("Missing or invalid DNGVersion");
    return false;
  }
  if (dng_backward_version > dng_version_1_1) {
    report_dng_error("DNGBackwardVersion (or DNGVersion) is too high");
    return false;
  }
  if (color_planes < 2) return true;
  if (!transform_invertible(color_matrix1, camera_calibration1, analog_balance, reduction_matrix1,
                            true, "ColorMatrix1 is not invertable",
                            "CameraCalibration1 is not invertable",
                            "Color transform 1 is not invertable")) {
    return false;
  }
  if (!color_matrix2.HasEntries()) return true;
  return transform_invertible(color_matrix2, camera_calibration2, analog_balance,
                              reduction_matrix2, false, "ColorMatrix2 is not invertable",
                              "CameraCalibration2 is not invertable",
                              "Color transform 2 is not invertable");
}
