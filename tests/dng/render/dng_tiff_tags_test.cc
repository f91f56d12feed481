#include "dng/render/dng_tiff_tags.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_ifd.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_exif_tag_group.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/support/code_of.h"

namespace {

using dng_test::code_of;

// The bytes a directory writes when the stream stands at `start`.
std::vector<uint8_t> written(const tag_directory& directory, bool big_endian, uint32_t start = 0) {
  dng_memory_stream stream(default_memory_allocator);
  stream.SetByteSwapped(big_endian);
  stream.SeekForWrite(start);
  directory.WriteTo(stream);
  const uint32_t end = stream.Position();
  stream.FlushBuffer();
  std::vector<uint8_t> bytes(end - start);
  if (bytes.empty()) return bytes;
  stream.SeekForRead(start);
  stream.GetBytes(bytes.data(), uint32_t(bytes.size()));
  return bytes;
}

std::vector<uint8_t> hex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size();) {
    if (text[i] == ' ') {
      ++i;
      continue;
    }
    bytes.push_back(uint8_t(std::stoul(text.substr(i, 2), nullptr, 16)));
    i += 2;
  }
  return bytes;
}

std::string as_hex(const std::vector<uint8_t>& bytes) {
  std::string s;
  char b[4];
  for (uint8_t v : bytes) {
    std::snprintf(b, sizeof(b), "%02x ", v);
    s += b;
  }
  return s;
}

// Codes in a directory, in order.
std::vector<uint16_t> codes_of(const tag_directory& directory) {
  std::vector<uint16_t> codes;
  for (uint32_t i = 0; i < directory.Size(); ++i) codes.push_back(directory.Entry(i)->Code());
  return codes;
}

TEST(TiffTag, EntriesSerialiseToExactBytesInBothOrders) {
  static const int16_t zones[2] = {-2, 3};
  static const uint8_t cfa[8][8] = {{0, 1}, {1, 2}};
  struct entry_case {
    const char* name;
    std::function<std::unique_ptr<tiff_tag>()> make;
    const char* little;  // count, entry, next offset, out-of-line value
    const char* big;
  };
  const entry_case cases[] = {
      {"short", [] { return std::make_unique<tag_uint16>(0x0103, 0x1234); },
       "0100 0301 0300 01000000 34120000 00000000",
       "0001 0103 0003 00000001 12340000 00000000"},
      {"long", [] { return std::make_unique<tag_uint32>(256, 0x01020304); },
       "0100 0001 0400 01000000 04030201 00000000",
       "0001 0100 0004 00000001 01020304 00000000"},
      {"rational, out of line at 18",
       [] { return std::make_unique<tag_urational>(282, dng_unsigned_ratio(72, 1)); },
       "0100 1a01 0500 01000000 12000000 00000000 48000000 01000000",
       "0001 011a 0005 00000001 00000012 00000000 00000048 00000001"},
      {"signed rational",
       [] { return std::make_unique<tag_srational>(50730, dng_signed_ratio(-1, 2)); },
       "0100 2ac6 0a00 01000000 12000000 00000000 ffffffff 02000000",
       "0001 c62a 000a 00000001 00000012 00000000 ffffffff 00000002"},
      {"3-byte text padded inside the entry",
       [] { return std::make_unique<tag_string>(271, dng_text("ab")); },
       "0100 0f01 0200 03000000 61620000 00000000",
       "0001 010f 0002 00000003 61620000 00000000"},
      {"4-byte text fills the entry",
       [] { return std::make_unique<tag_string>(271, dng_text("abc")); },
       "0100 0f01 0200 04000000 61626300 00000000",
       "0001 010f 0002 00000004 61626300 00000000"},
      {"5-byte text out of line with a pad byte",
       [] { return std::make_unique<tag_string>(271, dng_text("abcd")); },
       "0100 0f01 0200 05000000 12000000 00000000 6162636400 00",
       "0001 010f 0002 00000005 00000012 00000000 6162636400 00"},
      {"encoded ASCII text",
       [] { return std::make_unique<tag_encoded_text>(37510, dng_text("abc")); },
       "0100 8692 0700 0b000000 12000000 00000000 4153434949000000 616263 00",
       "0001 9286 0007 0000000b 00000012 00000000 4153434949000000 616263 00"},
      {"encoded Unicode text",
       [] { return std::make_unique<tag_encoded_text>(37510, dng_text("\xc3\xa9")); },
       "0100 8692 0700 0a000000 12000000 00000000 554e49434f444500 e900",
       "0001 9286 0007 0000000a 00000012 00000000 554e49434f444500 00e9"},
      {"signed shorts", [] { return std::make_unique<tag_int16_ptr>(34858, zones, 2); },
       "0100 2a88 0800 02000000 feff0300 00000000",
       "0001 882a 0008 00000002 fffe0003 00000000"},
      {"CFA pattern column by column",
       [] { return std::make_unique<tag_cfa_pattern>(41730, 2, 2, cfa); },
       "0100 02a3 0700 08000000 12000000 00000000 0200 0200 00010102",
       "0001 a302 0007 00000008 00000012 00000000 0002 0002 00010102"},
      {"matrix over 10000",
       [] {
         dng_matrix m(1, 1);
         m[0][0] = -0.5;
         return std::make_unique<tag_matrix>(50721, m);
       },
       "0100 21c6 0a00 01000000 12000000 00000000 78ecffff 10270000",
       "0001 c621 000a 00000001 00000012 00000000 ffffec78 00002710"},
      {"IPTC padded to whole words",
       [] { return std::make_unique<tag_iptc>("\x1c\x02\x00\x00\x02", 5); },
       "0100 bb83 0400 02000000 12000000 00000000 1c02000002 000000",
       "0001 83bb 0004 00000002 00000012 00000000 1c02000002 000000"},
  };
  for (const entry_case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::unique_ptr<tiff_tag> tag = c.make();
    tag_directory directory;
    directory.Insert(tag.get());
    EXPECT_EQ(as_hex(written(directory, false)), as_hex(hex(c.little)));
    EXPECT_EQ(as_hex(written(directory, true)), as_hex(hex(c.big)));
    EXPECT_EQ(directory.ByteSize(), hex(c.little).size());
  }
}

TEST(TiffTag, TextTypesFollowTheirContent) {
  const dng_text e_acute("\xc3\xa9");
  const tag_string raw(305, e_acute, false);
  EXPECT_EQ(raw.Type(), 1);
  EXPECT_EQ(raw.Count(), 3u);
  const tag_string folded(305, e_acute, true);
  EXPECT_EQ(folded.Type(), 2);
  EXPECT_EQ(folded.Count(), 2u);  // one ASCII stand-in and the zero
  const tag_encoded_text abc(37510, dng_text("abc"));
  EXPECT_EQ(abc.Count(), 11u);
}

TEST(TiffTag, IccProfileEntryCarriesTheSpaceProfile) {
  const tag_icc_profile none(nullptr);
  EXPECT_EQ(none.Count(), 0u);
  const tag_icc_profile srgb(&dng_space_sRGB::Instance());
  EXPECT_EQ(srgb.Code(), 34675);
  EXPECT_EQ(srgb.Type(), 7);
  EXPECT_EQ(srgb.Count(), 3144u);
}

TEST(TiffTag, DateTimeIsFormattedOnlyInRange) {
  dng_calendar_time t;
  t.year = 2026;
  t.month = 12;
  t.day = 10;
  t.hour = 9;
  t.minute = 5;
  t.second = 7;
  tag_directory directory;
  const tag_exif_date_time good(306, t);
  directory.Insert(&good);
  const std::vector<uint8_t> bytes = written(directory, false);
  ASSERT_EQ(bytes.size(), 18u + 20u);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(bytes.data()) + 18), "2026:12:10 09:05:07");

  t.month = 13;
  tag_directory other;
  const tag_exif_date_time bad(306, t);
  other.Insert(&bad);
  const std::vector<uint8_t> zeros = written(other, false);
  EXPECT_EQ(std::vector<uint8_t>(zeros.begin() + 18, zeros.end()), std::vector<uint8_t>(20, 0));
}

TEST(TiffTag, ImageResourcesAreBigEndianWhateverTheStream) {
  dng_encoded_preview thumbnail;
  thumbnail.width = 3;
  thumbnail.height = 2;
  thumbnail.jpeg.reset(default_memory_allocator.NewBlock(3));
  std::memcpy(thumbnail.jpeg->Buffer(), "\xff\xd8\xff", 3);
  dng_digest digest;
  digest.data[15] = 0x42;
  const tag_image_resources tag(&thumbnail, digest, nullptr);
  // 3 + 40, made even, then the digest's 28.
  EXPECT_EQ(tag.Count(), 44u + 28u);
  for (bool big : {false, true}) {
    tag_directory directory;
    directory.Insert(&tag);
    const std::vector<uint8_t> bytes = written(directory, big);
    const std::vector<uint8_t> value(bytes.begin() + 18, bytes.end());
    const std::vector<uint8_t> expected = hex(
        "3842494d 040c 0000 0000001f"                  // 8BIM, 1036, empty name, size 3 + 28
        " 00000001 00000003 00000002 0000000c 00000018 00000003 0018 0001 ffd8ff 00"
        " 3842494d 0425 0000 00000010 00000000000000000000000000000042");
    EXPECT_EQ(as_hex(value), as_hex(expected)) << (big ? "MM" : "II");
  }
  const tag_image_resources empty(nullptr, dng_digest(), nullptr);
  EXPECT_EQ(empty.Count(), 0u);
}

TEST(TagDirectory, SortsStablyAndPlacesValuesAfterTheDirectory) {
  const tag_uint16 c(300, 1);
  const tag_uint16 a(100, 2);
  const tag_uint16 b1(200, 3);
  const tag_uint16 b2(200, 4);
  const tag_string long_text(150, dng_text("hello"));  // 6 bytes out of line
  const tag_string odd_text(250, dng_text("odd!"));    // 5 bytes, padded to 6
  tag_directory directory;
  for (const tiff_tag* t : std::initializer_list<const tiff_tag*>{&c, &b1, &a, &odd_text, &b2, &long_text}) {
    directory.Insert(t);
  }
  const tiff_tag* expected[] = {&a, &long_text, &b1, &b2, &odd_text, &c};
  ASSERT_EQ(directory.Size(), 6u);
  for (uint32_t i = 0; i < 6; ++i) EXPECT_EQ(directory.Entry(i), expected[i]) << i;

  // Written at 100: the first long value at 100 + 12 x 6 + 6 = 178, the next
  // at 184; the directory ends at 190.
  const std::vector<uint8_t> bytes = written(directory, false, 100);
  EXPECT_EQ(bytes.size(), directory.ByteSize());
  EXPECT_EQ(directory.ByteSize(), 2u + 72u + 4u + 6u + 6u);
  auto u32 = [&](size_t at) {
    return uint32_t(bytes[at]) | uint32_t(bytes[at + 1]) << 8 | uint32_t(bytes[at + 2]) << 16 |
           uint32_t(bytes[at + 3]) << 24;
  };
  EXPECT_EQ(u32(2 + 12 * 1 + 8), 178u);  // "hello"
  EXPECT_EQ(u32(2 + 12 * 4 + 8), 184u);  // "odd!"
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[78])), "hello");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[84])), "odd!");
}

TEST(TagDirectory, EmptyAndFull) {
  tag_directory empty;
  EXPECT_EQ(empty.ByteSize(), 0u);
  EXPECT_TRUE(written(empty, false, 10).empty());

  std::vector<std::unique_ptr<tag_uint16>> tags;
  tag_directory full;
  for (uint16_t i = 0; i < tag_directory::kMaxEntries; ++i) {
    tags.push_back(std::make_unique<tag_uint16>(i, i));
    full.Insert(tags.back().get());
  }
  const tag_uint16 extra(5000, 1);
  EXPECT_EQ(code_of([&] { full.Insert(&extra); }), dng_code_unknown);
  EXPECT_EQ(full.Size(), tag_directory::kMaxEntries);
}

TEST(BasicTagSet, EntriesFollowTheDirectoryDescription) {
  struct layout_case {
    const char* name;
    uint32_t bits;
    uint32_t samples;
    bool tiles;
    uint32_t predictor;
    uint32_t sample_format;
    uint32_t extra_samples;
    std::vector<uint16_t> codes;
    uint32_t tile_count;
  };
  const layout_case cases[] = {
      {"8-bit strips", 8, 3, false, 1, 1, 0, {254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 284}, 4},
      {"12-bit tiles with a predictor", 12, 1, true, 2, 1, 0,
       {254, 256, 257, 258, 259, 262, 266, 277, 284, 317, 322, 323, 324, 325}, 6},
      {"float with an extra sample", 32, 2, false, 1, 3, 1,
       {254, 256, 257, 258, 259, 262, 273, 277, 278, 279, 284, 338, 339}, 4},
  };
  for (const layout_case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_ifd ifd;
    ifd.image_width = 40;
    ifd.image_length = 30;
    ifd.samples_per_pixel = c.samples;
    ifd.bits_per_sample[0] = c.bits;
    ifd.photometric_interpretation = c.samples >= 3 ? 2 : 1;
    ifd.predictor = c.predictor;
    ifd.sample_format[0] = c.sample_format;
    ifd.extra_samples_count = c.extra_samples;
    if (c.tiles) {
      ifd.uses_tiles = true;
      ifd.tile_width = 16;
      ifd.tile_length = 16;
    } else {
      ifd.uses_strips = true;
      ifd.tile_width = 40;
      ifd.tile_length = 8;
    }
    tag_directory directory;
    basic_tag_set set(directory, ifd);
    EXPECT_EQ(codes_of(directory), c.codes);
    EXPECT_EQ(set.TileCount(), c.tile_count);
    for (uint32_t i = 0; i < directory.Size(); ++i) {
      const tiff_tag* t = directory.Entry(i);
      if (t->Code() == 258 || t->Code() == 339) {
        EXPECT_EQ(t->Count(), c.samples) << t->Code();
      }
      if (t->Code() == 273 || t->Code() == 279 || t->Code() == 324 || t->Code() == 325) {
        EXPECT_EQ(t->Count(), c.tile_count) << t->Code();
      }
    }
  }
  dng_ifd five;
  five.image_width = five.image_length = 4;
  five.samples_per_pixel = 5;
  five.bits_per_sample[0] = 8;
  five.UseSingleTile();
  tag_directory directory;
  EXPECT_EQ(code_of([&] { basic_tag_set set(directory, five); }), dng_code_unknown);
}

TEST(JpegTagSet, YCbCrEntriesOnlyForYCbCr) {
  dng_ifd ifd;
  ifd.image_width = 64;
  ifd.image_length = 48;
  ifd.samples_per_pixel = 3;
  ifd.bits_per_sample[0] = 8;
  ifd.compression = 7;
  ifd.UseSingleTile();
  dng_encoded_preview preview;
  preview.ycbcr_sub_sampling_h = 2;
  preview.ycbcr_sub_sampling_v = 1;
  preview.ycbcr_positioning = 2;
  for (uint32_t photometric : {2u, 6u}) {
    SCOPED_TRACE(photometric);
    ifd.photometric_interpretation = photometric;
    tag_directory directory;
    jpeg_tag_set set(directory, ifd, preview);
    const std::vector<uint16_t> codes = codes_of(directory);
    const bool ycbcr = std::find(codes.begin(), codes.end(), 530) != codes.end();
    EXPECT_EQ(ycbcr, photometric == 6);
    if (!ycbcr) continue;
    EXPECT_EQ(std::vector<uint16_t>(codes.end() - 4, codes.end()), (std::vector<uint16_t>{529, 530, 531, 532}));
    tag_directory subsampling;
    subsampling.Insert(directory.Entry(directory.Size() - 3));
    EXPECT_EQ(as_hex(written(subsampling, true)), as_hex(hex("0001 0212 0003 00000002 00020001 00000000")));
  }
}

TEST(MosaicTagGroup, BayerPatternEntries) {
  dng_mosaic_info info;
  info.pattern_rows = 2;
  info.pattern_cols = 2;
  const uint8_t rggb[2][2] = {{0, 1}, {1, 2}};
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) info.pattern[r][c] = rggb[r][c];
  }
  info.color_planes = 3;
  info.plane_color[0] = 0;
  info.plane_color[1] = 1;
  info.plane_color[2] = 2;
  info.bayer_green_split = 250;
  tag_directory directory;
  const mosaic_tag_group group(directory, info);
  const uint16_t codes[] = {33421, 33422, 50710, 50711, 50733};
  ASSERT_EQ(directory.Size(), 5u);
  for (uint32_t i = 0; i < 5; ++i) EXPECT_EQ(directory.Entry(i)->Code(), codes[i]);

  info.cfa_layout = 2;  // no green split off layout 1
  tag_directory staggered;
  const mosaic_tag_group staggered_group(staggered, info);
  EXPECT_EQ(staggered.Size(), 4u);

  tag_directory none;
  const mosaic_tag_group empty_group(none, dng_mosaic_info());
  EXPECT_EQ(none.Size(), 0u);
}

TEST(ExifTagGroup, AFreshExifYieldsNoEntries) {
  const dng_exif exif;
  for (bool dng : {false, true}) {
    tag_directory ifd0;
    exif_tag_group group(ifd0, exif, true, nullptr, 0, dng);
    EXPECT_EQ(ifd0.Size(), 0u);
    EXPECT_EQ(group.ExifDirectory().Size(), 0u);
    EXPECT_EQ(group.GpsDirectory().Size(), 0u);
  }
}

TEST(ExifTagGroup, WritesOnlyValuesThatAreSet) {
  struct field_case {
    const char* name;
    std::function<void(dng_exif&)> set;
    std::vector<uint16_t> ifd0;
    std::vector<uint16_t> exif;
    std::vector<uint16_t> gps;
    bool dng;
  };
  const field_case cases[] = {
      {"16-bit at its maximum", [](dng_exif& e) { e.exposure_program = 65535; }, {34665}, {34850}, {}, false},
      {"16-bit unset marker", [](dng_exif& e) { e.exposure_program = 65536; }, {}, {}, {}, false},
      {"rational without denominator", [](dng_exif& e) { e.exposure_time = {1, 0}; }, {}, {}, {}, false},
      {"rational", [](dng_exif& e) { e.exposure_time = {1, 250}; }, {34665}, {33434}, {}, false},
      {"make in IFD 0", [](dng_exif& e) { e.make.Assign("Maker"); }, {271}, {}, {}, false},
      {"serial number only in a DNG", [](dng_exif& e) { e.camera_serial_number.Assign("42"); }, {}, {}, {}, false},
      {"serial number in a DNG", [](dng_exif& e) { e.camera_serial_number.Assign("42"); }, {50735}, {}, {}, true},
      {"latitude reference without coordinate",
       [](dng_exif& e) { e.gps_latitude_ref.Assign("N"); }, {}, {}, {}, false},
      {"latitude with its reference",
       [](dng_exif& e) {
         e.gps_latitude_ref.Assign("N");
         e.gps_latitude[0] = {48, 1};
       },
       {34853}, {}, {1, 2}, false},
      {"altitude reference is a byte field",
       [](dng_exif& e) { e.gps_altitude_ref = 256; }, {}, {}, {}, false},
      {"sub-second text needs its date",
       [](dng_exif& e) { e.subsec_time_original.Assign("12"); }, {}, {}, {}, false},
      {"sub-second text with its date",
       [](dng_exif& e) {
         e.subsec_time_original.Assign("12");
         e.date_time_original = {2020, 1, 2, 3, 4, 5};
       },
       {34665}, {36867, 37521}, {}, false},
      {"time zone of the original date only",
       [](dng_exif& e) {
         e.date_time_original = {2020, 1, 2, 3, 4, 5};
         e.date_time_original_zone = -5;
       },
       {34665, 34858}, {36867}, {}, false},
  };
  for (const field_case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_exif exif;
    c.set(exif);
    tag_directory ifd0;
    exif_tag_group group(ifd0, exif, false, nullptr, 0, c.dng);
    EXPECT_EQ(codes_of(ifd0), c.ifd0);
    EXPECT_EQ(codes_of(group.ExifDirectory()), c.exif);
    EXPECT_EQ(codes_of(group.GpsDirectory()), c.gps);
  }
}

TEST(ExifTagGroup, TimeZoneOffsetCountsTheZonesThatAreSet) {
  dng_exif exif;
  exif.date_time_original = {2020, 1, 2, 3, 4, 5};
  exif.date_time_original_zone = -5;
  exif.date_time = {2021, 1, 2, 3, 4, 5};
  exif.date_time_zone = 2;
  tag_directory ifd0;
  exif_tag_group group(ifd0, exif, false, nullptr, 0, false);
  const tiff_tag* zone = nullptr;
  for (uint32_t i = 0; i < ifd0.Size(); ++i) {
    if (ifd0.Entry(i)->Code() == 34858) zone = ifd0.Entry(i);
  }
  ASSERT_NE(zone, nullptr);
  EXPECT_EQ(zone->Count(), 2u);
  tag_directory just_zone;
  just_zone.Insert(zone);
  EXPECT_EQ(as_hex(written(just_zone, true)), as_hex(hex("0001 882a 0008 00000002 fffb0002 00000000")));
}

TEST(ExifTagGroup, MakerNoteOnlyWhenSafe) {
  const dng_exif exif;
  const uint8_t note[3] = {1, 2, 3};
  for (bool safe : {false, true}) {
    tag_directory ifd0;
    exif_tag_group group(ifd0, exif, safe, note, 3, false);
    const std::vector<uint16_t> ifd0_codes = safe ? std::vector<uint16_t>{34665, 50741} : std::vector<uint16_t>{};
    const std::vector<uint16_t> exif_codes = safe ? std::vector<uint16_t>{37500} : std::vector<uint16_t>{};
    EXPECT_EQ(codes_of(ifd0), ifd0_codes);
    EXPECT_EQ(codes_of(group.ExifDirectory()), exif_codes);
  }
}

}  // namespace
