// Writes a dng_image as a baseline TIFF file (with the metadata of an
// optional negative) or a whole negative as a DNG file: IFD 0 with an 8-bit
// thumbnail and the DNG metadata, a SubIFD with the raw image, and up to two
// JPEG previews.
//
// Every directory is built in memory first; then the image data is written
// front to back from just after the directories' space, and the header and
// the directories last, after one seek back to the start of the stream.
//
// Raw data of 16 bits with a linearization table of at most 256 entries is
// declared as 8 bits per sample. Samples above the table's last index are
// clamped to that index first (they linearize to its last entry either way,
// and would otherwise lose their high byte). Lossless JPEG then codes them at
// 8-bit precision; an uncompressed strip of such data holds one byte per
// sample, so that the strip's size matches the declared BitsPerSample and
// reads back with any TIFF reader.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_box.h"

class dng_color_space;
class dng_encoded_preview;
class dng_host;
class dng_ifd;
class dng_image;
class dng_memory_block;
class dng_negative;
class dng_pixel_buffer;
class dng_pixel_density;
class dng_stream;
class basic_tag_set;

class dng_image_writer {
 public:
  dng_image_writer();
  virtual ~dng_image_writer();
  dng_image_writer(const dng_image_writer&) = delete;
  dng_image_writer& operator=(const dng_image_writer&) = delete;

  // One IFD with the image as one strip (compression 1) or strips of about
  // 128 KB with predictor 2 (any other compression, which then fails with
  // 100000 at the first band). Photometric 1 or 2 adds the planes beyond 1
  // or 3 as extra samples. 16-bit samples are rescaled to 0..65535 from the
  // image's sample range. The negative adds its XMP (without orientation),
  // IPTC and EXIF; the space its ICC profile.
  virtual void WriteTiffFile(dng_host& host, dng_stream& stream, const dng_image& image,
                             uint32_t photometric, uint32_t compression,
                             const dng_negative* negative = nullptr,
                             const dng_color_space* space = nullptr,
                             const dng_pixel_density* resolution = nullptr,
                             const dng_encoded_preview* thumbnail = nullptr,
                             const dng_memory_block* resource_block = nullptr);

  // DNG 1.1.0.0: the 8-bit thumbnail in IFD 0, the negative's best image
  // in a SubIFD (compression 7 tiled, or 1 as one strip; 32-bit data always
  // uncompressed), then the previews; preview2 only with preview1. A raw
  // pixel type other than 8, 16 or 32-bit unsigned, a missing raw image,
  // and a thumbnail that is missing or not 8-bit grey or RGB raise 100000.
  virtual void WriteDngFile(dng_host& host, dng_stream& stream, const dng_negative& negative,
                            const dng_image* thumbnail, uint32_t compression,
                            const dng_encoded_preview* preview1 = nullptr,
                            const dng_encoded_preview* preview2 = nullptr);

 protected:
  // Scratch bytes a tile of the given uncompressed size needs: twice the
  // size for lossless JPEG of samples up to 8 bits, else 0.
  virtual uint32_t CompressionScratchSize(const dng_ifd& ifd, uint32_t uncompressed_bytes);

  // Predictor 1 leaves the buffer alone; any other raises 100000.
  virtual void ApplyPredictor(dng_host& host, const dng_ifd& ifd, dng_pixel_buffer& buffer);

  // Reverses the bytes of every 2- or 4-byte sample of the buffer's rows.
  virtual void SwapBufferBytes(dng_host& host, dng_pixel_buffer& buffer);

  // Writes the buffer uncompressed (compression 1) or as lossless JPEG
  // (7); any other compression raises 100000.
  virtual void EmitBuffer(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                          dng_pixel_buffer& buffer);

  // Reads the area of the image (zero outside it) into the band buffer,
  // rescales 16-bit data when asked, merges column_merge neighbouring
  // pixels into one, and emits the band.
  virtual void EmitBand(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                        const dng_image& image, const dng_box& area, bool rescale,
                        uint32_t column_merge);

  // Writes every tile of the IFD's layout at the stream's position and
  // records its offset and byte count in the tag set; an odd byte count is
  // followed by one zero byte it does not include.
  virtual void EmitImage(dng_host& host, const dng_ifd& ifd, basic_tag_set& tags,
                         dng_stream& stream, const dng_image& image, bool rescale,
                         uint32_t column_merge);

 private:
  void ReleaseBlocks();

  std::unique_ptr<dng_memory_block> compressed_buffer_;
  std::unique_ptr<dng_memory_block> uncompressed_buffer_;
  // The last index of the raw image's linearization table while its
  // samples are narrowed to 8 bits; 0xFFFFFFFF otherwise (no clamping).
  uint32_t clamp_limit_ = 0xFFFFFFFF;
};
