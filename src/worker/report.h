// The worker's diagnostic outlets: the report hook that receives every error
// and warning of the reader classes, and plain writers to standard error.
// Standard output is the result channel and never carries text.
#pragma once

#include <cstdarg>

using ReportHook = void (*)(bool is_error, const char* where, const char* format, va_list args);

// The hook in force; default_report until main installs log_report.
extern ReportHook report_hook;

// Passes a report to report_hook (nothing when none is set).
void report(bool is_error, const char* where, const char* format, ...) __attribute__((format(printf, 3, 4)));
// Writes "ImageReader <Error|Warning> in <where>: <text> " to the log.
void log_report(bool is_error, const char* where, const char* format, va_list args);
// Drops the text; an error ends the process with exit status 1.
void default_report(bool is_error, const char* where, const char* format, va_list args);

void stderr_puts(const char* text);
// Formats at most 999 characters and writes them to standard error.
void stderr_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
