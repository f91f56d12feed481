// Identification and the JPEG, TIFF and raw checks, through the real corvex
// on files written by libjpeg and libtiff.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "support/image_writers.h"
#include "support/tiff_builder.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"

namespace {

using namespace testing_support;

class ReadersTest : public ::testing::Test {
 protected:
  void SetUp() override { worker_ = std::make_unique<WorkerProcess>(dir_.sub("props"), dir_.sub("stderr.txt")); }

  // The answer record for one file.
  wire::Record check(const std::string& path) {
    EXPECT_TRUE(worker_->send_internal(path));
    auto answer = worker_->read_answer();
    EXPECT_TRUE(answer) << path;
    if (!answer || answer->size() != 1) return {};
    return (*answer)[0];
  }
  std::string jpeg(const std::string& name, const JpegOptions& o = {}) {
    std::string path = dir_.sub(name);
    EXPECT_TRUE(write_jpeg(path, o));
    return path;
  }
  std::string tiff(const std::string& name, const TiffOptions& o = {}) {
    std::string path = dir_.sub(name);
    EXPECT_TRUE(write_tiff(path, o));
    return path;
  }

  TempFolder dir_;
  std::unique_ptr<WorkerProcess> worker_;
};

bool copy_fixture(const std::string& name, const std::string& to) {
  std::string bytes = read_file(std::string(CORVELLA_FIXTURES) + "/" + name);
  if (bytes.empty()) return false;
  FILE* f = fopen(to.c_str(), "wb");
  fwrite(bytes.data(), 1, bytes.size(), f);
  return fclose(f) == 0;
}

struct Verdict {
  char code;
  char type;
};

void expect_verdict(const wire::Record& r, Verdict v, const std::string& what) {
  EXPECT_EQ(r.code, v.code) << what << ": " << r.message;
  EXPECT_EQ(r.type, static_cast<unsigned char>(v.type)) << what;
}

TEST_F(ReadersTest, SoundJpegsOfEveryKindAreValid) {
  struct Case {
    const char* name;
    JpegOptions options;
  } cases[] = {
      {"baseline.jpg", {}},
      {"progressive.jpg", {64, 48, 90, true}},
      {"gray.jpeg", {33, 17, 75, false, true}},
      {"exif.jpg", {64, 48, 90, false, false, JpegMarker::kExif}},
      {"bare.JPG", {64, 48, 90, false, false, JpegMarker::kNone}},  // FF D8 FF DB: by its extension
      {"no-extension-jfif", {}},                                    // by its signature
  };
  for (const auto& c : cases) {
    std::string path = jpeg(c.name, c.options);
    auto r = check(path);
    expect_verdict(r, {'G', 'J'}, c.name);
    EXPECT_EQ(r.path, path);
    EXPECT_EQ(r.message, "");
  }
  EXPECT_EQ(worker_->stderr_text().find("ERROR processing JPEG"), std::string::npos);
}

TEST_F(ReadersTest, ATruncatedJpegIsInvalidAndTheLibraryMessageGoesToStandardError) {
  std::string path = jpeg("cut.jpg", {256, 256});
  ASSERT_TRUE(truncate_to(path, 0.6));
  expect_verdict(check(path), {'B', 'J'}, "truncated");
  EXPECT_NE(worker_->stderr_text().find("\nERROR processing JPEG: Premature end of JPEG file\n"), std::string::npos)
      << worker_->stderr_text();
}

// Rewrites the width and height in a JPEG's start-of-frame marker.
bool set_jpeg_dimensions(const std::string& path, uint16_t width, uint16_t height) {
  std::string bytes = read_file(path);
  for (size_t i = 2; i + 9 < bytes.size(); ++i) {
    auto b = [&](size_t k) { return static_cast<unsigned char>(bytes[k]); };
    if (b(i) == 0xFF && (b(i + 1) == 0xC0 || b(i + 1) == 0xC2)) {
      bytes[i + 5] = static_cast<char>(height >> 8);
      bytes[i + 6] = static_cast<char>(height & 0xFF);
      bytes[i + 7] = static_cast<char>(width >> 8);
      bytes[i + 8] = static_cast<char>(width & 0xFF);
      FILE* f = fopen(path.c_str(), "wb");
      fwrite(bytes.data(), 1, bytes.size(), f);
      return fclose(f) == 0;
    }
  }
  return false;
}

TEST_F(ReadersTest, AHugeProgressiveJpegFailsCleanlyWithoutTakingTheMemory) {
  // 65000 x 65000 progressive needs about 25 GB of coefficients.
  std::string path = jpeg("huge.jpg", {32, 32, 90, true});
  ASSERT_TRUE(set_jpeg_dimensions(path, 65000, 65000));
  expect_verdict(check(path), {'B', 'J'}, "huge progressive");
  EXPECT_NE(worker_->stderr_text().find("\nERROR processing JPEG: "), std::string::npos);
  // The worker is still there for the next file.
  expect_verdict(check(jpeg("after.jpg")), {'G', 'J'}, "next file");
}

TEST_F(ReadersTest, IdentificationOrderRawListThenPsdThenSignatureThenExtension) {
  struct Case {
    std::string name;
    std::function<std::string(const std::string&)> make;
    Verdict verdict;
    const char* message;
  } cases[] = {
      // A raw extension decides before any byte is read.
      {"photo.nef", [&](const std::string& n) { return jpeg(n); }, {'B', 'R'}, ""},
      // DNG is not a raw name: the content decides.
      {"photo.dng", [&](const std::string& n) { return jpeg(n); }, {'G', 'J'}, ""},
      // ".psd" decides before any byte is read: the PSD checker says why not.
      {"really-jpeg.PSD", [&](const std::string& n) { return jpeg(n); }, {'B', 'P'},
       "Bad Signature (\xFF\xD8\xFF\xE0) -- should be 8BPS"},
      {"missing.psd", [&](const std::string& n) { return dir_.sub(n); }, {'B', 'P'}, "can't open"},
      // A JPEG signature wins over a TIFF extension.
      {"really-jpeg.tif", [&](const std::string& n) { return jpeg(n); }, {'G', 'J'}, ""},
      // A TIFF signature goes through the structure examiner: TIFF or DNG.
      {"really-tiff.jpg", [&](const std::string& n) { return tiff(n); }, {'G', 'T'}, ""},
      {"tiff-no-list.dat", [&](const std::string& n) { return tiff(n); }, {'G', 'T'}, ""},
      // DNGVersion in the first directory: validated as DNG whatever the
      // name says. The writer's DNGVersion 1.4 is newer than validated.
      {"dng-named.tif", [&](const std::string& n) { TiffOptions o; o.dng_version = true; return tiff(n, o); },
       {'E', 'D'}, "DNG backward version 1.4.0.0 is newer than this program validates"},
      {"dng-no-list.dat", [&](const std::string& n) { TiffOptions o; o.dng_version = true; return tiff(n, o); },
       {'E', 'D'}, "DNG backward version 1.4.0.0 is newer than this program validates"},
      // The examiner refuses two samples per pixel: the extension decides.
      {"gray-alpha.tif", [&](const std::string& n) { TiffOptions o; o.samples = 2; return tiff(n, o); }, {'G', 'T'}, ""},
      {"gray-alpha.dat", [&](const std::string& n) { TiffOptions o; o.samples = 2; return tiff(n, o); }, {'B', '?'},
       "Could not open or identify"},
      // ... and a JPEG name makes it a JPEG, which it is not.
      {"gray-alpha.jpg", [&](const std::string& n) { TiffOptions o; o.samples = 2; return tiff(n, o); }, {'B', 'J'}, ""},
      // Unrecognised content falls back to the extension lists.
      {"junk.tif", [&](const std::string& n) { return dir_.write_file(n, std::string(64, 'j')); }, {'B', 'T'}, ""},
      {"junk.txt", [&](const std::string& n) { return dir_.write_file(n, std::string(64, 'j')); }, {'B', '?'},
       "Could not open or identify"},
      {"junk", [&](const std::string& n) { return dir_.write_file(n, std::string(64, 'j')); }, {'S', '?'},
       "Could not open or identify"},
      // Fewer than 20 bytes are never identified.
      {"tiny.jpg", [&](const std::string& n) { return dir_.write_file(n, "\xff\xd8\xff\xe0"); }, {'B', '?'},
       "Could not open or identify"},
  };
  for (const auto& c : cases) {
    std::string path = c.make(c.name);
    auto r = check(path);
    expect_verdict(r, c.verdict, c.name);
    EXPECT_EQ(r.message, c.message) << c.name;
  }
}

TEST_F(ReadersTest, SoundTiffsOfEveryLayoutAreValid) {
  struct Case {
    const char* name;
    TiffOptions options;
  } cases[] = {
      {"striped.tif", {}},
      {"big-endian.tif", [] { TiffOptions o; o.big_endian = true; return o; }()},
      {"gray16.tif", [] { TiffOptions o; o.samples = 1; o.bits = 16; return o; }()},
      {"lzw.tif", [] { TiffOptions o; o.compression = 5; return o; }()},
      {"deflate.tiff", [] { TiffOptions o; o.compression = 8; return o; }()},
      {"tiled.tif", [] { TiffOptions o; o.tiled = true; o.width = 50; o.height = 35; return o; }()},
      {"planar.tif", [] { TiffOptions o; o.planar_separate = true; return o; }()},
      {"planar-tiled.tif", [] { TiffOptions o; o.planar_separate = true; o.tiled = true; return o; }()},
      {"pages.tif", [] { TiffOptions o; o.directories = 3; return o; }()},
      {"subifds.tif", [] { TiffOptions o; o.sub_directories = 2; o.directories = 2; return o; }()},
  };
  for (const auto& c : cases) expect_verdict(check(tiff(c.name, c.options)), {'G', 'T'}, c.name);
}

// Every kind of damage to every kind of file gets an answer, and none
// crashes or hangs the worker. The table records what each format's check
// can find: TIFF has no checksums, so data that still decodes (a zeroed run
// of LZW codes, a flipped bit in uncompressed samples) is not found.
TEST_F(ReadersTest, DamagedFilesAreAnsweredAndTheDetectableDamageIsFound) {
  struct Kind {
    const char* name;
    std::function<bool(const std::string&)> make;
  };
  const Kind kinds[] = {
      {"baseline.jpg", [](const std::string& p) { return write_jpeg(p, {320, 240}); }},
      {"progressive.jpg", [](const std::string& p) { return write_jpeg(p, {320, 240, 90, true}); }},
      {"striped.tif", [](const std::string& p) { TiffOptions o; o.width = 120; o.height = 90; return write_tiff(p, o); }},
      {"lzw.tif", [](const std::string& p) { TiffOptions o; o.compression = 5; o.width = 120; o.height = 90; return write_tiff(p, o); }},
      {"deflate-tiled.tif", [](const std::string& p) { TiffOptions o; o.compression = 8; o.tiled = true; o.width = 120; o.height = 90; return write_tiff(p, o); }},
      {"deflate-planar.tif", [](const std::string& p) { TiffOptions o; o.compression = 8; o.planar_separate = true; o.width = 120; o.height = 90; return write_tiff(p, o); }},
      {"layers-rle.psd", [](const std::string& p) { return copy_fixture("psd/rgb_8bit_rle_layers_hopper.psd", p); }},
      {"indexed-raw.psd", [](const std::string& p) { return copy_fixture("psd/indexed_8bit_raw_4x4.psd", p); }},
  };
  struct Damage {
    const char* name;
    std::function<bool(const std::string&)> apply;
  };
  const Damage damages[] = {
      {"cut at 50%", [](const std::string& p) { return truncate_to(p, 0.5); }},
      {"cut at 90%", [](const std::string& p) { return truncate_to(p, 0.9); }},
      {"cut at 99.9%", [](const std::string& p) { return truncate_to(p, 0.999); }},
      {"zeroed run", [](const std::string& p) { return zero_bytes(p, file_size(p) / 3, 64); }},
      {"flipped bit", [](const std::string& p) { return flip_bit(p, file_size(p) / 3, 4); }},
      {"garbage appended", [](const std::string& p) { return append_bytes(p, std::string(300, '\x5a')); }},
      {"all zero", [](const std::string& p) { return zero_bytes(p, 0, file_size(p)); }},
  };
  // Rows follow kinds, columns follow damages: B found, G not found.
  const char* expected[] = {
      "BBBBGGB",  // baseline.jpg: a flipped bit can still decode
      "BBBBGGB",  // progressive.jpg
      "BBBGGGB",  // striped.tif: raw samples carry no redundancy
      "BBBBGGB",  // lzw.tif
      "BBBGBGB",  // deflate-tiled.tif: a tile can fill before its checksum is read
      "BBBBBGB",  // deflate-planar.tif
      "BBBGGGB",  // layers-rle.psd: the structure is checked, not the samples
      "BBBGGGB",  // indexed-raw.psd
  };
  for (size_t k = 0; k < std::size(kinds); ++k) {
    std::string seen;
    for (size_t d = 0; d < std::size(damages); ++d) {
      std::string path = dir_.sub(std::to_string(d) + "-" + kinds[k].name);
      ASSERT_TRUE(kinds[k].make(path));
      ASSERT_TRUE(damages[d].apply(path));
      auto r = check(path);
      ASSERT_TRUE(r.code == 'B' || r.code == 'G') << kinds[k].name << " " << damages[d].name << ": " << r.code;
      seen.push_back(r.code);
    }
    EXPECT_EQ(seen, expected[k]) << kinds[k].name;
  }
  worker_->close_input();
  EXPECT_EQ(worker_->wait_exit(), 0);
}

TEST_F(ReadersTest, ALaterPageThatCannotBeReadDoesNotFailASoundFirstPage) {
  TiffOptions o;
  o.directories = 2;
  std::string path = tiff("two-pages.tif", o);
  // Point the first directory's next-directory link past the end of the file.
  FILE* f = fopen(path.c_str(), "r+b");
  ASSERT_NE(f, nullptr);
  unsigned char header[8];
  ASSERT_EQ(fread(header, 1, 8, f), 8u);
  uint32_t ifd = header[4] | (header[5] << 8) | (header[6] << 16) | (static_cast<uint32_t>(header[7]) << 24);
  unsigned char count[2];
  fseek(f, static_cast<long>(ifd), SEEK_SET);
  ASSERT_EQ(fread(count, 1, 2, f), 2u);
  fseek(f, static_cast<long>(ifd + 2 + 12 * (count[0] | (count[1] << 8))), SEEK_SET);
  const unsigned char past_end[4] = {0xF0, 0xFF, 0xFF, 0x0F};
  fwrite(past_end, 1, 4, f);
  fclose(f);
  expect_verdict(check(path), {'G', 'T'}, "bad link after page 1");
}

TEST_F(ReadersTest, RealCameraAndLibraryFilesAreValid) {
  struct Case {
    const char* file;
    Verdict verdict;
  } cases[] = {
      {"jpeg/canon_powershot_s330.jpg", {'G', 'J'}},     {"jpeg/fujifilm_finepix40i.jpg", {'G', 'J'}},
      {"jpeg/sanyo_sr662.jpg", {'G', 'J'}},               {"tiff/gray_8bit_tiled_deflate.tiff", {'G', 'T'}},
      {"tiff/gray_8bit_multipage.tiff", {'G', 'T'}},      {"tiff/subsubifds.tif", {'G', 'T'}},
      {"tiff/rgb_16bit_tiled_planar.tiff", {'G', 'T'}},  {"tiff/ycbcr_jpeg_tiled_2x2.tif", {'G', 'T'}},
      {"tiff/libtiff_quad_jpeg.tif", {'G', 'T'}},
      {"psd/rgb_8bit_rle_layers_hopper.psd", {'G', 'P'}}, {"psd/grayscale_8bit_rle.psd", {'G', 'P'}},
      {"psd/multichannel_16bit_raw_4x4.psd", {'G', 'P'}},
      {"psd/rgb_32bit_raw_4x4.psd", {'G', 'P'}},
      {"psd/rgb_layers_mask_section_3_spare_bytes.psd", {'G', 'P'}},
      // A SubIFD that holds only a JPEG thumbnail, no strips or tiles.
      {"tiff/child_ifd_jpeg.tiff", {'G', 'T'}},
  };
  for (const auto& c : cases) {
    auto r = check(std::string(CORVELLA_FIXTURES) + "/" + c.file);
    expect_verdict(r, c.verdict, c.file);
  }
}

// Writes bytes over a file's bytes at offset.
bool overwrite(const std::string& path, uint64_t offset, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "r+b");
  if (f == nullptr) return false;
  bool ok = fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0 && fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return fclose(f) == 0 && ok;
}

std::string le32(uint32_t v) {
  return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF), static_cast<char>((v >> 16) & 0xFF),
          static_cast<char>(v >> 24)};
}

TEST_F(ReadersTest, ASubDirectoryHoldingOnlyAJpegThumbnailHasTheThumbnailChecked) {
  // The fixture's SubIFD (at 155) has two entries: JPEGInterchangeFormat
  // (513) = 185 and its length (514) = 645.
  constexpr uint64_t kFirstEntry = 157;
  constexpr uint64_t kSecondEntry = kFirstEntry + 12;
  const std::string tags_13 = std::string("\xBC\x02", 2), tags_14 = std::string("\xBD\x02", 2);  // 700, 701
  struct Case {
    const char* what;
    std::function<bool(const std::string&)> damage;
    char code;
  } cases[] = {
      {"sound thumbnail", [](const std::string&) { return true; }, 'G'},
      {"thumbnail cut short", [](const std::string& p) { return overwrite(p, kSecondEntry + 8, le32(300)); }, 'B'},
      {"thumbnail past the end", [](const std::string& p) { return overwrite(p, kFirstEntry + 8, le32(700)); }, 'B'},
      {"thumbnail not a JPEG", [](const std::string& p) { return zero_bytes(p, 185, 645); }, 'B'},
      {"neither image nor thumbnail",
       [&](const std::string& p) { return overwrite(p, kFirstEntry, tags_13) && overwrite(p, kSecondEntry, tags_14); },
       'G'},
      // Strips that libtiff cannot read (no image size) stay refused.
      {"strips without a size",
       [](const std::string& p) {
         return overwrite(p, kFirstEntry, std::string("\x11\x01", 2)) &&
                overwrite(p, kSecondEntry, std::string("\x17\x01", 2));
       },
       'B'},
  };
  for (const auto& c : cases) {
    std::string path = dir_.sub(std::string(c.what) + ".tif");
    ASSERT_TRUE(copy_fixture("tiff/child_ifd_jpeg.tiff", path));
    ASSERT_TRUE(c.damage(path)) << c.what;
    expect_verdict(check(path), {c.code, 'T'}, c.what);
  }
}

TEST_F(ReadersTest, DamagedJpegDataInsideATiffIsFound) {
  // libjpeg patches over these and warns; the TIFF reader passes the
  // warnings on from libtiff's JPEG codec.
  struct Damage {
    const char* what;
    std::string marker;
  } damages[] = {
      {"end of image in the middle of a strip", std::string("\xFF\xD9", 2)},
      {"restart marker where none belongs", std::string("\xFF\xD3", 2)},
  };
  TiffOptions o;
  o.compression = 7;
  o.width = 64;
  o.height = 32;
  o.rows_per_strip = 16;
  expect_verdict(check(tiff("sound-jpeg.tif", o)), {'G', 'T'}, "sound JPEG-in-TIFF");
  for (const auto& d : damages) {
    for (uint32_t strip : {0u, 1u}) {
      std::string path = tiff(std::string(d.what) + std::to_string(strip) + ".tif", o);
      StripPlace place;
      ASSERT_TRUE(find_strip(path, 0, strip, &place));
      ASSERT_TRUE(overwrite(path, place.offset + place.length * 2 / 3, d.marker));
      expect_verdict(check(path), {'B', 'T'}, std::string(d.what) + " of strip " + std::to_string(strip));
    }
  }
  // Other warnings of the library still pass: a tag it does not know.
  TiffOptions with_private = o;
  with_private.private_tag = true;
  expect_verdict(check(tiff("private-tag.tif", with_private)), {'G', 'T'}, "unknown tag");
  with_private.compression = 1;
  expect_verdict(check(tiff("private-tag-raw.tif", with_private)), {'G', 'T'}, "unknown tag, no compression");
}

TEST_F(ReadersTest, PagesOfMixedSubsamplingPassAndDamageFailsOnAnyPage) {
  // YCbCr JPEG pages without a YCbCrSubsampling tag: the library puts the
  // 4:4:4 pages right from their JPEG data and warns that it did. That
  // warning is no damage, whichever page gives it; damaged JPEG data fails
  // the file on whichever page it lies.
  TiffOptions o;
  o.compression = 7;
  o.ycbcr = true;
  o.width = 64;
  o.height = 32;
  o.rows_per_strip = 16;
  const std::vector<int> layouts[] = {{1, 2}, {2, 1}, {1, 1}, {2, 2}, {2, 1, 2}};
  for (const auto& layout : layouts) {
    std::string name;
    for (int s : layout) name += s == 1 ? "444-" : "420-";
    o.directories = static_cast<int>(layout.size());
    o.ycbcr_subsampling = layout;
    expect_verdict(check(tiff(name + "sound.tif", o)), {'G', 'T'}, name + "sound");
    for (int page = 0; page < o.directories; ++page) {
      std::string what = name + "damaged-page-" + std::to_string(page + 1);
      std::string path = tiff(what + ".tif", o);
      StripPlace place;
      ASSERT_TRUE(find_strip(path, page, 0, &place)) << what;
      ASSERT_TRUE(overwrite(path, place.offset + place.length * 2 / 3, std::string("\xFF\xD9", 2))) << what;
      expect_verdict(check(path), {'B', 'T'}, what);
    }
  }
}

// An old-style JPEG TIFF (compression 6) of one strip: the whole JPEG
// stream, which JPEGInterchangeFormat also points at. No YCbCrSubsampling
// tag, as the writers of such files often left it out.
std::string old_style_jpeg_tiff(const std::string& jpeg, int width, int height) {
  auto build = [&](uint32_t data_at) {
    TiffBuilder b;
    int d = b.add_ifd();
    b.add_long(d, 256, {static_cast<uint32_t>(width)});
    b.add_long(d, 257, {static_cast<uint32_t>(height)});
    b.add_short(d, 258, {8, 8, 8});
    b.add_short(d, 259, {6});
    b.add_short(d, 262, {6});
    b.add_long(d, 273, {data_at});
    b.add_short(d, 277, {3});
    b.add_long(d, 278, {static_cast<uint32_t>(height)});
    b.add_long(d, 279, {static_cast<uint32_t>(jpeg.size())});
    b.add_short(d, 284, {1});
    b.add_long(d, 513, {data_at});
    b.add_long(d, 514, {static_cast<uint32_t>(jpeg.size())});
    return b.build();
  };
  std::string structure = build(0);
  return build(static_cast<uint32_t>(structure.size())) + jpeg;
}

TEST_F(ReadersTest, OldStyleJpegTiffsPassUnlessTheirDataIsDamaged) {
  // The old-JPEG codec warns about every such file, and about subsampling
  // it takes from the JPEG data: no damage. Damaged data still fails.
  struct Case {
    const char* what;
    int luma_sampling;
    std::function<void(std::string*)> damage;
    char code;
  } cases[] = {
      {"4:2:0", 2, [](std::string*) {}, 'G'},
      {"4:4:4", 1, [](std::string*) {}, 'G'},
      {"end of image inside the scan", 2,
       [](std::string* bytes) { bytes->replace(bytes->size() * 3 / 4, 2, std::string("\xFF\xD9", 2)); }, 'B'},
      {"4:4:4 cut short", 1, [](std::string* bytes) { bytes->resize(bytes->size() * 3 / 4); }, 'B'},
  };
  for (const auto& c : cases) {
    JpegOptions o;
    o.luma_h = o.luma_v = c.luma_sampling;
    o.marker = JpegMarker::kNone;
    std::string bytes = old_style_jpeg_tiff(read_file(jpeg(std::string(c.what) + ".jpg", o)), o.width, o.height);
    c.damage(&bytes);
    expect_verdict(check(dir_.write_file(std::string(c.what) + ".tif", bytes)), {c.code, 'T'}, c.what);
  }
}

// A chain of `pages` 1 x 1 gray pages whose one-byte strips all read the
// file's first byte; the strip of bad_page (when not -1) lies past the end.
std::string chain_of_pages(int pages, int bad_page) {
  TiffBuilder b;
  for (int p = 0; p < pages; ++p) {
    int d = b.add_ifd();
    b.add_long(d, 256, {1});
    b.add_long(d, 257, {1});
    b.add_short(d, 258, {8});
    b.add_short(d, 259, {1});
    b.add_short(d, 262, {1});
    b.add_long(d, 273, {p == bad_page ? 0x7FFFFFF0u : 0u});
    b.add_short(d, 277, {1});
    b.add_long(d, 278, {1});
    b.add_long(d, 279, {1});
    if (p > 0) b.set_next(p - 1, d);
  }
  return b.build();
}

TEST_F(ReadersTest, EveryPageIsCheckedWhateverTheChainHolds) {
  struct Case {
    const char* what;
    std::function<std::string(const std::string&)> make;
    char code;
  } cases[] = {
      {"many pages", [&](const std::string& n) { return dir_.write_file(n, chain_of_pages(9999, -1)); }, 'G'},
      {"many pages, the last damaged", [&](const std::string& n) { return dir_.write_file(n, chain_of_pages(9999, 9998)); },
       'B'},
      {"pages after sub-directories",
       [&](const std::string& n) { TiffOptions o; o.directories = 4; o.sub_directories = 2; o.compression = 8;
                                   return tiff(n, o); },
       'G'},
      {"pages after sub-directories, the last damaged",
       [&](const std::string& n) {
         TiffOptions o;
         o.directories = 4;
         o.sub_directories = 2;
         o.compression = 8;
         std::string path = tiff(n, o);
         StripPlace place;
         EXPECT_TRUE(find_strip(path, 3, 0, &place));
         EXPECT_TRUE(zero_bytes(path, place.offset, place.length));
         return path;
       },
       'B'},
  };
  for (const auto& c : cases) expect_verdict(check(c.make(std::string(c.what) + ".tif")), {c.code, 'T'}, c.what);
}

TEST_F(ReadersTest, AChainThatLoopsBackEndsAfterItsLastNewPage) {
  TiffOptions o;
  o.directories = 3;
  o.sub_directories = 1;
  std::string path = tiff("loop.tif", o);
  // Point the last page's next-directory link back at the first page.
  std::string bytes = read_file(path);
  uint32_t first = static_cast<unsigned char>(bytes[4]) | (static_cast<unsigned char>(bytes[5]) << 8) |
                   (static_cast<unsigned char>(bytes[6]) << 16) | (static_cast<uint32_t>(static_cast<unsigned char>(bytes[7])) << 24);
  uint32_t at = first;
  for (int page = 0; page < 3; ++page) {
    auto u16 = [&](uint32_t p) { return static_cast<uint32_t>(static_cast<unsigned char>(bytes[p]) | (static_cast<unsigned char>(bytes[p + 1]) << 8)); };
    uint32_t link = at + 2 + 12 * u16(at);
    uint32_t next = u16(link) | (u16(link + 2) << 16);
    if (page == 2) {
      ASSERT_TRUE(overwrite(path, link, le32(first)));
    }
    at = next;
  }
  expect_verdict(check(path), {'G', 'T'}, "looping chain");
}

TEST_F(ReadersTest, AStripOfManyTinyRowsIsReadWhole) {
  // Strips of one-byte rows, more than a strip buffer of its own takes: 80
  // million rows (read as long rows), and a prime number of rows (no long
  // row divides them: decoded whole).
  struct Case {
    const char* what;
    uint32_t rows;
    bool predictor;
    std::function<bool(const std::string&)> damage;
    char code;
  } cases[] = {
      {"tall", 80'000'000, false, [](const std::string&) { return true; }, 'G'},
      {"tall with a predictor", 80'000'000, true, [](const std::string&) { return true; }, 'G'},
      {"tall cut short", 80'000'000, false, [](const std::string& p) { return truncate_to(p, 0.7); }, 'B'},
      {"tall with a wrong checksum", 80'000'000, false,
       [](const std::string& p) { return flip_bit(p, file_size(p) - 2, 3); }, 'B'},
      {"prime", 70'000'027, false, [](const std::string&) { return true; }, 'G'},
      {"prime cut short", 70'000'027, false, [](const std::string& p) { return truncate_to(p, 0.7); }, 'B'},
  };
  for (const auto& c : cases) {
    std::string path = dir_.sub(std::string(c.what) + ".tif");
    ASSERT_TRUE(write_one_strip_deflate_tiff(path, c.rows, c.predictor)) << c.what;
    ASSERT_TRUE(c.damage(path)) << c.what;
    expect_verdict(check(path), {c.code, 'T'}, c.what);
  }
}

TEST_F(ReadersTest, ALargeJpegStripIsReadToItsFirstWarning) {
  // One strip of 4800 x 4800 RGB pixels, stored as subsampled YCbCr: more
  // than a strip buffer of its own takes.
  TiffOptions o;
  o.compression = 7;
  o.ycbcr = true;
  o.width = 4800;
  o.height = 4800;
  o.rows_per_strip = 4800;
  std::string sound = tiff("large-jpeg.tif", o);
  expect_verdict(check(sound), {'G', 'T'}, "large JPEG strip");
  std::string damaged = tiff("large-jpeg-damaged.tif", o);
  StripPlace place;
  ASSERT_TRUE(find_strip(damaged, 0, 0, &place));
  ASSERT_TRUE(overwrite(damaged, place.offset + place.length / 2, std::string("\xFF\xD9", 2)));
  expect_verdict(check(damaged), {'B', 'T'}, "large JPEG strip with an end of image in its middle");
}

TEST_F(ReadersTest, AJpegStopsAtItsFirstWarning) {
  // A tiny file whose header announces 65500 x 65500 pixels: the first
  // warning (the data ends) decides, and no rows are made up after it.
  std::string path = jpeg("vast.jpg", {32, 32});
  ASSERT_TRUE(set_jpeg_dimensions(path, 65500, 65500));
  expect_verdict(check(path), {'B', 'J'}, "vast frame");
  std::string errors = worker_->stderr_text();
  EXPECT_NE(errors.find("\nERROR processing JPEG: Corrupt JPEG data: premature end of data segment\n"),
            std::string::npos)
      << errors;
  EXPECT_EQ(errors.find("ERROR processing JPEG"), errors.rfind("ERROR processing JPEG")) << errors;
  expect_verdict(check(jpeg("after.jpg")), {'G', 'J'}, "next file");
}

}  // namespace
