#include "dng/core/dng_ljpeg_decoder.h"

#include <cstring>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_spooler.h"
#include "dng/core/dng_stream.h"

namespace {

[[noreturn]] void bad_format() { throw_dng_code(dng_code_bad_format); }

}  // namespace

ljpeg_decoder::ljpeg_decoder(dng_stream& stream, dng_spooler& spooler, bool quirk_16)
    : stream_(stream), spooler_(spooler), quirk_16_(quirk_16) {}

uint8_t ljpeg_decoder::ReadByte() { return stream_.GetUInt8(); }

uint32_t ljpeg_decoder::ReadWord() {
  uint32_t high = stream_.GetUInt8();
  return (high << 8) | stream_.GetUInt8();
}

uint8_t ljpeg_decoder::SkipToMarker() {
  for (;;) {
    uint8_t c = ReadByte();
    if (c != 0xFF) continue;
    do {
      c = ReadByte();
    } while (c == 0xFF);
    if (c != 0) return c;
  }
}

uint8_t ljpeg_decoder::NextSignificantMarker() {
  for (;;) {
    uint8_t marker = SkipToMarker();
    switch (marker) {
      case 0xC0: case 0xC1: case 0xC2: case 0xC3: case 0xC5: case 0xC6: case 0xC7:
      case 0xC8: case 0xC9: case 0xCA: case 0xCB: case 0xCD: case 0xCE: case 0xCF:
      case 0xD8: case 0xD9: case 0xDA:
        return marker;
      case 0xC4:
        ReadHuffmanSegment();
        break;
      case 0xDD:
        if (ReadWord() != 4) bad_format();
        restart_interval_ = ReadWord();
        break;
      case 0x01: case 0xD0: case 0xD1: case 0xD2: case 0xD3: case 0xD4: case 0xD5:
      case 0xD6: case 0xD7: case 0xDB:
        break;
      default: {
        uint32_t length = ReadWord();
        if (length < 2) bad_format();
        uint64_t target = uint64_t{stream_.Position()} + (length - 2);
        if (target > stream_end_) throw_dng_code(dng_code_end_of_file);
        stream_.SeekForRead(static_cast<uint32_t>(target));
        break;
      }
    }
  }
}

void ljpeg_decoder::ReadHuffmanSegment() {
  uint32_t length = ReadWord();
  if (length < 2) bad_format();
  uint32_t remaining = length - 2;
  while (remaining != 0) {
    uint32_t index = ReadByte();
    if (index > 3) bad_format();
    if (tables_[index] == nullptr) {
      table_blocks_[index].Resize(sizeof(ljpeg_huffman_table));
      tables_[index] = static_cast<ljpeg_huffman_table*>(table_blocks_[index].Buffer());
      std::memset(tables_[index], 0, sizeof(ljpeg_huffman_table));
    }
    ljpeg_huffman_table& table = *tables_[index];
    uint8_t counts[17] = {};
    uint32_t total = 0;
    for (int i = 1; i <= 16; ++i) {
      counts[i] = ReadByte();
      total += counts[i];
    }
    if (total > 256) bad_format();
    // A definition must lie inside its segment.
    if (17 + total > remaining) bad_format();
    std::memcpy(table.counts, counts, sizeof counts);
    stream_.GetBytes(table.values, total);
    remaining -= 17 + total;
  }
}

void ljpeg_decoder::ReadStartOfImage() {
  if (ReadByte() != 0xFF || ReadByte() != 0xD8) bad_format();
  restart_interval_ = 0;
  uint8_t marker = NextSignificantMarker();
  if (marker != 0xC0 && marker != 0xC1 && marker != 0xC3) bad_format();
  ReadFrameSegment();
}

void ljpeg_decoder::ReadFrameSegment() {
  uint32_t length = ReadWord();
  precision_ = ReadByte();
  height_ = ReadWord();
  width_ = ReadWord();
  component_count_ = ReadByte();
  if (height_ == 0 || width_ == 0 || component_count_ == 0 || precision_ < 2 || precision_ > 16 ||
      length != 3 * component_count_ + 8) {
    bad_format();
  }
  component_block_.Resize(component_count_ * sizeof(ljpeg_component));
  components_ = static_cast<ljpeg_component*>(component_block_.Buffer());
  for (uint32_t i = 0; i < component_count_; ++i) {
    ljpeg_component& c = components_[i];
    c.id = ReadByte();
    uint8_t sampling = ReadByte();
    c.h_sampling = sampling >> 4;
    c.v_sampling = sampling & 0x0F;
    ReadByte();  // quantisation table, unused by the lossless process
    c.index = static_cast<uint16_t>(i);
    c.table = 0;
  }
}

void ljpeg_decoder::ReadScanSegment() {
  uint32_t length = ReadWord();
  uint32_t n = ReadByte();
  if (n < 1 || n > 4 || length != 2 * n + 6) bad_format();
  scan_count_ = n;
  for (uint32_t i = 0; i < n; ++i) {
    uint8_t id = ReadByte();
    uint8_t table = ReadByte();
    ljpeg_component* found = nullptr;
    for (uint32_t k = 0; k < component_count_; ++k) {
      if (components_[k].id == id) {
        found = &components_[k];
        break;
      }
    }
    if (found == nullptr) bad_format();
    // Only four table slots exist.
    if ((table >> 4) > 3) bad_format();
    found->table = table >> 4;
    scan_components_[i] = found;
  }
  predictor_ = ReadByte();
  ReadByte();  // Se
  point_transform_ = ReadByte() & 0x0F;
}

ljpeg_frame_size ljpeg_decoder::ReadHeaders() {
  stream_end_ = stream_.TotalLength();
  ReadStartOfImage();
  uint8_t marker = NextSignificantMarker();
  if (marker == 0xDA) {
    ReadScanSegment();
  } else if (marker != 0xD9) {
    bad_format();
  }
  PrepareRowBuffers();
  PrepareHuffmanLookups();
  return {width_, height_, scan_count_};
}

void ljpeg_decoder::PrepareRowBuffers() {
  for (uint32_t i = 0; i < component_count_; ++i) {
    if (components_[i].h_sampling != 1 || components_[i].v_sampling != 1) bad_format();
  }
  if (scan_count_ > 4) bad_format();
  if (scan_count_ == 0) return;
  // width <= 65535 and at most 4 components: two rows stay below 1 MB.
  size_t row_samples = size_t{width_} * scan_count_;
  rows_block_.Resize(2 * row_samples * sizeof(uint16_t));
  rows_[0] = static_cast<uint16_t*>(rows_block_.Buffer());
  rows_[1] = rows_[0] + row_samples;
}

void ljpeg_decoder::PrepareHuffmanLookups() {
  buffer_ = 0;
  bits_ = 0;
  at_marker_ = false;
  at_end_ = false;
  for (uint32_t i = 0; i < scan_count_; ++i) {
    ljpeg_huffman_table* table = tables_[scan_components_[i]->table];
    if (table == nullptr) bad_format();
    build_huffman_lookup(*table);
    scan_tables_[i] = table;
  }
  rows_per_restart_ = restart_interval_ / width_;
  next_restart_ = 0;
  rows_left_ = rows_per_restart_;
}

void ljpeg_decoder::Refill() {
  // Fill to more than 56 bits, a byte at a time; a marker or the end of the
  // stream ends the data, and nothing past it is taken.
  while (bits_ <= 56 && !at_marker_ && !at_end_) {
    uint32_t position = stream_.Position();
    if (position >= stream_end_) {
      at_end_ = true;
      break;
    }
    uint32_t c = stream_.GetUInt8();
    if (c == 0xFF) {
      if (position + 1 >= stream_end_) {
        stream_.SeekForRead(position);
        at_end_ = true;
        break;
      }
      uint32_t next = stream_.GetUInt8();
      if (next != 0) {
        stream_.SeekForRead(position);
        at_marker_ = true;
        break;
      }
    }
    buffer_ = (buffer_ << 8) | c;
    bits_ += 8;
  }
}

void ljpeg_decoder::FailPastEnd() {
  // Bits past a marker are no data: the entropy-coded segment is damaged.
  // Past the end of the stream, the data was cut short.
  if (at_marker_) bad_format();
  throw_dng_code(dng_code_end_of_file);
}

int32_t ljpeg_decoder::DecodeSymbol(const ljpeg_huffman_table& table) {
  if (bits_ < 8) Refill();
  uint32_t peek = bits_ >= 8 ? static_cast<uint32_t>(buffer_ >> (bits_ - 8)) & 0xFF
                             : static_cast<uint32_t>(buffer_ << (8 - bits_)) & 0xFF;
  int32_t symbol;
  uint32_t length = static_cast<uint32_t>(table.lookahead_length[peek]);
  if (length != 0) {
    TakeBits(length);
    symbol = table.lookahead_symbol[peek];
  } else {
    int32_t code = static_cast<int32_t>(TakeBits(8));
    length = 8;
    while (code > table.max_code[length]) {
      code = (code << 1) | static_cast<int32_t>(TakeBits(1));
      ++length;
      // A code that matches no entry: the data is damaged.
      if (length > 16) bad_format();
    }
    symbol = table.values[(table.value_index[length] + code - table.min_code[length]) & 0xFF];
  }
  if (symbol > 16) bad_format();
  return symbol;
}

int32_t ljpeg_decoder::DecodeDifference(const ljpeg_huffman_table& table) {
  int32_t s = DecodeSymbol(table);
  if (s == 0) return 0;
  int32_t v;
  if (s == 16) {
    if (!quirk_16_) return 32768;
    v = static_cast<int32_t>(TakeBits(8) << 8);
    v |= static_cast<int32_t>(TakeBits(8));
  } else {
    v = static_cast<int32_t>(TakeBits(static_cast<uint32_t>(s)));
  }
  if (v < (1 << (s - 1))) v -= (1 << s) - 1;
  return v;
}

void ljpeg_decoder::DecodeFirstRow(uint16_t* row) {
  uint32_t n = scan_count_;
  uint32_t first =
      point_transform_ < precision_ ? 1u << (precision_ - point_transform_ - 1) : 0u;
  for (uint32_t c = 0; c < n; ++c) {
    row[c] = static_cast<uint16_t>(first + static_cast<uint32_t>(DecodeDifference(*scan_tables_[c])));
  }
  for (uint32_t x = 1; x < width_; ++x) {
    uint16_t* p = row + x * n;
    const uint16_t* left = p - n;
    for (uint32_t c = 0; c < n; ++c) {
      p[c] = static_cast<uint16_t>(left[c] + static_cast<uint32_t>(DecodeDifference(*scan_tables_[c])));
    }
  }
}

void ljpeg_decoder::DecodeRow(uint16_t* row, const uint16_t* above) {
  uint32_t n = scan_count_;
  for (uint32_t c = 0; c < n; ++c) {
    row[c] = static_cast<uint16_t>(above[c] + static_cast<uint32_t>(DecodeDifference(*scan_tables_[c])));
  }
  for (uint32_t x = 1; x < width_; ++x) {
    uint16_t* p = row + x * n;
    const uint16_t* left = p - n;
    const uint16_t* q = above + x * n;
    const uint16_t* q_left = q - n;
    for (uint32_t c = 0; c < n; ++c) {
      int32_t ra = left[c];
      int32_t rb = q[c];
      int32_t rc = q_left[c];
      int32_t prediction;
      switch (predictor_) {
        case 0: prediction = 0; break;
        case 1: prediction = ra; break;
        case 2: prediction = rb; break;
        case 3: prediction = rc; break;
        case 4: prediction = ra + rb - rc; break;
        case 5: prediction = ra + ((rb - rc) >> 1); break;
        case 6: prediction = rb + ((ra - rc) >> 1); break;
        case 7: prediction = (ra + rb) >> 1; break;
        default: bad_format();
      }
      p[c] = static_cast<uint16_t>(static_cast<uint32_t>(prediction) +
                                   static_cast<uint32_t>(DecodeDifference(*scan_tables_[c])));
    }
  }
}

void ljpeg_decoder::DecodeRowTwoComponentsLeft(uint16_t* row, const uint16_t* above) {
  const ljpeg_huffman_table& t0 = *scan_tables_[0];
  const ljpeg_huffman_table& t1 = *scan_tables_[1];
  uint32_t left0 = static_cast<uint16_t>(above[0] + static_cast<uint32_t>(DecodeDifference(t0)));
  uint32_t left1 = static_cast<uint16_t>(above[1] + static_cast<uint32_t>(DecodeDifference(t1)));
  row[0] = static_cast<uint16_t>(left0);
  row[1] = static_cast<uint16_t>(left1);
  for (uint32_t x = 1; x < width_; ++x) {
    left0 = (left0 + static_cast<uint32_t>(DecodeDifference(t0))) & 0xFFFF;
    left1 = (left1 + static_cast<uint32_t>(DecodeDifference(t1))) & 0xFFFF;
    row[2 * x] = static_cast<uint16_t>(left0);
    row[2 * x + 1] = static_cast<uint16_t>(left1);
  }
}

void ljpeg_decoder::ResyncAtRestart() {
  uint32_t back = bits_ / 8;
  uint32_t position = stream_.Position();
  stream_.SeekForRead(position >= back ? position - back : 0);
  buffer_ = 0;
  bits_ = 0;
  at_marker_ = false;
  at_end_ = false;
  if (SkipToMarker() != 0xD0 + next_restart_) bad_format();
  rows_left_ = rows_per_restart_;
  next_restart_ = (next_restart_ + 1) & 7;
}

void ljpeg_decoder::CheckSampleRange(const uint16_t* row) const {
  // A sound encoder's samples fit the frame's precision, and the decoder
  // gives back exactly the encoder's samples; a larger one comes from
  // damaged data.
  if (precision_ >= 16) return;
  uint32_t all = 0;
  for (uint32_t i = 0, n = width_ * scan_count_; i < n; ++i) all |= row[i];
  if ((all >> precision_) != 0) bad_format();
}

void ljpeg_decoder::CheckDataLeftOver() {
  // Whole bytes already in the bit buffer, then data bytes still before the
  // marker (or the end of the stream) that ends the data; a stuffed 0xFF
  // 0x00 pair is one data byte, and 0xFF fill bytes belong to the marker.
  uint32_t left = bits_ / 8;
  if (!at_marker_ && !at_end_) {
    const uint32_t start = stream_.Position();
    uint32_t position = start;
    while (left <= ljpeg_max_data_left_over && position < stream_end_) {
      uint32_t c = stream_.GetUInt8();
      ++position;
      if (c == 0xFF) {
        if (position >= stream_end_) break;
        uint32_t next = stream_.GetUInt8();
        ++position;
        if (next != 0) break;
      }
      ++left;
    }
    stream_.SeekForRead(start);
  }
  if (left > ljpeg_max_data_left_over) bad_format();
}

void ljpeg_decoder::DecodeAllRows() {
  if (scan_count_ == 0) return;
  uint32_t row_bytes = width_ * scan_count_ * 2;
  bool restarts = rows_per_restart_ != 0;
  bool two_left = !general_only_ && scan_count_ == 2 && predictor_ == 1;

  DecodeFirstRow(rows_[0]);
  if (restarts) --rows_left_;
  CheckSampleRange(rows_[0]);
  spooler_.Spool(rows_[0], row_bytes);
  uint32_t current = 1;
  for (uint32_t y = 1; y < height_; ++y) {
    uint16_t* row = rows_[current];
    const uint16_t* above = rows_[current ^ 1];
    if (restarts && rows_left_ == 0) {
      ResyncAtRestart();
      DecodeFirstRow(row);
      --rows_left_;
    } else {
      if (restarts) --rows_left_;
      if (two_left) {
        DecodeRowTwoComponentsLeft(row, above);
      } else {
        DecodeRow(row, above);
      }
    }
    CheckSampleRange(row);
    spooler_.Spool(row, row_bytes);
    current ^= 1;
  }
  CheckDataLeftOver();
}

void ljpeg_decode_to_spooler(dng_stream& stream, dng_spooler& spooler, uint64_t minimum_bytes,
                             uint64_t maximum_bytes, bool quirk_16) {
  ljpeg_decoder decoder(stream, spooler, quirk_16);
  ljpeg_frame_size size = decoder.ReadHeaders();
  uint64_t bytes = uint64_t{size.width} * size.height * size.components * 2;
  if (bytes < minimum_bytes || bytes > maximum_bytes) bad_format();
  decoder.DecodeAllRows();
}
