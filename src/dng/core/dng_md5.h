// MD5 message digests (RFC 1321) for fingerprints of metadata blocks.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dng/core/dng_digest.h"

// One digest computation: made, fed any number of times, then asked for its
// digest. Feeding after Digest is outside the contract. Used by one thread.
class dng_md5_context {
 public:
  dng_md5_context();

  // Adds count bytes; data needs no particular alignment.
  void Feed(const void* data, size_t count);

  // Pads and finishes on the first call; every call returns the same digest.
  const dng_digest& Digest();

  uint32_t state[4];
  uint32_t bit_count[2];  // low, high
  uint8_t block[64];
  dng_digest result;
  bool finished = false;
};

// Little-endian 32-bit words of count bytes (a multiple of 4) from data,
// which may lie at any address.
void md5_load_words(uint32_t* words, const uint8_t* data, uint32_t count);

// The compression function over one 64-byte block.
void md5_mix_block(dng_md5_context& context, const uint8_t* block);
