// A mutual-exclusion lock with a scoped guard, and the one lock that guards
// the C library's time conversions.
#pragma once

#include <mutex>

// Owns one lock. Neither copyable nor movable.
class dng_critical_section {
 public:
  dng_critical_section() = default;
  dng_critical_section(const dng_critical_section&) = delete;
  dng_critical_section& operator=(const dng_critical_section&) = delete;

  void Enter() { mutex_.lock(); }
  void Leave() { mutex_.unlock(); }

 private:
  std::mutex mutex_;
};

// Enters the section (when not null) for its own lifetime.
class dng_critical_section_guard {
 public:
  explicit dng_critical_section_guard(dng_critical_section* section) : section_(section) {
    if (section_ != nullptr) section_->Enter();
  }
  ~dng_critical_section_guard() {
    if (section_ != nullptr) section_->Leave();
  }
  dng_critical_section_guard(const dng_critical_section_guard&) = delete;
  dng_critical_section_guard& operator=(const dng_critical_section_guard&) = delete;

 private:
  dng_critical_section* section_;
};

// The lock around the local-time and UTC conversions; made on first use and
// never destroyed, so it is usable during static initialisation and at exit.
dng_critical_section& time_conversion_lock();
