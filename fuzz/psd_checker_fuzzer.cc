// Checks arbitrary bytes as a PSD file, once silently (as the worker does)
// and once printing a dump (as the examination window does). Both runs must
// reach the same verdict with the same error text, within 99 characters.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "examine/psd_checker.h"

namespace {

size_t printed = 0;

void print_to_buffer(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) printed += static_cast<size_t>(n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const char* error = nullptr;
  bool silent_ok = verifyPSDMemory(data, size, "fuzz.psd", &error);
  std::string silent_error = error;
  if (silent_error.size() > 99 || silent_ok != silent_error.empty()) abort();

  bool printed_ok;
  {
    PsdPrintScope scope(print_to_buffer);
    printed_ok = verifyPSDMemory(data, size, "fuzz.psd", &error);
  }
  if (printed_ok != silent_ok || silent_error != error) abort();
  return 0;
}
