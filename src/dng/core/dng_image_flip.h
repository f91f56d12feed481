// Orientation of an image as a code 0..7: bit 0 exchanges rows and
// columns, after the mirrors have been applied.
#pragma once

#include <cstdint>

class dng_image_flip {
 public:
  constexpr dng_image_flip() = default;
  constexpr explicit dng_image_flip(int32_t code) : code_(code) {}

  constexpr int32_t Code() const { return code_; }

  // From the TIFF Orientation tag (1..8); other values give code 0.
  static dng_image_flip FromTiff(uint32_t orientation);
  // The TIFF Orientation; codes outside 0..7 give 1.
  uint32_t ToTiff() const;

  constexpr bool SwapsAxes() const { return (code_ & 1) != 0 && code_ >= 0 && code_ <= 7; }
  // Columns reversed: codes 2, 3, 4, 5.
  constexpr bool MirrorsLeftRight() const { return code_ >= 2 && code_ <= 5; }
  // Rows reversed: codes 1, 2, 5, 6.
  constexpr bool MirrorsTopBottom() const {
    return code_ == 1 || code_ == 2 || code_ == 5 || code_ == 6;
  }

  constexpr bool operator==(const dng_image_flip&) const = default;

 private:
  int32_t code_ = 0;
};
