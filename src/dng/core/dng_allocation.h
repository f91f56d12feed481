// Turns std::bad_alloc from the global allocation operators into DNG error
// 100005 at every allocation site of the DNG code, so exhaustion is reported
// as the transient "Unable to allocate memory" and never as an unknown error.
#pragma once

#include <memory>
#include <new>
#include <utility>

#include "dng/core/dng_errors.h"

// Runs f(); a std::bad_alloc thrown by it becomes throw_dng_code(100005).
template <class F>
decltype(auto) with_dng_allocation(F&& f) {
  try {
    return std::forward<F>(f)();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

// new T(args...), with allocation failure as 100005.
template <class T, class... Args>
T* dng_new(Args&&... args) {
  return with_dng_allocation([&] { return new T(std::forward<Args>(args)...); });
}

// std::make_unique<T>(args...), with allocation failure as 100005.
template <class T, class... Args>
std::unique_ptr<T> dng_make_unique(Args&&... args) {
  return std::unique_ptr<T>(dng_new<T>(std::forward<Args>(args)...));
}
