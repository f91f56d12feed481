// Golden standard-error transcripts: the entries of IFD 0, the EXIF IFD and
// the GPS IFD of a few flawed files offered in the container parser's order
// (EXIF object, then shared object, then the ASCII read of an unclaimed
// text), both objects finished, the shared object validated. Each transcript
// is kept in golden/; CORVELLA_UPDATE_GOLDEN=1 rewrites them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "dng/core/dng_host.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_shared.h"
#include "dng/parse/dng_tag_readers.h"
#include "parse_test_util.h"

namespace {

using dng_test::rationals;
using dng_test::shorts;
using dng_test::sints;
using dng_test::srationals;
using dng_test::TagEntry;

std::string golden_path(const std::string& name) {
  // The golden files sit beside this test in the source tree.
  return std::string(CORVELLA_FIXTURES) + "/../dng/parse/golden/" + name;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The transcript of one file's tag entries through both objects.
std::string transcript(const std::vector<TagEntry>& entries) {
  dng_exif exif;
  dng_shared shared;
  bool valid = false;
  const dng_test::Printed p = dng_test::printed_by([&] {
    for (const TagEntry& e : entries) {
      dng_test::EntryStream s(e, true);
      dng_stream& stream = s.Stream();
      const uint32_t position = stream.Position();
      if (exif.ReadTag(stream, &shared, e.parent, false, e.tag, e.type, e.count, position)) {
        continue;
      }
      stream.SeekForRead(position);
      if (shared.ReadTag(stream, &exif, e.parent, false, e.tag, e.type, e.count, position, 0)) {
        continue;
      }
      if (e.type == dng_type_ascii) {
        stream.SeekForRead(position);
        dng_text scratch;
        read_string_tag(stream, e.parent, e.tag, e.count, scratch, false, true);
      }
    }
    dng_host host;
    exif.FinishParse(host, &shared);
    shared.FinishParse(host, &exif);
    valid = shared.Validate();
  });
  EXPECT_EQ(p.out, "");
  return p.err + "code " + std::to_string(p.code) + ", " + (valid ? "valid" : "invalid") + "\n";
}

std::string big_srationals(std::initializer_list<std::pair<int32_t, int32_t>> v) {
  return srationals(v, true);
}

const std::string kIdentity = sints({1, 0, 0, 0, 1, 0, 0, 0, 1}, true);

struct Golden {
  const char* file;
  std::vector<TagEntry> entries;
};

std::vector<Golden> goldens() {
  return {
      {"flawed_but_valid.txt",
       {
           {0, 271, 2, 6, std::string("NIKON\0", 6)},
           {0, 272, 2, 8, std::string("D850   \0", 8)},
           {0, 305, 2, 4, "Tool"},  // not terminated
           {0, 306, 2, 20, std::string(19, ' ') + '\0'},
           {0, 33432, 2, 10, std::string("Me\0Editor\0", 10)},
           {0, 50706, 1, 4, std::string("\x01\x01\x00\x00", 4)},
           {0, 50708, 2, 7, std::string("Cam   \0", 7)},
           {0, 50721, 10, 9, kIdentity},
           {0, 50722, 10, 9, kIdentity},
           {0, 50728, 5, 3, rationals({{1, 2}, {1, 1}, {1, 2}}, true)},
           {0, 50729, 5, 2, rationals({{3127, 10000}, {3290, 10000}}, true)},
           {0, 50731, 5, 1, rationals({{0, 1}}, true)},
           {0, 50778, 3, 1, shorts({21}, true)},
           {0, 50779, 3, 1, shorts({21}, true)},
           {0, 50999, 2, 3, std::string("x\xE9\0", 3)},  // unknown ASCII tag
           {34665, 33434, 5, 1, rationals({{1, 60}}, true)},
           {34665, 33437, 5, 1, rationals({{28, 10}}, true)},
           {34665, 36867, 2, 20, std::string("2024:13:01 10:00:00\0", 20)},
           {34665, 37377, 10, 1, big_srationals({{7, 1}})},
           {34665, 37378, 5, 1, rationals({{4, 1}}, true)},
           {34665, 37381, 5, 1, rationals({{9, 1}}, true)},
           {34665, 37386, 5, 1, rationals({{1, 2}}, true)},
           {34665, 37510, 7, 12, std::string("ascii\0\0\0Nice", 12)},
           {34665, 42016, 2, 32, std::string(32, 'a')},
           {34853, 0, 1, 4, std::string("\x02\x02\x00\x00", 4)},
           {34853, 2, 5, 2, rationals({{52, 1}, {30, 1}}, true)},
       }},
      {"version_too_high.txt",
       {
           {0, 50706, 1, 4, std::string("\x01\x04\x00\x00", 4)},
           {0, 50708, 2, 4, std::string("Cam\0", 4)},
           {0, 50721, 10, 9, kIdentity},
           {0, 50728, 5, 3, rationals({{1, 1}, {1, 1}, {1, 1}}, true)},
       }},
      {"singular_color_matrix.txt",
       {
           {0, 50706, 1, 4, std::string("\x00\x09\x00\x00", 4)},
           {0, 50721, 10, 9, sints({1, 2, 3, 2, 4, 6, 0, 0, 1}, true)},
           {0, 50722, 10, 3, sints({1, 2, 3}, true)},
       }},
  };
}

TEST(Transcripts, MatchTheGoldenFiles) {
  const bool update = std::getenv("CORVELLA_UPDATE_GOLDEN") != nullptr;
  for (const Golden& g : goldens()) {
    const std::string got = transcript(g.entries);
    const std::string path = golden_path(g.file);
    if (update) {
      std::ofstream(path, std::ios::binary) << got;
      continue;
    }
    EXPECT_EQ(got, read_file(path)) << g.file;
  }
}

}  // namespace
