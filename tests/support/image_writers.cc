#include "support/image_writers.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include <jpeglib.h>
#include <tiffio.h>
#include <zlib.h>

#include "support/tiff_builder.h"

namespace testing_support {

namespace {

// A deterministic noisy gradient, so the compressed data is not trivial.
unsigned char pixel(int x, int y, int channel, uint32_t* seed) {
  *seed = *seed * 1103515245u + 12345u;
  int noise = static_cast<int>((*seed >> 16) & 0x1F);
  return static_cast<unsigned char>((x * 5 + y * 3 + channel * 60 + noise) & 0xFF);
}

// A minimal Exif APP1 body: "Exif\0\0" and an empty little-endian TIFF directory.
std::vector<unsigned char> exif_body() {
  const unsigned char bytes[] = {'E', 'x', 'i', 'f', 0, 0, 'I', 'I', 0x2A, 0, 8, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  return std::vector<unsigned char>(bytes, bytes + sizeof bytes);
}

}  // namespace

bool write_jpeg(const std::string& path, const JpegOptions& o) {
  FILE* out = fopen(path.c_str(), "wb");
  if (out == nullptr) return false;
  jpeg_compress_struct cinfo;
  jpeg_error_mgr err;
  cinfo.err = jpeg_std_error(&err);
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, out);
  cinfo.image_width = static_cast<JDIMENSION>(o.width);
  cinfo.image_height = static_cast<JDIMENSION>(o.height);
  cinfo.input_components = o.grayscale ? 1 : 3;
  cinfo.in_color_space = o.grayscale ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, o.quality, TRUE);
  if (o.progressive) jpeg_simple_progression(&cinfo);
  cinfo.restart_in_rows = o.restart_rows;
  if (!o.grayscale) {
    cinfo.comp_info[0].h_samp_factor = o.luma_h;
    cinfo.comp_info[0].v_samp_factor = o.luma_v;
  }
  cinfo.arith_code = o.arithmetic ? TRUE : FALSE;
  cinfo.write_JFIF_header = o.marker == JpegMarker::kJfif ? TRUE : FALSE;
  jpeg_start_compress(&cinfo, TRUE);
  if (o.marker == JpegMarker::kExif) {
    auto body = exif_body();
    jpeg_write_marker(&cinfo, JPEG_APP0 + 1, body.data(), static_cast<unsigned>(body.size()));
  }
  std::vector<unsigned char> row(static_cast<size_t>(o.width) * static_cast<size_t>(cinfo.input_components));
  uint32_t seed = 7;
  while (cinfo.next_scanline < cinfo.image_height) {
    for (int x = 0; x < o.width; ++x) {
      for (int c = 0; c < cinfo.input_components; ++c) {
        row[static_cast<size_t>(x * cinfo.input_components + c)] =
            pixel(x, static_cast<int>(cinfo.next_scanline), c, &seed);
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  return fclose(out) == 0;
}

namespace {

constexpr ttag_t kPrivateTag = 65000;

// Makes kPrivateTag known to the writing library only.
void add_private_tag(TIFF* tif) {
  static const TIFFFieldInfo info[] = {
      {kPrivateTag, -1, -1, TIFF_ASCII, FIELD_CUSTOM, 1, 0, const_cast<char*>("TestPrivate")},
  };
  TIFFMergeFieldInfo(tif, info, 1);
}

bool write_page(TIFF* tif, const TiffOptions& o, int width, int height, bool with_dng, int page) {
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(width));
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(height));
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(o.samples));
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(o.bits));
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, o.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, o.planar_separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(o.compression));
  if (o.ycbcr) {
    // The codec takes RGB rows and stores them as subsampled YCbCr.
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
    TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  const int subsampling = page >= 0 && static_cast<size_t>(page) < o.ycbcr_subsampling.size()
                              ? o.ycbcr_subsampling[static_cast<size_t>(page)]
                              : 2;
  if (o.ycbcr && subsampling != 2) {
    TIFFSetField(tif, TIFFTAG_YCBCRSUBSAMPLING, static_cast<uint16_t>(subsampling),
                 static_cast<uint16_t>(subsampling));
  }
  if (o.private_tag) TIFFSetField(tif, kPrivateTag, "private");
  if (with_dng) {
    static const uint8_t version[4] = {1, 4, 0, 0};
    TIFFSetField(tif, 50706, version);
  }
  uint32_t seed = 11;
  int bytes_per_sample = o.bits / 8;
  int planes = o.planar_separate ? o.samples : 1;
  int per_pixel = o.planar_separate ? 1 : o.samples;
  if (o.tiled) {
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 16u);
    std::vector<unsigned char> tile(static_cast<size_t>(TIFFTileSize(tif)));
    for (int p = 0; p < planes; ++p) {
      for (int y = 0; y < height; y += 16) {
        for (int x = 0; x < width; x += 16) {
          for (auto& b : tile) b = pixel(x, y, p, &seed);
          if (TIFFWriteTile(tif, tile.data(), static_cast<uint32_t>(x), static_cast<uint32_t>(y), 0,
                            static_cast<uint16_t>(p)) < 0)
            return false;
        }
      }
    }
  } else {
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(o.rows_per_strip));
    std::vector<unsigned char> row(static_cast<size_t>(width * per_pixel * bytes_per_sample));
    for (int p = 0; p < planes; ++p) {
      for (int y = 0; y < height; ++y) {
        for (size_t i = 0; i < row.size(); ++i) row[i] = pixel(static_cast<int>(i), y, p, &seed);
        if (TIFFWriteScanline(tif, row.data(), static_cast<uint32_t>(y), static_cast<uint16_t>(p)) < 0)
          return false;
      }
    }
  }
  // The codec has taken the subsampling for the page's strips; the tag
  // itself is left out of the directory.
  if (o.ycbcr) TIFFUnsetField(tif, TIFFTAG_YCBCRSUBSAMPLING);
  return true;
}

}  // namespace

bool write_tiff(const std::string& path, const TiffOptions& o) {
  TIFF* tif = TIFFOpen(path.c_str(), o.big_endian ? "wb" : "wl");
  if (tif == nullptr) return false;
  if (o.private_tag) add_private_tag(tif);
  bool ok = true;
  for (int d = 0; ok && d < o.directories; ++d) {
    if (d == 0 && o.sub_directories > 0) {
      std::vector<uint64_t> placeholders(static_cast<size_t>(o.sub_directories), 0);
      TIFFSetField(tif, TIFFTAG_SUBIFD, static_cast<uint16_t>(o.sub_directories), placeholders.data());
    }
    ok = write_page(tif, o, o.width, o.height, d == 0 && o.dng_version, d) && TIFFWriteDirectory(tif);
    if (d == 0) {
      // The SubIFDs follow the directory that announced them.
      for (int s = 0; ok && s < o.sub_directories; ++s) {
        ok = write_page(tif, o, o.width / 2 + 1, o.height / 2 + 1, false, -1) && TIFFWriteDirectory(tif);
      }
    }
  }
  TIFFClose(tif);
  return ok;
}

bool find_strip(const std::string& path, int directory, uint32_t strip, StripPlace* place) {
  // Quiet: the tests look for the warnings of the worker, not of this look.
  TIFFErrorHandler warnings = TIFFSetWarningHandler(nullptr);
  TIFF* tif = TIFFOpen(path.c_str(), "r");
  if (tif == nullptr) {
    TIFFSetWarningHandler(warnings);
    return false;
  }
  // Link by link: going to a directory by its number walks the chain anew.
  bool ok = true;
  for (int d = 0; ok && d < directory; ++d) ok = TIFFReadDirectory(tif) != 0;
  ok = ok && strip < TIFFNumberOfStrips(tif);
  if (ok) {
    place->offset = TIFFGetStrileOffset(tif, strip);
    place->length = TIFFGetStrileByteCount(tif, strip);
  }
  TIFFClose(tif);
  TIFFSetWarningHandler(warnings);
  return ok;
}

std::string deflate_zeros(uint64_t bytes) {
  // After a full flush the compressor starts afresh, so every further block
  // of zeros compresses to the same bytes: compress one block, repeat it.
  constexpr uLong kBlock = 1 << 20;
  std::vector<Bytef> zeros(kBlock, 0);
  std::vector<Bytef> out(compressBound(kBlock) + 64);
  auto run = [&](z_stream* z, uLong input, int flush) {
    z->next_in = zeros.data();
    z->avail_in = static_cast<uInt>(input);
    z->next_out = out.data();
    z->avail_out = static_cast<uInt>(out.size());
    deflate(z, flush);
    return std::string(reinterpret_cast<char*>(out.data()), out.size() - z->avail_out);
  };
  z_stream z{};
  deflateInit2(&z, 9, Z_DEFLATED, -15, 9, Z_DEFAULT_STRATEGY);  // raw: header and checksum written here
  std::string stream = "\x78\xda";
  std::string block = run(&z, kBlock, Z_FULL_FLUSH);
  uint64_t blocks = bytes / kBlock;
  for (uint64_t i = 0; i < blocks; ++i) stream += block;
  stream += run(&z, static_cast<uLong>(bytes % kBlock), Z_FINISH);
  deflateEnd(&z);
  uLong block_sum = adler32(adler32(0, nullptr, 0), zeros.data(), kBlock);
  uLong sum = adler32(0, nullptr, 0);
  for (uint64_t i = 0; i < blocks; ++i) sum = adler32_combine(sum, block_sum, kBlock);
  sum = adler32_combine(sum, adler32(adler32(0, nullptr, 0), zeros.data(), static_cast<uInt>(bytes % kBlock)),
                        static_cast<z_off_t>(bytes % kBlock));
  for (int shift = 24; shift >= 0; shift -= 8) stream.push_back(static_cast<char>((sum >> shift) & 0xFF));
  return stream;
}

bool write_one_strip_deflate_tiff(const std::string& path, uint32_t rows, bool predictor) {
  std::string data = deflate_zeros(rows);
  auto directory = [&](uint32_t data_offset) {
    TiffBuilder b;
    int d = b.add_ifd();
    b.add_long(d, 256, {1});
    b.add_long(d, 257, {rows});
    b.add_short(d, 258, {8});
    b.add_short(d, 259, {8});
    b.add_short(d, 262, {1});
    b.add_long(d, 273, {data_offset});
    b.add_short(d, 277, {1});
    b.add_long(d, 278, {rows});
    b.add_long(d, 279, {static_cast<uint32_t>(data.size())});
    if (predictor) b.add_short(d, 317, {2});
    return b.build();
  };
  std::string head = directory(0);
  head = directory(static_cast<uint32_t>(head.size()));
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  fwrite(head.data(), 1, head.size(), f);
  fwrite(data.data(), 1, data.size(), f);
  return fclose(f) == 0;
}

uint64_t file_size(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

bool truncate_to(const std::string& path, double fraction) {
  return truncate(path.c_str(), static_cast<off_t>(static_cast<double>(file_size(path)) * fraction)) == 0;
}

static bool patch(const std::string& path, uint64_t offset, const std::vector<unsigned char>& bytes, bool xor_in) {
  FILE* f = fopen(path.c_str(), "r+b");
  if (f == nullptr) return false;
  bool ok = true;
  for (size_t i = 0; ok && i < bytes.size(); ++i) {
    if (fseeko(f, static_cast<off_t>(offset + i), SEEK_SET) != 0) ok = false;
    int old = ok ? fgetc(f) : EOF;
    if (old == EOF) ok = false;
    if (ok && fseeko(f, static_cast<off_t>(offset + i), SEEK_SET) != 0) ok = false;
    if (ok) fputc(xor_in ? (old ^ bytes[i]) : bytes[i], f);
  }
  return fclose(f) == 0 && ok;
}

bool flip_bit(const std::string& path, uint64_t byte_offset, int bit) {
  return patch(path, byte_offset, {static_cast<unsigned char>(1u << bit)}, true);
}

bool zero_bytes(const std::string& path, uint64_t offset, uint64_t count) {
  return patch(path, offset, std::vector<unsigned char>(static_cast<size_t>(count), 0), false);
}

bool append_bytes(const std::string& path, const std::string& bytes) {
  FILE* f = fopen(path.c_str(), "ab");
  if (f == nullptr) return false;
  fwrite(bytes.data(), 1, bytes.size(), f);
  return fclose(f) == 0;
}

}  // namespace testing_support
