// Captures what the process writes to one of its standard streams while the
// object lives, through a temporary file put in place of the descriptor.
#pragma once

#include <cstdio>
#include <string>

namespace dng_test {

class FdCapture {
 public:
  // fd is 1 or 2; stream is the stdio stream on it, flushed around each step.
  FdCapture(int fd, FILE* stream);
  ~FdCapture();
  FdCapture(const FdCapture&) = delete;
  FdCapture& operator=(const FdCapture&) = delete;

  // Everything written since construction (or the last Take), and starts
  // afresh.
  std::string Take();

 private:
  int fd_;
  FILE* stream_;
  int saved_fd_ = -1;
  int file_fd_ = -1;
};

}  // namespace dng_test
