// Small TIFF files assembled from directory entries and tag sets, read back
// by libtiff and checked by tiffinfo.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "dng/support/command_output.h"
#include "dng/core/dng_file_stream.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_ifd.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_exif_tag_group.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/render/dng_tiff_tags.h"
#include "support/temp_folder.h"

namespace {

struct layout {
  const char* name;
  uint32_t samples;
  uint32_t bits;
  uint32_t sample_format;  // 1 unsigned, 3 float
};

// Sample s of pixel p, as its bits.
uint32_t sample_value(const layout& l, uint32_t p, uint32_t s) {
  const uint32_t v = p * 7919u + s * 104729u + 12345u;
  if (l.sample_format == 3) {
    const float f = float(v % 1000) / 999.0f;
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    return bits;
  }
  return l.bits == 32 ? v * 2654435761u : v & ((1u << l.bits) - 1);
}

dng_exif sample_exif() {
  dng_exif exif;
  exif.make.Assign("Maker");
  exif.model.Assign("Model 1");
  exif.exposure_time = {1, 250};
  exif.f_number = {28, 10};
  exif.iso_speed_ratings[0] = 400;
  exif.date_time_original = {2024, 5, 6, 7, 8, 9};
  exif.user_comment.Assign("hello");
  exif.exif_version = 0x30323330;  // "0230"
  exif.gps_version_id = 0x02020000;
  exif.gps_latitude_ref.Assign("N");
  exif.gps_latitude[0] = {48, 1};
  exif.gps_latitude[1] = {30, 1};
  exif.gps_latitude[2] = {0, 1};
  exif.gps_altitude_ref = 0;
  exif.gps_altitude = {1234, 10};
  return exif;
}

// Writes a strip TIFF: header, image data, IFD 0, then the EXIF and GPS
// directories.
void write_tiff(const std::string& path, const layout& l, uint32_t width, uint32_t height,
                bool big_endian, const dng_exif& exif) {
  dng_file_stream stream(path.c_str(), true);
  stream.SetByteSwapped(big_endian);
  dng_ifd ifd;
  ifd.image_width = width;
  ifd.image_length = height;
  ifd.samples_per_pixel = l.samples;
  ifd.bits_per_sample[0] = l.bits;
  ifd.photometric_interpretation = l.samples >= 3 ? 2 : 1;
  ifd.compression = 1;
  ifd.sample_format[0] = l.sample_format;
  ifd.extra_samples_count = l.samples == 2 || l.samples == 4 ? 1 : 0;
  ifd.UseSingleTile();
  tag_directory ifd0;
  basic_tag_set basic(ifd0, ifd);
  const tag_string software(305, dng_text("Corvella test"));
  ifd0.Insert(&software);
  const tag_icc_profile profile(l.samples >= 3 ? &dng_space_sRGB::Instance() : &dng_space_GrayGamma22::Instance());
  ifd0.Insert(&profile);
  exif_tag_group group(ifd0, exif, false, nullptr, 0, false);

  const uint32_t exif_at = 8 + ifd0.ByteSize();
  const uint32_t gps_at = exif_at + group.ExifDirectory().ByteSize();
  const uint32_t data_at = gps_at + group.GpsDirectory().ByteSize();
  group.SetExifOffset(exif_at);
  group.SetGpsOffset(gps_at);
  stream.SeekForWrite(data_at);
  for (uint32_t p = 0; p < width * height; ++p) {
    for (uint32_t s = 0; s < l.samples; ++s) {
      const uint32_t v = sample_value(l, p, s);
      if (l.bits == 8) stream.PutUInt8(uint8_t(v));
      if (l.bits == 16) stream.PutUInt16(uint16_t(v));
      if (l.bits == 32) stream.PutUInt32(v);
    }
  }
  basic.TileOffsets()[0] = data_at;
  basic.TileByteCounts()[0] = stream.Position() - data_at;
  if (stream.Position() & 1) stream.PutUInt8(0);
  stream.SeekForWrite(0);
  stream.PutUInt16(big_endian ? 0x4D4D : 0x4949);
  stream.PutUInt16(42);
  stream.PutUInt32(8);
  ifd0.WriteTo(stream);
  group.ExifDirectory().WriteTo(stream);
  group.GpsDirectory().WriteTo(stream);
  stream.Close();
}

struct tiff_closer {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

TEST(TiffReadback, LibtiffReadsThePixelsAndTags) {
  const layout layouts[] = {
      {"gray 8", 1, 8, 1},       {"gray + alpha 16", 2, 16, 1}, {"RGB 8", 3, 8, 1},
      {"RGB 16", 3, 16, 1},      {"RGBA 32", 4, 32, 1},         {"gray float", 1, 32, 3},
  };
  testing_support::TempFolder folder;
  const dng_exif exif = sample_exif();
  for (const layout& l : layouts) {
    for (bool big_endian : {false, true}) {
      SCOPED_TRACE(std::string(l.name) + (big_endian ? " MM" : " II"));
      const std::string path = folder.sub("t.tif");
      const uint32_t width = 5;
      const uint32_t height = 3;
      write_tiff(path, l, width, height, big_endian, exif);

      std::unique_ptr<TIFF, tiff_closer> tiff(TIFFOpen(path.c_str(), "r"));
      ASSERT_NE(tiff, nullptr);
      EXPECT_EQ(TIFFIsBigEndian(tiff.get()) != 0, big_endian);
      uint32_t w = 0, h = 0;
      uint16_t spp = 0, bps = 0, format = 1;
      TIFFGetField(tiff.get(), TIFFTAG_IMAGEWIDTH, &w);
      TIFFGetField(tiff.get(), TIFFTAG_IMAGELENGTH, &h);
      TIFFGetField(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &spp);
      TIFFGetField(tiff.get(), TIFFTAG_BITSPERSAMPLE, &bps);
      TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLEFORMAT, &format);
      EXPECT_EQ(w, width);
      EXPECT_EQ(h, height);
      EXPECT_EQ(spp, l.samples);
      EXPECT_EQ(bps, l.bits);
      EXPECT_EQ(format, l.sample_format);
      char* software = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), TIFFTAG_SOFTWARE, &software));
      EXPECT_STREQ(software, "Corvella test");
      uint32_t icc_size = 0;
      void* icc = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &icc_size, &icc));
      EXPECT_EQ(icc_size, l.samples >= 3 ? 3144u : 408u);

      std::vector<uint8_t> row(TIFFScanlineSize(tiff.get()));
      const uint32_t bytes = l.bits / 8;
      for (uint32_t y = 0; y < height; ++y) {
        ASSERT_EQ(TIFFReadScanline(tiff.get(), row.data(), y, 0), 1);
        for (uint32_t x = 0; x < width; ++x) {
          for (uint32_t s = 0; s < l.samples; ++s) {
            uint32_t got = 0;
            const uint8_t* at = row.data() + (x * l.samples + s) * bytes;
            if (bytes == 1) got = *at;
            if (bytes == 2) got = *reinterpret_cast<const uint16_t*>(at);
            if (bytes == 4) std::memcpy(&got, at, 4);
            const uint32_t expected = sample_value(l, y * width + x, s);
            ASSERT_EQ(got, bytes == 4 ? expected : expected & ((1u << l.bits) - 1))
                << "pixel " << x << "," << y << " sample " << s;
          }
        }
      }

      toff_t exif_offset = 0;
      ASSERT_TRUE(TIFFGetField(tiff.get(), TIFFTAG_EXIFIFD, &exif_offset));
      ASSERT_TRUE(TIFFReadEXIFDirectory(tiff.get(), exif_offset));
      float exposure = 0;
      ASSERT_TRUE(TIFFGetField(tiff.get(), EXIFTAG_EXPOSURETIME, &exposure));
      EXPECT_FLOAT_EQ(exposure, 1.0f / 250.0f);
      char* original = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), EXIFTAG_DATETIMEORIGINAL, &original));
      EXPECT_STREQ(original, "2024:05:06 07:08:09");
      uint16_t iso_count = 0;
      uint16_t* iso = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), EXIFTAG_ISOSPEEDRATINGS, &iso_count, &iso));
      ASSERT_EQ(iso_count, 1);
      EXPECT_EQ(iso[0], 400);

      ASSERT_TRUE(TIFFSetDirectory(tiff.get(), 0));
      toff_t gps_offset = 0;
      ASSERT_TRUE(TIFFGetField(tiff.get(), TIFFTAG_GPSIFD, &gps_offset));
      ASSERT_TRUE(TIFFReadGPSDirectory(tiff.get(), gps_offset));
      char* lat_ref = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), GPSTAG_LATITUDEREF, &lat_ref));
      EXPECT_STREQ(lat_ref, "N");
      double* latitude = nullptr;
      ASSERT_TRUE(TIFFGetField(tiff.get(), GPSTAG_LATITUDE, &latitude));
      EXPECT_DOUBLE_EQ(latitude[0], 48.0);
      EXPECT_DOUBLE_EQ(latitude[1], 30.0);
      tiff.reset();

      const std::string report = dng_test::command_output("tiffinfo -D '" + path + "' 2>&1");
      EXPECT_NE(report.find("Image Width: 5 Image Length: 3"), std::string::npos) << report;
      EXPECT_EQ(report.find("Error"), std::string::npos) << report;
      EXPECT_EQ(report.find("Warning"), std::string::npos) << report;
      EXPECT_EQ(report.find("Unknown field"), std::string::npos) << report;
    }
  }
}

}  // namespace
