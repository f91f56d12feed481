#include "dng/parse/dng_read_image.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_image_spooler.h"
#include "dng/core/dng_ljpeg_decoder.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_parse_limits.h"

namespace {

constexpr uint32_t kChunkBytes = 131072;
constexpr uint32_t kMaxTileSide = 65536;
// Byte order, magic number and the first directory's offset: no strip or
// tile can start inside them.
constexpr uint32_t kTiffHeaderBytes = 8;

[[noreturn]] void bad_format() { throw_dng_code(dng_code_bad_format); }

// N values of the array at position, of the given field type; the whole
// array must lie inside the stream.
std::vector<uint32_t> read_value_array(dng_stream& stream, uint32_t type, uint32_t position,
                                       uint64_t count) {
  uint64_t size = tag_type_size(type);
  if (size == 0) bad_format();
  uint64_t length = stream.TotalLength();
  if (position > length || count > (length - position) / size) throw_dng_code(dng_code_end_of_file);
  std::vector<uint32_t> values(static_cast<size_t>(count));
  stream.SeekForRead(position);
  for (auto& v : values) v = stream.TagValueAsUInt32(type);
  return values;
}

// The offsets or byte counts of count strips or tiles: the directory's own
// copies for up to 32, else the array in the file.
std::vector<uint32_t> tile_values(dng_stream& stream, const uint32_t* held, uint32_t type, uint32_t position,
                                  uint64_t count) {
  if (count <= dng_ifd::kMaxTileOffsets) return std::vector<uint32_t>(held, held + count);
  return read_value_array(stream, type, position, count);
}

uint64_t saturating_add(uint64_t a, uint64_t b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }

// The strips or tiles of a directory whose geometry passed the checks, in
// the order of its offset and byte-count arrays: one group of rows of
// strips or tiles, or one group a plane when the planes are stored apart.
struct tile_layout {
  uint64_t count = 0;
  uint32_t groups = 1, planes_per_tile = 1;  // groups, and planes in each strip or tile
  uint64_t across = 0, down = 0;             // strips or tiles in a row, rows in a group
  std::vector<uint32_t> offsets;
};

// The layout of count strips or tiles, with their offsets read from the
// file where the directory does not hold them.
tile_layout layout_of(const dng_ifd& ifd, dng_stream& stream, uint64_t count) {
  tile_layout layout;
  const bool planar = ifd.planar_configuration == 2;
  layout.count = count;
  layout.groups = planar ? ifd.samples_per_pixel : 1;
  layout.planes_per_tile = planar ? 1 : ifd.samples_per_pixel;
  layout.across = ifd.TileColumns();
  layout.down = ifd.TileRows();
  layout.offsets = tile_values(stream, ifd.tile_offset, ifd.tile_offsets_type, ifd.tile_offsets_position, count);
  return layout;
}

// Calls visit(index, group, bounds) for each strip or tile of the layout's
// first group_limit groups, index counting through the arrays.
template <typename Visit>
void for_each_tile(const dng_ifd& ifd, const tile_layout& layout, uint32_t group_limit, Visit&& visit) {
  uint64_t index = 0;
  for (uint32_t group = 0; group < layout.groups && group < group_limit; ++group) {
    for (uint64_t row = 0; row < layout.down; ++row) {
      for (uint64_t column = 0; column < layout.across; ++column, ++index) {
        visit(index, group, ifd.TileBounds(row, column));
      }
    }
  }
}

}  // namespace

bool dng_read_image::Supports(const dng_ifd& ifd) {
  if (ifd.image_width == 0 || ifd.image_length == 0 || ifd.samples_per_pixel == 0 ||
      ifd.bits_per_sample[0] == 0) {
    return false;
  }
  for (uint32_t i = 1; i < std::min<uint32_t>(ifd.samples_per_pixel, 4); ++i) {
    if (ifd.bits_per_sample[i] != ifd.bits_per_sample[0] || ifd.sample_format[i] != ifd.sample_format[0]) {
      return false;
    }
  }
  if (ifd.planar_configuration != 1 && ifd.planar_configuration != 2 &&
      ifd.planar_configuration != 100000) {
    return false;
  }
  if (ifd.uses_strips == ifd.uses_tiles) return false;
  if (ifd.tile_width == 0 || ifd.tile_length == 0) return false;
  uint64_t tiles = ifd.TileCount();
  if (tiles == 0) return false;
  dng_box first(0, 0, static_cast<int32_t>(std::min<uint64_t>(ifd.tile_length, INT32_MAX)),
                static_cast<int32_t>(std::min<uint64_t>(ifd.tile_width, INT32_MAX)));
  uint64_t uncompressed = ifd.UncompressedTileBytes(first);
  if (tiles == 1) {
    if (uncompressed == 0 && ifd.tile_byte_count[0] == 0) return false;
  } else {
    if (ifd.tile_offsets_count != tiles) return false;
    if (uncompressed == 0 && ifd.tile_byte_counts_count != tiles) return false;
  }
  return SupportsTileEncoding(ifd);
}

bool dng_read_image::SupportsTileEncoding(const dng_ifd& ifd) {
  if (ifd.sample_format[0] != 1) return false;
  uint32_t bits = ifd.bits_per_sample[0];
  if (ifd.compression == 1) return bits >= 8 && bits <= 32;
  if (ifd.compression == 7) return !ifd.Is8BitJPEG() && bits >= 8 && bits <= 16;
  return false;
}

bool dng_read_image::WantsWholeTileBuffer(const dng_ifd&) { return false; }

uint64_t dng_read_image::CheckGeometry(const dng_ifd& ifd) {
  // In 64 bits: nothing here trusts that Supports ran.
  if (ifd.samples_per_pixel == 0 || ifd.samples_per_pixel > 4) bad_format();
  if (ifd.tile_width == 0 || ifd.tile_length == 0 || ifd.tile_width > kMaxTileSide ||
      ifd.tile_length > kMaxTileSide) {
    bad_format();
  }
  if (!Supports(ifd)) bad_format();
  const uint32_t groups = ifd.planar_configuration == 2 ? ifd.samples_per_pixel : 1;
  const uint64_t across = ifd.TileColumns();
  const uint64_t down = ifd.TileRows();
  const uint64_t count = checked_product_u64({across, down, groups}, dng_code_bad_format);
  // The last tile's edges must fit the image's coordinates.
  dng_tile_bounds last = ifd.TileBounds(down - 1, across - 1);
  if (last.right > INT32_MAX || last.bottom > INT32_MAX) bad_format();
  return count;
}

void dng_read_image::CheckImageData(const dng_ifd& ifd, dng_stream& stream, const char* directory) {
  // Offset and byte-count arrays are read like ReadImage reads them; an
  // uncompressed image whose byte counts are not one per strip or tile (the
  // reader does not use them) is held to its samples alone.
  const tile_layout layout = layout_of(ifd, stream, CheckGeometry(ifd));
  const uint64_t length = stream.TotalLength();
  const bool uncompressed = ifd.compression == 1;
  const char* kind = ifd.uses_tiles ? "Tile" : "Strip";
  char message[dng_message_buffer_size];
  auto fail = [&](int32_t code) {
    report_dng_error(message, directory);
    throw_dng_code(code);
  };

  std::vector<uint32_t> byte_counts;
  const bool have_counts = !uncompressed || ifd.tile_byte_counts_count == layout.count;
  if (have_counts) {
    byte_counts = tile_values(stream, ifd.tile_byte_count, ifd.tile_byte_counts_type,
                              ifd.tile_byte_counts_position, layout.count);
  }

  // Every strip or tile must lie past the header and within the file, and
  // an uncompressed one must hold its samples. The whole image must fit the
  // file: strips and tiles may share bytes, but the samples of an
  // uncompressed image take all their bits, and lossless JPEG takes at
  // least one bit a sample, as no Huffman code is shorter.
  uint64_t needed = 0;
  for_each_tile(ifd, layout, layout.groups, [&](uint64_t index, uint32_t, const dng_tile_bounds& b) {
    const dng_box area(static_cast<int32_t>(b.top), static_cast<int32_t>(b.left), static_cast<int32_t>(b.bottom),
                       static_cast<int32_t>(b.right));
    const uint64_t samples = uint64_t{area.W()} * area.H() * layout.planes_per_tile;
    const uint64_t need = uncompressed ? ifd.UncompressedTileBytes(area) : (samples + 7) / 8;
    needed = saturating_add(needed, need);
    const uint64_t offset = layout.offsets[index];
    const uint64_t stored = have_counts ? byte_counts[index] : need;
    if (offset < kTiffHeaderBytes) {
      std::snprintf(message, sizeof message, "%s %llu starts inside the file header", kind,
                    static_cast<unsigned long long>(index));
      fail(dng_code_bad_format);
    }
    if (offset > length || stored > length - offset) {
      std::snprintf(message, sizeof message, "%s %llu runs past the end of the file", kind,
                    static_cast<unsigned long long>(index));
      fail(dng_code_end_of_file);
    }
    if (uncompressed && stored < need) {
      std::snprintf(message, sizeof message, "%s %llu holds %llu of the %llu bytes its samples take", kind,
                    static_cast<unsigned long long>(index), static_cast<unsigned long long>(stored),
                    static_cast<unsigned long long>(need));
      fail(dng_code_bad_format);
    }
  });
  if (needed > length) {
    std::snprintf(message, sizeof message,
                  uncompressed ? "Image data needs %llu bytes, more than the file holds (%llu)"
                               : "Image data needs at least %llu bytes, more than the file holds (%llu)",
                  static_cast<unsigned long long>(needed), static_cast<unsigned long long>(length));
    fail(dng_code_bad_format);
  }
}

void dng_read_image::ReadImage(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_image& image) {
  const tile_layout layout = layout_of(ifd, stream, CheckGeometry(ifd));

  dng_box first(0, 0, static_cast<int32_t>(ifd.tile_length), static_cast<int32_t>(ifd.tile_width));
  const bool uncompressed = ifd.UncompressedTileBytes(first) != 0;
  std::vector<uint32_t> byte_counts;
  uint64_t rows_per_chunk;
  if (uncompressed) {
    uint64_t row_bytes =
        uint64_t{tag_type_size(ifd.SamplePixelType())} * ifd.tile_width * layout.planes_per_tile;
    rows_per_chunk = std::clamp<uint64_t>(kChunkBytes / row_bytes, 1, ifd.tile_length);
    chunk_buffer_.reset();
    chunk_buffer_.reset(host.AllocateBlock(image_block_size({row_bytes, rows_per_chunk})));
  } else {
    rows_per_chunk = ifd.tile_length;
    byte_counts = tile_values(stream, ifd.tile_byte_count, ifd.tile_byte_counts_type,
                              ifd.tile_byte_counts_position, layout.count);
    if (WantsWholeTileBuffer(ifd)) {
      uint32_t largest = *std::max_element(byte_counts.begin(), byte_counts.end());
      if (largest != 0) whole_tile_buffer_.reset(host.AllocateBlock(largest));
    }
  }

  for_each_tile(ifd, layout, image.Planes(), [&](uint64_t index, uint32_t group, const dng_tile_bounds& b) {
    stream.SeekForRead(layout.offsets[index]);
    for (int64_t top = b.top; top < b.bottom; top += static_cast<int64_t>(rows_per_chunk)) {
      host.PollCancel();
      dng_box chunk(static_cast<int32_t>(top), static_cast<int32_t>(b.left),
                    static_cast<int32_t>(std::min<int64_t>(top + static_cast<int64_t>(rows_per_chunk), b.bottom)),
                    static_cast<int32_t>(b.right));
      uint64_t bytes = uncompressed ? ifd.UncompressedTileBytes(chunk) : byte_counts[index];
      ReadOneTile(host, ifd, stream, image, chunk, group, layout.planes_per_tile, bytes);
    }
  });
}

void dng_read_image::ReadOneTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                                 dng_image& image, const dng_box& area, uint32_t plane,
                                 uint32_t planes, uint64_t byte_count) {
  bool handled = false;
  if (ifd.compression == 1) {
    handled = ReadRawTile(host, ifd, stream, image, area, plane, planes);
  } else if (ifd.compression == 7) {
    handled = ifd.Is8BitJPEG() ? ReadJpegTile(host, ifd, stream, image, area, plane, planes, byte_count)
                               : ReadLosslessTile(host, ifd, stream, image, area, plane, planes, byte_count);
  }
  if (!handled) bad_format();
}

bool dng_read_image::ReadJpegTile(dng_host&, const dng_ifd&, dng_stream&, dng_image&, const dng_box&,
                                  uint32_t, uint32_t, uint64_t) {
  return false;
}

bool dng_read_image::ReadRawTile(dng_host&, const dng_ifd& ifd, dng_stream& stream, dng_image& image,
                                 const dng_box& area, uint32_t plane, uint32_t planes) {
  const uint32_t w = static_cast<uint32_t>(area.right - area.left);
  const uint32_t h = static_cast<uint32_t>(area.bottom - area.top);
  const bool interleaved = ifd.planar_configuration == 100000;
  const uint32_t stored_rows = interleaved ? h * planes : h;
  const uint32_t row_samples = interleaved ? w : w * planes;
  const uint32_t samples = w * h * planes;
  const uint32_t bits = ifd.bits_per_sample[std::min<uint32_t>(plane, 3)];

  dng_pixel_buffer buffer;
  buffer.area = area;
  buffer.plane = plane;
  buffer.planes = planes;
  buffer.row_step = static_cast<int32_t>(w * planes);
  buffer.col_step = interleaved ? 1 : static_cast<int32_t>(planes);
  buffer.plane_step = interleaved ? static_cast<int32_t>(w) : 1;
  buffer.data = chunk_buffer_->Buffer();

  if (bits == 8 || bits == 16 || bits == 32) {
    uint32_t size = bits / 8;
    buffer.pixel_type = bits == 8 ? dng_type_byte : bits == 16 ? dng_type_short : dng_type_long;
    buffer.pixel_size = size;
    stream.GetBytes(buffer.data, samples * size);
    if (stream.IsByteSwapped()) {
      if (bits == 16) dng_pixel_kernels.ByteSwapWords(buffer.data, samples);
      if (bits == 32) dng_pixel_kernels.ByteSwapLongs(buffer.data, samples);
    }
  } else if (bits > 8 && bits < 32) {
    const bool wide = bits > 16;
    buffer.pixel_type = wide ? dng_type_long : dng_type_short;
    buffer.pixel_size = wide ? 4 : 2;
    const uint32_t row_bytes = static_cast<uint32_t>((uint64_t{row_samples} * bits + 7) / 8);
    if (row_bytes > row_scratch_size_) {
      row_scratch_.Resize(row_bytes);
      row_scratch_size_ = row_bytes;
    }
    auto* in = static_cast<const uint8_t*>(row_scratch_.Buffer());
    auto* out16 = static_cast<uint16_t*>(buffer.data);
    auto* out32 = static_cast<uint32_t*>(buffer.data);
    const uint64_t mask = (uint64_t{1} << bits) - 1;
    for (uint32_t r = 0; r < stored_rows; ++r) {
      stream.GetBytes(row_scratch_.Buffer(), row_bytes);
      size_t base = size_t{r} * row_samples;
      if (bits == 12) {
        uint32_t i = 0;
        const uint8_t* p = in;
        for (; i + 1 < row_samples; i += 2, p += 3) {
          out16[base + i] = static_cast<uint16_t>((p[0] << 4) | (p[1] >> 4));
          out16[base + i + 1] = static_cast<uint16_t>(((p[1] << 8) | p[2]) & 0xFFF);
        }
        if (i < row_samples) out16[base + i] = static_cast<uint16_t>((p[0] << 4) | (p[1] >> 4));
        continue;
      }
      uint64_t acc = 0;
      uint32_t pending = 0;
      const uint8_t* p = in;
      for (uint32_t i = 0; i < row_samples; ++i) {
        while (pending < bits) {
          acc = (acc << 8) | *p++;
          pending += 8;
        }
        pending -= bits;
        uint64_t v = (acc >> pending) & mask;
        if (wide) {
          out32[base + i] = static_cast<uint32_t>(v);
        } else {
          out16[base + i] = static_cast<uint16_t>(v);
        }
      }
    }
  } else {
    return false;
  }
  image.WriteArea(buffer);
  return true;
}

bool dng_read_image::ReadLosslessTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                                      dng_image& image, const dng_box& area, uint32_t plane,
                                      uint32_t planes, uint64_t byte_count) {
  const uint64_t w = static_cast<uint32_t>(area.right - area.left);
  const uint64_t h = static_cast<uint32_t>(area.bottom - area.top);
  const uint64_t d = planes * w;
  if (!chunk_buffer_) {
    uint64_t rows = std::clamp<uint64_t>(kChunkBytes / (2 * d), 1, h);
    chunk_buffer_.reset(host.AllocateBlock(image_block_size({2, d, rows})));
  }
  dng_image_spooler spooler(host, image, area, plane, planes, *chunk_buffer_);

  // One copy of the tile's bytes, never more than the file holds.
  const uint32_t position = stream.Position();
  const uint32_t left = stream.TotalLength() - position;
  const bool cut_by_end = byte_count > left;
  const uint32_t size = static_cast<uint32_t>(std::min<uint64_t>(byte_count, left));
  if (size > tile_copy_size_) {
    tile_copy_.Resize(size);
    tile_copy_size_ = size;
  }
  stream.GetBytes(tile_copy_.Buffer(), size);
  dng_stream tile(tile_copy_.Buffer(), size);

  const uint64_t expected = 2 * d * h;
  try {
    ljpeg_decode_to_spooler(tile, spooler, expected, expected, ifd.lossless_jpeg_bug16);
  } catch (const dng_exception& e) {
    // Running out of the tile's bytes is a damaged tile unless the file
    // itself ends there.
    if (e.Code() == dng_code_end_of_file && !cut_by_end) bad_format();
    throw;
  }
  return true;
}
