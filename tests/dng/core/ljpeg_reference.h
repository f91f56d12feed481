// A plain lossless JPEG decoder for the codec's tests: it walks the stream
// segment by segment and decodes every Huffman code bit by bit against the
// canonical code list, with none of the lookups of the real decoder.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace dng_test {

struct ReferenceImage {
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t components = 0;
  std::vector<uint16_t> samples;  // rows of width x components
};

// The decoded image, or nothing when the stream is not well formed.
std::optional<ReferenceImage> reference_ljpeg_decode(const std::vector<uint8_t>& data, bool quirk_16);

}  // namespace dng_test
