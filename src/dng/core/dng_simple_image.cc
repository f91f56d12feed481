#include "dng/core/dng_simple_image.h"

#include <utility>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_tag_types.h"

dng_simple_image::dng_simple_image(const dng_box& bounds, uint32_t planes, uint32_t pixel_type,
                                   uint32_t pixel_range, dng_memory_allocator& allocator)
    : dng_image(bounds, planes, pixel_type, pixel_range) {
  const uint32_t sample_size = tag_type_size(pixel_type);
  const uint32_t bytes = image_block_size({bounds.H(), bounds.W(), planes, sample_size});
  // Steps are int32 samples.
  const uint64_t row_samples = checked_product_u64({planes, bounds.W()});
  if (row_samples > INT32_MAX) throw_dng_code(dng_code_memory);

  block_.reset(allocator.NewBlock(bytes));
  buffer_.area = bounds;
  buffer_.plane = 0;
  buffer_.planes = planes;
  buffer_.col_step = int32_t(planes);
  buffer_.row_step = int32_t(row_samples);
  buffer_.plane_step = 1;
  buffer_.pixel_type = pixel_type;
  buffer_.pixel_size = sample_size;
  buffer_.pixel_range = pixel_range;
  buffer_.data = block_->Buffer();
}

void dng_simple_image::LockTile(dng_tile_buffer& buffer, const dng_box& area, bool dirty) const {
  if (!Bounds().Contains(area)) throw_dng_code(dng_code_unknown);
  static_cast<dng_pixel_buffer&>(buffer) = buffer_;
  buffer.area = area;
  buffer.data = buffer_.Pixel(area.top, area.left, 0);
  buffer.dirty = dirty;
}

void dng_simple_image::Crop(const dng_box& rect) {
  if (!Bounds().Contains(rect)) throw_dng_code(dng_code_unknown);
  const dng_box cropped(0, 0, int32_t(rect.H()), int32_t(rect.W()));
  if (!cropped.IsEmpty()) buffer_.data = buffer_.Pixel(rect.top, rect.left, 0);
  buffer_.area = cropped;
  SetBounds(cropped);
}

void dng_simple_image::Reorient(const dng_image_flip& flip) {
  const dng_box& b = Bounds();
  uint32_t height = b.H(), width = b.W();
  if (height != 0 && width != 0) {
    buffer_.data = buffer_.Pixel(b.top + (flip.MirrorsTopBottom() ? int32_t(height - 1) : 0),
                                 b.left + (flip.MirrorsLeftRight() ? int32_t(width - 1) : 0), 0);
  }
  if (flip.MirrorsLeftRight()) buffer_.col_step = -buffer_.col_step;
  if (flip.MirrorsTopBottom()) buffer_.row_step = -buffer_.row_step;
  if (flip.SwapsAxes()) {
    std::swap(buffer_.row_step, buffer_.col_step);
    std::swap(height, width);
  }
  const dng_box reoriented(b.top, b.left, int32_t(int64_t(b.top) + height),
                           int32_t(int64_t(b.left) + width));
  buffer_.area = reoriented;
  SetBounds(reoriented);
}
