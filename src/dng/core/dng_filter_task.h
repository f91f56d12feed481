// An area task that reads a source image area (edges repeated) into a
// per-thread buffer, filters it into a destination buffer and writes that
// into the destination image.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_area_task.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_pixel_buffer.h"

class dng_filter_task : public dng_area_task {
 public:
  // Neither image is owned; both outlive the task.
  dng_filter_task(const dng_image& src_image, dng_image& dst_image);
  ~dng_filter_task() override = default;

  // The source area needed for a destination area; the base returns it.
  virtual dng_box SourceAreaFor(const dng_box& dst_area) const { return dst_area; }
  // Height and width (at least 0) of SourceAreaFor the tile-sized rectangle
  // at (0, 0).
  virtual dng_extent SourceTileSizeFor(const dng_extent& tile_size) const;
  virtual void FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                          dng_pixel_buffer& dst_buffer) = 0;

  // Allocates (zero-filled) one source and one destination block for each
  // of at most four threads; rows padded to a multiple of 16 bytes. Sizes
  // are computed in 64 bits against the image-memory cap (100005).
  void Begin(uint32_t thread_count, const dng_extent& tile_size, dng_memory_allocator& allocator,
             dng_cancel_hook* hook) override;
  void ProcessTile(uint32_t thread_index, const dng_box& tile, dng_cancel_hook* hook) override;

  // Columns of a row padded so the row's bytes are a multiple of 16.
  static uint64_t PaddedColumns(uint64_t cols, uint32_t pixel_size);

 protected:
  const dng_image& src_image_;
  dng_image& dst_image_;
  uint32_t src_plane_ = 0;
  uint32_t src_planes_;
  uint32_t src_pixel_type_;
  uint32_t dst_plane_ = 0;
  uint32_t dst_planes_;
  uint32_t dst_pixel_type_;
  dng_extent src_repeat_ = dng_extent(1, 1);

 private:
  dng_pixel_buffer MakeBuffer(const dng_box& area, uint32_t plane, uint32_t planes,
                              uint32_t pixel_type, const dng_image& image,
                              dng_memory_block& block) const;

  std::unique_ptr<dng_memory_block> src_blocks_[dng_max_task_threads];
  std::unique_ptr<dng_memory_block> dst_blocks_[dng_max_task_threads];
};
