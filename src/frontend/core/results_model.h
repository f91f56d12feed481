// What the Results window shows: the tree of past runs (the last ten by
// date, all runs by job, all runs by folder walked), the text of one run
// (header, detail state, run log) and its detail lines, without widgets.
//
// Used on the window's thread. The window may be open while a run writes
// to the database: every query takes the database's lock for its own
// length, and message boxes are shown with no lock held.
#pragma once

#include <string>
#include <vector>

#include "frontend/core/database.h"
#include "frontend/core/reporters.h"

namespace frontend {

// Group names, in the order the tree shows them.
inline constexpr const char* kGroupByDate = "Runs Sorted By Date (last 10)";
inline constexpr const char* kGroupByJob = "Runs Sorted By Job";
inline constexpr const char* kGroupByFolder = "Runs Sorted By Folder";

// Texts of the window's message boxes.
inline constexpr const char* kErrorRetrievingData = "Error retrieving data";
inline constexpr const char* kOutOfMemory = "Out of memory";
inline constexpr const char* kCantDetermineFolder = "Can't determine folder";
inline constexpr const char* kCantShowFolder = "Can't show folder";
inline constexpr const char* kErrorCreatingResults = "Error creating Results dialog.";
inline constexpr const char* kErrorCreatingDialog = "Error creating dialog";

// One node of the results tree. Children are held by value: a node's
// address may change while its parent gains children, so a view keeps a
// node's kind and run id, not its address.
struct ResultObj {
  enum Kind { kGroup = 0, kJob = 1, kRun = 2, kFolder = 3, kNotSet = 4 };

  std::string name;               // the text shown in the tree
  std::vector<ResultObj> children;
  int depth = 0;                  // 0 for the root, parent's depth + 1 otherwise
  int kind = kNotSet;
  int run_id = -1;                // run_sk of a run node; 0 for groups, jobs, folders

  // The root of a new tree: "ROOT", kind not set, run id -1, depth 0.
  static ResultObj MakeRoot();
  // Appends a child one level deeper and gives the stored child (valid
  // until this node gains another child).
  ResultObj& AddChild(const std::string& child_name, int child_kind, int child_run_id);
  const std::string& GetName() const { return name; }
};

// Inserts the children of node below parent, in order and recursively, as
// the tree control's items: insert(child, parent item, bold) makes the
// child's item and gives it. Items of depth 1 (the three groups) are bold.
template <typename Item, typename Insert>
void InsertNodes(const ResultObj& node, Item parent, Insert&& insert) {
  for (const ResultObj& child : node.children) {
    Item item = insert(child, parent, child.depth == 1);
    InsertNodes(child, item, insert);
  }
}

// The message box text of a database failure: text, then "\r\r" and the
// database's message when there is one.
std::string showDbErrorText(const char* db_message, const std::string& text);
void showDbError(MessageBoxes& boxes, const char* db_message, const std::string& text);

// "   <result word> - <type word>" and " - <message>" when the message is
// not empty: the second line of a detail pair.
std::string detail_description(char code, char type, const std::string& message);

// Where a detail list shows its lines.
class DetailListView {
 public:
  virtual ~DetailListView() = default;
  virtual void clearDetailList() = 0;
  virtual void addDetailLine(const std::string& line) = 0;
};

// The folder that holds path: the path without its last element ("/" for
// a file directly under the root). False for an empty path or a path
// without a "/".
bool containing_folder(const std::string& path, std::string* folder);

// The Results window's model. Owns the tree, the selected run and the
// detail lines; failures are shown through the message boxes.
class ResultsModel {
 public:
  ResultsModel(Database& db, MessageBoxes& boxes) : db_(db), boxes_(boxes) {}

  // Rebuilds the tree: the three groups, every job of the settings store
  // with its runs (newest first), every folder walked with its runs, and
  // the last ten runs. False when a query failed (its message was shown);
  // the tree then stays as it was, so the view keeps its items.
  bool LoadRuns();
  const ResultObj& root() const { return root_; }

  // Shows the run of a node of kind kRun with a run id above 0; any other
  // node empties the text and the detail lines. False when a query failed
  // (its message was shown); the text then stays as it was.
  bool ShowRun(int kind, int run_id);
  bool ShowRun(const ResultObj& node) { return ShowRun(node.kind, node.run_id); }

  // Fills the detail lines of the selected run: two per detail row, the
  // path and then its description. False when the query failed (shown).
  bool LoadDetails();
  void FillDetailList(DetailListView& view) const;

  // "Job: ...\r\nStart Date/Time: ..." and the rest, as the run text box
  // shows it; empty while no run is shown.
  const std::string& run_text() const { return run_text_; }
  const std::vector<std::string>& detail_lines() const { return detail_lines_; }
  // The run id of the run shown, 0 when none.
  int selected_run() const { return selected_run_; }

  // The row of the path line of the pair that row belongs to, or -1 when
  // row is not a line of the list (-1 stands for no selection).
  int DetailPathRow(int row) const;
  // The path of the pair that the selected row belongs to; empty when
  // nothing is selected. The view selects DetailPathRow(row).
  std::string GetSelectedPath(int row) const;

 private:
  // A query whose failure is shown; false when it failed.
  bool query(const std::string& statement, std::vector<DbRow>* rows);
  // Adds a run node under parent for every row of a run-list query.
  bool add_runs(ResultObj& parent, const std::string& statement);

  Database& db_;
  MessageBoxes& boxes_;
  ResultObj root_ = ResultObj::MakeRoot();
  std::string run_text_;
  std::vector<std::string> detail_lines_;
  int selected_run_ = 0;
};

}  // namespace frontend
