// The TIFF structure of one DNG file: byte order and magic number, the chain
// of top-level directories, their SubIFDs, the EXIF, GPS, Interoperability
// and Kodak directories, the maker note and the DNG private data. Every
// entry is offered to the directory's dng_ifd, then to the dng_exif and
// dng_shared objects. After FinishParse the main image directory is known and
// Validate answers whether the file is a valid DNG, with one error line per
// failed rule on standard error.
//
// Offsets and sizes from the file are combined in 64 bits; a value that lies
// beyond the stream raises 100011 before anything is allocated for it. Used
// by one thread: ReadStructure, FinishParse and Validate, once each.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_parse_limits.h"
#include "dng/parse/dng_shared.h"

class dng_host;
class dng_stream;

class dng_info {
 public:
  dng_info();
  virtual ~dng_info();
  dng_info(const dng_info&) = delete;
  dng_info& operator=(const dng_info&) = delete;

  virtual void ReadStructure(dng_host& host, dng_stream& stream);
  virtual void FinishParse(dng_host& host);
  virtual bool Validate();

  // Accepts magic numbers 42, 85, 0x4F52 and 0x5352; anything else reports
  // "Invalid TIFF magic number" and raises 100006.
  virtual void CheckMagic();
  // Offers one entry to the objects given (each may be null).
  virtual void ReadTag(dng_host& host, dng_stream& stream, dng_exif* exif, dng_shared* shared, dng_ifd* ifd,
                       uint32_t parent, uint32_t tag, uint32_t type, uint32_t count, uint64_t value_position,
                       int64_t offset_delta);
  // Whether a directory at this position, with every out-of-line value it
  // names, lies within the stream.
  virtual bool CheckIfdOffset(dng_stream& stream, uint64_t ifd_position, int64_t offset_delta);
  virtual void ReadIfd(dng_host& host, dng_stream& stream, dng_exif* exif, dng_shared* shared, dng_ifd* ifd,
                       uint64_t ifd_position, int64_t offset_delta, uint32_t parent);
  // A maker-note directory whose values must lie within [lowest, highest);
  // false when it does not look like a directory.
  virtual bool ReadMakerNoteIfd(dng_host& host, dng_stream& stream, uint64_t size, uint64_t ifd_position,
                                int64_t offset_delta, uint64_t lowest, uint64_t highest, uint32_t parent);
  virtual void ReadMakerNote(dng_host& host, dng_stream& stream, uint64_t size, uint64_t position,
                             int64_t offset_delta, uint64_t lowest, uint64_t highest);
  // A Sony block inside the private data; nothing in it is read.
  virtual void ReadSonyPrivateData(dng_host& host, dng_stream& stream, uint32_t size, uint32_t original_offset,
                                   uint64_t new_offset);
  virtual void ReadPrivateData(dng_host& host, dng_stream& stream);

  // The parent code of IFD-table slot i.
  static constexpr uint32_t SlotParent(uint32_t slot) { return slot == 0 ? 0 : 0x10000 + slot - 1; }

  uint32_t tiff_block_offset = 0;
  bool big_endian = false;
  uint32_t magic_number = 0;
  std::unique_ptr<dng_exif> exif;
  std::unique_ptr<dng_shared> shared;
  int32_t main_index = -1;
  uint32_t ifd_count = 0;
  std::unique_ptr<dng_ifd> ifd[dng_max_ifds];
  uint32_t chained_ifd_count = 0;
  std::unique_ptr<dng_ifd> chained_ifd[dng_max_chained_ifds];
  uint32_t maker_note_next_ifd = 0;
};
