#include "frontend/core/worker_pool.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <thread>
#include <vector>

#include "platform/files.h"

namespace frontend {
namespace {

using std::chrono::milliseconds;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  va_list again;
  va_copy(again, args);
  int size = vsnprintf(nullptr, 0, fmt, args);
  va_end(args);
  std::string text(size > 0 ? static_cast<size_t>(size) : 0, '\0');
  if (size > 0) vsnprintf(text.data(), text.size() + 1, fmt, again);
  va_end(again);
  return text;
}

// Once a record has begun, the rest is waited for this many poll steps. A
// worker writes each record whole (512 bytes is below the pipe's atomic
// size), so a record that stays short is damaged, not late.
constexpr int kRecordRestSteps = 10;

const char* const kVerify = "verify";

std::string current_folder() {
  std::vector<char> buffer(4096);
  if (getcwd(buffer.data(), buffer.size()) == nullptr) return std::string();
  return buffer.data();
}

}  // namespace

int clampWorkerCount(long requested) {
  if (requested < 1) return 1;
  if (requested > kWorkerSlots) return kWorkerSlots;
  return static_cast<int>(requested);
}

std::string findWorkerProgramFrom(const std::optional<std::string>& program_folder, const std::string& current) {
  constexpr const char* kName = "corvex";
  std::optional<std::string> beside;
  if (program_folder) {
    beside = platform::join_path(*program_folder, kName);
    if (platform::exists(*beside)) return *beside;
  }
  std::string here = platform::join_path(current, kName);
  if (platform::exists(here)) return here;
  std::string release = platform::join_path(platform::join_path(current, "../release"), kName);
  if (platform::exists(release)) return release;
  return beside ? *beside : here;
}

std::string findWorkerProgram() { return findWorkerProgramFrom(platform::executable_folder(), current_folder()); }

platform::Fd openCaptureFile(const std::string& path) {
  platform::Fd fd = platform::open_capture_file(path);
  if (!fd.valid()) fd = platform::open_null(true);
  return fd;
}

std::string slotCapturePath(const std::string& capture_path, int slot) {
  if (capture_path.empty()) return std::string();
  size_t slash = capture_path.rfind('/');
  size_t dot = capture_path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == slash + 1) {
    dot = capture_path.size();
  }
  return capture_path.substr(0, dot) + "-" + std::to_string(slot) + capture_path.substr(dot);
}

WorkerPool::WorkerPool(PoolConfig config, PoolSink& sink, const std::atomic<bool>& cancel)
    : config_(std::move(config)), sink_(sink), cancel_(cancel) {
  platform::ignore_sigpipe();
}

WorkerPool::~WorkerPool() { quit(); }

void WorkerPool::beginRun(const PoolRun& run, std::optional<uint64_t> memory_limit) {
  // Anything still in progress belongs to an earlier run that did not
  // finish; its answers must not be counted in this one.
  for (int i = 0; i < kWorkerSlots; ++i) {
    if (at(i).busy()) {
      sink_.logLine(format("Ending worker %d left busy by an earlier run", i));
      killWorker(i);
    }
  }
  worker_count_ = clampWorkerCount(run.worker_count);
  for (int i = 0; i < kWorkerSlots; ++i) {
    at_capture(i).reset();
    if (i < worker_count_) at_capture(i) = openCaptureFile(slotCapturePath(run.capture_path, i));
  }
  converter_path_ = run.converter_path;
  memory_limit_ = memory_limit;
  for (int i = 0; i < kWorkerSlots; ++i) {
    if (at(i).has_process()) limitWorkerMemory(i);
  }
}

void WorkerPool::limitWorkerMemory(int index) {
  if (!memory_limit_) return;
  if (!platform::set_address_space_limit(at(index).process.pid(), *memory_limit_)) {
    sink_.logLine(format("Can't limit the memory of worker %d (%s)", index, platform::errno_text(errno).c_str()));
  }
}

void WorkerPool::closeCaptureFiles() {
  for (platform::Fd& fd : capture_) fd.reset();
}

pid_t WorkerPool::workerPid(int index) const {
  const WorkerSlot& s = slot(index);
  return s.has_process() ? s.process.pid() : 0;
}

WorkerPool::Launch WorkerPool::launchWorker(int index) {
  WorkerSlot& s = at(index);
  auto answer = platform::make_pipe();
  auto request = answer ? platform::make_pipe() : std::nullopt;
  // The front end's end of the answer pipe does not block: a read tells at
  // once whether an answer is there, without a poll before it. The worker's
  // end stays blocking.
  if (answer && !platform::set_nonblocking(answer->read_end.get())) answer.reset();
  if (!answer || !request) return Launch{Launch::kNoPipes, errno};

  platform::SpawnOptions options;
  options.argv = {config_.program, config_.property_root};
  options.stdin_fd = request->read_end.get();
  options.stdout_fd = answer->write_end.get();
  options.stderr_fd = at_capture(index).get();  // -1 gives /dev/null
  // Its own process group, so that ending a worker also ends a converter it
  // started, which would otherwise hold the answer pipe open.
  options.new_process_group = true;
  std::string error;
  auto child = platform::spawn_process(options, &error);
  if (!child) return Launch{Launch::kNoProcess, errno};
  s.process = std::move(*child);
  limitWorkerMemory(index);
  s.answer_pipe = std::move(answer->read_end);
  s.request_pipe = std::move(request->write_end);
  // The worker's ends close as the pipes go out of scope: from here on only
  // the worker holds the write end of its answer pipe, so its end shows as
  // the end of that pipe.
  s.available = true;
  return Launch{Launch::kStarted, 0};
}

bool WorkerPool::reportLaunch(int index, const Launch& launch) {
  switch (launch.outcome) {
    case Launch::kStarted: return true;
    case Launch::kNoPipes:
      sink_.reportSystemError("Can't create pipes to subprocess", launch.err);
      killWorker(index);
      sink_.logLine("Can't create pipes to subprocess");
      return false;
    case Launch::kNoProcess: {
      sink_.runLogNotice("Current directory is " + current_folder() + "; trying to execute " + config_.program +
                         "\n");
      // The program's full path goes with the text, so that a missing or
      // unusable worker says where it was looked for.
      const std::string text = "Can't create subprocess " + config_.program;
      sink_.reportSystemError(text, launch.err);
      killWorker(index);
      sink_.logLine(text);
      return false;
    }
  }
  return false;
}

bool WorkerPool::startWorker(int index) {
  if (at(index).has_process()) killWorker(index);
  return reportLaunch(index, launchWorker(index));
}

bool WorkerPool::startWorkers(const std::vector<int>& empty) {
  // One after another from this thread. Starting a process holds the
  // starting thread only until the new program replaces the copy of this
  // one, and processes started from several threads at once contend for
  // this process's memory map: side by side they cost more in all, and the
  // first worker, which gets the file, was ready no sooner.
  for (int index : empty) {
    if (!startWorker(index)) return false;  // the slots after it stay empty
  }
  return true;
}

bool WorkerPool::giveWork(int index) {
  WorkerSlot& s = at(index);
  bool converter = index == raw_batch_slot_;
  if (converter) raw_batch_slot_ = -1;

  std::string mode = wire::kInternalMode;
  if (converter) {
    if (!platform::exists(converter_path_)) {
      last_error_ = errno;
      sink_.reportError("Converter set in Preferences does not exist.", last_error_);
      s.available = true;
      return false;
    }
    mode = converter_path_;
  }
  std::string bytes = wire::encode_request(mode, s.paths);
  auto send = [&] {
    if (!s.request_pipe.valid()) {
      errno = EBADF;
      return false;
    }
    return platform::write_all(s.request_pipe.get(), bytes.data(), bytes.size());
  };
  if (send()) return true;

  if (errno == EPIPE) {
    // The worker ended between its last answer and this request (it may not
    // have been reaped yet). It owes nothing, so the request goes to a new
    // worker in the same slot, once.
    sink_.logLine(format("Worker %d (process %d) ended before taking a request; starting another", index,
                         static_cast<int>(s.process.pid())));
    std::vector<std::string> paths = std::move(s.paths);
    int files = s.files_assigned;
    killWorker(index);
    if (!startWorker(index)) return false;
    for (const auto& path : paths) s.add_path(path);
    s.files_assigned = files;
    s.available = false;
    if (send()) return true;
  }
  last_error_ = errno;
  sink_.reportSystemError("Can't write to subprocess", last_error_);
  s.available = true;
  return false;
}

bool WorkerPool::flushRawWorker() {
  if (raw_batch_slot_ < 0) return true;
  if (!giveWork(raw_batch_slot_)) {
    sink_.reportError("Failed to give final work to subprocess", last_error_);
    return false;
  }
  return true;
}

bool WorkerPool::assign(int index, const std::string& path, bool is_raw) {
  WorkerSlot& s = at(index);
  if (!s.available) {
    sink_.reportError("Attempt to assign to unavailable worker", 0);
    return false;
  }
  s.files_assigned += 1;
  s.add_path(path);
  s.available = false;
  if (is_raw) {
    long_timeout_ = true;
    raw_batch_slot_ = index;
    return true;
  }
  return giveWork(index);
}

WorkerPool::Receive WorkerPool::receiveResult(int fd, bool wait, wire::Record* record) {
  char bytes[wire::kRecordSize] = {};
  size_t got = 0;
  const milliseconds step = config_.timings.poll_step;
  while (got < sizeof bytes) {
    // The pipe does not block: read first, and wait only when nothing came.
    ssize_t n = platform::read_some(fd, bytes + got, sizeof bytes - got);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (got == 0 && wait) {
        while (!platform::wait_readable(fd, step)) {
          if (cancelled()) return Receive::kCancelled;
        }
      } else if (got == 0) {
        return Receive::kNothingWaiting;
      } else {
        bool more = false;
        for (int i = 0; i < kRecordRestSteps && !more; ++i) more = platform::wait_readable(fd, step);
        if (!more) break;
      }
      continue;
    }
    if (n < 0) {
      last_error_ = errno;
      sink_.logLine("ReceiveResult: read error (" + platform::errno_text(last_error_) + ")");
      return Receive::kReadError;
    }
    if (n == 0) {
      if (got == 0) {
        sink_.logLine("ReceiveResult: read had zero count");
        return Receive::kEnd;
      }
      break;
    }
    got += static_cast<size_t>(n);
  }
  if (auto decoded = wire::decode_record(bytes, got)) {
    *record = std::move(*decoded);
    return Receive::kRecord;
  }
  // Where the texts of the damaged record begin and end, as far as they go.
  size_t path_length = got > 2 ? strnlen(bytes + 2, got - 2) : 0;
  size_t message_start = 2 + path_length + 1;
  size_t message_length = message_start < got ? strnlen(bytes + message_start, got - message_start) : 0;
  std::string path(bytes + (got > 2 ? 2 : got), path_length);
  std::string message(message_start < got ? bytes + message_start : bytes, message_length);
  sink_.logLine(format("ReceiveResult: invalid result %d %d %d", static_cast<int>(message_start), static_cast<int>(got),
                       static_cast<int>(message_start + message_length + 1)));
  sink_.logLine(format("amt=%d strlen path=%d", static_cast<int>(got), static_cast<int>(path_length)));
  sink_.logLine(format("%c %c [%s] [%s]", bytes[0], bytes[1], path.c_str(), message.c_str()));
  last_error_ = 0;
  return Receive::kInvalid;
}

void WorkerPool::recordDeath(int index, const std::string& context) {
  sink_.recordResult(at(index).first_unanswered(), wire::kIndeterminate, wire::kTypeLetterUnknown, "", context);
}

bool WorkerPool::readAnswer(int index, const std::string& context) {
  WorkerSlot& s = at(index);
  auto inconsistent = [&] {
    sink_.reportError("inconsistent counts received from subprocess", 0);
    // Its answers are out of step with its requests: nothing more it sends
    // can be trusted. Its unanswered paths stay in flight.
    killWorker(index);
    return false;
  };
  int pending = 0;
  for (;;) {
    wire::Record record;
    switch (receiveResult(s.answer_pipe.get(), true, &record)) {
      case Receive::kCancelled:
        // Stop: the worker stays busy and is ended when the run finishes.
        return false;
      case Receive::kReadError:
      case Receive::kInvalid:
      case Receive::kNothingWaiting: {
        int err = last_error_;
        sink_.logLine("reading result - back with error");
        sink_.runLogNotice(
            format("Result %c path=[%s] msg[%s]\n", wire::kError, s.paths.empty() ? "" : s.paths.front().c_str(), ""));
        sink_.reportError("Error reading response from pipe", err);
        killWorker(index);
        return false;
      }
      case Receive::kEnd: {
        sink_.runLogNotice("No response from subprocess.\n");
        std::string path = s.first_unanswered();
        sink_.runLogNotice(format("Result %c path=[%s] msg[%s]\n", wire::kIndeterminate, path.c_str(), ""));
        recordDeath(index, context);
        // Its output has ended, so it can never answer again.
        killWorker(index);
        return true;
      }
      case Receive::kRecord:
        break;
    }
    if (record.code == wire::kCount) {
      if (pending != 0) return inconsistent();
      pending = static_cast<signed char>(record.type);
      if (pending <= 0) return inconsistent();
      continue;
    }
    if (pending <= 0) return inconsistent();
    sink_.recordResult(record.path, record.code, static_cast<char>(record.type), record.message, context);
    s.mark_answered(record.path);
    if (--pending == 0) {
      s.available = true;
      s.clear_request();
      return true;
    }
  }
}

void WorkerPool::drainEnded(int index, const std::string& context) {
  // The worker has ended, so whatever it wrote is in the pipe already: take
  // the answer it finished before it ended, without waiting for more.
  WorkerSlot& s = at(index);
  int pending = 0;
  bool complete = false;
  while (!complete) {
    wire::Record record;
    if (receiveResult(s.answer_pipe.get(), false, &record) != Receive::kRecord) break;
    if (record.code == wire::kCount) {
      if (pending != 0 || static_cast<signed char>(record.type) <= 0) break;
      pending = static_cast<signed char>(record.type);
      continue;
    }
    if (pending <= 0) break;
    sink_.recordResult(record.path, record.code, static_cast<char>(record.type), record.message, context);
    s.mark_answered(record.path);
    complete = --pending == 0;
  }
  if (!complete) recordDeath(index, context);
  s.available = true;
  s.clear_request();
}

bool WorkerPool::readResult(int index, const std::string& context, bool ended) {
  WorkerSlot& s = at(index);
  if (!s.has_process() || s.available || !s.answer_pipe.valid() || s.paths.empty()) {
    sink_.runLogNotice(format("refusing to read %ld %ld %ld %ld\n", static_cast<long>(workerPid(index)),
                              static_cast<long>(s.available), static_cast<long>(s.answer_pipe.get()),
                              s.paths.empty() ? 1L : 0L));
    return true;
  }
  if (ended) {
    drainEnded(index, context);
    return true;
  }
  return readAnswer(index, context);
}

bool WorkerPool::waitForTerminated() {
  // Which workers have ended, from one poll over their process descriptors
  // rather than a wait call per worker; a worker without a descriptor is
  // asked directly.
  pollfd fds[kWorkerSlots];
  int index_of[kWorkerSlots];
  nfds_t count = 0;
  bool ask_directly = false;
  for (int i = 0; i < worker_count_; ++i) {
    index_of[i] = -1;
    const WorkerSlot& s = at(i);
    if (!s.has_process()) continue;
    int fd = s.process.exit_fd();
    if (fd < 0) {
      ask_directly = true;
      continue;
    }
    index_of[i] = static_cast<int>(count);
    fds[count++] = {fd, POLLIN, 0};
  }
  if (count > 0) {
    int rc;
    do {
      rc = poll(fds, count, 0);
    } while (rc < 0 && errno == EINTR);
    if (rc < 0) ask_directly = true;  // the wait calls below still find every end
    if (rc == 0 && !ask_directly) return true;
  }
  for (int i = 0; i < worker_count_; ++i) {
    WorkerSlot& s = at(i);
    if (!s.has_process()) continue;
    bool signalled = index_of[i] < 0 || ask_directly || fds[index_of[i]].revents != 0;
    if (!signalled || !s.process.try_wait()) continue;
    readResult(i, "waitForTerminated", true);
    killWorker(i);
  }
  return true;
}

bool WorkerPool::endWorker(int index) {
  WorkerSlot& s = at(index);
  bool reaped = true;
  if (s.has_process()) {
    // Signals the worker's group only while the worker is not reaped.
    s.process.kill_group_and_wait();
    reaped = s.process.reaped();
  }
  s.reset();
  // A batch gathered in this slot can no longer be sent from it.
  if (raw_batch_slot_ == index) raw_batch_slot_ = -1;
  return reaped;
}

void WorkerPool::killWorker(int index) { endWorker(index); }

void WorkerPool::quit() {
  // Every worker is signalled before any is waited for, so that they end
  // together rather than one after another.
  for (int i = 0; i < kWorkerSlots; ++i) {
    if (at(i).has_process()) at(i).process.kill_group();
  }
  for (int i = 0; i < kWorkerSlots; ++i) {
    if (at(i).has_process()) killWorker(i);
  }
  raw_batch_slot_ = -1;
}

bool WorkerPool::finishAllWorkers(bool cancelled_run) {
  bool ok = true;
  for (int i = 0; i < worker_count_; ++i) {
    WorkerSlot& s = at(i);
    if (!s.has_process() || s.paths.empty()) continue;
    // A batch still being gathered was never sent: there is no answer to
    // wait for, and its paths stay in flight.
    bool sent = i != raw_batch_slot_;
    if (sent && !cancelled_run && !cancelled()) {
      // After a failure the later workers are still read and ended, so no
      // answer of this run is left to arrive in the next one.
      if (!readResult(i, "finishAllWorkers", false)) ok = false;
    }
    if (!s.has_process()) continue;  // reading found its end and emptied the slot
    int pid = static_cast<int>(s.process.pid());
    sink_.logLine(format("Waiting for process %d in finishAllWorkers", pid));
    if (!endWorker(i)) {
      sink_.reportSystemError("Error waiting for subprocess in finishAllWorkers", errno);
      ok = false;
    }
  }
  return ok;
}

WorkerPool::Wait WorkerPool::waitForAnswer(std::vector<int>* ready) {
  ready->clear();
  pollfd fds[kWorkerSlots];
  int owners[kWorkerSlots];
  nfds_t count = 0;
  for (int i = 0; i < worker_count_; ++i) {
    const WorkerSlot& s = at(i);
    if (s.busy() && s.answer_pipe.valid()) {
      fds[count] = {s.answer_pipe.get(), POLLIN, 0};
      owners[count++] = i;
    }
  }
  if (count == 0) return Wait::kNoBusyWorker;

  const milliseconds step = config_.timings.poll_step;
  milliseconds budget = long_timeout_ ? config_.timings.long_answer_budget : config_.timings.answer_budget;
  for (;;) {
    if (cancelled()) return Wait::kCancelled;
    int rc = poll(fds, count, static_cast<int>(step.count()));
    if (rc < 0 && errno == EINTR) continue;
    if (rc > 0) {
      // Every ready pipe, in slot order; an end or error counts as ready,
      // since reading it tells what became of the worker.
      for (nfds_t k = 0; k < count; ++k) {
        if (fds[k].revents != 0) ready->push_back(owners[k]);
      }
      if (!ready->empty()) return Wait::kAnswer;
    }
    budget -= step;
    if (budget <= milliseconds(0)) return Wait::kTimeout;
  }
}

bool WorkerPool::pauseUnlessCancelled(milliseconds pause) {
  const milliseconds step = config_.timings.poll_step;
  while (pause > milliseconds(0)) {
    if (cancelled()) return false;
    milliseconds now = pause < step ? pause : step;
    std::this_thread::sleep_for(now);
    pause -= now;
  }
  return !cancelled();
}

WorkerPool::Placement WorkerPool::placeFile(const std::string& path, bool is_raw) {
  auto reap = [&](const char* failure) {
    if (waitForTerminated()) return true;
    sink_.logLine(failure);
    return false;
  };
  auto assign_to = [&](int index) {
    if (assign(index, path, is_raw)) return Placement::kPlaced;
    sink_.logLine("assign returned false");
    return Placement::kFailed;
  };

  int attempt = 0;
  std::vector<int> ready;
  for (;;) {
    if (!reap("waitForTerminated returned false")) return Placement::kFailed;
    // Whether anything between the two reaps below could have let a worker
    // end: a start or a request sent. Otherwise the second would only repeat
    // the first.
    std::vector<int> empty;
    for (int i = 0; i < worker_count_; ++i) {
      if (!at(i).has_process()) empty.push_back(i);
    }
    if (!empty.empty() && !startWorkers(empty)) return Placement::kFailed;
    bool acted = !empty.empty();

    if (is_raw && rawBatchPending()) {
      WorkerSlot& batch = at(raw_batch_slot_);
      if (batch.paths.size() < kRawBatchMax) {
        batch.add_path(path);
        batch.files_assigned += 1;
        if (!reap("waitForTerminated returned false (2)")) return Placement::kFailed;
        return Placement::kPlaced;
      }
      if (!giveWork(raw_batch_slot_)) {
        sink_.reportError("Failed to give work to subprocess", last_error_);
        sink_.logLine("Failed to give work to subprocess");
        return Placement::kFailed;
      }
      acted = true;
    } else if (!is_raw) {
      acted = acted || rawBatchPending();
      if (!flushRawWorker()) {
        sink_.logLine("flushRawWorker returned false");
        return Placement::kFailed;
      }
    }

    if (acted && !reap("waitForTerminated returned false (3)")) return Placement::kFailed;
    for (int i = 0; i < worker_count_; ++i) {
      if (at(i).available) return assign_to(i);
    }

    // Every worker is busy: wait for an answer.
    bool restart = false;
    while (!restart) {
      if (cancelled()) return Placement::kCancelled;
      if (!reap("waitForTerminated returned false (4)")) return Placement::kFailed;
      Wait wait = waitForAnswer(&ready);
      if (wait == Wait::kCancelled) return Placement::kCancelled;
      if (wait == Wait::kNoBusyWorker) break;
      if (wait == Wait::kTimeout) {
        sink_.runLogNotice("timeout\n");
        break;
      }
      if (!reap("waitForTerminated returned false (5)")) return Placement::kFailed;
      // Every answer that has come is taken now, in slot order, so that each
      // worker that has finished gets a file before the next wait; the file
      // goes to the first of them that is free.
      int free_slot = -1;
      for (int index : ready) {
        WorkerSlot& s = at(index);
        if (s.busy() && !readResult(index, kVerify, false)) {
          if (cancelled()) return Placement::kCancelled;
          sink_.logLine("readResult returned false");
          return Placement::kFailed;
        }
        if (free_slot < 0 && s.available) free_slot = index;
      }
      if (free_slot >= 0) return assign_to(free_slot);
      // The workers ended while they answered and their slots are empty:
      // start new ones there and place the file at once.
      restart = true;
    }
    if (restart) continue;

    if (!pauseUnlessCancelled(config_.timings.retry_pause)) return Placement::kCancelled;
    if (++attempt >= config_.timings.placement_attempts) {
      sink_.reportError("Failed to assign work to worker", 0);
      sink_.logLine("Failed to assign work to worker");
      return Placement::kFailed;
    }
  }
}

}  // namespace frontend
