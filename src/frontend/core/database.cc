// The results database over the SQLite C interface: schema and upgrade,
// every statement text, and the reporting of failures into the run log.
// This is the only file that includes <sqlite3.h>.
#include "frontend/core/database.h"

#include <sqlite3.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <thread>

#include "util/trace.h"

namespace frontend {

namespace {

using Session = Database::Session;

// Buffer sizes of the values read back: an integer and a hash folder.
constexpr size_t kIntValueLength = 100;
constexpr size_t kFolderValueLength = 1000;

// The page cache of the connection, in KiB: room for a whole group of
// writes with their index pages.
constexpr int kCacheKiB = 32 * 1024;

// The schema, one stage per release that changed it. Each stage is guarded
// by a probe of a table it creates, so a database made by an older release
// passes only through the stages it lacks. A probe fails only when its
// table is missing, and reads at most one row: start-up costs the same
// however many runs and references the tables hold.
struct SchemaStage {
  const char* probe;
  const char* statements[4];  // ends at the first nullptr
};

constexpr SchemaStage kSchemaStages[] = {
    {"select 1 from run limit 1",
     {"create table run (run_sk integer not null primary key autoincrement, job text not null, "
      "start_dt text, stop_dt text, status text, num_processed integer, num_valid integer, "
      "num_invalid integer, num_indeterminate integer, num_error integer, num_skipped integer, "
      "scheduled integer)",
      "create table folder (run_id integer not null, path text not null)",
      "create table detail (run_id integer not null, path text not null, code text not null, "
      "type text not null, message text)",
      nullptr}},
    {"select 1 from note limit 1", {"create table note (run_id integer not null, data text not null)", nullptr}},
    {"select 1 from hash_key limit 1",
     {"alter table run add column num_hash integer",
      "create table hash_path (path text not null unique)",
      "create table hash_key (key text not null primary key, hash_path_id integer not null, "
      "hash blob not null)",
      nullptr}},
};

// The library's text for the last failure on the connection.
std::string library_text(const Database& db) {
  if (db.connection() == nullptr) return Database::kNoConnection;
  return sqlite3_errmsg(db.connection());
}

// The pause between two tries of a statement the library reported busy
// without waiting (it does so where waiting could never end).
constexpr std::chrono::milliseconds kBusyRetryPause{10};

bool is_busy(int rc) { return (rc & 0xFF) == SQLITE_BUSY; }

// Whether a statement that failed as busy may simply be tried again: outside
// a transaction nothing was done, and a commit (or release) that could not
// get the file leaves its transaction as it was.
bool retryable(Database& db, const char* statement) {
  if (sqlite3_get_autocommit(db.connection()) != 0) return true;
  return strcmp(statement, "commit") == 0 || strncmp(statement, "release ", 8) == 0;
}

// Tries a statement again while the library reports it busy, within the
// busy timeout. run gives the library's result code.
template <typename Run>
int with_busy_retry(Database& db, const char* statement, Run run) {
  auto deadline = std::chrono::steady_clock::now() + db.busy_timeout();
  for (;;) {
    int rc = run();
    if (!is_busy(rc) || !retryable(db, statement) || std::chrono::steady_clock::now() >= deadline) return rc;
    std::this_thread::sleep_for(kBusyRetryPause);
  }
}

// Runs a statement without a row callback. On failure *message holds the
// statement's error text.
bool exec_statement(Database& db, const char* statement, std::string* message) {
  if (db.connection() == nullptr) {
    *message = Database::kNoConnection;
    return false;
  }
  char* error = nullptr;
  int rc = with_busy_retry(db, statement, [&] {
    sqlite3_free(error);
    error = nullptr;
    return sqlite3_exec(db.connection(), statement, nullptr, nullptr, &error);
  });
  db.note_busy_outcome(is_busy(rc));
  if (rc == SQLITE_OK) return true;
  *message = error != nullptr ? error : sqlite3_errstr(rc);
  sqlite3_free(error);
  return false;
}

// "\nDB ERROR: <message>\n"
void write_db_error(Database& db, const std::string& message) {
  std::string line = "\nDB ERROR: ";
  line += message;
  line += "\n";
  db.write_log(std::move(line));
  db.count_error();
}

// Runs a statement; a failure is written as a DB ERROR line.
bool exec_reported(Database& db, const std::string& statement) {
  std::string message;
  if (exec_statement(db, statement.c_str(), &message)) return true;
  write_db_error(db, message);
  return false;
}

void rollback(Database& db) {
  std::string ignored;
  exec_statement(db, "rollback", &ignored);
}

// The pieces of db_report_error, with the library text taken by the caller.
void report_error_pieces(Database& db, const char* context, const char* detail,
                         const std::string& library) {
  db.count_error();
  db.write_log("\n\nDB ERROR: ");
  db.write_log(context);
  if (detail != nullptr) db.write_log(detail);
  db.write_log("\n");
  db.write_log("SQLite3 Error: ");
  db.write_log(library);
  db.write_log("\n");
}

struct TableDeleter {
  void operator()(char** table) const { sqlite3_free_table(table); }
};
using Table = std::unique_ptr<char*, TableDeleter>;

// sqlite3_get_table; on failure *message holds the error text.
bool get_table(Database& db, const char* statement, Table* table, int* rows, int* columns,
               std::string* message) {
  if (db.connection() == nullptr) {
    *message = Database::kNoConnection;
    return false;
  }
  char** result = nullptr;
  char* error = nullptr;
  int rc = with_busy_retry(db, statement, [&] {
    sqlite3_free(error);
    error = nullptr;
    sqlite3_free_table(result);
    result = nullptr;
    return sqlite3_get_table(db.connection(), statement, &result, rows, columns, &error);
  });
  table->reset(result);
  if (rc == SQLITE_OK) return true;
  *message = error != nullptr ? error : sqlite3_errstr(rc);
  sqlite3_free(error);
  return false;
}

// One value of a query that gives one row of one column ("0" without a
// row); false with the error text on a failure or another shape.
bool query_one(Database& db, const std::string& statement, std::string* value, std::string* message) {
  Table table;
  int rows = 0, columns = 0;
  if (!get_table(db, statement.c_str(), &table, &rows, &columns, message)) return false;
  if (rows == 0) {
    value->assign(1, '0');
    return true;
  }
  if (rows != 1 || columns != 1) {
    *message = "unexpected result shape";
    return false;
  }
  const char* text = table.get()[1];
  *value = text != nullptr ? std::string(text, strnlen(text, kIntValueLength - 1)) : std::string();
  return true;
}

// A digest store: the folder's hash_path row (found or added), then the key
// added or its digest and folder replaced, all in one transaction (a
// savepoint inside a group).
bool attempt_digest(Database& db, const DbWrite& w, bool in_group, std::string* message) {
  std::string folder = db_hash_folder_of(w.path.c_str());
  const char* begin = in_group ? "savepoint put_hash" : "begin immediate transaction";
  const char* end = in_group ? "release put_hash" : "commit";
  if (!exec_statement(db, begin, message)) return false;
  auto undo = [&] {
    std::string ignored;
    if (in_group) {
      exec_statement(db, "rollback to put_hash", &ignored);
      exec_statement(db, "release put_hash", &ignored);
    } else if (sqlite3_get_autocommit(db.connection()) == 0) {
      rollback(db);
    }
    return false;
  };
  std::string value;
  if (!query_one(db, db_format("select rowid from hash_path where path = %Q", folder.c_str()), &value, message))
    return undo();
  int folder_id = static_cast<int>(strtol(value.c_str(), nullptr, 10));
  if (folder_id == 0) {
    if (!exec_statement(db, db_format("insert into hash_path (path) values(%Q)", folder.c_str()).c_str(), message))
      return undo();
    folder_id = static_cast<int>(sqlite3_last_insert_rowid(db.connection()));
  }
  if (!query_one(db, db_format("select rowid from hash_key where key = %Q", w.key.c_str()), &value, message))
    return undo();
  int key_id = static_cast<int>(strtol(value.c_str(), nullptr, 10));
  std::string hex = hash_to_hex(w.digest.data());
  std::string statement =
      key_id == 0 ? db_format("insert into hash_key (key, hash_path_id, hash) values(%Q, %d, X'%s')",
                              w.key.c_str(), folder_id, hex.c_str())
                  : db_format("update hash_key set hash = X'%s', hash_path_id = %d where rowid = %d",
                              hex.c_str(), folder_id, key_id);
  if (!exec_statement(db, statement.c_str(), message) || !exec_statement(db, end, message)) return undo();
  return true;
}

// Makes one write; nothing is reported.
bool attempt_write(Database& db, const DbWrite& w, bool in_group, std::string* message) {
  if (db.connection() == nullptr) {
    *message = Database::kNoConnection;
    return false;
  }
  if (w.kind == DbWrite::kDigest) return attempt_digest(db, w, in_group, message);
  return exec_statement(db, w.statement.c_str(), message);
}

// "\nDB ERROR: <message>\n"; a detail row adds its statement.
void report_write(Database& db, const DbWrite& w, const std::string& message) {
  write_db_error(db, message);
  if (w.kind == DbWrite::kDetail) db.write_log(w.statement + "\n");
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

}  // namespace

Database::~Database() {
  {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    flusher_stop_ = true;
    flusher_wake_.notify_all();
  }
  if (flusher_.joinable()) flusher_.join();
  // The owner closes with db_close; this only keeps a forgotten connection
  // from leaking.
  if (db_ != nullptr) sqlite3_close(db_);
}

bool Database::is_open() const {
  std::lock_guard<std::recursive_mutex> lock(mutex_);
  return db_ != nullptr;
}

Database::Session::Session(Database& db) : db_(db) {
  db_.mutex_.lock();
  ++db_.depth_;
  // Another thread's work never runs inside the writing thread's group: it
  // sees (and may start) transactions of its own.
  if (db_.depth_ == 1 && db_.group_open_ && std::this_thread::get_id() != db_.group_thread_) db_.commit_group();
}

Database::Session::~Session() {
  std::vector<std::string> texts;
  if (--db_.depth_ == 0) texts.swap(db_.pending_);
  db_.mutex_.unlock();
  // Database failures are notices: the run log's cap never hides them.
  for (const std::string& text : texts) db_.log_.appendRunLogNotice(text.c_str());
}

void Database::set_busy_timeout(std::chrono::milliseconds timeout) {
  Session session(*this);
  busy_timeout_ = timeout;
  apply_busy_timeout();
}

void Database::apply_busy_timeout() {
  if (db_ != nullptr) sqlite3_busy_timeout(db_, waited_in_vain_ ? 0 : static_cast<int>(busy_timeout_.count()));
}

void Database::note_busy_outcome(bool gave_up) {
  if (gave_up == waited_in_vain_) return;
  // Once a statement has waited the whole timeout, the file is held for
  // long: later writes fail at once until one gets through, rather than
  // each waiting the whole time again.
  waited_in_vain_ = gave_up;
  apply_busy_timeout();
}

bool Database::grouping_here() const {
  return grouping_ && !group_failed_ && db_ != nullptr && std::this_thread::get_id() == group_thread_;
}

void Database::begin_write_group(size_t rows, std::chrono::milliseconds age) {
  {
    Session session(*this);
    grouping_ = true;
    group_failed_ = false;
    group_open_ = false;
    group_thread_ = std::this_thread::get_id();
    group_rows_ = rows > 0 ? rows : 1;
    group_age_ = age;
    group_writes_.clear();
    flusher_stop_ = false;
  }
  flusher_ = std::thread([this] { flusher_loop(); });
}

void Database::end_write_group() {
  {
    Session session(*this);
    if (group_open_) commit_group();
    grouping_ = false;
    flusher_stop_ = true;
    flusher_wake_.notify_all();
  }
  if (flusher_.joinable()) flusher_.join();
}

void Database::flusher_loop() {
  std::unique_lock<std::recursive_mutex> lock(mutex_);
  while (!flusher_stop_) {
    if (!group_open_) {
      flusher_wake_.wait(lock);
      continue;
    }
    auto due = group_started_ + group_age_;
    if (std::chrono::steady_clock::now() < due) {
      flusher_wake_.wait_until(lock, due);
      continue;
    }
    lock.unlock();
    { Session session(*this); }  // a session of another thread commits the group
    lock.lock();
  }
}

bool Database::open_group() {
  std::string message;
  if (!exec_statement(*this, "begin immediate transaction", &message)) {
    log_printf("Can't begin a group of writes (%s); writing on its own", message.c_str());
    return false;
  }
  group_open_ = true;
  group_started_ = std::chrono::steady_clock::now();
  group_writes_.clear();
  flusher_wake_.notify_all();
  return true;
}

void Database::commit_group() {
  group_open_ = false;
  std::string message;
  if (exec_statement(*this, "commit", &message)) {
    group_writes_.clear();
    waited_in_vain_ = false;
    return;
  }
  log_printf("Can't commit %zu grouped writes (%s); writing them one by one", group_writes_.size(), message.c_str());
  if (sqlite3_get_autocommit(db_) == 0) rollback(*this);
  recover_group();
}

void Database::recover_group() {
  group_open_ = false;
  group_failed_ = true;
  std::vector<DbWrite> writes;
  writes.swap(group_writes_);
  for (const DbWrite& w : writes) {
    std::string message;
    if (!attempt_write(*this, w, false, &message)) report_write(*this, w, message);
  }
}

bool Database::write(const DbWrite& w) {
  if (grouping_here() && (group_open_ || open_group())) {
    std::string message;
    if (attempt_write(*this, w, true, &message)) {
      group_writes_.push_back(w);
      if (group_writes_.size() >= group_rows_) commit_group();
      return true;
    }
    if (sqlite3_get_autocommit(db_) == 0) {
      // Only this write was undone; the group goes on.
      report_write(*this, w, message);
      return false;
    }
    // The failure ended the group's transaction.
    recover_group();
  }
  std::string message;
  if (attempt_write(*this, w, false, &message)) return true;
  report_write(*this, w, message);
  return false;
}

std::string db_format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  char* text = sqlite3_vmprintf(format, args);
  va_end(args);
  if (text == nullptr) return std::string();
  std::string result(text);
  sqlite3_free(text);
  return result;
}

bool db_open(Database& db, const std::string& path) {
  Session session(db);
  db_close(db);
  sqlite3* connection = nullptr;
  if (sqlite3_open(path.c_str(), &connection) != SQLITE_OK) {
    // The reason is read before the connection is closed; afterwards only
    // the library's text for a missing connection would be left.
    std::string reason = connection != nullptr ? sqlite3_errmsg(connection) : "out of memory";
    sqlite3_close(connection);
    report_error_pieces(db, "Can't initialize SQLite database: ", path.c_str(), reason);
    return false;
  }
  db.set_connection(connection);
  db.apply_busy_timeout();
  sqlite3_exec(connection, db_format("pragma cache_size = -%d", kCacheKiB).c_str(), nullptr, nullptr, nullptr);
  return db_make_schema(db);
}

bool db_make_schema(Database& db) {
  Session session(db);
  for (const SchemaStage& stage : kSchemaStages) {
    // Every probe failure counts as a missing table. Probes are silent: a
    // new database fails all three.
    Table table;
    int rows = 0, columns = 0;
    std::string ignored;
    if (get_table(db, stage.probe, &table, &rows, &columns, &ignored)) continue;

    const char* statements[6] = {"begin transaction"};
    size_t n = 1;
    for (const char* const* s = stage.statements; *s != nullptr; ++s) statements[n++] = *s;
    statements[n++] = "commit";
    for (size_t i = 0; i < n; ++i) {
      std::string message;
      if (exec_statement(db, statements[i], &message)) continue;
      // The library's text is taken before the rollback replaces it.
      std::string library = library_text(db);
      rollback(db);
      report_error_pieces(db, "Can't build database schema; ", message.c_str(), library);
      return false;
    }
  }
  return true;
}

bool db_report_error(Database& db, const char* context, const char* detail) {
  Session session(db);
  report_error_pieces(db, context, detail, library_text(db));
  return false;
}

std::string db_now_text() { return db_time_text(time(nullptr)); }

std::string db_time_text(time_t when) {
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return "00000000_000000";
  char buffer[50];
  strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S", &local);
  return buffer;
}

bool db_query_value(Database& db, const std::string& statement, size_t length, std::string* out) {
  Session session(db);
  out->clear();
  Table table;
  int rows = 0, columns = 0;
  std::string message;
  if (!get_table(db, statement.c_str(), &table, &rows, &columns, &message)) {
    write_db_error(db, message);
    return false;
  }
  if (rows == 0) {
    out->assign(1, '0');
    return true;
  }
  if (rows != 1 || columns != 1) return false;
  const char* value = table.get()[1];  // row 0 holds the column names
  if (value != nullptr && length > 0) out->assign(value, strnlen(value, length - 1));
  return true;
}

bool db_query_int(Database& db, const std::string& statement, int* out) {
  std::string value;
  *out = 0;
  if (!db_query_value(db, statement, kIntValueLength, &value)) return false;
  *out = static_cast<int>(strtol(value.c_str(), nullptr, 10));
  return true;
}

bool db_exec(Database& db, const std::string& statement) {
  Session session(db);
  return exec_reported(db, statement);
}

bool db_query_rows(Database& db, const std::string& statement, std::vector<DbRow>* rows) {
  Session session(db);
  std::string message;
  if (db_query_rows_quiet(db, statement, rows, &message)) return true;
  write_db_error(db, message);
  return false;
}

bool db_exec_quiet(Database& db, const std::string& statement, std::string* message) {
  Session session(db);
  message->clear();
  return exec_statement(db, statement.c_str(), message);
}

bool db_query_rows_quiet(Database& db, const std::string& statement, std::vector<DbRow>* rows,
                         std::string* message) {
  Session session(db);
  rows->clear();
  message->clear();
  Table table;
  int row_count = 0, columns = 0;
  if (!get_table(db, statement.c_str(), &table, &row_count, &columns, message)) return false;
  for (int r = 1; r <= row_count; ++r) {
    DbRow row;
    for (int c = 0; c < columns; ++c) {
      const char* value = table.get()[r * columns + c];
      row.push_back(value != nullptr ? std::optional<std::string>(value) : std::nullopt);
    }
    rows->push_back(std::move(row));
  }
  return true;
}

bool db_close(Database& db) {
  Session session(db);
  if (sqlite3* open = db.connection(); open != nullptr && sqlite3_get_autocommit(open) == 0) {
    std::string ignored;
    exec_statement(db, "commit", &ignored);
  }
  sqlite3* connection = db.connection();
  db.set_connection(nullptr);
  if (connection == nullptr) return true;
  if (sqlite3_close(connection) != SQLITE_OK) {
    report_error_pieces(db, "Can't terminate SQLite database", nullptr, sqlite3_errmsg(connection));
  }
  return true;
}

int db_run_record(Database& db, int run_id, const char* status, const char* job, int processed,
                  int valid, int invalid, int indeterminate, int error, int skipped, int hash_error,
                  int scheduled, std::optional<time_t> when) {
  Session session(db);
  const std::string time_text = when ? db_time_text(*when) : db_now_text();
  if (run_id == 0) {
    std::string statement =
        db_format("insert into run (job, start_dt, status, scheduled) values(%Q, %Q, %Q, %d)", job,
                  time_text.c_str(), status, scheduled);
    if (!exec_reported(db, statement)) return 0;
    return static_cast<int>(sqlite3_last_insert_rowid(db.connection()));
  }
  std::string statement = db_format(
      "update run set stop_dt = %Q, status = %Q, num_processed = %d, num_valid = %d, "
      "num_invalid = %d, num_indeterminate = %d, num_error = %d, num_skipped = %d, num_hash = %d "
      "where run_sk = %d",
      time_text.c_str(), status, processed, valid, invalid, indeterminate, error, skipped,
      hash_error, run_id);
  if (!exec_reported(db, statement)) return 0;
  return run_id;
}

bool db_add_folder(Database& db, int run_id, const char* path) {
  Session session(db);
  DbWrite w;
  w.statement = db_format("insert into folder (run_id, path) values(%d, %Q)", run_id, path);
  return db.write(w);
}

bool db_add_detail(Database& db, int run_id, const char* path, const char* message, char code,
                   char type) {
  Session session(db);
  // The code and type bytes come from a worker's record: a quote or a zero
  // byte must neither break nor cut the statement, so they go in as quoted
  // one-character texts. A letter gives the same statement text as '%c'.
  const char code_text[2] = {code, '\0'};
  const char type_text[2] = {type, '\0'};
  DbWrite w;
  w.kind = DbWrite::kDetail;
  w.statement = db_format(
      "insert into detail (run_id, path, code, type, message) values(%d, %Q, %Q, %Q, %Q)", run_id,
      path, code_text, type_text, message != nullptr ? message : "");
  return db.write(w);
}

bool db_add_note(Database& db, int run_id, const char* data) {
  Session session(db);
  return exec_reported(db, db_format("insert into note (run_id, data) values(%d, %Q)", run_id, data));
}

std::string hash_to_hex(const uint8_t digest[64]) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string hex(128, '0');
  for (size_t i = 0; i < 64; ++i) {
    hex[2 * i] = kDigits[digest[i] >> 4];
    hex[2 * i + 1] = kDigits[digest[i] & 0x0F];
  }
  return hex;
}

bool db_hash_folder(Database& db, const char* key, std::string* out) {
  Session session(db);
  int folder_id = 0;
  db_query_int(db, db_format("select hash_path_id from hash_key where key = %Q", key), &folder_id);
  db_query_value(db, db_format("select path from hash_path where rowid = %d", folder_id),
                 kFolderValueLength, out);
  return true;
}

bool db_get_hash(Database& db, const char* key, uint8_t out[64]) {
  Session session(db);
  std::memset(out, 0xFF, 64);
  if (db.connection() == nullptr) {
    write_db_error(db, Database::kNoConnection);
    return false;
  }
  std::string statement = db_format("select hash from hash_key where key = %Q", key);
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db.connection(), statement.c_str(), -1, &raw, nullptr) != SQLITE_OK) {
    write_db_error(db, library_text(db));
    return false;
  }
  std::unique_ptr<sqlite3_stmt, StatementDeleter> query(raw);
  int rc = sqlite3_step(raw);
  if (rc == SQLITE_DONE) return false;
  if (rc != SQLITE_ROW) {
    std::string line = "\nDB ERROR: Fetching row in hash_key for key ";
    line += key;
    line += "\n";
    db.write_log(std::move(line));
    db.count_error();
    return false;
  }
  if (sqlite3_column_bytes(raw, 0) != 64) {
    db.write_log("\nERROR: hash in DB record wrong length\n");
    db.count_error();
    return false;
  }
  std::memcpy(out, sqlite3_column_blob(raw, 0), 64);
  if (sqlite3_finalize(query.release()) != SQLITE_OK) {
    write_db_error(db, library_text(db));
    return false;
  }
  return true;
}

std::string db_hash_folder_of(const char* path) {
  std::string folder(path);
  // "/" is the only separator: a backslash is an ordinary character of a
  // file name here.
  size_t cut = folder.rfind('/');
  if (cut != std::string::npos && cut != 0) folder.resize(cut);
  return folder;
}

bool db_put_hash(Database& db, const uint8_t digest[64], const char* path, const char* key) {
  Session session(db);
  DbWrite w;
  w.kind = DbWrite::kDigest;
  std::memcpy(w.digest.data(), digest, w.digest.size());
  w.path = path;
  w.key = key;
  return db.write(w);
}

}  // namespace frontend
