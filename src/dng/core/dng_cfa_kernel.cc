#include "dng/core/dng_cfa_kernel.h"

#include <cmath>

#include "dng/core/dng_errors.h"

void dng_cfa_kernel::AddTap(dng_extent at, float w) {
  if (!(w > 0.0f)) return;
  for (uint32_t i = 0; i < count; ++i) {
    if (offset[i] == at) {
      weight[i] += w;
      return;
    }
  }
  if (count == kMaxTaps) throw_dng_code(dng_code_unknown);
  offset[count] = at;
  weight[count] = w;
  ++count;
}

void dng_cfa_kernel::Finish(dng_extent factors, uint32_t phase_row, uint32_t phase_col,
                            int32_t row_step, int32_t col_step) {
  for (uint32_t i = 0; i < count; ++i) {
    if (factors.v == 2) offset[i].v = (offset[i].v + static_cast<int32_t>(phase_row & 1)) >> 1;
    if (factors.h == 2) offset[i].h = (offset[i].h + static_cast<int32_t>(phase_col & 1)) >> 1;
  }
  // Insertion sort keeps equal offsets in their order.
  for (uint32_t i = 1; i < count; ++i) {
    dng_extent o = offset[i];
    float w = weight[i];
    uint32_t j = i;
    while (j > 0 && (offset[j - 1].v > o.v || (offset[j - 1].v == o.v && offset[j - 1].h > o.h))) {
      offset[j] = offset[j - 1];
      weight[j] = weight[j - 1];
      --j;
    }
    offset[j] = o;
    weight[j] = w;
  }
  int32_t sum = 0;
  uint32_t largest = 0;
  for (uint32_t i = 0; i < count; ++i) {
    linear_offset[i] = offset[i].v * row_step + offset[i].h * col_step;
    weight16[i] = static_cast<uint16_t>(std::floor(weight[i] * 256.0f + 0.5f));
    sum += weight16[i];
    if (weight16[i] > weight16[largest]) largest = i;
  }
  if (count != 0) weight16[largest] = static_cast<uint16_t>(weight16[largest] + (256 - sum));
  for (uint32_t i = 0; i < count; ++i) weight[i] = weight16[i] / 256.0f;
}
