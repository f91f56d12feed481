// The Manage Hashes window over the main window's own database: the stored
// folders as a tree, the keys of a selected folder, and Purge after the
// OK/Cancel question.
#include <gtest/gtest.h>

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <cstring>

#include "frontend/core/database.h"
#include "frontend/ui/manage_hashes_dialog.h"
#include "main_window_fixture.h"

namespace testing_support {
namespace {

class ManageHashesWindowTest : public MainWindowTest {
 protected:
  void store(const std::string& folder, const std::string& name) {
    uint8_t digest[64];
    std::memset(digest, 0x3C, sizeof digest);
    std::string key = name + "/100/2024-01-01 00:00:00/[no exif time]";
    ASSERT_TRUE(frontend::db_put_hash(*window_->database(), digest, (folder + "/" + name).c_str(), key.c_str()));
  }
  int storedFolders() {
    int n = -1;
    EXPECT_TRUE(frontend::db_query_int(*window_->database(), "select count(*) from hash_path", &n));
    return n;
  }
  CDlgManageHashes* openHashes() {
    window_->findChild<QAction*>("ID_TOOLS_MANAGE_HASHES")->trigger();
    return window_->manageHashesWindow();
  }
  static QTreeWidgetItem* child(QTreeWidgetItem* item, const char* text) {
    for (int i = 0; i < item->childCount(); ++i)
      if (item->child(i)->text(0) == text) return item->child(i);
    return nullptr;
  }
};

TEST_F(ManageHashesWindowTest, StoredFoldersShowTheirKeysAndPurgeAsksFirst) {
  open();
  store("/photos/a", "one.jpg");
  store("/photos/a/b", "two.jpg");
  store("/photos/ab", "three.jpg");

  CDlgManageHashes* hashes = openHashes();
  ASSERT_NE(hashes, nullptr);
  EXPECT_TRUE(hashes->isVisible());
  EXPECT_EQ(hashes->windowTitle(), "Manage Hashes");
  auto* tree = hashes->findChild<QTreeWidget*>("IDC_FOLDER_TREE");
  EXPECT_TRUE(tree->isVisible());
  EXPECT_FALSE(hashes->findChild<QLabel*>("IDC_RETRIEVING")->isVisible());
  ASSERT_EQ(tree->topLevelItemCount(), 1);
  QTreeWidgetItem* root = tree->topLevelItem(0);
  EXPECT_EQ(root->text(0), "/");
  EXPECT_TRUE(root->font(0).bold());
  QTreeWidgetItem* photos = child(root, "photos");
  ASSERT_NE(photos, nullptr);
  QTreeWidgetItem* a = child(photos, "a");
  ASSERT_NE(a, nullptr);
  ASSERT_NE(child(a, "b"), nullptr);
  ASSERT_NE(child(photos, "ab"), nullptr);

  auto* keys = hashes->findChild<QListWidget*>("IDC_KEY_LIST");
  auto* path = hashes->findChild<QLabel*>("IDC_FOLDER_PATH");
  tree->setCurrentItem(photos);
  EXPECT_EQ(path->text(), "/photos");
  ASSERT_EQ(keys->count(), 2);
  EXPECT_EQ(keys->item(1)->text().toStdString(), frontend::kNoHashesAtThisLevel);
  tree->setCurrentItem(a);
  EXPECT_EQ(path->text(), "/photos/a");
  ASSERT_EQ(keys->count(), 1);
  EXPECT_EQ(keys->item(0)->text(), "one.jpg - 100 - 2024-01-01 00:00:00 - [no exif time]");

  // Cancel keeps everything.
  auto* purge = hashes->findChild<QPushButton*>("IDC_PURGE");
  ui_.answers.push_back(false);
  purge->click();
  EXPECT_EQ(ui_.questions, std::vector<std::string>{frontend::kPurgeQuestion});
  EXPECT_EQ(storedFolders(), 3);
  EXPECT_EQ(child(photos, "a"), a);

  // OK takes the folder and its sub-folder, not its neighbour.
  ui_.answers.push_back(true);
  purge->click();
  EXPECT_EQ(storedFolders(), 1);
  EXPECT_EQ(child(photos, "a"), nullptr);
  ASSERT_NE(child(photos, "ab"), nullptr);
  EXPECT_EQ(path->text(), "");
  EXPECT_TRUE(ui_.messages.empty());

  // Purging with nothing selected asks nothing.
  purge->click();
  EXPECT_EQ(ui_.questions.size(), 2u);

  // Every opening rebuilds the tree.
  hashes->findChild<QPushButton*>("IDOK")->click();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(window_->manageHashesWindow(), nullptr);
  hashes = openHashes();
  ASSERT_NE(hashes, nullptr);
  tree = hashes->findChild<QTreeWidget*>("IDC_FOLDER_TREE");
  photos = child(tree->topLevelItem(0), "photos");
  ASSERT_NE(photos, nullptr);
  EXPECT_EQ(photos->childCount(), 1);
}

}  // namespace
}  // namespace testing_support
