#include "dng/core/dng_area_task.h"

#include <algorithm>

#include "dng/core/dng_tile_walker.h"

void dng_area_task::Begin(uint32_t, const dng_extent&, dng_memory_allocator&, dng_cancel_hook*) {}

void dng_area_task::End(uint32_t) {}

namespace {

int64_t ceil_div(int64_t a, int64_t b) { return (a + b - 1) / b; }

// One side of the tile size: spread max_size evenly over tiles of at most
// limit, round up to the cell, and keep at least one cell.
int32_t choose_side(int64_t max_size, int64_t limit, int64_t cell) {
  cell = std::max<int64_t>(cell, 1);
  int64_t side = std::min(limit, max_size);
  if (side > 0) {
    const int64_t tiles = ceil_div(max_size, side);
    side = ceil_div(max_size, tiles);
  }
  side = cell * ceil_div(std::max<int64_t>(side, 1), cell);
  if (side > limit) side = std::max(cell, cell * (limit / cell));
  return int32_t(std::min<int64_t>(side, INT32_MAX));
}

// Each empty alignment rectangle stands for the area.
dng_box or_area(const dng_box& align, const dng_box& area) { return align.IsEmpty() ? area : align; }

}  // namespace

dng_extent dng_area_task::ChooseTileSize(const dng_box& area) const {
  const dng_box a1 = or_area(AlignTile1(), area);
  const dng_box a2 = or_area(AlignTile2(), area);
  const dng_box a3 = or_area(AlignTile3(), area);
  const int64_t max_rows = std::min({a1.H(), a2.H(), a3.H()});
  const int64_t max_cols = std::min({a1.W(), a2.W(), a3.W()});
  const dng_extent limit = TileSizeLimit();
  const dng_extent cell = CellSize();
  return dng_extent(choose_side(max_rows, limit.v, cell.v), choose_side(max_cols, limit.h, cell.h));
}

void dng_area_task::RunOnThread(uint32_t thread_index, const dng_box& area,
                                const dng_extent& tile_size, dng_cancel_hook* hook) {
  const dng_box a1 = or_area(AlignTile1(), area);
  const dng_box a2 = or_area(AlignTile2(), area);
  const dng_box a3 = or_area(AlignTile3(), area);
  dng_tile_walker walker3(a3, area);
  for (dng_box piece3; walker3.Next(piece3);) {
    dng_tile_walker walker2(a2, piece3);
    for (dng_box piece2; walker2.Next(piece2);) {
      dng_tile_walker walker1(a1, piece2);
      for (dng_box piece1; walker1.Next(piece1);) {
        dng_tile_walker tiles(tile_size, piece1);
        for (dng_box tile; tiles.Next(tile);) {
          if (hook != nullptr) hook->Poll();
          ProcessTile(thread_index, tile, hook);
        }
      }
    }
  }
}

void run_area_task_single(dng_area_task& task, const dng_box& area, dng_memory_allocator& allocator,
                          dng_cancel_hook* hook) {
  const dng_extent tile_size = task.ChooseTileSize(area);
  task.Begin(1, tile_size, allocator, hook);
  task.RunOnThread(0, area, tile_size, hook);
  task.End(1);
}
