// Every builder file and every real DNG through a table of mutations:
// truncation at each directory and value boundary, hostile counts, offsets
// past the end, back to the same directory or from a pointer back to IFD 0,
// maker-note chains that loop, private-data lengths that wrap, enormous
// tiles and sample sizes, and ActiveArea at the int32 extremes. Each parse
// must end promptly with 0 or a DNG error. Allocations above 64 MB abort the
// test binary (see __asan_default_options below), so an allocation sized
// from a hostile count shows up as a failure.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "parse_harness.h"
#include "support/dng_builder.h"

extern "C" const char* __asan_default_options() { return "max_allocation_size_mb=64"; }

namespace {

using testing_support::DngBuilder;
using testing_support::MakerNoteKind;
using testing_support::MakerNoteSpec;
constexpr int kIfd0 = DngBuilder::kIfd0;

uint32_t get(const std::string& s, uint64_t at, int bytes, bool big) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) {
    v = (v << 8) | static_cast<uint8_t>(s[at + (big ? i : bytes - 1 - i)]);
  }
  return v;
}

void put32(std::string& s, uint64_t at, uint32_t v, bool big) {
  for (int i = 0; i < 4; ++i) {
    uint8_t byte = static_cast<uint8_t>(v >> (8 * (big ? 3 - i : i)));
    s[at + i] = static_cast<char>(byte);
  }
}

uint32_t type_size(uint32_t type) {
  static const uint32_t sizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4, 8, 4, 8, 4};
  return type < 14 ? sizes[type] : 0;
}

// The fields of a sound file's TIFF structure, found by a plain walk of IFD
// 0's chain, SubIFDs and the EXIF, GPS and Interoperability pointers.
struct Layout {
  bool big = false;
  std::set<uint64_t> boundaries;
  std::vector<uint64_t> entries;      // 12-byte entries
  std::vector<uint64_t> directories;  // directory positions
  std::vector<uint64_t> pointers;     // value fields of directory pointers
};

Layout walk(const std::string& s) {
  Layout l;
  if (s.size() < 8) return l;
  l.big = s[0] == 'M';
  std::vector<uint64_t> todo{get(s, 4, 4, l.big)};
  std::set<uint64_t> seen;
  while (!todo.empty() && seen.size() < 64) {
    uint64_t at = todo.back();
    todo.pop_back();
    if (at + 2 > s.size() || !seen.insert(at).second) continue;
    l.directories.push_back(at);
    l.boundaries.insert(at);
    l.boundaries.insert(at + 2);
    uint32_t n = get(s, at, 2, l.big);
    for (uint32_t i = 0; i < n && at + 2 + 12 * (i + 1) <= s.size(); ++i) {
      uint64_t e = at + 2 + 12 * i;
      l.entries.push_back(e);
      l.boundaries.insert(e + 12);
      uint32_t tag = get(s, e, 2, l.big), type = get(s, e + 2, 2, l.big), count = get(s, e + 4, 4, l.big);
      uint64_t bytes = uint64_t{type_size(type)} * count;
      uint32_t field = get(s, e + 8, 4, l.big);
      if (bytes > 4) {
        l.boundaries.insert(field);
        l.boundaries.insert(field + bytes);
      }
      bool pointer = tag == 330 || tag == 34665 || tag == 34853 || tag == 40965;
      if (pointer) l.pointers.push_back(e + 8);
      if (pointer && bytes <= 4) todo.push_back(field);
      if (tag == 330 && bytes > 4) {
        for (uint32_t k = 0; k < count && field + 4 * (k + 1) <= s.size(); ++k) todo.push_back(get(s, field + 4 * k, 4, l.big));
      }
    }
    uint64_t next = at + 2 + 12 * uint64_t{n};
    if (next + 4 <= s.size()) {
      l.boundaries.insert(next + 4);
      if (uint32_t link = get(s, next, 4, l.big)) todo.push_back(link);
    }
  }
  return l;
}

struct Outcome {
  int32_t code;
  double seconds;
  size_t err_bytes;
};

Outcome run(const std::string& bytes) {
  auto start = std::chrono::steady_clock::now();
  auto r = dng_parse_test::parse_bytes(bytes);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  EXPECT_EQ(r.out_bytes, 0);
  return {r.code, seconds, r.err.size()};
}

size_t g_largest_output = 0;

void expect_prompt(const std::string& bytes, const std::string& what) {
  Outcome o = run(bytes);
  g_largest_output = std::max(g_largest_output, o.err_bytes);
  EXPECT_TRUE(o.code == 0 || (o.code >= 100000 && o.code <= 100011)) << what << " code " << o.code;
  // Generous: a parse of these files takes milliseconds even under the
  // sanitizers on a loaded machine.
  EXPECT_LT(o.seconds, 10.0) << what;
}

// Every mutation of the table applied to one sound file.
void mutate_all(const std::string& file, const std::string& name) {
  Layout l = walk(file);
  ASSERT_FALSE(l.directories.empty()) << name;
  for (uint64_t cut : l.boundaries) {
    if (cut < file.size()) expect_prompt(file.substr(0, cut), name + " cut at " + std::to_string(cut));
  }
  const uint32_t ifd0 = get(file, 4, 4, l.big);
  for (uint64_t e : l.entries) {
    for (uint32_t count : {0u, 1u, 0x40000001u, 0xFFFFFFFFu}) {
      std::string m = file;
      put32(m, e + 4, count, l.big);
      expect_prompt(m, name + " count " + std::to_string(count) + " at " + std::to_string(e));
    }
    uint64_t directory = 0;
    for (uint64_t d : l.directories) {
      if (d < e) directory = std::max(directory, d);
    }
    for (uint32_t field : {static_cast<uint32_t>(file.size() + 2), 0xFFFFFFF0u, static_cast<uint32_t>(directory)}) {
      std::string m = file;
      put32(m, e + 8, field, l.big);
      expect_prompt(m, name + " field " + std::to_string(field) + " at " + std::to_string(e));
    }
  }
  for (uint64_t p : l.pointers) {
    std::string m = file;
    put32(m, p, ifd0, l.big);
    expect_prompt(m, name + " pointer back to IFD 0 at " + std::to_string(p));
  }
  for (uint64_t d : l.directories) {
    std::string m = file;
    uint32_t n = get(file, d, 2, l.big);
    uint64_t next = d + 2 + 12 * uint64_t{n};
    if (next + 4 > file.size()) continue;
    put32(m, next, static_cast<uint32_t>(d), l.big);  // the chain links to itself
    expect_prompt(m, name + " self link at " + std::to_string(d));
  }
}

std::string read_fixture(const std::string& name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/dng/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::pair<std::string, std::string>> builder_files() {
  std::vector<std::pair<std::string, std::string>> files;
  for (bool big : {false, true}) {
    std::string order = big ? " MM" : " II";
    DngBuilder cfa(big);
    cfa.add_dng_tags();
    cfa.add_cfa_image(kIfd0);
    cfa.add_rational(cfa.gps_ifd(), 2, {{52, 1}, {30, 1}, {0, 1}});
    cfa.add_ascii(cfa.interop_ifd(), 1, "R98");
    cfa.add_xmp(kIfd0, "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>");
    cfa.add_iptc(kIfd0, std::string("\x1C\x02\x00\x00\x02\x00\x04", 7));
    files.push_back({"cfa" + order, cfa.build()});

    DngBuilder linear(big);
    linear.add_dng_tags();
    linear.add_rgb_preview(kIfd0);
    int raw = linear.add_ifd(), preview = linear.add_ifd(), chained = linear.add_ifd();
    linear.add_linear_raw_image(raw, true);
    linear.add_rgb_preview(preview);
    linear.add_rgb_preview(chained);
    linear.add_subifds(kIfd0, {raw, preview});
    linear.set_next(kIfd0, chained);
    files.push_back({"linear raw with SubIFDs" + order, linear.build()});

    for (MakerNoteKind kind : testing_support::all_maker_note_kinds()) {
      MakerNoteSpec spec;
      spec.kind = kind;
      spec.own_big_endian = !big;
      spec.mamiya_directories = 3;
      spec.olympus_subdirectory = true;
      spec.ricoh_camera_info = true;
      DngBuilder b(big);
      b.add_dng_tags();
      b.add_cfa_image(kIfd0);
      b.add_maker_note(spec);
      files.push_back({std::string("maker note ") + testing_support::maker_note_kind_name(kind) + order, b.build()});
    }

    MakerNoteSpec canon;
    canon.kind = MakerNoteKind::kMakeCanon;
    DngBuilder priv(big);
    priv.add_dng_tags(0x01010000, 0x01010000, "Canon");
    priv.add_cfa_image(kIfd0);
    priv.add_private_data({testing_support::makn_section(canon, big, 4000), testing_support::sr2_section(big),
                           testing_support::raf_section(big, {"abc", "de"}), testing_support::cntx_section(big, "hdr"),
                           testing_support::tag_block_section("CRW ", big),
                           testing_support::tag_block_section("MRW ", big),
                           testing_support::tag_block_section("Leaf", big)});
    files.push_back({"private data" + order, priv.build()});
  }
  return files;
}

TEST(DngHostileTest, BuilderFilesUnderMutation) {
  for (const auto& [name, bytes] : builder_files()) {
    ASSERT_EQ(run(bytes).code, 0) << name;
    mutate_all(bytes, name);
  }
}

TEST(DngHostileTest, RealFilesUnderMutation) {
  for (const char* name : {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", "apple_iphone12pro_dng14_TRUNCATED.dng",
                           "canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng"}) {
    std::string bytes = read_fixture(name);
    ASSERT_GT(bytes.size(), 1000u) << name;
    mutate_all(bytes, name);
  }
}

// Private-data section lengths that wrap 32 bits or ask for far more than
// the file holds; a maker-note directory that links to itself.
TEST(DngHostileTest, PrivateDataAndMakerNoteLengths) {
  for (bool big : {false, true}) {
    MakerNoteSpec canon;
    canon.kind = MakerNoteKind::kMakeCanon;
    for (uint32_t length : {0xFFFFFFFFu, 0xFFFFFFF8u, 0xFFFFFFC6u, 0x80000000u, 0x7FFFFFFFu, 7u, 0u}) {
      for (int section = 0; section < 4; ++section) {
        DngBuilder b(big);
        b.add_dng_tags(0x01010000, 0x01010000, "Canon");
        b.add_cfa_image(kIfd0);
        b.add_private_data({testing_support::makn_section(canon, big, 100), testing_support::raf_section(big, {"abc"}),
                            testing_support::cntx_section(big, "hdr"), testing_support::tag_block_section("Pano", big)});
        b.build();
        b.patch_u32(b.mark("private." + std::to_string(section) + ".length"), length, true);
        expect_prompt(b.build(), "private section " + std::to_string(section) + " length " + std::to_string(length));
      }
    }
    MakerNoteSpec mamiya;
    mamiya.kind = MakerNoteKind::kMamiya;
    mamiya.mamiya_loop = true;
    DngBuilder b(big);
    b.add_dng_tags();
    b.add_cfa_image(kIfd0);
    b.add_maker_note(mamiya);
    expect_prompt(b.build(), "Mamiya self link");
  }
}

// Image geometry far beyond what the file holds.
TEST(DngHostileTest, GeometryExtremes) {
  struct Geometry {
    const char* name;
    std::function<void(DngBuilder&)> mutate;
  };
  auto replace_long = [](DngBuilder& b, uint16_t tag, std::vector<uint32_t> v) {
    b.remove(kIfd0, tag);
    b.add_long(kIfd0, tag, v);
  };
  std::vector<Geometry> cases = {
      {"tile 2^30 wide, 32-bit samples", [&](DngBuilder& b) {
         replace_long(b, 322, {1u << 30});
         b.remove(kIfd0, 258);
         b.add_short(kIfd0, 258, {32});
       }},
      {"tile 2^30 wide, 18-bit samples", [&](DngBuilder& b) {
         replace_long(b, 322, {1u << 30});
         b.remove(kIfd0, 258);
         b.add_short(kIfd0, 258, {18});
       }},
      {"BitsPerSample 65535", [&](DngBuilder& b) {
         b.remove(kIfd0, 258);
         b.add_short(kIfd0, 258, {65535});
         b.remove(kIfd0, 50717);
       }},
      {"ActiveArea at the int32 extremes", [&](DngBuilder& b) {
         replace_long(b, 50829, {0x80000000u, 0x80000000u, 0x7FFFFFFFu, 0x7FFFFFFFu});
       }},
      {"ActiveArea reversed extremes", [&](DngBuilder& b) {
         replace_long(b, 50829, {0x7FFFFFFFu, 0x7FFFFFFFu, 0x80000000u, 0x80000000u});
       }},
      {"image 2^32-1 square", [&](DngBuilder& b) {
         replace_long(b, 256, {0xFFFFFFFFu});
         replace_long(b, 257, {0xFFFFFFFFu});
       }},
      {"tile 1 x 1 of a 30000 square", [&](DngBuilder& b) {
         replace_long(b, 256, {30000});
         replace_long(b, 257, {30000});
         replace_long(b, 322, {1});
         replace_long(b, 323, {1});
       }},
  };
  for (const Geometry& g : cases) {
    DngBuilder b;
    b.add_dng_tags();
    b.add_cfa_image(kIfd0, true);
    g.mutate(b);
    auto r = dng_parse_test::parse_bytes(b.build());
    // A tile wider than the image passes validity (one tile); the others
    // fail it or the parse.
    EXPECT_TRUE(r.code == 0 || r.code == 100006) << g.name;
    if (r.code == 0) {
      const dng_ifd& ifd = *r.info->ifd[0];
      // Geometry answers stay finite and ordered.
      dng_tile_bounds last = ifd.TileBounds(ifd.TileRows() - 1, ifd.TileColumns() - 1);
      EXPECT_LE(last.top, last.bottom) << g.name;
      EXPECT_LE(last.left, last.right) << g.name;
      EXPECT_GT(ifd.UncompressedTileBytes(dng_box(0, 0, 16, 16)), 0u) << g.name;
    }
  }
}

TEST(DngHostileTest, ReportLargestOutput) {
  // Kept last in the file: the largest standard-error transcript any
  // mutation above produced, for the record.
  std::printf("largest standard-error output of a hostile case: %zu bytes\n", g_largest_output);
}

}  // namespace
