#include "frontend/core/hashes_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "support/recording_sinks.h"
#include "support/temp_folder.h"

namespace {

using RecordedBoxes = testing_support::RecordingBoxes;
using NullLog = testing_support::RecordingLog;

using namespace frontend;
using testing_support::TempFolder;

// The tree as indented lines, each with the path GetItemPath gives.
void render(const std::vector<std::unique_ptr<FolderItem>>& items, int level, std::vector<std::string>* out) {
  for (const auto& item : items) {
    out->push_back(std::string(2 * level, ' ') + item->text + " = " + FolderTree::GetItemPath(item.get()));
    render(item->children, level + 1, out);
  }
}

std::vector<std::string> render(const FolderTree& tree) {
  std::vector<std::string> out;
  render(tree.top_level(), 0, &out);
  return out;
}

class ManageHashesTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(db_open(db_, dir_.sub("qx_main.sqlite3"))); }
  void TearDown() override { db_close(db_); }

  // Stores one digest for a file in folder; the key names the folder.
  void store(const std::string& folder, const std::string& name = "a.jpg") {
    uint8_t digest[64];
    std::memset(digest, 0x5A, sizeof digest);
    std::string key = name + "/100/2024-01-01 00:00:00/[no exif time]@" + folder;
    ASSERT_TRUE(db_put_hash(db_, digest, (folder + "/" + name).c_str(), key.c_str())) << log_.text_;
  }
  // Every stored folder and the number of keys in each.
  std::set<std::string> stored() {
    std::vector<DbRow> rows;
    EXPECT_TRUE(db_query_rows(db_,
                              "select path, (select count(*) from hash_key where hash_path_id = hash_path.rowid) "
                              "from hash_path",
                              &rows));
    std::set<std::string> out;
    for (const DbRow& row : rows) out.insert(*row[0] + " " + *row[1]);
    int keys = 0;
    EXPECT_TRUE(db_query_int(db_, "select count(*) from hash_key", &keys));
    out.insert("keys " + std::to_string(keys));
    return out;
  }

  TempFolder dir_;
  NullLog log_;
  Database db_{log_};
  RecordedBoxes boxes_;
  ManageHashesModel model_{db_, boxes_};
};

TEST_F(ManageHashesTest, TheTreeHasARootAndOneItemPerPathElement) {
  for (const char* folder : {"/a", "/a/b", "/c//d", "/a/b/e", "relative"}) store(folder);
  ASSERT_TRUE(model_.LoadFolders());
  EXPECT_EQ(render(model_.tree()), (std::vector<std::string>{
                                       "/ = /",
                                       "  a = /a",
                                       "    b = /a/b",
                                       "      e = /a/b/e",
                                       "  c = /c",
                                       "    d = /c/d",
                                       "relative = relative",
                                   }));
  FolderTree& tree = model_.tree();
  FolderItem* root = tree.FindChildItem(nullptr, "/");
  ASSERT_NE(root, nullptr);
  EXPECT_NE(tree.FindChildItem(root, "a"), nullptr);
  EXPECT_EQ(tree.FindChildItem(root, "A"), nullptr);
  EXPECT_EQ(tree.FindChildItem(root, "b"), nullptr);  // children only
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ManageHashesTest, AnEmptyTableGivesAnEmptyTreeAndPurgingNothingAsksNothing) {
  ASSERT_TRUE(model_.LoadFolders());
  EXPECT_TRUE(model_.tree().top_level().empty());
  bool asked = false;
  EXPECT_EQ(model_.OnBnClickedPurge("", [&](const std::string&) { return asked = true; }),
            PurgeOutcome::kNothingSelected);
  EXPECT_FALSE(asked);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ManageHashesTest, KeysAreThoseOfTheFolderItselfShownWithDashes) {
  store("/a", "b.jpg");
  store("/a", "a.jpg");
  store("/a/b", "c.jpg");
  EXPECT_EQ(model_.LoadKeys("/a"), (std::vector<std::string>{
                                       "a.jpg - 100 - 2024-01-01 00:00:00 - [no exif time]@ - a",
                                       "b.jpg - 100 - 2024-01-01 00:00:00 - [no exif time]@ - a",
                                   }));
  EXPECT_EQ(model_.LoadKeys("/"), (std::vector<std::string>{"", "[No hashes at this level]"}));
  EXPECT_TRUE(model_.LoadKeys("").empty());
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ManageHashesTest, ListingFailuresAreShown) {
  ASSERT_TRUE(db_exec(db_, "drop table hash_key"));
  EXPECT_TRUE(model_.LoadKeys("/a").empty());
  ASSERT_TRUE(db_exec(db_, "drop table hash_path"));
  EXPECT_FALSE(model_.LoadFolders());
  EXPECT_EQ(boxes_.shown, (std::vector<std::string>{"Can't list keys. (no such table: hash_key)",
                                                    "Can't list folders. (no such table: hash_path)"}));
  EXPECT_EQ(log_.text_, "");
}

// Folders whose names differ by what a pattern or a case-blind comparison
// would not tell apart.
const char* const kFolders[] = {"/photos",  "/photos/2008", "/photos/2008/x", "/photos2", "/Photos",
                                "/p_q",     "/pxq",         "/pxq/sub",       "/p%q",     "/p%q/in"};

struct PurgeCase {
  const char* folder;
  std::set<std::string> gone;
};

void PrintTo(const PurgeCase& c, std::ostream* out) { *out << c.folder; }

class PurgeTest : public ManageHashesTest, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(PurgeTest, TakesTheFolderAndItsSubFoldersOnly) {
  for (const char* folder : kFolders) store(folder);
  std::set<std::string> expected;
  for (const char* folder : kFolders)
    if (!GetParam().gone.count(folder)) expected.insert(std::string(folder) + " 1");
  expected.insert("keys " + std::to_string(expected.size()));

  std::vector<std::string> asked;
  EXPECT_EQ(model_.OnBnClickedPurge(GetParam().folder,
                                    [&](const std::string& question) {
                                      asked.push_back(question);
                                      return true;
                                    }),
            PurgeOutcome::kPurged);
  EXPECT_EQ(asked, std::vector<std::string>{"Purge image keys for selected folder (and subfolders) from Corvella "
                                            "database?\r\r(Will not affect images themselves.)"});
  EXPECT_EQ(stored(), expected);
  EXPECT_TRUE(boxes_.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Folders, PurgeTest,
    ::testing::Values(PurgeCase{"/photos", {"/photos", "/photos/2008", "/photos/2008/x"}},
                      PurgeCase{"/photos/2008", {"/photos/2008", "/photos/2008/x"}},
                      PurgeCase{"/Photos", {"/Photos"}},
                      PurgeCase{"/p_q", {"/p_q"}},
                      PurgeCase{"/p%q", {"/p%q", "/p%q/in"}},
                      PurgeCase{"/pxq/sub", {"/pxq/sub"}},
                      PurgeCase{"/", {kFolders, kFolders + sizeof kFolders / sizeof *kFolders}}),
    [](const ::testing::TestParamInfo<PurgeCase>& info) {
      std::string name;
      for (const char* p = info.param.folder; *p != '\0'; ++p)
        name += (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') || (*p >= '0' && *p <= '9') ? *p : '_';
      return name + "_" + std::to_string(info.index);
    });

TEST_F(ManageHashesTest, PurgingTheRootEmptiesTheTables) {
  for (const char* folder : kFolders) store(folder);
  ASSERT_EQ(model_.OnBnClickedPurge("/", [](const std::string&) { return true; }), PurgeOutcome::kPurged);
  EXPECT_EQ(stored(), std::set<std::string>{"keys 0"});
  ASSERT_TRUE(model_.LoadFolders());
  EXPECT_TRUE(model_.tree().top_level().empty());
}

TEST_F(ManageHashesTest, CancelChangesNothing) {
  for (const char* folder : kFolders) store(folder);
  std::set<std::string> before = stored();
  EXPECT_EQ(model_.OnBnClickedPurge("/photos", [](const std::string&) { return false; }), PurgeOutcome::kCancelled);
  EXPECT_EQ(stored(), before);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ManageHashesTest, AFolderNotStoredIsReported) {
  store("/photos");
  std::set<std::string> before = stored();
  EXPECT_EQ(model_.OnBnClickedPurge("/photo", [](const std::string&) { return true; }), PurgeOutcome::kFailed);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Folder(s) not found in database."});
  EXPECT_EQ(stored(), before);
}

TEST_F(ManageHashesTest, AFailedBeginStopsThere) {
  store("/photos");
  std::set<std::string> before = stored();
  // A transaction already open on the connection makes "begin" fail; every
  // later statement of the purge would succeed inside it.
  ASSERT_TRUE(db_exec(db_, "begin transaction"));
  EXPECT_EQ(model_.OnBnClickedPurge("/photos", [](const std::string&) { return true; }), PurgeOutcome::kFailed);
  EXPECT_EQ(boxes_.shown,
            std::vector<std::string>{"Can't access database; cannot start a transaction within a transaction"});
  EXPECT_EQ(stored(), before);
  ASSERT_TRUE(db_exec(db_, "rollback"));
  EXPECT_EQ(stored(), before);
}

TEST_F(ManageHashesTest, AFailedDeleteRollsBackTheWholePurge) {
  store("/photos");
  store("/photos/x");
  std::set<std::string> before = stored();
  ASSERT_TRUE(db_exec(db_,
                      "create trigger refuse before delete on hash_path when old.path = '/photos/x' "
                      "begin select raise(abort, 'refused'); end"));
  EXPECT_EQ(model_.OnBnClickedPurge("/photos", [](const std::string&) { return true; }), PurgeOutcome::kFailed);
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Can't delete records from database; refused"});
  EXPECT_EQ(stored(), before);
  // The connection is out of the transaction again.
  EXPECT_TRUE(db_exec(db_, "begin transaction"));
  EXPECT_TRUE(db_exec(db_, "rollback"));
}

TEST(FolderTree, RemovingAnItemTakesItsBranch) {
  FolderTree tree;
  tree.AddFolderPath("/a/b");
  tree.AddFolderPath("/a/c");
  tree.AddFolderPath("/d");
  FolderItem* a = tree.FindChildItem(tree.FindChildItem(nullptr, "/"), "a");
  ASSERT_NE(a, nullptr);
  tree.RemoveItem(a);
  EXPECT_EQ(render(tree), (std::vector<std::string>{"/ = /", "  d = /d"}));
}

}  // namespace
