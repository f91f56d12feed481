#include "dng/support/counting_stream.h"

#include <cstring>

#include "dng/core/dng_errors.h"

namespace dng_test {

CountingStream::CountingStream(std::vector<uint8_t> bytes, dng_cancel_hook* hook)
    : dng_stream(hook, kBufferSize, 0), bytes_(std::move(bytes)) {}

void CountingStream::ClearRecords() {
  reads_.clear();
  writes_.clear();
  length_queries_ = 0;
}

uint32_t CountingStream::StorageLength() {
  ++length_queries_;
  return static_cast<uint32_t>(bytes_.size());
}

void CountingStream::StorageRead(void* data, uint32_t count, uint32_t offset) {
  reads_.push_back({offset, count});
  // A storage must never be asked for bytes it does not have.
  if (offset > bytes_.size() || count > bytes_.size() - offset) throw_dng_code(dng_code_read_file);
  std::memcpy(data, bytes_.data() + offset, count);
}

void CountingStream::StorageResize(uint32_t length) { bytes_.resize(length); }

void CountingStream::StorageWrite(const void* data, uint32_t count, uint32_t offset) {
  writes_.push_back({offset, count});
  if (bytes_.size() < uint64_t{offset} + count) bytes_.resize(uint64_t{offset} + count);
  std::memcpy(bytes_.data() + offset, data, count);
}

}  // namespace dng_test
