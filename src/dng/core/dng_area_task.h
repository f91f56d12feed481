// Area tasks: operations that process an image area tile by tile. A task
// declares its limits (cell size, largest tile, alignment grids); the
// runner chooses an even tile size and walks the area in a fixed nested
// order on the calling thread.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_memory_allocator.h"

// Polled before every tile, stream transfer and spooled band: returns to go
// on, throws a dng_exception to abort the job.
class dng_cancel_hook {
 public:
  virtual ~dng_cancel_hook() = default;
  virtual void Poll() = 0;
};

class dng_area_task {
 public:
  dng_area_task() = default;
  virtual ~dng_area_task() = default;

  virtual uint32_t ThreadLimit() const { return thread_limit_; }
  virtual uint32_t AreaPerThread() const { return area_per_thread_; }
  // Tile sizes are multiples of the cell size.
  virtual dng_extent CellSize() const { return cell_size_; }
  // The largest tile (a side may exceed it only to hold one cell).
  virtual dng_extent TileSizeLimit() const { return tile_size_limit_; }
  // Alignment grids; an empty rectangle (the default) means none. A non-
  // empty one makes every tile lie inside one cell of its repeated grid.
  virtual dng_box AlignTile1() const { return dng_box(); }
  virtual dng_box AlignTile2() const { return dng_box(); }
  virtual dng_box AlignTile3() const { return dng_box(); }

  // Called once before the first tile.
  virtual void Begin(uint32_t thread_count, const dng_extent& tile_size,
                     dng_memory_allocator& allocator, dng_cancel_hook* hook);
  virtual void ProcessTile(uint32_t thread_index, const dng_box& tile, dng_cancel_hook* hook) = 0;
  // Called once after the last tile (not when a step threw).
  virtual void End(uint32_t thread_count);

  // An even tile size within the limit, rounded to the cell size; never
  // below one cell in either direction, also for an empty area.
  dng_extent ChooseTileSize(const dng_box& area) const;

  // Walks the tiles of the area (alignment grid 3, then 2, then 1, then
  // tiles of the size), polling the hook before each.
  void RunOnThread(uint32_t thread_index, const dng_box& area, const dng_extent& tile_size,
                   dng_cancel_hook* hook);

 protected:
  uint32_t thread_limit_ = 4;
  uint32_t area_per_thread_ = 256 * 256;
  dng_extent cell_size_ = dng_extent(1, 1);
  dng_extent tile_size_limit_ = dng_extent(256, 256);
};

// Chooses the tile size, then Begin (one thread), RunOnThread (thread 0),
// End. Exceptions pass through; End is not called then. An empty area runs
// no tile.
void run_area_task_single(dng_area_task& task, const dng_box& area, dng_memory_allocator& allocator,
                          dng_cancel_hook* hook);
