// MD5 as RFC 1321 defines it: four rounds of sixteen steps over each
// 64-byte block, length padding, little-endian words throughout.
#include "dng/core/dng_md5.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "MD5 words are loaded as little-endian memory");

namespace {

inline uint32_t md5_f(uint32_t x, uint32_t y, uint32_t z) { return z ^ (x & (y ^ z)); }
inline uint32_t md5_g(uint32_t x, uint32_t y, uint32_t z) { return y ^ (z & (x ^ y)); }
inline uint32_t md5_h(uint32_t x, uint32_t y, uint32_t z) { return x ^ y ^ z; }
inline uint32_t md5_i(uint32_t x, uint32_t y, uint32_t z) { return y ^ (x | ~z); }

// a = b + ((a + fn(b, c, d) + word + constant) <<< shift)
#define MD5_STEP(fn, a, b, c, d, word, constant, shift) \
  do {                                                  \
    (a) += fn((b), (c), (d)) + (word) + (constant);     \
    (a) = std::rotl((a), (shift)) + (b);                \
  } while (0)

void mix(uint32_t state[4], const uint32_t* x) {
  uint32_t a = state[0];
  uint32_t b = state[1];
  uint32_t c = state[2];
  uint32_t d = state[3];

  MD5_STEP(md5_f, a, b, c, d, x[0], 0xd76aa478u, 7);
  MD5_STEP(md5_f, d, a, b, c, x[1], 0xe8c7b756u, 12);
  MD5_STEP(md5_f, c, d, a, b, x[2], 0x242070dbu, 17);
  MD5_STEP(md5_f, b, c, d, a, x[3], 0xc1bdceeeu, 22);
  MD5_STEP(md5_f, a, b, c, d, x[4], 0xf57c0fafu, 7);
  MD5_STEP(md5_f, d, a, b, c, x[5], 0x4787c62au, 12);
  MD5_STEP(md5_f, c, d, a, b, x[6], 0xa8304613u, 17);
  MD5_STEP(md5_f, b, c, d, a, x[7], 0xfd469501u, 22);
  MD5_STEP(md5_f, a, b, c, d, x[8], 0x698098d8u, 7);
  MD5_STEP(md5_f, d, a, b, c, x[9], 0x8b44f7afu, 12);
  MD5_STEP(md5_f, c, d, a, b, x[10], 0xffff5bb1u, 17);
  MD5_STEP(md5_f, b, c, d, a, x[11], 0x895cd7beu, 22);
  MD5_STEP(md5_f, a, b, c, d, x[12], 0x6b901122u, 7);
  MD5_STEP(md5_f, d, a, b, c, x[13], 0xfd987193u, 12);
  MD5_STEP(md5_f, c, d, a, b, x[14], 0xa679438eu, 17);
  MD5_STEP(md5_f, b, c, d, a, x[15], 0x49b40821u, 22);

  MD5_STEP(md5_g, a, b, c, d, x[1], 0xf61e2562u, 5);
  MD5_STEP(md5_g, d, a, b, c, x[6], 0xc040b340u, 9);
  MD5_STEP(md5_g, c, d, a, b, x[11], 0x265e5a51u, 14);
  MD5_STEP(md5_g, b, c, d, a, x[0], 0xe9b6c7aau, 20);
  MD5_STEP(md5_g, a, b, c, d, x[5], 0xd62f105du, 5);
  MD5_STEP(md5_g, d, a, b, c, x[10], 0x02441453u, 9);
  MD5_STEP(md5_g, c, d, a, b, x[15], 0xd8a1e681u, 14);
  MD5_STEP(md5_g, b, c, d, a, x[4], 0xe7d3fbc8u, 20);
  MD5_STEP(md5_g, a, b, c, d, x[9], 0x21e1cde6u, 5);
  MD5_STEP(md5_g, d, a, b, c, x[14], 0xc33707d6u, 9);
  MD5_STEP(md5_g, c, d, a, b, x[3], 0xf4d50d87u, 14);
  MD5_STEP(md5_g, b, c, d, a, x[8], 0x455a14edu, 20);
  MD5_STEP(md5_g, a, b, c, d, x[13], 0xa9e3e905u, 5);
  MD5_STEP(md5_g, d, a, b, c, x[2], 0xfcefa3f8u, 9);
  MD5_STEP(md5_g, c, d, a, b, x[7], 0x676f02d9u, 14);
  MD5_STEP(md5_g, b, c, d, a, x[12], 0x8d2a4c8au, 20);

  MD5_STEP(md5_h, a, b, c, d, x[5], 0xfffa3942u, 4);
  MD5_STEP(md5_h, d, a, b, c, x[8], 0x8771f681u, 11);
  MD5_STEP(md5_h, c, d, a, b, x[11], 0x6d9d6122u, 16);
  MD5_STEP(md5_h, b, c, d, a, x[14], 0xfde5380cu, 23);
  MD5_STEP(md5_h, a, b, c, d, x[1], 0xa4beea44u, 4);
  MD5_STEP(md5_h, d, a, b, c, x[4], 0x4bdecfa9u, 11);
  MD5_STEP(md5_h, c, d, a, b, x[7], 0xf6bb4b60u, 16);
  MD5_STEP(md5_h, b, c, d, a, x[10], 0xbebfbc70u, 23);
  MD5_STEP(md5_h, a, b, c, d, x[13], 0x289b7ec6u, 4);
  MD5_STEP(md5_h, d, a, b, c, x[0], 0xeaa127fau, 11);
  MD5_STEP(md5_h, c, d, a, b, x[3], 0xd4ef3085u, 16);
  MD5_STEP(md5_h, b, c, d, a, x[6], 0x04881d05u, 23);
  MD5_STEP(md5_h, a, b, c, d, x[9], 0xd9d4d039u, 4);
  MD5_STEP(md5_h, d, a, b, c, x[12], 0xe6db99e5u, 11);
  MD5_STEP(md5_h, c, d, a, b, x[15], 0x1fa27cf8u, 16);
  MD5_STEP(md5_h, b, c, d, a, x[2], 0xc4ac5665u, 23);

  MD5_STEP(md5_i, a, b, c, d, x[0], 0xf4292244u, 6);
  MD5_STEP(md5_i, d, a, b, c, x[7], 0x432aff97u, 10);
  MD5_STEP(md5_i, c, d, a, b, x[14], 0xab9423a7u, 15);
  MD5_STEP(md5_i, b, c, d, a, x[5], 0xfc93a039u, 21);
  MD5_STEP(md5_i, a, b, c, d, x[12], 0x655b59c3u, 6);
  MD5_STEP(md5_i, d, a, b, c, x[3], 0x8f0ccc92u, 10);
  MD5_STEP(md5_i, c, d, a, b, x[10], 0xffeff47du, 15);
  MD5_STEP(md5_i, b, c, d, a, x[1], 0x85845dd1u, 21);
  MD5_STEP(md5_i, a, b, c, d, x[8], 0x6fa87e4fu, 6);
  MD5_STEP(md5_i, d, a, b, c, x[15], 0xfe2ce6e0u, 10);
  MD5_STEP(md5_i, c, d, a, b, x[6], 0xa3014314u, 15);
  MD5_STEP(md5_i, b, c, d, a, x[13], 0x4e0811a1u, 21);
  MD5_STEP(md5_i, a, b, c, d, x[4], 0xf7537e82u, 6);
  MD5_STEP(md5_i, d, a, b, c, x[11], 0xbd3af235u, 10);
  MD5_STEP(md5_i, c, d, a, b, x[2], 0x2ad7d2bbu, 15);
  MD5_STEP(md5_i, b, c, d, a, x[9], 0xeb86d391u, 21);

  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
}

#undef MD5_STEP

}  // namespace

void md5_load_words(uint32_t* words, const uint8_t* data, uint32_t count) {
  // The target is little-endian, so a byte copy is the word load; memcpy
  // accepts any source address.
  std::memcpy(words, data, count & ~3u);
}

void md5_mix_block(dng_md5_context& context, const uint8_t* block) {
  uint32_t x[16];
  md5_load_words(x, block, 64);
  mix(context.state, x);
}

dng_md5_context::dng_md5_context()
    : state{0x67452301u, 0xefcdab89u, 0x98badcfeu, 0x10325476u}, bit_count{0, 0}, block{} {}

void dng_md5_context::Feed(const void* data, size_t count) {
  const uint8_t* in = static_cast<const uint8_t*>(data);
  uint32_t waiting = (bit_count[0] >> 3) & 63;

  uint64_t bits = (uint64_t{bit_count[1]} << 32 | bit_count[0]) + (uint64_t{count} << 3);
  bit_count[0] = static_cast<uint32_t>(bits);
  bit_count[1] = static_cast<uint32_t>(bits >> 32);

  if (waiting != 0) {
    size_t room = 64 - waiting;
    if (count < room) {
      std::memcpy(block + waiting, in, count);
      return;
    }
    std::memcpy(block + waiting, in, room);
    md5_mix_block(*this, block);
    in += room;
    count -= room;
  }
  for (; count >= 64; in += 64, count -= 64) md5_mix_block(*this, in);
  if (count != 0) std::memcpy(block, in, count);
}

const dng_digest& dng_md5_context::Digest() {
  if (!finished) {
    uint8_t length[8];
    for (int i = 0; i < 4; ++i) {
      length[i] = static_cast<uint8_t>(bit_count[0] >> (8 * i));
      length[4 + i] = static_cast<uint8_t>(bit_count[1] >> (8 * i));
    }
    uint32_t waiting = (bit_count[0] >> 3) & 63;
    uint32_t pad = waiting < 56 ? 56 - waiting : 120 - waiting;
    static const uint8_t kPadding[64] = {0x80};
    Feed(kPadding, pad);
    Feed(length, 8);
    for (int i = 0; i < 4; ++i) {
      for (int j = 0; j < 4; ++j) result.data[4 * i + j] = static_cast<uint8_t>(state[i] >> (8 * j));
    }
    finished = true;
  }
  return result;
}
