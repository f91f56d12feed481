// A scoped processor-time timer for the DNG pipeline's stages.
#pragma once

#include <ctime>

// Reads the processor-time clock when made and prints
// "<label>: <seconds> sec" (two decimals) to standard error when destroyed,
// also while an exception passes. The label is not copied: it must outlive
// the stopwatch (a literal in practice).
class dng_stopwatch {
 public:
  explicit dng_stopwatch(const char* label);
  ~dng_stopwatch();
  dng_stopwatch(const dng_stopwatch&) = delete;
  dng_stopwatch& operator=(const dng_stopwatch&) = delete;

  // Seconds of processor time since construction.
  double Elapsed() const;

 private:
  const char* label_;
  std::clock_t start_;
};
