#include "frontend/core/sha512.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace frontend;

std::string hex(const uint8_t* bytes, size_t n) {
  std::string text;
  char two[3];
  for (size_t i = 0; i < n; ++i) {
    snprintf(two, sizeof two, "%02x", bytes[i]);
    text += two;
  }
  return text;
}

std::string digest_hex(const Sha512& state_in) {
  Sha512 state = state_in;
  uint8_t out[kSha512DigestSize];
  sha512_finish(&state, out);
  return hex(out, sizeof out);
}

std::string digest_of(const void* bytes, size_t n) {
  Sha512 state;
  sha512_start(&state);
  sha512_feed(&state, bytes, n);
  return digest_hex(state);
}

std::string digest_of(const std::string& text) { return digest_of(text.data(), text.size()); }

// The test message: byte i is i mod 251, so no two blocks are alike.
std::vector<uint8_t> pattern(size_t n) {
  std::vector<uint8_t> bytes(n);
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
  return bytes;
}

TEST(Sha512Test, PublishedExamplesGiveTheirDigests) {
  struct Case {
    std::string message;
    const char* digest;
  };
  const Case cases[] = {
      {"abc",
       "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a2192992a274fc1a836ba3c23a3feebbd"
       "454d4423643ce80e2a9ac94fa54ca49f"},
      // 112 bytes: the padding needs a second block.
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
       "mnopqrstnopqrstu",
       "8e959b75dae313da8cf4f72814fc143f8f7779c6eb9f7fa17299aeadb6889018501d289e4900f7e4331b99dec4b5433a"
       "c7d329eeb6dd26545e96e55b874be909"},
      {std::string(1000000, 'a'),
       "e718483d0ce769644e2e42c7bc15b4638e1f98b13b2044285632a803afa973ebde0ff244877ea60a4cb0432ce577c31b"
       "eb009c5c2c49aa2e4eadb217ad8cc09b"},
      {"",
       "cf83e1357eefb8bdf1542850d66d8007d620e4050b5715dc83f4a921d36ce9ce47d0d13c5d85f2b0ff8318d2877eec2f"
       "63b931bd47417a81a538327af927da3e"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.message.size());
    EXPECT_EQ(digest_of(c.message), c.digest);
  }
}

// Lengths around the block size and the padding boundary (111 waiting
// bytes fit one padding block, 112 need two), against the standard digest.
TEST(Sha512Test, LengthsAroundTheBlockAndPaddingBoundaries) {
  struct Case {
    size_t length;
    const char* digest;
  };
  const Case cases[] = {
      {1, "b8244d028981d693af7b456af8efa4cad63d282e19ff14942c246e50d9351d22704a802a71c3580b6370de4ceb293c324a8423342557d4e5c38438f0e36910ee"},
      {111, "a1a111449b198d9b1f538bad7f3fc1022b3a5b1a5e90a0bc860de8512746cbc31599e6c834de3a3235327af0b51ff57bf7acf1974a73014d9c3953812edc7c8d"},
      {112, "c5fbd731d19d2ae1180f001be72c2c1aaba1d7b094b3748880e24593b8e117a750e11c1bd867cc2f96dace8c8b74abd2d5c4f236be444e77d30d1916174070b9"},
      {113, "61b2e77db697dfe5571fff3ed06bd60c41e1e7b7c08a80de01cb16526d9a9a52d690dfbe792278a60f6e2b4c57a97c729773f26e258d2393890c985d645f6715"},
      {127, "eab89674feaa34e27aebeeff3c0a4d70070bb872d5e9f186cf1dbbdee517b6e35724d629ff025a5b07185e911ada7e3c8acf830aa0e4f71777bd2d44f504f7f0"},
      {128, "1dffd5e3adb71d45d2245939665521ae001a317a03720a45732ba1900ca3b8351fc5c9b4ca513eba6f80bc7b1d1fdad4abd13491cb824d61b08d8c0e1561b3f7"},
      {129, "1d9da57fbbdab09afb3506ab2d223d06109d65c1c8ad197f50138f714bc4c3f2fe5787922639c680acad1c651f955990425954ce2cba0c5cc83f2667d878eb0f"},
      {239, "cb4c7fd522756d5781ad3a4f590a1d862906b960e7720136cb3fb36b563caa1ea5689134291fa79c80ccc2b4092b41df32ebdcb36dbe79db483440228c1622a8"},
      {240, "6c48466c9f6c07e4ab762c696b7eeb35cfe236fca73683e5fab873ac3489b4d2eb3d7afcce7e8165dbbf37aded3b5b0c889c0b7e0f1790a8330d8677429d91a5"},
      {255, "e9746a5516961da1fdc8e6c59350cd147b7d80c120cc7ed621399faeb2462c28f34217a13009a8e6a721f538356db9a9b64d9a5412e0fd07d24cac1315d95548"},
      {256, "7ff1cd1e9773a4b7ba1f40e642db0d879bd5f6cc151a7d3401a0bc7778b8270c108b530fb195f2383f4cec8cf05778e6af4db56811673371674cec1524488f83"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.length);
    std::vector<uint8_t> message = pattern(c.length);
    EXPECT_EQ(digest_of(message.data(), message.size()), c.digest);
  }
}

// However the message is cut into feeds, the digest is the same.
TEST(Sha512Test, AnySplitOfTheInputGivesTheSameDigest) {
  const char* expected =
      "9a63314a71907982aa89ca2dfd6e22b5c5a436df3a7b55f93785d7f7971324a3fd500ae72e066a5367b1f2d407a82050"
      "3c6e2f13df5885f83a49aedb0706db84";
  std::vector<uint8_t> message = pattern(100000);
  ASSERT_EQ(digest_of(message.data(), message.size()), expected);

  for (size_t piece : {size_t{1}, size_t{2}, size_t{111}, size_t{112}, size_t{127}, size_t{128},
                       size_t{129}, size_t{255}, size_t{256}, size_t{10240}}) {
    SCOPED_TRACE(piece);
    Sha512 state;
    sha512_start(&state);
    for (size_t at = 0; at < message.size(); at += piece) {
      sha512_feed(&state, message.data() + at, std::min(piece, message.size() - at));
    }
    EXPECT_EQ(digest_hex(state), expected);
  }

  std::mt19937 random(12345);
  for (int round = 0; round < 50; ++round) {
    Sha512 state;
    sha512_start(&state);
    size_t at = 0;
    while (at < message.size()) {
      size_t piece = std::min<size_t>(random() % 700, message.size() - at);  // empty feeds too
      sha512_feed(&state, message.data() + at, piece);
      at += piece;
    }
    ASSERT_EQ(digest_hex(state), expected) << "round " << round;
  }
}

// The length field holds the bit length modulo 2^32, so the digest leaves
// the standard one exactly at 2^29 bytes (512 MiB). The standard digests
// were made by an independent library; the wrapped ones by the same library
// with its length counter reduced modulo 2^32 before padding.
TEST(Sha512Slow, LengthFieldWrapsFrom512MiB) {
  constexpr size_t kWrap = size_t{1} << 29;
  // Feed all but the last block's worth once; the three endings share it.
  constexpr size_t kCommon = kWrap - 128;
  Sha512 state;
  sha512_start(&state);
  std::vector<uint8_t> chunk(251 * 4096);  // a whole number of pattern periods
  for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<uint8_t>(i % 251);
  size_t fed = 0;
  while (fed < kCommon) {
    size_t n = std::min(chunk.size(), kCommon - fed);
    sha512_feed(&state, chunk.data(), n);
    fed += n;
  }
  auto finish_at = [&](size_t length) {
    Sha512 copy = state;
    for (size_t i = kCommon; i < length; ++i) {
      uint8_t byte = static_cast<uint8_t>(i % 251);
      sha512_feed(&copy, &byte, 1);
    }
    return digest_hex(copy);
  };

  // One byte short of 512 MiB: still the standard digest.
  EXPECT_EQ(finish_at(kWrap - 1),
            "80569a80a3cf03ada728b434204a68eba99bd3284c217da7cd002a6ff647514c1e26288cec21e3ce556a0765d99d28d8"
            "977f6f6cce0a3e6f57c6360c26e12247");
  // 512 MiB: the length field reads 0, where the standard digest is
  // efbfc08e0b9d7456...
  EXPECT_EQ(finish_at(kWrap),
            "3cfcce951d874fef9a55ada963c12fe02c70ec2dde4ea8e71b1ef1481507b663318db8c4ae1a96db5d398e5baf5807b1"
            "2e37b8eac22624be271c353a4c4fdc13");
  // One byte more: the field reads 8, where the standard digest is
  // a8ed4a6b05c3537a...
  EXPECT_EQ(finish_at(kWrap + 1),
            "6c1c356aeb5d9c69c6e890f3ccadccc01bdb3a80e6a254dce89ffc145369c7da11bbcc43c28b8dac1e67b6b11e771dca"
            "73159d9be398adb3501eb1b01e3c56aa");
}

}  // namespace
