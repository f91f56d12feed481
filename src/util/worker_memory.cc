#include "util/worker_memory.h"

#include <algorithm>

namespace worker_memory {

uint64_t limit_for(uint64_t physical, int workers) {
  const uint64_t count = workers > 0 ? static_cast<uint64_t>(workers) : 1;
  const uint64_t share = physical / kShareDenominator * kShareNumerator / count;
  return std::max(share, kFloor);
}

uint64_t image_cap_for(uint64_t limit) {
  if (limit <= kProgramReserve) return 0;
  return (limit - kProgramReserve) / kStageImagesAtOnce;
}

}  // namespace worker_memory
