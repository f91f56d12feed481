// Whole-file digests of a run, computed on helper threads while the run
// thread goes on handing files to workers, and compared with the file's
// stored reference.
//
// Threads: one run thread submits jobs and takes the finished ones; the
// pool's own threads (started at the first job of a run, joined by stop())
// only read files and compute. Nothing here touches the database, the run
// log or the counters: the run thread records every outcome itself, so the
// record of a run is written by one thread as before.
//
// Order of use per run: start(), then submit() and take_finished() as the
// run goes, wait_idle() (or a Stop) at the end of the walk, then stop().
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "frontend/core/sha512.h"

namespace frontend {

class DigestPool {
 public:
  using Digest = std::array<uint8_t, kSha512DigestSize>;
  // Computes the digest of the file at path; false when it could not be read
  // or the cancel flag was seen (see hash_file_digest, the default).
  using DigestFunction = std::function<bool(const char* path, uint8_t* digest, const std::atomic<bool>* cancel)>;

  struct Finished {
    std::string path;
    bool matches = false;  // the digest was had and equals the reference
  };

  // cancel is the run's Stop flag: every digest in progress ends at its next
  // piece once it is set, and nothing more is started.
  explicit DigestPool(const std::atomic<bool>& cancel);
  ~DigestPool();
  DigestPool(const DigestPool&) = delete;
  DigestPool& operator=(const DigestPool&) = delete;

  // For tests: replaces how a digest is computed (kept across runs).
  void set_digest_function(DigestFunction function);

  // A run begins: at most threads digests at once (1 to 8), and at most
  // twice that many jobs queued or in progress before submit() waits.
  void start(int threads);
  // Queues the digest of path to be compared with reference. Waits while
  // the queue is full; false (nothing queued) when Stop came meanwhile.
  bool submit(const std::string& path, const Digest& reference);
  // The finished jobs not taken yet, in the order they were submitted: a
  // job is given only once every job submitted before it has been given.
  std::vector<Finished> take_finished();
  // Whether a finished job is waiting (cheap; no lock). It may still wait
  // for an earlier job before take_finished gives it.
  bool has_finished() const { return finished_count_.load(std::memory_order_acquire) > 0; }
  // Waits until a finished job is waiting, at most bound; whether one is.
  bool wait_finished(std::chrono::milliseconds bound);
  // Jobs queued or in progress, not yet finished.
  size_t outstanding() const;
  // Waits until every job has finished or Stop was pressed; false on Stop.
  bool wait_idle();
  // Ends the threads (after their current job) and forgets every job. The
  // next start() begins afresh.
  void stop();

 private:
  struct Job {
    uint64_t sequence;
    std::string path;
    Digest reference;
  };
  void thread_loop();
  bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }

  const std::atomic<bool>& cancel_;
  DigestFunction digest_;
  int threads_wanted_ = 1;
  size_t queue_limit_ = 2;

  mutable std::mutex mutex_;
  std::condition_variable work_ready_;   // a job was queued, or stop
  std::condition_variable job_finished_;  // a job finished (or was dropped)
  std::deque<Job> queue_;
  size_t running_ = 0;
  // Finished jobs by submission number; next_submitted_ numbers the next
  // job, next_taken_ is the one take_finished gives next.
  std::map<uint64_t, Finished> finished_;
  uint64_t next_submitted_ = 0;
  uint64_t next_taken_ = 0;
  std::atomic<size_t> finished_count_{0};
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace frontend
