// A comma-decimal LC_NUMERIC for the life of the object, so that tests can
// show numbers are written with a point whatever the user's locale. It uses
// an installed locale, or compiles one with localedef into a private folder.
#pragma once

#include <string>

#include "support/temp_folder.h"

namespace testing_support {

class CommaLocale {
 public:
  CommaLocale();
  ~CommaLocale();
  CommaLocale(const CommaLocale&) = delete;
  CommaLocale& operator=(const CommaLocale&) = delete;

  // True while LC_NUMERIC's decimal point is a comma.
  bool active() const;

 private:
  std::string saved_;
  TempFolder folder_;
};

}  // namespace testing_support
