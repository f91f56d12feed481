#include "dng/parse/dng_tag_checks.h"

#include <cstdarg>
#include <cstdio>

#include "dng/core/dng_errors.h"
#include "dng/parse/dng_parse_limits.h"
#include "dng/parse/dng_tag_names.h"

namespace {

inline constexpr uint32_t k_photometric_cfa = 32803;
inline constexpr uint32_t k_photometric_linear_raw = 34892;

}  // namespace

void report_formatted_warning(const char* format, ...) {
  char message[dng_message_buffer_size];
  va_list args;
  va_start(args, format);
  std::vsnprintf(message, sizeof message, format, args);
  va_end(args);
  report_dng_warning(message);
}

void report_tag_warning(uint32_t parent, uint32_t tag, const char* tail_format, ...) {
  char message[dng_message_buffer_size];
  // The two names come from separate buffers, so both stay valid here.
  const int used = std::snprintf(message, sizeof message, "%s %s ", parent_ifd_name(parent),
                                 tag_code_name(parent, tag));
  if (used > 0 && static_cast<uint32_t>(used) < sizeof message) {
    va_list args;
    va_start(args, tail_format);
    std::vsnprintf(message + used, sizeof message - used, tail_format, args);
    va_end(args);
  }
  report_dng_warning(message);
}

bool check_tag_type(uint32_t parent, uint32_t tag, uint32_t type, uint32_t type1, uint32_t type2,
                    uint32_t type3, uint32_t type4) {
  if (type == type1 || type == type2 || type == type3 || type == type4) {
    // An unused slot is 0, which is no type: it never matches a real one.
    if (type != 0) return true;
  }
  report_tag_warning(parent, tag, "has unexpected type (%s)", tag_type_name(type));
  return false;
}

bool check_tag_count(uint32_t parent, uint32_t tag, uint32_t count, uint32_t min, uint32_t max) {
  if (max < min) max = min;
  if (count >= min && count <= max) return true;
  report_tag_warning(parent, tag, "has unexpected count (%u)", count);
  return false;
}

bool check_color_planes(uint32_t parent, uint32_t tag, uint32_t planes) {
  if (planes > 1) return true;
  if (planes == 0) {
    report_tag_warning(parent, tag,
                       "is not allowed with unknown color plane count "
                       " (missing ColorMatrix1 tag?)");
  } else {
    report_tag_warning(parent, tag, "is not allowed with monochrome images");
  }
  return false;
}

bool check_main_ifd(uint32_t parent, uint32_t tag, uint32_t new_subfile_type) {
  if (new_subfile_type == 0) return true;
  report_tag_warning(parent, tag, "is not allowed IFDs with NewSubFileType != 0");
  return false;
}

bool check_raw_ifd(uint32_t parent, uint32_t tag, uint32_t photometric) {
  if (photometric == k_photometric_cfa || photometric == k_photometric_linear_raw) return true;
  report_tag_warning(parent, tag,
                     "is not allowed in IFDs with a non-raw PhotometricInterpretation");
  return false;
}

bool check_cfa_ifd(uint32_t parent, uint32_t tag, uint32_t photometric) {
  if (photometric == k_photometric_cfa) return true;
  report_tag_warning(parent, tag,
                     "is not allowed in IFDs with a non-CFA PhotometricInterpretation");
  return false;
}
