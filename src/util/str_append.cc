#include "util/str_append.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

char* StrAppend(char** holder, const char* text) {
  if (text == nullptr) text = "";
  if (*holder == nullptr) {
    *holder = static_cast<char*>(malloc(200));
    if (*holder == nullptr) return nullptr;
    (*holder)[0] = '\0';
  }
  size_t old_len = strlen(*holder);
  size_t add_len = strlen(text);
  char* grown = static_cast<char*>(realloc(*holder, old_len + add_len + 1));
  if (grown == nullptr) return nullptr;
  memcpy(grown + old_len, text, add_len + 1);
  *holder = grown;
  return grown;
}

char* StrAppendf(char** holder, const char* format, ...) {
  char text[1000];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return StrAppend(holder, text);
}

std::string StrVFormat(const char* format, va_list args) {
  va_list again;
  va_copy(again, args);
  int n = vsnprintf(nullptr, 0, format, args);
  std::string text;
  if (n > 0) {
    text.assign(static_cast<size_t>(n) + 1, '\0');
    vsnprintf(text.data(), text.size(), format, again);
    text.resize(static_cast<size_t>(n));
  }
  va_end(again);
  return text;
}
