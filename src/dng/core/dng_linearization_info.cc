#include "dng/core/dng_linearization_info.h"

#include <algorithm>
#include <cmath>

#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_linearize_plane.h"
#include "dng/core/dng_rational.h"

void dng_linearization_info::FinishParse(const dng_box& stage1_bounds) {
  if (active_area.IsEmpty()) active_area = stage1_bounds;
}

void dng_linearization_info::QuantizeBlackLevels() {
  uint32_t rows = std::clamp<uint32_t>(black_level_repeat_rows, 1, 8);
  uint32_t cols = std::clamp<uint32_t>(black_level_repeat_cols, 1, 8);
  double m = 0.0;
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c)
      for (uint32_t s = 0; s < 4; ++s) m = std::max(m, std::fabs(black_level[r][c][s]));
  for (double d : black_delta_h) m = std::max(m, std::fabs(d));
  for (double d : black_delta_v) m = std::max(m, std::fabs(d));
  int32_t denominator = 256;
  while (denominator > 1 && m * denominator >= 1966080000.0) denominator /= 2;
  black_denominator = denominator;
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      for (uint32_t s = 0; s < 4; ++s) {
        // Through the unsigned rational: at or below 0 and NaN give 0,
        // values beyond its range saturate.
        dng_unsigned_ratio q;
        q.FromReal(black_level[r][c][s], uint32_t(denominator));
        black_level[r][c][s] = q.ToReal();
      }
    }
  }
  auto signed_round = [denominator](double& x) {
    dng_signed_ratio q;
    q.FromReal(x, uint32_t(denominator));
    x = q.ToReal();
  };
  for (double& d : black_delta_h) signed_round(d);
  for (double& d : black_delta_v) signed_round(d);
}

double dng_linearization_info::PeakBlackLevel(uint32_t plane) const {
  uint32_t rows = std::clamp<uint32_t>(black_level_repeat_rows, 1, 8);
  uint32_t cols = std::clamp<uint32_t>(black_level_repeat_cols, 1, 8);
  double col_peak[8] = {}, row_peak[8] = {};
  bool col_seen[8] = {}, row_seen[8] = {};
  for (size_t c = 0; c < black_delta_h.size(); ++c) {
    size_t p = c % cols;
    col_peak[p] = col_seen[p] ? std::max(col_peak[p], black_delta_h[c]) : black_delta_h[c];
    col_seen[p] = true;
  }
  for (size_t r = 0; r < black_delta_v.size(); ++r) {
    size_t p = r % rows;
    row_peak[p] = row_seen[p] ? std::max(row_peak[p], black_delta_v[r]) : black_delta_v[r];
    row_seen[p] = true;
  }
  double peak = -HUGE_VAL;
  for (uint32_t r = 0; r < rows; ++r)
    for (uint32_t c = 0; c < cols; ++c)
      peak = std::max(peak, black_level[r][c][std::min<uint32_t>(plane, 3)] + col_peak[c] + row_peak[r]);
  return peak;
}

void dng_linearization_info::LinearizeImage(dng_host& host, const dng_image& source,
                                            dng_image& destination) const {
  for (uint32_t plane = 0; plane < source.Planes(); ++plane) {
    dng_linearize_plane task(*this, source, destination, plane);
    host.RunAreaTask(task, active_area);
  }
}
