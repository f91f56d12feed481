// Damaged DNG files through the real worker: every generated layout, every
// real DNG and sound DNGs of another writer, each with each kind of damage,
// answered one by one with a time limit per file. Besides cuts, flips and
// zeros at fixed shares of the file, the main image's own fields and data
// are damaged: a strip or tile byte count past the end of the file, byte
// counts of 0, 1 and half, an offset of 0, lossless JPEG declared
// uncompressed, and a run of zeros or flipped bits inside a lossless tile.
// What each kind gives is printed as a table. With DNG_DAMAGE_DIR set, the
// damaged copies and the worker's verdicts (verdicts.tsv: kind, input,
// file, code) are kept there for comparison with other readers
// (bench/dng_damage_compare); DNG_DAMAGE_INPUTS names a folder whose .dng
// files are taken as further sound inputs.
#include <gtest/gtest.h>

#include <dirent.h>

#include <algorithm>
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
      {"independent_grbg_10lj_strip.dng", 'G'},
      {"independent_bggr_12lj_tiles256.dng", 'G'},
      {"independent_bggr_12u_strips64.dng", 'G'},
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

// The .dng files of the folder named by DNG_DAMAGE_INPUTS, as sound inputs.
std::vector<Input> folder_inputs() {
  std::vector<Input> inputs;
  const char* folder = std::getenv("DNG_DAMAGE_INPUTS");
  if (folder == nullptr || folder[0] == '\0') return inputs;
  if (DIR* dir = opendir(folder)) {
    while (dirent* e = readdir(dir)) {
      const std::string name = e->d_name;
      if (name.size() > 4 && name.substr(name.size() - 4) == ".dng") {
        inputs.push_back({name, read_file(std::string(folder) + "/" + name), 'G'});
      }
    }
    closedir(dir);
  }
  std::sort(inputs.begin(), inputs.end(), [](const Input& a, const Input& b) { return a.name < b.name; });
  return inputs;
}

struct Damage {
  std::string kind;
  std::string bytes;
};

// Where the main image (the directory with NewSubFileType 0, in IFD 0 or a
// SubIFD) keeps its strips or tiles, found by a walk of the file's TIFF
// structure that is independent of the reader under test.
struct MainImage {
  struct Field {
    uint32_t type = 0, count = 0, position = 0;  // position of the values
  };
  bool found = false;
  bool big = false;
  uint32_t compression = 1;
  uint32_t compression_position = 0;
  Field offsets, counts;

  static uint32_t size_of(uint32_t type) { return type == 3 ? 2 : 4; }

  uint32_t get(const std::string& s, uint64_t at, uint32_t size) const {
    if (at + size > s.size()) return 0;
    uint32_t v = 0;
    for (uint32_t i = 0; i < size; ++i) {
      const uint32_t byte = static_cast<uint8_t>(s[at + i]);
      v |= big ? byte << (8 * (size - 1 - i)) : byte << (8 * i);
    }
    return v;
  }
  // False when the value does not fit the field's type.
  bool put(std::string& s, uint64_t at, uint32_t size, uint32_t v) const {
    if (size == 2 && v > 0xFFFF) return false;
    for (uint32_t i = 0; i < size; ++i) s[at + i] = static_cast<char>(v >> (big ? 8 * (size - 1 - i) : 8 * i));
    return true;
  }
  uint32_t value(const std::string& s, const Field& f, uint32_t i) const {
    return get(s, f.position + uint64_t{i} * size_of(f.type), size_of(f.type));
  }
  bool set(std::string& s, const Field& f, uint32_t i, uint32_t v) const {
    return put(s, f.position + uint64_t{i} * size_of(f.type), size_of(f.type), v);
  }

  explicit MainImage(const std::string& s) {
    if (s.size() < 8 || (s.compare(0, 2, "II") != 0 && s.compare(0, 2, "MM") != 0)) return;
    big = s[0] == 'M';
    std::vector<uint32_t> ifds = {get(s, 4, 4)};
    for (size_t n = 0; n < ifds.size() && n < 16; ++n) {
      const uint64_t at = ifds[n];
      const uint32_t entries = get(s, at, 2);
      if (at == 0 || at + 2 + 12ull * entries > s.size()) continue;
      bool main = false;
      Field offs, cnts;
      uint32_t comp = 1, comp_at = 0;
      for (uint32_t e = 0; e < entries; ++e) {
        const uint64_t entry = at + 2 + 12ull * e;
        const uint32_t tag = get(s, entry, 2), type = get(s, entry + 2, 2), count = get(s, entry + 4, 4);
        const uint32_t inline_at = static_cast<uint32_t>(entry + 8);
        const uint32_t values = uint64_t{count} * size_of(type) <= 4 ? inline_at : get(s, inline_at, 4);
        if (tag == 254) main = get(s, inline_at, 4) == 0;
        if (tag == 259) {
          comp = get(s, inline_at, 2);
          comp_at = inline_at;
        }
        if (tag == 273 || tag == 324) offs = {type, count, values};
        if (tag == 279 || tag == 325) cnts = {type, count, values};
        if (tag == 330) {
          for (uint32_t i = 0; i < count && i < 8; ++i) ifds.push_back(get(s, values + 4ull * i, 4));
        }
      }
      if (main && !found && offs.count != 0 && offs.count == cnts.count) {
        found = true;
        compression = comp;
        compression_position = comp_at;
        offsets = offs;
        counts = cnts;
      }
    }
  }
};

// The damages of the main image's fields and data; none when it is not
// found or a value does not fit its field.
std::vector<Damage> main_image_damages(const std::string& sound) {
  std::vector<Damage> out;
  const MainImage m(sound);
  if (!m.found) return out;
  const uint32_t k = m.offsets.count / 2;  // a strip or tile in the middle
  const uint32_t offset = m.value(sound, m.offsets, k), count = m.value(sound, m.counts, k);
  auto with = [&](const std::string& kind, auto change) {
    std::string bytes = sound;
    if (change(bytes)) out.push_back({kind, std::move(bytes)});
  };
  with("byte count past the end", [&](std::string& b) {
    return m.set(b, m.counts, k, static_cast<uint32_t>(sound.size() - offset + 4096));
  });
  with("byte count 0", [&](std::string& b) { return m.set(b, m.counts, k, 0); });
  with("byte count 1", [&](std::string& b) { return m.set(b, m.counts, k, 1); });
  with("byte count halved", [&](std::string& b) { return m.set(b, m.counts, k, count / 2); });
  with("offset 0", [&](std::string& b) { return m.set(b, m.offsets, k, 0); });
  if (m.compression != 7) return out;
  with("lossless declared uncompressed", [&](std::string& b) { return m.put(b, m.compression_position, 2, 1); });
  // The entropy-coded data of the middle tile: from the end of its
  // start-of-scan segment to its last two bytes (the end marker).
  uint64_t data = 0;
  for (uint64_t i = offset; i + 3 < uint64_t{offset} + count && i + 3 < sound.size(); ++i) {
    if (static_cast<uint8_t>(sound[i]) == 0xFF && static_cast<uint8_t>(sound[i + 1]) == 0xDA) {
      data = i + 2 + ((static_cast<uint8_t>(sound[i + 2]) << 8) | static_cast<uint8_t>(sound[i + 3]));
      break;
    }
  }
  const uint64_t data_end = uint64_t{offset} + count - 2;
  if (data == 0 || data + 1024 > data_end) return out;
  const uint64_t middle = data + (data_end - data) / 2;
  with("zero run inside a tile", [&](std::string& b) {
    std::fill(b.begin() + static_cast<long>(middle), b.begin() + static_cast<long>(middle + 256), '\0');
    return true;
  });
  with("bits flipped inside a tile", [&](std::string& b) {
    for (uint64_t i = 0; i < 8; ++i) b[middle + 61 * i] = static_cast<char>(b[middle + 61 * i] ^ (1 << (i % 8)));
    return true;
  });
  return out;
}

std::string flip(std::string s, uint64_t bit) {
  s[bit / 8] = static_cast<char>(s[bit / 8] ^ (1 << (bit % 8)));
  return s;
}

std::vector<Damage> damages(const std::string& sound) {
  const uint64_t n = sound.size();
  auto at = [n](double share) { return static_cast<uint64_t>(static_cast<double>(n) * share); };
  std::string zeroed = sound;
  for (uint64_t i = at(0.60); i < at(0.60) + 64 && i < n; ++i) zeroed[i] = 0;
  std::vector<Damage> all = {
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
  for (Damage& d : main_image_damages(sound)) all.push_back(std::move(d));
  return all;
}

// Damage to the main image's fields always breaks a sound file. Zeros or
// flipped bits inside lossless JPEG data are found when the decoder then
// meets a code that matches nothing, needs bits past the end or reaches
// the last sample with data left over; data that still decodes exactly
// (a flip among the extra bits of a difference, zeros where the codes
// were zero bits) cannot be told from sound data.
bool is_field_damage(const std::string& kind) {
  static const char* const kKinds[] = {"byte count past the end", "byte count 0", "byte count 1",
                                       "byte count halved", "offset 0", "lossless declared uncompressed"};
  return std::find(std::begin(kKinds), std::end(kKinds), kind) != std::end(kKinds);
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
        } else if (is_field_damage(d.kind) && input.sound_code == 'G') {
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

// Sound DNGs of a folder (none unless DNG_DAMAGE_INPUTS names one).
TEST_F(DngDamageTest, DngsOfAFolder) {
  const std::vector<Input> inputs = folder_inputs();
  if (inputs.empty()) GTEST_SKIP() << "DNG_DAMAGE_INPUTS names no folder of .dng files";
  run_inputs(inputs, "DNGs of " + std::string(std::getenv("DNG_DAMAGE_INPUTS")));
}

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
