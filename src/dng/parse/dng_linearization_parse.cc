#include "dng/parse/dng_linearization_parse.h"

#include <cstring>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"

namespace {

// Positions the stream at count values of the type, all inside the stream.
void seek_to_values(dng_stream& stream, uint32_t type, uint32_t position, uint32_t count) {
  uint64_t size = tag_type_size(type);
  if (size == 0) size = 1;
  uint64_t length = stream.TotalLength();
  if (position > length || uint64_t{count} * size > length - position) {
    throw_dng_code(dng_code_end_of_file);
  }
  stream.SeekForRead(position);
}

}  // namespace

void parse_linearization_info(dng_host&, dng_stream& stream, const dng_ifd& ifd,
                              dng_linearization_info& info) {
  info.active_area = ifd.active_area;
  if (info.active_area.IsEmpty()) {
    info.active_area = dng_box(0, 0, static_cast<int32_t>(ifd.image_length), static_cast<int32_t>(ifd.image_width));
  }
  info.masked_area_count = ifd.masked_areas_count > 4 ? 4 : ifd.masked_areas_count;
  for (uint32_t i = 0; i < 4; ++i) info.masked_area[i] = ifd.masked_area[i];
  info.table.clear();
  if (ifd.linearization_table_count != 0) {
    seek_to_values(stream, dng_type_short, ifd.linearization_table_position, ifd.linearization_table_count);
    info.table.resize(ifd.linearization_table_count);
    for (uint16_t& v : info.table) v = stream.GetUInt16();
  }
  info.black_level_repeat_rows = ifd.black_level_repeat_rows;
  info.black_level_repeat_cols = ifd.black_level_repeat_cols;
  std::memcpy(info.black_level, ifd.black_level, sizeof info.black_level);
  auto read_deltas = [&](uint32_t type, uint32_t position, uint32_t count, std::vector<double>& out) {
    out.clear();
    if (count == 0) return;
    seek_to_values(stream, type, position, count);
    out.resize(count);
    for (double& v : out) v = stream.TagValueAsReal64(type);
  };
  read_deltas(ifd.black_level_delta_h_type, ifd.black_level_delta_h_position, ifd.black_level_delta_h_count,
              info.black_delta_h);
  read_deltas(ifd.black_level_delta_v_type, ifd.black_level_delta_v_position, ifd.black_level_delta_v_count,
              info.black_delta_v);
  for (uint32_t i = 0; i < 4; ++i) info.white_level[i] = ifd.white_level[i];
  info.QuantizeBlackLevels();
}
