// The receiver of decoded rows.
#pragma once

#include <cstdint>

// Receives a decoder's output in order, one call per finished row.
class dng_spooler {
 public:
  virtual ~dng_spooler() = default;
  // count bytes of data, valid only for the duration of the call.
  virtual void Spool(const void* data, uint32_t count) = 0;
};
