#include "dng/core/dng_filter_task.h"

#include <algorithm>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_tag_types.h"

dng_filter_task::dng_filter_task(const dng_image& src_image, dng_image& dst_image)
    : src_image_(src_image),
      dst_image_(dst_image),
      src_planes_(src_image.Planes()),
      src_pixel_type_(src_image.PixelType()),
      dst_planes_(dst_image.Planes()),
      dst_pixel_type_(dst_image.PixelType()) {}

dng_extent dng_filter_task::SourceTileSizeFor(const dng_extent& tile_size) const {
  const dng_box src = SourceAreaFor(dng_box(0, 0, tile_size.v, tile_size.h));
  return dng_extent(int32_t(std::min<uint32_t>(src.H(), INT32_MAX)),
                    int32_t(std::min<uint32_t>(src.W(), INT32_MAX)));
}

uint64_t dng_filter_task::PaddedColumns(uint64_t cols, uint32_t pixel_size) {
  const uint64_t multiple = pixel_size == 2 ? 8 : pixel_size == 4 ? 4 : pixel_size == 8 ? 2 : 16;
  return (cols + multiple - 1) / multiple * multiple;
}

namespace {

uint32_t buffer_bytes(const dng_extent& size, uint32_t planes, uint32_t pixel_type) {
  const uint32_t pixel_size = tag_type_size(pixel_type);
  return image_block_size({uint64_t(std::max(size.v, 0)),
                           dng_filter_task::PaddedColumns(uint64_t(std::max(size.h, 0)), pixel_size),
                           planes, pixel_size});
}

}  // namespace

void dng_filter_task::Begin(uint32_t thread_count, const dng_extent& tile_size,
                            dng_memory_allocator& allocator, dng_cancel_hook*) {
  const uint32_t src_bytes = buffer_bytes(SourceTileSizeFor(tile_size), src_planes_, src_pixel_type_);
  const uint32_t dst_bytes = buffer_bytes(tile_size, dst_planes_, dst_pixel_type_);
  const uint32_t threads = std::min(thread_count, dng_max_task_threads);
  for (uint32_t t = 0; t < threads; ++t) {
    src_blocks_[t].reset();
    src_blocks_[t].reset(allocator.NewBlock(src_bytes));
    dng_pixel_kernels.ClearBytes(src_blocks_[t]->Buffer(), src_bytes);
    dst_blocks_[t].reset();
    dst_blocks_[t].reset(allocator.NewBlock(dst_bytes));
    dng_pixel_kernels.ClearBytes(dst_blocks_[t]->Buffer(), dst_bytes);
  }
}

dng_pixel_buffer dng_filter_task::MakeBuffer(const dng_box& area, uint32_t plane, uint32_t planes,
                                             uint32_t pixel_type, const dng_image& image,
                                             dng_memory_block& block) const {
  dng_pixel_buffer buffer;
  buffer.area = area;
  buffer.plane = plane;
  buffer.planes = planes;
  buffer.pixel_type = pixel_type;
  buffer.pixel_size = tag_type_size(pixel_type);
  if (pixel_type == image.PixelType()) {
    buffer.pixel_range = image.PixelRange();
  } else {
    switch (pixel_type) {
      case dng_type_byte: case dng_type_sbyte: buffer.pixel_range = 255; break;
      case dng_type_short: case dng_type_sshort: buffer.pixel_range = 65535; break;
      case dng_type_long: case dng_type_slong: buffer.pixel_range = 0xFFFFFFFF; break;
      case dng_type_float: buffer.pixel_range = 0; break;
      default: throw_dng_code(dng_code_unknown);
    }
  }
  const uint64_t plane_step = PaddedColumns(area.W(), buffer.pixel_size);
  const uint64_t row_step = checked_product_u64({plane_step, planes});
  // The area must fit the block made in Begin (a larger source area than
  // SourceTileSizeFor promised is a task error, not an overrun).
  if (checked_product_u64({row_step, area.H(), buffer.pixel_size}) > block.Size() ||
      row_step > INT32_MAX) {
    throw_dng_code(dng_code_unknown);
  }
  buffer.plane_step = int32_t(plane_step);
  buffer.row_step = int32_t(row_step);
  buffer.col_step = 1;
  buffer.data = block.Buffer();
  return buffer;
}

void dng_filter_task::ProcessTile(uint32_t thread_index, const dng_box& tile, dng_cancel_hook*) {
  if (thread_index >= dng_max_task_threads || !src_blocks_[thread_index] || !dst_blocks_[thread_index]) {
    throw_dng_code(dng_code_unknown);
  }
  const dng_box src_area = SourceAreaFor(tile);
  dng_pixel_buffer src = MakeBuffer(src_area, src_plane_, src_planes_, src_pixel_type_, src_image_,
                                    *src_blocks_[thread_index]);
  dng_pixel_buffer dst = MakeBuffer(tile, dst_plane_, dst_planes_, dst_pixel_type_, dst_image_,
                                    *dst_blocks_[thread_index]);
  src_image_.ReadArea(src, dng_edge_repeat, uint32_t(std::max(src_repeat_.v, 1)),
                      uint32_t(std::max(src_repeat_.h, 1)));
  FilterArea(thread_index, src, dst);
  dst_image_.WriteArea(dst);
}
