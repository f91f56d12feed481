// Decodes the input as one lossless JPEG stream.
//
// Input: byte 0 holds flags (bit 0 the category-16 quirk, bit 1 a spooler
// that checks row sizes only), bytes 1-4 the expected byte count
// (little-endian; 0 accepts any size up to 64 MB); the rest is the stream.
// Every row handed over must be width x components x 2 bytes, rows never
// outnumber the frame's height, and only dng_exception may leave the decoder.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_ljpeg_decoder.h"
#include "dng/core/dng_spooler.h"
#include "dng/core/dng_stream.h"

namespace {

class CheckingSpooler : public dng_spooler {
 public:
  void Spool(const void* data, uint32_t count) override {
    if (row_bytes == 0) row_bytes = count;
    if (count != row_bytes || count == 0 || data == nullptr) abort();
    total += count;
    const auto* p = static_cast<const uint8_t*>(data);
    checksum += p[0] + p[count - 1];
  }
  uint32_t row_bytes = 0;
  uint64_t total = 0;
  uint32_t checksum = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 5 || size > (1u << 24)) return 0;
  bool quirk = (data[0] & 1) != 0;
  uint32_t expected = uint32_t{data[1]} | (uint32_t{data[2]} << 8) | (uint32_t{data[3]} << 16) |
                      (uint32_t{data[4]} << 24);
  uint64_t minimum = expected == 0 ? 0 : expected;
  uint64_t maximum = expected == 0 ? (uint64_t{1} << 26) : expected;
  dng_stream stream(data + 5, static_cast<uint32_t>(size - 5));
  CheckingSpooler spooler;
  try {
    ljpeg_decode_to_spooler(stream, spooler, minimum, maximum, quirk);
    if (spooler.total > maximum) abort();
    if (expected != 0 && spooler.total != expected) abort();
  } catch (const dng_exception&) {
    if (spooler.total > maximum) abort();
  }
  return 0;
}
