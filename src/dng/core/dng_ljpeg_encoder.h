// The lossless JPEG encoder: one complete stream with optimal Huffman tables
// and predictor 1.
#pragma once

#include <cstdint>
#include <vector>

#include "dng/core/dng_ljpeg_huffman.h"

class dng_stream;

// Variations of the written stream that only the codec's tests ask for; the
// defaults give the encoder's ordinary stream.
struct ljpeg_encode_options {
  uint32_t predictor = 1;        // 1-7 (0 and above 7 are written as given)
  uint32_t point_transform = 0;  // written in Al; sets only the first predictor
  uint32_t restart_interval = 0; // in pixels; a DRI segment when non-zero
  // Tables to use instead of the optimal ones (counts and values only);
  // null means optimal.
  const ljpeg_huffman_table* tables[4] = {};
  // Bytes written between SOI and the frame (APPn, COM, DQT, TEM...).
  std::vector<uint8_t> before_frame;
  // Each channel's table is first defined with flat counts, then redefined
  // in place by a second DHT with the same index.
  bool redefine_tables = false;
  // Category 16 is followed by 16 bits (as read with the quirk flag).
  bool category_16_bits = false;
  uint8_t frame_marker = 0xC3;
};

// Writes samples (row r at samples + r x row_step, pixel c of it at
// + c x column_step, channel j at + j) as one lossless JPEG stream at the
// stream's position. channels is 1..4, bit_depth 2..16.
void ljpeg_encode_samples(const uint16_t* samples, uint32_t height, uint32_t width,
                          uint32_t channels, uint32_t bit_depth, int64_t row_step,
                          int64_t column_step, dng_stream& stream);

void ljpeg_encode_samples(const uint16_t* samples, uint32_t height, uint32_t width,
                          uint32_t channels, uint32_t bit_depth, int64_t row_step,
                          int64_t column_step, dng_stream& stream,
                          const ljpeg_encode_options& options);
