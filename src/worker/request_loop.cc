#include "worker/request_loop.h"

#include <malloc.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/files.h"
#include "platform/process.h"
#include "util/prefs.h"
#include "util/proper.h"
#include "util/trace.h"
#include "util/walker.h"
#include "util/worker_wire.h"
#include "worker/converter.h"
#include "worker/image_reader.h"
#include "worker/report.h"
#include "worker/request.h"
#include "worker/send_result.h"
#include "worker/stderr_gate.h"

namespace {

constexpr const char* kLogPath = "/tmp/QX.txt";
constexpr const char* kReadError = "Error in Corvex reading stdin";
constexpr const char* kOutOfMemory = "Error in Corvex - out of memory";
constexpr const char* kNotIdentified = "Could not open or identify";
// The C library's own starting value.
constexpr int kMapThreshold = 128 * 1024;

[[noreturn]] void exit_after_failed_send() {
  log_printf("SendResult failed (%s) -- exiting\n", platform::errno_text(errno).c_str());
  exit(1);
}

// An 'E' answer naming what was read; the text is cut to fit one record.
void send_error_answer(const std::string& text, const char* message) {
  std::string path = text;
  size_t room = wire::kRecordSize - 4 - strlen(message);
  if (path.size() > room) path.resize(room);
  ResultText result{message, path.c_str(), wire::kError, wire::kTypeLetterUnknown};
  if (!SendAnswer(&result, 1)) {
    exit_after_failed_send();
  }
}

// Whether standard output and standard error are one pipe or file, so that
// diagnostics would land among the result records. A terminal shared by
// both (a person trying the worker by hand) is fine.
bool stdout_is_stderr() {
  struct stat out, err;
  if (fstat(STDOUT_FILENO, &out) != 0 || fstat(STDERR_FILENO, &err) != 0) return false;
  if (out.st_dev != err.st_dev || out.st_ino != err.st_ino) return false;
  return S_ISFIFO(out.st_mode) || S_ISREG(out.st_mode) || S_ISSOCK(out.st_mode);
}

}  // namespace

std::optional<std::string> request_path_extension(const std::string& path) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return std::nullopt;
  auto separator = path.find_last_of("/\\");
  if (separator != std::string::npos && dot < separator) return std::nullopt;
  return path.substr(dot + 1);
}

void check_internal(const char* path) {
  stderr_gate_begin_request();
  auto extension = request_path_extension(path);
  std::unique_ptr<ImageReader> reader(ImageReader::open(extension ? extension->c_str() : nullptr, path));
  if (!reader) {
    stderr_gate_end_request();
    char code = extension ? wire::kInvalid : wire::kSkipped;
    ResultText result{kNotIdentified, path, code, wire::kTypeLetterUnknown};
    if (!SendAnswer(&result, 1)) {
      log_printf("SendResult failed (%s) -- exiting [msg: %s\n", platform::errno_text(errno).c_str(), kNotIdentified);
      exit(1);
    }
    return;
  }
  try {
    char code = reader->Verify() ? wire::kValid : wire::kInvalid;
    stderr_gate_end_request();
    if (reader->forced_code() != 0) code = reader->forced_code();
    int type = reader->type();
    char letter = wire::type_letter(type);
    if (type < -1 || type > 5) log_printf("File type of %s returned unexpected return value\n", path);
    const char* message = reader->message() != nullptr ? reader->message() : "";
    ResultText result{message, path, code, letter};
    if (!SendAnswer(&result, 1)) {
      log_printf("SendResult failed (%s) -- exiting [%c %c %s]\n", platform::errno_text(errno).c_str(), code, letter,
                 path);
      exit(1);
    }
  } catch (...) {
    log_printf("caught exception -- exiting\n");
    exit(1);
  }
}

void request_loop(int fd) {
  RequestInput in(fd);
  Request request;
  for (;;) {
    switch (read_request(in, &request)) {
      case RequestRead::kEndOfInput:
        // The front end closed our input: nothing more will come.
        exit(0);
      case RequestRead::kTruncated:
      case RequestRead::kBadCount:
        // The stream cannot be brought back in step with the requests.
        send_error_answer(request.last_line, kReadError);
        exit(1);
      case RequestRead::kNoPaths:
      case RequestRead::kLineTooLong:
        send_error_answer(request.last_line, kReadError);
        continue;
      case RequestRead::kOutOfMemory:
        send_error_answer(request.last_line, kOutOfMemory);
        continue;
      case RequestRead::kOk:
        // The front end sends one request and waits for its answer, so
        // bytes beyond it mean the request was not what its count said: a
        // path holding a line break was read as two lines.
        if (in.input_waiting()) {
          // No path of this request can be trusted, and the stream cannot
          // be brought back in step with the requests.
          send_error_answer(request.last_line, kReadError);
          exit(1);
        }
        break;
    }
    if (request.mode == wire::kInternalMode) {
      check_internal(request_list.entries.front().path.c_str());
    } else {
      try {
        stderr_gate_begin_request();
        const bool sent = convert_with_external_converter(request.mode.c_str());
        stderr_gate_end_request();
        if (!sent) exit_after_failed_send();
      } catch (...) {
        log_printf("caught exception -- exiting\n");
        exit(1);
      }
    }
  }
}

void worker_main(int argc, char** argv) {
  // A fixed size from which blocks are mapped on their own and given back
  // when freed. Left to itself the C library raises that size after each
  // large block it frees, and keeps later large blocks in its heap: each
  // request would then find less room under the worker's memory limit than
  // the one before, and a file that passed once could fail when checked
  // again.
  mallopt(M_MMAP_THRESHOLD, kMapThreshold);
  stderr_gate_install();
  platform::ignore_sigpipe();
  log_enabled = false;
  log_setup(kLogPath);
  report_hook = log_report;
  walk_set_output_hook(stderr_printf);
  prefs.SetName("Default");

  const char* root = argc > 1 ? argv[1] : nullptr;
  bool ok = root != nullptr && PropInit(root);
  PROPSET* set = nullptr;
  if (ok) {
    set = PropSetOpen("Default");
    if (set == nullptr) {
      // A missing "Default" is made and saved; one that exists but cannot be
      // read is left alone on disk and the built-in defaults serve.
      char* path = get_set_path(kPropCategory, "Default");
      bool exists = path != nullptr && platform::exists(path);
      free(path);
      set = PropSetOpen(nullptr);
      if (set != nullptr && !exists) PropSetRename(set, "Default");  // used even if writing it fails
    }
  }
  if (!ok || set == nullptr) {
    log_printf("PropInit(%s) failed", root != nullptr ? root : "(null)");
    exit(1);
  }
  prefs.SetCurrent(set);

  if (stdout_is_stderr()) {
    log_printf("stdout == stderr\n");
    exit(1);
  }
  request_loop(STDIN_FILENO);
}
