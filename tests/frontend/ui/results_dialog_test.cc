// The Results window over the main window's own database: runs recorded
// there appear in the tree, a selected run shows its text and details, and
// the detail buttons reach the folder and the examination.
#include <gtest/gtest.h>

#include <QAction>
#include <QEventLoop>
#include <QTest>
#include <QTimer>
#include <functional>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTreeWidget>

#include "frontend/core/database.h"
#include "frontend/ui/examine_dialog.h"
#include "frontend/ui/results_dialog.h"
#include "main_window_fixture.h"
#include "platform/files.h"
#include "support/fake_worker.h"

namespace testing_support {
namespace {

// Stands in for the progress dialog: at the run's first file it calls
// during_run (on the window's thread, the run thread waiting for its line),
// then stops the run and waits for its end.
class ProgressDuringRun : public ProgressView {
 public:
  ProgressDuringRun(frontend::RunEngine& engine, std::function<void()> during_run)
      : engine_(engine), during_run_(std::move(during_run)) {}
  void setLine(int line, const std::string&) override {
    if (!shown_ || line != 1 || called_) return;
    called_ = true;
    during_run_();
    engine_.stop();
    loop_.quit();
  }
  void showUntil(const std::function<bool()>& run_ended) override {
    shown_ = true;
    loop_.exec();
    shown_ = false;
    QEventLoop wait;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
      if (run_ended()) wait.quit();
    });
    poll.start(5);
    if (!run_ended()) wait.exec();
  }
  void close() override { loop_.quit(); }

 private:
  frontend::RunEngine& engine_;
  std::function<void()> during_run_;
  bool shown_ = false;
  bool called_ = false;
  QEventLoop loop_;
};

class ResultsWindowTest : public MainWindowTest {
 protected:
  void exec(const std::string& sql) { ASSERT_TRUE(frontend::db_exec(*window_->database(), sql)) << sql; }
  // A finished run of job over folder; gives its run id.
  int addRun(const std::string& job, const std::string& start, const std::string& folder) {
    exec(frontend::db_format(
        "insert into run (job, start_dt, stop_dt, status, num_processed, num_valid, num_invalid, "
        "num_indeterminate, num_error, num_skipped, scheduled, num_hash) "
        "values(%Q, %Q, %Q, 'OK', 2, 1, 1, 0, 0, 0, 0, 0)",
        job.c_str(), start.c_str(), start.c_str()));
    int id = 0;
    EXPECT_TRUE(frontend::db_query_int(*window_->database(), "select max(run_sk) from run", &id));
    exec(frontend::db_format("insert into folder (run_id, path) values(%d, %Q)", id, folder.c_str()));
    return id;
  }
  CDlgResults* openResults() {
    window_->findChild<QAction*>("ID_TOOLS_RESULTS")->trigger();
    return window_->resultsWindow();
  }
  static std::vector<std::string> texts(QTreeWidgetItem* item) {
    std::vector<std::string> out;
    for (int i = 0; i < item->childCount(); ++i) out.push_back(item->child(i)->text(0).toStdString());
    return out;
  }
};

TEST_F(ResultsWindowTest, RecordedRunsAreListedAndASelectedRunShowsItsTextAndDetails) {
  open();
  addRun("Default", "2024-01-01 10:00:00", "/photos");
  int newer = addRun("Default", "2024-02-01 10:00:00", "/photos");
  exec(frontend::db_format("insert into detail (run_id, path, code, type, message) values"
                           "(%d, '/photos/b.jpg', 'B', 'J', 'Premature end of JPEG file'), "
                           "(%d, '/photos/c.tif', 'H', 'T', '')",
                           newer, newer));
  exec(frontend::db_format("insert into note (run_id, data) values(%d, 'line one\nline two')", newer));

  CDlgResults* results = openResults();
  ASSERT_NE(results, nullptr);
  EXPECT_TRUE(results->isVisible());
  EXPECT_EQ(results->windowTitle(), "Verification Results");
  auto* tree = results->findChild<QTreeWidget*>("IDC_RUN_TREE");
  ASSERT_EQ(tree->topLevelItemCount(), 3);
  QTreeWidgetItem* by_date = tree->topLevelItem(0);
  QTreeWidgetItem* by_job = tree->topLevelItem(1);
  QTreeWidgetItem* by_folder = tree->topLevelItem(2);
  EXPECT_EQ(by_date->text(0).toStdString(), frontend::kGroupByDate);
  EXPECT_TRUE(by_date->font(0).bold());
  EXPECT_TRUE(by_date->isExpanded());
  EXPECT_TRUE(by_job->isExpanded());
  EXPECT_FALSE(by_folder->isExpanded());
  EXPECT_EQ(texts(by_date), (std::vector<std::string>{"2024-02-01 10:00:00", "2024-01-01 10:00:00"}));
  EXPECT_EQ(texts(by_folder), std::vector<std::string>{"/photos"});
  EXPECT_EQ(texts(by_folder->child(0)).size(), 2u);
  ASSERT_EQ(texts(by_job), std::vector<std::string>{"Default"});
  EXPECT_EQ(by_job->child(0)->childCount(), 2);

  // Groups cannot be selected; runs can.
  EXPECT_FALSE(by_date->flags() & Qt::ItemIsSelectable);
  tree->setCurrentItem(by_date->child(0));
  std::string text = results->findChild<QPlainTextEdit*>("IDC_RUN_TEXT")->toPlainText().toStdString();
  EXPECT_EQ(text.rfind("Job: Default\nStart Date/Time: 2024-02-01 10:00:00\n", 0), 0u) << text;
  EXPECT_NE(text.find("Run Log:\n\nline one\nline two"), std::string::npos) << text;
  EXPECT_EQ(text.find('\r'), std::string::npos);
  auto* details = results->findChild<QListWidget*>("IDC_DETAIL_LIST");
  ASSERT_EQ(details->count(), 4);
  EXPECT_EQ(details->item(0)->text(), "/photos/b.jpg");
  EXPECT_EQ(details->item(1)->text(), "   Invalid - JPEG - Premature end of JPEG file");

  // Nothing selected: no folder to show.
  results->findChild<QPushButton*>("IDC_CONTAINING_FOLDER")->click();
  EXPECT_EQ(ui_.messages, std::vector<std::string>{frontend::kCantDetermineFolder});

  // A description line selects its path line.
  details->setCurrentRow(3);
  EXPECT_EQ(details->currentRow(), 2);
  results->findChild<QPushButton*>("IDC_CONTAINING_FOLDER")->click();
  EXPECT_EQ(ui_.opened, std::vector<std::string>{"/photos"});
  EXPECT_EQ(ui_.messages.size(), 1u);
  // When the file manager cannot show it, the box says what failed.
  for (bool late : {false, true}) {
    ui_.messages.clear();
    (late ? ui_.open_fails_late : ui_.open_fails) = true;
    results->findChild<QPushButton*>("IDC_CONTAINING_FOLDER")->click();
    EXPECT_EQ(ui_.messages, std::vector<std::string>{std::string(frontend::kCantShowFolder) + "\r\r" + ui_.open_failure});
    ui_.open_fails = ui_.open_fails_late = false;
  }

  results->findChild<QPushButton*>("IDC_EXAMINE")->click();
  QList<CDlgExamine*> examined = results->findChildren<CDlgExamine*>();
  ASSERT_EQ(examined.size(), 1);
  EXPECT_EQ(examined.front()->windowTitle(), "/photos/c.tif");

  // The older run has no details.
  tree->setCurrentItem(by_date->child(1));
  text = results->findChild<QPlainTextEdit*>("IDC_RUN_TEXT")->toPlainText().toStdString();
  EXPECT_NE(text.find("(No Suspected Invalid Images recorded.)"), std::string::npos) << text;
  EXPECT_EQ(details->count(), 0);
}

TEST_F(ResultsWindowTest, TheWindowIsMadeOnceAndRefreshShowsLaterRuns) {
  open();
  CDlgResults* results = openResults();
  ASSERT_NE(results, nullptr);
  auto* tree = results->findChild<QTreeWidget*>("IDC_RUN_TREE");
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);
  results->findChild<QPushButton*>("IDOK")->click();
  EXPECT_FALSE(results->isVisible());

  addRun("Default", "2024-03-01 08:00:00", "/more");
  EXPECT_EQ(openResults(), results);
  EXPECT_TRUE(results->isVisible());
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 0);  // as at the last rebuild
  results->findChild<QPushButton*>("IDC_REFRESH")->click();
  EXPECT_EQ(tree->topLevelItem(0)->childCount(), 1);
}

TEST_F(ResultsWindowTest, AWindowModalDialogOverTheMainWindowDoesNotBlockIt) {
  open().show();
  CDlgResults* results = openResults();
  ASSERT_NE(results, nullptr);
  QDialog progress(window_.get());
  progress.setWindowModality(Qt::WindowModal);
  progress.show();
  addRun("Default", "2024-03-01 08:00:00", "/more");
  // A click through the desktop's event path, which drops input to blocked windows.
  QPushButton* refresh = results->findChild<QPushButton*>("IDC_REFRESH");
  QPoint at = refresh->mapTo(results, refresh->rect().center());
  QTest::mouseClick(results->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
  EXPECT_EQ(results->findChild<QTreeWidget*>("IDC_RUN_TREE")->topLevelItem(0)->childCount(), 1);
}

TEST_F(ResultsWindowTest, TheWindowWorksWhileARunWritesToTheDatabase) {
  std::string folder = dir_.sub("many");
  platform::make_folders(folder);
  for (int i = 0; i < 10; ++i) dir_.write_file("many/f" + std::to_string(i) + ".jpg", "x");
  std::string shown_during_run;
  MainWindowSetup setup;
  setup.worker_program = fake_worker_path();
  setup.make_progress = [&](QWidget*, frontend::RunEngine& engine) {
    return std::make_unique<ProgressDuringRun>(engine, [&] {
      CDlgResults* results = window_->resultsWindow();
      results->findChild<QPushButton*>("IDC_REFRESH")->click();
      auto* tree = results->findChild<QTreeWidget*>("IDC_RUN_TREE");
      ASSERT_EQ(tree->topLevelItem(0)->childCount(), 1);
      tree->setCurrentItem(tree->topLevelItem(0)->child(0));
      shown_during_run = results->findChild<QPlainTextEdit*>("IDC_RUN_TEXT")->toPlainText().toStdString();
    });
  };
  CCorvellaDlg& w = open(std::move(setup));
  write_fake_script(w.propertyRoot(), "*\tG\tJ\t20\n");
  ui_.folders = {folder};
  control<QPushButton>("IDC_ADD_FOLDER")->click();
  ASSERT_NE(openResults(), nullptr);

  control<QPushButton>("IDC_RUN")->click();
  EXPECT_TRUE(w.lastRun().ran);
  EXPECT_NE(shown_during_run.find("Stop Date/Time: Incomplete"), std::string::npos) << shown_during_run;
}

}  // namespace
}  // namespace testing_support

TEST(WindowPlacement, OnlyA44ByteRecordWithARectangleIsApplied) {
  auto record = [](int left, int top, int right, int bottom, int size = 44) {
    QByteArray bytes(size, '\0');
    int values[4] = {left, top, right, bottom};
    for (int k = 0; k < 4 && 28 + 4 * k + 3 < size; ++k) {
      for (int i = 0; i < 4; ++i) bytes[28 + 4 * k + i] = static_cast<char>((static_cast<uint32_t>(values[k]) >> (8 * i)) & 0xFF);
    }
    return bytes;
  };
  EXPECT_EQ(decodeWindowPlacement(record(100, 80, 700, 580)), QRect(100, 80, 600, 500));
  EXPECT_EQ(decodeWindowPlacement(record(-20, 10, 300, 200)), QRect(-20, 10, 320, 190));
  EXPECT_FALSE(decodeWindowPlacement(record(100, 80, 700, 580, 43)));
  EXPECT_FALSE(decodeWindowPlacement(record(100, 80, 700, 580, 48)));
  EXPECT_FALSE(decodeWindowPlacement(record(100, 80, 100, 580)));
  EXPECT_FALSE(decodeWindowPlacement(QByteArray()));
}
