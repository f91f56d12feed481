// DigestPool: hashing threads fed by the run thread.
#include "frontend/core/digest_pool.h"

#include <cstring>

#include "frontend/core/hash_key.h"

namespace frontend {

namespace {

// How often a wait of the run thread looks at the Stop flag, which is set
// without waking anyone.
constexpr std::chrono::milliseconds kCancelLook{20};
constexpr int kMaxThreads = 8;

}  // namespace

DigestPool::DigestPool(const std::atomic<bool>& cancel)
    : cancel_(cancel),
      digest_([](const char* path, uint8_t* digest, const std::atomic<bool>* flag) {
        return hash_file_digest(path, digest, flag);
      }) {}

DigestPool::~DigestPool() { stop(); }

void DigestPool::set_digest_function(DigestFunction function) { digest_ = std::move(function); }

void DigestPool::start(int threads) {
  stop();
  if (threads < 1) threads = 1;
  if (threads > kMaxThreads) threads = kMaxThreads;
  threads_wanted_ = threads;
  queue_limit_ = 2 * static_cast<size_t>(threads);
}

bool DigestPool::submit(const std::string& path, const Digest& reference) {
  std::unique_lock<std::mutex> lock(mutex_);
  // Threads are started with the first job, so a run without hash checks
  // starts none.
  if (threads_.empty()) {
    stopping_ = false;
    for (int i = 0; i < threads_wanted_; ++i) threads_.emplace_back([this] { thread_loop(); });
  }
  while (queue_.size() + running_ >= queue_limit_) {
    if (cancelled()) return false;
    job_finished_.wait_for(lock, kCancelLook);
  }
  if (cancelled()) return false;
  queue_.push_back(Job{next_submitted_++, path, reference});
  work_ready_.notify_one();
  return true;
}

std::vector<DigestPool::Finished> DigestPool::take_finished() {
  std::vector<Finished> done;
  if (!has_finished()) return done;
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto next = finished_.begin(); next != finished_.end() && next->first == next_taken_;
       next = finished_.erase(next)) {
    done.push_back(std::move(next->second));
    ++next_taken_;
  }
  finished_count_.store(finished_.size(), std::memory_order_release);
  return done;
}

size_t DigestPool::outstanding() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size() + running_;
}

bool DigestPool::wait_finished(std::chrono::milliseconds bound) {
  std::unique_lock<std::mutex> lock(mutex_);
  return job_finished_.wait_for(lock, bound, [this] { return !finished_.empty(); });
}

bool DigestPool::wait_idle() {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!queue_.empty() || running_ > 0) {
    if (cancelled()) return false;
    job_finished_.wait_for(lock, kCancelLook);
  }
  return !cancelled();
}

void DigestPool::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
    work_ready_.notify_all();
  }
  for (std::thread& t : threads_) t.join();
  threads_.clear();
  std::lock_guard<std::mutex> lock(mutex_);
  finished_.clear();
  finished_count_.store(0, std::memory_order_release);
  next_submitted_ = 0;
  next_taken_ = 0;
  running_ = 0;
  stopping_ = false;
}

void DigestPool::thread_loop() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    work_ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    Job job = std::move(queue_.front());
    queue_.pop_front();
    ++running_;
    lock.unlock();

    Finished outcome;
    outcome.path = std::move(job.path);
    if (!cancelled()) {
      Digest digest{};
      bool read = digest_(outcome.path.c_str(), digest.data(), &cancel_);
      // A file that could not be read has an all-zero digest, which fails
      // the comparison as it always has.
      (void)read;
      outcome.matches = std::memcmp(digest.data(), job.reference.data(), digest.size()) == 0;
    }

    lock.lock();
    --running_;
    finished_.emplace(job.sequence, std::move(outcome));
    finished_count_.store(finished_.size(), std::memory_order_release);
    job_finished_.notify_all();
  }
}

}  // namespace frontend
