#include "dng/core/dng_mosaic_info.h"

#include <algorithm>
#include <memory>

#include "dng/core/dng_cfa_color_kernels.h"
#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_rounding.h"
#include "dng/core/dng_tag_types.h"
#include "dng/core/dng_tile_walker.h"

void dng_mosaic_info::FinishParse(const dng_extent& stage2_size, double crop_height,
                                  double crop_width, double scale_h, double scale_v) {
  stage_size = stage2_size;
  crop_size = dng_extent(round_half_away_int32(crop_height), round_half_away_int32(crop_width));
  aspect_ratio = scale_v != 0.0 ? scale_h / scale_v : 1.0;
}

bool dng_mosaic_info::ConvertToFourColors() {
  if (pattern_rows != 2 || pattern_cols != 2 || color_planes != 3 || cfa_layout != 1) return false;
  const uint8_t second = plane_color[1];
  const bool main_diagonal = pattern[0][0] == second && pattern[1][1] == second;
  const bool other_diagonal = pattern[0][1] == second && pattern[1][0] == second;
  if (!main_diagonal && !other_diagonal) return false;
  uint8_t fourth = 0;
  while (fourth == plane_color[0] || fourth == plane_color[1] || fourth == plane_color[2]) ++fourth;
  // The second colour that shares its column with the first plane colour.
  for (uint32_t r = 0; r < 2; ++r) {
    for (uint32_t c = 0; c < 2; ++c) {
      if (pattern[r][c] == second && pattern[1 - r][c] == plane_color[0]) {
        plane_color[3] = fourth;
        color_planes = 4;
        pattern[r][c] = fourth;
        return true;
      }
    }
  }
  return false;
}

bool dng_mosaic_info::CellsCoverAllColors(const dng_extent& factors) const {
  const int64_t rows = pattern_rows;
  const int64_t cols = pattern_cols;
  if (factors.v >= rows && factors.h >= cols) return true;
  const int64_t cell_rows = std::min<int64_t>(std::max(factors.v, 0), rows);
  const int64_t cell_cols = std::min<int64_t>(std::max(factors.h, 0), cols);
  const uint32_t colors = std::min(color_planes, kMaxColors);
  for (int64_t top = 0; top + cell_rows <= rows; ++top) {
    for (int64_t left = 0; left + cell_cols <= cols; ++left) {
      for (uint32_t k = 0; k < colors; ++k) {
        bool found = false;
        for (int64_t r = top; r < top + cell_rows && !found; ++r) {
          for (int64_t c = left; c < left + cell_cols && !found; ++c) {
            found = pattern[r][c] == plane_color[k];
          }
        }
        if (!found) return false;
      }
    }
  }
  return true;
}

bool dng_mosaic_info::DownScaleFits(const dng_extent& factors, uint32_t target_size) const {
  if (factors.v > kMaxDownScale || factors.h > kMaxDownScale || factors.v < 1 || factors.h < 1) {
    return false;
  }
  const int64_t height = std::max<int64_t>((int64_t(crop_size.v) + factors.v / 2) / factors.v, 1);
  if (height < target_size) {
    const int64_t width = std::max<int64_t>((int64_t(crop_size.h) + factors.h / 2) / factors.h, 1);
    if (width < target_size) return false;
  }
  return true;
}

dng_extent dng_mosaic_info::ChooseDownScale(uint32_t target_size) const {
  dng_extent answer(1, 1);
  if (target_size == 0 || (pattern_rows == 0 && pattern_cols == 0)) return answer;
  auto step_of = [](double ratio) {
    const int32_t s = round_half_away_int32(ratio);
    return s > 3 ? 4 : std::max(s, 1);
  };
  const int32_t col_step = aspect_ratio < 0.5555555555555556 ? step_of(1.0 / aspect_ratio) : 1;
  const int32_t row_step = aspect_ratio > 1.8 ? step_of(aspect_ratio) : 1;
  dng_extent candidate(row_step, col_step);
  auto next_covering = [&](dng_extent c) {
    while (!CellsCoverAllColors(c) && c.v <= kMaxDownScale && c.h <= kMaxDownScale) {
      c = dng_extent(c.v + row_step, c.h + col_step);
    }
    return c;
  };
  candidate = next_covering(candidate);
  while (DownScaleFits(candidate, target_size)) {
    answer = candidate;
    candidate = next_covering(dng_extent(candidate.v + row_step, candidate.h + col_step));
  }
  return answer;
}

dng_extent dng_mosaic_info::ScaledSize(const dng_extent& factors) const {
  if (factors.v == 1 && factors.h == 1) {
    const dng_extent full = FullScaleFactors();
    const uint64_t rows = checked_mul_u64(uint64_t(std::max(stage_size.v, 0)), uint64_t(full.v));
    const uint64_t cols = checked_mul_u64(uint64_t(std::max(stage_size.h, 0)), uint64_t(full.h));
    if (rows > INT32_MAX || cols > INT32_MAX) throw_dng_code(dng_code_memory);
    return dng_extent(int32_t(rows), int32_t(cols));
  }
  if (factors.v > kMaxDownScale || factors.h > kMaxDownScale || factors.v < 1 || factors.h < 1) {
    return dng_extent(0, 0);
  }
  return dng_extent(std::max<int32_t>((stage_size.v + factors.v / 2) / factors.v, 1),
                    std::max<int32_t>((stage_size.h + factors.h / 2) / factors.h, 1));
}

void dng_mosaic_info::InterpolateFull(dng_host& host, const dng_image& src, dng_image& dst,
                                      uint32_t plane) const {
  const dng_extent factors = FullScaleFactors();
  const int32_t sv = factors.v - 1;
  const int32_t sh = factors.h - 1;
  const int32_t pr = int32_t(pattern_rows);
  const int32_t pc = int32_t(pattern_cols);
  if (pr < 1 || pc < 1 || pr > int32_t(kMaxPattern) || pc > int32_t(kMaxPattern) ||
      color_planes < 1 || color_planes > kMaxColors) {
    throw_dng_code(dng_code_bad_format);
  }
  const dng_box dst_bounds = dst.Bounds();
  const int32_t tile_h = int32_t(std::min<uint32_t>(dst_bounds.H(), 128));
  const int32_t tile_w = int32_t(std::min<uint32_t>(dst_bounds.W(), 128));
  if (tile_h == 0 || tile_w == 0) return;

  // Rounded up, so a sub-tile starting on an odd column of a doubled layout
  // still fits.
  const uint32_t src_pixel_size = tag_type_size(src.PixelType());
  const uint32_t dst_pixel_size = tag_type_size(dst.PixelType());
  const int32_t src_row_step = ((tile_w + sh) >> sh) + 2 * pc;
  const int32_t src_rows = ((tile_h + sv) >> sv) + 2 * pr;
  const uint32_t src_bytes = image_block_size({src_pixel_size, uint64_t(src_row_step), uint64_t(src_rows)});
  const uint64_t dst_row_step = uint64_t(color_planes) * uint64_t(tile_w);
  const uint32_t dst_bytes = image_block_size({dst_pixel_size, dst_row_step, uint64_t(tile_h)});

  std::unique_ptr<dng_memory_block> src_block(host.AllocateBlock(src_bytes));
  std::unique_ptr<dng_memory_block> dst_block(host.AllocateBlock(dst_bytes));

  dng_pixel_buffer src_buffer;
  src_buffer.plane = plane;
  src_buffer.planes = 1;
  src_buffer.col_step = 1;
  src_buffer.row_step = src_row_step;
  src_buffer.plane_step = 1;
  src_buffer.pixel_type = src.PixelType();
  src_buffer.pixel_size = src_pixel_size;
  src_buffer.pixel_range = src.PixelRange();
  src_buffer.data = src_block->Buffer();

  dng_pixel_buffer dst_buffer;
  dst_buffer.plane = 0;
  dst_buffer.planes = color_planes;
  dst_buffer.plane_step = tile_w;
  dst_buffer.row_step = int32_t(dst_row_step);
  dst_buffer.col_step = 1;
  dst_buffer.pixel_type = dst.PixelType();
  dst_buffer.pixel_size = dst_pixel_size;
  dst_buffer.pixel_range = dst.PixelRange();
  dst_buffer.data = dst_block->Buffer();

  auto kernels = std::make_unique<dng_cfa_color_kernels[]>(4);
  build_all_cfa_kernels(kernels.get(), *this, src_row_step, 1);

  dng_tile_walker walker(dst, dst_bounds);
  dng_box tile;
  while (walker.Next(tile)) {
    for (int64_t top = tile.top; top < tile.bottom; top += tile_h) {
      for (int64_t left = tile.left; left < tile.right; left += tile_w) {
        host.PollCancel();
        const dng_box area(int32_t(top), int32_t(left),
                           int32_t(std::min<int64_t>(top + tile_h, tile.bottom)),
                           int32_t(std::min<int64_t>(left + tile_w, tile.right)));
        src_buffer.area = dng_box((area.top >> sv) - pr, (area.left >> sh) - pc,
                                  (area.bottom >> sv) + pr, (area.right >> sh) + pc);
        dst_buffer.area = area;
        src.ReadArea(src_buffer, dng_edge_repeat, pattern_rows, pattern_cols);
        kernels[0].InterpolateRows(src_buffer, dst_buffer);
        dst.WriteArea(dst_buffer);
      }
    }
  }
}

void dng_mosaic_info::InterpolateReduced(dng_host& host, const dng_image& src, dng_image& dst,
                                         const dng_extent& factors, uint32_t plane) const {
  dng_fast_interpolator task(*this, src, dst, factors, plane);
  host.RunAreaTask(task, dst.Bounds());
}

void dng_mosaic_info::Demosaic(dng_host& host, const dng_image& src, dng_image& dst,
                               const dng_extent& factors, uint32_t plane) const {
  if (factors.v == 1 && factors.h == 1) {
    InterpolateFull(host, src, dst, plane);
  } else {
    InterpolateReduced(host, src, dst, factors, plane);
  }
}

dng_fast_interpolator::dng_fast_interpolator(const dng_mosaic_info& info, const dng_image& src,
                                             dng_image& dst, const dng_extent& factors,
                                             uint32_t plane)
    : dng_filter_task(src, dst), info_(info), factors_(factors) {
  if (factors.v < 1 || factors.h < 1 || factors.v > dng_mosaic_info::kMaxDownScale ||
      factors.h > dng_mosaic_info::kMaxDownScale || info.pattern_rows < 1 ||
      info.pattern_cols < 1 || info.pattern_rows > dng_mosaic_info::kMaxPattern ||
      info.pattern_cols > dng_mosaic_info::kMaxPattern || info.color_planes < 1 ||
      info.color_planes > dng_mosaic_info::kMaxColors) {
    throw_dng_code(dng_code_bad_format);
  }
  for (uint32_t r = 0; r < info.pattern_rows; ++r) {
    for (uint32_t c = 0; c < info.pattern_cols; ++c) {
      // A colour outside the plane colours belongs to no plane.
      plane_map_[r][c] = 0xFF;
      for (uint32_t k = 0; k < info.color_planes; ++k) {
        if (info.pattern[r][c] == info.plane_color[k]) {
          plane_map_[r][c] = uint8_t(k);
          break;
        }
      }
    }
  }
  src_plane_ = plane;
  src_planes_ = 1;
  src_pixel_type_ = dng_type_short;
  dst_pixel_type_ = dng_type_short;
  src_repeat_ = dng_extent(int32_t(info.pattern_rows), int32_t(info.pattern_cols));
  cell_size_ = src_repeat_;
  tile_size_limit_ = dng_extent(std::max(256 / factors.v, 1), std::max(256 / factors.h, 1));
}

dng_box dng_fast_interpolator::SourceAreaFor(const dng_box& dst_area) const {
  auto scale = [](int32_t x, int32_t f) {
    const int64_t v = int64_t(x) * f;
    if (v > INT32_MAX || v < INT32_MIN) throw_dng_code(dng_code_memory);
    return int32_t(v);
  };
  return dng_box(scale(dst_area.top, factors_.v), scale(dst_area.left, factors_.h),
                 scale(dst_area.bottom, factors_.v), scale(dst_area.right, factors_.h));
}

void dng_fast_interpolator::FilterArea(uint32_t, const dng_pixel_buffer& src_buffer,
                                       dng_pixel_buffer& dst_buffer) {
  const uint32_t pr = info_.pattern_rows;
  const uint32_t pc = info_.pattern_cols;
  const uint32_t colors = info_.color_planes;
  const dng_box& area = dst_buffer.area;
  uint32_t row_phase = 0;
  for (int32_t y = area.top; y < area.bottom; ++y) {
    const int32_t src_top = src_buffer.area.top + (y - area.top) * factors_.v;
    uint32_t col_phase = 0;
    uint32_t next_row_phase = row_phase;
    for (int32_t x = area.left; x < area.right; ++x) {
      const int32_t src_left = src_buffer.area.left + (x - area.left) * factors_.h;
      uint64_t sums[dng_mosaic_info::kMaxColors] = {};
      uint32_t counts[dng_mosaic_info::kMaxColors] = {};
      uint32_t rp = row_phase;
      uint32_t cp = col_phase;
      for (int32_t i = 0; i < factors_.v; ++i) {
        const auto* row = static_cast<const uint16_t*>(src_buffer.Pixel(src_top + i, src_left, src_buffer.plane));
        cp = col_phase;
        for (int32_t j = 0; j < factors_.h; ++j) {
          const uint8_t k = plane_map_[rp][cp];
          if (k < colors) {
            sums[k] += row[ptrdiff_t(j) * src_buffer.col_step];
            ++counts[k];
          }
          if (++cp == pc) cp = 0;
        }
        if (++rp == pr) rp = 0;
      }
      for (uint32_t k = 0; k < colors; ++k) {
        // Only a cell that lacks a colour leaves its count at zero.
        if (counts[k] == 0) throw_dng_code(dng_code_bad_format);
        *static_cast<uint16_t*>(dst_buffer.Pixel(y, x, k)) =
            uint16_t((counts[k] / 2 + sums[k]) / counts[k]);
      }
      col_phase = cp;
      next_row_phase = rp;
    }
    row_phase = next_row_phase;
  }
}
