// Runs the structure examiner over bytes held in memory and keeps what it
// printed, for the examiner's tests.
#pragma once

#include "util/str_append.h"

#include <cstdarg>
#include <cstdio>
#include <string>

#include "examine/examiner.h"
#include "examine/tv_ifd.h"

namespace examine_test {

// The text printed by the current examination on this thread.
inline std::string& printed() {
  thread_local std::string text;
  return text;
}

inline int print_to_string(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string piece = StrVFormat(format, args);
  va_end(args);
  printed() += piece;
  return static_cast<int>(piece.size());
}

// One examination of a file image held in memory (the file the examiner
// sees is a memory stream over a copy of the bytes).
class Examination {
 public:
  explicit Examination(std::string bytes, PrintFn print = print_to_string) : bytes_(std::move(bytes)) {
    file_ = bytes_.empty() ? fopen("/dev/null", "rb") : fmemopen(bytes_.data(), bytes_.size(), "rb");
    context_ = new_examiner_context(file_, print);
    printed().clear();
  }
  ~Examination() {
    free_examiner_context(context_);
    if (file_ != nullptr) fclose(file_);
  }
  Examination(const Examination&) = delete;
  Examination& operator=(const Examination&) = delete;

  bool examine() {
    printed().clear();
    return examine_file("image", context_);
  }
  bool walk(bool stop_after_exif = false) {
    printed().clear();
    return walk_file("image", context_, stop_after_exif);
  }
  std::string dump() const { return printed(); }
  std::string message() const { return context_->message; }
  ExaminerState* state() const { return context_->state; }
  TV_IFD* first() const { return context_->state != nullptr ? context_->state->first : nullptr; }
  ExaminerContext* context() const { return context_; }

 private:
  std::string bytes_;
  FILE* file_ = nullptr;
  ExaminerContext* context_ = nullptr;
};

inline bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace examine_test
