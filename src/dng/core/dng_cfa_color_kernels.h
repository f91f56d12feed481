// The bilinear demosaic kernels of one colour plane, for every phase of the
// (possibly expanded) colour-filter pattern.
#pragma once

#include <cstdint>

#include "dng/core/dng_box.h"
#include "dng/core/dng_cfa_kernel.h"

class dng_mosaic_info;
class dng_pixel_buffer;

class dng_cfa_color_kernels {
 public:
  static constexpr uint32_t kMaxPhases = 16;

  dng_cfa_color_kernels() { Reset(); }

  void Reset();

  // Builds the kernels of plane colour color_index for a source with the
  // given steps. Layouts other than 1-5 raise 100000; a colour that the
  // pattern lacks raises 100006.
  void Build(const dng_mosaic_info& info, uint32_t color_index, int32_t row_step, int32_t col_step);

  const dng_cfa_kernel& Kernel(uint32_t phase_row, uint32_t phase_col) const {
    return kernels_[phase_row * kMaxPhases + phase_col];
  }
  dng_extent Factors() const { return factors_; }
  dng_extent ExpandedSize() const { return expanded_; }

  // Called on the first of an array of one object per colour: fills every
  // plane j of dst's area from src (its own plane), with the kernels of
  // object j. A 16-bit destination uses the 16-bit weights, any other the
  // float weights.
  void InterpolateRows(const dng_pixel_buffer& src, dng_pixel_buffer& dst) const;

 private:
  dng_extent factors_;
  dng_extent expanded_;
  dng_cfa_kernel kernels_[kMaxPhases * kMaxPhases];
  uint32_t tap_counts_[kMaxPhases * kMaxPhases];
  const int32_t* offsets_[kMaxPhases * kMaxPhases];
  const uint16_t* weights16_[kMaxPhases * kMaxPhases];
  const float* weights_[kMaxPhases * kMaxPhases];
};

// Resets all four and builds one object per colour of the info.
void build_all_cfa_kernels(dng_cfa_color_kernels kernels[4], const dng_mosaic_info& info,
                           int32_t row_step, int32_t col_step);
