// The container parser with its structure dumps on, as dng_outputs
// --verbose runs it: the dumps read tag values again from a hostile file
// and must stay within it. Each input is parsed twice, quietly and with the
// dumps, and both must end alike (the same DNG code, the same validity):
// the dumps only print. Standard output, where they go, is sent to
// /dev/null.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_tag_dumps.h"

namespace {

struct Outcome {
  int32_t code = 0;
  bool valid = false;
};

Outcome parse(const uint8_t* data, uint32_t size, bool verbose) {
  dng_verbose = verbose;
  Outcome o;
  dng_host host;
  dng_stream stream(data, size);
  dng_info info;
  try {
    info.ReadStructure(host, stream);
    info.FinishParse(host);
    o.valid = info.Validate();
  } catch (const dng_exception& e) {
    o.code = e.Code();
  }
  dng_verbose = false;
  return o;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool quiet = std::freopen("/dev/null", "w", stdout) != nullptr;
  if (!quiet) std::abort();
  if (size > 0xFFFFFFFF) return 0;
  const Outcome plain = parse(data, static_cast<uint32_t>(size), false);
  const Outcome dumped = parse(data, static_cast<uint32_t>(size), true);
  if (plain.code != dumped.code || plain.valid != dumped.valid) std::abort();
  return 0;
}
