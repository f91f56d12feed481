// Writes the benchmark scene (bench/raw_scene.h) through the raw DNG builder
// as a little-endian lossless DNG: a 14-bit RGGB CFA image (black 512,
// white 16383) in 256 x 256 tiles, each tile one
// lossless JPEG frame of two components at half width (the layout cameras
// use), tiles over the right and bottom edges encoded whole. Prints the
// compressed size against 16-bit and packed 14-bit storage.
//   make_raw_scene OUT.dng [WIDTH HEIGHT]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/raw_scene.h"
#include "support/raw_dng_builder.h"

int main(int argc, char** argv) {
  if (argc != 2 && argc != 4) {
    std::fprintf(stderr, "usage: make_raw_scene OUT.dng [WIDTH HEIGHT]\n");
    return 2;
  }
  testing_support::RawDngOptions o;
  o.name = "scene";
  o.width = argc == 4 ? uint32_t(std::atoi(argv[2])) : 6000;
  o.height = argc == 4 ? uint32_t(std::atoi(argv[3])) : 4000;
  if (o.width < 2 || o.height < 2 || o.width % 2 != 0) {
    std::fprintf(stderr, "make_raw_scene: the width must be even and both sides at least 2\n");
    return 2;
  }
  o.bits = 14;
  o.compression = 7;
  o.jpeg_components = 2;
  o.tile_width = o.tile_length = 256;
  o.expected_samples = false;  // raw_pipeline_time --verify checks stage 1 against the scene
  o.black_levels = {double(raw_scene::kBlack)};
  o.white_level = raw_scene::kWhite;
  const uint32_t width = o.width, height = o.height;
  // Eight pixels of padding on every side for the interpolation.
  if (width > 32 && height > 32) {
    o.default_crop_origin = {{8, 1}, {8, 1}};
    o.default_crop_size = {{width - 16, 1}, {height - 16, 1}};
  }
  o.scene = [width, height](uint32_t x, uint32_t y, uint32_t) { return raw_scene::sample(y, x, width, height); };
  const std::string bytes = testing_support::build_raw_dng(o).bytes;
  FILE* f = std::fopen(argv[1], "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::fprintf(stderr, "make_raw_scene: cannot write %s\n", argv[1]);
    return 1;
  }
  const double size = double(bytes.size()), pixels = double(width) * height;
  std::printf("%s: %ux%u 14-bit RGGB, lossless JPEG in 256 x 256 tiles of two-component half-width "
              "frames, %.1f MB, %.2f bits per sample; ratio %.2f:1 against 16-bit samples, %.2f:1 "
              "against packed 14-bit\n",
              argv[1], width, height, size / 1e6, size * 8 / pixels, pixels * 2 / size, pixels * 14 / 8 / size);
  return 0;
}
