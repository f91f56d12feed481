// TIFF field type codes and the size of one value of each. Pixel types of the
// image model are a subset of these codes.
#pragma once

#include <cstdint>

inline constexpr uint32_t dng_type_byte = 1;
inline constexpr uint32_t dng_type_ascii = 2;
inline constexpr uint32_t dng_type_short = 3;
inline constexpr uint32_t dng_type_long = 4;
inline constexpr uint32_t dng_type_rational = 5;
inline constexpr uint32_t dng_type_sbyte = 6;
inline constexpr uint32_t dng_type_undefined = 7;
inline constexpr uint32_t dng_type_sshort = 8;
inline constexpr uint32_t dng_type_slong = 9;
inline constexpr uint32_t dng_type_srational = 10;
inline constexpr uint32_t dng_type_float = 11;
inline constexpr uint32_t dng_type_double = 12;
inline constexpr uint32_t dng_type_ifd = 13;

// Bytes of one value of the TIFF field type; 0 for 0 and codes above 15.
constexpr uint32_t tag_type_size(uint32_t type) {
  switch (type) {
    case 1: case 2: case 6: case 7:
      return 1;
    case 3: case 8: case 14:
      return 2;
    case 4: case 9: case 11: case 13:
      return 4;
    case 5: case 10: case 12: case 15:
      return 8;
    default:
      return 0;
  }
}
