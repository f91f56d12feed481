#include "support/comma_locale.h"

#include <clocale>
#include <cstdlib>

namespace testing_support {

namespace {

bool decimal_comma() { return localeconv()->decimal_point[0] == ','; }

}  // namespace

CommaLocale::CommaLocale() {
  const char* previous = setlocale(LC_NUMERIC, nullptr);
  saved_ = previous != nullptr ? previous : "C";
  for (const char* name : {"de_DE.UTF-8", "fr_FR.UTF-8", "de_DE.utf8"}) {
    if (setlocale(LC_NUMERIC, name) != nullptr && decimal_comma()) return;
  }
  // Compiled from the locales package's sources; needs no root.
  const std::string made = folder_.path() + "/de_DE.UTF-8";
  if (system(("localedef -i de_DE -f UTF-8 " + made + " >/dev/null 2>&1").c_str()) < 0) return;
  setenv("LOCPATH", folder_.path().c_str(), 1);
  if (setlocale(LC_NUMERIC, "de_DE.UTF-8") == nullptr || !decimal_comma()) setlocale(LC_NUMERIC, saved_.c_str());
}

CommaLocale::~CommaLocale() {
  setlocale(LC_NUMERIC, saved_.c_str());
  unsetenv("LOCPATH");
}

bool CommaLocale::active() const { return decimal_comma(); }

}  // namespace testing_support
