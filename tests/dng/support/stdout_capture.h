// Captures what the process writes to standard output (file descriptor 1)
// while the object lives. The DNG parsers must never write there: the
// worker's standard output is its result channel.
#pragma once

#include "dng/support/fd_capture.h"

namespace dng_test {

class StdoutCapture : public FdCapture {
 public:
  StdoutCapture() : FdCapture(1, stdout) {}
};

}  // namespace dng_test
