// The table of pixel routines through which every inner loop over pixels or
// raw bytes runs. Callers call through the entry at the moment of the call,
// so an entry can be replaced by a faster routine with the same contract.
//
// Area routines take counts (rows, columns, planes) and per buffer a data
// pointer with row, column and plane steps counted in samples of that
// buffer's type. They visit every (row, column, plane) with the plane loop
// innermost; the pointer of (r, c, p) is data + r * row step + c * column
// step + p * plane step. Steps may be negative.
//
// Sample types: U8, U16, U32 unsigned; S16 the biased 16-bit form (the
// unsigned value with its top bit flipped); Float 32-bit IEEE.
// Float-to-integer conversions and the clipping routines saturate: NaN gives
// 0 and values beyond the range give its bound.
#pragma once

#include <cstdint>

#include "dng/core/dng_1d_table.h"
#include "dng/core/dng_matrix.h"
#include "dng/core/dng_vector.h"

using dng_fill_area_fn = void (*)(void* data, uint32_t value, uint32_t rows, uint32_t cols,
                                  uint32_t planes, int32_t row_step, int32_t col_step,
                                  int32_t plane_step);
using dng_blit_area_fn = void (*)(const void* src, void* dst, uint32_t rows, uint32_t cols,
                                  uint32_t planes, int32_t s_row_step, int32_t s_col_step,
                                  int32_t s_plane_step, int32_t d_row_step, int32_t d_col_step,
                                  int32_t d_plane_step);
using dng_blit_range_fn = void (*)(const void* src, void* dst, uint32_t rows, uint32_t cols,
                                   uint32_t planes, int32_t s_row_step, int32_t s_col_step,
                                   int32_t s_plane_step, int32_t d_row_step, int32_t d_col_step,
                                   int32_t d_plane_step, uint32_t range);
using dng_replicate_area_fn = void (*)(const void* pattern, void* dst, uint32_t rows,
                                       uint32_t cols, uint32_t planes, int32_t row_step,
                                       int32_t col_step, int32_t plane_step,
                                       uint32_t pattern_rows, uint32_t pattern_cols,
                                       uint32_t row_phase, uint32_t col_phase);

struct dng_pixel_kernel_table {
  // 0-3: bytes.
  void (*ClearBytes)(void* data, uint32_t count);
  void (*CopyBlock)(const void* src, void* dst, uint32_t count);
  void (*ByteSwapWords)(void* data, uint32_t count);
  void (*ByteSwapLongs)(void* data, uint32_t count);
  // 4-6: every sample set to the value (its low 8, 16 or 32 bits).
  dng_fill_area_fn FillAreaU8;
  dng_fill_area_fn FillAreaU16;
  dng_fill_area_fn FillAreaU32;
  // 7-14: copies and exact conversions.
  dng_blit_area_fn BlitAreaU8;
  dng_blit_area_fn BlitAreaU16;
  dng_blit_area_fn BlitAreaU32;
  dng_blit_area_fn BlitAreaU8ToU16;
  dng_blit_area_fn BlitAreaU8ToS16;
  dng_blit_area_fn BlitAreaU8ToU32;
  dng_blit_area_fn BlitAreaU16ToS16;  // also S16 to U16
  dng_blit_area_fn BlitAreaU16ToU32;
  // 15-17: value * s with s = 1 / range in single precision.
  dng_blit_range_fn BlitAreaU8ToFloat;
  dng_blit_range_fn BlitAreaU16ToFloat;
  dng_blit_range_fn BlitAreaS16ToFloat;
  // 18-20: float(range) * value + 0.5 truncated, saturated to [0, range's
  // type bound]; S16 stores it with the top bit flipped.
  dng_blit_range_fn BlitAreaFloatToU8;
  dng_blit_range_fn BlitAreaFloatToU16;
  dng_blit_range_fn BlitAreaFloatToS16;
  // 21-23: dst (r, c, p) = pattern ((row phase + r) mod pattern rows,
  // (col phase + c) mod pattern cols, p); pattern and destination share the
  // steps (they lie in one buffer).
  dng_replicate_area_fn ReplicateAreaU8;
  dng_replicate_area_fn ReplicateAreaU16;
  dng_replicate_area_fn ReplicateAreaU32;
  // 24: every sample shifted right by bits mod 32.
  void (*ShiftDownU16)(void* data, uint32_t rows, uint32_t cols, uint32_t planes, int32_t row_step,
                       int32_t col_step, int32_t plane_step, uint32_t bits);
  // 25-26: demosaic rows. Output i uses the taps of the current phase:
  // (128 + sum weight * src[(i >> shift) + offset]) >> 8 (U16) or the plain
  // single-precision sum (Float); the phase advances per pixel and wraps at
  // phase_count. The tables are indexed by phase.
  void (*InterpolateRowU16)(const uint16_t* src, uint16_t* dst, uint32_t count, uint32_t phase,
                            uint32_t phase_count, const uint32_t* tap_counts,
                            const int32_t* const* tap_offsets, const uint16_t* const* tap_weights,
                            uint32_t shift);
  void (*InterpolateRowFloat)(const float* src, float* dst, uint32_t count, uint32_t phase,
                              uint32_t phase_count, const uint32_t* tap_counts,
                              const int32_t* const* tap_offsets, const float* const* tap_weights,
                              uint32_t shift);
  // 27-30: colour rows; outputs clipped to [0, 1] (NaN to 0). Entries of the
  // matrix and white are used in single precision.
  void (*MatrixCamera3ToRgb)(const float* c0, const float* c1, const float* c2, float* r, float* g,
                             float* b, uint32_t count, const dng_vector& camera_white,
                             const dng_matrix& matrix);
  void (*MatrixCamera4ToRgb)(const float* c0, const float* c1, const float* c2, const float* c3,
                             float* r, float* g, float* b, uint32_t count,
                             const dng_vector& camera_white, const dng_matrix& matrix);
  void (*MixRgbToGray)(const float* r, const float* g, const float* b, float* gray, uint32_t count,
                       const dng_matrix& weights);
  void (*MatrixRgbToRgb)(const float* r_in, const float* g_in, const float* b_in, float* r_out,
                         float* g_out, float* b_out, uint32_t count, const dng_matrix& matrix);
  // 31-32: curves through a 1-D table.
  void (*CurveRow)(const float* src, float* dst, uint32_t count, const dng_1d_table& table);
  void (*CurveRgbHueKept)(const float* r_in, const float* g_in, const float* b_in, float* r_out,
                          float* g_out, float* b_out, uint32_t count, const dng_1d_table& table);
  // 33-36: resampling. U16: clamp((8192 + sum w * s) >> 14, 0, maximum);
  // Float: the sum clipped to [0, 1]. Horizontal: output i's taps start at
  // source sample coords[i] >> 7, its weights at row coords[i] & 127.
  void (*FilterVerticalU16)(const uint16_t* src, uint16_t* dst, uint32_t count,
                            int32_t src_row_step, const int16_t* weights, uint32_t taps,
                            uint32_t maximum);
  void (*FilterVerticalFloat)(const float* src, float* dst, uint32_t count, int32_t src_row_step,
                              const float* weights, uint32_t taps);
  void (*FilterHorizontalU16)(const uint16_t* src, uint16_t* dst, uint32_t count,
                              const int32_t* coords, const int16_t* weights, uint32_t taps,
                              int32_t weight_row_step, uint32_t maximum);
  void (*FilterHorizontalFloat)(const float* src, float* dst, uint32_t count,
                                const int32_t* coords, const float* weights, uint32_t taps,
                                int32_t weight_row_step);
};

inline constexpr uint32_t dng_pixel_kernel_slots = 37;
static_assert(sizeof(dng_pixel_kernel_table) == dng_pixel_kernel_slots * sizeof(void (*)()));

// The process-wide table; callers read the entry at each call.
extern dng_pixel_kernel_table dng_pixel_kernels;

// The portable routines (what dng_pixel_kernels holds at start).
extern const dng_pixel_kernel_table dng_scalar_pixel_kernels;

// InterpolateRowU16 for two alternating phases at full scale (2 x 2
// patterns): phase_count 2, shift 0 and at most four taps per phase, with
// the two kernels held in registers for the whole row. Any other arguments
// go to the table's InterpolateRowU16. Results equal that routine's.
void interpolate_row_u16_2x2(const uint16_t* src, uint16_t* dst, uint32_t count, uint32_t phase,
                             uint32_t phase_count, const uint32_t* tap_counts,
                             const int32_t* const* tap_offsets, const uint16_t* const* tap_weights,
                             uint32_t shift);

// [0, 1] clipping in which NaN gives 0.
inline float clip_unit(float x) {
  x = x > 0.0f ? x : 0.0f;
  return x < 1.0f ? x : 1.0f;
}
