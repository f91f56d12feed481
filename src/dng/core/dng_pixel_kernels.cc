#include "dng/core/dng_pixel_kernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "dng/core/dng_rounding.h"

namespace {

using std::ptrdiff_t;

// ---- bytes ----

void clear_bytes(void* data, uint32_t count) { std::memset(data, 0, count); }

void copy_block(const void* src, void* dst, uint32_t count) { std::memcpy(dst, src, count); }

void byte_swap_words(void* data, uint32_t count) {
  auto* __restrict p = static_cast<uint16_t*>(data);
  for (size_t i = 0; i < count; ++i) p[i] = __builtin_bswap16(p[i]);
}

void byte_swap_longs(void* data, uint32_t count) {
  auto* __restrict p = static_cast<uint32_t*>(data);
  for (size_t i = 0; i < count; ++i) p[i] = __builtin_bswap32(p[i]);
}

// ---- area loops ----

template <class T>
void fill_area(void* data, uint32_t value, uint32_t rows, uint32_t cols, uint32_t planes,
               int32_t row_step, int32_t col_step, int32_t plane_step) {
  const T v = static_cast<T>(value);
  T* base = static_cast<T*>(data);
  for (uint32_t r = 0; r < rows; ++r) {
    T* row = base + ptrdiff_t(r) * row_step;
    for (uint32_t c = 0; c < cols; ++c) {
      T* __restrict px = row + ptrdiff_t(c) * col_step;
      if (plane_step == 1) {
        for (uint32_t p = 0; p < planes; ++p) px[p] = v;
      } else {
        for (uint32_t p = 0; p < planes; ++p) px[ptrdiff_t(p) * plane_step] = v;
      }
    }
  }
}

// The triple loop over two buffers with the element operation op. The
// common layouts get loops the compiler vectorises: unit inner steps, and
// three or four planes interleaved on one side and planar on the other.
template <class S, class D, class Op>
inline void blit_loop(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                      int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps,
                      Op op) {
  const S* s = static_cast<const S*>(src);
  D* d = static_cast<D*>(dst);
  const size_t n = cols;  // size_t indices keep the address arithmetic affine
  for (uint32_t r = 0; r < rows; ++r) {
    const S* srow = s + ptrdiff_t(r) * srs;
    D* drow = d + ptrdiff_t(r) * drs;
    if (planes == 1 && scs == 1 && dcs == 1) {
      const S* __restrict a = srow;
      D* __restrict b = drow;
      for (size_t c = 0; c < n; ++c) b[c] = op(a[c]);
      continue;
    }
    if (planes == 3 && scs == 1 && dcs == 3 && dps == 1) {
      // Planar to three interleaved planes.
      const S* __restrict a0 = srow;
      const S* __restrict a1 = srow + sps;
      const S* __restrict a2 = srow + 2 * ptrdiff_t(sps);
      D* __restrict b = drow;
      for (size_t c = 0; c < n; ++c) {
        b[3 * c] = op(a0[c]);
        b[3 * c + 1] = op(a1[c]);
        b[3 * c + 2] = op(a2[c]);
      }
      continue;
    }
    if (planes == 3 && scs == 3 && sps == 1 && dcs == 1) {
      // Three interleaved planes to planar.
      const S* __restrict a = srow;
      D* __restrict b0 = drow;
      D* __restrict b1 = drow + dps;
      D* __restrict b2 = drow + 2 * ptrdiff_t(dps);
      for (size_t c = 0; c < n; ++c) {
        b0[c] = op(a[3 * c]);
        b1[c] = op(a[3 * c + 1]);
        b2[c] = op(a[3 * c + 2]);
      }
      continue;
    }
    for (uint32_t c = 0; c < cols; ++c) {
      const S* __restrict a = srow + ptrdiff_t(c) * scs;
      D* __restrict b = drow + ptrdiff_t(c) * dcs;
      if (sps == 1 && dps == 1) {
        for (size_t p = 0; p < planes; ++p) b[p] = op(a[p]);
      } else {
        for (uint32_t p = 0; p < planes; ++p) b[ptrdiff_t(p) * dps] = op(a[ptrdiff_t(p) * sps]);
      }
    }
  }
}

// Three planar rows into one row of three interleaved 16-bit planes (the
// demosaic output written into its image). The same loop compiled for AVX2
// is chosen at run time where the processor has it; a copy is bit-identical
// either way.
void interleave3_u16_plain(const uint16_t* __restrict a0, const uint16_t* __restrict a1,
                           const uint16_t* __restrict a2, uint16_t* __restrict b, size_t n) {
  for (size_t c = 0; c < n; ++c) {
    b[3 * c] = a0[c];
    b[3 * c + 1] = a1[c];
    b[3 * c + 2] = a2[c];
  }
}

__attribute__((target("avx2"))) void interleave3_u16_avx2(const uint16_t* __restrict a0,
                                                          const uint16_t* __restrict a1,
                                                          const uint16_t* __restrict a2,
                                                          uint16_t* __restrict b, size_t n) {
  for (size_t c = 0; c < n; ++c) {
    b[3 * c] = a0[c];
    b[3 * c + 1] = a1[c];
    b[3 * c + 2] = a2[c];
  }
}

using interleave3_fn = void (*)(const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*, size_t);

interleave3_fn interleave3_u16() {
  static const interleave3_fn chosen = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &interleave3_u16_avx2 : &interleave3_u16_plain;
  }();
  return chosen;
}

template <class T>
void blit_same(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
               int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps) {
  if constexpr (sizeof(T) == 2) {
    if (planes == 3 && scs == 1 && dcs == 3 && dps == 1) {
      const interleave3_fn interleave = interleave3_u16();
      const uint16_t* s = static_cast<const uint16_t*>(src);
      uint16_t* d = static_cast<uint16_t*>(dst);
      for (uint32_t r = 0; r < rows; ++r) {
        const uint16_t* row = s + ptrdiff_t(r) * srs;
        interleave(row, row + sps, row + 2 * ptrdiff_t(sps), d + ptrdiff_t(r) * drs, cols);
      }
      return;
    }
  }
  if (planes == 1 && scs == 1 && dcs == 1) {
    // Rows of contiguous samples: one block copy per row.
    const T* s = static_cast<const T*>(src);
    T* d = static_cast<T*>(dst);
    for (uint32_t r = 0; r < rows; ++r)
      std::memcpy(d + ptrdiff_t(r) * drs, s + ptrdiff_t(r) * srs, size_t{cols} * sizeof(T));
    return;
  }
  blit_loop<T, T>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                  [](T v) { return v; });
}

template <class S, class D>
void blit_widen(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps) {
  blit_loop<S, D>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                  [](S v) { return static_cast<D>(v); });
}

template <class S>
void blit_to_s16(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                 int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps) {
  blit_loop<S, uint16_t>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                         [](S v) { return static_cast<uint16_t>(v ^ 0x8000u); });
}

// 1 / range rounded to single precision; a range of 0 counts as 1.
float inverse_range(uint32_t range) {
  return static_cast<float>(1.0 / static_cast<double>(range != 0 ? range : 1));
}

template <class S>
void blit_to_float(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                   int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps,
                   uint32_t range) {
  const float scale = inverse_range(range);
  blit_loop<S, float>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                      [scale](S v) { return static_cast<float>(v) * scale; });
}

void blit_s16_to_float(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                       int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs,
                       int32_t dps, uint32_t range) {
  const float scale = inverse_range(range);
  blit_loop<uint16_t, float>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                             [scale](uint16_t v) {
                               return static_cast<float>(static_cast<uint16_t>(v ^ 0x8000u)) * scale;
                             });
}

// float(range) * value + 0.5 truncated, saturated to [0, bound]; then flip
// the top bit of 16-bit results for S16.
template <class D, uint32_t kBound, uint32_t kFlip>
void blit_from_float(const void* src, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                     int32_t srs, int32_t scs, int32_t sps, int32_t drs, int32_t dcs, int32_t dps,
                     uint32_t range) {
  const float scale = static_cast<float>(range);
  blit_loop<float, D>(src, dst, rows, cols, planes, srs, scs, sps, drs, dcs, dps,
                      [scale](float v) {
                        const uint32_t u = round_half_up_float_uint32(scale * v);
                        return static_cast<D>((u < kBound ? u : kBound) ^ kFlip);
                      });
}

template <class T>
void replicate_area(const void* pattern, void* dst, uint32_t rows, uint32_t cols, uint32_t planes,
                    int32_t row_step, int32_t col_step, int32_t plane_step, uint32_t pattern_rows,
                    uint32_t pattern_cols, uint32_t row_phase, uint32_t col_phase) {
  if (pattern_rows == 0 || pattern_cols == 0) return;
  const T* pat = static_cast<const T*>(pattern);
  T* d = static_cast<T*>(dst);
  uint32_t pr = row_phase % pattern_rows;
  for (uint32_t r = 0; r < rows; ++r) {
    const T* prow = pat + ptrdiff_t(pr) * row_step;
    T* drow = d + ptrdiff_t(r) * row_step;
    uint32_t pc = col_phase % pattern_cols;
    for (uint32_t c = 0; c < cols; ++c) {
      const T* a = prow + ptrdiff_t(pc) * col_step;
      T* b = drow + ptrdiff_t(c) * col_step;
      for (uint32_t p = 0; p < planes; ++p) b[ptrdiff_t(p) * plane_step] = a[ptrdiff_t(p) * plane_step];
      if (++pc == pattern_cols) pc = 0;
    }
    if (++pr == pattern_rows) pr = 0;
  }
}

void shift_down_u16(void* data, uint32_t rows, uint32_t cols, uint32_t planes, int32_t row_step,
                    int32_t col_step, int32_t plane_step, uint32_t bits) {
  const uint32_t shift = bits & 31;
  uint16_t* d = static_cast<uint16_t*>(data);
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c) {
      uint16_t* px = d + ptrdiff_t(r) * row_step + ptrdiff_t(c) * col_step;
      for (uint32_t p = 0; p < planes; ++p) {
        uint16_t& v = px[ptrdiff_t(p) * plane_step];
        v = static_cast<uint16_t>(uint32_t{v} >> shift);
      }
    }
}

// ---- rows ----

void interpolate_row_u16(const uint16_t* src, uint16_t* dst, uint32_t count, uint32_t phase,
                         uint32_t phase_count, const uint32_t* tap_counts,
                         const int32_t* const* tap_offsets, const uint16_t* const* tap_weights,
                         uint32_t shift) {
  for (uint32_t i = 0; i < count; ++i) {
    const uint16_t* s = src + (i >> shift);
    const int32_t* offsets = tap_offsets[phase];
    const uint16_t* weights = tap_weights[phase];
    uint32_t total = 128;
    for (uint32_t t = 0; t < tap_counts[phase]; ++t) total += uint32_t{weights[t]} * s[offsets[t]];
    dst[i] = static_cast<uint16_t>(total >> 8);
    if (++phase == phase_count) phase = 0;
  }
}

void interpolate_row_float(const float* src, float* dst, uint32_t count, uint32_t phase,
                           uint32_t phase_count, const uint32_t* tap_counts,
                           const int32_t* const* tap_offsets, const float* const* tap_weights,
                           uint32_t shift) {
  for (uint32_t i = 0; i < count; ++i) {
    const float* s = src + (i >> shift);
    const int32_t* offsets = tap_offsets[phase];
    const float* weights = tap_weights[phase];
    float total = 0.0f;
    for (uint32_t t = 0; t < tap_counts[phase]; ++t) total += weights[t] * s[offsets[t]];
    dst[i] = total;
    if (++phase == phase_count) phase = 0;
  }
}

void matrix_camera3_to_rgb(const float* c0, const float* c1, const float* c2, float* r, float* g,
                           float* b, uint32_t count, const dng_vector& white,
                           const dng_matrix& m) {
  const float w0 = float(white[0]), w1 = float(white[1]), w2 = float(white[2]);
  const float m00 = float(m[0][0]), m01 = float(m[0][1]), m02 = float(m[0][2]);
  const float m10 = float(m[1][0]), m11 = float(m[1][1]), m12 = float(m[1][2]);
  const float m20 = float(m[2][0]), m21 = float(m[2][1]), m22 = float(m[2][2]);
  for (uint32_t i = 0; i < count; ++i) {
    const float a = std::min(c0[i], w0), bb = std::min(c1[i], w1), c = std::min(c2[i], w2);
    r[i] = clip_unit(m00 * a + m01 * bb + m02 * c);
    g[i] = clip_unit(m10 * a + m11 * bb + m12 * c);
    b[i] = clip_unit(m20 * a + m21 * bb + m22 * c);
  }
}

void matrix_camera4_to_rgb(const float* c0, const float* c1, const float* c2, const float* c3,
                           float* r, float* g, float* b, uint32_t count, const dng_vector& white,
                           const dng_matrix& m) {
  float w[4], k[3][4];
  for (int j = 0; j < 4; ++j) w[j] = float(white[j]);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 4; ++j) k[i][j] = float(m[i][j]);
  for (uint32_t i = 0; i < count; ++i) {
    const float v0 = std::min(c0[i], w[0]), v1 = std::min(c1[i], w[1]);
    const float v2 = std::min(c2[i], w[2]), v3 = std::min(c3[i], w[3]);
    r[i] = clip_unit(k[0][0] * v0 + k[0][1] * v1 + k[0][2] * v2 + k[0][3] * v3);
    g[i] = clip_unit(k[1][0] * v0 + k[1][1] * v1 + k[1][2] * v2 + k[1][3] * v3);
    b[i] = clip_unit(k[2][0] * v0 + k[2][1] * v1 + k[2][2] * v2 + k[2][3] * v3);
  }
}

void mix_rgb_to_gray(const float* r, const float* g, const float* b, float* gray, uint32_t count,
                     const dng_matrix& weights) {
  const float a = float(weights[0][0]), bb = float(weights[0][1]), c = float(weights[0][2]);
  for (uint32_t i = 0; i < count; ++i) gray[i] = clip_unit(a * r[i] + bb * g[i] + c * b[i]);
}

void matrix_rgb_to_rgb(const float* r_in, const float* g_in, const float* b_in, float* r_out,
                       float* g_out, float* b_out, uint32_t count, const dng_matrix& m) {
  const float m00 = float(m[0][0]), m01 = float(m[0][1]), m02 = float(m[0][2]);
  const float m10 = float(m[1][0]), m11 = float(m[1][1]), m12 = float(m[1][2]);
  const float m20 = float(m[2][0]), m21 = float(m[2][1]), m22 = float(m[2][2]);
  for (uint32_t i = 0; i < count; ++i) {
    const float a = r_in[i], bb = g_in[i], c = b_in[i];
    r_out[i] = clip_unit(m00 * a + m01 * bb + m02 * c);
    g_out[i] = clip_unit(m10 * a + m11 * bb + m12 * c);
    b_out[i] = clip_unit(m20 * a + m21 * bb + m22 * c);
  }
}

void curve_row(const float* src, float* dst, uint32_t count, const dng_1d_table& table) {
  for (uint32_t i = 0; i < count; ++i) dst[i] = table.Lookup(src[i]);
}

// The largest and smallest values go through the curve; the middle one
// keeps its relative position between them.
void curve_hue_kept(float& r, float& g, float& b, const dng_1d_table& table) {
  float* v[3] = {&r, &g, &b};
  int hi = 0, lo = 0;
  for (int i = 1; i < 3; ++i) {
    if (*v[i] > *v[hi]) hi = i;
    if (*v[i] < *v[lo]) lo = i;
  }
  const float large = *v[hi], small = *v[lo];
  if (!(large > small)) {  // all equal (or NaN): the same result for each
    const float out = table.Lookup(large);
    r = g = b = out;
    return;
  }
  const int mid = 3 - hi - lo;
  const float large_out = table.Lookup(large), small_out = table.Lookup(small);
  const float middle = *v[mid];
  if (middle == large) {
    *v[mid] = large_out;
  } else if (middle == small) {
    *v[mid] = small_out;
  } else {
    *v[mid] = small_out + (large_out - small_out) * clip_unit((middle - small) / (large - small));
  }
  *v[hi] = large_out;
  *v[lo] = small_out;
}

void curve_rgb_hue_kept(const float* r_in, const float* g_in, const float* b_in, float* r_out,
                        float* g_out, float* b_out, uint32_t count, const dng_1d_table& table) {
  for (uint32_t i = 0; i < count; ++i) {
    float r = r_in[i], g = g_in[i], b = b_in[i];
    curve_hue_kept(r, g, b, table);
    r_out[i] = r;
    g_out[i] = g;
    b_out[i] = b;
  }
}

// (8192 + sum) >> 14 (an arithmetic shift: floor), clamped to [0, maximum].
inline uint16_t filter_result_u16(int64_t sum, uint32_t maximum) {
  const int64_t v = (sum + 8192) >> 14;
  if (v < 0) return 0;
  return static_cast<uint16_t>(v > int64_t{maximum} ? maximum : v);
}

void filter_vertical_u16(const uint16_t* src, uint16_t* dst, uint32_t count,
                         int32_t src_row_step, const int16_t* weights, uint32_t taps,
                         uint32_t maximum) {
  for (uint32_t i = 0; i < count; ++i) {
    int64_t sum = 0;
    for (uint32_t j = 0; j < taps; ++j)
      sum += int64_t{weights[j]} * src[i + ptrdiff_t(j) * src_row_step];
    dst[i] = filter_result_u16(sum, maximum);
  }
}

void filter_vertical_float(const float* src, float* dst, uint32_t count, int32_t src_row_step,
                           const float* weights, uint32_t taps) {
  for (uint32_t i = 0; i < count; ++i) {
    float sum = 0.0f;
    for (uint32_t j = 0; j < taps; ++j) sum += weights[j] * src[i + ptrdiff_t(j) * src_row_step];
    dst[i] = clip_unit(sum);
  }
}

void filter_horizontal_u16(const uint16_t* src, uint16_t* dst, uint32_t count,
                           const int32_t* coords, const int16_t* weights, uint32_t taps,
                           int32_t weight_row_step, uint32_t maximum) {
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t k = coords[i];
    const uint16_t* s = src + (k >> 7);
    const int16_t* w = weights + ptrdiff_t(k & 127) * weight_row_step;
    int64_t sum = 0;
    for (uint32_t j = 0; j < taps; ++j) sum += int64_t{w[j]} * s[j];
    dst[i] = filter_result_u16(sum, maximum);
  }
}

void filter_horizontal_float(const float* src, float* dst, uint32_t count, const int32_t* coords,
                             const float* weights, uint32_t taps, int32_t weight_row_step) {
  for (uint32_t i = 0; i < count; ++i) {
    const int32_t k = coords[i];
    const float* s = src + (k >> 7);
    const float* w = weights + ptrdiff_t(k & 127) * weight_row_step;
    float sum = 0.0f;
    for (uint32_t j = 0; j < taps; ++j) sum += w[j] * s[j];
    dst[i] = clip_unit(sum);
  }
}

constexpr dng_pixel_kernel_table kScalarTable = {
    clear_bytes,
    copy_block,
    byte_swap_words,
    byte_swap_longs,
    fill_area<uint8_t>,
    fill_area<uint16_t>,
    fill_area<uint32_t>,
    blit_same<uint8_t>,
    blit_same<uint16_t>,
    blit_same<uint32_t>,
    blit_widen<uint8_t, uint16_t>,
    blit_to_s16<uint8_t>,
    blit_widen<uint8_t, uint32_t>,
    blit_to_s16<uint16_t>,
    blit_widen<uint16_t, uint32_t>,
    blit_to_float<uint8_t>,
    blit_to_float<uint16_t>,
    blit_s16_to_float,
    blit_from_float<uint8_t, 255, 0>,
    blit_from_float<uint16_t, 65535, 0>,
    blit_from_float<uint16_t, 65535, 0x8000>,
    replicate_area<uint8_t>,
    replicate_area<uint16_t>,
    replicate_area<uint32_t>,
    shift_down_u16,
    interpolate_row_u16,
    interpolate_row_float,
    matrix_camera3_to_rgb,
    matrix_camera4_to_rgb,
    mix_rgb_to_gray,
    matrix_rgb_to_rgb,
    curve_row,
    curve_rgb_hue_kept,
    filter_vertical_u16,
    filter_vertical_float,
    filter_horizontal_u16,
    filter_horizontal_float,
};

}  // namespace

// Both are constant-initialised, so the table is usable by any static
// initialiser.
namespace {

// Two pixels per step: the first with kernel A, the second with kernel B.
// The tap counts are constants so each kernel is unrolled; the sums are
// those of interpolate_row_u16, tap by tap in the same order.
template <uint32_t NA, uint32_t NB>
void interpolate_pairs_u16(const uint16_t* __restrict src, uint16_t* __restrict dst, uint32_t count,
                           const int32_t* oa, const uint16_t* wa, const int32_t* ob,
                           const uint16_t* wb) {
  int32_t off_a[NA], off_b[NB];
  uint32_t w_a[NA], w_b[NB];
  for (uint32_t t = 0; t < NA; ++t) off_a[t] = oa[t], w_a[t] = wa[t];
  for (uint32_t t = 0; t < NB; ++t) off_b[t] = ob[t], w_b[t] = wb[t];
  uint32_t i = 0;
  for (; i + 1 < count; i += 2) {
    const uint16_t* s = src + i;
    uint32_t a = 128, b = 128;
    for (uint32_t t = 0; t < NA; ++t) a += w_a[t] * s[off_a[t]];
    for (uint32_t t = 0; t < NB; ++t) b += w_b[t] * s[1 + off_b[t]];
    dst[i] = static_cast<uint16_t>(a >> 8);
    dst[i + 1] = static_cast<uint16_t>(b >> 8);
  }
  if (i < count) {
    const uint16_t* s = src + i;
    uint32_t a = 128;
    for (uint32_t t = 0; t < NA; ++t) a += w_a[t] * s[off_a[t]];
    dst[i] = static_cast<uint16_t>(a >> 8);
  }
}

using pairs_fn = void (*)(const uint16_t*, uint16_t*, uint32_t, const int32_t*, const uint16_t*,
                          const int32_t*, const uint16_t*);

template <uint32_t NA>
constexpr pairs_fn kPairsRow[4] = {interpolate_pairs_u16<NA, 1>, interpolate_pairs_u16<NA, 2>,
                                   interpolate_pairs_u16<NA, 3>, interpolate_pairs_u16<NA, 4>};
constexpr const pairs_fn* kPairs[4] = {kPairsRow<1>, kPairsRow<2>, kPairsRow<3>, kPairsRow<4>};

}  // namespace

void interpolate_row_u16_2x2(const uint16_t* src, uint16_t* dst, uint32_t count, uint32_t phase,
                             uint32_t phase_count, const uint32_t* tap_counts,
                             const int32_t* const* tap_offsets, const uint16_t* const* tap_weights,
                             uint32_t shift) {
  if (phase_count != 2 || shift != 0 || phase > 1) {
    dng_pixel_kernels.InterpolateRowU16(src, dst, count, phase, phase_count, tap_counts,
                                        tap_offsets, tap_weights, shift);
    return;
  }
  const uint32_t a = phase, b = phase ^ 1;
  const uint32_t na = tap_counts[a], nb = tap_counts[b];
  if (na < 1 || na > 4 || nb < 1 || nb > 4) {
    dng_pixel_kernels.InterpolateRowU16(src, dst, count, phase, phase_count, tap_counts,
                                        tap_offsets, tap_weights, shift);
    return;
  }
  kPairs[na - 1][nb - 1](src, dst, count, tap_offsets[a], tap_weights[a], tap_offsets[b],
                         tap_weights[b]);
}

constinit const dng_pixel_kernel_table dng_scalar_pixel_kernels = kScalarTable;
constinit dng_pixel_kernel_table dng_pixel_kernels = kScalarTable;
