#include "examine/print_hook.h"

#include <locale.h>

#include <cstdio>
#include <cstdlib>

#include "util/str_append.h"

namespace {

locale_t c_locale() {
  static locale_t locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return locale;
}

struct CaptureText {
  char* text = nullptr;
  ~CaptureText() { free(text); }
};

thread_local CaptureText capture;

}  // namespace

int vformat_c(char* buffer, size_t size, const char* format, va_list args) {
  locale_t c = c_locale();
  locale_t old = static_cast<locale_t>(0);
  if (c != static_cast<locale_t>(0)) old = uselocale(c);
  int n = vsnprintf(buffer, size, format, args);
  if (old != static_cast<locale_t>(0)) uselocale(old);
  return n;
}

int format_c(char* buffer, size_t size, const char* format, ...) {
  va_list args;
  va_start(args, format);
  int n = vformat_c(buffer, size, format, args);
  va_end(args);
  return n;
}

void format_utc_time(char* buffer, size_t size, const char* format, time_t seconds) {
  if (size == 0) return;
  buffer[0] = '\0';
  struct tm utc;
  if (gmtime_r(&seconds, &utc) == nullptr) return;
  locale_t c = c_locale();
  size_t n = c != static_cast<locale_t>(0) ? strftime_l(buffer, size, format, &utc, c)
                                            : strftime(buffer, size, format, &utc);
  if (n == 0) buffer[0] = '\0';
}

int capture_printf(const char* format, ...) {
  char text[1000];
  va_list args;
  va_start(args, format);
  int n = vformat_c(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) return n;
  StrAppend(&capture.text, text);
  return n;
}

const char* capture_text() { return capture.text != nullptr ? capture.text : ""; }

void capture_clear() {
  free(capture.text);
  capture.text = nullptr;
}
