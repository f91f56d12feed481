// Image Examination windows: Tools-Examine asks for a file and opens a new
// window with its dump; a file that cannot be read gives the error line.
#include <gtest/gtest.h>

#include <QAction>
#include <QPlainTextEdit>

#include "frontend/core/examine_text.h"
#include "frontend/ui/examine_dialog.h"
#include "main_window_fixture.h"

namespace testing_support {
namespace {

using ExamineWindowTest = MainWindowTest;

std::vector<CDlgExamine*> examineWindows(QWidget* parent) {
  std::vector<CDlgExamine*> out;
  for (CDlgExamine* w : parent->findChildren<CDlgExamine*>()) out.push_back(w);
  return out;
}

TEST_F(ExamineWindowTest, ToolsExamineOpensANewWindowPerChosenFile) {
  CCorvellaDlg& window = open();
  QAction* examine = window.findChild<QAction*>("ID_TOOLS_EXAMINE");
  ASSERT_NE(examine, nullptr);

  // Nothing chosen: no window.
  examine->trigger();
  EXPECT_TRUE(examineWindows(&window).empty());

  std::string tiff = std::string(CORVELLA_FIXTURES) + "/examine/gray_8bit_multipage.tiff";
  std::string missing = dir_.sub("missing.tif");
  ui_.files = {tiff, missing};
  examine->trigger();
  examine->trigger();
  EXPECT_EQ(ui_.file_starts, (std::vector<std::string>{"", "", tiff}));  // starts at the last one examined

  std::vector<CDlgExamine*> shown = examineWindows(&window);
  ASSERT_EQ(shown.size(), 2u);
  CDlgExamine* first = shown[0]->windowTitle().toStdString() == tiff ? shown[0] : shown[1];
  CDlgExamine* second = first == shown[0] ? shown[1] : shown[0];
  EXPECT_TRUE(first->isVisible());
  EXPECT_TRUE(second->isVisible());

  std::string dump = first->text().toStdString();
  EXPECT_EQ(dump.rfind(tiff + "\n", 0), 0u);
  EXPECT_NE(dump.find("\n[This examination did not verify actual image data.]\n"), std::string::npos);
  EXPECT_EQ(dump.find('\r'), std::string::npos);
  EXPECT_TRUE(first->findChild<QPlainTextEdit*>("IDC_EXAMINE_TEXT")->isReadOnly());

  std::string error = second->text().toStdString();
  EXPECT_EQ(second->windowTitle().toStdString(), missing);
  EXPECT_NE(error.find("\nERROR: Can't open file\n"), std::string::npos) << error;
  EXPECT_NE(error.find("(The file may be OK, but in a format"), std::string::npos) << error;

  // Closing one leaves the other.
  first->close();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  ASSERT_EQ(examineWindows(&window).size(), 1u);
  EXPECT_EQ(examineWindows(&window).front(), second);
}

}  // namespace
}  // namespace testing_support
