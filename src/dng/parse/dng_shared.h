// File-wide DNG tags (interim: the structure offsets, versions and colour
// plane count that the container parser needs).
#pragma once

#include <cstdint>

#include "dng/core/dng_text.h"

class dng_exif;
class dng_host;
class dng_stream;

class dng_shared {
 public:
  dng_shared() = default;
  virtual ~dng_shared() = default;
  virtual bool ReadTag(dng_stream& stream, dng_exif& exif, uint32_t parent, bool is_main, uint32_t tag, uint32_t type,
                       uint32_t count, uint32_t position, int32_t offset_delta);
  virtual void FinishParse(dng_host& host, dng_exif& exif);
  virtual bool Validate() const;
  uint32_t ColorPlanes() const { return color_planes; }
  uint32_t BackwardVersion() const { return dng_backward_version; }

  uint32_t exif_ifd = 0, gps_info = 0, interoperability_ifd = 0, kodak_dcr_private_ifd = 0, kodak_kdc_private_ifd = 0;
  uint32_t xmp_count = 0, xmp_position = 0, iptc_length = 0, iptc_position = 0;
  uint32_t maker_note_count = 0, maker_note_position = 0;
  uint32_t dng_version = 0, dng_backward_version = 0;
  uint32_t color_planes = 0;
  uint32_t dng_private_data_count = 0, dng_private_data_position = 0;
};
