// The TIFF check; the only file that includes libtiff's header.
#include <tiffio.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <unordered_set>

#include "examine/byte_reader.h"
#include "util/prefs.h"
#include "util/trace.h"
#include "worker/image_file.h"
#include "worker/image_reader.h"
#include "worker/jpeg_check.h"
#include "worker/report.h"
#include "worker/strip_window.h"

namespace {

constexpr const char* kVerifyDirectory = "ImageReaderTIFF::VerifyDirectory";
constexpr uint32_t kTagDNGVersion = 50706;

// The largest scanline or tile buffer, and the largest single allocation
// libtiff may make for one file: far above any real photograph's row or
// tile, far below what a hostile header could ask for.
constexpr tmsize_t kMaxBuffer = 256 * 1024 * 1024;
// Strips up to this size are decoded into a buffer of their own; larger
// ones are read as long rows or decoded whole into a StripWindow (see
// VerifyDirectory), so that a strip of billions of tiny rows costs what its
// bytes cost, not a library call per row.
constexpr uint64_t kMaxWholeStrip = 64 * 1024 * 1024;
// Directories in one file's main chain.
constexpr int kMaxDirectories = 10000;
// Entries read from a directory that libtiff refused, and the largest JPEG
// thumbnail checked from one.
constexpr uint64_t kMaxRefusedEntries = 65535;
constexpr uint64_t kMaxThumbnailBytes = 64 * 1024 * 1024;

constexpr uint16_t kTagStripOffsets = 273;
constexpr uint16_t kTagTileOffsets = 324;
constexpr uint16_t kTagJpegInterchangeFormat = 513;
constexpr uint16_t kTagJpegInterchangeFormatLength = 514;

// Set when a warning of the library reports damaged compressed data: data
// that decoded only after the JPEG library patched over the damage (a
// premature end, a corrupt Huffman code). Such a warning fails the file as
// it fails a JPEG file, on whichever page it comes. One check at a time
// runs per process.
bool g_codec_warning = false;

// The beginnings of the warnings that report damaged compressed data:
// libjpeg's (libtiff's JPEG and old-JPEG codecs pass them on as they stand)
// and the codecs' own. Warnings are told apart by their text, not by the
// codec that gives them: the same codecs also warn about tags they have
// put right (subsampling values taken from the JPEG data, a last strip
// taller than the image, an old-JPEG file as such), and those warnings,
// like unknown tags, pass.
constexpr const char* kDamagedDataWarnings[] = {
    "Corrupt JPEG data",      // bad Huffman or arithmetic code, premature end of a segment, a missing restart
    "Premature end of JPEG",  // the strip's data ends early ("file" from libjpeg, "data" from old JPEG)
    "Invalid SOS parameters for sequential JPEG",
    "Inconsistent progression sequence",
    "Application transferred too many scanlines",  // the strip's JPEG data holds fewer rows than the strip
    "Improper JPEG strip/tile size",               // ... or is smaller than the strip in the first place
    "Corrupt SOS marker in JPEG data",
    "Corrupt DRI marker in JPEG data",
    "Corrupt DQT marker in JPEG data",
    "Corrupt DHT marker in JPEG data",
    "Corrupt SOF marker in JPEG data",
};

bool reports_damaged_data(const char* text) {
  for (const char* start : kDamagedDataWarnings) {
    if (strncmp(text, start, strlen(start)) == 0) return true;
  }
  return false;
}

void TIFF_Error_Handler(const char* module, const char* format, va_list args) {
  char text[500];
  vsnprintf(text, sizeof text, format, args);
  log_printf("ERROR from ImageReaderTIFF.cpp: %s", text);
  log_printf("TIFF_Error_Handler\n");
  report(true, module != nullptr ? module : "", "%s", text);
}

void TIFF_Warning_Handler(const char* module, const char* format, va_list args) {
  char text[500];
  vsnprintf(text, sizeof text, format, args);
  log_printf("WARNING from ImageReaderTIFF.cpp: %s", text);
  log_printf("TIFF_Warning_Handler\n");
  report(false, module != nullptr ? module : "", "%s", text);
  if (reports_damaged_data(text)) g_codec_warning = true;
}

// A libtiff handle closed on every path.
class TiffHandle {
 public:
  explicit TiffHandle(const char* path) {
    // Only a regular file is handed to the library (see open_image_file).
    int fd = open_image_file(path);
    if (fd < 0) return;
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options != nullptr) TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxBuffer);
    // "m": read with read(), not a memory map, so a file that shrinks while
    // it is checked is an error rather than a SIGBUS.
    tif_ = TIFFFdOpenExt(fd, path, "rm", options);
    if (options != nullptr) TIFFOpenOptionsFree(options);
    if (tif_ == nullptr) close(fd);  // TIFFClose closes it otherwise
  }
  ~TiffHandle() {
    if (tif_ != nullptr) TIFFClose(tif_);
  }
  TiffHandle(const TiffHandle&) = delete;
  TiffHandle& operator=(const TiffHandle&) = delete;
  TIFF* get() const { return tif_; }

 private:
  TIFF* tif_ = nullptr;
};

bool has_dng_version(TIFF* tif) {
  // Two pointer-sized slots take either form of the field's arguments.
  void* first = nullptr;
  void* second = nullptr;
  return TIFFGetField(tif, kTagDNGVersion, &first, &second) != 0;
}

std::vector<uint64_t> sub_directory_offsets(TIFF* tif) {
  uint16_t count = 0;
  uint64_t* offsets = nullptr;
  // Copied at once: the array belongs to the current directory.
  if (TIFFGetField(tif, TIFFTAG_SUBIFD, &count, &offsets) == 0 || offsets == nullptr) return {};
  return std::vector<uint64_t>(offsets, offsets + count);
}

// Reads exactly size bytes at offset; false past the end or on an error.
bool read_exactly(int fd, uint64_t offset, void* into, size_t size) {
  size_t got = 0;
  while (got < size) {
    ssize_t n = pread(fd, static_cast<char*>(into) + got, size - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

// What a directory holds, read from its entries by hand (for a directory
// libtiff refuses to read).
struct DirectoryContents {
  bool image_data = false;  // strips or tiles
  bool thumbnail = false;   // a JPEG thumbnail
  uint64_t thumbnail_offset = 0;
  uint64_t thumbnail_length = 0;
};

bool read_directory_contents(TIFF* tif, uint64_t offset, DirectoryContents* contents) {
  const int fd = TIFFFileno(tif);
  const bool big_endian = TIFFIsBigEndian(tif) != 0;
  const bool big_tiff = TIFFIsBigTIFF(tif) != 0;
  const size_t count_bytes = big_tiff ? 8 : 2;
  const size_t entry_bytes = big_tiff ? 20 : 12;
  uint8_t count_field[8];
  if (!read_exactly(fd, offset, count_field, count_bytes)) return false;
  const uint64_t count = big_tiff ? get_u64(count_field, big_endian) : get_u16(count_field, big_endian);
  if (count == 0 || count > kMaxRefusedEntries) return false;
  std::vector<uint8_t> entries(static_cast<size_t>(count) * entry_bytes);
  if (!read_exactly(fd, offset + count_bytes, entries.data(), entries.size())) return false;
  bool has_offset = false;
  bool has_length = false;
  for (uint64_t i = 0; i < count; ++i) {
    const uint8_t* e = entries.data() + i * entry_bytes;
    const uint16_t tag = get_u16(e, big_endian);
    const uint16_t type = get_u16(e + 2, big_endian);
    const uint64_t values = big_tiff ? get_u64(e + 4, big_endian) : get_u32(e + 4, big_endian);
    const uint8_t* field = e + (big_tiff ? 12 : 8);
    if (tag == kTagStripOffsets || tag == kTagTileOffsets) contents->image_data = true;
    if ((tag != kTagJpegInterchangeFormat && tag != kTagJpegInterchangeFormatLength) || values != 1) continue;
    uint64_t value = 0;
    if (type == TIFF_SHORT) {
      value = get_u16(field, big_endian);
    } else if (type == TIFF_LONG || type == TIFF_IFD) {
      value = get_u32(field, big_endian);
    } else if (big_tiff && (type == TIFF_LONG8 || type == TIFF_IFD8)) {
      value = get_u64(field, big_endian);
    } else {
      continue;
    }
    if (tag == kTagJpegInterchangeFormat) {
      contents->thumbnail_offset = value;
      has_offset = true;
    } else {
      contents->thumbnail_length = value;
      has_length = true;
    }
  }
  contents->thumbnail = has_offset && has_length;
  return true;
}

enum class RefusedDirectory { kPasses, kFails, kHoldsAnImage };

// A sub-directory that libtiff would not read. One that holds strips or
// tiles stays refused. One that holds only a JPEG thumbnail passes when the
// thumbnail decodes as a sound JPEG; one that holds neither has nothing to
// check.
RefusedDirectory check_refused_directory(TIFF* tif, uint64_t offset) {
  DirectoryContents contents;
  if (!read_directory_contents(tif, offset, &contents) || contents.image_data) return RefusedDirectory::kHoldsAnImage;
  if (!contents.thumbnail) {
    log_printf("directory at %llu holds no image\n", static_cast<unsigned long long>(offset));
    return RefusedDirectory::kPasses;
  }
  struct stat st;
  const int fd = TIFFFileno(tif);
  const uint64_t size = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
  const uint64_t at = contents.thumbnail_offset;
  const uint64_t length = contents.thumbnail_length;
  if (length == 0 || length > kMaxThumbnailBytes || at > size || length > size - at) {
    report(true, "ImageReaderTIFF::Verify", "JPEG thumbnail at %llu (%llu bytes) cannot be read",
           static_cast<unsigned long long>(at), static_cast<unsigned long long>(length));
    return RefusedDirectory::kFails;
  }
  std::vector<unsigned char> thumbnail(static_cast<size_t>(length));
  if (!read_exactly(fd, at, thumbnail.data(), thumbnail.size()) ||
      !jpeg_check_memory(thumbnail.data(), thumbnail.size())) {
    report(true, "ImageReaderTIFF::Verify", "Damaged JPEG thumbnail at %llu", static_cast<unsigned long long>(at));
    return RefusedDirectory::kFails;
  }
  return RefusedDirectory::kPasses;
}

// Large strips of stream codecs (their compressed data is one stream of
// bytes, whatever the rows) are read through a second view of the file: a
// directory made here describes the strip as rows of up to
// kMaxLongRowBytes, over the file's own strip data. A strip of billions of
// one-byte rows then costs a few thousand library calls.
constexpr uint64_t kMaxLongRowBytes = 1024 * 1024;
constexpr uint64_t kMinLongRowBytes = 4096;

bool is_stream_codec(uint16_t compression) {
  switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_LZW:
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
    case COMPRESSION_PACKBITS:
    case COMPRESSION_LZMA:
    case COMPRESSION_ZSTD:
      return true;
    default:
      return false;
  }
}

// The largest row size that divides size exactly, within the bounds; 0
// when there is none.
uint64_t long_row_bytes(uint64_t size) {
  for (uint64_t row = std::min(size, kMaxLongRowBytes); row >= kMinLongRowBytes; --row) {
    if (size % row == 0) return row;
  }
  return 0;
}

// The view: a little-endian BigTIFF header and one directory in memory,
// then the file's bytes from offset head.size() on.
struct LongRowView {
  std::string head;
  int fd = -1;
  uint64_t file_size = 0;
  uint64_t position = 0;
};

void put_le(std::string* out, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out->push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

std::string long_row_directory(uint64_t row_bytes, uint64_t rows, uint16_t compression, uint16_t fill_order,
                               uint64_t data_offset, uint64_t data_length, size_t head_size) {
  struct Entry {
    uint16_t tag, type;
    uint64_t value;
  };
  const Entry entries[] = {
      {256, TIFF_LONG, row_bytes},  {257, TIFF_LONG, rows},      {258, TIFF_SHORT, 8},
      {259, TIFF_SHORT, compression}, {262, TIFF_SHORT, 1},       {266, TIFF_SHORT, fill_order},
      {273, TIFF_LONG8, head_size + data_offset},                {277, TIFF_SHORT, 1},
      {278, TIFF_LONG, rows},       {279, TIFF_LONG8, data_length}, {284, TIFF_SHORT, 1},
  };
  std::string out = "II";
  put_le(&out, 43, 2);
  put_le(&out, 8, 2);
  put_le(&out, 0, 2);
  put_le(&out, 16, 8);
  put_le(&out, std::size(entries), 8);
  for (const Entry& e : entries) {
    put_le(&out, e.tag, 2);
    put_le(&out, e.type, 2);
    put_le(&out, 1, 8);
    put_le(&out, e.value, 8);
  }
  put_le(&out, 0, 8);
  return out;
}

tmsize_t view_read(thandle_t handle, void* into, tmsize_t size) {
  auto* view = static_cast<LongRowView*>(handle);
  tmsize_t done = 0;
  while (done < size) {
    char* to = static_cast<char*>(into) + done;
    const uint64_t at = view->position;
    ssize_t n = 0;
    if (at < view->head.size()) {
      n = static_cast<ssize_t>(std::min<uint64_t>(view->head.size() - at, static_cast<uint64_t>(size - done)));
      memcpy(to, view->head.data() + at, static_cast<size_t>(n));
    } else {
      n = pread(view->fd, to, static_cast<size_t>(size - done), static_cast<off_t>(at - view->head.size()));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
    }
    view->position += static_cast<uint64_t>(n);
    done += n;
  }
  return done;
}

tmsize_t view_write(thandle_t, void*, tmsize_t) { return -1; }

toff_t view_seek(thandle_t handle, toff_t offset, int whence) {
  auto* view = static_cast<LongRowView*>(handle);
  uint64_t size = view->head.size() + view->file_size;
  uint64_t base = whence == SEEK_CUR ? view->position : whence == SEEK_END ? size : 0;
  view->position = base + offset;
  return view->position;
}

int view_close(thandle_t) { return 0; }

toff_t view_size(thandle_t handle) {
  auto* view = static_cast<LongRowView*>(handle);
  return view->head.size() + view->file_size;
}

int view_map(thandle_t, void**, toff_t*) { return 0; }
void view_unmap(thandle_t, void*, toff_t) {}

enum class LongRows { kValid, kInvalid, kNotApplicable };

// Reads strip `strip` (decoded_size bytes) of the current directory as long
// rows, when its codec allows and a row size divides it.
LongRows read_strip_as_long_rows(TIFF* tif, uint32_t strip, uint64_t decoded_size) {
  uint16_t compression = COMPRESSION_NONE;
  uint16_t fill_order = FILLORDER_MSB2LSB;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  TIFFGetFieldDefaulted(tif, TIFFTAG_FILLORDER, &fill_order);
  const uint64_t row_bytes = is_stream_codec(compression) ? long_row_bytes(decoded_size) : 0;
  if (row_bytes == 0) return LongRows::kNotApplicable;
  struct stat st;
  LongRowView view;
  view.fd = TIFFFileno(tif);
  if (fstat(view.fd, &st) != 0) return LongRows::kNotApplicable;
  view.file_size = static_cast<uint64_t>(st.st_size);
  const uint64_t rows = decoded_size / row_bytes;
  std::string probe = long_row_directory(row_bytes, rows, compression, fill_order, 0, 0, 0);
  view.head = long_row_directory(row_bytes, rows, compression, fill_order, TIFFGetStrileOffset(tif, strip),
                                 TIFFGetStrileByteCount(tif, strip), probe.size());

  TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
  if (options != nullptr) TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxBuffer);
  TIFF* long_rows = TIFFClientOpenExt("strip", "rm", &view, view_read, view_write, view_seek, view_close, view_size,
                                      view_map, view_unmap, options);
  if (options != nullptr) TIFFOpenOptionsFree(options);
  if (long_rows == nullptr) return LongRows::kNotApplicable;
  std::vector<unsigned char> row(static_cast<size_t>(row_bytes));
  LongRows verdict = LongRows::kValid;
  for (uint64_t r = 0; r < rows && verdict == LongRows::kValid; ++r) {
    if (TIFFReadScanline(long_rows, row.data(), static_cast<uint32_t>(r), 0) != 1) verdict = LongRows::kInvalid;
  }
  TIFFClose(long_rows);
  return verdict;
}

// The decoded size of one strip: the last strip of a plane may be short.
uint64_t strip_decoded_size(TIFF* tif, uint32_t strip, uint32_t length) {
  uint32_t rows_per_strip = 0xFFFFFFFFu;
  TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
  if (rows_per_strip > length) rows_per_strip = length;
  if (rows_per_strip == 0) return 0;
  const uint64_t per_plane = (uint64_t{length} + rows_per_strip - 1) / rows_per_strip;
  const uint64_t first_row = (strip % per_plane) * rows_per_strip;
  const uint64_t rows = std::min<uint64_t>(rows_per_strip, length - first_row);
  return TIFFVStripSize64(tif, static_cast<uint32_t>(rows));
}

bool codec_warned() {
  if (!g_codec_warning) return false;
  report(true, kVerifyDirectory, "Damaged JPEG data");
  return true;
}

}  // namespace

ImageReaderTIFF::ImageReaderTIFF(FILE* in, const char* path) : ImageReader(kTypeTIFF, in, path) {
  TIFFSetErrorHandler(TIFF_Error_Handler);
  TIFFSetWarningHandler(TIFF_Warning_Handler);
}

ImageReaderTIFF::~ImageReaderTIFF() { log_printf("ImageReaderTIFF::~ImageReaderTIFF() has been called\n"); }

bool ImageReaderTIFF::ReadHeader() {
  log_printf("reading header from [%s]\n", path_);
  if (m_in != nullptr) {
    fclose(m_in);
    m_in = nullptr;
  }
  TiffHandle handle(path_);
  if (handle.get() == nullptr) {
    log_printf("TIFFOpen(%s) failed\n", path_);
    return true;
  }
  if (has_dng_version(handle.get())) {
    TIFFError("ImageReaderTIFF::ReadHeader", "Attempting to process DNG file as TIFF");
    return false;
  }
  sub_directory_offsets(handle.get());
  TIFFSetDirectory(handle.get(), 0);
  return true;
}

bool ImageReaderTIFF::Verify() {
  if (m_in == nullptr) {
    log_printf("m_in is NULL");
    return false;
  }
  log_printf("reading header from [%s]\n", path_);
  fclose(m_in);
  m_in = nullptr;
  // Cleared before the first directory is read, so that its warnings count
  // as those of every later directory do.
  g_codec_warning = false;
  TiffHandle handle(path_);
  TIFF* tif = handle.get();
  if (tif == nullptr) {
    log_printf("TIFFOpen(%s) failed\n", path_);
    return false;
  }
  // The main chain is walked once, link by link; after a directory's
  // sub-directories the walk goes back to it by its offset. The offsets
  // seen end a chain that loops back on itself.
  std::unordered_set<uint64_t> seen;
  for (int directories = 1;; ++directories) {
    const uint64_t current = TIFFCurrentDirOffset(tif);
    seen.insert(current);
    if (!VerifyDirectory(tif)) return false;
    if (has_dng_version(tif)) {
      TIFFError("ImageReaderTIFF::Verify", "Attempting to process DNG file as TIFF");
      return false;
    }
    std::vector<uint64_t> subs = sub_directory_offsets(tif);
    for (size_t i = 0; i < subs.size(); ++i) {
      log_printf("offset[%d] = %d\n", static_cast<int>(i), static_cast<int>(subs[i]));
      if (!TIFFSetSubDirectory(tif, subs[i])) {
        switch (check_refused_directory(tif, subs[i])) {
          case RefusedDirectory::kPasses: continue;
          case RefusedDirectory::kFails: return false;
          case RefusedDirectory::kHoldsAnImage: break;
        }
        TIFFError("ImageReaderTIFF::Verify", "TIFFSetSubDirectory failed");
        return false;
      }
      if (!VerifyDirectory(tif)) return false;
    }
    // A damaged link after a sound image ends the check as a success: many
    // writers leave one behind.
    if (!subs.empty() && !TIFFSetSubDirectory(tif, current)) break;
    if (!TIFFReadDirectory(tif)) break;
    if (codec_warned()) return false;
    if (!seen.insert(TIFFCurrentDirOffset(tif)).second) break;
    if (directories == kMaxDirectories) {
      TIFFError("ImageReaderTIFF::Verify", "More than %d directories", kMaxDirectories);
      return false;
    }
  }
  log_printf("\n\ngoLibTiff succeeded\n");
  return true;
}

bool ImageReaderTIFF::VerifyDirectory(void* handle) {
  TIFF* tif = static_cast<TIFF*>(handle);
  if (codec_warned()) return false;
  const bool tiled = TIFFIsTiled(tif) != 0;
  // Strips and tiles are decoded whole, one library call each: that also
  // covers layouts libtiff cannot give out row by row (subsampled YCbCr in
  // JPEG strips). Strips too large for a buffer of their own are read as
  // long rows where their codec allows (read_strip_as_long_rows), else into
  // a StripWindow, as are such tiles; only strips beyond even that are read
  // a row at a time.
  //
  // Large JPEG strips are the exception: they are read a row at a time, so
  // that the first report of damaged data ends the check (a damaged strip
  // whose header announces vast dimensions would otherwise be decoded in
  // full). The codec hands out rows of subsampled YCbCr data once it
  // converts them to RGB.
  uint64_t piece = tiled ? TIFFTileSize64(tif) : TIFFStripSize64(tif);
  const uint64_t own_buffer_limit = tiled ? static_cast<uint64_t>(kMaxBuffer) : kMaxWholeStrip;
  uint16_t compression = COMPRESSION_NONE;
  TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
  const bool jpeg = compression == COMPRESSION_JPEG || compression == COMPRESSION_OJPEG;
  if (!tiled && jpeg && piece > own_buffer_limit) {
    uint16_t photometric = 0;
    if (compression == COMPRESSION_JPEG && TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) != 0 &&
        photometric == PHOTOMETRIC_YCBCR) {
      TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    }
    piece = 0;  // by rows
  }
  std::unique_ptr<StripWindow> window;
  if (piece > own_buffer_limit) window = StripWindow::make(piece);
  const bool by_rows = !tiled && window == nullptr && (piece == 0 || piece > own_buffer_limit);
  const uint64_t size = window != nullptr ? piece : by_rows ? static_cast<uint64_t>(TIFFScanlineSize64(tif)) : piece;
  log_printf("scanline size = %d\n", static_cast<int>(size));
  if (size == 0 || (window == nullptr && size > static_cast<uint64_t>(kMaxBuffer))) {
    report(true, kVerifyDirectory, "Out of memory");
    return false;
  }
  void* buffer = nullptr;
  if (window != nullptr) {
    buffer = window->data();
  } else {
    try {
      buffer_.resize(static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
      report(true, kVerifyDirectory, "Out of memory");
      return false;
    }
    buffer = buffer_.data();
  }

  uint16_t planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &planar);
  log_printf("planar config = %ld\n", static_cast<long>(planar));
  uint32_t length = 0;
  if (TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &length) == 0) {
    report(true, kVerifyDirectory, "Can't get image length");
    return false;
  }
  log_printf("length = %d\n", static_cast<int>(length));

  if (tiled) {
    // Every tile of every plane.
    uint32_t tiles = TIFFNumberOfTiles(tif);
    for (uint32_t t = 0; t < tiles; ++t) {
      if (TIFFReadEncodedTile(tif, t, buffer, static_cast<tmsize_t>(size)) < 0) {
        report(true, kVerifyDirectory, "Failed to read tile");
        return false;
      }
      if (codec_warned()) return false;
    }
    return true;
  }
  if (!by_rows) {
    // Every strip of every plane.
    uint32_t strips = TIFFNumberOfStrips(tif);
    for (uint32_t s = 0; s < strips; ++s) {
      if (window != nullptr) {
        LongRows long_rows = read_strip_as_long_rows(tif, s, strip_decoded_size(tif, s, length));
        if (long_rows == LongRows::kInvalid) {
          report(true, kVerifyDirectory, "Failed to read scanline");
          return false;
        }
        if (long_rows == LongRows::kValid) continue;
      }
      if (TIFFReadEncodedStrip(tif, s, buffer, static_cast<tmsize_t>(size)) < 0) {
        report(true, kVerifyDirectory, "Failed to read scanline");
        return false;
      }
      if (codec_warned()) return false;
    }
    return true;
  }
  // Every row of every plane: separate planes are read one after another.
  uint16_t samples = 1;
  if (planar == PLANARCONFIG_SEPARATE) TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  uint16_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  for (uint16_t plane = 0; plane < planes; ++plane) {
    for (uint32_t row = 0; row < length; ++row) {
      if (TIFFReadScanline(tif, buffer, row, plane) != 1) {
        report(true, kVerifyDirectory, "Failed to read scanline");
        return false;
      }
      if (codec_warned()) return false;
    }
  }
  return true;
}
