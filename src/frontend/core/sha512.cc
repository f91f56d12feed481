// SHA-512 compression (FIPS 180-2) with fully unrolled rounds, and the
// feed/finish framing of our reference digests (see sha512.h for the
// length field).
#include "frontend/core/sha512.h"

#include <cstring>

namespace frontend {

namespace {

constexpr uint64_t kInitial[8] = {
    0x6a09e667f3bcc908ULL, 0xbb67ae8584caa73bULL, 0x3c6ef372fe94f82bULL, 0xa54ff53a5f1d36f1ULL,
    0x510e527fade682d1ULL, 0x9b05688c2b3e6c1fULL, 0x1f83d9abfb41bd6bULL, 0x5be0cd19137e2179ULL,
};

constexpr uint64_t K[80] = {
    0x428a2f98d728ae22ULL, 0x7137449123ef65cdULL, 0xb5c0fbcfec4d3b2fULL, 0xe9b5dba58189dbbcULL,
    0x3956c25bf348b538ULL, 0x59f111f1b605d019ULL, 0x923f82a4af194f9bULL, 0xab1c5ed5da6d8118ULL,
    0xd807aa98a3030242ULL, 0x12835b0145706fbeULL, 0x243185be4ee4b28cULL, 0x550c7dc3d5ffb4e2ULL,
    0x72be5d74f27b896fULL, 0x80deb1fe3b1696b1ULL, 0x9bdc06a725c71235ULL, 0xc19bf174cf692694ULL,
    0xe49b69c19ef14ad2ULL, 0xefbe4786384f25e3ULL, 0x0fc19dc68b8cd5b5ULL, 0x240ca1cc77ac9c65ULL,
    0x2de92c6f592b0275ULL, 0x4a7484aa6ea6e483ULL, 0x5cb0a9dcbd41fbd4ULL, 0x76f988da831153b5ULL,
    0x983e5152ee66dfabULL, 0xa831c66d2db43210ULL, 0xb00327c898fb213fULL, 0xbf597fc7beef0ee4ULL,
    0xc6e00bf33da88fc2ULL, 0xd5a79147930aa725ULL, 0x06ca6351e003826fULL, 0x142929670a0e6e70ULL,
    0x27b70a8546d22ffcULL, 0x2e1b21385c26c926ULL, 0x4d2c6dfc5ac42aedULL, 0x53380d139d95b3dfULL,
    0x650a73548baf63deULL, 0x766a0abb3c77b2a8ULL, 0x81c2c92e47edaee6ULL, 0x92722c851482353bULL,
    0xa2bfe8a14cf10364ULL, 0xa81a664bbc423001ULL, 0xc24b8b70d0f89791ULL, 0xc76c51a30654be30ULL,
    0xd192e819d6ef5218ULL, 0xd69906245565a910ULL, 0xf40e35855771202aULL, 0x106aa07032bbd1b8ULL,
    0x19a4c116b8d2d0c8ULL, 0x1e376c085141ab53ULL, 0x2748774cdf8eeb99ULL, 0x34b0bcb5e19b48a8ULL,
    0x391c0cb3c5c95a63ULL, 0x4ed8aa4ae3418acbULL, 0x5b9cca4f7763e373ULL, 0x682e6ff3d6b2b8a3ULL,
    0x748f82ee5defb2fcULL, 0x78a5636f43172f60ULL, 0x84c87814a1f0ab72ULL, 0x8cc702081a6439ecULL,
    0x90befffa23631e28ULL, 0xa4506cebde82bde9ULL, 0xbef9a3f7b2c67915ULL, 0xc67178f2e372532bULL,
    0xca273eceea26619cULL, 0xd186b8c721c0c207ULL, 0xeada7dd6cde0eb1eULL, 0xf57d4f7fee6ed178ULL,
    0x06f067aa72176fbaULL, 0x0a637dc5a2c898a6ULL, 0x113f9804bef90daeULL, 0x1b710b35131c471bULL,
    0x28db77f523047d84ULL, 0x32caab7b40c72493ULL, 0x3c9ebe0a15c9bebcULL, 0x431d67c49c100d4cULL,
    0x4cc5d4becb3e42b6ULL, 0x597f299cfc657e2aULL, 0x5fcb6fab3ad6faecULL, 0x6c44198c4a475817ULL,
};

inline uint64_t rotr(uint64_t x, int n) { return (x >> n) | (x << (64 - n)); }

inline uint64_t load_be64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return __builtin_bswap64(v);
}

inline void store_be64(uint8_t* p, uint64_t v) {
  v = __builtin_bswap64(v);
  std::memcpy(p, &v, 8);
}

inline uint64_t big_sigma0(uint64_t x) { return rotr(x, 28) ^ rotr(x, 34) ^ rotr(x, 39); }
inline uint64_t big_sigma1(uint64_t x) { return rotr(x, 14) ^ rotr(x, 18) ^ rotr(x, 41); }
inline uint64_t small_sigma0(uint64_t x) { return rotr(x, 1) ^ rotr(x, 8) ^ (x >> 7); }
inline uint64_t small_sigma1(uint64_t x) { return rotr(x, 19) ^ rotr(x, 61) ^ (x >> 6); }
inline uint64_t ch(uint64_t x, uint64_t y, uint64_t z) { return z ^ (x & (y ^ z)); }
inline uint64_t maj(uint64_t x, uint64_t y, uint64_t z) { return (x & y) ^ (x & z) ^ (y & z); }

// One round. The eight working variables rotate through the argument
// positions instead of being moved, so the unrolled code has no copies.
#define SHA512_ROUND(a, b, c, d, e, f, g, h, k, w)             \
  do {                                                         \
    uint64_t t1 = (h) + big_sigma1(e) + ch((e), (f), (g)) + (k) + (w); \
    uint64_t t2 = big_sigma0(a) + maj((a), (b), (c));          \
    (d) += t1;                                                 \
    (h) = t1 + t2;                                             \
  } while (0)

// Message schedule word t (t >= 16) kept in a ring of 16.
#define SHA512_SCHEDULE(t) \
  (W[(t) & 15] += small_sigma1(W[((t) - 2) & 15]) + W[((t) - 7) & 15] + small_sigma0(W[((t) - 15) & 15]))

#define SHA512_EIGHT_FIRST(i)                                         \
  SHA512_ROUND(a, b, c, d, e, f, g, h, K[(i) + 0], W[(i) + 0]);       \
  SHA512_ROUND(h, a, b, c, d, e, f, g, K[(i) + 1], W[(i) + 1]);       \
  SHA512_ROUND(g, h, a, b, c, d, e, f, K[(i) + 2], W[(i) + 2]);       \
  SHA512_ROUND(f, g, h, a, b, c, d, e, K[(i) + 3], W[(i) + 3]);       \
  SHA512_ROUND(e, f, g, h, a, b, c, d, K[(i) + 4], W[(i) + 4]);       \
  SHA512_ROUND(d, e, f, g, h, a, b, c, K[(i) + 5], W[(i) + 5]);       \
  SHA512_ROUND(c, d, e, f, g, h, a, b, K[(i) + 6], W[(i) + 6]);       \
  SHA512_ROUND(b, c, d, e, f, g, h, a, K[(i) + 7], W[(i) + 7])

#define SHA512_EIGHT_LATER(i)                                             \
  SHA512_ROUND(a, b, c, d, e, f, g, h, K[(i) + 0], SHA512_SCHEDULE((i) + 0)); \
  SHA512_ROUND(h, a, b, c, d, e, f, g, K[(i) + 1], SHA512_SCHEDULE((i) + 1)); \
  SHA512_ROUND(g, h, a, b, c, d, e, f, K[(i) + 2], SHA512_SCHEDULE((i) + 2)); \
  SHA512_ROUND(f, g, h, a, b, c, d, e, K[(i) + 3], SHA512_SCHEDULE((i) + 3)); \
  SHA512_ROUND(e, f, g, h, a, b, c, d, K[(i) + 4], SHA512_SCHEDULE((i) + 4)); \
  SHA512_ROUND(d, e, f, g, h, a, b, c, K[(i) + 5], SHA512_SCHEDULE((i) + 5)); \
  SHA512_ROUND(c, d, e, f, g, h, a, b, K[(i) + 6], SHA512_SCHEDULE((i) + 6)); \
  SHA512_ROUND(b, c, d, e, f, g, h, a, K[(i) + 7], SHA512_SCHEDULE((i) + 7))

// The compression loop, compiled once for any x86-64 and once for
// processors with BMI2, whose non-destructive rotate (rorx) saves a move in
// every sigma.
__attribute__((always_inline)) inline void compress_blocks(Sha512* state, const uint8_t* blocks,
                                                            size_t count) {
  uint64_t s0 = state->h[0], s1 = state->h[1], s2 = state->h[2], s3 = state->h[3];
  uint64_t s4 = state->h[4], s5 = state->h[5], s6 = state->h[6], s7 = state->h[7];
  for (; count > 0; --count, blocks += kSha512BlockSize) {
    uint64_t W[16];
    for (int t = 0; t < 16; ++t) W[t] = load_be64(blocks + 8 * t);
    uint64_t a = s0, b = s1, c = s2, d = s3, e = s4, f = s5, g = s6, h = s7;
    SHA512_EIGHT_FIRST(0);
    SHA512_EIGHT_FIRST(8);
    SHA512_EIGHT_LATER(16);
    SHA512_EIGHT_LATER(24);
    SHA512_EIGHT_LATER(32);
    SHA512_EIGHT_LATER(40);
    SHA512_EIGHT_LATER(48);
    SHA512_EIGHT_LATER(56);
    SHA512_EIGHT_LATER(64);
    SHA512_EIGHT_LATER(72);
    s0 += a;
    s1 += b;
    s2 += c;
    s3 += d;
    s4 += e;
    s5 += f;
    s6 += g;
    s7 += h;
  }
  state->h[0] = s0;
  state->h[1] = s1;
  state->h[2] = s2;
  state->h[3] = s3;
  state->h[4] = s4;
  state->h[5] = s5;
  state->h[6] = s6;
  state->h[7] = s7;
}

void compress_generic(Sha512* state, const uint8_t* blocks, size_t count) {
  compress_blocks(state, blocks, count);
}

#if defined(__x86_64__)
__attribute__((target("bmi2"))) void compress_bmi2(Sha512* state, const uint8_t* blocks, size_t count) {
  compress_blocks(state, blocks, count);
}
#endif

using CompressFn = void (*)(Sha512*, const uint8_t*, size_t);

CompressFn pick_compress() {
#if defined(__x86_64__)
  if (__builtin_cpu_supports("bmi2")) return compress_bmi2;
#endif
  return compress_generic;
}

}  // namespace

void sha512_compress(Sha512* state, const uint8_t* blocks, size_t count) {
  static const CompressFn compress = pick_compress();
  compress(state, blocks, count);
}

#undef SHA512_EIGHT_LATER
#undef SHA512_EIGHT_FIRST
#undef SHA512_SCHEDULE
#undef SHA512_ROUND

void sha512_start(Sha512* state) {
  std::memcpy(state->h, kInitial, sizeof kInitial);
  state->processed = 0;
  state->waiting = 0;
}

void sha512_feed(Sha512* state, const void* bytes, size_t n) {
  if (n == 0) return;
  const uint8_t* in = static_cast<const uint8_t*>(bytes);
  size_t room = kSha512BlockSize - state->waiting;
  size_t take = n < room ? n : room;
  std::memcpy(state->block + state->waiting, in, take);
  if (state->waiting + n < kSha512BlockSize) {
    state->waiting += static_cast<uint32_t>(n);
    return;
  }
  sha512_compress(state, state->block, 1);
  in += take;
  n -= take;
  size_t whole = n / kSha512BlockSize;
  sha512_compress(state, in, whole);
  size_t rest = n % kSha512BlockSize;
  std::memcpy(state->block, in + whole * kSha512BlockSize, rest);
  state->waiting = static_cast<uint32_t>(rest);
  // The processed count is 32 bits wide and wraps: see the length field.
  state->processed += static_cast<uint32_t>((whole + 1) * kSha512BlockSize);
}

void sha512_finish(Sha512* state, uint8_t out[kSha512DigestSize]) {
  size_t blocks = state->waiting >= 112 ? 2 : 1;
  size_t end = blocks * kSha512BlockSize;
  std::memset(state->block + state->waiting, 0, end - state->waiting);
  state->block[state->waiting] = 0x80;
  // Bit length in unsigned 32-bit arithmetic, big-endian in the last four
  // bytes; the twelve bytes before them stay zero.
  uint32_t bits = (state->processed + state->waiting) * 8u;
  state->block[end - 4] = static_cast<uint8_t>(bits >> 24);
  state->block[end - 3] = static_cast<uint8_t>(bits >> 16);
  state->block[end - 2] = static_cast<uint8_t>(bits >> 8);
  state->block[end - 1] = static_cast<uint8_t>(bits);
  sha512_compress(state, state->block, blocks);
  for (int i = 0; i < 8; ++i) store_be64(out + 8 * i, state->h[i]);
}

}  // namespace frontend
