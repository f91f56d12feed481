// Rendering of a negative's interpolated (stage 3) image into an output
// colour space: cropped to the default crop, scaled to the final size (with
// an optional limit on the longer side), white balanced, taken through the
// ProPhoto working space, exposed, tone mapped and encoded as 8-bit or
// 16-bit samples.
//
// dng_render holds the settings and makes the image; dng_render_task is the
// filter task that does the per-pixel work over the final image. Every 1-D
// function is sampled once per run into a 4096-interval table and rows go
// through the pixel routines (slots 1, 27-32).
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_1d_function.h"
#include "dng/core/dng_1d_table.h"
#include "dng/core/dng_box.h"
#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_filter_task.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_vector.h"
#include "dng/render/dng_color_space.h"

class dng_negative;

// The xy chromaticity type of the foundation.
using dng_xy_coord = dng_chromaticity;

// Neither the host, the negative, the tone curve nor the final space is
// owned: all outlive the render. One thread.
class dng_render {
 public:
  // White unset (0, 0), exposure 0, shadows 5, the default tone curve, sRGB,
  // 8-bit samples, no size limit. A negative whose ColorimetricReference is
  // not 0 gets shadows 0 and the identity tone curve.
  dng_render(dng_host& host, const dng_negative& negative);
  virtual ~dng_render();
  dng_render(const dng_render&) = delete;
  dng_render& operator=(const dng_render&) = delete;

  // A new image owned by the caller (made by negative.MakeImage): the final
  // size's pixels in the final space, 1 plane for a gray space else 3, of
  // the final pixel type. Needs the negative's stage 3 image (100000 without
  // one, and for stage 3 images of 2 or more than 4 planes); 100006 from the
  // colour data; 100005 for sizes beyond the image-memory cap, before any
  // allocation. Intermediate images are released on every path.
  virtual std::unique_ptr<dng_image> MakeFinalImage();

  // The final (width, height) as MakeFinalImage computes it, from
  // DefaultCropSize, DefaultScale and the maximum size: round(crop size x
  // scale) per side, at least 1; 100005 when a side is not a number or
  // exceeds what an image's coordinates can hold. Within a maximum size the
  // longer side becomes that size and the other keeps the final aspect.
  dng_extent FinalSize() const;

  void SetWhiteXY(const dng_xy_coord& white) { white_ = white; }
  const dng_xy_coord& WhiteXY() const { return white_; }
  void SetExposure(double stops) { exposure_ = stops; }
  double Exposure() const { return exposure_; }
  void SetShadows(double shadows) { shadows_ = shadows; }
  double Shadows() const { return shadows_; }
  void SetToneCurve(const dng_1d_function& curve) { tone_curve_ = &curve; }
  const dng_1d_function& ToneCurve() const { return *tone_curve_; }
  void SetFinalSpace(const dng_color_space& space) { final_space_ = &space; }
  const dng_color_space& FinalSpace() const { return *final_space_; }
  // The TIFF field type of the final samples: 1 (8-bit) or 3 (16-bit);
  // other types raise 100000 in MakeFinalImage.
  void SetFinalPixelType(uint32_t type) { final_pixel_type_ = type; }
  uint32_t FinalPixelType() const { return final_pixel_type_; }
  // Pixels of the longer side; 0 means no limit.
  void SetMaximumSize(uint32_t size) { maximum_size_ = size; }
  uint32_t MaximumSize() const { return maximum_size_; }

  dng_host& Host() const { return host_; }
  const dng_negative& Negative() const { return negative_; }

  // Whether the last MakeFinalImage resampled the crop (false when the crop
  // already had the final size and stage 3 was read directly).
  bool LastResampled() const { return last_resampled_; }

 private:
  dng_host& host_;
  const dng_negative& negative_;
  dng_xy_coord white_;
  double exposure_ = 0.0;
  double shadows_ = 5.0;
  const dng_1d_function* tone_curve_;
  const dng_color_space* final_space_;
  uint32_t final_pixel_type_ = 1;
  uint32_t maximum_size_ = 0;
  bool last_resampled_ = false;
};

// The per-pixel work of a rendering: the source area is the destination
// area moved by the source origin; buffers are 32-bit floats in 0..1.
class dng_render_task : public dng_filter_task {
 public:
  // Nothing is owned. The source has 1, 3 or 4 planes (100000 otherwise);
  // the destination 1 or 3.
  dng_render_task(const dng_image& src_image, dng_image& dst_image, const dng_negative& negative,
                  const dng_render& render, const dng_extent& src_origin);
  ~dng_render_task() override;

  // The filter task's buffers, then the colour data, white, exposure,
  // tables and one row buffer (three float rows of a tile) per thread.
  void Begin(uint32_t thread_count, const dng_extent& tile_size, dng_memory_allocator& allocator,
             dng_cancel_hook* hook) override;
  dng_box SourceAreaFor(const dng_box& dst_area) const override;
  void FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                  dng_pixel_buffer& dst_buffer) override;

  // What Begin chose (meaningful after it).
  const dng_xy_coord& White() const { return white_; }
  const dng_vector& CameraWhite() const { return camera_white_; }
  const dng_matrix& CameraToRGB() const { return camera_to_rgb_; }
  const dng_matrix& RGBToFinal() const { return rgb_to_final_; }
  // E in stops, the white point 1 / 2^max(E, 0) and the black point.
  double ExposureStops() const { return exposure_stops_; }
  double WhitePoint() const { return white_point_; }
  double BlackPoint() const { return black_point_; }
  const dng_1d_table& ExposureTable() const { return exposure_table_; }
  const dng_1d_table& ToneTable() const { return tone_table_; }
  const dng_1d_table& EncodeTable() const { return encode_table_; }

 private:
  const dng_negative& negative_;
  const dng_render& render_;
  dng_extent src_origin_;
  dng_xy_coord white_;
  dng_vector camera_white_;
  dng_matrix camera_to_rgb_;
  dng_matrix rgb_to_final_;
  double exposure_stops_ = 0.0;
  double white_point_ = 1.0;
  double black_point_ = 0.0;
  dng_1d_table exposure_table_;
  dng_1d_table tone_table_;
  dng_1d_table encode_table_;
  uint32_t row_cols_ = 0;
  std::unique_ptr<dng_memory_block> row_buffers_[dng_max_task_threads];
};
