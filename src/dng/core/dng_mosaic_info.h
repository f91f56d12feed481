// The colour-filter array of a raw image: its repeating pattern, the colours
// of the interpolated planes and the layout of its sites, and the demosaic
// that turns the one-plane mosaic into one plane per colour.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_filter_task.h"

class dng_host;
class dng_image;
class dng_ifd;
class dng_shared;

class dng_mosaic_info {
 public:
  static constexpr uint32_t kMaxPattern = 8;
  static constexpr uint32_t kMaxColors = 4;
  // Down-scale factors above this are refused.
  static constexpr int32_t kMaxDownScale = 64;

  dng_mosaic_info() = default;
  virtual ~dng_mosaic_info() = default;

  bool IsColorFilterArray() const { return pattern_rows != 0 && pattern_cols != 0; }

  // Copies the pattern, plane colours, layout and green split of a CFA
  // directory (PhotometricInterpretation 32803); any other directory leaves
  // the info empty. Defined by the parse library.
  void Parse(const dng_ifd& main_ifd, const dng_shared& shared);

  // Stage size (rows, columns) of the stage-2 image; crop size from the
  // DefaultCropSize height and width, each rounded half away from zero;
  // pixel aspect = horizontal / vertical DefaultScale.
  void FinishParse(const dng_extent& stage2_size, double crop_height, double crop_width,
                   double scale_h, double scale_v);

  virtual bool ConvertToFourColors();

  // Layouts 2 and 3 double the rows of the interpolated image, 4 and 5 its
  // columns; every other layout keeps the size.
  virtual dng_extent FullScaleFactors() const {
    if (cfa_layout == 2 || cfa_layout == 3) return {2, 1};
    if (cfa_layout == 4 || cfa_layout == 5) return {1, 2};
    return {1, 1};
  }

  // The largest factors whose cells hold every colour and whose scaled crop
  // still reaches the target size; (1, 1) for a target of 0.
  virtual dng_extent ChooseDownScale(uint32_t target_size) const;
  // The stage-3 size for the factors: the full-scale size for (1, 1),
  // (0, 0) beyond kMaxDownScale. The full-scale size is checked in 64 bits
  // (100005 when a side exceeds 32 bits).
  virtual dng_extent ScaledSize(const dng_extent& factors) const;

  // Fills every colour plane of dst from plane `plane` of src.
  virtual void InterpolateFull(dng_host& host, const dng_image& src, dng_image& dst,
                               uint32_t plane) const;
  // Averages each cell of factors.v x factors.h source samples per colour.
  // A cell that lacks a colour raises 100006.
  virtual void InterpolateReduced(dng_host& host, const dng_image& src, dng_image& dst,
                                  const dng_extent& factors, uint32_t plane) const;
  // Factors (1, 1) interpolate at full scale, any other reduce.
  virtual void Demosaic(dng_host& host, const dng_image& src, dng_image& dst,
                        const dng_extent& factors, uint32_t plane) const;

  virtual bool CellsCoverAllColors(const dng_extent& factors) const;
  virtual bool DownScaleFits(const dng_extent& factors, uint32_t target_size) const;

  uint32_t pattern_rows = 0;
  uint32_t pattern_cols = 0;
  uint8_t pattern[kMaxPattern][kMaxPattern] = {};
  uint32_t color_planes = 0;
  uint8_t plane_color[kMaxColors] = {};
  uint32_t cfa_layout = 1;
  uint32_t bayer_green_split = 0;
  dng_extent stage_size;
  dng_extent crop_size;
  double aspect_ratio = 1.0;
};

// Averages cells of the mosaic: each destination pixel receives, per plane
// colour, the rounded mean of the samples of that colour in its cell of
// factors.v x factors.h source samples.
class dng_fast_interpolator : public dng_filter_task {
 public:
  dng_fast_interpolator(const dng_mosaic_info& info, const dng_image& src, dng_image& dst,
                        const dng_extent& factors, uint32_t plane);

  dng_box SourceAreaFor(const dng_box& dst_area) const override;
  void FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                  dng_pixel_buffer& dst_buffer) override;

 private:
  const dng_mosaic_info& info_;
  dng_extent factors_;
  uint8_t plane_map_[dng_mosaic_info::kMaxPattern][dng_mosaic_info::kMaxPattern] = {};
};
