#include "support/psd_builder.h"

#include "util/str_append.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace testing_support {

std::string& captured_print() {
  static std::string text;
  return text;
}

void capture_print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  captured_print() += StrVFormat(format, args);
  va_end(args);
}

void put_u8(std::string* out, uint8_t value) { out->push_back(static_cast<char>(value)); }

void put_u16(std::string* out, uint16_t value) {
  out->push_back(static_cast<char>(value >> 8));
  out->push_back(static_cast<char>(value));
}

void put_u32(std::string* out, uint32_t value) {
  put_u16(out, static_cast<uint16_t>(value >> 16));
  put_u16(out, static_cast<uint16_t>(value));
}

void poke_u32(std::string* data, size_t offset, uint32_t value) {
  std::string bytes;
  put_u32(&bytes, value);
  data->replace(offset, 4, bytes);
}

void poke_u16(std::string* data, size_t offset, uint16_t value) {
  std::string bytes;
  put_u16(&bytes, value);
  data->replace(offset, 2, bytes);
}

std::string packbits(const std::string& row) {
  std::string out;
  size_t i = 0;
  while (i < row.size()) {
    size_t run = 1;
    while (i + run < row.size() && run < 128 && row[i + run] == row[i]) ++run;
    if (run >= 3) {
      out.push_back(static_cast<char>(1 - static_cast<int>(run)));
      out.push_back(row[i]);
      i += run;
      continue;
    }
    size_t start = i;
    while (i < row.size() && i - start < 128) {
      if (i + 2 < row.size() && row[i] == row[i + 1] && row[i] == row[i + 2]) break;
      ++i;
    }
    out.push_back(static_cast<char>(i - start - 1));
    out.append(row, start, i - start);
  }
  return out;
}

std::string raw_channel(const std::string& samples) {
  std::string out;
  put_u16(&out, 0);
  return out + samples;
}

std::string rle_channel(const std::vector<std::string>& rows) {
  std::string out;
  put_u16(&out, 1);
  std::string packed;
  for (const std::string& row : rows) {
    std::string p = packbits(row);
    put_u16(&out, static_cast<uint16_t>(p.size()));
    packed += p;
  }
  return out + packed;
}

PsdBuilder::PsdBuilder(uint16_t channel_count, uint32_t row_count, uint32_t column_count)
    : channels(channel_count), rows(row_count), columns(column_count) {
  // Files of absurd size are for refusal tests; they get no image data.
  if (uint64_t{channels} * rows * columns <= (16u << 20)) set_raw_image(sample_rows());
}

std::vector<std::vector<std::string>> PsdBuilder::sample_rows() const {
  std::vector<std::vector<std::string>> result(channels);
  for (uint16_t c = 0; c < channels; ++c) {
    for (uint32_t r = 0; r < rows; ++r) {
      std::string row(columns, '\0');
      for (uint32_t x = 0; x < columns; ++x) {
        row[x] = static_cast<char>(x < columns / 2 ? c * 40 + r : c * 40 + r + x);
      }
      result[c].push_back(row);
    }
  }
  return result;
}

void PsdBuilder::set_raw_image(const std::vector<std::vector<std::string>>& channel_rows) {
  image_compression = 0;
  image_data.clear();
  for (const auto& rows_of_channel : channel_rows) {
    for (const std::string& row : rows_of_channel) image_data += row;
  }
}

void PsdBuilder::set_rle_image(const std::vector<std::vector<std::string>>& channel_rows) {
  image_compression = 1;
  std::string counts, packed;
  for (const auto& rows_of_channel : channel_rows) {
    for (const std::string& row : rows_of_channel) {
      std::string p = packbits(row);
      put_u16(&counts, static_cast<uint16_t>(p.size()));
      packed += p;
    }
  }
  image_data = counts + packed;
}

namespace {

void put_rect(std::string* out, const PsdRect& r) {
  put_u32(out, static_cast<uint32_t>(r.top));
  put_u32(out, static_cast<uint32_t>(r.left));
  put_u32(out, static_cast<uint32_t>(r.bottom));
  put_u32(out, static_cast<uint32_t>(r.right));
}

std::string mask_record(const PsdMask& m) {
  std::string out;
  put_rect(&out, m.rect);
  put_u8(&out, m.default_color);
  put_u8(&out, m.flags);
  out += m.parameters;
  if (m.real_rect) {
    put_u8(&out, m.flags);  // real flags
    put_u8(&out, 255);      // real user mask background
    put_rect(&out, *m.real_rect);
  } else {
    put_u16(&out, 0);  // padding of the 20-byte form
  }
  return out + m.trailing;
}

// Appends a layer record; offsets of its fields go into boundaries.
void put_layer_record(std::string* out, const PsdLayer& layer, size_t base, std::vector<size_t>* boundaries) {
  auto mark = [&] { boundaries->push_back(base + out->size()); };
  mark();
  put_rect(out, layer.rect);
  put_u16(out, static_cast<uint16_t>(layer.channels.size()));
  for (const auto& channel : layer.channels) {
    mark();
    put_u16(out, static_cast<uint16_t>(channel.id));
    put_u32(out, channel.length_override.value_or(static_cast<uint32_t>(channel.data.size())));
  }
  mark();
  *out += layer.blend_signature.substr(0, 4);
  *out += layer.blend_key.substr(0, 4);
  put_u8(out, layer.opacity);
  put_u8(out, layer.clipping);
  put_u8(out, layer.flags);
  put_u8(out, 0);

  std::string extra;
  std::vector<size_t> extra_marks;
  std::string mask = layer.mask ? mask_record(*layer.mask) : std::string();
  extra_marks.push_back(extra.size());
  put_u32(&extra, layer.mask_size_override.value_or(static_cast<uint32_t>(mask.size())));
  extra += mask;
  extra_marks.push_back(extra.size());
  put_u32(&extra, static_cast<uint32_t>(layer.blending_ranges.size()));
  extra += layer.blending_ranges;
  extra_marks.push_back(extra.size());
  std::string name = layer.name.substr(0, 255);
  put_u8(&extra, static_cast<uint8_t>(name.size()));
  extra += name;
  extra.append((4 - (1 + name.size()) % 4) % 4, '\0');
  for (const PsdExtraBlock& block : layer.extra) {
    extra_marks.push_back(extra.size());
    extra += block.signature.substr(0, 4);
    extra += block.key.substr(0, 4);
    put_u32(&extra, block.length_override.value_or(static_cast<uint32_t>(block.data.size())));
    extra += block.data;
  }
  mark();
  put_u32(out, layer.extra_size_override.value_or(static_cast<uint32_t>(extra.size())));
  size_t extra_start = base + out->size();
  for (size_t m : extra_marks) boundaries->push_back(extra_start + m);
  *out += extra;
}

}  // namespace

PsdLayer rle_layer(PsdRect rect, int channel_count, bool alpha, const std::string& name) {
  PsdLayer layer;
  layer.rect = rect;
  layer.name = name;
  const size_t width = static_cast<size_t>(rect.right - rect.left);
  const size_t height = static_cast<size_t>(rect.bottom - rect.top);
  std::vector<int16_t> ids;
  if (alpha) ids.push_back(-1);
  for (int c = 0; c < channel_count; ++c) ids.push_back(static_cast<int16_t>(c));
  for (int16_t id : ids) {
    std::vector<std::string> rows;
    for (size_t r = 0; r < height; ++r) {
      std::string row(width, static_cast<char>(id * 16 + static_cast<int>(r)));
      for (size_t x = width / 2; x < width; ++x) row[x] = static_cast<char>(x * 3 + r);
      rows.push_back(row);
    }
    layer.channels.push_back({id, rle_channel(rows), std::nullopt});
  }
  return layer;
}

std::string PsdBuilder::build(PsdLayout* layout) const {
  PsdLayout local;
  PsdLayout& l = layout != nullptr ? *layout : local;
  l = PsdLayout();
  std::string out;
  auto mark = [&] { l.boundaries.push_back(out.size()); };

  mark();
  out += signature.substr(0, 4);
  put_u16(&out, version);
  out.append(6, '\0');
  put_u16(&out, channels);
  put_u32(&out, rows);
  put_u32(&out, columns);
  put_u16(&out, depth);
  put_u16(&out, mode);

  l.color_mode_length = out.size();
  mark();
  put_u32(&out, color_mode_length_override.value_or(static_cast<uint32_t>(color_mode_data.size())));
  out += color_mode_data;

  l.resources_length = out.size();
  mark();
  std::string blocks;
  std::vector<size_t> block_marks;
  for (const PsdResource& r : resources) {
    block_marks.push_back(blocks.size());
    blocks += r.type.substr(0, 4);
    put_u16(&blocks, r.id);
    std::string name = r.name.substr(0, 255);
    put_u8(&blocks, static_cast<uint8_t>(name.size()));
    blocks += name;
    if (name.size() % 2 == 0) blocks.push_back('\0');
    put_u32(&blocks, r.size_override.value_or(static_cast<uint32_t>(r.data.size())));
    blocks += r.data;
    if (r.data.size() % 2 != 0) blocks.push_back('\0');
  }
  put_u32(&out, resources_length_override.value_or(static_cast<uint32_t>(blocks.size())));
  for (size_t m : block_marks) l.boundaries.push_back(out.size() + m);
  out += blocks;

  l.layer_mask_length = out.size();
  mark();
  if (!write_layer_section && layers.empty()) {
    put_u32(&out, layer_mask_length_override.value_or(0));
  } else {
    const size_t section_start = out.size() + 4;
    std::string section;
    std::vector<size_t> section_marks;
    section_marks.push_back(section.size());
    l.layer_info_length = section_start;
    std::string info;
    if (!layers.empty()) {
      int16_t count = static_cast<int16_t>(layers.size());
      put_u16(&info, static_cast<uint16_t>(first_alpha_is_transparency ? -count : count));
      l.layer_records = section_start + 4 + info.size();
      for (const PsdLayer& layer : layers) put_layer_record(&info, layer, section_start + 4, &l.boundaries);
      l.channel_data = section_start + 4 + info.size();
      for (const PsdLayer& layer : layers) {
        for (const auto& channel : layer.channels) {
          l.boundaries.push_back(section_start + 4 + info.size());
          info += channel.data;
        }
      }
    }
    info += layer_info_padding;
    if (pad_layer_info && info.size() % 2 != 0) info.push_back('\0');
    put_u32(&section, layer_info_length_override.value_or(static_cast<uint32_t>(info.size())));
    section += info;
    if (!omit_global_mask) {
      l.global_mask_length = section_start + section.size();
      section_marks.push_back(section.size());
      put_u32(&section, static_cast<uint32_t>(global_mask.size()));
      section += global_mask;
    }
    section += after_global_mask;
    put_u32(&out, layer_mask_length_override.value_or(static_cast<uint32_t>(section.size())));
    for (size_t m : section_marks) l.boundaries.push_back(section_start + m);
    out += section;
  }

  l.image_data = out.size();
  mark();
  put_u16(&out, image_compression);
  out += image_data;
  l.boundaries.push_back(out.size());
  std::sort(l.boundaries.begin(), l.boundaries.end());
  l.boundaries.erase(std::unique(l.boundaries.begin(), l.boundaries.end()), l.boundaries.end());
  return out;
}

}  // namespace testing_support
