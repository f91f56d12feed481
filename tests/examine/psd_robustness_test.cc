// Damaged and hostile PSD files: builder files and real fixtures cut at
// every section boundary, with lengths, counts and dimensions replaced by
// extreme values. Every case must end quickly with a verdict, an error text
// within 99 characters, and work buffers no bigger than the file justifies.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "examine/psd_checker.h"
#include "support/psd_builder.h"
#include "support/temp_folder.h"

using testing_support::PsdBuilder;
using testing_support::PsdLayer;
using testing_support::PsdLayout;
using testing_support::PsdMask;
using testing_support::PsdRect;

namespace {

constexpr auto kCaseTimeLimit = std::chrono::seconds(2);

std::string fixture(const std::string& name) {
  return testing_support::read_file(std::string(CORVELLA_FIXTURES) + "/psd/" + name);
}

// Runs one damaged file; failures name the mutation.
void expect_sound(const std::string& data, const std::string& what, bool print = false) {
  const char* error = nullptr;
  auto start = std::chrono::steady_clock::now();
  bool ok;
  if (print) {
    PsdPrintScope scope(testing_support::capture_print);
    testing_support::captured_print().clear();
    ok = verifyPSDMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size(), "damaged.psd", &error);
  } else {
    ok = verifyPSDMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size(), "damaged.psd", &error);
  }
  auto elapsed = std::chrono::steady_clock::now() - start;
  ASSERT_NE(error, nullptr) << what;
  std::string text = error;
  EXPECT_LT(elapsed, kCaseTimeLimit) << what;
  EXPECT_LE(text.size(), 99u) << what;
  EXPECT_EQ(ok, text.empty()) << what << ": " << text;
  // Tables grow only with records actually read; the row buffer is fixed.
  EXPECT_LE(psd::lastCheckWorkBytes(), 8 * data.size() + (256u << 10)) << what;
}

struct Source {
  const char* name;
  std::function<std::string(std::vector<size_t>* boundaries)> make;
};

std::string from_builder(const PsdBuilder& b, std::vector<size_t>* boundaries) {
  PsdLayout layout;
  std::string data = b.build(&layout);
  *boundaries = layout.boundaries;
  return data;
}

std::string mask_rows(int width, int height) {
  return testing_support::rle_channel(std::vector<std::string>(height, std::string(width, '\x7f')));
}

// Section starts of a real file, read from its own dump: the colour mode
// data, resources, layer and mask information and image data lines print
// their offsets; the layer information length and count follow the layer
// and mask length.
std::vector<size_t> dumped_boundaries(const std::string& data) {
  testing_support::captured_print().clear();
  {
    PsdPrintScope scope(testing_support::capture_print);
    const char* error;
    verifyPSDMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size(), "f.psd", &error);
  }
  const std::string& dump = testing_support::captured_print();
  std::vector<size_t> result = {0, 4, 6, 12, 14, 18, 22, 24};
  for (size_t at = dump.find("(at "); at != std::string::npos; at = dump.find("(at ", at + 1)) {
    size_t offset = std::stoul(dump.substr(at + 4));
    result.push_back(offset);
    if (dump.compare(at - 12, 12, "Information ") == 0) {
      result.push_back(offset + 4);
      result.push_back(offset + 8);
      result.push_back(offset + 12);
    }
  }
  return result;
}

std::string real(const char* name, std::vector<size_t>* boundaries) {
  std::string data = fixture(name);
  *boundaries = dumped_boundaries(data);
  return data;
}

const std::vector<Source>& sources() {
  static const std::vector<Source> list = {
      {"FlatRaw", [](std::vector<size_t>* b) { return from_builder(PsdBuilder(3, 3, 5), b); }},
      {"FlatRle",
       [](std::vector<size_t>* b) {
         PsdBuilder p(4, 3, 5);
         p.resources.push_back({"8BIM", 0x0404, "name", "data!", std::nullopt});
         p.set_rle_image(p.sample_rows());
         return from_builder(p, b);
       }},
      {"Indexed",
       [](std::vector<size_t>* b) {
         PsdBuilder p(1, 2, 3);
         p.mode = 2;
         p.color_mode_data.assign(768, '\x11');
         return from_builder(p, b);
       }},
      {"LayersWithMasks",
       [](std::vector<size_t>* b) {
         PsdBuilder p(3, 4, 6);
         PsdLayer layer = testing_support::rle_layer({0, 0, 4, 6}, 3, true, "masked");
         PsdMask mask;
         mask.rect = {1, 1, 3, 3};
         mask.real_rect = PsdRect{0, 0, 4, 5};
         layer.mask = mask;
         layer.channels.push_back({-2, mask_rows(2, 2), std::nullopt});
         layer.channels.push_back({-3, mask_rows(5, 4), std::nullopt});
         layer.blending_ranges.assign(16, '\x01');
         layer.extra.push_back({"8BIM", "luni", std::string(12, '\0'), std::nullopt});
         p.layers.push_back(layer);
         PsdLayer adjustment;
         adjustment.name = "Curves";
         for (int16_t id : {-1, 0, 1, 2}) adjustment.channels.push_back({id, std::string("\0\0", 2), std::nullopt});
         PsdMask full;
         full.rect = {0, 0, 4, 6};
         adjustment.mask = full;
         adjustment.channels.push_back({-2, mask_rows(6, 4), std::nullopt});
         p.layers.push_back(adjustment);
         p.first_alpha_is_transparency = true;
         p.global_mask = std::string(14, '\0');
         p.set_rle_image(p.sample_rows());
         return from_builder(p, b);
       }},
      {"Deep16Rle",
       [](std::vector<size_t>* b) {
         PsdBuilder p(3, 2, 3);
         p.depth = 16;
         p.set_rle_image(std::vector<std::vector<std::string>>(3, {std::string(6, 'a'), "abcdef"}));
         return from_builder(p, b);
       }},
      {"RealBitmap", [](std::vector<size_t>* b) { return real("bitmap_1bit_raw_4x4.psd", b); }},
      {"RealDuotone", [](std::vector<size_t>* b) { return real("duotone_8bit_raw_4x4.psd", b); }},
      {"RealGrayscale", [](std::vector<size_t>* b) { return real("grayscale_8bit_rle.psd", b); }},
      {"RealIndexed", [](std::vector<size_t>* b) { return real("indexed_8bit_raw_4x4.psd", b); }},
      {"RealLab", [](std::vector<size_t>* b) { return real("lab_8bit_raw_4x4.psd", b); }},
      {"RealMultichannel", [](std::vector<size_t>* b) { return real("multichannel_16bit_raw_4x4.psd", b); }},
      {"RealRgbLayer", [](std::vector<size_t>* b) { return real("rgb_8bit_rle_layers.psd", b); }},
      {"RealHopper", [](std::vector<size_t>* b) { return real("rgb_8bit_rle_layers_hopper.psd", b); }},
      {"RealRgba", [](std::vector<size_t>* b) { return real("rgba_8bit_rle_iptc_xmp.psd", b); }},
  };
  return list;
}

class PsdRobustness : public ::testing::TestWithParam<Source> {};

TEST_P(PsdRobustness, SurvivesEveryMutation) {
  std::vector<size_t> boundaries;
  const std::string original = GetParam().make(&boundaries);
  ASSERT_FALSE(original.empty());
  {
    const char* error;
    ASSERT_TRUE(verifyPSDMemory(reinterpret_cast<const uint8_t*>(original.data()), original.size(), "f.psd", &error))
        << error;
  }

  // Cuts: every boundary and the bytes around it, and an even spread over
  // the whole file (every byte of the small builder files).
  std::set<size_t> cuts;
  for (size_t b : boundaries) {
    for (size_t d : {0, 1, 2, 3, 5}) cuts.insert(b + d);
    if (b > 0) cuts.insert(b - 1);
  }
  const size_t step = original.size() <= 2048 ? 1 : original.size() / 1024;
  for (size_t at = 0; at < original.size(); at += step) cuts.insert(at);
  for (size_t at : cuts) {
    if (at < original.size()) expect_sound(original.substr(0, at), "cut at " + std::to_string(at));
  }

  // Lengths, offsets and counts replaced at every boundary.
  for (size_t b : boundaries) {
    for (uint32_t value : {0u, 1u, 0x40000001u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFF4u, 0xFFFFFFFFu}) {
      if (b + 4 > original.size()) continue;
      std::string data = original;
      testing_support::poke_u32(&data, b, value);
      expect_sound(data, "u32 " + std::to_string(value) + " at " + std::to_string(b));
    }
    for (uint16_t value : {0, 1, 0x7FFF, 0x8000, 0xFFFF}) {
      if (b + 2 > original.size()) continue;
      std::string data = original;
      testing_support::poke_u16(&data, b, value);
      expect_sound(data, "u16 " + std::to_string(value) + " at " + std::to_string(b));
    }
  }

  // Huge dimensions, channel counts and depths in the header.
  for (uint16_t channels : {0, 1, 56, 0x7FFF, 0xFFFF}) {
    std::string data = original;
    testing_support::poke_u16(&data, 12, channels);
    expect_sound(data, "channels " + std::to_string(channels));
  }
  for (uint32_t size : {0u, 0x40000001u, 0x7FFFFFFFu, 0x80000000u, 0xFFFFFFFFu}) {
    for (size_t field : {14, 18}) {
      std::string data = original;
      testing_support::poke_u32(&data, field, size);
      expect_sound(data, "dimension " + std::to_string(size) + " at " + std::to_string(field));
    }
    std::string both = original;
    testing_support::poke_u32(&both, 14, size);
    testing_support::poke_u32(&both, 18, size);
    testing_support::poke_u16(&both, 12, 0xFFFF);
    expect_sound(both, "all dimensions " + std::to_string(size), true);
  }
  for (uint16_t depth : {0, 1, 8, 16, 32, 0x7FFF, 0xFFFF}) {
    std::string data = original;
    testing_support::poke_u16(&data, 22, depth);
    expect_sound(data, "depth " + std::to_string(depth));
  }

  // A few damaged files through the printing path too: names, signatures
  // and keys of arbitrary bytes must print without trouble.
  std::string flipped = original;
  for (size_t i = 0; i < flipped.size(); i += 7) flipped[i] = static_cast<char>(flipped[i] ^ 0xA5);
  expect_sound(flipped, "flipped bytes", true);
  expect_sound(std::string(original.size(), '\xff'), "all ones", true);
}

INSTANTIATE_TEST_SUITE_P(Sources, PsdRobustness, ::testing::ValuesIn(sources()),
                         [](const auto& info) { return std::string(info.param.name); });

// Blocks whose length would move the reader backwards once made a block be
// read again and again; each length is now an unsigned count forward.
TEST(PsdRobustnessLoops, NoBlockIsReadTwice) {
  for (uint32_t length : {0xFFFFFFF4u, 0xFFFFFFF0u, 0xFFFFFFFEu}) {
    PsdBuilder b(3, 1, 1);
    b.resources.push_back({"8BIM", 1, "", std::string(12, 'r'), length});
    b.resources.push_back({"8BIM", 2, "", std::string(12, 'r'), std::nullopt});
    expect_sound(b.build(), "resource size " + std::to_string(length));

    PsdBuilder e(3, 2, 2);
    PsdLayer layer = testing_support::rle_layer({0, 0, 2, 2}, 3, false, "x");
    layer.extra.push_back({"8BIM", "luni", std::string(12, '\0'), length});
    layer.extra.push_back({"8BIM", "lyid", std::string(4, '\0'), std::nullopt});
    e.layers.push_back(layer);
    expect_sound(e.build(), "extra length " + std::to_string(length));
  }
}

// The silent check and the printed dump reach the same verdict and text.
TEST(PsdRobustnessLoops, SilentAndPrintedChecksAgree) {
  PsdBuilder b(3, 3, 4);
  b.layers.push_back(testing_support::rle_layer({0, 0, 3, 4}, 3, true, "agree"));
  b.set_rle_image(b.sample_rows());
  const std::string original = b.build();
  for (size_t at = 0; at < original.size(); ++at) {
    std::string data = original;
    data[at] = static_cast<char>(data[at] ^ 0x80);
    const char* error;
    bool silent = verifyPSDMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size(), "a.psd", &error);
    std::string silent_error = error;
    PsdPrintScope scope(testing_support::capture_print);
    bool printed = verifyPSDMemory(reinterpret_cast<const uint8_t*>(data.data()), data.size(), "a.psd", &error);
    EXPECT_EQ(silent, printed) << at;
    EXPECT_EQ(silent_error, error) << at;
  }
}

}  // namespace
