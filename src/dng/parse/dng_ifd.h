// One TIFF image file directory of a DNG file: the image's size and sample
// layout, where its strips or tiles lie, its compression, the CFA
// description, linearisation, black and white levels, crop and scale. The
// container parser offers it every entry of its directory; FinishParse fills
// defaults; Validate checks it against the DNG rules with one error line per
// failure. Geometry is computed in 64 bits so that no product of file values
// wraps. Used by one thread; owned by the dng_info that made it.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_rational.h"

class dng_host;
class dng_image;
class dng_shared;
class dng_stream;

// Tile and strip boundaries in 64 bits: a hostile tile size times a tile
// index does not fit a dng_box.
struct dng_tile_bounds {
  int64_t top = 0;
  int64_t left = 0;
  int64_t bottom = 0;
  int64_t right = 0;
};

class dng_ifd {
 public:
  dng_ifd() = default;
  virtual ~dng_ifd() = default;
  dng_ifd(const dng_ifd&) = delete;
  dng_ifd& operator=(const dng_ifd&) = delete;

  // True when the entry belongs to an image directory (the stream stands at
  // the value position). Throws 100006 when BitsPerSample or SampleFormat
  // values differ after the fourth.
  virtual bool ReadTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
                       uint32_t value_position);
  virtual void FinishParse();
  virtual bool Validate(const dng_shared& shared, uint32_t parent) const;
  // Bytes of one uncompressed tile of the given area; 0 unless Compression
  // is 1.
  virtual uint64_t UncompressedTileBytes(const dng_box& area) const;
  virtual uint32_t SamplePixelType() const;
  virtual bool Is8BitJPEG() const;
  // Whether the raw image reader can read this directory's image data, and
  // the read itself (see dng_read_image).
  virtual bool CanReadImageData() const;
  virtual void ReadImageData(dng_host& host, dng_stream& stream, dng_image& image) const;
  // Whether the file can hold this directory's image data, before the
  // image is made (see dng_read_image::CheckImageData); failures name the
  // directory by its parent code and throw.
  void CheckImageData(dng_stream& stream, uint32_t parent) const;
  virtual bool ValidateCFA(const dng_shared& shared, uint32_t parent) const;

  uint64_t TileColumns() const;
  uint64_t TileRows() const;
  uint64_t TileCount() const;
  dng_tile_bounds TileBounds(uint64_t row, uint64_t column) const;
  void UseSingleTile();
  void ChooseTileSize(uint32_t byte_budget, uint32_t width_multiple, uint32_t length_multiple);
  void ChooseStripRows(uint32_t byte_budget, uint32_t rows_multiple);

  // The active area's width and height, 0 when empty.
  uint32_t ActiveWidth() const { return active_area.W(); }
  uint32_t ActiveHeight() const { return active_area.H(); }

  static constexpr uint32_t kMaxTileOffsets = 32;
  static constexpr uint32_t kNoPhotometric = 0xFFFFFFFF;

  bool uses_new_subfile_type = false;
  uint32_t new_subfile_type = 0;
  uint32_t image_width = 0;
  uint32_t image_length = 0;
  uint32_t bits_per_sample[4] = {0, 0, 0, 0};
  uint32_t compression = 1;
  uint32_t predictor = 1;
  uint32_t photometric_interpretation = kNoPhotometric;
  uint32_t fill_order = 1;
  uint32_t orientation = 0;
  uint32_t samples_per_pixel = 1;
  uint32_t planar_configuration = 1;
  double x_resolution = 0.0;
  double y_resolution = 0.0;
  uint32_t resolution_unit = 0;
  bool uses_strips = false;
  bool uses_tiles = false;
  uint32_t tile_width = 0;
  uint32_t tile_length = 0;
  uint32_t tile_offsets_type = 0;
  uint32_t tile_offsets_count = 0;
  uint32_t tile_offsets_position = 0;
  uint32_t tile_offset[kMaxTileOffsets] = {};
  uint32_t tile_byte_counts_type = 0;
  uint32_t tile_byte_counts_count = 0;
  uint32_t tile_byte_counts_position = 0;
  uint32_t tile_byte_count[kMaxTileOffsets] = {};
  uint32_t sub_ifds_count = 0;
  uint32_t sub_ifds_position = 0;
  uint32_t extra_samples_count = 0;
  uint32_t extra_samples[4] = {0, 0, 0, 0};
  uint32_t sample_format[4] = {1, 1, 1, 1};
  uint32_t jpeg_tables_count = 0;
  uint32_t jpeg_tables_position = 0;
  uint32_t jpeg_interchange_format = 0;
  uint32_t jpeg_interchange_format_length = 0;
  double ycbcr_coefficient_r = 0.0;
  double ycbcr_coefficient_g = 0.0;
  double ycbcr_coefficient_b = 0.0;
  uint32_t ycbcr_sub_sample_h = 0;
  uint32_t ycbcr_sub_sample_v = 0;
  uint32_t ycbcr_positioning = 0;
  double reference_black_white[6] = {0, 0, 0, 0, 0, 0};
  uint32_t cfa_repeat_pattern_rows = 0;
  uint32_t cfa_repeat_pattern_cols = 0;
  uint8_t cfa_pattern[8][8] = {{255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
                               {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
                               {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255},
                               {255, 255, 255, 255, 255, 255, 255, 255}, {255, 255, 255, 255, 255, 255, 255, 255}};
  uint8_t cfa_plane_color[4] = {0, 1, 2, 255};
  uint32_t cfa_layout = 1;
  uint32_t linearization_table_type = 0;
  uint32_t linearization_table_count = 0;
  uint32_t linearization_table_position = 0;
  uint32_t black_level_repeat_rows = 1;
  uint32_t black_level_repeat_cols = 1;
  double black_level[8][8][4] = {};
  uint32_t black_level_delta_h_type = 0;
  uint32_t black_level_delta_h_count = 0;
  uint32_t black_level_delta_h_position = 0;
  uint32_t black_level_delta_v_type = 0;
  uint32_t black_level_delta_v_count = 0;
  uint32_t black_level_delta_v_position = 0;
  double white_level[4] = {-1.0, -1.0, -1.0, -1.0};
  dng_unsigned_ratio default_scale_h{1, 1};
  dng_unsigned_ratio default_scale_v{1, 1};
  dng_unsigned_ratio best_quality_scale{1, 1};
  dng_unsigned_ratio default_crop_origin_h{0, 1};
  dng_unsigned_ratio default_crop_origin_v{0, 1};
  dng_unsigned_ratio default_crop_size_h{0, 0};
  dng_unsigned_ratio default_crop_size_v{0, 0};
  uint32_t bayer_green_split = 0;
  dng_unsigned_ratio chroma_blur_radius{0, 0};
  dng_unsigned_ratio anti_alias_strength{1, 1};
  dng_box active_area;
  uint32_t masked_areas_count = 0;
  dng_box masked_area[4];
  bool lossless_jpeg_bug16 = false;
  uint32_t this_ifd_offset = 0;
  uint32_t next_ifd_offset = 0;

 private:
  // ReadTag in two steps: the values into the fields, then, with
  // dng_verbose on, one dump of the taken tag to standard output.
  bool StoreTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count);
  void DumpTag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
               uint32_t value_position) const;
};
