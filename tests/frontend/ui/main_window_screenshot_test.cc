// Pictures of the windows for the README, written to the folder that
// CORVELLA_SCREENSHOTS names (scripts/screenshots), else to the test's own
// folder. Either way each picture is read back: the window drew itself at its
// size, with more than one colour, after real runs with corvex.
#include <QAction>
#include <QImage>
#include <QListWidget>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTest>
#include <QTreeWidget>
#include <cstdlib>
#include <set>

#include "frontend/ui/examine_dialog.h"
#include "frontend/ui/manage_hashes_dialog.h"
#include "frontend/ui/results_dialog.h"

#include "frontend/ui/preferences_dialog.h"
#include "frontend/ui/progress_dialog.h"
#include "main_window_fixture.h"
#include "platform/files.h"
#include "support/image_writers.h"
#include "support/worker_process.h"

namespace testing_support {
namespace {

class Screenshots : public MainWindowTest {
 protected:
  void SetUp() override {
    MainWindowTest::SetUp();
    const char* out = std::getenv("CORVELLA_SCREENSHOTS");
    out_ = out != nullptr && out[0] != '\0' ? std::string(out) : dir_.sub("screenshots");
    platform::make_folders(out_);
  }
  void save(QWidget& widget, const char* name) {
    widget.show();
    QApplication::processEvents();
    std::string path = out_ + "/" + name;
    ASSERT_TRUE(widget.grab().save(QString::fromStdString(path), "PNG")) << path;
    QImage saved(QString::fromStdString(path));
    ASSERT_FALSE(saved.isNull()) << path;
    EXPECT_EQ(saved.size(), widget.size() * widget.devicePixelRatio()) << path;
    std::set<QRgb> colours;
    for (int y = 0; y < saved.height() && colours.size() < 3; y += 7) {
      for (int x = 0; x < saved.width() && colours.size() < 3; x += 7) colours.insert(saved.pixel(x, y));
    }
    EXPECT_GE(colours.size(), 3u) << path << " is nearly blank";
  }
  // A folder of photographs, one of them damaged; gives the folders.
  std::vector<std::string> photos() {
    std::string photos = dir_.sub("Photos");
    std::vector<std::string> folders;
    int number = 4100;
    for (const char* sub : {"2023 Holidays", "2024 Garden"}) {
      std::string folder = photos + "/" + sub;
      platform::make_folders(folder);
      for (int i = 0; i < 12; ++i) EXPECT_TRUE(write_jpeg(folder + "/IMG_" + std::to_string(number++) + ".jpg"));
      folders.push_back(folder);
    }
    std::string damaged = photos + "/2024 Garden/IMG_4203.jpg";
    EXPECT_TRUE(write_jpeg(damaged, {320, 240}));
    EXPECT_TRUE(truncate_to(damaged, 0.5));
    return folders;
  }
  CCorvellaDlg& runOver(const std::vector<std::string>& folders, bool store_hashes = false) {
    MainWindowSetup setup;
    setup.worker_program = corvex_path();
    CCorvellaDlg& w = open(std::move(setup));
    for (const std::string& folder : folders) {
      ui_.folders = {folder};
      control<QPushButton>("IDC_ADD_FOLDER")->click();
    }
    if (store_hashes) {
      control<QCheckBox>("IDC_STORE_HASHES")->click();
      ui_.answers = {true};
    }
    control<QPushButton>("IDC_RUN")->click();
    return w;
  }
  std::string out_;
};

TEST_F(Screenshots, MainWindowAfterARun) {
  std::vector<std::string> folders = photos();
  CCorvellaDlg& w = runOver({folders[1], folders[0]});
  save(w, "main-window.png");
}

TEST_F(Screenshots, ResultsWindowShowingARun) {
  CCorvellaDlg& w = runOver(photos());
  w.findChild<QAction*>("ID_TOOLS_RESULTS")->trigger();
  CDlgResults* results = w.resultsWindow();
  ASSERT_NE(results, nullptr);
  auto* tree = results->findChild<QTreeWidget*>("IDC_RUN_TREE");
  ASSERT_GT(tree->topLevelItem(0)->childCount(), 0);
  tree->setCurrentItem(tree->topLevelItem(0)->child(0));
  auto* details = results->findChild<QListWidget*>("IDC_DETAIL_LIST");
  ASSERT_EQ(details->count(), 2);
  details->setCurrentRow(0);
  results->resize(900, 560);
  save(*results, "results.png");
}

TEST_F(Screenshots, ManageHashesWindowAfterStoringHashes) {
  CCorvellaDlg& w = runOver(photos(), true);
  w.findChild<QAction*>("ID_TOOLS_MANAGE_HASHES")->trigger();
  CDlgManageHashes* hashes = w.manageHashesWindow();
  ASSERT_NE(hashes, nullptr);
  auto* tree = hashes->findChild<QTreeWidget*>("IDC_FOLDER_TREE");
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  tree->expandAll();
  // The deepest folder: its stored keys show in the list.
  QTreeWidgetItem* item = tree->topLevelItem(0);
  while (item->childCount() > 0) item = item->child(item->childCount() - 1);
  tree->setCurrentItem(item);
  auto* keys = hashes->findChild<QListWidget*>("IDC_KEY_LIST");
  ASSERT_GT(keys->count(), 0);
  EXPECT_NE(keys->item(0)->text().toStdString(), frontend::kNoHashesAtThisLevel);
  hashes->resize(820, 520);
  save(*hashes, "manage-hashes.png");
}

TEST_F(Screenshots, ExamineWindowShowingAPhotographsStructure) {
  CCorvellaDlg& w = open();
  ui_.files = {std::string(CORVELLA_FIXTURES) + "/jpeg/canon_powershot_s330.jpg"};
  w.findChild<QAction*>("ID_TOOLS_EXAMINE")->trigger();
  std::vector<CDlgExamine*> shown;
  for (CDlgExamine* e : w.findChildren<CDlgExamine*>()) shown.push_back(e);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_NE(shown[0]->text().indexOf("Make"), -1);
  shown[0]->resize(760, 560);
  shown[0]->findChild<QPlainTextEdit*>("IDC_EXAMINE_TEXT")->moveCursor(QTextCursor::Start);
  save(*shown[0], "examine.png");
}

TEST_F(Screenshots, ProgressDialogMidRun) {
  CDlgProgress progress(nullptr);
  progress.show();
  const char* lines[] = {"/home/anna/Photos/2024 Garden/IMG_4187.jpg", "Files processed: 187", "Valid: 181",
                         "Invalid: 1; Hash error: 0", "Indeterminate: 0", "Errors: 0"};
  for (int i = 0; i < 6; ++i) progress.setLine(i + 1, lines[i]);
  save(progress, "progress.png");
  progress.hide();
}

TEST_F(Screenshots, PreferencesDialog) {
  CDlgPreferences preferences(nullptr, nullptr);
  save(preferences, "preferences.png");
}

}  // namespace
}  // namespace testing_support
