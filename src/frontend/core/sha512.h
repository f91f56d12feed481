// SHA-512 digests of whole image files for the reference hashes.
//
// The compression function is the standard one (FIPS 180-2). The padding
// differs from the standard in one place that stored reference digests
// depend on: the message-length field holds the bit length modulo 2^32 in
// its last four bytes (the twelve bytes before them stay zero). Messages
// shorter than 512 MiB therefore get the standard digest; longer ones do
// not. Do not "fix" this: it would invalidate every digest users have
// stored.
//
// A state is used by one thread at a time.
#pragma once

#include <cstddef>
#include <cstdint>

namespace frontend {

struct Sha512 {
  uint32_t processed;      // bytes of whole 128-byte blocks compressed so far (mod 2^32)
  uint32_t waiting;        // bytes waiting in block (0 to 127)
  uint8_t block[2 * 128];  // room for the one or two blocks of the padding
  uint64_t h[8];           // chaining values
};

inline constexpr size_t kSha512DigestSize = 64;
inline constexpr size_t kSha512BlockSize = 128;

// Chaining values := the initial hash value; both counters 0.
void sha512_start(Sha512* state);
// Adds n bytes of message.
void sha512_feed(Sha512* state, const void* bytes, size_t n);
// Pads, compresses the last one or two blocks and writes the 64-byte digest.
void sha512_finish(Sha512* state, uint8_t out[kSha512DigestSize]);
// The compression function over count consecutive 128-byte blocks, words
// read big-endian.
void sha512_compress(Sha512* state, const uint8_t* blocks, size_t count);

}  // namespace frontend
