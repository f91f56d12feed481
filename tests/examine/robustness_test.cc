// Every builder file and every real file through a table of mutations:
// truncation at each directory and value boundary, hostile counts, offsets
// past the end or back to the directory itself, looping chains, and random
// byte changes. Each examination must end (quickly), fail or succeed with a
// message, and allocate no more than the file could justify.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "examine/byte_reader.h"
#include "examine_harness.h"
#include "platform/files.h"
#include "support/temp_folder.h"
#include "support/tiff_builder.h"

namespace {

using examine_test::Examination;
using testing_support::TiffBuilder;

// Where the fields of a file's TIFF structure lie, as far as a walk of the
// sound file reached.
struct Layout {
  bool tiff = false;
  bool big_endian = false;
  uint64_t base = 0;
  std::set<size_t> boundaries;
  std::vector<size_t> directory_counts;  // 16-bit entry counts
  std::vector<size_t> entry_counts;      // 32-bit value counts
  std::vector<size_t> value_fields;      // 32-bit value or offset fields
  std::vector<size_t> next_fields;       // 32-bit next-directory offsets
  std::vector<uint64_t> directories;     // absolute directory offsets
};

void add_directory(const std::string& file, uint64_t base, bool big_endian, const TV_IFD* dir, Layout* layout) {
  for (; dir != nullptr; dir = dir->next) {
    const uint64_t at = dir->directory_offset;
    if (dir->directory_size >= 6 && at + 2 <= file.size()) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(file.data());
      const uint32_t count = get_u16(bytes + at, big_endian);
      layout->directories.push_back(at);
      layout->directory_counts.push_back(at);
      layout->boundaries.insert(at);
      layout->boundaries.insert(at + 2);
      for (uint32_t i = 0; i < count && at + 2 + 12 * (i + 1) <= file.size(); ++i) {
        const size_t entry = at + 2 + 12 * i;
        layout->boundaries.insert(entry + 12);
        layout->entry_counts.push_back(entry + 4);
        layout->value_fields.push_back(entry + 8);
        const uint64_t total = uint64_t{tiff_type_size(get_u16(bytes + entry + 2, big_endian))} *
                               get_u32(bytes + entry + 4, big_endian);
        if (total > 4) {
          const uint64_t value = base + get_u32(bytes + entry + 8, big_endian);
          if (value < file.size()) layout->boundaries.insert(value);
          if (value + total <= file.size()) layout->boundaries.insert(value + total);
        }
      }
      const size_t next = at + 2 + 12 * size_t{count};
      if (next + 4 <= file.size()) {
        layout->next_fields.push_back(next);
        layout->boundaries.insert(next + 4);
      }
    }
    add_directory(file, base, big_endian, dir->exif, layout);
    add_directory(file, base, big_endian, dir->gps, layout);
    for (const TV_IFD::SubIfd& sub : dir->sub_ifds) add_directory(file, base, big_endian, sub.ifd, layout);
  }
}

Layout layout_of(const std::string& file) {
  Layout layout;
  Examination e(file, print_nothing);
  e.walk();
  if (e.state() == nullptr || e.first() == nullptr) return layout;
  layout.tiff = dynamic_cast<TV_IFD_CRW*>(e.first()) == nullptr && dynamic_cast<TV_IFD_X3F*>(e.first()) == nullptr;
  layout.big_endian = e.state()->big_endian;
  layout.base = e.state()->base;
  layout.boundaries.insert(e.state()->base);
  layout.boundaries.insert(e.state()->base + 8);
  if (layout.tiff) add_directory(file, e.state()->base, layout.big_endian, e.first(), &layout);
  return layout;
}

void put_u32(std::string* file, size_t at, uint32_t v, bool big_endian) {
  for (int i = 0; i < 4; ++i) {
    int shift = big_endian ? 24 - 8 * i : 8 * i;
    (*file)[at + i] = static_cast<char>((v >> shift) & 0xFF);
  }
}

void put_u16(std::string* file, size_t at, uint16_t v, bool big_endian) {
  (*file)[at] = static_cast<char>(big_endian ? v >> 8 : v & 0xFF);
  (*file)[at + 1] = static_cast<char>(big_endian ? v & 0xFF : v >> 8);
}

// Runs one mutated file through every entry and checks that each ends in
// time with a message and kept its buffers in proportion to the file.
int g_cases = 0;
void survive(const std::string& file, const std::string& what) {
  ++g_cases;
  for (int mode = 0; mode < 3; ++mode) {
    auto start = std::chrono::steady_clock::now();
    Examination e(file, mode == 2 ? examine_test::print_to_string : print_nothing);
    bool ok = mode == 0 ? e.examine() : e.walk(mode == 1);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_LT(seconds, 5.0) << what << " mode " << mode;
    ASSERT_FALSE(e.message().empty()) << what;
    if (ok) {
      ASSERT_EQ(e.message(), "OK") << what;
    }
    if (e.state() != nullptr) {
      ASSERT_LE(e.state()->scratch.size(), std::max<size_t>(file.size(), 256)) << what;
      ASSERT_LE(e.state()->directories, examine_limits::kMaxDirectories) << what;
    }
  }
}

void run_mutations(const std::string& name, const std::string& file) {
  SCOPED_TRACE(name);
  survive(file, name + " as it is");
  Layout layout = layout_of(file);

  // Truncation at every structure boundary (and, for any file, every 97th
  // byte, which reaches into containers the layout does not describe).
  std::set<size_t> cuts = layout.boundaries;
  for (size_t at = 0; at < file.size(); at += 97) cuts.insert(at);
  for (size_t at = 0; at < 16 && at < file.size(); ++at) cuts.insert(at);
  for (size_t cut : cuts) {
    if (cut >= file.size()) continue;
    for (size_t end : {cut, cut + 1}) {
      if (end < file.size()) survive(file.substr(0, end), name + " cut at " + std::to_string(end));
    }
  }
  if (!layout.tiff) return;
  const bool be = layout.big_endian;
  const uint32_t past_end = static_cast<uint32_t>(file.size() + 100);

  for (size_t at : layout.directory_counts) {
    for (uint16_t count : {0, 1, 0xFFFF}) {
      std::string m = file;
      put_u16(&m, at, count, be);
      survive(m, name + " directory count " + std::to_string(count) + " at " + std::to_string(at));
    }
  }
  for (size_t at : layout.entry_counts) {
    for (uint32_t count : {0u, 1u, 0x40000001u, 0xFFFFFFFFu, 5000000u}) {
      std::string m = file;
      put_u32(&m, at, count, be);
      survive(m, name + " entry count " + std::to_string(count) + " at " + std::to_string(at));
    }
  }
  for (size_t at : layout.value_fields) {
    // The value offset past the end, and back to the directory the entry
    // belongs to (which also makes EXIF, GPS and SubIFD links loop).
    uint64_t directory = 0;
    for (uint64_t d : layout.directories) {
      if (d < at) directory = std::max(directory, d);
    }
    uint32_t own = static_cast<uint32_t>(directory - std::min(directory, layout.base));
    for (uint32_t offset : {past_end, 0xFFFFFFFFu, own, 1u}) {
      std::string m = file;
      put_u32(&m, at, offset, be);
      survive(m, name + " value field " + std::to_string(offset) + " at " + std::to_string(at));
    }
  }
  for (size_t at : layout.next_fields) {
    uint32_t first_directory = static_cast<uint32_t>(layout.directories.front() - layout.base);
    for (uint32_t offset : {past_end, 0xFFFFFFFFu, first_directory, first_directory + 2}) {
      std::string m = file;
      put_u32(&m, at, offset, be);
      survive(m, name + " next offset " + std::to_string(offset) + " at " + std::to_string(at));
    }
  }

  // Random byte changes, the same every run.
  std::mt19937 random(static_cast<uint32_t>(file.size()));
  for (int i = 0; i < 200; ++i) {
    std::string m = file;
    int changes = 1 + static_cast<int>(random() % 4);
    for (int c = 0; c < changes; ++c) {
      size_t at = random() % m.size();
      // Bias towards the structure: most changes hit the first kilobyte.
      if (random() % 2 == 0) at %= std::min<size_t>(m.size(), 1024);
      m[at] = static_cast<char>(random());
    }
    survive(m, name + " random change " + std::to_string(i));
  }
}

// Builder files: every structure the builder can write.
std::string camera(bool big_endian) {
  TiffBuilder b(big_endian);
  int ifd0 = b.add_ifd(), exif = b.add_ifd(), gps = b.add_ifd(), ifd1 = b.add_ifd(), sub = b.add_ifd();
  b.add_short(ifd0, 256, {64});
  b.add_short(ifd0, 258, {8, 8, 8});
  b.add_ascii(ifd0, 271, "Maker of things");
  b.add_ascii(ifd0, 272, "Model");
  b.add_long(ifd0, 273, {10, 20, 30});
  b.add_ascii(ifd0, 306, "2020:01:02 03:04:05");
  b.add_ifd_pointer(ifd0, 330, {sub});
  b.add_undefined(ifd0, 700, "<x:xmpmeta>packet</x:xmpmeta>");
  b.add_undefined(ifd0, 33723, std::string("\x1c\x02\x19\x00\x03" "abc", 8));
  b.add_ifd_pointer(ifd0, 34665, {exif});
  b.add_ifd_pointer(ifd0, 34853, {gps});
  b.set_next(ifd0, ifd1);
  b.add_rational(exif, 33434, {{1, 60}});
  b.add_ascii(exif, 36868, "2020:01:02 03:04:06");
  b.add_undefined(exif, 37500, "a maker note of some length");
  b.add_ascii(exif, 37522, "12");
  b.add_byte(gps, 0, {2, 2, 0, 0});
  b.add_rational(gps, 2, {{1, 1}, {2, 1}, {3, 1}});
  b.add_short(ifd1, 259, {6});
  b.add_long(ifd1, 513, {100});
  b.add_short(sub, 256, {32});
  b.add(sub, 41486, 11, 1, b.u32(0x3f800000));
  return b.build();
}

struct BuilderFile {
  const char* name;
  std::string bytes;
};

std::vector<BuilderFile> builder_files() {
  return {
      {"camera little-endian", camera(false)},
      {"camera big-endian", camera(true)},
      {"EXIF JPEG", testing_support::exif_jpeg(camera(false))},
      {"JFIF then EXIF", testing_support::jfif_exif_jpeg(camera(true))},
      {"FUJIFILM", testing_support::fujifilm_file(camera(true))},
      {"MRW", testing_support::minolta_mrw(camera(false))},
  };
}

TEST(Robustness, BuilderFilesSurviveEveryMutation) {
  g_cases = 0;
  for (const BuilderFile& f : builder_files()) run_mutations(f.name, f.bytes);
  EXPECT_GT(g_cases, 1000);
}

class RealFileMutations : public testing::TestWithParam<std::string> {};

TEST_P(RealFileMutations, SurviveEveryMutation) {
  std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES "/examine/") + GetParam());
  ASSERT_FALSE(bytes.empty());
  run_mutations(GetParam(), bytes);
}

std::vector<std::string> fixture_names() {
  auto names = platform::list_folder(CORVELLA_FIXTURES "/examine");
  return names ? *names : std::vector<std::string>{};
}

INSTANTIATE_TEST_SUITE_P(Fixtures, RealFileMutations, testing::ValuesIn(fixture_names()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name;
                           for (char ch : info.param) name += isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
                           return name;
                         });

}  // namespace
