// The print callback through which the examiners write their dumps, the
// silent callback the worker uses, and the capture callback of the summary
// mode.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <ctime>

// A printf-style routine that receives every line of a dump.
using PrintFn = int (*)(const char* format, ...);

// Does nothing. The worker's examinations print through it: its standard
// output is the result channel and must carry nothing else.
inline int print_nothing(const char*, ...) { return 0; }

// Formats at most 999 characters and appends them to this thread's capture
// text. The summary mode swaps it in as the print callback while it
// captures one entry's values.
int capture_printf(const char* format, ...) __attribute__((format(printf, 1, 2)));
// The capture text so far ("" when empty), and a way to start it afresh.
const char* capture_text();
void capture_clear();

// snprintf in the "C" locale, whatever locale the program runs in (the Qt
// front end sets the process locale from the environment).
int format_c(char* buffer, size_t size, const char* format, ...) __attribute__((format(printf, 3, 4)));
int vformat_c(char* buffer, size_t size, const char* format, va_list args);

// A time given in seconds since 1970 as UTC with strftime's format, in the
// "C" locale; "" when the time cannot be converted.
void format_utc_time(char* buffer, size_t size, const char* format, time_t seconds);
