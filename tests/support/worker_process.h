// A real corvex process for tests: started with a temporary property root,
// its standard input and output on pipes and its standard error in a file.
// Tests write requests, read result records with a time limit and collect
// the exit status.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/process.h"
#include "util/worker_wire.h"

namespace testing_support {

// The corvex built beside the tests.
std::string corvex_path();
// The stand-in for the external DNG converter (see fake_converter.cc).
std::string fake_converter_path();

class WorkerProcess {
 public:
  using Ms = std::chrono::milliseconds;
  static constexpr Ms kDefaultTimeout{10000};

  // Starts corvex with root as its only argument (none when root is
  // nullopt). stderr_path receives its standard error. extra_env entries
  // ("NAME=value") are added to its environment. program replaces corvex
  // with a build of the same worker (one with a fault injected).
  WorkerProcess(std::optional<std::string> root, std::string stderr_path,
                std::vector<std::string> extra_env = {}, std::string program = corvex_path());
  ~WorkerProcess();
  WorkerProcess(const WorkerProcess&) = delete;
  WorkerProcess& operator=(const WorkerProcess&) = delete;

  bool started() const { return child_.started(); }
  pid_t pid() const { return child_.pid(); }

  // Writes a whole request; false when the worker's input is closed.
  bool send_request(std::string_view mode, const std::vector<std::string>& paths);
  bool send_internal(const std::string& path) { return send_request(wire::kInternalMode, {path}); }
  bool send_bytes(std::string_view bytes);
  void close_input();
  void close_output();

  // The next record, or nothing when none arrives in time or the worker's
  // output ends first.
  std::optional<wire::Record> read_record(Ms timeout = kDefaultTimeout);
  // An 'N' record and the records it announces; nothing when any is missing.
  std::optional<std::vector<wire::Record>> read_answer(Ms timeout = kDefaultTimeout);
  // Whether the worker's output reached its end within the time limit
  // (with no further bytes).
  bool output_ends(Ms timeout = kDefaultTimeout);

  // Waits for the worker to end; its exit code (128 + signal when killed),
  // or nothing when it is still running at the time limit.
  std::optional<int> wait_exit(Ms timeout = kDefaultTimeout);
  std::string stderr_text() const;

 private:
  platform::ChildProcess child_;
  platform::Fd to_worker_;
  platform::Fd from_worker_;
  std::string stderr_path_;
};

}  // namespace testing_support
