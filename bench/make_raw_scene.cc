// Writes the benchmark scene (bench/raw_scene.h) as a little-endian
// lossless DNG: a 14-bit RGGB CFA image in 256 x 256 tiles, each tile one
// lossless JPEG frame of two components at half width (the layout cameras
// use), tiles over the right and bottom edges encoded whole. Prints the
// compressed size against 16-bit and packed 14-bit storage.
//   make_raw_scene OUT.dng [WIDTH HEIGHT]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/raw_scene.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_ljpeg_encoder.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_memory_stream.h"

namespace {

constexpr uint32_t kTile = 256;

struct Entry {
  uint16_t tag, type;
  uint32_t count;
  std::vector<uint8_t> value;  // little-endian bytes
};

void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}

Entry shorts(uint16_t tag, std::vector<uint32_t> values) {
  Entry e{tag, 3, uint32_t(values.size()), {}};
  for (uint32_t x : values) put16(e.value, x);
  return e;
}
Entry longs(uint16_t tag, std::vector<uint32_t> values) {
  Entry e{tag, 4, uint32_t(values.size()), {}};
  for (uint32_t x : values) put32(e.value, x);
  return e;
}
Entry bytes(uint16_t tag, std::vector<uint8_t> values) {
  return Entry{tag, 1, uint32_t(values.size()), std::move(values)};
}
Entry ascii(uint16_t tag, const std::string& text) {
  Entry e{tag, 2, uint32_t(text.size() + 1), std::vector<uint8_t>(text.begin(), text.end())};
  e.value.push_back(0);
  return e;
}
Entry rationals(uint16_t tag, uint16_t type, std::vector<std::pair<int32_t, int32_t>> values) {
  Entry e{tag, type, uint32_t(values.size()), {}};
  for (auto [n, d] : values) {
    put32(e.value, uint32_t(n));
    put32(e.value, uint32_t(d));
  }
  return e;
}

// Header and one directory; values longer than four bytes follow it.
std::vector<uint8_t> header_and_ifd(const std::vector<Entry>& entries) {
  std::vector<uint8_t> out = {'I', 'I', 42, 0};
  put32(out, 8);
  const uint32_t values_at = 8 + 2 + 12 * uint32_t(entries.size()) + 4;
  std::vector<uint8_t> values;
  put16(out, uint32_t(entries.size()));
  for (const Entry& e : entries) {
    put16(out, e.tag);
    put16(out, e.type);
    put32(out, e.count);
    if (e.value.size() <= 4) {
      std::vector<uint8_t> field = e.value;
      field.resize(4, 0);
      out.insert(out.end(), field.begin(), field.end());
    } else {
      put32(out, values_at + uint32_t(values.size()));
      values.insert(values.end(), e.value.begin(), e.value.end());
      if (values.size() & 1) values.push_back(0);
    }
  }
  put32(out, 0);
  out.insert(out.end(), values.begin(), values.end());
  return out;
}

std::vector<Entry> directory(uint32_t width, uint32_t height, const std::vector<uint32_t>& offsets,
                             const std::vector<uint32_t>& counts) {
  return {
      longs(254, {0}),
      longs(256, {width}),
      longs(257, {height}),
      shorts(258, {14}),
      shorts(259, {7}),
      shorts(262, {32803}),
      ascii(271, "Corvella"),
      ascii(272, "Bench scene"),
      shorts(277, {1}),
      shorts(284, {1}),
      longs(322, {kTile}),
      longs(323, {kTile}),
      longs(324, offsets),
      longs(325, counts),
      shorts(33421, {2, 2}),
      bytes(33422, {0, 1, 1, 2}),
      bytes(50706, {1, 4, 0, 0}),
      bytes(50707, {1, 1, 0, 0}),
      ascii(50708, "Corvella Bench scene"),
      bytes(50710, {0, 1, 2}),
      shorts(50711, {1}),
      shorts(50714, {raw_scene::kBlack}),
      shorts(50717, {raw_scene::kWhite}),
      rationals(50721, 10, {{9000, 10000}, {-2500, 10000}, {-1000, 10000}, {-4000, 10000},
                            {12000, 10000}, {1500, 10000}, {-500, 10000}, {1500, 10000},
                            {6000, 10000}}),
      rationals(50728, 5, {{5500, 10000}, {10000, 10000}, {6500, 10000}}),
      shorts(50778, {21}),
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: make_raw_scene OUT.dng [WIDTH HEIGHT]\n");
    return 2;
  }
  const uint32_t width = argc == 4 ? uint32_t(std::atoi(argv[2])) : 6000;
  const uint32_t height = argc == 4 ? uint32_t(std::atoi(argv[3])) : 4000;
  if (width < 2 || height < 2 || width % 2 != 0) {
    std::fprintf(stderr, "make_raw_scene: the width must be even and both sides at least 2\n");
    return 2;
  }
  const uint32_t across = (width + kTile - 1) / kTile, down = (height + kTile - 1) / kTile;
  const uint32_t tiles = across * down;
  // The samples of every tile, the parts beyond the image included.
  const uint32_t padded_w = across * kTile, padded_h = down * kTile;
  std::vector<uint16_t> samples(size_t(padded_w) * padded_h);
  for (uint32_t r = 0; r < padded_h; ++r) {
    for (uint32_t c = 0; c < padded_w; ++c) {
      samples[size_t(r) * padded_w + c] =
          raw_scene::sample(r < height ? r : height - 2 + (r & 1), c < width ? c : width - 2 + (c & 1),
                            width, height);
    }
  }

  try {
    std::vector<uint32_t> offsets(tiles, 0), counts(tiles, 0);
    const uint32_t header_size = uint32_t(header_and_ifd(directory(width, height, offsets, counts)).size());
    dng_memory_stream stream(default_memory_allocator);
    stream.SeekForWrite(header_size);
    for (uint32_t t = 0; t < tiles; ++t) {
      const uint32_t row = t / across, col = t % across;
      offsets[t] = stream.Position();
      const uint16_t* origin = samples.data() + size_t(row) * kTile * padded_w + size_t(col) * kTile;
      // Two components at half width: pixel c of a frame row holds the
      // samples 2c and 2c + 1 of the tile row.
      ljpeg_encode_samples(origin, kTile, kTile / 2, 2, 14, padded_w, 2, stream);
      counts[t] = stream.Position() - offsets[t];
    }
    const std::vector<uint8_t> header = header_and_ifd(directory(width, height, offsets, counts));
    stream.SeekForWrite(0);
    stream.PutBytes(header.data(), uint32_t(header.size()));
    stream.FlushBuffer();
    std::unique_ptr<dng_memory_block> block(stream.CopyToMemoryBlock(default_memory_allocator));
    FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr || std::fwrite(block->Buffer(), 1, block->Size(), f) != block->Size() ||
        std::fclose(f) != 0) {
      std::fprintf(stderr, "make_raw_scene: cannot write %s\n", argv[1]);
      return 1;
    }
    const double size = double(block->Size());
    const double pixels = double(width) * height;
    std::printf("%s: %ux%u, %u tiles, %.1f MB, %.2f bits per sample; ratio %.2f:1 against 16-bit "
                "samples, %.2f:1 against packed 14-bit\n",
                argv[1], width, height, tiles, size / 1e6, size * 8 / pixels, pixels * 2 / size,
                pixels * 14 / 8 / size);
  } catch (const dng_exception& e) {
    std::fprintf(stderr, "make_raw_scene: error %d\n", e.Code());
    return 1;
  }
  return 0;
}
