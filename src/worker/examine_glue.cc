#include "worker/examine_glue.h"

#include "examine/examiner.h"
#include "examine/psd_checker.h"
#include "examine/tv_ifd.h"

bool examine_tiff_signature_file(FILE* in, const char* path, bool* is_dng) {
  ExaminerContext* context = new_examiner_context(in, print_nothing);
  if (context == nullptr) return false;
  bool ok = examine_file(path, context);
  *is_dng = ok && context->state != nullptr && context->state->first != nullptr && context->state->first->is_dng;
  free_examiner_context(context);
  return ok;
}

bool check_psd_file(const char* path, std::string* message) {
  const char* error = "";
  bool valid = verifyPSD(path, &error);  // silent: psd_print stays psd_print_nothing
  *message = error != nullptr ? error : "";
  return valid;
}
