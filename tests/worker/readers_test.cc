// Identification and the JPEG, TIFF and raw checks, through the real corvex
// on files written by libjpeg and libtiff.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "support/image_writers.h"
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
      {"photo.dng", [&](const std::string& n) { return jpeg(n); }, {'B', 'R'}, ""},
      // A JPEG signature wins over a TIFF extension.
      {"really-jpeg.tif", [&](const std::string& n) { return jpeg(n); }, {'G', 'J'}, ""},
      // A TIFF signature goes through the structure examiner: TIFF or DNG.
      {"really-tiff.jpg", [&](const std::string& n) { return tiff(n); }, {'G', 'T'}, ""},
      {"tiff-no-list.dat", [&](const std::string& n) { return tiff(n); }, {'G', 'T'}, ""},
      {"dng-named.tif", [&](const std::string& n) { TiffOptions o; o.dng_version = true; return tiff(n, o); },
       {'E', 'D'}, "DNG validation not available"},
      {"dng-no-list.dat", [&](const std::string& n) { TiffOptions o; o.dng_version = true; return tiff(n, o); },
       {'E', 'D'}, "DNG validation not available"},
      // The examiner refuses two samples per pixel: the extension decides.
      {"gray-alpha.tif", [&](const std::string& n) { TiffOptions o; o.samples = 2; return tiff(n, o); }, {'G', 'T'}, ""},
      {"gray-alpha.dat", [&](const std::string& n) { TiffOptions o; o.samples = 2; return tiff(n, o); }, {'B', '?'},
       "Could not open or identify"},
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
      // libtiff refuses a SubIFD that holds only a JPEG thumbnail and no
      // strips or tiles, so this sound file is answered invalid.
      {"tiff/child_ifd_jpeg.tiff", {'B', 'T'}},
  };
  for (const auto& c : cases) {
    auto r = check(std::string(CORVELLA_FIXTURES) + "/" + c.file);
    expect_verdict(r, c.verdict, c.file);
  }
}

}  // namespace
