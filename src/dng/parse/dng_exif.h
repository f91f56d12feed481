// EXIF, GPS and Interoperability tags (interim: the camera make).
#pragma once

#include <cstdint>

#include "dng/core/dng_text.h"

class dng_host;
class dng_shared;
class dng_stream;

class dng_exif {
 public:
  dng_exif() = default;
  virtual ~dng_exif() = default;
  virtual bool ReadTag(dng_stream& stream, dng_shared& shared, uint32_t parent, bool is_main, uint32_t tag,
                       uint32_t type, uint32_t count, uint32_t position);
  virtual void FinishParse(dng_host& host, dng_shared& shared);
  dng_text make;
};
