// Writes N JPEGs of W x H pixels (quality 90) into a folder, for the
// whole-program benchmarks: make_jpegs FOLDER [COUNT] [WIDTH] [HEIGHT]
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <jpeglib.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: make_jpegs FOLDER [COUNT] [WIDTH] [HEIGHT]\n");
    return 2;
  }
  std::string folder = argv[1];
  int count = argc > 2 ? atoi(argv[2]) : 200;
  int width = argc > 3 ? atoi(argv[3]) : 4000;
  int height = argc > 4 ? atoi(argv[4]) : 3000;
  std::vector<unsigned char> row(static_cast<size_t>(width) * 3);
  uint32_t seed = 1;
  for (int n = 0; n < count; ++n) {
    char name[64];
    snprintf(name, sizeof name, "/img%04d.jpg", n);
    FILE* out = fopen((folder + name).c_str(), "wb");
    if (out == nullptr) return 1;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, 90, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
      int y = static_cast<int>(cinfo.next_scanline);
      for (int x = 0; x < width; ++x) {
        seed = seed * 1103515245u + 12345u;
        int noise = static_cast<int>((seed >> 16) & 0x0F);
        row[static_cast<size_t>(3 * x)] = static_cast<unsigned char>((x / 8 + n * 7 + noise) & 0xFF);
        row[static_cast<size_t>(3 * x + 1)] = static_cast<unsigned char>((y / 8 + noise) & 0xFF);
        row[static_cast<size_t>(3 * x + 2)] = static_cast<unsigned char>(((x + y) / 16 + noise) & 0xFF);
      }
      JSAMPROW rows[1] = {row.data()};
      jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    fclose(out);
  }
  return 0;
}
