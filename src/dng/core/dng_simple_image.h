// An image whose pixels lie in one memory block, interleaved by pixel, rows
// top to bottom. The image owns the block; Crop and Reorient move no pixel.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_image.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"

class dng_simple_image : public dng_image {
 public:
  // The block holds height x width x planes x sample size bytes, computed in
  // 64 bits: a size beyond the image-memory cap raises 100005 before
  // anything is allocated.
  dng_simple_image(const dng_box& bounds, uint32_t planes, uint32_t pixel_type,
                   uint32_t pixel_range = 0,
                   dng_memory_allocator& allocator = default_memory_allocator);
  ~dng_simple_image() override = default;

  // The bounds become (0, 0, height, width) of the rectangle, which must lie
  // inside the bounds (100000 otherwise).
  void Crop(const dng_box& rect) override;
  void Reorient(const dng_image_flip& flip) override;

  // The description of all pixels.
  const dng_pixel_buffer& Buffer() const { return buffer_; }

 protected:
  void LockTile(dng_tile_buffer& buffer, const dng_box& area, bool dirty) const override;

 private:
  dng_pixel_buffer buffer_;
  std::unique_ptr<dng_memory_block> block_;
};
