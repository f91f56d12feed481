// CIFF and X3F files, built and real, through a table of mutations:
// truncation at every block, record, section and entry boundary; counts of
// 0, 1, 0x40000001 and 0xFFFFFFFF; offsets past the end, back to the block
// or directory itself; deep and fanning nesting; random byte changes. Every
// examination must end quickly with a message and keep its buffers in
// proportion to the file.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "examine/byte_reader.h"
#include "examine_harness.h"
#include "support/ciff_builder.h"
#include "support/temp_folder.h"
#include "support/x3f_builder.h"

namespace {

using examine_test::Examination;
using testing_support::CiffBlock;
using testing_support::le16;
using testing_support::le32;
using testing_support::X3fBuilder;
using testing_support::X3fProperties;

int g_cases = 0;

void survive(const std::string& file, const std::string& what) {
  ++g_cases;
  for (int mode = 0; mode < 3; ++mode) {
    auto start = std::chrono::steady_clock::now();
    Examination e(file, mode == 2 ? examine_test::print_to_string : print_nothing);
    const bool ok = mode == 0 ? e.examine() : e.walk(mode == 1);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_LT(seconds, 5.0) << what << " mode " << mode;
    ASSERT_FALSE(e.message().empty()) << what;
    if (ok) {
      ASSERT_EQ(e.message(), "OK") << what;
    }
    if (e.state() != nullptr) {
      ASSERT_LE(e.state()->scratch.size(), std::max<size_t>(file.size(), 256)) << what;
    }
  }
}

void put32(std::string* file, size_t at, uint32_t v) {
  if (at + 4 <= file->size()) file->replace(at, 4, le32(v));
}

void put16(std::string* file, size_t at, uint16_t v) {
  if (at + 2 <= file->size()) file->replace(at, 2, le16(v));
}

uint32_t get32(const std::string& file, size_t at) {
  return at + 4 <= file.size() ? get_u32(reinterpret_cast<const uint8_t*>(file.data()) + at, false) : 0;
}

// Where the fields a mutation changes lie in one file.
struct Fields {
  std::set<size_t> cuts;
  std::vector<size_t> counts16;  // 16-bit counts
  std::vector<size_t> counts32;  // 32-bit counts and lengths
  std::vector<std::pair<size_t, uint32_t>> offsets;  // offset field, the offset that points back at its own structure
};

// Blocks named by several records are listed once.
void add_ciff_block(const TV_IFD_CRW* block, Fields* f, std::set<size_t>* seen) {
  const size_t start = block->block_start;
  if (!seen->insert(start).second) return;
  const size_t directory = block->directory_start;
  f->cuts.insert(start);
  f->cuts.insert(start + block->block_length);
  f->cuts.insert(start + block->block_length - 4);
  f->cuts.insert(directory);
  f->counts16.push_back(directory);
  // The directory pointer: back to the pointer itself.
  f->offsets.emplace_back(start + block->block_length - 4, static_cast<uint32_t>(block->block_length - 4));
  for (uint32_t i = 0; i < block->record_count; ++i) {
    const size_t record = directory + 2 + 10 * size_t{i};
    f->cuts.insert(record);
    f->cuts.insert(record + 10);
    f->counts32.push_back(record + 2);
    // A record's offset: back to its own block's start, and to the directory.
    f->offsets.emplace_back(record + 6, 0);
    f->offsets.emplace_back(record + 6, static_cast<uint32_t>(directory - start));
  }
  for (const auto& sub : block->sub_blocks) add_ciff_block(sub.get(), f, seen);
}

void add_x3f(const std::string& file, Fields* f) {
  if (file.size() < 236) return;
  const size_t directory = get32(file, file.size() - 4);
  f->cuts.insert(232);
  f->cuts.insert(file.size() - 4);
  f->offsets.emplace_back(file.size() - 4, static_cast<uint32_t>(file.size() - 4));
  f->cuts.insert(directory);
  f->counts32.push_back(directory + 8);
  const uint32_t count = get32(file, directory + 8);
  for (uint32_t i = 0; i < count && directory + 24 + 12 * size_t{i} <= file.size(); ++i) {
    const size_t entry = directory + 12 + 12 * size_t{i};
    f->cuts.insert(entry);
    const uint32_t offset = get32(file, entry);
    const uint32_t length = get32(file, entry + 4);
    f->cuts.insert(offset);
    f->cuts.insert(size_t{offset} + length);
    f->counts32.push_back(entry + 4);
    f->offsets.emplace_back(entry, static_cast<uint32_t>(directory));
    if (file.compare(entry + 8, 4, "PROP") == 0 && size_t{offset} + 24 <= file.size()) {
      f->cuts.insert(offset + 24);
      f->counts32.push_back(offset + 8);
      f->counts32.push_back(offset + 20);
      const uint32_t properties = get32(file, offset + 8);
      f->cuts.insert(offset + 24 + 8 * size_t{properties});
      for (uint32_t p = 0; p < properties && p < 64; ++p) {
        f->offsets.emplace_back(offset + 24 + 8 * size_t{p}, 0);
        f->offsets.emplace_back(offset + 28 + 8 * size_t{p}, 0);
      }
    }
  }
}

Fields fields_of(const std::string& file) {
  Fields f;
  for (size_t at = 0; at < 16 && at < file.size(); ++at) f.cuts.insert(at);
  for (size_t at = 0; at < file.size(); at += 97) f.cuts.insert(at);
  Examination e(file, print_nothing);
  e.walk();
  std::set<size_t> seen;
  if (auto* heap = dynamic_cast<const TV_IFD_CRW*>(e.first())) add_ciff_block(heap, &f, &seen);
  if (file.compare(0, 4, "FOVb") == 0) add_x3f(file, &f);
  return f;
}

void run_mutations(const std::string& name, const std::string& file) {
  SCOPED_TRACE(name);
  survive(file, name + " as it is");
  const Fields f = fields_of(file);
  for (size_t cut : f.cuts) {
    for (size_t end : {cut, cut + 1}) {
      if (end < file.size()) survive(file.substr(0, end), name + " cut at " + std::to_string(end));
    }
  }
  for (size_t at : f.counts16) {
    for (uint16_t count : {0, 1, 0xFFFF}) {
      std::string m = file;
      put16(&m, at, count);
      survive(m, name + " count16 " + std::to_string(count) + " at " + std::to_string(at));
    }
  }
  for (size_t at : f.counts32) {
    for (uint32_t count : {0u, 1u, 0x40000001u, 0xFFFFFFFFu, 0x20000000u, 0x80000000u}) {
      std::string m = file;
      put32(&m, at, count);
      survive(m, name + " count32 " + std::to_string(count) + " at " + std::to_string(at));
    }
  }
  const uint32_t past_end = static_cast<uint32_t>(file.size() + 100);
  for (const auto& [at, own] : f.offsets) {
    for (uint32_t offset : {past_end, 0xFFFFFFFFu, own, 0u}) {
      std::string m = file;
      put32(&m, at, offset);
      survive(m, name + " offset " + std::to_string(offset) + " at " + std::to_string(at));
    }
  }
  std::mt19937 random(static_cast<uint32_t>(file.size()));
  for (int i = 0; i < 200; ++i) {
    std::string m = file;
    const int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      size_t at = random() % m.size();
      if (random() % 2 == 0 && m.size() > 64) at = m.size() - 1 - at % std::min<size_t>(m.size(), 512);
      m[at] = static_cast<char>(random());
    }
    survive(m, name + " random change " + std::to_string(i));
  }
}

std::string ciff_camera() {
  CiffBlock heap;
  heap.add_value(0x2005, "raw data");
  CiffBlock& props = heap.add_block(0x300A);
  props.add_inline(0x1803, le32(0x20001));
  props.add_value(0x180E, le32(1000000000) + le32(0) + le32(0));
  props.add_value(0x1810, le32(640) + le32(480));
  CiffBlock& camera = props.add_block(0x2807);
  camera.add_value(0x080A, std::string("Canon\0Model\0", 12));
  camera.add_value(0x0810, std::string("Owner\0", 6));
  camera.add_block(0x3004).add_inline(0x101C, le16(100)).add_value(0x080B, std::string("Firmware\0", 9));
  CiffBlock& exif = heap.add_block(0x300B);
  std::string shot;
  for (int i = 0; i < 32; ++i) shot += le16(static_cast<uint16_t>(i));
  exif.add_value(0x102A, shot);
  exif.add_inline(0x1029, le16(0) + le16(35));
  exif.add_value(0x1031, le16(18) + le16(3000));
  return testing_support::ciff_file(heap);
}

std::string ciff_nested(int levels) {
  CiffBlock heap;
  CiffBlock* block = &heap;
  for (int i = 0; i < levels; ++i) block = &block->add_block(0x300A);
  block->add_inline(0x101C, le16(100));
  return testing_support::ciff_file(heap);
}

// Levels of blocks whose records all name the same block within.
std::string ciff_fanning(int levels, uint16_t fan_out) {
  std::string block = le16(1) + le16(0x501C) + le16(100) + std::string(6, '\0') + le32(0);
  for (int level = 0; level < levels; ++level) {
    std::string outer = block + le16(fan_out);
    for (uint16_t i = 0; i < fan_out; ++i) outer += le16(0x300A) + le32(static_cast<uint32_t>(block.size())) + le32(0);
    block = outer + le32(static_cast<uint32_t>(block.size()));
  }
  return std::string("II", 2) + le32(26) + "HEAPCCDR" + std::string(12, '\0') + block;
}

std::string x3f_camera() {
  X3fBuilder b;
  b.set_white_balance("Auto").set_extended(0, 1, 2).set_extended(1, 10, 1);
  b.add_section("IMAG", std::string(32, '\x01'));
  b.add_properties(X3fProperties().add("ISO", "100").add("CAMMODEL", "SD").add("TIME", "1000000000"));
  b.add_section("CAMF", std::string(16, '\x02'));
  return b.build();
}

TEST(CiffX3fRobustness, BuiltFilesSurviveEveryMutation) {
  g_cases = 0;
  run_mutations("CIFF camera", ciff_camera());
  run_mutations("CIFF nested 12 deep", ciff_nested(12));
  run_mutations("CIFF fanning", ciff_fanning(2, 30));
  run_mutations("X3F camera", x3f_camera());
  EXPECT_GT(g_cases, 1000);
}

class RealRawMutations : public testing::TestWithParam<std::string> {};

TEST_P(RealRawMutations, SurviveEveryMutation) {
  const std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES "/raw/") + GetParam());
  ASSERT_FALSE(bytes.empty());
  run_mutations(GetParam(), bytes);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealRawMutations,
                         testing::Values("canon_eos300d_ciff_stripped.crw", "canon_powershot_s40_ciff_stripped.crw",
                                         "sigma_sd10_stripped.x3f", "sigma_dp2_stripped.x3f"),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char ch : info.param) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

}  // namespace
