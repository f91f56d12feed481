// Independent raw decoders as oracles for stage 1. unprocessed_raw -T
// writes every stored sample, margins outside the ActiveArea included, to
// FILE.tiff beside its input; dcraw -D -4 writes the ActiveArea as a PGM.
// Both must agree with our stage 1 on generated lossless and uncompressed
// CFA files and on a real camera file. These tools exit 0 even when they
// fail, so they are judged by what they print on standard error and by the
// file they write. Skipped only where a tool is not installed
// (scripts/install-deps installs both).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "support/temp_folder.h"

namespace {

using testing_support::build_raw_dng;
using testing_support::image_sample;
using testing_support::RawDng;
using testing_support::RawDngOptions;
using testing_support::RawPipelineResult;
using testing_support::RawStage;
using testing_support::TempFolder;

bool have(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

std::string fixture(const std::string& name) { return std::string(CORVELLA_FIXTURES) + "/dng/" + name; }

// Standard error of a command (its standard output goes to out_path, or
// is dropped).
std::string run_for_stderr(const std::string& command, const std::string& out_path = "/dev/null") {
  std::string out;
  FILE* p = popen((command + " 2>&1 >" + out_path).c_str(), "r");
  if (p == nullptr) return "popen failed";
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  pclose(p);
  return out;
}

bool reports_failure(const std::string& err) {
  for (const char* s : {"Cannot open", "Cannot unpack", "data corrupted", "not supported", "Only Bayer"}) {
    if (err.find(s) != std::string::npos) return true;
  }
  return false;
}

struct Plane {
  uint32_t width = 0, height = 0;
  std::vector<uint16_t> samples;
  uint16_t at(uint32_t x, uint32_t y) const { return samples[size_t(y) * width + x]; }
};

// A one-sample 16-bit TIFF read with libtiff; empty when unreadable.
Plane read_tiff(const std::string& path) {
  Plane p;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) return p;
  uint32_t w = 0, h = 0;
  uint16_t bits = 0, spp = 1;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &w);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &h);
  TIFFGetField(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &spp);
  if (bits == 16 && spp == 1) {
    p.samples.resize(size_t(w) * h);
    bool ok = true;
    for (uint32_t y = 0; y < h && ok; ++y) ok = TIFFReadScanline(tif, &p.samples[size_t(y) * w], y) == 1;
    if (ok) {
      p.width = w;
      p.height = h;
    } else {
      p.samples.clear();
    }
  }
  TIFFClose(tif);
  return p;
}

// A binary 16-bit PGM (P5, maxval above 255, big-endian samples).
Plane read_pgm(const std::string& bytes) {
  Plane p;
  std::istringstream in(bytes);
  std::string magic;
  uint32_t w = 0, h = 0, maxval = 0;
  in >> magic >> w >> h >> maxval;
  if (magic != "P5" || maxval < 256) return p;
  in.get();
  const size_t header = static_cast<size_t>(in.tellg());
  if (bytes.size() < header + size_t(w) * h * 2) return p;
  p.width = w;
  p.height = h;
  for (size_t i = 0; i < size_t(w) * h; ++i) {
    p.samples.push_back(uint16_t(uint8_t(bytes[header + 2 * i]) << 8 | uint8_t(bytes[header + 2 * i + 1])));
  }
  return p;
}

// Compares the oracle's plane with stage 1 over the rectangle of stage 1
// that starts at (top, left).
void expect_same(const Plane& oracle, const dng_simple_image& stage1, uint32_t top, uint32_t left) {
  uint32_t wrong = 0;
  for (uint32_t y = 0; y < oracle.height; ++y)
    for (uint32_t x = 0; x < oracle.width; ++x) {
      const uint32_t ours = image_sample(stage1, int32_t(top + y), int32_t(left + x), 0);
      if (ours != oracle.at(x, y) && wrong++ < 5) {
        ADD_FAILURE() << "(" << y << ", " << x << "): oracle " << oracle.at(x, y) << ", ours " << ours;
      }
    }
  EXPECT_EQ(wrong, 0u);
}

RawPipelineResult read_stage1(const std::string& path) {
  dng_test::StderrCapture quiet;
  return testing_support::run_raw_pipeline_on_file(path, RawStage::kRead);
}

// Runs both oracles over a DNG file and compares them with our stage 1:
// unprocessed_raw over the whole image, dcraw over the ActiveArea.
void compare_with_oracles(const std::string& path) {
  const RawPipelineResult ours = read_stage1(path);
  ASSERT_EQ(ours.code, 0);
  ASSERT_NE(ours.stage1, nullptr);
  const dng_simple_image& stage1 = *ours.stage1;
  const dng_box active = ours.main_ifd->active_area;

  const std::string err = run_for_stderr("unprocessed_raw -T '" + path + "'");
  EXPECT_FALSE(reports_failure(err)) << err;
  const Plane whole = read_tiff(path + ".tiff");
  std::remove((path + ".tiff").c_str());
  ASSERT_EQ(whole.width, stage1.Bounds().W()) << err;
  ASSERT_EQ(whole.height, stage1.Bounds().H());
  expect_same(whole, stage1, 0, 0);

  const std::string pgm_path = path + ".pgm";
  const std::string dcraw_err = run_for_stderr("dcraw -D -4 -c '" + path + "'", pgm_path);
  EXPECT_FALSE(reports_failure(dcraw_err)) << dcraw_err;
  const Plane inside = read_pgm(testing_support::read_file(pgm_path));
  std::remove(pgm_path.c_str());
  ASSERT_EQ(inside.width, active.W()) << dcraw_err;
  ASSERT_EQ(inside.height, active.H());
  expect_same(inside, stage1, uint32_t(active.top), uint32_t(active.left));
}

void require_tools() {
  if (!have("unprocessed_raw") || !have("dcraw")) GTEST_SKIP() << "unprocessed_raw or dcraw not installed";
}

// Striped lossless images are written as one strip each: the oracles read
// compressed strips as one stream. No layout has a linearization table:
// both oracles apply one while unpacking, by rules of their own for long
// tables.
std::vector<RawDngOptions> oracle_layouts() {
  std::vector<RawDngOptions> t;
  for (uint32_t components : {1u, 2u})
    for (uint32_t bits : {12u, 14u})
      for (bool tiled : {false, true})
        for (bool big : {false, true}) {
          RawDngOptions o;
          o.name = "lossless " + std::to_string(bits) + "-bit, " + std::to_string(components) + " component(s), " +
                   (tiled ? "tiled" : "striped") + (big ? ", MM" : ", II");
          o.compression = 7;
          o.bits = bits;
          o.jpeg_components = components;
          o.width = 100;
          o.height = 70;
          o.tile_width = tiled ? 32 : 0;
          o.tile_length = tiled ? 32 : 0;
          o.big_endian = big;
          o.black_levels = {bits == 12 ? 128.0 : 512.0};
          o.active_area = std::vector<uint32_t>{2, 4, 68, 96};
          t.push_back(o);
        }
  RawDngOptions plain;
  plain.name = "uncompressed 16-bit, MM";
  plain.width = 50;
  plain.height = 40;
  plain.big_endian = true;
  plain.active_area = std::vector<uint32_t>{4, 2, 38, 48};
  t.push_back(plain);
  return t;
}

TEST(RawOracle, GeneratedCfaFilesReadAsTheIndependentDecodersReadThem) {
  require_tools();
  TempFolder folder;
  for (const RawDngOptions& o : oracle_layouts()) {
    SCOPED_TRACE(o.name);
    const RawDng file = build_raw_dng(o);
    compare_with_oracles(folder.write_file("generated.dng", file.bytes));
  }
}

TEST(RawOracle, RealUncompressedCfaFileReadsAsTheIndependentDecodersReadIt) {
  require_tools();
  TempFolder folder;
  const std::string bytes = testing_support::read_file(fixture("canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng"));
  ASSERT_EQ(bytes.size(), 3906864u);
  compare_with_oracles(folder.write_file("camera.dng", bytes));
}

// The real file runs through every stage; its cut-down and stripped
// relatives end with the code of what is missing.
TEST(RawOracle, RealFilesThroughThePipeline) {
  struct Case {
    const char* file;
    int32_t code;
    RawStage stage;
  };
  const Case cases[] = {
      {"canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng", 0, RawStage::kInterpolate},
      // The structure is whole; the strip runs past the end of the file.
      {"canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng", dng_code_end_of_file, RawStage::kRead},
      // 140 tiles with one offset: invalid.
      {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", dng_code_bad_format, RawStage::kParse},
      // A backward version this reader does not support: invalid.
      {"apple_iphone12pro_dng14_TRUNCATED.dng", dng_code_bad_format, RawStage::kParse},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    dng_test::StderrCapture quiet;
    const RawPipelineResult r = testing_support::run_raw_pipeline_on_file(fixture(c.file));
    EXPECT_EQ(r.code, c.code);
    EXPECT_EQ(r.stage, c.stage) << testing_support::raw_stage_name(r.stage);
  }
}

}  // namespace
