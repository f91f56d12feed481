// The results database (qx_main.sqlite3): runs with their counters, the
// folders walked, per-file details, run notes and reference digests.
//
// One connection, owned by a Database holder from start-up to quitting and
// shared by the run thread, the results window and the hash window. Every
// operation takes the holder's lock for its whole length (a digest store for
// its whole transaction), so a reader never sees another thread's error
// text, row id or half-finished transaction. A caller that needs several
// operations in one transaction holds lock() across them (sessions nest).
//
// Failures never throw: they are written into the run log ("\nDB ERROR: "
// lines) and the operation answers false or 0. An empty holder (no
// connection) fails every operation the same way without calling the
// database library.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "frontend/core/run_log.h"

struct sqlite3;

namespace frontend {

class Database {
 public:
  // The error text used where the library has none: the holder is empty.
  static constexpr const char* kNoConnection = "no database open";

  explicit Database(RunLogSink& log) : log_(log) {}
  ~Database();
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;

  // Holds the connection. Sessions nest on one thread. Run-log lines
  // written while a session is held go out, in order, after the outermost
  // session has let the connection go: writing to the run log may wait for
  // the window's thread, which may itself be waiting for the connection.
  class Session {
   public:
    explicit Session(Database& db);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

   private:
    Database& db_;
  };

  // Holds the connection for several operations (e.g. a purge transaction).
  Session lock() { return Session(*this); }
  bool is_open() const;

  // For the operations below; callers outside this module use the functions.
  sqlite3* connection() const { return db_; }
  void set_connection(sqlite3* db) { db_ = db; }
  // Queues a run-log text; call with a session held.
  void write_log(std::string text) { pending_.push_back(std::move(text)); }

 private:
  RunLogSink& log_;
  mutable std::recursive_mutex mutex_;
  int depth_ = 0;                     // sessions held, under mutex_
  std::vector<std::string> pending_;  // run-log texts, under mutex_
  sqlite3* db_ = nullptr;
};

// A statement text built with the library's formatter: %q doubles quotes,
// %Q also adds the quotes (or NULL for a null pointer), %d, %s, %c as in
// printf.
std::string db_format(const char* format, ...);

// Opens (or creates) the database file and brings its schema up to date.
// On an open failure the holder is left empty and "\n\nDB ERROR: Can't
// initialize SQLite database: <path>..." is written. False when opening or
// the schema failed.
bool db_open(Database& db, const std::string& path);

// Brings the schema up to date in three guarded stages.
bool db_make_schema(Database& db);

// Writes "\n\nDB ERROR: " context detail "\nSQLite3 Error: " <library
// text> "\n" into the run log, piece by piece. Always false.
bool db_report_error(Database& db, const char* context, const char* detail);

// The current local time as "%Y-%m-%d %H:%M:%S"; "00000000_000000" when the
// local time cannot be had.
std::string db_now_text();

// Runs a query that must give one row of one column and puts the value into
// out, cut to length - 1 characters (a NULL value gives ""). No row gives
// "0" and true; several rows or columns give false without a message; a
// failing query writes "\nDB ERROR: <message>\n".
bool db_query_value(Database& db, const std::string& statement, size_t length, std::string* out);
// db_query_value into a 100-character buffer, read in decimal.
bool db_query_int(Database& db, const std::string& statement, int* out);

// Runs one statement in the library's automatic commit mode; a failure
// writes "\nDB ERROR: <message>\n" and gives false.
bool db_exec(Database& db, const std::string& statement);

// The rows of a query (a NULL value is an empty optional); a failure writes
// "\nDB ERROR: <message>\n" and gives false.
using DbRow = std::vector<std::optional<std::string>>;
bool db_query_rows(Database& db, const std::string& statement, std::vector<DbRow>* rows);

// For the browsing windows, which show failures in their own message boxes:
// as db_exec and db_query_rows, but a failure writes nothing into the run
// log and gives the library's error text in *message.
bool db_exec_quiet(Database& db, const std::string& statement, std::string* message);
bool db_query_rows_quiet(Database& db, const std::string& statement, std::vector<DbRow>* rows,
                         std::string* message);

// Closes the connection when there is one and empties the holder; a failure
// is written into the run log. Always true.
bool db_close(Database& db);

// Run id 0: inserts a run row (job, start time now, status, scheduled) and
// gives its row id. Otherwise updates that run's stop time, status and
// counters and gives the run id. A failure writes "\nDB ERROR: ..." and
// gives 0. A null status is stored as NULL.
int db_run_record(Database& db, int run_id, const char* status, const char* job, int processed,
                  int valid, int invalid, int indeterminate, int error, int skipped, int hash_error,
                  int scheduled);

// A folder walked in the run.
bool db_add_folder(Database& db, int run_id, const char* path);
// A detail row; a null message is stored as "". The code and type bytes are
// stored as one-character texts, quoted like every other text.
bool db_add_detail(Database& db, int run_id, const char* path, const char* message, char code,
                   char type);
// The run's note (its summary).
bool db_add_note(Database& db, int run_id, const char* data);

// 128 upper-case hexadecimal digits, high nibble first.
std::string hash_to_hex(const uint8_t digest[64]);

// The folder in which the reference digest of key was recorded (cut to 999
// characters; "0" when there is none, as a query without a row gives).
// Always true.
bool db_hash_folder(Database& db, const char* key, std::string* out);

// Reads the stored digest of key into out (filled with 0xFF first). False
// when none is stored, when it is not 64 bytes long (reported) or on a
// failure (reported).
bool db_get_hash(Database& db, const char* key, uint8_t out[64]);

// Stores the digest of the file at path under key, in one transaction:
// finds or adds the hash_path row of the file's folder, then adds the key
// or replaces its digest and folder.
bool db_put_hash(Database& db, const uint8_t digest[64], const char* path, const char* key);

// The folder part that db_put_hash records for a path: cut at the last "\\"
// or "/" unless that is the first character; the whole path when there is
// no such cut.
std::string db_hash_folder_of(const char* path);

}  // namespace frontend
