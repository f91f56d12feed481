// Captures what the process writes to standard error (file descriptor 2)
// while the object lives, through a temporary file.
#pragma once

#include <string>

namespace dng_test {

class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  // Everything written since construction (or the last Take), and starts
  // afresh.
  std::string Take();

 private:
  int saved_fd_ = -1;
  int file_fd_ = -1;
};

}  // namespace dng_test
