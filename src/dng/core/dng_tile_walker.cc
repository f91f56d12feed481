#include "dng/core/dng_tile_walker.h"

#include <algorithm>

#include "dng/core/dng_image.h"

namespace {

int64_t floor_div(int64_t a, int64_t b) {
  const int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

dng_tile_walker::dng_tile_walker(const dng_box& tile, const dng_box& area) { Initialize(tile, area); }

dng_tile_walker::dng_tile_walker(const dng_extent& tile_size, const dng_box& area) {
  const int64_t rows = std::min<int64_t>(tile_size.v, area.H());
  const int64_t cols = std::min<int64_t>(tile_size.h, area.W());
  Initialize(dng_box(area.top, area.left, int32_t(area.top + std::max<int64_t>(rows, 0)),
                     int32_t(area.left + std::max<int64_t>(cols, 0))),
             area);
}

dng_tile_walker::dng_tile_walker(const dng_image& image, const dng_box& area) {
  Initialize(image.Area(), intersect_boxes(area, image.Bounds()));
}

void dng_tile_walker::Initialize(const dng_box& tile, const dng_box& area) {
  area_ = area;
  done_ = area.IsEmpty() || tile.IsEmpty();
  if (done_) return;
  tile_top_ = tile.top;
  tile_left_ = tile.left;
  tile_rows_ = tile.H();
  tile_cols_ = tile.W();
  first_row_ = floor_div(int64_t(area.top) - tile_top_, tile_rows_);
  last_row_ = floor_div(int64_t(area.bottom) - tile_top_ - 1, tile_rows_);
  first_col_ = floor_div(int64_t(area.left) - tile_left_, tile_cols_);
  last_col_ = floor_div(int64_t(area.right) - tile_left_ - 1, tile_cols_);
  row_ = first_row_;
  col_ = first_col_;
}

bool dng_tile_walker::Next(dng_box& tile) {
  if (done_) return false;
  const int64_t top = tile_top_ + row_ * tile_rows_;
  const int64_t left = tile_left_ + col_ * tile_cols_;
  tile = dng_box(int32_t(std::max<int64_t>(top, area_.top)), int32_t(std::max<int64_t>(left, area_.left)),
                 int32_t(std::min<int64_t>(top + tile_rows_, area_.bottom)),
                 int32_t(std::min<int64_t>(left + tile_cols_, area_.right)));
  if (++col_ > last_col_) {
    col_ = first_col_;
    if (++row_ > last_row_) done_ = true;
  }
  return true;
}
