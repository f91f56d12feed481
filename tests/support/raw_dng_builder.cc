#include "support/raw_dng_builder.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "dng/core/dng_ljpeg_encoder.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"

namespace testing_support {

namespace {

constexpr int kIfd0 = DngBuilder::kIfd0;

uint64_t max_sample(uint32_t bits) { return bits >= 32 ? 0xFFFFFFFFull : (1ull << bits) - 1; }

uint32_t samples_per_pixel(const RawDngOptions& o) {
  return o.cfa_rows.empty() ? o.linear_samples : 1;
}

uint32_t color_count(const RawDngOptions& o) {
  return o.cfa_rows.empty() ? o.linear_samples : static_cast<uint32_t>(o.cfa_colors.size());
}

// A small deterministic hash: a few bits of texture on the gradient.
uint32_t mix(uint32_t x, uint32_t y, uint32_t p) {
  uint32_t h = x * 0x9E3779B1u ^ (y + 0x7F4A7C15u) * 0x85EBCA77u ^ (p + 1) * 0xC2B2AE3Du;
  h ^= h >> 15;
  h *= 0x2C1B3C6Du;
  h ^= h >> 12;
  return h;
}

void put_word(std::string& out, uint64_t v, uint32_t size, bool big) {
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t shift = big ? 8 * (size - 1 - i) : 8 * i;
    out.push_back(static_cast<char>(static_cast<uint8_t>(v >> shift)));
  }
}

// One stored row: 8, 16 and 32 bits as words in the file's byte order,
// every other width packed most significant bit first and padded to a byte.
void put_row(std::string& out, const std::vector<uint32_t>& values, uint32_t bits, bool big) {
  if (bits == 8 || bits == 16 || bits == 32) {
    for (uint32_t v : values) put_word(out, v, bits / 8, big);
    return;
  }
  uint64_t acc = 0;
  uint32_t n = 0;
  for (uint32_t v : values) {
    acc = (acc << bits) | v;
    n += bits;
    while (n >= 8) {
      out.push_back(static_cast<char>(static_cast<uint8_t>(acc >> (n - 8))));
      n -= 8;
    }
    acc &= (1ull << n) - 1;
  }
  if (n > 0) out.push_back(static_cast<char>(static_cast<uint8_t>(acc << (8 - n))));
}

std::string encode_lossless(const RawDngOptions& o, const std::vector<uint16_t>& samples, uint32_t tw,
                            uint32_t th) {
  const uint32_t spp = samples_per_pixel(o);
  const uint32_t c = o.jpeg_components;
  if (c == 0 || (tw * spp) % c != 0) throw std::invalid_argument("components do not divide the tile row");
  dng_memory_stream m(default_memory_allocator);
  ljpeg_encode_options e;
  e.predictor = o.predictor;
  e.point_transform = o.point_transform;
  e.restart_interval = o.restart_interval;
  e.category_16_bits = o.dng_version < 0x01010000;
  ljpeg_encode_samples(samples.data(), th, tw * spp / c, c, o.bits, int64_t{tw} * spp, c, m, e);
  m.FlushBuffer();
  std::string bytes(static_cast<size_t>(m.TotalLength()), '\0');
  m.SeekForRead(0);
  m.GetBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return bytes;
}

std::pair<uint32_t, uint32_t> as_rational(double v, uint32_t denominator) {
  return {static_cast<uint32_t>(std::lround(v * denominator)), denominator};
}

}  // namespace

uint8_t cfa_color_code(char letter) {
  static const std::string kLetters = "RGBCMYW";
  size_t i = kLetters.find(letter);
  if (i == std::string::npos) throw std::invalid_argument("unknown CFA colour letter");
  return static_cast<uint8_t>(i);
}

uint32_t raw_scene_sample(const RawDngOptions& o, uint32_t x, uint32_t y, uint32_t p) {
  if (o.scene) return o.scene(x, y, p);
  const uint64_t max = max_sample(o.bits);
  uint32_t phase = p, phases = samples_per_pixel(o);
  if (!o.cfa_rows.empty()) {
    const auto rows = static_cast<uint32_t>(o.cfa_rows.size());
    const auto cols = static_cast<uint32_t>(o.cfa_rows[0].size());
    phase = (y % rows) * cols + x % cols;
    phases = rows * cols;
  }
  // The gradient runs from -max/10 at the top-left corner to 11 max/10 at
  // the bottom-right one, so both ends clip whatever the phase offset.
  const uint64_t span = max + max / 5;
  const uint64_t steps = std::max<uint64_t>(1, uint64_t{o.width} + o.height - 2);
  const int64_t gradient = static_cast<int64_t>(span * (uint64_t{x} + y) / steps) - static_cast<int64_t>(max / 10);
  const int64_t offset = static_cast<int64_t>(max / 4 * phase / phases);
  const int64_t noise = mix(x, y, p) % 8;
  return static_cast<uint32_t>(std::clamp<int64_t>(gradient + offset + noise, 0, static_cast<int64_t>(max)));
}

RawDng build_raw_dng(const RawDngOptions& o) {
  if (o.bits < 8 || o.bits > 32 || (o.compression == 7 && o.bits > 16)) {
    throw std::invalid_argument("bit depth outside the codec's range");
  }
  const uint32_t spp = samples_per_pixel(o);
  const uint32_t colors = color_count(o);
  const bool strips = o.tile_width == 0;
  const uint32_t tw = strips ? o.width : o.tile_width;
  const uint32_t tl = o.tile_length == 0 ? o.height : o.tile_length;
  const uint32_t across = (o.width + tw - 1) / tw;
  const uint32_t down = (o.height + tl - 1) / tl;

  RawDng r;
  r.width = o.width;
  r.height = o.height;
  r.samples = spp;
  if (o.expected_samples && !o.share_first_tile) {
    r.stage1.resize(size_t{o.width} * o.height * spp);
    for (uint32_t y = 0; y < o.height; ++y)
      for (uint32_t x = 0; x < o.width; ++x)
        for (uint32_t p = 0; p < spp; ++p) r.stage1[(size_t{y} * o.width + x) * spp + p] = raw_scene_sample(o, x, y, p);
  }

  DngBuilder b(o.big_endian);
  std::vector<uint32_t> offsets, counts;
  for (uint32_t row = 0; row < down; ++row) {
    for (uint32_t col = 0; col < across; ++col) {
      if (o.share_first_tile && !offsets.empty()) {
        offsets.push_back(offsets[0]);
        counts.push_back(counts[0]);
        continue;
      }
      const uint32_t left = col * tw, top = row * tl;
      // Strips stop at the image's last row; tiles are stored whole.
      const uint32_t th = strips ? std::min(tl, o.height - top) : tl;
      std::string data;
      if (o.compression == 7) {
        std::vector<uint16_t> s;
        s.reserve(size_t{tw} * th * spp);
        for (uint32_t y = 0; y < th; ++y)
          for (uint32_t x = 0; x < tw; ++x)
            for (uint32_t p = 0; p < spp; ++p) s.push_back(static_cast<uint16_t>(raw_scene_sample(o, left + x, top + y, p)));
        data = encode_lossless(o, s, tw, th);
      } else {
        std::vector<uint32_t> values(size_t{tw} * spp);
        for (uint32_t y = 0; y < th; ++y) {
          for (uint32_t x = 0; x < tw; ++x)
            for (uint32_t p = 0; p < spp; ++p) values[size_t{x} * spp + p] = raw_scene_sample(o, left + x, top + y, p);
          put_row(data, values, o.bits, o.big_endian);
        }
      }
      if (data.size() & 1) data.push_back('\0');
      offsets.push_back(b.append_image_data(data));
      counts.push_back(static_cast<uint32_t>(data.size()));
    }
  }

  b.add_long(kIfd0, 254, {0});
  b.add_long(kIfd0, 256, {o.width});
  b.add_long(kIfd0, 257, {o.height});
  b.add_short(kIfd0, 258, std::vector<uint16_t>(spp, static_cast<uint16_t>(o.bits)));
  b.add_short(kIfd0, 259, {static_cast<uint16_t>(o.compression)});
  b.add_short(kIfd0, 262, {static_cast<uint16_t>(o.cfa_rows.empty() ? 34892 : 32803)});
  b.add_ascii(kIfd0, 271, "Corvella");
  b.add_ascii(kIfd0, 272, "Raw Builder");
  b.add_short(kIfd0, 274, {1});
  b.add_short(kIfd0, 277, {static_cast<uint16_t>(spp)});
  b.add_short(kIfd0, 284, {1});
  if (strips) {
    b.add_image_offsets(kIfd0, 273, offsets);
    b.add_long(kIfd0, 278, {tl});
    b.add_long(kIfd0, 279, counts);
  } else {
    b.add_long(kIfd0, 322, {tw});
    b.add_long(kIfd0, 323, {tl});
    b.add_image_offsets(kIfd0, 324, offsets);
    b.add_long(kIfd0, 325, counts);
  }

  if (!o.cfa_rows.empty()) {
    const auto rows = static_cast<uint16_t>(o.cfa_rows.size());
    const auto cols = static_cast<uint16_t>(o.cfa_rows[0].size());
    b.add_short(kIfd0, 33421, {rows, cols});
    std::vector<uint8_t> pattern;
    for (const std::string& line : o.cfa_rows)
      for (char letter : line) pattern.push_back(cfa_color_code(letter));
    b.add_byte(kIfd0, 33422, pattern);
    std::vector<uint8_t> planes;
    for (char letter : o.cfa_colors) planes.push_back(cfa_color_code(letter));
    b.add_byte(kIfd0, 50710, planes);
    b.add_short(kIfd0, 50711, {static_cast<uint16_t>(o.cfa_layout)});
  }

  // DNG and colour tags.
  auto version_bytes = [](uint32_t v) {
    return std::vector<uint8_t>{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16),
                                static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  };
  b.add_byte(kIfd0, 50706, version_bytes(o.dng_version));
  b.add_byte(kIfd0, 50707, version_bytes(std::min<uint32_t>(o.dng_version, 0x01010000)));
  if (o.unique_camera_model) b.add_ascii(kIfd0, 50708, "Corvella Raw Builder");
  static const std::vector<std::pair<int32_t, int32_t>> kMatrix = {
      {10000, 10000}, {-2000, 10000}, {-1000, 10000}, {-3000, 10000}, {12000, 10000}, {1000, 10000},
      {-500, 10000},  {2000, 10000},  {7000, 10000},  {4000, 10000},  {5000, 10000},  {-1500, 10000}};
  // The second illuminant's matrix: the first one with a warmer red row.
  static const std::vector<std::pair<int32_t, int32_t>> kMatrix2 = {
      {8000, 10000},  {-1000, 10000}, {-500, 10000},  {-3000, 10000}, {12500, 10000}, {500, 10000},
      {-1000, 10000}, {2500, 10000},  {8000, 10000},  {3500, 10000},  {5500, 10000},  {-1000, 10000}};
  // A monochrome image has no colour tags: a ColorMatrix1 of 3 values reads
  // as three planes, and the other colour tags are not taken without it.
  if (colors > 1) {
    auto first_rows = [&](const std::vector<std::pair<int32_t, int32_t>>& m) {
      return std::vector<std::pair<int32_t, int32_t>>(m.begin(), m.begin() + 3 * colors);
    };
    b.add_srational(kIfd0, 50721, first_rows(kMatrix));
    if (o.second_illuminant) b.add_srational(kIfd0, 50722, first_rows(kMatrix2));
    if (o.reduction_matrices) {
      if (colors != 4) throw std::invalid_argument("reduction matrices need four colours");
      // Rows: red, green and blue as mixtures of the four planes.
      b.add_srational(kIfd0, 50725, {{6000, 10000}, {2000, 10000}, {0, 10000}, {2000, 10000},
                                     {0, 10000}, {5000, 10000}, {5000, 10000}, {0, 10000},
                                     {2000, 10000}, {0, 10000}, {2000, 10000}, {6000, 10000}});
      if (o.second_illuminant) {
        b.add_srational(kIfd0, 50726, {{5000, 10000}, {2500, 10000}, {0, 10000}, {2500, 10000},
                                       {0, 10000}, {6000, 10000}, {4000, 10000}, {0, 10000},
                                       {2500, 10000}, {0, 10000}, {2500, 10000}, {5000, 10000}});
      }
    }
    b.add_short(kIfd0, 50778, {21});
    if (o.second_illuminant) b.add_short(kIfd0, 50779, {17});
    if (o.as_shot_neutral) {
      static const std::vector<std::pair<uint32_t, uint32_t>> kNeutral = {{1, 2}, {1, 1}, {2, 3}, {3, 4}};
      b.add_rational(kIfd0, 50728, std::vector<std::pair<uint32_t, uint32_t>>(kNeutral.begin(), kNeutral.begin() + colors));
    }
  }

  // Linearization.
  const std::vector<uint32_t> active =
      o.active_area ? *o.active_area : std::vector<uint32_t>{0, 0, o.height, o.width};
  if (o.active_area) b.add_long(kIfd0, 50829, active);
  if (!o.masked_areas.empty()) {
    std::vector<uint32_t> rects;
    for (const std::vector<uint32_t>& r0 : o.masked_areas) {
      if (r0.size() != 4) throw std::invalid_argument("a masked area has four sides");
      rects.insert(rects.end(), r0.begin(), r0.end());
    }
    b.add_long(kIfd0, 50830, rects);
  }
  if (!o.linearization_table.empty()) b.add_short(kIfd0, 50712, o.linearization_table);
  if (!o.black_levels.empty()) {
    b.add_short(kIfd0, 50713, {static_cast<uint16_t>(o.black_repeat_rows), static_cast<uint16_t>(o.black_repeat_cols)});
    const size_t phases = size_t{o.black_repeat_rows} * o.black_repeat_cols;
    std::vector<std::pair<uint32_t, uint32_t>> levels;
    for (size_t i = 0; i < phases; ++i)
      for (uint32_t p = 0; p < spp; ++p)
        levels.push_back(as_rational(o.black_levels.size() == phases ? o.black_levels[i] : o.black_levels[i * spp + p], 4));
    b.add_rational(kIfd0, 50714, levels);
  }
  if (o.black_delta_h) {
    std::vector<std::pair<int32_t, int32_t>> d;
    for (uint32_t c = 0; c < active[3] - active[1]; ++c) d.push_back({static_cast<int32_t>(c * 7 % 11) * 2 - 10, 4});
    b.add_srational(kIfd0, 50715, d);
  }
  if (o.black_delta_v) {
    std::vector<std::pair<int32_t, int32_t>> d;
    for (uint32_t r0 = 0; r0 < active[2] - active[0]; ++r0) d.push_back({static_cast<int32_t>(r0 * 5 % 9) - 4, 2});
    b.add_srational(kIfd0, 50716, d);
  }
  uint32_t white = o.white_level;
  if (white == 0) {
    white = o.linearization_table.empty()
                ? static_cast<uint32_t>(max_sample(o.bits))
                : *std::max_element(o.linearization_table.begin(), o.linearization_table.end());
  }
  b.add_long(kIfd0, 50717, std::vector<uint32_t>(spp, white));
  if (o.default_scale) b.add_rational(kIfd0, 50718, {o.default_scale->first, o.default_scale->second});
  if (o.default_crop_origin) {
    b.add_rational(kIfd0, 50719, {o.default_crop_origin->first, o.default_crop_origin->second});
  }
  if (o.default_crop_size) b.add_rational(kIfd0, 50720, {o.default_crop_size->first, o.default_crop_size->second});

  if (o.extra) o.extra(b);
  r.bytes = b.build();
  const uint32_t image_at = b.mark("image");
  r.byte_counts_position = b.value_position(kIfd0, strips ? 279 : 325);
  for (size_t i = 0; i < offsets.size(); ++i) {
    r.tile_offsets.push_back(image_at + offsets[i]);
    r.tile_byte_counts.push_back(counts[i]);
  }
  return r;
}

std::vector<RawDngOptions> shared_block_layouts(uint32_t width, uint32_t height) {
  std::vector<RawDngOptions> t;
  auto add = [&](const std::string& name, uint32_t compression, uint32_t tile_width, uint32_t tile_length,
                 auto&& set) {
    RawDngOptions o;
    o.name = name;
    o.width = width;
    o.height = height;
    o.compression = compression;
    o.jpeg_components = compression == 7 ? 2 : 1;
    o.tile_width = tile_width;
    o.tile_length = tile_length;
    o.share_first_tile = true;
    o.expected_samples = false;
    set(o);
    t.push_back(o);
  };
  auto none = [](RawDngOptions&) {};
  add("uncompressed strips", 1, 0, 1, none);
  add("uncompressed tiles", 1, 256, 256, none);
  add("lossless strips", 7, 0, 16, none);
  add("lossless tiles", 7, 256, 256, none);
  add("LinearRaw lossless tiles", 7, 256, 256, [](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.jpeg_components = 3;
  });
  add("CFALayout 2 lossless tiles", 7, 256, 256, [](RawDngOptions& o) { o.cfa_layout = 2; });
  return t;
}

std::vector<RawDngOptions> raw_dng_layouts() {
  std::vector<RawDngOptions> t;
  auto add = [&t](const std::string& name, auto&& set) {
    RawDngOptions o;
    o.name = name;
    set(o);
    t.push_back(o);
  };
  auto cfa = [](RawDngOptions& o, std::vector<std::string> rows, std::string colors) {
    o.cfa_rows = std::move(rows);
    o.cfa_colors = std::move(colors);
  };
  auto lossless = [](RawDngOptions& o, uint32_t bits, uint32_t components) {
    o.compression = 7;
    o.bits = bits;
    o.jpeg_components = components;
  };

  // Patterns and layouts.
  add("RGGB 16-bit strips, last strip short", [](RawDngOptions& o) { o.tile_length = 10; });
  add("GRBG 12-bit big-endian, odd width", [&](RawDngOptions& o) {
    cfa(o, {"GR", "BG"}, "RGB");
    o.bits = 12;
    o.width = 33;
    o.big_endian = true;
    o.tile_length = 7;
  });
  add("CYGM lossless 14-bit tiles overhanging", [&](RawDngOptions& o) {
    cfa(o, {"CYCY", "GMGM"}, "CYGM");
    lossless(o, 14, 2);
    o.width = 40;
    o.height = 20;
    o.tile_width = 16;
    o.tile_length = 16;
  });
  add("3 x 3 pattern, 10-bit", [&](RawDngOptions& o) {
    cfa(o, {"RGB", "GBR", "BRG"}, "RGB");
    o.bits = 10;
    o.width = 27;
    o.height = 19;
    o.tile_length = 5;
  });
  add("6 x 6 pattern lossless 12-bit", [&](RawDngOptions& o) {
    cfa(o, {"GRGGBG", "BGBRGR", "GRGGBG", "GBGGRG", "RGRBGB", "GBGGRG"}, "RGB");
    lossless(o, 12, 2);
    o.width = 36;
    o.height = 30;
    o.tile_width = 32;
    o.tile_length = 16;
  });
  for (uint32_t layout = 2; layout <= 5; ++layout) {
    add("RGGB layout " + std::to_string(layout), [&](RawDngOptions& o) {
      o.cfa_layout = layout;
      o.width = 20;
      o.height = 14;
    });
  }
  add("LinearRaw uncompressed tiles", [](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.width = 20;
    o.height = 18;
    o.tile_width = 16;
    o.tile_length = 16;
  });
  add("LinearRaw lossless three components", [&](RawDngOptions& o) {
    o.cfa_rows.clear();
    lossless(o, 16, 3);
    o.width = 18;
    o.height = 12;
  });
  add("LinearRaw four samples, lossless four components", [&](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.linear_samples = 4;
    lossless(o, 13, 4);
    o.width = 16;
    o.height = 10;
  });

  // Every uncompressed packing.
  for (uint32_t bits = 8; bits <= 32; ++bits) {
    add("uncompressed " + std::to_string(bits) + "-bit" + (bits % 2 ? " big-endian" : ""), [&](RawDngOptions& o) {
      o.bits = bits;
      o.width = 13 + bits % 3;
      o.height = 6;
      o.tile_length = 4;
      o.big_endian = bits % 2 == 1;
    });
  }

  // Lossless JPEG: depths, components, predictors, point transform, restarts.
  for (uint32_t bits = 8; bits <= 16; ++bits) {
    add("lossless " + std::to_string(bits) + "-bit, predictor " + std::to_string(bits % 7 + 1), [&](RawDngOptions& o) {
      lossless(o, bits, bits % 2 ? 1 : 2);
      o.predictor = bits % 7 + 1;
      o.width = 24;
      o.height = 10;
      o.tile_width = 16;
      o.tile_length = 16;
      o.big_endian = bits % 3 == 0;
    });
  }
  for (uint32_t predictor = 1; predictor <= 7; ++predictor) {
    add("lossless predictor " + std::to_string(predictor) + ", quarter-width frames of four components", [&](RawDngOptions& o) {
      lossless(o, 14, 4);
      o.predictor = predictor;
      o.width = 32;
      o.height = 12;
    });
  }
  add("lossless point transform 2", [&](RawDngOptions& o) {
    lossless(o, 12, 2);
    o.point_transform = 2;
  });
  add("lossless restarts every 16 frame pixels", [&](RawDngOptions& o) {
    lossless(o, 16, 2);
    o.restart_interval = 16;
    o.tile_length = 8;
  });
  add("lossless 16-bit, DNG 1.0 (category 16 with 16 bits)", [&](RawDngOptions& o) {
    lossless(o, 16, 2);
    o.dng_version = 0x01000000;
    // Differences of 32768: category 16.
    o.scene = [](uint32_t x, uint32_t y, uint32_t) { return (x + y) % 2 ? 0u : 32768u; };
  });
  add("lossless 16-bit, DNG 1.4, category 16 without extra bits", [&](RawDngOptions& o) {
    lossless(o, 16, 1);
    o.scene = [](uint32_t x, uint32_t y, uint32_t) { return (x + y) % 2 ? 0u : 32768u; };
  });

  // Tilings.
  add("one tile", [&](RawDngOptions& o) {
    lossless(o, 14, 2);
    o.tile_width = 32;
    o.tile_length = 32;
  });
  add("more than 32 tiles, big-endian", [&](RawDngOptions& o) {
    lossless(o, 12, 2);
    o.width = 112;
    o.height = 90;
    o.tile_width = 16;
    o.tile_length = 16;
    o.big_endian = true;
  });
  add("more than 32 strips", [](RawDngOptions& o) {
    o.height = 40;
    o.tile_length = 1;
  });

  // Linearization, crop and scale.
  add("linearization table, 2 x 2 black, deltas, active area", [&](RawDngOptions& o) {
    o.bits = 12;
    o.width = 40;
    o.height = 30;
    for (uint32_t i = 0; i < 3000; ++i) o.linearization_table.push_back(static_cast<uint16_t>(i * i / 200));
    o.black_repeat_rows = 2;
    o.black_repeat_cols = 2;
    o.black_levels = {400, 410.5, 420, 405.25};
    o.black_delta_h = true;
    o.black_delta_v = true;
    o.active_area = std::vector<uint32_t>{2, 4, 28, 36};
    o.default_crop_origin = std::make_pair(Rational{2, 1}, Rational{2, 1});
    o.default_crop_size = std::make_pair(Rational{28, 1}, Rational{22, 1});
  });
  add("black level and white level, lossless, default scale", [&](RawDngOptions& o) {
    lossless(o, 14, 2);
    o.black_levels = {512};
    o.white_level = 15000;
    o.active_area = std::vector<uint32_t>{0, 2, 24, 30};
    o.default_scale = std::make_pair(Rational{2, 1}, Rational{1, 1});
    o.default_crop_size = std::make_pair(Rational{24, 1}, Rational{20, 1});
  });
  add("EXIF, GPS, XMP and IPTC blocks beside the image", [&](RawDngOptions& o) {
    lossless(o, 14, 2);
    o.tile_width = 16;
    o.tile_length = 16;
    o.extra = [](DngBuilder& b) {
      const int exif = b.exif_ifd();
      b.add_rational(exif, 33434, {{1, 125}});
      b.add_ascii(exif, 36867, "2026:12:10 12:00:00");
      b.add_byte(b.gps_ifd(), 0, {2, 3, 0, 0});
      b.add_xmp(kIfd0,
                "<?xpacket begin=\"\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?><x:xmpmeta xmlns:x=\"adobe:ns:meta/\">"
                "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"\" "
                "xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"><xmp:Rating>3</xmp:Rating></rdf:Description></rdf:RDF>"
                "</x:xmpmeta><?xpacket end=\"w\"?>");
      b.add_iptc(kIfd0, std::string("\x1C\x02\x00\x00\x02\x00\x04\x1C\x02\x78\x00\x05hello", 17));
    };
  });
  add("monochrome, 14-bit lossless", [&](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.linear_samples = 1;
    lossless(o, 14, 1);
    o.width = 22;
    o.height = 14;
  });
  add("CYGM with reduction matrices and two illuminants", [&](RawDngOptions& o) {
    cfa(o, {"CY", "GM"}, "CYGM");
    o.second_illuminant = true;
    o.reduction_matrices = true;
  });
  add("masked areas beside the active area", [](RawDngOptions& o) {
    o.bits = 12;
    o.width = 40;
    o.height = 30;
    o.black_levels = {256};
    o.active_area = std::vector<uint32_t>{2, 4, 30, 40};
    o.masked_areas = {{0, 0, 2, 40}, {2, 0, 30, 4}};
  });
  add("LinearRaw with a black level per sample", [](RawDngOptions& o) {
    o.cfa_rows.clear();
    o.bits = 14;
    o.black_levels = {100, 200, 300};
  });
  return t;
}

}  // namespace testing_support
