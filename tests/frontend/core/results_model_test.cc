#include "frontend/core/results_model.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "support/recording_sinks.h"
#include "support/temp_folder.h"
#include "util/proper.h"

namespace {

using RecordedBoxes = testing_support::RecordingBoxes;
using NullLog = testing_support::RecordingLog;

using namespace frontend;
using testing_support::TempFolder;

// The tree as indented lines: "name (kind run_id)".
void render(const ResultObj& node, std::vector<std::string>* out) {
  for (const ResultObj& child : node.children) {
    out->push_back(std::string(2 * (child.depth - 1), ' ') + child.name + " (" + std::to_string(child.kind) +
                   " " + std::to_string(child.run_id) + ")");
    render(child, out);
  }
}

std::vector<std::string> render(const ResultObj& root) {
  std::vector<std::string> out;
  render(root, &out);
  return out;
}

// A results database over a temporary folder and a settings store whose
// sets are the jobs.
class ResultsModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(PropInit(dir_.sub("root").c_str()));
    ASSERT_TRUE(db_open(db_, dir_.sub("qx_main.sqlite3")));
  }
  void TearDown() override {
    db_close(db_);
    PropRootFree();
  }

  void add_job(const std::string& name) { dir_.write_file("root/QXMain/" + name, "Version\t1\n"); }
  void exec(const std::string& sql) { ASSERT_TRUE(db_exec(db_, sql)) << sql << log_.text_; }
  // A finished run with its folders; gives its run id.
  int add_run(const std::string& job, const std::string& start, std::vector<std::string> folders = {}) {
    exec(db_format(
        "insert into run (job, start_dt, stop_dt, status, num_processed, num_valid, num_invalid, "
        "num_indeterminate, num_error, num_skipped, scheduled, num_hash) "
        "values(%Q, %Q, %Q, 'OK', 5, 4, 1, 0, 0, 0, 0, 0)",
        job.c_str(), start.c_str(), start.c_str()));
    int id = 0;
    EXPECT_TRUE(db_query_int(db_, "select max(run_sk) from run", &id));
    for (const std::string& folder : folders)
      exec(db_format("insert into folder (run_id, path) values(%d, %Q)", id, folder.c_str()));
    return id;
  }

  TempFolder dir_;
  testing_support::IsolatedEnvironment env_{dir_.path()};
  NullLog log_;
  Database db_{log_};
  RecordedBoxes boxes_;
  ResultsModel model_{db_, boxes_};
};

TEST_F(ResultsModelTest, AnEmptyDatabaseShowsTheGroupsAndTheJobNodes) {
  add_job("Weekly");
  add_job("Archive");
  ASSERT_TRUE(model_.LoadRuns());
  EXPECT_EQ(render(model_.root()), (std::vector<std::string>{
                                       "Runs Sorted By Date (last 10) (0 0)",
                                       "Runs Sorted By Job (0 0)",
                                       "  Archive (1 0)",
                                       "  Weekly (1 0)",
                                       "Runs Sorted By Folder (0 0)",
                                   }));
  EXPECT_EQ(model_.root().name, "ROOT");
  EXPECT_EQ(model_.root().kind, ResultObj::kNotSet);
  EXPECT_EQ(model_.root().run_id, -1);
  EXPECT_TRUE(boxes_.shown.empty());
}

TEST_F(ResultsModelTest, RunsAreListedNewestFirstByDateByJobAndByFolder) {
  add_job("Alpha");
  add_job("Beta");  // no runs
  int a1 = add_run("Alpha", "2024-01-01 10:00:00", {"/photos"});
  int g1 = add_run("Gone", "2024-01-02 10:00:00", {"/photos2"});  // job since deleted
  int a2 = add_run("Alpha", "2024-01-03 10:00:00", {"/photos", "/photos2"});
  ASSERT_TRUE(model_.LoadRuns());
  auto run = [](const char* start, int id) { return std::string(start) + " (2 " + std::to_string(id) + ")"; };
  EXPECT_EQ(render(model_.root()), (std::vector<std::string>{
                                       "Runs Sorted By Date (last 10) (0 0)",
                                       "  " + run("2024-01-03 10:00:00", a2),
                                       "  " + run("2024-01-02 10:00:00", g1),
                                       "  " + run("2024-01-01 10:00:00", a1),
                                       "Runs Sorted By Job (0 0)",
                                       "  Alpha (1 0)",
                                       "    " + run("2024-01-03 10:00:00", a2),
                                       "    " + run("2024-01-01 10:00:00", a1),
                                       "  Beta (1 0)",
                                       "Runs Sorted By Folder (0 0)",
                                       "  /photos (3 0)",
                                       "    " + run("2024-01-03 10:00:00", a2),
                                       "    " + run("2024-01-01 10:00:00", a1),
                                       "  /photos2 (3 0)",
                                       "    " + run("2024-01-03 10:00:00", a2),
                                       "    " + run("2024-01-02 10:00:00", g1),
                                   }));
}

TEST_F(ResultsModelTest, TheDateGroupHoldsTheLastTenRuns) {
  for (int day = 10; day <= 21; ++day) add_run("Alpha", "2024-02-" + std::to_string(day) + " 08:00:00");
  ASSERT_TRUE(model_.LoadRuns());
  const ResultObj& by_date = model_.root().children.at(0);
  ASSERT_EQ(by_date.children.size(), 10u);
  EXPECT_EQ(by_date.children.front().name, "2024-02-21 08:00:00");
  EXPECT_EQ(by_date.children.back().name, "2024-02-12 08:00:00");
}

TEST_F(ResultsModelTest, InsertNodesMakesTheGroupsBoldAndKeepsTheOrder) {
  add_job("Alpha");
  add_run("Alpha", "2024-01-01 10:00:00", {"/p"});
  ASSERT_TRUE(model_.LoadRuns());
  std::vector<std::string> items;
  InsertNodes(model_.root(), 0, [&](const ResultObj& child, int parent_level, bool bold) {
    items.push_back(std::string(2 * parent_level, ' ') + child.name + (bold ? " [bold]" : ""));
    return parent_level + 1;
  });
  EXPECT_EQ(items, (std::vector<std::string>{
                       "Runs Sorted By Date (last 10) [bold]",
                       "  2024-01-01 10:00:00",
                       "Runs Sorted By Job [bold]",
                       "  Alpha",
                       "    2024-01-01 10:00:00",
                       "Runs Sorted By Folder [bold]",
                       "  /p",
                       "    2024-01-01 10:00:00",
                   }));
}

TEST_F(ResultsModelTest, AFailedRebuildShowsTheErrorAndKeepsTheTree) {
  add_job("Alpha");
  ASSERT_TRUE(model_.LoadRuns());
  std::vector<std::string> before = render(model_.root());
  exec("drop table folder");
  EXPECT_FALSE(model_.LoadRuns());
  EXPECT_EQ(boxes_.shown, std::vector<std::string>{"Error retrieving data\r\rno such table: folder"});
  EXPECT_EQ(render(model_.root()), before);
  EXPECT_EQ(log_.text_, "");  // the window shows its own failures
}

// One run's text and detail lines.
struct RunCase {
  const char* name;
  const char* insert_run;  // values of job, start_dt, stop_dt, status, scheduled
  std::vector<std::vector<const char*>> details;  // path, code, type, message
  const char* note;                                 // nullptr: no note row
  const char* text;
  std::vector<std::string> lines;
};

void PrintTo(const RunCase& c, std::ostream* out) { *out << c.name; }

class ShowRunTest : public ResultsModelTest, public ::testing::WithParamInterface<RunCase> {};

TEST_P(ShowRunTest, ShowsTheHeaderTheDetailStateAndTheRunLog) {
  const RunCase& c = GetParam();
  exec(std::string("insert into run (job, start_dt, stop_dt, status, scheduled) values(") + c.insert_run + ")");
  int id = 0;
  ASSERT_TRUE(db_query_int(db_, "select max(run_sk) from run", &id));
  for (const auto& d : c.details)
    exec(db_format("insert into detail (run_id, path, code, type, message) values(%d, %Q, %Q, %Q, %Q)", id, d[0],
                   d[1], d[2], d[3]));
  if (c.note != nullptr) {
    ASSERT_TRUE(db_add_note(db_, id, c.note));
  }

  ASSERT_TRUE(model_.ShowRun(ResultObj::kRun, id));
  EXPECT_EQ(model_.run_text(), c.text);
  EXPECT_EQ(model_.detail_lines(), c.lines);
  EXPECT_EQ(model_.selected_run(), id);
  EXPECT_TRUE(boxes_.shown.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ShowRunTest,
    ::testing::Values(
        RunCase{"WithoutDetails",
                "'Weekly', '2024-03-01 09:00:00', '2024-03-01 09:05:00', 'OK', 0",
                {},
                "Processed: 3\nValid: 3\n",
                "Job: Weekly\r\nStart Date/Time: 2024-03-01 09:00:00\r\nStop Date/Time: 2024-03-01 09:05:00\r\n"
                "Status: OK (interactive)\r\n\r\n(No Suspected Invalid Images recorded.)\r\n\r\n"
                "Run Log:\r\n\r\nProcessed: 3\r\nValid: 3\r\n",
                {}},
        RunCase{"Incomplete",
                "'Weekly', '2024-03-02 09:00:00', NULL, NULL, 0",
                {},
                nullptr,
                "Job: Weekly\r\nStart Date/Time: 2024-03-02 09:00:00\r\nStop Date/Time: Incomplete\r\n"
                "Status:  (interactive)\r\n\r\n(No Suspected Invalid Images recorded.)\r\n\r\n",
                {}},
        RunCase{"ScheduledWithDetails",
                "'Nightly', '2024-03-03 01:00:00', '2024-03-03 02:00:00', 'Can''t open folder', 1",
                {{"/p/b.jpg", "B", "J", "Premature end of JPEG file"},
                 {"/p/a.tif", "H", "T", ""},
                 {"/p/c.nef", "C", "R", "worker died"},
                 {"/p/d.dng", "E", "D", "x"},
                 {"/p/e.psd", "O", "O", ""},
                 {"/p/e2.psd", "B", "P", "bad section"},
                 {"/p/f", "S", "?", ""},
                 {"/p/g.jpg", "G", "J", ""}},
                "Line one\nLine two",
                "Job: Nightly\r\nStart Date/Time: 2024-03-03 01:00:00\r\nStop Date/Time: 2024-03-03 02:00:00\r\n"
                "Status: Can't open folder (scheduled)\r\n\r\nRun Log:\r\n\r\nLine one\r\nLine two",
                {"/p/a.tif", "   Hash Error - TIFF", "/p/b.jpg", "   Invalid - JPEG - Premature end of JPEG file",
                 "/p/c.nef", "   Indeterminate - Raw - worker died", "/p/d.dng", "   Error - DNG - x", "/p/e.psd",
                 "   Unknown result - Unknown Type", "/p/e2.psd", "   Invalid - PSD - bad section", "/p/f", "   Skipped - Unknown Type", "/p/g.jpg",
                 "   OK - JPEG"}}),
    [](const ::testing::TestParamInfo<RunCase>& info) { return info.param.name; });

TEST_F(ResultsModelTest, ARunWithoutARowOrANodeThatIsNoRunShowsNothing) {
  int id = add_run("Alpha", "2024-01-01 10:00:00");
  exec(db_format("insert into detail (run_id, path, code, type, message) values(%d, '/x', 'B', 'J', '')", id));
  ASSERT_TRUE(model_.ShowRun(ResultObj::kRun, id));
  ASSERT_FALSE(model_.detail_lines().empty());

  ASSERT_TRUE(model_.ShowRun(ResultObj::kJob, 0));
  EXPECT_EQ(model_.run_text(), "");
  EXPECT_TRUE(model_.detail_lines().empty());
  EXPECT_EQ(model_.selected_run(), 0);

  // A run id without a row: no header, no details, no log.
  ASSERT_TRUE(model_.ShowRun(ResultObj::kRun, 999));
  EXPECT_EQ(model_.run_text(), "\r\n(No Suspected Invalid Images recorded.)\r\n\r\n");
}

TEST_F(ResultsModelTest, AFailedQueryKeepsTheTextAndShowsTheError) {
  // Each of the three queries of showing a run, failing in turn.
  for (const char* table : {"note", "detail", "run"}) {
    SCOPED_TRACE(table);
    int id = add_run("Alpha", "2024-01-01 10:00:00");
    exec(db_format("insert into detail (run_id, path, code, type, message) values(%d, '/x.jpg', 'B', 'J', '')", id));
    ASSERT_TRUE(model_.ShowRun(ResultObj::kRun, id));
    std::string before = model_.run_text();
    boxes_.shown.clear();
    exec(std::string("alter table ") + table + " rename to hidden");
    EXPECT_FALSE(model_.ShowRun(ResultObj::kRun, id));
    EXPECT_EQ(model_.run_text(), before);
    EXPECT_EQ(boxes_.shown, std::vector<std::string>{std::string("Error retrieving data\r\rno such table: ") + table});
    exec(std::string("alter table hidden rename to ") + table);
  }
}

TEST_F(ResultsModelTest, TheSelectedPathIsThePathLineOfThePair) {
  int id = add_run("Alpha", "2024-01-01 10:00:00");
  exec(db_format("insert into detail (run_id, path, code, type, message) values(%d, '/p/one.jpg', 'B', 'J', ''), "
                 "(%d, '/p/two.jpg', 'B', 'J', 'bad')",
                 id, id));
  ASSERT_TRUE(model_.ShowRun(ResultObj::kRun, id));
  struct Case {
    int row;
    int path_row;
    const char* path;
  };
  for (const Case& c : {Case{-1, -1, ""}, Case{0, 0, "/p/one.jpg"}, Case{1, 0, "/p/one.jpg"},
                        Case{2, 2, "/p/two.jpg"}, Case{3, 2, "/p/two.jpg"}, Case{4, -1, ""}}) {
    EXPECT_EQ(model_.DetailPathRow(c.row), c.path_row) << c.row;
    EXPECT_EQ(model_.GetSelectedPath(c.row), c.path) << c.row;
  }

  struct ListView : DetailListView {
    void clearDetailList() override { lines.assign(1, "<cleared>"); }
    void addDetailLine(const std::string& line) override { lines.push_back(line); }
    std::vector<std::string> lines{"old"};
  } view;
  model_.FillDetailList(view);
  EXPECT_EQ(view.lines, (std::vector<std::string>{"<cleared>", "/p/one.jpg", "   Invalid - JPEG", "/p/two.jpg",
                                                  "   Invalid - JPEG - bad"}));
}

TEST(ResultsTexts, ContainingFolderAndDatabaseErrors) {
  struct Case {
    const char* path;
    bool ok;
    const char* folder;
  };
  for (const Case& c : {Case{"", false, ""}, Case{"name.jpg", false, ""}, Case{"/a.jpg", true, "/"},
                        Case{"/p/q/a.jpg", true, "/p/q"}}) {
    std::string folder;
    EXPECT_EQ(containing_folder(c.path, &folder), c.ok) << c.path;
    EXPECT_EQ(folder, c.folder) << c.path;
  }
  EXPECT_EQ(showDbErrorText(nullptr, "Out of memory"), "Out of memory");
  EXPECT_EQ(showDbErrorText("disk I/O error", "Error retrieving data"), "Error retrieving data\r\rdisk I/O error");
}

}  // namespace
