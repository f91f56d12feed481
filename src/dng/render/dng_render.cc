#include "dng/render/dng_render.h"

#include <algorithm>
#include <cmath>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_matrix_ops.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_negative.h"
#include "dng/render/dng_1d_functions.h"
#include "dng/render/dng_color_spec.h"
#include "dng/render/dng_resample.h"
#include "dng/render/dng_tone_curve.h"

namespace {

// The white used when neither the render, the camera neutral nor the
// negative's white chromaticity give one.
constexpr double kDefaultWhiteX = 0.3324;
constexpr double kDefaultWhiteY = 0.3474;

// Largest side an image may have: its coordinates are int32.
constexpr double kLargestSide = double(INT32_MAX);

// round(x) as truncation of x + 0.5, at least 1; 100005 when x is not a
// number or too large for an image side.
uint32_t final_side(double x) {
  if (std::isnan(x) || !(x + 0.5 < kLargestSide)) throw_dng_code(dng_code_memory);
  if (!(x + 0.5 >= 1.0)) return 1;
  return uint32_t(x + 0.5);
}

bool render_planes_supported(uint32_t planes) { return planes == 1 || planes == 3 || planes == 4; }

}  // namespace

// ---- dng_render ------------------------------------------------------------

dng_render::dng_render(dng_host& host, const dng_negative& negative)
    : host_(host),
      negative_(negative),
      tone_curve_(&dng_tone_curve_acr3_default::Instance()),
      final_space_(&dng_space_sRGB::Instance()) {
  if (negative.ColorimetricReference() != 0) {
    shadows_ = 0.0;
    tone_curve_ = &dng_1d_identity::Instance();
  }
}

dng_render::~dng_render() = default;

dng_extent dng_render::FinalSize() const {
  const double w = negative_.DefaultCropSizeH().ToReal() * negative_.DefaultScaleH().ToReal();
  const double h = negative_.DefaultCropSizeV().ToReal() * negative_.DefaultScaleV().ToReal();
  uint32_t width = final_side(w);
  uint32_t height = final_side(h);
  if (maximum_size_ != 0 && std::max(width, height) > maximum_size_) {
    double aspect = negative_.FinalAspect();
    // A crop or scale that gives no usable aspect falls back to the sides.
    if (!(aspect > 0.0) || !std::isfinite(aspect)) aspect = double(width) / double(height);
    const double m = maximum_size_;
    if (aspect >= 1.0) {
      width = maximum_size_;
      height = std::min(maximum_size_, final_side(m / aspect));
    } else {
      height = maximum_size_;
      width = std::min(maximum_size_, final_side(aspect * m));
    }
  }
  return dng_extent(int32_t(height), int32_t(width));
}

std::unique_ptr<dng_image> dng_render::MakeFinalImage() {
  last_resampled_ = false;
  const dng_image* stage3 = negative_.Stage3Image();
  if (stage3 == nullptr || !render_planes_supported(stage3->Planes())) {
    throw_dng_code(dng_code_unknown);
  }
  if (final_pixel_type_ != dng_type_byte && final_pixel_type_ != dng_type_short) {
    throw_dng_code(dng_code_unknown);
  }
  const uint32_t final_planes = final_space_->IsMonochrome() ? 1 : 3;

  const dng_box crop = negative_.CropRectangle(1.0, 1.0);
  if (crop.IsEmpty()) throw_dng_code(dng_code_unknown);
  const dng_extent size = FinalSize();
  const bool resample = crop.H() != uint32_t(size.v) || crop.W() != uint32_t(size.h);

  // Every image this call makes, checked against the cap before the first
  // allocation.
  (void)image_block_size({uint64_t(size.v), uint64_t(size.h), final_planes,
                          tag_type_size(final_pixel_type_)});
  if (resample) {
    (void)image_block_size({uint64_t(size.v), uint64_t(size.h), stage3->Planes(),
                            tag_type_size(stage3->PixelType())});
  }

  std::unique_ptr<dng_image> resampled;
  const dng_image* source = stage3;
  dng_box source_area = crop;
  if (resample) {
    resampled = negative_.MakeImage(dng_box(0, 0, size.v, size.h), stage3->Planes(),
                                    stage3->PixelType(), stage3->PixelRange());
    resample_image_area(host_, *stage3, *resampled, crop, resampled->Bounds(),
                        dng_resample_bicubic::Instance());
    source = resampled.get();
    source_area = resampled->Bounds();
    last_resampled_ = true;
  }

  std::unique_ptr<dng_image> final_image =
      negative_.MakeImage(dng_box(0, 0, int32_t(source_area.H()), int32_t(source_area.W())),
                          final_planes, final_pixel_type_, 0);
  dng_render_task task(*source, *final_image, negative_, *this,
                       dng_extent(source_area.top, source_area.left));
  host_.RunAreaTask(task, final_image->Bounds());
  return final_image;
}

// ---- dng_render_task -------------------------------------------------------

dng_render_task::dng_render_task(const dng_image& src_image, dng_image& dst_image,
                                 const dng_negative& negative, const dng_render& render,
                                 const dng_extent& src_origin)
    : dng_filter_task(src_image, dst_image),
      negative_(negative),
      render_(render),
      src_origin_(src_origin) {
  if (!render_planes_supported(src_planes_) || (dst_planes_ != 1 && dst_planes_ != 3)) {
    throw_dng_code(dng_code_unknown);
  }
  src_pixel_type_ = dng_type_float;
  dst_pixel_type_ = dng_type_float;
}

dng_render_task::~dng_render_task() = default;

void dng_render_task::Begin(uint32_t thread_count, const dng_extent& tile_size,
                            dng_memory_allocator& allocator, dng_cancel_hook* hook) {
  dng_filter_task::Begin(thread_count, tile_size, allocator, hook);

  const std::unique_ptr<dng_color_spec> color_data = negative_.NewColorSpec();
  if (render_.WhiteXY().IsPositive()) {
    white_ = render_.WhiteXY();
  } else if (negative_.HasCameraNeutral()) {
    white_ = color_data->WhiteFromNeutral(negative_.CameraNeutral());
  } else if (negative_.HasCameraWhiteXY()) {
    white_ = negative_.WhiteXY();
  } else {
    white_ = dng_xy_coord(kDefaultWhiteX, kDefaultWhiteY);
  }
  color_data->SelectWhite(white_);
  camera_white_ = color_data->WhiteInCamera();
  const dng_color_space& working = dng_space_ProPhoto::Instance();
  camera_to_rgb_ = matrix_product(working.MatrixFromPCS(), color_data->CameraToPCSMatrix());
  // The colour routines read one white entry and one matrix column per
  // source plane: colour data of another channel count cannot be used.
  if (src_planes_ > 1 && (camera_white_.Count() != src_planes_ || camera_to_rgb_.Rows() != 3 ||
                          camera_to_rgb_.Cols() != src_planes_)) {
    throw_dng_code(dng_code_unknown);
  }

  const double gain = negative_.Stage3Gain();
  exposure_stops_ =
      render_.Exposure() + negative_.BaselineExposure().ToReal() - std::log(gain) / std::log(2.0);
  // A gain of 0 or below would make the exposure meaningless; it renders as
  // no exposure change rather than as tables of NaN.
  if (!std::isfinite(exposure_stops_)) exposure_stops_ = 0.0;
  white_point_ = 1.0 / std::pow(2.0, std::max(exposure_stops_, 0.0));
  const double shadow = negative_.ShadowScale().ToReal() * gain * render_.Shadows() * 0.001;
  black_point_ = std::min(0.99 * white_point_, std::isfinite(shadow) ? std::max(shadow, 0.0) : 0.0);

  exposure_table_.Fill(allocator, dng_function_exposure_ramp(white_point_, black_point_, black_point_));
  const dng_function_exposure_tone exposure_tone(exposure_stops_);
  tone_table_.Fill(allocator, dng_1d_concatenate(exposure_tone, render_.ToneCurve()));
  const dng_color_space& final_space = render_.FinalSpace();
  rgb_to_final_ = matrix_product(final_space.MatrixFromPCS(), working.MatrixToPCS());
  encode_table_.Fill(allocator, final_space.EncodingCurve());

  row_cols_ = uint32_t(std::max(tile_size.h, 0));
  const uint32_t row_bytes = image_block_size({row_cols_, 3, sizeof(float)});
  const uint32_t threads = std::min(thread_count, dng_max_task_threads);
  for (uint32_t t = 0; t < threads; ++t) {
    row_buffers_[t].reset();
    row_buffers_[t].reset(allocator.NewBlock(row_bytes));
  }
}

dng_box dng_render_task::SourceAreaFor(const dng_box& dst_area) const {
  const auto moved = [](int32_t a, int32_t d) {
    return int32_t(std::clamp<int64_t>(int64_t(a) + d, INT32_MIN, INT32_MAX));
  };
  return dng_box(moved(dst_area.top, src_origin_.v), moved(dst_area.left, src_origin_.h),
                 moved(dst_area.bottom, src_origin_.v), moved(dst_area.right, src_origin_.h));
}

void dng_render_task::FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                                 dng_pixel_buffer& dst_buffer) {
  const dng_box& area = dst_buffer.area;
  const uint32_t n = area.W();
  if (thread_index >= dng_max_task_threads || !row_buffers_[thread_index] || n > row_cols_) {
    throw_dng_code(dng_code_unknown);
  }
  float* r = static_cast<float*>(row_buffers_[thread_index]->Buffer());
  float* g = r + row_cols_;
  float* b = g + row_cols_;
  const dng_pixel_kernel_table& k = dng_pixel_kernels;

  for (int32_t row = area.top; row < area.bottom; ++row) {
    const int32_t src_row = row + src_origin_.v;
    const int32_t src_col = area.left + src_origin_.h;
    const auto src_plane = [&](uint32_t p) {
      return static_cast<const float*>(src_buffer.Pixel(src_row, src_col, p));
    };
    switch (src_planes_) {
      case 1:
        k.CopyBlock(src_plane(0), r, n * uint32_t(sizeof(float)));
        k.CopyBlock(src_plane(0), g, n * uint32_t(sizeof(float)));
        k.CopyBlock(src_plane(0), b, n * uint32_t(sizeof(float)));
        break;
      case 3:
        k.MatrixCamera3ToRgb(src_plane(0), src_plane(1), src_plane(2), r, g, b, n, camera_white_,
                             camera_to_rgb_);
        break;
      default:
        k.MatrixCamera4ToRgb(src_plane(0), src_plane(1), src_plane(2), src_plane(3), r, g, b, n,
                             camera_white_, camera_to_rgb_);
        break;
    }
    k.CurveRow(r, r, n, exposure_table_);
    k.CurveRow(g, g, n, exposure_table_);
    k.CurveRow(b, b, n, exposure_table_);
    k.CurveRgbHueKept(r, g, b, r, g, b, n, tone_table_);

    const auto dst_plane = [&](uint32_t p) {
      return static_cast<float*>(dst_buffer.Pixel(row, area.left, p));
    };
    if (dst_planes_ == 1) {
      k.MixRgbToGray(r, g, b, dst_plane(0), n, rgb_to_final_);
      k.CurveRow(dst_plane(0), dst_plane(0), n, encode_table_);
    } else {
      k.MatrixRgbToRgb(r, g, b, dst_plane(0), dst_plane(1), dst_plane(2), n, rgb_to_final_);
      for (uint32_t p = 0; p < 3; ++p) k.CurveRow(dst_plane(p), dst_plane(p), n, encode_table_);
    }
  }
}
