// corvex that runs out of memory on large allocations, for the DNG reader's
// tests: with CORVEX_FAIL_BLOCKS_FROM=N every memory block (image, stream
// page, table) of N bytes or more fails; with CORVEX_FAIL_NEW_FROM=N every
// operator new of N bytes or more fails while the XMP toolkit is up (each
// toolkit stop puts malloc back, each start puts the failing hook in).
#include <cstdint>
#include <cstdlib>

#include "dng/core/dng_memory_block.h"
#include "dng/parse/xmp_toolkit.h"
#include "worker/request_loop.h"
#include "xmp/allocation_hooks.h"

namespace {

uint64_t blocks_from = 0;
uint64_t new_from = 0;
xmp_toolkit_start_fn real_start = nullptr;

uint64_t size_from_environment(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr ? std::strtoull(text, nullptr, 10) : 0;
}

void* failing_block_malloc(size_t bytes) { return bytes >= blocks_from ? nullptr : std::malloc(bytes); }

void* failing_new(size_t bytes) { return bytes >= new_from ? nullptr : std::malloc(bytes); }

bool start_with_failing_new() {
  if (!real_start()) return false;
  AllocateHook = failing_new;
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  blocks_from = size_from_environment("CORVEX_FAIL_BLOCKS_FROM");
  new_from = size_from_environment("CORVEX_FAIL_NEW_FROM");
  if (blocks_from != 0) exchange_dng_raw_malloc(failing_block_malloc);
  if (new_from != 0) real_start = exchange_xmp_toolkit_start(start_with_failing_new);
  worker_main(argc, argv);
}
