// The About box shows the version text it is given.
#include "frontend/ui/about_dialog.h"

#include <gtest/gtest.h>

#include <QLabel>

#include "frontend/ui/update_check.h"
#include "qt_app.h"

namespace {

class AboutTest : public testing_support::QtTest {};

TEST_F(AboutTest, ShowsTheBuildsVersion) {
  CAboutDlg about(frontend_ui::productVersion());
  about.show();
  EXPECT_EQ(about.windowTitle(), "About Corvella");
  EXPECT_EQ(about.findChild<QLabel*>("IDC_VERSION")->text(), CORVELLA_VERSION);
}

TEST_F(AboutTest, ShowsAVersionMarkedUpToDate) {
  CAboutDlg about(QString(CORVELLA_VERSION) + " (up-to-date)");
  EXPECT_EQ(about.findChild<QLabel*>("IDC_VERSION")->text(), QString(CORVELLA_VERSION) + " (up-to-date)");
}

}  // namespace
