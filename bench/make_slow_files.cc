// Writes the hostile slow files of the worker benchmark and, beside each,
// a normal file of the same size: make_slow_files FOLDER
//   vast.jpg / small.jpg     a tiny JPEG whose frame header says 65500 x 65500,
//                            and the same JPEG as written
//   tall.tif / wide.tif      4e9 zero bytes in one deflate strip of 1-byte
//                            rows, and the same bytes as 65535-wide rows in
//                            strips of 1024 rows (both about 4 MB)
//   pages.tif / page.tif     9,999 pages of 1 x 1 pixel, and one page of
//                            the same file size
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <zlib.h>

namespace {

bool write_file(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  fwrite(bytes.data(), 1, bytes.size(), f);
  return fclose(f) == 0;
}

std::string small_jpeg() {
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&cinfo, &buffer, &size);
  cinfo.image_width = 32;
  cinfo.image_height = 32;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_start_compress(&cinfo, TRUE);
  std::vector<unsigned char> row(32 * 3);
  while (cinfo.next_scanline < cinfo.image_height) {
    for (size_t i = 0; i < row.size(); ++i) row[i] = static_cast<unsigned char>(i * 7 + cinfo.next_scanline * 5);
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  std::string bytes(reinterpret_cast<char*>(buffer), size);
  jpeg_destroy_compress(&cinfo);
  free(buffer);
  return bytes;
}

std::string with_frame_size(std::string jpeg, uint16_t width, uint16_t height) {
  for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
    if (static_cast<unsigned char>(jpeg[i]) == 0xFF && static_cast<unsigned char>(jpeg[i + 1]) == 0xC0) {
      jpeg[i + 5] = static_cast<char>(height >> 8);
      jpeg[i + 6] = static_cast<char>(height & 0xFF);
      jpeg[i + 7] = static_cast<char>(width >> 8);
      jpeg[i + 8] = static_cast<char>(width & 0xFF);
      break;
    }
  }
  return jpeg;
}

// A zlib stream of `bytes` zero bytes: after a full flush the compressor
// starts afresh, so one compressed block of zeros is repeated.
std::string deflate_zeros(uint64_t bytes) {
  constexpr uLong kBlock = 1 << 20;
  std::vector<Bytef> zeros(kBlock, 0);
  std::vector<Bytef> out(compressBound(kBlock) + 64);
  auto run = [&](z_stream* z, uLong input, int flush) {
    z->next_in = zeros.data();
    z->avail_in = static_cast<uInt>(input);
    z->next_out = out.data();
    z->avail_out = static_cast<uInt>(out.size());
    deflate(z, flush);
    return std::string(reinterpret_cast<char*>(out.data()), out.size() - z->avail_out);
  };
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);
  std::string stream = "\x78\xda";
  std::string block = run(&z, kBlock, Z_FULL_FLUSH);
  uint64_t blocks = bytes / kBlock;
  for (uint64_t i = 0; i < blocks; ++i) stream += block;
  stream += run(&z, static_cast<uLong>(bytes % kBlock), Z_FINISH);
  deflateEnd(&z);
  uLong block_sum = adler32(adler32(0, nullptr, 0), zeros.data(), kBlock);
  uLong sum = adler32(0, nullptr, 0);
  for (uint64_t i = 0; i < blocks; ++i) sum = adler32_combine(sum, block_sum, kBlock);
  sum = adler32_combine(sum, adler32(adler32(0, nullptr, 0), zeros.data(), static_cast<uInt>(bytes % kBlock)),
                        static_cast<z_off_t>(bytes % kBlock));
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<char>((sum >> shift) & 0xFF));
  return stream;
}

// A little-endian classic TIFF written by hand: directories of entries
// whose values fit in their 4-byte field, or arrays placed after them.
struct Entry {
  uint16_t tag, type;
  std::vector<uint32_t> values;  // SHORT (3) or LONG (4)
};

void put16(std::string* s, uint32_t v) {
  s->push_back(static_cast<char>(v & 0xFF));
  s->push_back(static_cast<char>((v >> 8) & 0xFF));
}
void put32(std::string* s, uint32_t v) {
  put16(s, v & 0xFFFF);
  put16(s, v >> 16);
}

// Appends a directory at the end of file (word-aligned), followed by the
// arrays that do not fit; gives the offset of its next-directory field.
size_t append_directory(std::string* file, const std::vector<Entry>& entries) {
  if (file->size() % 2) file->push_back('\0');
  const size_t start = file->size();
  size_t arrays = start + 2 + entries.size() * 12 + 4;
  std::string tail;
  put16(file, static_cast<uint32_t>(entries.size()));
  for (const auto& e : entries) {
    put16(file, e.tag);
    put16(file, e.type);
    put32(file, static_cast<uint32_t>(e.values.size()));
    size_t width = e.type == 3 ? 2 : 4;
    if (e.values.size() * width <= 4) {
      std::string field;
      for (uint32_t v : e.values) width == 2 ? put16(&field, v) : put32(&field, v);
      field.resize(4, '\0');
      *file += field;
    } else {
      put32(file, static_cast<uint32_t>(arrays + tail.size()));
      for (uint32_t v : e.values) width == 2 ? put16(&tail, v) : put32(&tail, v);
    }
  }
  const size_t next = file->size();
  put32(file, 0);
  *file += tail;
  return next;
}

void set32(std::string* file, size_t at, uint32_t v) {
  std::string b;
  put32(&b, v);
  file->replace(at, 4, b);
}

// Gray 8-bit strips of zeros, each held in `strip_data`.
std::string gray_tiff(uint32_t width, uint32_t rows, uint32_t rows_per_strip, uint16_t compression,
                      const std::vector<std::string>& strip_data) {
  std::string file = "II*";
  file.push_back('\0');
  put32(&file, 0);
  std::vector<uint32_t> offsets, counts;
  for (const auto& data : strip_data) {
    offsets.push_back(static_cast<uint32_t>(file.size()));
    counts.push_back(static_cast<uint32_t>(data.size()));
    file += data;
  }
  if (file.size() % 2) file.push_back('\0');
  set32(&file, 4, static_cast<uint32_t>(file.size()));
  append_directory(&file, {{256, 4, {width}}, {257, 4, {rows}}, {258, 3, {8}}, {259, 3, {compression}},
                           {262, 3, {1}}, {273, 4, offsets}, {277, 3, {1}}, {278, 4, {rows_per_strip}},
                           {279, 4, counts}});
  return file;
}

std::string many_pages(int pages) {
  std::string file = "II*";
  file.push_back('\0');
  put32(&file, 8);
  size_t link = 4;
  for (int p = 0; p < pages; ++p) {
    if (file.size() % 2) file.push_back('\0');
    set32(&file, link, static_cast<uint32_t>(file.size()));
    // Every one-byte strip reads the file's first byte.
    link = append_directory(&file, {{256, 4, {1}}, {257, 4, {1}}, {258, 3, {8}}, {259, 3, {1}}, {262, 3, {1}},
                                    {273, 4, {0}}, {277, 3, {1}}, {278, 4, {1}}, {279, 4, {1}}});
  }
  return file;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: make_slow_files FOLDER\n");
    return 2;
  }
  const std::string folder = argv[1];
  bool ok = true;
  std::string jpeg = small_jpeg();
  ok = ok && write_file(folder + "/small.jpg", jpeg);
  ok = ok && write_file(folder + "/vast.jpg", with_frame_size(jpeg, 65500, 65500));

  constexpr uint64_t kBytes = 4'000'000'000;
  // RowsPerStrip 2^32 - 1: one strip, however many rows.
  ok = ok && write_file(folder + "/tall.tif",
                        gray_tiff(1, static_cast<uint32_t>(kBytes), 0xFFFFFFFFu, 8, {deflate_zeros(kBytes)}));
  constexpr uint32_t kWidth = 65535, kRowsPerStrip = 1024;
  const uint32_t rows = static_cast<uint32_t>(kBytes / kWidth);
  std::vector<std::string> strips;
  const std::string full = deflate_zeros(uint64_t{kWidth} * kRowsPerStrip);
  for (uint32_t r = 0; r < rows; r += kRowsPerStrip) {
    uint32_t n = rows - r < kRowsPerStrip ? rows - r : kRowsPerStrip;
    strips.push_back(n == kRowsPerStrip ? full : deflate_zeros(uint64_t{kWidth} * n));
  }
  ok = ok && write_file(folder + "/wide.tif", gray_tiff(kWidth, rows, kRowsPerStrip, 8, strips));

  std::string pages = many_pages(9999);
  ok = ok && write_file(folder + "/pages.tif", pages);
  // One uncompressed page of about the same file size.
  uint32_t side = 1;
  while (uint64_t{side + 1} * (side + 1) <= pages.size()) ++side;
  ok = ok && write_file(folder + "/page.tif", gray_tiff(side, side, side, 1, {std::string(uint64_t{side} * side, '\x40')}));
  if (!ok) fprintf(stderr, "make_slow_files: cannot write into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
