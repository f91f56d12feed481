// Gathers decoded 16-bit rows of one tile into bands and writes each full
// band to the image.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_spooler.h"

class dng_host;
class dng_image;
class dng_memory_block;

class dng_image_spooler : public dng_spooler {
 public:
  // The band holds as many whole rows of (right - left) x planes samples as
  // the buffer fits (the buffer must fit one row), at most the
  // tile's height. The buffer stays owned by the caller.
  dng_image_spooler(dng_host& host, dng_image& image, const dng_box& tile, uint32_t plane,
                    uint32_t planes, dng_memory_block& band_buffer);

  // Bytes past the tile's last band are ignored.
  void Spool(const void* data, uint32_t count) override;

 private:
  void StartBand(int32_t top, uint32_t rows);

  dng_host& host_;
  dng_image& image_;
  dng_box tile_;
  uint32_t plane_;
  uint32_t planes_;
  uint8_t* buffer_;
  uint32_t band_rows_ = 0;
  dng_box band_;
  uint32_t filled_ = 0;
  uint32_t band_size_ = 0;
};
