#include "worker/image_reader.h"

#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"
#include "platform/files.h"
#include "util/prefs.h"
#include "util/trace.h"
#include "worker/examine_glue.h"
#include "worker/image_file.h"
#include "worker/jpeg_check.h"
#include "worker/report.h"

namespace {

constexpr size_t kSignatureBytes = 20;
constexpr const char* kToolkitStartFailed = "Could not start the XMP toolkit";

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
    in = fopen_image_file(path);
    if (in == nullptr) {
      int err = errno;
      log_printf("ImageReader::open (fopen) path=%s %s", path, platform::errno_text(err).c_str());
      report(true, "ImageReader::open", "Can't open \"%s\"", path);
      return nullptr;
    }
    unsigned char head[kSignatureBytes];
    size_t got = fread(head, 1, sizeof head, in);
    if (got < sizeof head) {
      log_printf("ImageReader::open (fread) path=%s (nread = %d; ferror ; feof = %d= %d)", path,
                 static_cast<int>(got), ferror(in) != 0, feof(in) != 0);
      report(true, "ImageReader::open", "Can't read \"%s\"", path);
      fclose(in);
      return nullptr;
    }
    if (is_jpeg_signature(head)) {
      type = kTypeJPEG;
    } else if (is_tiff_signature(head)) {
      rewind(in);
      bool is_dng = false;
      if (examine_tiff_signature_file(in, path, &is_dng)) type = is_dng ? kTypeDNG : kTypeTIFF;
      rewind(in);
    }
    if (type == kTypeNone) type = prefs.TypeByExtension(extension);
    if (type == kTypeNone) {
      fclose(in);
      return nullptr;
    }
  }

  switch (type) {
    case kTypeJPEG: return new ImageReaderJPEG(in, path);
    case kTypeTIFF: return new ImageReaderTIFF(in, path);
    case kTypeDNG: return new ImageReaderDNG(in, path);
    case kTypeRaw: return new ImageReaderRAW(in, path);
    case kTypePSD: return new ImageReaderPSD(in, path);
    default:
      if (in != nullptr) fclose(in);
      return nullptr;
  }
}

ImageReaderJPEG::ImageReaderJPEG(FILE* in, const char* path) : ImageReader(kTypeJPEG, in, path) {}

bool ImageReaderJPEG::Verify() { return jpeg_check_file(path_); }

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
  dng_version_refusal refusal;
  if (validate_dng_file(path_, &refusal) == 0) return true;
  if (refusal.refused) {
    const uint32_t v = refusal.backward_version;
    char text[96];
    snprintf(text, sizeof text, "DNG backward version %u.%u.%u.%u is newer than this program validates", v >> 24,
             (v >> 16) & 0xFF, (v >> 8) & 0xFF, v & 0xFF);
    forced_code_ = 'E';
    SetMessage(text);
  }
  return false;
}
