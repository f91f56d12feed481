// Raw image reading: uncompressed packings of 8 to 32 bits and lossless
// JPEG tiles, in strips and tiles (uneven, overhanging, more than 32), in
// both byte orders and in chunky, planar and row-interleaved layouts, each
// compared with the samples it was written from; hostile geometry, arrays
// and byte counts each refused with their code.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_ljpeg_encoder.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;

struct Layout {
  const char* name;
  uint32_t width, length;
  uint32_t tile_width, tile_length;  // tile_width 0: strips of tile_length rows
  uint32_t bits;
  uint32_t samples = 1;
  uint32_t planar = 1;
  bool big_endian = false;
  uint32_t compression = 1;
  uint32_t jpeg_components = 1;  // lossless: components of each frame (width / c columns)
  bool quirk = false;
  bool smooth = false;  // a gentle gradient, which lossless JPEG packs tightly
};

uint32_t sample_value(const Layout& l, int64_t x, int64_t y, uint32_t plane) {
  uint64_t max = (l.bits >= 32 ? 0xFFFFFFFFull : (1ull << l.bits) - 1);
  if (l.smooth) return static_cast<uint32_t>((x + y + plane) % 4);
  uint64_t v = static_cast<uint64_t>(x * 37 + y * 1031 + plane * 7919) * 2654435761ull % (max + 1);
  if ((x + y) % 11 == 0) v = max;
  if ((x * 3 + y) % 13 == 0) v = 0;
  return static_cast<uint32_t>(v);
}

// A file image holding every tile of the layout, and a directory for it.
struct Written {
  std::vector<uint8_t> file;
  dng_ifd ifd;
};

void put_bits(std::vector<uint8_t>& out, const std::vector<uint32_t>& values, uint32_t bits) {
  if (bits == 8 || bits == 16 || bits == 32) return;  // handled by the caller
  uint64_t acc = 0;
  uint32_t n = 0;
  for (uint32_t v : values) {
    acc = (acc << bits) | v;
    n += bits;
    while (n >= 8) {
      out.push_back(static_cast<uint8_t>(acc >> (n - 8)));
      n -= 8;
    }
  }
  if (n > 0) out.push_back(static_cast<uint8_t>(acc << (8 - n)));
}

void put_word(std::vector<uint8_t>& out, uint32_t v, uint32_t size, bool big) {
  for (uint32_t i = 0; i < size; ++i) {
    uint32_t shift = big ? 8 * (size - 1 - i) : 8 * i;
    out.push_back(static_cast<uint8_t>(v >> shift));
  }
}

void write(const Layout& l, Written& w) {
  dng_ifd& ifd = w.ifd;
  ifd.image_width = l.width;
  ifd.image_length = l.length;
  ifd.samples_per_pixel = l.samples;
  for (uint32_t i = 0; i < 4; ++i) ifd.bits_per_sample[i] = l.bits;
  ifd.compression = l.compression;
  ifd.planar_configuration = l.planar;
  ifd.photometric_interpretation = 32803;
  ifd.lossless_jpeg_bug16 = l.quirk;
  ifd.uses_strips = l.tile_width == 0;
  ifd.uses_tiles = !ifd.uses_strips;
  ifd.tile_width = ifd.uses_strips ? l.width : l.tile_width;
  ifd.tile_length = l.tile_length;

  std::vector<uint8_t>& f = w.file;
  f.assign(8, 0);
  const bool planar = l.planar == 2;
  const uint32_t groups = planar ? l.samples : 1;
  const uint32_t planes = planar ? 1 : l.samples;
  std::vector<uint32_t> offsets, counts;
  for (uint32_t g = 0; g < groups; ++g) {
    for (uint64_t row = 0; row < ifd.TileRows(); ++row) {
      for (uint64_t col = 0; col < ifd.TileColumns(); ++col) {
        dng_tile_bounds b = ifd.TileBounds(row, col);
        uint32_t tw = static_cast<uint32_t>(b.right - b.left), th = static_cast<uint32_t>(b.bottom - b.top);
        offsets.push_back(static_cast<uint32_t>(f.size()));
        size_t start = f.size();
        auto value = [&](uint32_t x, uint32_t y, uint32_t p) {
          return sample_value(l, b.left + x, b.top + y, g + p);
        };
        if (l.compression == 7) {
          std::vector<uint16_t> s;
          for (uint32_t y = 0; y < th; ++y)
            for (uint32_t x = 0; x < tw; ++x)
              for (uint32_t p = 0; p < planes; ++p) s.push_back(static_cast<uint16_t>(value(x, y, p)));
          uint32_t c = l.jpeg_components;
          dng_memory_stream m(default_memory_allocator);
          ljpeg_encode_options o;
          o.category_16_bits = l.quirk;
          ljpeg_encode_samples(s.data(), th, tw * planes / c, c, l.bits, int64_t{tw} * planes, c, m, o);
          m.FlushBuffer();
          std::vector<uint8_t> bytes(m.TotalLength());
          m.SeekForRead(0);
          m.GetBytes(bytes.data(), static_cast<uint32_t>(bytes.size()));
          f.insert(f.end(), bytes.begin(), bytes.end());
        } else {
          bool interleaved = l.planar == 100000;
          uint32_t stored_rows = interleaved ? th * planes : th;
          for (uint32_t r = 0; r < stored_rows; ++r) {
            std::vector<uint32_t> row_values;
            uint32_t y = interleaved ? r / planes : r;
            if (interleaved) {
              for (uint32_t x = 0; x < tw; ++x) row_values.push_back(value(x, y, r % planes));
            } else {
              for (uint32_t x = 0; x < tw; ++x)
                for (uint32_t p = 0; p < planes; ++p) row_values.push_back(value(x, y, p));
            }
            if (l.bits == 8 || l.bits == 16 || l.bits == 32) {
              for (uint32_t v : row_values) put_word(f, v, l.bits / 8, l.big_endian);
            } else {
              put_bits(f, row_values, l.bits);
            }
          }
        }
        counts.push_back(static_cast<uint32_t>(f.size() - start));
      }
    }
  }
  ifd.tile_offsets_count = static_cast<uint32_t>(offsets.size());
  ifd.tile_byte_counts_count = static_cast<uint32_t>(counts.size());
  ifd.tile_offsets_type = dng_type_long;
  ifd.tile_byte_counts_type = dng_type_long;
  for (size_t i = 0; i < offsets.size() && i < dng_ifd::kMaxTileOffsets; ++i) {
    ifd.tile_offset[i] = offsets[i];
    ifd.tile_byte_count[i] = counts[i];
  }
  ifd.tile_offsets_position = static_cast<uint32_t>(f.size());
  for (uint32_t v : offsets) put_word(f, v, 4, l.big_endian);
  ifd.tile_byte_counts_position = static_cast<uint32_t>(f.size());
  for (uint32_t v : counts) put_word(f, v, 4, l.big_endian);
}

int32_t read(const Written& w, bool big_endian, dng_simple_image& image) {
  dng_host host;
  dng_stream stream(w.file.data(), static_cast<uint32_t>(w.file.size()));
  stream.SetByteSwapped(big_endian);
  return code_of([&] { w.ifd.ReadImageData(host, stream, image); });
}

// What CheckImageData says about a written file: its code and its lines.
struct Checked {
  int32_t code;
  std::string lines;
};

Checked check(const Written& w, bool big_endian) {
  dng_stream stream(w.file.data(), static_cast<uint32_t>(w.file.size()));
  stream.SetByteSwapped(big_endian);
  dng_test::StderrCapture err;
  const int32_t code = code_of([&] { w.ifd.CheckImageData(stream, 0); });
  return {code, err.Take()};
}

// Turns a written layout of one strip or tile into across x down strips or
// tiles that all point at its data.
void share_block(Written& w, uint32_t across, uint32_t down, bool big_endian) {
  dng_ifd& ifd = w.ifd;
  ifd.image_width *= across;
  ifd.image_length *= down;
  if (ifd.uses_strips) ifd.tile_width = ifd.image_width;
  const uint32_t count = across * down;
  const uint32_t offset = ifd.tile_offset[0], bytes = ifd.tile_byte_count[0];
  ifd.tile_offsets_count = ifd.tile_byte_counts_count = count;
  ifd.tile_offsets_position = static_cast<uint32_t>(w.file.size());
  for (uint32_t i = 0; i < count; ++i) put_word(w.file, offset, 4, big_endian);
  ifd.tile_byte_counts_position = static_cast<uint32_t>(w.file.size());
  for (uint32_t i = 0; i < count; ++i) put_word(w.file, bytes, 4, big_endian);
  for (uint32_t i = 0; i < dng_ifd::kMaxTileOffsets; ++i) {
    ifd.tile_offset[i] = offset;
    ifd.tile_byte_count[i] = bytes;
  }
}

uint32_t image_sample(const dng_simple_image& image, int32_t x, int32_t y, uint32_t plane) {
  const dng_pixel_buffer& b = image.Buffer();
  const void* p = b.Pixel(y, x, plane);
  switch (b.pixel_size) {
    case 1: return *static_cast<const uint8_t*>(p);
    case 2: return *static_cast<const uint16_t*>(p);
    default: return *static_cast<const uint32_t*>(p);
  }
}

TEST(ReadImage, ReadsEveryLayoutBackExactly) {
  std::vector<Layout> layouts = {
      {"8-bit strips, uneven last strip", 21, 17, 0, 5, 8},
      {"10-bit strips, rows ending mid-byte", 13, 9, 0, 4, 10},
      {"12-bit odd width", 15, 8, 0, 8, 12},
      {"12-bit big-endian", 15, 8, 0, 3, 12, 1, 1, true},
      {"14-bit tiles overhanging", 37, 29, 16, 16, 14},
      {"16-bit little-endian", 20, 12, 0, 12, 16},
      {"16-bit big-endian tiles", 20, 12, 16, 16, 16, 1, 1, true},
      {"24-bit", 9, 7, 0, 7, 24},
      {"31-bit", 9, 7, 0, 2, 31},
      {"32-bit big-endian", 9, 7, 0, 3, 32, 1, 1, true},
      {"3 samples chunky", 11, 10, 0, 4, 16, 3},
      {"3 samples planar", 11, 10, 0, 4, 12, 3, 2},
      {"2 samples row-interleaved", 11, 10, 0, 4, 16, 2, 100000},
      {"more than 32 strips", 8, 40, 0, 1, 16},
      {"one strip over 128 KB rows", 40000, 3, 0, 3, 16, 2},
      {"lossless 16-bit one component", 24, 20, 16, 16, 16, 1, 1, false, 7},
      {"lossless 12-bit two components, half width", 40, 20, 32, 16, 12, 1, 1, false, 7, 2},
      {"lossless 14-bit big-endian strips", 30, 25, 0, 8, 14, 1, 1, true, 7, 2},
      {"lossless more than 32 tiles", 70, 70, 16, 16, 14, 1, 1, false, 7, 2},
      {"lossless 3 components chunky", 12, 12, 0, 6, 10, 3, 1, false, 7, 3},
      {"lossless 4 samples, quarter width", 16, 6, 0, 6, 16, 4, 1, false, 7, 4},
      {"lossless quirk flag", 16, 6, 0, 6, 16, 1, 1, false, 7, 1, true},
      {"lossless 8-bit", 16, 6, 0, 6, 8, 1, 1, false, 7, 2},
  };
  for (const Layout& l : layouts) {
    SCOPED_TRACE(l.name);
    Written w;
    write(l, w);
    EXPECT_TRUE(w.ifd.CanReadImageData());
    const Checked checked = check(w, l.big_endian);
    EXPECT_EQ(checked.code, 0) << checked.lines;
    EXPECT_EQ(checked.lines, "");
    dng_simple_image image(dng_box(0, 0, static_cast<int32_t>(l.length), static_cast<int32_t>(l.width)),
                           l.samples, w.ifd.SamplePixelType());
    ASSERT_EQ(read(w, l.big_endian, image), 0);
    uint32_t wrong = 0;
    for (uint32_t p = 0; p < l.samples; ++p)
      for (uint32_t y = 0; y < l.length; ++y)
        for (uint32_t x = 0; x < l.width; ++x)
          if (image_sample(image, static_cast<int32_t>(x), static_cast<int32_t>(y), p) != sample_value(l, x, y, p)) ++wrong;
    EXPECT_EQ(wrong, 0u);
  }
}

TEST(ReadImage, HostileDirectoriesAndDataGiveTheirCodes) {
  struct Case {
    const char* name;
    Layout layout;
    void (*damage)(Written&);
    int32_t code;
  };
  Layout plain{"plain", 16, 16, 0, 16, 16};
  Layout tiled_lossless{"lossless", 32, 32, 16, 16, 14, 1, 1, false, 7, 2};
  Layout many{"many", 8, 40, 0, 1, 16};
  std::vector<Case> cases = {
      {"tile width 2^30 over a 16-pixel image", {"", 16, 16, 16, 16, 32}, [](Written& w) {
         w.ifd.tile_width = 1u << 30;
       }, dng_code_bad_format},
      {"tile width 2^30, 18 bits", {"", 16, 16, 16, 16, 18}, [](Written& w) { w.ifd.tile_width = 1u << 30; },
       dng_code_bad_format},
      {"tile side 65537", plain, [](Written& w) { w.ifd.tile_length = 65537; }, dng_code_bad_format},
      {"five samples", plain, [](Written& w) { w.ifd.samples_per_pixel = 5; }, dng_code_bad_format},
      {"bits 33", plain, [](Written& w) { w.ifd.bits_per_sample[0] = 33; }, dng_code_bad_format},
      {"compression 5", plain, [](Written& w) { w.ifd.compression = 5; }, dng_code_bad_format},
      {"offset past the end", plain, [](Written& w) { w.ifd.tile_offset[0] = 1u << 30; }, dng_code_end_of_file},
      {"data ending early", plain, [](Written& w) { w.file.erase(w.file.begin() + 300, w.file.end()); }, dng_code_end_of_file},
      {"offset array past the end", many, [](Written& w) { w.ifd.tile_offsets_position = static_cast<uint32_t>(w.file.size() - 8); },
       dng_code_end_of_file},
      {"byte-count array past the end", tiled_lossless, [](Written& w) {
         w.ifd.tile_offsets_count = w.ifd.tile_byte_counts_count = 0xFFFFFFFF;
       }, dng_code_bad_format},
      {"lossless tile cut by the end of the file", tiled_lossless, [](Written& w) {
         w.file.erase(w.file.begin() + w.ifd.tile_offset[3] + w.ifd.tile_byte_count[3] / 2, w.file.end());
       }, dng_code_end_of_file},
      {"lossless byte count too small", tiled_lossless, [](Written& w) { w.ifd.tile_byte_count[1] /= 2; },
       dng_code_bad_format},
      {"lossless frame one sample short", tiled_lossless, [](Written& w) { w.ifd.tile_width = 17; },
       dng_code_bad_format},
      {"lossless byte count 2^32 - 1 on a small file", tiled_lossless,
       [](Written& w) { w.ifd.tile_byte_count[0] = 0xFFFFFFFF; }, 0},
      {"lossless damaged data", tiled_lossless, [](Written& w) {
         // 32 one-bits in the middle of the entropy-coded data: no code of
         // up to 16 bits is all ones, so some code there matches nothing.
         uint32_t mid = w.ifd.tile_offset[2] + w.ifd.tile_byte_count[2] / 2;
         w.file.erase(w.file.begin() + mid, w.file.begin() + mid + 8);
         w.file.insert(w.file.begin() + mid, {0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00, 0xFF, 0x00});
       }, dng_code_bad_format},
  };
  dng_test::StderrCapture quiet;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Written w;
    write(c.layout, w);
    c.damage(w);
    dng_simple_image image(dng_box(0, 0, static_cast<int32_t>(c.layout.length), static_cast<int32_t>(c.layout.width)),
                           c.layout.samples, dng_type_long);
    EXPECT_EQ(read(w, c.layout.big_endian, image), c.code);
  }
}

// Before the image is made, the file must be able to hold its data: each
// strip or tile past the header and within the file, an uncompressed one as
// long as its samples, and the whole image no larger than the file, even
// when strips or tiles share their bytes. The line names the strip or tile
// and the directory.
TEST(ReadImage, CheckImageDataRefusesDataTheFileCannotHold) {
  struct Case {
    const char* name;
    Layout layout;
    std::function<void(Written&)> damage;
    int32_t code;
    // The first error line, without "*** Error: " and " ***".
    std::function<std::string(const Written&)> line;
  };
  auto line = [](std::string text) { return [text](const Written&) { return text; }; };
  const Layout plain{"plain", 16, 16, 0, 16, 16};  // one strip of 512 bytes
  const Layout tiled_lossless{"lossless", 32, 32, 16, 16, 14, 1, 1, false, 7, 2};
  const Layout smooth_lossless{"smooth lossless", 32, 32, 16, 16, 14, 1, 1, false, 7, 2, false, true};
  const Layout many{"many", 8, 40, 0, 1, 16};  // 40 strips of 16 bytes, arrays in the file
  const Layout one_strip{"one strip", 1000, 1, 0, 1, 8};
  const Layout one_tile{"one lossless tile", 16, 16, 16, 16, 14, 1, 1, false, 7, 2};
  const std::vector<Case> cases = {
      {"strip offset 0", plain, [](Written& w) { w.ifd.tile_offset[0] = 0; }, dng_code_bad_format,
       line("Strip 0 starts inside the file header (IFD 0)")},
      {"tile offset 7", tiled_lossless, [](Written& w) { w.ifd.tile_offset[2] = 7; }, dng_code_bad_format,
       line("Tile 2 starts inside the file header (IFD 0)")},
      {"byte count one past the end", plain,
       [](Written& w) {
         w.ifd.tile_byte_count[0] = static_cast<uint32_t>(w.file.size()) - w.ifd.tile_offset[0] + 1;
       },
       dng_code_end_of_file, line("Strip 0 runs past the end of the file (IFD 0)")},
      {"offset past the end", plain, [](Written& w) { w.ifd.tile_offset[0] = 1u << 30; }, dng_code_end_of_file,
       line("Strip 0 runs past the end of the file (IFD 0)")},
      {"lossless byte count 2^32 - 1", tiled_lossless, [](Written& w) { w.ifd.tile_byte_count[3] = 0xFFFFFFFF; },
       dng_code_end_of_file, line("Tile 3 runs past the end of the file (IFD 0)")},
      {"file cut inside the last tile", tiled_lossless,
       [](Written& w) { w.file.resize(w.ifd.tile_offset[3] + w.ifd.tile_byte_count[3] / 2); },
       dng_code_end_of_file, line("Tile 3 runs past the end of the file (IFD 0)")},
      {"uncompressed byte count 0", plain, [](Written& w) { w.ifd.tile_byte_count[0] = 0; }, dng_code_bad_format,
       line("Strip 0 holds 0 of the 512 bytes its samples take (IFD 0)")},
      {"uncompressed byte count 1", plain, [](Written& w) { w.ifd.tile_byte_count[0] = 1; }, dng_code_bad_format,
       line("Strip 0 holds 1 of the 512 bytes its samples take (IFD 0)")},
      {"uncompressed byte count halved", plain, [](Written& w) { w.ifd.tile_byte_count[0] = 256; },
       dng_code_bad_format, line("Strip 0 holds 256 of the 512 bytes its samples take (IFD 0)")},
      {"lossless tiles read as uncompressed", smooth_lossless, [](Written& w) { w.ifd.compression = 1; },
       dng_code_bad_format,
       [](const Written& w) {
         return "Tile 0 holds " + std::to_string(w.ifd.tile_byte_count[0]) +
                " of the 448 bytes its samples take (IFD 0)";
       }},
      {"the 36th of 40 strips past the end, from the file's arrays", many,
       [](Written& w) {
         const size_t at = w.ifd.tile_byte_counts_position + 4 * 35;
         w.file[at] = 0xFF;
         w.file[at + 1] = 0xFF;
       },
       dng_code_end_of_file, line("Strip 35 runs past the end of the file (IFD 0)")},
      // Strips or tiles that share one block: each lies within the file,
      // but the image cannot.
      {"3000 uncompressed strips sharing one", one_strip, [](Written& w) { share_block(w, 1, 3000, false); },
       dng_code_bad_format,
       [](const Written& w) {
         return "Image data needs 3000000 bytes, more than the file holds (" + std::to_string(w.file.size()) +
                ") (IFD 0)";
       }},
      {"10000 lossless tiles sharing one", one_tile, [](Written& w) { share_block(w, 100, 100, false); },
       dng_code_bad_format,
       [](const Written& w) {
         return "Image data needs at least 320000 bytes, more than the file holds (" + std::to_string(w.file.size()) +
                ") (IFD 0)";
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Written w;
    write(c.layout, w);
    c.damage(w);
    const Checked checked = check(w, false);
    EXPECT_EQ(checked.code, c.code);
    const std::string code_line = c.code == dng_code_end_of_file ? "*** Error: Unexpected end-of-file ***\n"
                                                                 : "*** Error: File format is invalid ***\n";
    EXPECT_EQ(checked.lines, "*** Error: " + c.line(w) + " ***\n" + code_line);
  }
}

}  // namespace
