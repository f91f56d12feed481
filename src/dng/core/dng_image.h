// An abstract rectangle of pixels with a plane count and a pixel type,
// reached through tile buffers that lock part of it. Reading an area that
// reaches outside the image fills the outside by an edge rule.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_image_flip.h"
#include "dng/core/dng_pixel_buffer.h"

class dng_tile_buffer;

// How ReadArea fills the part of a buffer outside the image.
enum dng_edge_kind : uint32_t {
  dng_edge_none = 0,         // left untouched
  dng_edge_zero = 1,         // the zero of the type
  dng_edge_repeat = 2,       // the edge pattern repeated in phase
  dng_edge_repeat_zero_last = 3,  // repeat, but zero in the last plane
};

class dng_image {
 public:
  dng_image(const dng_box& bounds, uint32_t planes, uint32_t pixel_type, uint32_t pixel_range = 0);
  virtual ~dng_image() = default;
  dng_image(const dng_image&) = delete;
  dng_image& operator=(const dng_image&) = delete;

  const dng_box& Bounds() const { return bounds_; }
  dng_extent Extent() const { return dng_extent(int32_t(bounds_.H()), int32_t(bounds_.W())); }
  uint32_t Planes() const { return planes_; }
  uint32_t PixelType() const { return pixel_type_; }
  uint32_t PixelRange() const { return pixel_range_; }
  uint32_t BytesPerSample() const;
  // As dng_pixel_buffer::SampleRange, from the image's own range and type.
  uint32_t SampleRange() const;

  // The rectangle of the tile grid; the base has one tile, the bounds.
  virtual dng_box Area() const { return bounds_; }
  // The base changes nothing and raises 100000 unless the rectangle equals
  // the bounds (or the code is 0).
  virtual void Crop(const dng_box& rect);
  virtual void Reorient(const dng_image_flip& flip);

  // Fills the whole buffer area (its planes): the part inside the bounds
  // from the image, the rest by the edge kind with the repeat size. Kinds
  // outside 0..3 raise 100000.
  void ReadArea(dng_pixel_buffer& buffer, uint32_t edge_kind, uint32_t repeat_rows,
                uint32_t repeat_cols) const;
  // Copies the part of the buffer inside the bounds into the image; planes
  // at or beyond the image's plane count are not written.
  void WriteArea(const dng_pixel_buffer& buffer);

 protected:
  friend class dng_tile_buffer;

  // Describes the pixels of an area inside one tile in the tile buffer; the
  // base raises 100000.
  virtual void LockTile(dng_tile_buffer& buffer, const dng_box& area, bool dirty) const;
  virtual void UnlockTile(dng_tile_buffer& buffer) const;

  // Copies the buffer's area between the image and the buffer, tile by
  // tile. The buffer's planes must lie within the image's (100000).
  virtual void CopyTilesOut(dng_pixel_buffer& buffer) const;
  virtual void CopyTilesIn(const dng_pixel_buffer& buffer);

  void SetBounds(const dng_box& bounds) { bounds_ = bounds; }

 private:
  void FillRegion(dng_pixel_buffer& buffer, uint32_t edge_kind, const dng_box& pattern,
                  const dng_box& region) const;
  void RepeatRegion(dng_pixel_buffer& buffer, const dng_box& pattern, const dng_box& region) const;

  dng_box bounds_;
  uint32_t planes_;
  uint32_t pixel_type_;
  uint32_t pixel_range_;
};

// A pixel buffer locked from an image for the buffer's lifetime.
class dng_tile_buffer : public dng_pixel_buffer {
 public:
  ~dng_tile_buffer() override;
  dng_tile_buffer(const dng_tile_buffer&) = delete;
  dng_tile_buffer& operator=(const dng_tile_buffer&) = delete;

 protected:
  dng_tile_buffer(const dng_image& image, const dng_box& area, bool dirty);

 private:
  const dng_image& image_;
};

// Locked for reading.
class dng_const_tile_buffer : public dng_tile_buffer {
 public:
  dng_const_tile_buffer(const dng_image& image, const dng_box& area)
      : dng_tile_buffer(image, area, false) {}
  ~dng_const_tile_buffer() override = default;
};

// Locked for writing.
class dng_dirty_tile_buffer : public dng_tile_buffer {
 public:
  dng_dirty_tile_buffer(dng_image& image, const dng_box& area) : dng_tile_buffer(image, area, true) {}
  ~dng_dirty_tile_buffer() override = default;
};
