#include "dng/core/dng_image_flip.h"

namespace {

// Index: TIFF Orientation 1..8; value: code.
constexpr int32_t kCodeOfTiff[9] = {0, 0, 4, 2, 6, 7, 1, 5, 3};
// Index: code 0..7; value: TIFF Orientation.
constexpr uint32_t kTiffOfCode[8] = {1, 6, 3, 8, 2, 7, 4, 5};

}  // namespace

dng_image_flip dng_image_flip::FromTiff(uint32_t orientation) {
  return dng_image_flip(orientation >= 1 && orientation <= 8 ? kCodeOfTiff[orientation] : 0);
}

uint32_t dng_image_flip::ToTiff() const {
  return code_ >= 0 && code_ <= 7 ? kTiffOfCode[code_] : 1;
}
