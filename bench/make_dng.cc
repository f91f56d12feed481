// Writes the DNG files of bench/dng_verify and bench/worker_memory:
//   make_dng sensor OUT   a 24-megapixel camera file: 6000 x 4000 14-bit
//                         RGGB, lossless JPEG in 256 x 256 tiles, sensor
//                         noise over a smooth scene, EXIF, GPS, maker note,
//                         IPTC and XMP
//   make_dng hostile OUT [WIDTH HEIGHT [cfa|linear]]
//                         a small file declaring a large 16-bit image (by
//                         default the largest the reader accepts, 30000 x
//                         30000 CFA) whose tiles all point at one tile's
//                         data
//   make_dng plain OUT WIDTH HEIGHT cfa|linear
//                         a sound 16-bit camera file of that size, lossless
//                         JPEG in 256 x 256 tiles (linear: three planes)
//   make_dng shared DIR   the files of bench/dng_shared_blocks: 30000 x
//                         23860 images whose strips or tiles all point at
//                         one block (uncompressed and lossless, strips and
//                         tiles, LinearRaw, CFALayout 2), one .tif each
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/dng_metadata_blocks.h"
#include "support/raw_dng_builder.h"

namespace {

bool write_file(const std::string& path, const std::string& bytes) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0) {
    std::perror(path.c_str());
    return false;
  }
  return true;
}

int usage() {
  std::fprintf(stderr,
               "usage: make_dng sensor OUT\n"
               "       make_dng hostile OUT [WIDTH HEIGHT [cfa|linear]]\n"
               "       make_dng plain OUT WIDTH HEIGHT cfa|linear\n"
               "       make_dng shared DIR\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return usage();
  using namespace testing_support;
  const std::string kind = argv[1];
  if (kind == "shared") {
    if (argc != 3) return usage();
    for (const RawDngOptions& o : shared_block_layouts(30000, 23860)) {
      std::string name = o.name;
      for (char& c : name) c = c == ' ' ? '-' : c;
      if (!write_file(std::string(argv[2]) + "/" + name + ".tif", build_raw_dng(o).bytes)) return 1;
    }
    return 0;
  }
  RawDngOptions o;
  if (kind == "sensor" && argc == 3) {
    o = camera_raw_options(6000, 4000, true, true, 256, 256);
    o.bits = 14;
    o.white_level = 16383;
    o.scene = [](uint32_t x, uint32_t y, uint32_t p) {
      uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (p * 83492791u);
      h ^= h >> 13;
      h *= 0x5bd1e995u;
      h ^= h >> 15;
      return 1024 + x + y / 2 + (h % 256);
    };
  } else if ((kind == "hostile" && (argc == 3 || argc == 5 || argc == 6)) || (kind == "plain" && argc == 6)) {
    const uint32_t width = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 30000;
    const uint32_t height = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10)) : 30000;
    const bool cfa = argc < 6 || std::strcmp(argv[5], "linear") != 0;
    if (width < 32 || height < 32) return usage();
    o = camera_raw_options(width, height, cfa, true, 256, 256);
    o.share_first_tile = kind == "hostile";
  } else {
    return usage();
  }
  return write_file(argv[2], build_raw_dng(o).bytes) ? 0 : 1;
}
