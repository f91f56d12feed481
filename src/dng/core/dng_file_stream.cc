// dng_file_stream: stdio with 64-bit offsets under the 32-bit stream.
#include "dng/core/dng_file_stream.h"

#include <sys/types.h>
#include <unistd.h>

#include <cerrno>

#include "dng/core/dng_errors.h"

static_assert(sizeof(off_t) == 8, "file offsets must be 64-bit");

dng_file_stream::dng_file_stream(const char* path, bool write) : dng_stream(static_cast<dng_cancel_hook*>(nullptr), kBufferSize, 0) {
  file_ = std::fopen(path, write ? "wbe" : "rbe");
  if (file_ == nullptr) {
    report_dng_error("Unable to open file", path);
    throw_dng_code(dng_code_silent);
  }
  // The stream's window is the only buffer; stdio passes reads and writes
  // straight through.
  std::setvbuf(file_, nullptr, _IONBF, 0);
}

dng_file_stream::~dng_file_stream() {
  if (file_ != nullptr) std::fclose(file_);
}

bool dng_file_stream::SeekTo(uint32_t offset) {
  if (file_position_ == static_cast<int64_t>(offset)) return true;
  file_position_ = -1;
  if (fseeko(file_, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  file_position_ = offset;
  return true;
}

uint32_t dng_file_stream::StorageLength() {
  if (file_ == nullptr) throw_dng_code(dng_code_read_file);
  file_position_ = -1;
  if (fseeko(file_, 0, SEEK_END) != 0) throw_dng_code(dng_code_read_file);
  off_t length = ftello(file_);
  if (length < 0) throw_dng_code(dng_code_read_file);
  file_position_ = length;
  // Offsets in the file are 32-bit: a longer file is as long as they reach.
  return length > static_cast<off_t>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(length);
}

void dng_file_stream::StorageRead(void* data, uint32_t count, uint32_t offset) {
  if (file_ == nullptr || !SeekTo(offset)) throw_dng_code(dng_code_read_file);
  size_t got = std::fread(data, 1, count, file_);
  file_position_ += static_cast<int64_t>(got);
  if (got != count) {
    std::clearerr(file_);
    file_position_ = -1;
    throw_dng_code(dng_code_read_file);
  }
}

void dng_file_stream::StorageWrite(const void* data, uint32_t count, uint32_t offset) {
  if (file_ == nullptr || !SeekTo(offset)) throw_dng_code(dng_code_write_file);
  size_t put = std::fwrite(data, 1, count, file_);
  file_position_ += static_cast<int64_t>(put);
  if (put != count) {
    std::clearerr(file_);
    file_position_ = -1;
    throw_dng_code(dng_code_write_file);
  }
}

void dng_file_stream::Close() {
  if (file_ == nullptr) return;
  try {
    FlushBuffer();
  } catch (...) {
    std::fclose(file_);
    file_ = nullptr;
    throw;
  }
  bool ok = std::fflush(file_) == 0;
  // A file that cannot be synced at all (EINVAL: a pipe or a device) has
  // nothing to lose by it.
  if (fsync(fileno(file_)) != 0 && errno != EINVAL) ok = false;
  if (std::fclose(file_) != 0) ok = false;
  file_ = nullptr;
  file_position_ = -1;
  if (!ok) throw_dng_code(dng_code_write_file);
}
