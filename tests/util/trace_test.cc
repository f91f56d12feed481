#include "util/trace.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <unistd.h>

#include <climits>
#include <cstdio>

#include "support/temp_folder.h"

namespace {

using testing_support::read_file;
using testing_support::TempFolder;

// Captures what is written to standard error while it lives.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) {
    fflush(stderr);
    saved_ = dup(STDERR_FILENO);
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(fd, STDERR_FILENO);
    close(fd);
  }
  ~StderrCapture() {
    fflush(stderr);
    dup2(saved_, STDERR_FILENO);
    close(saved_);
  }

 private:
  int saved_;
};

class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_clear();
    log_reset();
    log_enabled = false;
  }
  void TearDown() override {
    trace_clear();
    log_reset();
    log_enabled = false;
  }
  std::string dump_to_text() {
    std::string path = dir_.sub("stderr.txt");
    {
      StderrCapture capture(path);
      trace_dump();
    }
    return read_file(path);
  }
  TempFolder dir_;
};

TEST_F(TraceTest, NewestFirstWithTheErrnoOfTheFirstFailureOnly) {
  trace_push("[fcn???]", "proper", 135, "0", 2);
  trace_push("[fcn???]", "proper", 325, "prop_read(ps, path_set)", 13);
  EXPECT_EQ(dump_to_text(),
            "ERROR:\t0: [fcn???] [proper:325] prop_read(ps, path_set)\n"
            "\t1: [fcn???] [proper:135] 0\n"
            "\t\t*** ? (2: \"No such file or directory\") ***\n");
}

TEST_F(TraceTest, OneRecordWithoutErrnoShowsNoErrnoPart) {
  trace_push("where", "file", 7, nullptr, 0);
  EXPECT_EQ(dump_to_text(), "ERROR:\t0: where [file:7] \n");
}

TEST_F(TraceTest, LargestErrnoIsTheNonstandardInternalError) {
  trace_push("w", "f", 1, "x", INT_MAX);
  EXPECT_NE(dump_to_text().find("(2147483647: \"Internal error (nonstandard)\")"), std::string::npos);
}

TEST_F(TraceTest, LongTextsAreCutToTheLineLimit) {
  std::string expression(400, 'e');
  trace_push("w", "f", 1, expression.c_str(), 0);
  std::string text = dump_to_text();
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.size(), std::string("ERROR:\t0: ").size() + 199u + 1u);  // record text cut to 199
}

TEST_F(TraceTest, DumpGoesToTheLogOnlyWhileLoggingIsOn) {
  std::string log_path = dir_.sub("log.txt");
  log_setup(log_path.c_str());
  trace_push("w", "f", 1, "off", 0);
  dump_to_text();
  EXPECT_EQ(read_file(log_path), "\n");  // only the blank line of opening

  log_enabled = true;
  trace_clear();
  trace_push("w", "f", 2, "on", 0);
  EXPECT_EQ(dump_to_text(), "ERROR:\t0: w [f:2] on\n");
  EXPECT_THAT(read_file(log_path),
              ::testing::ContainsRegex("\n[0-9]{4}-[A-Z][a-z]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}: ERROR:\t0: w \\[f:2\\] on\n$"));
}

TEST_F(TraceTest, LogLinesAreStampedInTheCLocale) {
  // Under another locale the month and time must still read "Dec" and "13:05:09".
  bool switched = setlocale(LC_ALL, "de_DE.UTF-8") != nullptr || setlocale(LC_ALL, "fr_FR.UTF-8") != nullptr;
  std::string log_path = dir_.sub("log.txt");
  log_enabled = true;
  log_setup(log_path.c_str());
  log_printf("value %d", 5);
  setlocale(LC_ALL, "C");
  std::string text = read_file(log_path);
  EXPECT_THAT(text, ::testing::ContainsRegex("[0-9]{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-[0-9]{2} "
                                             "[0-9]{2}:[0-9]{2}:[0-9]{2}: value 5\n"));
  EXPECT_NE(text.find(": Log file " + log_path + " opened\n"), std::string::npos) << text;
  if (!switched) GTEST_LOG_(INFO) << "no second locale installed; checked the C locale only";
}

TEST_F(TraceTest, UnopenableLogComplainsOnceForEachAttempt) {
  std::string path = dir_.sub("missing/log.txt");
  std::string err_path = dir_.sub("stderr.txt");
  {
    StderrCapture capture(err_path);
    log_setup(path.c_str());  // one attempt
    log_printf("dropped while off");
    log_enabled = true;
    log_printf("one");  // two more attempts
    log_printf("two");
  }
  std::string expected = "Can't open logfile \"" + path + "\"\n";
  EXPECT_EQ(read_file(err_path), expected + expected + expected);
}

TEST(TraceExit, TheTraceIsWrittenWhenTheProcessExits) {
  EXPECT_EXIT(
      {
        trace_push("[fcn???]", "proper", 306, "unlink(path_set)", 2);
        exit(1);
      },
      ::testing::ExitedWithCode(1), "ERROR:\t0: \\[fcn\\?\\?\\?\\] \\[proper:306\\] unlink\\(path_set\\)");
}

}  // namespace
