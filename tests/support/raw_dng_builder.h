// Deterministic raw DNG files with the samples their raw image must read
// back as: a CFA (any pattern of up to 8 x 8, layouts 1-5) or LinearRaw
// image of any size (a LinearRaw image of one sample is a monochrome one),
// stored uncompressed (8 to 32 bits) or as lossless JPEG (8 to 16 bits, 1-4 components per frame, predictors 1-7, point transform,
// restarts), in strips or tiles, in either byte order, with the
// linearization, masked-area, crop, scale and colour tags of the main image. The file is
// written through DngBuilder, so a caller can add further directories and
// blocks (EXIF, GPS, XMP, IPTC...) through the `extra` hook before layout.
//
// The stored samples are a per-phase offset (phase: position in the CFA
// pattern, or the sample index of a LinearRaw pixel) plus a gradient over
// the image that reaches both 0 and the largest value of the bit depth, so
// every stage sees black, white and clipping.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/dng_builder.h"

namespace testing_support {

using Rational = std::pair<uint32_t, uint32_t>;

struct RawDngOptions {
  std::string name = "raw";
  uint32_t width = 32;
  uint32_t height = 24;

  // The CFA pattern as rows of colour letters (R G B C M Y W, CFA colour
  // codes 0-6); colours lists the letters of the planes in order (the
  // CFAPlaneColor tag). No rows: a LinearRaw image of linear_samples.
  std::vector<std::string> cfa_rows = {"RG", "GB"};
  std::string cfa_colors = "RGB";
  uint32_t cfa_layout = 1;
  uint32_t linear_samples = 3;

  uint32_t bits = 16;
  // 1 uncompressed, 7 lossless JPEG.
  uint32_t compression = 1;
  // Lossless JPEG: components of each frame; the frame is
  // tile width x samples / components wide.
  uint32_t jpeg_components = 1;
  uint32_t predictor = 1;
  uint32_t point_transform = 0;
  uint32_t restart_interval = 0;  // in frame pixels

  // Tiles of tile_width x tile_length; tile_width 0 gives strips of
  // tile_length rows (0: one strip).
  uint32_t tile_width = 0;
  uint32_t tile_length = 0;
  bool big_endian = false;
  // Below 1.1.0.0 the reader decodes category 16 with 16 extra bits; the
  // builder writes them then.
  uint32_t dng_version = 0x01040000;

  // Linearization. Black levels: black_repeat_rows x black_repeat_cols
  // values per sample, by phase (empty: none). Deltas: one value per
  // active-area column (row), made up by the builder.
  std::vector<uint16_t> linearization_table;
  uint32_t black_repeat_rows = 1;
  uint32_t black_repeat_cols = 1;
  std::vector<double> black_levels;
  bool black_delta_h = false;
  bool black_delta_v = false;
  // 0: the largest stored value, or the table's largest entry.
  uint32_t white_level = 0;

  // top, left, bottom, right; none: the whole image.
  std::optional<std::vector<uint32_t>> active_area;
  // MaskedAreas: rectangles (top, left, bottom, right) outside the active
  // area, at most 4; none: no tag.
  std::vector<std::vector<uint32_t>> masked_areas;
  std::optional<std::pair<Rational, Rational>> default_crop_origin;  // h, v
  std::optional<std::pair<Rational, Rational>> default_crop_size;    // h, v
  std::optional<std::pair<Rational, Rational>> default_scale;        // h, v

  // Colour tags: ColorMatrix1 (with CalibrationIlluminant1) is always
  // written, as the colour count comes from it, except for a monochrome
  // image, which has no colour tags. second_illuminant adds ColorMatrix2 with CalibrationIlluminant2;
  // reduction_matrices adds ReductionMatrix1 (and ReductionMatrix2 with the
  // second illuminant), 3 x colours, for images of four colours.
  bool as_shot_neutral = true;
  bool second_illuminant = false;
  bool reduction_matrices = false;
  bool unique_camera_model = true;

  // The sample at (x, y) of plane p in place of the generated scene; must
  // fit the bit depth.
  std::function<uint32_t(uint32_t x, uint32_t y, uint32_t p)> scene;
  // Every tile offset and byte count of the file point at the first tile's
  // data, which is written once; no expected samples are made.
  bool share_first_tile = false;
  // Whether RawDng::stage1 is filled (a benchmark's large image needs only
  // the bytes).
  bool expected_samples = true;
  // Called after the main image is described and before layout.
  std::function<void(DngBuilder&)> extra;
};

struct RawDng {
  std::string bytes;
  uint32_t width = 0, height = 0, samples = 1;
  // Stage-1 samples, row by row, samples of a pixel together.
  std::vector<uint32_t> stage1;
  // Where each strip or tile lies in the file, in the reader's order.
  std::vector<uint32_t> tile_offsets;
  std::vector<uint32_t> tile_byte_counts;
  // File position of the first StripByteCounts or TileByteCounts value.
  uint32_t byte_counts_position = 0;

  uint32_t at(uint32_t x, uint32_t y, uint32_t p = 0) const {
    return stage1[(size_t(y) * width + x) * samples + p];
  }
};

RawDng build_raw_dng(const RawDngOptions& options);

// The generated sample of a layout at (x, y, p).
uint32_t raw_scene_sample(const RawDngOptions& options, uint32_t x, uint32_t y, uint32_t p);

// A table of layouts that together cover every pattern, packing, codec
// variation, tiling, byte order and linearization tag the builder offers.
std::vector<RawDngOptions> raw_dng_layouts();

// Files of width x height whose strips or tiles all point at the data of
// the first one (share_first_tile), so that a small file declares a large
// image: 16-bit CFA uncompressed and lossless, in strips and in tiles, a
// three-sample LinearRaw and a CFA of layout 2 (whose stage 3 is twice as
// tall), both lossless in tiles.
std::vector<RawDngOptions> shared_block_layouts(uint32_t width, uint32_t height);

// CFA colour code of a letter (R 0, G 1, B 2, C 3, M 4, Y 5, W 6).
uint8_t cfa_color_code(char letter);

}  // namespace testing_support
