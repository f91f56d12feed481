// The process-lifetime lock of the toolkit.
#include "xmp/core_lock.h"

#include <new>

std::recursive_mutex& CoreLock() {
  // Never destroyed: static destructors may still run toolkit code, and a
  // mutex must not be destroyed while a "held" call keeps it entered.
  alignas(std::recursive_mutex) static unsigned char storage[sizeof(std::recursive_mutex)];
  static std::recursive_mutex* lock = new (storage) std::recursive_mutex;
  return *lock;
}
