// Image file directories of the structure examiner: TV_IFD reads (silently)
// or walks (printing) one TIFF directory; TV_IFD_CRW and TV_IFD_X3F stand
// for the directory structures of CIFF and X3F files.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "examine/limits.h"

struct ExaminerState;

// One image file directory and everything below it, which it owns: the
// directories after it in its chain, its EXIF and GPS directories and its
// sub-directories. Belongs to one examination (one thread).
class TV_IFD {
 public:
  explicit TV_IFD(ExaminerState* state);
  virtual ~TV_IFD();
  TV_IFD(const TV_IFD&) = delete;
  TV_IFD& operator=(const TV_IFD&) = delete;

  // Reads the directory at offset (from the TIFF base) without following
  // any link. False with the message set when it cannot be read.
  virtual bool read(uint32_t offset);
  // Prints the directory at offset, then the chain after it, then its EXIF,
  // GPS and sub-directories. False with the message set on a failure.
  virtual bool walk(uint32_t offset, const char* label, bool stop_after_exif, bool summary,
                    bool hide_maker_note);

  struct SubIfd {
    uint32_t offset = 0;
    TV_IFD* ifd = nullptr;  // owned
  };

  FILE* file;
  const char** message;
  ExaminerState* state;

  TV_IFD* next = nullptr;  // owned
  bool is_dng = false;     // the directory holds DNGVersion (50706)
  TV_IFD* exif = nullptr;  // owned
  TV_IFD* gps = nullptr;   // owned
  uint32_t sub_ifd_count = 0;
  SubIfd sub_ifds[examine_limits::kMaxSubIfds];

  int32_t width = -1;
  int32_t length = -1;
  uint32_t bits_per_sample[3] = {0, 0, 0};
  uint32_t compression = 1;
  uint32_t samples_per_pixel = 1;
  uint32_t rows_per_strip = INT32_MAX;
  uint32_t photometric = 0;

  int32_t exif_offset = 0;
  int32_t gps_offset = 0;

  bool has_xmp = false;
  std::string xmp;  // tag 700 as text

  std::vector<uint8_t> maker_note;  // tag 37500
  uint32_t maker_note_offset = 0;   // MakerNoteBase, from the TIFF base

  uint32_t strip_count = 0;
  std::vector<uint32_t> strip_offsets;
  uint32_t strip_byte_count = 0;

  uint32_t preview_offset = 0;  // tag 46
  uint32_t preview_length = 0;

  uint64_t directory_offset = 0;  // absolute, in the file
  uint32_t directory_size = 0;    // 2 + 12 x entries + 4

  uint32_t jpeg_interchange_format = 0;
  uint32_t jpeg_interchange_format_length = 0;

 protected:
  bool fail(const char* text);

 private:
  struct EntryFlags {
    bool stop_after_exif;
    bool summary;
    bool gps;
    bool hide_maker_note;
    int kind;
  };
  // Reads the entry count and entries of the directory at offset, and the
  // offset of the next directory when the file holds it.
  bool read_entries(uint32_t offset, bool walking, const char* label, const EntryFlags& flags);
  // Walks the EXIF, GPS and sub-directories and prints the XMP packet.
  bool walk_below(bool stop_after_exif, bool summary, bool hide_maker_note);

  bool next_offset_read_ = false;
  uint32_t next_offset_ = 0;
};

// One block of a Canon CIFF heap (the first is the whole heap after the
// header); its walk prints the block's records and the blocks inside it,
// which it owns.
class TV_IFD_CRW : public TV_IFD {
 public:
  using TV_IFD::TV_IFD;
  ~TV_IFD_CRW() override;
  bool read(uint32_t header_length) override;
  bool walk(uint32_t header_length, const char* label, bool stop_after_exif, bool summary,
            bool hide_maker_note) override;

  // Where the block lies (absolute) and what its directory holds, once read.
  uint64_t block_start = 0;
  uint64_t block_length = 0;
  uint64_t directory_start = 0;  // absolute
  uint32_t record_count = 0;
  std::vector<std::unique_ptr<TV_IFD_CRW>> sub_blocks;  // in directory order
};

// The directory of a Sigma X3F file; its walk prints the sections.
class TV_IFD_X3F : public TV_IFD {
 public:
  using TV_IFD::TV_IFD;
  ~TV_IFD_X3F() override;
  bool read(uint32_t directory_offset) override;
  bool walk(uint32_t directory_offset, const char* label, bool stop_after_exif, bool summary,
            bool hide_maker_note) override;
};

// Reads and interprets one 12-byte entry of dir (in the file's byte order),
// printing it. kind is 2 in the EXIF directory, 1 in the first, else 0.
// Gives the entry's tag in *tag. False with the message set on a failure.
bool read_ifd_entry(TV_IFD* dir, const uint8_t entry[12], bool stop_after_exif, bool summary,
                    bool gps, bool hide_maker_note, int kind, int32_t* tag);
