#include "dng/core/dng_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <random>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tile_walker.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::FailingAllocator;
using dng_test::StderrCapture;

int32_t code_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const dng_exception& e) {
    return e.Code();
  }
  return 0;
}

// A one-plane 16-bit image whose sample at (r, c) is 100 * (r - top) + (c - left) + 1.
std::unique_ptr<dng_simple_image> numbered_image(const dng_box& bounds, uint32_t planes = 1) {
  auto image = std::make_unique<dng_simple_image>(bounds, planes, 3);
  const dng_pixel_buffer& b = image->Buffer();
  for (int32_t r = bounds.top; r < bounds.bottom; ++r)
    for (int32_t c = bounds.left; c < bounds.right; ++c)
      for (uint32_t p = 0; p < planes; ++p)
        *static_cast<uint16_t*>(b.Pixel(r, c, p)) =
            uint16_t(1000 * p + 100 * (r - bounds.top) + (c - bounds.left) + 1);
  return image;
}

// A 16-bit buffer of its own over `area`, filled with 0xDEAD.
struct OwnBuffer {
  std::vector<uint16_t> samples;
  dng_pixel_buffer buffer;

  OwnBuffer(const dng_box& area, uint32_t planes = 1) : samples(size_t(area.H()) * area.W() * planes, 0xDEAD) {
    buffer.area = area;
    buffer.planes = planes;
    buffer.col_step = int32_t(planes);
    buffer.row_step = int32_t(area.W() * planes);
    buffer.plane_step = 1;
    buffer.pixel_type = 3;
    buffer.pixel_size = 2;
    buffer.data = samples.data();
  }
  uint16_t At(int32_t r, int32_t c, uint32_t p = 0) const {
    return *static_cast<const uint16_t*>(buffer.Pixel(r, c, p));
  }
};

TEST(DngBox, IntersectAndEmptiness) {
  EXPECT_EQ(intersect_boxes(dng_box(0, 0, 10, 10), dng_box(10, 0, 20, 10)), dng_box(0, 0, 0, 0));
  EXPECT_EQ(intersect_boxes(dng_box(0, 0, 10, 10), dng_box(5, 5, 20, 20)), dng_box(5, 5, 10, 10));
  EXPECT_TRUE(dng_box(3, 3, 3, 9).IsEmpty());
  EXPECT_EQ(dng_box(5, 5, 2, 9).H(), 0u);
  EXPECT_EQ(dng_box(INT32_MIN, 0, INT32_MAX, 1).H(), UINT32_MAX);
  EXPECT_TRUE(dng_box().AllZero());
}

TEST(DngImageFlip, TiffOrientationTable) {
  const uint32_t codes[9] = {0, 0, 4, 2, 6, 7, 1, 5, 3};
  for (uint32_t tiff = 1; tiff <= 8; ++tiff) {
    EXPECT_EQ(dng_image_flip::FromTiff(tiff).Code(), int32_t(codes[tiff]));
    EXPECT_EQ(dng_image_flip::FromTiff(tiff).ToTiff(), tiff);
  }
  EXPECT_EQ(dng_image_flip::FromTiff(9).Code(), 0);
  EXPECT_EQ(dng_image_flip::FromTiff(0).Code(), 0);
  EXPECT_EQ(dng_image_flip(9).ToTiff(), 1u);
  EXPECT_EQ(dng_image_flip(-1).ToTiff(), 1u);
  for (int32_t code = 0; code < 8; ++code) {
    const dng_image_flip f(code);
    EXPECT_EQ(f.SwapsAxes(), code % 2 == 1) << code;
    EXPECT_EQ(f.MirrorsLeftRight(), code >= 2 && code <= 5) << code;
    EXPECT_EQ(f.MirrorsTopBottom(), code == 1 || code == 2 || code == 5 || code == 6) << code;
  }
}

TEST(DngSimpleImage, ReorientMovesNoPixel) {
  // Rotating 180 degrees: new (0, 0) is old (1, 2), both steps negated.
  auto image = numbered_image(dng_box(0, 0, 2, 3));
  const dng_pixel_buffer before = image->Buffer();
  image->Reorient(dng_image_flip(2));
  const dng_pixel_buffer& after = image->Buffer();
  EXPECT_EQ(image->Bounds(), dng_box(0, 0, 2, 3));
  EXPECT_EQ(*static_cast<uint16_t*>(after.Pixel(0, 0, 0)), 103);
  EXPECT_EQ(after.row_step, -before.row_step);
  EXPECT_EQ(after.col_step, -before.col_step);

  // Orientation 6 (code 1): a 2 x 3 image becomes 3 x 2; the new top row is
  // the old left column read bottom to top.
  auto turned = numbered_image(dng_box(0, 0, 2, 3));
  turned->Reorient(dng_image_flip::FromTiff(6));
  EXPECT_EQ(turned->Bounds(), dng_box(0, 0, 3, 2));
  const dng_pixel_buffer& t = turned->Buffer();
  EXPECT_EQ(*static_cast<uint16_t*>(t.Pixel(0, 0, 0)), 101);
  EXPECT_EQ(*static_cast<uint16_t*>(t.Pixel(0, 1, 0)), 1);
  EXPECT_EQ(*static_cast<uint16_t*>(t.Pixel(2, 1, 0)), 3);
}

TEST(DngSimpleImage, CropInsideAndOutsideTheBounds) {
  StderrCapture quiet;
  auto image = numbered_image(dng_box(0, 0, 4, 5));
  image->Crop(dng_box(1, 2, 3, 5));
  EXPECT_EQ(image->Bounds(), dng_box(0, 0, 2, 3));
  EXPECT_EQ(*static_cast<uint16_t*>(image->Buffer().Pixel(0, 0, 0)), 103);
  EXPECT_EQ(*static_cast<uint16_t*>(image->Buffer().Pixel(1, 2, 0)), 205);
  // A rectangle reaching outside the bounds would point the image at memory
  // it does not own.
  for (const dng_box& outside : {dng_box(0, 0, 3, 3), dng_box(-1, 0, 1, 1), dng_box(0, 1, 2, 4),
                                 dng_box(1, 1, 0, 2)}) {
    EXPECT_EQ(code_of([&] { image->Crop(outside); }), dng_code_unknown);
  }
  EXPECT_EQ(image->Bounds(), dng_box(0, 0, 2, 3));

  // The base image only accepts what changes nothing.
  dng_image base(dng_box(0, 0, 2, 2), 1, 3);
  EXPECT_EQ(code_of([&] { base.Crop(dng_box(0, 0, 2, 2)); }), 0);
  EXPECT_EQ(code_of([&] { base.Crop(dng_box(0, 0, 1, 1)); }), dng_code_unknown);
  EXPECT_EQ(code_of([&] { base.Reorient(dng_image_flip(0)); }), 0);
  EXPECT_EQ(code_of([&] { base.Reorient(dng_image_flip(1)); }), dng_code_unknown);
  OwnBuffer buffer(dng_box(0, 0, 1, 1));
  EXPECT_EQ(code_of([&] { base.ReadArea(buffer.buffer, 0, 1, 1); }), dng_code_unknown);
}

TEST(DngSimpleImage, LargestValidatedThreePlaneImageIsRefusedWithoutAllocating) {
  StderrCapture quiet;
  FailingAllocator allocator;
  // 30000 x 30000 x 3 planes x 2 bytes = 5.4 GB: in 32 bits it would wrap
  // to 1.1 GB and later writes would overrun it.
  EXPECT_EQ(code_of([&] { dng_simple_image(dng_box(0, 0, 30000, 30000), 3, 3, 0, allocator); }),
            dng_code_memory);
  // Layout 2 doubles the height of the colour-filter image.
  EXPECT_EQ(code_of([&] { dng_simple_image(dng_box(0, 0, 60000, 30000), 3, 3, 0, allocator); }),
            dng_code_memory);
  EXPECT_TRUE(allocator.Requests().empty());

  // The cap lowered (as the fuzz build does) refuses smaller images too.
  const uint64_t previous = set_dng_image_memory_cap(1 << 20);
  EXPECT_EQ(code_of([&] { dng_simple_image(dng_box(0, 0, 1024, 1024), 1, 3, 0, allocator); }),
            dng_code_memory);
  EXPECT_EQ(code_of([&] { dng_simple_image(dng_box(0, 0, 512, 1024), 1, 3, 0, allocator); }), 0);
  set_dng_image_memory_cap(previous);
  EXPECT_EQ(allocator.Requests(), std::vector<uint32_t>{1u << 20});
}

TEST(DngSimpleImage, FailedBlockRaises100005) {
  StderrCapture quiet;
  FailingAllocator allocator(1);
  EXPECT_EQ(code_of([&] { dng_simple_image(dng_box(0, 0, 10, 10), 3, 3, 0, allocator); }),
            dng_code_memory);
}

TEST(DngImage, ReadAreaRepeatsInPhase) {
  // 4 x 4 buffer at (-2, -2) over a 2 x 2 image, repeat 2 x 2.
  auto image = numbered_image(dng_box(0, 0, 2, 2));
  OwnBuffer buffer(dng_box(-2, -2, 2, 2));
  image->ReadArea(buffer.buffer, 2, 2, 2);
  EXPECT_EQ(buffer.At(-2, -2), 1);    // image (0, 0)
  EXPECT_EQ(buffer.At(-1, 0), 101);   // image (1, 0)
  EXPECT_EQ(buffer.At(1, 1), 102);
  EXPECT_EQ(buffer.At(-2, 1), 2);
}

// Where a sample outside the bounds comes from with edge kind 2, for an
// image whose size is a multiple of the repeat size: the nearest repeat-
// sized band at the edge, in the phase counted from the image's corner.
int32_t source_index(int32_t x, int32_t first, int32_t end, int32_t repeat) {
  if (x >= first && x < end) return x;
  const int32_t phase = ((x - first) % repeat + repeat) % repeat;
  return x < first ? first + phase : end - repeat + phase;
}

TEST(DngImage, ReadAreaEdgeKindsOverRandomAreas) {
  std::mt19937 rng(31);
  for (int round = 0; round < 300; ++round) {
    const int32_t m = 1 + int32_t(rng() % 3), n = 1 + int32_t(rng() % 3);
    const dng_box bounds(int32_t(rng() % 5) - 2, int32_t(rng() % 5) - 2, 0, 0);
    const dng_box b(bounds.top, bounds.left, bounds.top + m * (1 + int32_t(rng() % 3)),
                    bounds.left + n * (1 + int32_t(rng() % 3)));
    const uint32_t planes = 1 + rng() % 3;
    auto image = numbered_image(b, planes);
    const int32_t top = b.top - 8 + int32_t(rng() % 16), left = b.left - 8 + int32_t(rng() % 16);
    const dng_box area(top, left, top + 1 + int32_t(rng() % 12), left + 1 + int32_t(rng() % 12));
    const uint32_t kind = rng() % 4;
    OwnBuffer buffer(area, planes);
    image->ReadArea(buffer.buffer, kind, uint32_t(m), uint32_t(n));
    for (int32_t r = area.top; r < area.bottom; ++r)
      for (int32_t c = area.left; c < area.right; ++c)
        for (uint32_t p = 0; p < planes; ++p) {
          const bool inside = r >= b.top && r < b.bottom && c >= b.left && c < b.right;
          const int32_t sr = source_index(r, b.top, b.bottom, m), sc = source_index(c, b.left, b.right, n);
          const uint16_t from_image = uint16_t(1000 * p + 100 * (sr - b.top) + (sc - b.left) + 1);
          uint16_t want;
          if (inside) {
            want = from_image;
          } else if (kind == 0) {
            want = 0xDEAD;
          } else if (kind == 1 || (kind == 3 && p == planes - 1)) {
            want = 0;
          } else {
            want = from_image;
          }
          ASSERT_EQ(buffer.At(r, c, p), want)
              << "round " << round << " kind " << kind << " at " << r << "," << c << "," << p;
        }
  }
}

TEST(DngImage, ReadAreaRepeatOfAnImageSmallerThanThePattern) {
  // A one-row colour-filter image read with its 2 x 2 repeat size: the
  // pattern is cut to the one row, and every sample is filled from it.
  auto image = numbered_image(dng_box(0, 0, 1, 4));
  OwnBuffer buffer(dng_box(-2, -2, 3, 6));
  image->ReadArea(buffer.buffer, 2, 2, 2);
  for (int32_t r = -2; r < 3; ++r)
    for (int32_t c = -2; c < 6; ++c) {
      const int32_t sc = source_index(c, 0, 4, 2);
      ASSERT_EQ(buffer.At(r, c), uint16_t(sc + 1)) << r << "," << c;
    }
  // Narrower than the repeat in both directions.
  auto tiny = numbered_image(dng_box(0, 0, 1, 1));
  OwnBuffer around(dng_box(-3, -3, 4, 4));
  tiny->ReadArea(around.buffer, 3, 8, 8);
  for (int32_t r = -3; r < 4; ++r)
    for (int32_t c = -3; c < 4; ++c)  // one plane: kind 3 zeroes all outside the image
      ASSERT_EQ(around.At(r, c), r == 0 && c == 0 ? 1 : 0) << r << "," << c;
  tiny->ReadArea(around.buffer, 2, 8, 8);
  for (int32_t r = -3; r < 4; ++r)
    for (int32_t c = -3; c < 4; ++c) ASSERT_EQ(around.At(r, c), 1) << r << "," << c;
}

TEST(DngImage, ReadAreaKindOneOutsideAndBadKind) {
  StderrCapture quiet;
  auto image = numbered_image(dng_box(0, 0, 2, 2));
  OwnBuffer far(dng_box(10, 10, 12, 13));
  image->ReadArea(far.buffer, 1, 1, 1);
  for (uint16_t s : far.samples) EXPECT_EQ(s, 0);
  EXPECT_EQ(code_of([&] { image->ReadArea(far.buffer, 4, 1, 1); }), dng_code_unknown);
  // More planes than the image holds are refused rather than read.
  OwnBuffer wide(dng_box(0, 0, 1, 1), 2);
  EXPECT_EQ(code_of([&] { image->ReadArea(wide.buffer, 0, 1, 1); }), dng_code_unknown);
}

TEST(DngImage, WriteAreaCutsPlanesAndArea) {
  auto image = numbered_image(dng_box(0, 0, 2, 2));
  OwnBuffer three(dng_box(-1, 1, 1, 3), 3);
  for (size_t i = 0; i < three.samples.size(); ++i) three.samples[i] = uint16_t(5000 + i);
  image->WriteArea(three.buffer);
  const dng_pixel_buffer& b = image->Buffer();
  const uint16_t written = three.At(0, 1, 0);
  EXPECT_EQ(*static_cast<uint16_t*>(b.Pixel(0, 1, 0)), written);
  EXPECT_EQ(*static_cast<uint16_t*>(b.Pixel(0, 0, 0)), 1);
  EXPECT_EQ(*static_cast<uint16_t*>(b.Pixel(1, 1, 0)), 102);
  // A buffer whose first plane is beyond the image's writes nothing.
  three.buffer.plane = 1;
  three.buffer.planes = 2;
  image->WriteArea(three.buffer);
  EXPECT_EQ(*static_cast<uint16_t*>(b.Pixel(0, 1, 0)), written);
}

TEST(DngTileWalker, WalksRowByRowCutToTheArea) {
  dng_tile_walker walker(dng_box(0, 0, 256, 256), dng_box(100, 300, 600, 700));
  std::vector<dng_box> tiles;
  for (dng_box t; walker.Next(t);) tiles.push_back(t);
  EXPECT_EQ(tiles, (std::vector<dng_box>{dng_box(100, 300, 256, 512), dng_box(100, 512, 256, 700),
                                         dng_box(256, 300, 512, 512), dng_box(256, 512, 512, 700),
                                         dng_box(512, 300, 600, 512), dng_box(512, 512, 600, 700)}));

  dng_box t;
  EXPECT_FALSE(dng_tile_walker(dng_box(0, 0, 16, 16), dng_box(5, 5, 5, 9)).Next(t));
  EXPECT_FALSE(dng_tile_walker(dng_extent(0, 0), dng_box(0, 0, 5, 5)).Next(t));
  dng_tile_walker sized(dng_extent(2, 3), dng_box(1, 1, 4, 4));
  tiles.clear();
  while (sized.Next(t)) tiles.push_back(t);
  EXPECT_EQ(tiles, (std::vector<dng_box>{dng_box(1, 1, 3, 4), dng_box(3, 1, 4, 4)}));
}

}  // namespace
