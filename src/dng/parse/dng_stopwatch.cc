#include "dng/parse/dng_stopwatch.h"

#include <cstdio>

dng_stopwatch::dng_stopwatch(const char* label) : label_(label), start_(std::clock()) {}

dng_stopwatch::~dng_stopwatch() { std::fprintf(stderr, "%s: %0.2f sec\n", label_, Elapsed()); }

double dng_stopwatch::Elapsed() const {
  const std::clock_t now = std::clock();
  // clock() answers -1 when processor time is unavailable; report 0 then.
  if (now == static_cast<std::clock_t>(-1) || start_ == static_cast<std::clock_t>(-1) || now < start_) return 0.0;
  return static_cast<double>(now - start_) / CLOCKS_PER_SEC;
}
