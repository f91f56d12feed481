#include "dng/support/fd_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace dng_test {

FdCapture::FdCapture(int fd, FILE* stream) : fd_(fd), stream_(stream) {
  std::fflush(stream_);
  char path[] = "/tmp/dng_capture_XXXXXX";
  file_fd_ = mkstemp(path);
  if (file_fd_ < 0) {
    ADD_FAILURE() << "cannot create the capture file for descriptor " << fd_;
    return;
  }
  unlink(path);
  saved_fd_ = dup(fd_);
  dup2(file_fd_, fd_);
}

FdCapture::~FdCapture() {
  if (file_fd_ < 0) return;
  std::fflush(stream_);
  dup2(saved_fd_, fd_);
  close(saved_fd_);
  close(file_fd_);
}

std::string FdCapture::Take() {
  std::string out;
  if (file_fd_ < 0) return out;
  std::fflush(stream_);
  char chunk[4096];
  ssize_t n;
  off_t offset = 0;
  while ((n = pread(file_fd_, chunk, sizeof chunk, offset)) > 0) {
    out.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
  if (ftruncate(file_fd_, 0) != 0) ADD_FAILURE() << "cannot reset the capture of descriptor " << fd_;
  lseek(file_fd_, 0, SEEK_SET);
  return out;
}

}  // namespace dng_test
