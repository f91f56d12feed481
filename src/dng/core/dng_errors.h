// DNG error codes, the one exception type of the DNG code, and the printers of
// warning and error lines. Everything here writes to standard error only.
#pragma once

#include <cstdint>

// The closed set of DNG error codes. Any other int32 is a legal code to carry;
// it prints as "Unknown error".
inline constexpr int32_t dng_code_none = 0;
inline constexpr int32_t dng_code_unknown = 100000;
inline constexpr int32_t dng_code_not_implemented = 100001;
inline constexpr int32_t dng_code_silent = 100002;  // already reported by the raiser
inline constexpr int32_t dng_code_canceled = 100003;
inline constexpr int32_t dng_code_host_insufficient = 100004;
inline constexpr int32_t dng_code_memory = 100005;
inline constexpr int32_t dng_code_bad_format = 100006;
inline constexpr int32_t dng_code_matrix_math = 100007;
inline constexpr int32_t dng_code_open_file = 100008;
inline constexpr int32_t dng_code_read_file = 100009;
inline constexpr int32_t dng_code_write_file = 100010;
inline constexpr int32_t dng_code_end_of_file = 100011;

// The message printed when `code` is thrown, or null for the silent codes
// (0, 100002, 100003).
const char* dng_code_message(int32_t code);

// Carries one DNG error code. Thrown by value, caught by reference.
class dng_exception {
 public:
  explicit dng_exception(int32_t code) : code_(code) {}
  virtual ~dng_exception() = default;
  dng_exception(const dng_exception&) = default;
  dng_exception& operator=(const dng_exception&) = default;

  int32_t Code() const { return code_; }

 private:
  int32_t code_;
};

// Prints "*** Error: <message> ***" for codes that have a message, then throws
// dng_exception(code). Out of line so that the loops that call it stay small.
[[noreturn]] void throw_dng_code(int32_t code);

// 100005 for an allocation of `bytes` that failed or was refused: as
// throw_dng_code(100005), and the size is kept for dng_failed_allocation_size.
[[noreturn]] void throw_dng_memory(uint64_t bytes);

// The size of the allocation behind the last 100005 raised on this thread;
// 0 when it was raised without one (or none was raised).
uint64_t dng_failed_allocation_size();

// One warning line "*** Warning: <message> (<detail>) ***"; the parenthesised
// part only when detail is not null. Never throws.
void report_dng_warning(const char* message, const char* detail = nullptr);

// One error line "*** Error: <message> (<detail>) ***". Never throws; the
// caller decides whether to fail.
void report_dng_error(const char* message, const char* detail = nullptr);
