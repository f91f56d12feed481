// Damaged DNG files through the real worker: every generated layout and
// every real DNG, each with each kind of damage, answered one by one with a
// time limit per file. What each kind gives is printed as a table. With
// DNG_DAMAGE_DIR set, the damaged copies and the worker's verdicts
// (verdicts.tsv: kind, input, file, code) are kept there for comparison
// with other readers (bench/dng_damage_compare).
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "dng/core/dng_simple_image.h"
#include "dng/support/stderr_capture.h"
#include "support/dng_metadata_blocks.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"

namespace {

using namespace testing_support;
using Ms = std::chrono::milliseconds;
constexpr Ms kPerFile{30000};

struct Input {
  std::string name;
  std::string bytes;
  char sound_code;  // what the undamaged file answers
};

std::vector<Input> generated_inputs() {
  std::vector<Input> inputs;
  for (bool lossless : {false, true}) {
    for (bool cfa : {true, false}) {
      RawDngOptions o = camera_raw_options(160, 120, cfa, lossless, 64, 64);
      inputs.push_back({std::string(lossless ? "lossless" : "uncompressed") + (cfa ? "-cfa" : "-linear"),
                        build_raw_dng(o).bytes, 'G'});
    }
  }
  return inputs;
}

std::vector<Input> real_inputs() {
  const std::pair<const char*, char> files[] = {
      {"canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng", 'G'},
      {"canon_eos_6d_lossy_linearraw_tiled.dng", 'E'},
      {"apple_iphone12pro_dng14_TRUNCATED.dng", 'E'},
      {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", 'B'},
      {"canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng", 'B'},
  };
  std::vector<Input> inputs;
  for (const auto& [name, code] : files) {
    inputs.push_back({name, read_file(std::string(CORVELLA_FIXTURES) + "/dng/" + name), code});
  }
  return inputs;
}

struct Damage {
  std::string kind;
  std::string bytes;
};

std::string flip(std::string s, uint64_t bit) {
  s[bit / 8] = static_cast<char>(s[bit / 8] ^ (1 << (bit % 8)));
  return s;
}

std::vector<Damage> damages(const std::string& sound) {
  const uint64_t n = sound.size();
  auto at = [n](double share) { return static_cast<uint64_t>(static_cast<double>(n) * share); };
  std::string zeroed = sound;
  for (uint64_t i = at(0.60); i < at(0.60) + 64 && i < n; ++i) zeroed[i] = 0;
  return {
      {"original", sound},
      {"truncated 50%", sound.substr(0, at(0.50))},
      {"truncated 90%", sound.substr(0, at(0.90))},
      {"truncated 99.9%", sound.substr(0, at(0.999))},
      {"64 zero bytes at 60%", zeroed},
      {"bit flip at 45%", flip(sound, at(0.45) * 8 + 3)},
      {"bit flip at 70%", flip(sound, at(0.70) * 8 + 5)},
      {"bit flip at 90%", flip(sound, at(0.90) * 8 + 1)},
      {"4 KiB appended", sound + std::string(4096, '\x5A')},
      {"all zeros", std::string(n, '\0')},
  };
}

// What each kind gave: answers by code.
struct Tally {
  std::map<std::string, std::map<char, int>> by_kind;
  std::vector<std::string> kinds;  // first-seen order
  void add(const std::string& kind, char code) {
    if (!by_kind.count(kind)) kinds.push_back(kind);
    ++by_kind[kind][code];
  }
  std::string table(const std::string& title) const {
    std::ostringstream t;
    t << title << "\n";
    for (const auto& kind : kinds) {
      int total = 0;
      for (const auto& [code, count] : by_kind.at(kind)) total += count;
      t << "  " << kind << ": " << total << " files;";
      for (const auto& [code, count] : by_kind.at(kind)) t << " " << code << " " << count;
      t << "\n";
    }
    return t.str();
  }
};

class DngDamageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* keep = std::getenv("DNG_DAMAGE_DIR"); keep != nullptr && keep[0] != '\0') keep_ = keep;
    start();
  }
  void start() { worker_ = std::make_unique<WorkerProcess>(dir_.sub("props"), dir_.sub("stderr.txt")); }

  // The worker's code for one damaged copy (named .tif, so the DNG road is
  // taken), or 0 when no answer came in time; then a fresh worker is made.
  char verdict(const std::string& input, const std::string& kind, const std::string& bytes) {
    static int files = 0;  // unique across the tests of the process
    const std::string file = "f" + std::to_string(files++) + ".tif";
    const std::string folder = keep_ ? *keep_ : dir_.path();
    const std::string path = folder + "/" + file;
    {
      std::ofstream out(path, std::ios::binary);
      out << bytes;
    }
    std::optional<std::vector<wire::Record>> answer;
    if (worker_->send_internal(path)) answer = worker_->read_answer(kPerFile);
    char code = answer && answer->size() == 1 ? (*answer)[0].code : 0;
    if (code == 0) {
      ADD_FAILURE() << input << ", " << kind << ": no answer within " << kPerFile.count() << " ms";
      start();
    }
    if (keep_) {
      std::ofstream tsv(*keep_ + "/verdicts.tsv", std::ios::app);
      tsv << kind << "\t" << input << "\t" << file << "\t" << code << "\n";
    } else {
      std::remove(path.c_str());
    }
    return code;
  }

  void run_inputs(const std::vector<Input>& inputs, const std::string& title) {
    Tally tally;
    for (const auto& input : inputs) {
      ASSERT_FALSE(input.bytes.empty()) << input.name;
      for (const auto& d : damages(input.bytes)) {
        const char code = verdict(input.name, d.kind, d.bytes);
        tally.add(d.kind, code);
        const std::string what = input.name + ", " + d.kind;
        if (d.kind == "original" || d.kind == "4 KiB appended") {
          EXPECT_EQ(code, input.sound_code) << what;
        } else if (d.kind == "all zeros") {
          EXPECT_EQ(code, 'B') << what;
        } else if (d.kind.rfind("truncated", 0) == 0) {
          // A file refused for its version stays refused unless the cut
          // breaks its structure.
          if (input.sound_code == 'E') {
            EXPECT_TRUE(code == 'E' || code == 'B') << what << ": " << code;
          } else {
            EXPECT_EQ(code, 'B') << what;
          }
        } else {
          EXPECT_TRUE(code == 'G' || code == 'B' || code == 'E') << what << ": " << int(code);
        }
      }
    }
    std::printf("%s", tally.table(title).c_str());
  }

  TempFolder dir_;
  std::optional<std::string> keep_;
  std::unique_ptr<WorkerProcess> worker_;
};

TEST_F(DngDamageTest, GeneratedDngsOfEveryLayout) { run_inputs(generated_inputs(), "generated DNGs"); }

TEST_F(DngDamageTest, RealDngs) { run_inputs(real_inputs(), "real DNGs"); }

// The samples of one tile of stage 1.
std::vector<uint32_t> tile_samples(const RawPipelineResult& r, uint32_t width, uint32_t height) {
  std::vector<uint32_t> s;
  for (uint32_t y = 0; y < height; ++y)
    for (uint32_t x = 0; x < width; ++x) s.push_back(image_sample(*r.stage1, y, x, 0));
  return s;
}

// Single-bit flips swept over the entropy-coded data of one lossless tile.
// The worker's verdict must match what reading the raw image says, and a
// stream that still decodes must not have been filled with zeros.
TEST_F(DngDamageTest, BitFlipsSweptOverOneLosslessTile) {
  RawDngOptions o = camera_raw_options(64, 64, true, true, 32, 32);
  // Sensor noise over a smooth scene, so the code table holds many
  // categories, as a camera's does.
  o.scene = [](uint32_t x, uint32_t y, uint32_t p) {
    uint32_t h = (x * 73856093u) ^ (y * 19349663u) ^ (p * 83492791u);
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    h ^= h >> 15;
    return 8000 + 60 * x + 40 * y + (h % 512);
  };
  const RawDng raw = build_raw_dng(o);
  const uint32_t tile = raw.tile_offsets.at(0);
  const uint32_t tile_end = tile + raw.tile_byte_counts.at(0);
  // The scan's data begin after the start-of-scan segment and end before
  // the end-of-image marker.
  uint32_t data = 0;
  for (uint32_t i = tile; i + 3 < tile_end; ++i) {
    if (static_cast<uint8_t>(raw.bytes[i]) == 0xFF && static_cast<uint8_t>(raw.bytes[i + 1]) == 0xDA) {
      data = i + 2 + ((static_cast<uint8_t>(raw.bytes[i + 2]) << 8) | static_cast<uint8_t>(raw.bytes[i + 3]));
      break;
    }
  }
  ASSERT_GT(data, tile);
  const uint32_t data_end = tile_end - 2;
  ASSERT_LT(data, data_end);

  std::vector<uint32_t> sound_tile;
  {
    dng_test::StderrCapture quiet;
    auto r = run_raw_pipeline(raw.bytes, RawStage::kRead);
    ASSERT_EQ(r.code, 0);
    sound_tile = tile_samples(r, 32, 32);
  }
  const auto zeros = [](const std::vector<uint32_t>& v) { return std::count(v.begin(), v.end(), 0u); };

  const uint64_t bits = uint64_t{data_end - data} * 8;
  // About 400 flips; a prime step, so that the flips do not all land on the
  // same bit of codes of one fixed length.
  uint64_t step = bits / 400 + 1;
  const auto prime = [](uint64_t n) {
    for (uint64_t d = 2; d * d <= n; ++d)
      if (n % d == 0) return false;
    return n > 1;
  };
  while (!prime(step)) ++step;
  int flips = 0, detected = 0, changed = 0;
  for (uint64_t bit = uint64_t{data} * 8; bit < uint64_t{data_end} * 8; bit += step) {
    const std::string damaged = flip(raw.bytes, bit);
    const char code = verdict("lossless tile", "entropy bit flip", damaged);
    dng_test::StderrCapture quiet;
    auto r = run_raw_pipeline(damaged, RawStage::kRead);
    ++flips;
    if (r.code != 0) {
      ++detected;
      EXPECT_EQ(code, 'B') << "bit " << bit << ": the raw read fails with " << r.code;
    } else {
      EXPECT_EQ(code, 'G') << "bit " << bit << ": the raw read succeeds";
      if (tile_samples(r, 32, 32) != sound_tile) ++changed;
      EXPECT_LE(zeros(tile_samples(r, 32, 32)), zeros(sound_tile) + 32 * 32 / 4)
          << "bit " << bit << ": damage decoded as zeros";
    }
  }
  std::printf("entropy-coded data of one 32 x 32 lossless tile: %d single-bit flips, %d detected (%.0f%%), "
              "%d decoded as other samples, %d decoded unchanged\n",
              flips, detected, 100.0 * detected / flips, changed, flips - detected - changed);
}

}  // namespace
