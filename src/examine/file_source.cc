#include "examine/file_source.h"

#include <sys/stat.h>
#include <sys/types.h>

FileSource::FileSource(FILE* file) : file_(file) {
  if (file_ == nullptr) return;
  struct stat st;
  int fd = fileno(file_);
  if (fd >= 0 && fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
    size_ = static_cast<uint64_t>(st.st_size);
    size_known_ = true;
    return;
  }
  // Memory streams and the like: measure by seeking to the end.
  off_t here = ftello(file_);
  if (here >= 0 && fseeko(file_, 0, SEEK_END) == 0) {
    off_t end = ftello(file_);
    if (end >= 0) {
      size_ = static_cast<uint64_t>(end);
      size_known_ = true;
    }
    fseeko(file_, here, SEEK_SET);
  }
}

size_t FileSource::read_some_at(uint64_t pos, void* buffer, size_t n, bool* seek_ok) {
  *seek_ok = false;
  if (file_ == nullptr) return 0;
  // Past the end nothing can arrive, as with a seek past the end of a
  // regular file followed by a read; memory streams would refuse the seek.
  if (size_known_ && pos >= size_) {
    *seek_ok = true;
    return 0;
  }
  if (pos > static_cast<uint64_t>(INT64_MAX)) return 0;
  if (fseeko(file_, static_cast<off_t>(pos), SEEK_SET) != 0) return 0;
  *seek_ok = true;
  if (n == 0) return 0;
  return fread(buffer, 1, n, file_);
}

FileSource::Status FileSource::read_at(uint64_t pos, void* buffer, size_t n) {
  bool seek_ok;
  if (n > 0 && !has_range(pos, n)) {
    // Regular-file semantics: the seek succeeds, the read comes up short.
    return Status::short_read;
  }
  size_t got = read_some_at(pos, buffer, n, &seek_ok);
  if (!seek_ok) return Status::seek_failed;
  return got == n ? Status::ok : Status::short_read;
}
