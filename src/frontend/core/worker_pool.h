// The pool of worker processes that check image structure: up to eight
// corvex processes, each on a pair of pipes, kept alive across runs.
//
// A worker is started with the property root as its only argument, its
// standard input and output on pipes and its standard error on its slot's
// capture file. A request names one path ("internal" mode) or a batch
// of up to 10 camera raw paths for the DNG converter (the mode line is the
// converter's path); each answer is read as result records and handed to
// result recording through the PoolSink.
//
// Threads: during a run only the run thread calls the pool; quit() is called
// by the window's thread when no run is in progress. The cancel flag is the
// only thing another thread writes; every wait looks at it between steps of
// poll_step, so a Stop is seen within one step.
//
// Order of use per run: beginRun(), then placeFile() for each file that
// needs a worker, flushRawWorker() after the last file, finishAllWorkers().
// Idle workers stay up between runs; quit() (or the destructor) ends them.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frontend/core/pool_sink.h"
#include "frontend/core/worker_slot.h"
#include "platform/process.h"
#include "util/worker_wire.h"

namespace frontend {

inline constexpr int kWorkerSlots = 8;
// Raw files gathered into one converter request.
inline constexpr size_t kRawBatchMax = 10;

// A worker count as a run uses it: 1 to 8 whatever the setting said (a
// setting that was not a number reads as 0 and gives 1).
int clampWorkerCount(long requested);

// The worker program, as a full path: corvex beside the running executable,
// else in the current folder, else in "../release" from it. When none of
// these exists, the path beside the executable (the place a build or an
// installation puts it), so that the failure to start it names where it
// was looked for.
std::string findWorkerProgram();
// The same search from a given program folder (none when unknown) and
// current folder.
std::string findWorkerProgramFrom(const std::optional<std::string>& program_folder, const std::string& current);

// Opens (creating or truncating) a run's capture file for the workers'
// standard error, appending so that idle workers of earlier runs, which still
// hold the file, add to its end. /dev/null when the file cannot be created.
platform::Fd openCaptureFile(const std::string& path);
// Each worker slot writes its standard error into a capture file of its own,
// so that the lines of workers running side by side are never mixed: the
// run's capture path with "-<slot>" before its extension
// (CorvellaLogStderr-0.txt). Empty when the run's capture path is empty.
std::string slotCapturePath(const std::string& capture_path, int slot);

struct PoolConfig {
  std::string program;        // the worker executable
  std::string property_root;  // the worker's only argument
  PoolTimings timings;
};

// What one run tells the pool.
struct PoolRun {
  long worker_count = kWorkerSlots;  // clamped to 1..8
  std::string capture_path;          // names the slots' capture files; empty gives /dev/null
  std::string converter_path;        // the mode line of raw batches
};

class WorkerPool {
 public:
  // How handing a file to a worker ended.
  enum class Placement {
    kPlaced,     // the file is with a worker (or in the raw batch being gathered)
    kFailed,     // an error was reported; the walk stops
    kCancelled,  // Stop was pressed; the caller shows its cancel message
  };
  // What waiting for an answer found.
  enum class Wait { kAnswer, kNoBusyWorker, kTimeout, kCancelled };

  // Ignores SIGPIPE for the process (a worker that died must give a write
  // error, not end the front end).
  WorkerPool(PoolConfig config, PoolSink& sink, const std::atomic<bool>& cancel);
  // Ends every worker (quit()).
  ~WorkerPool();
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Takes the run's worker count and converter path, and makes the capture
  // file of each slot the run uses anew (empty, so that it holds this run's
  // lines only). An idle worker of an earlier run still holds its slot's
  // file and appends to it; a worker started now gets it too.
  // memory_limit is the address-space limit of every worker during the run,
  // also of idle workers kept from earlier runs; nothing leaves them
  // unlimited.
  void beginRun(const PoolRun& run, std::optional<uint64_t> memory_limit = std::nullopt);
  // Closes the pool's own descriptors of the capture files once the run's
  // workers have all been started (the workers keep theirs).
  void closeCaptureFiles();

  // Hands one file to a worker: reaps workers that ended, starts a worker in
  // every empty slot of the run, adds a raw file to the gathered batch (or
  // sends a full batch first), sends the pending batch before a file that is
  // not raw, and gives the file to the first idle worker, waiting for an
  // answer while every worker is busy.
  Placement placeFile(const std::string& path, bool is_raw);

  // The pool's operations, in the terms the rest of the front end uses.
  bool startWorker(int slot);
  bool giveWork(int slot);
  bool flushRawWorker();
  bool assign(int slot, const std::string& path, bool is_raw);
  bool readResult(int slot, const std::string& context, bool ended);
  bool waitForTerminated();
  bool finishAllWorkers(bool cancelled);
  void killWorker(int slot);
  // Ends the worker of every slot that holds one, whatever the run's count.
  void quit();

  // Waits until a busy worker's answer pipe is readable (an answer, or its
  // end); every such slot, in slot order, goes into *ready.
  Wait waitForAnswer(std::vector<int>* ready);

  // State, for the run and for tests.
  int workerCount() const { return worker_count_; }
  bool rawBatchPending() const { return raw_batch_slot_ >= 0; }
  int rawBatchSlot() const { return raw_batch_slot_; }
  bool longTimeout() const { return long_timeout_; }
  const WorkerSlot& slot(int index) const { return slots_.at(static_cast<size_t>(index)); }
  // The slot's worker process id, 0 when it has none.
  pid_t workerPid(int index) const;

 private:
  enum class Receive { kRecord, kEnd, kReadError, kInvalid, kCancelled, kNothingWaiting };
  enum class Send { kSent, kWorkerGone, kFailed };

  // How starting a worker went, before anything is reported.
  struct Launch {
    enum Outcome { kStarted, kNoPipes, kNoProcess };
    Outcome outcome = kStarted;
    int err = 0;
  };
  // Makes the pipes and starts the worker of an empty slot, reporting
  // nothing and touching no other slot.
  Launch launchWorker(int slot);
  // Reports a failed launch as startWorker does, and empties the slot.
  bool reportLaunch(int slot, const Launch& launch);
  // Gives the slot's worker the run's memory limit. The limit is set just
  // after the worker has started, before any request is written to it, so
  // every check it makes runs under it.
  void limitWorkerMemory(int slot);
  // Starts a worker in each of the given empty slots, in slot order; false
  // after reporting the first failure, with the slots after it left empty.
  bool startWorkers(const std::vector<int>& empty);
  Send sendRequest(int slot);
  Receive receiveResult(int fd, bool wait, wire::Record* record);
  bool readAnswer(int slot, const std::string& context);
  void drainEnded(int slot, const std::string& context);
  void recordDeath(int slot, const std::string& context);
  // Ends the slot's worker (and what it started) and empties the slot; false
  // when the worker could not be reaped.
  bool endWorker(int slot);
  bool pauseUnlessCancelled(std::chrono::milliseconds pause);
  bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }
  WorkerSlot& at(int index) { return slots_[static_cast<size_t>(index)]; }
  platform::Fd& at_capture(int index) { return capture_[static_cast<size_t>(index)]; }

  PoolConfig config_;
  PoolSink& sink_;
  const std::atomic<bool>& cancel_;
  std::array<WorkerSlot, kWorkerSlots> slots_;
  int worker_count_ = kWorkerSlots;
  // The run's capture file of each slot below the worker count.
  std::array<platform::Fd, kWorkerSlots> capture_;
  std::string converter_path_;
  std::optional<uint64_t> memory_limit_;
  // The slot gathering raw files, -1 for none.
  int raw_batch_slot_ = -1;
  // Set when a raw batch is opened; never cleared (converter runs are slow).
  bool long_timeout_ = false;
  // errno of the last failed send or read, for the error that reports it.
  int last_error_ = 0;
};

}  // namespace frontend
