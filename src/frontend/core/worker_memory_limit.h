// The memory limit the front end gives each worker of a run: a share of the
// machine's physical memory for each of the run's workers, never less than
// one large DNG needs (util/worker_memory.h).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace frontend {

// The address-space limit of each worker of a run with worker_count
// workers; nothing in sanitizer builds, whose workers reserve more address
// space than any limit would leave them.
std::optional<uint64_t> workerMemoryLimit(int worker_count);

// The run-log line that names the limit: "Worker memory limit: N MiB
// each\n", or "Worker memory limit: none\n".
std::string workerMemoryLimitLine(const std::optional<uint64_t>& limit);

}  // namespace frontend
