#include "frontend/core/worker_memory_limit.h"

#include "platform/process.h"
#include "util/worker_memory.h"

namespace frontend {

std::optional<uint64_t> workerMemoryLimit(int worker_count) {
#ifdef CORVELLA_WORKERS_UNLIMITED
  (void)worker_count;
  return std::nullopt;
#else
  // A machine that does not say how much memory it has gets the floor.
  return worker_memory::limit_for(platform::physical_memory().value_or(0), worker_count);
#endif
}

std::string workerMemoryLimitLine(const std::optional<uint64_t>& limit) {
  if (!limit) return "Worker memory limit: none\n";
  return "Worker memory limit: " + std::to_string(*limit >> 20) + " MiB each\n";
}

}  // namespace frontend
