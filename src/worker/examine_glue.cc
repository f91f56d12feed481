#include "worker/examine_glue.h"

#include "examine/examiner.h"
#include "examine/tv_ifd.h"

bool examine_tiff_signature_file(FILE* in, const char* path, bool* is_dng) {
  ExaminerContext* context = new_examiner_context(in, print_nothing);
  if (context == nullptr) return false;
  bool ok = examine_file(path, context);
  *is_dng = ok && context->state != nullptr && context->state->first != nullptr && context->state->first->is_dng;
  free_examiner_context(context);
  return ok;
}

// The PSD checker is not linked into this worker yet.
bool check_psd_file(const char*, std::string* message, bool* available) {
  message->clear();
  *available = false;
  return false;
}
