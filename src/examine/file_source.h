// Positioned reads from the file under examination, with its size known up
// front so that offsets and lengths taken from the file can be checked
// before anything is allocated or read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

class FileSource {
 public:
  // The file stays the caller's; its size is measured once here.
  explicit FileSource(FILE* file);

  enum class Status { ok, seek_failed, short_read };

  // Reads exactly n bytes at position pos.
  Status read_at(uint64_t pos, void* buffer, size_t n);
  // Reads up to n bytes at pos; gives how many arrived (0 when the seek
  // failed, with *seek_ok false).
  size_t read_some_at(uint64_t pos, void* buffer, size_t n, bool* seek_ok);

  // True when n bytes at pos lie inside the file (always true when the size
  // is unknown). Written so that no sum can overflow.
  bool has_range(uint64_t pos, uint64_t n) const {
    return !size_known_ || (pos <= size_ && n <= size_ - pos);
  }
  bool size_known() const { return size_known_; }
  uint64_t size() const { return size_; }
  FILE* file() const { return file_; }

 private:
  FILE* file_;
  uint64_t size_ = 0;
  bool size_known_ = false;
};
