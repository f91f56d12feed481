#include "dng/core/dng_image.h"

#include <algorithm>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_tag_types.h"
#include "dng/core/dng_tile_walker.h"

dng_image::dng_image(const dng_box& bounds, uint32_t planes, uint32_t pixel_type,
                     uint32_t pixel_range)
    : bounds_(bounds), planes_(planes), pixel_type_(pixel_type), pixel_range_(pixel_range) {}

uint32_t dng_image::BytesPerSample() const { return tag_type_size(pixel_type_); }

uint32_t dng_image::SampleRange() const {
  dng_pixel_buffer description;
  description.pixel_type = pixel_type_;
  description.pixel_range = pixel_range_;
  return description.SampleRange();
}

void dng_image::Crop(const dng_box& rect) {
  if (rect != bounds_) throw_dng_code(dng_code_unknown);
}

void dng_image::Reorient(const dng_image_flip& flip) {
  if (flip.Code() != 0) throw_dng_code(dng_code_unknown);
}

void dng_image::LockTile(dng_tile_buffer&, const dng_box&, bool) const {
  throw_dng_code(dng_code_unknown);
}

void dng_image::UnlockTile(dng_tile_buffer&) const {}

void dng_image::CopyTilesOut(dng_pixel_buffer& buffer) const {
  dng_tile_walker walker(*this, buffer.area);
  dng_box tile;
  while (walker.Next(tile)) {
    dng_const_tile_buffer source(*this, tile);
    buffer.CopyAreaFrom(source, tile, buffer.plane, buffer.planes);
  }
}

void dng_image::CopyTilesIn(const dng_pixel_buffer& buffer) {
  dng_tile_walker walker(*this, buffer.area);
  dng_box tile;
  while (walker.Next(tile)) {
    dng_dirty_tile_buffer destination(*this, tile);
    destination.CopyAreaFrom(buffer, tile, buffer.plane, buffer.planes);
  }
}

namespace {

// The buffer cut to a sub-area (same planes).
dng_pixel_buffer cut_to(const dng_pixel_buffer& buffer, const dng_box& area) {
  dng_pixel_buffer part = buffer;
  part.area = area;
  part.data = buffer.Pixel(area.top, area.left, buffer.plane);
  return part;
}

}  // namespace

void dng_image::ReadArea(dng_pixel_buffer& buffer, uint32_t edge_kind, uint32_t repeat_rows,
                         uint32_t repeat_cols) const {
  if (edge_kind > dng_edge_repeat_zero_last) throw_dng_code(dng_code_unknown);
  const dng_box& a = buffer.area;
  const dng_box& b = bounds_;
  const dng_box overlap = intersect_boxes(a, b);
  if (!overlap.IsEmpty()) {
    dng_pixel_buffer inside = cut_to(buffer, overlap);
    CopyTilesOut(inside);
  }
  if (edge_kind == dng_edge_none || overlap == a || a.IsEmpty()) return;

  // An image without pixels has nothing to repeat.
  if (b.IsEmpty()) edge_kind = dng_edge_zero;
  const int64_t m = std::max<uint32_t>(repeat_rows, 1), n = std::max<uint32_t>(repeat_cols, 1);

  // Row bands above, beside and below the bounds; column bands likewise.
  const int32_t row_edges[4] = {a.top, std::clamp(b.top, a.top, a.bottom),
                                std::clamp(b.bottom, std::clamp(b.top, a.top, a.bottom), a.bottom),
                                a.bottom};
  const int32_t col_edges[4] = {a.left, std::clamp(b.left, a.left, a.right),
                                std::clamp(b.right, std::clamp(b.left, a.left, a.right), a.right),
                                a.right};
  // A pattern rectangle, cut to the bounds so it never reaches outside the
  // image (an image smaller than the repeat size repeats what it has).
  auto pattern = [&](int64_t top, int64_t left, int64_t bottom, int64_t right) {
    return dng_box(int32_t(std::clamp<int64_t>(top, b.top, b.bottom)),
                   int32_t(std::clamp<int64_t>(left, b.left, b.right)),
                   int32_t(std::clamp<int64_t>(bottom, b.top, b.bottom)),
                   int32_t(std::clamp<int64_t>(right, b.left, b.right)));
  };
  // Regions in order: above-left, above, above-right, left, right,
  // below-left, below, below-right.
  for (int rband = 0; rband < 3; ++rband) {
    for (int cband = 0; cband < 3; ++cband) {
      if (rband == 1 && cband == 1) continue;
      const dng_box region(row_edges[rband], col_edges[cband], row_edges[rband + 1],
                           col_edges[cband + 1]);
      if (region.IsEmpty()) continue;
      int64_t pt, pb, pl, pr;
      if (rband == 0) {
        pt = b.top, pb = b.top + m;
      } else if (rband == 1) {
        pt = region.top, pb = region.bottom;
      } else {
        pt = int64_t(b.bottom) - m, pb = b.bottom;
      }
      if (cband == 0) {
        pl = b.left, pr = b.left + n;
      } else if (cband == 1) {
        pl = region.left, pr = region.right;
      } else {
        pl = int64_t(b.right) - n, pr = b.right;
      }
      FillRegion(buffer, edge_kind, pattern(pt, pl, pb, pr), region);
    }
  }
}

void dng_image::FillRegion(dng_pixel_buffer& buffer, uint32_t edge_kind, const dng_box& pattern,
                           const dng_box& region) const {
  if (edge_kind == dng_edge_zero) {
    buffer.ClearArea(region, buffer.plane, buffer.planes);
  } else if (edge_kind == dng_edge_repeat) {
    RepeatRegion(buffer, pattern, region);
  } else if (buffer.planes > 0) {
    if (buffer.planes > 1) {
      dng_pixel_buffer all_but_last = buffer;
      all_but_last.planes = buffer.planes - 1;
      RepeatRegion(all_but_last, pattern, region);
    }
    const uint32_t last = buffer.plane + buffer.planes - 1;
    dng_pixel_buffer last_plane = buffer;
    last_plane.plane = last;
    last_plane.planes = 1;
    last_plane.data = buffer.Pixel(buffer.area.top, buffer.area.left, last);
    last_plane.ClearArea(region, last, 1);
  }
}

void dng_image::RepeatRegion(dng_pixel_buffer& buffer, const dng_box& pattern,
                             const dng_box& region) const {
  if (pattern.IsEmpty()) return;
  if (buffer.area.Contains(pattern)) {
    buffer.ReplicateArea(pattern, region);
    return;
  }
  // Read the pattern, already in phase, into a pattern-sized block at the
  // region's corner: up to two row pieces and two column pieces, split where
  // the phase wraps.
  const int64_t ph = pattern.H(), pw = pattern.W();
  const dng_replication_phase phase = replication_phase(pattern, region);
  const dng_box block(region.top, region.left, int32_t(region.top + std::min<int64_t>(ph, region.H())),
                      int32_t(region.left + std::min<int64_t>(pw, region.W())));
  struct Piece {
    int64_t at, from, length;  // buffer start, image start, length
  };
  const Piece rows[2] = {{block.top, pattern.top + int64_t(phase.row), ph - phase.row},
                         {block.top + ph - phase.row, pattern.top, int64_t(phase.row)}};
  const Piece cols[2] = {{block.left, pattern.left + int64_t(phase.col), pw - phase.col},
                         {block.left + pw - phase.col, pattern.left, int64_t(phase.col)}};
  for (const Piece& r : rows) {
    const int64_t r_len = std::min<int64_t>(r.length, block.bottom - r.at);
    if (r_len <= 0) continue;
    for (const Piece& c : cols) {
      const int64_t c_len = std::min<int64_t>(c.length, block.right - c.at);
      if (c_len <= 0) continue;
      dng_pixel_buffer piece = buffer;
      piece.area = dng_box(int32_t(r.from), int32_t(c.from), int32_t(r.from + r_len),
                           int32_t(c.from + c_len));
      piece.data = buffer.Pixel(int32_t(r.at), int32_t(c.at), buffer.plane);
      CopyTilesOut(piece);
    }
  }
  buffer.ReplicateArea(block, region);
}

void dng_image::WriteArea(const dng_pixel_buffer& buffer) {
  const dng_box overlap = intersect_boxes(buffer.area, bounds_);
  if (overlap.IsEmpty() || buffer.plane >= planes_) return;
  dng_pixel_buffer part = cut_to(buffer, overlap);
  part.planes = std::min(buffer.planes, planes_ - buffer.plane);
  CopyTilesIn(part);
}

dng_tile_buffer::dng_tile_buffer(const dng_image& image, const dng_box& area, bool dirty)
    : image_(image) {
  image_.LockTile(*this, area, dirty);
}

dng_tile_buffer::~dng_tile_buffer() { image_.UnlockTile(*this); }
