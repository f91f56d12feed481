// Overflow-checked 64-bit size arithmetic. Every size or count derived from
// file data goes through these; an overflow raises the given code (by default
// 100005, "Unable to allocate memory") instead of wrapping.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "dng/core/dng_errors.h"

// a + b, or throw_dng_code(code) when it does not fit 64 bits.
inline uint64_t checked_add_u64(uint64_t a, uint64_t b, int32_t code = dng_code_memory) {
  uint64_t r;
  if (__builtin_add_overflow(a, b, &r)) throw_dng_code(code);
  return r;
}

// a * b, or throw_dng_code(code) when it does not fit 64 bits.
inline uint64_t checked_mul_u64(uint64_t a, uint64_t b, int32_t code = dng_code_memory) {
  uint64_t r;
  if (__builtin_mul_overflow(a, b, &r)) throw_dng_code(code);
  return r;
}

// The product of all factors, checked at every step.
inline uint64_t checked_product_u64(std::initializer_list<uint64_t> factors,
                                    int32_t code = dng_code_memory) {
  uint64_t r = 1;
  for (uint64_t f : factors) r = checked_mul_u64(r, f, code);
  return r;
}

// v as a uint32, or throw_dng_code(code) when it is larger.
inline uint32_t checked_u32(uint64_t v, int32_t code = dng_code_memory) {
  if (v > UINT32_MAX) throw_dng_code(code);
  return static_cast<uint32_t>(v);
}

// The byte size of an image, buffer or band (the product of the factors) as a
// block size: 100005 when the product overflows or exceeds the image-memory
// cap of dng_limits.h.
uint32_t image_block_size(std::initializer_list<uint64_t> factors);
