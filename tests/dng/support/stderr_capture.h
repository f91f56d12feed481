// Captures what the process writes to standard error (file descriptor 2)
// while the object lives.
#pragma once

#include "dng/support/fd_capture.h"

namespace dng_test {

class StderrCapture : public FdCapture {
 public:
  StderrCapture() : FdCapture(2, stderr) {}
};

}  // namespace dng_test
