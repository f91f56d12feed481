// Runs the front end's printed walk over arbitrary bytes, once in full and
// once stopping after the EXIF directory as the hash key does: it must end,
// format every line it prints, and report success with "OK" or a failure
// with its message.
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "examine/examiner.h"
#include "examine/limits.h"
#include "examine/tv_ifd.h"

namespace {

size_t printed_bytes = 0;

int print_to_buffer(const char* format, ...) {
  char line[4096];
  va_list args;
  va_start(args, format);
  int n = vsnprintf(line, sizeof line, format, args);
  va_end(args);
  if (n > 0) printed_bytes += static_cast<size_t>(n);
  return n;
}

void check(ExaminerContext* context, bool ok) {
  if (context->message == nullptr || context->message[0] == '\0') abort();
  if (ok && strcmp(context->message, "OK") != 0) abort();
  if (context->state != nullptr && context->state->directories > examine_limits::kMaxDirectories) abort();
  if (context->state != nullptr && strlen(context->state->make) > 24) abort();
  if (context->state != nullptr && strlen(context->state->date_time_digitized) > 99) abort();
  if (context->state != nullptr && strlen(context->state->sub_sec_time_digitized) > 19) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  ExaminerContext* context = new_examiner_context(file, print_to_buffer);
  check(context, walk_file("fuzz", context, false));
  check(context, walk_file("fuzz", context, true));
  free_examiner_context(context);
  fclose(file);
  return 0;
}
