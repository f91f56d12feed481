// The Results window's queries and texts.
#include "frontend/core/results_model.h"

#include <cstdlib>

#include "util/proper.h"

namespace frontend {

namespace {

// The columns every run-list query gives, in order.
constexpr const char* kRunColumns =
    "select start_dt, run_sk, num_invalid, num_indeterminate, num_error, num_hash, status from run";

const char* result_word(char code) {
  switch (code) {
    case 'B': return "Invalid";
    case 'C': return "Indeterminate";
    case 'E': return "Error";
    case 'G': return "OK";
    case 'H': return "Hash Error";
    case 'S': return "Skipped";
    default: return "Unknown result";
  }
}

const char* type_word(char type) {
  switch (type) {
    case 'D': return "DNG";
    case 'J': return "JPEG";
    case 'P': return "PSD";
    case 'R': return "Raw";
    case 'T': return "TIFF";
    default: return "Unknown Type";
  }
}

// A column's text; "" for NULL or a missing column.
std::string column(const DbRow& row, size_t index) {
  if (index >= row.size() || !row[index]) return std::string();
  return *row[index];
}

char first_char(const std::string& text) { return text.empty() ? '\0' : text[0]; }

std::string with_crlf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

}  // namespace

ResultObj ResultObj::MakeRoot() {
  ResultObj root;
  root.name = "ROOT";
  return root;
}

ResultObj& ResultObj::AddChild(const std::string& child_name, int child_kind, int child_run_id) {
  ResultObj child;
  child.name = child_name;
  child.depth = depth + 1;
  child.kind = child_kind;
  child.run_id = child_run_id;
  children.push_back(std::move(child));
  return children.back();
}

std::string showDbErrorText(const char* db_message, const std::string& text) {
  std::string out = text;
  if (db_message != nullptr) {
    out += "\r\r";
    out += db_message;
  }
  return out;
}

void showDbError(MessageBoxes& boxes, const char* db_message, const std::string& text) {
  boxes.showMessage(showDbErrorText(db_message, text));
}

std::string detail_description(char code, char type, const std::string& message) {
  std::string line = "   ";
  line += result_word(code);
  line += " - ";
  line += type_word(type);
  if (!message.empty()) {
    line += " - ";
    line += message;
  }
  return line;
}

bool containing_folder(const std::string& path, std::string* folder) {
  size_t cut = path.rfind('/');
  if (path.empty() || cut == std::string::npos) return false;
  *folder = cut == 0 ? std::string("/") : path.substr(0, cut);
  return true;
}

bool ResultsModel::query(const std::string& statement, std::vector<DbRow>* rows) {
  // The formatter gives an empty text when it cannot allocate.
  if (statement.empty()) {
    showDbError(boxes_, nullptr, kOutOfMemory);
    return false;
  }
  std::string message;
  if (db_query_rows_quiet(db_, statement, rows, &message)) return true;
  showDbError(boxes_, message.c_str(), kErrorRetrievingData);
  return false;
}

bool ResultsModel::add_runs(ResultObj& parent, const std::string& statement) {
  std::vector<DbRow> rows;
  if (!query(statement, &rows)) return false;
  for (const DbRow& row : rows) {
    int run_id = static_cast<int>(strtol(column(row, 1).c_str(), nullptr, 10));
    parent.AddChild(column(row, 0), ResultObj::kRun, run_id);
  }
  return true;
}

bool ResultsModel::LoadRuns() {
  // Built aside and taken only when complete: a failure part-way leaves the
  // tree the view shows as it was.
  ResultObj root = ResultObj::MakeRoot();
  root.AddChild(kGroupByDate, ResultObj::kGroup, 0);
  root.AddChild(kGroupByJob, ResultObj::kGroup, 0);
  root.AddChild(kGroupByFolder, ResultObj::kGroup, 0);
  ResultObj& by_date = root.children[0];
  ResultObj& by_job = root.children[1];
  ResultObj& by_folder = root.children[2];

  int jobs = PropSetCount();
  for (int i = 0; i < jobs; ++i) {
    char* name = nullptr;
    if (!PropSetEnum(i, &name) || name == nullptr) continue;
    std::string job = name;
    free(name);
    ResultObj& node = by_job.AddChild(job, ResultObj::kJob, 0);
    if (!add_runs(node, db_format("%s where job = %Q order by start_dt desc", kRunColumns, job.c_str())))
      return false;
  }

  std::vector<DbRow> folders;
  if (!query("select distinct path from folder order by path", &folders)) return false;
  for (const DbRow& row : folders) {
    std::string path = column(row, 0);
    ResultObj& node = by_folder.AddChild(path, ResultObj::kFolder, 0);
    if (!add_runs(node, db_format("%s join folder on run_sk = run_id where path = %Q order by start_dt desc",
                                  kRunColumns, path.c_str())))
      return false;
  }

  if (!add_runs(by_date, std::string(kRunColumns) + " order by start_dt desc limit 10")) return false;

  root_ = std::move(root);
  return true;
}

bool ResultsModel::ShowRun(int kind, int run_id) {
  selected_run_ = 0;
  std::string text;
  if (kind == ResultObj::kRun && run_id > 0) {
    std::vector<DbRow> rows;
    if (!query(db_format("select job, start_dt, stop_dt, status, num_processed, num_valid, num_invalid, "
                         "num_indeterminate, num_error, num_skipped, scheduled from run where run_sk = %d",
                         run_id),
               &rows))
      return false;
    if (!rows.empty()) {
      const DbRow& row = rows.front();
      const std::optional<std::string>& stop = row[2];
      const std::optional<std::string>& scheduled = row[10];
      bool is_scheduled = scheduled && first_char(*scheduled) != '0';
      text = "Job: " + column(row, 0) + "\r\nStart Date/Time: " + column(row, 1) +
             "\r\nStop Date/Time: " + (stop ? *stop : std::string("Incomplete")) + "\r\nStatus: " +
             column(row, 3) + " (" + (is_scheduled ? "scheduled" : "interactive") + ")\r\n";
    }
    selected_run_ = run_id;
    if (!LoadDetails()) return false;
    text += detail_lines_.empty() ? "\r\n(No Suspected Invalid Images recorded.)\r\n\r\n" : "\r\n";

    std::vector<DbRow> notes;
    if (!query(db_format("select data from note where run_id = %d", run_id), &notes)) return false;
    if (!notes.empty()) text += "Run Log:\r\n\r\n" + with_crlf(column(notes.front(), 0));
  } else {
    detail_lines_.clear();
  }
  run_text_ = std::move(text);
  return true;
}

bool ResultsModel::LoadDetails() {
  detail_lines_.clear();
  if (selected_run_ <= 0) return true;
  std::vector<DbRow> rows;
  if (!query(db_format("select path, code, type, message from detail where run_id = %d order by path",
                       selected_run_),
             &rows))
    return false;
  for (const DbRow& row : rows) {
    detail_lines_.push_back(column(row, 0));
    detail_lines_.push_back(
        detail_description(first_char(column(row, 1)), first_char(column(row, 2)), column(row, 3)));
  }
  return true;
}

void ResultsModel::FillDetailList(DetailListView& view) const {
  view.clearDetailList();
  for (const std::string& line : detail_lines_) view.addDetailLine(line);
}

int ResultsModel::DetailPathRow(int row) const {
  if (row < 0 || static_cast<size_t>(row) >= detail_lines_.size()) return -1;
  return row - row % 2;
}

std::string ResultsModel::GetSelectedPath(int row) const {
  int path_row = DetailPathRow(row);
  if (path_row < 0) return std::string();
  return detail_lines_[static_cast<size_t>(path_row)];
}

}  // namespace frontend
