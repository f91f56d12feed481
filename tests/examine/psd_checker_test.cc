// The PSD checker's main paths, every failure text, the edge cases that
// decide whether real files pass, and the real fixtures.
#include "examine/psd_checker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "support/psd_builder.h"
#include "support/temp_folder.h"

using testing_support::captured_print;
using testing_support::capture_print;
using testing_support::PsdBuilder;
using testing_support::PsdExtraBlock;
using testing_support::PsdLayer;
using testing_support::PsdLayout;
using testing_support::PsdMask;
using testing_support::PsdRect;
using testing_support::PsdResource;

namespace {

struct Outcome {
  bool ok;
  std::string error;
  std::string dump;
};

Outcome check(const std::string& bytes) {
  captured_print().clear();
  PsdPrintScope scope(capture_print);
  const char* error = nullptr;
  bool ok = verifyPSDMemory(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), "test.psd", &error);
  return {ok, error, captured_print()};
}

Outcome check_file(const std::string& path) {
  captured_print().clear();
  PsdPrintScope scope(capture_print);
  const char* error = nullptr;
  bool ok = verifyPSD(path.c_str(), &error);
  return {ok, error, captured_print()};
}

std::string fixture(const std::string& name) {
  return std::string(CORVELLA_FIXTURES) + "/psd/" + name;
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// A 4x3 RGB file with one resource and one RLE layer with a 20-byte mask,
// RLE merged image.
PsdBuilder layered_file() {
  PsdBuilder b(3, 3, 4);
  b.resources.push_back({"8BIM", 0x03ed, "", std::string(16, '\x01'), std::nullopt});
  PsdLayer layer = testing_support::rle_layer({0, 0, 3, 4}, 3, true, "Layer 1");
  layer.extra.push_back({"8BIM", "luni", std::string(12, '\0'), std::nullopt});
  b.layers.push_back(layer);
  b.set_rle_image(b.sample_rows());
  return b;
}

// Rows of the given size for a mask channel.
std::string mask_rows(int width, int height) {
  return testing_support::rle_channel(std::vector<std::string>(height, std::string(width, '\xff')));
}

TEST(PsdChecker, MinimalRawFileChecksOut) {
  Outcome r = check(PsdBuilder(3, 2, 5).build());
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(contains(r.dump, "\tImage Data OK\n"));
}

TEST(PsdChecker, LayeredRleFileChecksOut) {
  Outcome r = check(layered_file().build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
}

TEST(PsdChecker, GoldenDump) {
  PsdBuilder b(3, 2, 4);
  b.resources.push_back({"8BIM", 0x0404, "ab", "xyz", std::nullopt});
  PsdLayer layer = testing_support::rle_layer({0, 0, 2, 4}, 1, false, "Bg");
  PsdMask mask;
  mask.rect = {0, 0, 1, 2};
  mask.default_color = 255;
  layer.mask = mask;
  layer.channels.push_back({-2, mask_rows(2, 1), std::nullopt});
  layer.extra.push_back({"8BIM", "lyid", std::string(4, '\0'), std::nullopt});
  b.layers.push_back(layer);
  b.set_rle_image(b.sample_rows());
  Outcome r = check(b.build());
  ASSERT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_EQ(r.dump,
            "\n\nFile test.psd\n"
            "\nHeader:\n"
            "\tSignature: 8BPS\n"
            "\tVersion: 1\n"
            "\tReserved: 0 0 0 0 0 0\n"
            "\tChannels: 3\n"
            "\tRows: 2\n"
            "\tColumns: 4\n"
            "\tDepth: 8\n"
            "\tMode: 3 (RGB color)\n"
            "\nColor Mode Data Block (at 26):\n"
            "\tlength: 0\n"
            "\nImage Resource Blocks (at 30):\n"
            "\tlength: 18\n"
            "\tType: 8BIM; ID = 0x404; Name: ab; size: 3\n"
            "\nLayer and Mask Information (at 52):\n"
            "\tLayer and Mask length: 128\n"
            "\tLayer Info length: 120\n"
            "\tNumber of layers: 1\n"
            "\tFirst alpha channel contains the transparency data: false\n"
            "\n\tLayer 0\n"
            "\t\tRect: 0 0 2 4; channels: 2\n"
            "\t\t\tChannel 0: ID = 0; channelLen = 16\n"
            "\t\t\tChannel 1: ID = -2; channelLen = 7\n"
            "\t\tBlend Mode Signature: 8BIM\n"
            "\t\tBlend Mode Key: norm\n"
            "\t\topacity, clipping, flags: 255 0 0\n"
            "\t\tExtra Data Size: 48\n"
            "\t\tLayer Mask Data Size: 20\n"
            "\t\tLayer Mask Rect: 0 0 1 2\n"
            "\t\tDefault color: 255\n"
            "\t\tFlags: 0\n"
            "\t\tLayer Blending Ranges Length: 0\n"
            "\t\tLayer name: Bg\n"
            "\n\t\tAdditional Layer Data\n"
            "\t\t\tKey = lyid; len = 4\n"
            "\n\tLayer 0 Channel Data:\n"
            "\t\tChannel 0\n"
            "\t\t\tCompression: 1\n"
            "\t\tChannel 1\n"
            "\t\t\tCompression: 1\n"
            "\n\tLayer Image Data not checked\n"
            "\t(Layer Info len doesn't match length of layer data (120 119; diff = 1))\n"
            "\t(Seeking to even location)\n"
            "\tGlobalLayerMaskInfoLen: 0\n"
            "\nImage Data (at 184):\n"
            "\tCompression: 1\n"
            "\tImage Data OK\n");
}

// One row per failure text: a file that fails there, and the text.
struct FailureCase {
  const char* name;
  std::function<std::string()> file;
  std::string error;
};

std::string cut(const std::string& data, size_t length) { return data.substr(0, length); }

std::string with_u32(std::string data, size_t offset, uint32_t value) {
  testing_support::poke_u32(&data, offset, value);
  return data;
}

// The layered file cut just before the field at `field` bytes into the
// first layer record.
std::string layer_cut(size_t field) {
  PsdLayout l;
  std::string data = layered_file().build(&l);
  return cut(data, l.layer_records + field);
}

const std::vector<FailureCase>& failure_cases() {
  static const std::vector<FailureCase> cases = {
      {"NoSignature", [] { return std::string("8BP"); }, "Failed to read signature"},
      {"BadSignature", [] { std::string d = PsdBuilder(3, 1, 1).build(); return d.replace(0, 4, "GIF8"); },
       "Bad Signature (GIF8) -- should be 8BPS"},
      {"NoVersion", [] { return cut(PsdBuilder(3, 1, 1).build(), 5); }, "Failed to read version"},
      {"NoReserved", [] { return cut(PsdBuilder(3, 1, 1).build(), 11); }, "Failed to read reserved"},
      {"NoChannels", [] { return cut(PsdBuilder(3, 1, 1).build(), 13); }, "Failed to read channels"},
      {"NoRows", [] { return cut(PsdBuilder(3, 1, 1).build(), 17); }, "Failed to read rows"},
      {"NoColumns", [] { return cut(PsdBuilder(3, 1, 1).build(), 21); }, "Failed to read columns"},
      {"NoDepth", [] { return cut(PsdBuilder(3, 1, 1).build(), 23); }, "Failed to read depth"},
      {"NoMode", [] { return cut(PsdBuilder(3, 1, 1).build(), 25); }, "Failed to read mode"},
      {"NoColorModeLength", [] { return cut(PsdBuilder(3, 1, 1).build(), 28); },
       "Failed to read Color Mode Data Block length"},
      {"IndexedWithoutPalette", [] { PsdBuilder b(1, 1, 1); b.mode = 2; return b.build(); },
       "Wrong length -- supposed to be 768 when mode is 2"},
      {"RgbWithPalette", [] { PsdBuilder b(3, 1, 1); b.color_mode_data.assign(768, '\0'); return b.build(); },
       "Wrong length -- supposed to be 0"},
      {"DuotoneDataPastEnd", [] { PsdBuilder b(1, 1, 1); b.mode = 8; b.color_mode_length_override = 1000;
                                  return b.build(); },
       "Can't seek (1)"},
      {"NoResourcesLength", [] { return cut(PsdBuilder(3, 1, 1).build(), 32); },
       "Failed to read Image Resource Block length"},
      {"NoResourceType", [] { PsdBuilder b(3, 1, 1); b.resources_length_override = 100; return cut(b.build(), 36); },
       "Failed to read Image Resource Block Type"},
      {"NoResourceId", [] { PsdBuilder b(3, 1, 1); b.resources.push_back({}); return cut(b.build(), 39); },
       "Failed to read Image Resource Block ID"},
      {"NoResourceNameLength", [] { PsdBuilder b(3, 1, 1); b.resources.push_back({}); return cut(b.build(), 40); },
       "Failed to read Image Resource Block name Len"},
      {"NoResourceName",
       [] { PsdBuilder b(3, 1, 1); b.resources.push_back({"8BIM", 1, "name", "", std::nullopt});
            return cut(b.build(), 43); },
       "Failed to read Image Resource Block name"},
      {"NoResourceNamePad",
       [] { PsdBuilder b(3, 1, 1); b.resources.push_back({"8BIM", 1, "ab", "", std::nullopt});
            return cut(b.build(), 43); },
       "Can't seek (2)"},
      {"NoResourceSize", [] { PsdBuilder b(3, 1, 1); b.resources.push_back({}); return cut(b.build(), 44); },
       "Failed to read Image Resource Block size"},
      {"ResourceDataPastEnd",
       [] { PsdBuilder b(3, 1, 1); b.resources.push_back({"8BIM", 1, "", "abcd", 0xFFFFFFF4u}); return b.build(); },
       "Can't seek (3)"},
      {"ResourcesLongerThanSection",
       [] { PsdBuilder b(3, 1, 1); b.resources.push_back({"8BIM", 1, "", "abcd", std::nullopt});
            b.resources_length_override = 10; return b.build(); },
       "IRBs total 16 bytes; should be 10"},
      {"NoLayerMaskLength", [] { return cut(PsdBuilder(3, 1, 1).build(), 36); },
       "Failed to read Layer and Mask Information length"},
      {"NoLayerInfoLength", [] { PsdBuilder b = layered_file(); b.layer_mask_length_override = 2; return b.build(); },
       "Failed to read Layer Information length"},
      {"LayerInfoPastSection",
       [] { PsdBuilder b = layered_file(); b.layer_info_length_override = 0x7FFFFFFF; return b.build(); },
       "Layer Info length (2147483647) runs past its section (196 bytes left)"},
      {"NoLayerCount", [] { PsdBuilder b = layered_file(); b.layer_info_length_override = 1; return b.build(); },
       "Failed to read number of layers"},
      {"NoLayerRect", [] { return layer_cut(15); }, "Failed to read layer info (1)"},
      {"NoChannelRecord", [] { return layer_cut(18 + 5); }, "Failed to read channel len data"},
      {"NoBlendMode", [] { return layer_cut(18 + 24 + 7); }, "Failed to read blend mode sig and key"},
      {"NoOpacity", [] { return layer_cut(18 + 24 + 8 + 2); }, "Failed to read opacity, clipping, or flags"},
      {"NoFiller", [] { return layer_cut(18 + 24 + 11); }, "Failed to read pad byte"},
      {"NoExtraSize", [] { return layer_cut(18 + 24 + 12 + 3); }, "Failed to read Extra Data Size"},
      {"NoMaskSize", [] { return layer_cut(18 + 24 + 16 + 3); }, "Failed to read Layer Mask Size"},
      {"BadBlendSignature",
       [] { PsdBuilder b = layered_file(); b.layers[0].blend_signature = "MIB8"; return b.build(); },
       "Bad Blend Mode Signature (MIB8) -- should be 8BIM"},
      {"BadLayerRect",
       [] { PsdBuilder b = layered_file(); b.layers[0].rect = {5, 0, 2, 4}; return b.build(); },
       "Bad layer rectangle (5 0 2 4)"},
      {"NoBlendingRangesLength", [] { return layer_cut(18 + 24 + 20 + 3); }, "Failed to read layerBlendingRangeslen"},
      {"BlendingRangesPastFile",
       [] { PsdBuilder b = layered_file(); b.layers[0].blending_ranges.assign(40, '\0'); PsdLayout l;
            std::string d = b.build(&l); return cut(d, l.layer_records + 18 + 24 + 24 + 10); },
       "Failed to seek past Layer Blending Ranges"},
      {"NoLayerNameLength", [] { return layer_cut(18 + 24 + 24); }, "Failed to read layer name Len"},
      {"NoLayerName", [] { return layer_cut(18 + 24 + 24 + 3); }, "Failed to read layer name"},
      {"NoLayerNamePad",
       [] { PsdBuilder b = layered_file(); b.layers[0].name = "ab"; PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.layer_records + 18 + 24 + 24 + 3); },
       "Failed to seek past layer name"},
      {"NoExtraSignature", [] { return layer_cut(18 + 24 + 24 + 8 + 2); }, "Failed to read extra signature"},
      {"BadExtraSignature",
       [] { PsdBuilder b = layered_file(); b.layers[0].extra[0].signature = "8B64"; return b.build(); },
       "Extra layer info has bad signature (8B64)"},
      {"NoExtraKey", [] { return layer_cut(18 + 24 + 24 + 8 + 6); }, "Failed to read extra key"},
      {"NoExtraLength", [] { return layer_cut(18 + 24 + 24 + 8 + 10); }, "Failed to read extra stuff len"},
      {"NoExtraData", [] { return layer_cut(18 + 24 + 24 + 8 + 12 + 5); }, "Failed to seek past extra data"},
      {"ExtraBlockTooLong",
       [] { PsdBuilder b = layered_file(); b.layers[0].extra[0].length_override = 0xFFFFFFF4u; return b.build(); },
       "Additional layer data has wrong length"},
      {"ExtraSizeTooShort",
       [] { PsdBuilder b = layered_file(); b.layers[0].extra_size_override = 20; return b.build(); },
       "Additional layer data has wrong length"},
      {"MaskLongerThanExtraData",
       [] { PsdBuilder b = layered_file(); b.layers[0].mask_size_override = 0x80000000u; return b.build(); },
       "Additional layer data has wrong length"},
      {"NoMaskRect",
       [] { PsdBuilder b = layered_file(); b.layers[0].mask = PsdMask(); PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.layer_records + 18 + 24 + 20 + 10); },
       "Failed to layer mask rectangle"},
      {"NoMaskColor",
       [] { PsdBuilder b = layered_file(); b.layers[0].mask = PsdMask(); PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.layer_records + 18 + 24 + 20 + 16); },
       "Failed to read default color"},
      {"NoMaskFlags",
       [] { PsdBuilder b = layered_file(); b.layers[0].mask = PsdMask(); PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.layer_records + 18 + 24 + 20 + 17); },
       "Failed to read flags"},
      {"NoMaskPad",
       [] { PsdBuilder b = layered_file(); b.layers[0].mask = PsdMask(); PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.layer_records + 18 + 24 + 20 + 19); },
       "Failed to read pad bytes"},
      {"BadMaskRect",
       [] { PsdBuilder b = layered_file(); PsdMask m; m.rect = {0, 9, 1, 2}; b.layers[0].mask = m; return b.build(); },
       "Bad layer mask rectangle (0 9 1 2)"},
      {"NoChannelCompression",
       [] { PsdLayout l; std::string d = layered_file().build(&l); return cut(d, l.channel_data + 1); },
       "Failed to read compression in channel image data"},
      {"NoRawChannelData",
       [] { PsdBuilder b = layered_file(); b.layers[0].channels.back().data = testing_support::raw_channel("abc");
            return b.build(); },
       "Failed to read channel image data"},
      {"NoRleLineCounts",
       [] { PsdLayout l; std::string d = layered_file().build(&l); return cut(d, l.channel_data + 5); },
       "Failed to read RLE line count"},
      {"NoRleLine",
       [] { PsdLayout l; std::string d = layered_file().build(&l); return cut(d, l.channel_data + 2 + 6 + 1); },
       "Failed to read RLE packed data line (reading 5 bytes)"},
      {"GlobalMaskPastSection",
       [] { PsdBuilder b = layered_file(); b.global_mask = "abcd"; PsdLayout l; std::string d = b.build(&l);
            return with_u32(d, l.global_mask_length, 6); },
       "Failed to seek past GlobalLayerMaskInfo"},
      {"NoImageData", [] { return PsdBuilder(3, 1, 1).build().substr(0, 39); },
       "Failed to get compression for image data"},
      {"LayerSectionPastFile",
       [] { PsdBuilder b = layered_file(); b.layer_mask_length_override = 0xFFFFFFFF; return b.build(); },
       "Failed to get compression for image data"},
      {"NoRawImageData", [] { std::string d = PsdBuilder(3, 2, 2).build(); return cut(d, d.size() - 1); },
       "Failed to read channel image data"},
      {"NoImageLineCounts",
       [] { PsdBuilder b(3, 2, 2); b.set_rle_image(b.sample_rows()); PsdLayout l; std::string d = b.build(&l);
            return cut(d, l.image_data + 2 + 11); },
       "Failed to read RLE line count"},
      {"NoImageLine",
       [] { PsdBuilder b(3, 2, 2); b.set_rle_image(b.sample_rows()); std::string d = b.build();
            return cut(d, d.size() - 1); },
       "Failed to read RLE packed data line"},
      {"ImageRowOneShort",
       [] { PsdBuilder b(1, 1, 4); b.set_rle_image({{"abc"}}); return b.build(); },
       "Wrong expanded width (columns = 4; expanded = 3)"},
      {"ImageCompressionZip", [] { PsdBuilder b(3, 1, 1); b.image_compression = 2; return b.build(); },
       "Invalid compression code in channel image data"},
  };
  return cases;
}

class PsdFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(PsdFailure, GivesItsText) {
  Outcome r = check(GetParam().file());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, GetParam().error);
  EXPECT_LE(r.error.size(), 99u);
  EXPECT_TRUE(contains(r.dump, "\nVerification Error: " + GetParam().error + "\n")) << r.dump;
}

INSTANTIATE_TEST_SUITE_P(Texts, PsdFailure, ::testing::ValuesIn(failure_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PsdChecker, ResourceOfAnotherTypePrintsAndGoesOn) {
  PsdBuilder b(3, 1, 1);
  b.resources.push_back({"MeSa", 0x0400, "", "ab", std::nullopt});
  b.resources.push_back({"8BIM", 0x0401, "", "cd", std::nullopt});
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(contains(r.dump, "Bad Type MeSa -- should be 8BIM\tType: MeSa; ID = 0x400; Name: ; size: 2\n"));
  EXPECT_TRUE(contains(r.dump, "\tType: 8BIM; ID = 0x401;"));
}

TEST(PsdChecker, ColorModeDataRules) {
  PsdBuilder indexed(1, 2, 2);
  indexed.mode = 2;
  indexed.color_mode_data.assign(768, '\x07');
  EXPECT_TRUE(check(indexed.build()).ok);
  PsdBuilder duotone(1, 2, 2);
  duotone.mode = 8;
  duotone.color_mode_data.assign(524, '\x01');
  EXPECT_TRUE(check(duotone.build()).ok);
}

TEST(PsdChecker, ModeNames) {
  const std::vector<std::pair<int, std::string>> names = {
      {0, "Bitmap (monochrome)"}, {1, "Gray-scale"}, {2, "Indexed color (palette color)"}, {3, "RGB color"},
      {4, "CMYK color"}, {5, "[unknown mode]"}, {6, "[unknown mode]"}, {7, "Multichannel color"},
      {8, "Duotone (halftone)"}, {9, "Lab color"}, {10, "[unknown mode]"}, {-1, "[unknown mode]"},
  };
  for (const auto& [mode, name] : names) {
    PsdBuilder b(1, 1, 1);
    b.mode = static_cast<uint16_t>(mode);
    Outcome r = check(b.build());
    EXPECT_TRUE(contains(r.dump, "\tMode: " + std::to_string(mode) + " (" + name + ")\n")) << mode;
  }
}

TEST(PsdChecker, ValidFileAfterInvalidOneHasEmptyError) {
  EXPECT_FALSE(check("8BPX").ok);
  Outcome r = check(PsdBuilder(3, 1, 1).build());
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, "");
}

TEST(PsdChecker, NegativeLayerCountMeansTransparencyInFirstAlpha) {
  PsdBuilder b(3, 2, 2);
  b.layers.push_back(testing_support::rle_layer({0, 0, 2, 2}, 3, true, "one"));
  b.layers.push_back(testing_support::rle_layer({0, 0, 1, 2}, 3, true, "two"));
  b.first_alpha_is_transparency = true;
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(contains(r.dump, "\tNumber of layers: 2\n\tFirst alpha channel contains the transparency data: true\n"));
  EXPECT_TRUE(contains(r.dump, "\n\tLayer 1\n"));
  EXPECT_TRUE(contains(r.dump, "\n\tLayer 1 Channel Data:\n"));
}

TEST(PsdChecker, LongMaskRecordWithRealMaskIsReadBySize) {
  // 36-byte record: the real user mask's rectangle sizes channel -3, the
  // user mask's rectangle channel -2, the layer's rectangle the others.
  PsdBuilder b(3, 4, 6);
  PsdLayer layer = testing_support::rle_layer({0, 0, 4, 6}, 3, true, "masked");
  PsdMask mask;
  mask.rect = {1, 1, 3, 3};
  mask.real_rect = PsdRect{0, 0, 4, 5};
  layer.mask = mask;
  layer.channels.push_back({-2, mask_rows(2, 2), std::nullopt});
  layer.channels.push_back({-3, mask_rows(5, 4), std::nullopt});
  b.layers.push_back(layer);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_TRUE(contains(r.dump, "\t\tLayer Mask Data Size: 36\n\t\tLayer Mask Rect: 1 1 3 3\n"));
  EXPECT_FALSE(contains(r.dump, "doesn't match"));
}

TEST(PsdChecker, MaskRecordWithParametersAndTrailingBytes) {
  PsdBuilder b(3, 2, 2);
  PsdLayer layer = testing_support::rle_layer({0, 0, 2, 2}, 3, false, "params");
  PsdMask mask;
  mask.rect = {0, 0, 1, 1};
  mask.flags = 0x10;
  mask.parameters = std::string("\x03\x80", 2) + std::string(8, '\0');  // user density and feather
  mask.real_rect = PsdRect{0, 0, 2, 1};
  mask.trailing = "tail";
  layer.mask = mask;
  layer.channels.push_back({-2, mask_rows(1, 1), std::nullopt});
  layer.channels.push_back({-3, mask_rows(1, 2), std::nullopt});
  b.layers.push_back(layer);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_TRUE(contains(r.dump, "\t\tLayer Mask Data Size: 50\n"));
}

TEST(PsdChecker, AdjustmentLayerWithEmptyRectAndFullMask) {
  PsdBuilder b(3, 3, 4);
  PsdLayer adjustment;
  adjustment.rect = {0, 0, 0, 0};
  adjustment.name = "Levels 1";
  for (int16_t id : {-1, 0, 1, 2}) adjustment.channels.push_back({id, std::string("\0\1", 2), std::nullopt});
  PsdMask mask;
  mask.rect = {0, 0, 3, 4};
  mask.default_color = 255;
  adjustment.mask = mask;
  adjustment.channels.push_back({-2, mask_rows(4, 3), std::nullopt});
  adjustment.extra.push_back({"8BIM", "levl", std::string(40, '\0'), std::nullopt});
  b.layers.push_back(testing_support::rle_layer({0, 0, 3, 4}, 3, true, "Background"));
  b.layers.push_back(adjustment);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_FALSE(contains(r.dump, "doesn't match"));
}

TEST(PsdChecker, ChannelOfOtherCompressionIsSkippedByItsLength) {
  PsdBuilder b(3, 2, 2);
  PsdLayer layer = testing_support::rle_layer({0, 0, 2, 2}, 3, false, "zip");
  layer.channels[1].data = std::string("\0\3", 2) + "deflated bytes";
  b.layers.push_back(layer);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_TRUE(contains(r.dump, "\t\t\tCompression: 3\n\t\tChannel 2\n\t\t\tCompression: 1\n"));
}

TEST(PsdChecker, SectionWithoutGlobalMaskInformation) {
  // The section ends after the layer information, or leaves fewer bytes
  // than a global layer mask length takes.
  for (std::string spare : {std::string(), std::string(1, '\0'), std::string("\x01\x02"), std::string(3, '\0')}) {
    PsdBuilder b = layered_file();
    b.omit_global_mask = true;
    b.after_global_mask = spare;
    Outcome r = check(b.build());
    EXPECT_TRUE(r.ok) << spare.size() << ": " << r.error << r.dump;
    EXPECT_FALSE(contains(r.dump, "GlobalLayerMaskInfoLen")) << spare.size();
    EXPECT_TRUE(contains(r.dump, "\t(No global layer mask information: " + std::to_string(spare.size()) +
                                     " bytes left in the section)\n"))
        << r.dump;
  }
  // Four bytes are a length, and what it counts must be there.
  PsdBuilder b = layered_file();
  b.omit_global_mask = true;
  b.after_global_mask = std::string("\0\0\0\x09", 4);
  Outcome r = check(b.build());
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Failed to seek past GlobalLayerMaskInfo");
}

TEST(PsdChecker, ThirtyTwoBitDocumentsKeepColourModeDataAndFourByteSamples) {
  // Rows of 32-bit samples: 4 bytes per sample, channel after channel.
  auto float_document = [](uint64_t image_bytes) {
    PsdBuilder b(3, 2, 5);
    b.depth = 32;
    b.color_mode_data = std::string(112, '\x07');
    b.image_compression = 0;
    b.image_data = std::string(image_bytes, '\x3f');
    return b.build();
  };
  Outcome whole = check(float_document(3 * 2 * 5 * 4));
  EXPECT_TRUE(whole.ok) << whole.error << whole.dump;
  EXPECT_TRUE(contains(whole.dump, "\tDepth: 32\n"));
  EXPECT_TRUE(contains(whole.dump, "\tlength: 112\n"));
  Outcome short_by_a_sample = check(float_document(3 * 2 * 5 * 4 - 4));
  EXPECT_FALSE(short_by_a_sample.ok);
  EXPECT_EQ(short_by_a_sample.error, "Failed to read channel image data");
  // Other depths still keep the section empty.
  PsdBuilder sixteen(3, 1, 1);
  sixteen.depth = 16;
  sixteen.color_mode_data = std::string(112, '\x07');
  EXPECT_EQ(check(sixteen.build()).error, "Wrong length -- supposed to be 0");
}

TEST(PsdChecker, OddLayerInformationIsFollowedByAPadByte) {
  PsdBuilder b = layered_file();
  b.global_mask = "abcd";
  PsdLayout l;
  b.build(&l);
  // Duotone takes colour mode data of any length: one byte makes the layer
  // data end on an odd offset.
  if (l.global_mask_length % 2 == 0) {
    b.mode = 8;
    b.color_mode_data = "x";
  }
  // A pad byte that the layer information length does not count.
  b.layer_info_padding = std::string(1, '\0');
  b.pad_layer_info = false;
  b.build(&l);
  b.layer_info_length_override = static_cast<uint32_t>(l.global_mask_length - (l.layer_info_length + 4) - 1);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_FALSE(contains(r.dump, "doesn't match"));
  EXPECT_TRUE(contains(r.dump, "\t(Seeking to even location)\n\tGlobalLayerMaskInfoLen: 4\n"));
}

TEST(PsdChecker, PaddedLayerInformationPrintsTheDifference) {
  PsdBuilder b = layered_file();
  b.layer_info_padding = std::string(2, '\0');
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(contains(r.dump, "; diff = 2))\n"));
}

TEST(PsdChecker, SamplesWiderOrNarrowerThanAByte) {
  // 16-bit rows hold two bytes per column; 1-bit rows a bit per column,
  // rounded up to whole bytes.
  PsdBuilder deep(3, 2, 3);
  deep.depth = 16;
  std::vector<std::vector<std::string>> rows(3, std::vector<std::string>(2, std::string(6, '\x10')));
  deep.set_rle_image(rows);
  EXPECT_TRUE(check(deep.build()).ok);
  deep.set_raw_image(rows);
  EXPECT_TRUE(check(deep.build()).ok);

  PsdBuilder bitmap(1, 2, 9);
  bitmap.depth = 1;
  bitmap.mode = 0;
  bitmap.set_raw_image({{"ab", "cd"}});
  Outcome r = check(bitmap.build());
  EXPECT_TRUE(r.ok) << r.error;
  bitmap.set_rle_image({{"ab", "c"}});
  EXPECT_EQ(check(bitmap.build()).error, "Wrong expanded width (columns = 2; expanded = 1)");
}

TEST(PsdChecker, NoOpHeaderInPackedRows) {
  PsdBuilder b(1, 1, 3);
  b.image_compression = 1;
  b.image_data = std::string("\0\6", 2) + std::string("\x80\x02" "abc" "\x80", 6);
  Outcome r = check(b.build());
  EXPECT_TRUE(r.ok) << r.error;
}

TEST(PsdChecker, HostileLengthsEndWithoutHanging) {
  // Lengths that read as negative numbers once sent a block back to its
  // own start; each must now fail once, quickly.
  for (uint32_t length : {0xFFFFFFF4u, 0x80000000u, 0xFFFFFFFFu}) {
    PsdBuilder b(3, 1, 1);
    b.resources.push_back({"8BIM", 1, "", "abcdabcdabcd", length});
    EXPECT_EQ(check(b.build()).error, "Can't seek (3)") << length;
    PsdBuilder e = layered_file();
    e.layers[0].extra[0].length_override = length;
    EXPECT_EQ(check(e.build()).error, "Additional layer data has wrong length") << length;
  }
}

TEST(PsdChecker, HugeDimensionsAreRefusedBeforeAllocating) {
  for (uint16_t compression : {0, 1}) {
    PsdBuilder b(0xFFFF, 0xFFFFFFFF, 0xFFFFFFFF);
    b.depth = 0xFFFF;
    b.image_compression = compression;
    b.image_data = std::string(64, '\x01');
    Outcome r = check(b.build());
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, compression == 0 ? "Failed to read channel image data" : "Failed to read RLE line count");
    EXPECT_LT(psd::lastCheckWorkBytes(), 1u << 20);
  }
  PsdBuilder layer_file = layered_file();
  layer_file.layers[0].rect = {-2147483647 - 1, -2147483647 - 1, 2147483647, 2147483647};
  Outcome r = check(layer_file.build());
  EXPECT_EQ(r.error, "Failed to read RLE line count");
  EXPECT_LT(psd::lastCheckWorkBytes(), 1u << 20);
}

TEST(PsdChecker, ManyLayersAndChannelsCostOnlyTheBytesThatHoldThem) {
  PsdBuilder b = layered_file();
  PsdLayout l;
  std::string data = b.build(&l);
  testing_support::poke_u16(&data, l.layer_records - 2, 0x7FFF);        // layer count
  testing_support::poke_u16(&data, l.layer_records + 16, 0xFFFF);       // channels of layer 0
  Outcome r = check(data);
  EXPECT_FALSE(r.ok);
  EXPECT_LT(psd::lastCheckWorkBytes(), data.size() * 8 + (1u << 17));
}

TEST(PsdChecker, FileThatCannotBeOpenedGivesCantOpen) {
  testing_support::TempFolder folder;
  Outcome missing = check_file(folder.sub("missing.psd"));
  EXPECT_FALSE(missing.ok);
  EXPECT_EQ(missing.error, "can't open");
  EXPECT_TRUE(contains(missing.dump, "\nVerification Error: can't open\n"));
  Outcome dir = check_file(folder.path());
  EXPECT_FALSE(dir.ok);
  EXPECT_EQ(dir.error, "can't open");
}

TEST(PsdChecker, FileAndMemoryChecksAgree) {
  testing_support::TempFolder folder;
  std::vector<std::string> files = {layered_file().build(), PsdBuilder(3, 2, 2).build(),
                                    layered_file().build().substr(0, 150)};
  for (size_t i = 0; i < files.size(); ++i) {
    std::string path = folder.write_file("f" + std::to_string(i) + ".psd", files[i]);
    Outcome from_file = check_file(path);
    Outcome from_memory = check(files[i]);
    EXPECT_EQ(from_file.ok, from_memory.ok);
    EXPECT_EQ(from_file.error, from_memory.error);
  }
}

TEST(PsdChecker, LargeFileReadsAcrossTheReadAhead) {
  // Rows bigger than the file source's read-ahead and a merged image that
  // ends far beyond it.
  PsdBuilder b(3, 40, 3000);
  b.set_rle_image(b.sample_rows());
  testing_support::TempFolder folder;
  Outcome r = check_file(folder.write_file("big.psd", b.build()));
  EXPECT_TRUE(r.ok) << r.error;
}

TEST(PsdChecker, SilentHookWritesNothingToStandardOutput) {
  testing_support::TempFolder folder;
  std::string good = folder.write_file("good.psd", layered_file().build());
  std::string bad = folder.write_file("bad.psd", layered_file().build().substr(0, 120));
  std::string captured = folder.sub("stdout.txt");
  fflush(stdout);
  int saved = dup(1);
  int sink = open(captured.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(sink, 0);
  dup2(sink, 1);
  const char* error;
  bool good_ok = verifyPSD(good.c_str(), &error);
  bool bad_ok = verifyPSD(bad.c_str(), &error);
  bool missing_ok = verifyPSD(folder.sub("none.psd").c_str(), &error);
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  close(sink);
  EXPECT_TRUE(good_ok);
  EXPECT_FALSE(bad_ok);
  EXPECT_FALSE(missing_ok);
  EXPECT_EQ(testing_support::read_file(captured), "");
}

TEST(PsdChecker, PrintScopeRestoresTheHook) {
  EXPECT_EQ(psd_print, psd_print_nothing);
  {
    PsdPrintScope scope(capture_print);
    EXPECT_EQ(psd_print, capture_print);
  }
  EXPECT_EQ(psd_print, psd_print_nothing);
}

TEST(PsdPackedLine, CountsExpandedBytes) {
  struct Case {
    std::string packed;
    uint64_t expanded;
  };
  const std::vector<Case> cases = {
      {"", 0},
      {std::string("\x00" "a", 2), 1},
      {std::string("\x02" "abc", 4), 3},
      {std::string("\xff" "a", 2), 2},
      {std::string("\x81" "a", 2), 128},
      {std::string("\x80", 1), 0},                       // no-op
      {std::string("\x80\x80\x01" "ab", 5), 2},          // no-ops around a literal
      {std::string("\x7f", 1) + std::string(128, 'x'), 128},
      {std::string("\x03" "ab", 3), 0},                  // literal past the end adds nothing
      {std::string("\x01" "ab" "\xfe", 4), 2},           // repeat without its byte adds nothing
      {std::string("\xfd" "z" "\x00" "q", 4), 5},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(checkPackedLine(reinterpret_cast<const uint8_t*>(c.packed.data()), c.packed.size()), c.expanded)
        << testing::PrintToString(c.packed);
  }
}

TEST(PsdPackedLine, BuilderRowsExpandToTheirWidth) {
  for (const std::string& row : {std::string(300, 'a'), std::string("abcabcabc"), std::string("aaabbbbcd"),
                                 std::string(129, 'q') + "xyz" + std::string(2, 'r')}) {
    std::string packed = testing_support::packbits(row);
    EXPECT_EQ(checkPackedLine(reinterpret_cast<const uint8_t*>(packed.data()), packed.size()), row.size());
  }
}

class PsdFixture : public ::testing::TestWithParam<const char*> {};

TEST_P(PsdFixture, ChecksClean) {
  Outcome r = check_file(fixture(GetParam()));
  EXPECT_TRUE(r.ok) << r.error << r.dump;
  EXPECT_EQ(r.error, "");
  EXPECT_TRUE(contains(r.dump, "\tImage Data OK\n"));
}

INSTANTIATE_TEST_SUITE_P(Real, PsdFixture,
                         ::testing::Values("bitmap_1bit_raw_4x4.psd", "duotone_8bit_raw_4x4.psd",
                                           "grayscale_8bit_rle.psd", "indexed_8bit_raw_4x4.psd",
                                           "lab_8bit_raw_4x4.psd", "multichannel_16bit_raw_4x4.psd",
                                           "rgb_8bit_rle_layers.psd", "rgb_8bit_rle_layers_hopper.psd",
                                           "rgba_8bit_rle_iptc_xmp.psd", "rgb_32bit_raw_4x4.psd",
                                           "rgb_layers_mask_section_3_spare_bytes.psd"),
                         [](const auto& info) {
                           std::string name = info.param;
                           name = name.substr(0, name.find('.'));
                           for (char& c : name) {
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           }
                           return name;
                         });

TEST(PsdChecker, RealLayeredFilesShowTheirStructure) {
  Outcome r = check_file(fixture("rgb_8bit_rle_layers_hopper.psd"));
  EXPECT_TRUE(contains(r.dump, "\tNumber of layers: 2\n"));
  EXPECT_TRUE(contains(r.dump, "\t\tLayer Blending Ranges Length: 40\n"));
  Outcome lab = check_file(fixture("lab_8bit_raw_4x4.psd"));
  EXPECT_TRUE(contains(lab.dump, "\t\tLayer Mask Data Size: 20\n"));
}

}  // namespace
