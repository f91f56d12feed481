#include "ljpeg_reference.h"

#include <map>
#include <utility>

namespace dng_test {
namespace {

struct Table {
  // (length, code) -> symbol
  std::map<std::pair<int, uint32_t>, int> codes;
};

class BitReader {
 public:
  BitReader(const std::vector<uint8_t>& data, size_t position) : data_(data), position_(position) {}

  // One bit, or -1 at a marker or the end of the data.
  int Bit() {
    if (left_ == 0) {
      if (position_ >= data_.size()) return -1;
      uint8_t c = data_[position_];
      if (c == 0xFF) {
        if (position_ + 1 >= data_.size() || data_[position_ + 1] != 0) return -1;
        position_ += 2;
      } else {
        position_ += 1;
      }
      byte_ = c;
      left_ = 8;
    }
    --left_;
    return (byte_ >> left_) & 1;
  }

  // Drops the rest of the current byte and expects the marker FF code.
  bool Marker(uint8_t code) {
    left_ = 0;
    while (position_ < data_.size() && data_[position_] == 0xFF && position_ + 1 < data_.size() &&
           data_[position_ + 1] == 0xFF) {
      ++position_;
    }
    if (position_ + 1 >= data_.size() || data_[position_] != 0xFF || data_[position_ + 1] != code) {
      return false;
    }
    position_ += 2;
    return true;
  }

 private:
  const std::vector<uint8_t>& data_;
  size_t position_;
  uint8_t byte_ = 0;
  int left_ = 0;
};

}  // namespace

std::optional<ReferenceImage> reference_ljpeg_decode(const std::vector<uint8_t>& data, bool quirk_16) {
  size_t p = 0;
  auto word = [&](size_t at) { return (uint32_t{data[at]} << 8) | data[at + 1]; };
  if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
  p = 2;
  std::map<int, Table> tables;
  uint32_t precision = 0, restart = 0;
  ReferenceImage image;
  std::vector<int> frame_ids;
  std::vector<int> scan_tables;
  int predictor = 0, pt = 0;
  for (;;) {
    if (p + 4 > data.size() || data[p] != 0xFF) return std::nullopt;
    uint8_t marker = data[p + 1];
    if (marker == 0xFF) {
      ++p;
      continue;
    }
    uint32_t length = word(p + 2);
    size_t body = p + 4;
    if (body + length - 2 > data.size()) return std::nullopt;
    if (marker == 0xC3 || marker == 0xC0 || marker == 0xC1) {
      precision = data[body];
      image.height = word(body + 1);
      image.width = word(body + 3);
      for (int i = 0; i < data[body + 5]; ++i) frame_ids.push_back(data[body + 6 + 3 * i]);
    } else if (marker == 0xC4) {
      size_t q = body;
      while (q < body + length - 2) {
        Table& t = tables[data[q]];
        t.codes.clear();
        size_t v = q + 17;
        uint32_t code = 0;
        for (int len = 1; len <= 16; ++len) {
          for (int k = 0; k < data[q + len]; ++k) t.codes[{len, code++}] = data[v++];
          code <<= 1;
        }
        q = v;
      }
    } else if (marker == 0xDD) {
      restart = word(body);
    } else if (marker == 0xDA) {
      int n = data[body];
      for (int i = 0; i < n; ++i) {
        int id = data[body + 1 + 2 * i];
        bool known = false;
        for (int f : frame_ids) known = known || f == id;
        if (!known) return std::nullopt;
        scan_tables.push_back(data[body + 2 + 2 * i] >> 4);
      }
      predictor = data[body + 1 + 2 * n];
      pt = data[body + 3 + 2 * n] & 15;
      image.components = static_cast<uint32_t>(n);
      p = body + length - 2;
      break;
    }
    p = body + length - 2;
  }

  BitReader bits(data, p);
  auto difference = [&](const Table& t) -> std::optional<int32_t> {
    uint32_t code = 0;
    int s = -1;
    for (int len = 1; len <= 16 && s < 0; ++len) {
      int b = bits.Bit();
      if (b < 0) return std::nullopt;
      code = (code << 1) | static_cast<uint32_t>(b);
      auto it = t.codes.find({len, code});
      if (it != t.codes.end()) s = it->second;
    }
    if (s < 0 || s > 16) return std::nullopt;
    if (s == 0) return 0;
    if (s == 16 && !quirk_16) return 32768;
    int32_t v = 0;
    for (int i = 0; i < s; ++i) {
      int b = bits.Bit();
      if (b < 0) return std::nullopt;
      v = (v << 1) | b;
    }
    if (v < (1 << (s - 1))) v -= (1 << s) - 1;
    return v;
  };

  uint32_t n = image.components;
  uint32_t w = image.width;
  image.samples.assign(size_t{w} * image.height * n, 0);
  uint32_t rows_per_restart = restart / w;
  uint32_t restart_number = 0;
  int32_t first = pt < static_cast<int>(precision) ? 1 << (precision - pt - 1) : 0;
  for (uint32_t y = 0; y < image.height; ++y) {
    bool top = y == 0;
    if (rows_per_restart != 0 && y != 0 && y % rows_per_restart == 0) {
      if (!bits.Marker(static_cast<uint8_t>(0xD0 + restart_number))) return std::nullopt;
      restart_number = (restart_number + 1) & 7;
      top = true;
    }
    for (uint32_t x = 0; x < w; ++x) {
      for (uint32_t c = 0; c < n; ++c) {
        auto at = [&](uint32_t yy, uint32_t xx) -> int32_t {
          return image.samples[(size_t{yy} * w + xx) * n + c];
        };
        int32_t prediction;
        if (x == 0) {
          prediction = top ? first : at(y - 1, 0);
        } else if (top) {
          prediction = at(y, x - 1);
        } else {
          int32_t ra = at(y, x - 1), rb = at(y - 1, x), rc = at(y - 1, x - 1);
          switch (predictor) {
            case 1: prediction = ra; break;
            case 2: prediction = rb; break;
            case 3: prediction = rc; break;
            case 4: prediction = ra + rb - rc; break;
            case 5: prediction = ra + ((rb - rc) / 2 - ((rb - rc) < 0 && (rb - rc) % 2 ? 1 : 0)); break;
            case 6: prediction = rb + ((ra - rc) / 2 - ((ra - rc) < 0 && (ra - rc) % 2 ? 1 : 0)); break;
            case 7: prediction = (ra + rb) / 2; break;
            default: return std::nullopt;
          }
        }
        if (static_cast<size_t>(scan_tables[c]) > 3 || !tables.count(scan_tables[c])) return std::nullopt;
        auto d = difference(tables[scan_tables[c]]);
        if (!d) return std::nullopt;
        image.samples[(size_t{y} * w + x) * n + c] = static_cast<uint16_t>(prediction + *d);
      }
    }
  }
  return image;
}

}  // namespace dng_test
