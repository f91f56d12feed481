// Area operations of pixel buffers against a plain per-sample reference:
// the sample at (r, c, p) of a buffer is at data + ((r - top) * row step +
// (c - left) * column step + (p - plane) * plane step) * size, and each type
// pair converts by its definition. Buffers come from simple images turned by
// every orientation, so steps are negative as often as not.
#include "dng/core/dng_pixel_buffer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::StderrCapture;

constexpr uint32_t kTypes[] = {1, 3, 4, 8, 11};

uint8_t* sample_at(const dng_pixel_buffer& b, int32_t r, int32_t c, uint32_t p) {
  const int64_t index = int64_t(r - b.area.top) * b.row_step + int64_t(c - b.area.left) * b.col_step +
                        (int64_t(p) - b.plane) * b.plane_step;
  return static_cast<uint8_t*>(b.data) + index * int64_t(b.pixel_size);
}

uint32_t load_int(const uint8_t* at, uint32_t size) {
  uint32_t v = 0;
  std::memcpy(&v, at, size);  // little-endian: the low bytes first
  return v;
}

float load_float(const uint8_t* at) {
  float f;
  std::memcpy(&f, at, 4);
  return f;
}

uint32_t saturated(float value, uint32_t range, uint32_t bound) {
  const float t = float(range) * value + 0.5f;
  if (std::isnan(t) || t < 1.0f) return 0;
  if (t >= float(bound)) return bound;
  return uint32_t(t);
}

// The destination bytes for one source sample, or nothing for pairs that
// are not supported.
std::optional<std::vector<uint8_t>> convert(uint32_t from, uint32_t to, const uint8_t* at,
                                            uint32_t src_range, uint32_t dst_range) {
  const uint32_t size_to = tag_type_size(to);
  auto bytes_of = [&](uint32_t v) {
    std::vector<uint8_t> out(size_to);
    std::memcpy(out.data(), &v, size_to);
    return out;
  };
  auto float_bytes = [](float f) {
    std::vector<uint8_t> out(4);
    std::memcpy(out.data(), &f, 4);
    return out;
  };
  if (from == to) return std::vector<uint8_t>(at, at + size_to);
  const float scale = float(1.0 / double(src_range));
  if (from == 11) {
    const float v = load_float(at);
    if (to == 1) return bytes_of(saturated(v, dst_range, 255));
    if (to == 3) return bytes_of(saturated(v, dst_range, 65535));
    if (to == 8) return bytes_of(saturated(v, dst_range, 65535) ^ 0x8000);
    return std::nullopt;
  }
  const uint32_t v = load_int(at, tag_type_size(from));
  switch (from * 100 + to) {
    case 103: case 104: case 304: return bytes_of(v);
    case 108: case 308: case 803: return bytes_of(v ^ 0x8000);
    case 111: case 311: return float_bytes(float(v) * scale);
    case 811: return float_bytes(float(v ^ 0x8000) * scale);
    case 301: case 401: case 801: return bytes_of(v & 0xFF);
    case 403: return bytes_of(v & 0xFFFF);
    default: return std::nullopt;
  }
}

// A simple image whose bounds after `flip` are (top, left, top + h, left + w).
struct Oriented {
  std::unique_ptr<dng_simple_image> image;
  dng_pixel_buffer buffer;
};

Oriented make_oriented(std::mt19937& rng, const dng_box& bounds, uint32_t planes, uint32_t type,
                       uint32_t range, int32_t flip_code) {
  const dng_image_flip flip(flip_code);
  dng_box made = bounds;
  if (flip.SwapsAxes()) made = dng_box(bounds.top, bounds.left, bounds.top + int32_t(bounds.W()), bounds.left + int32_t(bounds.H()));
  Oriented o;
  o.image = std::make_unique<dng_simple_image>(made, planes, type, range);
  const dng_pixel_buffer& all = o.image->Buffer();
  uint8_t* bytes = static_cast<uint8_t*>(all.data);
  const size_t size = size_t(made.H()) * made.W() * planes * tag_type_size(type);
  for (size_t i = 0; i < size; ++i) bytes[i] = uint8_t(rng());
  if (type == 11) {  // keep floats mostly in range, with a NaN now and then
    float* f = reinterpret_cast<float*>(bytes);
    std::uniform_real_distribution<float> unit(-0.2f, 1.2f);
    for (size_t i = 0; i < size / 4; ++i) f[i] = rng() % 50 == 0 ? std::numeric_limits<float>::quiet_NaN() : unit(rng);
  }
  o.image->Reorient(flip);
  EXPECT_EQ(o.image->Bounds(), bounds);
  o.buffer = o.image->Buffer();
  return o;
}

dng_box random_box_inside(std::mt19937& rng, const dng_box& b) {
  const int32_t t = b.top + int32_t(rng() % b.H()), l = b.left + int32_t(rng() % b.W());
  const int32_t bottom = t + 1 + int32_t(rng() % (b.bottom - t));
  const int32_t right = l + 1 + int32_t(rng() % (b.right - l));
  return dng_box(t, l, bottom, right);
}

std::vector<uint8_t> block_bytes(const dng_simple_image& image) {
  // The whole block, whatever the orientation: the lowest and highest
  // sample addresses bound it.
  const dng_box& b = image.Bounds();
  const dng_pixel_buffer& buf = image.Buffer();
  uint8_t* lo = nullptr;
  uint8_t* hi = nullptr;
  for (int32_t r : {b.top, b.bottom - 1})
    for (int32_t c : {b.left, b.right - 1})
      for (uint32_t p : {0u, image.Planes() - 1}) {
        uint8_t* at = sample_at(buf, r, c, p);
        if (lo == nullptr || at < lo) lo = at;
        if (hi == nullptr || at > hi) hi = at;
      }
  return std::vector<uint8_t>(lo, hi + buf.pixel_size);
}

TEST(DngPixelBuffer, CopyAreaFromMatchesPerSampleReference) {
  StderrCapture quiet;
  std::mt19937 rng(21);
  for (int round = 0; round < 1500; ++round) {
    const uint32_t from = kTypes[rng() % 5], to = kTypes[rng() % 5];
    const dng_box bounds(int32_t(rng() % 7) - 3, int32_t(rng() % 7) - 3, 0, 0);
    const dng_box b(bounds.top, bounds.left, bounds.top + 1 + int32_t(rng() % 9),
                    bounds.left + 1 + int32_t(rng() % (rng() % 3 == 0 ? 70 : 9)));
    const uint32_t src_planes = 1 + rng() % 4, dst_planes = 1 + rng() % 4;
    const uint32_t src_range = rng() % 3 == 0 ? 1000 : 0, dst_range = rng() % 3 == 0 ? 4095 : 0;
    Oriented src = make_oriented(rng, b, src_planes, from, src_range, int32_t(rng() % 8));
    Oriented dst = make_oriented(rng, b, dst_planes, to, dst_range, int32_t(rng() % 8));
    const dng_box area = random_box_inside(rng, b);
    const uint32_t common = std::min(src_planes, dst_planes);
    const uint32_t plane = rng() % common, planes = 1 + rng() % (common - plane);

    const std::vector<uint8_t> before = block_bytes(*dst.image);
    // Expected: the block as it was, with each sample of the area replaced.
    std::vector<std::pair<uint8_t*, std::vector<uint8_t>>> writes;
    bool supported = true;
    for (int32_t r = area.top; r < area.bottom && supported; ++r)
      for (int32_t c = area.left; c < area.right && supported; ++c)
        for (uint32_t p = plane; p < plane + planes; ++p) {
          auto bytes = convert(from, to, sample_at(src.buffer, r, c, p), src.buffer.SampleRange(),
                               dst.buffer.SampleRange());
          if (!bytes) {
            supported = false;
            break;
          }
          writes.emplace_back(sample_at(dst.buffer, r, c, p), *bytes);
        }
    if (!supported) {
      try {
        dst.buffer.CopyAreaFrom(src.buffer, area, plane, planes);
        ADD_FAILURE() << from << " to " << to << " was copied";
      } catch (const dng_exception& e) {
        EXPECT_EQ(e.Code(), dng_code_not_implemented) << from << " to " << to;
      }
      EXPECT_EQ(block_bytes(*dst.image), before);
      continue;
    }
    std::vector<uint8_t> expected_samples;
    dst.buffer.CopyAreaFrom(src.buffer, area, plane, planes);
    // Compare the written samples, then every byte outside them.
    std::vector<uint8_t> after = block_bytes(*dst.image);
    std::vector<uint8_t> expected = before;
    const uint8_t* base = nullptr;
    {
      // block_bytes starts at the lowest sample address of the block.
      const dng_box& bb = dst.image->Bounds();
      for (int32_t r : {bb.top, bb.bottom - 1})
        for (int32_t c : {bb.left, bb.right - 1})
          for (uint32_t p : {0u, dst_planes - 1}) {
            const uint8_t* at = sample_at(dst.buffer, r, c, p);
            if (base == nullptr || at < base) base = at;
          }
    }
    for (const auto& [at, bytes] : writes) std::memcpy(expected.data() + (at - base), bytes.data(), bytes.size());
    ASSERT_EQ(after, expected) << "round " << round << ": " << from << " to " << to;
  }
}

TEST(DngPixelBuffer, ClearAndReplicateMatchPerSampleReference) {
  std::mt19937 rng(22);
  for (int round = 0; round < 600; ++round) {
    const uint32_t type = kTypes[rng() % 5];
    const uint32_t planes = 1 + rng() % 4;
    const dng_box b(0, 0, 2 + int32_t(rng() % 12), 2 + int32_t(rng() % 12));
    Oriented o = make_oriented(rng, b, planes, type, 0, int32_t(rng() % 8));
    const uint32_t size = tag_type_size(type);

    // ClearArea: the zero of the type in the area and planes, nothing else.
    {
      const dng_box area = random_box_inside(rng, b);
      const uint32_t plane = rng() % planes, count = 1 + rng() % (planes - plane);
      std::vector<uint8_t> expected_block;
      std::vector<std::vector<uint8_t>> before(b.H() * b.W() * planes);
      auto index = [&](int32_t r, int32_t c, uint32_t p) { return (size_t(r) * b.W() + c) * planes + p; };
      for (int32_t r = b.top; r < b.bottom; ++r)
        for (int32_t c = b.left; c < b.right; ++c)
          for (uint32_t p = 0; p < planes; ++p) {
            const uint8_t* at = sample_at(o.buffer, r, c, p);
            before[index(r, c, p)].assign(at, at + size);
          }
      o.buffer.ClearArea(area, plane, count);
      for (int32_t r = b.top; r < b.bottom; ++r)
        for (int32_t c = b.left; c < b.right; ++c)
          for (uint32_t p = 0; p < planes; ++p) {
            std::vector<uint8_t> want = before[index(r, c, p)];
            if (r >= area.top && r < area.bottom && c >= area.left && c < area.right && p >= plane &&
                p < plane + count) {
              std::fill(want.begin(), want.end(), 0);
              if (type == 8) want[1] = 0x80;  // 0x8000, little-endian
            }
            const uint8_t* at = sample_at(o.buffer, r, c, p);
            ASSERT_EQ(std::vector<uint8_t>(at, at + size), want) << "round " << round;
          }
    }

    // ReplicateArea: a pattern in the top rows repeated over a disjoint
    // area below it, every plane.
    {
      if (b.H() < 3) continue;
      const int32_t split = 1 + int32_t(rng() % (b.H() - 2));
      const dng_box pattern = random_box_inside(rng, dng_box(0, 0, split, b.right));
      const dng_box dst = random_box_inside(rng, dng_box(split, 0, b.bottom, b.right));
      std::vector<std::vector<uint8_t>> want;
      for (int32_t r = dst.top; r < dst.bottom; ++r)
        for (int32_t c = dst.left; c < dst.right; ++c)
          for (uint32_t p = 0; p < planes; ++p) {
            const int32_t pr = pattern.top + ((r - pattern.top) % int32_t(pattern.H()) + int32_t(pattern.H())) % int32_t(pattern.H());
            const int32_t pc = pattern.left + ((c - pattern.left) % int32_t(pattern.W()) + int32_t(pattern.W())) % int32_t(pattern.W());
            const uint8_t* at = sample_at(o.buffer, pr, pc, p);
            want.emplace_back(at, at + size);
          }
      o.buffer.ReplicateArea(pattern, dst);
      size_t k = 0;
      for (int32_t r = dst.top; r < dst.bottom; ++r)
        for (int32_t c = dst.left; c < dst.right; ++c)
          for (uint32_t p = 0; p < planes; ++p) {
            const uint8_t* at = sample_at(o.buffer, r, c, p);
            ASSERT_EQ(std::vector<uint8_t>(at, at + size), want[k++]) << "round " << round;
          }
    }
  }
}

TEST(DngPixelBuffer, DocumentedConversions) {
  struct Case {
    uint32_t from, to;
    uint32_t value;
    uint32_t src_range;
    uint32_t expected;
  };
  float one = 1.0f;
  uint32_t one_bits;
  std::memcpy(&one_bits, &one, 4);
  for (const Case& c : {Case{3, 1, 0x1234, 0, 0x34}, Case{1, 8, 200, 0, 0x80C8},
                        Case{3, 11, 1000, 1000, one_bits}, Case{4, 3, 0x12345678, 0, 0x5678},
                        Case{8, 1, 0x80C8, 0, 0xC8}}) {
    dng_simple_image src(dng_box(0, 0, 1, 1), 1, c.from, c.src_range);
    dng_simple_image dst(dng_box(0, 0, 1, 1), 1, c.to);
    std::memcpy(src.Buffer().data, &c.value, tag_type_size(c.from));
    dng_pixel_buffer out = dst.Buffer();
    out.CopyAreaFrom(src.Buffer(), dng_box(0, 0, 1, 1), 0, 1);
    uint32_t got = 0;
    std::memcpy(&got, out.data, tag_type_size(c.to));
    EXPECT_EQ(got, c.expected) << c.from << " to " << c.to;
  }
}

TEST(DngPixelBuffer, UnsupportedTypesAndMisuseRaise) {
  StderrCapture quiet;
  auto code_of = [](const std::function<void()>& f) {
    try {
      f();
    } catch (const dng_exception& e) {
      return e.Code();
    }
    return 0;
  };
  dng_simple_image sbyte(dng_box(0, 0, 2, 2), 1, 6);
  dng_simple_image u16(dng_box(0, 0, 2, 2), 2, 3);
  dng_pixel_buffer s = sbyte.Buffer(), u = u16.Buffer();
  EXPECT_EQ(code_of([&] { s.ClearArea(s.area, 0, 1); }), dng_code_not_implemented);
  EXPECT_EQ(code_of([&] { u.CopyAreaFrom(s, s.area, 0, 1); }), dng_code_not_implemented);
  EXPECT_EQ(code_of([&] { s.ShiftValuesDown(1); }), dng_code_not_implemented);
  // Areas or planes outside a buffer are refused instead of read or written.
  EXPECT_EQ(code_of([&] { u.ClearArea(dng_box(0, 0, 3, 2), 0, 1); }), dng_code_unknown);
  EXPECT_EQ(code_of([&] { u.ClearArea(u.area, 1, 2); }), dng_code_unknown);
  EXPECT_EQ(code_of([&] { u.CopyAreaFrom(s, u.area, 1, 1); }), dng_code_unknown);
}

TEST(DngPixelBuffer, ShiftValuesDownAndSampleRange) {
  dng_simple_image image(dng_box(0, 0, 1, 2), 1, 3);
  dng_pixel_buffer b = image.Buffer();
  static_cast<uint16_t*>(b.data)[0] = 0xFFFF;
  static_cast<uint16_t*>(b.data)[1] = 0x0100;
  b.ShiftValuesDown(36);  // 36 mod 32 = 4
  EXPECT_EQ(static_cast<uint16_t*>(b.data)[0], 0x0FFF);
  EXPECT_EQ(static_cast<uint16_t*>(b.data)[1], 0x0010);

  dng_pixel_buffer d;
  for (auto [type, range] : {std::pair{1u, 255u}, {6u, 255u}, {3u, 65535u}, {8u, 65535u},
                             {4u, 0xFFFFFFFFu}, {9u, 0xFFFFFFFFu}, {11u, 0u}, {7u, 0u}}) {
    d.pixel_type = type;
    EXPECT_EQ(d.SampleRange(), range) << type;
  }
  d.pixel_range = 1000;
  EXPECT_EQ(d.SampleRange(), 1000u);
}

TEST(OrderAreaLoops, ContiguousAreasBecomeOneRun) {
  uint16_t a[60], b[60];
  // 3 rows x 4 columns x 5 planes, interleaved and fully contiguous.
  dng_area_loops l = order_area_loops(3, 4, 5, 2, a, 2, 20, 5, 1, b, 2, 20, 5, 1);
  EXPECT_EQ(l.count[0], 1u);
  EXPECT_EQ(l.count[1], 1u);
  EXPECT_EQ(l.count[2], 60u);
  EXPECT_EQ(l.step[0][2], 1);
  // Reversed rows in both: walked forwards from the last row.
  l = order_area_loops(3, 4, 5, 2, a + 40, 2, -20, 5, 1, b + 40, 2, -20, 5, 1);
  EXPECT_EQ(l.count[2], 60u);
  EXPECT_EQ(l.data[0], reinterpret_cast<uint8_t*>(a));
  // A column of a wider buffer stays three loops' worth of rows.
  l = order_area_loops(3, 1, 1, 1, a, 2, 20, 5, 1);
  EXPECT_EQ(l.count[2], 3u);
  EXPECT_EQ(l.step[0][2], 20);
}

}  // namespace
