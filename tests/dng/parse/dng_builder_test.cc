// The DNG builder checked by an independent reader: libtiff opens what it
// writes and must find the same directories, pointers and tag values.
#include "support/dng_builder.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using testing_support::DngBuilder;
using testing_support::MakerNoteKind;
using testing_support::MakerNoteSpec;

void quiet(const char*, const char*, va_list) {}

// Opens the bytes with libtiff through a temporary file.
struct LibTiffFile {
  explicit LibTiffFile(const std::string& bytes) {
    TIFFSetWarningHandler(quiet);
    TIFFSetErrorHandler(quiet);
    file = std::tmpfile();
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    std::fflush(file);
    std::rewind(file);
    tif = TIFFFdOpen(fileno(file), "builder.dng", "rm");
  }
  ~LibTiffFile() {
    if (tif != nullptr) TIFFClose(tif);
    if (file != nullptr) std::fclose(file);
  }
  FILE* file = nullptr;
  TIFF* tif = nullptr;
};

uint32_t field32(TIFF* tif, ttag_t tag) {
  uint32_t v = 0;
  uint16_t s = 0;
  const TIFFField* f = TIFFFieldWithTag(tif, tag);
  if (f != nullptr && TIFFFieldDataType(f) == TIFF_SHORT) {
    if (TIFFGetField(tif, tag, &s) == 1) return s;
    return 0;
  }
  if (TIFFGetField(tif, tag, &v) == 1) return v;
  return 0;
}

std::string bytes_field(TIFF* tif, ttag_t tag) {
  uint32_t count = 0;
  void* data = nullptr;
  if (TIFFGetField(tif, tag, &count, &data) != 1 || data == nullptr) return {};
  return std::string(static_cast<const char*>(data), count);
}

struct Seen {
  int chain = 0;            // directories of the chain
  std::vector<int> subifd_counts;
  uint32_t width0 = 0;
  uint32_t strip0 = 0;
  std::string make;
  std::string dng_version;
  bool exif = false, gps = false;
  std::string maker_note;
  std::string private_data, xmp, iptc;
};

Seen read_back(const std::string& bytes) {
  LibTiffFile file(bytes);
  Seen seen;
  if (file.tif == nullptr) return seen;
  TIFF* tif = file.tif;
  seen.width0 = field32(tif, TIFFTAG_IMAGEWIDTH);
  uint64_t* strips = nullptr;
  if (TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &strips) == 1 && strips != nullptr) seen.strip0 = static_cast<uint32_t>(strips[0]);
  char* make = nullptr;
  if (TIFFGetField(tif, TIFFTAG_MAKE, &make) == 1) seen.make = make;
  uint8_t* version = nullptr;
  if (TIFFGetField(tif, TIFFTAG_DNGVERSION, &version) == 1 && version != nullptr) {
    seen.dng_version = std::string(reinterpret_cast<char*>(version), 4);
  }
  seen.private_data = bytes_field(tif, TIFFTAG_DNGPRIVATEDATA);
  seen.xmp = bytes_field(tif, TIFFTAG_XMLPACKET);
  uint32_t iptc_count = 0;
  uint32_t* iptc = nullptr;
  if (TIFFGetField(tif, TIFFTAG_RICHTIFFIPTC, &iptc_count, &iptc) == 1 && iptc != nullptr) {
    seen.iptc.assign(reinterpret_cast<const char*>(iptc), iptc_count);  // libtiff counts bytes
  }
  toff_t exif_offset = 0, gps_offset = 0;
  bool has_exif = TIFFGetField(tif, TIFFTAG_EXIFIFD, &exif_offset) == 1;
  bool has_gps = TIFFGetField(tif, TIFFTAG_GPSIFD, &gps_offset) == 1;
  // The chain, with the SubIFD count of each directory.
  std::vector<std::vector<toff_t>> subifds;
  do {
    ++seen.chain;
    uint16_t n = 0;
    toff_t* offsets = nullptr;
    std::vector<toff_t> list;
    if (TIFFGetField(tif, TIFFTAG_SUBIFD, &n, &offsets) == 1) list.assign(offsets, offsets + n);
    subifds.push_back(list);
  } while (TIFFReadDirectory(tif) == 1);
  for (const auto& list : subifds) {
    int readable = 0;
    for (toff_t off : list) readable += TIFFSetSubDirectory(tif, off) == 1 ? 1 : 0;
    seen.subifd_counts.push_back(readable);
  }
  if (has_exif && TIFFReadEXIFDirectory(tif, exif_offset) == 1) {
    seen.exif = true;
    uint32_t count = 0;
    void* note = nullptr;
    if (TIFFGetField(tif, EXIFTAG_MAKERNOTE, &count, &note) == 1 && note != nullptr) {
      seen.maker_note.assign(static_cast<const char*>(note), count);
    }
  }
  if (has_gps && TIFFReadGPSDirectory(tif, gps_offset) == 1) seen.gps = true;
  return seen;
}

TEST(DngBuilderTest, LibTiffFindsTheImageInEitherByteOrder) {
  for (bool big : {false, true}) {
    for (bool tiled : {false, true}) {
      DngBuilder b(big);
      b.add_dng_tags();
      b.add_cfa_image(DngBuilder::kIfd0, tiled);
      std::string bytes = b.build();
      Seen seen = read_back(bytes);
      EXPECT_EQ(seen.chain, 1) << big << tiled;
      EXPECT_EQ(seen.width0, 16u);
      EXPECT_EQ(seen.make, "Corvella");
      EXPECT_EQ(seen.dng_version, std::string("\1\1\0\0", 4));
      if (!tiled) {
        EXPECT_EQ(seen.strip0, b.mark("image"));
      }
      // The pixel bytes follow the structure to the end of the file.
      EXPECT_EQ(bytes.size(), b.mark("image") + 512u);
    }
  }
}

TEST(DngBuilderTest, ChainSubIfdsAndMetadataDirectoriesReadBack) {
  for (bool big : {false, true}) {
    DngBuilder b(big);
    b.add_dng_tags();
    b.add_rgb_preview(DngBuilder::kIfd0);
    int raw = b.add_ifd();
    b.add_linear_raw_image(raw, true);
    int second = b.add_ifd();
    b.add_rgb_preview(second);
    b.add_subifds(DngBuilder::kIfd0, {raw, second});
    int chained = b.add_ifd();
    b.add_rgb_preview(chained);
    b.set_next(DngBuilder::kIfd0, chained);
    b.add_ascii(b.exif_ifd(), 36867, "2026:12:10 10:00:00");
    b.add_ascii(b.interop_ifd(), 1, "R98");
    b.add_rational(b.gps_ifd(), 2, {{52, 1}, {30, 1}, {0, 1}});
    b.add_xmp(DngBuilder::kIfd0, "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    b.add_iptc(DngBuilder::kIfd0, std::string("\x1C\x02\x00\x00\x02\x00\x04", 7));
    std::string bytes = b.build();
    Seen seen = read_back(bytes);
    EXPECT_EQ(seen.chain, 2);
    ASSERT_EQ(seen.subifd_counts.size(), 2u);
    EXPECT_EQ(seen.subifd_counts[0], 2);
    EXPECT_EQ(seen.subifd_counts[1], 0);
    EXPECT_TRUE(seen.exif);
    EXPECT_TRUE(seen.gps);
    // libtiff does not follow the Interoperability pointer; the directory
    // is still where the EXIF entry says.
    EXPECT_EQ(bytes.substr(b.value_position(b.exif_ifd(), 40965), 4), b.u32(b.ifd_offset(b.interop_ifd())));
    EXPECT_EQ(seen.xmp, "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    // libtiff hands the LONGs back in the machine's order.
    std::string iptc("\x1C\x02\x00\x00\x02\x00\x04\x00", 8);
    if (big) iptc = std::string("\x00\x00\x02\x1C\x00\x04\x00\x02", 8);
    EXPECT_EQ(seen.iptc, iptc);
  }
}

TEST(DngBuilderTest, MakerNotesLandWhereTheExifEntryPoints) {
  for (MakerNoteKind kind : testing_support::all_maker_note_kinds()) {
    for (bool big : {false, true}) {
      MakerNoteSpec spec;
      spec.kind = kind;
      spec.own_big_endian = !big;
      spec.mamiya_directories = 3;
      DngBuilder b(big);
      b.add_dng_tags();
      b.add_cfa_image(DngBuilder::kIfd0);
      b.add_maker_note(spec);
      std::string bytes = b.build();
      Seen seen = read_back(bytes);
      std::string expected = testing_support::maker_note_bytes(spec, big, b.mark("makernote"), 0);
      EXPECT_EQ(seen.maker_note, expected) << testing_support::maker_note_kind_name(kind);
      std::string make = testing_support::maker_note_make(kind);
      if (!make.empty()) {
        EXPECT_EQ(seen.make, make);
      }
    }
  }
}

TEST(DngBuilderTest, PrivateDataSectionsAndOverwrites) {
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(DngBuilder::kIfd0);
  MakerNoteSpec note;
  b.add_private_data({testing_support::makn_section(note, true, 5000), testing_support::sr2_section(false),
                      testing_support::raf_section(true, {"abc", "", "defg"}),
                      testing_support::cntx_section(false, "hdr"),
                      testing_support::tag_block_section("MRW ", true)});
  b.set_count(DngBuilder::kIfd0, 279, 0x40000001);
  b.set_field(DngBuilder::kIfd0, 279, 7);
  std::string bytes = b.build();
  ASSERT_GE(bytes.size(), b.mark("private") + 6);
  EXPECT_EQ(bytes.substr(b.mark("private"), 6), std::string("Adobe\0", 6));
  EXPECT_EQ(bytes.substr(b.mark("private.0.length") - 4, 4), "MakN");
  EXPECT_EQ(bytes.substr(b.mark("private.4.length") - 4, 4), "MRW ");
  // The damaged StripByteCounts entry carries the overwritten count and
  // field, which libtiff then refuses or reads as written.
  uint32_t at = b.entry_position(DngBuilder::kIfd0, 279);
  EXPECT_EQ(bytes.substr(at + 4, 8), b.u32(0x40000001) + b.u32(7));
  Seen seen = read_back(bytes);
  EXPECT_EQ(seen.private_data, bytes.substr(b.mark("private"), seen.private_data.size()));
  EXPECT_FALSE(seen.private_data.empty());
}

}  // namespace
