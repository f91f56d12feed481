// The area task that linearizes one plane (see dng_linearization_info).
#pragma once

#include <cstdint>
#include <vector>

#include "dng/core/dng_area_task.h"
#include "dng/core/dng_box.h"

class dng_image;
class dng_linearization_info;

class dng_linearize_plane : public dng_area_task {
 public:
  dng_linearize_plane(const dng_linearization_info& info, const dng_image& source,
                      dng_image& destination, uint32_t plane);

  dng_box AlignTile1() const override;
  dng_box AlignTile2() const override;
  void ProcessTile(uint32_t thread_index, const dng_box& tile, dng_cancel_hook* hook) override;

 private:
  const dng_image& source_;
  dng_image& destination_;
  uint32_t plane_;
  uint32_t range_;
  dng_box active_;
  uint32_t source_type_;
  uint32_t destination_type_;
  bool float_path_;
  float scale_;
  // Lookup entries: with no black tables, the final output (16-bit or float
  // as a double); otherwise the table value in fixed point (8 fraction
  // bits on the output scale, in 64 bits so that no sum wraps) or float.
  bool single_lookup_ = false;
  std::vector<int64_t> lookup_fixed_;
  std::vector<uint16_t> lookup16_;  // the single lookup into 16-bit samples
  std::vector<float> lookup_float_;
  uint32_t black2d_rows_ = 0;
  uint32_t black2d_cols_ = 0;
  std::vector<int64_t> black2d_fixed_;
  std::vector<float> black2d_float_;
  uint32_t black1d_count_ = 0;
  std::vector<int64_t> black1d_fixed_;
  std::vector<float> black1d_float_;
};
