// A 16-byte value: an MD5 digest, or a 16-byte identifier read from a file.
#pragma once

#include <cstdint>
#include <cstring>

// All zero means "no value"; a new digest is zero.
class dng_digest {
 public:
  static constexpr uint32_t kBytes = 16;

  uint8_t data[kBytes] = {};

  bool IsZero() const {
    for (uint8_t b : data) {
      if (b != 0) return false;
    }
    return true;
  }

  bool SameAs(const dng_digest& other) const { return std::memcmp(data, other.data, kBytes) == 0; }
};
