// Round trips through the validation's DNG output: generated raw DNGs of
// every kind the writer handles are validated with the stage dumps and the
// DNG output set; the written DNG must validate as cleanly as its source,
// give the same stages and tags, and write itself again byte for byte.
// Independent readers (libtiff's tiffinfo, exiftool and LibRaw's tools)
// then read every written file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <tiffio.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_vector.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_shared.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/support/scoped_zone.h"
#include "dng/support/stderr_capture.h"
#include "dng/support/stdout_capture.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "support/temp_folder.h"

namespace {

using testing_support::RawDng;
using testing_support::RawDngOptions;
using testing_support::Rational;
using testing_support::TempFolder;

constexpr uint32_t kNoClamp = 0xFFFFFFFF;

// ---- Running the validation with its outputs -------------------------------

struct Outputs {
  std::string stage1, stage2, stage3, dng;
};

struct Validation {
  int32_t code = -1;
  std::string transcript;  // standard error
};

// Validates one file with the given output paths (empty: not set), as the
// DNG reader does: between starting and stopping the XMP toolkit.
Validation validate_with(const std::string& path, const Outputs& out) {
  validate_stage1_path.Assign(out.stage1.empty() ? nullptr : out.stage1.c_str());
  validate_stage2_path.Assign(out.stage2.empty() ? nullptr : out.stage2.c_str());
  validate_stage3_path.Assign(out.stage3.empty() ? nullptr : out.stage3.c_str());
  validate_dng_path.Assign(out.dng.empty() ? nullptr : out.dng.c_str());
  Validation v;
  {
    dng_test::StdoutCapture timers;  // the output steps' timer lines
    dng_test::StderrCapture err;
    xmp_toolkit_initialize();
    v.code = validate_dng_file(path.c_str());
    xmp_toolkit_terminate();
    v.transcript = err.Take();
  }
  validate_stage1_path.Assign(nullptr);
  validate_stage2_path.Assign(nullptr);
  validate_stage3_path.Assign(nullptr);
  validate_dng_path.Assign(nullptr);
  return v;
}

std::vector<std::string> lines_with(const std::string& text, const std::string& mark) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    if (line.find(mark) != std::string::npos) lines.push_back(line);
  }
  return lines;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && st.st_size > 0;
}

// ---- TIFF images read back with libtiff ----------------------------------

struct TiffImage {
  uint32_t width = 0, height = 0, samples = 0, bits = 0;
  std::vector<uint32_t> values;  // row by row, samples of a pixel together
  std::string error;

  uint32_t at(uint32_t x, uint32_t y, uint32_t p) const { return values[(size_t(y) * width + x) * samples + p]; }
};

TiffImage read_tiff(const std::string& path) {
  TiffImage image;
  TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) {
    image.error = "libtiff cannot open " + path;
    return image;
  }
  uint16_t samples = 1, bits = 8, planar = PLANARCONFIG_CONTIG;
  TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &image.width);
  TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &image.height);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  image.samples = samples;
  image.bits = bits;
  if (planar != PLANARCONFIG_CONTIG || (bits != 8 && bits != 16)) {
    image.error = "unexpected layout: planar " + std::to_string(planar) + ", " + std::to_string(bits) + " bits";
    TIFFClose(tif);
    return image;
  }
  std::vector<uint8_t> row(static_cast<size_t>(TIFFScanlineSize(tif)));
  image.values.reserve(size_t(image.width) * image.height * samples);
  for (uint32_t y = 0; y < image.height; ++y) {
    if (TIFFReadScanline(tif, row.data(), y, 0) < 0) {
      image.error = "cannot read row " + std::to_string(y);
      break;
    }
    for (size_t i = 0; i < size_t(image.width) * samples; ++i) {
      image.values.push_back(bits == 8 ? row[i] : reinterpret_cast<const uint16_t*>(row.data())[i]);
    }
  }
  TIFFClose(tif);
  return image;
}

// The written stage equals the source's: exactly, or within `tolerance`;
// `clamp` bounds the source's samples first (a narrowed table's last index).
void expect_same_stage(const std::string& name, const TiffImage& source, const TiffImage& written,
                       uint32_t tolerance, uint32_t clamp = kNoClamp) {
  SCOPED_TRACE(name);
  ASSERT_TRUE(source.error.empty()) << source.error;
  ASSERT_TRUE(written.error.empty()) << written.error;
  ASSERT_EQ(written.width, source.width);
  ASSERT_EQ(written.height, source.height);
  ASSERT_EQ(written.samples, source.samples);
  uint32_t mismatches = 0, clamped = 0;
  for (uint32_t y = 0; y < source.height; ++y)
    for (uint32_t x = 0; x < source.width; ++x)
      for (uint32_t p = 0; p < source.samples; ++p) {
        const uint32_t want = std::min(source.at(x, y, p), clamp);
        if (want != source.at(x, y, p)) ++clamped;
        const uint32_t got = written.at(x, y, p);
        const uint32_t diff = got > want ? got - want : want - got;
        if (diff > tolerance && mismatches++ < 5) {
          ADD_FAILURE() << "(" << x << ", " << y << ") plane " << p << ": " << got << ", want " << want;
        }
      }
  EXPECT_EQ(mismatches, 0u);
  if (clamp != kNoClamp) {
    EXPECT_GT(clamped, 0u) << "the scene reaches above the table";
  }
}

// ---- Tags read back ---------------------------------------------------------

// The main image's tags as the parser reads them, for comparing a written
// file with its source.
struct RawTags {
  testing_support::RawPipelineResult read;
  const dng_shared& shared() const { return *read.info->shared; }
  const dng_ifd& ifd() const { return *read.main_ifd; }
};

RawTags read_tags(const std::string& path) {
  RawTags t;
  dng_test::StderrCapture err;  // warnings were judged by the validation
  t.read = testing_support::run_raw_pipeline_on_file(path, testing_support::RawStage::kParse);
  return t;
}

void expect_matrix_near(const char* name, const dng_matrix& a, const dng_matrix& b, double tolerance) {
  SCOPED_TRACE(name);
  ASSERT_EQ(a.Rows(), b.Rows());
  ASSERT_EQ(a.Cols(), b.Cols());
  for (uint32_t r = 0; r < a.Rows(); ++r)
    for (uint32_t c = 0; c < a.Cols(); ++c) EXPECT_NEAR(a[r][c], b[r][c], tolerance) << r << "," << c;
}

void expect_vector_near(const char* name, const dng_vector& a, const dng_vector& b, double tolerance) {
  SCOPED_TRACE(name);
  ASSERT_EQ(a.Count(), b.Count());
  for (uint32_t i = 0; i < a.Count(); ++i) EXPECT_NEAR(a[i], b[i], tolerance) << i;
}

void expect_ratio_near(const char* name, const dng_unsigned_ratio& a, const dng_unsigned_ratio& b,
                       double tolerance) {
  EXPECT_NEAR(a.ToReal(), b.ToReal(), tolerance) << name;
}

// Matrices, neutrals and ratios are written as rationals of a fixed
// denominator, so they read back to within its step; the builder's values
// are all on that step, so the tolerance only absorbs rounding.
void expect_same_tags(const RawTags& source, const RawTags& written) {
  ASSERT_EQ(source.read.code, 0);
  ASSERT_EQ(written.read.code, 0);
  const double q = 1e-6;
  const dng_shared& s = source.shared();
  const dng_shared& w = written.shared();
  EXPECT_EQ(w.color_planes, s.color_planes);
  EXPECT_STREQ(w.unique_camera_model.CStr(), s.unique_camera_model.CStr());
  EXPECT_EQ(w.calibration_illuminant1, s.calibration_illuminant1);
  EXPECT_EQ(w.calibration_illuminant2, s.calibration_illuminant2);
  expect_matrix_near("ColorMatrix1", s.color_matrix1, w.color_matrix1, q);
  expect_matrix_near("ColorMatrix2", s.color_matrix2, w.color_matrix2, q);
  expect_matrix_near("ReductionMatrix1", s.reduction_matrix1, w.reduction_matrix1, q);
  expect_matrix_near("ReductionMatrix2", s.reduction_matrix2, w.reduction_matrix2, q);
  expect_vector_near("AsShotNeutral", s.as_shot_neutral, w.as_shot_neutral, q);

  const dng_ifd& si = source.ifd();
  const dng_ifd& wi = written.ifd();
  EXPECT_EQ(wi.image_width, si.image_width);
  EXPECT_EQ(wi.image_length, si.image_length);
  EXPECT_EQ(wi.samples_per_pixel, si.samples_per_pixel);
  EXPECT_EQ(wi.photometric_interpretation, si.photometric_interpretation);
  EXPECT_EQ(wi.cfa_repeat_pattern_rows, si.cfa_repeat_pattern_rows);
  EXPECT_EQ(wi.cfa_repeat_pattern_cols, si.cfa_repeat_pattern_cols);
  for (uint32_t r = 0; r < si.cfa_repeat_pattern_rows; ++r)
    for (uint32_t c = 0; c < si.cfa_repeat_pattern_cols; ++c)
      EXPECT_EQ(wi.cfa_pattern[r][c], si.cfa_pattern[r][c]) << "CFAPattern " << r << "," << c;
  if (si.photometric_interpretation == 32803) {
    for (uint32_t p = 0; p < s.color_planes; ++p) EXPECT_EQ(wi.cfa_plane_color[p], si.cfa_plane_color[p]);
    EXPECT_EQ(wi.cfa_layout, si.cfa_layout);
  }
  EXPECT_EQ(wi.active_area, si.active_area);
  EXPECT_EQ(wi.masked_areas_count, si.masked_areas_count);
  for (uint32_t j = 0; j < std::min(si.masked_areas_count, 4u); ++j) {
    EXPECT_EQ(wi.masked_area[j], si.masked_area[j]) << "MaskedAreas " << j;
  }
  EXPECT_EQ(wi.linearization_table_count, si.linearization_table_count);
  EXPECT_EQ(wi.black_level_repeat_rows, si.black_level_repeat_rows);
  EXPECT_EQ(wi.black_level_repeat_cols, si.black_level_repeat_cols);
  for (uint32_t r = 0; r < si.black_level_repeat_rows; ++r)
    for (uint32_t c = 0; c < si.black_level_repeat_cols; ++c)
      for (uint32_t p = 0; p < si.samples_per_pixel; ++p)
        EXPECT_NEAR(wi.black_level[r][c][p], si.black_level[r][c][p], q) << "BlackLevel " << r << "," << c;
  EXPECT_EQ(wi.black_level_delta_h_count, si.black_level_delta_h_count);
  EXPECT_EQ(wi.black_level_delta_v_count, si.black_level_delta_v_count);
  for (uint32_t p = 0; p < si.samples_per_pixel; ++p) EXPECT_EQ(wi.white_level[p], si.white_level[p]);
  expect_ratio_near("DefaultScale H", si.default_scale_h, wi.default_scale_h, q);
  expect_ratio_near("DefaultScale V", si.default_scale_v, wi.default_scale_v, q);
  expect_ratio_near("DefaultCropOrigin H", si.default_crop_origin_h, wi.default_crop_origin_h, q);
  expect_ratio_near("DefaultCropOrigin V", si.default_crop_origin_v, wi.default_crop_origin_v, q);
  expect_ratio_near("DefaultCropSize H", si.default_crop_size_h, wi.default_crop_size_h, q);
  expect_ratio_near("DefaultCropSize V", si.default_crop_size_v, wi.default_crop_size_v, q);
}

// The linearization data as the reader takes it from the tags: table,
// black levels and their deltas by value, white levels.
void expect_same_linearization(const RawTags& source, const RawTags& written) {
  const uint32_t planes = source.ifd().samples_per_pixel;
  const dng_linearization_info& s = source.read.linearization;
  const dng_linearization_info& w = written.read.linearization;
  EXPECT_EQ(w.table, s.table);
  ASSERT_EQ(w.black_delta_h.size(), s.black_delta_h.size());
  for (size_t i = 0; i < s.black_delta_h.size(); ++i) EXPECT_NEAR(w.black_delta_h[i], s.black_delta_h[i], 1e-6) << i;
  ASSERT_EQ(w.black_delta_v.size(), s.black_delta_v.size());
  for (size_t i = 0; i < s.black_delta_v.size(); ++i) EXPECT_NEAR(w.black_delta_v[i], s.black_delta_v[i], 1e-6) << i;
  for (uint32_t r = 0; r < 8; ++r)
    for (uint32_t c = 0; c < 8; ++c)
      for (uint32_t p = 0; p < planes; ++p) EXPECT_NEAR(w.black_level[r][c][p], s.black_level[r][c][p], 1e-6);
  for (uint32_t p = 0; p < planes; ++p) EXPECT_EQ(w.white_level[p], s.white_level[p]) << "WhiteLevel " << p;
}

// ---- The cases ------------------------------------------------------------------

struct RoundTripCase {
  std::string name;
  RawDngOptions options;
  // A 16-bit image with a table of at most 256 entries is written as 8-bit
  // data clamped to the table's last index; its linearization then takes
  // the fixed-point path and may move stage 2 (and 3) by one.
  uint32_t clamp = kNoClamp;
  // Minor exiftool warnings this file may give.
  std::vector<std::string> exiftool_minor;
};

std::vector<RoundTripCase> round_trip_cases() {
  std::vector<RoundTripCase> t;
  auto add = [&t](const std::string& name, auto&& set) {
    RoundTripCase c;
    c.name = name;
    c.options.name = name;
    // A width of whole 16-pixel steps: the writer's tiles are then no wider
    // than the image. LibRaw's lossless decoder starts a new row at the
    // image width inside a tile, so it misplaces the samples of one tile
    // wider than the whole image (a padded tile beside others is fine).
    c.options.width = 48;
    c.options.height = 30;
    set(c, c.options);
    t.push_back(c);
  };
  auto lossless = [](RawDngOptions& o, uint32_t bits) {
    o.compression = 7;
    o.bits = bits;
    o.jpeg_components = 2;
    o.tile_width = 32;
    o.tile_length = 16;
  };
  add("CFA 12-bit lossless, II", [&](RoundTripCase&, RawDngOptions& o) { lossless(o, 12); });
  add("CFA 14-bit lossless, MM", [&](RoundTripCase&, RawDngOptions& o) {
    lossless(o, 14);
    o.cfa_rows = {"GR", "BG"};
    o.big_endian = true;
  });
  add("CFA 16-bit lossless, II", [&](RoundTripCase&, RawDngOptions& o) { lossless(o, 16); });
  add("CFA 16-bit uncompressed strips, MM", [&](RoundTripCase&, RawDngOptions& o) {
    o.tile_length = 7;
    o.big_endian = true;
  });
  add("LinearRaw 16-bit, MM", [&](RoundTripCase&, RawDngOptions& o) {
    o.cfa_rows.clear();
    o.big_endian = true;
  });
  add("monochrome 14-bit lossless, II", [&](RoundTripCase&, RawDngOptions& o) {
    o.cfa_rows.clear();
    o.linear_samples = 1;
    lossless(o, 14);
    o.jpeg_components = 1;
  });
  add("monochrome 16-bit, MM", [&](RoundTripCase&, RawDngOptions& o) {
    o.cfa_rows.clear();
    o.linear_samples = 1;
    o.big_endian = true;
  });
  add("four colours with reduction matrices, MM", [&](RoundTripCase&, RawDngOptions& o) {
    o.cfa_rows = {"CY", "GM"};
    o.cfa_colors = "CYGM";
    o.second_illuminant = true;
    o.reduction_matrices = true;
    o.big_endian = true;
  });
  add("256-entry linearization table, 16-bit, II", [&](RoundTripCase& c, RawDngOptions& o) {
    for (uint32_t i = 0; i < 256; ++i) o.linearization_table.push_back(uint16_t(i * i));
    c.clamp = 255;
  });
  add("2 x 2 black pattern with deltas, MM", [&](RoundTripCase&, RawDngOptions& o) {
    lossless(o, 14);
    o.black_repeat_rows = 2;
    o.black_repeat_cols = 2;
    o.black_levels = {400, 410.5, 420, 405.25};
    o.black_delta_h = true;
    o.black_delta_v = true;
    o.big_endian = true;
  });
  add("active area with masked areas, II", [&](RoundTripCase&, RawDngOptions& o) {
    o.bits = 12;
    o.black_levels = {256};
    o.active_area = std::vector<uint32_t>{2, 4, 30, 48};
    o.masked_areas = {{0, 0, 2, 48}, {2, 0, 30, 4}};
    o.default_crop_origin = std::make_pair(Rational{2, 1}, Rational{2, 1});
    o.default_crop_size = std::make_pair(Rational{32, 1}, Rational{24, 1});
  });
  add("non-square default scale, MM", [&](RoundTripCase&, RawDngOptions& o) {
    lossless(o, 16);
    o.default_scale = std::make_pair(Rational{3, 2}, Rational{1, 1});
    o.big_endian = true;
  });
  return t;
}

// ---- The round trip ----------------------------------------------------------

class RoundTrip : public ::testing::Test {
 protected:
  void SetUp() override {
    // The written files carry a modification date: fix the zone and the
    // clock so that writing twice can give the same bytes.
    set_dng_test_clock(1765432100);
  }
  void TearDown() override { clear_dng_test_clock(); }

  // Writes the source, validates it with every stage dump and the DNG
  // output, then validates the written DNG likewise.
  struct Run {
    std::string source, written, rewritten;
    Outputs source_out, written_out;
    Validation source_check, written_check;
  };
  Run round_trip(const TempFolder& folder, const RawDng& file) {
    Run r;
    r.source = folder.write_file("source.dng", file.bytes);
    r.written = folder.sub("written.dng");
    r.rewritten = folder.sub("rewritten.dng");
    r.source_out = {folder.sub("s1.tif"), folder.sub("s2.tif"), folder.sub("s3.tif"), r.written};
    r.written_out = {folder.sub("w1.tif"), folder.sub("w2.tif"), folder.sub("w3.tif"), r.rewritten};
    r.source_check = validate_with(r.source, r.source_out);
    if (r.source_check.code == 0) r.written_check = validate_with(r.written, r.written_out);
    return r;
  }

  ScopedZone zone_{"UTC"};
};

TEST_F(RoundTrip, WrittenDngsValidateAndGiveTheSameStagesTagsAndBytes) {
  for (const RoundTripCase& c : round_trip_cases()) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const RawDng file = testing_support::build_raw_dng(c.options);
    const Run r = round_trip(folder, file);
    ASSERT_EQ(r.source_check.code, 0) << r.source_check.transcript;
    ASSERT_EQ(r.written_check.code, 0) << r.written_check.transcript;
    for (const std::string& line : lines_with(r.written_check.transcript, "*** Warning")) {
      EXPECT_NE(r.source_check.transcript.find(line), std::string::npos) << "new warning: " << line;
    }
    for (const std::string* p : {&r.source_out.stage1, &r.source_out.stage2, &r.source_out.stage3, &r.written,
                                 &r.written_out.stage1, &r.written_out.stage2, &r.written_out.stage3, &r.rewritten}) {
      ASSERT_TRUE(file_exists(*p)) << *p;
    }

    // The source's stage 1 is the generated scene; the written one too, up
    // to the narrowed table's clamp.
    const TiffImage s1 = read_tiff(r.source_out.stage1);
    ASSERT_TRUE(s1.error.empty()) << s1.error;
    ASSERT_EQ(s1.values, file.stage1);
    const bool narrowed = c.clamp != kNoClamp;
    expect_same_stage("stage 1", s1, read_tiff(r.written_out.stage1), 0, c.clamp);
    expect_same_stage("stage 2", read_tiff(r.source_out.stage2), read_tiff(r.written_out.stage2), narrowed ? 1 : 0);
    expect_same_stage("stage 3", read_tiff(r.source_out.stage3), read_tiff(r.written_out.stage3), narrowed ? 1 : 0);

    const RawTags source_tags = read_tags(r.source);
    const RawTags written_tags = read_tags(r.written);
    expect_same_tags(source_tags, written_tags);
    expect_same_linearization(source_tags, written_tags);
    EXPECT_EQ(written_tags.ifd().bits_per_sample[0], narrowed ? 8u : (c.options.bits > 8 ? 16u : 8u));

    EXPECT_TRUE(testing_support::read_file(r.rewritten) == testing_support::read_file(r.written))
        << "writing the written DNG again changed its bytes";
  }
}

// ---- Independent readers ---------------------------------------------------

bool have(const char* program) {
  return std::system((std::string("command -v ") + program + " >/dev/null 2>&1").c_str()) == 0;
}

struct Command {
  std::string out, err;
};

// Runs a shell command with its standard output and error kept apart.
Command run(const TempFolder& folder, const std::string& command) {
  const std::string out = folder.sub("cmd.out"), err = folder.sub("cmd.err");
  (void)std::system((command + " >'" + out + "' 2>'" + err + "'").c_str());
  Command c{testing_support::read_file(out), testing_support::read_file(err)};
  std::remove(out.c_str());
  std::remove(err.c_str());
  return c;
}

// tiffinfo -D walks the directories and reads the thumbnail: no error, and
// no warning but unknown-field notes for the listed tags.
void expect_tiffinfo_clean(const TempFolder& folder, const std::string& path, const std::set<uint32_t>& unknown) {
  const Command c = run(folder, "tiffinfo -D '" + path + "'");
  std::istringstream in(c.out + c.err);
  for (std::string line; std::getline(in, line);) {
    const std::string note = "Unknown field with tag ";
    const size_t at = line.find(note);
    if (at != std::string::npos) {
      const uint32_t tag = uint32_t(std::strtoul(line.c_str() + at + note.size(), nullptr, 10));
      EXPECT_TRUE(unknown.count(tag)) << line;
      continue;
    }
    EXPECT_EQ(line.find("rror"), std::string::npos) << line;
    EXPECT_EQ(line.find("arning"), std::string::npos) << line;
  }
}

// exiftool -validate says OK, or names only minor warnings of the list.
void expect_exiftool_valid(const TempFolder& folder, const std::string& path, const std::vector<std::string>& minor) {
  const Command c = run(folder, "exiftool -validate -warning -a '" + path + "'");
  EXPECT_EQ(c.err, "");
  const std::vector<std::string> validate = lines_with(c.out, "Validate");
  ASSERT_EQ(validate.size(), 1u) << c.out;
  for (const std::string& line : lines_with(c.out, "Warning")) {
    bool allowed = false;
    for (const std::string& m : minor) allowed |= line.find("[minor] " + m) != std::string::npos;
    EXPECT_TRUE(allowed) << line;
  }
  if (lines_with(c.out, "Warning").empty()) {
    EXPECT_NE(validate[0].find(": OK"), std::string::npos) << c.out;
  }
}

// LibRaw's tools exit 0 even when they fail, so they are judged by their
// standard error and the files they write.
void expect_no_libraw_complaint(const Command& c) {
  for (const char* word : {"rror", "annot", "nsupported", "orrupt"}) {
    EXPECT_EQ(c.err.find(word), std::string::npos) << c.err;
    EXPECT_EQ(c.out.find(word), std::string::npos) << c.out;
  }
}

TEST_F(RoundTrip, IndependentReadersReadEveryWrittenDng) {
  for (const char* tool : {"tiffinfo", "exiftool", "raw-identify", "dcraw_emu", "unprocessed_raw"}) {
    if (!have(tool)) GTEST_SKIP() << tool << " not installed (scripts/install-deps)";
  }
  for (const RoundTripCase& c : round_trip_cases()) {
    SCOPED_TRACE(c.name);
    TempFolder folder;
    const RawDng file = testing_support::build_raw_dng(c.options);
    const Run r = round_trip(folder, file);
    ASSERT_EQ(r.source_check.code, 0) << r.source_check.transcript;
    ASSERT_TRUE(file_exists(r.written));

    // DNG tags libtiff does not know by name.
    expect_tiffinfo_clean(folder, r.written,
                          {50706, 50707, 50708, 50710, 50711, 50712, 50713, 50714, 50715, 50716, 50717, 50718,
                           50719, 50720, 50721, 50722, 50725, 50726, 50727, 50728, 50729, 50730, 50731, 50732,
                           50733, 50734, 50738, 50739, 50778, 50779, 50780, 50829, 50830});
    expect_exiftool_valid(folder, r.written, c.exiftool_minor);
    // The stage dumps are plain TIFFs: no unknown tag at all.
    for (const std::string* dump : {&r.source_out.stage1, &r.source_out.stage2, &r.source_out.stage3}) {
      expect_tiffinfo_clean(folder, *dump, {});
    }

    const Command identify = run(folder, "raw-identify '" + r.written + "'");
    expect_no_libraw_complaint(identify);
    EXPECT_NE(identify.out.find("is a Corvella Raw Builder image"), std::string::npos) << identify.out;

    const std::string tiff = r.written + ".tiff";
    const Command emu = run(folder, "dcraw_emu -T '" + r.written + "'");
    expect_no_libraw_complaint(emu);
    const TiffImage developed = read_tiff(tiff);
    EXPECT_TRUE(developed.error.empty()) << developed.error << emu.err;
    EXPECT_GT(developed.width, 0u);
    EXPECT_GT(developed.height, 0u);
    std::remove(tiff.c_str());

    // The raw samples as LibRaw unpacks them, the whole image with its
    // masked areas: stage 1 for CFA and monochrome files without a table.
    const bool comparable = (!c.options.cfa_rows.empty() || c.options.linear_samples == 1) &&
                            c.options.linearization_table.empty();
    if (comparable) {
      const Command raw = run(folder, "unprocessed_raw -T '" + r.written + "'");
      expect_no_libraw_complaint(raw);
      const TiffImage unpacked = read_tiff(tiff);
      ASSERT_TRUE(unpacked.error.empty()) << unpacked.error << raw.err;
      ASSERT_EQ(unpacked.width, file.width);
      ASSERT_EQ(unpacked.height, file.height);
      ASSERT_EQ(unpacked.samples, 1u);
      uint32_t mismatches = 0;
      for (uint32_t y = 0; y < file.height; ++y)
        for (uint32_t x = 0; x < file.width; ++x)
          if (unpacked.at(x, y, 0) != file.at(x, y) && mismatches++ < 5) {
            ADD_FAILURE() << "unprocessed_raw (" << x << ", " << y << "): " << unpacked.at(x, y, 0) << ", stage 1 "
                          << file.at(x, y);
          }
      EXPECT_EQ(mismatches, 0u);
      std::remove(tiff.c_str());
    }
  }
}

}  // namespace
