// Raw DNGs re-assembled from the tag sets and groups of their parsed
// negative read back, through this program's own parser, with the same
// colour, CFA and linearization data and the same raw samples.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_negative.h"
#include "dng/render/dng_negative_tag_groups.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/render/dng_tiff_tags.h"
#include "dng/support/parsed_dng.h"
#include "support/raw_dng_builder.h"

namespace {

using testing_support::RawDngOptions;


// The negative's raw image and DNG data written back as a DNG with the
// raw image in IFD 0.
std::string rewrite(const dng_negative &negative, bool big_endian) {
  const dng_image &raw = *negative.Stage1Image();
  const uint32_t bits = raw.BytesPerSample() * 8;
  dng_ifd ifd;
  ifd.image_width = raw.Bounds().W();
  ifd.image_length = raw.Bounds().H();
  ifd.samples_per_pixel = raw.Planes();
  ifd.bits_per_sample[0] = bits;
  ifd.photometric_interpretation = negative.MosaicInfo() != nullptr ? 32803 : 34892;
  ifd.compression = 1;
  ifd.UseSingleTile();

  tag_directory ifd0;
  basic_tag_set basic(ifd0, ifd);
  static const uint8_t version[4] = {1, 1, 0, 0};
  const tag_uint8_ptr dng_version(50706, version, 4);
  const tag_uint8_ptr backward_version(50707, version, 4);
  const tag_string model(50708, negative.ModelName(), true);
  ifd0.Insert(&dng_version);
  ifd0.Insert(&backward_version);
  ifd0.Insert(&model);
  const range_tag_group range(ifd0, negative);
  std::optional<mosaic_tag_group> mosaic;
  if (negative.MosaicInfo() != nullptr) mosaic.emplace(ifd0, *negative.MosaicInfo());
  const color_tag_group color(ifd0, negative, negative.AttachedProfile());

  dng_memory_stream stream(default_memory_allocator);
  stream.SetByteSwapped(big_endian);
  const uint32_t data_at = 8 + ifd0.ByteSize();
  stream.SeekForWrite(data_at);
  dng_const_tile_buffer pixels(raw, raw.Bounds());
  for (int32_t row = raw.Bounds().top; row < raw.Bounds().bottom; ++row) {
    for (int32_t col = raw.Bounds().left; col < raw.Bounds().right; ++col) {
      for (uint32_t p = 0; p < raw.Planes(); ++p) {
        const void *at = pixels.Pixel(row, col, p);
        if (bits == 8) stream.PutUInt8(*static_cast<const uint8_t *>(at));
        if (bits == 16) stream.PutUInt16(*static_cast<const uint16_t *>(at));
      }
    }
  }
  basic.TileOffsets()[0] = data_at;
  basic.TileByteCounts()[0] = stream.Position() - data_at;
  stream.SeekForWrite(0);
  stream.PutUInt16(big_endian ? 0x4D4D : 0x4949);
  stream.PutUInt16(42);
  stream.PutUInt32(8);
  ifd0.WriteTo(stream);
  stream.FlushBuffer();
  const uint32_t length = stream.TotalLength();
  std::string bytes(length, '\0');
  stream.SeekForRead(0);
  stream.GetBytes(bytes.data(), length);
  return bytes;
}

void expect_same_samples(const dng_image &a, const dng_image &b) {
  ASSERT_EQ(a.Bounds(), b.Bounds());
  ASSERT_EQ(a.Planes(), b.Planes());
  ASSERT_EQ(a.PixelType(), b.PixelType());
  dng_const_tile_buffer pa(a, a.Bounds());
  dng_const_tile_buffer pb(b, b.Bounds());
  const uint32_t bytes = a.BytesPerSample();
  for (int32_t row = a.Bounds().top; row < a.Bounds().bottom; ++row) {
    for (int32_t col = a.Bounds().left; col < a.Bounds().right; ++col) {
      for (uint32_t p = 0; p < a.Planes(); ++p) {
        ASSERT_EQ(std::memcmp(pa.Pixel(row, col, p), pb.Pixel(row, col, p), bytes), 0)
            << row << "," << col << "," << p;
      }
    }
  }
}

TEST(TagRoundTrip, NegativeDataSurvivesRewriting) {
  struct layout {
    const char *name;
    RawDngOptions options;
  };
  std::vector<layout> layouts;
  {
    RawDngOptions o;
    o.name = "bayer";
    o.black_repeat_rows = 2;
    o.black_repeat_cols = 2;
    o.black_levels = {400, 410.5, 420, 405.25};
    o.black_delta_h = true;
    o.black_delta_v = true;
    o.white_level = 60000;
    o.active_area = std::vector<uint32_t>{2, 4, 22, 30};
    o.extra = [](testing_support::DngBuilder &b) {
      constexpr int ifd0 = testing_support::DngBuilder::kIfd0;
      b.add_long(ifd0, 50830, {0, 4, 2, 30, 22, 4, 24, 30});
      b.add_srational(ifd0, 50722,
                      {{6000, 10000},
                       {-1000, 10000},
                       {500, 10000},
                       {-4000, 10000},
                       {13000, 10000},
                       {1500, 10000},
                       {-1000, 10000},
                       {3500, 10000},
                       {5000, 10000}});
      b.add_short(ifd0, 50779, {17});
      b.add_rational(ifd0, 50727, {{11, 10}, {1, 1}, {9, 10}});
    };
    layouts.push_back({"Bayer, 2 x 2 black, deltas, masked areas, two illuminants", o});
  }
  {
    RawDngOptions o;
    o.name = "linear";
    o.cfa_rows.clear();
    o.linear_samples = 3;
    o.black_levels = {100, 200, 300};
    for (uint32_t i = 0; i < 256; ++i) o.linearization_table.push_back(uint16_t(i * 200));
    o.bits = 8;
    layouts.push_back({"LinearRaw, 8-bit with a 256-entry table", o});
  }
  {
    RawDngOptions o;
    o.name = "staggered";
    o.cfa_rows = {"RGBG", "BGRG"};
    o.cfa_layout = 2;
    o.bits = 12;
    layouts.push_back({"4 x 2 pattern, layout 2, 12 bits", o});
  }
  {
    RawDngOptions o;
    o.name = "monochrome";
    o.cfa_rows.clear();
    o.linear_samples = 1;
    o.as_shot_neutral = false;
    o.extra = [](testing_support::DngBuilder &b) {
      constexpr int ifd0 = testing_support::DngBuilder::kIfd0;
      b.remove(ifd0, 50721);  // a monochrome camera has no colour matrix
      b.remove(ifd0, 50778);
    };
    layouts.push_back({"monochrome", o});
  }
  {
    RawDngOptions o;
    o.name = "four colours";
    o.cfa_rows = {"CY", "GM"};
    o.cfa_colors = "CYGM";
    o.extra = [](testing_support::DngBuilder &b) {
      constexpr int ifd0 = testing_support::DngBuilder::kIfd0;
      std::vector<std::pair<int32_t, int32_t>> reduction;
      for (int i = 0; i < 12; ++i) reduction.push_back({(i % 5 == 0) ? 10000 : 2500, 10000});
      b.add_srational(ifd0, 50725, reduction);
    };
    layouts.push_back({"four colours with a reduction matrix", o});
  }
  for (const layout &l : layouts) {
    for (bool big_endian : {false, true}) {
      SCOPED_TRACE(std::string(l.name) + (big_endian ? " MM" : " II"));
      RawDngOptions options = l.options;
      options.big_endian = big_endian;
      dng_test::parsed_dng source(testing_support::build_raw_dng(options).bytes, true);
      ASSERT_TRUE(source.valid) << source.errors;
      ASSERT_NE(source.negative->Stage1Image(), nullptr) << source.errors;
      dng_test::parsed_dng copy(rewrite(*source.negative, big_endian), true);
      ASSERT_TRUE(copy.valid) << copy.errors;
      ASSERT_NE(copy.negative->Stage1Image(), nullptr) << copy.errors;
      const dng_negative &a = *source.negative;
      const dng_negative &b = *copy.negative;

      EXPECT_EQ(b.ModelName().CStr(), std::string(a.ModelName().CStr()));
      EXPECT_EQ(b.ColorChannels(), a.ColorChannels());
      EXPECT_EQ(b.CameraNeutral(), a.CameraNeutral());
      // Always written, so an absent balance comes back as its meaning, 1.
      for (uint32_t i = 0; i < a.ColorChannels(); ++i)
        EXPECT_EQ(b.ChannelBalance(i), a.ChannelBalance(i)) << i;
      EXPECT_EQ(b.LinearResponseLimit().ToReal(), a.LinearResponseLimit().ToReal());
      ASSERT_EQ(b.AttachedProfile() != nullptr, a.AttachedProfile() != nullptr);
      if (a.AttachedProfile() != nullptr && a.ColorChannels() > 1) {
        const dng_camera_profile &pa = *a.AttachedProfile();
        const dng_camera_profile &pb = *b.AttachedProfile();
        EXPECT_EQ(pb.CalibrationIlluminant1(), pa.CalibrationIlluminant1());
        EXPECT_EQ(pb.CalibrationIlluminant2(), pa.CalibrationIlluminant2());
        EXPECT_EQ(pb.ColorMatrix1(), pa.ColorMatrix1());
        EXPECT_EQ(pb.ColorMatrix2(), pa.ColorMatrix2());
        EXPECT_EQ(pb.ReductionMatrix1(), pa.ReductionMatrix1());
      }

      ASSERT_EQ(b.MosaicInfo() != nullptr, a.MosaicInfo() != nullptr);
      if (a.MosaicInfo() != nullptr) {
        const dng_mosaic_info &ma = *a.MosaicInfo();
        const dng_mosaic_info &mb = *b.MosaicInfo();
        EXPECT_EQ(mb.pattern_rows, ma.pattern_rows);
        EXPECT_EQ(mb.pattern_cols, ma.pattern_cols);
        for (uint32_t r = 0; r < ma.pattern_rows; ++r) {
          for (uint32_t c = 0; c < ma.pattern_cols; ++c)
            EXPECT_EQ(mb.pattern[r][c], ma.pattern[r][c]);
        }
        EXPECT_EQ(mb.color_planes, ma.color_planes);
        EXPECT_EQ(mb.cfa_layout, ma.cfa_layout);
      }

      const dng_linearization_info &la = *a.LinearizationInfo();
      const dng_linearization_info &lb = *b.LinearizationInfo();
      EXPECT_EQ(lb.active_area, la.active_area);
      EXPECT_EQ(lb.masked_area_count, la.masked_area_count);
      for (uint32_t i = 0; i < la.masked_area_count; ++i)
        EXPECT_EQ(lb.masked_area[i], la.masked_area[i]);
      EXPECT_EQ(lb.table, la.table);
      EXPECT_EQ(lb.black_level_repeat_rows, la.black_level_repeat_rows);
      EXPECT_EQ(lb.black_level_repeat_cols, la.black_level_repeat_cols);
      for (uint32_t r = 0; r < la.black_level_repeat_rows; ++r) {
        for (uint32_t c = 0; c < la.black_level_repeat_cols; ++c) {
          for (uint32_t p = 0; p < 4; ++p)
            EXPECT_EQ(lb.black_level[r][c][p], la.black_level[r][c][p]);
        }
      }
      EXPECT_EQ(lb.black_delta_h, la.black_delta_h);
      EXPECT_EQ(lb.black_delta_v, la.black_delta_v);
      for (uint32_t p = 0; p < a.Stage1Image()->Planes(); ++p) {
        EXPECT_EQ(lb.white_level[p], la.white_level[p]) << p;
      }
      expect_same_samples(*a.Stage1Image(), *b.Stage1Image());
    }
  }
}

}  // namespace
