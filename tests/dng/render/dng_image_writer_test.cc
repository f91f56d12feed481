// The TIFF and DNG writer: file layout read back by libtiff, tiffinfo, a
// small directory walker of the test's own and this program's DNG reader;
// band contents seen through the writer's EmitBuffer step.
#include "dng/support/command_output.h"
#include "dng/render/dng_image_writer.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <bit>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_simple_image.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/dng_xmp.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/render/dng_tiff_tags.h"
#include "dng/core/dng_area_task.h"
#include "dng/parse/dng_exif.h"
#include "dng/render/dng_color_space.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "support/temp_folder.h"

namespace {

using dng_test::code_of;
using testing_support::TempFolder;

// ---- Images and files ------------------------------------------------------

uint32_t bytes_of(uint32_t pixel_type) { return pixel_type == 1 ? 1 : pixel_type == 3 ? 2 : 4; }

// A deterministic sample as the bits of its type.
uint32_t pattern_sample(uint32_t pixel_type, uint32_t x, uint32_t y, uint32_t p) {
  const uint32_t v = x * 7919u + y * 104729u + p * 15485863u + 12345u;
  if (pixel_type == 11) {
    const float f = float(v % 1000) / 999.0f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
  }
  if (pixel_type == 1) return v & 0xFF;
  if (pixel_type == 3) return v & 0xFFFF;
  return v * 2654435761u;
}

void set_sample(const dng_simple_image& image, uint32_t x, uint32_t y, uint32_t p, uint32_t v) {
  void* at = image.Buffer().Pixel(int32_t(y), int32_t(x), p);
  switch (image.Buffer().pixel_size) {
    case 1: *static_cast<uint8_t*>(at) = uint8_t(v); break;
    case 2: *static_cast<uint16_t*>(at) = uint16_t(v); break;
    default: std::memcpy(at, &v, 4);
  }
}

std::unique_ptr<dng_simple_image> make_image(uint32_t width, uint32_t height, uint32_t planes, uint32_t pixel_type,
                                             uint32_t range,
                                             const std::function<uint32_t(uint32_t, uint32_t, uint32_t)>& value) {
  auto image = std::make_unique<dng_simple_image>(dng_box(0, 0, int32_t(height), int32_t(width)), planes,
                                                  pixel_type, range);
  for (uint32_t y = 0; y < height; ++y) {
    for (uint32_t x = 0; x < width; ++x) {
      for (uint32_t p = 0; p < planes; ++p) set_sample(*image, x, y, p, value(x, y, p));
    }
  }
  return image;
}

std::string stream_bytes(dng_memory_stream& stream) {
  std::unique_ptr<dng_memory_block> block(stream.CopyToMemoryBlock(default_memory_allocator));
  return std::string(static_cast<const char*>(block->Buffer()), block->Size());
}

std::string tiff_bytes(const dng_image& image, bool big_endian, uint32_t photometric, uint32_t compression = 1,
                       const dng_negative* negative = nullptr) {
  dng_host host;
  dng_memory_stream stream(default_memory_allocator);
  stream.SetByteSwapped(big_endian);
  dng_image_writer writer;
  writer.WriteTiffFile(host, stream, image, photometric, compression, negative);
  return stream_bytes(stream);
}

uint32_t photometric_for(uint32_t planes) { return planes < 3 ? 1 : 2; }

// tiffinfo -D prints no error and no warning but unknown-field notes for
// the listed tags.
void expect_tiffinfo_clean(const std::string& path, const std::vector<uint32_t>& unknown_tags = {}) {
  std::string report = dng_test::command_output("tiffinfo -D '" + path + "' 2>&1");
  for (uint32_t tag : unknown_tags) {
    const std::string note = "Unknown field with tag " + std::to_string(tag);
    for (size_t at; (at = report.find(note)) != std::string::npos;) {
      const size_t line_start = report.rfind('\n', at) == std::string::npos ? 0 : report.rfind('\n', at) + 1;
      const size_t line_end = report.find('\n', at);
      report.erase(line_start, line_end == std::string::npos ? std::string::npos : line_end - line_start + 1);
    }
  }
  EXPECT_EQ(report.find("rror"), std::string::npos) << report;
  EXPECT_EQ(report.find("arning"), std::string::npos) << report;
  EXPECT_EQ(report.find("Unknown field"), std::string::npos) << report;
}

// ---- A directory walker of the test's own ------------------------------------

struct entry {
  uint16_t type = 0;
  uint32_t count = 0;
  uint32_t value_offset = 0;      // of the value in the file (in the entry when it fits)
  std::vector<uint32_t> values;   // BYTE, SHORT and LONG values
};

struct walked_ifd {
  std::map<uint16_t, entry> entries;
  uint32_t next = 0;
};

class tiff_walker {
 public:
  explicit tiff_walker(const std::string& bytes) : bytes_(bytes) { big_ = bytes.substr(0, 2) == "MM"; }

  uint32_t u16(uint32_t at) const {
    const auto* b = reinterpret_cast<const uint8_t*>(bytes_.data()) + at;
    return big_ ? (b[0] << 8 | b[1]) : (b[1] << 8 | b[0]);
  }
  uint32_t u32(uint32_t at) const {
    return big_ ? (u16(at) << 16 | u16(at + 2)) : (u16(at + 2) << 16 | u16(at));
  }
  uint8_t byte(uint32_t at) const { return uint8_t(bytes_.at(at)); }

  walked_ifd ifd(uint32_t at) const {
    walked_ifd out;
    const uint32_t count = u16(at);
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t e = at + 2 + 12 * i;
      entry item;
      item.type = uint16_t(u16(e + 2));
      item.count = u32(e + 4);
      const uint32_t size = item.type == 3 ? 2 : item.type == 4 ? 4 : item.type == 5 || item.type == 10 ? 8 : 1;
      item.value_offset = uint64_t(size) * item.count <= 4 ? e + 8 : u32(e + 8);
      for (uint32_t k = 0; k < item.count && (item.type == 1 || item.type == 3 || item.type == 4); ++k) {
        const uint32_t v = item.value_offset + k * size;
        item.values.push_back(size == 1 ? byte(v) : size == 2 ? u16(v) : u32(v));
      }
      out.entries[uint16_t(u16(e))] = item;
    }
    out.next = u32(at + 2 + 12 * count);
    return out;
  }

 private:
  const std::string& bytes_;
  bool big_;
};

// ---- TIFF files --------------------------------------------------------------

TEST(TiffWriter, HeaderFollowsTheStreamOrderAndAPlainImageHasOneDirectory) {
  const auto image = make_image(5, 3, 1, 1, 0, [](uint32_t x, uint32_t y, uint32_t) { return x + 10 * y; });
  const struct {
    bool big_endian;
    const char* header;
  } cases[] = {{false, "II\x2A\x00\x08\x00\x00\x00"}, {true, "MM\x00\x2A\x00\x00\x00\x08"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.header);
    const std::string bytes = tiff_bytes(*image, c.big_endian, 1);
    EXPECT_EQ(bytes.substr(0, 8), std::string(c.header, 8));
    tiff_walker walk(bytes);
    const walked_ifd ifd0 = walk.ifd(8);
    EXPECT_EQ(ifd0.next, 0u);
    EXPECT_EQ(ifd0.entries.count(34665), 0u) << "no EXIF directory";
    EXPECT_EQ(ifd0.entries.count(34853), 0u) << "no GPS directory";
    EXPECT_EQ(ifd0.entries.count(700), 0u);
    // Data after the directory, which ends the header's directory space.
    const uint32_t strip = ifd0.entries.at(273).values.at(0);
    EXPECT_EQ(strip, 8 + 2 + 12 * ifd0.entries.size() + 4 + /* BitsPerSample fits */ 0);
    EXPECT_EQ(bytes.size(), strip + 16u) << "15 bytes and one pad byte";
  }
}

TEST(TiffWriter, LibtiffReadsBackEveryPixelOfEveryLayout) {
  const struct {
    uint32_t pixel_type;
    uint32_t planes;
    uint32_t width;
    uint32_t height;
  } cases[] = {
      {1, 1, 37, 23}, {1, 2, 5, 4},  {1, 3, 37, 23},  {1, 4, 6, 5},    {3, 1, 17, 9},  {3, 2, 4, 3},
      {3, 3, 301, 157},  // several bands of at most 128 KB
      {3, 4, 7, 5},   {4, 1, 9, 4},  {4, 3, 3, 3},    {4, 4, 2, 2},    {11, 1, 13, 7}, {11, 3, 80, 600},
      {11, 2, 3, 2},  {11, 4, 5, 3},
  };
  TempFolder folder;
  for (const auto& c : cases) {
    for (bool big_endian : {false, true}) {
      SCOPED_TRACE("type " + std::to_string(c.pixel_type) + " planes " + std::to_string(c.planes) +
                   (big_endian ? " MM" : " II"));
      const auto image = make_image(c.width, c.height, c.planes, c.pixel_type, 0,
                                    [&](uint32_t x, uint32_t y, uint32_t p) {
                                      return pattern_sample(c.pixel_type, x, y, p);
                                    });
      const std::string path = folder.write_file("t.tif", tiff_bytes(*image, big_endian, photometric_for(c.planes)));

      TIFF* tiff = TIFFOpen(path.c_str(), "r");
      ASSERT_NE(tiff, nullptr);
      EXPECT_EQ(TIFFIsBigEndian(tiff) != 0, big_endian);
      uint32_t w = 0, h = 0;
      uint16_t spp = 0, bps = 0, format = 0, photometric = 0, extra_count = 0;
      uint16_t* extra = nullptr;
      TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &w);
      TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &h);
      TIFFGetField(tiff, TIFFTAG_SAMPLESPERPIXEL, &spp);
      TIFFGetField(tiff, TIFFTAG_BITSPERSAMPLE, &bps);
      TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &photometric);
      TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLEFORMAT, &format);
      TIFFGetFieldDefaulted(tiff, TIFFTAG_EXTRASAMPLES, &extra_count, &extra);
      EXPECT_EQ(w, c.width);
      EXPECT_EQ(h, c.height);
      EXPECT_EQ(spp, c.planes);
      EXPECT_EQ(bps, 8 * bytes_of(c.pixel_type));
      EXPECT_EQ(format, c.pixel_type == 11 ? 3 : 1);
      EXPECT_EQ(photometric, photometric_for(c.planes));
      EXPECT_EQ(extra_count, c.planes < 3 ? c.planes - 1 : c.planes - 3);

      const uint32_t size = bytes_of(c.pixel_type);
      std::vector<uint8_t> row(TIFFScanlineSize(tiff));
      ASSERT_EQ(row.size(), size_t(c.width) * c.planes * size);
      for (uint32_t y = 0; y < c.height; ++y) {
        ASSERT_EQ(TIFFReadScanline(tiff, row.data(), y, 0), 1);
        for (uint32_t x = 0; x < c.width; ++x) {
          for (uint32_t p = 0; p < c.planes; ++p) {
            uint32_t got = 0;
            const uint8_t* at = row.data() + (size_t(x) * c.planes + p) * size;
            if (size == 1) got = *at;
            if (size == 2) got = *reinterpret_cast<const uint16_t*>(at);
            if (size == 4) std::memcpy(&got, at, 4);
            ASSERT_EQ(got, pattern_sample(c.pixel_type, x, y, p)) << x << "," << y << " plane " << p;
          }
        }
      }
      TIFFClose(tiff);
      expect_tiffinfo_clean(path);
    }
  }
}

TEST(TiffWriter, SixteenBitSamplesAreRescaledFromTheSampleRangeAndSaturate) {
  const struct {
    uint32_t range;
    uint32_t in;
    uint32_t out;
  } cases[] = {
      {4095, 0, 0},
      {4095, 4095, 65535},
      {4095, 2048, (2047 + 2048 * 65535) / 4095},
      {4095, 5000, 65535},  // above the range: saturates instead of wrapping
      {32768, 32768, 65535},
      {32768, 16384, 32768},
      {32768, 1, 2},
      {32768, 40000, 65535},
      {1023, 1023, 65535},
      {0, 5000, 5000},      // range by type (a stage-1 image): nothing rescaled
      {0, 65535, 65535},
      {65535, 1234, 1234},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("range " + std::to_string(c.range) + " value " + std::to_string(c.in));
    const auto image = make_image(2, 1, 3, 3, c.range, [&](uint32_t x, uint32_t, uint32_t p) {
      return x == 0 ? c.in : p;
    });
    const std::string bytes = tiff_bytes(*image, false, 2);
    tiff_walker walk(bytes);
    const uint32_t strip = walk.ifd(8).entries.at(273).values.at(0);
    for (uint32_t p = 0; p < 3; ++p) EXPECT_EQ(walk.u16(strip + 2 * p), c.out) << "plane " << p;
  }
}

TEST(TiffWriter, OddStripIsFollowedByAZeroByteItsCountLeavesOut) {
  for (bool big_endian : {false, true}) {
    const auto image = make_image(3, 3, 1, 1, 0, [](uint32_t, uint32_t, uint32_t) { return 0xAB; });
    const std::string bytes = tiff_bytes(*image, big_endian, 1);
    tiff_walker walk(bytes);
    const walked_ifd ifd0 = walk.ifd(8);
    const uint32_t offset = ifd0.entries.at(273).values.at(0);
    EXPECT_EQ(ifd0.entries.at(279).values.at(0), 9u);
    ASSERT_EQ(bytes.size(), offset + 10u);
    EXPECT_EQ(bytes.substr(offset, 9), std::string(9, '\xAB'));
    EXPECT_EQ(bytes[offset + 9], '\0');
  }
}

TEST(TiffWriter, CompressionsOtherThanNoneFailWithTheUnknownCode) {
  const auto image = make_image(4, 4, 3, 1, 0, [](uint32_t, uint32_t, uint32_t) { return 1; });
  for (uint32_t compression : {5u, 7u, 8u}) {
    SCOPED_TRACE(compression);
    dng_test::StderrCapture err;
    EXPECT_EQ(code_of([&] { tiff_bytes(*image, false, 2, compression); }), dng_code_unknown);
  }
}

TEST(TiffWriter, TheNegativesXmpLosesItsOrientationInTheFileOnly) {
  xmp_toolkit_initialize();
  {
    std::unique_ptr<dng_negative> negative = dng_negative::Create(default_memory_allocator);
    negative->GetXMP()->SetOrientation(dng_image_flip::FromTiff(6));
    negative->GetXMP()->SetUInt32("http://ns.adobe.com/tiff/1.0/", "ImageWidth", 4);
    const auto image = make_image(4, 2, 3, 1, 0, [](uint32_t, uint32_t, uint32_t) { return 7; });
    const std::string bytes = tiff_bytes(*image, false, 2, 1, negative.get());

    tiff_walker walk(bytes);
    const walked_ifd ifd0 = walk.ifd(8);
    const entry& packet = ifd0.entries.at(700);
    const std::string xml = bytes.substr(packet.value_offset, packet.count);
    EXPECT_NE(xml.find("ImageWidth"), std::string::npos) << xml;
    EXPECT_EQ(xml.find("Orientation"), std::string::npos) << xml;
    // The negative keeps its own orientation for a DNG written afterwards.
    EXPECT_EQ(negative->GetXMP()->GetOrientation().ToTiff(), 6u);
  }
  xmp_toolkit_terminate();
}

// Counts the polls between bands and cancels at poll `cancel_at` (0: never).
class counting_cancel_hook : public dng_cancel_hook {
 public:
  explicit counting_cancel_hook(uint32_t cancel_at) : cancel_at_(cancel_at) {}
  void Poll() override {
    if (++polls == cancel_at_) throw_dng_code(dng_code_canceled);
  }
  uint32_t polls = 0;

 private:
  uint32_t cancel_at_;
};

TEST(TiffWriter, DataMovesThroughOneBandBufferThatAFailureOrCancelReleases) {
  // 301 x 157 RGB 16-bit: 1806-byte rows, bands of 72 rows, three bands.
  const auto image = make_image(301, 157, 3, 3, 0, [](uint32_t x, uint32_t y, uint32_t p) {
    return pattern_sample(3, x, y, p);
  });
  const struct {
    const char* name;
    uint64_t fail_block;
    uint32_t cancel_at;
    int32_t code;
    uint32_t polls;
  } cases[] = {
      {"written", 0, 0, 0, 3},
      {"band buffer refused", 1, 0, dng_code_memory, 0},
      {"cancelled before the second band", 0, 2, dng_code_canceled, 2},
  };
  dng_image_writer writer;  // one writer for every case: a failure leaves it usable
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    dng_test::FailingAllocator allocator(c.fail_block);
    counting_cancel_hook hook(c.cancel_at);
    dng_host host(&allocator, &hook);
    dng_memory_stream stream(default_memory_allocator);
    dng_test::StderrCapture err;
    EXPECT_EQ(code_of([&] { writer.WriteTiffFile(host, stream, *image, 2, 1); }), c.code);
    EXPECT_EQ(hook.polls, c.polls);
    ASSERT_FALSE(allocator.Requests().empty());
    EXPECT_EQ(allocator.Requests().size(), 1u) << "one band buffer, no scratch block";
    EXPECT_EQ(allocator.LargestRequest(), 72u * 1806u);
  }
  // After the failures the same writer still writes the whole image.
  dng_host host;
  dng_memory_stream stream(default_memory_allocator);
  writer.WriteTiffFile(host, stream, *image, 2, 1);
  const std::string bytes = stream_bytes(stream);
  tiff_walker walk(bytes);
  const uint32_t strip = walk.ifd(8).entries.at(273).values.at(0);
  EXPECT_EQ(walk.ifd(8).entries.at(279).values.at(0), 301u * 157 * 6);
  EXPECT_EQ(walk.u16(strip + 2 * (3 * (156 * 301 + 300) + 2)), pattern_sample(3, 300, 156, 2));
}

TEST(TiffWriter, NegativeMetadataResolutionAndProfileReadBackWithLibtiff) {
  TempFolder folder;
  for (bool big_endian : {false, true}) {
    SCOPED_TRACE(big_endian ? "MM" : "II");
    std::unique_ptr<dng_negative> negative = dng_negative::Create(default_memory_allocator);
    negative->GetExif()->make.Assign("Maker");
    negative->GetExif()->exposure_time = {1, 125};
    negative->GetExif()->iso_speed_ratings[0] = 200;
    const std::string iptc_record = std::string("\x1C\x02\x00\x00\x02\x00\x04", 7);
    std::unique_ptr<dng_memory_block> iptc(default_memory_allocator.NewBlock(uint32_t(iptc_record.size())));
    std::memcpy(iptc->Buffer(), iptc_record.data(), iptc_record.size());
    negative->AdoptIPTC(std::move(iptc), dng_no_iptc_offset);
    dng_pixel_density density;
    density.x_resolution = {300, 1};
    density.y_resolution = {150, 1};
    density.resolution_unit = 2;
    const auto image = make_image(9, 5, 3, 1, 0, [](uint32_t x, uint32_t y, uint32_t p) { return x + y + p; });

    dng_host host;
    dng_memory_stream stream(default_memory_allocator);
    stream.SetByteSwapped(big_endian);
    dng_image_writer writer;
    writer.WriteTiffFile(host, stream, *image, 2, 1, negative.get(), &dng_space_sRGB::Instance(), &density);
    const std::string path = folder.write_file("meta.tif", stream_bytes(stream));

    TIFF* tiff = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tiff, nullptr);
    float x_resolution = 0, y_resolution = 0;
    uint16_t unit = 0;
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_XRESOLUTION, &x_resolution));
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_YRESOLUTION, &y_resolution));
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_RESOLUTIONUNIT, &unit));
    EXPECT_EQ(x_resolution, 300.0f);
    EXPECT_EQ(y_resolution, 150.0f);
    EXPECT_EQ(unit, 2);
    uint32_t icc_size = 0;
    void* icc = nullptr;
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &icc_size, &icc));
    EXPECT_EQ(icc_size, 3144u);
    uint32_t iptc_count = 0;
    void* iptc_data = nullptr;
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_RICHTIFFIPTC, &iptc_count, &iptc_data));
    // Two 32-bit words holding the record and a zero byte in file order;
    // libtiff hands LONG values over in this machine's order.
    ASSERT_EQ(iptc_count * (iptc_count == 2 ? 4 : 1), 8u);
    std::string words(static_cast<const char*>(iptc_data), 8);
    if (big_endian != (std::endian::native == std::endian::big)) {
      for (size_t w = 0; w < 8; w += 4) std::swap(words[w], words[w + 3]), std::swap(words[w + 1], words[w + 2]);
    }
    EXPECT_EQ(words, iptc_record + '\0');
    char* make = nullptr;
    EXPECT_TRUE(TIFFGetField(tiff, TIFFTAG_MAKE, &make));
    EXPECT_STREQ(make, "Maker");
    toff_t exif_offset = 0;
    ASSERT_TRUE(TIFFGetField(tiff, TIFFTAG_EXIFIFD, &exif_offset));
    ASSERT_TRUE(TIFFReadEXIFDirectory(tiff, exif_offset));
    float exposure = 0;
    EXPECT_TRUE(TIFFGetField(tiff, EXIFTAG_EXPOSURETIME, &exposure));
    EXPECT_FLOAT_EQ(exposure, 1.0f / 125.0f);
    TIFFClose(tiff);
    expect_tiffinfo_clean(path);
  }
}

// ---- DNG files from negatives built in memory -------------------------------

struct recorded_band {
  uint32_t photometric = 0;
  uint32_t tile_width = 0;
  uint32_t rows = 0;
  uint32_t columns = 0;  // after merging
  uint32_t planes = 0;   // after merging
  std::vector<uint32_t> samples;
};

// Sees every band as it reaches EmitBuffer, then writes it as usual.
class recording_writer : public dng_image_writer {
 public:
  std::vector<recorded_band> bands;

 protected:
  void EmitBuffer(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_pixel_buffer& buffer) override {
    recorded_band band;
    band.photometric = ifd.photometric_interpretation;
    band.tile_width = ifd.tile_width;
    band.rows = buffer.area.H();
    band.columns = buffer.area.W();
    band.planes = buffer.planes;
    for (int32_t r = buffer.area.top; r < buffer.area.bottom; ++r) {
      for (int32_t c = buffer.area.left; c < buffer.area.right; ++c) {
        for (uint32_t p = 0; p < buffer.planes; ++p) {
          const void* at = buffer.Pixel(r, c, p);
          band.samples.push_back(buffer.pixel_size == 1 ? *static_cast<const uint8_t*>(at)
                                                        : *static_cast<const uint16_t*>(at));
        }
      }
    }
    bands.push_back(std::move(band));
    dng_image_writer::EmitBuffer(host, ifd, stream, buffer);
  }
};

std::unique_ptr<dng_negative> memory_negative(std::unique_ptr<dng_image> raw, uint32_t pattern_rows,
                                              uint32_t pattern_cols) {
  std::unique_ptr<dng_negative> negative = dng_negative::Create(default_memory_allocator);
  negative->SetModelName("Writer Test");
  negative->SetDefaultCropSize({raw->Bounds().W(), 1}, {raw->Bounds().H(), 1});
  if (pattern_cols != 0) {
    auto mosaic = std::make_unique<dng_mosaic_info>();
    mosaic->pattern_rows = pattern_rows;
    mosaic->pattern_cols = pattern_cols;
    for (uint32_t r = 0; r < pattern_rows; ++r) {
      for (uint32_t c = 0; c < pattern_cols; ++c) mosaic->pattern[r][c] = uint8_t((r + c) % 3);
    }
    mosaic->color_planes = 3;
    negative->ResetMosaicInfo(std::move(mosaic));
  }
  negative->ResetStage1Image(std::move(raw));
  return negative;
}

std::unique_ptr<dng_simple_image> gray_thumbnail() {
  return make_image(8, 6, 3, 1, 0, [](uint32_t x, uint32_t y, uint32_t p) { return 40 * p + x + y; });
}

std::string dng_bytes(dng_image_writer& writer, const dng_negative& negative, uint32_t compression,
                      bool big_endian = false, const dng_encoded_preview* preview1 = nullptr,
                      const dng_encoded_preview* preview2 = nullptr, const dng_image* thumbnail = nullptr) {
  dng_host host;
  dng_memory_stream stream(default_memory_allocator);
  stream.SetByteSwapped(big_endian);
  const auto gray = gray_thumbnail();
  writer.WriteDngFile(host, stream, negative, thumbnail != nullptr ? thumbnail : gray.get(), compression, preview1,
                      preview2);
  return stream_bytes(stream);
}

TEST(DngWriter, ColumnMergeFollowsThePatternWidthAndThePlanes) {
  const struct {
    uint32_t pattern_cols;
    uint32_t planes;
    uint32_t merge;
  } cases[] = {
      {2, 1, 2}, {4, 2, 2}, {4, 1, 4}, {2, 2, 2}, {2, 3, 1}, {4, 4, 1}, {3, 1, 1}, {1, 1, 1}, {0, 1, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("pattern columns " + std::to_string(c.pattern_cols) + ", planes " + std::to_string(c.planes));
    auto raw = make_image(64, 32, c.planes, 3, 0, [](uint32_t x, uint32_t y, uint32_t p) { return x + y + p; });
    const auto negative = memory_negative(std::move(raw), c.pattern_cols == 0 ? 0 : 2, c.pattern_cols);
    recording_writer writer;
    dng_bytes(writer, *negative, 7);
    uint32_t raw_bands = 0;
    for (const recorded_band& band : writer.bands) {
      if (band.photometric == 1 || band.photometric == 2) continue;  // the thumbnail
      ++raw_bands;
      EXPECT_EQ(band.planes, c.planes * c.merge);
      EXPECT_EQ(band.columns * c.merge, band.tile_width);
    }
    EXPECT_GT(raw_bands, 0u);
  }
}

TEST(DngWriter, TheRightEdgeTileIsWrittenFullWidthWithZeroPadding) {
  // 600 columns split into tiles of 208: the third tile holds 184 image
  // columns and 24 of padding; 20 rows in a tile of 32.
  const uint32_t width = 600, height = 20;
  auto raw = make_image(width, height, 1, 3, 0, [](uint32_t x, uint32_t y, uint32_t) { return 1000 + x + y; });
  const auto negative = memory_negative(std::move(raw), 0, 0);
  recording_writer writer;
  const std::string bytes = dng_bytes(writer, *negative, 7);
  std::vector<const recorded_band*> raw_bands;
  for (const recorded_band& band : writer.bands) {
    if (band.photometric == 34892) raw_bands.push_back(&band);
  }
  ASSERT_EQ(raw_bands.size(), 3u);
  const recorded_band& last = *raw_bands.back();
  ASSERT_EQ(last.columns, 208u);
  ASSERT_EQ(last.rows, 32u) << "tiles are not clipped to the image length either";
  for (uint32_t y = 0; y < 32; ++y) {
    for (uint32_t x = 0; x < 208; ++x) {
      const uint32_t image_x = 2 * 208 + x;
      const bool inside = image_x < width && y < height;
      ASSERT_EQ(last.samples[y * 208 + x], inside ? 1000 + image_x + y : 0) << x << "," << y;
    }
  }
  // The directory declares the tiles, three across.
  tiff_walker walk(bytes);
  const walked_ifd raw_ifd = walk.ifd(walk.ifd(8).entries.at(330).values.at(0));
  EXPECT_EQ(raw_ifd.entries.at(322).values.at(0), 208u);
  EXPECT_EQ(raw_ifd.entries.at(324).count, 3u);
  EXPECT_EQ(raw_ifd.entries.at(259).values.at(0), 7u);
}

dng_encoded_preview jpeg_preview(uint32_t length, uint8_t fill) {
  dng_encoded_preview preview;
  preview.width = 16;
  preview.height = 8;
  preview.photometric = 6;
  preview.ycbcr_sub_sampling_h = 2;
  preview.ycbcr_sub_sampling_v = 2;
  preview.ycbcr_positioning = 1;
  preview.jpeg.reset(default_memory_allocator.NewBlock(length));
  std::memset(preview.jpeg->Buffer(), fill, length);
  return preview;
}

TEST(DngWriter, DirectoriesVersionsSubIfdsAndPaddedPreviews) {
  auto raw = make_image(32, 16, 1, 3, 0, [](uint32_t x, uint32_t y, uint32_t) { return x * y; });
  const auto negative = memory_negative(std::move(raw), 2, 2);
  const dng_encoded_preview odd = jpeg_preview(5, 0xEE);
  const dng_encoded_preview even = jpeg_preview(6, 0xDD);
  const struct {
    const char* name;
    const dng_encoded_preview* first;
    const dng_encoded_preview* second;
    std::vector<uint32_t> lengths;
  } cases[] = {
      {"two previews", &odd, &even, {5, 6}},
      {"one preview", &even, nullptr, {6}},
      {"a second preview alone is ignored", nullptr, &odd, {}},
  };
  for (const auto& c : cases) {
    for (bool big_endian : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (big_endian ? " MM" : " II"));
      dng_image_writer writer;
      const std::string bytes = dng_bytes(writer, *negative, 7, big_endian, c.first, c.second);
      tiff_walker walk(bytes);
      const walked_ifd ifd0 = walk.ifd(8);
      EXPECT_EQ(ifd0.next, 0u);
      EXPECT_EQ(ifd0.entries.at(50706).values, (std::vector<uint32_t>{1, 1, 0, 0}));
      EXPECT_EQ(ifd0.entries.at(50707).values, (std::vector<uint32_t>{1, 1, 0, 0}));
      EXPECT_EQ(ifd0.entries.at(254).values.at(0), 1u);
      EXPECT_EQ(ifd0.entries.at(262).values.at(0), 2u);
      EXPECT_EQ(ifd0.entries.at(258).values, (std::vector<uint32_t>{8, 8, 8}));
      const std::vector<uint32_t>& sub_ifds = ifd0.entries.at(330).values;
      ASSERT_EQ(sub_ifds.size(), 1 + c.lengths.size());
      // The raw directory comes right after IFD 0.
      const walked_ifd raw_ifd = walk.ifd(sub_ifds[0]);
      EXPECT_EQ(raw_ifd.entries.at(262).values.at(0), 32803u);
      EXPECT_EQ(raw_ifd.entries.at(254).values.at(0), 0u);
      EXPECT_EQ(raw_ifd.entries.at(33421).values, (std::vector<uint32_t>{2, 2}));
      for (size_t i = 0; i < c.lengths.size(); ++i) {
        const walked_ifd preview = walk.ifd(sub_ifds[1 + i]);
        EXPECT_EQ(preview.entries.at(259).values.at(0), 7u);
        EXPECT_EQ(preview.entries.at(262).values.at(0), 6u);
        EXPECT_EQ(preview.entries.at(530).values, (std::vector<uint32_t>{2, 2}));
        const uint32_t offset = preview.entries.at(273).values.at(0);
        ASSERT_EQ(preview.entries.at(279).values.at(0), c.lengths[i]);
        const char fill = c.lengths[i] == 5 ? '\xEE' : '\xDD';
        EXPECT_EQ(bytes.substr(offset, c.lengths[i]), std::string(c.lengths[i], fill));
        if (c.lengths[i] & 1) {
          EXPECT_EQ(bytes.at(offset + c.lengths[i]), '\0');
        }
      }
      // The thumbnail's 8 x 6 x 3 bytes, unscaled; its last pixel (7, 5).
      const uint32_t thumbnail_at = ifd0.entries.at(273).values.at(0);
      EXPECT_EQ(ifd0.entries.at(279).values.at(0), 144u);
      EXPECT_EQ(uint8_t(bytes.at(thumbnail_at + 3 * (5 * 8 + 7) + 2)), 40 * 2 + 7 + 5);
    }
  }
}

TEST(DngWriter, RefusedRawImagesThumbnailsAndCompressions) {
  const struct {
    const char* name;
    uint32_t pixel_type;
    uint32_t compression;
    uint32_t thumbnail_planes;
    uint32_t thumbnail_type;
  } cases[] = {
      {"float raw", 11, 7, 3, 1},
      {"float raw uncompressed", 11, 1, 3, 1},
      {"unknown compression", 3, 5, 3, 1},
      {"16-bit thumbnail (declared 8 bits)", 3, 7, 3, 3},
      {"two-plane thumbnail", 3, 7, 2, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto raw = make_image(16, 16, 1, c.pixel_type, 0, [](uint32_t, uint32_t, uint32_t) { return 0; });
    const auto negative = memory_negative(std::move(raw), 2, 2);
    const auto thumbnail = make_image(4, 4, c.thumbnail_planes, c.thumbnail_type, 0,
                                      [](uint32_t, uint32_t, uint32_t) { return 9; });
    dng_image_writer writer;
    dng_test::StderrCapture err;
    EXPECT_EQ(code_of([&] { dng_bytes(writer, *negative, c.compression, false, nullptr, nullptr, thumbnail.get()); }),
              dng_code_unknown);
  }
}

TEST(DngWriter, ThirtyTwoBitRawDataIsAlwaysStoredUncompressed) {
  auto raw = make_image(16, 4, 1, 4, 0, [](uint32_t x, uint32_t y, uint32_t) { return 0x01020304u * (x + y); });
  const auto negative = memory_negative(std::move(raw), 0, 0);
  for (bool big_endian : {false, true}) {
    dng_image_writer writer;
    const std::string bytes = dng_bytes(writer, *negative, 7, big_endian);
    tiff_walker walk(bytes);
    const walked_ifd raw_ifd = walk.ifd(walk.ifd(8).entries.at(330).values.at(0));
    EXPECT_EQ(raw_ifd.entries.at(259).values.at(0), 1u);
    EXPECT_EQ(raw_ifd.entries.at(258).values.at(0), 32u);
    const uint32_t strip = raw_ifd.entries.at(273).values.at(0);
    EXPECT_EQ(raw_ifd.entries.at(279).values.at(0), 16u * 4 * 4);
    EXPECT_EQ(walk.u32(strip + 4 * (16 * 3 + 5)), 0x01020304u * 8);
  }
}

// ---- DNG files from negatives read by the validation -------------------------

// The writer as the DNG output step: the negative of each validated file is
// written to `path` with an 8-bit thumbnail.
struct dng_dump {
  std::string path;
  uint32_t compression = 7;
  bool big_endian = false;
};
dng_dump* current_dump = nullptr;

void dump_step(dng_validate_output step, dng_host& host, dng_negative& negative) {
  if (step != dng_validate_output::dng_file) return;
  dng_file_stream stream(current_dump->path.c_str(), true);
  stream.SetByteSwapped(current_dump->big_endian);
  const auto thumbnail = gray_thumbnail();
  dng_image_writer writer;
  writer.WriteDngFile(host, stream, negative, thumbnail.get(), current_dump->compression);
  stream.Close();
  validate_dng_path.Assign(nullptr);
}

std::vector<std::string> warning_lines(const std::string& transcript) {
  std::vector<std::string> lines;
  for (size_t at = 0; (at = transcript.find("*** Warning", at)) != std::string::npos;) {
    const size_t end = transcript.find('\n', at);
    lines.push_back(transcript.substr(at, end - at));
    at = end;
  }
  return lines;
}

class WrittenDngTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = validate_output_step;
    validate_output_step = dump_step;
    current_dump = &dump_;
  }
  void TearDown() override {
    validate_output_step = previous_;
    validate_dng_path.Assign(nullptr);
    current_dump = nullptr;
  }

  // Validates the source with the DNG output set, then validates what was
  // written; both must pass.
  std::string write_back(const std::string& source_bytes, uint32_t compression, bool big_endian) {
    const std::string source = folder_.write_file("source.dng", source_bytes);
    dump_.path = folder_.sub("written.dng");
    dump_.compression = compression;
    dump_.big_endian = big_endian;
    std::remove(dump_.path.c_str());
    validate_dng_path.Assign(dump_.path.c_str());
    xmp_toolkit_initialize();
    dng_test::StderrCapture source_err;
    const int32_t source_code = validate_dng_file(source.c_str());
    const std::string source_transcript = source_err.Take();
    validate_output_step = previous_;
    dng_test::StderrCapture written_err;
    const int32_t written_code = validate_dng_file(dump_.path.c_str());
    const std::string written_transcript = written_err.Take();
    validate_output_step = dump_step;
    xmp_toolkit_terminate();
    EXPECT_EQ(source_code, 0) << source_transcript;
    EXPECT_EQ(written_code, 0) << written_transcript;
    // No warning that the source did not give already.
    for (const std::string& line : warning_lines(written_transcript)) {
      EXPECT_NE(source_transcript.find(line), std::string::npos) << line;
    }
    return dump_.path;
  }

  TempFolder folder_;
  dng_dump dump_;
  dng_validate_output_fn previous_ = nullptr;
};

void expect_stage1(const testing_support::RawDng& source, const std::string& written, uint32_t clamp,
                   uint32_t bits) {
  dng_test::StderrCapture err;  // the reader's warnings were judged by the validation
  const testing_support::RawPipelineResult read =
      testing_support::run_raw_pipeline_on_file(written, testing_support::RawStage::kRead);
  ASSERT_EQ(read.code, 0);
  ASSERT_NE(read.stage1, nullptr);
  EXPECT_EQ(read.main_ifd->bits_per_sample[0], bits);
  ASSERT_EQ(read.stage1->Bounds().W(), source.width);
  ASSERT_EQ(read.stage1->Bounds().H(), source.height);
  uint32_t clamped = 0;
  for (uint32_t y = 0; y < source.height; ++y) {
    for (uint32_t x = 0; x < source.width; ++x) {
      for (uint32_t p = 0; p < source.samples; ++p) {
        const uint32_t expected = std::min(source.at(x, y, p), clamp);
        if (expected != source.at(x, y, p)) ++clamped;
        ASSERT_EQ(testing_support::image_sample(*read.stage1, int32_t(y), int32_t(x), p), expected)
            << x << "," << y << " plane " << p;
      }
    }
  }
  if (clamp != 0xFFFFFFFF) {
    EXPECT_GT(clamped, 0u) << "the scene reaches above the table";
  }
}

TEST_F(WrittenDngTest, AWrittenDngValidatesAndHoldsTheSameRawImage) {
  const std::vector<std::string> bayer = {"RG", "GB"};
  const struct {
    const char* name;
    std::vector<std::string> cfa_rows;  // none: LinearRaw
    bool lossless;
    uint32_t bits;
  } sources[] = {
      {"CFA lossless", bayer, true, 16},  // merged in pairs of columns
      {"CFA uncompressed 12-bit", bayer, false, 12},
      {"CFA uncompressed 8-bit", bayer, false, 8},  // lossless JPEG of widened 8-bit samples
      {"CFA of four columns", {"RGBG", "GBRG"}, false, 16},  // merged in fours
      {"LinearRaw lossless", {}, true, 16},
  };
  for (const auto& s : sources) {
    testing_support::RawDngOptions o = testing_support::RawDngOptions();
    o.width = 72;  // tiles of 16-pixel steps reach past the right edge
    o.height = 38;
    o.bits = s.bits;
    o.cfa_rows = s.cfa_rows;
    if (s.lossless) {
      o.compression = 7;
      o.tile_width = 32;
      o.tile_length = 32;
    }
    const testing_support::RawDng source = testing_support::build_raw_dng(o);
    for (uint32_t compression : {7u, 1u}) {
      for (bool big_endian : {false, true}) {
        SCOPED_TRACE(std::string(s.name) + ", written with compression " + std::to_string(compression) +
                     (big_endian ? " MM" : " II"));
        const std::string written = write_back(source.bytes, compression, big_endian);
        expect_stage1(source, written, 0xFFFFFFFF, s.bits > 8 ? 16 : 8);
        // libtiff walks IFD 0 and reads the thumbnail.
        expect_tiffinfo_clean(written);
      }
    }
  }
}

TEST_F(WrittenDngTest, ASmallLinearizationTableNarrowsSixteenBitDataToEightBits) {
  const struct {
    const char* name;
    uint32_t entries;  // 0: no table
    uint32_t bits;
  } cases[] = {
      {"256 entries", 256, 8},
      {"2 entries", 2, 8},
      {"257 entries", 257, 16},
      {"no table", 0, 16},
  };
  for (const auto& c : cases) {
    testing_support::RawDngOptions o;
    o.width = 96;  // large enough for readers that refuse tiny raw images
    o.height = 48;
    o.bits = 16;
    for (uint32_t i = 0; i < c.entries; ++i) o.linearization_table.push_back(uint16_t(i * 16));
    const testing_support::RawDng source = testing_support::build_raw_dng(o);
    for (uint32_t compression : {7u, 1u}) {
      for (bool big_endian : {false, true}) {
        SCOPED_TRACE(std::string(c.name) + ", compression " + std::to_string(compression) +
                     (big_endian ? " MM" : " II"));
        const std::string written = write_back(source.bytes, compression, big_endian);
        expect_stage1(source, written, c.bits == 8 ? c.entries - 1 : 0xFFFFFFFF, c.bits);
      }
    }
  }
}

// A model name in the system code page reaches the written file as the
// ASCII folding of the letters it names, not of their UTF-8 bytes read a
// second time as code-page letters ("Caf\xC3\x83\xC2\xA9" would fold to
// "CafA(C)").
TEST_F(WrittenDngTest, ANonAsciiModelNameIsWrittenFromItsLetters) {
  testing_support::RawDngOptions o;
  o.width = 32;
  o.height = 16;
  o.bits = 16;
  o.unique_camera_model = false;
  o.extra = [](testing_support::DngBuilder& b) {
    b.add_ascii(testing_support::DngBuilder::kIfd0, 50708, "Caf\xE9 Cam");
  };
  const testing_support::RawDng source = testing_support::build_raw_dng(o);
  const std::string written = write_back(source.bytes, 1, false);
  const std::string bytes = testing_support::read_file(written);
  tiff_walker walk(bytes);
  const walked_ifd ifd0 = walk.ifd(walk.u32(4));
  const entry& model = ifd0.entries.at(50708);
  EXPECT_EQ(model.type, 2u);
  EXPECT_EQ(bytes.substr(model.value_offset, model.count), std::string("Cafe Cam", 9));
}

// ---- Directories ---------------------------------------------------------------

TEST(TagDirectoryLimit, AHundredEntriesFitAndTheNextFails) {
  std::vector<std::unique_ptr<tag_uint16>> tags;
  for (uint32_t i = 0; i < 101; ++i) tags.push_back(std::make_unique<tag_uint16>(uint16_t(1000 + i), 1));
  tag_directory directory;
  for (uint32_t i = 0; i < 100; ++i) directory.Insert(tags[i].get());
  dng_test::StderrCapture err;
  EXPECT_EQ(code_of([&] { directory.Insert(tags[100].get()); }), dng_code_unknown);
  EXPECT_EQ(directory.Size(), 100u);
  EXPECT_EQ(directory.ByteSize(), 2u + 12 * 100 + 4);
}

}  // namespace
