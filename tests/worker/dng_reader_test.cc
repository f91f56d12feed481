// The worker's DNG reader through the real corvex: which files reach the
// DNG validation, the answers it gives, its standard-error transcript, the
// two error answers (toolkit start, backward version) and a long run of
// requests in one worker.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/dng_builder.h"
#include "support/dng_metadata_blocks.h"
#include "support/raw_dng_builder.h"
#include "support/temp_folder.h"
#include "support/timer_mask.h"
#include "support/worker_process.h"

namespace {

using namespace testing_support;
constexpr int kIfd0 = DngBuilder::kIfd0;

struct Verdict {
  char code;
  char type;
};

std::string sound_cfa_dng() {
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  return b.build();
}

std::string fixture(const std::string& name) { return read_file(std::string(CORVELLA_FIXTURES) + "/dng/" + name); }

std::string masked(const std::string& transcript) { return testing_support::mask_timer_values(transcript); }

class DngReaderTest : public ::testing::Test {
 protected:
  void start(std::vector<std::string> env = {}, std::string program = corvex_path()) {
    worker_ = std::make_unique<WorkerProcess>(dir_.sub("props"), dir_.sub("stderr.txt"), std::move(env),
                                              std::move(program));
  }
  wire::Record check(const std::string& path) {
    EXPECT_TRUE(worker_->send_internal(path));
    auto answer = worker_->read_answer(std::chrono::milliseconds(60000));
    EXPECT_TRUE(answer) << path;
    if (!answer || answer->size() != 1) return {};
    EXPECT_EQ((*answer)[0].path, path);
    return (*answer)[0];
  }
  void expect(const std::string& path, Verdict v, const std::string& message = "") {
    auto r = check(path);
    EXPECT_EQ(r.code, v.code) << path << ": " << r.message;
    EXPECT_EQ(r.type, static_cast<unsigned char>(v.type)) << path;
    EXPECT_EQ(r.message, message) << path;
  }
  // The worker ends on the end of its input, having written nothing but
  // whole records, and its sanitizers found nothing.
  void expect_clean_exit() {
    worker_->close_input();
    EXPECT_TRUE(worker_->output_ends());
    EXPECT_EQ(worker_->wait_exit(std::chrono::milliseconds(60000)), 0) << worker_->stderr_text();
  }

  TempFolder dir_;
  std::unique_ptr<WorkerProcess> worker_;
};

TEST_F(DngReaderTest, ASoundDngNamedTifIsValidatedWithItsTranscriptOnStandardError) {
  start();
  std::string path = dir_.write_file("sound.tif", sound_cfa_dng());
  expect(path, {'G', 'D'});
  expect_clean_exit();
  // The worker's own start-up lines may follow; the validation's lines
  // come as one block.
  const std::string transcript = "Validating \"" + path +
                                 "\"...\n"
                                 "Raw image read time: #.## sec\n"
                                 "Linearization time: #.## sec\n"
                                 "Interpolate time: #.## sec\n"
                                 "Validation complete\n";
  const std::string err = masked(worker_->stderr_text());
  EXPECT_EQ(err.substr(err.find("Validating"), transcript.size()), transcript) << err;
}

// Which road each file takes, and what its damage gives.
TEST_F(DngReaderTest, DamageAndNamesDecideTheRoadAndTheVerdict) {
  start();
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  const std::string sound = b.build();
  const uint32_t image = b.mark("image");

  struct Case {
    const char* name;
    std::string bytes;
    Verdict verdict;
  } cases[] = {
      {"sound.tiff", sound, {'G', 'D'}},
      {"sound.jpg", sound, {'G', 'D'}},
      {"sound-no-extension", sound, {'G', 'D'}},
      // The structure stays readable: the DNG checks find the damage.
      {"cut-samples.tif", sound.substr(0, image + 100), {'B', 'D'}},
      {"zero-width.tif",
       [] {
         DngBuilder d;
         d.add_dng_tags();
         d.add_cfa_image(kIfd0);
         d.set_field(kIfd0, 256, 0);  // ImageWidth 0
         return d.build();
       }(),
       {'B', 'D'}},
      {"no-colour-matrix.tif",
       [] {
         DngBuilder d;
         d.add_dng_tags();
         d.remove(kIfd0, 50721);  // ColorMatrix1
         d.add_cfa_image(kIfd0);
         return d.build();
       }(),
       {'B', 'D'}},
      // A lossless tile whose start of image is overwritten.
      {"corrupt-tile.tif",
       [] {
         RawDng raw = build_raw_dng(camera_raw_options(64, 64, true, true, 32, 32));
         for (uint32_t i = 0; i < 16; ++i) raw.bytes[raw.tile_offsets.at(1) + i] = '\0';
         return raw.bytes;
       }(),
       {'B', 'D'}},
      {"sound-lossless.tif", build_raw_dng(camera_raw_options(64, 64, true, true, 32, 32)).bytes, {'G', 'D'}},
      // IFD 0 itself is gone: not recognised as DNG, libtiff judges by name.
      {"no-directory.tif",
       [&] {
         std::string s = sound;
         s[4] = s[5] = s[6] = s[7] = '\x7f';
         return s;
       }(),
       {'B', 'T'}},
      {"header-only.tif", sound.substr(0, 20), {'B', 'T'}},
  };
  for (const auto& c : cases) expect(dir_.write_file(c.name, c.bytes), c.verdict);

  // A .dng name is no raw name: the file itself is validated, sound or
  // damaged, and a missing one cannot be identified.
  expect(dir_.write_file("sound.dng", sound), {'G', 'D'});
  expect(dir_.write_file("sound-lossless.DNG", build_raw_dng(camera_raw_options(64, 64, true, true, 32, 32)).bytes),
         {'G', 'D'});
  expect(dir_.write_file("cut-samples.dng", sound.substr(0, image + 100)), {'B', 'D'});
  expect(dir_.sub("absent.dng"), {'B', '?'}, "Could not open or identify");
  expect_clean_exit();
}

TEST_F(DngReaderTest, ARawListThatHoldsDngSendsDngNamesToTheConverterRoad) {
  // The raw list of the set "Default" as a job may store it: the name alone
  // decides, without the file being opened.
  dir_.write_file("props/QXMain/Default",
                  "Version\t1\nDate\tMon Jan  1 00:00:00 2001\nExtensionsRAW\t-NEF-DNG-\nExtensionsDNG\t-xxx-\n");
  start();
  expect(dir_.write_file("present.dng", sound_cfa_dng()), {'B', 'R'});
  expect(dir_.sub("absent.dng"), {'B', 'R'});
  expect(dir_.write_file("present.tif", sound_cfa_dng()), {'G', 'D'});
  expect_clean_exit();
  EXPECT_EQ(worker_->stderr_text().find("absent.dng"), std::string::npos);
}

// Small files whose strips or tiles all point at one block while they
// declare 30000 x 23860 images (up to 4.3 GB of samples a stage): each is
// answered 'B' with the line that says the file cannot hold the data, and
// nothing of that size is allocated (which a separate benchmark measures).
TEST_F(DngReaderTest, ImagesLargerThanTheirFileAreRefusedWithTheirLine) {
  start();
  for (const RawDngOptions& o : shared_block_layouts(30000, 23860)) {
    SCOPED_TRACE(o.name);
    const std::string bytes = build_raw_dng(o).bytes;
    ASSERT_LT(bytes.size(), 1000000u);
    const std::string path = dir_.write_file("shared.tif", bytes);
    const size_t seen = worker_->stderr_text().size();
    expect(path, {'B', 'D'});
    const std::string err = worker_->stderr_text().substr(seen);
    const std::string line = std::string("*** Error: Image data needs ") + (o.compression == 7 ? "at least " : "");
    EXPECT_NE(err.find(line), std::string::npos) << err;
    EXPECT_NE(err.find(", more than the file holds (" + std::to_string(bytes.size()) + ") (IFD 0) ***\n"),
              std::string::npos)
        << err;
  }
  expect_clean_exit();
}

TEST_F(DngReaderTest, RealFilesAndBackwardVersionsNewerThanValidated) {
  start();
  struct Case {
    const char* fixture;
    Verdict verdict;
    const char* message;
  } cases[] = {
      {"canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng", {'G', 'D'}, ""},
      {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", {'B', 'D'}, ""},
      {"canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng", {'B', 'D'}, ""},
      {"apple_iphone12pro_dng14_TRUNCATED.dng", {'E', 'D'},
       "DNG backward version 1.3.0.0 is newer than this program validates"},
      {"canon_eos_6d_lossy_linearraw_tiled.dng", {'E', 'D'},
       "DNG backward version 1.4.0.0 is newer than this program validates"},
  };
  for (const auto& c : cases) {
    std::string bytes = fixture(c.fixture);
    ASSERT_FALSE(bytes.empty()) << c.fixture;
    expect(dir_.write_file(std::string(c.fixture) + ".tif", bytes), c.verdict, c.message);
  }
  expect_clean_exit();
}

TEST_F(DngReaderTest, AToolkitThatWillNotStartFailsOneFileAndTheNextIsValidated) {
  struct Case {
    const char* how;
    int error_lines;  // "Unknown error" lines of the failed start
  } cases[] = {{"false", 2}, {"throw", 1}};
  for (const auto& c : cases) {
    start({std::string("CORVEX_START_FAULT=") + c.how}, CORVEX_START_FAULT_PATH);
    std::string first = dir_.write_file(std::string("first-") + c.how + ".tif", sound_cfa_dng());
    std::string second = dir_.write_file(std::string("second-") + c.how + ".tif", sound_cfa_dng());
    expect(first, {'E', 'D'}, "Could not start the XMP toolkit");
    expect(second, {'G', 'D'});
    expect_clean_exit();
    std::string err = worker_->stderr_text();
    EXPECT_EQ(err.find("Validating \"" + first), std::string::npos) << c.how << ": nothing validated";
    EXPECT_NE(err.find("Validating \"" + second), std::string::npos) << c.how;
    const std::string failed_start = err.substr(0, err.find("Validating"));
    const std::string line = c.how == std::string("false") ? "*** Error: Unknown error ***\n"
                                                           : "*** Error: Unable to allocate memory ***\n";
    std::string expected;
    for (int i = 0; i < c.error_lines; ++i) expected += line;
    EXPECT_EQ(failed_start, expected) << c.how;
    worker_.reset();
  }
}

// A file that could not be checked for lack of memory is an error, not a
// verdict: an image block that cannot be had and an XMP packet whose parse
// runs out of memory answer 'E' 'D' (with the size of the block where it is
// known), and the next file in the same worker is checked as ever.
TEST_F(DngReaderTest, RunningOutOfMemoryAnswersAnErrorAndTheNextFileIsChecked) {
  const std::string small = dir_.write_file("small.tif", sound_cfa_dng());
  const std::string image = dir_.write_file(
      "two-mib-image.tif", build_raw_dng(camera_raw_options(1024, 1024, true, false)).bytes);
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  b.add_xmp(kIfd0,
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
            "<rdf:Description rdf:about='' xmlns:ns1='http://example.com/one/' ns1:a='" +
                std::string(1536 * 1024, 'v') + "'/></rdf:RDF></x:xmpmeta>");
  const std::string packet = dir_.write_file("large-packet.tif", b.build());

  struct Case {
    const char* fault;
    std::string path;
    const char* message;
  } cases[] = {
      // The 1024 x 1024 16-bit raw image: a block of exactly 2 MiB.
      {"CORVEX_FAIL_BLOCKS_FROM=1048576", image, "Could not be checked for lack of memory (needed a block of 2 MiB)"},
      // The packet's 1.5 MiB value cannot be copied inside the toolkit.
      {"CORVEX_FAIL_NEW_FROM=1048576", packet, "Could not be checked for lack of memory"},
  };
  for (const Case& c : cases) {
    start({c.fault}, CORVEX_MEMORY_FAULT_PATH);
    expect(c.path, {'E', 'D'}, c.message);
    expect(small, {'G', 'D'});
    expect(c.path, {'E', 'D'}, c.message);
    expect_clean_exit();
    const std::string err = worker_->stderr_text();
    EXPECT_NE(err.find("*** Error: Unable to allocate memory ***\n"), std::string::npos) << c.fault << "\n" << err;
    worker_.reset();
  }
  // Without the faults both files are sound.
  start();
  expect(image, {'G', 'D'});
  expect(packet, {'G', 'D'});
  expect_clean_exit();
}

// A file whose directory makes thousands of warning lines writes 1,000
// lines for its request, then one line saying how many were left out; the
// next file's lines are all there.
TEST_F(DngReaderTest, AFloodOfWarningLinesIsCutToOneThousandAndCounted) {
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  // Tags no table knows, whose ASCII values hold a byte above 127: one
  // warning line each.
  constexpr int kFlawedTags = 3000;
  for (int i = 0; i < kFlawedTags; ++i) b.add_ascii(kIfd0, static_cast<uint16_t>(10000 + i), "caf\xE9");
  const std::string flood = dir_.write_file("flood.tif", b.build());
  const std::string sound = dir_.write_file("sound.tif", sound_cfa_dng());
  start();
  expect(flood, {'G', 'D'});
  expect(sound, {'G', 'D'});
  expect_clean_exit();

  const std::string err = masked(worker_->stderr_text());
  const size_t first = err.find("Validating \"" + flood);
  const size_t second = err.find("Validating \"" + sound);
  ASSERT_NE(first, std::string::npos) << err.substr(0, 2000);
  ASSERT_NE(second, std::string::npos);
  const std::string flood_lines = err.substr(first, second - first);
  // The Validating line and the first 999 warnings, in order, then the
  // closing line: the other 2,001 warnings, the three timers and
  // "Validation complete" were left out.
  std::string kept = "Validating \"" + flood + "\"...\n";
  for (int i = 0; i < 999; ++i) kept += "*** Warning: IFD 0 Tag" + std::to_string(10000 + i) + " has non-ASCII characters ***\n";
  ASSERT_TRUE(flood_lines.compare(0, kept.size(), kept) == 0) << flood_lines.substr(0, 300);
  const std::string closing = flood_lines.substr(kept.size());
  unsigned long left_out = 0;
  char end = 0;
  ASSERT_EQ(std::sscanf(closing.c_str(), "... %lu further lines left out%c", &left_out, &end), 2) << closing;
  EXPECT_EQ(end, '\n');
  EXPECT_EQ(left_out, 2005u);
  EXPECT_EQ(closing, "... " + std::to_string(left_out) + " further lines left out\n");
  EXPECT_EQ(err.substr(second, err.find("Validation complete\n", second) - second),
            "Validating \"" + sound +
                "\"...\n"
                "Raw image read time: #.## sec\n"
                "Linearization time: #.## sec\n"
                "Interpolate time: #.## sec\n");
}

// The resident set size of a process in KiB, from /proc.
std::optional<long> resident_kib(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
  }
  return std::nullopt;
}

TEST_F(DngReaderTest, OneWorkerAnswersAThousandDngRequestsInFlatMemory) {
  // A small quarantine, so that freed blocks are reused and the resident
  // size shows what is still held.
  start({"ASAN_OPTIONS=quarantine_size_mb=1:detect_leaks=1"});
  DngBuilder b;
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  b.add_xmp(kIfd0,
            "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
            "<rdf:Description rdf:about='' xmlns:ns1='http://example.com/one/' ns1:a='1'/></rdf:RDF></x:xmpmeta>");
  std::string path = dir_.write_file("loop.tif", b.build());
  std::optional<long> after_warm_up;
  for (int i = 0; i < 1000; ++i) {
    auto r = check(path);
    ASSERT_EQ(r.code, 'G') << "request " << i;
    if (i == 99) after_warm_up = resident_kib(worker_->pid());
  }
  std::optional<long> at_end = resident_kib(worker_->pid());
  ASSERT_TRUE(after_warm_up && at_end);
  // 900 more files may not keep more than 4 MiB.
  EXPECT_LT(*at_end - *after_warm_up, 4096) << *after_warm_up << " KiB -> " << *at_end << " KiB";
  expect_clean_exit();
}

}  // namespace
