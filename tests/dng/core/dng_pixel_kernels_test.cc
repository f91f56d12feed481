// Every slot of the pixel routine table against a plain reference written
// from the routine's definition, over random sizes and random (also
// negative) steps. The whole destination allocation is compared, so a write
// outside the area shows as well.
#include "dng/core/dng_pixel_kernels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "dng/core/dng_memory_allocator.h"

namespace {

// Steps of one buffer over rows x cols x planes: the three dimensions in a
// random nesting order, each padded at random and walked in a random
// direction; `origin` is the index of sample (0, 0, 0).
struct Layout {
  int32_t row_step = 0, col_step = 0, plane_step = 0;
  ptrdiff_t origin = 0;
  size_t size = 0;

  ptrdiff_t Index(uint32_t r, uint32_t c, uint32_t p) const {
    return origin + ptrdiff_t(r) * row_step + ptrdiff_t(c) * col_step + ptrdiff_t(p) * plane_step;
  }
};

Layout random_layout(std::mt19937& rng, uint32_t rows, uint32_t cols, uint32_t planes,
                     bool allow_negative = true) {
  std::array<uint32_t, 3> counts = {rows, cols, planes};
  std::array<int, 3> order = {0, 1, 2};
  std::shuffle(order.begin(), order.end(), rng);
  std::array<int32_t, 3> steps{};
  int64_t stride = 1;
  for (int dim : order) {  // innermost first
    steps[dim] = static_cast<int32_t>(stride);
    stride *= counts[dim] + std::uniform_int_distribution<uint32_t>(0, 2)(rng);
  }
  Layout l;
  l.size = static_cast<size_t>(stride) + 3;
  l.origin = 1;
  for (int dim = 0; dim < 3; ++dim) {
    if (allow_negative && (rng() & 1)) {
      l.origin += ptrdiff_t(counts[dim] - 1) * steps[dim];
      steps[dim] = -steps[dim];
    }
  }
  l.row_step = steps[0];
  l.col_step = steps[1];
  l.plane_step = steps[2];
  return l;
}

struct Shape {
  uint32_t rows, cols, planes;
};

Shape random_shape(std::mt19937& rng) {
  // Mostly small, sometimes one count of 1 or a long row, so the special
  // loops (contiguous rows, three interleaved planes) are reached too.
  std::uniform_int_distribution<uint32_t> small(1, 7);
  Shape s{small(rng), small(rng), std::uniform_int_distribution<uint32_t>(1, 4)(rng)};
  if (rng() % 4 == 0) s.cols = 40 + rng() % 40;
  if (rng() % 4 == 0) s.planes = 1;
  if (rng() % 5 == 0) s.planes = 3;
  return s;
}

template <class T>
std::vector<T> random_samples(std::mt19937& rng, size_t n) {
  std::vector<T> v(n);
  if constexpr (std::is_floating_point_v<T>) {
    std::uniform_real_distribution<float> unit(-0.25f, 1.25f);
    for (auto& x : v) x = unit(rng);
    if (n > 4) {  // the values outside the contract must not misbehave
      v[rng() % n] = std::numeric_limits<float>::quiet_NaN();
      v[rng() % n] = std::numeric_limits<float>::infinity();
      v[rng() % n] = -std::numeric_limits<float>::infinity();
      v[rng() % n] = 1e30f;
    }
  } else {
    for (auto& x : v) x = static_cast<T>(rng());
  }
  return v;
}

template <class T>
bool same_bits(const std::vector<T>& a, const std::vector<T>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

constexpr int kRounds = 200;

// ---- area routines ----

template <class S, class D>
void check_blit(dng_blit_area_fn fn, const std::function<D(S)>& op) {
  std::mt19937 rng(7);
  for (int round = 0; round < kRounds; ++round) {
    const Shape sh = random_shape(rng);
    const Layout ls = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const Layout ld = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const std::vector<S> src = random_samples<S>(rng, ls.size);
    std::vector<D> dst = random_samples<D>(rng, ld.size);
    std::vector<D> expected = dst;
    for (uint32_t r = 0; r < sh.rows; ++r)
      for (uint32_t c = 0; c < sh.cols; ++c)
        for (uint32_t p = 0; p < sh.planes; ++p)
          expected[ld.Index(r, c, p)] = op(src[ls.Index(r, c, p)]);
    fn(src.data() + ls.origin, dst.data() + ld.origin, sh.rows, sh.cols, sh.planes, ls.row_step,
       ls.col_step, ls.plane_step, ld.row_step, ld.col_step, ld.plane_step);
    ASSERT_TRUE(same_bits(dst, expected)) << "round " << round;
  }
}

template <class S, class D>
void check_blit_range(dng_blit_range_fn fn, const std::function<D(S, uint32_t)>& op,
                      std::vector<uint32_t> ranges) {
  std::mt19937 rng(8);
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t range = ranges[round % ranges.size()];
    const Shape sh = random_shape(rng);
    const Layout ls = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const Layout ld = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const std::vector<S> src = random_samples<S>(rng, ls.size);
    std::vector<D> dst = random_samples<D>(rng, ld.size);
    std::vector<D> expected = dst;
    for (uint32_t r = 0; r < sh.rows; ++r)
      for (uint32_t c = 0; c < sh.cols; ++c)
        for (uint32_t p = 0; p < sh.planes; ++p)
          expected[ld.Index(r, c, p)] = op(src[ls.Index(r, c, p)], range);
    fn(src.data() + ls.origin, dst.data() + ld.origin, sh.rows, sh.cols, sh.planes, ls.row_step,
       ls.col_step, ls.plane_step, ld.row_step, ld.col_step, ld.plane_step, range);
    ASSERT_TRUE(same_bits(dst, expected)) << "round " << round << " range " << range;
  }
}

template <class T>
void check_fill(dng_fill_area_fn fn) {
  std::mt19937 rng(9);
  for (int round = 0; round < kRounds; ++round) {
    const Shape sh = random_shape(rng);
    const Layout l = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const uint32_t value = rng();
    std::vector<T> data = random_samples<T>(rng, l.size);
    std::vector<T> expected = data;
    for (uint32_t r = 0; r < sh.rows; ++r)
      for (uint32_t c = 0; c < sh.cols; ++c)
        for (uint32_t p = 0; p < sh.planes; ++p) expected[l.Index(r, c, p)] = T(value);
    fn(data.data() + l.origin, value, sh.rows, sh.cols, sh.planes, l.row_step, l.col_step,
       l.plane_step);
    ASSERT_TRUE(same_bits(data, expected)) << "round " << round;
  }
}

template <class T>
void check_replicate(dng_replicate_area_fn fn) {
  std::mt19937 rng(10);
  for (int round = 0; round < kRounds; ++round) {
    // One buffer holds the pattern (rows 0..pr-1, columns 0..pc-1) and the
    // destination area below and to the right of it.
    const uint32_t pr = 1 + rng() % 4, pc = 1 + rng() % 4;
    const Shape sh = random_shape(rng);
    const uint32_t row_phase = rng() % pr, col_phase = rng() % pc;
    const uint32_t top = pr + rng() % 2, left = pc + rng() % 2;
    const Layout l = random_layout(rng, top + sh.rows, left + sh.cols, sh.planes);
    std::vector<T> data = random_samples<T>(rng, l.size);
    std::vector<T> expected = data;
    for (uint32_t r = 0; r < sh.rows; ++r)
      for (uint32_t c = 0; c < sh.cols; ++c)
        for (uint32_t p = 0; p < sh.planes; ++p)
          expected[l.Index(top + r, left + c, p)] =
              data[l.Index((row_phase + r) % pr, (col_phase + c) % pc, p)];
    fn(data.data() + l.Index(0, 0, 0), data.data() + l.Index(top, left, 0), sh.rows, sh.cols,
       sh.planes, l.row_step, l.col_step, l.plane_step, pr, pc, row_phase, col_phase);
    ASSERT_TRUE(same_bits(data, expected)) << "round " << round;
  }
}

void check_shift_down() {
  std::mt19937 rng(11);
  for (int round = 0; round < kRounds; ++round) {
    const Shape sh = random_shape(rng);
    const Layout l = random_layout(rng, sh.rows, sh.cols, sh.planes);
    const uint32_t bits = rng() % 40;
    std::vector<uint16_t> data = random_samples<uint16_t>(rng, l.size);
    std::vector<uint16_t> expected = data;
    for (uint32_t r = 0; r < sh.rows; ++r)
      for (uint32_t c = 0; c < sh.cols; ++c)
        for (uint32_t p = 0; p < sh.planes; ++p) {
          uint16_t& v = expected[l.Index(r, c, p)];
          v = (bits % 32) >= 16 ? 0 : uint16_t(v / (1u << (bits % 32)));
        }
    dng_pixel_kernels.ShiftDownU16(data.data() + l.origin, sh.rows, sh.cols, sh.planes,
                                   l.row_step, l.col_step, l.plane_step, bits);
    ASSERT_TRUE(same_bits(data, expected)) << "round " << round << " bits " << bits;
  }
}

// ---- byte routines ----

void check_bytes() {
  std::mt19937 rng(12);
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t n = rng() % 300;
    std::vector<uint8_t> a = random_samples<uint8_t>(rng, 4 * n + 8);
    std::vector<uint8_t> b = random_samples<uint8_t>(rng, 4 * n + 8);
    const uint32_t offset = rng() % 4;  // odd addresses too

    std::vector<uint8_t> expected = a;
    std::fill(expected.begin() + offset, expected.begin() + offset + n, 0);
    std::vector<uint8_t> got = a;
    dng_pixel_kernels.ClearBytes(got.data() + offset, n);
    ASSERT_EQ(got, expected);

    expected = b;
    std::copy(a.begin(), a.begin() + n, expected.begin() + offset);
    got = b;
    dng_pixel_kernels.CopyBlock(a.data(), got.data() + offset, n);
    ASSERT_EQ(got, expected);

    expected = a;
    for (uint32_t i = 0; i < n; ++i) std::swap(expected[2 * i], expected[2 * i + 1]);
    got = a;
    dng_pixel_kernels.ByteSwapWords(got.data(), n);
    ASSERT_EQ(got, expected);

    expected = a;
    for (uint32_t i = 0; i < n; ++i) std::reverse(expected.begin() + 4 * i, expected.begin() + 4 * i + 4);
    got = a;
    dng_pixel_kernels.ByteSwapLongs(got.data(), n);
    ASSERT_EQ(got, expected);
  }
}

// ---- row routines ----

struct RowTaps {
  uint32_t phase_count;
  std::vector<uint32_t> counts;
  std::vector<std::vector<int32_t>> offsets;
  std::vector<std::vector<uint16_t>> weights16;
  std::vector<std::vector<float>> weightsf;
  std::vector<const int32_t*> offset_ptrs;
  std::vector<const uint16_t*> weight16_ptrs;
  std::vector<const float*> weightf_ptrs;
};

RowTaps random_taps(std::mt19937& rng) {
  RowTaps t;
  t.phase_count = 1 + rng() % 4;
  for (uint32_t ph = 0; ph < t.phase_count; ++ph) {
    const uint32_t n = 1 + rng() % 8;
    t.counts.push_back(n);
    std::vector<int32_t> off(n);
    std::vector<uint16_t> w(n);
    std::vector<float> wf(n);
    uint32_t left = 256;
    for (uint32_t k = 0; k < n; ++k) {
      off[k] = int32_t(rng() % 9) - 4;
      w[k] = uint16_t(k + 1 == n ? left : rng() % (left + 1));
      left -= w[k];
      wf[k] = w[k] / 256.0f;
    }
    t.offsets.push_back(off);
    t.weights16.push_back(w);
    t.weightsf.push_back(wf);
  }
  for (uint32_t ph = 0; ph < t.phase_count; ++ph) {
    t.offset_ptrs.push_back(t.offsets[ph].data());
    t.weight16_ptrs.push_back(t.weights16[ph].data());
    t.weightf_ptrs.push_back(t.weightsf[ph].data());
  }
  return t;
}

void check_interpolate_rows() {
  std::mt19937 rng(13);
  for (int round = 0; round < kRounds; ++round) {
    const RowTaps t = random_taps(rng);
    const uint32_t count = 1 + rng() % 50, shift = rng() % 2, phase = rng() % t.phase_count;
    const uint32_t margin = 4;
    const std::vector<uint16_t> src = random_samples<uint16_t>(rng, (count >> shift) + 2 * margin + 1);
    std::vector<float> srcf(src.size());
    for (size_t i = 0; i < src.size(); ++i) srcf[i] = src[i] / 65535.0f;

    std::vector<uint16_t> expected(count), got(count);
    std::vector<float> expectedf(count), gotf(count);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t ph = (phase + i) % t.phase_count;
      uint64_t total = 128;
      float totalf = 0.0f;
      for (uint32_t k = 0; k < t.counts[ph]; ++k) {
        const size_t at = margin + (i >> shift) + t.offsets[ph][k];
        total += uint64_t(t.weights16[ph][k]) * src[at];
        totalf += t.weightsf[ph][k] * srcf[at];
      }
      expected[i] = uint16_t(total / 256);
      expectedf[i] = totalf;
    }
    dng_pixel_kernels.InterpolateRowU16(src.data() + margin, got.data(), count, phase,
                                        t.phase_count, t.counts.data(), t.offset_ptrs.data(),
                                        t.weight16_ptrs.data(), shift);
    dng_pixel_kernels.InterpolateRowFloat(srcf.data() + margin, gotf.data(), count, phase,
                                          t.phase_count, t.counts.data(), t.offset_ptrs.data(),
                                          t.weightf_ptrs.data(), shift);
    ASSERT_EQ(got, expected) << "round " << round;
    ASSERT_TRUE(same_bits(gotf, expectedf)) << "round " << round;
  }
}

float reference_clip(float x) {
  if (std::isnan(x) || x < 0.0f) return 0.0f;
  return x > 1.0f ? 1.0f : x;
}

dng_matrix random_matrix(std::mt19937& rng, uint32_t rows, uint32_t cols) {
  std::uniform_real_distribution<double> d(-0.5, 1.5);
  dng_matrix m(rows, cols);
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c) m[r][c] = d(rng);
  return m;
}

void check_colour_rows() {
  std::mt19937 rng(14);
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t count = 1 + rng() % 40;
    std::vector<std::vector<float>> in(4);
    for (auto& row : in) row = random_samples<float>(rng, count);
    dng_vector white(4);
    for (uint32_t j = 0; j < 4; ++j) white[j] = 0.5 + (rng() % 100) / 100.0;
    const dng_matrix m3 = random_matrix(rng, 3, 3), m4 = random_matrix(rng, 3, 4);
    const dng_matrix mix = random_matrix(rng, 1, 3);
    const dng_vector_3 white3(white[0], white[1], white[2]);

    for (uint32_t inputs : {3u, 4u}) {
      const dng_matrix& m = inputs == 3 ? m3 : m4;
      std::vector<std::vector<float>> expected(3, std::vector<float>(count)), got = expected;
      for (uint32_t i = 0; i < count; ++i)
        for (uint32_t k = 0; k < 3; ++k) {
          float sum = 0.0f;
          for (uint32_t j = 0; j < inputs; ++j) {
            const float w = float(white[j]);
            const float v = in[j][i] > w ? w : in[j][i];  // NaN stays NaN
            sum += float(m[k][j]) * v;
          }
          expected[k][i] = reference_clip(sum);
        }
      if (inputs == 3) {
        dng_pixel_kernels.MatrixCamera3ToRgb(in[0].data(), in[1].data(), in[2].data(),
                                             got[0].data(), got[1].data(), got[2].data(), count,
                                             white3, m3);
      } else {
        dng_pixel_kernels.MatrixCamera4ToRgb(in[0].data(), in[1].data(), in[2].data(),
                                             in[3].data(), got[0].data(), got[1].data(),
                                             got[2].data(), count, white, m4);
      }
      for (uint32_t k = 0; k < 3; ++k)
        ASSERT_TRUE(same_bits(got[k], expected[k])) << "camera " << inputs << " round " << round;
    }

    std::vector<std::vector<float>> expected(3, std::vector<float>(count)), got = expected;
    std::vector<float> gray_expected(count), gray(count);
    for (uint32_t i = 0; i < count; ++i) {
      for (uint32_t k = 0; k < 3; ++k) {
        float sum = 0.0f;
        for (uint32_t j = 0; j < 3; ++j) sum += float(m3[k][j]) * in[j][i];
        expected[k][i] = reference_clip(sum);
      }
      float g = 0.0f;
      for (uint32_t j = 0; j < 3; ++j) g += float(mix[0][j]) * in[j][i];
      gray_expected[i] = reference_clip(g);
    }
    dng_pixel_kernels.MatrixRgbToRgb(in[0].data(), in[1].data(), in[2].data(), got[0].data(),
                                     got[1].data(), got[2].data(), count, m3);
    dng_pixel_kernels.MixRgbToGray(in[0].data(), in[1].data(), in[2].data(), gray.data(), count,
                                   mix);
    for (uint32_t k = 0; k < 3; ++k) ASSERT_TRUE(same_bits(got[k], expected[k])) << round;
    ASSERT_TRUE(same_bits(gray, gray_expected)) << round;
  }
}

// A table of the curve y = x^2 (as the renderer fills its tables).
void fill_square_curve(dng_1d_table& table) {
  table.Allocate(default_memory_allocator);
  for (uint32_t i = 0; i <= 4096; ++i) table.Entries()[i] = float((i / 4096.0) * (i / 4096.0));
  table.Entries()[4097] = table.Entries()[4096];
}

float reference_lookup(const dng_1d_table& table, float x) {
  // Values outside [0, 1] (and NaN) read as the nearest end.
  if (!(x >= 0.0f)) x = 0.0f;
  if (x > 1.0f) x = 1.0f;
  const float t = x * 4096.0f;
  const float i = std::floor(t);
  const float f = t - i;
  return (1.0f - f) * table.Entries()[size_t(i)] + f * table.Entries()[size_t(i) + 1];
}

void check_curves() {
  dng_1d_table table;
  fill_square_curve(table);
  std::mt19937 rng(15);
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t count = 1 + rng() % 40;
    std::vector<std::vector<float>> in(3);
    for (auto& row : in) row = random_samples<float>(rng, count);
    for (uint32_t i = 0; i < count; ++i)
      if (rng() % 5 == 0) in[1][i] = in[0][i];  // ties

    std::vector<float> expected(count), got(count);
    for (uint32_t i = 0; i < count; ++i) expected[i] = reference_lookup(table, in[0][i]);
    dng_pixel_kernels.CurveRow(in[0].data(), got.data(), count, table);
    ASSERT_TRUE(same_bits(got, expected)) << round;

    std::vector<std::vector<float>> out(3, std::vector<float>(count));
    dng_pixel_kernels.CurveRgbHueKept(in[0].data(), in[1].data(), in[2].data(), out[0].data(),
                                      out[1].data(), out[2].data(), count, table);
    for (uint32_t i = 0; i < count; ++i) {
      const float v[3] = {in[0][i], in[1][i], in[2][i]};
      if (std::isnan(v[0]) || std::isnan(v[1]) || std::isnan(v[2])) {
        for (int k = 0; k < 3; ++k) ASSERT_FALSE(std::isnan(out[k][i])) << round;
        continue;
      }
      const float hi = std::max({v[0], v[1], v[2]}), lo = std::min({v[0], v[1], v[2]});
      for (int k = 0; k < 3; ++k) {
        if (v[k] == hi) {
          ASSERT_EQ(out[k][i], reference_lookup(table, hi)) << round;
        } else if (v[k] == lo) {
          ASSERT_EQ(out[k][i], reference_lookup(table, lo)) << round;
        } else if (!std::isfinite(hi) || !std::isfinite(lo)) {
          ASSERT_FALSE(std::isnan(out[k][i])) << round;
        } else {
          // The middle keeps its relative place between the mapped ends.
          const float hi_out = reference_lookup(table, hi), lo_out = reference_lookup(table, lo);
          const double position = (double(v[k]) - lo) / (double(hi) - lo);
          ASSERT_NEAR(out[k][i], lo_out + (hi_out - lo_out) * position, 1e-5) << round;
        }
      }
    }
  }
}

uint16_t reference_filter_u16(int64_t sum, uint32_t maximum) {
  const int64_t v = (sum + 8192 - (((sum + 8192) % 16384 + 16384) % 16384)) / 16384;  // floor
  return uint16_t(std::clamp<int64_t>(v, 0, maximum));
}

void check_filters() {
  std::mt19937 rng(16);
  for (int round = 0; round < kRounds; ++round) {
    const uint32_t count = 1 + rng() % 40, taps = 1 + rng() % 6;
    const uint32_t maximum = rng() % 2 ? 65535 : 1000 + rng() % 1000;
    const int32_t row_step = int32_t(count + rng() % 5);
    std::vector<int16_t> w16(taps * 128);
    std::vector<float> wf(taps * 128);
    for (size_t k = 0; k < w16.size(); ++k) {
      w16[k] = int16_t(int(rng() % 20000) - 4000);
      wf[k] = w16[k] / 16384.0f;
    }
    const std::vector<uint16_t> src = random_samples<uint16_t>(rng, size_t(row_step) * taps + count + taps);
    std::vector<float> srcf = random_samples<float>(rng, src.size());

    std::vector<uint16_t> expected(count), got(count);
    std::vector<float> expectedf(count), gotf(count);
    for (uint32_t i = 0; i < count; ++i) {
      int64_t sum = 0;
      float sumf = 0.0f;
      for (uint32_t j = 0; j < taps; ++j) {
        sum += int64_t(w16[j]) * src[i + j * row_step];
        sumf += wf[j] * srcf[i + j * row_step];
      }
      expected[i] = reference_filter_u16(sum, maximum);
      expectedf[i] = reference_clip(sumf);
    }
    dng_pixel_kernels.FilterVerticalU16(src.data(), got.data(), count, row_step, w16.data(), taps,
                                        maximum);
    dng_pixel_kernels.FilterVerticalFloat(srcf.data(), gotf.data(), count, row_step, wf.data(),
                                          taps);
    ASSERT_EQ(got, expected) << round;
    ASSERT_TRUE(same_bits(gotf, expectedf)) << round;

    std::vector<int32_t> coords(count);
    for (auto& k : coords) k = int32_t(rng() % (src.size() - taps) * 128 + rng() % 128);
    for (uint32_t i = 0; i < count; ++i) {
      const size_t first = size_t(coords[i]) / 128, row = size_t(coords[i]) % 128;
      int64_t sum = 0;
      float sumf = 0.0f;
      for (uint32_t j = 0; j < taps; ++j) {
        sum += int64_t(w16[row * taps + j]) * src[first + j];
        sumf += wf[row * taps + j] * srcf[first + j];
      }
      expected[i] = reference_filter_u16(sum, maximum);
      expectedf[i] = reference_clip(sumf);
    }
    dng_pixel_kernels.FilterHorizontalU16(src.data(), got.data(), count, coords.data(), w16.data(),
                                          taps, int32_t(taps), maximum);
    dng_pixel_kernels.FilterHorizontalFloat(srcf.data(), gotf.data(), count, coords.data(),
                                            wf.data(), taps, int32_t(taps));
    ASSERT_EQ(got, expected) << round;
    ASSERT_TRUE(same_bits(gotf, expectedf)) << round;
  }
}

// Float to integer by the definition: range * value + 0.5 in single
// precision, truncated; NaN as 0, beyond the type's bound the bound.
uint32_t reference_from_float(float v, uint32_t range, uint32_t bound) {
  const float t = float(range) * v + 0.5f;
  if (std::isnan(t) || t < 1.0f) return 0;
  if (t >= float(bound)) return bound;
  return uint32_t(std::trunc(t));
}

float reference_scale(uint32_t range) { return float(1.0 / double(range)); }

struct SlotCase {
  const char* slot;
  std::function<void()> check;
};
void PrintTo(const SlotCase& c, std::ostream* os) { *os << c.slot; }

class PixelKernelSlot : public ::testing::TestWithParam<SlotCase> {};

TEST_P(PixelKernelSlot, MatchesItsDefinition) { GetParam().check(); }

const std::vector<uint32_t> kIntegerRanges = {255, 65535, 1000, 4095, 1};

INSTANTIATE_TEST_SUITE_P(
    AllSlots, PixelKernelSlot,
    ::testing::Values(
        SlotCase{"bytes", check_bytes},
        SlotCase{"FillAreaU8", [] { check_fill<uint8_t>(dng_pixel_kernels.FillAreaU8); }},
        SlotCase{"FillAreaU16", [] { check_fill<uint16_t>(dng_pixel_kernels.FillAreaU16); }},
        SlotCase{"FillAreaU32", [] { check_fill<uint32_t>(dng_pixel_kernels.FillAreaU32); }},
        SlotCase{"BlitAreaU8",
                 [] { check_blit<uint8_t, uint8_t>(dng_pixel_kernels.BlitAreaU8, [](uint8_t v) { return v; }); }},
        SlotCase{"BlitAreaU16", [] {
                   check_blit<uint16_t, uint16_t>(dng_pixel_kernels.BlitAreaU16, [](uint16_t v) { return v; });
                 }},
        SlotCase{"BlitAreaU32", [] {
                   check_blit<uint32_t, uint32_t>(dng_pixel_kernels.BlitAreaU32, [](uint32_t v) { return v; });
                 }},
        SlotCase{"BlitAreaU8ToU16", [] {
                   check_blit<uint8_t, uint16_t>(dng_pixel_kernels.BlitAreaU8ToU16,
                                                 [](uint8_t v) { return uint16_t(v); });
                 }},
        SlotCase{"BlitAreaU8ToS16", [] {
                   check_blit<uint8_t, uint16_t>(dng_pixel_kernels.BlitAreaU8ToS16,
                                                 [](uint8_t v) { return uint16_t(0x8000 + v); });
                 }},
        SlotCase{"BlitAreaU8ToU32", [] {
                   check_blit<uint8_t, uint32_t>(dng_pixel_kernels.BlitAreaU8ToU32,
                                                 [](uint8_t v) { return uint32_t(v); });
                 }},
        SlotCase{"BlitAreaU16ToS16", [] {
                   // Flipping the top bit: adding 0x8000 modulo 2^16.
                   check_blit<uint16_t, uint16_t>(dng_pixel_kernels.BlitAreaU16ToS16,
                                                  [](uint16_t v) { return uint16_t((v + 0x8000) % 65536); });
                 }},
        SlotCase{"BlitAreaU16ToU32", [] {
                   check_blit<uint16_t, uint32_t>(dng_pixel_kernels.BlitAreaU16ToU32,
                                                  [](uint16_t v) { return uint32_t(v); });
                 }},
        SlotCase{"BlitAreaU8ToFloat", [] {
                   check_blit_range<uint8_t, float>(
                       dng_pixel_kernels.BlitAreaU8ToFloat,
                       [](uint8_t v, uint32_t r) { return float(v) * reference_scale(r); }, kIntegerRanges);
                 }},
        SlotCase{"BlitAreaU16ToFloat", [] {
                   check_blit_range<uint16_t, float>(
                       dng_pixel_kernels.BlitAreaU16ToFloat,
                       [](uint16_t v, uint32_t r) { return float(v) * reference_scale(r); }, kIntegerRanges);
                 }},
        SlotCase{"BlitAreaS16ToFloat", [] {
                   check_blit_range<uint16_t, float>(
                       dng_pixel_kernels.BlitAreaS16ToFloat,
                       [](uint16_t v, uint32_t r) {
                         return float((v + 0x8000) % 65536) * reference_scale(r);
                       },
                       kIntegerRanges);
                 }},
        SlotCase{"BlitAreaFloatToU8", [] {
                   check_blit_range<float, uint8_t>(
                       dng_pixel_kernels.BlitAreaFloatToU8,
                       [](float v, uint32_t r) { return uint8_t(reference_from_float(v, r, 255)); },
                       {255, 100, 1000});
                 }},
        SlotCase{"BlitAreaFloatToU16", [] {
                   check_blit_range<float, uint16_t>(
                       dng_pixel_kernels.BlitAreaFloatToU16,
                       [](float v, uint32_t r) { return uint16_t(reference_from_float(v, r, 65535)); },
                       {65535, 4095, 100000});
                 }},
        SlotCase{"BlitAreaFloatToS16", [] {
                   check_blit_range<float, uint16_t>(
                       dng_pixel_kernels.BlitAreaFloatToS16,
                       [](float v, uint32_t r) {
                         return uint16_t((reference_from_float(v, r, 65535) + 0x8000) % 65536);
                       },
                       {65535, 4095});
                 }},
        SlotCase{"ReplicateAreaU8", [] { check_replicate<uint8_t>(dng_pixel_kernels.ReplicateAreaU8); }},
        SlotCase{"ReplicateAreaU16", [] { check_replicate<uint16_t>(dng_pixel_kernels.ReplicateAreaU16); }},
        SlotCase{"ReplicateAreaU32", [] { check_replicate<uint32_t>(dng_pixel_kernels.ReplicateAreaU32); }},
        SlotCase{"ShiftDownU16", check_shift_down},
        SlotCase{"InterpolateRows", check_interpolate_rows},
        SlotCase{"ColourRows", check_colour_rows},
        SlotCase{"Curves", check_curves},
        SlotCase{"Filters", check_filters}));

TEST(PixelKernels, ThreePlaneInterleaveBothWays) {
  // The demosaic output: padded planar rows into interleaved pixels, and back.
  std::mt19937 rng(17);
  for (uint32_t cols : {1u, 7u, 8u, 33u, 200u}) {
    const uint32_t rows = 3, pad = cols + 5;
    const std::vector<uint16_t> planar = random_samples<uint16_t>(rng, size_t(rows) * 3 * pad);
    std::vector<uint16_t> packed(size_t(rows) * 3 * cols, 0), expected(packed.size());
    for (uint32_t r = 0; r < rows; ++r)
      for (uint32_t c = 0; c < cols; ++c)
        for (uint32_t p = 0; p < 3; ++p) expected[(r * cols + c) * 3 + p] = planar[(r * 3 + p) * pad + c];
    dng_pixel_kernels.BlitAreaU16(planar.data(), packed.data(), rows, cols, 3, int32_t(3 * pad), 1,
                                  int32_t(pad), int32_t(3 * cols), 3, 1);
    ASSERT_EQ(packed, expected) << cols;
    std::vector<uint16_t> back(planar.size(), 0), back_expected(planar.size(), 0);
    for (uint32_t r = 0; r < rows; ++r)
      for (uint32_t c = 0; c < cols; ++c)
        for (uint32_t p = 0; p < 3; ++p) back_expected[(r * 3 + p) * pad + c] = planar[(r * 3 + p) * pad + c];
    dng_pixel_kernels.BlitAreaU16(packed.data(), back.data(), rows, cols, 3, int32_t(3 * cols), 3, 1,
                                  int32_t(3 * pad), 1, int32_t(pad));
    ASSERT_EQ(back, back_expected) << cols;
  }
}

TEST(PixelKernels, DocumentedExamples) {
  const uint8_t bytes[3] = {0, 1, 255};
  uint16_t biased[3] = {};
  dng_pixel_kernels.BlitAreaU8ToS16(bytes, biased, 1, 3, 1, 3, 1, 1, 3, 1, 1);
  EXPECT_EQ(biased[0], 0x8000);
  EXPECT_EQ(biased[1], 0x8001);
  EXPECT_EQ(biased[2], 0x80FF);

  const uint16_t stored[2] = {0x0000, 0xFFFF};
  float f[2];
  dng_pixel_kernels.BlitAreaS16ToFloat(stored, f, 1, 2, 1, 2, 1, 1, 2, 1, 1, 65535);
  EXPECT_FLOAT_EQ(f[0], 32768.0f / 65535.0f);
  EXPECT_FLOAT_EQ(f[1], 32767.0f / 65535.0f);

  const float halves[2] = {0.5f, 1.0f};
  uint16_t u[2];
  dng_pixel_kernels.BlitAreaFloatToU16(halves, u, 1, 2, 1, 2, 1, 1, 2, 1, 1, 65535);
  EXPECT_EQ(u[0], 32768);
  EXPECT_EQ(u[1], 65535);

  // A 2 x 2 pattern (a b / c d) at phase (1, 0) over 3 x 3.
  uint8_t buffer[5][5] = {{'a', 'b'}, {'c', 'd'}};
  dng_pixel_kernels.ReplicateAreaU8(&buffer[0][0], &buffer[2][2], 3, 3, 1, 5, 1, 1, 2, 2, 1, 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&buffer[2][2]), 3), "cdc");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&buffer[3][2]), 3), "aba");
  EXPECT_EQ(std::string(reinterpret_cast<char*>(&buffer[4][2]), 3), "cdc");

  // One tap of 256 at offset 0 copies the row.
  const uint16_t row[4] = {1, 65535, 300, 7};
  uint16_t copy[4] = {};
  const uint32_t one = 1;
  const int32_t zero_offset = 0;
  const uint16_t full = 256;
  const int32_t* offsets = &zero_offset;
  const uint16_t* weights = &full;
  dng_pixel_kernels.InterpolateRowU16(row, copy, 4, 0, 1, &one, &offsets, &weights, 0);
  EXPECT_EQ(std::vector<uint16_t>(copy, copy + 4), std::vector<uint16_t>(row, row + 4));

  // Negative sums clamp to 0, large ones to the maximum.
  const uint16_t column[2] = {1000, 1000};
  const int16_t negative[1] = {-16384}, large[1] = {32767};
  uint16_t out = 1;
  dng_pixel_kernels.FilterVerticalU16(column, &out, 1, 1, negative, 1, 65535);
  EXPECT_EQ(out, 0);
  dng_pixel_kernels.FilterVerticalU16(column, &out, 1, 1, large, 1, 1500);
  EXPECT_EQ(out, 1500);
}

TEST(PixelKernels, TwoPhaseRowEqualsTheTableRoutine) {
  // The 2 x 2 row routine against the table's over both start phases, odd
  // and even widths, every pair of tap counts it unrolls (1-4), samples at
  // the extremes, and the arguments it hands on (five taps, a shift, other
  // phase counts). Sentinels after the row catch a write past its end.
  struct Case {
    const char* name;
    uint32_t phase_count, shift, max_taps;
  };
  const std::vector<Case> cases = {
      {"two phases, 1-4 taps", 2, 0, 4},
      {"two phases, up to 6 taps", 2, 0, 6},
      {"two phases, halved columns", 2, 1, 4},
      {"one phase", 1, 0, 4},
      {"three phases", 3, 0, 4},
  };
  std::mt19937 rng(29);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (int round = 0; round < 400; ++round) {
      RowTaps t;
      t.phase_count = c.phase_count;
      for (uint32_t ph = 0; ph < t.phase_count; ++ph) {
        const uint32_t n = 1 + rng() % c.max_taps;
        std::vector<int32_t> off(n);
        std::vector<uint16_t> w(n);
        uint32_t left = 256;
        for (uint32_t k = 0; k < n; ++k) {
          off[k] = int32_t(rng() % 9) - 4;
          w[k] = uint16_t(k + 1 == n ? left : rng() % (left + 1));
          left -= w[k];
        }
        t.counts.push_back(n);
        t.offsets.push_back(off);
        t.weights16.push_back(w);
      }
      for (uint32_t ph = 0; ph < t.phase_count; ++ph) {
        t.offset_ptrs.push_back(t.offsets[ph].data());
        t.weight16_ptrs.push_back(t.weights16[ph].data());
      }
      const uint32_t count = 1 + rng() % 70, phase = rng() % t.phase_count, margin = 4;
      std::vector<uint16_t> src = random_samples<uint16_t>(rng, (count >> c.shift) + 2 * margin + 1);
      if (round % 4 == 0) std::fill(src.begin(), src.end(), uint16_t(65535));
      std::vector<uint16_t> expected(count + 3, 0xA5A5), got(count + 3, 0xA5A5);
      dng_scalar_pixel_kernels.InterpolateRowU16(src.data() + margin, expected.data(), count, phase,
                                                 t.phase_count, t.counts.data(), t.offset_ptrs.data(),
                                                 t.weight16_ptrs.data(), c.shift);
      interpolate_row_u16_2x2(src.data() + margin, got.data(), count, phase, t.phase_count,
                              t.counts.data(), t.offset_ptrs.data(), t.weight16_ptrs.data(), c.shift);
      ASSERT_EQ(got, expected) << "round " << round << " width " << count << " phase " << phase;
    }
  }
}

TEST(Dng1dTable, LookupOfTheIdentityAndOutsideTheContract) {
  dng_1d_table identity;
  EXPECT_EQ(identity.Lookup(0.5f), 0.0f);  // no data yet
  identity.Allocate(default_memory_allocator);
  for (uint32_t i = 0; i <= 4096; ++i) identity.Entries()[i] = float(i / 4096.0);
  identity.Entries()[4097] = identity.Entries()[4096];
  EXPECT_EQ(identity.Lookup(0.5f), 0.5f);
  EXPECT_EQ(identity.Lookup(1.0f), 1.0f);
  EXPECT_EQ(identity.Lookup(0.0f), 0.0f);
  EXPECT_FLOAT_EQ(identity.Lookup(0.3f), 0.3f);
  // NaN and values outside [0, 1] clamp the index instead of reading
  // outside the table.
  EXPECT_EQ(identity.Lookup(std::numeric_limits<float>::quiet_NaN()), 0.0f);
  EXPECT_EQ(identity.Lookup(-5.0f), 0.0f);
  EXPECT_EQ(identity.Lookup(7.0f), 1.0f);
  EXPECT_EQ(identity.Lookup(std::numeric_limits<float>::infinity()), 1.0f);
}

TEST(PixelKernels, NaNClipsToZeroInEveryClippingRow) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float in[1] = {nan};
  float r = 1, g = 1, b = 1, gray = 1;
  dng_matrix_3by3 m(1, 0, 0, 0, 1, 0, 0, 0, 1);
  dng_pixel_kernels.MatrixRgbToRgb(in, in, in, &r, &g, &b, 1, m);
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_EQ(b, 0.0f);
  dng_matrix mix(1, 3);
  mix[0][0] = 1;
  dng_pixel_kernels.MixRgbToGray(in, in, in, &gray, 1, mix);
  EXPECT_EQ(gray, 0.0f);
  float out = 1;
  const float weight[1] = {1.0f};
  dng_pixel_kernels.FilterVerticalFloat(in, &out, 1, 1, weight, 1);
  EXPECT_EQ(out, 0.0f);
  out = 1;
  const int32_t coord[1] = {0};
  dng_pixel_kernels.FilterHorizontalFloat(in, &out, 1, coord, weight, 1, 1);
  EXPECT_EQ(out, 0.0f);
}

TEST(PixelKernels, EntriesCanBeReplaced) {
  static int calls;
  calls = 0;
  const dng_pixel_kernel_table saved = dng_pixel_kernels;
  dng_pixel_kernels.ClearBytes = [](void*, uint32_t) { ++calls; };
  uint8_t x = 1;
  dng_pixel_kernels.ClearBytes(&x, 1);
  dng_pixel_kernels = saved;
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(x, 1);
}

}  // namespace
