// Scoped byte-order guards: set a stream's byte order for the span of one
// structure read or written in the other order, then restore it. They nest.
#pragma once

#include "dng/core/dng_stream.h"

class TempBigEndian {
 public:
  // big_endian true sets the stream big-endian (swapped), false
  // little-endian.
  explicit TempBigEndian(dng_stream& stream, bool big_endian = true)
      : stream_(stream), saved_(stream.IsByteSwapped()) {
    stream_.SetByteSwapped(big_endian);
  }
  virtual ~TempBigEndian() { stream_.SetByteSwapped(saved_); }
  TempBigEndian(const TempBigEndian&) = delete;
  TempBigEndian& operator=(const TempBigEndian&) = delete;

 private:
  dng_stream& stream_;
  bool saved_;
};

class TempLittleEndian : public TempBigEndian {
 public:
  explicit TempLittleEndian(dng_stream& stream) : TempBigEndian(stream, false) {}
};
