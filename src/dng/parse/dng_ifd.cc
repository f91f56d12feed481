#include "dng/parse/dng_ifd.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_parse_limits.h"
#include "dng/parse/dng_read_image.h"
#include "dng/parse/dng_shared.h"
#include "dng/parse/dng_tag_checks.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_tag_extent.h"
#include "dng/parse/dng_tag_names.h"

namespace {

constexpr uint32_t kMaxImageSide = 30000;
constexpr uint32_t kPhotometricBlackIsZero = 1;
constexpr uint32_t kPhotometricRgb = 2;
constexpr uint32_t kPhotometricYCbCr = 6;
constexpr uint32_t kPhotometricCfa = 32803;
constexpr uint32_t kPhotometricLinearRaw = 34892;
constexpr uint32_t kDngVersion110 = 0x01010000;

// The count warning for counts that must equal a product of stored values;
// the product is exact in 64 bits.
bool count_is(uint32_t parent, uint32_t tag, uint32_t count, uint64_t expected) {
  if (count == expected) return true;
  report_tag_warning(parent, tag, "has unexpected count (%u)", count);
  return false;
}

uint64_t ceil_div(uint64_t a, uint64_t b) { return b == 0 ? 0 : a / b + (a % b != 0 ? 1 : 0); }

uint64_t saturate(unsigned __int128 v) { return v > UINT64_MAX ? UINT64_MAX : static_cast<uint64_t>(v); }

// The largest value of an unsigned sample of the given bits, in double so
// that any BitsPerSample read from a file gives a number.
double max_sample_value(uint32_t bits) { return std::ldexp(1.0, static_cast<int>(std::min(bits, 64u))) - 1.0; }

void error(const char* message, uint32_t parent) { report_dng_error(message, parent_ifd_name(parent)); }

// The line of a tag with count values of which the object keeps four:
// "name:" and " %u" per value, those past the fourth taken as the fourth
// when repeats (BitsPerSample and SampleFormat, whose later values must
// equal it), else left out. At most the dump limit of values are shown; the
// rest are counted on a line of their own, as the value dump does.
void dump_uint_list(const char* name, const uint32_t (&values)[4], uint32_t count, bool repeats) {
  const uint32_t shown = std::min(count, repeats ? std::max(dng_dump_limit, 4u) : 4u);
  std::printf("%s:", name);
  for (uint32_t i = 0; i < shown; ++i) std::printf(" %u", values[std::min(i, 3u)]);
  std::printf("\n");
  if (shown < count) std::printf("    ... %u more entries\n", count - shown);
}

}  // namespace

std::unique_ptr<dng_ifd> dng_host::NewIFD() {
  try {
    return std::make_unique<dng_ifd>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

bool dng_ifd::ReadTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
                      uint32_t value_position) {
  if (!StoreTag(stream, parent, tag, type, count)) return false;
  if (dng_verbose) DumpTag(stream, parent, tag, type, count, value_position);
  return true;
}

bool dng_ifd::StoreTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count) {
  switch (tag) {
    case 254:
      check_tag_type(parent, tag, type, dng_type_long);
      check_tag_count(parent, tag, count, 1);
      uses_new_subfile_type = true;
      new_subfile_type = stream.TagValueAsUInt32(type);
      return true;
    case 256:
    case 257: {
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      check_tag_count(parent, tag, count, 1);
      uint32_t v = stream.TagValueAsUInt32(type);
      (tag == 256 ? image_width : image_length) = v;
      return true;
    }
    case 258:
    case 339: {
      check_tag_type(parent, tag, type, dng_type_short);
      if (tag == 258) {
        check_tag_count(parent, tag, count, 1, 0xFFFF);
      } else {
        count_is(parent, tag, count, samples_per_pixel);
      }
      uint32_t* values = tag == 258 ? bits_per_sample : sample_format;
      // Every value is read, so all must lie in the stream; a type that
      // reads no bytes (ASCII, UNDEFINED) would otherwise walk the count.
      if (!tag_value_fits(stream, stream.Position(), count, type)) throw_dng_code(dng_code_end_of_file);
      for (uint32_t i = 0; i < count; ++i) {
        uint32_t v = stream.TagValueAsUInt32(type);
        if (i < 4) {
          values[i] = v;
        } else if (v != values[3]) {
          report_dng_error(tag == 258 ? "BitsPerSample not constant" : "SampleFormat not constant");
          throw_dng_code(dng_code_bad_format);
        }
      }
      return true;
    }
    case 259:
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1);
      compression = stream.TagValueAsUInt32(type);
      if (compression == 0) {
        report_formatted_warning("%s has invalid zero compression code", parent_ifd_name(parent));
        compression = 1;
      }
      return true;
    case 262:
    case 266:
    case 274:
    case 277:
    case 284:
    case 296:
    case 317:
    case 531:
    case 50711: {
      if (tag == 50711) check_cfa_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1);
      uint32_t v = stream.TagValueAsUInt32(type);
      switch (tag) {
        case 262: photometric_interpretation = v; break;
        case 266: fill_order = v; break;
        case 274: orientation = v; break;
        case 277: samples_per_pixel = v; break;
        case 284: planar_configuration = v; break;
        case 296: resolution_unit = v; break;
        case 317: predictor = v; break;
        case 531: ycbcr_positioning = v; break;
        default: cfa_layout = v; break;
      }
      return true;
    }
    case 273:
    case 279:
    case 324:
    case 325: {
      bool strips = tag == 273 || tag == 279;
      if (tag == 324) {
        check_tag_type(parent, tag, type, dng_type_long);
      } else {
        check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      }
      (strips ? uses_strips : uses_tiles) = true;
      bool offsets = tag == 273 || tag == 324;
      (offsets ? tile_offsets_type : tile_byte_counts_type) = type;
      (offsets ? tile_offsets_count : tile_byte_counts_count) = count;
      (offsets ? tile_offsets_position : tile_byte_counts_position) = stream.Position();
      if (count >= 1 && count <= kMaxTileOffsets) {
        uint32_t* values = offsets ? tile_offset : tile_byte_count;
        for (uint32_t i = 0; i < count; ++i) values[i] = stream.TagValueAsUInt32(type);
      }
      return true;
    }
    case 278:
    case 322:
    case 323: {
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      check_tag_count(parent, tag, count, 1);
      uint32_t v = stream.TagValueAsUInt32(type);
      if (tag == 278) {
        uses_strips = true;
        tile_length = v;
      } else {
        uses_tiles = true;
        (tag == 322 ? tile_width : tile_length) = v;
      }
      return true;
    }
    case 282:
    case 283:
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      (tag == 282 ? x_resolution : y_resolution) = stream.TagValueAsReal64(type);
      return true;
    case 330:
      check_tag_type(parent, tag, type, dng_type_long, dng_type_ifd);
      sub_ifds_count = count;
      sub_ifds_position = stream.Position();
      return true;
    case 338:
      check_tag_type(parent, tag, type, dng_type_short);
      check_tag_count(parent, tag, count, 1, samples_per_pixel);
      extra_samples_count = count;
      for (uint32_t i = 0; i < count && i < 4; ++i) extra_samples[i] = stream.TagValueAsUInt32(type);
      return true;
    case 347:
      check_tag_type(parent, tag, type, dng_type_undefined);
      jpeg_tables_count = count;
      jpeg_tables_position = stream.Position();
      return true;
    case 513:
    case 514:
      check_tag_type(parent, tag, type, dng_type_long);
      check_tag_count(parent, tag, count, 1);
      (tag == 513 ? jpeg_interchange_format : jpeg_interchange_format_length) = stream.TagValueAsUInt32(type);
      return true;
    case 529:
      check_tag_type(parent, tag, type, dng_type_rational);
      if (!check_tag_count(parent, tag, count, 3)) return false;
      ycbcr_coefficient_r = stream.TagValueAsReal64(type);
      ycbcr_coefficient_g = stream.TagValueAsReal64(type);
      ycbcr_coefficient_b = stream.TagValueAsReal64(type);
      return true;
    case 530:
      check_tag_type(parent, tag, type, dng_type_short);
      if (!check_tag_count(parent, tag, count, 2)) return false;
      ycbcr_sub_sample_h = stream.TagValueAsUInt32(type);
      ycbcr_sub_sample_v = stream.TagValueAsUInt32(type);
      return true;
    case 532:
      check_tag_type(parent, tag, type, dng_type_rational);
      if (!check_tag_count(parent, tag, count, 6)) return false;
      for (double& v : reference_black_white) v = stream.TagValueAsReal64(type);
      return true;
    case 33421:
      check_cfa_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short);
      if (!check_tag_count(parent, tag, count, 2)) return false;
      cfa_repeat_pattern_rows = stream.TagValueAsUInt32(type);
      cfa_repeat_pattern_cols = stream.TagValueAsUInt32(type);
      return true;
    case 33422: {
      check_cfa_ifd(parent, tag, photometric_interpretation);
      if (!check_tag_type(parent, tag, type, dng_type_byte)) return false;
      if (!count_is(parent, tag, count, uint64_t{cfa_repeat_pattern_rows} * cfa_repeat_pattern_cols)) return false;
      if (cfa_repeat_pattern_rows < 1 || cfa_repeat_pattern_rows > 8 || cfa_repeat_pattern_cols < 1 ||
          cfa_repeat_pattern_cols > 8) {
        return false;
      }
      for (uint32_t r = 0; r < cfa_repeat_pattern_rows; ++r) {
        for (uint32_t c = 0; c < cfa_repeat_pattern_cols; ++c) cfa_pattern[r][c] = stream.GetUInt8();
      }
      return true;
    }
    case 50710: {
      check_cfa_ifd(parent, tag, photometric_interpretation);
      if (!check_tag_type(parent, tag, type, dng_type_byte)) return false;
      if (!check_tag_count(parent, tag, count, 3, 4)) return false;
      for (uint32_t i = 0; i < 4; ++i) cfa_plane_color[i] = i < count ? stream.GetUInt8() : 255;
      return true;
    }
    case 50712:
      check_raw_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short);
      linearization_table_type = type;
      linearization_table_count = count;
      linearization_table_position = stream.Position();
      return true;
    case 50713:
      check_raw_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short);
      if (!check_tag_count(parent, tag, count, 2)) return false;
      black_level_repeat_rows = stream.TagValueAsUInt32(type);
      black_level_repeat_cols = stream.TagValueAsUInt32(type);
      return true;
    case 50714: {
      check_raw_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long, dng_type_rational);
      uint64_t expected = uint64_t{black_level_repeat_rows} * black_level_repeat_cols * samples_per_pixel;
      if (!count_is(parent, tag, count, expected)) return false;
      if (black_level_repeat_rows < 1 || black_level_repeat_rows > 8 || black_level_repeat_cols < 1 ||
          black_level_repeat_cols > 8 || samples_per_pixel < 1 || samples_per_pixel > 4) {
        return false;
      }
      for (uint32_t r = 0; r < black_level_repeat_rows; ++r) {
        for (uint32_t c = 0; c < black_level_repeat_cols; ++c) {
          for (uint32_t s = 0; s < samples_per_pixel; ++s) black_level[r][c][s] = stream.TagValueAsReal64(type);
        }
      }
      return true;
    }
    case 50715:
    case 50716: {
      check_raw_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_srational);
      bool h = tag == 50715;
      (h ? black_level_delta_h_type : black_level_delta_v_type) = type;
      (h ? black_level_delta_h_count : black_level_delta_v_count) = count;
      (h ? black_level_delta_h_position : black_level_delta_v_position) = stream.Position();
      return true;
    }
    case 50717:
      check_raw_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      if (!count_is(parent, tag, count, samples_per_pixel)) return false;
      for (uint32_t i = 0; i < count && i < 4; ++i) white_level[i] = stream.TagValueAsReal64(type);
      return true;
    case 50718:
      check_main_ifd(parent, tag, new_subfile_type);
      check_tag_type(parent, tag, type, dng_type_rational);
      if (!check_tag_count(parent, tag, count, 2)) return false;
      default_scale_h = stream.TagValueAsURational(type);
      default_scale_v = stream.TagValueAsURational(type);
      return true;
    case 50719:
    case 50720: {
      check_main_ifd(parent, tag, new_subfile_type);
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long, dng_type_rational);
      if (!check_tag_count(parent, tag, count, 2)) return false;
      dng_unsigned_ratio h = stream.TagValueAsURational(type);
      dng_unsigned_ratio v = stream.TagValueAsURational(type);
      if (tag == 50719) {
        default_crop_origin_h = h;
        default_crop_origin_v = v;
      } else {
        default_crop_size_h = h;
        default_crop_size_v = v;
      }
      return true;
    }
    case 50733:
      check_cfa_ifd(parent, tag, photometric_interpretation);
      check_tag_type(parent, tag, type, dng_type_long);
      check_tag_count(parent, tag, count, 1);
      bayer_green_split = stream.TagValueAsUInt32(type);
      return true;
    case 50737:
    case 50738:
    case 50780: {
      check_main_ifd(parent, tag, new_subfile_type);
      check_tag_type(parent, tag, type, dng_type_rational);
      check_tag_count(parent, tag, count, 1);
      dng_unsigned_ratio r = stream.TagValueAsURational(type);
      (tag == 50737 ? chroma_blur_radius : tag == 50738 ? anti_alias_strength : best_quality_scale) = r;
      return true;
    }
    case 50829: {
      check_main_ifd(parent, tag, new_subfile_type);
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      if (!check_tag_count(parent, tag, count, 4)) return false;
      active_area.top = stream.TagValueAsInt32(type);
      active_area.left = stream.TagValueAsInt32(type);
      active_area.bottom = stream.TagValueAsInt32(type);
      active_area.right = stream.TagValueAsInt32(type);
      return true;
    }
    case 50830: {
      check_main_ifd(parent, tag, new_subfile_type);
      check_tag_type(parent, tag, type, dng_type_short, dng_type_long);
      if (count % 4 != 0) {
        report_tag_warning(parent, tag, "has unexpected count (%u)", count);
        return false;
      }
      masked_areas_count = std::min(count / 4, 4u);
      for (uint32_t j = 0; j < masked_areas_count; ++j) {
        masked_area[j].top = stream.TagValueAsInt32(type);
        masked_area[j].left = stream.TagValueAsInt32(type);
        masked_area[j].bottom = stream.TagValueAsInt32(type);
        masked_area[j].right = stream.TagValueAsInt32(type);
      }
      return true;
    }
    default:
      return false;
  }
}

// The dump prints what the fields now hold; only the offset, byte-count,
// SubIFD, table and delta lists are read again from the value, through the
// bounded value dump.
void dng_ifd::DumpTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
                      uint32_t value_position) const {
  const char* name = tag_code_name(parent, tag);
  // A list given as ASCII (a wrong type, which only warned) shows as its
  // bytes: read as a text it could warn or end the parse where the quiet
  // parse does not.
  auto values = [&](const char* label, uint32_t shown_type) {
    stream.SeekForRead(value_position);
    dump_tag_values(stream, label, parent, tag, shown_type == dng_type_ascii ? dng_type_byte : shown_type, count);
  };
  auto ratios = [&](const char* format, const dng_unsigned_ratio& h, const dng_unsigned_ratio& v) {
    std::printf(format, name, h.ToReal(), v.ToReal());
  };
  switch (tag) {
    case 254:
      std::printf("%s: %s\n", name, tag_value_name(dng_value_kind::new_subfile_type, new_subfile_type));
      break;
    case 256: std::printf("%s: %u\n", name, image_width); break;
    case 257: std::printf("%s: %u\n", name, image_length); break;
    case 258:
    case 339:
      // Values past the fourth equal it, or the read would have thrown.
      dump_uint_list(name, tag == 258 ? bits_per_sample : sample_format, count, true);
      break;
    case 259:
      std::printf("%s: %s\n", name, tag_value_name(dng_value_kind::compression, compression));
      break;
    case 262:
      std::printf("%s: %s\n", name,
                  tag_value_name(dng_value_kind::photometric_interpretation, photometric_interpretation));
      break;
    case 266: std::printf("%s: %u\n", name, fill_order); break;
    case 273:
    case 324: values("Offset", type); break;
    case 279:
    case 325: values("Count", type); break;
    case 274:
      std::printf("%s: %s\n", name, tag_value_name(dng_value_kind::orientation, orientation));
      break;
    case 277: std::printf("%s: %u\n", name, samples_per_pixel); break;
    case 278:
    case 323: std::printf("%s: %u\n", name, tile_length); break;
    case 282: std::printf("%s: %0.2f\n", name, x_resolution); break;
    case 283: std::printf("%s: %0.2f\n", name, y_resolution); break;
    case 284: std::printf("%s: %u\n", name, planar_configuration); break;
    case 296:
      std::printf("%s: %s\n", name, tag_value_name(dng_value_kind::resolution_unit, resolution_unit));
      break;
    case 317: std::printf("%s: %u\n", name, predictor); break;
    case 322: std::printf("%s: %u\n", name, tile_width); break;
    case 330: values("IFD", dng_type_long); break;
    case 338: dump_uint_list(name, extra_samples, count, false); break;
    case 347: std::printf("%s: count = %u, offset = %u\n", name, jpeg_tables_count, jpeg_tables_position); break;
    case 513: std::printf("%s: %u\n", name, jpeg_interchange_format); break;
    case 514: std::printf("%s: %u\n", name, jpeg_interchange_format_length); break;
    case 529:
      std::printf("%s: R = %0.3f, G = %0.3f, B = %0.3f\n", name, ycbcr_coefficient_r, ycbcr_coefficient_g,
                  ycbcr_coefficient_b);
      break;
    case 530: std::printf("%s: H = %u, V = %u\n", name, ycbcr_sub_sample_h, ycbcr_sub_sample_v); break;
    case 531: std::printf("%s: %u\n", name, ycbcr_positioning); break;
    case 532:
      std::printf("%s:", name);
      for (double v : reference_black_white) std::printf(" %0.1f", v);
      std::printf("\n");
      break;
    case 33421:
      std::printf("%s: Rows = %u, Cols = %u\n", name, cfa_repeat_pattern_rows, cfa_repeat_pattern_cols);
      break;
    case 33422:
      std::printf("%s:\n", name);
      dump_cfa_pattern(cfa_pattern, cfa_repeat_pattern_rows, cfa_repeat_pattern_cols);
      break;
    case 50710:
      std::printf("%s:", name);
      for (uint32_t i = 0; i < count && i < 4; ++i) {
        std::printf(" %s", tag_value_name(dng_value_kind::cfa_color, cfa_plane_color[i]));
      }
      std::printf("\n");
      break;
    case 50711:
      std::printf("%s: %s\n", name, tag_value_name(dng_value_kind::cfa_layout, cfa_layout));
      break;
    case 50712: values("Table", type); break;
    case 50713:
      std::printf("%s: Rows = %u, Cols = %u\n", name, black_level_repeat_rows, black_level_repeat_cols);
      break;
    case 50714:
      // Taken only with a repeat of 1..8 x 1..8 and 1..4 samples.
      std::printf("%s:", name);
      if (black_level_repeat_rows == 1 && black_level_repeat_cols == 1) {
        for (uint32_t s = 0; s < samples_per_pixel; ++s) std::printf(" %0.2f", black_level[0][0][s]);
        std::printf("\n");
        break;
      }
      std::printf("\n");
      for (uint32_t s = 0; s < samples_per_pixel; ++s) {
        if (samples_per_pixel > 1) std::printf("    Sample: %u\n", s);
        for (uint32_t r = 0; r < black_level_repeat_rows; ++r) {
          std::printf("   ");
          for (uint32_t c = 0; c < black_level_repeat_cols; ++c) std::printf(" %8.2f", black_level[r][c][s]);
          std::printf("\n");
        }
      }
      break;
    case 50715:
    case 50716: values("Delta", type); break;
    case 50717:
      std::printf("%s:", name);
      for (uint32_t i = 0; i < count && i < 4; ++i) std::printf(" %0.0f", white_level[i]);
      std::printf("\n");
      if (count > 4) std::printf("    ... %u more entries\n", count - 4);
      break;
    case 50718: ratios("%s: H = %0.4f V = %0.4f\n", default_scale_h, default_scale_v); break;
    case 50719: ratios("%s: H = %0.2f V = %0.2f\n", default_crop_origin_h, default_crop_origin_v); break;
    case 50720: ratios("%s: H = %0.2f V = %0.2f\n", default_crop_size_h, default_crop_size_v); break;
    case 50733: std::printf("%s: %u\n", name, bayer_green_split); break;
    case 50737: std::printf("%s: %0.2f\n", name, chroma_blur_radius.ToReal()); break;
    case 50738: std::printf("%s: %0.2f\n", name, anti_alias_strength.ToReal()); break;
    case 50780: std::printf("%s: %0.4f\n", name, best_quality_scale.ToReal()); break;
    case 50829:
      std::printf("%s: T = %d L = %d B = %d R = %d\n", name, active_area.top, active_area.left, active_area.bottom,
                  active_area.right);
      break;
    case 50830:
      std::printf("%s: %u\n", name, masked_areas_count);
      for (uint32_t j = 0; j < masked_areas_count; ++j) {
        const dng_box& a = masked_area[j];
        std::printf("    Area [%u]: T = %d L = %d B = %d R = %d\n", j, a.top, a.left, a.bottom, a.right);
      }
      break;
    default:
      break;
  }
}

void dng_ifd::FinishParse() {
  if (samples_per_pixel == 1) planar_configuration = 1;
  if (tile_width == 0) tile_width = image_width;
  if (tile_length == 0) tile_length = image_length;
  // RowsPerStrip beyond the image (2^32 - 1 is the usual "one strip") means
  // one strip of the whole image.
  if (uses_strips && !uses_tiles && image_length != 0 && tile_length > image_length) tile_length = image_length;
  if (active_area.AllZero()) {
    active_area = dng_box(0, 0, static_cast<int32_t>(std::min<uint32_t>(image_length, INT32_MAX)),
                          static_cast<int32_t>(std::min<uint32_t>(image_width, INT32_MAX)));
  }
  if (default_crop_size_h.d == 0) default_crop_size_h = dng_unsigned_ratio(ActiveWidth(), 1);
  if (default_crop_size_v.d == 0) default_crop_size_v = dng_unsigned_ratio(ActiveHeight(), 1);
  for (double& w : white_level) {
    if (w < 0.0) w = max_sample_value(bits_per_sample[0]);
  }
  double aa = anti_alias_strength.ToReal();
  if (aa < 0.0 || aa > 1.0) {
    report_dng_warning("Invalid AntiAliasStrength");
    anti_alias_strength = dng_unsigned_ratio(1, 1);
  }
  dng_box image(0, 0, static_cast<int32_t>(std::min<uint32_t>(image_length, INT32_MAX)),
                static_cast<int32_t>(std::min<uint32_t>(image_width, INT32_MAX)));
  for (uint32_t j = 0; j < masked_areas_count; ++j) {
    const dng_box& area = masked_area[j];
    const char* problem = nullptr;
    if (area.IsEmpty() || intersect_boxes(area, image) != area) {
      problem = "Invalid MaskedArea";
    } else if (!intersect_boxes(area, active_area).IsEmpty()) {
      problem = "MaskedArea overlaps ActiveArea";
    } else {
      for (uint32_t k = 0; k < j && problem == nullptr; ++k) {
        if (!intersect_boxes(area, masked_area[k]).IsEmpty()) problem = "MaskedAreas overlap each other";
      }
    }
    if (problem != nullptr) {
      report_dng_warning(problem);
      masked_areas_count = 0;
      break;
    }
  }
}

bool dng_ifd::Validate(const dng_shared& shared, uint32_t parent) const {
  if (!uses_new_subfile_type) {
    error("Missing NewSubFileType", parent);
    return false;
  }
  if (new_subfile_type != 0 && new_subfile_type != 1) {
    error("Unexpected NewSubFileType", parent);
    return false;
  }
  if (image_width == 0) {
    error("Missing or invalid ImageWidth", parent);
    return false;
  }
  if (image_length == 0) {
    error("Missing or invalid ImageLength", parent);
    return false;
  }
  if (image_width > kMaxImageSide || image_length > kMaxImageSide) {
    report_dng_warning("Image size is larger than supported");
    return false;
  }
  bool main = new_subfile_type == 0;
  uint32_t planes = shared.color_planes;
  switch (photometric_interpretation) {
    case kPhotometricBlackIsZero:
    case kPhotometricRgb:
    case kPhotometricYCbCr:
      if (main) {
        error("PhotometricInterpretation requires NewSubFileType = 1", parent);
        return false;
      }
      break;
    case kPhotometricCfa:
      if (!main) {
        error("PhotometricInterpretation requires NewSubFileType = 0", parent);
        return false;
      }
      break;
    case kPhotometricLinearRaw:
      break;
    default:
      error("Missing or invalid PhotometricInterpretation", parent);
      return false;
  }
  if (photometric_interpretation == kPhotometricBlackIsZero && planes != 1) {
    error("PhotometricInterpretation forbids use of ColorMatrix1 tag", parent);
    return false;
  }
  if (photometric_interpretation == kPhotometricCfa && planes == 1) {
    error("PhotometricInterpretation requires use of ColorMatrix1 tag", parent);
    return false;
  }
  uint32_t min_samples = 1, max_samples = 1, max_bits = 8;
  switch (photometric_interpretation) {
    case kPhotometricRgb:
    case kPhotometricYCbCr:
      min_samples = max_samples = 3;
      break;
    case kPhotometricCfa:
      max_samples = 4;
      max_bits = 32;
      break;
    case kPhotometricLinearRaw:
      min_samples = max_samples = planes;
      max_bits = 32;
      break;
    default:
      break;
  }
  if (samples_per_pixel < min_samples || samples_per_pixel > max_samples) {
    error("Missing or invalid SamplesPerPixel", parent);
    return false;
  }
  for (uint32_t j = 0; j < 4; ++j) {
    if (j < samples_per_pixel) {
      if (bits_per_sample[j] < 8 || bits_per_sample[j] > max_bits) {
        error("Missing or invalid BitsPerSample", parent);
        return false;
      }
      if (bits_per_sample[j] != bits_per_sample[0]) {
        error("BitsPerSample not equal for all samples", parent);
        return false;
      }
    } else if (bits_per_sample[j] != 0) {
      error("Too many values specified in BitsPerSample", parent);
      return false;
    }
  }
  if (compression == 7) {
    if (photometric_interpretation == kPhotometricRgb) {
      error("JPEG previews should use PhotometricInterpretation = YCbYb", parent);
      return false;
    }
    if (bits_per_sample[0] > 16) {
      error("JPEG compression is limited to 16 bits/sample", parent);
      return false;
    }
  } else if (compression != 1) {
    error("Unsupported Compression", parent);
    return false;
  }
  if (predictor != 1) {
    error("Unsupported Predictor", parent);
    return false;
  }
  if (fill_order != 1) {
    error("Unsupported FillOrder", parent);
    return false;
  }
  if (planar_configuration != 1) {
    error("Unsupported PlanarConfiguration", parent);
    return false;
  }
  if (extra_samples_count != 0) {
    error("Unsupported ExtraSamples", parent);
    return false;
  }
  for (uint32_t j = 0; j < samples_per_pixel && j < 4; ++j) {
    if (sample_format[j] != 1) {
      error("Unsupported SampleFormat", parent);
      return false;
    }
  }
  if (orientation >= 10) {
    error("Unknown Orientation", parent);
    return false;
  }
  if (orientation != 0 && parent != 0) report_dng_warning("Unexpected Orientation tag", parent_ifd_name(parent));
  if (orientation == 0 && parent == 0) report_dng_warning("Missing Orientation tag", parent_ifd_name(parent));
  if (!uses_strips && !uses_tiles) {
    error("IFD uses neither strips nor tiles", parent);
    return false;
  }
  if (uses_strips && uses_tiles) {
    error("IFD uses both strips and tiles", parent);
    return false;
  }
  uint64_t tiles = TileRows() * TileColumns();
  if (tiles != tile_offsets_count) {
    error("Missing or invalid Strip/TileOffsets", parent);
    return false;
  }
  if (tiles != tile_byte_counts_count) {
    error("Missing or invalid Strip/TileByteCounts", parent);
    return false;
  }
  if (photometric_interpretation == kPhotometricCfa && !ValidateCFA(shared, parent)) return false;
  int64_t length = image_length, width = image_width;
  if (active_area.IsEmpty() || active_area.top < 0 || active_area.left < 0 || active_area.bottom > length ||
      active_area.right > width) {
    error("Invalid ActiveArea", parent);
    return false;
  }
  if (shared.dng_backward_version < kDngVersion110 &&
      (active_area.top != 0 || active_area.left != 0 || active_area.bottom != length || active_area.right != width)) {
    error("Non-default ActiveArea tag not allowed in this DNG version", parent);
    return false;
  }
  if (linearization_table_count != 0) {
    if (linearization_table_type != dng_type_short) {
      error("Invalidate LinearizationTable type", parent);
      return false;
    }
    if (linearization_table_count < 2 || linearization_table_count > 65536) {
      error("Invalidate LinearizationTable count", parent);
      return false;
    }
  }
  if (black_level_repeat_rows < 1 || black_level_repeat_rows > 8 || black_level_repeat_cols < 1 ||
      black_level_repeat_cols > 8) {
    error("Invalid BlackLevelRepeatDim", parent);
    return false;
  }
  if (black_level_delta_h_count != 0 && black_level_delta_h_count != ActiveWidth()) {
    error("Invalid BlackLevelDeltaH count", parent);
    return false;
  }
  if (black_level_delta_v_count != 0 && black_level_delta_v_count != ActiveHeight()) {
    error("Invalid BlackLevelDeltaV count", parent);
    return false;
  }
  double white_limit = linearization_table_count != 0 ? 65535.0 : max_sample_value(bits_per_sample[0]);
  for (uint32_t j = 0; j < samples_per_pixel && j < 4; ++j) {
    if (white_level[j] < 1.0 || white_level[j] > white_limit) {
      error("Invalid WhiteLevel", parent);
      return false;
    }
  }
  if (default_scale_h.ToReal() <= 0.0 || default_scale_v.ToReal() <= 0.0) {
    report_dng_error("Invalid DefaultScale");
    return false;
  }
  if (best_quality_scale.ToReal() < 1.0) {
    report_dng_error("Invalid BestQualityScale");
    return false;
  }
  double active_width = ActiveWidth(), active_height = ActiveHeight();
  double origin_h = default_crop_origin_h.ToReal(), origin_v = default_crop_origin_v.ToReal();
  double size_h = default_crop_size_h.ToReal(), size_v = default_crop_size_v.ToReal();
  if (origin_h < 0.0 || origin_v < 0.0 || origin_h >= active_width || origin_v >= active_height) {
    report_dng_error("Invalid DefaultCropOrigin");
    return false;
  }
  if (size_h <= 0.0 || size_v <= 0.0 || size_h > active_width || size_v > active_height) {
    report_dng_error("Invalid DefaultCropSize");
    return false;
  }
  if (origin_h + size_h > active_width || origin_v + size_v > active_height) {
    report_dng_error("Default crop extends outside ActiveArea");
    return false;
  }
  if (photometric_interpretation == kPhotometricCfa) {
    const char* detail = "possible interpolation artifacts";
    if (origin_h < 1.9) report_dng_warning("Too little padding on left edge of CFA image", detail);
    if (origin_v < 1.9) report_dng_warning("Too little padding on top edge of CFA image", detail);
    if (origin_h + size_h > active_width - 1.9) report_dng_warning("Too little padding on right edge of CFA image", detail);
    if (origin_v + size_v > active_height - 1.9) {
      report_dng_warning("Too little padding on bottom edge of CFA image", detail);
    }
  }
  return true;
}

bool dng_ifd::ValidateCFA(const dng_shared& shared, uint32_t parent) const {
  if (cfa_repeat_pattern_rows < 1 || cfa_repeat_pattern_rows > 8 || cfa_repeat_pattern_cols < 1 ||
      cfa_repeat_pattern_cols > 8) {
    error("Missing or invalid CFAPatternRepeatDim", parent);
    return false;
  }
  uint32_t planes = std::min(shared.color_planes, 4u);
  bool seen[4] = {false, false, false, false};
  for (uint32_t r = 0; r < cfa_repeat_pattern_rows; ++r) {
    for (uint32_t c = 0; c < cfa_repeat_pattern_cols; ++c) {
      bool found = false;
      for (uint32_t k = 0; k < planes; ++k) {
        if (cfa_pattern[r][c] == cfa_plane_color[k]) {
          found = true;
          seen[k] = true;
        }
      }
      if (!found) {
        error("CFAPattern contains colors not included in the CFAPlaneColor tag", parent);
        return false;
      }
    }
  }
  for (uint32_t k = 0; k < planes; ++k) {
    if (!seen[k]) {
      error("CFAPattern does not contain all the colors in the CFAPlaneColor tag", parent);
      return false;
    }
  }
  if (cfa_layout < 1 || cfa_layout > 9) {
    error("Invalid CFALayout", parent);
    return false;
  }
  return true;
}

uint64_t dng_ifd::UncompressedTileBytes(const dng_box& area) const {
  if (compression != 1) return 0;
  uint64_t width = area.W(), height = area.H();
  if (width == 0 || height == 0) return 0;
  uint64_t samples = planar_configuration == 1 ? samples_per_pixel : 1;
  unsigned __int128 row_bits = static_cast<unsigned __int128>(width) * bits_per_sample[0] * samples;
  unsigned __int128 row_bytes = (row_bits + 7) / 8;
  if (planar_configuration == 100000) row_bytes *= samples_per_pixel;
  return saturate(row_bytes * height);
}

uint32_t dng_ifd::SamplePixelType() const {
  if (sample_format[0] == 3) return dng_type_float;
  if (bits_per_sample[0] <= 8) return dng_type_byte;
  if (bits_per_sample[0] <= 16) return dng_type_short;
  return dng_type_long;
}

bool dng_ifd::Is8BitJPEG() const {
  if (compression != 7 || bits_per_sample[0] != 8 || sample_format[0] != 1) return false;
  if (photometric_interpretation == kPhotometricBlackIsZero) return samples_per_pixel == 1;
  return photometric_interpretation == kPhotometricYCbCr && samples_per_pixel == 3 && planar_configuration == 1;
}

bool dng_ifd::CanReadImageData() const {
  dng_read_image reader;
  return reader.Supports(*this);
}

void dng_ifd::ReadImageData(dng_host& host, dng_stream& stream, dng_image& image) const {
  dng_read_image reader;
  reader.ReadImage(host, *this, stream, image);
}

void dng_ifd::CheckImageData(dng_stream& stream, uint32_t parent) const {
  dng_read_image reader;
  reader.CheckImageData(*this, stream, parent_ifd_name(parent));
}

uint64_t dng_ifd::TileColumns() const { return ceil_div(image_width, tile_width); }

uint64_t dng_ifd::TileRows() const { return ceil_div(image_length, tile_length); }

uint64_t dng_ifd::TileCount() const {
  unsigned __int128 count = static_cast<unsigned __int128>(TileColumns()) * TileRows();
  if (planar_configuration == 2) count *= samples_per_pixel;
  return saturate(count);
}

dng_tile_bounds dng_ifd::TileBounds(uint64_t row, uint64_t column) const {
  auto clamp = [](unsigned __int128 v) { return v > INT64_MAX ? INT64_MAX : static_cast<int64_t>(v); };
  dng_tile_bounds b;
  b.top = clamp(static_cast<unsigned __int128>(row) * tile_length);
  b.left = clamp(static_cast<unsigned __int128>(column) * tile_width);
  b.bottom = clamp(static_cast<unsigned __int128>(b.top) + tile_length);
  b.right = clamp(static_cast<unsigned __int128>(b.left) + tile_width);
  if (uses_strips) b.bottom = std::min<int64_t>(b.bottom, image_length);
  return b;
}

void dng_ifd::UseSingleTile() {
  tile_width = image_width;
  tile_length = image_length;
  uses_strips = true;
  uses_tiles = false;
}

void dng_ifd::ChooseTileSize(uint32_t byte_budget, uint32_t width_multiple, uint32_t length_multiple) {
  uint64_t bytes_per_pixel = ceil_div(bits_per_sample[0], 8) * std::max(samples_per_pixel, 1u);
  uint64_t pixels = byte_budget / std::max<uint64_t>(bytes_per_pixel, 1);
  uint64_t side = std::min<uint64_t>(std::llround(std::sqrt(static_cast<double>(pixels))), image_width);
  side = std::max<uint64_t>(side, 1);
  uint64_t across = ceil_div(image_width, side);
  uint64_t wm = std::max(width_multiple, 1u), lm = std::max(length_multiple, 1u);
  uint64_t width = ceil_div(ceil_div(image_width, std::max<uint64_t>(across, 1)), wm) * wm;
  uint64_t rows = std::clamp<uint64_t>(pixels / std::max<uint64_t>(width, 1), 1, std::max(image_length, 1u));
  uint64_t down = ceil_div(image_length, rows);
  uint64_t length = ceil_div(ceil_div(image_length, std::max<uint64_t>(down, 1)), lm) * lm;
  tile_width = static_cast<uint32_t>(std::min<uint64_t>(width, UINT32_MAX));
  tile_length = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
  uses_tiles = true;
  uses_strips = false;
}

void dng_ifd::ChooseStripRows(uint32_t byte_budget, uint32_t rows_multiple) {
  uint64_t bytes_per_pixel = ceil_div(bits_per_sample[0], 8) * std::max(samples_per_pixel, 1u);
  tile_width = image_width;
  uint64_t rows = byte_budget / std::max<uint64_t>(bytes_per_pixel, 1) / std::max(image_width, 1u);
  rows = std::clamp<uint64_t>(rows, 1, std::max(image_length, 1u));
  uint64_t down = ceil_div(image_length, rows);
  uint64_t m = std::max(rows_multiple, 1u);
  uint64_t length = ceil_div(ceil_div(image_length, std::max<uint64_t>(down, 1)), m) * m;
  tile_length = static_cast<uint32_t>(std::min<uint64_t>(length, UINT32_MAX));
  uses_strips = true;
  uses_tiles = false;
}
