#include "dng/core/dng_errors.h"

#include <cstdio>

const char* dng_code_message(int32_t code) {
  switch (code) {
    case dng_code_none:
    case dng_code_silent:
    case dng_code_canceled:
      return nullptr;
    case dng_code_not_implemented:
      return "Not yet implemented";
    case dng_code_host_insufficient:
      return "Host insufficient";
    case dng_code_memory:
      return "Unable to allocate memory";
    case dng_code_bad_format:
      return "File format is invalid";
    case dng_code_matrix_math:
      return "Matrix math error";
    case dng_code_open_file:
      return "Unable to open file";
    case dng_code_read_file:
      return "File read error";
    case dng_code_write_file:
      return "File write error";
    case dng_code_end_of_file:
      return "Unexpected end-of-file";
    default:
      return "Unknown error";
  }
}

namespace {

// The size throw_dng_memory hands to throw_dng_code, and the size of the
// last 100005 raised.
thread_local uint64_t pending_allocation_size = 0;
thread_local uint64_t failed_allocation_size = 0;

}  // namespace

void throw_dng_code(int32_t code) {
  if (code == dng_code_memory) failed_allocation_size = pending_allocation_size;
  pending_allocation_size = 0;
  if (const char* message = dng_code_message(code)) {
    std::fprintf(stderr, "*** Error: %s", message);
    std::fprintf(stderr, " ***\n");
  }
  throw dng_exception(code);
}

void throw_dng_memory(uint64_t bytes) {
  pending_allocation_size = bytes;
  throw_dng_code(dng_code_memory);
}

uint64_t dng_failed_allocation_size() { return failed_allocation_size; }

namespace {

// Each piece of a line is its own write to the (unbuffered) error stream.
void report_tail(const char* detail) {
  if (detail != nullptr) std::fprintf(stderr, " (%s)", detail);
  std::fprintf(stderr, " ***\n");
}

}  // namespace

void report_dng_warning(const char* message, const char* detail) {
  std::fprintf(stderr, "*** Warning: %s", message != nullptr ? message : "");
  report_tail(detail);
}

void report_dng_error(const char* message, const char* detail) {
  std::fprintf(stderr, "*** Error: %s", message != nullptr ? message : "");
  report_tail(detail);
}
