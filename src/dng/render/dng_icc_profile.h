// ICC version 2.1 display-class profiles generated from a colour space: a
// 128-byte header with the D50 illuminant, then the tags desc, cprt, wtpt
// and, for RGB, the colorants rXYZ, gXYZ, bXYZ with one sampled tone curve
// shared by rTRC, gTRC and bTRC (kTRC for gray). The tone curve's length is
// whatever makes the profile exactly the requested size.
#pragma once

#include <cstdint>
#include <vector>

class dng_color_space;

struct dng_icc_profile_recipe {
  const char* description;  // ASCII, for 'desc'
  const char* notice;       // ASCII, for 'cprt'
  uint32_t size;            // total profile size in bytes
};

// Profile bytes for the space (its to-PCS matrix gives the colorants, the
// inverse of its encoding curve the tone curve). Raises 100000 when the size
// cannot be met with a curve of at least 2 entries.
std::vector<uint8_t> make_display_icc_profile(const dng_color_space& space,
                                              const dng_icc_profile_recipe& recipe);

// The three built-in profiles, made on first use: 3144, 940 and 408 bytes.
const std::vector<uint8_t>& srgb_icc_profile();
const std::vector<uint8_t>& prophoto_icc_profile();
const std::vector<uint8_t>& gray_gamma22_icc_profile();
