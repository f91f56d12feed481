#include "dng/render/dng_tag_sets.h"

#include "dng/core/dng_errors.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/parse/dng_ifd.h"

basic_tag_set::basic_tag_set(tag_directory& directory, const dng_ifd& ifd) {
  const uint32_t samples = ifd.samples_per_pixel;
  if (samples < 1 || samples > 4) throw_dng_code(dng_code_unknown);
  const uint64_t tiles = ifd.TileCount();
  // Offsets and byte counts are LONG arrays of one directory entry each.
  if (tiles == 0 || tiles > 0x10000000u) throw_dng_code(dng_code_unknown);
  tile_count_ = static_cast<uint32_t>(tiles);
  tile_data_.Resize(size_t(tiles) * 2 * sizeof(uint32_t));
  for (uint32_t i = 0; i < 2 * tile_count_; ++i) TileOffsets()[i] = 0;

  new_subfile_type_ = std::make_unique<tag_uint32>(254, ifd.new_subfile_type);
  directory.Insert(new_subfile_type_.get());
  image_width_ = std::make_unique<tag_uint32>(256, ifd.image_width);
  directory.Insert(image_width_.get());
  image_length_ = std::make_unique<tag_uint32>(257, ifd.image_length);
  directory.Insert(image_length_.get());
  photometric_ = std::make_unique<tag_uint16>(262, uint16_t(ifd.photometric_interpretation));
  directory.Insert(photometric_.get());
  samples_per_pixel_ = std::make_unique<tag_uint16>(277, uint16_t(samples));
  directory.Insert(samples_per_pixel_.get());
  for (uint32_t i = 0; i < samples; ++i) bits_per_sample_[i] = uint16_t(ifd.bits_per_sample[0]);
  bits_per_sample_tag_ = std::make_unique<tag_uint16_ptr>(258, bits_per_sample_, samples);
  directory.Insert(bits_per_sample_tag_.get());
  const uint32_t bits = ifd.bits_per_sample[0];
  if (bits != 8 && bits != 16 && bits != 32) {
    fill_order_ = std::make_unique<tag_uint16>(266, 1);
    directory.Insert(fill_order_.get());
  }
  if (ifd.uses_tiles) {
    tile_width_ = std::make_unique<tag_uint32>(322, ifd.tile_width);
    directory.Insert(tile_width_.get());
  }
  tile_length_ = std::make_unique<tag_uint32>(ifd.uses_tiles ? 323 : 278, ifd.tile_length);
  directory.Insert(tile_length_.get());
  tile_offsets_ = std::make_unique<tag_uint32_ptr>(ifd.uses_tiles ? 324 : 273, TileOffsets(), tile_count_);
  directory.Insert(tile_offsets_.get());
  tile_byte_counts_ =
      std::make_unique<tag_uint32_ptr>(ifd.uses_tiles ? 325 : 279, TileByteCounts(), tile_count_);
  directory.Insert(tile_byte_counts_.get());
  planar_configuration_ = std::make_unique<tag_uint16>(284, 1);
  directory.Insert(planar_configuration_.get());
  compression_ = std::make_unique<tag_uint16>(259, uint16_t(ifd.compression));
  directory.Insert(compression_.get());
  if (ifd.predictor != 1) {
    predictor_ = std::make_unique<tag_uint16>(317, uint16_t(ifd.predictor));
    directory.Insert(predictor_.get());
  }
  if (ifd.extra_samples_count != 0) {
    const uint32_t n = ifd.extra_samples_count < 4 ? ifd.extra_samples_count : 4;
    for (uint32_t i = 0; i < n; ++i) extra_samples_[i] = uint16_t(ifd.extra_samples[i]);
    extra_samples_tag_ = std::make_unique<tag_uint16_ptr>(338, extra_samples_, n);
    directory.Insert(extra_samples_tag_.get());
  }
  if (ifd.sample_format[0] != 1) {
    for (uint32_t i = 0; i < samples; ++i) sample_format_[i] = uint16_t(ifd.sample_format[0]);
    sample_format_tag_ = std::make_unique<tag_uint16_ptr>(339, sample_format_, samples);
    directory.Insert(sample_format_tag_.get());
  }
}

jpeg_tag_set::jpeg_tag_set(tag_directory& directory, const dng_ifd& ifd,
                           const dng_encoded_preview& preview)
    : basic_tag_set(directory, ifd) {
  if (ifd.photometric_interpretation != 6) return;
  coefficients_[0] = {299, 1000};
  coefficients_[1] = {587, 1000};
  coefficients_[2] = {114, 1000};
  coefficients_tag_ = std::make_unique<tag_urational_ptr>(529, coefficients_, 3);
  directory.Insert(coefficients_tag_.get());
  sub_sampling_[0] = preview.ycbcr_sub_sampling_h;
  sub_sampling_[1] = preview.ycbcr_sub_sampling_v;
  sub_sampling_tag_ = std::make_unique<tag_uint16_ptr>(530, sub_sampling_, 2);
  directory.Insert(sub_sampling_tag_.get());
  positioning_tag_ = std::make_unique<tag_uint16>(531, preview.ycbcr_positioning);
  directory.Insert(positioning_tag_.get());
  const uint32_t reference[6] = {0, 255, 128, 255, 128, 255};
  for (int i = 0; i < 6; ++i) reference_black_white_[i] = {reference[i], 1};
  reference_black_white_tag_ = std::make_unique<tag_urational_ptr>(532, reference_black_white_, 6);
  directory.Insert(reference_black_white_tag_.get());
}

mosaic_tag_group::mosaic_tag_group(tag_directory& directory, const dng_mosaic_info& info) {
  if (!info.IsColorFilterArray()) return;
  const uint32_t rows = info.pattern_rows < 8 ? info.pattern_rows : 8;
  const uint32_t cols = info.pattern_cols < 8 ? info.pattern_cols : 8;
  repeat_dim_[0] = uint16_t(rows);
  repeat_dim_[1] = uint16_t(cols);
  repeat_dim_tag_ = std::make_unique<tag_uint16_ptr>(33421, repeat_dim_, 2);
  directory.Insert(repeat_dim_tag_.get());
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) pattern_[r * cols + c] = info.pattern[r][c];
  }
  pattern_tag_ = std::make_unique<tag_uint8_ptr>(33422, pattern_, rows * cols);
  directory.Insert(pattern_tag_.get());
  const uint32_t colors = info.color_planes < 4 ? info.color_planes : 4;
  for (uint32_t i = 0; i < colors; ++i) plane_color_[i] = info.plane_color[i];
  plane_color_tag_ = std::make_unique<tag_uint8_ptr>(50710, plane_color_, colors);
  directory.Insert(plane_color_tag_.get());
  layout_tag_ = std::make_unique<tag_uint16>(50711, uint16_t(info.cfa_layout));
  directory.Insert(layout_tag_.get());
  if (rows == 2 && cols == 2 && info.color_planes == 3 && info.cfa_layout == 1) {
    green_split_tag_ = std::make_unique<tag_uint32>(50733, info.bayer_green_split);
    directory.Insert(green_split_tag_.get());
  }
}

resolution_tag_set::resolution_tag_set(tag_directory& directory, const dng_pixel_density* density) {
  if (density == nullptr) return;
  x_resolution_ = std::make_unique<tag_urational>(282, density->x_resolution);
  y_resolution_ = std::make_unique<tag_urational>(283, density->y_resolution);
  resolution_unit_ = std::make_unique<tag_uint16>(296, density->resolution_unit);
  directory.Insert(x_resolution_.get());
  directory.Insert(y_resolution_.get());
  directory.Insert(resolution_unit_.get());
}
