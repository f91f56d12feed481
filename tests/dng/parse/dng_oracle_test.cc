// Independent programs as oracles for the container parser: tiffinfo for
// the directory chain and SubIFDs, exiftool for the EXIF, GPS and
// Interoperability entries and the maker note, and exiftool -validate for
// structural faults planted in builder files. Skipped where the tools are
// not installed (scripts/install-deps installs them).
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "dng/support/command_output.h"
#include "dng/parse/dng_tag_names.h"
#include "parse_harness.h"
#include "support/dng_builder.h"

namespace {

using testing_support::DngBuilder;
using testing_support::MakerNoteKind;
using testing_support::MakerNoteSpec;
constexpr int kIfd0 = DngBuilder::kIfd0;

bool have(const char* tool) { return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0; }

// The bytes in a temporary .dng file for the life of the object.
struct TempDng {
  explicit TempDng(const std::string& bytes) {
    char name[] = "/tmp/dng_oracle_XXXXXX.dng";
    int fd = mkstemps(name, 4);
    path = name;
    if (fd >= 0) {
      if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) ADD_FAILURE() << "short write";
      close(fd);
    }
  }
  ~TempDng() { unlink(path.c_str()); }
  std::string path;
};

class RecordingInfo : public dng_info {
 public:
  void ReadTag(dng_host& host, dng_stream& stream, dng_exif* e, dng_shared* s, dng_ifd* ifd, uint32_t parent,
               uint32_t tag, uint32_t type, uint32_t count, uint64_t value_position, int64_t delta) override {
    tags->insert({parent, tag});
    dng_info::ReadTag(host, stream, e, s, ifd, parent, tag, type, count, value_position, delta);
  }
  bool ReadMakerNoteIfd(dng_host& host, dng_stream& stream, uint64_t size, uint64_t position, int64_t delta,
                        uint64_t lowest, uint64_t highest, uint32_t parent) override {
    bool read = dng_info::ReadMakerNoteIfd(host, stream, size, position, delta, lowest, highest, parent);
    *maker_note_directories += read ? 1 : 0;
    return read;
  }
  std::shared_ptr<std::set<std::pair<uint32_t, uint32_t>>> tags = std::make_shared<std::set<std::pair<uint32_t, uint32_t>>>();
  std::shared_ptr<int> maker_note_directories = std::make_shared<int>(0);
};

struct Ours {
  dng_parse_test::ParseResult result;
  std::set<std::pair<uint32_t, uint32_t>> tags;
  int maker_note_directories = 0;
};

Ours parse(const std::string& bytes) {
  auto info = std::make_unique<RecordingInfo>();
  auto tags = info->tags;
  auto directories = info->maker_note_directories;
  Ours o{dng_parse_test::parse_bytes(bytes, std::move(info)), {}, 0};
  o.tags = *tags;
  o.maker_note_directories = *directories;
  return o;
}

std::string read_fixture(const std::string& name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/dng/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

std::vector<std::pair<std::string, std::string>> oracle_files() {
  std::vector<std::pair<std::string, std::string>> files;
  for (bool big : {false, true}) {
    std::string order = big ? " MM" : " II";
    DngBuilder b(big);
    b.add_dng_tags();
    b.add_rgb_preview(kIfd0);
    int raw = b.add_ifd(), preview = b.add_ifd(), nested = b.add_ifd(), chained = b.add_ifd();
    b.add_cfa_image(raw, true);
    b.add_rgb_preview(preview);
    b.add_rgb_preview(nested);
    b.add_rgb_preview(chained);
    b.add_subifds(kIfd0, {raw, preview});
    b.add_subifds(preview, {nested});
    b.set_next(kIfd0, chained);
    b.add_rational(b.exif_ifd(), 33434, {{1, 100}});
    b.add_ascii(b.exif_ifd(), 36867, "2026:12:10 10:00:00");
    b.add_rational(b.gps_ifd(), 2, {{52, 1}, {30, 1}, {0, 1}});
    b.add_ascii(b.gps_ifd(), 1, "N");
    b.add_ascii(b.interop_ifd(), 1, "R98");
    MakerNoteSpec note;
    note.kind = MakerNoteKind::kMakeCanon;
    b.add_maker_note(note);
    files.push_back({"builder" + order, b.build()});
  }
  for (const char* name : {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", "apple_iphone12pro_dng14_TRUNCATED.dng",
                           "canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng"}) {
    files.push_back({name, read_fixture(name)});
  }
  return files;
}

// Every directory tiffinfo prints (the chain, SubIFDs, the EXIF directory)
// is one we read, and every directory of our IFD table and chain is one
// tiffinfo prints.
TEST(DngOracleTest, DirectoriesMatchTiffinfo) {
  if (!have("tiffinfo")) GTEST_SKIP() << "tiffinfo not installed";
  for (const auto& [name, bytes] : oracle_files()) {
    TempDng file(bytes);
    std::string out = dng_test::command_output("tiffinfo " + file.path + " 2>/dev/null");
    std::set<uint32_t> theirs;
    // "TIFF Directory at offset 0x1ba (442)"
    const std::string marker = "TIFF Directory at offset 0x";
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
      size_t open = out.find('(', at), close = out.find(')', at);
      if (open == std::string::npos || close == std::string::npos) break;
      theirs.insert(static_cast<uint32_t>(std::stoul(out.substr(open + 1, close - open - 1))));
    }
    Ours o = parse(bytes);
    ASSERT_EQ(o.result.code, 0) << name;
    const dng_info& info = *o.result.info;
    std::set<uint32_t> ours;
    for (uint32_t i = 0; i < info.ifd_count; ++i) ours.insert(info.ifd[i]->this_ifd_offset);
    for (uint32_t i = 0; i < info.chained_ifd_count; ++i) ours.insert(info.chained_ifd[i]->this_ifd_offset);
    std::set<uint32_t> ours_all = ours;
    for (uint32_t at : {info.shared->exif_ifd, info.shared->gps_info, info.shared->interoperability_ifd}) {
      if (at != 0) ours_all.insert(at);
    }
    for (uint32_t at : theirs) EXPECT_TRUE(ours_all.count(at)) << name << " tiffinfo directory at " << at;
    // tiffinfo lists the SubIFDs of the chain's directories but not those
    // of a SubIFD; we read those too (breadth first).
    for (uint32_t j = 1; j < info.ifd_count; ++j) {
      for (uint32_t k = 0; k < info.ifd[j]->sub_ifds_count; ++k) {
        uint32_t at = info.ifd[j]->sub_ifds_position + 4 * k, v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | static_cast<uint8_t>(bytes[at + (info.big_endian ? i : 3 - i)]);
        ours.erase(v);
      }
    }
    for (uint32_t at : ours) EXPECT_TRUE(theirs.count(at)) << name << " our directory at " << at;
  }
}

// exiftool's EXIF, GPS and Interoperability entries (by tag id) are the
// entries we handed to the tag readers under those parents; the pointer and
// maker-note entries exiftool shows as groups of their own.
TEST(DngOracleTest, MetadataDirectoriesMatchExiftool) {
  if (!have("exiftool")) GTEST_SKIP() << "exiftool not installed";
  const std::map<std::string, uint32_t> groups = {
      {"ExifIFD", dng_parent_exif}, {"GPS", dng_parent_gps}, {"InteropIFD", dng_parent_interop}};
  for (const auto& [name, bytes] : oracle_files()) {
    TempDng file(bytes);
    std::string out = dng_test::command_output("exiftool -a -u -G1 -H -s " + file.path + " 2>/dev/null");
    std::set<std::pair<uint32_t, uint32_t>> theirs;
    std::set<std::string> other_groups;
    // "[ExifIFD]       0x829a ExposureTime  : 1/100"
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
      if (l.empty() || l[0] != '[') continue;
      size_t close = l.find(']');
      size_t id = l.find("0x", close);
      if (close == std::string::npos || id == std::string::npos || id > close + 16) continue;
      std::string group = l.substr(1, close - 1);
      auto g = groups.find(group);
      if (g != groups.end()) {
        theirs.insert({g->second, static_cast<uint32_t>(std::stoul(l.substr(id + 2, 4), nullptr, 16))});
      } else {
        other_groups.insert(group);
      }
    }
    Ours o = parse(bytes);
    ASSERT_EQ(o.result.code, 0) << name;
    for (const auto& t : theirs) {
      EXPECT_TRUE(o.tags.count(t)) << name << " exiftool tag " << t.first << "/" << t.second;
    }
    for (const auto& t : o.tags) {
      bool metadata = t.first == dng_parent_exif || t.first == dng_parent_gps || t.first == dng_parent_interop;
      bool pointer_or_note = t.second == 0xa005 || t.second == 0x927c;
      if (metadata && !pointer_or_note) {
        EXPECT_TRUE(theirs.count(t)) << name << " our tag " << t.first << "/" << t.second;
      }
    }
    // A maker note: exiftool decodes one exactly where we read its
    // directory. The Apple maker note of the iPhone file has a layout the
    // parser does not know: exiftool decodes it, we skip it.
    bool their_note = other_groups.count("Canon") || other_groups.count("Apple");
    bool apple = other_groups.count("Apple") != 0;
    EXPECT_EQ(their_note && !apple, o.maker_note_directories > 0) << name;
  }
}

// Structural faults planted in a builder file: exiftool -validate names
// each among its non-minor findings, and so do we.
TEST(DngOracleTest, PlantedFaultsFoundByBoth) {
  if (!have("exiftool")) GTEST_SKIP() << "exiftool not installed";
  struct Fault {
    const char* name;
    std::function<void(DngBuilder&, std::string&)> plant;
    std::string exiftool_says;
    std::string we_say;  // a line of ours, or "" when the parse ends with 100011
  };
  const std::vector<Fault> faults = {
      {"entries out of order",
       [](DngBuilder& b, std::string& s) {
         uint32_t w = b.entry_position(kIfd0, 256), l = b.entry_position(kIfd0, 257);
         std::string e = s.substr(w, 12);
         s.replace(w, 12, s.substr(l, 12));
         s.replace(l, 12, e);
       },
       "Entries in IFD0 are out of order", "IFD 0 tags are not sorted in ascending numerical order"},
      {"byte-count count 0x40000001",
       [](DngBuilder& b, std::string& s) { s.replace(b.entry_position(kIfd0, 279) + 4, 4, b.u32(0x40000001)); },
       "Invalid size", "Missing or invalid Strip/TileByteCounts"},
      {"EXIF pointer past the end",
       [](DngBuilder& b, std::string& s) { s.replace(b.entry_position(kIfd0, 34665) + 8, 4, b.u32(1 << 20)); },
       "Bad ExifIFD directory", ""},
  };
  for (const Fault& f : faults) {
    DngBuilder b;
    b.add_dng_tags();
    b.add_cfa_image(kIfd0);
    b.add_ascii(b.exif_ifd(), 36867, "2026:12:10 10:00:00");
    std::string bytes = b.build();
    f.plant(b, bytes);
    TempDng file(bytes);
    std::string out = dng_test::command_output("exiftool -validate -warning -a " + file.path + " 2>/dev/null");
    bool found = false;
    std::istringstream lines(out);
    for (std::string l; std::getline(lines, l);) {
      if (l.find("[minor]") == std::string::npos && l.find(f.exiftool_says) != std::string::npos) found = true;
    }
    EXPECT_TRUE(found) << f.name << "\n" << out;
    auto r = dng_parse_test::parse_bytes(bytes);
    if (f.we_say.empty()) {
      EXPECT_EQ(r.code, 100011) << f.name;
    } else {
      EXPECT_NE(r.err.find(f.we_say), std::string::npos) << f.name << "\n" << r.err;
    }
  }
}

}  // namespace
