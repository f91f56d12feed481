// The only file that includes libjpeg's header.
#include "worker/jpeg_check.h"

#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "worker/report.h"

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so the library's pointer converts back
  jmp_buf recovery;
};

void print_message(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX < 200 ? 200 : JMSG_LENGTH_MAX];
  (*cinfo->err->format_message)(cinfo, text);
  text[199] = '\0';  // the message is cut to 200 characters
  stderr_puts("\nERROR processing JPEG: ");
  stderr_puts(text);
  stderr_puts("\n");
}

// Leaves the decode through longjmp. Nothing between the setjmp and the
// library calls owns a destructor, so skipping frames is safe.
[[noreturn]] void leave_on_error(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->recovery, 1);
}

// The decode proper. Plain C data only: this function is jumped out of.
bool decode(FILE* in) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = leave_on_error;
  err.pub.output_message = print_message;
  if (setjmp(err.recovery) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kJpegMaxMemory;
  jpeg_stdio_src(&cinfo, in);
  jpeg_read_header(&cinfo, TRUE);
  jpeg_start_decompress(&cinfo);
  JSAMPARRAY row = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                              cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), 1);
  while (cinfo.output_scanline < cinfo.output_height) {
    if (jpeg_read_scanlines(&cinfo, row, 1) != 1) break;  // only a suspending source gives 0
  }
  jpeg_finish_decompress(&cinfo);
  bool valid = err.pub.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return valid;
}

}  // namespace

bool jpeg_check_file(const char* path) {
  FILE* in = fopen(path, "rb");
  if (in == nullptr) {
    stderr_printf("can't open %s\n", path);
    return false;
  }
  bool valid = decode(in);
  fclose(in);
  return valid;
}
