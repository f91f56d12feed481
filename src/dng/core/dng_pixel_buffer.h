// A rectangle of samples in memory described by steps: the sample at row r,
// column c, plane p is at data + ((r - top) * row step + (c - left) * column
// step + (p - plane) * plane step) * pixel size. Steps count samples and may
// be negative. The buffer owns nothing; copying it copies the description.
#pragma once

#include <cstddef>
#include <cstdint>

#include "dng/core/dng_box.h"

class dng_pixel_buffer {
 public:
  dng_pixel_buffer() = default;
  dng_pixel_buffer(const dng_pixel_buffer&) = default;
  dng_pixel_buffer& operator=(const dng_pixel_buffer&) = default;
  virtual ~dng_pixel_buffer() = default;

  // The pixel range when set, else 255 for types 1 and 6, 65535 for 3 and 8,
  // 0xFFFFFFFF for 4 and 9, 0 for others.
  uint32_t SampleRange() const;

  // Address of the sample at (row, col, plane); no bounds check.
  void* Pixel(int32_t row, int32_t col, uint32_t plane_index) const {
    return static_cast<uint8_t*>(data) +
           (ptrdiff_t(int64_t(row) - area.top) * row_step +
            ptrdiff_t(int64_t(col) - area.left) * col_step +
            (ptrdiff_t(plane_index) - ptrdiff_t(plane)) * plane_step) *
               ptrdiff_t(pixel_size);
  }

  // Sets the samples of the area and planes to the zero of their type (0,
  // or 0x8000 for type 8); types other than 1, 3, 4, 8, 11 raise 100001.
  void ClearArea(const dng_box& clear_area, uint32_t first_plane, uint32_t plane_count);

  // Copies the area of the selected planes from src, converting from its
  // pixel type to this buffer's; unsupported pairs raise 100001.
  void CopyAreaFrom(const dng_pixel_buffer& src, const dng_box& copy_area, uint32_t first_plane,
                    uint32_t plane_count);

  // Fills dst_area (all planes) by repeating pattern_area, both inside this
  // buffer; pixel sizes other than 1, 2, 4 raise 100001.
  void ReplicateArea(const dng_box& pattern_area, const dng_box& dst_area);

  // Shifts every sample of the area and planes right by bits mod 32; types
  // other than 3 raise 100001.
  void ShiftValuesDown(uint32_t bits);

  dng_box area;
  uint32_t plane = 0;
  uint32_t planes = 1;
  int32_t row_step = 1;
  int32_t col_step = 1;
  int32_t plane_step = 1;
  uint32_t pixel_type = 7;
  uint32_t pixel_size = 0;
  uint32_t pixel_range = 0;
  void* data = nullptr;
  bool dirty = true;
};

// Row and column phase of dst's corner in the repetition of pattern: each
// (dst corner - pattern corner) modulo the pattern size, non-negative.
struct dng_replication_phase {
  uint32_t row = 0;
  uint32_t col = 0;
};
dng_replication_phase replication_phase(const dng_box& pattern, const dng_box& dst);

// The loop order of an area operation over one or two buffers. Index 0 is
// the outer loop, 2 the inner one. After order_area_loops, the dominant
// buffer's steps are non-negative and sorted, and contiguous runs are merged:
// an area that is one run in both buffers has outer and middle counts 1 and
// inner steps 1.
struct dng_area_loops {
  uint32_t count[3] = {1, 1, 1};
  uint8_t* data[2] = {nullptr, nullptr};
  int32_t step[2][3] = {};  // per buffer, in samples of that buffer
};

// counts: rows, columns, planes; for each buffer its data pointer (at the
// first sample), pixel size and steps (row, column, plane). buffers is 1 or 2.
dng_area_loops order_area_loops(uint32_t rows, uint32_t cols, uint32_t planes, uint32_t buffers,
                                void* data0, uint32_t size0, int32_t row0, int32_t col0,
                                int32_t plane0, void* data1 = nullptr, uint32_t size1 = 0,
                                int32_t row1 = 0, int32_t col1 = 0, int32_t plane1 = 0);
