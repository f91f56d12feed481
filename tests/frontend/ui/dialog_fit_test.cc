// The small dialogs at their smallest size still show all of their text:
// every label and button at least as large as it asks to be, and the
// window wide enough for its title.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QLabel>
#include <QPixmap>

#include "frontend/ui/about_dialog.h"
#include "frontend/ui/new_job_dialog.h"
#include "frontend/ui/preferences_dialog.h"
#include "qt_app.h"
#include "support/recording_sinks.h"
#include "support/temp_folder.h"

namespace {

class DialogFitTest : public testing_support::QtTest {
 protected:
  DialogFitTest() : env_(dir_.path()) { testing_support::use_isolated_settings(); }

  // Shows the dialog shrunk as far as it lets itself be, and checks what it
  // shows.
  void expectFits(QDialog& dialog) {
    dialog.show();
    dialog.resize(1, 1);
    QApplication::processEvents();
    const QString title = dialog.windowTitle();
    EXPECT_GE(dialog.width(), dialog.fontMetrics().horizontalAdvance(title)) << title.toStdString();
    for (QWidget* w : dialog.findChildren<QWidget*>()) {
      if (!w->isVisible()) continue;
      auto* label = qobject_cast<QLabel*>(w);
      auto* button = qobject_cast<QAbstractButton*>(w);
      if ((label == nullptr || label->wordWrap()) && button == nullptr) continue;
      const QString text = label != nullptr ? label->text() : button->text();
      EXPECT_GE(w->width(), w->sizeHint().width()) << title.toStdString() << ": " << text.toStdString();
      EXPECT_GE(w->height(), w->sizeHint().height()) << title.toStdString() << ": " << text.toStdString();
    }
  }

  testing_support::TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  testing_support::RecordingBoxes boxes_;
};

TEST_F(DialogFitTest, AboutShowsItsTitleTextAndIcon) {
  CAboutDlg about("0.1.0 (up-to-date)");
  expectFits(about);
  auto* icon = about.findChild<QLabel*>("IDR_MAINFRAME");
  ASSERT_NE(icon, nullptr);
  EXPECT_FALSE(icon->pixmap().isNull());
  // Room for "About Corvella" in a title bar with its buttons.
  EXPECT_GE(about.width(), 200 + about.fontMetrics().horizontalAdvance("About Corvella") / 2);
}

TEST_F(DialogFitTest, PreferencesShowsItsWholeHint) {
  CDlgPreferences preferences(nullptr, &boxes_);
  expectFits(preferences);
  auto* hint = preferences.findChild<QLabel*>("IDC_CONVERTER_HINT");
  ASSERT_NE(hint, nullptr);
  EXPECT_TRUE(hint->text().contains("install it, then choose it here."));
}

TEST_F(DialogFitTest, NewJobShowsItsLabels) {
  CDlgNewFolderName dialog(nullptr, &boxes_);
  expectFits(dialog);
}

}  // namespace
