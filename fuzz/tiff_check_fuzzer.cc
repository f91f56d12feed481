// TIFF identification and the libtiff check of every directory, on
// arbitrary bytes.
#include "image_check_fuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check_image_bytes(data, size, "tif");
  return 0;
}
