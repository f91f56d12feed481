#include "frontend/core/run_log.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "frontend/core/reporters.h"
#include "support/recording_sinks.h"
#include "support/temp_folder.h"
#include "util/trace.h"

namespace {

using testing_support::RecordingBoxes;

using namespace frontend;

using testing::HasSubstr;
using testing_support::read_file;
using testing_support::TempFolder;

const std::string kNotice = "\r\n\r\nAdditional results not shown here -- see Tools-Results\r\n\r\n";

// Records what the model asks its view to do.
class RecordingView : public RunLogView {
 public:
  void clearRunLog() override { calls.push_back("<clear>"); }
  void insertRunLogText(std::string_view text) override { calls.emplace_back(text); }
  std::vector<std::string> calls;
};

// One step of a run-log script: append (text or clear), notice, or cap.
struct Step {
  enum Kind { kAppend, kClear, kNotice, kCap } kind;
  std::string text;
  int cap = 0;
};

Step append(std::string text) { return {Step::kAppend, std::move(text)}; }
Step clear() { return {Step::kClear, ""}; }
Step notice(std::string text) { return {Step::kNotice, std::move(text)}; }
Step set_cap(int cap) { return {Step::kCap, "", cap}; }

void run(RunLog& log, const std::vector<Step>& steps) {
  for (const Step& step : steps) {
    switch (step.kind) {
      case Step::kAppend:
        log.appendRunLog(step.text.c_str());
        break;
      case Step::kClear:
        log.appendRunLog(nullptr);
        break;
      case Step::kNotice:
        runLogNotice(log, "%s", step.text.c_str());
        break;
      case Step::kCap:
        log.set_cap(step.cap);
        break;
    }
  }
}

TEST(RunLogTest, ScriptsGiveTheirTextCountAndNoticeFlag) {
  const std::string crossing(10001, 'x');  // above the cap of 10000 once written
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string text;
    bool notice_shown;
  };
  const Case cases[] = {
      {"a line feed gains a carriage return", {append("one\ntwo\n")}, "one\r\ntwo\r\n", false},
      {"a carriage return before a line feed gains another", {append("a\r\nb")}, "a\r\r\nb", false},
      {"a lone carriage return stays", {append("a\rb")}, "a\rb", false},
      {"appends follow each other", {append("a"), append("\n"), append("b")}, "a\r\nb", false},
      {"the append that crosses the cap is written whole",
       {append(std::string(9999, 'x')), append("yz\n")},
       std::string(9999, 'x') + "yz\r\n",
       false},
      {"a count equal to the cap still writes", {append(std::string(10000, 'x')), append("y")},
       std::string(10000, 'x') + "y", false},
      {"the next append writes the notice instead, once",
       {append(crossing), append("dropped"), append("dropped too")},
       crossing + kNotice,
       true},
      {"a notice lifts the cap and is written after the cap notice",
       {append(crossing), append("dropped"), notice("\nERROR: late\n\n"), append("shown")},
       crossing + kNotice + "\r\nERROR: late\r\n\r\nshown",
       true},
      {"a notice before the crossing means no cap at all",
       {notice("n"), append(crossing), append("more")},
       "n" + crossing + "more",
       false},
      {"a cap of 0 set at the end of a run means no cap", {set_cap(0), append(crossing), append("more")},
       crossing + "more", false},
      {"clearing empties the text and rearms the notice",
       {append(crossing), append("dropped"), clear(), append(crossing), append("dropped")},
       crossing + kNotice,
       true},
      {"clearing resets the count", {append(crossing), clear(), append("a"), append("b")}, "ab", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingView view;
    RunLog log(&view);
    run(log, c.steps);
    EXPECT_EQ(log.text(), c.text);
    EXPECT_EQ(log.count(), static_cast<int>(c.text.size()));
    EXPECT_EQ(log.notice_shown(), c.notice_shown);
    // The view saw the same text, piece by piece.
    std::string shown;
    for (const std::string& call : view.calls) {
      if (call == "<clear>")
        shown.clear();
      else
        shown += call;
    }
    EXPECT_EQ(shown, c.text);
  }
}

TEST(RunLogTest, FormattedTextIsCutAt999Characters) {
  RunLog log;
  runLogPrintf(log, "%s", std::string(1500, 'x').c_str());
  EXPECT_EQ(log.text(), std::string(999, 'x'));
  runLogPrintf(log, "%d-%s\n", 7, "z");
  EXPECT_EQ(log.text(), std::string(999, 'x') + "7-z\r\n");
  EXPECT_EQ(log.cap(), RunLog::kInitialCap);
  runLogNotice(log, "%s", "n");
  EXPECT_EQ(log.cap(), 0);
}

class ReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_path_ = folder_.sub("log.txt");
    log_setup(log_path_.c_str());
    log_enabled = true;
  }
  void TearDown() override {
    log_reset();
    log_enabled = false;
  }

  TempFolder folder_;
  std::string log_path_;
  RunLog log_;
  RecordingBoxes boxes_;
  ErrorReporter reporter_{log_, boxes_};
};

TEST_F(ReporterTest, ReportErrorAddsTheErrnoTextOnlyWhenThereIsOne) {
  errno = ENOENT;
  reporter_.reportError("Can't traverse folder - check that the path exists and is readable.");
  errno = 0;
  reporter_.reportError("Path already verified");

  EXPECT_EQ(log_.text(),
            "\r\nERROR: Can't traverse folder - check that the path exists and is readable. "
            "--No such file or directory\r\n\r\n"
            "\r\nERROR: Path already verified \r\n\r\n");
  EXPECT_EQ(log_.cap(), 0);
  // The first error is the run status.
  EXPECT_EQ(reporter_.run_status(), "Can't traverse folder - check that the path exists and is readable.");
  EXPECT_THAT(boxes_.shown,
              testing::ElementsAre("Can't traverse folder - check that the path exists and is readable."
                                   "\r\r(Verification cancelled.)",
                                   "Path already verified\r\r(Verification cancelled.)"));
  std::string file = read_file(log_path_);
  EXPECT_THAT(file, HasSubstr(": ERROR: Can't traverse folder - check that the path exists and is "
                              "readable. --No such file or directory\n"));
  EXPECT_THAT(file, HasSubstr(": ERROR: Path already verified \n"));

  reporter_.clear_run_status();
  errno = 0;
  reporter_.reportError("Worked path not completed");
  EXPECT_EQ(reporter_.run_status(), "Worked path not completed");
}

TEST_F(ReporterTest, ReportSystemErrorAddsTheErrorNumberLine) {
  errno = EACCES;
  reporter_.reportSystemError("pipe2 failed");
  EXPECT_EQ(log_.text(), "\r\nERROR: pipe2 failed\r\nFailed with error 13: Permission denied\r\n");
  EXPECT_EQ(reporter_.run_status(), "pipe2 failed");
  EXPECT_THAT(boxes_.shown, testing::ElementsAre("pipe2 failed\r\r(Verification cancelled.)"));
  EXPECT_THAT(read_file(log_path_), HasSubstr(": ERROR: pipe2 failed\n"));
}

TEST_F(ReporterTest, ErrorsAppearPastTheCap) {
  log_.appendRunLog(std::string(10001, 'x').c_str());
  log_.appendRunLog("dropped");
  errno = 0;
  reporter_.reportError("late");
  EXPECT_EQ(log_.text(), std::string(10001, 'x') + kNotice + "\r\nERROR: late \r\n\r\n");
}

}  // namespace
