// Walks the tiles of a grid that meet an area, row by row and left to
// right, each cut to the area.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"

class dng_image;

class dng_tile_walker {
 public:
  // The grid is the tile rectangle repeated in both directions from its
  // position.
  dng_tile_walker(const dng_box& tile, const dng_box& area);
  // The grid's first tile has its corner at the area's top-left corner and
  // the given size.
  dng_tile_walker(const dng_extent& tile_size, const dng_box& area);
  // The grid is the image's Area(); the area is first cut to the bounds.
  dng_tile_walker(const dng_image& image, const dng_box& area);

  // The next tile, cut to the area; false when there is none. An empty area
  // or an empty tile yields no tile.
  bool Next(dng_box& tile);

 private:
  void Initialize(const dng_box& tile, const dng_box& area);

  dng_box area_;
  int64_t tile_top_ = 0, tile_left_ = 0, tile_rows_ = 0, tile_cols_ = 0;
  int64_t first_row_ = 0, last_row_ = -1, first_col_ = 0, last_col_ = -1;
  int64_t row_ = 0, col_ = 0;
  bool done_ = true;
};
