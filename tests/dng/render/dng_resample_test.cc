#include "dng/render/dng_resample.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"

namespace {

using dng_test::code_of;

const dng_resample_function& bicubic() { return dng_resample_bicubic::Instance(); }

// Sample access of a simple image as doubles (16-bit or float).
double get(const dng_simple_image& image, int32_t row, int32_t col, uint32_t plane = 0) {
  const void* p = image.Buffer().Pixel(row, col, plane);
  if (image.PixelType() == dng_type_float) return *static_cast<const float*>(p);
  return *static_cast<const uint16_t*>(p);
}

void put(dng_simple_image& image, int32_t row, int32_t col, uint32_t plane, double v) {
  void* p = image.Buffer().Pixel(row, col, plane);
  if (image.PixelType() == dng_type_float) {
    *static_cast<float*>(p) = float(v);
  } else {
    *static_cast<uint16_t*>(p) = uint16_t(v);
  }
}

void fill(dng_simple_image& image, double v) {
  const dng_box b = image.Bounds();
  for (int32_t r = b.top; r < b.bottom; ++r)
    for (int32_t c = b.left; c < b.right; ++c)
      for (uint32_t p = 0; p < image.Planes(); ++p) put(image, r, c, p, v);
}

// The cubic convolution kernel with parameter -0.75, written out.
double cubic(double x) {
  const double a = std::fabs(x);
  if (a < 1.0) return 1.25 * a * a * a - 2.25 * a * a + 1.0;
  if (a < 2.0) return -0.75 * a * a * a + 3.75 * a * a - 6.0 * a + 3.0;
  return 0.0;
}

// Normalised weights of every source line near a position (in 1/128 pixel),
// indices clamped to [first, last].
std::vector<std::pair<int32_t, double>> line_weights(int64_t position128, double scale,
                                                     int32_t first, int32_t last) {
  const double position = double(position128) / 128.0;
  const double s = std::min(scale, 1.0);
  const double reach = 2.0 / s;
  std::vector<std::pair<int32_t, double>> out;
  double sum = 0.0;
  for (int64_t i = int64_t(std::floor(position - reach)) - 1;
       i <= int64_t(std::ceil(position + reach)) + 1; ++i) {
    const double w = cubic((double(i) - position) * s);
    if (w == 0.0) continue;
    out.emplace_back(int32_t(std::clamp<int64_t>(i, first, last)), w);
    sum += w;
  }
  for (auto& e : out) e.second /= sum;
  return out;
}

int64_t position128(int32_t src_origin, uint32_t src_count, uint32_t dst_count, int32_t i) {
  const double p = (src_origin + double(src_count) / dst_count * (i + 0.5) - 0.5) * 128.0;
  return int64_t(p > 0 ? p + 0.5 : p - 0.5);
}

// A plain per-pixel resampler: each destination pixel is the 2-D weighted
// sum of the source pixels around its position, edges repeated.
double reference_pixel(const dng_simple_image& src, const dng_box& src_area,
                       const dng_box& dst_area, int32_t row, int32_t col, uint32_t plane) {
  const double row_scale = double(dst_area.H()) / src_area.H();
  const double col_scale = double(dst_area.W()) / src_area.W();
  const dng_box b = src.Bounds();
  const auto rows = line_weights(position128(src_area.top, src_area.H(), dst_area.H(), row - dst_area.top),
                                 row_scale, b.top, b.bottom - 1);
  const auto cols = line_weights(position128(src_area.left, src_area.W(), dst_area.W(), col - dst_area.left),
                                 col_scale, b.left, b.right - 1);
  double sum = 0.0;
  for (const auto& [r, wr] : rows)
    for (const auto& [c, wc] : cols) sum += wr * wc * get(src, r, c, plane);
  return sum;
}

TEST(ResampleBicubic, KernelValues) {
  struct Case {
    double x, weight;
  };
  for (const Case& c : {Case{0.0, 1.0}, Case{0.5, 0.59375}, Case{-0.5, 0.59375}, Case{1.0, 0.0},
                        Case{1.5, -0.09375}, Case{-1.5, -0.09375}, Case{2.0, 0.0}, Case{3.0, 0.0}}) {
    EXPECT_DOUBLE_EQ(bicubic().WeightAt(c.x), c.weight) << c.x;
  }
  EXPECT_EQ(bicubic().SupportRadius(), 2.0);
  EXPECT_EQ(&dng_resample_bicubic::Instance(), &bicubic());
}

TEST(ResampleWeights, RadiusTapsAndWidthFollowTheScale) {
  struct Case {
    double scale;
    int32_t radius;
    uint32_t taps, width;
  };
  for (const Case& c : {Case{1.0, 2, 4, 8}, Case{0.5, 4, 8, 8}, Case{0.1, 20, 40, 40},
                        Case{3.0, 2, 4, 8}, Case{0.3, 7, 14, 16}, Case{1e-4, 20000, 40000, 40000}}) {
    dng_resample_weights w;
    w.Fill(c.scale, bicubic(), default_memory_allocator);
    EXPECT_EQ(w.Radius(), c.radius) << c.scale;
    EXPECT_EQ(w.Taps(), c.taps) << c.scale;
    EXPECT_EQ(w.Width(), c.width) << c.scale;
  }
}

TEST(ResampleWeights, EveryPhaseSumsToUnityAndPhaseZeroIsThePixelItself) {
  for (double scale : {1.0, 0.5, 0.1, 0.37, 2.5}) {
    dng_resample_weights w;
    w.Fill(scale, bicubic(), default_memory_allocator);
    for (uint32_t phase = 0; phase < 128; ++phase) {
      int32_t sum16 = 0;
      double sum32 = 0.0;
      for (uint32_t j = 0; j < w.Width(); ++j) {
        sum16 += w.Weights16(phase)[j];
        sum32 += w.Weights32(phase)[j];
        if (j >= w.Taps()) {
          EXPECT_EQ(w.Weights16(phase)[j], 0);
          EXPECT_EQ(w.Weights32(phase)[j], 0.0f);
        }
      }
      EXPECT_EQ(sum16, 16384) << scale << " phase " << phase;
      EXPECT_NEAR(sum32, 1.0, 1e-5) << scale << " phase " << phase;
    }
  }
  dng_resample_weights w;
  w.Fill(1.0, bicubic(), default_memory_allocator);
  const int16_t expected16[4] = {0, 16384, 0, 0};
  const float expected32[4] = {0.0f, 1.0f, 0.0f, 0.0f};
  for (int j = 0; j < 4; ++j) {
    EXPECT_EQ(w.Weights16(0)[j], expected16[j]) << j;
    EXPECT_FLOAT_EQ(w.Weights32(0)[j], expected32[j]) << j;
  }
  // Half a pixel: the two middle taps share the weight symmetrically.
  EXPECT_EQ(w.Weights16(64)[1], w.Weights16(64)[2]);
  EXPECT_EQ(w.Weights16(64)[0], w.Weights16(64)[3]);
}

TEST(ResampleCoords, PositionsInSubPixelsPaddedByTheLastEntry) {
  struct Case {
    int32_t src_origin, dst_origin;
    uint32_t src_count, dst_count;
    std::vector<int32_t> entries;
  };
  const Case cases[] = {
      // Halving 8 columns: positions 0.5, 2.5, 4.5, 6.5.
      {0, 0, 8, 4, {64, 320, 576, 832, 832, 832, 832, 832}},
      // The same with origins: the source origin shifts the positions.
      {10, 5, 8, 4, {1344, 1600, 1856, 2112, 2112, 2112, 2112, 2112}},
      // Doubling 2: positions -0.25, 0.25, 0.75, 1.25.
      {0, 0, 2, 4, {-32, 32, 96, 160, 160, 160, 160, 160}},
      // Scale 1: whole pixels.
      {0, 0, 9, 9, {0, 128, 256, 384, 512, 640, 768, 896, 1024, 1024, 1024, 1024, 1024, 1024, 1024,
                    1024}},
  };
  for (const Case& c : cases) {
    dng_resample_coords coords;
    coords.Fill(c.src_origin, c.dst_origin, c.src_count, c.dst_count, default_memory_allocator);
    ASSERT_EQ(coords.Count(), c.entries.size());
    EXPECT_EQ(coords.Origin(), c.dst_origin);
    const int32_t* e = coords.Coords(c.dst_origin);
    EXPECT_EQ(std::vector<int32_t>(e, e + coords.Count()), c.entries) << c.src_count;
  }
  // Integer part and phase of a negative position.
  dng_resample_coords coords;
  coords.Fill(0, 0, 2, 4, default_memory_allocator);
  EXPECT_EQ(coords.Coords(0)[0] >> 7, -1);
  EXPECT_EQ(coords.Coords(0)[0] & 127, 96);
}

TEST(ResampleTask, BufferTypeAndTileLimitFollowTheImages) {
  struct Case {
    uint32_t src_type, src_range, dst_type, dst_range;
    uint32_t buffer_type;
  };
  const Case cases[] = {
      {dng_type_short, 0, dng_type_short, 0, dng_type_short},
      {dng_type_short, 4095, dng_type_short, 4095, dng_type_short},
      {dng_type_byte, 0, dng_type_byte, 0, dng_type_short},
      {dng_type_byte, 0, dng_type_short, 0, dng_type_float},  // 8-bit into 16-bit
      {dng_type_short, 4095, dng_type_short, 0, dng_type_float},
      {dng_type_float, 0, dng_type_float, 0, dng_type_float},
      {dng_type_short, 0, dng_type_float, 0, dng_type_float},
  };
  for (const Case& c : cases) {
    dng_simple_image src(dng_box(0, 0, 4, 4), 1, c.src_type, c.src_range);
    dng_simple_image dst(dng_box(0, 0, 2, 2), 1, c.dst_type, c.dst_range);
    dng_resample_task task(src, dst, src.Bounds(), dst.Bounds(), bicubic());
    EXPECT_EQ(task.BufferPixelType(), c.buffer_type) << c.src_type << " " << c.dst_type;
  }

  struct Limit {
    int32_t src_rows, src_cols, dst_rows, dst_cols;
    dng_extent limit;
  };
  for (const Limit& c : {Limit{100, 100, 100, 100, {256, 256}}, Limit{100, 100, 50, 300, {128, 256}},
                         Limit{1000, 100, 10, 33, {8, 84}}, Limit{1000, 1000, 1, 2, {8, 8}}}) {
    dng_image src(dng_box(0, 0, c.src_rows, c.src_cols), 1, dng_type_short);
    dng_image dst(dng_box(0, 0, c.dst_rows, c.dst_cols), 1, dng_type_short);
    dng_resample_task task(src, dst, src.Bounds(), dst.Bounds(), bicubic());
    EXPECT_EQ(task.TileSizeLimit(), c.limit) << c.dst_rows << "x" << c.dst_cols;
    EXPECT_EQ(task.CellSize(), dng_extent(8, 8));
  }
}

struct SizeCase {
  dng_box src_bounds, src_area, dst_bounds, dst_area;
};

const SizeCase size_cases[] = {
    {{0, 0, 8, 8}, {0, 0, 8, 8}, {0, 0, 4, 4}, {0, 0, 4, 4}},            // halving
    {{0, 0, 10, 7}, {0, 0, 10, 7}, {0, 0, 23, 13}, {0, 0, 23, 13}},      // enlarging
    {{0, 0, 37, 29}, {0, 0, 37, 29}, {0, 0, 5, 11}, {0, 0, 5, 11}},      // mixed
    {{0, 0, 300, 40}, {0, 0, 300, 40}, {0, 0, 290, 4}, {0, 0, 290, 4}},  // several tiles
    {{0, 0, 20, 20}, {3, 4, 15, 17}, {0, 0, 10, 8}, {2, 1, 9, 6}},       // areas inside
    {{-5, 7, 15, 31}, {-5, 7, 15, 31}, {2, 3, 9, 40}, {2, 3, 9, 40}},    // offset bounds
};

TEST(ResampleImageArea, FlatImagesStayFlatOnBothPaths) {
  dng_host host;
  for (const SizeCase& c : size_cases) {
    for (uint32_t type : {dng_type_short, dng_type_float}) {
      const double value = type == dng_type_short ? 1234.0 : 0.3;
      dng_simple_image src(c.src_bounds, 2, type);
      dng_simple_image dst(c.dst_bounds, 2, type);
      fill(src, value);
      resample_image_area(host, src, dst, c.src_area, c.dst_area, bicubic());
      for (int32_t r = c.dst_area.top; r < c.dst_area.bottom; ++r)
        for (int32_t col = c.dst_area.left; col < c.dst_area.right; ++col)
          for (uint32_t p = 0; p < 2; ++p)
            ASSERT_NEAR(get(dst, r, col, p), value, type == dng_type_short ? 0.0 : 1e-6)
                << type << " at " << r << "," << col << " dst " << c.dst_area.H() << "x"
                << c.dst_area.W();
    }
  }
}

TEST(ResampleImageArea, MatchesAPlainPerPixelResampler) {
  dng_host host;
  std::mt19937 random(17);
  for (const SizeCase& c : size_cases) {
    for (uint32_t type : {dng_type_short, dng_type_float}) {
      dng_simple_image src(c.src_bounds, 2, type);
      dng_simple_image dst(c.dst_bounds, 2, type);
      // Pixels outside the destination area keep this.
      const double untouched = type == dng_type_short ? 7.0 : 0.125;
      fill(dst, untouched);
      const dng_box b = src.Bounds();
      for (int32_t r = b.top; r < b.bottom; ++r)
        for (int32_t col = b.left; col < b.right; ++col)
          for (uint32_t p = 0; p < 2; ++p) {
            const double u = std::uniform_real_distribution<double>(0.25, 0.75)(random);
            put(src, r, col, p, type == dng_type_short ? std::round(u * 65535) : u);
          }
      resample_image_area(host, src, dst, c.src_area, c.dst_area, bicubic());
      // The fixed-point path rounds its intermediate rows and 14-bit weights.
      const double tolerance = type == dng_type_short ? 2.0 + 0.0002 * 65535 : 1e-5;
      const dng_box d = dst.Bounds();
      for (int32_t r = d.top; r < d.bottom; ++r)
        for (int32_t col = d.left; col < d.right; ++col)
          for (uint32_t p = 0; p < 2; ++p) {
            const bool inside = r >= c.dst_area.top && r < c.dst_area.bottom &&
                                col >= c.dst_area.left && col < c.dst_area.right;
            const double expected =
                inside ? reference_pixel(src, c.src_area, c.dst_area, r, col, p) : untouched;
            ASSERT_NEAR(get(dst, r, col, p), expected, inside ? tolerance : 0.0)
                << type << " at " << r << "," << col << "," << p << " dst " << c.dst_area.H()
                << "x" << c.dst_area.W();
          }
    }
  }
}

TEST(ResampleImageArea, SameSizeCopiesTheSamples) {
  dng_host host;
  dng_simple_image src(dng_box(0, 0, 19, 11), 1, dng_type_short, 4095);
  dng_simple_image dst(dng_box(0, 0, 19, 11), 1, dng_type_short, 4095);
  for (int32_t r = 0; r < 19; ++r)
    for (int32_t c = 0; c < 11; ++c) put(src, r, c, 0, (r * 211 + c * 97) % 4096);
  resample_image_area(host, src, dst, src.Bounds(), dst.Bounds(), bicubic());
  for (int32_t r = 0; r < 19; ++r)
    for (int32_t c = 0; c < 11; ++c) ASSERT_EQ(get(dst, r, c), get(src, r, c)) << r << "," << c;
}

TEST(ResampleImageArea, FixedPointResultsStayWithinTheSampleRange) {
  // A sharp edge overshoots with a cubic kernel; results clamp to the range.
  dng_host host;
  dng_simple_image src(dng_box(0, 0, 4, 16), 1, dng_type_short, 1000);
  dng_simple_image dst(dng_box(0, 0, 4, 37), 1, dng_type_short, 1000);
  for (int32_t r = 0; r < 4; ++r)
    for (int32_t c = 0; c < 16; ++c) put(src, r, c, 0, c < 8 ? 0 : 1000);
  resample_image_area(host, src, dst, src.Bounds(), dst.Bounds(), bicubic());
  double lowest = 1e9, highest = -1e9;
  for (int32_t c = 0; c < 37; ++c) {
    lowest = std::min(lowest, get(dst, 0, c));
    highest = std::max(highest, get(dst, 0, c));
  }
  EXPECT_EQ(lowest, 0.0);
  EXPECT_EQ(highest, 1000.0);
}

TEST(ResampleImageArea, TinyScaleWorksWithinTheCapAndIsRefusedBeyondIt) {
  // Scale 1e-4 vertically: a source tile of 120002 rows.
  dng_host host;
  dng_simple_image src(dng_box(0, 0, 10000, 8), 1, dng_type_short);
  dng_simple_image dst(dng_box(0, 0, 1, 8), 1, dng_type_short);
  fill(src, 777);
  resample_image_area(host, src, dst, src.Bounds(), dst.Bounds(), bicubic());
  for (int32_t c = 0; c < 8; ++c) EXPECT_EQ(get(dst, 0, c), 777.0);

  const uint64_t cap = 1 << 20;
  const uint64_t previous = set_dng_image_memory_cap(cap);
  dng_test::FailingAllocator allocator;
  dng_host capped(&allocator);
  const int32_t code = code_of(
      [&] { resample_image_area(capped, src, dst, src.Bounds(), dst.Bounds(), bicubic()); });
  set_dng_image_memory_cap(previous);
  EXPECT_EQ(code, dng_code_memory);
  EXPECT_LE(allocator.LargestRequest(), cap);
}

TEST(ResampleImageArea, RefusedGeometry) {
  dng_host host;
  dng_simple_image src(dng_box(0, 0, 4, 4), 1, dng_type_short);
  dng_simple_image dst(dng_box(0, 0, 4, 4), 1, dng_type_short);
  dng_simple_image dst3(dng_box(0, 0, 4, 4), 3, dng_type_short);
  // A destination far beyond any buffer: refused before allocating.
  dng_image huge(dng_box(0, 0, 1 << 30, 1 << 30), 1, dng_type_short);
  struct Case {
    const char* name;
    dng_image* dst;
    dng_box src_area, dst_area;
    int32_t code;
  };
  const Case cases[] = {
      {"huge scale", &huge, dng_box(0, 0, 1, 1), huge.Bounds(), dng_code_memory},
      {"empty source", &dst, dng_box(0, 0, 0, 4), dst.Bounds(), dng_code_unknown},
      {"empty destination", &dst, src.Bounds(), dng_box(1, 1, 1, 3), dng_code_unknown},
      {"inverted destination", &dst, src.Bounds(), dng_box(3, 3, 1, 1), dng_code_unknown},
      {"planes differ", &dst3, src.Bounds(), dst3.Bounds(), dng_code_unknown},
  };
  for (const Case& c : cases) {
    dng_test::FailingAllocator allocator;
    dng_host counted(&allocator);
    EXPECT_EQ(code_of([&] {
                resample_image_area(counted, src, *c.dst, c.src_area, c.dst_area, bicubic());
              }),
              c.code)
        << c.name;
    EXPECT_LE(allocator.LargestRequest(), dng_image_memory_cap()) << c.name;
  }

  struct WeightCase {
    double scale;
    int32_t code;
  };
  for (const WeightCase& c : {WeightCase{0.0, dng_code_unknown}, WeightCase{-1.0, dng_code_unknown},
                              WeightCase{NAN, dng_code_unknown}, WeightCase{INFINITY, dng_code_unknown},
                              WeightCase{1e-12, dng_code_memory}}) {
    dng_resample_weights w;
    EXPECT_EQ(code_of([&] { w.Fill(c.scale, bicubic(), default_memory_allocator); }), c.code)
        << c.scale;
  }
  dng_resample_coords coords;
  EXPECT_EQ(code_of([&] { coords.Fill(0, 0, 0, 4, default_memory_allocator); }), dng_code_unknown);
  EXPECT_EQ(code_of([&] { coords.Fill(INT32_MAX - 2, 0, 4, 4, default_memory_allocator); }),
            dng_code_unknown);
}

class CancelAfter : public dng_cancel_hook {
 public:
  explicit CancelAfter(int polls) : polls_(polls) {}
  void Poll() override {
    if (polls_-- <= 0) throw_dng_code(dng_code_canceled);
  }

 private:
  int polls_;
};

TEST(ResampleImageArea, CancelStopsTheRun) {
  dng_simple_image src(dng_box(0, 0, 600, 20), 1, dng_type_float);
  dng_simple_image dst(dng_box(0, 0, 600, 20), 1, dng_type_float);
  for (int polls : {0, 1}) {
    CancelAfter hook(polls);
    dng_host host(nullptr, &hook);
    EXPECT_EQ(code_of([&] {
                resample_image_area(host, src, dst, src.Bounds(), dst.Bounds(), bicubic());
              }),
              dng_code_canceled)
        << polls;
  }
}

TEST(ResampleImageArea, FailuresFromTheAllocatorPassThrough) {
  dng_simple_image src(dng_box(0, 0, 9, 9), 1, dng_type_short);
  dng_simple_image dst(dng_box(0, 0, 5, 5), 1, dng_type_short);
  for (uint64_t n = 1; n <= 12; ++n) {
    dng_test::FailingAllocator allocator(n);
    dng_host host(&allocator);
    const int32_t code = code_of(
        [&] { resample_image_area(host, src, dst, src.Bounds(), dst.Bounds(), bicubic()); });
    if (allocator.Requests().size() < n) {
      EXPECT_EQ(code, 0) << n;
      break;
    }
    EXPECT_EQ(code, dng_code_memory) << n;
  }
}

}  // namespace
