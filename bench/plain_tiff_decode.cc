// The baseline for the worker's TIFF check: read every scanline of every
// directory of each file named on the command line with libtiff, nothing
// else. Exits 1 when a file cannot be read.
#include <cstdio>
#include <vector>

#include <tiffio.h>

int main(int argc, char** argv) {
  int bad = 0;
  for (int i = 1; i < argc; ++i) {
    TIFF* tif = TIFFOpen(argv[i], "r");
    if (tif == nullptr) return 1;
    do {
      uint32_t rows = 0;
      TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &rows);
      std::vector<unsigned char> line(static_cast<size_t>(TIFFScanlineSize(tif)));
      for (uint32_t y = 0; y < rows; ++y) {
        if (TIFFReadScanline(tif, line.data(), y, 0) < 0) {
          ++bad;
          break;
        }
      }
    } while (TIFFReadDirectory(tif));
    TIFFClose(tif);
  }
  return bad == 0 ? 0 : 1;
}
