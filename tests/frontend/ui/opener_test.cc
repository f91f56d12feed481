// The desktop's opener as the program starts it, with small shell scripts in
// the place of xdg-open: what a box learns when opening fails, and that an
// opener that succeeds says nothing and leaves nothing behind.
#include "frontend/ui/opener.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <QObject>
#include <QTest>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "qt_app.h"
#include "support/temp_folder.h"

namespace {

using testing_support::read_file;
using testing_support::TempFolder;

constexpr int kBoundMs = 60000;  // reached only by a broken opener

class OpenerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing_support::qt_app();
    env_ = std::make_unique<testing_support::IsolatedEnvironment>(dir_.path());
  }

  // A stand-in for xdg-open: a shell script with the given body.
  QString opener(const std::string& name, const std::string& body) {
    std::string path = dir_.write_file(name, "#!/bin/sh\n" + body);
    EXPECT_EQ(chmod(path.c_str(), 0755), 0);
    return QString::fromStdString(path);
  }
  // Whether the temporary folder still holds an error file of an opener.
  bool errorFilesLeft() {
    auto names = platform::list_folder(dir_.sub("tmp"));
    if (!names) return false;
    for (const std::string& name : *names) {
      if (name.rfind("corvella-opener-", 0) == 0) return true;
    }
    return false;
  }

  TempFolder dir_;
  std::unique_ptr<testing_support::IsolatedEnvironment> env_;
  QObject context_;
};

TEST_F(OpenerTest, AnOpenerThatCannotBeStartedSaysSoAtOnce) {
  const QString missing = QString::fromStdString(dir_.sub("no-such-opener"));
  std::vector<std::string> told;
  EXPECT_FALSE(frontend_ui::startDesktopOpener("/some/file", &context_,
                                               [&](const std::string& why) { told.push_back(why); }, missing));
  ASSERT_EQ(told.size(), 1u);
  const std::string start = missing.toStdString() + " could not be started: ";
  EXPECT_EQ(told[0].rfind(start, 0), 0u) << told[0];
  EXPECT_GT(told[0].size(), start.size());
  EXPECT_FALSE(errorFilesLeft());
}

TEST_F(OpenerTest, AFailureLaterGivesTheExitStatusAndTheFirstErrorLine) {
  struct Case {
    const char* name;
    std::string body;
    std::string why;  // after the program's path
  };
  const Case cases[] = {
      {"no-method", "echo >&2\necho \"  xdg-open: no method available for opening '$1'  \" >&2\necho more >&2\nexit 3\n",
       " ended with exit status 3: xdg-open: no method available for opening '/some/file'"},
      {"silent", "exit 4\n", " ended with exit status 4"},
      {"killed", "echo 'going down' >&2\nkill -9 $$\n", " ended abnormally: going down"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const QString program = opener(c.name, c.body);
    std::vector<std::string> told;
    ASSERT_TRUE(frontend_ui::startDesktopOpener("/some/file", &context_,
                                                [&](const std::string& why) { told.push_back(why); }, program));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !told.empty(); }, kBoundMs));
    EXPECT_EQ(told, std::vector<std::string>{program.toStdString() + c.why});
    EXPECT_FALSE(errorFilesLeft());
  }
}

TEST_F(OpenerTest, AnOpenerThatSucceedsSaysNothing) {
  const std::string pid_file = dir_.sub("opener.pid");
  const QString program = opener("fine", "echo 'a warning the viewer printed' >&2\necho $$ > '" + pid_file + "'\nexit 0\n");
  bool told = false;
  ASSERT_TRUE(frontend_ui::startDesktopOpener("/some/file", &context_, [&](const std::string&) { told = true; },
                                              program));
  // It has ended once the pid it wrote is gone: the program reaps it as it
  // learns of its end, and handles that end at once.
  std::optional<pid_t> pid;
  ASSERT_TRUE(QTest::qWaitFor(
      [&] {
        std::string text = read_file(pid_file);
        if (!pid && !text.empty() && text.back() == '\n') pid = static_cast<pid_t>(std::stol(text));
        return pid && kill(*pid, 0) != 0 && errno == ESRCH;
      },
      kBoundMs));
  QCoreApplication::processEvents();
  EXPECT_FALSE(told);
  EXPECT_FALSE(errorFilesLeft());
}

}  // namespace
