// The growing heap string both programs build texts with.
#pragma once

#include <cstdarg>
#include <string>

// Appends text (absent counts as "") to the malloc'd string held by *holder.
// An empty holder first gets a 200-byte block holding "". Gives the grown
// string, or nullptr when memory runs out (the holder then keeps whatever
// the failed reallocation left, which the caller still frees).
char* StrAppend(char** holder, const char* text);

// Formats at most 999 characters and appends them with StrAppend.
char* StrAppendf(char** holder, const char* format, ...) __attribute__((format(printf, 2, 3)));

// printf-style formatting into a string of whatever length it needs (zero
// bytes the arguments produce are kept).
std::string StrVFormat(const char* format, va_list args);
