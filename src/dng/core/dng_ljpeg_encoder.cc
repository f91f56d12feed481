#include "dng/core/dng_ljpeg_encoder.h"

#include <cstring>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_stream.h"

namespace {

class ljpeg_encoder {
 public:
  ljpeg_encoder(const uint16_t* samples, uint32_t height, uint32_t width, uint32_t channels,
                uint32_t bit_depth, int64_t row_step, int64_t column_step, dng_stream& stream,
                const ljpeg_encode_options& options)
      : samples_(samples), height_(height), width_(width), channels_(channels),
        bit_depth_(bit_depth), row_step_(row_step), column_step_(column_step), stream_(stream),
        options_(options) {
    if (channels_ < 1 || channels_ > 4) throw_dng_code(dng_code_unknown);
    bit_count_[0] = 0;
    for (int v = 1; v < 256; ++v) {
      int n = 0;
      for (int t = v; t != 0; t >>= 1) ++n;
      bit_count_[v] = static_cast<uint8_t>(n);
    }
    uint32_t pt = options_.point_transform;
    first_prediction_ = pt < bit_depth_ ? 1u << (bit_depth_ - pt - 1) : 0u;
    rows_per_restart_ = options_.restart_interval / width_;
  }

  void WriteImage();

 private:
  uint32_t Category(int32_t difference) const {
    uint32_t magnitude = static_cast<uint32_t>(difference < 0 ? -difference : difference);
    if (magnitude < 256) return bit_count_[magnitude];
    return 8u + bit_count_[magnitude >> 8];
  }
  const uint16_t* Pixel(uint32_t row, uint32_t column) const {
    return samples_ + row_step_ * int64_t{row} + column_step_ * int64_t{column};
  }
  int32_t Prediction(uint32_t row, uint32_t column, uint32_t channel, bool first_row) const;
  template <class Visit>
  void ForEachDifference(Visit&& visit);
  void CountSymbols();
  void BuildOptimalTables();
  void WriteFrameSegment();
  void WriteHuffmanSegment(uint32_t channel, const ljpeg_huffman_table& table);
  void WriteScanSegment();
  void WriteScanData();
  void PutBits(uint32_t code, uint32_t length);
  void FlushBits();
  void PutDifference(int32_t difference, const ljpeg_huffman_table& table);
  void PutScanByte(uint8_t byte) {
    if (scan_used_ == sizeof scan_buffer_) FlushScanBuffer();
    scan_buffer_[scan_used_++] = byte;
  }
  void FlushScanBuffer() {
    stream_.PutBytes(scan_buffer_, scan_used_);
    scan_used_ = 0;
  }

  const uint16_t* samples_;
  uint32_t height_;
  uint32_t width_;
  uint32_t channels_;
  uint32_t bit_depth_;
  int64_t row_step_;
  int64_t column_step_;
  dng_stream& stream_;
  const ljpeg_encode_options& options_;
  uint32_t first_prediction_ = 0;
  uint32_t rows_per_restart_ = 0;

  uint32_t accumulator_ = 0;
  uint32_t pending_ = 0;
  uint8_t bit_count_[256];
  ljpeg_huffman_table tables_[4];
  uint32_t frequencies_[4][257] = {};
  // Entropy-coded bytes go to the stream in blocks rather than one by one.
  uint8_t scan_buffer_[16384];
  uint32_t scan_used_ = 0;
};

int32_t ljpeg_encoder::Prediction(uint32_t row, uint32_t column, uint32_t channel,
                                  bool first_row) const {
  if (column == 0) {
    if (first_row) return static_cast<int32_t>(first_prediction_);
    return Pixel(row - 1, 0)[channel];
  }
  int32_t ra = Pixel(row, column - 1)[channel];
  if (first_row) return ra;
  int32_t rb = Pixel(row - 1, column)[channel];
  int32_t rc = Pixel(row - 1, column - 1)[channel];
  switch (options_.predictor) {
    case 1: return ra;
    case 2: return rb;
    case 3: return rc;
    case 4: return ra + rb - rc;
    case 5: return ra + ((rb - rc) >> 1);
    case 6: return rb + ((ra - rc) >> 1);
    case 7: return (ra + rb) >> 1;
    default: return 0;
  }
}

// Calls visit(channel, difference) for every sample in stream order, and
// visit(-1, restart number) where a restart marker goes.
template <class Visit>
void ljpeg_encoder::ForEachDifference(Visit&& visit) {
  uint32_t rows_left = rows_per_restart_;
  uint32_t restart = 0;
  for (uint32_t row = 0; row < height_; ++row) {
    bool first_row = row == 0;
    if (rows_per_restart_ != 0) {
      if (row != 0 && rows_left == 0) {
        visit(-1, static_cast<int32_t>(restart));
        restart = (restart + 1) & 7;
        rows_left = rows_per_restart_;
        first_row = true;
      }
      --rows_left;
    }
    for (uint32_t column = 0; column < width_; ++column) {
      const uint16_t* p = Pixel(row, column);
      for (uint32_t channel = 0; channel < channels_; ++channel) {
        int32_t prediction = Prediction(row, column, channel, first_row);
        int32_t difference = static_cast<int16_t>(
            static_cast<uint16_t>(static_cast<uint32_t>(p[channel]) - static_cast<uint32_t>(prediction)));
        visit(static_cast<int32_t>(channel), difference);
      }
    }
  }
}

void ljpeg_encoder::CountSymbols() {
  ForEachDifference(
      [this](int32_t channel, int32_t difference) {
        if (channel >= 0) ++frequencies_[channel][Category(difference)];
      });
}

void ljpeg_encoder::BuildOptimalTables() {
  CountSymbols();
  for (uint32_t channel = 0; channel < channels_; ++channel) {
    ljpeg_huffman_table& table = tables_[channel];
    std::memset(&table, 0, sizeof table);
    if (options_.tables[channel] != nullptr) {
      std::memcpy(table.counts, options_.tables[channel]->counts, sizeof table.counts);
      std::memcpy(table.values, options_.tables[channel]->values, sizeof table.values);
    } else {
      try {
        ljpeg_code_lengths(table, frequencies_[channel]);
      } catch (...) {
        uint32_t flat[257] = {};
        for (int s = 0; s <= 16; ++s) flat[s] = 1;
        std::memcpy(frequencies_[channel], flat, sizeof flat);
        ljpeg_code_lengths(table, frequencies_[channel]);
      }
    }
    build_huffman_lookup(table);
  }
}

void ljpeg_encoder::WriteFrameSegment() {
  stream_.PutUInt8(0xFF);
  stream_.PutUInt8(options_.frame_marker);
  auto word = [this](uint32_t v) {
    stream_.PutUInt8(static_cast<uint8_t>(v >> 8));
    stream_.PutUInt8(static_cast<uint8_t>(v));
  };
  word(3 * channels_ + 8);
  stream_.PutUInt8(static_cast<uint8_t>(bit_depth_));
  word(height_);
  word(width_);
  stream_.PutUInt8(static_cast<uint8_t>(channels_));
  for (uint32_t channel = 0; channel < channels_; ++channel) {
    stream_.PutUInt8(static_cast<uint8_t>(channel));
    stream_.PutUInt8(0x11);
    stream_.PutUInt8(0);
  }
}

void ljpeg_encoder::WriteHuffmanSegment(uint32_t channel, const ljpeg_huffman_table& table) {
  uint32_t total = 0;
  for (int i = 1; i <= 16; ++i) total += table.counts[i];
  stream_.PutUInt8(0xFF);
  stream_.PutUInt8(0xC4);
  uint32_t length = 19 + total;
  stream_.PutUInt8(static_cast<uint8_t>(length >> 8));
  stream_.PutUInt8(static_cast<uint8_t>(length));
  stream_.PutUInt8(static_cast<uint8_t>(channel));
  stream_.PutBytes(table.counts + 1, 16);
  stream_.PutBytes(table.values, total);
}

void ljpeg_encoder::WriteScanSegment() {
  stream_.PutUInt8(0xFF);
  stream_.PutUInt8(0xDA);
  uint32_t length = 2 * channels_ + 6;
  stream_.PutUInt8(static_cast<uint8_t>(length >> 8));
  stream_.PutUInt8(static_cast<uint8_t>(length));
  stream_.PutUInt8(static_cast<uint8_t>(channels_));
  for (uint32_t channel = 0; channel < channels_; ++channel) {
    stream_.PutUInt8(static_cast<uint8_t>(channel));
    stream_.PutUInt8(static_cast<uint8_t>(channel << 4));
  }
  stream_.PutUInt8(static_cast<uint8_t>(options_.predictor));
  stream_.PutUInt8(0);
  stream_.PutUInt8(static_cast<uint8_t>(options_.point_transform & 0x0F));
}

void ljpeg_encoder::PutBits(uint32_t code, uint32_t length) {
  // The oldest pending bit sits at bit 23; whole bytes leave from the top.
  pending_ += length;
  accumulator_ |= (code & ((1u << length) - 1u)) << (24 - pending_);
  while (pending_ >= 8) {
    uint8_t byte = static_cast<uint8_t>(accumulator_ >> 16);
    PutScanByte(byte);
    if (byte == 0xFF) PutScanByte(0);
    accumulator_ = (accumulator_ << 8) & 0xFFFFFF;
    pending_ -= 8;
  }
}

void ljpeg_encoder::FlushBits() {
  // Seven 1-bits complete a partial last byte; nothing leaves otherwise.
  PutBits(0x7F, 7);
  accumulator_ = 0;
  pending_ = 0;
}

void ljpeg_encoder::PutDifference(int32_t difference, const ljpeg_huffman_table& table) {
  uint32_t category = Category(difference);
  PutBits(table.encode_code[category], table.encode_length[category]);
  if (category == 0) return;
  if (category == 16) {
    if (options_.category_16_bits) {
      PutBits(0x80, 8);
      PutBits(0x00, 8);
    }
    return;
  }
  int32_t bits = difference < 0 ? difference - 1 : difference;
  PutBits(static_cast<uint32_t>(bits) & ((1u << category) - 1u), category);
}

void ljpeg_encoder::WriteScanData() {
  ForEachDifference(
      [this](int32_t channel, int32_t value) {
        if (channel < 0) {
          FlushBits();
          PutScanByte(0xFF);
          PutScanByte(static_cast<uint8_t>(0xD0 + value));
          return;
        }
        PutDifference(value, tables_[channel]);
      });
  FlushBits();
  FlushScanBuffer();
}

void ljpeg_encoder::WriteImage() {
  BuildOptimalTables();
  stream_.PutUInt8(0xFF);
  stream_.PutUInt8(0xD8);
  if (!options_.before_frame.empty()) {
    stream_.PutBytes(options_.before_frame.data(), static_cast<uint32_t>(options_.before_frame.size()));
  }
  WriteFrameSegment();
  for (uint32_t channel = 0; channel < channels_; ++channel) {
    if (options_.redefine_tables) {
      ljpeg_huffman_table flat;
      std::memset(&flat, 0, sizeof flat);
      flat.counts[5] = 17;
      for (int s = 0; s <= 16; ++s) flat.values[s] = static_cast<uint8_t>(16 - s);
      WriteHuffmanSegment(channel, flat);
    }
    WriteHuffmanSegment(channel, tables_[channel]);
  }
  if (options_.restart_interval != 0) {
    stream_.PutUInt8(0xFF);
    stream_.PutUInt8(0xDD);
    stream_.PutUInt8(0);
    stream_.PutUInt8(4);
    stream_.PutUInt8(static_cast<uint8_t>(options_.restart_interval >> 8));
    stream_.PutUInt8(static_cast<uint8_t>(options_.restart_interval));
  }
  WriteScanSegment();
  WriteScanData();
  stream_.PutUInt8(0xFF);
  stream_.PutUInt8(0xD9);
}

}  // namespace

void ljpeg_encode_samples(const uint16_t* samples, uint32_t height, uint32_t width,
                          uint32_t channels, uint32_t bit_depth, int64_t row_step,
                          int64_t column_step, dng_stream& stream,
                          const ljpeg_encode_options& options) {
  ljpeg_encoder encoder(samples, height, width, channels, bit_depth, row_step, column_step, stream,
                        options);
  encoder.WriteImage();
}

void ljpeg_encode_samples(const uint16_t* samples, uint32_t height, uint32_t width,
                          uint32_t channels, uint32_t bit_depth, int64_t row_step,
                          int64_t column_step, dng_stream& stream) {
  ljpeg_encode_samples(samples, height, width, channels, bit_depth, row_step, column_step, stream,
                       ljpeg_encode_options{});
}
