// The DNG error code an action raises, or 0 when it returns normally.
#pragma once

#include <cstdint>

#include "dng/core/dng_errors.h"

namespace dng_test {

template <class F>
int32_t code_of(F&& action) {
  try {
    action();
  } catch (const dng_exception& e) {
    return e.Code();
  }
  return 0;
}

}  // namespace dng_test
