// The process-wide time-conversion lock.
#include "dng/core/dng_critical_section.h"

dng_critical_section& time_conversion_lock() {
  static dng_critical_section* lock = new dng_critical_section;
  return *lock;
}
