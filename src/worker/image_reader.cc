#include "worker/image_reader.h"

#include <strings.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"
#include "platform/files.h"
#include "platform/process.h"
#include "util/prefs.h"
#include "util/trace.h"
#include "util/worker_memory.h"
#include "worker/examine_glue.h"
#include "worker/image_file.h"
#include "worker/jpeg_check.h"
#include "worker/report.h"

namespace {

constexpr size_t kSignatureBytes = 20;
constexpr const char* kToolkitStartFailed = "Could not start the XMP toolkit";
constexpr const char* kLackOfMemory = "Could not be checked for lack of memory";

// The answer to a DNG check that ran out of memory, naming the block it
// needed (in MiB, rounded up) when that is known.
std::string lack_of_memory_message(uint64_t needed) {
  if (needed == 0) return kLackOfMemory;
  constexpr uint64_t kMiB = uint64_t{1} << 20;
  const unsigned long long mib = needed / kMiB + (needed % kMiB != 0 ? 1 : 0);
  char text[96];
  snprintf(text, sizeof text, "%s (needed a block of %llu MiB)", kLackOfMemory, mib);
  return text;
}

bool is_jpeg_signature(const unsigned char* b) {
  if (b[0] != 0xFF || b[1] != 0xD8 || b[2] != 0xFF) return false;
  if (b[3] == 0xE0 && memcmp(b + 6, "JFIF", 5) == 0) return true;
  if (b[3] == 0xE1 && memcmp(b + 6, "Exif", 5) == 0) return true;
  return false;
}

bool is_tiff_signature(const unsigned char* b) {
  return (b[0] == 'M' && b[1] == 'M' && b[2] == 0 && b[3] == 0x2A) ||
         (b[0] == 'I' && b[1] == 'I' && b[2] == 0x2A && b[3] == 0);
}

// The first bytes of a file are read in one block: the signature is their
// start, and a JPEG decode goes on from them (a small file is read whole).
constexpr size_t kHeadBlock = kJpegSourceSlice;

// Reads the first block of a file of the given size through its
// descriptor, from offset 0. Fewer bytes than the block: the file is
// shorter, or (read_error set) reading failed.
size_t read_head(int fd, off_t size, unsigned char* head, bool* read_error) {
  const size_t want = size < static_cast<off_t>(kHeadBlock) ? static_cast<size_t>(size) : kHeadBlock;
  size_t got = 0;
  do {
    ssize_t n = read_image_file(fd, head + got, kHeadBlock - got, static_cast<off_t>(got));
    if (n < 0) *read_error = true;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  } while (got < want);  // a short read that is not the end
  return got;
}

// A stream for binary reading over an open descriptor, positioned at the
// start of the file. On failure the descriptor is closed, the failure
// logged and reported as a failed open, and nullptr given.
FILE* stream_of(int fd, const char* path) {
  FILE* in = make_blocking(fd) ? fdopen(fd, "rb") : nullptr;
  if (in == nullptr) {
    int err = errno;
    ::close(fd);
    log_printf("ImageReader::open (fopen) path=%s %s", path, platform::errno_text(err).c_str());
    report(true, "ImageReader::open", "Can't open \"%s\"", path);
  }
  return in;
}

}  // namespace

ImageReader::ImageReader(int type, FILE* in, const char* path) : m_in(in), type_(type) { SetPath(path); }

ImageReader::~ImageReader() {
  if (m_in != nullptr) fclose(m_in);
  free(path_);
  free(message_);
}

void ImageReader::SetPath(const char* path) {
  free(path_);
  path_ = path != nullptr ? strdup(path) : nullptr;
}

void ImageReader::SetMessage(const char* text) {
  free(message_);
  message_ = text != nullptr ? strdup(text) : nullptr;
}

ImageReader* ImageReader::open(const char* extension, const char* path) {
  int type = kTypeNone;
  FILE* in = nullptr;

  // The extension alone decides for raw files and PSD files.
  if (extension != nullptr && prefs.ExtInList(extension, prefs.GetExtensionsRAW())) {
    type = kTypeRaw;
  } else if (extension != nullptr && strcasecmp(extension, "psd") == 0) {
    type = kTypePSD;
  } else {
    // The file is opened once per request: the signature is read through
    // the descriptor, and the reader gets that descriptor (a JPEG reader,
    // with the bytes read) or a stream over it.
    off_t size = 0;
    int fd = open_image_file_nonblocking(path, &size);
    if (fd < 0) {
      int err = errno;
      log_printf("ImageReader::open (fopen) path=%s %s", path, platform::errno_text(err).c_str());
      report(true, "ImageReader::open", "Can't open \"%s\"", path);
      return nullptr;
    }
    unsigned char head[kHeadBlock];
    bool read_error = false;
    size_t got = read_head(fd, size, head, &read_error);
    if (got < kSignatureBytes) {
      log_printf("ImageReader::open (fread) path=%s (nread = %d; ferror ; feof = %d= %d)", path,
                 static_cast<int>(got), read_error, !read_error);
      report(true, "ImageReader::open", "Can't read \"%s\"", path);
      ::close(fd);
      return nullptr;
    }
    if (is_jpeg_signature(head)) {
      type = kTypeJPEG;
    } else if (is_tiff_signature(head)) {
      in = stream_of(fd, path);
      if (in == nullptr) return nullptr;
      bool is_dng = false;
      if (examine_tiff_signature_file(in, path, &is_dng)) type = is_dng ? kTypeDNG : kTypeTIFF;
      rewind(in);
    }
    if (type == kTypeNone) type = prefs.TypeByExtension(extension);
    if (type == kTypeJPEG && in == nullptr) return new ImageReaderJPEG(fd, path, head, got);
    if (type == kTypeNone) {
      if (in != nullptr) {
        fclose(in);
      } else {
        ::close(fd);
      }
      return nullptr;
    }
    if (in == nullptr) {
      in = stream_of(fd, path);
      if (in == nullptr) return nullptr;
    }
  }

  switch (type) {
    case kTypeJPEG: {
      // A TIFF signature the examiner refused, named as a JPEG.
      int fd = dup(fileno(in));
      fclose(in);
      if (fd < 0) return nullptr;
      return new ImageReaderJPEG(fd, path, nullptr, 0);
    }
    case kTypeTIFF: return new ImageReaderTIFF(in, path);
    case kTypeDNG: return new ImageReaderDNG(in, path);
    case kTypeRaw: return new ImageReaderRAW(in, path);
    case kTypePSD: return new ImageReaderPSD(in, path);
    default:
      if (in != nullptr) fclose(in);
      return nullptr;
  }
}

ImageReaderJPEG::ImageReaderJPEG(int fd, const char* path, const unsigned char* start, size_t start_size)
    : ImageReader(kTypeJPEG, nullptr, path), fd_(fd), start_(start, start + start_size) {}

ImageReaderJPEG::~ImageReaderJPEG() {
  if (fd_ >= 0) ::close(fd_);
}

// Decodes the file that identification opened: one open per request.
bool ImageReaderJPEG::Verify() {
  if (fd_ < 0) {
    stderr_printf("can't open %s\n", path_);
    return false;
  }
  return jpeg_check_file(fd_, {start_.data(), start_.size()});
}

ImageReaderPSD::ImageReaderPSD(FILE* in, const char* path) : ImageReader(kTypePSD, in, path) {}

bool ImageReaderPSD::Verify() {
  std::string message;
  bool valid = check_psd_file(path_, &message);
  SetMessage(message.c_str());
  return valid;
}

ImageReaderRAW::ImageReaderRAW(FILE* in, const char* path) : ImageReader(kTypeRaw, in, path) {}

bool ImageReaderRAW::Verify() {
  if (m_in != nullptr) {
    fclose(m_in);
    m_in = nullptr;
  }
  return false;
}

ImageReaderDNG::ImageReaderDNG(FILE* in, const char* path) : ImageReader(kTypeDNG, in, path) {
  try {
    xmp_toolkit_initialize();
    toolkit_started_ = true;
  } catch (...) {
    // The answer says so; the next file starts the toolkit afresh.
  }
}

ImageReaderDNG::~ImageReaderDNG() {
  if (toolkit_started_) xmp_toolkit_terminate();
}

bool ImageReaderDNG::Verify() {
  if (!toolkit_started_) {
    forced_code_ = 'E';
    SetMessage(kToolkitStartFailed);
    return false;
  }
  // The image cap follows the address-space limit the front end gives this
  // worker, which it may set after start-up or change between runs.
  const std::optional<uint64_t> limit = platform::address_space_limit();
  set_dng_image_memory_cap(limit ? worker_memory::image_cap_for(*limit) : dng_default_image_memory_cap);
  dng_version_refusal refusal;
  const int32_t code = validate_dng_file(path_, &refusal);
  if (code == 0) return true;
  if (code == dng_code_memory) {
    // Not a verdict on the file: it could not be checked.
    forced_code_ = 'E';
    SetMessage(lack_of_memory_message(dng_failed_allocation_size()).c_str());
  } else if (refusal.refused) {
    const uint32_t v = refusal.backward_version;
    char text[96];
    snprintf(text, sizeof text, "DNG backward version %u.%u.%u.%u is newer than this program validates", v >> 24,
             (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    forced_code_ = 'E';
    SetMessage(text);
  }
  return false;
}
