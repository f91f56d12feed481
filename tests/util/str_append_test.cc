#include "util/str_append.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

TEST(StrAppend, GrowsFromNothingAndTakesAbsentTextAsEmpty) {
  char* text = nullptr;
  ASSERT_NE(StrAppend(&text, nullptr), nullptr);
  EXPECT_STREQ(text, "");
  StrAppend(&text, "IFD 0");
  StrAppend(&text, ": ");
  std::string big(5000, 'x');
  ASSERT_NE(StrAppend(&text, big.c_str()), nullptr);
  EXPECT_EQ(std::string(text), "IFD 0: " + big);
  free(text);
}

}  // namespace
