// The DNG container parser over arbitrary bytes in a memory stream:
// ReadStructure, FinishParse and Validate, as the DNG check runs them. Any
// outcome is fine except a crash, a hang, a non-DNG exception or a huge
// allocation; whatever the parse produced is then asked for its geometry,
// which must answer without overflow.
#include <cstdint>
#include <cstdlib>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 0xFFFFFFFF) return 0;
  dng_host host;
  dng_stream stream(data, static_cast<uint32_t>(size));
  dng_info info;
  try {
    info.ReadStructure(host, stream);
    info.FinishParse(host);
    info.Validate();
  } catch (const dng_exception&) {
  }
  for (uint32_t i = 0; i < info.ifd_count; ++i) {
    const dng_ifd* ifd = info.ifd[i].get();
    if (ifd == nullptr) continue;
    uint64_t rows = ifd->TileRows(), columns = ifd->TileColumns();
    if (rows != 0 && columns != 0) {
      dng_tile_bounds last = ifd->TileBounds(rows - 1, columns - 1);
      if (last.top > last.bottom || last.left > last.right) std::abort();
    }
    (void)ifd->TileCount();
    (void)ifd->UncompressedTileBytes(ifd->active_area);
  }
  return 0;
}
