#include "dng/parse/dng_exif.h"

#include <memory>
#include <new>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_tag_readers.h"

std::unique_ptr<dng_exif> dng_host::NewExif() {
  try {
    return std::make_unique<dng_exif>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

bool dng_exif::ReadTag(dng_stream& stream, dng_shared&, uint32_t parent, bool, uint32_t tag, uint32_t, uint32_t count,
                       uint32_t) {
  if (parent == 0 && tag == 271) {
    read_string_tag(stream, parent, tag, count, make, true, true);
    return true;
  }
  return false;
}

void dng_exif::FinishParse(dng_host&, dng_shared&) {}
