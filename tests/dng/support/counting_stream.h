// A stream over a byte vector through the storage interface, which records
// every physical read and write, so tests can see how many transfers a
// sequence of accesses costs and where they went.
#pragma once

#include <cstdint>
#include <vector>

#include "dng/core/dng_stream.h"

namespace dng_test {

struct Transfer {
  uint32_t offset;
  uint32_t count;
  bool operator==(const Transfer&) const = default;
};

class CountingStream : public dng_stream {
 public:
  explicit CountingStream(std::vector<uint8_t> bytes, dng_cancel_hook* hook = nullptr);

  const std::vector<uint8_t>& Bytes() const { return bytes_; }
  const std::vector<Transfer>& Reads() const { return reads_; }
  const std::vector<Transfer>& Writes() const { return writes_; }
  uint32_t LengthQueries() const { return length_queries_; }
  void ClearRecords();

 protected:
  uint32_t StorageLength() override;
  void StorageRead(void* data, uint32_t count, uint32_t offset) override;
  void StorageResize(uint32_t length) override;
  void StorageWrite(const void* data, uint32_t count, uint32_t offset) override;

 private:
  std::vector<uint8_t> bytes_;
  std::vector<Transfer> reads_;
  std::vector<Transfer> writes_;
  uint32_t length_queries_ = 0;
};

}  // namespace dng_test
