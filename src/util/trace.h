// Process-wide diagnostics: the error trace (a stack of failure records
// written to standard error when the process exits) and the time-stamped
// log file. Both are safe to call from any thread.
#pragma once

#include <cstdarg>

// One failure record; the list runs from the newest to the oldest.
struct TraceRecord {
  TraceRecord* next;
  int err;           // errno when the record was pushed
  const char* text;  // "where [file:line] expression"
};

// Pushes a failure record. The first push registers trace_at_exit.
void trace_push(const char* where, const char* file, int line, const char* expression, int err);
// Writes every record to standard error and to the log, newest first.
void trace_dump();
// The exit-time routine: runs trace_dump.
void trace_at_exit();
// The newest record, for callers (and tests) that inspect the trace.
const TraceRecord* trace_top();
// Drops every record (tests use it between cases).
void trace_clear();

// The logging switch: off at start. Programs set it directly.
extern bool log_enabled;

// Sets the log path and opens the file.
void log_setup(const char* path);
// Opens the log file once; reports on standard error when it cannot.
void log_open();
// Appends "<%Y-%b-%d %X>: <text>\n" while logging is on. The stamp is in the
// C locale whatever locale the program runs in.
void log_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_vprintf(const char* format, va_list args);
// Closes the log file and forgets its path (tests use it between cases).
void log_reset();
