// Writes Canon CIFF heaps byte by byte for the examiner's tests: blocks of
// records (data in the block, 8 bytes in the record, or a sub-block), each
// block's data followed by its directory and the directory's offset, and
// the 26-byte file header in front of the first block.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace testing_support {

// Where the fields of a built heap lie in the file (absolute offsets).
struct CiffLayout {
  struct Block {
    size_t start = 0;
    size_t length = 0;
    size_t directory = 0;          // the record count
    size_t directory_pointer = 0;  // the block's last 4 bytes
  };
  std::vector<Block> blocks;           // depth first, the heap first
  std::vector<size_t> record_lengths;  // 32-bit length fields of records with data elsewhere
  std::vector<size_t> record_offsets;  // 32-bit offset fields, same records
  std::vector<size_t> records;         // each record's tag word
};

class CiffBlock {
 public:
  CiffBlock() = default;
  CiffBlock(const CiffBlock&) = delete;
  CiffBlock& operator=(const CiffBlock&) = delete;

  // A record (tag word tag_word, data location 00) whose data goes in the
  // block's data area.
  CiffBlock& add_value(uint16_t tag_word, const std::string& data);
  // A record (data location 01) holding its 8 data bytes (padded with
  // zero bytes, cut at 8).
  CiffBlock& add_inline(uint16_t tag_word, const std::string& data);
  // A record of 10 bytes as given: tag word, then length and offset fields.
  CiffBlock& add_raw(uint16_t tag_word, uint32_t length, uint32_t offset);
  // A sub-block record (tag word with type bits 0x2800 or 0x3000); gives
  // the new block to fill.
  CiffBlock& add_block(uint16_t tag_word);

  // Bytes written between the data area and the directory.
  CiffBlock& pad(size_t bytes);
  // The record count written, when it should differ from the records.
  CiffBlock& set_count_raw(uint16_t count);
  // The directory offset written in the block's last 4 bytes.
  CiffBlock& set_directory_pointer_raw(uint32_t offset);

  // The block's bytes: data area, directory, directory offset. start is the
  // block's absolute position, for the layout.
  std::string build(size_t start, CiffLayout* layout = nullptr) const;

 private:
  struct Record {
    uint16_t word = 0;
    std::string data;  // data area bytes, or the 8 inline bytes
    bool in_record = false;
    bool raw = false;
    uint32_t raw_length = 0;
    uint32_t raw_offset = 0;
    std::unique_ptr<CiffBlock> block;
  };
  std::vector<Record> records_;
  size_t pad_ = 0;
  int count_raw_ = -1;
  int64_t pointer_raw_ = -1;
};

// Little-endian 16- and 32-bit values as bytes.
std::string le16(uint16_t v);
std::string le32(uint32_t v);

// A CIFF file: the 26-byte header ("II", the header length, "HEAPCCDR",
// the version, zero bytes), then the heap.
std::string ciff_file(const CiffBlock& heap, CiffLayout* layout = nullptr);

}  // namespace testing_support
