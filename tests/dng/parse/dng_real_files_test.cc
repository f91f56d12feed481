// Real DNG files (tests/fixtures/dng, see PROVENANCE.md): what the
// container parser decides and the exact lines it prints.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "parse_harness.h"

namespace {

using dng_parse_test::error;
using dng_parse_test::warning;

std::string read_fixture(const std::string& name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/dng/" + name, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct RealCase {
  const char* file;
  bool valid;
  std::string transcript;
  uint32_t ifd_count;
  int32_t main_index;
};

TEST(DngRealFilesTest, VerdictsAndTranscripts) {
  const std::string pad = "possible interpolation artifacts";
  const RealCase cases[] = {
      // Uncompressed CFA in IFD 0 with a default crop that leaves no
      // padding: valid, with the four padding warnings. Only the first 64 KB
      // are kept; the structure lies wholly within them and strip data are
      // not read here.
      {"canon_eos_kissx4_magiclantern_cfa_FIRST64K.dng", true,
       warning("Too little padding on left edge of CFA image", pad) +
           warning("Too little padding on top edge of CFA image", pad) +
           warning("Too little padding on right edge of CFA image", pad) +
           warning("Too little padding on bottom edge of CFA image", pad),
       1, 0},
      // 3516 x 2328 in 256 x 240 tiles needs 140 offsets; the file keeps 1.
      {"canon_eos_350d_ljpeg_tiled_STRIPPED.dng", false, error("Missing or invalid Strip/TileOffsets", "SubIFD 1"),
       4, 1},
      // DNG 1.4 with backward version 1.3.
      {"apple_iphone12pro_dng14_TRUNCATED.dng", false, error("DNGBackwardVersion (or DNGVersion) is too high"), 3, 1},
  };
  for (const RealCase& c : cases) {
    std::string bytes = read_fixture(c.file);
    ASSERT_FALSE(bytes.empty()) << c.file;
    auto r = dng_parse_test::parse_bytes(bytes);
    EXPECT_EQ(r.code, 0) << c.file;
    EXPECT_EQ(r.valid, c.valid) << c.file;
    EXPECT_EQ(r.err, c.transcript) << c.file;
    EXPECT_EQ(r.out_bytes, 0) << c.file;
    EXPECT_EQ(r.info->ifd_count, c.ifd_count) << c.file;
    EXPECT_EQ(r.info->main_index, c.main_index) << c.file;
  }
}

// The stripped file keeps its maker note inside DNGPrivateData: the copied
// block is parsed as a Canon maker note.
TEST(DngRealFilesTest, MakerNoteInsidePrivateData) {
  auto r = dng_parse_test::parse_bytes(read_fixture("canon_eos_350d_ljpeg_tiled_STRIPPED.dng"));
  ASSERT_EQ(r.code, 0);
  EXPECT_GT(r.info->shared->dng_private_data_count, 6u);
  EXPECT_TRUE(r.info->exif->make.BeginsWith("Canon", true));
}

}  // namespace
