// Captures what the process writes to standard output (file descriptor 1)
// while the object lives, through a temporary file. The DNG parsers must
// never write there: the worker's standard output is its result channel.
#pragma once

#include <string>

namespace dng_test {

class StdoutCapture {
 public:
  StdoutCapture();
  ~StdoutCapture();
  StdoutCapture(const StdoutCapture&) = delete;
  StdoutCapture& operator=(const StdoutCapture&) = delete;

  // Everything written since construction (or the last Take), and starts
  // afresh.
  std::string Take();

 private:
  int saved_fd_ = -1;
  int file_fd_ = -1;
};

}  // namespace dng_test
