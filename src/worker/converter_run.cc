// One run of the external DNG converter: start it, drain its standard error
// while it runs, enforce the time limit, and collect its exit status.
#include <signal.h>
#include <string.h>
#include <sys/wait.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "platform/process.h"
#include "worker/converter.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// How long one wait for output or for the end of the converter lasts before
// the time limit is looked at again.
constexpr milliseconds kPollStep{250};

std::string cant_execute(const std::string& converter_path, int err) {
  char code[64];
  snprintf(code, sizeof code, " (error code = %d)", err);
  return "Can't execute: " + converter_path + code;
}

std::string failure_of_status(int status) {
  char text[128];
  if (WIFEXITED(status)) {
    snprintf(text, sizeof text, "DNG Converter failed (exit status %d)", WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    snprintf(text, sizeof text, "DNG Converter was killed by signal %d (%s)", WTERMSIG(status),
             strsignal(WTERMSIG(status)));
  } else {
    snprintf(text, sizeof text, "DNG Converter ended with status %d", status);
  }
  return text;
}

std::string failure_of_time_limit(milliseconds limit) {
  char text[128];
  snprintf(text, sizeof text, "DNG Converter did not finish within %lld seconds and was stopped",
           static_cast<long long>((limit.count() + 999) / 1000));
  return text;
}

milliseconds until(Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
  return std::max(left, milliseconds(0));
}

}  // namespace

ConverterRun execute_converter(const std::string& converter_path, const std::vector<std::string>& args,
                               milliseconds time_limit) {
  ConverterRun run;
  auto pipe = platform::make_pipe();
  if (!pipe) {
    run.failure = cant_execute(converter_path, errno);
    return run;
  }

  // Standard input and output stay on /dev/null: they are the worker's
  // request and result channels, which the converter must never touch.
  platform::SpawnOptions options;
  options.argv = args;
  options.argv[0] = converter_path;
  options.stdin_fd = -1;
  options.stdout_fd = -1;
  options.stderr_fd = pipe->write_end.get();
  options.new_process_group = true;
  std::string spawn_error;
  // The converter is a program of its own, outside this worker's memory
  // budget: it starts without the worker's limit, which is then restored.
  const std::optional<uint64_t> limit = platform::address_space_limit();
  if (limit) platform::set_address_space_limit(0, UINT64_MAX);
  auto child = platform::spawn_process(options, &spawn_error);
  const int spawn_errno = errno;
  if (limit) platform::set_address_space_limit(0, *limit);
  errno = spawn_errno;
  if (!child) {
    run.failure = cant_execute(converter_path, errno);
    return run;
  }
  pipe->write_end.reset();

  // Read everything the converter writes, keeping the start, so that it
  // never stalls on a full pipe; stop at end of input once it has ended.
  const auto deadline = Clock::now() + time_limit;
  std::optional<Clock::time_point> ended_at;
  bool end_of_input = false;
  char buffer[4096];
  for (;;) {
    if (!ended_at && child->try_wait()) ended_at = Clock::now();
    if (ended_at) {
      // Once the converter has ended, something it started may still hold
      // its standard error; what the converter itself wrote has been read
      // after a short grace.
      auto now = Clock::now();
      if (end_of_input || now - *ended_at >= kConverterDrainGrace || now >= deadline) break;
    }
    if (Clock::now() >= deadline) {
      child->kill_group_and_wait();
      run.failure = failure_of_time_limit(time_limit);
      return run;
    }
    if (end_of_input) {
      child->wait_for(std::min(kPollStep, until(deadline)));
      continue;
    }
    milliseconds step = std::min(kPollStep, until(deadline));
    if (ended_at) step = std::min(step, until(*ended_at + kConverterDrainGrace));
    if (!platform::wait_readable(pipe->read_end.get(), step)) continue;
    ssize_t n = platform::read_some(pipe->read_end.get(), buffer, sizeof buffer);
    if (n < 0) {
      child->kill_group_and_wait();
      run.failure = "execute_converter: readfile";
      return run;
    }
    if (n == 0) {
      end_of_input = true;
      continue;
    }
    size_t room = kConverterErrorKept - run.error_text.size();
    run.error_text.append(buffer, std::min(room, static_cast<size_t>(n)));
  }

  run.ok = WIFEXITED(child->status()) && WEXITSTATUS(child->status()) == 0;
  if (!run.ok) run.failure = failure_of_status(child->status());
  return run;
}
