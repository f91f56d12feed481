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
// lines, as notices that the run log's cap never hides) and counted, and the
// operation answers false or 0. An empty holder (no connection) fails every
// operation the same way without calling the database library.
//
// Other connections (a second front end on the same data folder, a user
// with a database shell) may hold the file for a while: every statement
// waits for them up to the busy timeout, and a statement the library still
// reports as busy is tried again within that time.
//
// Grouped writes: between begin_write_group() and end_write_group(), called
// on one thread (the run thread), that thread's folder, detail and digest
// writes share one transaction, committed when it holds kGroupRows writes,
// when it is kGroupAge old (a helper thread sees to that even while no write
// comes), when another thread uses the connection, and at the end. The
// connection's page cache holds a whole group, so a group never takes the
// file from readers before its commit. Other
// connections see the rows once committed; a front end killed meanwhile
// loses only the open group, and the file stays sound. When a group cannot
// be committed its writes are made again one by one, and the rest of the
// run writes row by row.
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "frontend/core/run_log.h"

struct sqlite3;

namespace frontend {

// One write of a run that can be made again: a statement (a folder row), a
// detail row (its statement is shown with its failure) or a digest store.
struct DbWrite {
  enum Kind { kStatement, kDetail, kDigest };
  Kind kind = kStatement;
  std::string statement;          // kStatement, kDetail
  std::array<uint8_t, 64> digest{};  // kDigest
  std::string path, key;          // kDigest
};

class Database {
 public:
  // The error text used where the library has none: the holder is empty.
  static constexpr const char* kNoConnection = "no database open";
  // How long a statement waits for another connection that holds the file.
  static constexpr std::chrono::milliseconds kBusyTimeout = std::chrono::seconds(30);
  // A group is committed at this many writes or this age.
  static constexpr size_t kGroupRows = 5000;
  static constexpr std::chrono::milliseconds kGroupAge = std::chrono::seconds(1);

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

  // Failures written into the run log since the holder was made (any
  // thread). A run compares the count at its start and at its end.
  int error_count() const { return errors_.load(); }
  // Call with a session held, once per failure reported.
  void count_error() { errors_.fetch_add(1); }

  // The waiting time for other connections; applied to the connection now
  // and to every connection opened later. Tests shorten it.
  void set_busy_timeout(std::chrono::milliseconds timeout);
  // The time a busy statement is tried for now: none while failing fast.
  std::chrono::milliseconds busy_timeout() const {
    return waited_in_vain_ ? std::chrono::milliseconds(0) : busy_timeout_;
  }
  // Writes of the calling thread go into groups until end_write_group(),
  // which commits the last one. The limits are for tests.
  void begin_write_group(size_t rows = kGroupRows, std::chrono::milliseconds age = kGroupAge);
  void end_write_group();

  // For the write operations (session held): makes w, in the open group
  // when the calling thread groups its writes, else on its own.
  bool write(const DbWrite& w);
  // Applies the busy timeout to a new connection (session held).
  void apply_busy_timeout();
  // After a statement (session held): busy to the end of the timeout, or
  // through.
  void note_busy_outcome(bool gave_up);

 private:
  bool grouping_here() const;
  bool open_group();
  void commit_group();
  // The group's transaction is gone: its writes are made one by one.
  void recover_group();
  void flusher_loop();

  RunLogSink& log_;
  mutable std::recursive_mutex mutex_;
  int depth_ = 0;                     // sessions held, under mutex_
  std::vector<std::string> pending_;  // run-log texts, under mutex_
  sqlite3* db_ = nullptr;
  std::atomic<int> errors_{0};
  std::chrono::milliseconds busy_timeout_ = kBusyTimeout;
  // Set after a statement waited the whole timeout in vain; cleared by the
  // next write that gets through. Meanwhile writes do not wait.
  bool waited_in_vain_ = false;

  // Grouped writes, under mutex_.
  bool grouping_ = false;
  bool group_failed_ = false;  // the run writes row by row from now on
  bool group_open_ = false;
  std::thread::id group_thread_;
  size_t group_rows_ = kGroupRows;
  std::chrono::milliseconds group_age_ = kGroupAge;
  std::chrono::steady_clock::time_point group_started_;
  std::vector<DbWrite> group_writes_;
  // Commits a group that has reached its age.
  std::condition_variable_any flusher_wake_;
  bool flusher_stop_ = false;
  std::thread flusher_;
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
// The same for a given time.
std::string db_time_text(std::time_t when);

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

// Run id 0: inserts a run row (job, start time, status, scheduled) and
// gives its row id. Otherwise updates that run's stop time, status and
// counters and gives the run id. The time stored is when, or now when none
// is given. A failure writes "\nDB ERROR: ..." and gives 0. A null status is
// stored as NULL.
int db_run_record(Database& db, int run_id, const char* status, const char* job, int processed,
                  int valid, int invalid, int indeterminate, int error, int skipped, int hash_error,
                  int scheduled, std::optional<std::time_t> when = std::nullopt);

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

// The folder part that db_put_hash records for a path: cut at the last "/"
// unless that is the first character; the whole path when there is no such
// cut. A backslash is an ordinary file-name character.
std::string db_hash_folder_of(const char* path);

}  // namespace frontend
