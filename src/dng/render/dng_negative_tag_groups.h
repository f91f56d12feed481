// Directory entries made from a negative: its XMP packet, its linearization
// data (active and masked areas, table, black and white levels) and its
// colour data (illuminants, matrices, balance, white).
//
// Like the other tag groups, each inserts its entries in its constructor and
// owns them and their values; it must outlive the writing of the directory.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_rational.h"
#include "dng/render/dng_tiff_tags.h"

class dng_camera_profile;
class dng_memory_block;
class dng_negative;
class dng_xmp;

// XMLPacket (700, BYTE): the packet serialised with 4096 bytes of padding;
// count 0 without XMP or with an empty packet.
class tag_xmp : public tag_uint8_ptr {
 public:
  explicit tag_xmp(const dng_xmp* xmp);
  ~tag_xmp() override;

 private:
  std::unique_ptr<dng_memory_block> packet_;
};

// ActiveArea, MaskedAreas, LinearizationTable, BlackLevelRepeatDim,
// BlackLevel and the black-level deltas when the negative has
// linearization data; WhiteLevel always, one per plane of the image the
// negative would write (LONG when a value needs it).
class range_tag_group {
 public:
  range_tag_group(tag_directory& directory, const dng_negative& negative);
  range_tag_group(const range_tag_group&) = delete;
  range_tag_group& operator=(const range_tag_group&) = delete;

 private:
  template <class Tag, class... Args>
  void Add(tag_directory& directory, Args&&... args);

  uint32_t active_area_[4] = {};
  uint32_t masked_areas_[16] = {};
  std::vector<uint16_t> table_;
  uint16_t repeat_dim_[2] = {};
  dng_unsigned_ratio black_level_[256];
  dng_heap_buffer delta_h_;
  dng_heap_buffer delta_v_;
  uint16_t white_level16_[4] = {};
  uint32_t white_level32_[4] = {};
  std::vector<std::unique_ptr<tiff_tag>> tags_;
};

// The colour entries of IFD 0 for a negative of more than one channel: the
// profile's illuminants and matrices (camera calibrations only when square,
// reduction matrices only for more than three channels), AnalogBalance,
// AsShotNeutral or AsShotWhiteXY, and LinearResponseLimit. A multi-channel
// negative without a profile raises 100006.
class color_tag_group {
 public:
  color_tag_group(tag_directory& directory, const dng_negative& negative, const dng_camera_profile* profile);
  color_tag_group(const color_tag_group&) = delete;
  color_tag_group& operator=(const color_tag_group&) = delete;

 private:
  template <class Tag, class... Args>
  void Add(tag_directory& directory, Args&&... args);

  dng_unsigned_ratio analog_balance_[4];
  dng_unsigned_ratio neutral_[4];
  dng_unsigned_ratio white_xy_[2];
  std::vector<std::unique_ptr<tiff_tag>> tags_;
};
