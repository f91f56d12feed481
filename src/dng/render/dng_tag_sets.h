// Groups of directory entries built from the program's models: the image
// structure of a dng_ifd, the YCbCr entries of a JPEG preview and the CFA
// entries of a mosaic description; and the small value types the image
// writer takes from its callers.
//
// Each set or group inserts its entries into the given directory in its
// constructor and owns them (and every value they point at), so it must
// outlive the writing of that directory.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_rational.h"
#include "dng/render/dng_tiff_tags.h"

class dng_ifd;
class dng_mosaic_info;

// XResolution, YResolution and ResolutionUnit of an image; all zero when
// made.
class dng_pixel_density {
 public:
  dng_unsigned_ratio x_resolution{0, 0};
  dng_unsigned_ratio y_resolution{0, 0};
  uint16_t resolution_unit = 0;
};

// A JPEG-compressed preview handed to the writer, which only reads it.
class dng_encoded_preview {
 public:
  uint32_t height = 0;
  uint32_t width = 0;
  uint16_t photometric = 0;
  uint16_t ycbcr_sub_sampling_v = 0;
  uint16_t ycbcr_sub_sampling_h = 0;
  uint16_t ycbcr_positioning = 0;
  std::unique_ptr<dng_memory_block> jpeg;
};

// XResolution, YResolution and ResolutionUnit of a pixel density, inserted
// into the directory when there is one (nothing without).
class resolution_tag_set {
 public:
  resolution_tag_set(tag_directory& directory, const dng_pixel_density* density);
  resolution_tag_set(const resolution_tag_set&) = delete;
  resolution_tag_set& operator=(const resolution_tag_set&) = delete;

 private:
  std::unique_ptr<tag_urational> x_resolution_;
  std::unique_ptr<tag_urational> y_resolution_;
  std::unique_ptr<tag_uint16> resolution_unit_;
};

// NewSubFileType, the size, photometric, samples and bits, the strip or
// tile layout with an offset and a byte count per tile (left for the writer
// to fill), planar configuration 1, compression, and the predictor, extra
// samples and sample format when they differ from the defaults.
class basic_tag_set {
 public:
  // More than 4 samples per pixel, or more tiles than a directory value
  // can count, raise 100000; allocation failures 100005.
  basic_tag_set(tag_directory& directory, const dng_ifd& ifd);
  virtual ~basic_tag_set() = default;
  basic_tag_set(const basic_tag_set&) = delete;
  basic_tag_set& operator=(const basic_tag_set&) = delete;

  uint32_t TileCount() const { return tile_count_; }
  // Entry i of each: the tile's file offset and its byte count.
  uint32_t* TileOffsets() const { return static_cast<uint32_t*>(tile_data_.Buffer()); }
  uint32_t* TileByteCounts() const { return TileOffsets() + tile_count_; }

 private:
  uint16_t bits_per_sample_[4] = {};
  uint16_t extra_samples_[4] = {};
  uint16_t sample_format_[4] = {};
  uint32_t tile_count_ = 0;
  dng_heap_buffer tile_data_;

  std::unique_ptr<tag_uint32> new_subfile_type_;
  std::unique_ptr<tag_uint32> image_width_;
  std::unique_ptr<tag_uint32> image_length_;
  std::unique_ptr<tag_uint16> photometric_;
  std::unique_ptr<tag_uint16> samples_per_pixel_;
  std::unique_ptr<tag_uint16_ptr> bits_per_sample_tag_;
  std::unique_ptr<tag_uint16> fill_order_;
  std::unique_ptr<tag_uint32> tile_width_;
  std::unique_ptr<tag_uint32> tile_length_;
  std::unique_ptr<tag_uint32_ptr> tile_offsets_;
  std::unique_ptr<tag_uint32_ptr> tile_byte_counts_;
  std::unique_ptr<tag_uint16> planar_configuration_;
  std::unique_ptr<tag_uint16> compression_;
  std::unique_ptr<tag_uint16> predictor_;
  std::unique_ptr<tag_uint16_ptr> extra_samples_tag_;
  std::unique_ptr<tag_uint16_ptr> sample_format_tag_;
};

// The basic entries and, for YCbCr (photometric 6), the coefficients of
// the standard, the preview's subsampling and positioning and the
// reference black and white of full-range data.
class jpeg_tag_set : public basic_tag_set {
 public:
  jpeg_tag_set(tag_directory& directory, const dng_ifd& ifd, const dng_encoded_preview& preview);

 private:
  dng_unsigned_ratio coefficients_[3];
  uint16_t sub_sampling_[2] = {};
  dng_unsigned_ratio reference_black_white_[6];
  std::unique_ptr<tag_urational_ptr> coefficients_tag_;
  std::unique_ptr<tag_uint16_ptr> sub_sampling_tag_;
  std::unique_ptr<tag_uint16> positioning_tag_;
  std::unique_ptr<tag_urational_ptr> reference_black_white_tag_;
};

// CFARepeatPatternDim, CFAPattern (row by row), CFAPlaneColor, CFALayout
// and, for a 2 x 2 three-colour pattern of layout 1, BayerGreenSplit; no
// entries without a pattern.
class mosaic_tag_group {
 public:
  mosaic_tag_group(tag_directory& directory, const dng_mosaic_info& info);
  mosaic_tag_group(const mosaic_tag_group&) = delete;
  mosaic_tag_group& operator=(const mosaic_tag_group&) = delete;

 private:
  uint16_t repeat_dim_[2] = {};
  uint8_t pattern_[64] = {};
  uint8_t plane_color_[4] = {};
  std::unique_ptr<tag_uint16_ptr> repeat_dim_tag_;
  std::unique_ptr<tag_uint8_ptr> pattern_tag_;
  std::unique_ptr<tag_uint8_ptr> plane_color_tag_;
  std::unique_ptr<tag_uint16> layout_tag_;
  std::unique_ptr<tag_uint32> green_split_tag_;
};
