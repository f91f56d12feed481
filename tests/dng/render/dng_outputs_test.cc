// The validation's output steps through the dng_outputs program, run as a
// real child process: which files each option writes, what they hold (read
// with libtiff), the one-shot paths, the reduced rendering, failures that
// leave no file behind, and a run without options that answers as the
// worker does. The replacing file underneath is also tested on its own.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <tiffio.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_stream.h"
#include "dng/render/dng_validate_outputs.h"
#include "dng_outputs_run.h"
#include "support/child_process.h"
#include "support/dng_builder.h"
#include "support/raw_dng_builder.h"
#include "support/temp_folder.h"
#include "support/timer_mask.h"
#include "support/worker_process.h"

namespace {

using namespace testing_support;

std::vector<std::string> folder_entries(const std::string& folder) {
  std::vector<std::string> names;
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) return names;
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

std::string fixture(const std::string& name) { return read_file(std::string(CORVELLA_FIXTURES) + "/dng/" + name); }

// What libtiff reads from one directory of a file.
struct TiffFacts {
  bool opened = false;
  uint32_t width = 0, height = 0;
  uint16_t samples = 0, bits = 0, photometric = 0, compression = 0;
  uint32_t subfile_type = 0;
  uint16_t subifd_count = 0;
};

TiffFacts read_tiff(const std::string& path, tdir_t directory = 0) {
  TiffFacts f;
  TIFFSetWarningHandler(nullptr);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (t == nullptr) return f;
  if (TIFFSetDirectory(t, directory) == 1) {
    f.opened = true;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &f.width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &f.height);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &f.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &f.bits);
    TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &f.photometric);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &f.compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_SUBFILETYPE, &f.subfile_type);
    uint64_t* offsets = nullptr;
    TIFFGetField(t, TIFFTAG_SUBIFD, &f.subifd_count, &offsets);
  }
  TIFFClose(t);
  return f;
}

// Every strip of the first directory decodes.
bool tiff_pixels_read(const std::string& path) {
  TIFFSetWarningHandler(nullptr);
  TIFF* t = TIFFOpen(path.c_str(), "r");
  if (t == nullptr) return false;
  std::vector<uint8_t> strip(TIFFStripSize(t));
  bool ok = !strip.empty();
  for (tstrip_t s = 0; ok && s < TIFFNumberOfStrips(t); ++s) ok = TIFFReadEncodedStrip(t, s, strip.data(), -1) >= 0;
  TIFFClose(t);
  return ok;
}

struct ProgramRun {
  int status = -1;  // exit status, -1 when the child did not end normally
  std::string out;
  std::string err;
  // The result the program printed for its n-th file, if any.
  std::optional<int32_t> result(size_t n = 0) const {
    size_t start = 0;
    for (size_t i = 0; i < n; ++i) {
      start = out.find('\n', start);
      if (start == std::string::npos) return std::nullopt;
      ++start;
    }
    if (start >= out.size()) return std::nullopt;
    return static_cast<int32_t>(std::stol(out.substr(start)));
  }
};

class DngOutputsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(mkdir(dir_.sub("in").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.sub("out").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(dir_.sub("log").c_str(), 0755), 0);
  }

  std::string input(const std::string& name, const std::string& bytes) { return dir_.write_file("in/" + name, bytes); }
  std::string out(const std::string& name) const { return dir_.sub("out/" + name); }
  std::vector<std::string> outputs() const { return folder_entries(dir_.sub("out")); }

  // Runs dng_outputs with args; limit > 0 caps the size of every file the
  // program writes (its captured output too, which stays far below it).
  ProgramRun run(const std::vector<std::string>& args, rlim_t limit = 0) {
    DngOutputsStreams streams;
    streams.out_path = dir_.sub("log/out.txt");
    streams.err_path = dir_.sub("log/err.txt");
    streams.file_size_limit = limit;
    ProgramRun r;
    r.status = run_dng_outputs(args, streams);
    r.out = read_file(streams.out_path);
    r.err = mask_timer_values(read_file(streams.err_path));
    return r;
  }

  TempFolder dir_;
};

RawDngOptions cfa(uint32_t width, uint32_t height) {
  RawDngOptions o;
  o.width = width;
  o.height = height;
  return o;
}

RawDngOptions linear_raw(uint32_t width, uint32_t height) {
  RawDngOptions o = cfa(width, height);
  o.cfa_rows.clear();
  o.linear_samples = 3;
  return o;
}

const char* const kPlainTimers =
    "Raw image read time: #.## sec\n"
    "Linearization time: #.## sec\n"
    "Interpolate time: #.## sec\n";

// The builder's mosaics fill their whole crop, which the checks warn about.
const char* const kPaddingWarnings =
    "*** Warning: Too little padding on left edge of CFA image (possible interpolation artifacts) ***\n"
    "*** Warning: Too little padding on top edge of CFA image (possible interpolation artifacts) ***\n"
    "*** Warning: Too little padding on right edge of CFA image (possible interpolation artifacts) ***\n"
    "*** Warning: Too little padding on bottom edge of CFA image (possible interpolation artifacts) ***\n";

std::string transcript(const std::string& path, const std::string& output_lines = "",
                       const std::string& warnings = kPaddingWarnings) {
  return "Validating \"" + path + "\"...\n" + warnings + kPlainTimers + output_lines + "Validation complete\n";
}

// Each option alone writes its one file, and nothing else lands in the
// folder; stage dumps print no timer line, the rendered TIFF and the DNG
// their two each. Photometric follows the planes: 1 for a mosaic (1 plane),
// 2 for three planes and more (the fourth an extra sample).
TEST_F(DngOutputsTest, EachOptionWritesExactlyItsFile) {
  const std::string mosaic = input("mosaic.dng", build_raw_dng(cfa(64, 48)).bytes);
  const std::string linear = input("linear.dng", build_raw_dng(linear_raw(40, 30)).bytes);
  RawDngOptions mono_options = linear_raw(40, 30);
  mono_options.linear_samples = 1;
  mono_options.extra = [](DngBuilder& b) {
    // A monochrome LinearRaw image carries no colour tags.
    for (uint16_t tag : {50721, 50778, 50728}) b.remove(DngBuilder::kIfd0, tag);
  };
  const std::string mono = input("mono.dng", build_raw_dng(mono_options).bytes);
  RawDngOptions turned_options = cfa(64, 48);
  turned_options.extra = [](DngBuilder& b) {
    b.remove(DngBuilder::kIfd0, 274);
    b.add_short(DngBuilder::kIfd0, 274, {6});  // turned 90 degrees clockwise
  };
  const std::string turned = input("turned.dng", build_raw_dng(turned_options).bytes);
  struct Case {
    const char* name;
    std::vector<std::string> options;
    const std::string* file;
    const char* output;
    std::string timers;
    uint32_t width, height;
    uint16_t samples, photometric, bits;
  } cases[] = {
      {"stage 1 mosaic", {"--stage1"}, &mosaic, "s1.tif", "", 64, 48, 1, 1, 16},
      {"stage 2 mosaic", {"--stage2"}, &mosaic, "s2.tif", "", 64, 48, 1, 1, 16},
      {"stage 3 mosaic", {"--stage3"}, &mosaic, "s3.tif", "", 64, 48, 3, 2, 16},
      {"stage 2 linear raw", {"--stage2"}, &linear, "s2.tif", "", 40, 30, 3, 2, 16},
      {"stage 3 four colours", {"--four-color", "--stage3"}, &mosaic, "s3.tif", "", 64, 48, 4, 2, 16},
      {"rendered", {"--tiff"}, &mosaic, "r.tif", "Render time: #.## sec\nWrite TIFF time: #.## sec\n", 64, 48, 3,
       2, 8},
      {"DNG", {"--dng"}, &mosaic, "x.dng", "Build thumbnail time: #.## sec\nWrite DNG time: #.## sec\n", 64, 48,
       3, 2, 8},
      // The rendering is turned upright; the stages keep the stored layout.
      {"rendered upright", {"--tiff"}, &turned, "r.tif", "Render time: #.## sec\nWrite TIFF time: #.## sec\n", 48,
       64, 3, 2, 8},
      {"stage 3 as stored", {"--stage3"}, &turned, "s3.tif", "", 64, 48, 3, 2, 16},
      // One colour: stages and thumbnail in gray, the rendering in sRGB.
      {"stage 2 monochrome", {"--stage2"}, &mono, "s2.tif", "", 40, 30, 1, 1, 16},
      {"rendered monochrome", {"--tiff"}, &mono, "r.tif", "Render time: #.## sec\nWrite TIFF time: #.## sec\n", 40,
       30, 3, 2, 8},
      {"DNG monochrome", {"--dng"}, &mono, "x.dng", "Build thumbnail time: #.## sec\nWrite DNG time: #.## sec\n",
       40, 30, 1, 1, 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.options;
    args.push_back(out(c.output));
    args.push_back(*c.file);
    const ProgramRun r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.result(), 0);
    const bool mosaic_file = c.file == &mosaic || c.file == &turned;
    EXPECT_EQ(r.err, transcript(*c.file, c.timers, mosaic_file ? kPaddingWarnings : ""));
    EXPECT_EQ(outputs(), std::vector<std::string>{c.output});
    const TiffFacts f = read_tiff(out(c.output));
    ASSERT_TRUE(f.opened);
    if (std::string(c.output) == "x.dng") {
      // IFD 0 holds the thumbnail, which is no larger than the image.
      EXPECT_EQ(f.subfile_type, 1u);
      EXPECT_EQ(f.subifd_count, 1u);
      EXPECT_LE(f.width, c.width);
      EXPECT_LE(f.height, c.height);
    } else {
      EXPECT_EQ(f.width, c.width);
      EXPECT_EQ(f.height, c.height);
      EXPECT_EQ(f.compression, 1);
    }
    EXPECT_EQ(f.samples, c.samples);
    EXPECT_EQ(f.photometric, c.photometric);
    EXPECT_EQ(f.bits, c.bits);
    EXPECT_TRUE(tiff_pixels_read(out(c.output)));
    unlink(out(c.output).c_str());
  }
}

// Every path is used once per process: the first file writes all five, and
// a second file, of another size, writes none again (nor prints the output
// steps' timer lines). The written DNG validates in its turn.
TEST_F(DngOutputsTest, ASecondFileInTheSameProcessWritesNothingAgain) {
  const std::string first = input("first.dng", build_raw_dng(cfa(64, 48)).bytes);
  const std::string second = input("second.dng", build_raw_dng(cfa(32, 24)).bytes);
  const ProgramRun r = run({"--stage1", out("s1.tif"), "--stage2", out("s2.tif"), "--stage3", out("s3.tif"), "--tiff",
                     out("r.tif"), "--dng", out("x.dng"), first, second});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.out, "0 " + first + "\n0 " + second + "\n");
  EXPECT_EQ(r.err, transcript(first,
                              "Render time: #.## sec\nWrite TIFF time: #.## sec\n"
                              "Build thumbnail time: #.## sec\nWrite DNG time: #.## sec\n") +
                       transcript(second));
  EXPECT_EQ(outputs(), (std::vector<std::string>{"r.tif", "s1.tif", "s2.tif", "s3.tif", "x.dng"}));
  for (const char* name : {"r.tif", "s1.tif", "s2.tif", "s3.tif"}) {
    EXPECT_EQ(read_tiff(out(name)).width, 64u) << name << " was written again for the second file";
  }

  const ProgramRun again = run({out("x.dng")});
  EXPECT_EQ(again.out, "0 " + out("x.dng") + "\n") << again.err;
  EXPECT_EQ(again.err, transcript(out("x.dng")));
}

// --size lets the demosaic reduce stage 3, and the rendering then keeps to
// the reduced stage 3's longer side; without it the rendering has the full
// size. The DNG's thumbnail is at most 256 pixels on its longer side either
// way.
TEST_F(DngOutputsTest, SizeTakesTheReducedInterpolationAndTheThumbnailStaysSmall) {
  const std::string dng = input("big.dng", build_raw_dng(cfa(600, 400)).bytes);
  struct Case {
    const char* name;
    std::vector<std::string> size;
    uint32_t stage3_width, stage3_height;
  } cases[] = {
      {"full size", {}, 600, 400},
      {"size 256", {"--size", "256"}, 300, 200},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> args = c.size;
    for (const char* a : {"--stage3", "s3.tif", "--tiff", "r.tif", "--dng", "x.dng"}) {
      args.push_back(a[0] == '-' ? std::string(a) : out(a));
    }
    args.push_back(dng);
    const ProgramRun r = run(args);
    ASSERT_EQ(r.result(), 0) << r.err;
    const TiffFacts stage3 = read_tiff(out("s3.tif"));
    EXPECT_EQ(stage3.width, c.stage3_width);
    EXPECT_EQ(stage3.height, c.stage3_height);
    const TiffFacts rendered = read_tiff(out("r.tif"));
    EXPECT_EQ(std::max(rendered.width, rendered.height), std::max(c.stage3_width, c.stage3_height));
    EXPECT_EQ(rendered.width * 2, rendered.height * 3) << "the aspect is kept";
    const TiffFacts thumbnail = read_tiff(out("x.dng"));
    EXPECT_EQ(std::max(thumbnail.width, thumbnail.height), 256u);
    EXPECT_EQ(thumbnail.subfile_type, 1u);
    for (const char* name : {"s3.tif", "r.tif", "x.dng"}) unlink(out(name).c_str());
  }
}

// A failed write reports its code and leaves no file of the step: neither
// the path nor a temporary file beside it. A file already at the path keeps
// its bytes. The code comes from the write, the sync, the close or the
// rename (100010), or from the folder that cannot hold a new file (100002).
TEST_F(DngOutputsTest, AFailedWriteLeavesNoFileAndTheOldOneWhole) {
  const std::string dng = input("cap.dng", build_raw_dng(cfa(256, 192)).bytes);
  const std::string previous = "the file that was there before\n";
  struct Case {
    const char* name;
    const char* option;
    const char* output;
    rlim_t limit;
    int32_t code;
    bool existing;  // a file of the name is there before the run
  } cases[] = {
      {"stage 1 beyond the size limit", "--stage1", "s1.tif", 16384, dng_code_write_file, true},
      {"stage 2 beyond the size limit", "--stage2", "s2.tif", 16384, dng_code_write_file, false},
      {"stage 3 beyond the size limit", "--stage3", "s3.tif", 16384, dng_code_write_file, true},
      {"rendering beyond the size limit", "--tiff", "r.tif", 16384, dng_code_write_file, true},
      {"DNG beyond the size limit", "--dng", "x.dng", 16384, dng_code_write_file, true},
      {"path is a folder", "--stage1", "folder", 0, dng_code_write_file, false},
      {"folder missing", "--tiff", "missing/r.tif", 0, dng_code_silent, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = out(c.output);
    if (c.existing) {
      dir_.write_file(std::string("out/") + c.output, previous);
    }
    if (std::string(c.output) == "folder") {
      ASSERT_EQ(mkdir(path.c_str(), 0755), 0);
    }
    const std::vector<std::string> before = outputs();
    const ProgramRun r = run({c.option, path, dng}, c.limit);
    EXPECT_EQ(r.result(), c.code) << r.err;
    EXPECT_EQ(r.status, c.code & 0xFF);
    EXPECT_EQ(r.err.find("Validation complete"), std::string::npos);
    EXPECT_EQ(outputs(), before);
    if (c.existing) {
      EXPECT_EQ(read_file(path), previous);
    }
    if (std::string(c.option) == "--tiff" && c.limit > 0) {
      EXPECT_NE(r.err.find("Write TIFF time: #.## sec\n"), std::string::npos) << "the timer prints on failure";
    }
    if (std::string(c.option) == "--dng") {
      EXPECT_NE(r.err.find("Write DNG time: #.## sec\n"), std::string::npos) << "the timer prints on failure";
    }
    unlink(path.c_str());
    rmdir(path.c_str());
  }
}

// Without options the program writes nothing and judges files as the worker
// does, with the same transcript. (The worker takes files named .dng for
// camera raw files: the names here end in .tif, which it checks by content.)
TEST_F(DngOutputsTest, WithoutOptionsNothingIsWrittenAndTheWorkerAnswersAlike) {
  DngBuilder broken;
  broken.add_dng_tags();
  broken.add_cfa_image(DngBuilder::kIfd0);
  broken.set_field(DngBuilder::kIfd0, 256, 0);  // ImageWidth 0
  struct Case {
    const char* name;
    std::string bytes;
    bool valid;
    char worker_code;  // the worker's verdict
  } cases[] = {
      {"builder.tif", build_raw_dng(cfa(64, 48)).bytes, true, 'G'},
      {"linear.tif", build_raw_dng(linear_raw(40, 30)).bytes, true, 'G'},
      {"kissx4.tif", fixture("canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng"), true, 'G'},
      {"zero-width.tif", broken.build(), false, 'B'},
      // Too new a backward version: the worker says why.
      {"truncated.tif", fixture("apple_iphone12pro_dng14_TRUNCATED.dng"), false, 'E'},
  };
  WorkerProcess worker(dir_.sub("props"), dir_.sub("log/corvex.txt"));
  ASSERT_TRUE(worker.started());
  size_t corvex_seen = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = input(c.name, c.bytes);
    const ProgramRun r = run({path});
    ASSERT_TRUE(r.result().has_value()) << r.err;
    EXPECT_EQ(*r.result() == 0, c.valid) << r.err;
    EXPECT_EQ(r.status == 0, c.valid);
    EXPECT_TRUE(outputs().empty());
    EXPECT_EQ(folder_entries(dir_.sub("in")).size(), static_cast<size_t>(&c - cases + 1));

    ASSERT_TRUE(worker.send_internal(path));
    auto answer = worker.read_answer(std::chrono::milliseconds(60000));
    ASSERT_TRUE(answer && answer->size() == 1);
    EXPECT_EQ((*answer)[0].code, c.worker_code) << (*answer)[0].message;
    // The worker's transcript of this file: from its "Validating" line to
    // the next one.
    const std::string all = mask_timer_values(worker.stderr_text());
    const size_t start = all.find("Validating \"" + path + "\"", corvex_seen);
    ASSERT_NE(start, std::string::npos) << all;
    const size_t end = all.find("Validating \"", start + 1);
    std::string corvex = all.substr(start, end == std::string::npos ? std::string::npos : end - start);
    corvex_seen = start + 1;
    EXPECT_EQ(r.err, corvex.substr(0, r.err.size()));
  }
  worker.close_input();
  EXPECT_EQ(worker.wait_exit(std::chrono::milliseconds(60000)), 0);
}

// The replacing file on its own: what lies at the path before and after a
// commit, an abandoned file and a failed commit.
TEST(DngReplacingFileTest, ThePathHoldsTheOldFileOrTheWholeNewOne) {
  TempFolder dir;
  const std::string path = dir.write_file("target.bin", "old");
  const std::string payload(100000, 'n');

  {
    dng_replacing_file file(path.c_str());
    const std::string temp = file.TemporaryPath();
    EXPECT_EQ(temp.substr(0, dir.path().size() + 2), dir.path() + "/.") << "a hidden name in the same folder";
    file.Stream().PutBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    file.Stream().FlushBuffer();
    EXPECT_EQ(read_file(path), "old") << "the path is untouched while the file is written";
    EXPECT_EQ(folder_entries(dir.path()).size(), 2u);
  }
  EXPECT_EQ(read_file(path), "old") << "an abandoned file changes nothing";
  EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"target.bin"});

  {
    dng_replacing_file file(path.c_str());
    file.Stream().PutBytes(payload.data(), static_cast<uint32_t>(payload.size()));
    file.Commit();
  }
  EXPECT_EQ(read_file(path), payload);
  EXPECT_EQ(folder_entries(dir.path()), std::vector<std::string>{"target.bin"});

  // Two files for one path at once take different temporary names.
  {
    dng_replacing_file a(path.c_str());
    dng_replacing_file b(path.c_str());
    EXPECT_NE(a.TemporaryPath(), b.TemporaryPath());
  }

  // A folder at the path: the rename fails, the temporary file goes.
  const std::string folder = dir.sub("sub");
  ASSERT_EQ(mkdir(folder.c_str(), 0755), 0);
  int32_t code = 0;
  try {
    dng_replacing_file file(folder.c_str());
    file.Stream().PutBytes("x", 1);
    file.Commit();
  } catch (const dng_exception& e) {
    code = e.Code();
  }
  EXPECT_EQ(code, dng_code_write_file);
  EXPECT_EQ(folder_entries(dir.path()), (std::vector<std::string>{"sub", "target.bin"}));
  EXPECT_TRUE(folder_entries(folder).empty());
}

}  // namespace
