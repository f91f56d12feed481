// The TIFF check; the only file that includes libtiff's header.
#include <tiffio.h>

#include <cstdarg>
#include <cstdio>
#include <new>

#include "util/prefs.h"
#include "util/trace.h"
#include "worker/image_reader.h"
#include "worker/report.h"

namespace {

constexpr const char* kVerifyDirectory = "ImageReaderTIFF::VerifyDirectory";
constexpr uint32_t kTagDNGVersion = 50706;

// The largest scanline or tile buffer, and the largest single allocation
// libtiff may make for one file: far above any real photograph's row or
// tile, far below what a hostile header could ask for.
constexpr tmsize_t kMaxBuffer = 256 * 1024 * 1024;
// Strips up to this size are read whole rather than row by row.
constexpr tmsize_t kMaxWholeStrip = 64 * 1024 * 1024;
// Directories in one file's main chain (each visit re-reads the chain).
constexpr int kMaxDirectories = 10000;

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
}

// A libtiff handle closed on every path.
class TiffHandle {
 public:
  explicit TiffHandle(const char* path) {
    TIFFOpenOptions* options = TIFFOpenOptionsAlloc();
    if (options != nullptr) TIFFOpenOptionsSetMaxSingleMemAlloc(options, kMaxBuffer);
    // "m": read with read(), not a memory map, so a file that shrinks while
    // it is checked is an error rather than a SIGBUS.
    tif_ = TIFFOpenExt(path, "rm", options);
    if (options != nullptr) TIFFOpenOptionsFree(options);
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
  TiffHandle handle(path_);
  TIFF* tif = handle.get();
  if (tif == nullptr) {
    log_printf("TIFFOpen(%s) failed\n", path_);
    return false;
  }
  for (int directories = 1;; ++directories) {
    tdir_t current = TIFFCurrentDirectory(tif);
    if (!VerifyDirectory(tif)) return false;
    if (has_dng_version(tif)) {
      TIFFError("ImageReaderTIFF::Verify", "Attempting to process DNG file as TIFF");
      return false;
    }
    std::vector<uint64_t> subs = sub_directory_offsets(tif);
    for (size_t i = 0; i < subs.size(); ++i) {
      log_printf("offset[%d] = %d\n", static_cast<int>(i), static_cast<int>(subs[i]));
      if (!TIFFSetSubDirectory(tif, subs[i])) {
        TIFFError("ImageReaderTIFF::Verify", "TIFFSetSubDirectory failed");
        return false;
      }
      if (!VerifyDirectory(tif)) return false;
    }
    // A damaged link after a sound image ends the check as a success: many
    // writers leave one behind.
    if (!TIFFSetDirectory(tif, current) || !TIFFReadDirectory(tif)) break;
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
  bool tiled = TIFFIsTiled(tif) != 0;
  // Strips of a sensible size are read whole: that also covers layouts
  // libtiff cannot give out row by row (subsampled YCbCr in JPEG strips).
  // Larger strips are read a row at a time to keep the buffer small.
  tmsize_t strip_size = tiled ? 0 : TIFFStripSize(tif);
  bool whole_strips = !tiled && strip_size > 0 && strip_size <= kMaxWholeStrip;
  tmsize_t size = tiled ? TIFFTileSize(tif) : whole_strips ? strip_size : TIFFScanlineSize(tif);
  log_printf("scanline size = %d\n", static_cast<int>(size));
  if (size <= 0 || size > kMaxBuffer) {
    report(true, kVerifyDirectory, "Out of memory");
    return false;
  }
  try {
    buffer_.resize(static_cast<size_t>(size));
  } catch (const std::bad_alloc&) {
    report(true, kVerifyDirectory, "Out of memory");
    return false;
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
      if (TIFFReadEncodedTile(tif, t, buffer_.data(), size) < 0) {
        report(true, kVerifyDirectory, "Failed to read tile");
        return false;
      }
    }
    return true;
  }
  if (whole_strips) {
    // Every strip of every plane.
    uint32_t strips = TIFFNumberOfStrips(tif);
    for (uint32_t s = 0; s < strips; ++s) {
      if (TIFFReadEncodedStrip(tif, s, buffer_.data(), size) < 0) {
        report(true, kVerifyDirectory, "Failed to read scanline");
        return false;
      }
    }
    return true;
  }
  // Every row of every plane: separate planes are read one after another.
  uint16_t samples = 1;
  if (planar == PLANARCONFIG_SEPARATE) TIFFGetField(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  uint16_t planes = planar == PLANARCONFIG_SEPARATE ? samples : 1;
  for (uint16_t plane = 0; plane < planes; ++plane) {
    for (uint32_t row = 0; row < length; ++row) {
      if (TIFFReadScanline(tif, buffer_.data(), row, plane) != 1) {
        report(true, kVerifyDirectory, "Failed to read scanline");
        return false;
      }
    }
  }
  return true;
}
