// The printed walk of Canon CIFF heaps: the dump of a built heap, records
// whose data is shorter than their row prints, sub-blocks that do not lie
// inside their parent, nesting and fan-out past the limits, read failures,
// and two real camera files.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "examine/ciff_walk.h"
#include "examine/limits.h"
#include "examine_harness.h"
#include "support/ciff_builder.h"
#include "support/temp_folder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;
using testing_support::ciff_file;
using testing_support::CiffBlock;
using testing_support::CiffLayout;
using testing_support::le16;
using testing_support::le32;

std::string shorts(std::initializer_list<uint16_t> values) {
  std::string bytes;
  for (uint16_t v : values) bytes += le16(v);
  return bytes;
}

void put32(std::string* file, size_t at, uint32_t v) { file->replace(at, 4, le32(v)); }

// A heap with every storage kind: data in the block, 8 bytes in the record,
// and sub-blocks three levels deep.
std::string camera_heap(CiffLayout* layout = nullptr) {
  CiffBlock heap;
  heap.add_value(0x2005, "raw image data");  // RawData: nothing printed
  CiffBlock& props = heap.add_block(0x300A);  // ImageProps
  props.add_inline(0x1803, le32(0x20001));    // ImageFormat
  props.add_value(0x1810, le32(3072) + le32(2048) + le32(0x3f800000) + le32(0) + le32(8) + le32(24) + le32(257));
  props.add_value(0x180E, le32(1000000000) + le32(1) + le32(0x80000000));  // TimeStamp
  props.add_value(0x0816, std::string("CRW_0001.CRW\0", 13));               // OriginalFileName
  CiffBlock& camera = props.add_block(0x2807);                               // CameraObject
  camera.add_value(0x0810, std::string("Owner Name\0", 11));
  camera.add_value(0x080A, std::string("Canon\0Canon EOS Test\0", 21));
  CiffBlock& spec = camera.add_block(0x3004);  // CameraSpecification
  spec.add_inline(0x101C, le16(100));          // BaseISO
  spec.add_value(0x080B, std::string("Firmware 1.0\0", 13));
  CiffBlock& exif = heap.add_block(0x300B);  // ExifInformation
  exif.add_inline(0x1029, shorts({0, 24, 914, 610}));  // FocalLength
  exif.add_value(0x102D, shorts({8, 2, 0, 3}));        // CanonCameraSettings
  exif.add_value(0x1093, std::string(18, '\x01'));     // CanonFileInfo: size only
  exif.add_inline(0x10AE, le16(5200));                 // ColorTemperature
  exif.add_inline(0x1834, le32(0x80000170));           // CanonModelID
  exif.add_value(0x0036, "unlisted");                  // prints nothing
  return ciff_file(heap, layout);
}

TEST(CiffWalk, GoldenDump) {
  Examination e(camera_heap());
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_EQ(e.dump(),
            "image\n"
            "\n"
            "First Directory Block at offset 26 (3 entries)\n"
            "\n"
            "ImageProps Directory Block at offset 40 (5 entries)\n"
            "\t\tImageFormat: 131073\n"
            "\t\tImageInfo (size=28):\n"
            "\t\t\tImageWidth: 3072\n"
            "\t\t\tImageHeight : 2048\n"
            "\t\t\tPixelAspectRatio: 1065353216\n"
            "\t\t\tRotation: 0\n"
            "\t\t\tComponentBitDepth: 8\n"
            "\t\t\tColorBitDepth: 24\n"
            "\t\t\tColorBW: 257\n"
            "\t\tTimeStamp:\n"
            "\t\t\tDateTimeOriginal: 2001:09:09 01:46:40\n"
            "\t\t\tTimeZoneCode: 1\n"
            "\t\t\tTimeZoneInfo: 2147483648\n"
            "\t\tOriginalFileName: CRW_0001.CRW\n"
            "\n"
            "CameraObject Directory Block at offset 93 (3 entries)\n"
            "\t\tOwnerName: Owner Name\n"
            "\t\tCanonRawMakeModel: Canon - Canon EOS Test\n"
            "\n"
            "CameraSpecification Directory Block at offset 125 (2 entries)\n"
            "\t\tBaseISO: 100\n"
            "\t\tCanonFirmwareVersion: Firmware 1.0\n"
            "\n"
            "ExifInformation Directory Block at offset 256 (6 entries)\n"
            "\t\tFocalLength: 0 24 914 610\n"
            "\t\tCanonCameraSettings (size=8):\n"
            "\t\t\tSize: 8\n"
            "\t\t\tMacroMode: 2\n"
            "\t\t\tSelf-timer: 0\n"
            "\t\t\tQuality: 3\n"
            "\t\tCanonFileInfo (size=18):\n"
            "\t\tColorTemperature: 5200\n"
            "\t\tCanonModelID: -2147483280\n");
}

TEST(CiffWalk, KeepsTheBlockTreeAndTheSummaryItems) {
  CiffLayout layout;
  Examination e(camera_heap(&layout));
  ASSERT_TRUE(e.walk()) << e.message();
  auto* heap = dynamic_cast<TV_IFD_CRW*>(e.first());
  ASSERT_NE(heap, nullptr);
  EXPECT_EQ(heap->block_start, 26u);
  EXPECT_EQ(heap->record_count, 3u);
  ASSERT_EQ(heap->sub_blocks.size(), 2u);
  ASSERT_EQ(heap->sub_blocks[0]->sub_blocks.size(), 1u);
  EXPECT_EQ(heap->sub_blocks[0]->sub_blocks[0]->sub_blocks.size(), 1u);
  EXPECT_EQ(heap->sub_blocks[1]->directory_start, layout.blocks.back().directory);

  std::string items;
  for (const SummaryItem& item : e.state()->summary.items) items += item.name + "=" + item.text + ";";
  EXPECT_EQ(items,
            "DateTimeOriginal=2001:09:09 01:46:40;Artist=Owner Name;Make=Canon;Model=Canon EOS Test;"
            "ISOSpeedRatings=100;FocalLength=24mm;");
}

TEST(CiffWalk, SilentReadRefusesWhatTheWalkPrints) {
  Examination e(camera_heap());
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "TV_IFD_CRW::read not supported");
  EXPECT_TRUE(e.walk(true)) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\t\tCanonRawMakeModel: Canon - Canon EOS Test\n"));
}

TEST(CiffWalk, ShotInfoElementsAreNamedUntilTheListEnds) {
  for (int bytes : {60, 64}) {
    CiffBlock heap;
    std::string data;
    for (int i = 0; i < bytes / 2; ++i) data += le16(static_cast<uint16_t>(i));
    heap.add_value(0x102A, data);  // CanonShotInfo
    Examination e(ciff_file(heap));
    ASSERT_TRUE(e.walk()) << e.message();
    const std::string dump = e.dump();
    EXPECT_TRUE(contains(dump, "\t\tCanonShotInfo (size=" + std::to_string(bytes) + "):\n"));
    EXPECT_TRUE(contains(dump, "\t\t\tSelf-timer2: 29\n"));
    size_t lines = 0;
    for (size_t at = dump.find("\t\t\t"); at != std::string::npos; at = dump.find("\t\t\t", at + 1)) ++lines;
    EXPECT_EQ(lines, static_cast<size_t>(bytes / 2));
    EXPECT_EQ(contains(dump, "\t\t\t?: 30\n\t\t\t?: 31\n"), bytes == 64);
  }
}

// A record whose data holds less than its row prints: only what it holds
// appears, and nothing is read from the bytes after it in the file (here a
// record of 'Z's) or left over from the record before.
struct ShortCase {
  const char* what;
  uint16_t word;
  std::string data;
  bool in_record;
  const char* printed;
};

class ShortData : public testing::TestWithParam<ShortCase> {};

TEST_P(ShortData, PrintsOnlyWhatTheDataHolds) {
  const ShortCase& c = GetParam();
  CiffBlock heap;
  heap.add_value(0x102D, std::string(40, '\x7f'));  // CanonCameraSettings, fills the scratch buffer
  if (c.in_record) {
    heap.add_inline(c.word, c.data);
  } else {
    heap.add_value(c.word, c.data);
  }
  heap.add_value(0x0000, std::string(16, 'Z'));  // NullRecord: prints nothing
  Examination e(ciff_file(heap));
  ASSERT_TRUE(e.walk()) << c.what << ": " << e.message();
  const std::string dump = e.dump();
  const std::string last_element = "\t\t\tAFPoint: 32639\n";
  const size_t after = dump.rfind(last_element);
  ASSERT_NE(after, std::string::npos) << dump;
  EXPECT_EQ(dump.substr(after + last_element.size()), c.printed) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Records, ShortData,
    testing::Values(
        ShortCase{"16-bit value of no bytes", 0x100A, "", false, "\t\tTargetImageType: [NULL]\n"},
        ShortCase{"16-bit value of one byte", 0x100A, "\x05", false, "\t\tTargetImageType: [NULL]\n"},
        ShortCase{"32-bit value of three bytes", 0x1803, "\x01\x02\x03", false, "\t\tImageFormat: [NULL]\n"},
        ShortCase{"four values of one", 0x1029, le16(24), false, "\t\tFocalLength: 24\n"},
        ShortCase{"four values of none", 0x1028, "", false, "\t\tCanonFlashInfo?: [NULL]\n"},
        ShortCase{"time stamp of 4 bytes", 0x180E, le32(0), false,
                  "\t\tTimeStamp:\n\t\t\tDateTimeOriginal: 1970:01:01 00:00:00\n"},
        ShortCase{"time stamp of 8 bytes", 0x180E, le32(86400) + le32(5), false,
                  "\t\tTimeStamp:\n\t\t\tDateTimeOriginal: 1970:01:02 00:00:00\n\t\t\tTimeZoneCode: 5\n"},
        ShortCase{"time stamp of none", 0x180E, "", false, "\t\tTimeStamp:\n"},
        ShortCase{"elements of 5 bytes", 0x102D, shorts({10, 1}) + "\x09", false,
                  "\t\tCanonCameraSettings (size=5):\n\t\t\tSize: 10\n\t\t\tMacroMode: 1\n"},
        ShortCase{"32-bit elements of 6 bytes", 0x1810, le32(640) + le16(9), false,
                  "\t\tImageInfo (size=6):\n\t\t\tImageWidth: 640\n"},
        ShortCase{"text without a zero byte", 0x0805, "ABCDE", false, "\t\tCanonFileDescription: ABCDE\n"},
        ShortCase{"make without a zero byte", 0x080A, "Canon", false, "\t\tCanonRawMakeModel: Canon - \n"},
        ShortCase{"model without a zero byte", 0x080A, std::string("Canon\0EOS", 9), false,
                  "\t\tCanonRawMakeModel: Canon - EOS\n"},
        ShortCase{"make and model in the record", 0x080A, std::string("Ab\0Cdefgh", 9), true,
                  "\t\tCanonRawMakeModel: Ab - Cdefg\n"},
        ShortCase{"text filling the record", 0x080D, "USA12345", true, "\t\tROMOperationMode: USA12345\n"}),
    [](const testing::TestParamInfo<ShortCase>& info) {
      std::string name;
      for (char ch : std::string(info.param.what)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// The heap with one record's 32-bit length and offset fields replaced:
// record index `record` of the layout (depth first over all blocks).
struct PlacementCase {
  const char* what;
  int64_t length;  // -1: the parent block's length (+ delta)
  int64_t length_delta;
  int64_t offset;  // -1: the parent block's length
  const char* message;
};

class SubBlockPlacement : public testing::TestWithParam<PlacementCase> {};

TEST_P(SubBlockPlacement, MustLieInsideItsParent) {
  const PlacementCase& c = GetParam();
  CiffBlock heap;
  heap.add_value(0x0805, std::string("text\0", 5));
  CiffBlock& inner = heap.add_block(0x300A);
  inner.add_inline(0x101C, le16(100));
  CiffLayout layout;
  std::string file = ciff_file(heap, &layout);
  const CiffLayout::Block& parent = layout.blocks[0];
  // Records in layout order: the inner block's (written first), then the heap's.
  const size_t field = layout.record_lengths.back();
  const int64_t length = c.length >= 0 ? c.length : static_cast<int64_t>(parent.length) + c.length_delta;
  const int64_t offset = c.offset >= 0 ? c.offset : static_cast<int64_t>(parent.length);
  put32(&file, field, static_cast<uint32_t>(length));
  put32(&file, field + 4, static_cast<uint32_t>(offset));

  Examination e(file);
  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(e.walk()) << c.what;
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 2.0);
  EXPECT_EQ(e.message(), c.message) << c.what;
  EXPECT_TRUE(contains(e.dump(), "\t\tCanonFileDescription: text\n")) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Records, SubBlockPlacement,
    testing::Values(
        PlacementCase{"the parent itself", -1, 0, 0, "CIFF sub-block lies outside its parent block"},
        PlacementCase{"one byte past the parent's end", -1, -4, 5,
                      "CIFF sub-block lies outside its parent block"},
        PlacementCase{"starting at the parent's end", 4, 0, -1, "CIFF sub-block lies outside its parent block"},
        PlacementCase{"length 0x40000001", 0x40000001, 0, 0, "CIFF sub-block lies outside its parent block"},
        PlacementCase{"length 0xFFFFFFFF", 0xFFFFFFFF, 0, 4, "CIFF sub-block lies outside its parent block"},
        PlacementCase{"offset 0xFFFFFFFF", 16, 0, 0xFFFFFFFF, "CIFF sub-block lies outside its parent block"},
        PlacementCase{"too short for a directory pointer", 3, 0, 0,
                      "Seek error (to end of block) - file may be short"},
        PlacementCase{"empty", 0, 0, 0, "Seek error (to end of block) - file may be short"}),
    [](const testing::TestParamInfo<PlacementCase>& info) {
      std::string name;
      for (char ch : std::string(info.param.what)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

// Blocks nested `levels` deep, each the only record of its parent.
std::string nested(int levels) {
  CiffBlock heap;
  CiffBlock* block = &heap;
  for (int i = 0; i < levels; ++i) block = &block->add_block(0x300A);
  block->add_inline(0x101C, le16(100));
  return ciff_file(heap);
}

TEST(CiffWalk, NestingIsCapped) {
  Examination deepest(nested(examine_limits::kMaxCiffNestingDepth));
  EXPECT_TRUE(deepest.walk()) << deepest.message();
  EXPECT_TRUE(contains(deepest.dump(), "\t\tBaseISO: 100\n"));

  Examination deeper(nested(examine_limits::kMaxCiffNestingDepth + 1));
  EXPECT_FALSE(deeper.walk());
  EXPECT_EQ(deeper.message(), "CIFF blocks nested too deeply");
}

// A block whose directory holds `fan_out` records all naming the same
// sub-block (inner, at the start of its data).
std::string fanning_block(const std::string& inner, uint16_t fan_out) {
  std::string bytes = inner + le16(fan_out);
  for (uint16_t i = 0; i < fan_out; ++i) bytes += le16(0x300A) + le32(static_cast<uint32_t>(inner.size())) + le32(0);
  return bytes + le32(static_cast<uint32_t>(inner.size()));
}

TEST(CiffWalk, SharedSubBlocksCannotMultiplyWithoutEnd) {
  // Four levels of 40 records each name the same block: 2.5 million block
  // walks in a file of 1.6 KB, were the records not counted.
  std::string block = le16(1) + le16(0x501C) + le16(100) + std::string(6, '\0') + le32(0);
  for (int level = 0; level < 4; ++level) block = fanning_block(block, 40);
  std::string file = std::string("II", 2) + le32(26) + "HEAPCCDR" + std::string(12, '\0') + block;
  auto start = std::chrono::steady_clock::now();
  Examination e(file, print_nothing);
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Too many CIFF records");
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
}

TEST(CiffWalk, SharedValuesAreReadWithinABudget) {
  // Records naming the same 64 KB of camera settings, more often than the
  // budget for printed record data allows.
  std::string settings(64 * 1024, '\x01');
  std::string block = settings + le16(20);
  for (int i = 0; i < 20; ++i) block += le16(0x102D) + le32(static_cast<uint32_t>(settings.size())) + le32(0);
  block += le32(static_cast<uint32_t>(settings.size()));
  std::string file = std::string("II", 2) + le32(26) + "HEAPCCDR" + std::string(12, '\0') + block;
  Examination e(file, print_nothing);
  EXPECT_FALSE(e.walk());
  EXPECT_EQ(e.message(), "Too much CIFF record data");
  EXPECT_LE(e.state()->scratch.size(), file.size());
}

TEST(CiffWalk, ImageDataIsNotRead) {
  // A RawData record of 1 MB: checked to lie in the file, never fetched.
  CiffBlock heap;
  heap.add_value(0x2005, std::string(1 << 20, '\x55'));
  heap.add_inline(0x101C, le16(200));
  Examination e(ciff_file(heap));
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_LT(e.state()->scratch.size(), 16u);
}

struct FailureCase {
  const char* what;
  std::string file;
  const char* message;
  const char* printed;  // the dump's end before the failure
};

class CiffFailure : public testing::TestWithParam<FailureCase> {};

TEST_P(CiffFailure, StopsWithItsMessage) {
  const FailureCase& c = GetParam();
  Examination e(c.file);
  EXPECT_FALSE(e.walk()) << c.what;
  EXPECT_EQ(e.message(), c.message) << c.what;
  const std::string dump = e.dump();
  const std::string end = c.printed;
  EXPECT_TRUE(dump.size() >= end.size() && dump.compare(dump.size() - end.size(), end.size(), end) == 0)
      << c.what << "\n" << dump;
}

std::string heap_with(void (*fill)(CiffBlock&)) {
  CiffBlock heap;
  fill(heap);
  return ciff_file(heap);
}

INSTANTIATE_TEST_SUITE_P(
    Files, CiffFailure,
    testing::Values(
        FailureCase{"no room for the directory pointer", std::string("II\x1a\0\0\0HEAPCCDR", 14) + std::string(14, '\0'),
                    "Seek error (to end of block) - file may be short", "image\n"},
        FailureCase{"directory past the end", heap_with([](CiffBlock& h) {
                      h.add_inline(0x101C, le16(1));
                      h.set_directory_pointer_raw(5000);
                    }),
                    "Read error - file may be short (reading num_entries)", "image\n"},
        FailureCase{"more records than the directory holds", heap_with([](CiffBlock& h) {
                      h.add_inline(0x101C, le16(7));
                      h.set_count_raw(3);
                    }),
                    "Read error - file may be short (reading directory entry)",
                    "First Directory Block at offset 26 (3 entries)\n\t\tBaseISO: 7\n"},
        FailureCase{"value past the end", heap_with([](CiffBlock& h) {
                      h.add_inline(0x101C, le16(7));
                      h.add_raw(0x0805, 16, 0x40000001);
                    }),
                    "Read error - file may be short (reading value)", "\t\tBaseISO: 7\n"},
        FailureCase{"value running past the end", heap_with([](CiffBlock& h) { h.add_raw(0x2005, 0xFFFFFFFF, 0); }),
                    "Read error - file may be short (reading value)", "(1 entries)\n"},
        FailureCase{"data location 10", heap_with([](CiffBlock& h) {
                      h.add_inline(0x101C, le16(7));
                      h.add_raw(0x8805, 4, 0);
                    }),
                    "Read error - invalid DataLocation value", "\t\tBaseISO: 7\n"},
        FailureCase{"data location 11", heap_with([](CiffBlock& h) { h.add_raw(0xC805, 4, 0); }),
                    "Read error - invalid DataLocation value", "(1 entries)\n"}),
    [](const testing::TestParamInfo<FailureCase>& info) {
      std::string name;
      for (char ch : std::string(info.param.what)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

TEST(CiffWalk, EmptyDirectoryEndsTheBlock) {
  CiffBlock heap;
  Examination e(ciff_file(heap));
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_EQ(e.dump(), "image\n\nFirst Directory Block at offset 26 (0 entries)\n");
}

struct RealCiff {
  const char* name;
  std::vector<const char*> lines;
};

class RealCiffFile : public testing::TestWithParam<RealCiff> {};

TEST_P(RealCiffFile, WalksEveryBlock) {
  const RealCiff& c = GetParam();
  std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES "/raw/") + c.name);
  ASSERT_FALSE(bytes.empty());
  Examination e(bytes);
  EXPECT_FALSE(e.examine());
  EXPECT_EQ(e.message(), "TV_IFD_CRW::read not supported");
  ASSERT_TRUE(e.walk()) << e.message();
  for (const char* line : c.lines) EXPECT_TRUE(contains(e.dump(), line)) << line << "\n" << e.dump();
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, RealCiffFile,
    testing::Values(
        RealCiff{"canon_eos300d_ciff_stripped.crw",
                 {"\nFirst Directory Block at offset 26 (3 entries)\n\nImageProps Directory Block at offset 78 (13 entries)\n",
                  "\nCameraObject Directory Block at offset 544 (3 entries)\n",
                  "\t\tCanonRawMakeModel: Canon - Canon EOS DIGITAL REBEL\n",
                  "\t\t\tDateTimeOriginal: 2003:11:10 17:39:26\n", "\t\t\tSelf-timer2: 0\n\t\t\t?: 0\n",
                  "\nExifInformation Directory Block at offset 722 (23 entries)\n"}},
        RealCiff{"canon_powershot_s40_ciff_stripped.crw",
                 {"\nFirst Directory Block at offset 26 (2 entries)\n",
                  "\t\tCanonRawMakeModel: Canon - Canon PowerShot S40\n", "\t\tOwnerName: Andreas Huggel\n",
                  "\t\t\tDateTimeOriginal: 2005:04:23 17:54:36\n"}}),
    [](const testing::TestParamInfo<RealCiff>& info) {
      std::string name;
      for (char ch : std::string(info.param.name)) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      return name;
    });

}  // namespace
