// corvex with a failing XMP toolkit start, for the DNG reader's tests: the
// first toolkit start fails, every later one is the real start.
// CORVEX_START_FAULT=false makes the failing start answer false;
// CORVEX_START_FAULT=throw makes it run out of memory.
#include <cstdlib>
#include <cstring>
#include <new>

#include "dng/parse/xmp_toolkit.h"
#include "worker/request_loop.h"

namespace {

xmp_toolkit_start_fn real_start = nullptr;
bool failed_once = false;

bool start_failing_once() {
  if (failed_once) return real_start();
  failed_once = true;
  const char* how = std::getenv("CORVEX_START_FAULT");
  if (how != nullptr && std::strcmp(how, "throw") == 0) throw std::bad_alloc();
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  real_start = exchange_xmp_toolkit_start(start_failing_once);
  worker_main(argc, argv);
}
