// Pictures of the windows for the README, taken only when
// CORVELLA_SCREENSHOTS names the folder to write them to (scripts/screenshots).
#include <QPixmap>
#include <QTest>
#include <cstdlib>

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
    const char* out = std::getenv("CORVELLA_SCREENSHOTS");
    if (out == nullptr || out[0] == '\0') GTEST_SKIP() << "CORVELLA_SCREENSHOTS is not set";
    out_ = out;
    MainWindowTest::SetUp();
  }
  void save(QWidget& widget, const char* name) {
    widget.show();
    QApplication::processEvents();
    std::string path = out_ + "/" + name;
    ASSERT_TRUE(widget.grab().save(QString::fromStdString(path), "PNG")) << path;
  }
  std::string out_;
};

TEST_F(Screenshots, MainWindowAfterARun) {
  std::string photos = dir_.sub("Photos");
  for (const char* sub : {"2023 Holidays", "2024 Garden"}) {
    std::string folder = photos + "/" + sub;
    platform::make_folders(folder);
    for (int i = 0; i < 12; ++i) ASSERT_TRUE(write_jpeg(folder + "/IMG_" + std::to_string(4100 + i) + ".jpg"));
  }
  std::string damaged = photos + "/2024 Garden/IMG_4203.jpg";
  ASSERT_TRUE(write_jpeg(damaged, {320, 240}));
  ASSERT_TRUE(truncate_to(damaged, 0.5));

  MainWindowSetup setup;
  setup.worker_program = corvex_path();
  CCorvellaDlg& w = open(std::move(setup));
  ui_.folders = {photos + "/2024 Garden", photos + "/2023 Holidays"};
  control<QPushButton>("IDC_ADD_FOLDER")->click();
  control<QPushButton>("IDC_ADD_FOLDER")->click();
  control<QPushButton>("IDC_RUN")->click();
  save(w, "main-window.png");
}

TEST_F(Screenshots, ProgressDialogMidRun) {
  CDlgProgress progress(nullptr);
  progress.show();
  const char* lines[] = {"/home/anna/Photos/2024 Garden/IMG_4187.jpg", "Files processed: 187", "Valid: 181",
                         "Invalid: 1; Hash error: 0", "Indeterminate: 0", "Errors: 0"};
  for (int i = 0; i < 6; ++i) progress.setLine(i + 1, lines[i]);
  QTest::qWait(120);  // a few frames of the moving stripes
  save(progress, "progress.png");
  progress.hide();
}

TEST_F(Screenshots, PreferencesDialog) {
  CDlgPreferences preferences(nullptr, nullptr);
  save(preferences, "preferences.png");
}

}  // namespace
}  // namespace testing_support
