// MD5 against RFC 1321's test suite and against coreutils md5sum on random
// data fed in random pieces from odd addresses.
#include "dng/core/dng_md5.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "support/temp_folder.h"

namespace {

std::string hex(const dng_digest& d) {
  std::string s;
  char buf[3];
  for (uint8_t b : d.data) {
    snprintf(buf, sizeof buf, "%02x", b);
    s += buf;
  }
  return s;
}

std::string md5_of(const std::string& text) {
  dng_md5_context md5;
  md5.Feed(text.data(), text.size());
  return hex(md5.Digest());
}

// The digest md5sum (coreutils) prints for a file.
std::string md5sum_of(const std::string& path) {
  std::string command = "md5sum '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return "popen failed";
  char line[64] = {};
  if (fgets(line, sizeof line, pipe) == nullptr) line[0] = 0;
  pclose(pipe);
  return std::string(line).substr(0, 32);
}

TEST(Md5, Rfc1321TestSuite) {
  struct Case {
    std::string input;
    const char* digest;
  };
  const Case cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"a", "0cc175b9c0f1b6a831c399e269772661"},
      {"abc", "900150983cd24fb0d6963f7d28e17f72"},
      {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
      {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
      {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
       "d174ab98d277d9f5a5611c2c9f419d9f"},
      {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
       "57edf4a22be3c955ac49da2e2107b67a"},
      {std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
  };
  for (const Case& c : cases) EXPECT_EQ(md5_of(c.input), c.digest) << c.input.size() << " bytes";
}

TEST(Md5, PiecesAroundTheBlockBoundaryGiveTheWholeDigest) {
  std::string data(128, 0);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  dng_md5_context pieces;
  pieces.Feed(data.data(), 63);
  pieces.Feed(data.data() + 63, 1);
  pieces.Feed(data.data() + 64, 0);
  pieces.Feed(data.data() + 64, 64);
  EXPECT_EQ(hex(pieces.Digest()), md5_of(data));
}

TEST(Md5, DigestTwiceGivesTheSameBytes) {
  dng_md5_context md5;
  md5.Feed("abc", 3);
  dng_digest first = md5.Digest();
  EXPECT_TRUE(md5.Digest().SameAs(first));
  EXPECT_EQ(hex(first), "900150983cd24fb0d6963f7d28e17f72");
}

TEST(Md5, PaddingLengthsAroundFiftySix) {
  // 55 bytes pad within one block, 56 to 63 need a second one; md5sum of
  // the same bytes is the oracle for each length.
  testing_support::TempFolder folder;
  for (size_t length : {55u, 56u, 57u, 63u, 64u, 65u, 119u, 120u}) {
    std::string data(length, 'x');
    EXPECT_EQ(md5_of(data), md5sum_of(folder.write_file("pad.bin", data))) << length;
  }
}

TEST(Md5, RandomPiecesFromOddAddressesMatchMd5sum) {
  testing_support::TempFolder folder;
  std::mt19937 random(12);
  for (int round = 0; round < 4; ++round) {
    size_t size = std::uniform_int_distribution<size_t>(1, 300000)(random);
    // One spare byte in front so that the data can start at an odd address.
    std::vector<uint8_t> storage(size + 1);
    uint8_t* data = storage.data() + 1;
    for (size_t i = 0; i < size; ++i) data[i] = static_cast<uint8_t>(random());
    std::string path = folder.write_file("random.bin", std::string(reinterpret_cast<char*>(data), size));

    dng_md5_context md5;
    size_t done = 0;
    while (done < size) {
      size_t piece = std::uniform_int_distribution<size_t>(0, 200)(random);
      if (piece > size - done) piece = size - done;
      md5.Feed(data + done, piece);
      done += piece;
    }

    EXPECT_EQ(hex(md5.Digest()), md5sum_of(path)) << size << " bytes";
  }
}

TEST(Md5, WordsLoadLittleEndianFromAnyAddress) {
  const uint8_t bytes[] = {0xAA, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
  uint32_t words[2];
  md5_load_words(words, bytes + 1, 8);
  EXPECT_EQ(words[0], 0x04030201u);
  EXPECT_EQ(words[1], 0x08070605u);
}

TEST(Digest, ZeroAndSameAs) {
  dng_digest a;
  dng_digest b;
  EXPECT_TRUE(a.IsZero());
  EXPECT_TRUE(a.SameAs(b));
  b.data[15] = 1;
  EXPECT_FALSE(b.IsZero());
  EXPECT_FALSE(a.SameAs(b));
}

}  // namespace
