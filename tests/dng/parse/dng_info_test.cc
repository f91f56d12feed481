// The container parser over builder files: byte order and magic, the
// directory chain and SubIFDs, the EXIF, GPS and Interoperability
// directories, every maker-note layout and private-data section, the
// choice of the main directory, and the exact lines each case prints.
#include "dng/parse/dng_info.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "dng/parse/dng_tag_names.h"
#include "parse_harness.h"
#include "support/dng_builder.h"

namespace {

using dng_parse_test::error;
using dng_parse_test::parse_bytes;
using dng_parse_test::warning;
using testing_support::DngBuilder;
using testing_support::MakerNoteKind;
using testing_support::MakerNoteSpec;
constexpr int kIfd0 = DngBuilder::kIfd0;

// Records every entry the parser hands out and every maker-note directory
// it reads.
class RecordingInfo : public dng_info {
 public:
  void ReadTag(dng_host& host, dng_stream& stream, dng_exif* exif_object, dng_shared* shared_object,
               dng_ifd* ifd_object, uint32_t parent, uint32_t tag, uint32_t type, uint32_t count,
               uint64_t value_position, int64_t offset_delta) override {
    tags->push_back({parent, tag});
    dng_info::ReadTag(host, stream, exif_object, shared_object, ifd_object, parent, tag, type, count, value_position,
                      offset_delta);
  }
  bool ReadMakerNoteIfd(dng_host& host, dng_stream& stream, uint64_t size, uint64_t position, int64_t delta,
                        uint64_t lowest, uint64_t highest, uint32_t parent) override {
    bool read = dng_info::ReadMakerNoteIfd(host, stream, size, position, delta, lowest, highest, parent);
    if (read) directories->push_back({parent, static_cast<uint32_t>(position)});
    return read;
  }
  std::shared_ptr<std::vector<std::pair<uint32_t, uint32_t>>> tags =
      std::make_shared<std::vector<std::pair<uint32_t, uint32_t>>>();
  std::shared_ptr<std::vector<std::pair<uint32_t, uint32_t>>> directories =
      std::make_shared<std::vector<std::pair<uint32_t, uint32_t>>>();
};

struct Recorded {
  dng_parse_test::ParseResult result;
  std::vector<std::pair<uint32_t, uint32_t>> tags;         // (parent, tag)
  std::vector<std::pair<uint32_t, uint32_t>> directories;  // (parent, position)
  bool has(uint32_t parent, uint32_t tag) const {
    return std::find(tags.begin(), tags.end(), std::make_pair(parent, tag)) != tags.end();
  }
};

Recorded parse_recorded(const std::string& bytes) {
  auto info = std::make_unique<RecordingInfo>();
  auto tags = info->tags;
  auto directories = info->directories;
  Recorded r{parse_bytes(bytes, std::move(info)), {}, {}};
  r.tags = *tags;
  r.directories = *directories;
  return r;
}

DngBuilder valid_dng(bool big = false) {
  DngBuilder b(big);
  b.add_dng_tags();
  b.add_cfa_image(kIfd0);
  return b;
}

struct InfoCase {
  const char* name;
  std::function<void(DngBuilder&)> mutate;
  std::string transcript;
  bool valid;
  int32_t code = 0;
  std::function<void(DngBuilder&, std::string&)> damage = nullptr;  // after build
};

std::vector<InfoCase> info_cases() {
  return {
      {"valid", [](DngBuilder&) {}, "", true},
      {"mixed byte-order mark", [](DngBuilder&) {},
       error("Unknown byte order") + error("File format is invalid"), false, 100006,
       [](DngBuilder&, std::string& s) {
         s[0] = 'I';
         s[1] = 'M';
       }},
      {"magic 43", [](DngBuilder& b) { b.set_magic(43); },
       error("Invalid TIFF magic number") + error("File format is invalid"), false, 100006},
      {"magic 0x4F52 parses, then fails validity", [](DngBuilder& b) { b.set_magic(0x4F52); },
       error("Invalid TIFF magic number"), false},
      {"magic 85 sends IFD-0 tags below 254 elsewhere", [](DngBuilder& b) { b.set_magic(85); },
       error("Invalid TIFF magic number"), false},
      {"DNG 1.4 backward 1.3", [](DngBuilder& b) {
         b.remove(kIfd0, 50706);
         b.remove(kIfd0, 50707);
         b.add_byte(kIfd0, 50706, {1, 4, 0, 0});
         b.add_byte(kIfd0, 50707, {1, 3, 0, 0});
       },
       error("DNGBackwardVersion (or DNGVersion) is too high"), false},
      {"no NewSubFileType 0 anywhere", [](DngBuilder& b) {
         b.remove(kIfd0, 254);
         b.add_long(kIfd0, 254, {1});
         b.remove(kIfd0, 50719);
         b.remove(kIfd0, 50720);
       },
       error("Unable to find main image IFD"), false},
      {"two main images", [](DngBuilder& b) {
         int sub = b.add_ifd();
         b.add_cfa_image(sub);
         b.add_subifds(kIfd0, {sub});
       },
       error("Multiple IFDs marked as main image"), true},
      {"eleven chained directories", [](DngBuilder& b) {
         int previous = kIfd0;
         for (int i = 0; i < 11; ++i) {
           int next = b.add_ifd();
           b.add_rgb_preview(next);
           b.set_next(previous, next);
           previous = next;
         }
       },
       warning("Chained IFD count exceeds DNG parsing limit") +
           warning("This file has Chained IFDs, which will be ignored by DNG readers"),
       true},
      {"twelve SubIFDs", [](DngBuilder& b) {
         std::vector<int> subs;
         for (int i = 0; i < 12; ++i) {
           subs.push_back(b.add_ifd());
           b.add_rgb_preview(subs.back());
         }
         b.add_subifds(kIfd0, subs);
       },
       warning("SubIFD count exceeds DNG parsing limit"), true},
      {"unsorted tags", [](DngBuilder&) {}, warning("IFD 0 tags are not sorted in ascending numerical order"), true,
       0,
       [](DngBuilder& b, std::string& s) {
         // ImageLength before ImageWidth.
         uint32_t width = b.entry_position(kIfd0, 256), length = b.entry_position(kIfd0, 257);
         std::string w = s.substr(width, 12);
         s.replace(width, 12, s.substr(length, 12));
         s.replace(length, 12, w);
       }},
      {"unknown type", [](DngBuilder& b) { b.add_raw(kIfd0, 700, 99, 4, 0); },
       warning("IFD 0 XMP has unknown type (99)"), true},
      {"odd data offset", [](DngBuilder& b) { b.add_ascii(kIfd0, 305, "Software"); },
       warning("IFD 0 Software has odd data offset (%)"), true,
       0,
       [](DngBuilder& b, std::string& s) {
         uint32_t at = b.entry_position(kIfd0, 305) + 8;
         uint32_t odd = b.value_position(kIfd0, 305) + 1;
         s.replace(at, 4, b.u32(odd));
       }},
      {"zero/zero entry ends IFD 0 and its link", [](DngBuilder& b) {
         int chained = b.add_ifd();
         b.add_rgb_preview(chained);
         b.set_next(kIfd0, chained);
         b.add_raw(kIfd0, 65000, 3, 1, 0);
       },
       warning("IFD 0 had zero/zero tag code/type entry"), true, 0,
       [](DngBuilder& b, std::string& s) { s.replace(b.entry_position(kIfd0, 65000), 4, std::string(4, '\0')); }},
      {"EXIF directory past the end", [](DngBuilder& b) { b.exif_ifd(); }, error("File format is invalid") , false,
       100011, [](DngBuilder& b, std::string& s) { s.replace(b.entry_position(kIfd0, 34665) + 8, 4, b.u32(1 << 20)); }},
      {"Interoperability directory past the end only warns", [](DngBuilder& b) { b.interop_ifd(); },
       warning("The Interoperability IFD is not a valid IFD"), true, 0,
       [](DngBuilder& b, std::string& s) {
         s.replace(b.entry_position(b.exif_ifd(), 40965) + 8, 4, b.u32(1 << 20));
       }},
      {"Interoperability directory whose value count is 2^30", [](DngBuilder& b) {
         b.add_ascii(b.interop_ifd(), 1, "R98 and more");
       },
       warning("The Interoperability IFD is not a valid IFD"), true, 0,
       [](DngBuilder& b, std::string& s) {
         s.replace(b.entry_position(b.interop_ifd(), 1) + 4, 4, b.u32(0x40000001));
       }},
  };
}

TEST(DngInfoTest, StructureByTable) {
  for (bool big : {false, true}) {
    for (const InfoCase& c : info_cases()) {
      DngBuilder b = valid_dng(big);
      c.mutate(b);
      std::string bytes = b.build();
      if (c.damage) c.damage(b, bytes);
      auto r = parse_bytes(bytes);
      std::string expected = c.transcript;
      // The odd offset is only known once built.
      auto pct = expected.find("(%)");
      if (pct != std::string::npos) {
        expected.replace(pct, 3, "(" + std::to_string(b.value_position(kIfd0, 305) + 1) + ")");
      }
      if (c.code == 100011) expected = error("Unexpected end-of-file");
      EXPECT_EQ(r.code, c.code) << c.name << " big " << big;
      EXPECT_EQ(r.valid, c.valid) << c.name << " big " << big;
      EXPECT_EQ(r.err, expected) << c.name << " big " << big;
      EXPECT_EQ(r.out_bytes, 0) << c.name;
    }
  }
}

TEST(DngInfoTest, ChainAndSubIfdsAreReadInOrder) {
  DngBuilder b = valid_dng();
  // IFD 0 -> SubIFDs a, b; a -> SubIFD c (read after b: breadth first).
  int a = b.add_ifd(), bb = b.add_ifd(), c = b.add_ifd(), chained = b.add_ifd();
  for (int ifd : {a, bb, c, chained}) b.add_rgb_preview(ifd);
  b.add_subifds(kIfd0, {a, bb});
  b.add_subifds(a, {c});
  b.set_next(kIfd0, chained);
  auto r = parse_bytes(b.build());
  ASSERT_EQ(r.code, 0) << r.err;
  const dng_info& info = *r.info;
  EXPECT_EQ(info.ifd_count, 4u);
  EXPECT_EQ(info.ifd[1]->this_ifd_offset, b.ifd_offset(a));
  EXPECT_EQ(info.ifd[2]->this_ifd_offset, b.ifd_offset(bb));
  EXPECT_EQ(info.ifd[3]->this_ifd_offset, b.ifd_offset(c));
  EXPECT_EQ(info.chained_ifd_count, 1u);
  EXPECT_EQ(info.chained_ifd[0]->this_ifd_offset, b.ifd_offset(chained));
  EXPECT_EQ(info.main_index, 0);
  EXPECT_FALSE(info.ifd[0]->lossless_jpeg_bug16);
  EXPECT_EQ(r.err, warning("This file has Chained IFDs, which will be ignored by DNG readers"));
}

TEST(DngInfoTest, DngOneZeroSetsTheLosslessJpegQuirk) {
  DngBuilder b;
  b.add_dng_tags(0x01000000, 0);
  b.add_cfa_image(kIfd0);
  auto r = parse_bytes(b.build());
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(r.info->ifd[0]->lossless_jpeg_bug16);
}

TEST(DngInfoTest, MagicEightyFiveRedirectsLowIfd0Tags) {
  // An unterminated text under tag 1 warns in IFD 0; with magic 85 it goes
  // to the Panasonic RAW parent, whose texts are read without warnings.
  for (uint16_t magic : {42, 85}) {
    DngBuilder b = valid_dng();
    b.set_magic(magic);
    b.add_ascii(kIfd0, 1, "abcdef", false);
    auto r = parse_recorded(b.build());
    bool warned = r.result.err.find("is not NULL terminated") != std::string::npos;
    EXPECT_EQ(warned, magic == 42) << r.result.err;
    EXPECT_EQ(r.result.info->ifd[0]->image_width, 16u);
  }
}

uint32_t expected_parent(MakerNoteKind kind) {
  switch (kind) {
    case MakerNoteKind::kEpson: return dng_parent_epson_maker_note;
    case MakerNoteKind::kFujifilm: return dng_parent_fuji_maker_note;
    case MakerNoteKind::kLeica: return dng_parent_leica_maker_note;
    case MakerNoteKind::kNikon:
    case MakerNoteKind::kMakeNikon: return dng_parent_nikon_maker_note;
    case MakerNoteKind::kOlympus: return dng_parent_olympus_maker_note;
    case MakerNoteKind::kPanasonic: return dng_parent_panasonic_maker_note;
    case MakerNoteKind::kPentax: return dng_parent_pentax_maker_note;
    case MakerNoteKind::kRicoh: return dng_parent_ricoh_maker_note;
    case MakerNoteKind::kMakeCanon: return dng_parent_canon_maker_note;
    case MakerNoteKind::kMakeMinolta:
    case MakerNoteKind::kMakeKonicaMinolta: return dng_parent_minolta_maker_note;
    case MakerNoteKind::kMakeSony: return dng_parent_sony_maker_note;
    case MakerNoteKind::kMakeKodak: return dng_parent_kodak_maker_note;
    case MakerNoteKind::kMamiya: return dng_parent_mamiya_maker_note;
  }
  return 0;
}

// Each layout in either file order and either own order: both entries of
// the directory reach the readers, the out-of-line one through the offset
// base the layout uses; nothing is printed.
TEST(DngInfoTest, EveryMakerNoteLayoutIsRead) {
  for (MakerNoteKind kind : testing_support::all_maker_note_kinds()) {
    for (bool big : {false, true}) {
      for (bool own_big : {false, true}) {
        MakerNoteSpec spec;
        spec.kind = kind;
        spec.own_big_endian = own_big;
        DngBuilder b = valid_dng(big);
        b.add_maker_note(spec);
        auto r = parse_recorded(b.build());
        std::string name = testing_support::maker_note_kind_name(kind);
        ASSERT_EQ(r.result.code, 0) << name << r.result.err;
        EXPECT_TRUE(r.result.valid) << name;
        EXPECT_EQ(r.result.err, "") << name;
        uint32_t parent = expected_parent(kind);
        EXPECT_TRUE(r.has(parent, 0x0001)) << name << " big " << big;
        EXPECT_TRUE(r.has(parent, 0x0002)) << name << " big " << big;
        ASSERT_EQ(r.directories.size(), 1u) << name;
      }
    }
  }
}

TEST(DngInfoTest, MakerNoteSubdirectories) {
  for (bool big : {false, true}) {
    MakerNoteSpec olympus;
    olympus.kind = MakerNoteKind::kOlympus;
    olympus.olympus_subdirectory = true;
    DngBuilder b = valid_dng(big);
    b.add_maker_note(olympus);
    auto r = parse_recorded(b.build());
    EXPECT_TRUE(r.has(dng_parent_olympus_8208, 0x0100)) << r.result.err;

    MakerNoteSpec ricoh;
    ricoh.kind = MakerNoteKind::kRicoh;
    ricoh.ricoh_camera_info = true;
    DngBuilder c = valid_dng(big);
    c.add_maker_note(ricoh);
    auto s = parse_recorded(c.build());
    EXPECT_TRUE(s.has(dng_parent_ricoh_camera_info, 0x0003)) << s.result.err;
  }
}

// The chain follows its links, ends at a zero link, and a loop back to its
// start ends too: each directory is read once.
TEST(DngInfoTest, MamiyaChainEnds) {
  for (bool loop : {false, true}) {
    MakerNoteSpec spec;
    spec.kind = MakerNoteKind::kMamiya;
    spec.mamiya_directories = 3;
    spec.mamiya_loop = loop;
    DngBuilder b = valid_dng();
    b.add_maker_note(spec);
    auto r = parse_recorded(b.build());
    ASSERT_EQ(r.result.code, 0);
    EXPECT_EQ(r.directories.size(), 3u) << "loop " << loop;
  }
  // A directory that links to itself.
  MakerNoteSpec spec;
  spec.kind = MakerNoteKind::kMamiya;
  spec.mamiya_loop = true;
  DngBuilder b = valid_dng();
  b.add_maker_note(spec);
  auto r = parse_recorded(b.build());
  EXPECT_EQ(r.directories.size(), 1u);
}

// Nikon's header with a maker note shorter than it: no directory.
TEST(DngInfoTest, ShortNikonMakerNoteIsIgnored) {
  DngBuilder b = valid_dng();
  b.add_undefined(b.exif_ifd(), 37500, std::string("Nikon\0\2\x10\0", 9));
  auto r = parse_recorded(b.build());
  EXPECT_EQ(r.result.code, 0);
  EXPECT_TRUE(r.directories.empty());
}

TEST(DngInfoTest, PrivateDataSections) {
  for (bool big : {false, true}) {
    for (bool mark_big : {false, true}) {
      MakerNoteSpec canon;
      canon.kind = MakerNoteKind::kMakeCanon;
      DngBuilder b = valid_dng(big);
      b.add_ascii(kIfd0, 271, "Canon");
      b.remove(kIfd0, 271);
      b.add_ascii(kIfd0, 271, "Canon");
      b.add_private_data({testing_support::makn_section(canon, mark_big, 0x12345),
                          testing_support::sr2_section(mark_big),
                          testing_support::raf_section(mark_big, {"abcde", "", "fg"}),
                          testing_support::cntx_section(mark_big, "contax"),
                          testing_support::tag_block_section("CRW ", mark_big),
                          testing_support::tag_block_section("KDC ", mark_big),
                          testing_support::tag_block_section("Koda", mark_big),
                          testing_support::tag_block_section("Leaf", mark_big),
                          testing_support::tag_block_section("MRW ", mark_big),
                          testing_support::tag_block_section("Pano", mark_big),
                          {"Zzzz", "skipped", std::nullopt}});
      auto r = parse_recorded(b.build());
      ASSERT_EQ(r.result.code, 0) << r.result.err;
      EXPECT_EQ(r.result.err, "");
      // The maker note, with offsets shifted by the stored original offset.
      EXPECT_TRUE(r.has(dng_parent_canon_maker_note, 0x0002));
      EXPECT_TRUE(r.has(dng_parent_fuji_raf, dng_tag_fuji_header));
      EXPECT_FALSE(r.has(dng_parent_fuji_raf, dng_tag_fuji_raw_info1));
      EXPECT_TRUE(r.has(dng_parent_fuji_raf, dng_tag_fuji_raw_info2));
      EXPECT_TRUE(r.has(dng_parent_contax_raw, dng_tag_contax_header));
      for (uint32_t parent : {dng_parent_canon_crw, dng_parent_kodak_kdc, dng_parent_kodak_dcr, dng_parent_leaf_mos,
                              dng_parent_minolta_mrw, dng_parent_panasonic_raw}) {
        EXPECT_TRUE(r.has(parent, 1)) << parent;
        EXPECT_TRUE(r.has(parent, 2)) << parent;
      }
    }
  }
}

}  // namespace
