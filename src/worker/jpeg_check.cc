// The only file that includes libjpeg's header.
#include "worker/jpeg_check.h"

#include <csetjmp>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>

#include "worker/image_file.h"
#include "worker/report.h"

namespace {

struct ErrorManager {
  jpeg_error_mgr pub;  // first, so the library's pointer converts back
  jmp_buf recovery;
  void (*library_emit)(j_common_ptr, int);
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

// A warning (level -1) is printed and counted as the library does, and then
// ends the decode: the file is invalid whatever follows, and a damaged
// header can announce far more rows than the file holds.
void stop_on_warning(j_common_ptr cinfo, int msg_level) {
  auto* err = reinterpret_cast<ErrorManager*>(cinfo->err);
  err->library_emit(cinfo, msg_level);
  if (msg_level < 0) longjmp(err->recovery, 1);
}

// Where the compressed data comes from: a stream, or bytes in memory.
struct Source {
  FILE* file;
  const unsigned char* data;
  unsigned long size;
};

// The decode proper. Plain C data only: this function is jumped out of.
bool decode(const Source* source) {
  jpeg_decompress_struct cinfo;
  ErrorManager err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = leave_on_error;
  err.pub.output_message = print_message;
  err.library_emit = err.pub.emit_message;
  err.pub.emit_message = stop_on_warning;
  if (setjmp(err.recovery) != 0) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kJpegMaxMemory;
  if (source->file != nullptr) {
    jpeg_stdio_src(&cinfo, source->file);
  } else {
    jpeg_mem_src(&cinfo, source->data, source->size);
  }
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
  FILE* in = fopen_image_file(path);
  if (in == nullptr) {
    stderr_printf("can't open %s\n", path);
    return false;
  }
  Source source{in, nullptr, 0};
  bool valid = decode(&source);
  fclose(in);
  return valid;
}

bool jpeg_check_memory(const unsigned char* data, size_t size) {
  // An empty source or one the library's length field cannot hold is no
  // JPEG; the library would fail on the first or stop early on the second.
  if (data == nullptr || size == 0 || size > static_cast<unsigned long>(~0UL >> 1)) return false;
  Source source{nullptr, data, static_cast<unsigned long>(size)};
  return decode(&source);
}
