// The only file that includes libjpeg's header.
#include "worker/jpeg_check.h"

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstdio>

// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
// After jpeglib.h: the message codes and the ERREXIT/WARNMS helpers.
#include <jerror.h>

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

// A source that reads a file's descriptor from offset 0 with pread, so the
// stream's position plays no part. What the library sees is exactly what the
// library's own stdio source gives it: the file in slices of
// kJpegSourceSlice bytes from offset 0, skips made by reading through, an
// empty file an error, running out later a warning followed by a made-up
// EOI marker. That matters: the library's Huffman decoder takes a faster
// path, which reports no bad codes, while enough bytes are in the slice, so
// its messages on a damaged file depend on where the slices end. The slices
// are cut from blocks of many slices, read with one pread each.
constexpr size_t kSlicesPerBlock = 16;

struct DescriptorSource {
  jpeg_source_mgr pub;  // first, so the library's pointer converts back
  int fd;
  JpegFileStart start;   // the first slice when not empty
  off_t block_offset;    // of block[0] in the file
  size_t block_size;     // bytes in block
  size_t slice_at;       // of the next slice within block
  bool end_of_file;      // block holds the file's last byte
  bool start_of_file;
  JOCTET block[kJpegSourceSlice * kSlicesPerBlock];
  JOCTET fake_end[2];
};

void descriptor_init(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<DescriptorSource*>(cinfo->src);
  src->block_offset = 0;
  src->block_size = 0;
  src->slice_at = 0;
  src->end_of_file = false;
  src->start_of_file = true;
}

// The next slice, as the stdio source's fread of one slice would give it.
boolean descriptor_fill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<DescriptorSource*>(cinfo->src);
  const bool first = src->start_of_file;
  src->start_of_file = false;
  if (first && src->start.size > 0) {
    src->pub.next_input_byte = src->start.data;
    src->pub.bytes_in_buffer = src->start.size;
    src->block_offset = static_cast<off_t>(src->start.size);
    src->end_of_file = src->start.size < kJpegSourceSlice;
    return TRUE;
  }
  if (src->slice_at == src->block_size && !src->end_of_file) {
    src->block_offset += static_cast<off_t>(src->block_size);
    src->block_size = 0;
    src->slice_at = 0;
    ssize_t n = read_image_file(src->fd, src->block, sizeof src->block, src->block_offset);
    // A read error ends the data as the end of the file does.
    if (n > 0) src->block_size = static_cast<size_t>(n);
    if (n < static_cast<ssize_t>(sizeof src->block)) src->end_of_file = true;
  }
  const size_t n = std::min(kJpegSourceSlice, src->block_size - src->slice_at);
  if (n == 0) {
    if (first) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->fake_end[0] = 0xFF;
    src->fake_end[1] = JPEG_EOI;
    src->pub.next_input_byte = src->fake_end;
    src->pub.bytes_in_buffer = 2;
    return TRUE;
  }
  src->pub.next_input_byte = src->block + src->slice_at;
  src->pub.bytes_in_buffer = n;
  src->slice_at += n;
  return TRUE;
}

// Reads through, slice by slice, as the stdio source does.
void descriptor_skip(j_decompress_ptr cinfo, long num_bytes) {
  auto* src = reinterpret_cast<DescriptorSource*>(cinfo->src);
  if (num_bytes <= 0) return;
  size_t skip = static_cast<size_t>(num_bytes);
  while (skip > src->pub.bytes_in_buffer) {
    skip -= src->pub.bytes_in_buffer;
    descriptor_fill(cinfo);
  }
  src->pub.next_input_byte += skip;
  src->pub.bytes_in_buffer -= skip;
}

void descriptor_term(j_decompress_ptr) {}

// Where the compressed data comes from: a file's descriptor, or bytes in
// memory.
struct Source {
  DescriptorSource* file;
  const unsigned char* data;
  unsigned long size;
};

// An upper bound of what a full-size decode asks the memory manager for:
// the whole-image coefficient buffer when the image has more than one scan,
// plus generous room for the row buffers of every stage, which grow with
// the width.
uint64_t full_size_memory_bound(const jpeg_decompress_struct& cinfo) {
  // Progressive, or a first scan without every component: the library
  // keeps the coefficients of the whole image.
  const bool whole_image = cinfo.progressive_mode || cinfo.comps_in_scan < cinfo.num_components;
  uint64_t bytes = 1u << 20;  // tables, pool headers, the marker reader
  const uint64_t max_v = static_cast<uint64_t>(cinfo.max_v_samp_factor);
  for (int i = 0; i < cinfo.num_components; ++i) {
    const jpeg_component_info& c = cinfo.comp_info[i];
    const uint64_t h = static_cast<uint64_t>(c.h_samp_factor);
    const uint64_t v = static_cast<uint64_t>(c.v_samp_factor);
    const uint64_t wide = (c.width_in_blocks + h - 1) / h * h;
    const uint64_t high = (c.height_in_blocks + v - 1) / v * v;
    if (whole_image) bytes += wide * high * sizeof(JBLOCK);
    // Sample rows of one row group, many times over (context rows, the
    // upsampler, colour conversion).
    bytes += wide * DCTSIZE * v * DCTSIZE * 8;
    bytes += (static_cast<uint64_t>(cinfo.image_width) + 64) * max_v * DCTSIZE * 4;
  }
  return bytes;
}

// The decode proper. Plain C data only: this function is jumped out of.
bool decode(const Source* source, long max_memory) {
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
  cinfo.mem->max_memory_to_use = max_memory;
  if (source->file != nullptr) {
    DescriptorSource* src = source->file;
    src->pub.init_source = descriptor_init;
    src->pub.fill_input_buffer = descriptor_fill;
    src->pub.skip_input_data = descriptor_skip;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = descriptor_term;
    src->pub.next_input_byte = nullptr;
    src->pub.bytes_in_buffer = 0;
    cinfo.src = &src->pub;
  } else {
    jpeg_mem_src(&cinfo, source->data, source->size);
  }
  jpeg_read_header(&cinfo, TRUE);
  // Near the memory limit, whether the library runs out depends on the
  // size decoded: such images are decoded at full size.
  if (full_size_memory_bound(cinfo) < static_cast<uint64_t>(cinfo.mem->max_memory_to_use)) {
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
  }
  // Smoothing a progressive image's blocks only changes the pixels.
  cinfo.do_block_smoothing = FALSE;
  jpeg_start_decompress(&cinfo);
  const JDIMENSION rows = cinfo.rec_outbuf_height > 0 ? static_cast<JDIMENSION>(cinfo.rec_outbuf_height) : 1;
  JSAMPARRAY buffer =
      (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                 cinfo.output_width * static_cast<JDIMENSION>(cinfo.output_components), rows);
  while (cinfo.output_scanline < cinfo.output_height) {
    if (jpeg_read_scanlines(&cinfo, buffer, rows) == 0) break;  // only a suspending source gives 0
  }
  jpeg_finish_decompress(&cinfo);
  bool valid = err.pub.num_warnings == 0;
  jpeg_destroy_decompress(&cinfo);
  return valid;
}

}  // namespace

bool jpeg_check_file(int fd, JpegFileStart start) {
  if (fd < 0) return false;
  // The source holds its read buffer; it lives on the heap, outside the
  // frames that a longjmp leaves.
  auto* src = new DescriptorSource;
  src->fd = fd;
  src->start = start;
  Source source{src, nullptr, 0};
  bool valid = decode(&source, kJpegMaxMemory);
  delete src;
  return valid;
}

bool jpeg_check_memory(const unsigned char* data, size_t size, long max_memory) {
  // An empty source or one the library's length field cannot hold is no
  // JPEG; the library would fail on the first or stop early on the second.
  if (data == nullptr || size == 0 || size > static_cast<unsigned long>(~0UL >> 1)) return false;
  Source source{nullptr, data, static_cast<unsigned long>(size)};
  return decode(&source, max_memory);
}
