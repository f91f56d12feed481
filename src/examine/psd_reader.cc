#include "examine/psd_reader.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "examine/psd_limits.h"

namespace psd {

bool PsdMemorySource::read_at(uint64_t offset, uint8_t* dst, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  if (n != 0) memcpy(dst, data_ + offset, n);
  return true;
}

std::unique_ptr<PsdFileSource> PsdFileSource::open(const char* path) {
  // O_NONBLOCK so that a pipe named like an image cannot stall the open.
  int fd = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return nullptr;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (err != 0) {
    ::close(fd);
    errno = err;
    return nullptr;
  }
  return std::unique_ptr<PsdFileSource>(new PsdFileSource(fd, static_cast<uint64_t>(st.st_size)));
}

PsdFileSource::~PsdFileSource() { ::close(fd_); }

bool PsdFileSource::fill(uint64_t offset) {
  buffer_.resize(kReadAheadBytes);
  size_t got = 0;
  while (got < buffer_.size()) {
    ssize_t n = pread(fd_, buffer_.data() + got, buffer_.size() - got, static_cast<off_t>(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  buffer_.resize(got);
  buffer_start_ = offset;
  return got > 0;
}

bool PsdFileSource::read_at(uint64_t offset, uint8_t* dst, size_t n) {
  if (offset > size_ || n > size_ - offset) return false;
  while (n > 0) {
    bool buffered = offset >= buffer_start_ && offset - buffer_start_ < buffer_.size();
    if (!buffered && !fill(offset)) return false;  // the file shrank under us
    size_t at = static_cast<size_t>(offset - buffer_start_);
    size_t take = std::min(n, buffer_.size() - at);
    memcpy(dst, buffer_.data() + at, take);
    dst += take;
    offset += take;
    n -= take;
  }
  return true;
}

bool PsdReader::readBytes(void* dst, size_t n) {
  if (n > remaining()) return false;
  if (!source_.read_at(pos_, static_cast<uint8_t*>(dst), n)) return false;
  pos_ += n;
  return true;
}

bool PsdReader::readByte(uint8_t* value) { return readBytes(value, 1); }

bool PsdReader::readUShort(uint16_t* value) {
  uint8_t b[2];
  if (!readBytes(b, 2)) return false;
  *value = static_cast<uint16_t>(b[0] << 8 | b[1]);
  return true;
}

bool PsdReader::readShort(int16_t* value) {
  uint16_t u;
  if (!readUShort(&u)) return false;
  *value = static_cast<int16_t>(u);
  return true;
}

bool PsdReader::readLong(uint32_t* value) {
  uint8_t b[4];
  if (!readBytes(b, 4)) return false;
  *value = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 |
           static_cast<uint32_t>(b[2]) << 8 | b[3];
  return true;
}

bool PsdReader::readLong64(uint64_t* value) {
  uint32_t high, low;
  uint64_t start = pos_;
  if (!readLong(&high)) return false;
  if (!readLong(&low)) {
    pos_ = start;
    return false;
  }
  *value = static_cast<uint64_t>(high) << 32 | low;
  return true;
}

bool PsdReader::skipBytes(uint64_t n) {
  if (n > remaining()) return false;
  pos_ += n;
  return true;
}

bool PsdReader::seekTo(uint64_t offset) {
  if (offset > end_) return false;
  pos_ = offset;
  return true;
}

PsdSection::PsdSection(PsdReader& reader, uint64_t length) : reader_(reader), saved_end_(reader.end_) {
  if (length < reader.remaining()) reader.end_ = reader.pos_ + length;
}

uint64_t saturating_multiply(uint64_t a, uint64_t b) {
  if (a != 0 && b > UINT64_MAX / a) return UINT64_MAX;
  return a * b;
}

}  // namespace psd
