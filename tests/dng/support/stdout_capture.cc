#include "dng/support/stdout_capture.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace dng_test {

StdoutCapture::StdoutCapture() {
  std::fflush(stdout);
  char path[] = "/tmp/dng_stdout_XXXXXX";
  file_fd_ = mkstemp(path);
  if (file_fd_ < 0) {
    ADD_FAILURE() << "cannot create the stdout capture file";
    return;
  }
  unlink(path);
  saved_fd_ = dup(1);
  dup2(file_fd_, 1);
}

StdoutCapture::~StdoutCapture() {
  if (file_fd_ < 0) return;
  std::fflush(stdout);
  dup2(saved_fd_, 1);
  close(saved_fd_);
  close(file_fd_);
}

std::string StdoutCapture::Take() {
  std::string out;
  if (file_fd_ < 0) return out;
  std::fflush(stdout);
  char chunk[4096];
  ssize_t n;
  off_t offset = 0;
  while ((n = pread(file_fd_, chunk, sizeof chunk, offset)) > 0) {
    out.append(chunk, static_cast<size_t>(n));
    offset += n;
  }
  if (ftruncate(file_fd_, 0) != 0) ADD_FAILURE() << "cannot reset the stdout capture";
  lseek(file_fd_, 0, SEEK_SET);
  return out;
}

}  // namespace dng_test
