#include "dng/core/dng_image_spooler.h"

#include <algorithm>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_tag_types.h"

dng_image_spooler::dng_image_spooler(dng_host& host, dng_image& image, const dng_box& tile,
                                     uint32_t plane, uint32_t planes, dng_memory_block& band_buffer)
    : host_(host), image_(image), tile_(tile), plane_(plane), planes_(planes),
      buffer_(band_buffer.Buffer_uint8()) {
  uint64_t row_bytes = uint64_t{2} * planes * static_cast<uint32_t>(tile.right - tile.left);
  uint64_t rows = row_bytes == 0 ? 0 : band_buffer.Size() / row_bytes;
  rows = std::min<uint64_t>(rows, static_cast<uint32_t>(tile.bottom - tile.top));
  if (rows == 0 && row_bytes != 0 && tile.bottom > tile.top) throw_dng_code(dng_code_unknown);
  band_rows_ = static_cast<uint32_t>(rows);
  StartBand(tile.top, band_rows_);
}

void dng_image_spooler::StartBand(int32_t top, uint32_t rows) {
  int64_t bottom = std::min<int64_t>(int64_t{top} + rows, tile_.bottom);
  band_ = dng_box(top, tile_.left, static_cast<int32_t>(bottom), tile_.right);
  filled_ = 0;
  band_size_ = bottom > top ? static_cast<uint32_t>(bottom - top) *
                                  static_cast<uint32_t>(tile_.right - tile_.left) * planes_ * 2
                            : 0;
}

void dng_image_spooler::Spool(const void* data, uint32_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    uint32_t c = std::min(count, band_size_ - filled_);
    if (c == 0) return;
    dng_pixel_kernels.CopyBlock(p, buffer_ + filled_, c);
    filled_ += c;
    p += c;
    count -= c;
    if (filled_ == band_size_) {
      host_.PollCancel();
      dng_pixel_buffer buffer;
      buffer.area = band_;
      buffer.plane = plane_;
      buffer.planes = planes_;
      buffer.row_step = (tile_.right - tile_.left) * static_cast<int32_t>(planes_);
      buffer.col_step = static_cast<int32_t>(planes_);
      buffer.plane_step = 1;
      buffer.pixel_type = dng_type_short;
      buffer.pixel_size = 2;
      buffer.data = buffer_;
      image_.WriteArea(buffer);
      StartBand(band_.bottom, band_rows_);
    }
  }
}
