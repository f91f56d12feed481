// The validation routine's standard-error transcripts and result codes on
// builder DNGs and their damaged variants, its output steps through a
// recording hook, and the stage stopwatch. Timer values are masked.
#include <dirent.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_limits.h"
#include "dng/parse/dng_stopwatch.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"
#include "dng/support/stdout_capture.h"
#include "support/dng_builder.h"
#include "support/dng_metadata_blocks.h"
#include "support/raw_dng_builder.h"
#include "support/temp_folder.h"
#include "support/timer_mask.h"
#include "xmp_glue_test_util.h"

namespace {

using testing_support::DngBuilder;
using testing_support::TempFolder;
constexpr int kIfd0 = DngBuilder::kIfd0;

std::string masked(const std::string& transcript) { return testing_support::mask_timer_values(transcript); }

const std::string kTimers =
    "Raw image read time: #.## sec\n"
    "Linearization time: #.## sec\n"
    "Interpolate time: #.## sec\n";

struct Outcome {
  int32_t code = -1;
  std::string err;  // masked
  std::string out;
  dng_version_refusal refusal;
};

// One validation with the toolkit started around it, as the worker does.
Outcome validate(const std::string& path) {
  Outcome run;
  dng_test::StdoutCapture out;
  dng_test::StderrCapture err;
  xmp_toolkit_initialize();
  run.code = validate_dng_file(path.c_str(), &run.refusal);
  xmp_toolkit_terminate();
  run.err = masked(err.Take());
  run.out = out.Take();
  return run;
}

std::string validating(const std::string& path) { return "Validating \"" + path + "\"...\n"; }

DngBuilder cfa_dng(uint32_t version = 0x01010000, uint32_t backward = 0x01010000) {
  DngBuilder b;
  b.add_dng_tags(version, backward);
  b.add_cfa_image(kIfd0);
  return b;
}

std::vector<std::string> folder_entries(const std::string& path) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(path.c_str())) {
    while (dirent* e = readdir(dir)) {
      std::string name = e->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
    closedir(dir);
  }
  return names;
}

class ValidateTest : public ::testing::Test {
 protected:
  std::string write(const std::string& name, const std::string& bytes) { return dir_.write_file(name, bytes); }
  TempFolder dir_;
};

TEST_F(ValidateTest, ASoundFileGivesTheFullTranscriptAndNothingElse) {
  struct Case {
    const char* name;
    DngBuilder builder;
  } cases[] = {
      {"cfa-strip.dng", cfa_dng()},
      {"cfa-tile.dng", [] { DngBuilder b; b.add_dng_tags(); b.add_cfa_image(kIfd0, true); return b; }()},
      {"linear-raw.dng", [] { DngBuilder b; b.add_dng_tags(); b.add_linear_raw_image(kIfd0); return b; }()},
      {"big-endian.dng", [] { DngBuilder b(true); b.add_dng_tags(); b.add_cfa_image(kIfd0); return b; }()},
      {"version-1.0.dng", cfa_dng(0x01000000, 0x01000000)},
      {"metadata.dng", [] { DngBuilder b = cfa_dng(); testing_support::add_sample_metadata(b); return b; }()},
      {"metadata-iptc-latin.dng",
       [] { DngBuilder b = cfa_dng(); testing_support::add_sample_metadata(b, false); return b; }()},
  };
  for (auto& c : cases) {
    std::string path = write(c.name, c.builder.build());
    Outcome run = validate(path);
    EXPECT_EQ(run.code, 0) << c.name << "\n" << run.err;
    EXPECT_EQ(run.err, validating(path) + kTimers + "Validation complete\n") << c.name;
    EXPECT_EQ(run.out, "") << c.name;
    EXPECT_FALSE(run.refusal.refused) << c.name;
  }
}

TEST_F(ValidateTest, LosslessAndUncompressedRawDngsWithMetadataValidate) {
  using testing_support::RawDngOptions;
  for (bool lossless : {false, true}) {
    for (bool cfa : {true, false}) {
      RawDngOptions o = testing_support::camera_raw_options(64, 48, cfa, lossless, 32, 16);
      const std::string name = std::string(lossless ? "lossless" : "uncompressed") + (cfa ? "-cfa" : "-linear");
      std::string path = write(name + ".dng", testing_support::build_raw_dng(o).bytes);
      Outcome run = validate(path);
      EXPECT_EQ(run.code, 0) << name << "\n" << run.err;
      EXPECT_EQ(run.err, validating(path) + kTimers + "Validation complete\n") << name;
    }
  }
}

TEST_F(ValidateTest, AMissingFileIsReportedWithItsPathAndNoTimers) {
  std::string path = dir_.sub("missing.dng");
  Outcome run = validate(path);
  EXPECT_EQ(run.code, dng_code_silent);
  EXPECT_EQ(run.err, validating(path) + "*** Error: Unable to open file (" + path + ") ***\n");
  EXPECT_EQ(run.out, "");
}

TEST_F(ValidateTest, ATiffWithoutDngVersionFailsTheChecksBeforeAnyImageStage) {
  DngBuilder b;
  b.add_cfa_image(kIfd0);
  std::string path = write("plain.tif", b.build());
  Outcome run = validate(path);
  EXPECT_EQ(run.code, dng_code_bad_format);
  EXPECT_EQ(run.err.rfind(validating(path), 0), 0u) << run.err;
  EXPECT_NE(run.err.find("*** Error: Missing or invalid DNGVersion ***\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(" sec\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Validation complete"), std::string::npos);
  EXPECT_FALSE(run.refusal.refused);
  EXPECT_EQ(run.out, "");
}

TEST_F(ValidateTest, TruncatedImageDataFailsWhileTheRawReadTimerRuns) {
  DngBuilder b = cfa_dng();
  std::string bytes = b.build();
  const uint32_t image = b.mark("image");
  // Cut inside the strip: the structure is whole, the samples are not.
  std::string path = write("cut.dng", bytes.substr(0, image + (bytes.size() - image) / 2));
  Outcome run = validate(path);
  EXPECT_EQ(run.code, dng_code_end_of_file);
  const std::string tail =
      "*** Error: Strip 0 runs past the end of the file (IFD 0) ***\n"
      "*** Error: Unexpected end-of-file ***\nRaw image read time: #.## sec\n";
  ASSERT_GE(run.err.size(), tail.size()) << run.err;
  EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail) << run.err;
  EXPECT_EQ(run.err.find("Linearization time"), std::string::npos);
  EXPECT_EQ(run.out, "");
}

// Strips or tiles that all point at one block: each lies within the file,
// but the image they declare needs more data than the file holds. The file
// is refused while the raw read timer runs, before its image is made.
TEST_F(ValidateTest, ImageDataLargerThanTheFileIsRefusedBeforeTheImageIsMade) {
  for (const testing_support::RawDngOptions& o : testing_support::shared_block_layouts(3000, 2000)) {
    SCOPED_TRACE(o.name);
    const std::string bytes = testing_support::build_raw_dng(o).bytes;
    std::string path = write("shared.dng", bytes);
    Outcome run = validate(path);
    EXPECT_EQ(run.code, dng_code_bad_format);
    const std::string needs = o.compression == 1 ? "Image data needs " : "Image data needs at least ";
    const std::string tail = ", more than the file holds (" + std::to_string(bytes.size()) +
                             ") (IFD 0) ***\n*** Error: File format is invalid ***\nRaw image read time: #.## sec\n";
    ASSERT_GE(run.err.size(), tail.size()) << run.err;
    EXPECT_EQ(run.err.substr(run.err.size() - tail.size()), tail) << run.err;
    EXPECT_NE(run.err.find("*** Error: " + needs), std::string::npos) << run.err;
    EXPECT_EQ(run.err.find("Linearization time"), std::string::npos);
  }
}

TEST_F(ValidateTest, ADamagedXmpPacketIsReportedBeforeTheFirstTimerAndTheFileStillValidates) {
  DngBuilder b = cfa_dng();
  b.add_xmp(kIfd0, "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
                   "<rdf:Description rdf:about=''><unclosed></rdf:RDF></x:xmpmeta>");
  std::string path = write("bad-xmp.dng", b.build());
  Outcome run = validate(path);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.err, validating(path) + "*** Error: Unknown error ***\n*** Error: File format is invalid ***\n" +
                         kTimers + "Validation complete\n");
  EXPECT_EQ(run.out, "");
}

// A backward version above 1.1.0.0 fails the checks like any other rule,
// and the caller learns which version it was; other failures say nothing.
TEST_F(ValidateTest, ABackwardVersionNewerThanValidatedIsReportedToTheCaller) {
  struct Case {
    const char* name;
    uint32_t version, backward;
    int32_t code;
    bool refused;
    uint32_t reported;
  } cases[] = {
      {"1.1", 0x01010000, 0x01010000, 0, false, 0},
      {"1.4 back 1.1", 0x01040000, 0x01010000, 0, false, 0},
      {"1.4 back 1.3", 0x01040000, 0x01030000, dng_code_bad_format, true, 0x01030000},
      {"1.4 back 1.4", 0x01040000, 0x01040000, dng_code_bad_format, true, 0x01040000},
      // No backward version: DNGVersion with its last two bytes cleared.
      {"1.2.3.4 without back", 0x01020304, 0, dng_code_bad_format, true, 0x01020000},
      // Above DNGVersion: repaired down to it.
      {"1.3 back 1.6", 0x01030000, 0x01060000, dng_code_bad_format, true, 0x01030000},
      // Repaired down to 1.1: validated.
      {"1.1 back 1.5", 0x01010000, 0x01050000, 0, false, 0},
  };
  for (const auto& c : cases) {
    std::string path = write(std::string(c.name) + ".dng", cfa_dng(c.version, c.backward).build());
    Outcome run = validate(path);
    EXPECT_EQ(run.code, c.code) << c.name << "\n" << run.err;
    EXPECT_EQ(run.refusal.refused, c.refused) << c.name;
    EXPECT_EQ(run.refusal.backward_version, c.reported) << c.name;
    if (c.refused) {
      EXPECT_NE(run.err.find("*** Error: DNGBackwardVersion (or DNGVersion) is too high ***\n"), std::string::npos);
      EXPECT_EQ(run.err.find(" sec\n"), std::string::npos) << c.name << ": refused before any image data is read";
    }
  }
}

TEST_F(ValidateTest, WithTheStartValuesNoFileIsWritten) {
  std::string path = write("quiet.dng", cfa_dng().build());
  char* cwd = getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  TempFolder work;
  ASSERT_EQ(chdir(work.path().c_str()), 0);
  Outcome run = validate(path);
  EXPECT_EQ(chdir(cwd), 0);
  free(cwd);
  EXPECT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(folder_entries(dir_.path()), std::vector<std::string>{"quiet.dng"});
  EXPECT_TRUE(folder_entries(work.path()).empty());
}

// The output steps, seen through a hook that records them.
struct StepLog {
  std::vector<dng_validate_output> steps;
  bool keep_stage1 = false;
  std::function<void(dng_validate_output)> action;
};
StepLog* step_log = nullptr;

void recording_step(dng_validate_output step, dng_host& host, dng_negative&) {
  step_log->steps.push_back(step);
  step_log->keep_stage1 = host.KeepStage1();
  if (step_log->action) step_log->action(step);
  dng_text* options[] = {&validate_stage1_path, &validate_stage2_path, &validate_stage3_path, &validate_tiff_path,
                         &validate_dng_path};
  options[static_cast<int>(step)]->Assign(nullptr);
}

class OutputStepTest : public ValidateTest {
 protected:
  void SetUp() override {
    step_log = &log_;
    previous_ = validate_output_step;
    validate_output_step = recording_step;
  }
  void TearDown() override {
    validate_output_step = previous_;
    for (dng_text* t : {&validate_stage1_path, &validate_stage2_path, &validate_stage3_path, &validate_tiff_path,
                        &validate_dng_path}) {
      t->Assign(nullptr);
    }
    step_log = nullptr;
  }
  StepLog log_;
  dng_validate_output_fn previous_ = nullptr;
};

TEST_F(OutputStepTest, EachSetOptionRunsItsStepOnceInPipelineOrder) {
  std::string path = write("out.dng", cfa_dng().build());
  validate_dng_path.Assign("x.dng");
  validate_stage3_path.Assign("s3.tif");
  validate_stage1_path.Assign("s1.tif");
  validate_tiff_path.Assign("r.tif");
  validate_stage2_path.Assign("s2.tif");
  Outcome run = validate(path);
  EXPECT_EQ(run.code, 0) << run.err;
  using S = dng_validate_output;
  EXPECT_EQ(log_.steps, (std::vector<S>{S::stage1, S::stage2, S::stage3, S::rendered_tiff, S::dng_file}));
  EXPECT_TRUE(log_.keep_stage1) << "the DNG output needs the raw image after linearisation";
  // The steps emptied their options: a second file writes nothing.
  log_.steps.clear();
  EXPECT_EQ(validate(path).code, 0);
  EXPECT_TRUE(log_.steps.empty());
}

TEST_F(OutputStepTest, AFailingStepGivesItsCodeAndAnyOtherExceptionGives100000) {
  std::string path = write("fail.dng", cfa_dng().build());
  struct Case {
    const char* name;
    std::function<void(dng_validate_output)> action;
    int32_t code;
    const char* last_timer;
  } cases[] = {
      {"write error", [](dng_validate_output) { throw_dng_code(dng_code_write_file); }, dng_code_write_file,
       "Linearization time"},
      {"foreign", [](dng_validate_output) { throw std::runtime_error("x"); }, dng_code_unknown, "Linearization time"},
  };
  for (const auto& c : cases) {
    log_.action = c.action;
    validate_stage2_path.Assign("s2.tif");
    Outcome run = validate(path);
    EXPECT_EQ(run.code, c.code) << c.name;
    EXPECT_NE(run.err.find(c.last_timer), std::string::npos) << c.name;
    EXPECT_EQ(run.err.find("Interpolate time"), std::string::npos) << c.name;
    EXPECT_EQ(run.err.find("Validation complete"), std::string::npos) << c.name;
    EXPECT_FALSE(validate_stage2_path.Empty()) << c.name << ": a failed step keeps its path";
    validate_stage2_path.Assign(nullptr);
  }
}

TEST_F(ValidateTest, ASetOptionWithoutOutputStepsIsNotImplemented) {
  ASSERT_EQ(validate_output_step, nullptr);
  std::string path = write("no-render.dng", cfa_dng().build());
  validate_stage3_path.Assign("s3.tif");
  Outcome run = validate(path);
  validate_stage3_path.Assign(nullptr);
  EXPECT_EQ(run.code, dng_code_not_implemented);
  EXPECT_NE(run.err.find("Interpolate time: #.## sec\n*** Error: Not yet implemented ***\n"), std::string::npos)
      << run.err;
}

// Running out of memory at any allocation of a validation, in the DNG code,
// the XMP toolkit or Expat, gives 100005 and never a verdict on the file;
// only a failed scratch allocation that merely costs a faster way (a sort's
// buffer) leaves the usual transcript. Either way the next validation finds
// nothing left behind: the toolkit, its lock and the allocation hooks are as
// before. The toolkit is started outside the failures, as the worker starts
// it before the validation.
TEST_F(ValidateTest, RunningOutOfMemoryAnywhereGives100005AndLeavesNothingBehind) {
  DngBuilder b = cfa_dng();
  b.add_iptc(kIfd0, testing_support::sample_iptc_block(true));
  b.add_xmp(kIfd0, testing_support::sample_xmp_packet());
  const std::string path = write("metadata.dng", b.build());
  const std::string clean = validating(path) + kTimers + "Validation complete\n";
  ASSERT_EQ(validate(path).err, clean);

  // Each case fails the n-th allocation (n from 1) of one kind and says
  // how many there were. Every `step`-th allocation is failed: a
  // validation makes some 700 through operator new, and each failure costs
  // two validations.
  struct Kind {
    const char* name;
    uint64_t step;
    std::function<int32_t(uint64_t n, uint64_t* count)> run;
  } kinds[] = {
      {"operator new", 4,
       [&](uint64_t n, uint64_t* count) {
         auto failure = dng_test::AllocationFailure::Nth(n);
         const int32_t code = validate_dng_file(path.c_str());
         *count = failure.Count();
         return code;
       }},
      {"memory blocks", 1,
       [&](uint64_t n, uint64_t* count) {
         dng_test::RawMallocFailure failure(n);
         const int32_t code = validate_dng_file(path.c_str());
         *count = failure.Count();
         return code;
       }},
  };
  for (const Kind& kind : kinds) {
    uint64_t total = 0;
    {
      dng_test::StderrCapture err;
      xmp_toolkit_initialize();
      ASSERT_EQ(kind.run(0, &total), 0) << kind.name;
      xmp_toolkit_terminate();
    }
    int exhausted = 0;
    for (uint64_t n = 1; n <= total; n += kind.step) {
      // The failing validation and the next one in the same toolkit
      // session; the next session starts after the toolkit has stopped.
      int32_t code = 0;
      int32_t next_code = 0;
      std::string err_text;
      std::string next_err;
      {
        dng_test::StderrCapture err;
        xmp_toolkit_initialize();
        uint64_t count = 0;
        code = kind.run(n, &count);
        err_text = masked(err.Take());
        EXPECT_TRUE(dng_test::toolkit_lock_free()) << kind.name << " " << n;
        next_code = validate_dng_file(path.c_str());
        next_err = masked(err.Take());
        xmp_toolkit_terminate();
      }
      if (code == 0) {
        EXPECT_EQ(err_text, clean) << kind.name << " " << n;
      } else {
        ++exhausted;
        EXPECT_EQ(code, dng_code_memory) << kind.name << " " << n << "\n" << err_text;
        EXPECT_NE(err_text.find("*** Error: Unable to allocate memory ***\n"), std::string::npos)
            << kind.name << " " << n << "\n" << err_text;
      }
      ASSERT_EQ(next_code, 0) << kind.name << " " << n << "\n" << next_err;
      EXPECT_EQ(next_err, clean) << kind.name << " " << n;
    }
    EXPECT_GT(exhausted, 0) << kind.name;
  }
}

// The size of the allocation that failed, where the code knows it: an image
// over the image-memory cap is refused before anything is allocated.
TEST_F(ValidateTest, AnImageOverTheMemoryCapGives100005WithTheSizeItNeeded) {
  const std::string path = write("capped.dng", cfa_dng().build());
  const uint64_t previous = set_dng_image_memory_cap(100);
  Outcome run = validate(path);
  set_dng_image_memory_cap(previous);
  EXPECT_EQ(run.code, dng_code_memory);
  // The 16 x 16 16-bit raw image: 512 bytes.
  EXPECT_EQ(dng_failed_allocation_size(), 512u);
  EXPECT_NE(run.err.find("*** Error: Unable to allocate memory ***\n"), std::string::npos) << run.err;

  // A failure whose size is not known leaves none.
  try {
    throw_dng_code(dng_code_memory);
  } catch (const dng_exception&) {
  }
  EXPECT_EQ(dng_failed_allocation_size(), 0u);
}

TEST(StopwatchTest, PrintsItsLineWithTwoDecimalsAlsoWhileAnExceptionPasses) {
  dng_test::StderrCapture err;
  { dng_stopwatch quick("Quick step"); }
  try {
    dng_stopwatch failing("Failing step");
    throw_dng_code(dng_code_end_of_file);
  } catch (const dng_exception&) {
  }
  std::string text = err.Take();
  EXPECT_EQ(masked(text), "Quick step: #.## sec\n*** Error: Unexpected end-of-file ***\nFailing step: #.## sec\n");
  // Nothing measurable happens in the quick step.
  EXPECT_EQ(text.rfind("Quick step: 0.0", 0), 0u) << text;
}

}  // namespace
