// Rectangles of pixels: rows top..bottom-1 and columns left..right-1.
#pragma once

#include <algorithm>
#include <cstdint>

struct dng_box {
  int32_t top = 0;
  int32_t left = 0;
  int32_t bottom = 0;
  int32_t right = 0;

  constexpr dng_box() = default;
  constexpr dng_box(int32_t t, int32_t l, int32_t b, int32_t r) : top(t), left(l), bottom(b), right(r) {}

  constexpr bool operator==(const dng_box&) const = default;

  constexpr bool IsEmpty() const { return !(top < bottom && left < right); }
  constexpr bool AllZero() const { return top == 0 && left == 0 && bottom == 0 && right == 0; }

  // bottom - top and right - left, 0 when negative (computed without
  // overflow).
  constexpr uint32_t H() const { return top < bottom ? uint32_t(int64_t(bottom) - top) : 0; }
  constexpr uint32_t W() const { return left < right ? uint32_t(int64_t(right) - left) : 0; }

  // True when other lies within this rectangle (an empty other too, when
  // its corners do).
  constexpr bool Contains(const dng_box& other) const {
    return other.top >= top && other.left >= left && other.bottom <= bottom &&
           other.right <= right && other.top <= other.bottom && other.left <= other.right;
  }
};

// Top and left the larger, bottom and right the smaller of the two; all
// zero when that is empty.
constexpr dng_box intersect_boxes(const dng_box& a, const dng_box& b) {
  const dng_box r(std::max(a.top, b.top), std::max(a.left, b.left), std::min(a.bottom, b.bottom),
                  std::min(a.right, b.right));
  return r.IsEmpty() ? dng_box() : r;
}

// Rows (vertical) then columns (horizontal): tile, cell, repeat and scale
// sizes.
struct dng_extent {
  int32_t v = 0;
  int32_t h = 0;

  constexpr dng_extent() = default;
  constexpr dng_extent(int32_t rows, int32_t cols) : v(rows), h(cols) {}
  constexpr bool operator==(const dng_extent&) const = default;
};
