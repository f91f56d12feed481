// The one bounded reader through which the PSD checker reads file bytes:
// big-endian numbers, skips and seeks over a file or a memory block, each
// failing cleanly at the end of the data or of the current section.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace psd {

// Where the bytes come from. read_at gives false unless all n bytes were read.
class PsdSource {
 public:
  virtual ~PsdSource() = default;
  virtual uint64_t size() const = 0;
  virtual bool read_at(uint64_t offset, uint8_t* dst, size_t n) = 0;
};

// A block of memory the caller keeps alive while the source is used.
class PsdMemorySource final : public PsdSource {
 public:
  PsdMemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t size() const override { return size_; }
  bool read_at(uint64_t offset, uint8_t* dst, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A regular file read through a read-ahead buffer. Owns its descriptor.
class PsdFileSource final : public PsdSource {
 public:
  // Opens a regular file for reading; nothing (with errno set) when the path
  // cannot be opened or is not a regular file (a folder, a pipe, a device).
  static std::unique_ptr<PsdFileSource> open(const char* path);
  ~PsdFileSource() override;
  PsdFileSource(const PsdFileSource&) = delete;
  PsdFileSource& operator=(const PsdFileSource&) = delete;

  uint64_t size() const override { return size_; }
  bool read_at(uint64_t offset, uint8_t* dst, size_t n) override;

 private:
  PsdFileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  bool fill(uint64_t offset);

  int fd_;
  uint64_t size_;
  std::vector<uint8_t> buffer_;  // file bytes [buffer_start_, buffer_start_ + buffer_.size())
  uint64_t buffer_start_ = 0;
};

// Sequential big-endian reader over a source. Every read or skip either
// consumes exactly what it asks for or fails and leaves the position alone.
// The readable end is the source's size, or the end of the innermost section
// opened with PsdSection, whichever comes first.
class PsdReader {
 public:
  explicit PsdReader(PsdSource& source) : source_(source), end_(source.size()) {}

  uint64_t position() const { return pos_; }
  uint64_t end() const { return end_; }
  // Bytes between the position and the readable end.
  uint64_t remaining() const { return end_ - pos_; }

  bool readByte(uint8_t* value);
  bool readShort(int16_t* value);  // signed 16-bit
  bool readUShort(uint16_t* value);
  bool readLong(uint32_t* value);
  bool readLong64(uint64_t* value);
  bool readBytes(void* dst, size_t n);
  // Moves forward n bytes; false when that passes the readable end.
  bool skipBytes(uint64_t n);
  // Moves to an absolute offset at or before the readable end.
  bool seekTo(uint64_t offset);

 private:
  friend class PsdSection;
  PsdSource& source_;
  uint64_t pos_ = 0;
  uint64_t end_;
};

// Narrows the reader's readable end to [position, position + length) for the
// life of the object (never beyond the end already in force), and restores
// the previous end afterwards.
class PsdSection {
 public:
  PsdSection(PsdReader& reader, uint64_t length);
  ~PsdSection() { reader_.end_ = saved_end_; }
  PsdSection(const PsdSection&) = delete;
  PsdSection& operator=(const PsdSection&) = delete;

 private:
  PsdReader& reader_;
  uint64_t saved_end_;
};

// a * b, or UINT64_MAX when the product does not fit: a size that large runs
// past the end of any file, so the bounded reader refuses it.
uint64_t saturating_multiply(uint64_t a, uint64_t b);

}  // namespace psd
