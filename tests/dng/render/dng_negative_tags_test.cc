// Tag groups made from a negative, and the negative's EXIF TIFF block.
#include "dng/support/command_output.h"
#include "dng/render/dng_negative_tag_groups.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/parse/dng_exif.h"
#include "dng/core/dng_host.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/support/code_of.h"
#include "support/temp_folder.h"

namespace {

using dng_test::code_of;

std::vector<uint16_t> codes_of(const tag_directory& directory) {
  std::vector<uint16_t> codes;
  for (uint32_t i = 0; i < directory.Size(); ++i) codes.push_back(directory.Entry(i)->Code());
  return codes;
}

const tiff_tag* find(const tag_directory& directory, uint16_t code) {
  for (uint32_t i = 0; i < directory.Size(); ++i) {
    if (directory.Entry(i)->Code() == code) return directory.Entry(i);
  }
  return nullptr;
}

// The value bytes of one entry, written little-endian.
std::vector<uint8_t> value_bytes(const tiff_tag& tag) {
  dng_memory_stream stream(default_memory_allocator);
  tag.WriteValue(stream);
  const uint32_t n = stream.Position();
  stream.FlushBuffer();
  std::vector<uint8_t> bytes(n);
  if (n != 0) {
    stream.SeekForRead(0);
    stream.GetBytes(bytes.data(), n);
  }
  return bytes;
}

std::vector<uint32_t> words(const std::vector<uint8_t>& bytes) {
  std::vector<uint32_t> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

TEST(RangeTagGroup, BlackLevelsInRowColumnPlaneOrder) {
  dng_negative negative(default_memory_allocator);
  auto info = std::make_unique<dng_linearization_info>();
  info->black_level_repeat_rows = 2;
  info->black_level_repeat_cols = 2;
  info->black_level[0][0][0] = 1.0;
  info->black_level[0][1][0] = 2.5;
  info->black_level[1][0][0] = 3.0;
  info->black_level[1][1][0] = 4.25;
  info->active_area = dng_box(2, 4, 30, 40);
  info->masked_area_count = 1;
  info->masked_area[0] = dng_box(0, 0, 2, 40);
  info->white_level[0] = 4095.0;
  negative.ResetLinearizationInfo(std::move(info));
  tag_directory directory;
  const range_tag_group group(directory, negative);
  EXPECT_EQ(codes_of(directory), (std::vector<uint16_t>{50713, 50714, 50717, 50829, 50830}));
  const tiff_tag* black = find(directory, 50714);
  ASSERT_NE(black, nullptr);
  EXPECT_EQ(black->Count(), 4u);
  // n / 256 pairs.
  EXPECT_EQ(words(value_bytes(*black)), (std::vector<uint32_t>{256, 256, 640, 256, 768, 256, 1088, 256}));
  EXPECT_EQ(words(value_bytes(*find(directory, 50829))), (std::vector<uint32_t>{2, 4, 30, 40}));
  const tiff_tag* white = find(directory, 50717);
  EXPECT_EQ(white->Type(), 3);
  EXPECT_EQ(value_bytes(*white), (std::vector<uint8_t>{0xff, 0x0f}));
}

TEST(RangeTagGroup, WhiteLevelNeedsLongAboveSixteenBits) {
  dng_negative negative(default_memory_allocator);
  auto info = std::make_unique<dng_linearization_info>();
  info->white_level[0] = 70000.0;
  info->table = {0, 10, 20};
  info->black_delta_h = {0.5, -0.5};
  negative.ResetLinearizationInfo(std::move(info));
  tag_directory directory;
  const range_tag_group group(directory, negative);
  EXPECT_EQ(codes_of(directory), (std::vector<uint16_t>{50712, 50713, 50714, 50715, 50717}));
  EXPECT_EQ(find(directory, 50717)->Type(), 4);
  EXPECT_EQ(words(value_bytes(*find(directory, 50717))), std::vector<uint32_t>{70000});
  EXPECT_EQ(find(directory, 50715)->Type(), 10);
  EXPECT_EQ(words(value_bytes(*find(directory, 50715))), (std::vector<uint32_t>{128, 256, uint32_t(-128), 256}));

  // Without linearization data only the white level is written.
  dng_negative bare(default_memory_allocator);
  tag_directory only_white;
  const range_tag_group white_only(only_white, bare);
  EXPECT_EQ(codes_of(only_white), std::vector<uint16_t>{50717});
}

TEST(ColorTagGroup, ChannelCountsAndMissingProfile) {
  dng_negative negative(default_memory_allocator);
  negative.SetColorChannels(1);
  tag_directory none;
  const color_tag_group gray(none, negative, nullptr);
  EXPECT_EQ(none.Size(), 0u);
  negative.SetColorChannels(3);
  tag_directory directory;
  EXPECT_EQ(code_of([&] { color_tag_group group(directory, negative, nullptr); }), dng_code_bad_format);
}

TEST(ColorTagGroup, NeutralOrWhiteAndBalance) {
  dng_negative negative(default_memory_allocator);
  negative.SetColorChannels(3);
  const dng_camera_profile profile;
  negative.StoreWhiteXY(0.31, 0.33);
  tag_directory with_white;
  const color_tag_group white_group(with_white, negative, &profile);
  EXPECT_EQ(codes_of(with_white), (std::vector<uint16_t>{50721, 50727, 50729, 50734, 50778}));
  EXPECT_EQ(words(value_bytes(*find(with_white, 50729))), (std::vector<uint32_t>{310000, 1000000, 330000, 1000000}));

  dng_vector neutral(3);
  neutral[0] = 0.5;
  neutral[1] = 1.0;
  neutral[2] = 0.25;
  negative.StoreCameraNeutral(neutral);
  tag_directory with_neutral;
  const color_tag_group neutral_group(with_neutral, negative, &profile);
  EXPECT_EQ(codes_of(with_neutral), (std::vector<uint16_t>{50721, 50727, 50728, 50734, 50778}));
  EXPECT_EQ(find(with_neutral, 50728)->Count(), 3u);
  EXPECT_EQ(find(with_neutral, 50727)->Count(), 3u);
}

TEST(TagXmp, NoPacketGivesAnEmptyEntry) {
  const tag_xmp none(nullptr);
  EXPECT_EQ(none.Code(), 700);
  EXPECT_EQ(none.Count(), 0u);
}

struct tiff_closer {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

TEST(ExifTiffBlock, ReadsBackWithLibtiffAndExiftool) {
  std::unique_ptr<dng_negative> negative = dng_negative::Create(default_memory_allocator);
  dng_exif& exif = *negative->GetExif();
  exif.make.Assign("Maker");
  exif.model.Assign("Model 7");
  exif.exposure_time = {1, 125};
  exif.iso_speed_ratings[0] = 200;
  exif.gps_latitude_ref.Assign("S");
  exif.gps_latitude[0] = {33, 1};
  exif.gps_latitude[1] = {52, 1};
  exif.gps_latitude[2] = {0, 1};
  std::unique_ptr<dng_memory_block> iptc(default_memory_allocator.NewBlock(5));
  std::memcpy(iptc->Buffer(), "\x1c\x02\x00\x00\x02", 5);
  negative->AdoptIPTC(std::move(iptc), 0);
  dng_pixel_density density;
  density.x_resolution = {300, 1};
  density.y_resolution = {300, 1};
  density.resolution_unit = 2;

  std::unique_ptr<dng_memory_block> block = negative->MakeExifTiffBlock(&density, true);
  ASSERT_NE(block, nullptr);
  const uint8_t* bytes = block->Buffer_uint8();
  ASSERT_GE(block->Size(), 8u);
  EXPECT_EQ(std::memcmp(bytes, "II\x2a\x00\x08\x00\x00\x00", 8), 0);

  testing_support::TempFolder folder;
  const std::string path =
      folder.write_file("exif.tif", std::string(reinterpret_cast<const char*>(bytes), block->Size()));

  // The block has no image, which libtiff refuses as a first directory; it
  // reads the EXIF and GPS directories by offset after a header-only open.
  uint32_t exif_offset = 0;
  uint32_t gps_offset = 0;
  const uint16_t entries = uint16_t(bytes[8] | bytes[9] << 8);
  for (uint16_t i = 0; i < entries; ++i) {
    const uint8_t* e = bytes + 10 + 12 * i;
    const uint16_t code = uint16_t(e[0] | e[1] << 8);
    const uint32_t value = uint32_t(e[8] | e[9] << 8 | e[10] << 16 | e[11] << 24);
    if (code == 34665) exif_offset = value;
    if (code == 34853) gps_offset = value;
  }
  ASSERT_NE(exif_offset, 0u);
  ASSERT_NE(gps_offset, 0u);
  std::unique_ptr<TIFF, tiff_closer> tiff(TIFFOpen(path.c_str(), "rh"));
  ASSERT_NE(tiff, nullptr);
  ASSERT_EQ(TIFFCreateDirectory(tiff.get()), 0);  // the tag methods a custom read needs
  ASSERT_TRUE(TIFFReadEXIFDirectory(tiff.get(), exif_offset));
  float exposure = 0;
  ASSERT_TRUE(TIFFGetField(tiff.get(), EXIFTAG_EXPOSURETIME, &exposure));
  EXPECT_FLOAT_EQ(exposure, 1.0f / 125.0f);
  ASSERT_TRUE(TIFFReadGPSDirectory(tiff.get(), gps_offset));
  char* ref = nullptr;
  ASSERT_TRUE(TIFFGetField(tiff.get(), GPSTAG_LATITUDEREF, &ref));
  EXPECT_STREQ(ref, "S");
  tiff.reset();

  const std::string report = dng_test::command_output("exiftool -s -s -s -n -Make -Model -XResolution -ExposureTime -ISO "
                                 "-GPSLatitude -GPSLatitudeRef '" + path + "' 2>&1");
  EXPECT_EQ(report, "Maker\nModel 7\n300\n0.008\n200\n-33.8666666666667\nS\n") << report;
  const std::string validate = dng_test::command_output("exiftool -validate -warning -a '" + path + "' 2>&1");
  EXPECT_EQ(validate.find("Error"), std::string::npos) << validate;
}

}  // namespace

namespace {

class TagXmpPacket : public ::testing::Test {
 protected:
  void SetUp() override { xmp_toolkit_initialize(); }
  void TearDown() override { xmp_toolkit_terminate(); }
};

TEST_F(TagXmpPacket, SerialisesThePacketWithPadding) {
  const std::string packet =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
      "<rdf:Description rdf:about='' xmlns:tiff='http://ns.adobe.com/tiff/1.0/' tiff:Make='Maker'/>"
      "</rdf:RDF></x:xmpmeta>";
  dng_host host;
  dng_xmp xmp(default_memory_allocator);
  xmp.Parse(host, packet.data(), uint32_t(packet.size()));
  const tag_xmp tag(&xmp);
  EXPECT_EQ(tag.Type(), 1);
  ASSERT_GT(tag.Count(), 4096u);
  const std::vector<uint8_t> bytes = value_bytes(tag);
  ASSERT_EQ(bytes.size(), tag.Count());
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.rfind("<?xpacket begin=", 0), 0u) << text.substr(0, 80);
  EXPECT_NE(text.find("tiff:Make"), std::string::npos);
  const size_t meta_end = text.find("</x:xmpmeta>");
  const size_t trailer = text.find("<?xpacket end=\"w\"?>");
  ASSERT_NE(meta_end, std::string::npos);
  ASSERT_NE(trailer, std::string::npos);
  EXPECT_GE(trailer - meta_end, 4096u);  // the padding
}

}  // namespace
