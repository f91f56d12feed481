// The Preferences dialog over settings kept in the test's own folder.
#include "frontend/ui/app_settings.h"
#include "frontend/ui/preferences_dialog.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <memory>

#include "qt_app.h"
#include "support/recording_sinks.h"
#include "support/temp_folder.h"

namespace {

using testing_support::RecordingBoxes;

using frontend_ui::ElidedPathLabel;

class PreferencesTest : public testing_support::QtTest {
 protected:
  PreferencesTest() : env_(dir_.path()) { testing_support::use_isolated_settings(); }

  void open() {
    dialog_ = std::make_unique<CDlgPreferences>(nullptr, &boxes_);
    dialog_->setFileChooser([this](QWidget*, const QString& start) {
      chooser_start_ = start;
      return chosen_;
    });
    dialog_->show();
  }
  QString shownPath() { return dialog_->findChild<ElidedPathLabel*>("IDC_CONVERTER_PATH")->path(); }
  QCheckBox* updateCheck() { return dialog_->findChild<QCheckBox*>("IDC_UPDATE_CHECK"); }
  QPushButton* button(const char* id) { return dialog_->findChild<QPushButton*>(id); }
  QVariant stored(const char* name) { return QSettings("Aldercrest", "Corvella").value(QString("App/") + name); }
  // Makes every later settings write fail: the settings file's place is
  // taken by a folder.
  void breakSettingsFile() {
    QSettings settings("Aldercrest", "Corvella");
    const QString file = settings.fileName();
    QFile::remove(file);
    ASSERT_TRUE(QDir().mkpath(file));
  }

  testing_support::TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  RecordingBoxes boxes_;
  std::unique_ptr<CDlgPreferences> dialog_;
  QString chosen_;
  QString chooser_start_;
};

TEST_F(PreferencesTest, AFreshInstallationShowsTheDefaultsWithItsControls) {
  open();
  EXPECT_EQ(dialog_->windowTitle(), "Corvella Preferences");
  EXPECT_EQ(shownPath(), QString(app_settings::kDefaultConverter));
  EXPECT_TRUE(updateCheck()->isChecked());
  EXPECT_EQ(updateCheck()->text(), "Update Check");
  EXPECT_EQ(button("IDC_CHOOSE")->text(), "Choose...");
  EXPECT_EQ(button("IDOK")->text(), "Close");
  EXPECT_FALSE(stored("ConverterApp").isValid()) << "showing writes nothing";
  EXPECT_FALSE(stored("UpdateCheck").isValid());
}

TEST_F(PreferencesTest, UpdateCheckIsWrittenAtEachClick) {
  open();
  QTest::mouseClick(updateCheck(), Qt::LeftButton);
  EXPECT_EQ(stored("UpdateCheck").toInt(), 0);
  QTest::mouseClick(updateCheck(), Qt::LeftButton);
  EXPECT_EQ(stored("UpdateCheck").toInt(), 1);
  QTest::mouseClick(updateCheck(), Qt::LeftButton);
  EXPECT_TRUE(boxes_.shown.empty());

  // Closed and shown again: the stored value.
  QTest::mouseClick(button("IDOK"), Qt::LeftButton);
  EXPECT_FALSE(dialog_->isVisible());
  dialog_->show();
  EXPECT_FALSE(updateCheck()->isChecked());
}

TEST_F(PreferencesTest, ChooseStoresAndShowsTheConverter) {
  const std::string converter = dir_.write_file("bin/converter", "#!/bin/sh\n");
  open();
  chosen_ = QString::fromStdString(converter);
  QTest::mouseClick(button("IDC_CHOOSE"), Qt::LeftButton);
  EXPECT_EQ(stored("ConverterApp").toString(), chosen_);
  EXPECT_EQ(shownPath(), chosen_);
  EXPECT_EQ(QString::fromStdString(app_settings::getConverterApp()), chosen_);

  // The next choice starts beside it; cancelling changes nothing.
  chosen_.clear();
  QTest::mouseClick(button("IDC_CHOOSE"), Qt::LeftButton);
  EXPECT_EQ(chooser_start_, QString::fromStdString(dir_.sub("bin")));
  EXPECT_EQ(stored("ConverterApp").toString(), QString::fromStdString(converter));
}

TEST_F(PreferencesTest, AFailedWriteSaysSoAndKeepsTheOldValue) {
  open();
  breakSettingsFile();
  chosen_ = "/opt/converter";
  QTest::mouseClick(button("IDC_CHOOSE"), Qt::LeftButton);
  QTest::mouseClick(updateCheck(), Qt::LeftButton);
  EXPECT_EQ(boxes_.shown, (std::vector<std::string>{"Can't write profile string", "Can't write profile string"}));
  EXPECT_TRUE(dialog_->isVisible());
  EXPECT_EQ(shownPath(), QString(app_settings::kDefaultConverter));
}

}  // namespace
