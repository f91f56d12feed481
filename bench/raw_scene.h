// The benchmark scene of the raw pipeline: a 14-bit RGGB mosaic of smooth
// gradients, step and diagonal edges, patches of fine texture and a few
// LSB of noise, with a black level of 512. Every sample is a pure function
// of its position, so the writer and the timing program agree without a
// stored copy.
#pragma once

#include <cmath>
#include <cstdint>

namespace raw_scene {

constexpr uint32_t kBlack = 512;
constexpr uint32_t kWhite = 16383;

inline uint32_t hash(uint32_t x, uint32_t y, uint32_t salt) {
  uint32_t h = x * 0x9E3779B1u ^ (y + salt) * 0x85EBCA77u;
  h ^= h >> 15;
  h *= 0xC2B2AE3Du;
  h ^= h >> 13;
  return h;
}

// Value noise in [0, 1) on a lattice of `cell` pixels.
inline double texture(uint32_t r, uint32_t c, uint32_t cell, uint32_t salt) {
  const uint32_t r0 = r / cell, c0 = c / cell;
  const double fr = double(r % cell) / cell, fc = double(c % cell) / cell;
  auto v = [&](uint32_t a, uint32_t b) { return (hash(b, a, salt) >> 8) / double(1 << 24); };
  const double top = v(r0, c0) * (1 - fc) + v(r0, c0 + 1) * fc;
  const double bottom = v(r0 + 1, c0) * (1 - fc) + v(r0 + 1, c0 + 1) * fc;
  return top * (1 - fr) + bottom * fr;
}

// Scene brightness in [0, 1] before the colour filter.
inline double light(uint32_t r, uint32_t c, uint32_t width, uint32_t height) {
  const double x = double(c) / width, y = double(r) / height;
  double v = 0.12 + 0.45 * x * (0.6 + 0.4 * y) + 0.08 * std::sin(r / 310.0) * std::cos(c / 470.0);
  // Objects: blocks of their own level with sharp borders, and diagonal bands.
  const uint32_t block = hash(c / 180, r / 140, 7);
  if (block % 3 == 0) v += 0.25 * ((block >> 8) % 256) / 255.0 - 0.1;
  if ((r + 2 * c) % 1300 < 90) v += 0.18;
  // Foliage-like detail in two thirds of the blocks, finer in some.
  if (block % 3 != 0) v += 0.06 * texture(r, c, 3 + (block >> 16) % 6, 11) - 0.03;
  return std::fmin(std::fmax(v, 0.0), 1.0);
}

// The stored sample at (r, c) of a width x height RGGB mosaic.
inline uint16_t sample(uint32_t r, uint32_t c, uint32_t width, uint32_t height) {
  static constexpr double kGain[2][2] = {{0.55, 0.95}, {0.95, 0.42}};
  const double signal = light(r, c, width, height) * kGain[r & 1][c & 1] * (kWhite - kBlack);
  // A few LSB of noise, a little more in bright parts.
  const int32_t spread = 3 + int32_t(std::sqrt(signal) / 8);
  const int32_t noise = int32_t(hash(c, r, 3) % uint32_t(2 * spread + 1)) - spread;
  const int32_t v = int32_t(kBlack) + int32_t(signal) + noise;
  return uint16_t(v < 0 ? 0 : v > int32_t(kWhite) ? kWhite : v);
}

}  // namespace raw_scene
