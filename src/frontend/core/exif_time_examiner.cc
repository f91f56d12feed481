// ExaminerExifTimeSource over the structure examiner's walk_file.
#include <cstdio>

#include "frontend/core/exif_time.h"

#include "examine/examiner.h"

namespace frontend {

ExaminerExifTimeSource::~ExaminerExifTimeSource() {
  if (context_ != nullptr) {
    std::lock_guard<std::mutex> lock(examiner_mutex());
    free_examiner_context(context_);
  }
}

bool ExaminerExifTimeSource::exif_time_text(const char* path, std::string* out) {
  out->clear();
  std::lock_guard<std::mutex> lock(examiner_mutex());
  if (context_ == nullptr) {
    context_ = new_examiner_context(nullptr, print_nothing);
    // The walk runs for every file a run hashes: it says nothing, not even
    // that a maker note is of a kind the decoders do not know.
    context_->maker_note_warnings = false;
  }
  bool ok = walk_file(path, context_, true);
  if (ok && context_->state != nullptr) {
    const ExaminerState& state = *context_->state;
    *out = compose_exif_time(state.date_time_digitized, state.sub_sec_time_digitized, state.date_time);
  }
  // The examiner opened the file itself; it is not needed after the walk.
  if (context_->owns_file && context_->file != nullptr) {
    fclose(context_->file);
    context_->file = nullptr;
    context_->owns_file = false;
  }
  return ok;
}

}  // namespace frontend
