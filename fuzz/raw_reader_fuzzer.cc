// Reads raw image data through an image directory whose fields come from the
// input.
//
// Input: 24 header bytes (widths, lengths and tile sides as 16-bit
// little-endian values, bits per sample, samples per pixel, a layout byte
// choosing planar configuration, strips or tiles, compression, byte order
// and the category-16 quirk), then up to 32 offset and byte-count pairs
// packed as 16-bit values (their number is in the header), and the rest is
// the file. The image is allocated for the directory's size (kept small);
// only dng_exception may leave the reader.
#include <cstdint>
#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 24 || size > (1u << 20)) return 0;
  auto u16 = [&](size_t at) { return uint32_t{data[at]} | (uint32_t{data[at + 1]} << 8); };
  dng_ifd ifd;
  ifd.image_width = u16(0) % 300 + 1;
  ifd.image_length = u16(2) % 300 + 1;
  // Tile sides may be huge: the reader must refuse them, not size by them.
  ifd.tile_width = (data[20] & 0x80) ? u16(4) << 15 : u16(4);
  ifd.tile_length = (data[20] & 0x40) ? u16(6) << 15 : u16(6);
  uint32_t bits = data[8] % 34;
  uint32_t spp = data[9] % 6;
  ifd.samples_per_pixel = spp;
  for (uint32_t i = 0; i < 4; ++i) ifd.bits_per_sample[i] = bits;
  uint8_t layout = data[10];
  static const uint32_t planars[4] = {1, 2, 100000, 3};
  ifd.planar_configuration = planars[layout & 3];
  ifd.uses_tiles = (layout & 4) != 0;
  ifd.uses_strips = !ifd.uses_tiles;
  ifd.compression = (layout & 8) ? 7 : 1;
  if ((layout & 0x30) == 0x30) ifd.compression = 6;
  bool big = (layout & 0x40) != 0;
  ifd.lossless_jpeg_bug16 = (layout & 0x80) != 0;
  ifd.photometric_interpretation = 32803;
  ifd.tile_offsets_type = (data[11] & 1) ? dng_type_short : dng_type_long;
  ifd.tile_byte_counts_type = (data[11] & 2) ? dng_type_short : dng_type_long;
  ifd.tile_offsets_count = u16(12);
  ifd.tile_byte_counts_count = u16(14);
  ifd.tile_offsets_position = u16(16);
  ifd.tile_byte_counts_position = u16(18);
  uint32_t pairs = data[21] % 33;
  size_t p = 24;
  for (uint32_t i = 0; i < pairs && p + 4 <= size; ++i, p += 4) {
    ifd.tile_offset[i] = u16(p);
    ifd.tile_byte_count[i] = (data[22] & 1) ? u16(p + 2) << (data[23] & 15) : u16(p + 2);
  }
  const uint8_t* file = data + p;
  uint32_t file_size = static_cast<uint32_t>(size - p);

  uint32_t planes = spp == 0 || spp > 4 ? 1 : spp;
  uint32_t type = bits <= 8 ? dng_type_byte : bits <= 16 ? dng_type_short : dng_type_long;
  try {
    dng_simple_image image(dng_box(0, 0, static_cast<int32_t>(ifd.image_length), static_cast<int32_t>(ifd.image_width)),
                           planes, type);
    dng_host host;
    dng_stream stream(file, file_size);
    stream.SetByteSwapped(big);
    (void)ifd.CanReadImageData();
    // The check before reading runs on its own, so that what it refuses
    // still reaches the reader.
    try {
      ifd.CheckImageData(stream, 0);
    } catch (const dng_exception&) {
    }
    ifd.ReadImageData(host, stream, image);
  } catch (const dng_exception&) {
  }
  return 0;
}
