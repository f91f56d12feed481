#include "dng/core/dng_errors.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "dng/support/stderr_capture.h"

namespace {

using dng_test::StderrCapture;

struct ThrowCase {
  int32_t code;
  const char* printed;
};

void PrintTo(const ThrowCase& c, std::ostream* os) { *os << c.code; }

class ThrowDngCodeTest : public ::testing::TestWithParam<ThrowCase> {};

TEST_P(ThrowDngCodeTest, PrintsTheMessageOfTheCodeThenThrowsIt) {
  const ThrowCase& c = GetParam();
  StderrCapture capture;
  int32_t caught = -12345;
  try {
    throw_dng_code(c.code);
  } catch (const dng_exception& e) {
    caught = e.Code();
  }
  EXPECT_EQ(caught, c.code);
  EXPECT_EQ(capture.Take(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    AllCodes, ThrowDngCodeTest,
    ::testing::Values(ThrowCase{0, ""}, ThrowCase{100000, "*** Error: Unknown error ***\n"},
                      ThrowCase{100001, "*** Error: Not yet implemented ***\n"},
                      ThrowCase{100002, ""}, ThrowCase{100003, ""},
                      ThrowCase{100004, "*** Error: Host insufficient ***\n"},
                      ThrowCase{100005, "*** Error: Unable to allocate memory ***\n"},
                      ThrowCase{100006, "*** Error: File format is invalid ***\n"},
                      ThrowCase{100007, "*** Error: Matrix math error ***\n"},
                      ThrowCase{100008, "*** Error: Unable to open file ***\n"},
                      ThrowCase{100009, "*** Error: File read error ***\n"},
                      ThrowCase{100010, "*** Error: File write error ***\n"},
                      ThrowCase{100011, "*** Error: Unexpected end-of-file ***\n"},
                      ThrowCase{99999, "*** Error: Unknown error ***\n"},
                      ThrowCase{100012, "*** Error: Unknown error ***\n"},
                      ThrowCase{123, "*** Error: Unknown error ***\n"},
                      ThrowCase{-1, "*** Error: Unknown error ***\n"}));

TEST(DngException, CopyKeepsTheCode) {
  try {
    throw_dng_code(dng_code_bad_format);
  } catch (const dng_exception& e) {
    dng_exception copy = e;
    dng_exception assigned(0);
    assigned = copy;
    EXPECT_EQ(copy.Code(), 100006);
    EXPECT_EQ(assigned.Code(), 100006);
  }
}

struct ReportCase {
  bool warning;
  const char* detail;
  const char* printed;
};

void PrintTo(const ReportCase& c, std::ostream* os) {
  *os << (c.warning ? "warning" : "error") << " detail " << (c.detail ? c.detail : "null");
}

class ReportDngTest : public ::testing::TestWithParam<ReportCase> {};

TEST_P(ReportDngTest, PrintsOneLineAndDoesNotThrow) {
  const ReportCase& c = GetParam();
  StderrCapture capture;
  if (c.warning) {
    EXPECT_NO_THROW(report_dng_warning("Both AsShotNeutral and AsShotWhiteXY included", c.detail));
  } else {
    EXPECT_NO_THROW(report_dng_error("Unable to open file", c.detail));
  }
  EXPECT_EQ(capture.Take(), c.printed);
}

INSTANTIATE_TEST_SUITE_P(
    WarningsAndErrors, ReportDngTest,
    ::testing::Values(
        ReportCase{true, "legal but not recommended",
                   "*** Warning: Both AsShotNeutral and AsShotWhiteXY included (legal but not "
                   "recommended) ***\n"},
        ReportCase{true, nullptr, "*** Warning: Both AsShotNeutral and AsShotWhiteXY included ***\n"},
        ReportCase{true, "", "*** Warning: Both AsShotNeutral and AsShotWhiteXY included () ***\n"},
        ReportCase{false, "/no/such/file.dng",
                   "*** Error: Unable to open file (/no/such/file.dng) ***\n"},
        ReportCase{false, nullptr, "*** Error: Unable to open file ***\n"}));

}  // namespace
