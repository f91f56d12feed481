// What the worker pool reports through, and the times it waits.
#pragma once

#include <chrono>
#include <string>

namespace frontend {

// The pool's way out to the rest of the run: result recording, the run log,
// the log file and the run's error reporters. Called on the thread that
// drives the pool (the run thread during a run).
class PoolSink {
 public:
  virtual ~PoolSink() = default;

  // Records one answer of a worker, or 'C' for a worker that died owing it.
  // context names where the answer was read: "verify", "waitForTerminated"
  // or "finishAllWorkers".
  virtual void recordResult(const std::string& path, char code, char type, const std::string& message,
                            const std::string& context) = 0;
  // Writes text into the run log whatever its cap.
  virtual void runLogNotice(const std::string& text) = 0;
  // Writes one line to the log file.
  virtual void logLine(const std::string& text) = 0;
  // A run error. err is the errno that goes with it (0 for none); adapters
  // over reporters that read errno set errno = err first.
  virtual void reportError(const std::string& text, int err) = 0;
  // A failed system call, with its errno.
  virtual void reportSystemError(const std::string& text, int err) = 0;
};

// How long the pool waits. The defaults are the program's; tests shorten them.
struct PoolTimings {
  // One step of every wait; the cancel flag is looked at between steps.
  std::chrono::milliseconds poll_step{100};
  // How long to wait for any busy worker to answer before giving up one
  // placement attempt.
  std::chrono::milliseconds answer_budget{200000};
  // The same once a raw batch was opened: converter runs take longer.
  std::chrono::milliseconds long_answer_budget{1000000};
  // The pause between placement attempts, and how many attempts a file gets.
  std::chrono::milliseconds retry_pause{3000};
  int placement_attempts = 20;
};

}  // namespace frontend
