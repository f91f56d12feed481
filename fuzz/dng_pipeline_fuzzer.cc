// The whole raw pipeline on a DNG file in memory: container parse, raw image
// read into stage 1, linearization into stage 2 and interpolation into
// stage 3, as a DNG check runs them.
//
// Input: the file. When its length is a multiple of four, its last byte
// also picks a non-zero target size (16-271), so that the down-scaling
// interpolator runs on files whose cells cover every colour; otherwise the
// target size is 0 and interpolation is at full scale. Stage images are
// capped at 32 MB so that a small file claiming a huge image ends with
// 100005 quickly. Every outcome is a verdict (a code or success); what the
// sanitizers and libFuzzer's limits report is a finding.
#include <cstdint>

#include "dng/core/dng_host.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_stream.h"
#include "support/raw_pipeline.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const uint64_t previous_cap = set_dng_image_memory_cap(uint64_t{32} << 20);
  (void)previous_cap;
  if (size > (uint64_t{4} << 20)) return 0;
  dng_host host;
  if (size % 4 == 0 && size > 0) host.SetTargetSize(16 + data[size - 1]);
  dng_stream stream(data, static_cast<uint32_t>(size));
  (void)testing_support::run_raw_pipeline(host, stream);
  return 0;
}
