#include "dng/core/dng_linearize_plane.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_tag_types.h"

namespace {

// Fixed-point values of the output scale carry 8 fraction bits. Entries are
// held in 64 bits and saturated far beyond any sum that can reach the
// output range, so a small white-minus-black against a large table never
// wraps.
constexpr double kFixedLimit = 1099511627776.0;  // 2^40

int64_t to_fixed(double v, double scale, uint32_t range) {
  double x = v * scale * range * 256.0;
  if (std::isnan(x)) return 0;
  x = x < 0 ? -std::floor(-x + 0.5) : std::floor(x + 0.5);
  x = std::clamp(x, -kFixedLimit, kFixedLimit);
  return static_cast<int64_t>(x);
}

}  // namespace

dng_linearize_plane::dng_linearize_plane(const dng_linearization_info& info, const dng_image& source,
                                         dng_image& destination, uint32_t plane)
    : source_(source), destination_(destination), plane_(plane), range_(destination.SampleRange()),
      active_(info.active_area), source_type_(source.PixelType()),
      destination_type_(destination.PixelType()) {
  tile_size_limit_ = dng_extent(1024, 1024);
  if ((source_type_ != dng_type_byte && source_type_ != dng_type_short && source_type_ != dng_type_long) ||
      (destination_type_ != dng_type_short && destination_type_ != dng_type_float)) {
    throw_dng_code(dng_code_unknown);
  }
  float_path_ = source_type_ == dng_type_long || destination_type_ == dng_type_float;
  const uint32_t p = std::min<uint32_t>(plane, 3);
  double span = info.white_level[p] - info.PeakBlackLevel(plane);
  if (!(span > 0.0)) throw_dng_code(dng_code_bad_format);
  double scale = 1.0 / span;
  scale_ = static_cast<float>(scale);
  const uint32_t rep_rows = std::clamp<uint32_t>(info.black_level_repeat_rows, 1, 8);
  const uint32_t rep_cols = std::clamp<uint32_t>(info.black_level_repeat_cols, 1, 8);
  const bool col_deltas = !info.black_delta_h.empty();
  const bool row_deltas = !info.black_delta_v.empty();

  auto store = [&](std::vector<int64_t>& fixed, std::vector<float>& flt, size_t i, double v) {
    if (float_path_) {
      flt[i] = static_cast<float>(v * scale);
    } else {
      fixed[i] = to_fixed(v, scale, range_);
    }
  };

  if (col_deltas || rep_cols > 1) {
    black2d_rows_ = rep_rows;
    black2d_cols_ = col_deltas ? static_cast<uint32_t>(info.black_delta_h.size()) : rep_cols;
    (float_path_ ? black2d_float_.resize(size_t{black2d_rows_} * black2d_cols_)
                 : black2d_fixed_.resize(size_t{black2d_rows_} * black2d_cols_));
    for (uint32_t r = 0; r < black2d_rows_; ++r) {
      for (uint32_t c = 0; c < black2d_cols_; ++c) {
        double v = info.black_level[r][c % rep_cols][p] + (col_deltas ? info.black_delta_h[c] : 0.0);
        store(black2d_fixed_, black2d_float_, size_t{r} * black2d_cols_ + c, v);
      }
    }
  }
  const bool has2d = black2d_rows_ != 0;
  if (row_deltas) {
    black1d_count_ = static_cast<uint32_t>(info.black_delta_v.size());
  } else if (!has2d && !(source_type_ == dng_type_short && rep_rows <= 1)) {
    black1d_count_ = rep_rows;
  }
  if (black1d_count_ != 0) {
    (float_path_ ? black1d_float_.resize(black1d_count_) : black1d_fixed_.resize(black1d_count_));
    for (uint32_t r = 0; r < black1d_count_; ++r) {
      double v = (has2d ? 0.0 : info.black_level[r % rep_rows][0][p]) + (row_deltas ? info.black_delta_v[r] : 0.0);
      store(black1d_fixed_, black1d_float_, r, v);
    }
  }

  if (source_type_ != dng_type_long) {
    const bool has_table = !info.table.empty();
    auto table_value = [&](uint32_t x) -> double {
      if (!has_table) return x;
      return info.table[std::min<size_t>(x, info.table.size() - 1)];
    };
    single_lookup_ = !has2d && black1d_count_ == 0;
    if (single_lookup_) {
      double b = info.black_level[0][0][p];
      if (destination_type_ == dng_type_float) {
        lookup_float_.resize(65536);
      } else {
        lookup_fixed_.resize(65536);
      }
      for (uint32_t x = 0; x < 65536; ++x) {
        double v = std::clamp((table_value(x) - b) * scale, 0.0, 1.0);
        if (destination_type_ == dng_type_float) {
          lookup_float_[x] = static_cast<float>(v);
        } else {
          lookup_fixed_[x] = static_cast<int64_t>(std::floor(range_ * v + 0.5));
        }
      }
      // 16-bit outputs of 8- and 16-bit sources: one 16-bit lookup per pixel.
      if (destination_type_ == dng_type_short && range_ <= 65535) {
        lookup16_.assign(lookup_fixed_.begin(), lookup_fixed_.end());
        lookup_fixed_.clear();
      }
    } else {
      (float_path_ ? lookup_float_.resize(65536) : lookup_fixed_.resize(65536));
      for (uint32_t x = 0; x < 65536; ++x) store(lookup_fixed_, lookup_float_, x, table_value(x));
    }
  }
}

dng_box dng_linearize_plane::AlignTile1() const { return source_.Bounds(); }

dng_box dng_linearize_plane::AlignTile2() const {
  dng_box b = destination_.Bounds();
  return dng_box(b.top + active_.top, b.left + active_.left, b.bottom + active_.top, b.right + active_.left);
}

namespace {

// One row of the single-lookup path into 16-bit samples.
template <class S>
void lookup_row(const S* src, int32_t src_step, uint16_t* dst, int32_t dst_step, int32_t count,
                const uint16_t* lookup) {
  if (src_step == 1 && dst_step == 1) {
    for (int32_t x = 0; x < count; ++x) dst[x] = lookup[src[x]];
  } else {
    for (int32_t x = 0; x < count; ++x) dst[ptrdiff_t(x) * dst_step] = lookup[src[ptrdiff_t(x) * src_step]];
  }
}

// A one-plane buffer over area on storage filled with zeros: where a tile
// reaching outside an image is read into or written from.
dng_pixel_buffer zeroed_plane_copy(const dng_box& area, uint32_t plane, uint32_t pixel_type, uint32_t pixel_size,
                                   std::vector<uint8_t>& storage) {
  const int32_t w = area.right - area.left;
  const int32_t h = area.bottom - area.top;
  storage.assign(size_t(w) * h * pixel_size, 0);
  dng_pixel_buffer buffer;
  buffer.area = area;
  buffer.plane = plane;
  buffer.planes = 1;
  buffer.row_step = w;
  buffer.col_step = 1;
  buffer.plane_step = w * h;
  buffer.pixel_type = pixel_type;
  buffer.pixel_size = pixel_size;
  buffer.data = storage.data();
  return buffer;
}

}  // namespace

void dng_linearize_plane::ProcessTile(uint32_t, const dng_box& tile, dng_cancel_hook*) {
  const int32_t w = tile.right - tile.left;
  const int32_t h = tile.bottom - tile.top;
  if (w <= 0 || h <= 0) return;
  const uint32_t src_size = tag_type_size(source_type_);
  const uint32_t dst_size = tag_type_size(destination_type_);
  const dng_box out_area(tile.top - active_.top, tile.left - active_.left, tile.bottom - active_.top,
                         tile.right - active_.left);

  // Both images are reached in place through tile buffers; an area that
  // reaches outside an image goes through a copy (outside samples read as 0
  // and are not written).
  std::optional<dng_const_tile_buffer> source_tile;
  std::optional<dng_dirty_tile_buffer> destination_tile;
  std::vector<uint8_t> in, out;
  dng_pixel_buffer copy_in, copy_out;
  const dng_pixel_buffer* sb;
  dng_pixel_buffer* db;
  if (source_.Bounds().Contains(tile) && plane_ < source_.Planes()) {
    source_tile.emplace(source_, tile);
    sb = &*source_tile;
  } else {
    copy_in = zeroed_plane_copy(tile, plane_, source_type_, src_size, in);
    source_.ReadArea(copy_in, 0, 1, 1);
    sb = &copy_in;
  }
  if (destination_.Bounds().Contains(out_area) && plane_ < destination_.Planes()) {
    destination_tile.emplace(destination_, out_area);
    db = &*destination_tile;
  } else {
    copy_out = zeroed_plane_copy(out_area, plane_, destination_type_, dst_size, out);
    db = &copy_out;
  }
  const int32_t scs = sb->col_step, dcs = db->col_step;

  const float range_f = static_cast<float>(range_);
  for (int32_t y = 0; y < h; ++y) {
    const void* src_row = sb->Pixel(tile.top + y, tile.left, plane_);
    void* dst_row = db->Pixel(out_area.top + y, out_area.left, plane_);
    if (!lookup16_.empty()) {
      if (src_size == 1) {
        lookup_row(static_cast<const uint8_t*>(src_row), scs, static_cast<uint16_t*>(dst_row), dcs, w,
                   lookup16_.data());
      } else {
        lookup_row(static_cast<const uint16_t*>(src_row), scs, static_cast<uint16_t*>(dst_row), dcs, w,
                   lookup16_.data());
      }
      continue;
    }
    const uint32_t d = static_cast<uint32_t>(tile.top + y - active_.top);
    const uint32_t e = static_cast<uint32_t>(tile.left - active_.left);
    int64_t b1 = 0;
    float b1f = 0.0f;
    if (black1d_count_ != 0) {
      if (float_path_) {
        b1f = black1d_float_[d % black1d_count_];
      } else {
        b1 = black1d_fixed_[d % black1d_count_];
      }
    }
    const size_t row2d = black2d_rows_ ? size_t{d % black2d_rows_} * black2d_cols_ : 0;
    uint32_t col = black2d_cols_ ? e % black2d_cols_ : 0;
    for (int32_t x = 0; x < w; ++x) {
      const ptrdiff_t i = ptrdiff_t(x) * scs;
      uint32_t s;
      switch (src_size) {
        case 1: s = static_cast<const uint8_t*>(src_row)[i]; break;
        case 2: s = static_cast<const uint16_t*>(src_row)[i]; break;
        default: s = static_cast<const uint32_t*>(src_row)[i]; break;
      }
      int64_t b2 = 0;
      float b2f = 0.0f;
      if (black2d_cols_ != 0) {
        if (float_path_) {
          b2f = black2d_float_[row2d + col];
        } else {
          b2 = black2d_fixed_[row2d + col];
        }
        if (++col == black2d_cols_) col = 0;
      }
      float vf = 0.0f;
      int64_t v16 = 0;
      bool is_float;
      if (single_lookup_) {
        is_float = destination_type_ == dng_type_float;
        if (is_float) {
          vf = lookup_float_[s];
        } else {
          v16 = lookup_fixed_[s];
        }
      } else if (!float_path_) {
        is_float = false;
        v16 = std::clamp<int64_t>((lookup_fixed_[s] - b1 + 128 - b2) >> 8, 0, range_);
      } else {
        float v = source_type_ == dng_type_long ? static_cast<float>(s) * scale_ - b1f - b2f
                                                : lookup_float_[s] - b1f - b2f;
        v = v >= 1.0f ? 1.0f : (v >= 0.0f ? v : 0.0f);
        if (destination_type_ == dng_type_float) {
          is_float = true;
          vf = v;
        } else {
          is_float = false;
          v16 = static_cast<int64_t>(std::floor(v * range_f + 0.5f));
        }
      }
      const ptrdiff_t o = ptrdiff_t(x) * dcs;
      if (dst_size == 4) {
        static_cast<float*>(dst_row)[o] = is_float ? vf : static_cast<float>(v16);
      } else {
        static_cast<uint16_t*>(dst_row)[o] = static_cast<uint16_t>(v16);
      }
    }
  }
  if (db == &copy_out) destination_.WriteArea(copy_out);
}
