// The lossless JPEG decoder (Huffman-coded, predictors 1-7, point transform,
// restart intervals) for samples of up to 16 bits.
#pragma once

#include <cstdint>

#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_ljpeg_huffman.h"

class dng_spooler;
class dng_stream;

// Decodes one lossless JPEG stream starting at the stream's position and
// hands every row (width x scan components 16-bit samples) to the spooler.
// Fails with 100006 unless width x height x components x 2 lies between the
// two byte counts, and for every malformed header or entropy-coded segment
// (a code that matches no entry, a category above 16, a bit needed past the
// marker that ends the data, a sample above the frame's precision, more
// than ljpeg_max_data_left_over whole bytes of data unread after the last
// sample). Data left over before a restart
// marker is skipped. Needing bits past the end of the stream raises
// 100011. With quirk_16 set, category 16 is followed by 16 extra bits (as
// written by early writers); clear, it carries none. The stream is left
// where the bit reader stopped, at the latest at the marker that ends the
// data.
void ljpeg_decode_to_spooler(dng_stream& stream, dng_spooler& spooler, uint64_t minimum_bytes,
                             uint64_t maximum_bytes, bool quirk_16);

struct ljpeg_component {
  uint16_t id;
  uint16_t index;
  uint16_t h_sampling;
  uint16_t v_sampling;
  uint16_t table;
};

struct ljpeg_frame_size {
  uint32_t width;
  uint32_t height;
  uint32_t components;  // of the scan; 0 when the frame ends without one
};

class ljpeg_decoder {
 public:
  ljpeg_decoder(dng_stream& stream, dng_spooler& spooler, bool quirk_16);
  ljpeg_decoder(const ljpeg_decoder&) = delete;
  ljpeg_decoder& operator=(const ljpeg_decoder&) = delete;

  ljpeg_frame_size ReadHeaders();
  void DecodeAllRows();

  // Makes every scan go through the general row loop, bypassing the
  // two-component loop; the results must be identical.
  void UseGeneralLoopOnly(bool general) { general_only_ = general; }

 private:
  uint32_t ReadWord();
  uint8_t ReadByte();
  uint8_t SkipToMarker();
  uint8_t NextSignificantMarker();
  void ReadHuffmanSegment();
  void ReadStartOfImage();
  void ReadFrameSegment();
  void ReadScanSegment();
  void PrepareRowBuffers();
  void PrepareHuffmanLookups();

  void Refill();
  [[noreturn]] void FailPastEnd();
  uint32_t TakeBits(uint32_t count) {
    if (bits_ < count) {
      Refill();
      if (bits_ < count) FailPastEnd();
    }
    bits_ -= count;
    return static_cast<uint32_t>(buffer_ >> bits_) & ((1u << count) - 1u);
  }
  int32_t DecodeSymbol(const ljpeg_huffman_table& table);
  int32_t DecodeDifference(const ljpeg_huffman_table& table);
  void DecodeFirstRow(uint16_t* row);
  void DecodeRow(uint16_t* row, const uint16_t* above);
  void DecodeRowTwoComponentsLeft(uint16_t* row, const uint16_t* above);
  void ResyncAtRestart();
  // Fails with 100006 when a sample of the row exceeds the frame's
  // precision.
  void CheckSampleRange(const uint16_t* row) const;
  // Fails with 100006 when more than ljpeg_max_data_left_over bytes of
  // entropy-coded data lie unread after the last sample.
  void CheckDataLeftOver();

  dng_stream& stream_;
  dng_spooler& spooler_;
  bool quirk_16_;
  bool general_only_ = false;
  uint32_t stream_end_ = 0;

  dng_heap_buffer table_blocks_[4];
  ljpeg_huffman_table* tables_[4] = {};

  uint32_t width_ = 0;
  uint32_t height_ = 0;
  uint32_t precision_ = 0;
  dng_heap_buffer component_block_;
  ljpeg_component* components_ = nullptr;
  uint32_t component_count_ = 0;

  const ljpeg_component* scan_components_[4] = {};
  const ljpeg_huffman_table* scan_tables_[4] = {};
  uint32_t scan_count_ = 0;
  uint32_t predictor_ = 0;
  uint32_t point_transform_ = 0;

  uint32_t restart_interval_ = 0;
  uint32_t rows_per_restart_ = 0;
  uint32_t rows_left_ = 0;
  uint32_t next_restart_ = 0;

  dng_heap_buffer rows_block_;
  uint16_t* rows_[2] = {};

  uint64_t buffer_ = 0;
  uint32_t bits_ = 0;
  // Set when the refill stopped at a marker (the data ends there) or at the
  // end of the stream; no further bytes are taken until a restart.
  bool at_marker_ = false;
  bool at_end_ = false;
};
