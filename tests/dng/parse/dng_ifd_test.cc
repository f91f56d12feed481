// The image directory's tag table and validity rules, driven through the
// container parser with builder files: each case changes one thing in a
// valid 16 x 16 DNG and names the exact lines it must print.
#include "dng/parse/dng_ifd.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "parse_harness.h"
#include "support/dng_builder.h"

namespace {

using dng_parse_test::error;
using dng_parse_test::parse_bytes;
using dng_parse_test::warning;
using testing_support::DngBuilder;
constexpr int kIfd0 = DngBuilder::kIfd0;

void replace_short(DngBuilder& b, uint16_t tag, const std::vector<uint16_t>& values) {
  b.remove(kIfd0, tag);
  b.add_short(kIfd0, tag, values);
}

void replace_long(DngBuilder& b, uint16_t tag, const std::vector<uint32_t>& values) {
  b.remove(kIfd0, tag);
  b.add_long(kIfd0, tag, values);
}

struct IfdCase {
  const char* name;
  bool linear_raw;
  std::function<void(DngBuilder&)> mutate;
  std::string transcript;
  bool valid;
  int32_t code = 0;
};

const std::string kIfd0Name = "IFD 0";

std::vector<IfdCase> ifd_cases() {
  std::string pad = "possible interpolation artifacts";
  std::string non_raw =
      warning("IFD 0 CFARepeatPatternDim is not allowed in IFDs with a non-CFA PhotometricInterpretation") +
      warning("IFD 0 CFAPattern is not allowed in IFDs with a non-CFA PhotometricInterpretation") +
      warning("IFD 0 WhiteLevel is not allowed in IFDs with a non-raw PhotometricInterpretation");
  return {
      {"unchanged CFA", false, [](DngBuilder&) {}, "", true},
      {"unchanged LinearRaw", true, [](DngBuilder&) {}, "", true},
      {"NewSubFileType 2 leaves no main IFD", false, [](DngBuilder& b) { replace_long(b, 254, {2}); },
       warning("IFD 0 DefaultCropOrigin is not allowed IFDs with NewSubFileType != 0") + warning("IFD 0 DefaultCropSize is not allowed IFDs with NewSubFileType != 0") +
           error("Unable to find main image IFD"), false},
      {"ImageWidth 0", false, [](DngBuilder& b) { replace_short(b, 256, {0}); },
       error("Missing or invalid ImageWidth", kIfd0Name), false},
      {"ImageLength 0", false, [](DngBuilder& b) { replace_short(b, 257, {0}); },
       error("Missing or invalid ImageLength", kIfd0Name), false},
      {"30001 wide is a warning that fails", false, [](DngBuilder& b) { replace_long(b, 256, {30001}); },
       warning("Image size is larger than supported"), false},
      {"RGB photometric in the main IFD", false, [](DngBuilder& b) { replace_short(b, 262, {2}); },
       non_raw + error("PhotometricInterpretation requires NewSubFileType = 1", kIfd0Name), false},
      {"unknown photometric", false, [](DngBuilder& b) { replace_short(b, 262, {5}); },
       non_raw + error("Missing or invalid PhotometricInterpretation", kIfd0Name), false},
      {"CFA with five samples", false, [](DngBuilder& b) { replace_short(b, 277, {5}); },
       warning("IFD 0 WhiteLevel has unexpected count (1)") + error("Missing or invalid SamplesPerPixel", kIfd0Name), false},
      {"LinearRaw with two samples for three planes", true, [](DngBuilder& b) { replace_short(b, 277, {2}); },
       warning("IFD 0 WhiteLevel has unexpected count (3)") + error("Missing or invalid SamplesPerPixel", kIfd0Name), false},
      {"7 bits", false, [](DngBuilder& b) { replace_short(b, 258, {7}); },
       error("Missing or invalid BitsPerSample", kIfd0Name), false},
      {"33 bits", false, [](DngBuilder& b) { replace_short(b, 258, {33}); },
       error("Missing or invalid BitsPerSample", kIfd0Name), false},
      {"unequal bits", true, [](DngBuilder& b) { replace_short(b, 258, {16, 12, 16}); },
       error("BitsPerSample not equal for all samples", kIfd0Name), false},
      {"too many bits values", false, [](DngBuilder& b) { replace_short(b, 258, {16, 16}); },
       error("Too many values specified in BitsPerSample", kIfd0Name), false},
      {"BitsPerSample six times 16 is read, then too many for three samples", true,
       [](DngBuilder& b) { replace_short(b, 258, {16, 16, 16, 16, 16, 16}); },
       error("Too many values specified in BitsPerSample", kIfd0Name), false},
      {"BitsPerSample changing after the fourth throws", true,
       [](DngBuilder& b) { replace_short(b, 258, {16, 16, 16, 16, 12}); }, error("BitsPerSample not constant") + error("File format is invalid"),
       false, 100006},
      {"32-bit CFA without WhiteLevel", false,
       [](DngBuilder& b) {
         replace_short(b, 258, {32});
         b.remove(kIfd0, 50717);
       },
       "", true},
      {"lossless JPEG above 16 bits", false,
       [](DngBuilder& b) {
         replace_short(b, 258, {24});
         replace_short(b, 259, {7});
       },
       error("JPEG compression is limited to 16 bits/sample", kIfd0Name), false},
      {"compression 8", false, [](DngBuilder& b) { replace_short(b, 259, {8}); },
       error("Unsupported Compression", kIfd0Name), false},
      {"compression 0 warns and counts as 1", false, [](DngBuilder& b) { replace_short(b, 259, {0}); },
       warning("IFD 0 has invalid zero compression code"), true},
      {"predictor 2", false, [](DngBuilder& b) { replace_short(b, 317, {2}); },
       error("Unsupported Predictor", kIfd0Name), false},
      {"fill order 2", false, [](DngBuilder& b) { replace_short(b, 266, {2}); },
       error("Unsupported FillOrder", kIfd0Name), false},
      {"planar 2 with three samples", true, [](DngBuilder& b) { replace_short(b, 284, {2}); },
       error("Unsupported PlanarConfiguration", kIfd0Name), false},
      {"planar 2 with one sample becomes 1", false, [](DngBuilder& b) { replace_short(b, 284, {2}); }, "", true},
      {"extra samples", true, [](DngBuilder& b) { replace_short(b, 338, {0}); },
       error("Unsupported ExtraSamples", kIfd0Name), false},
      {"floating-point samples", false, [](DngBuilder& b) { replace_short(b, 339, {3}); },
       error("Unsupported SampleFormat", kIfd0Name), false},
      {"orientation 9", false, [](DngBuilder& b) { replace_short(b, 274, {9}); }, "", true},
      {"orientation 10", false, [](DngBuilder& b) { replace_short(b, 274, {10}); },
       error("Unknown Orientation", kIfd0Name), false},
      {"no orientation in IFD 0", false, [](DngBuilder& b) { b.remove(kIfd0, 274); },
       warning("Missing Orientation tag", kIfd0Name), true},
      {"neither strips nor tiles", false,
       [](DngBuilder& b) {
         for (uint16_t tag : {273, 278, 279}) b.remove(kIfd0, tag);
       },
       error("IFD uses neither strips nor tiles", kIfd0Name), false},
      {"strips and tiles", false, [](DngBuilder& b) { replace_short(b, 322, {16}); },
       error("IFD uses both strips and tiles", kIfd0Name), false},
      {"two strips expected, one given", false, [](DngBuilder& b) { replace_short(b, 278, {8}); },
       error("Missing or invalid Strip/TileOffsets", kIfd0Name), false},
      {"RowsPerStrip 2^32-1 is one strip", false, [](DngBuilder& b) { replace_long(b, 278, {0xFFFFFFFF}); }, "",
       true},
      {"two byte counts for one strip", false, [](DngBuilder& b) { replace_long(b, 279, {256, 256}); },
       error("Missing or invalid Strip/TileByteCounts", kIfd0Name), false},
      {"CFA pattern colour outside the planes", false,
       [](DngBuilder& b) {
         b.remove(kIfd0, 33422);
         b.add_byte(kIfd0, 33422, {0, 1, 1, 3});
       },
       error("CFAPattern contains colors not included in the CFAPlaneColor tag", kIfd0Name), false},
      {"CFA pattern without blue", false,
       [](DngBuilder& b) {
         b.remove(kIfd0, 33422);
         b.add_byte(kIfd0, 33422, {0, 1, 1, 0});
       },
       error("CFAPattern does not contain all the colors in the CFAPlaneColor tag", kIfd0Name), false},
      {"CFA layout 10", false, [](DngBuilder& b) { replace_short(b, 50711, {10}); },
       error("Invalid CFALayout", kIfd0Name), false},
      {"CFA repeat 9 x 1: pattern count warned, not taken", false,
       [](DngBuilder& b) { replace_short(b, 33421, {9, 1}); },
       warning("IFD 0 CFAPattern has unexpected count (4)") +
           error("Missing or invalid CFAPatternRepeatDim", kIfd0Name),
       false},
      {"active area below the image", false, [](DngBuilder& b) { replace_short(b, 50829, {0, 0, 17, 16}); },
       error("Invalid ActiveArea", kIfd0Name), false},
      {"active area at the int32 extremes", false,
       [](DngBuilder& b) { replace_long(b, 50829, {0x80000000u, 0x80000000u, 0x7FFFFFFF, 0x7FFFFFFF}); },
       error("Invalid ActiveArea", kIfd0Name), false},
      {"non-default active area in DNG 1.0", false,
       [](DngBuilder& b) {
         replace_short(b, 50829, {2, 2, 14, 14});
         b.remove(kIfd0, 50706);
         b.remove(kIfd0, 50707);
         b.add_byte(kIfd0, 50706, {1, 0, 0, 0});
         replace_short(b, 50719, {0, 0});
         replace_short(b, 50720, {12, 12});
       },
       error("Non-default ActiveArea tag not allowed in this DNG version", kIfd0Name), false},
      {"linearization table of 1", false, [](DngBuilder& b) { replace_short(b, 50712, {0}); },
       error("Invalidate LinearizationTable count", kIfd0Name), false},
      {"linearization table of 65536", false,
       [](DngBuilder& b) { replace_short(b, 50712, std::vector<uint16_t>(65536, 100)); }, "", true},
      {"linearization table of 65537", false,
       [](DngBuilder& b) { replace_short(b, 50712, std::vector<uint16_t>(65537, 100)); },
       error("Invalidate LinearizationTable count", kIfd0Name), false},
      {"linearization table of LONGs", false, [](DngBuilder& b) { replace_long(b, 50712, {0, 1, 2}); },
       warning("IFD 0 LinearizationTable has unexpected type (Long)") +
           error("Invalidate LinearizationTable type", kIfd0Name),
       false},
      {"black level repeat 9", false, [](DngBuilder& b) { replace_short(b, 50713, {9, 1}); },
       error("Invalid BlackLevelRepeatDim", kIfd0Name), false},
      {"black level delta H of 3 for 16 columns", false,
       [](DngBuilder& b) { b.add_srational(kIfd0, 50715, {{0, 1}, {0, 1}, {0, 1}}); },
       error("Invalid BlackLevelDeltaH count", kIfd0Name), false},
      {"white level 0", false, [](DngBuilder& b) { replace_short(b, 50717, {0}); },
       error("Invalid WhiteLevel", kIfd0Name), false},
      {"white level above 16 bits", false, [](DngBuilder& b) { replace_long(b, 50717, {70000}); },
       error("Invalid WhiteLevel", kIfd0Name), false},
      {"default scale 0", false,
       [](DngBuilder& b) { b.add_rational(kIfd0, 50718, {{0, 1}, {1, 1}}); }, error("Invalid DefaultScale"),
       false},
      {"best quality scale 1/2", false, [](DngBuilder& b) { b.add_rational(kIfd0, 50780, {{1, 2}}); },
       error("Invalid BestQualityScale"), false},
      {"crop origin at the active width", false, [](DngBuilder& b) { replace_short(b, 50719, {16, 0}); },
       error("Invalid DefaultCropOrigin"), false},
      {"crop size above the active width", false, [](DngBuilder& b) { replace_short(b, 50720, {17, 12}); },
       error("Invalid DefaultCropSize"), false},
      {"crop beyond the active area", false, [](DngBuilder& b) { replace_short(b, 50719, {8, 2}); },
       error("Default crop extends outside ActiveArea"), false},
      {"crop origin 1.5 warns of padding only", false,
       [](DngBuilder& b) {
         b.remove(kIfd0, 50719);
         b.add_rational(kIfd0, 50719, {{3, 2}, {2, 1}});
       },
       warning("Too little padding on left edge of CFA image", pad), true},
      {"default crop: padding on all edges", false,
       [](DngBuilder& b) {
         b.remove(kIfd0, 50719);
         b.remove(kIfd0, 50720);
       },
       warning("Too little padding on left edge of CFA image", pad) +
           warning("Too little padding on top edge of CFA image", pad) +
           warning("Too little padding on right edge of CFA image", pad) +
           warning("Too little padding on bottom edge of CFA image", pad),
       true},
      {"five masked areas keep four, the first overlapping the active area", false,
       [](DngBuilder& b) { b.add_short(kIfd0, 50830, std::vector<uint16_t>(20, 1)); },
       warning("Invalid MaskedArea"), true},
  };
}

TEST(DngIfdTest, ValidityRulesByTable) {
  for (const IfdCase& c : ifd_cases()) {
    DngBuilder b;
    b.add_dng_tags();
    if (c.linear_raw) {
      b.add_linear_raw_image(kIfd0);
    } else {
      b.add_cfa_image(kIfd0);
    }
    c.mutate(b);
    auto r = parse_bytes(b.build());
    EXPECT_EQ(r.code, c.code) << c.name;
    EXPECT_EQ(r.valid, c.valid) << c.name;
    EXPECT_EQ(r.err, c.transcript) << c.name;
    EXPECT_EQ(r.out_bytes, 0) << c.name;
  }
}

// Tags read by the directory: values stored, "fails: not taken" entries
// left for the other readers, and the 32-value cut of offsets.
TEST(DngIfdTest, TagTableStoresValues) {
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  replace_long(b, 279, std::vector<uint32_t>(33, 16));
  b.add_short(kIfd0, 530, {2});                        // count 1: not taken
  b.add_rational(kIfd0, 529, {{299, 1000}, {587, 1000}, {114, 1000}});
  b.add_short(kIfd0, 50830, {0, 0, 1, 16, 15, 0, 16, 16});
  replace_short(b, 50829, {1, 0, 15, 16});
  auto r = parse_bytes(b.build());
  ASSERT_EQ(r.code, 0) << r.err;
  const dng_ifd& ifd = *r.info->ifd[0];
  EXPECT_EQ(ifd.tile_byte_counts_count, 33u);
  EXPECT_EQ(ifd.tile_byte_count[0], 0u);  // more than 32: left in the file
  EXPECT_NE(ifd.tile_byte_counts_position, 0u);
  EXPECT_EQ(ifd.ycbcr_sub_sample_h, 0u);
  EXPECT_DOUBLE_EQ(ifd.ycbcr_coefficient_g, 0.587);
  EXPECT_EQ(ifd.masked_areas_count, 2u);
  EXPECT_EQ(ifd.masked_area[1], dng_box(15, 0, 16, 16));
  EXPECT_EQ(ifd.cfa_pattern[1][1], 2);
  EXPECT_EQ(ifd.white_level[0], 60000.0);
  EXPECT_NE(r.err.find(warning("IFD 0 YCbCrSubSampling has unexpected count (1)")), std::string::npos) << r.err;
}

// Geometry in 64 bits: sizes that wrap 32-bit arithmetic.
TEST(DngIfdTest, GeometryDoesNotWrap) {
  dng_ifd ifd;
  ifd.image_width = 30000;
  ifd.image_length = 30000;
  ifd.samples_per_pixel = 4;
  ifd.bits_per_sample[0] = 32;
  EXPECT_EQ(ifd.UncompressedTileBytes(dng_box(0, 0, 30000, 30000)), uint64_t{30000} * 30000 * 16);
  ifd.compression = 7;
  EXPECT_EQ(ifd.UncompressedTileBytes(dng_box(0, 0, 30000, 30000)), 0u);

  dng_ifd tiles;
  tiles.image_width = 16;
  tiles.image_length = 16;
  tiles.tile_width = 1u << 30;
  tiles.tile_length = 0xFFFFFFFF;
  tiles.uses_tiles = true;
  EXPECT_EQ(tiles.TileCount(), 1u);
  dng_tile_bounds far = tiles.TileBounds(0xFFFFFFFF, 0xFFFFFFFF);
  EXPECT_EQ(far.top, INT64_MAX);  // (2^32 - 1)^2 is beyond int64
  EXPECT_GT(far.left, 0);
  EXPECT_LE(far.left, far.right);

  dng_ifd bits;
  bits.bits_per_sample[0] = 65535;
  bits.FinishParse();
  EXPECT_GT(bits.white_level[0], 4294967295.0);
  dng_ifd b32;
  b32.bits_per_sample[0] = 32;
  b32.FinishParse();
  EXPECT_EQ(b32.white_level[0], 4294967295.0);
}

}  // namespace
