#include "worker/report.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "util/trace.h"
#include "worker/stderr_gate.h"

ReportHook report_hook = default_report;

void report(bool is_error, const char* where, const char* format, ...) {
  if (report_hook == nullptr) return;
  va_list args;
  va_start(args, format);
  report_hook(is_error, where, format, args);
  va_end(args);
}

void log_report(bool is_error, const char* where, const char* format, va_list args) {
  char text[500];
  vsnprintf(text, sizeof text, format, args);
  log_printf("ImageReader %s in %s: %s \n", is_error ? "Error" : "Warning", where, text);
}

void default_report(bool is_error, const char*, const char* format, va_list args) {
  char text[500];
  vsnprintf(text, sizeof text, format, args);
  if (is_error) exit(1);
}

void stderr_puts(const char* text) {
  if (text != nullptr) stderr_gate_write(text, strlen(text));
}

void stderr_printf(const char* format, ...) {
  char text[1000];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  stderr_puts(text);
}
