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

namespace frontend {

namespace {

using Session = Database::Session;

// Buffer sizes of the values read back: an integer and a hash folder.
constexpr size_t kIntValueLength = 100;
constexpr size_t kFolderValueLength = 1000;

// The schema, one stage per release that changed it. Each stage is guarded
// by a probe of a table it creates, so a database made by an older release
// passes only through the stages it lacks.
struct SchemaStage {
  const char* probe;
  const char* statements[4];  // ends at the first nullptr
};

constexpr SchemaStage kSchemaStages[] = {
    {"select count(*) from run",
     {"create table run (run_sk integer not null primary key autoincrement, job text not null, "
      "start_dt text, stop_dt text, status text, num_processed integer, num_valid integer, "
      "num_invalid integer, num_indeterminate integer, num_error integer, num_skipped integer, "
      "scheduled integer)",
      "create table folder (run_id integer not null, path text not null)",
      "create table detail (run_id integer not null, path text not null, code text not null, "
      "type text not null, message text)",
      nullptr}},
    {"select count(*) from note", {"create table note (run_id integer not null, data text not null)", nullptr}},
    {"select count(*) from hash_key",
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

// Runs a statement without a row callback. On failure *message holds the
// statement's error text.
bool exec_statement(Database& db, const char* statement, std::string* message) {
  if (db.connection() == nullptr) {
    *message = Database::kNoConnection;
    return false;
  }
  char* error = nullptr;
  int rc = sqlite3_exec(db.connection(), statement, nullptr, nullptr, &error);
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
  int rc = sqlite3_get_table(db.connection(), statement, &result, rows, columns, &error);
  table->reset(result);
  if (rc == SQLITE_OK) return true;
  *message = error != nullptr ? error : sqlite3_errstr(rc);
  sqlite3_free(error);
  return false;
}

struct StatementDeleter {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

}  // namespace

Database::~Database() {
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
}

Database::Session::~Session() {
  std::vector<std::string> texts;
  if (--db_.depth_ == 0) texts.swap(db_.pending_);
  db_.mutex_.unlock();
  for (const std::string& text : texts) db_.log_.appendRunLog(text.c_str());
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

std::string db_now_text() {
  time_t now = time(nullptr);
  struct tm local;
  if (localtime_r(&now, &local) == nullptr) return "00000000_000000";
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
                  int scheduled) {
  Session session(db);
  if (run_id == 0) {
    std::string statement =
        db_format("insert into run (job, start_dt, status, scheduled) values(%Q, %Q, %Q, %d)", job,
                  db_now_text().c_str(), status, scheduled);
    if (!exec_reported(db, statement)) return 0;
    return static_cast<int>(sqlite3_last_insert_rowid(db.connection()));
  }
  std::string statement = db_format(
      "update run set stop_dt = %Q, status = %Q, num_processed = %d, num_valid = %d, "
      "num_invalid = %d, num_indeterminate = %d, num_error = %d, num_skipped = %d, num_hash = %d "
      "where run_sk = %d",
      db_now_text().c_str(), status, processed, valid, invalid, indeterminate, error, skipped,
      hash_error, run_id);
  if (!exec_reported(db, statement)) return 0;
  return run_id;
}

bool db_add_folder(Database& db, int run_id, const char* path) {
  Session session(db);
  return exec_reported(db, db_format("insert into folder (run_id, path) values(%d, %Q)", run_id, path));
}

bool db_add_detail(Database& db, int run_id, const char* path, const char* message, char code,
                   char type) {
  Session session(db);
  // The code and type bytes come from a worker's record: a quote or a zero
  // byte must neither break nor cut the statement, so they go in as quoted
  // one-character texts. A letter gives the same statement text as '%c'.
  const char code_text[2] = {code, '\0'};
  const char type_text[2] = {type, '\0'};
  std::string statement = db_format(
      "insert into detail (run_id, path, code, type, message) values(%d, %Q, %Q, %Q, %Q)", run_id,
      path, code_text, type_text, message != nullptr ? message : "");
  std::string error;
  if (exec_statement(db, statement.c_str(), &error)) return true;
  write_db_error(db, error);
  statement += "\n";
  db.write_log(std::move(statement));
  return false;
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
    return false;
  }
  if (sqlite3_column_bytes(raw, 0) != 64) {
    db.write_log("\nERROR: hash in DB record wrong length\n");
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
  size_t cut = folder.find_last_of("\\/");
  if (cut != std::string::npos && cut != 0) folder.resize(cut);
  return folder;
}

bool db_put_hash(Database& db, const uint8_t digest[64], const char* path, const char* key) {
  Session session(db);
  std::string folder = db_hash_folder_of(path);
  if (!exec_reported(db, "begin transaction")) return false;

  std::string value;
  if (!db_query_value(db, db_format("select rowid from hash_path where path = %Q", folder.c_str()),
                      kIntValueLength, &value)) {
    rollback(db);
    return false;
  }
  int folder_id = static_cast<int>(strtol(value.c_str(), nullptr, 10));
  std::string message;
  if (folder_id == 0) {
    if (!exec_statement(db, db_format("insert into hash_path (path) values(%Q)", folder.c_str()).c_str(),
                        &message)) {
      write_db_error(db, message);
      rollback(db);
      return false;
    }
    folder_id = static_cast<int>(sqlite3_last_insert_rowid(db.connection()));
  }

  int key_id = 0;
  if (!db_query_int(db, db_format("select rowid from hash_key where key = %Q", key), &key_id)) {
    rollback(db);
    return false;
  }

  std::string hex = hash_to_hex(digest);
  std::string statement =
      key_id == 0 ? db_format("insert into hash_key (key, hash_path_id, hash) values(%Q, %d, X'%s')",
                              key, folder_id, hex.c_str())
                  : db_format("update hash_key set hash = X'%s', hash_path_id = %d where rowid = %d",
                              hex.c_str(), folder_id, key_id);
  if (!exec_statement(db, statement.c_str(), &message) ||
      !exec_statement(db, "commit", &message)) {
    write_db_error(db, message);
    rollback(db);
    return false;
  }
  return true;
}

}  // namespace frontend
