// The whole DNG validation on one file: the input is written to a temporary
// file and validated with the XMP toolkit started and stopped around it, as
// the worker does for each DNG file. Any result code is fine; a crash, a
// hang, a leak or an exception escaping is a finding. Images are capped at
// 16 MB so that hostile sizes fail fast.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dng_file_input.h"
#include "dng/core/dng_limits.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"

namespace {

const std::string& scratch_path() {
  static const std::string path = [] {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/dng_validate_XXXXXX";
    int fd = mkstemp(templ.data());
    if (fd < 0) std::abort();
    close(fd);
    std::atexit([] { unlink(scratch_path().c_str()); });
    return templ;
  }();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::cap_dng_images();
  const std::string& path = scratch_path();
  fuzz_support::write_dng_input(path, data, size);

  fuzz_support::validate_with_toolkit(path);
  return 0;
}
