#include "examine/examiner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "examine/tv_ifd.h"
#include "examine_harness.h"
#include "support/temp_folder.h"
#include "support/tiff_builder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;
using testing_support::TiffBuilder;

// A camera-like file: IFD0 with image fields, Make, Model, DateTime and
// links to EXIF and GPS directories, then a thumbnail directory.
struct CameraFile {
  explicit CameraFile(bool big_endian = false) : b(big_endian) {
    ifd0 = b.add_ifd();
    exif = b.add_ifd();
    gps = b.add_ifd();
    ifd1 = b.add_ifd();
    b.add_short(ifd0, 256, {640});
    b.add_short(ifd0, 257, {480});
    b.add_short(ifd0, 258, {8, 8, 8});
    b.add_short(ifd0, 259, {1});
    b.add_short(ifd0, 262, {2});
    b.add_ascii(ifd0, 271, "Testmaker");
    b.add_ascii(ifd0, 272, "Model One");
    b.add_long(ifd0, 273, {4000, 5000});
    b.add_short(ifd0, 274, {6});
    b.add_short(ifd0, 277, {3});
    b.add_short(ifd0, 278, {240});
    b.add_long(ifd0, 279, {1000, 1000});
    b.add_ascii(ifd0, 306, "2021:03:04 05:06:07");
    b.add_ifd_pointer(ifd0, 34665, {exif});
    b.add_ifd_pointer(ifd0, 34853, {gps});
    b.set_next(ifd0, ifd1);
    b.add_rational(exif, 33434, {{1, 250}});
    b.add_ascii(exif, 36867, "2021:03:04 05:06:07");
    b.add_ascii(exif, 36868, "2021:03:04 05:06:08");
    b.add_ascii(exif, 37522, "42");
    b.add_byte(gps, 0, {2, 2, 0, 0});
    b.add_ascii(gps, 1, "N");
    b.add_short(ifd1, 259, {6});
    b.add_long(ifd1, 513, {100});
    b.add_long(ifd1, 514, {200});
  }
  std::string build() { return b.build(); }

  TiffBuilder b;
  int ifd0, exif, gps, ifd1;
};

// The smallest sound TIFF: one directory with the given entries added by f.
template <typename F>
std::string one_directory(F add_entries, bool big_endian = false) {
  TiffBuilder b(big_endian);
  int ifd = b.add_ifd();
  add_entries(b, ifd);
  return b.build();
}

TEST(ExamineFile, DngVersionInFirstDirectoryMarksDng) {
  std::string dng = one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {16});
    b.add_byte(ifd, 50706, {1, 4, 0, 0});
  });
  Examination e(dng);
  ASSERT_TRUE(e.examine()) << e.message();
  EXPECT_TRUE(e.first()->is_dng);
  EXPECT_EQ(e.message(), "OK");

  Examination plain(one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {16}); }));
  ASSERT_TRUE(plain.examine());
  EXPECT_FALSE(plain.first()->is_dng);
}

TEST(ExamineFile, ReadsOnlyTheFirstDirectory) {
  CameraFile f;
  Examination e(f.build());
  ASSERT_TRUE(e.examine()) << e.message();
  EXPECT_EQ(e.first()->next, nullptr);
  EXPECT_EQ(e.first()->exif, nullptr);
  EXPECT_EQ(e.first()->exif_offset, static_cast<int32_t>(f.b.ifd_offset(f.exif)));
  EXPECT_EQ(e.first()->width, 640);
  EXPECT_EQ(e.first()->length, 480);
  EXPECT_EQ(e.first()->bits_per_sample[2], 8u);
  EXPECT_EQ(e.first()->strip_count, 2u);
  ASSERT_EQ(e.first()->strip_offsets.size(), 2u);
  EXPECT_EQ(e.first()->strip_offsets[1], 5000u);
  EXPECT_STREQ(e.state()->make, "Testmaker");
  EXPECT_STREQ(e.state()->model, "Model One");
  EXPECT_EQ(e.state()->orientation, 6);
  EXPECT_STREQ(e.state()->date_time_digitized, "");
}

TEST(ExamineFile, WorkerPrintsNothing) {
  // The silent callback is what the worker passes; its standard output is
  // the result channel. Everything the examiner does must leave fd 1 alone.
  testing_support::TempFolder folder;
  std::string out_path = folder.sub("stdout");
  fflush(stdout);
  int saved = dup(1);
  int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(out, 0);
  dup2(out, 1);
  close(out);
  {
    CameraFile f;
    std::string bytes = f.build();
    Examination silent(bytes, print_nothing);
    EXPECT_TRUE(silent.examine());
    EXPECT_TRUE(silent.walk());
    Examination broken(bytes.substr(0, 50), print_nothing);
    EXPECT_FALSE(broken.walk());
  }
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  EXPECT_EQ(testing_support::read_file(out_path), "");
}

TEST(ExamineFile, OpensThePathWhenGivenNoFile) {
  testing_support::TempFolder folder;
  CameraFile f;
  std::string path = folder.write_file("camera.tif", f.build());
  ExaminerContext* context = new_examiner_context(nullptr, print_nothing);
  ASSERT_TRUE(examine_file(path.c_str(), context)) << context->message;
  EXPECT_TRUE(context->owns_file);
  // A second examination on the same context starts afresh.
  ASSERT_TRUE(walk_file(path.c_str(), context, true));
  EXPECT_STREQ(context->state->date_time_digitized, "2021:03:04 05:06:08");
  EXPECT_FALSE(examine_file(folder.sub("missing.tif").c_str(), context));
  EXPECT_STREQ(context->message, "Can't open file");
  EXPECT_FALSE(context->owns_file);
  free_examiner_context(context);
}

TEST(ExamineFile, MessageStartsAfreshForEachExamination) {
  // The hash key walks many files with one context; a failure must not
  // stick to the next file.
  CameraFile f;
  f.b.set_next_raw(f.ifd0, 0x7FFFFFF0);
  Examination e(f.build());
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Read error - file may be short (reading entry count)");
  EXPECT_TRUE(e.walk(true));
  EXPECT_EQ(e.message(), "OK");
}

TEST(ExamineFile, PrintsThePathFirst) {
  Examination e(one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1}); }));
  e.examine();
  EXPECT_EQ(e.dump().rfind("image\nLittle Endian\n", 0), 0u) << e.dump();
}

// Faults of the first directory: the silent read refuses some that the
// printed walk only warns about, and agrees on everything else.
struct FirstDirectoryCase {
  const char* what;
  std::string (*make)();
  bool walk_accepts;
  const char* message;      // the silent read's failure
  const char* walk_output;  // what the walk prints instead, when it accepts
};

std::string odd_first_offset() {
  // A directory of inline values only, moved one byte later.
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1}); });
  std::string moved = tiff.substr(0, 4) + std::string("\x09\0\0\0", 4) + std::string(1, '\0') + tiff.substr(8);
  return moved;
}

std::string tags_out_of_order() {
  return one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {1});
    b.add_short(ifd, 258, {8});
    b.add_short(ifd, 257, {1});
  });
}

std::string no_entries() {
  TiffBuilder b;
  b.add_ifd();
  return b.build();
}

std::string too_many_subifds() {
  return one_directory([](TiffBuilder& b, int ifd) {
    b.add_long(ifd, 330, std::vector<uint32_t>(11, 8));
  });
}

std::string subifd_not_long() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 330, {8}); });
}

std::string width_of_two_values() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1, 2}); });
}

std::string four_bits_per_sample() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 258, {8, 8, 8, 8}); });
}

std::string long_bits_per_sample() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_long(ifd, 258, {8, 8, 8}); });
}

std::string rational_strip_offsets() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_rational(ifd, 273, {{1, 2}}); });
}

std::string short_exif_pointer() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 34665, {8}); });
}

std::string two_gps_pointers() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_long(ifd, 34853, {8, 8}); });
}

std::string rational_jpeg_offset() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_rational(ifd, 513, {{1, 1}}); });
}

std::string byte_jpeg_length() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_byte(ifd, 514, {1}); });
}

std::string compression_of_two_values() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 259, {1, 1}); });
}

std::string value_past_the_end() {
  return one_directory([](TiffBuilder& b, int ifd) { b.add_raw(ifd, 270, 2, 100, 5000); });
}

std::string entry_cut_short() {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {1});
    b.add_short(ifd, 257, {1});
  });
  return tiff.substr(0, 8 + 2 + 12 + 6);
}

std::string count_cut_short() { return std::string("II*\0\x08\0\0\0\x01", 9); }

const FirstDirectoryCase kFirstDirectoryCases[] = {
    {"odd first offset", odd_first_offset, true, "Image File Directory offset not at word boundary",
     "\nWARNING: Image File Directory offset not at word boundary.\n"},
    {"tags out of order", tags_out_of_order, true, "tags are out of order", "\nWARNING: Tags are out of order.\n"},
    {"no entries", no_entries, false, "Image File Directory has no entries", nullptr},
    {"eleven SubIFDs", too_many_subifds, false, "Too many SubIFDs", nullptr},
    {"SubIFD as SHORT", subifd_not_long, false, "SubIFD offset is not signed 32-bit number (type 4)", nullptr},
    {"width of two values", width_of_two_values, false, "Tag is missing value", nullptr},
    {"compression of two values", compression_of_two_values, false, "Tag is missing value", nullptr},
    {"four BitsPerSample", four_bits_per_sample, false, "BitsPerSample has other than 1 or 3 values", nullptr},
    {"LONG BitsPerSample", long_bits_per_sample, false, "BitsPerSample has other than 16-bit values", nullptr},
    {"RATIONAL StripOffsets", rational_strip_offsets, false, "StripOffsets type not 3 or 4", nullptr},
    {"SHORT EXIF pointer", short_exif_pointer, false, "Exif_IFD is not type 4 and/or has more than one value",
     nullptr},
    {"two GPS pointers", two_gps_pointers, false, "GPS_IFD is not type 4 and/or has more than one value", nullptr},
    {"RATIONAL JPEG offset", rational_jpeg_offset, false, "JPEGInterchangeFormat type not 3 or 4", nullptr},
    {"BYTE JPEG length", byte_jpeg_length, false, "JPEGInterchangeFormatLength type not 3 or 4", nullptr},
    {"value past the end", value_past_the_end, false, "Read error - file may be short (reading value)", nullptr},
    {"entry cut short", entry_cut_short, false, "Read error - file may be short (reading entry)", nullptr},
    {"entry count cut short", count_cut_short, false, "Read error - file may be short (reading entry count)",
     nullptr},
};

class FirstDirectoryFault : public testing::TestWithParam<FirstDirectoryCase> {};

TEST_P(FirstDirectoryFault, SilentReadAndWalkAgreeOnAcceptance) {
  const FirstDirectoryCase& c = GetParam();
  Examination read(c.make());
  EXPECT_FALSE(read.examine()) << c.what;
  EXPECT_EQ(read.message(), c.message) << c.what;

  Examination walk(c.make());
  EXPECT_EQ(walk.walk(), c.walk_accepts) << c.what << ": " << walk.message();
  if (c.walk_accepts) {
    EXPECT_TRUE(contains(walk.dump(), c.walk_output)) << walk.dump();
  } else {
    EXPECT_EQ(walk.message(), c.message) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, FirstDirectoryFault, testing::ValuesIn(kFirstDirectoryCases));

TEST(ExamineFile, SoundFilesAreAcceptedByBothEntries) {
  for (bool big_endian : {false, true}) {
    CameraFile f(big_endian);
    std::string bytes = f.build();
    Examination e(bytes);
    EXPECT_TRUE(e.examine()) << e.message();
    EXPECT_TRUE(e.walk()) << e.message();
    EXPECT_TRUE(e.walk(true)) << e.message();
  }
}

TEST(ReadIfdEntry, UnknownTypePrintsAndTheDirectoryStillReads) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {1});
    b.add_raw(ifd, 257, 13, 1, 0);
    b.add_short(ifd, 258, {8});
  });
  Examination e(tiff);
  ASSERT_TRUE(e.examine()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\tImageWidth: 1 \nUnknown type = 13\n\tBitsPerSample: 8 \n")) << e.dump();
}

TEST(ReadIfdEntry, UnknownTypeStillCountsForTheOrderCheck) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_raw(ifd, 300, 0, 1, 0);
    b.add_short(ifd, 256, {1});
  });
  Examination e(tiff);
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "tags are out of order");
}

TEST(ReadIfdEntry, HugeCountsAreNotFetched) {
  for (uint32_t count : {5000001u, 0x40000001u, 0xFFFFFFFFu}) {
    std::string tiff = one_directory([count](TiffBuilder& b, int ifd) { b.add_raw(ifd, 270, 2, count, 0x7FFFFFF0); });
    Examination e(tiff);
    ASSERT_TRUE(e.examine()) << count << ": " << e.message();
    EXPECT_TRUE(contains(e.dump(), "\tImageDescription: [>5000000 values - not displayed]\n")) << e.dump();
  }
}

TEST(ReadIfdEntry, FiveMillionValuesAreStillFetched) {
  // The largest count that is shown must still exist in the file.
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) { b.add_raw(ifd, 273, 4, 5000000, 8); });
  Examination e(tiff);
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "Read error - file may be short (reading value)");
}

TEST(ReadIfdEntry, CountZeroPrintsNull) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) { b.add_raw(ifd, 270, 2, 0, 0); });
  Examination e(tiff);
  ASSERT_TRUE(e.examine());
  EXPECT_TRUE(contains(e.dump(), "\tImageDescription: [NULL]\n")) << e.dump();
}

TEST(ReadIfdEntry, InlineBytesStopAtTheCount) {
  // Three BYTE values in the field; the field's fourth byte and the next
  // entry's bytes must not show.
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_raw(ifd, 280, 1, 3, 0x44030201);
    b.add_short(ifd, 281, {0x7777});
  });
  Examination e(tiff);
  ASSERT_TRUE(e.examine());
  EXPECT_TRUE(contains(e.dump(), "\tMinSampleValue: 1 2 3 \n")) << e.dump();
}

TEST(ReadIfdEntry, OddValueOffsetWarnsAndReads) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) { b.add_raw(ifd, 270, 2, 5, 9); });
  Examination e(tiff);
  ASSERT_TRUE(e.examine()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\nWARNING: Image File Directory value offset not at word boundary.\n"));
}

const char* text_field(ExaminerState* s, uint16_t tag) {
  switch (tag) {
    case 271: return s->make;
    case 272: return s->model;
    case 306: return s->date_time;
    case 36868: return s->date_time_digitized;
    default: return s->sub_sec_time_digitized;
  }
}

TEST(ReadIfdEntry, TextFieldsAreBoundedByTheEntryAndTheField) {
  struct Case {
    uint16_t tag;
    size_t length;
    bool terminated;
    size_t kept;
  };
  const Case cases[] = {
      {271, 30, false, 24}, {271, 3, false, 3},  {272, 40, true, 24},  {272, 2, false, 2},
      {306, 150, false, 99}, {306, 19, true, 19}, {36868, 120, false, 99}, {37522, 30, false, 19},
      {37522, 1, false, 1},
  };
  for (const Case& c : cases) {
    std::string text;
    for (size_t i = 0; i < c.length; ++i) text.push_back(static_cast<char>('A' + i % 26));
    // The next entry's bytes and the value after this one would run on if
    // the copy ignored the count.
    std::string tiff = one_directory([&](TiffBuilder& b, int ifd) {
      b.add_ascii(ifd, c.tag, text, c.terminated);
      b.add_ascii(ifd, 65000, "TRAILING TEXT THAT MUST NOT APPEAR");
    });
    Examination e(tiff);
    ASSERT_TRUE(e.walk()) << e.message();
    EXPECT_EQ(std::string(text_field(e.state(), c.tag)), text.substr(0, c.kept)) << c.tag << " " << c.length;
  }
}

TEST(ReadIfdEntry, InterpretedFieldsPrintTheirMeaning) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_long(ifd, 254, {1});
    b.add_short(ifd, 259, {32773});
    b.add_short(ifd, 274, {9});
  });
  Examination e(tiff);
  ASSERT_TRUE(e.examine());
  EXPECT_TRUE(contains(e.dump(), "\tNewSubfileType: 1 \n\t\t(Subfile Type: reduced-resolution version)\n"));
  EXPECT_TRUE(contains(e.dump(), "\tCompression: 32773 \n\t\t(Compression: PackBits)\n"));
  EXPECT_TRUE(contains(e.dump(), "\tOrientation: 9 \n\t\t(Orientation: Unknown)\n"));
}

TEST(ReadIfdEntry, IptcRecordsArePrinted) {
  std::string iptc = std::string("\x1c\x02\x19\x00\x04", 5) + "tree" + std::string("\x1c\x02\x78\x00\x02", 5) + "hi";
  std::string tiff = one_directory([&](TiffBuilder& b, int ifd) { b.add_undefined(ifd, 33723, iptc); });
  Examination e(tiff);
  ASSERT_TRUE(e.examine());
  EXPECT_TRUE(contains(e.dump(), "\t\t\t\tKeyword: tree\n\t\t\ttag=28 rcd=2 ds=120 count=2\n")) << e.dump();
}

TEST(ReadIfdEntry, MakerNoteIsKeptWithItsOffset) {
  TiffBuilder b;
  int ifd0 = b.add_ifd();
  int exif = b.add_ifd();
  b.add_ascii(ifd0, 271, "Canon");
  b.add_ifd_pointer(ifd0, 34665, {exif});
  b.add_undefined(exif, 37500, "maker note bytes");
  std::string tiff = b.build();
  Examination e(tiff);
  ASSERT_TRUE(e.walk()) << e.message();
  const TV_IFD* exif_dir = e.first()->exif;
  ASSERT_NE(exif_dir, nullptr);
  EXPECT_EQ(std::string(exif_dir->maker_note.begin(), exif_dir->maker_note.end()), "maker note bytes");
  uint32_t offset = exif_dir->maker_note_offset;
  EXPECT_EQ(tiff.substr(offset, 16), "maker note bytes");
  EXPECT_TRUE(contains(e.dump(), "\tMakerNoteBase: " + std::to_string(offset) + "\n"));
  ASSERT_FALSE(e.state()->summary.items.empty());
  EXPECT_EQ(e.state()->summary.items.back().name, "Actuations");
  EXPECT_EQ(e.state()->summary.items.back().kind, 2);
}

TEST(ReadIfdEntry, MakerNoteInGpsDirectoryIsHidden) {
  TiffBuilder b;
  int ifd0 = b.add_ifd();
  int gps = b.add_ifd();
  b.add_ifd_pointer(ifd0, 34853, {gps});
  b.add_undefined(gps, 37500, "hidden note");
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\t(null): [not shown]\n")) << e.dump();
}

TEST(WalkFile, XmpIsPrintedAfterTheSubDirectoryCount) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {1});
    b.add_undefined(ifd, 700, "<x:xmpmeta/>");
  });
  Examination e(tiff);
  ASSERT_TRUE(e.walk());
  EXPECT_TRUE(contains(e.dump(), "\nNumber of Sub IFDs: 0\n\nXMP entry:\n<x:xmpmeta/>\n")) << e.dump();
  ASSERT_TRUE(e.walk(true));
  EXPECT_FALSE(contains(e.dump(), "XMP entry")) << e.dump();
}

TEST(WalkFile, DirectoriesPrintInChainThenChildrenOrder) {
  // IFD0 -> IFD1 -> IFD2 along the chain; IFD0 has an EXIF directory, IFD1
  // a SubIFD. The chain prints first, then the children from the end of the
  // chain back to its start.
  TiffBuilder b;
  int ifd0 = b.add_ifd(), ifd1 = b.add_ifd(), ifd2 = b.add_ifd(), exif = b.add_ifd(), sub = b.add_ifd();
  b.add_short(ifd0, 256, {100});
  b.add_ifd_pointer(ifd0, 34665, {exif});
  b.add_short(ifd1, 256, {101});
  b.add_ifd_pointer(ifd1, 330, {sub});
  b.add_short(ifd2, 256, {102});
  b.add_short(exif, 41729, {1});
  b.add_short(sub, 256, {103});
  b.set_next(ifd0, ifd1);
  b.set_next(ifd1, ifd2);
  Examination e(b.build());
  ASSERT_TRUE(e.walk()) << e.message();
  std::string d = e.dump();
  std::vector<std::string> order = {
      "First Image File Directory", "ImageWidth: 100", "Next Image File Directory", "ImageWidth: 101",
      "Next Image File Directory",  "ImageWidth: 102", "Next Image File Directory offset is zero",
      "Number of Sub IFDs: 0",      // IFD2
      "Number of Sub IFDs: 1",      "Sub Image File Directory", "ImageWidth: 103",  // IFD1
      "EXIF Image File Directory",  "SceneType: 1",  "Number of Sub IFDs: 0"};           // IFD0
  size_t at = 0;
  for (const std::string& part : order) {
    size_t found = d.find(part, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: " << part << "\n" << d;
    at = found + part.size();
  }
  ASSERT_NE(e.first()->next, nullptr);
  ASSERT_NE(e.first()->next->next, nullptr);
  EXPECT_EQ(e.first()->next->sub_ifds[0].ifd->width, 103);
}

TEST(WalkFile, StopAfterExifReadsNoChainAndNoSubDirectories) {
  CameraFile f;
  int sub = f.b.add_ifd();
  f.b.add_short(sub, 256, {1});
  f.b.add_ifd_pointer(f.ifd0, 330, {sub});
  f.b.add_undefined(f.ifd0, 700, "<xmp/>");
  Examination e(f.build());
  ASSERT_TRUE(e.walk(true)) << e.message();
  std::string d = e.dump();
  EXPECT_TRUE(contains(d, "EXIF Image File Directory")) << d;
  EXPECT_TRUE(contains(d, "GPS Image File Directory")) << d;
  EXPECT_FALSE(contains(d, "Next Image File Directory at")) << d;
  EXPECT_FALSE(contains(d, "Sub Image File Directory")) << d;
  EXPECT_FALSE(contains(d, "Number of Sub IFDs: 1")) << d;
  EXPECT_FALSE(contains(d, "XMP entry")) << d;
  EXPECT_EQ(e.first()->next, nullptr);
  EXPECT_EQ(e.first()->sub_ifds[0].ifd, nullptr);
  EXPECT_TRUE(e.first()->strip_offsets.empty());  // not kept with the stop flag
  EXPECT_STREQ(e.state()->date_time_digitized, "2021:03:04 05:06:08");
  EXPECT_STREQ(e.state()->sub_sec_time_digitized, "42");
  EXPECT_STREQ(e.state()->date_time, "2021:03:04 05:06:07");
}

TEST(WalkFile, StopAfterExifWithoutExifWalksEverything) {
  TiffBuilder b;
  int ifd0 = b.add_ifd(), ifd1 = b.add_ifd();
  b.add_short(ifd0, 256, {1});
  b.add_short(ifd1, 256, {2});
  b.set_next(ifd0, ifd1);
  Examination e(b.build());
  ASSERT_TRUE(e.walk(true)) << e.message();
  EXPECT_TRUE(contains(e.dump(), "Next Image File Directory at offset")) << e.dump();
}

TEST(WalkFile, StopAfterExifDoesNotTouchImageData) {
  // The preview's bytes lie beyond the end of the file: only a walk that
  // fetched more than it prints would notice. The walk still checks that
  // the file holds the value.
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) {
    b.add_short(ifd, 256, {1});
    b.add_undefined(ifd, 46, std::string(100000, '\x55'));
  });
  Examination e(tiff);
  ASSERT_TRUE(e.walk(true)) << e.message();
  EXPECT_LT(e.state()->scratch.size(), 1000u);
  EXPECT_EQ(e.first()->preview_length, 100000u);
}

TEST(WalkFile, MissingNextOffsetFailsTheWalkButNotTheRead) {
  TiffBuilder b;
  int ifd = b.add_ifd();
  b.add_short(ifd, 256, {1});
  b.omit_next_field(ifd);
  std::string tiff = b.build();
  Examination e(tiff);
  EXPECT_TRUE(e.examine()) << e.message();
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Read error - file may be short (reading Image File Directory offset)");
}

TEST(WalkFile, EmptyDirectoryPrintsItsHeadingBeforeFailing) {
  Examination e(no_entries());
  EXPECT_FALSE(e.walk());
  EXPECT_TRUE(contains(e.dump(), "\nFirst Image File Directory at offset 8 (0 entries)\n")) << e.dump();
}

// Links that lead back to a directory already read.
struct LoopCase {
  const char* what;
  void (*link)(TiffBuilder&, int ifd0, int ifd1, int ifd2);
};

const LoopCase kLoopCases[] = {
    {"next to itself", [](TiffBuilder& b, int ifd0, int, int) { b.set_next(ifd0, ifd0); }},
    {"next back to the first",
     [](TiffBuilder& b, int ifd0, int ifd1, int) {
       b.set_next(ifd0, ifd1);
       b.set_next(ifd1, ifd0);
     }},
    {"EXIF to its parent", [](TiffBuilder& b, int ifd0, int, int) { b.add_ifd_pointer(ifd0, 34665, {ifd0}); }},
    {"EXIF back to the parent",
     [](TiffBuilder& b, int ifd0, int ifd1, int) {
       b.add_ifd_pointer(ifd0, 34665, {ifd1});
       b.add_ifd_pointer(ifd1, 34665, {ifd0});
     }},
    {"GPS to the EXIF directory",
     [](TiffBuilder& b, int ifd0, int ifd1, int) {
       b.add_ifd_pointer(ifd0, 34665, {ifd1});
       b.add_ifd_pointer(ifd0, 34853, {ifd1});
     }},
    {"SubIFD to its parent", [](TiffBuilder& b, int ifd0, int, int) { b.add_ifd_pointer(ifd0, 330, {ifd0}); }},
    {"SubIFD twice", [](TiffBuilder& b, int ifd0, int ifd1, int) { b.add_ifd_pointer(ifd0, 330, {ifd1, ifd1}); }},
    {"SubIFD chain back to the first",
     [](TiffBuilder& b, int ifd0, int ifd1, int ifd2) {
       b.add_ifd_pointer(ifd0, 330, {ifd1});
       b.set_next(ifd1, ifd2);
       b.set_next(ifd2, ifd0);
     }},
};

class DirectoryLoop : public testing::TestWithParam<LoopCase> {};

TEST_P(DirectoryLoop, FailsWithAMessage) {
  const LoopCase& c = GetParam();
  for (bool stop : {false, true}) {
    TiffBuilder b;
    int ifd0 = b.add_ifd(), ifd1 = b.add_ifd(), ifd2 = b.add_ifd();
    b.add_short(ifd0, 255, {1});
    b.add_short(ifd1, 256, {1});
    b.add_short(ifd2, 256, {2});
    c.link(b, ifd0, ifd1, ifd2);
    Examination e(b.build());
    EXPECT_TRUE(e.examine()) << c.what;
    EXPECT_FALSE(e.walk(stop)) << c.what;
    EXPECT_EQ(e.message(), "Image File Directory loop") << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DirectoryLoop, testing::ValuesIn(kLoopCases));

TEST(WalkFile, LongChainsStopAtTheDirectoryCap) {
  TiffBuilder b;
  const int n = examine_limits::kMaxDirectories + 10;
  for (int i = 0; i < n; ++i) {
    int ifd = b.add_ifd();
    b.add_short(ifd, 256, {static_cast<uint16_t>(i)});
    if (i > 0) b.set_next(ifd - 1, ifd);
  }
  Examination e(b.build(), print_nothing);
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Too many Image File Directories");
}

TEST(WalkFile, ChainsUpToTheCapAreWalked) {
  TiffBuilder b;
  const int n = 1000;
  for (int i = 0; i < n; ++i) {
    int ifd = b.add_ifd();
    b.add_short(ifd, 256, {static_cast<uint16_t>(i)});
    if (i > 0) b.set_next(ifd - 1, ifd);
  }
  Examination e(b.build(), print_nothing);
  EXPECT_TRUE(e.walk()) << e.message();
}

TEST(WalkFile, DeepNestingStopsAtTheDepthCap) {
  TiffBuilder b;
  const int n = examine_limits::kMaxNestingDepth + 4;
  for (int i = 0; i < n; ++i) b.add_ifd();
  for (int i = 0; i < n; ++i) {
    b.add_short(i, 256, {1});
    if (i + 1 < n) b.add_ifd_pointer(i, 330, {i + 1});
  }
  Examination e(b.build());
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Image File Directories nested too deeply");
}

// The same structure in both byte orders prints the same dump.
TEST(WalkFile, BothByteOrdersPrintAlike) {
  auto dump_of = [](bool big_endian) {
    CameraFile f(big_endian);
    f.b.add_undefined(f.exif, 37500, "maker note text");
    f.b.add(f.exif, 37386, 5, 1, f.b.u32(35) + f.b.u32(10));
    f.b.add(f.exif, 37380, 10, 1, f.b.u32(0xFFFFFFFF) + f.b.u32(3));
    f.b.add(f.exif, 41486, 11, 1, f.b.u32(0x40490FDB));
    Examination e(f.build());
    EXPECT_TRUE(e.walk()) << e.message();
    std::string d = e.dump();
    size_t line = d.find(big_endian ? "Big Endian\n" : "Little Endian\n");
    EXPECT_NE(line, std::string::npos);
    return d.erase(line, d.find('\n', line) + 1 - line);
  };
  std::string little = dump_of(false);
  EXPECT_EQ(little, dump_of(true));
  EXPECT_TRUE(contains(little, "\tExposureBiasValue: -1/3 \n")) << little;
  EXPECT_TRUE(contains(little, "\tFocalPlaneXResolution: 3.141593 \n")) << little;
}

// The containers that carry a TIFF structure: each is read from its base.
struct ContainerCase {
  const char* what;
  std::string (*wrap)(const std::string&);
  const char* announced;  // a line the container prints, or ""
};

std::string bare(const std::string& tiff) { return tiff; }

const ContainerCase kContainers[] = {
    {"TIFF", bare, ""},
    {"EXIF JPEG", testing_support::exif_jpeg, "JPEG in EXIF format\n"},
    {"JFIF then EXIF", testing_support::jfif_exif_jpeg, "JPEG/JFIF (not TIFF compatible)\n"},
    {"FUJIFILM", testing_support::fujifilm_file, ""},
    {"MRW", testing_support::minolta_mrw, ""},
};

class Container : public testing::TestWithParam<ContainerCase> {};

TEST_P(Container, ReadsTheTiffInside) {
  const ContainerCase& c = GetParam();
  for (bool big_endian : {false, true}) {
    CameraFile f(big_endian);
    std::string tiff = f.build();
    std::string file = c.wrap(tiff);
    uint64_t base = file.find(tiff.substr(0, 8));
    Examination e(file);
    ASSERT_TRUE(e.examine()) << c.what << ": " << e.message();
    EXPECT_EQ(e.state()->base, base) << c.what;
    EXPECT_EQ(e.first()->width, 640);
    ASSERT_TRUE(e.walk(true)) << c.what << ": " << e.message();
    EXPECT_STREQ(e.state()->date_time_digitized, "2021:03:04 05:06:08");
    EXPECT_TRUE(contains(e.dump(), c.announced)) << e.dump();
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, Container, testing::ValuesIn(kContainers));

TEST(ExamineHeader, ExifJpegAnnouncesItsLength) {
  std::string file = testing_support::exif_jpeg(one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1}); }));
  Examination e(file);
  ASSERT_TRUE(e.walk()) << e.message();
  unsigned hi = static_cast<uint8_t>(file[4]), lo = static_cast<uint8_t>(file[5]);
  char line[120];
  snprintf(line, sizeof line, "\tLength in EXIF header: @4=0x%x @5=0x%x (%u or %u)\n", hi, lo, hi * 256 + lo,
           lo * 256 + hi);
  EXPECT_EQ(e.dump().find(std::string("image\n") + line + "JPEG in EXIF format\nLittle Endian\n"), 0u) << e.dump();
}

TEST(ExamineHeader, ExifJpegWithoutExifTailIsRefused) {
  std::string file = testing_support::exif_jpeg(one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1}); }));
  file[8] = 'X';
  Examination e(file);
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "Bad header - doesn't start with recognizable markers");
}

TEST(ExamineHeader, JfifWithoutExifIsNotTiff) {
  std::string file = testing_support::jfif_exif_jpeg("MM");
  file[file.find("Exif")] = 'X';
  // The scan steps over every segment and runs off the end of the file.
  Examination e(file);
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "read error");
  EXPECT_TRUE(contains(e.dump(), "\tVersion: 1.2\n\tUnits: 1\n\tXdensity: 72\n")) << e.dump();
  // A segment whose sixth byte is zero ends the scan; the JPEG header is
  // then no TIFF header.
  file[25] = '\0';
  Examination stopped(file);
  EXPECT_FALSE(stopped.walk());
  EXPECT_EQ(stopped.message(), "Bad header - invalid byte-order designation");
}

struct HeaderCase {
  const char* what;
  std::string bytes;
  bool ok;
  const char* message;
  const char* printed;
};

std::string with_directory(const std::string& header) {
  std::string tiff = one_directory([](TiffBuilder& b, int ifd) { b.add_short(ifd, 256, {1}); });
  return header + tiff.substr(8);
}

class Header : public testing::TestWithParam<HeaderCase> {};

TEST_P(Header, ByteOrderMagicAndFirstOffset) {
  const HeaderCase& c = GetParam();
  Examination e(c.bytes);
  EXPECT_EQ(e.walk(), c.ok) << c.what << ": " << e.message();
  if (!c.ok) {
    EXPECT_EQ(e.message(), c.message) << c.what;
  }
  EXPECT_TRUE(contains(e.dump(), c.printed)) << c.what << "\n" << e.dump();
  Examination r(c.bytes);
  EXPECT_EQ(r.examine(), c.ok) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Header,
    testing::Values(
        HeaderCase{"empty", "", false, "Read error - file may be short (reading header)", ""},
        HeaderCase{"seven bytes", std::string("II*\0\x08\0\0", 7), false,
                   "Read error - file may be short (reading header)", ""},
        HeaderCase{"IM", with_directory(std::string("IM*\0\x08\0\0\0", 8)), true, "", "Little Endian\n"},
        HeaderCase{"MI", with_directory(std::string("MI*\0\x08\0\0\0", 8)), true, "", "Little Endian\n"},
        HeaderCase{"xI", with_directory(std::string("xI*\0\x08\0\0\0", 8)), true, "", "Little Endian\n"},
        HeaderCase{"xx", std::string("xx*\0\x08\0\0\0", 8), false, "Bad header - invalid byte-order designation", ""},
        HeaderCase{"magic 43", with_directory(std::string("II+\0\x08\0\0\0", 8)), true, "",
                   "Magic number (43) not TIFF standard\n"},
        HeaderCase{"no first directory", std::string("MM\0*\0\0\0\0", 8), false,
                   "Bad header - missing Image File Directory", "Big Endian\n"},
        HeaderCase{"first directory past the end", std::string("II*\0\0\0\0\x10", 8), false,
                   "Read error - file may be short (reading entry count)", ""},
        HeaderCase{"FUJIFILM too short", std::string("FUJIFILM", 8) + std::string(100, '\0'), false,
                   "Read error - FUJI file may be short (reading header)", ""},
        HeaderCase{"MRW without blocks", std::string("\0MRM\0\0\0\x08", 8), false, "read error", ""}));

TEST(ExamineHeader, CiffAndX3fAreRecognisedButNotRead) {
  std::string ciff = std::string("II\x1a\0\0\0HEAPCCDR", 14) + std::string(40, '\0');
  Examination c(ciff);
  EXPECT_FALSE(c.examine());
  EXPECT_EQ(c.message(), "TV_IFD_CRW::read not supported");
  EXPECT_TRUE(contains(c.dump(), "TV_IFD_CRW::read not supported\n"));

  // A header and a directory pointer: the silent read refuses the file
  // only once it has found the directory.
  std::string x3f = std::string("FOVb\0\0\x02\0", 8) + std::string(300, '\0') + std::string("\x10\0\0\0", 4);
  Examination x(x3f);
  EXPECT_FALSE(x.examine());
  EXPECT_EQ(x.message(), "TV_IFD_X3F::read not supported");
}

}  // namespace

namespace {

TEST(SummaryMode, KeepsTheSummaryTagsAsItems) {
  // No entry point turns the summary mode on; the directory walk has it.
  TiffBuilder b;
  int ifd0 = b.add_ifd(), exif = b.add_ifd();
  b.add_short(ifd0, 256, {640});
  b.add_ascii(ifd0, 271, "Testmaker");
  b.add_short(ifd0, 274, {6});
  b.add_ifd_pointer(ifd0, 34665, {exif});
  b.add_rational(exif, 33434, {{1, 250}});
  std::string tiff = b.build();
  FILE* file = fmemopen(tiff.data(), tiff.size(), "rb");
  ASSERT_NE(file, nullptr);
  const char* message = "OK";
  examine_test::printed().clear();
  {
    ExaminerState state(file, &message, examine_test::print_to_string);
    state.first = new TV_IFD(&state);
    ASSERT_TRUE(state.first->walk(8, "First", false, true, false)) << message;
    const auto& items = state.summary.items;
    ASSERT_EQ(items.size(), 3u);
    EXPECT_EQ(items[0].name, "Make");
    EXPECT_EQ(items[0].text, "Testmaker");
    EXPECT_EQ(items[0].kind, 1);
    EXPECT_EQ(items[1].name, "Orientation");
    EXPECT_EQ(items[1].text, "6");
    EXPECT_EQ(items[1].single_value, 6u);
    EXPECT_EQ(items[2].name, "ExposureTime");
    EXPECT_EQ(items[2].text, "1/250");
    EXPECT_EQ(items[2].kind, 2);
    EXPECT_STREQ(state.make, "Testmaker");
  }
  fclose(file);
  std::string d = examine_test::printed();
  // A tag the summary does not keep ends after its name; kept values are
  // captured instead of printed; the EXIF pointer prints as usual.
  EXPECT_TRUE(contains(d, "\tImageWidth: \tMake: \tOrientation: \t\t(Orientation: right top)\n")) << d;
  EXPECT_TRUE(contains(d, "\tExif IFD: ")) << d;
  EXPECT_FALSE(contains(d, "Testmaker")) << d;
}

}  // namespace
