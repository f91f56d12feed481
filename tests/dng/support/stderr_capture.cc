#include "dng/support/stderr_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace dng_test {

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  char path[] = "/tmp/dng_stderr_XXXXXX";
  file_fd_ = mkstemp(path);
  if (file_fd_ < 0) {
    ADD_FAILURE() << "cannot create the stderr capture file";
    return;
  }
  unlink(path);
  saved_fd_ = dup(2);
  dup2(file_fd_, 2);
}

StderrCapture::~StderrCapture() {
  if (file_fd_ < 0) return;
  std::fflush(stderr);
  dup2(saved_fd_, 2);
  close(saved_fd_);
  close(file_fd_);
}

std::string StderrCapture::Take() {
  std::string out;
  if (file_fd_ < 0) return out;
  std::fflush(stderr);
  char chunk[4096];
  ssize_t n;
  off_t offset = 0;
  while ((n = pread(file_fd_, chunk, sizeof chunk, offset)) > 0) {
    out.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
  if (ftruncate(file_fd_, 0) != 0) ADD_FAILURE() << "cannot reset the stderr capture";
  lseek(file_fd_, 0, SEEK_SET);
  return out;
}

}  // namespace dng_test
