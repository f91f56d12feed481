// Stand-ins for the negative's rendering and writing operations, for
// programs built without the rendering library: each raises 100000. The
// rendering library defines the real bodies, which the linker prefers.
#include "dng/core/dng_errors.h"
#include "dng/parse/dng_negative.h"

__attribute__((weak)) std::unique_ptr<dng_color_spec> dng_negative::NewColorSpec() const {
  throw_dng_code(dng_code_unknown);
}

__attribute__((weak)) std::unique_ptr<dng_memory_block> dng_negative::MakeExifTiffBlock(
    const dng_pixel_density* /*resolution*/, bool /*include_iptc*/) const {
  throw_dng_code(dng_code_unknown);
}
