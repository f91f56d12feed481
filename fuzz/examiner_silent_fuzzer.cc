// Runs the worker's silent examination over arbitrary bytes: it must end,
// and report either success with "OK" or a failure with its message.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "examine/examiner.h"
#include "examine/tv_ifd.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  FILE* file = fmemopen(const_cast<uint8_t*>(data), size, "rb");
  if (file == nullptr) return 0;
  ExaminerContext* context = new_examiner_context(file, print_nothing);
  bool ok = examine_file("fuzz", context);
  if (context->message == nullptr || context->message[0] == '\0') abort();
  if (ok && (strcmp(context->message, "OK") != 0 || context->state->first == nullptr)) abort();
  // A second examination on the same context replaces the first.
  examine_file("fuzz", context);
  free_examiner_context(context);
  fclose(file);
  return 0;
}
