// The Image Examination window's text, printed by the examiners through a
// hook that collects it.
#include "frontend/core/examine_text.h"

#include <cstdarg>
#include <memory>
#include <mutex>

#include "examine/examiner.h"
#include "examine/print_hook.h"
#include "examine/psd_checker.h"
#include "frontend/core/exif_time.h"

namespace frontend {

namespace {

// Where the print hooks collect the dump; set only while examiner_mutex()
// is held.
std::string* collecting = nullptr;

void collect(const char* format, va_list args) {
  char buffer[kExaminePrintMax + 1];
  vformat_c(buffer, sizeof buffer, format, args);
  if (collecting != nullptr) collecting->append(buffer);
}

// The structure examiner's print callback.
int examinePrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  collect(format, args);
  va_end(args);
  return 0;
}

// The PSD checker's print hook.
void examinePsdPrintf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  collect(format, args);
  va_end(args);
}

void print_failure(const char* message) {
  examinePrintf(kExamineErrorFormat, message != nullptr ? message : "");
  examinePrintf("%s", kExamineMayBeOk);
}

// Points the hooks at a text for the life of the object.
class Collecting {
 public:
  explicit Collecting(std::string* text) { collecting = text; }
  ~Collecting() { collecting = nullptr; }
  Collecting(const Collecting&) = delete;
  Collecting& operator=(const Collecting&) = delete;
};

struct ContextDeleter {
  void operator()(ExaminerContext* context) const { free_examiner_context(context); }
};

}  // namespace

bool is_psd_path(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  std::string extension = path.substr(dot);
  if (extension.size() != 4) return false;
  static constexpr char kPsd[] = ".psd";
  for (size_t i = 0; i < 4; ++i) {
    char c = extension[i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != kPsd[i]) return false;
  }
  return true;
}

std::string examine_dump(const std::string& path) {
  std::string dump;
  std::lock_guard<std::mutex> lock(examiner_mutex());
  Collecting collect_into(&dump);
  if (!is_psd_path(path)) {
    std::unique_ptr<ExaminerContext, ContextDeleter> context(new_examiner_context(nullptr, examinePrintf));
    if (walk_file(path.c_str(), context.get(), false)) {
      examinePrintf("%s", kExamineNotVerified);
    } else {
      print_failure(context->message);
    }
  } else {
    PsdPrintScope scope(examinePsdPrintf);
    const char* error = nullptr;
    // A PSD file that cannot be opened or is damaged ends its dump with the
    // same error line and note as any other file.
    if (!verifyPSD(path.c_str(), &error)) print_failure(error);
  }
  return dump;
}

std::string examine_window_text(const std::string& dump) {
  std::string text;
  text.reserve(dump.size() + dump.size() / 16);
  for (char c : dump) {
    if (c == '\n') text += '\r';
    text += c;
  }
  return text;
}

std::string ExamineFile(const std::string& path) { return examine_window_text(examine_dump(path)); }

}  // namespace frontend
