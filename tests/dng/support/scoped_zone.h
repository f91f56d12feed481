// Sets TZ for the life of the object and restores the previous value, so
// tests of local times and zones do not depend on the machine's zone.
#pragma once

#include <cstdlib>
#include <ctime>
#include <string>

class ScopedZone {
 public:
  explicit ScopedZone(const char* zone) {
    const char* previous = std::getenv("TZ");
    had_ = previous != nullptr;
    if (had_) saved_ = previous;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ScopedZone() {
    if (had_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  bool had_ = false;
  std::string saved_;
};
