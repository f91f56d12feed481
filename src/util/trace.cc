#include "util/trace.h"

#include <fcntl.h>
#include <locale.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// One lock for the trace and the log: the front end pushes and logs from its
// window thread and its run thread.
std::recursive_mutex& diag_lock() {
  static std::recursive_mutex* lock = new std::recursive_mutex;  // never destroyed: used at exit
  return *lock;
}

TraceRecord* g_records = nullptr;
// Used once each when memory runs out.
TraceRecord g_spare_record;
bool g_spare_record_used = false;
char g_spare_text[100];
bool g_spare_text_used = false;
bool g_exit_registered = false;

char* g_log_path = nullptr;
FILE* g_log_file = nullptr;

constexpr size_t kRecordLineMax = 199;
constexpr size_t kDumpLineMax = 224;

}  // namespace

bool log_enabled = false;

void trace_push(const char* where, const char* file, int line, const char* expression, int err) {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  if (where == nullptr) where = "";
  if (file == nullptr) file = "";
  if (expression == nullptr) expression = "";

  int needed = snprintf(nullptr, 0, "%s [%s:%d] %s", where, file, line, expression);
  const char* text = "?";
  char* owned = needed >= 0 ? static_cast<char*>(malloc(static_cast<size_t>(needed) + 1)) : nullptr;
  if (owned != nullptr) {
    snprintf(owned, static_cast<size_t>(needed) + 1, "%s [%s:%d] %s", where, file, line, expression);
    text = owned;
  } else if (!g_spare_text_used) {
    g_spare_text_used = true;
    snprintf(g_spare_text, sizeof g_spare_text, "%s [%s:%d] %s", where, file, line, expression);
    text = g_spare_text;
  }

  auto* rec = static_cast<TraceRecord*>(malloc(sizeof(TraceRecord)));
  if (rec == nullptr) {
    if (g_spare_record_used) {
      if (owned != nullptr) free(owned);
      return;
    }
    g_spare_record_used = true;
    rec = &g_spare_record;
  }
  rec->next = g_records;
  rec->err = err;
  rec->text = text;
  g_records = rec;

  if (!g_exit_registered) {
    g_exit_registered = true;
    if (atexit(trace_at_exit) != 0) {
      trace_push(where, file, line, "atexit failed", errno);
      trace_dump();
    }
  }
}

void trace_dump() {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  int index = 0;
  for (TraceRecord* rec = g_records; rec != nullptr; rec = rec->next, ++index) {
    if (rec == &g_spare_record) fputs("\t*** Trace may be incomplete ***\n", stderr);
    char record_line[kRecordLineMax + 1];
    if (rec->next == nullptr && rec->err != 0) {
      const char* message;
      if (rec->err == INT_MAX) {
        message = "Internal error (nonstandard)";
      } else {
        message = strerror(rec->err);
        if (message == nullptr || *message == '\0') message = "no message string";
      }
      snprintf(record_line, sizeof record_line, "%s\n\t\t*** %s (%d: \"%s\") ***", rec->text, "?", rec->err,
               message);
    } else {
      snprintf(record_line, sizeof record_line, "%s", rec->text);
    }
    char out[kDumpLineMax + 1];
    snprintf(out, sizeof out, "%s\t%d: %s", index == 0 ? "ERROR:" : "", index, record_line);
    fputs(out, stderr);
    fputs("\n", stderr);
    log_printf("%s", out);
  }
  fflush(stderr);
}

void trace_at_exit() { trace_dump(); }

const TraceRecord* trace_top() {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  return g_records;
}

void trace_clear() {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  while (g_records != nullptr) {
    TraceRecord* rec = g_records;
    g_records = rec->next;
    if (rec->text != g_spare_text && strcmp(rec->text, "?") != 0) free(const_cast<char*>(rec->text));
    if (rec != &g_spare_record) free(rec);
  }
  g_spare_record_used = false;
  g_spare_text_used = false;
}

void log_setup(const char* path) {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  free(g_log_path);
  g_log_path = path != nullptr ? strdup(path) : nullptr;
  log_open();
}

void log_open() {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  if (g_log_file != nullptr || g_log_path == nullptr) return;
  // O_NOFOLLOW: the worker's log lives in the shared /tmp.
  int fd = open(g_log_path, O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
  FILE* f = fd >= 0 ? fdopen(fd, "a+") : nullptr;
  if (f == nullptr) {
    if (fd >= 0) close(fd);
    fprintf(stderr, "Can't open logfile \"%s\"\n", g_log_path);
    return;
  }
  setvbuf(f, nullptr, _IONBF, 0);
  g_log_file = f;
  fputs("\n", f);
  log_printf("Log file %s opened", g_log_path);
}

void log_vprintf(const char* format, va_list args) {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  if (!log_enabled) return;
  log_open();
  if (g_log_file == nullptr) return;

  static locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  char stamp[64] = "";
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) != nullptr) {
    if (c_locale != static_cast<locale_t>(0)) {
      strftime_l(stamp, sizeof stamp, "%Y-%b-%d %X", &local, c_locale);
    } else {
      strftime(stamp, sizeof stamp, "%Y-%b-%d %X", &local);
    }
  }
  fprintf(g_log_file, "%s: ", stamp);
  vfprintf(g_log_file, format, args);
  fputs("\n", g_log_file);
}

void log_printf(const char* format, ...) {
  va_list args;
  va_start(args, format);
  log_vprintf(format, args);
  va_end(args);
}

void log_reset() {
  std::lock_guard<std::recursive_mutex> guard(diag_lock());
  if (g_log_file != nullptr) fclose(g_log_file);
  g_log_file = nullptr;
  free(g_log_path);
  g_log_path = nullptr;
}
