#include "platform/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include "support/temp_folder.h"

namespace {

using testing_support::read_file;
using testing_support::TempFolder;

TEST(Files, ListFolderGivesSortedNamesWithoutDots) {
  TempFolder dir;
  dir.write_file("b.jpg", "");
  dir.write_file("A.jpg", "");
  dir.write_file("a.jpg", "");
  ASSERT_TRUE(platform::make_folder(dir.sub("sub")));
  auto names = platform::list_folder(dir.path());
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, (std::vector<std::string>{"A.jpg", "a.jpg", "b.jpg", "sub"}));
  EXPECT_FALSE(platform::list_folder(dir.sub("missing")));
}

TEST(Files, MakeFolderAcceptsAFolderButNotAFileInTheWay) {
  TempFolder dir;
  EXPECT_TRUE(platform::make_folder(dir.sub("x")));
  EXPECT_TRUE(platform::make_folder(dir.sub("x")));
  dir.write_file("file", "data");
  EXPECT_FALSE(platform::make_folder(dir.sub("file")));
  EXPECT_FALSE(platform::make_folder(dir.sub("no/parent")));
  EXPECT_TRUE(platform::make_folders(dir.sub("a/b/c")));
  EXPECT_TRUE(platform::is_folder(dir.sub("a/b/c")));
}

TEST(Files, ReplaceFileSwapsContentsAndKeepsTheOldFileWhenItFails) {
  TempFolder dir;
  std::string target = dir.write_file("set", "old");
  std::string temp = dir.write_file(".set.tmp", "new");
  ASSERT_TRUE(platform::replace_file(temp, target));
  EXPECT_EQ(read_file(target), "new");
  EXPECT_FALSE(platform::exists(temp));

  // A non-empty folder in the way cannot be replaced: nothing is lost.
  dir.write_file("busy/inside", "keep");
  std::string temp2 = dir.write_file(".busy.tmp", "other");
  EXPECT_FALSE(platform::replace_file(temp2, dir.sub("busy")));
  EXPECT_EQ(read_file(dir.sub("busy/inside")), "keep");
  EXPECT_EQ(read_file(temp2), "other");
}

TEST(Files, TempFolderPrefersTmpThenTmpdirThenSlashTmp) {
  TempFolder dir;
  testing_support::IsolatedEnvironment env(dir.path());
  setenv("TMP", "/from/tmp", 1);
  setenv("TMPDIR", "/from/tmpdir", 1);
  EXPECT_EQ(platform::temp_folder(), "/from/tmp");
  unsetenv("TMP");
  EXPECT_EQ(platform::temp_folder(), "/from/tmpdir");
  setenv("TMPDIR", "", 1);
  EXPECT_EQ(platform::temp_folder(), "/tmp");
}

TEST(Files, MakeTempFolderIsPrivateAndUnderTheTempFolder) {
  TempFolder dir;
  testing_support::IsolatedEnvironment env(dir.path());
  auto made = platform::make_temp_folder("conv-");
  ASSERT_TRUE(made);
  EXPECT_EQ(made->rfind(dir.sub("tmp/conv-"), 0), 0u) << *made;
  struct stat st;
  ASSERT_TRUE(platform::file_status(*made, &st));
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  std::string again = *made;
  EXPECT_NE(*platform::make_temp_folder("conv-"), again);
}

TEST(Files, RemoveTreeRemovesEverythingButFollowsNoLinks) {
  TempFolder dir;
  TempFolder outside;
  std::string kept = outside.write_file("keep.txt", "x");
  dir.write_file("t/a/b.txt", "1");
  ASSERT_EQ(symlink(outside.path().c_str(), dir.sub("t/link").c_str()), 0);
  EXPECT_TRUE(platform::remove_tree(dir.sub("t")));
  EXPECT_FALSE(platform::exists(dir.sub("t")));
  EXPECT_TRUE(platform::exists(kept));
}

TEST(Files, AppDataFolderFromXdgOrHomeIsCreated) {
  TempFolder dir;
  testing_support::IsolatedEnvironment env(dir.path());
  setenv("XDG_DATA_HOME", dir.sub("xdg/data").c_str(), 1);
  EXPECT_EQ(platform::app_data_folder(), dir.sub("xdg/data"));
  EXPECT_TRUE(platform::is_folder(dir.sub("xdg/data")));
  unsetenv("XDG_DATA_HOME");
  setenv("HOME", dir.sub("h").c_str(), 1);
  EXPECT_EQ(platform::app_data_folder(), dir.sub("h/.local/share"));
  // A relative XDG_DATA_HOME is ignored, as the base-directory rules say.
  setenv("XDG_DATA_HOME", "relative", 1);
  EXPECT_EQ(platform::app_data_folder(), dir.sub("h/.local/share"));
}

TEST(Files, JoinPathPutsExactlyOneSlash) {
  EXPECT_EQ(platform::join_path("/a", "b"), "/a/b");
  EXPECT_EQ(platform::join_path("/a/", "b"), "/a/b");
  EXPECT_EQ(platform::join_path("", "b"), "b");
}

TEST(Files, ErrnoTextIsTheSystemMessage) {
  EXPECT_EQ(platform::errno_text(ENOENT), "No such file or directory");
  EXPECT_FALSE(platform::errno_text(99999).empty());
}

}  // namespace
