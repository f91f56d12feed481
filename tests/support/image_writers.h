// Real image files for tests, written with libjpeg and libtiff, and the
// ways tests damage them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

enum class JpegMarker { kJfif, kExif, kNone };

struct JpegOptions {
  int width = 64;
  int height = 48;
  int quality = 90;
  bool progressive = false;
  bool grayscale = false;
  JpegMarker marker = JpegMarker::kJfif;
  int restart_rows = 0;  // a restart marker every this many MCU rows (0: none)
  // Sampling factors of the first (luma) component of a colour image: 2 x 2
  // is 4:2:0, 2 x 1 4:2:2, 1 x 1 4:4:4.
  int luma_h = 2;
  int luma_v = 2;
  bool arithmetic = false;  // arithmetic coding in place of Huffman coding
};

// Writes a JPEG of a noisy gradient; false when libjpeg failed.
bool write_jpeg(const std::string& path, const JpegOptions& options = {});

struct TiffOptions {
  int width = 40;
  int height = 30;
  int samples = 3;           // samples per pixel
  int bits = 8;              // 8 or 16
  bool planar_separate = false;
  bool tiled = false;        // 16 x 16 tiles
  int compression = 1;       // 1 none, 5 LZW, 8 deflate
  int rows_per_strip = 8;
  int directories = 1;       // pages in the main chain
  int sub_directories = 0;   // SubIFDs of the first page (reduced copies)
  bool big_endian = false;
  bool dng_version = false;  // DNGVersion 1.4.0.0 in the first directory
  bool private_tag = false;  // a tag the reading library does not know (65000, ASCII)
  bool ycbcr = false;        // with compression 7 and 3 samples: YCbCr, subsampled 2 x 2
  // With ycbcr: each page's chroma subsampling in both directions, 1 (4:4:4)
  // or 2 (4:2:0); pages not listed take 2. No page carries a
  // YCbCrSubsampling tag, as many writers leave it out, so the reading
  // library finds 4:4:4 pages from their JPEG data and says so.
  std::vector<int> ycbcr_subsampling;
};

// compression may also be 7 (JPEG, with rows_per_strip a multiple of 8).
bool write_tiff(const std::string& path, const TiffOptions& options = {});

// Where the data of one strip of one directory of a TIFF file lies, as
// libtiff reads it: directory is the page's index in the main chain.
struct StripPlace {
  uint64_t offset = 0;
  uint64_t length = 0;
};
bool find_strip(const std::string& path, int directory, uint32_t strip, StripPlace* place);

// A gray 8-bit TIFF of width 1 and `rows` rows of zeros held in one
// deflate-compressed strip (a strip of many tiny rows); predictor 2 marks
// the samples as horizontally differenced.
bool write_one_strip_deflate_tiff(const std::string& path, uint32_t rows, bool predictor = false);
// A zlib stream of `bytes` zero bytes, made without holding them.
std::string deflate_zeros(uint64_t bytes);

// Damage done in place.
bool truncate_to(const std::string& path, double fraction);
bool flip_bit(const std::string& path, uint64_t byte_offset, int bit);
bool zero_bytes(const std::string& path, uint64_t offset, uint64_t count);
bool append_bytes(const std::string& path, const std::string& bytes);
uint64_t file_size(const std::string& path);

}  // namespace testing_support
