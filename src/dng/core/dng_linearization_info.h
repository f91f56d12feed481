// The linearization data of a raw image: the active area, an optional
// linearization table, a repeating black-level pattern with per-row and
// per-column deltas, and the white levels; LinearizeImage turns stage-1
// samples into linear 16-bit (or float) stage-2 samples.
#pragma once

#include <cstdint>
#include <vector>

#include "dng/core/dng_box.h"

class dng_host;
class dng_image;

class dng_linearization_info {
 public:
  dng_linearization_info() = default;
  virtual ~dng_linearization_info() = default;

  // An empty active area becomes the stage-1 image's bounds.
  void FinishParse(const dng_box& stage1_bounds);

  // Rounds the black levels and deltas to rationals with a common
  // denominator: 256, halved while the largest magnitude times it reaches
  // 1.96608e9.
  void QuantizeBlackLevels();

  // The highest black level that any pixel of the plane can have.
  double PeakBlackLevel(uint32_t plane) const;

  // Every plane of source, over the active area, into destination (whose
  // origin is the active area's top-left corner). Source pixel types 1, 3, 4
  // and destination types 3 and 11 only, else 100000; a white level not
  // above the peak black level gives 100006.
  virtual void LinearizeImage(dng_host& host, const dng_image& source, dng_image& destination) const;

  dng_box active_area;
  uint32_t masked_area_count = 0;
  dng_box masked_area[4];
  std::vector<uint16_t> table;  // the linearization table; empty for none
  uint32_t black_level_repeat_rows = 1;
  uint32_t black_level_repeat_cols = 1;
  double black_level[8][8][4] = {};
  std::vector<double> black_delta_h;  // one per active-area column, or none
  std::vector<double> black_delta_v;  // one per active-area row, or none
  double white_level[4] = {65535.0, 65535.0, 65535.0, 65535.0};
  int32_t black_denominator = 256;
};
