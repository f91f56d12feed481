// Writes N uncompressed RGB TIFFs of W x H pixels (8 bits a sample, strips
// of 16 rows) into a folder, for the whole-run hash benchmark:
//   make_tiffs FOLDER [COUNT] [WIDTH] [HEIGHT]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <tiffio.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: make_tiffs FOLDER [COUNT] [WIDTH] [HEIGHT]\n");
    return 2;
  }
  std::string folder = argv[1];
  int count = argc > 2 ? atoi(argv[2]) : 24;
  uint32_t width = argc > 3 ? static_cast<uint32_t>(atoi(argv[3])) : 4000;
  uint32_t height = argc > 4 ? static_cast<uint32_t>(atoi(argv[4])) : 3400;
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  uint32_t seed = 7;
  for (int n = 0; n < count; ++n) {
    char name[64];
    snprintf(name, sizeof name, "/img%04d.tif", n);
    TIFF* tif = TIFFOpen((folder + name).c_str(), "w");
    if (tif == nullptr) return 1;
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, height);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    for (uint32_t y = 0; y < height; ++y) {
      for (size_t i = 0; i < row.size(); ++i) {
        seed = seed * 1103515245u + 12345u;
        row[i] = static_cast<unsigned char>((i / 3 + y + n * 5 + ((seed >> 16) & 0x0F)) & 0xFF);
      }
      if (TIFFWriteScanline(tif, row.data(), y, 0) < 0) return 1;
    }
    TIFFClose(tif);
  }
  return 0;
}
