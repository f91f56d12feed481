#include "util/walker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/child_process.h"
#include "support/temp_folder.h"

namespace {

using testing_support::TempFolder;

struct Report {
  std::string path;  // relative to the walk's start folder
  int kind;
  int level;
  bool operator==(const Report& o) const { return path == o.path && kind == o.kind && level == o.level; }
};

std::ostream& operator<<(std::ostream& os, const Report& r) {
  return os << "{" << r.path << ", " << r.kind << ", " << r.level << "}";
}

struct Collected {
  std::string root;
  std::vector<Report> reports;
  int stop_after = -1;  // stop the walk with 7 after this many reports
};

int collect(const char* path, const struct stat*, int kind, const WalkInfo* info, void* user) {
  auto* c = static_cast<Collected*>(user);
  std::string p = path;
  EXPECT_EQ(p.substr(static_cast<size_t>(info->base)).find('/'), std::string::npos) << p;
  c->reports.push_back({p.size() > c->root.size() ? p.substr(c->root.size() + 1) : ".", kind, info->level});
  if (c->stop_after >= 0 && static_cast<int>(c->reports.size()) >= c->stop_after) return 7;
  return 0;
}

std::string g_output;
void capture_output(const char* format, ...) {
  char buf[8192];
  va_list args;
  va_start(args, format);
  vsnprintf(buf, sizeof buf, format, args);
  va_end(args);
  g_output += buf;
}

class WalkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_output.clear();
    walk_set_output_hook(capture_output);
    dir_.write_file("b.jpg", "b");
    dir_.write_file("a.jpg", "a");
    dir_.write_file("sub/c.tif", "c");
  }
  void TearDown() override { walk_set_output_hook(nullptr); }
  Collected walk(int depth) {
    Collected c{dir_.path(), {}};
    EXPECT_EQ(walk_folder(dir_.path().c_str(), collect, depth, &c), 0);
    return c;
  }
  TempFolder dir_;
};

TEST_F(WalkerTest, ReportsTheFolderThenEachEntryAndEntersSubFoldersAtOnce) {
  dir_.write_file("z.psd", "z");
  EXPECT_EQ(walk(0).reports, (std::vector<Report>{{".", kWalkFolder, 0},
                                                  {"a.jpg", kWalkFile, 1},
                                                  {"b.jpg", kWalkFile, 1},
                                                  {"sub", kWalkFolder, 1},
                                                  {"sub/c.tif", kWalkFile, 2},
                                                  {"z.psd", kWalkFile, 1}}));
}

TEST_F(WalkerTest, DepthMinusOneStaysInTheStartFolder) {
  EXPECT_EQ(walk(-1).reports, (std::vector<Report>{{".", kWalkFolder, 0}, {"a.jpg", kWalkFile, 1}, {"b.jpg", kWalkFile, 1}}));
}

TEST_F(WalkerTest, StartDepthCarriesDown) {
  auto reports = walk(3).reports;
  ASSERT_EQ(reports.size(), 5u);
  EXPECT_EQ(reports[0].level, 3);
  EXPECT_EQ(reports[4], (Report{"sub/c.tif", kWalkFile, 5}));
}

TEST_F(WalkerTest, ACallbackResultStopsTheWholeWalk) {
  Collected c{dir_.path(), {}, 4};
  EXPECT_EQ(walk_folder(dir_.path().c_str(), collect, 0, &c), 7);
  EXPECT_EQ(c.reports.size(), 4u);
}

TEST_F(WalkerTest, RecycleBinIsNeitherReportedNorEntered) {
  dir_.write_file("$Recycle.Bin/old.jpg", "x");
  for (const auto& r : walk(0).reports) EXPECT_EQ(r.path.find("Recycle"), std::string::npos) << r;
}

TEST_F(WalkerTest, ATrailingSlashIsNotDoubled) {
  Collected c{dir_.path(), {}};
  std::string with_slash = dir_.path() + "/";
  walk_folder(with_slash.c_str(), collect, -1, &c);
  ASSERT_EQ(c.reports.size(), 3u);
  EXPECT_EQ(c.reports[1].path, "a.jpg");
}

TEST_F(WalkerTest, DanglingLinkIsReportedAndTheWalkGoesOn) {
  ASSERT_EQ(symlink("nowhere.jpg", dir_.sub("a0-dangling.jpg").c_str()), 0);
  auto reports = walk(0).reports;
  EXPECT_EQ(reports, (std::vector<Report>{{".", kWalkFolder, 0},
                                          {"a.jpg", kWalkFile, 1},
                                          {"a0-dangling.jpg", kWalkUnreadable, 1},
                                          {"b.jpg", kWalkFile, 1},
                                          {"sub", kWalkFolder, 1},
                                          {"sub/c.tif", kWalkFile, 2}}));
  EXPECT_EQ(g_output, "\nERROR accessing " + dir_.sub("a0-dangling.jpg") + " (No such file or directory)\n\n");
}

TEST_F(WalkerTest, AFolderThatCannotBeReadIsReportedWithItsReasonAndTheWalkGoesOn) {
  dir_.write_file("locked/hidden.jpg", "h");
  ASSERT_EQ(chmod(dir_.sub("locked").c_str(), 0), 0);
  std::string root = dir_.path();
  // The walk runs in a child without root's rights, for which the folder is
  // closed; its reports come back through a file.
  std::string out = dir_.sub("reports.txt");
  int rc = testing_support::run_unprivileged(root, [&] {
    Collected c{root, {}};
    static std::vector<int> errors;
    auto record = [](const char* path, const struct stat* st, int kind, const WalkInfo* info, void* user) {
      if (kind == kWalkUnreadable) errors.push_back(info->error);
      return collect(path, st, kind, info, user);
    };
    if (walk_folder(root.c_str(), record, 0, &c) != 0) return 1;
    FILE* f = fopen(out.c_str(), "w");
    if (f == nullptr) return 2;
    for (const auto& r : c.reports) fprintf(f, "%s %d %d\n", r.path.c_str(), r.kind, r.level);
    for (int e : errors) fprintf(f, "errno %d\n", e);
    fclose(f);
    return 0;
  });
  chmod(dir_.sub("locked").c_str(), 0755);
  if (rc == testing_support::kCannotDropRoot) GTEST_SKIP() << "root cannot be given up here";
  ASSERT_EQ(rc, 0);
  EXPECT_EQ(testing_support::read_file(out),
            ". 2 0\na.jpg 1 1\nb.jpg 1 1\nlocked 2 1\nlocked 3 1\nsub 2 1\nsub/c.tif 1 2\nerrno " +
                std::to_string(EACCES) + "\n");
}

TEST_F(WalkerTest, LinksToFilesAndFoldersAreFollowedButLoopsEnd) {
  ASSERT_EQ(symlink("a.jpg", dir_.sub("link.jpg").c_str()), 0);
  ASSERT_EQ(symlink("..", dir_.sub("sub/up").c_str()), 0);            // back to the start
  ASSERT_EQ(symlink(dir_.path().c_str(), dir_.sub("self").c_str()), 0);  // the start again
  auto reports = walk(0).reports;
  EXPECT_EQ(reports, (std::vector<Report>{{".", kWalkFolder, 0},
                                          {"a.jpg", kWalkFile, 1},
                                          {"b.jpg", kWalkFile, 1},
                                          {"link.jpg", kWalkFile, 1},
                                          {"sub", kWalkFolder, 1},
                                          {"sub/c.tif", kWalkFile, 2}}));
}

TEST_F(WalkerTest, FifosSocketsAndDevicesAreNotReported) {
  ASSERT_EQ(mkfifo(dir_.sub("pipe.jpg").c_str(), 0644), 0);
  auto reports = walk(0).reports;
  for (const auto& r : reports) EXPECT_NE(r.path, "pipe.jpg");
  EXPECT_EQ(reports.size(), 5u);
}

TEST_F(WalkerTest, PathsLongerThanTheSystemAllowsAreReportedAndSkipped) {
  // Build a chain of folders whose full path passes PATH_MAX, relative to
  // open folders so that each step stays short.
  std::string name(200, 'd');
  int fd = open(dir_.sub("sub").c_str(), O_RDONLY | O_DIRECTORY);
  ASSERT_GE(fd, 0);
  size_t length = dir_.sub("sub").size();
  while (length < PATH_MAX + 300) {
    ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
    int next = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
    close(fd);
    ASSERT_GE(next, 0);
    fd = next;
    length += name.size() + 1;
  }
  close(fd);
  dir_.write_file("z.jpg", "after the deep branch");
  auto reports = walk(0).reports;
  EXPECT_EQ(reports.back(), (Report{"z.jpg", kWalkFile, 1}));
  // The whole line, reason included, however long the path.
  EXPECT_NE(g_output.find("/" + name + " (File name too long)\n\n"), std::string::npos) << g_output;
  int too_long = 0;
  for (const auto& r : reports) {
    if (r.kind == kWalkUnreadable) {
      ++too_long;
      continue;
    }
    EXPECT_LT(dir_.path().size() + 1 + r.path.size(), static_cast<size_t>(PATH_MAX));
  }
  EXPECT_EQ(too_long, 1);
  EXPECT_TRUE(platform::remove_tree(dir_.sub("sub")));
}

TEST_F(WalkerTest, AMissingStartFolderFails) {
  Collected c{dir_.path(), {}};
  EXPECT_EQ(walk_folder(dir_.sub("missing").c_str(), collect, 0, &c), -1);
  EXPECT_TRUE(c.reports.empty());
  EXPECT_NE(g_output.find("ERROR accessing"), std::string::npos);
}

TEST_F(WalkerTest, ListFilesGivesFilesAndFoldersDirectlyInside) {
  dir_.write_file("sub/deeper/x.jpg", "x");
  FileList* list = list_files(dir_.path().c_str());
  ASSERT_NE(list, nullptr);
  std::vector<std::string> names(list->names, list->names + list->count);
  EXPECT_EQ(names, (std::vector<std::string>{"a.jpg", "b.jpg", "sub"}));
  EXPECT_EQ(list->cursor, 0);
  free_file_list(list);
  EXPECT_EQ(list_files(dir_.sub("missing").c_str()), nullptr);
}

}  // namespace
