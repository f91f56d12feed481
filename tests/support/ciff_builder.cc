#include "support/ciff_builder.h"

namespace testing_support {

std::string le16(uint16_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

std::string le32(uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}

CiffBlock& CiffBlock::add_value(uint16_t tag_word, const std::string& data) {
  Record r;
  r.word = tag_word;
  r.data = data;
  records_.push_back(std::move(r));
  return *this;
}

CiffBlock& CiffBlock::add_inline(uint16_t tag_word, const std::string& data) {
  std::string eight = data.substr(0, 8);
  eight.resize(8, '\0');
  Record r;
  r.word = static_cast<uint16_t>(tag_word | 0x4000);
  r.data = eight;
  r.in_record = true;
  records_.push_back(std::move(r));
  return *this;
}

CiffBlock& CiffBlock::add_raw(uint16_t tag_word, uint32_t length, uint32_t offset) {
  Record r;
  r.word = tag_word;
  r.raw = true;
  r.raw_length = length;
  r.raw_offset = offset;
  records_.push_back(std::move(r));
  return *this;
}

CiffBlock& CiffBlock::add_block(uint16_t tag_word) {
  Record r;
  r.word = tag_word;
  r.block = std::make_unique<CiffBlock>();
  records_.push_back(std::move(r));
  return *records_.back().block;
}

CiffBlock& CiffBlock::pad(size_t bytes) {
  pad_ = bytes;
  return *this;
}

CiffBlock& CiffBlock::set_count_raw(uint16_t count) {
  count_raw_ = count;
  return *this;
}

CiffBlock& CiffBlock::set_directory_pointer_raw(uint32_t offset) {
  pointer_raw_ = offset;
  return *this;
}

std::string CiffBlock::build(size_t start, CiffLayout* layout) const {
  size_t index = 0;
  if (layout != nullptr) {
    index = layout->blocks.size();
    layout->blocks.emplace_back();
  }
  // The data area: values and sub-blocks one after the other.
  std::string data;
  std::vector<std::pair<uint32_t, uint32_t>> placed;  // length, offset per record
  for (const Record& r : records_) {
    if (r.block != nullptr) {
      std::string bytes = r.block->build(start + data.size(), layout);
      placed.emplace_back(static_cast<uint32_t>(bytes.size()), static_cast<uint32_t>(data.size()));
      data += bytes;
    } else if (!r.in_record && !r.raw) {
      placed.emplace_back(static_cast<uint32_t>(r.data.size()), static_cast<uint32_t>(data.size()));
      data += r.data;
    } else {
      placed.emplace_back(r.raw_length, r.raw_offset);
    }
  }
  data.append(pad_, '\0');
  const size_t directory = data.size();
  std::string bytes = data;
  bytes += le16(count_raw_ >= 0 ? static_cast<uint16_t>(count_raw_) : static_cast<uint16_t>(records_.size()));
  for (size_t i = 0; i < records_.size(); ++i) {
    const Record& r = records_[i];
    if (layout != nullptr) layout->records.push_back(start + bytes.size());
    bytes += le16(r.word);
    if (r.in_record) {
      bytes += r.data;
    } else {
      if (layout != nullptr) {
        layout->record_lengths.push_back(start + bytes.size());
        layout->record_offsets.push_back(start + bytes.size() + 4);
      }
      bytes += le32(placed[i].first) + le32(placed[i].second);
    }
  }
  const size_t pointer = bytes.size();
  bytes += le32(pointer_raw_ >= 0 ? static_cast<uint32_t>(pointer_raw_) : static_cast<uint32_t>(directory));
  if (layout != nullptr) {
    layout->blocks[index] = CiffLayout::Block{start, bytes.size(), start + directory, start + pointer};
  }
  return bytes;
}

std::string ciff_file(const CiffBlock& heap, CiffLayout* layout) {
  std::string header = "II" + le32(26) + "HEAPCCDR" + le32(0x00010002);
  header.resize(26, '\0');
  return header + heap.build(header.size(), layout);
}

}  // namespace testing_support
