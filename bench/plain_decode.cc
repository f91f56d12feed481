// The baseline for the worker's JPEG check: decode each file named on the
// command line with libjpeg into a one-row buffer, nothing else.
#include <cstdio>

#include <jpeglib.h>

int main(int argc, char** argv) {
  int bad = 0;
  for (int i = 1; i < argc; ++i) {
    FILE* in = fopen(argv[i], "rb");
    if (in == nullptr) return 1;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
    while (cinfo.output_scanline < cinfo.output_height) jpeg_read_scanlines(&cinfo, row, 1);
    jpeg_finish_decompress(&cinfo);
    if (err.num_warnings != 0) ++bad;
    jpeg_destroy_decompress(&cinfo);
    fclose(in);
  }
  return bad == 0 ? 0 : 1;
}
