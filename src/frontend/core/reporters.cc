// reportError and reportSystemError.
#include "frontend/core/reporters.h"

#include <cerrno>
#include <cstring>

#include "util/trace.h"

namespace frontend {

namespace {

std::string error_text(int err) {
  char buffer[256];
  // The GNU strerror_r gives a pointer that may or may not be the buffer.
  return strerror_r(err, buffer, sizeof buffer);
}

}  // namespace

void ErrorReporter::take_status(const char* text) {
  if (run_status_.empty()) run_status_ = text;
}

void ErrorReporter::add_to_status(const char* text) {
  if (!run_status_.empty()) run_status_ += " ";
  run_status_ += text;
}

void ErrorReporter::reportError(const char* text) {
  int err = errno;
  take_status(text);
  std::string line = std::string("ERROR: ") + text + " ";
  if (err > 0) line += "--" + error_text(err);
  log_printf("%s", line.c_str());
  runLogNotice(log_, "\n%s\n\n", line.c_str());
  boxes_.showMessage(std::string(text) + kCancelledSuffix);
}

void ErrorReporter::reportSystemError(const char* text) {
  int err = errno;
  take_status(text);
  std::string line = std::string("ERROR: ") + text;
  log_printf("%s", line.c_str());
  runLogNotice(log_, "\n%s\n", line.c_str());
  runLogPrintf(log_, "Failed with error %d: %s\n", err, error_text(err).c_str());
  boxes_.showMessage(std::string(text) + kCancelledSuffix);
}

}  // namespace frontend
