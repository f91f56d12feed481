#include "dng/core/dng_cfa_color_kernels.h"

#include <cstring>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_tag_types.h"

namespace {

constexpr uint32_t N = dng_cfa_color_kernels::kMaxPhases;

// Which sites of the expanded pattern hold one colour; reads wrap around.
struct ColorMask {
  int32_t rows = 0;
  int32_t cols = 0;
  bool site[N][N] = {};
  bool row_has[N] = {};
  bool col_has[N] = {};

  bool At(int32_t r, int32_t c) const {
    return site[((r % rows) + rows) % rows][((c % cols) + cols) % cols];
  }
  bool Row(int32_t r) const { return row_has[((r % rows) + rows) % rows]; }
  bool Col(int32_t c) const { return col_has[((c % cols) + cols) % cols]; }

  // The signed distance to the nearest flagged index from start in the
  // direction step (+1 or -1), searching one pattern at most; a colour that
  // the pattern lacks is a malformed file.
  template <class Test>
  static int32_t Nearest(int32_t start, int32_t step, int32_t period, Test&& test) {
    for (int32_t k = 1; k <= period; ++k) {
      if (test(start + step * k)) return step * k;
    }
    throw_dng_code(dng_code_bad_format);
  }
};

void add_general(dng_cfa_kernel& kernel, const ColorMask& m, int32_t r, int32_t c) {
  // Rows first: the nearest rows above and below that hold the colour, and
  // in each the nearest samples left and right.
  int32_t u = 0, d = 0;
  if (!m.Row(r)) {
    u = ColorMask::Nearest(r, -1, m.rows, [&](int32_t i) { return m.Row(i); });
    d = ColorMask::Nearest(r, +1, m.rows, [&](int32_t i) { return m.Row(i); });
  }
  float row_above = u == d ? 0.5f : 0.5f * static_cast<float>(d) / static_cast<float>(d - u);
  float row_below = u == d ? 0.0f : 0.5f * static_cast<float>(-u) / static_cast<float>(d - u);

  int32_t e = 0, f = 0;
  if (!m.Col(c)) {
    e = ColorMask::Nearest(c, -1, m.cols, [&](int32_t i) { return m.Col(i); });
    f = ColorMask::Nearest(c, +1, m.cols, [&](int32_t i) { return m.Col(i); });
  }
  float col_left = e == f ? 0.5f : 0.5f * static_cast<float>(f) / static_cast<float>(f - e);
  float col_right = e == f ? 0.0f : 0.5f * static_cast<float>(-e) / static_cast<float>(f - e);

  auto along_row = [&](int32_t row, float w) {
    int32_t l = 0, g = 0;
    if (!m.At(r + row, c)) {
      l = ColorMask::Nearest(c, -1, m.cols, [&](int32_t i) { return m.At(r + row, i); });
      g = ColorMask::Nearest(c, +1, m.cols, [&](int32_t i) { return m.At(r + row, i); });
    }
    if (l == g) {
      kernel.AddTap({row, l}, w);
    } else {
      kernel.AddTap({row, l}, w * static_cast<float>(g) / static_cast<float>(g - l));
      kernel.AddTap({row, g}, w * static_cast<float>(-l) / static_cast<float>(g - l));
    }
  };
  auto along_col = [&](int32_t col, float w) {
    int32_t a = 0, b = 0;
    if (!m.At(r, c + col)) {
      a = ColorMask::Nearest(r, -1, m.rows, [&](int32_t i) { return m.At(i, c + col); });
      b = ColorMask::Nearest(r, +1, m.rows, [&](int32_t i) { return m.At(i, c + col); });
    }
    if (a == b) {
      kernel.AddTap({a, col}, w);
    } else {
      kernel.AddTap({a, col}, w * static_cast<float>(b) / static_cast<float>(b - a));
      kernel.AddTap({b, col}, w * static_cast<float>(-a) / static_cast<float>(b - a));
    }
  };
  along_row(u, row_above);
  along_row(d, row_below);
  along_col(e, col_left);
  along_col(f, col_right);
}

void build_kernel(dng_cfa_kernel& k, const ColorMask& m, int32_t r, int32_t c) {
  bool self = m.At(r, c);
  bool up = m.At(r - 1, c), down = m.At(r + 1, c), left = m.At(r, c - 1), right = m.At(r, c + 1);
  bool ul = m.At(r - 1, c - 1), ur = m.At(r - 1, c + 1), dl = m.At(r + 1, c - 1),
       dr = m.At(r + 1, c + 1);
  if (self) {
    k.AddTap({0, 0}, 1.0f);
  } else if (up && down && left) {
    k.AddTap({-1, 0}, 0.25f);
    k.AddTap({0, -1}, 0.25f);
    k.AddTap({0, 1}, 0.25f);
    k.AddTap({1, 0}, 0.25f);
  } else if (up && down) {
    k.AddTap({-1, 0}, 0.5f);
    k.AddTap({1, 0}, 0.5f);
  } else if (left && right) {
    k.AddTap({0, -1}, 0.5f);
    k.AddTap({0, 1}, 0.5f);
  } else if (up && dl && dr) {
    k.AddTap({-1, 0}, 0.5f);
    k.AddTap({1, -1}, 0.25f);
    k.AddTap({1, 1}, 0.25f);
  } else if (down && ul && ur) {
    k.AddTap({-1, -1}, 0.25f);
    k.AddTap({-1, 1}, 0.25f);
    k.AddTap({1, 0}, 0.5f);
  } else if (left && ur && dr) {
    k.AddTap({-1, 1}, 0.25f);
    k.AddTap({0, -1}, 0.5f);
    k.AddTap({1, 1}, 0.25f);
  } else if (right && ul && dl) {
    k.AddTap({-1, -1}, 0.25f);
    k.AddTap({0, 1}, 0.5f);
    k.AddTap({1, -1}, 0.25f);
  } else if (ul && ur && dl && dr) {
    k.AddTap({-1, -1}, 0.25f);
    k.AddTap({-1, 1}, 0.25f);
    k.AddTap({1, -1}, 0.25f);
    k.AddTap({1, 1}, 0.25f);
  } else if (ul && dr) {
    k.AddTap({-1, -1}, 0.5f);
    k.AddTap({1, 1}, 0.5f);
  } else if (ur && dl) {
    k.AddTap({-1, 1}, 0.5f);
    k.AddTap({1, -1}, 0.5f);
  } else {
    add_general(k, m, r, c);
  }
}

}  // namespace

void dng_cfa_color_kernels::Reset() {
  factors_ = {};
  expanded_ = {};
  for (auto& k : kernels_) k = dng_cfa_kernel{};
  for (uint32_t i = 0; i < N * N; ++i) {
    tap_counts_[i] = 0;
    offsets_[i] = kernels_[i].linear_offset;
    weights16_[i] = kernels_[i].weight16;
    weights_[i] = kernels_[i].weight;
  }
}

void dng_cfa_color_kernels::Build(const dng_mosaic_info& info, uint32_t color_index,
                                  int32_t row_step, int32_t col_step) {
  factors_ = info.FullScaleFactors();
  if (info.pattern_rows < 1 || info.pattern_rows > dng_mosaic_info::kMaxPattern ||
      info.pattern_cols < 1 || info.pattern_cols > dng_mosaic_info::kMaxPattern ||
      color_index >= dng_mosaic_info::kMaxColors) {
    throw_dng_code(dng_code_bad_format);
  }
  expanded_ = {static_cast<int32_t>(info.pattern_rows) * factors_.v,
               static_cast<int32_t>(info.pattern_cols) * factors_.h};
  uint8_t color = info.plane_color[color_index];

  ColorMask m;
  m.rows = expanded_.v;
  m.cols = expanded_.h;
  for (int32_t r = 0; r < m.rows; ++r) {
    for (int32_t c = 0; c < m.cols; ++c) {
      bool same_parity = ((r ^ c) & 1) == 0;
      bool has;
      switch (info.cfa_layout) {
        case 1: has = info.pattern[r][c] == color; break;
        case 2: has = same_parity && info.pattern[r / 2][c] == color; break;
        case 3: has = !same_parity && info.pattern[r / 2][c] == color; break;
        case 4: has = same_parity && info.pattern[r][c / 2] == color; break;
        case 5: has = !same_parity && info.pattern[r][c / 2] == color; break;
        default: throw_dng_code(dng_code_unknown);
      }
      m.site[r][c] = has;
      m.row_has[r] = m.row_has[r] || has;
      m.col_has[c] = m.col_has[c] || has;
    }
  }

  for (int32_t r = 0; r < m.rows; ++r) {
    for (int32_t c = 0; c < m.cols; ++c) {
      uint32_t index = static_cast<uint32_t>(r) * N + static_cast<uint32_t>(c);
      dng_cfa_kernel& k = kernels_[index];
      k = dng_cfa_kernel{};
      build_kernel(k, m, r, c);
      k.Finish(factors_, static_cast<uint32_t>(r), static_cast<uint32_t>(c), row_step, col_step);
      tap_counts_[index] = k.count;
      offsets_[index] = k.linear_offset;
      weights16_[index] = k.weight16;
      weights_[index] = k.weight;
    }
  }
}

void dng_cfa_color_kernels::InterpolateRows(const dng_pixel_buffer& src,
                                            dng_pixel_buffer& dst) const {
  const uint32_t sv = static_cast<uint32_t>(factors_.v - 1);
  const uint32_t sh = static_cast<uint32_t>(factors_.h - 1);
  const uint32_t cols = static_cast<uint32_t>(expanded_.h);
  const int32_t left = dst.area.left;
  const uint32_t width = static_cast<uint32_t>(dst.area.right - dst.area.left);
  const uint32_t first_col = static_cast<uint32_t>(((left % expanded_.h) + expanded_.h) % expanded_.h);
  // A 2 x 2 pattern at full scale alternates two kernels along each row.
  const bool bayer = expanded_.v == 2 && expanded_.h == 2 && sh == 0;
  for (int32_t y = dst.area.top; y < dst.area.bottom; ++y) {
    uint32_t phase_row = static_cast<uint32_t>(((y % expanded_.v) + expanded_.v) % expanded_.v);
    for (uint32_t j = 0; j < dst.planes; ++j) {
      const dng_cfa_color_kernels& plane = this[j];
      const void* s = src.Pixel(y >> sv, left >> sh, src.plane);
      void* d = dst.Pixel(y, left, dst.plane + j);
      uint32_t base = phase_row * N;
      if (dst.pixel_type == dng_type_short && bayer) {
        interpolate_row_u16_2x2(static_cast<const uint16_t*>(s), static_cast<uint16_t*>(d), width,
                                first_col, cols, plane.tap_counts_ + base, plane.offsets_ + base,
                                plane.weights16_ + base, sh);
      } else if (dst.pixel_type == dng_type_short) {
        dng_pixel_kernels.InterpolateRowU16(static_cast<const uint16_t*>(s), static_cast<uint16_t*>(d),
                                            width, first_col, cols, plane.tap_counts_ + base,
                                            plane.offsets_ + base, plane.weights16_ + base, sh);
      } else {
        dng_pixel_kernels.InterpolateRowFloat(static_cast<const float*>(s), static_cast<float*>(d),
                                              width, first_col, cols, plane.tap_counts_ + base,
                                              plane.offsets_ + base, plane.weights_ + base, sh);
      }
    }
  }
}

void build_all_cfa_kernels(dng_cfa_color_kernels kernels[4], const dng_mosaic_info& info,
                           int32_t row_step, int32_t col_step) {
  for (uint32_t i = 0; i < 4; ++i) kernels[i].Reset();
  if (info.color_planes > dng_mosaic_info::kMaxColors) throw_dng_code(dng_code_bad_format);
  for (uint32_t i = 0; i < info.color_planes; ++i) kernels[i].Build(info, i, row_step, col_step);
}
