// The run's error reporters: the first error becomes the run status, the
// error line goes to the log file and the run log, and a message box tells
// the user that the verification was cancelled.
#pragma once

#include <string>

#include "frontend/core/run_log.h"

namespace frontend {

// Message boxes with an OK button, shown by the window's thread; a caller on
// another thread waits until the user has answered.
class MessageBoxes {
 public:
  virtual ~MessageBoxes() = default;
  // Texts use "\r" as a line break, as the run core writes them.
  virtual void showMessage(const std::string& text) = 0;
};

// Owns the run status. Used by the run thread while it lives, otherwise by
// the window's thread; the run status is read after the run thread ended.
class ErrorReporter {
 public:
  static constexpr const char* kCancelledSuffix = "\r\r(Verification cancelled.)";

  ErrorReporter(RunLogSink& log, MessageBoxes& boxes) : log_(log), boxes_(boxes) {}

  // A run error with the C library's text for errno (when errno > 0).
  void reportError(const char* text);
  // A failure of a system call: the error line, then "Failed with error
  // %d: %s\n" with errno and its text.
  void reportSystemError(const char* text);

  // The first error text of the run; empty while there was none.
  const std::string& run_status() const { return run_status_; }
  void clear_run_status() { run_status_.clear(); }
  // Makes text the run status when there is none yet (the first error
  // wins), without a message or a log line.
  void take_status(const char* text);
  // Adds text to the run status (after a blank when there is one already).
  void add_to_status(const char* text);

 private:

  RunLogSink& log_;
  MessageBoxes& boxes_;
  std::string run_status_;
};

}  // namespace frontend
