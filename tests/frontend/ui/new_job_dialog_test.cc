// The New Job dialog: what typing leaves in the name, and which names it
// refuses.
#include "frontend/ui/new_job_dialog.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "qt_app.h"
#include "support/recording_sinks.h"
#include "support/temp_folder.h"

namespace {

using testing_support::RecordingBoxes;

class NewJobTest : public testing_support::QtTest {
 protected:
  NewJobTest() : env_(dir_.path()) {}
  QLineEdit* edit() { return dialog_.findChild<QLineEdit*>("IDC_JOB_NAME"); }
  QPushButton* button(const char* id) { return dialog_.findChild<QPushButton*>(id); }

  testing_support::TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  RecordingBoxes boxes_;
  CDlgNewFolderName dialog_{nullptr, &boxes_};
};

TEST_F(NewJobTest, TypingKeepsNoSeparatorsAndAtMost31Characters) {
  struct Case {
    const char* typed;
    const char* left;
  } cases[] = {
      {"C:/x\\y", "Cxy"},
      {"a:b:c", "abc"},
      {"\\\\share\\name", "sharename"},
      {"2024/05/01 trip", "20240501 trip"},
      {"plain name", "plain name"},
      {"abcdefghijklmnopqrstuvwxyz0123456789", "abcdefghijklmnopqrstuvwxyz01234"},
      {"/:\\", ""},
  };
  dialog_.show();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    edit()->clear();
    QTest::keyClicks(edit(), c.typed);
    EXPECT_EQ(edit()->text(), c.left);
    EXPECT_EQ(dialog_.name(), c.left);
    EXPECT_EQ(edit()->cursorPosition(), edit()->text().size());
  }
}

TEST_F(NewJobTest, PastedTextIsFilteredToo) {
  dialog_.show();
  edit()->setText("C:/x\\y");
  EXPECT_EQ(edit()->text(), "Cxy");
  EXPECT_EQ(dialog_.name(), "Cxy");
}

TEST_F(NewJobTest, OkGivesTheName) {
  dialog_.show();
  QTest::keyClicks(edit(), "Holiday 2024");
  QTest::mouseClick(button("IDOK"), Qt::LeftButton);
  EXPECT_EQ(dialog_.result(), QDialog::Accepted);
  EXPECT_EQ(dialog_.name(), "Holiday 2024");
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(NewJobTest, NamesTheJobListCannotShowAreRefusedWithAMessage) {
  const char* refused[] = {".hidden", ".", "..", "New...", "Delete", "---------------"};
  dialog_.show();
  for (const char* name : refused) {
    SCOPED_TRACE(name);
    boxes_.shown.clear();
    edit()->setText(name);
    QTest::mouseClick(button("IDOK"), Qt::LeftButton);
    EXPECT_TRUE(dialog_.isVisible()) << "the dialog stays open";
    ASSERT_EQ(boxes_.shown.size(), 1u);
    EXPECT_NE(boxes_.shown[0].find("choose another name"), std::string::npos) << boxes_.shown[0];
  }
  // A name that only resembles them is fine.
  edit()->setText("Delete old");
  QTest::mouseClick(button("IDOK"), Qt::LeftButton);
  EXPECT_FALSE(dialog_.isVisible());
  EXPECT_EQ(dialog_.name(), "Delete old");
}

TEST_F(NewJobTest, AskGivesTheNameOnOkAndNothingOnCancel) {
  QTimer::singleShot(0, [] {
    auto* shown = qobject_cast<CDlgNewFolderName*>(QApplication::activeModalWidget());
    ASSERT_NE(shown, nullptr);
    QTest::keyClicks(shown->findChild<QLineEdit*>("IDC_JOB_NAME"), "Scans");
    QTest::mouseClick(shown->findChild<QPushButton*>("IDOK"), Qt::LeftButton);
  });
  EXPECT_EQ(frontend_ui::askNewJobName(nullptr, &boxes_), "Scans");

  QTimer::singleShot(0, [] {
    auto* shown = qobject_cast<CDlgNewFolderName*>(QApplication::activeModalWidget());
    ASSERT_NE(shown, nullptr);
    QTest::keyClicks(shown->findChild<QLineEdit*>("IDC_JOB_NAME"), "Scans");
    QTest::mouseClick(shown->findChild<QPushButton*>("IDCANCEL"), Qt::LeftButton);
  });
  EXPECT_EQ(frontend_ui::askNewJobName(nullptr, &boxes_), "");
}

}  // namespace
