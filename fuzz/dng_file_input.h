// What the fuzz targets that validate whole DNG files share: a small image
// cap, so that the sizes a fuzzed file claims stay cheap, and the input
// written to the file the validation opens, and the validation itself.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dng/core/dng_limits.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"

namespace fuzz_support {

inline void cap_dng_images() {
  static const bool capped = [] {
    set_dng_image_memory_cap(16u << 20);
    return true;
  }();
  (void)capped;
}

// Aborts when the file cannot be written: the run would test nothing.
inline void write_dng_input(const std::string& path, const uint8_t* data, size_t size) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

// Validates the file between a start and a stop of the XMP toolkit, as the
// worker's DNG reader does; a toolkit that does not start validates nothing.
inline void validate_with_toolkit(const std::string& path) {
  bool started = false;
  try {
    xmp_toolkit_initialize();
    started = true;
  } catch (...) {
  }
  if (started) {
    validate_dng_file(path.c_str());
    xmp_toolkit_terminate();
  }
}

}  // namespace fuzz_support
