// Separable resampling of a rectangle of one image into a rectangle of
// another of a different size, with a cubic convolution kernel. Source
// positions and kernel weights are precomputed in fixed point with 128
// sub-pixel phases; each destination row is filtered vertically into a row
// buffer and that buffer horizontally into the destination.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_box.h"
#include "dng/core/dng_filter_task.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"

// Sub-pixel phases per source pixel: positions are in 1/128 pixel.
inline constexpr int32_t dng_resample_phases = 128;
// Fixed-point weights of one phase sum to exactly this.
inline constexpr int32_t dng_resample_unity = 16384;

// A resampling kernel: weights by distance in source pixels at scale 1.
class dng_resample_function {
 public:
  virtual ~dng_resample_function() = default;
  // The distance beyond which WeightAt is 0.
  virtual double SupportRadius() const = 0;
  virtual double WeightAt(double x) const = 0;
};

// Cubic convolution with parameter -0.75, support radius 2.
class dng_resample_bicubic : public dng_resample_function {
 public:
  double SupportRadius() const override { return 2.0; }
  double WeightAt(double x) const override;
  // The shared kernel, made on first use and destroyed at exit.
  static const dng_resample_function& Instance();
};

// Source positions of the destination lines along one axis: entry i is the
// source position of destination line (origin + i) in 1/128 pixel, its
// integer part entry >> 7 and its phase entry & 127.
class dng_resample_coords {
 public:
  dng_resample_coords() = default;
  virtual ~dng_resample_coords() = default;
  dng_resample_coords(const dng_resample_coords&) = delete;
  dng_resample_coords& operator=(const dng_resample_coords&) = delete;

  // Entry i (i below dst_count) = round_half_away((src_origin + src_count /
  // dst_count * (i + 0.5) - 0.5) * 128); the block holds dst_count rounded
  // up to a multiple of 8 entries, the extra ones repeating the last. Both
  // counts must be at least 1 and every entry must fit 32 bits (100000); a
  // block over the image-memory cap raises 100005 before allocating.
  void Fill(int32_t src_origin, int32_t dst_origin, uint32_t src_count, uint32_t dst_count,
            dng_memory_allocator& allocator);

  int32_t Origin() const { return origin_; }
  // Entries in the block (a multiple of 8).
  uint32_t Count() const { return count_; }
  // The entries from destination line `line` on; line must lie in the
  // filled range (no check).
  const int32_t* Coords(int32_t line) const {
    return static_cast<const int32_t*>(block_->Buffer()) + (int64_t(line) - origin_);
  }

 private:
  int32_t origin_ = 0;
  uint32_t count_ = 0;
  std::unique_ptr<dng_memory_block> block_;
};

// Kernel weights for one scale: for each of the 128 phases, Width() entries
// of which the first Taps() (2 x radius) are used, as floats and as 14-bit
// fixed point summing to exactly 16384.
class dng_resample_weights {
 public:
  dng_resample_weights() = default;
  virtual ~dng_resample_weights() = default;
  dng_resample_weights(const dng_resample_weights&) = delete;
  dng_resample_weights& operator=(const dng_resample_weights&) = delete;

  // scale = destination extent / source extent; it must be positive and
  // finite (100000). Radii and blocks too large for memory raise 100005
  // before allocating.
  void Fill(double scale, const dng_resample_function& kernel, dng_memory_allocator& allocator);

  int32_t Radius() const { return radius_; }
  uint32_t Taps() const { return uint32_t(radius_) * 2; }
  uint32_t Width() const { return width_; }
  const float* Weights32(uint32_t phase) const {
    return static_cast<const float*>(weights32_->Buffer()) + size_t(phase) * width_;
  }
  const int16_t* Weights16(uint32_t phase) const {
    return static_cast<const int16_t*>(weights16_->Buffer()) + size_t(phase) * width_;
  }

 private:
  int32_t radius_ = 0;
  uint32_t width_ = 0;
  std::unique_ptr<dng_memory_block> weights32_;
  std::unique_ptr<dng_memory_block> weights16_;
};

// The filter task that resamples src_area of the source image into
// dst_area of the destination image. Both images must have the same plane
// count and both areas at least one pixel (100000). Samples outside the
// source image repeat its nearest edge pixel.
class dng_resample_task : public dng_filter_task {
 public:
  // Nothing is owned; images and kernel outlive the task.
  dng_resample_task(const dng_image& src_image, dng_image& dst_image, const dng_box& src_area,
                    const dng_box& dst_area, const dng_resample_function& kernel);
  ~dng_resample_task() override = default;

  void Begin(uint32_t thread_count, const dng_extent& tile_size, dng_memory_allocator& allocator,
             dng_cancel_hook* hook) override;
  dng_box SourceAreaFor(const dng_box& dst_area) const override;
  dng_extent SourceTileSizeFor(const dng_extent& tile_size) const override;
  void FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                  dng_pixel_buffer& dst_buffer) override;

  // The pixel type of the task's buffers: 3 (the fixed-point path) or 11.
  uint32_t BufferPixelType() const { return src_pixel_type_; }
  double RowScale() const { return row_scale_; }
  double ColScale() const { return col_scale_; }

 private:
  dng_box src_area_;
  dng_box dst_area_;
  const dng_resample_function& kernel_;
  double row_scale_;
  double col_scale_;
  dng_resample_coords row_coords_;
  dng_resample_coords col_coords_;
  dng_resample_weights row_weights_;
  dng_resample_weights col_weights_;
  dng_extent src_tile_size_;
  uint32_t tile_cols_ = 0;
  std::unique_ptr<dng_memory_block> row_buffers_[dng_max_task_threads];
  // Per thread: the column coordinates of a tile, relative to its source
  // buffer's first tap.
  std::unique_ptr<dng_memory_block> col_buffers_[dng_max_task_threads];
};

// Resamples src_area of src into dst_area of dst with the kernel, running
// the task over dst_area with the host.
void resample_image_area(dng_host& host, const dng_image& src, dng_image& dst,
                         const dng_box& src_area, const dng_box& dst_area,
                         const dng_resample_function& kernel);
