// The toolkit's one process-wide recursive lock and its scoped holder.
#pragma once

#include <mutex>

// Guards all toolkit state: registries, metadata objects, the serialised
// packet and the work texts. It exists for the whole process (made on first
// use, never destroyed), so a holder that outlives toolkit shutdown, or a
// lock left entered by a "held" call, is never undefined behaviour.
std::recursive_mutex& CoreLock();

// Enters CoreLock when made and leaves it once when released or destroyed
// (also while an exception passes) unless it was detached first. A detached
// guard leaves the lock entered for the caller, who must leave it later on
// the same thread (XMPMeta::ReleaseLock and friends).
class CoreLockGuard {
 public:
  CoreLockGuard() : lock_(CoreLock()) {}
  CoreLockGuard(const CoreLockGuard&) = delete;
  CoreLockGuard& operator=(const CoreLockGuard&) = delete;
  ~CoreLockGuard() { Release(); }

  // Leaves the lock now; later releases do nothing.
  void Release() {
    if (lock_.owns_lock()) lock_.unlock();
  }
  // Keeps the lock entered past the guard's end.
  void Detach() { lock_.release(); }
  bool Holds() const { return lock_.owns_lock(); }

 private:
  std::unique_lock<std::recursive_mutex> lock_;
};
