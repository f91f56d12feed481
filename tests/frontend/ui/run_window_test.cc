// Whole runs through the main window's Run button: real widgets (offscreen),
// a generated folder of images, and real corvex or fake workers.
#include <gmock/gmock.h>
#include <signal.h>
#include <sys/types.h>

#include <QEventLoop>
#include <QTimer>
#include <cerrno>

#include "frontend/ui/progress_dialog.h"
#include "main_window_fixture.h"
#include "platform/files.h"
#include "support/fake_worker.h"
#include "support/image_writers.h"
#include "support/worker_process.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

// Stands in for the progress dialog: keeps the lines, ends on close(), and
// can press Stop after a number of line-1 updates.
class ScriptedProgress : public ProgressView {
 public:
  ScriptedProgress(frontend::RunEngine& engine, int stop_after) : engine_(engine), stop_after_(stop_after) {}
  void setLine(int line, const std::string& text) override {
    if (!shown_) return;
    lines_[line] = text;
    if (line == 1 && ++updates_ == stop_after_) {
      engine_.stop();
      loop_.quit();
    }
  }
  void showUntil(const std::function<bool()>& run_ended) override {
    shown_ = true;
    ++shown_count;
    loop_.exec();
    shown_ = false;
    // After Stop the run thread still calls in until it has ended.
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
      if (run_ended()) wait.quit();
    });
    poll.start(5);
    if (!run_ended()) wait.exec();
  }
  void close() override { loop_.quit(); }

  static inline int shown_count = 0;

 private:
  frontend::RunEngine& engine_;
  int stop_after_;
  int updates_ = 0;
  bool shown_ = false;
  std::string lines_[7];
  QEventLoop loop_;
};

class RunWindowTest : public MainWindowTest {
 protected:
  CCorvellaDlg& openWith(const std::string& worker, int stop_after = -1) {
    MainWindowSetup setup;
    setup.worker_program = worker;
    setup.make_progress = [stop_after](QWidget*, frontend::RunEngine& engine) {
      return std::make_unique<ScriptedProgress>(engine, stop_after);
    };
    return open(std::move(setup));
  }
  std::string images(int good, int bad) {
    std::string folder = dir_.sub("images");
    platform::make_folders(folder);
    for (int i = 0; i < good; ++i) EXPECT_TRUE(write_jpeg(folder + "/good" + std::to_string(i) + ".jpg"));
    for (int i = 0; i < bad; ++i) {
      std::string path = folder + "/bad" + std::to_string(i) + ".jpg";
      EXPECT_TRUE(write_jpeg(path, {256, 256}));
      EXPECT_TRUE(truncate_to(path, 0.4));
    }
    return folder;
  }
  void addFolder(const std::string& folder) {
    ui_.folders = {folder};
    control<QPushButton>("IDC_ADD_FOLDER")->click();
  }
  std::vector<pid_t> workerPids(CCorvellaDlg& w) {
    std::vector<pid_t> pids;
    for (int i = 0; i < frontend::kWorkerSlots; ++i) {
      if (pid_t pid = w.engine()->pool().workerPid(i)) pids.push_back(pid);
    }
    return pids;
  }
};

TEST_F(RunWindowTest, RunButtonVerifiesAFolderWithCorvex) {
  std::string folder = images(6, 2);
  CCorvellaDlg& w = openWith(corvex_path());
  addFolder(folder);
  box("IDC_STORE_HASHES")->click();  // cleared by the run
  ui_.answers = {true};
  int shown = ScriptedProgress::shown_count;
  control<QPushButton>("IDC_RUN")->click();

  EXPECT_EQ(ScriptedProgress::shown_count, shown + 1);
  EXPECT_TRUE(w.lastRun().ran);
  EXPECT_GT(w.lastRun().run_id, 0);
  EXPECT_THAT(ui_.questions.at(0), HasSubstr("Do you want to create reference hashes"));
  std::string log = shownLog();
  EXPECT_THAT(log, HasSubstr("Verifying folder " + folder));
  EXPECT_THAT(log, HasSubstr("bad0.jpg"));
  EXPECT_THAT(log, HasSubstr("bad1.jpg"));
  EXPECT_THAT(log, Not(HasSubstr("good0.jpg")));
  EXPECT_THAT(w.lastRun().summary, HasSubstr("8"));
  EXPECT_THAT(log, HasSubstr(w.lastRun().summary.substr(0, w.lastRun().summary.find('\n'))));
  EXPECT_FALSE(box("IDC_STORE_HASHES")->isChecked());
  EXPECT_TRUE(control<QPushButton>("IDC_RUN")->isEnabled());
  EXPECT_EQ(w.runLog().cap(), 0);
}

TEST_F(RunWindowTest, StopEndsTheRunWithOneCancelMessage) {
  std::string folder = dir_.sub("many");
  platform::make_folders(folder);
  for (int i = 0; i < 40; ++i) dir_.write_file("many/f" + std::to_string(i) + ".jpg", "x");
  CCorvellaDlg& w = openWith(fake_worker_path(), 5);
  write_fake_script(w.propertyRoot(), "*\tG\tJ\t30\n");
  addFolder(folder);
  control<QPushButton>("IDC_RUN")->click();

  EXPECT_TRUE(w.lastRun().ran);
  EXPECT_THAT(ui_.messages, ElementsAre("Cancelled by user."));
  EXPECT_THAT(w.runLog().text(), Not(HasSubstr("Worked path not completed")));
  EXPECT_THAT(w.runLog().text(), HasSubstr("Cancelled by user."));
  EXPECT_TRUE(control<QPushButton>("IDC_RUN")->isEnabled());
}

TEST_F(RunWindowTest, TheProgressDialogsStopButtonStopsTheRun) {
  std::string folder = dir_.sub("many");
  platform::make_folders(folder);
  for (int i = 0; i < 60; ++i) dir_.write_file("many/f" + std::to_string(i) + ".jpg", "x");
  MainWindowSetup setup;
  setup.worker_program = fake_worker_path();
  CCorvellaDlg& w = open(std::move(setup));
  // One answer comes; every other waits, so the run is still going when
  // Stop is pressed, however fast the machine.
  allow_fake_answers(w.propertyRoot(), 1);
  addFolder(folder);
  auto* progress = w.findChild<CDlgProgress*>();
  ASSERT_NE(progress, nullptr);
  std::string line_seen;
  bool pressed = false;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, progress, [&] {
    if (pressed || !progress->isVisible() || progress->line(3) != "Valid: 1") return;
    pressed = true;
    line_seen = progress->line(1).toStdString();
    EXPECT_TRUE(progress->isModal());
    progress->OnBnClickedStop();
  });
  watch.start(5);
  control<QPushButton>("IDC_RUN")->click();
  watch.stop();

  EXPECT_TRUE(pressed);
  EXPECT_NE(line_seen, "");
  EXPECT_FALSE(progress->isVisible());
  EXPECT_THAT(ui_.messages, ElementsAre("Cancelled by user."));
  EXPECT_THAT(w.runLog().text(), Not(HasSubstr("Worked path not completed")));
  EXPECT_LT(fake_transcript(w.propertyRoot()).size(), 60u);
}

TEST_F(RunWindowTest, QuittingEndsEveryWorker) {
  // One file for eight workers: the idle ones outlive the run.
  std::string folder = images(1, 0);
  CCorvellaDlg& w = openWith(corvex_path());
  addFolder(folder);
  control<QPushButton>("IDC_RUN")->click();
  control<QPushButton>("IDC_RUN")->click();
  std::vector<pid_t> pids = workerPids(w);
  ASSERT_GE(pids.size(), 6u);
  w.quitApp();
  for (pid_t pid : pids) {
    errno = 0;
    EXPECT_EQ(::kill(pid, 0), -1) << pid;
    EXPECT_EQ(errno, ESRCH) << pid;
  }
}

}  // namespace
}  // namespace testing_support
