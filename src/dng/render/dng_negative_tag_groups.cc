#include "dng/render/dng_negative_tag_groups.h"

#include <utility>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_memory_block.h"
#include "dng/parse/dng_camera_profile.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp.h"

namespace {

std::unique_ptr<dng_memory_block> serialised_packet(const dng_xmp* xmp) {
  if (xmp == nullptr) return nullptr;
  return xmp->WritePacketBlock(true, 0, 4096);
}

// Planes of the image the negative would write (at least 1, at most 4).
uint32_t written_planes(const dng_negative& negative) {
  const dng_image* image = negative.BestImage();
  uint32_t planes = image != nullptr ? image->Planes() : 1;
  if (planes < 1) planes = 1;
  return planes < 4 ? planes : 4;
}

}  // namespace

tag_xmp::tag_xmp(const dng_xmp* xmp) : tag_uint8_ptr(700, nullptr, 0) {
  packet_ = serialised_packet(xmp);
  if (packet_ != nullptr) {
    SetData(packet_->Buffer());
    SetCount(packet_->Size());
  }
}

tag_xmp::~tag_xmp() = default;

template <class Tag, class... Args>
void range_tag_group::Add(tag_directory& directory, Args&&... args) {
  auto tag = std::make_unique<Tag>(std::forward<Args>(args)...);
  directory.Insert(tag.get());
  tags_.push_back(std::move(tag));
}

range_tag_group::range_tag_group(tag_directory& directory, const dng_negative& negative) {
  const uint32_t planes = written_planes(negative);
  const dng_linearization_info* info = negative.LinearizationInfo();
  if (info != nullptr) {
    if (!info->active_area.IsEmpty()) {
      active_area_[0] = uint32_t(info->active_area.top);
      active_area_[1] = uint32_t(info->active_area.left);
      active_area_[2] = uint32_t(info->active_area.bottom);
      active_area_[3] = uint32_t(info->active_area.right);
      Add<tag_uint32_ptr>(directory, uint16_t(50829), active_area_, 4u);
    }
    const uint32_t masked = info->masked_area_count < 4 ? info->masked_area_count : 4;
    if (masked != 0) {
      for (uint32_t i = 0; i < masked; ++i) {
        const dng_box& a = info->masked_area[i];
        masked_areas_[4 * i + 0] = uint32_t(a.top);
        masked_areas_[4 * i + 1] = uint32_t(a.left);
        masked_areas_[4 * i + 2] = uint32_t(a.bottom);
        masked_areas_[4 * i + 3] = uint32_t(a.right);
      }
      Add<tag_uint32_ptr>(directory, uint16_t(50830), masked_areas_, 4 * masked);
    }
    if (!info->table.empty()) {
      table_ = info->table;
      Add<tag_uint16_ptr>(directory, uint16_t(50712), table_.data(), uint32_t(table_.size()));
    }
    const uint32_t rows = info->black_level_repeat_rows;
    const uint32_t cols = info->black_level_repeat_cols;
    if (rows < 1 || rows > 8 || cols < 1 || cols > 8) throw_dng_code(dng_code_unknown);
    repeat_dim_[0] = uint16_t(rows);
    repeat_dim_[1] = uint16_t(cols);
    Add<tag_uint16_ptr>(directory, uint16_t(50713), repeat_dim_, 2u);
    const uint32_t denominator = info->black_denominator > 0 ? uint32_t(info->black_denominator) : 256u;
    uint32_t count = 0;
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t c = 0; c < cols; ++c) {
        for (uint32_t p = 0; p < planes; ++p) black_level_[count++].FromReal(info->black_level[r][c][p], denominator);
      }
    }
    Add<tag_urational_ptr>(directory, uint16_t(50714), black_level_, count);
    auto deltas = [&](uint16_t code, const std::vector<double>& values, dng_heap_buffer& buffer) {
      if (values.empty()) return;
      if (values.size() > 0xFFFFFFu) throw_dng_code(dng_code_unknown);
      buffer.Resize(values.size() * sizeof(dng_signed_ratio));
      auto* ratios = static_cast<dng_signed_ratio*>(buffer.Buffer());
      for (size_t i = 0; i < values.size(); ++i) {
        ratios[i] = dng_signed_ratio();
        ratios[i].FromReal(values[i], denominator);
      }
      Add<tag_srational_ptr>(directory, code, ratios, uint32_t(values.size()));
    };
    deltas(50715, info->black_delta_h, delta_h_);
    deltas(50716, info->black_delta_v, delta_v_);
  }
  bool needs_long = false;
  for (uint32_t p = 0; p < planes; ++p) {
    white_level32_[p] = negative.PlaneWhiteLevel(p);
    white_level16_[p] = uint16_t(white_level32_[p]);
    if (white_level32_[p] > 0xFFFF) needs_long = true;
  }
  if (needs_long) {
    Add<tag_uint32_ptr>(directory, uint16_t(50717), white_level32_, planes);
  } else {
    Add<tag_uint16_ptr>(directory, uint16_t(50717), white_level16_, planes);
  }
}

template <class Tag, class... Args>
void color_tag_group::Add(tag_directory& directory, Args&&... args) {
  auto tag = std::make_unique<Tag>(std::forward<Args>(args)...);
  directory.Insert(tag.get());
  tags_.push_back(std::move(tag));
}

color_tag_group::color_tag_group(tag_directory& directory, const dng_negative& negative,
                                 const dng_camera_profile* profile) {
  const uint32_t n = negative.ColorChannels();
  if (n <= 1) return;
  if (profile == nullptr || n > 4) throw_dng_code(dng_code_bad_format);
  auto square = [n](const dng_matrix& m) { return m.Rows() == n && m.Cols() == n; };
  auto reduction = [n](const dng_matrix& m) { return n > 3 && m.Rows() == 3 && m.Cols() == n; };

  Add<tag_uint16>(directory, uint16_t(50778), uint16_t(profile->CalibrationIlluminant1()));
  Add<tag_matrix>(directory, uint16_t(50721), profile->ColorMatrix1());
  if (square(profile->CameraCalibration1())) {
    Add<tag_matrix>(directory, uint16_t(50723), profile->CameraCalibration1());
  }
  if (reduction(profile->ReductionMatrix1())) {
    Add<tag_matrix>(directory, uint16_t(50725), profile->ReductionMatrix1());
  }
  if (profile->HasTwoColorMatrices()) {
    Add<tag_uint16>(directory, uint16_t(50779), uint16_t(profile->CalibrationIlluminant2()));
    Add<tag_matrix>(directory, uint16_t(50722), profile->ColorMatrix2());
    if (square(profile->CameraCalibration2())) {
      Add<tag_matrix>(directory, uint16_t(50724), profile->CameraCalibration2());
    }
    if (reduction(profile->ReductionMatrix2())) {
      Add<tag_matrix>(directory, uint16_t(50726), profile->ReductionMatrix2());
    }
  }
  for (uint32_t i = 0; i < n; ++i) analog_balance_[i] = negative.ChannelBalanceRational(i);
  Add<tag_urational_ptr>(directory, uint16_t(50727), analog_balance_, n);
  if (negative.HasCameraNeutral()) {
    for (uint32_t i = 0; i < n; ++i) neutral_[i] = negative.NeutralRational(i);
    Add<tag_urational_ptr>(directory, uint16_t(50728), neutral_, n);
  } else if (negative.HasCameraWhiteXY()) {
    negative.WhiteXYRationals(white_xy_[0], white_xy_[1]);
    Add<tag_urational_ptr>(directory, uint16_t(50729), white_xy_, 2u);
  }
  Add<tag_urational>(directory, uint16_t(50734), negative.LinearResponseLimit());
}
