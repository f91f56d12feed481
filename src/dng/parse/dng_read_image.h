// Reads the stored image data of one image directory (strips or tiles;
// chunky, planar or row-interleaved; uncompressed samples of 8 to 32 bits or
// lossless JPEG) into an image.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_box.h"
#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_memory_block.h"

class dng_host;
class dng_ifd;
class dng_image;
class dng_stream;

class dng_read_image {
 public:
  dng_read_image() = default;
  virtual ~dng_read_image() = default;
  dng_read_image(const dng_read_image&) = delete;
  dng_read_image& operator=(const dng_read_image&) = delete;

  // Whether ReadImage can read the directory; reads nothing from the file.
  virtual bool Supports(const dng_ifd& ifd);

  // Reads every strip or tile into the image. Geometry is checked in 64
  // bits first: a tile side above 65536, an edge beyond the int32 range,
  // more than 4 samples per pixel or a directory that Supports refuses give
  // 100006; offset and byte-count arrays that do not fit the file give
  // 100011. Each compressed tile is decoded from one in-memory copy of its
  // bytes, at most the bytes left in the file: needing more than the copy
  // gives 100011 when the end of the file cut it, else 100006.
  virtual void ReadImage(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_image& image);

  // Whether the file can hold the directory's image data, asked before any
  // image memory is taken; reads only the offset and byte-count arrays.
  // Every strip or tile must start past the file's header and end within
  // the file, and an uncompressed one must hold the bytes of its samples;
  // the file must be long enough for the whole image (strips and tiles may
  // share bytes): every bit of every uncompressed sample, at least one bit
  // a sample of lossless JPEG. The first failure prints one error line
  // naming the directory (and the strip or tile at fault) and raises 100011
  // when data runs past the end of the file, else 100006. Geometry that
  // ReadImage refuses raises 100006 here already.
  void CheckImageData(const dng_ifd& ifd, dng_stream& stream, const char* directory);

 protected:
  virtual bool ReadRawTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_image& image,
                           const dng_box& area, uint32_t plane, uint32_t planes);
  virtual bool ReadJpegTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_image& image,
                            const dng_box& area, uint32_t plane, uint32_t planes, uint64_t byte_count);
  virtual bool ReadLosslessTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                                dng_image& image, const dng_box& area, uint32_t plane,
                                uint32_t planes, uint64_t byte_count);
  virtual bool SupportsTileEncoding(const dng_ifd& ifd);
  virtual bool WantsWholeTileBuffer(const dng_ifd& ifd);
  virtual void ReadOneTile(dng_host& host, const dng_ifd& ifd, dng_stream& stream, dng_image& image,
                           const dng_box& area, uint32_t plane, uint32_t planes, uint64_t byte_count);

 private:
  // The strip or tile count after the geometry checks of ReadImage.
  uint64_t CheckGeometry(const dng_ifd& ifd);

  std::unique_ptr<dng_memory_block> whole_tile_buffer_;
  std::unique_ptr<dng_memory_block> chunk_buffer_;
  dng_heap_buffer tile_copy_;
  uint32_t tile_copy_size_ = 0;
  dng_heap_buffer row_scratch_;
  uint32_t row_scratch_size_ = 0;
};
