#include "dng/render/dng_resample.h"

#include <algorithm>
#include <cmath>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_rounding.h"
#include "dng/core/dng_tag_types.h"

namespace {

// Radii beyond this cannot describe any buffer that fits memory.
constexpr double max_radius = double(1 << 28);

uint64_t round_up_8(uint64_t n) { return (n + 7) / 8 * 8; }

// round_half_away of a non-negative size, or 100005 when it does not fit an
// int32 (NaN included).
int32_t checked_size_round(double x) {
  if (!(x >= 0.0) || x + 0.5 >= double(INT32_MAX)) throw_dng_code(dng_code_memory);
  return round_half_away_int32(x);
}

}  // namespace

double dng_resample_bicubic::WeightAt(double x) const {
  const double a = std::fabs(x);
  if (a < 1.0) return (1.25 * a - 2.25) * a * a + 1.0;
  if (a < 2.0) return ((-0.75 * a + 3.75) * a - 6.0) * a + 3.0;
  return 0.0;
}

const dng_resample_function& dng_resample_bicubic::Instance() {
  static const dng_resample_bicubic instance;
  return instance;
}

void dng_resample_coords::Fill(int32_t src_origin, int32_t dst_origin, uint32_t src_count,
                               uint32_t dst_count, dng_memory_allocator& allocator) {
  if (src_count == 0 || dst_count == 0) throw_dng_code(dng_code_unknown);
  const uint64_t count = round_up_8(dst_count);
  const uint32_t bytes = image_block_size({count, sizeof(int32_t)});
  std::unique_ptr<dng_memory_block> block(allocator.NewBlock(bytes));
  int32_t* entries = static_cast<int32_t*>(block->Buffer());
  const double step = double(src_count) / double(dst_count);
  for (uint32_t i = 0; i < dst_count; ++i) {
    const double position = (double(src_origin) + step * (double(i) + 0.5) - 0.5) * 128.0;
    if (!(position > double(INT32_MIN) + 1.0 && position < double(INT32_MAX) - 1.0)) {
      throw_dng_code(dng_code_unknown);
    }
    entries[i] = round_half_away_int32(position);
  }
  for (uint64_t i = dst_count; i < count; ++i) entries[i] = entries[dst_count - 1];
  block_ = std::move(block);
  origin_ = dst_origin;
  count_ = uint32_t(count);
}

void dng_resample_weights::Fill(double scale, const dng_resample_function& kernel,
                                dng_memory_allocator& allocator) {
  if (!(scale > 0.0) || !std::isfinite(scale)) throw_dng_code(dng_code_unknown);
  const double s = std::min(scale, 1.0);
  const double radius_real = kernel.SupportRadius() / s + 0.9999;
  if (!(radius_real >= 1.0)) throw_dng_code(dng_code_unknown);
  if (radius_real >= max_radius) throw_dng_code(dng_code_memory);
  const int32_t radius = int32_t(radius_real);
  const uint32_t taps = uint32_t(radius) * 2;
  const uint32_t width = checked_u32(round_up_8(taps));
  const uint32_t bytes32 = image_block_size({dng_resample_phases, width, sizeof(float)});
  const uint32_t bytes16 = image_block_size({dng_resample_phases, width, sizeof(int16_t)});
  std::unique_ptr<dng_memory_block> block32(allocator.NewBlock(bytes32));
  std::unique_ptr<dng_memory_block> block16(allocator.NewBlock(bytes16));
  dng_pixel_kernels.ClearBytes(block32->Buffer(), bytes32);
  dng_pixel_kernels.ClearBytes(block16->Buffer(), bytes16);

  for (uint32_t phase = 0; phase < uint32_t(dng_resample_phases); ++phase) {
    const double fraction = double(phase) / dng_resample_phases;
    float* w32 = static_cast<float*>(block32->Buffer()) + size_t(phase) * width;
    int16_t* w16 = static_cast<int16_t*>(block16->Buffer()) + size_t(phase) * width;
    float sum = 0.0f;
    for (uint32_t j = 0; j < taps; ++j) {
      w32[j] = float(kernel.WeightAt((double(j) - radius + 1 - fraction) * s));
      sum += w32[j];
    }
    const float reciprocal = 1.0f / sum;
    int32_t sum16 = 0;
    for (uint32_t j = 0; j < taps; ++j) {
      w32[j] *= reciprocal;
      w16[j] = int16_t(round_half_away_int32(double(w32[j]) * dng_resample_unity));
      sum16 += w16[j];
    }
    const uint32_t centre = fraction < 0.5 ? uint32_t(radius - 1) : uint32_t(radius);
    w16[centre] = int16_t(w16[centre] + (dng_resample_unity - sum16));
  }
  weights32_ = std::move(block32);
  weights16_ = std::move(block16);
  radius_ = radius;
  width_ = width;
}

dng_resample_task::dng_resample_task(const dng_image& src_image, dng_image& dst_image,
                                     const dng_box& src_area, const dng_box& dst_area,
                                     const dng_resample_function& kernel)
    : dng_filter_task(src_image, dst_image),
      src_area_(src_area),
      dst_area_(dst_area),
      kernel_(kernel),
      row_scale_(0.0),
      col_scale_(0.0) {
  if (src_area.IsEmpty() || dst_area.IsEmpty() || src_image.Planes() != dst_image.Planes()) {
    throw_dng_code(dng_code_unknown);
  }
  row_scale_ = double(dst_area.H()) / double(src_area.H());
  col_scale_ = double(dst_area.W()) / double(src_area.W());
  const bool fixed_point = src_image.BytesPerSample() <= 2 && dst_image.BytesPerSample() <= 2 &&
                           src_image.SampleRange() == dst_image.SampleRange();
  src_pixel_type_ = dst_pixel_type_ = fixed_point ? dng_type_short : dng_type_float;
  cell_size_ = dng_extent(8, 8);
  const int32_t limit_v = tile_size_limit_.v;
  const int32_t limit_h = tile_size_limit_.h;
  tile_size_limit_.v = std::max(8, std::min(limit_v, round_half_away_int32(limit_v * row_scale_)));
  tile_size_limit_.h = std::max(8, std::min(limit_h, round_half_away_int32(limit_h * col_scale_)));
}

void dng_resample_task::Begin(uint32_t thread_count, const dng_extent& tile_size,
                              dng_memory_allocator& allocator, dng_cancel_hook* hook) {
  row_coords_.Fill(src_area_.top, dst_area_.top, src_area_.H(), dst_area_.H(), allocator);
  col_coords_.Fill(src_area_.left, dst_area_.left, src_area_.W(), dst_area_.W(), allocator);
  row_weights_.Fill(row_scale_, kernel_, allocator);
  col_weights_.Fill(col_scale_, kernel_, allocator);

  const int64_t rows = checked_add_u64(
      uint64_t(checked_size_round(std::max(tile_size.v, 0) / row_scale_)),
      uint64_t(row_weights_.Radius()) * 2 + 2);
  const int64_t cols = checked_add_u64(
      uint64_t(checked_size_round(std::max(tile_size.h, 0) / col_scale_)),
      uint64_t(col_weights_.Radius()) * 2 + 2);
  if (rows > INT32_MAX || cols > INT32_MAX) throw_dng_code(dng_code_memory);
  src_tile_size_ = dng_extent(int32_t(rows), int32_t(cols));
  tile_cols_ = uint32_t(std::max(tile_size.h, 0));

  const uint32_t row_bytes = image_block_size({round_up_8(uint64_t(cols)), 4});
  const uint32_t col_bytes = image_block_size({round_up_8(tile_cols_), sizeof(int32_t)});
  const uint32_t threads = std::min(thread_count, dng_max_task_threads);
  for (uint32_t t = 0; t < threads; ++t) {
    row_buffers_[t].reset();
    row_buffers_[t].reset(allocator.NewBlock(row_bytes));
    col_buffers_[t].reset();
    col_buffers_[t].reset(allocator.NewBlock(col_bytes));
  }
  dng_filter_task::Begin(thread_count, tile_size, allocator, hook);
}

dng_box dng_resample_task::SourceAreaFor(const dng_box& dst_area) const {
  // Before Begin no coordinates exist: the area itself stands in.
  if (row_coords_.Count() == 0 || col_coords_.Count() == 0 || dst_area.IsEmpty()) return dst_area;
  const int64_t row_radius = row_weights_.Radius();
  const int64_t col_radius = col_weights_.Radius();
  const int64_t top = (int64_t(*row_coords_.Coords(dst_area.top)) >> 7) - row_radius + 1;
  const int64_t bottom = (int64_t(*row_coords_.Coords(dst_area.bottom - 1)) >> 7) + row_radius + 1;
  const int64_t left = (int64_t(*col_coords_.Coords(dst_area.left)) >> 7) - col_radius + 1;
  const int64_t right = (int64_t(*col_coords_.Coords(dst_area.right - 1)) >> 7) + col_radius + 1;
  auto clamp = [](int64_t v) { return int32_t(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX)); };
  return dng_box(clamp(top), clamp(left), clamp(bottom), clamp(right));
}

dng_extent dng_resample_task::SourceTileSizeFor(const dng_extent&) const { return src_tile_size_; }

void dng_resample_task::FilterArea(uint32_t thread_index, const dng_pixel_buffer& src_buffer,
                                   dng_pixel_buffer& dst_buffer) {
  if (thread_index >= dng_max_task_threads || !row_buffers_[thread_index] ||
      dst_buffer.area.W() > tile_cols_) {
    throw_dng_code(dng_code_unknown);
  }
  const uint32_t row_taps = row_weights_.Taps();
  const uint32_t col_taps = col_weights_.Taps();
  const uint32_t src_cols = src_buffer.area.W();
  const uint32_t dst_cols = dst_buffer.area.W();
  const uint32_t maximum = dst_image_.SampleRange();

  // Column coordinates relative to the buffer's first column, shifted by
  // the taps before the centre so that entry >> 7 is the first tap.
  int32_t* cols = static_cast<int32_t*>(col_buffers_[thread_index]->Buffer());
  const int32_t* col_coords = col_coords_.Coords(dst_buffer.area.left);
  const int64_t col_shift = (int64_t(src_buffer.area.left) + col_weights_.Radius() - 1) * 128;
  for (uint32_t i = 0; i < dst_cols; ++i) cols[i] = int32_t(col_coords[i] - col_shift);

  void* row_buffer = row_buffers_[thread_index]->Buffer();
  for (int32_t row = dst_buffer.area.top; row < dst_buffer.area.bottom; ++row) {
    const int32_t coord = *row_coords_.Coords(row);
    const int32_t first_row = (coord >> 7) - row_weights_.Radius() + 1;
    const uint32_t phase = uint32_t(coord & 127);
    for (uint32_t plane = dst_buffer.plane; plane < dst_buffer.plane + dst_buffer.planes; ++plane) {
      const void* src = src_buffer.Pixel(first_row, src_buffer.area.left, plane);
      void* dst = dst_buffer.Pixel(row, dst_buffer.area.left, plane);
      if (src_buffer.pixel_type == dng_type_short) {
        uint16_t* temp = static_cast<uint16_t*>(row_buffer);
        dng_pixel_kernels.FilterVerticalU16(static_cast<const uint16_t*>(src), temp, src_cols,
                                            src_buffer.row_step, row_weights_.Weights16(phase),
                                            row_taps, maximum);
        dng_pixel_kernels.FilterHorizontalU16(temp, static_cast<uint16_t*>(dst), dst_cols, cols,
                                              col_weights_.Weights16(0), col_taps,
                                              int32_t(col_weights_.Width()), maximum);
      } else {
        float* temp = static_cast<float*>(row_buffer);
        dng_pixel_kernels.FilterVerticalFloat(static_cast<const float*>(src), temp, src_cols,
                                              src_buffer.row_step, row_weights_.Weights32(phase),
                                              row_taps);
        dng_pixel_kernels.FilterHorizontalFloat(temp, static_cast<float*>(dst), dst_cols, cols,
                                                col_weights_.Weights32(0), col_taps,
                                                int32_t(col_weights_.Width()));
      }
    }
  }
}

void resample_image_area(dng_host& host, const dng_image& src, dng_image& dst,
                         const dng_box& src_area, const dng_box& dst_area,
                         const dng_resample_function& kernel) {
  dng_resample_task task(src, dst, src_area, dst_area, kernel);
  host.RunAreaTask(task, dst_area);
}
