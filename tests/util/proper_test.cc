#include "util/proper.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/files.h"
#include "support/temp_folder.h"
#include "util/trace.h"

namespace {

using testing_support::read_file;
using testing_support::TempFolder;

class ProperTest : public ::testing::Test {
 protected:
  void SetUp() override {
    trace_clear();
    root_ = dir_.sub("root");
    ASSERT_TRUE(PropInit(root_.c_str()));
  }
  void TearDown() override {
    PropRootFree();
    trace_clear();
  }
  std::string set_file(const std::string& name) { return root_ + "/QXMain/" + name; }
  std::string write_set(const std::string& name, const std::string& contents) {
    return dir_.write_file("root/QXMain/" + name, contents);
  }
  // The values of a property as text, in order.
  static std::vector<std::string> values(PROPSET* ps, const char* name) {
    std::vector<std::string> out;
    for (int i = 0;; ++i) {
      PROPVAL* pv = PropGet(ps, name, i);
      if (pv == nullptr) break;
      out.push_back(pv->type == PROPVAL_STR ? pv->v.strval : "int:" + std::to_string(pv->v.intval));
    }
    return out;
  }
  static std::vector<std::string> names(PROPSET* ps) {
    std::vector<std::string> out;
    for (PROP* p = ps->first; p != nullptr; p = p->next) out.push_back(p->propname);
    return out;
  }
  static std::string top_trace() { return trace_top() != nullptr ? trace_top()->text : ""; }
  // The body of a set file after its two header lines.
  static std::string body(const std::string& text) {
    auto first = text.find('\n');
    auto second = text.find('\n', first + 1);
    return text.substr(second + 1);
  }

  TempFolder dir_;
  std::string root_;
};

TEST_F(ProperTest, NamesMergeWithoutRegardToCaseAndKeepFileOrder) {
  write_set("Job", "Version\t1\nDate\tThu Dec 10 13:25:21 2026\nFolders\t/p/one\nfolders\t/p/two\nFOLDERS\t/p/three\n");
  PROPSET* ps = PropSetOpen("Job");
  ASSERT_NE(ps, nullptr);
  EXPECT_EQ(names(ps), (std::vector<std::string>{"Version", "Date", "Folders"}));
  EXPECT_EQ(values(ps, "fOlDeRs"), (std::vector<std::string>{"/p/one", "/p/two", "/p/three"}));
  EXPECT_EQ(values(ps, "Date"), (std::vector<std::string>{"Thu Dec 10 13:25:21 2026"}));
  EXPECT_FALSE(ps->changed);
  PropSetFree(ps);
}

TEST_F(ProperTest, LinesSplitAtTheFirstTabAfterTheName) {
  struct Case {
    const char* line;
    const char* name;
    const char* value;
  } cases[] = {
      {"Plain\tvalue", "Plain", "value"},
      {"\t\tLeading\ttabs", "Leading", "tabs"},
      {"Two\t\tstarts with a tab", "Two", "\tstarts with a tab"},
      {"Many\ta\tb\tc", "Many", "a\tb\tc"},
      {"NoTab", "NoTab", ""},
      {"Empty\t", "Empty", ""},
      {"Windows\tline\r", "Windows", "line"},
  };
  for (const auto& c : cases) {
    write_set("Split", std::string(c.line) + "\n");
    PROPSET* ps = PropSetOpen("Split");
    ASSERT_NE(ps, nullptr) << c.line;
    EXPECT_EQ(names(ps), std::vector<std::string>{c.name}) << c.line;
    EXPECT_EQ(values(ps, c.name), std::vector<std::string>{c.value}) << c.line;
    PropSetFree(ps);
  }
}

TEST_F(ProperTest, IntegersAreWrittenInDecimalAndReadBackAsText) {
  PROPSET* ps = propset_alloc(kPropCategory, "Ints");
  ASSERT_TRUE(PropPutInt(ps, "MaxSubProcesses", 1));
  ASSERT_TRUE(PropPutInt(ps, "Negative", -42));
  ASSERT_TRUE(PropSetSave(ps));
  PropSetFree(ps);
  EXPECT_EQ(body(read_file(set_file("Ints"))), "MaxSubProcesses\t1\nNegative\t-42\n");
  ps = PropSetOpen("Ints");
  ASSERT_NE(ps, nullptr);
  EXPECT_EQ(values(ps, "MaxSubProcesses"), std::vector<std::string>{"1"});
  PropSetFree(ps);
}

TEST_F(ProperTest, LineBreaksInValuesBecomeBlanks) {
  PROPSET* ps = propset_alloc(kPropCategory, "Breaks");
  ASSERT_TRUE(PropPutStr(ps, "Note", 0, "one\ntwo\r\nthree"));
  EXPECT_EQ(values(ps, "Note"), std::vector<std::string>{"one two  three"});
  ASSERT_TRUE(PropSetSave(ps));
  EXPECT_EQ(body(read_file(set_file("Breaks"))), "Note\tone two  three\n");
  PropSetFree(ps);
}

TEST_F(ProperTest, SavingWritesOneFreshHeaderAndNoStoredVersionOrDate) {
  write_set("Head", "Version\t7\nDate\tMon Jan  1 00:00:00 2001\nKeep\tme\n");
  PROPSET* ps = PropSetOpen("Head");
  ASSERT_NE(ps, nullptr);
  ASSERT_TRUE(PropPutStr(ps, "date", 0, "not written"));
  ASSERT_TRUE(PropSetSave(ps));
  PropSetFree(ps);
  std::string text = read_file(set_file("Head"));
  ASSERT_EQ(text.rfind("Version\t1\nDate\t", 0), 0u) << text;
  std::string date_line = text.substr(strlen("Version\t1\nDate\t"), text.find('\n', 10) - strlen("Version\t1\nDate\t"));
  EXPECT_EQ(date_line.size(), 24u) << date_line;  // ctime text: "Thu Dec 10 13:25:21 2026"
  EXPECT_EQ(date_line.find("2001"), std::string::npos);
  EXPECT_EQ(body(text), "Keep\tme\n");
}

TEST_F(ProperTest, LongLinesRoundTripAndTheFileDoesNotGrow) {
  std::string folder = "/photos/" + std::string(3000, 'x');
  PROPSET* ps = propset_alloc(kPropCategory, "Long");
  ASSERT_TRUE(PropPutStr(ps, "Folders", -1, folder.c_str()));
  ASSERT_TRUE(PropSetSave(ps));
  PropSetFree(ps);
  std::string first = body(read_file(set_file("Long")));
  for (int i = 0; i < 3; ++i) {
    ps = PropSetOpen("Long");
    ASSERT_NE(ps, nullptr);
    EXPECT_EQ(values(ps, "Folders"), std::vector<std::string>{folder});
    EXPECT_EQ(names(ps).size(), 3u);  // Version, Date, Folders
    ps->changed = true;
    ASSERT_TRUE(PropSetSave(ps));
    PropSetFree(ps);
  }
  EXPECT_EQ(body(read_file(set_file("Long"))), first);
}

TEST_F(ProperTest, BlankLinesAreIgnoredAndATabsOnlyLastLineFailsTheRead) {
  write_set("Blank", "A\t1\n\n\nB\t2\n");
  PROPSET* ps = PropSetOpen("Blank");
  ASSERT_NE(ps, nullptr);
  EXPECT_EQ(names(ps), (std::vector<std::string>{"A", "B"}));
  PropSetFree(ps);

  write_set("Tabs", "A\t1\n\t\t");
  EXPECT_EQ(PropSetOpen("Tabs"), nullptr);
  EXPECT_EQ(top_trace(), "[fcn???] [proper:325] prop_read(ps, path_set)");
  EXPECT_EQ(trace_top()->next->text, std::string("[fcn???] [proper:141] 0"));
}

TEST_F(ProperTest, PutReplacesByIndexAndAppendsPastTheEnd) {
  PROPSET* ps = propset_alloc(kPropCategory, nullptr);
  ASSERT_TRUE(PropPutStr(ps, "F", -1, "a"));
  ASSERT_TRUE(PropPutStr(ps, "f", -1, "b"));
  ASSERT_TRUE(PropPutStr(ps, "F", 9, "c"));
  ASSERT_TRUE(PropPutStr(ps, "F", 1, "B"));
  ASSERT_TRUE(PropPutInt(ps, "F", 5));
  EXPECT_EQ(values(ps, "F"), (std::vector<std::string>{"int:5", "B", "c"}));
  ASSERT_TRUE(PropPutStr(ps, "G", 0, nullptr));
  EXPECT_EQ(values(ps, "G"), std::vector<std::string>{""});
  PropDelete(ps, "f");
  PropDelete(ps, "absent");
  EXPECT_EQ(names(ps), std::vector<std::string>{"G"});
  EXPECT_EQ(PropGet(ps, "F", 0), nullptr);
  PropSetFree(ps);
}

TEST_F(ProperTest, AnUnchangedSetIsNotWritten) {
  std::string contents = "Version\t1\nDate\tMon Jan  1 00:00:00 2001\nA\t1\n";
  write_set("Same", contents);
  PROPSET* ps = PropSetOpen("Same");
  ASSERT_NE(ps, nullptr);
  EXPECT_TRUE(PropSetSave(ps));
  EXPECT_EQ(read_file(set_file("Same")), contents);
  PropSetFree(ps);
}

TEST_F(ProperTest, RenameSavesACopyAndLeavesTheOldFile) {
  PROPSET* ps = propset_alloc(kPropCategory, "Old");
  PropPutStr(ps, "A", 0, "1");
  ASSERT_TRUE(PropSetSave(ps));
  ASSERT_TRUE(PropSetRename(ps, "New"));
  EXPECT_STREQ(ps->setname, "New");
  EXPECT_TRUE(platform::exists(set_file("Old")));
  EXPECT_EQ(body(read_file(set_file("New"))), "A\t1\n");
  PropSetFree(ps);
}

TEST_F(ProperTest, AFailedSaveKeepsTheOldFileAndLeavesNoTemporaryFile) {
  // The set's file name is taken by a non-empty folder, so the final rename fails.
  dir_.write_file("root/QXMain/Busy/inside", "keep");
  PROPSET* ps = propset_alloc(kPropCategory, "Busy");
  PropPutStr(ps, "A", 0, "1");
  EXPECT_FALSE(PropSetSave(ps));
  EXPECT_TRUE(ps->changed);
  EXPECT_EQ(top_trace(), "[fcn???] [proper:402] 0");
  EXPECT_EQ(read_file(set_file("Busy/inside")), "keep");
  auto names = platform::list_folder(root_ + "/QXMain");
  EXPECT_EQ(*names, std::vector<std::string>{"Busy"});
  PropSetFree(ps);
}

TEST_F(ProperTest, NamesThatWouldLeaveTheCategoryFolderAreRefused) {
  for (const char* name : {"", ".", "..", "../escape", "a/b", ".hidden"}) {
    trace_clear();
    EXPECT_EQ(PropSetOpen(name), nullptr) << name;
    EXPECT_EQ(top_trace(), "[fcn???] [proper:324] path_set = get_set_path(category, setname)") << name;
    PROPSET* ps = propset_alloc(kPropCategory, name);
    PropPutStr(ps, "A", 0, "1");
    EXPECT_FALSE(PropSetSave(ps)) << name;
    PropSetFree(ps);
    EXPECT_FALSE(PropSetDelete(name)) << name;
  }
  EXPECT_FALSE(platform::exists(dir_.sub("escape")));
  EXPECT_EQ(PropSetCount(), 0);
}

TEST_F(ProperTest, AnUnnamedSetCannotBeSaved) {
  PROPSET* ps = PropSetOpen(nullptr);
  ASSERT_NE(ps, nullptr);
  EXPECT_EQ(ps->setname, nullptr);
  PropPutStr(ps, "A", 0, "1");
  EXPECT_FALSE(PropSetSave(ps));
  EXPECT_EQ(top_trace(), "[fcn???] [proper:373] 0");
  PropSetFree(ps);
}

TEST_F(ProperTest, EnumerationListsRegularFilesInNameOrder) {
  EXPECT_EQ(PropSetCount(), 0);  // no category folder yet
  write_set("Zeta", "A\t1\n");
  write_set("Alpha", "A\t1\n");
  write_set(".Alpha.123.0", "left-over temporary file\n");
  ASSERT_TRUE(platform::make_folder(set_file("Folder")));
  EXPECT_EQ(PropSetCount(), 2);
  char* name = nullptr;
  ASSERT_TRUE(PropSetEnum(0, &name));
  EXPECT_STREQ(name, "Alpha");
  free(name);
  ASSERT_TRUE(PropSetEnum(1, &name));
  EXPECT_STREQ(name, "Zeta");
  free(name);
  ASSERT_TRUE(PropSetEnum(2, &name));
  EXPECT_EQ(name, nullptr);
}

TEST_F(ProperTest, OpeningOrDeletingAMissingSetFailsWithATrace) {
  EXPECT_EQ(PropSetOpen("Missing"), nullptr);
  EXPECT_EQ(top_trace(), "[fcn???] [proper:325] prop_read(ps, path_set)");
  EXPECT_EQ(trace_top()->next->text, std::string("[fcn???] [proper:135] 0"));
  EXPECT_EQ(trace_top()->next->err, ENOENT);
  EXPECT_FALSE(PropSetDelete("Missing"));
  EXPECT_EQ(top_trace(), "[fcn???] [proper:306] unlink(path_set)");
}

TEST_F(ProperTest, DeleteRemovesTheFile) {
  write_set("Gone", "A\t1\n");
  EXPECT_TRUE(PropSetDelete("Gone"));
  EXPECT_FALSE(platform::exists(set_file("Gone")));
}

TEST_F(ProperTest, InitMakesOneFolderLevel) {
  EXPECT_TRUE(PropInit(root_.c_str()));  // already there
  EXPECT_TRUE(PropInit(nullptr));        // absent: nothing changes
  EXPECT_STREQ(PropRoot(), root_.c_str());
  EXPECT_FALSE(PropInit(dir_.sub("no/such/parent").c_str()));
  EXPECT_EQ(top_trace(), "[fcn???] [proper:230] 0");
  EXPECT_TRUE(PropInit(dir_.sub("fresh").c_str()));
  EXPECT_TRUE(platform::is_folder(dir_.sub("fresh")));
}

}  // namespace
