#include "frontend/core/database.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

namespace {

using namespace frontend;

using testing::ElementsAre;
using testing::MatchesRegex;
using testing_support::TempFolder;

const char* const kStage1[] = {
    "create table run (run_sk integer not null primary key autoincrement, job text not null, "
    "start_dt text, stop_dt text, status text, num_processed integer, num_valid integer, "
    "num_invalid integer, num_indeterminate integer, num_error integer, num_skipped integer, "
    "scheduled integer)",
    "create table folder (run_id integer not null, path text not null)",
    "create table detail (run_id integer not null, path text not null, code text not null, "
    "type text not null, message text)",
};
const char* const kStage2[] = {"create table note (run_id integer not null, data text not null)"};
const char* const kStage3Tables[] = {
    "create table hash_path (path text not null unique)",
    "create table hash_key (key text not null primary key, hash_path_id integer not null, hash blob "
    "not null)",
};

// A second, independent connection for setting up and inspecting files.
class RawDb {
 public:
  explicit RawDb(const std::string& path) { EXPECT_EQ(sqlite3_open(path.c_str(), &db_), SQLITE_OK); }
  ~RawDb() { sqlite3_close(db_); }

  void exec(const std::string& sql) {
    char* error = nullptr;
    EXPECT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
        << sql << ": " << (error ? error : "");
    sqlite3_free(error);
  }

  // Every row as its columns joined by "|", NULL shown as "<null>".
  std::vector<std::string> rows(const std::string& sql) {
    std::vector<std::string> out;
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &statement, nullptr), SQLITE_OK) << sql;
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row;
      for (int c = 0; c < sqlite3_column_count(statement); ++c) {
        if (c > 0) row += "|";
        if (sqlite3_column_type(statement, c) == SQLITE_NULL) {
          row += "<null>";
        } else if (sqlite3_column_type(statement, c) == SQLITE_BLOB) {
          row += "blob" + std::to_string(sqlite3_column_bytes(statement, c));
        } else {
          const unsigned char* text = sqlite3_column_text(statement, c);
          row.append(reinterpret_cast<const char*>(text), sqlite3_column_bytes(statement, c));
        }
      }
      out.push_back(row);
    }
    sqlite3_finalize(statement);
    return out;
  }

  std::vector<std::string> tables() { return rows("select name from sqlite_master where type = 'table' and name not like 'sqlite_%' order by name"); }

  std::vector<std::string> columns(const std::string& table) {
    std::vector<std::string> names;
    for (const std::string& row : rows("select name, type from pragma_table_info('" + table + "')")) names.push_back(row);
    return names;
  }

 private:
  sqlite3* db_ = nullptr;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void open() { ASSERT_TRUE(db_open(db_, path_)) << log_.text(); }

  TempFolder folder_;
  std::string path_ = folder_.sub("qx_main.sqlite3");
  RunLog log_;
  Database db_{log_};
};

// A create statement as the library keeps it: its first two words upper-cased.
std::string stored(const char* create) { return std::string("CREATE TABLE") + (create + std::strlen("create table")); }

const std::vector<std::string> kAllTables = {"detail", "folder", "hash_key", "hash_path", "note", "run"};

TEST_F(DatabaseTest, ANewDatabaseGetsTheWholeSchemaSilently) {
  open();
  RawDb raw(path_);
  EXPECT_EQ(raw.tables(), kAllTables);
  EXPECT_THAT(raw.columns("run"),
              ElementsAre("run_sk|INTEGER", "job|TEXT", "start_dt|TEXT", "stop_dt|TEXT", "status|TEXT",
                          "num_processed|INTEGER", "num_valid|INTEGER", "num_invalid|INTEGER",
                          "num_indeterminate|INTEGER", "num_error|INTEGER", "num_skipped|INTEGER",
                          "scheduled|INTEGER", "num_hash|INTEGER"));
  EXPECT_THAT(raw.columns("hash_key"), ElementsAre("key|TEXT", "hash_path_id|INTEGER", "hash|BLOB"));
  EXPECT_THAT(raw.rows("select sql from sqlite_master where name in ('folder', 'detail', 'note', "
                       "'hash_path', 'hash_key') order by name"),
              ElementsAre(stored(kStage1[2]), stored(kStage1[1]), stored(kStage3Tables[1]),
                          stored(kStage3Tables[0]), stored(kStage2[0])));
  EXPECT_EQ(log_.text(), "");
}

// A database made by an older release passes only through the stages it
// lacks; its rows stay, and old runs have no hash-error count.
TEST_F(DatabaseTest, OlderSchemasAreBroughtUpToDate) {
  for (int stages : {1, 2, 3}) {
    SCOPED_TRACE(stages);
    TempFolder folder;
    std::string path = folder.sub("old.sqlite3");
    {
      RawDb raw(path);
      for (const char* sql : kStage1) raw.exec(sql);
      if (stages >= 2) raw.exec(kStage2[0]);
      if (stages >= 3) {
        raw.exec("alter table run add column num_hash integer");
        for (const char* sql : kStage3Tables) raw.exec(sql);
      }
      raw.exec("insert into run (job, start_dt, status, scheduled) values('Old', '2009-01-02 03:04:05', 'OK', 0)");
      raw.exec("insert into folder (run_id, path) values(1, '/old')");
    }
    RunLog log;
    Database db(log);
    ASSERT_TRUE(db_open(db, path)) << log.text();
    EXPECT_EQ(log.text(), "");
    RawDb raw(path);
    EXPECT_EQ(raw.tables(), kAllTables);
    EXPECT_THAT(raw.rows("select run_sk, job, start_dt, status, num_hash from run"),
                ElementsAre("1|Old|2009-01-02 03:04:05|OK|<null>"));
    EXPECT_THAT(raw.rows("select run_id, path from folder"), ElementsAre("1|/old"));
    EXPECT_EQ(raw.columns("run").back(), "num_hash|INTEGER");
  }
}

// A stage that fails is rolled back whole and reported; later stages are
// not tried.
TEST_F(DatabaseTest, AFailingStageIsRolledBackAndReported) {
  {
    RawDb raw(path_);
    for (const char* sql : kStage1) raw.exec(sql);
    raw.exec(kStage2[0]);
    raw.exec("create table hash_path (other integer)");  // in the way of stage 3
  }
  EXPECT_FALSE(db_open(db_, path_));
  EXPECT_TRUE(db_.is_open());
  EXPECT_EQ(log_.text(),
            "\r\n\r\nDB ERROR: Can't build database schema; table hash_path already exists\r\n"
            "SQLite3 Error: table hash_path already exists\r\n");
  RawDb raw(path_);
  // The column added by the same stage was rolled back with it.
  EXPECT_EQ(raw.columns("run").back(), "scheduled|INTEGER");
  EXPECT_EQ(raw.tables(), (std::vector<std::string>{"detail", "folder", "hash_path", "note", "run"}));
}

TEST_F(DatabaseTest, AnOpenFailureLeavesTheHolderEmptyAndNamesTheReason) {
  std::string missing = folder_.sub("no such folder/qx_main.sqlite3");
  EXPECT_FALSE(db_open(db_, missing));
  EXPECT_FALSE(db_.is_open());
  EXPECT_EQ(log_.text(), "\r\n\r\nDB ERROR: Can't initialize SQLite database: " + missing +
                             "\r\nSQLite3 Error: unable to open database file\r\n");
}

TEST_F(DatabaseTest, QueryValueGivesOneValueOrZeroForNoRow) {
  open();
  RawDb raw(path_);
  raw.exec("insert into folder (run_id, path) values(1, 'a'), (2, 'b'), (3, 'abcdefghij')");
  raw.exec("insert into detail (run_id, path, code, type, message) values(1, 'p', 'B', 'J', NULL)");
  struct Case {
    const char* sql;
    size_t length;
    bool ok;
    std::string value;
  };
  const Case cases[] = {
      {"select path from folder where run_id = 1", 100, true, "a"},
      {"select path from folder where run_id = 9", 100, true, "0"},  // no row
      {"select path from folder", 100, false, ""},                  // three rows
      {"select run_id, path from folder where run_id = 1", 100, false, ""},  // two columns
      {"select message from detail", 100, true, ""},               // NULL
      {"select path from folder where run_id = 3", 5, true, "abcd"},  // cut to length - 1
      {"select count(*) from folder", 100, true, "3"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.sql);
    std::string value = "junk";
    EXPECT_EQ(db_query_value(db_, c.sql, c.length, &value), c.ok);
    if (c.ok) {
      EXPECT_EQ(value, c.value);
    }
  }
  EXPECT_EQ(log_.text(), "");
  int n = -1;
  EXPECT_TRUE(db_query_int(db_, "select count(*) from folder", &n));
  EXPECT_EQ(n, 3);

  std::string value;
  EXPECT_FALSE(db_query_value(db_, "select x from nope", 100, &value));
  EXPECT_EQ(log_.text(), "\r\nDB ERROR: no such table: nope\r\n");
}

TEST_F(DatabaseTest, RunRowsAreInsertedThenCompleted) {
  open();
  int run = db_run_record(db_, 0, nullptr, "Bob's job", 0, 0, 0, 0, 0, 0, 0, 0);
  ASSERT_EQ(run, 1);
  EXPECT_EQ(db_run_record(db_, run, "OK", "Bob's job", 10, 6, 1, 1, 1, 1, 2, 0), run);
  RawDb raw(path_);
  std::vector<std::string> rows = raw.rows(
      "select run_sk, job, status, num_processed, num_valid, num_invalid, num_indeterminate, "
      "num_error, num_skipped, num_hash, scheduled from run");
  EXPECT_THAT(rows, ElementsAre("1|Bob's job|OK|10|6|1|1|1|1|2|0"));
  const std::string stamp = "[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}";
  EXPECT_THAT(raw.rows("select start_dt || '/' || stop_dt from run")[0], MatchesRegex(stamp + "/" + stamp));
  EXPECT_THAT(db_now_text(), MatchesRegex(stamp));
  EXPECT_EQ(log_.text(), "");
}

// A run whose row could not be inserted has run id 0; its end inserts a
// second row with the end time as start time and the final status.
TEST_F(DatabaseTest, AFailedRunInsertGivesZeroAndTheEndInsertsARow) {
  open();
  EXPECT_EQ(db_run_record(db_, 0, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  EXPECT_EQ(log_.text(), "\r\nDB ERROR: NOT NULL constraint failed: run.job\r\n");
  EXPECT_EQ(db_run_record(db_, 0, "Path already verified", "Default", 5, 4, 1, 0, 0, 0, 0, 0), 1);
  RawDb raw(path_);
  EXPECT_THAT(raw.rows("select run_sk, job, status, stop_dt, num_processed, scheduled from run"),
              ElementsAre("1|Default|Path already verified|<null>|<null>|0"));
}

TEST_F(DatabaseTest, FolderNoteAndDetailRowsKeepQuotesAndOddBytes) {
  open();
  EXPECT_TRUE(db_add_folder(db_, 3, "/photos/it's here"));
  EXPECT_TRUE(db_add_note(db_, 3, "Total files processed: 1\n"));
  EXPECT_TRUE(db_add_detail(db_, 3, "/photos/a.jpg", "Premature end", 'B', 'J'));
  EXPECT_TRUE(db_add_detail(db_, 3, "/photos/b.tif", nullptr, 'E', '?'));
  // Code and type bytes come from a worker: a quote or a zero byte must not
  // break or cut the statement.
  EXPECT_TRUE(db_add_detail(db_, 3, "/photos/c'.jpg", "it's", '\'', 'J'));
  EXPECT_TRUE(db_add_detail(db_, 3, "/photos/d.jpg", "after zero", '\0', '\0'));
  EXPECT_EQ(log_.text(), "");
  RawDb raw(path_);
  EXPECT_THAT(raw.rows("select run_id, path from folder"), ElementsAre("3|/photos/it's here"));
  EXPECT_THAT(raw.rows("select run_id, data from note"), ElementsAre("3|Total files processed: 1\n"));
  EXPECT_THAT(raw.rows("select run_id, path, code, type, message from detail order by path"),
              ElementsAre("3|/photos/a.jpg|B|J|Premature end", "3|/photos/b.tif|E|?|",
                          "3|/photos/c'.jpg|'|J|it's", "3|/photos/d.jpg|||after zero"));
}

TEST_F(DatabaseTest, AFailedDetailInsertShowsItsStatement) {
  open();
  EXPECT_FALSE(db_add_detail(db_, 5, nullptr, "bad", 'B', 'J'));
  EXPECT_EQ(log_.text(),
            "\r\nDB ERROR: NOT NULL constraint failed: detail.path\r\n"
            "insert into detail (run_id, path, code, type, message) values(5, NULL, 'B', 'J', 'bad')\r\n");
}

TEST(DatabaseHexTest, DigestBytesBecomeUpperCaseHexHighNibbleFirst) {
  uint8_t digest[64];
  for (int i = 0; i < 64; ++i) digest[i] = static_cast<uint8_t>(i * 4 + 1);
  std::string hex = hash_to_hex(digest);
  ASSERT_EQ(hex.size(), 128u);
  EXPECT_EQ(hex.substr(0, 16), "0105090D1115191D");
  EXPECT_EQ(hex.substr(112), "E1E5E9EDF1F5F9FD");
}

TEST(DatabaseFolderCutTest, TheFolderIsCutAtTheLastSeparatorUnlessItIsTheFirstCharacter) {
  struct Case {
    const char* path;
    const char* folder;
  };
  const Case cases[] = {
      {"/photos/2009/a.jpg", "/photos/2009"},
      {"a.jpg", "a.jpg"},        // no separator: the whole path
      {"/a.jpg", "/a.jpg"},      // the only separator is the first character
      {"/x/a\\b.jpg", "/x"},     // a backslash is part of the name
      {"/x/a\\b\\", "/x"},
      {"c:\\dir/sub\\a.jpg", "c:\\dir"},
      {"rel/a.jpg", "rel"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(db_hash_folder_of(c.path), c.folder) << c.path;
  }
}

std::vector<uint8_t> digest_filled(uint8_t value) { return std::vector<uint8_t>(64, value); }

TEST_F(DatabaseTest, DigestsAreStoredReadAndMovedToTheLatestFolder) {
  open();
  std::vector<uint8_t> first = digest_filled(0x11), second = digest_filled(0xA5);
  uint8_t out[64];

  EXPECT_FALSE(db_get_hash(db_, "a.jpg/10/2009-01-02 03:04:05/[no exif time]", out));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 64), digest_filled(0xFF));
  EXPECT_EQ(log_.text(), "");  // no reference is not an error

  const char* key = "a.jpg/10/2009-01-02 03:04:05/[no exif time]";
  ASSERT_TRUE(db_put_hash(db_, first.data(), "/one/a.jpg", key));
  ASSERT_TRUE(db_put_hash(db_, first.data(), "/one/b.jpg", "b.jpg/1/x/y"));
  ASSERT_TRUE(db_get_hash(db_, key, out));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 64), first);

  // The same key from another folder: digest and folder replaced in place.
  ASSERT_TRUE(db_put_hash(db_, second.data(), "/two/it's/a.jpg", key));
  ASSERT_TRUE(db_get_hash(db_, key, out));
  EXPECT_EQ(std::vector<uint8_t>(out, out + 64), second);
  std::string folder;
  EXPECT_TRUE(db_hash_folder(db_, key, &folder));
  EXPECT_EQ(folder, "/two/it's");

  RawDb raw(path_);
  EXPECT_THAT(raw.rows("select rowid, path from hash_path order by rowid"), ElementsAre("1|/one", "2|/two/it's"));
  EXPECT_THAT(raw.rows("select rowid, key, hash_path_id, hash from hash_key order by rowid"),
              ElementsAre(std::string("1|") + key + "|2|blob64", "2|b.jpg/1/x/y|1|blob64"));
  std::string a5;
  for (int i = 0; i < 64; ++i) a5 += "A5";
  EXPECT_THAT(raw.rows("select hex(hash) from hash_key where rowid = 1"), ElementsAre(a5));
  EXPECT_EQ(log_.text(), "");

  // An unknown key reads as folder id 0, whose path query finds no row: "0".
  EXPECT_TRUE(db_hash_folder(db_, "unknown key", &folder));
  EXPECT_EQ(folder, "0");
}

TEST_F(DatabaseTest, AStoredDigestOfTheWrongSizeIsReportedAndCountsAsNone) {
  open();
  {
    RawDb raw(path_);
    raw.exec("insert into hash_path (path) values('/p')");
    raw.exec("insert into hash_key (key, hash_path_id, hash) values('short', 1, X'0102')");
  }
  uint8_t out[64];
  EXPECT_FALSE(db_get_hash(db_, "short", out));
  EXPECT_EQ(log_.text(), "\r\nERROR: hash in DB record wrong length\r\n");
}

// Without a connection every operation fails with its usual line, and the
// library is never called with a null connection.
TEST_F(DatabaseTest, AnEmptyHolderFailsEveryOperationWithADbError) {
  const std::string line = "\r\nDB ERROR: no database open\r\n";
  std::vector<uint8_t> digest = digest_filled(1);
  uint8_t out[64];
  std::string value;
  int n = 0;
  struct Case {
    const char* name;
    std::function<bool()> operation;
    std::string log;
  };
  const Case cases[] = {
      {"query value", [&] { return db_query_value(db_, "select 1", 100, &value); }, line},
      {"query int", [&] { return db_query_int(db_, "select 1", &n); }, line},
      {"exec", [&] { return db_exec(db_, "begin transaction"); }, line},
      {"run insert", [&] { return db_run_record(db_, 0, nullptr, "Default", 0, 0, 0, 0, 0, 0, 0, 0) != 0; }, line},
      {"run update", [&] { return db_run_record(db_, 4, "OK", "Default", 0, 0, 0, 0, 0, 0, 0, 0) != 0; }, line},
      {"folder", [&] { return db_add_folder(db_, 0, "/p"); }, line},
      {"note", [&] { return db_add_note(db_, 0, "note"); }, line},
      {"detail", [&] { return db_add_detail(db_, 0, "/p/a.jpg", "m", 'B', 'J'); },
       line + "insert into detail (run_id, path, code, type, message) values(0, '/p/a.jpg', 'B', 'J', 'm')\r\n"},
      {"get hash", [&] { return db_get_hash(db_, "k", out); }, line},
      {"put hash", [&] { return db_put_hash(db_, digest.data(), "/p/a.jpg", "k"); }, line},
      {"schema", [&] { return db_make_schema(db_); },
       "\r\n\r\nDB ERROR: Can't build database schema; no database open\r\nSQLite3 Error: no database open\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log_.appendRunLog(nullptr);
    EXPECT_FALSE(c.operation());
    EXPECT_EQ(log_.text(), c.log);
  }
  log_.appendRunLog(nullptr);
  EXPECT_TRUE(db_hash_folder(db_, "k", &value));
  EXPECT_EQ(log_.text(), line + line);
  log_.appendRunLog(nullptr);
  EXPECT_TRUE(db_close(db_));
  EXPECT_EQ(log_.text(), "");
}

TEST_F(DatabaseTest, CloseEmptiesTheHolder) {
  open();
  EXPECT_TRUE(db_close(db_));
  EXPECT_FALSE(db_.is_open());
  EXPECT_TRUE(db_close(db_));
  EXPECT_EQ(log_.text(), "");
}

// A reader's transaction (as a purge runs it) and the run thread's digest
// stores share the connection: each holds the lock for its whole
// transaction, so neither starts inside the other.
TEST_F(DatabaseTest, TransactionsOnTwoThreadsDoNotInterleave) {
  open();
  constexpr int kStores = 200;
  std::thread writer([&] {
    std::vector<uint8_t> digest = digest_filled(7);
    for (int i = 0; i < kStores; ++i) {
      std::string key = "k" + std::to_string(i);
      std::string path = "/f" + std::to_string(i % 7) + "/a.jpg";
      EXPECT_TRUE(db_put_hash(db_, digest.data(), path.c_str(), key.c_str()));
    }
  });
  for (int i = 0; i < kStores; ++i) {
    auto lock = db_.lock();
    ASSERT_TRUE(db_exec(db_, "begin transaction"));
    int keys = 0;
    EXPECT_TRUE(db_query_int(db_, "select count(*) from hash_key", &keys));
    EXPECT_TRUE(db_exec(db_, "delete from hash_key where key = 'none'"));
    ASSERT_TRUE(db_exec(db_, "commit"));
  }
  writer.join();
  EXPECT_EQ(log_.text(), "");
  int keys = 0;
  EXPECT_TRUE(db_query_int(db_, "select count(*) from hash_key", &keys));
  EXPECT_EQ(keys, kStores);
}

}  // namespace

namespace {

// A run log that, like the window's adapter, waits for another thread on
// every append; that thread uses the database meanwhile.
class LogThatQueriesFromAnotherThread : public RunLogSink {
 public:
  void appendRunLog(const char* text) override {
    texts.emplace_back(text != nullptr ? text : "<clear>");
    std::thread window([this] {
      std::string value;
      db_query_value(*db, "select count(*) from run", 100, &value);
    });
    window.join();
  }
  void appendRunLogNotice(const char* text) override { appendRunLog(text); }
  Database* db = nullptr;
  std::vector<std::string> texts;
};

TEST(DatabaseLogTest, RunLogLinesAreWrittenAfterTheConnectionIsLetGo) {
  TempFolder folder;
  LogThatQueriesFromAnotherThread log;
  Database db(log);
  log.db = &db;
  ASSERT_TRUE(db_open(db, folder.sub("qx_main.sqlite3")));
  std::string value;
  EXPECT_FALSE(db_query_value(db, "select x from nope", 100, &value));
  EXPECT_EQ(db_run_record(db, 0, nullptr, nullptr, 0, 0, 0, 0, 0, 0, 0, 0), 0);
  {
    // Lines written inside a caller's session wait for its end.
    auto session = db.lock();
    EXPECT_FALSE(db_add_detail(db, 1, nullptr, "m", 'B', 'J'));
    EXPECT_EQ(log.texts.size(), 2u);
  }
  EXPECT_THAT(log.texts,
              ElementsAre("\nDB ERROR: no such table: nope\n", "\nDB ERROR: NOT NULL constraint failed: run.job\n",
                          "\nDB ERROR: NOT NULL constraint failed: detail.path\n",
                          "insert into detail (run_id, path, code, type, message) values(1, NULL, 'B', 'J', 'm')\n"));
}


// Grouped writes, as a run makes them on its own thread.
class DatabaseGroupTest : public DatabaseTest {
 protected:
  // Runs body on a thread of its own (the run thread) and waits for it.
  void on_run_thread(const std::function<void()>& body) { std::thread(body).join(); }
};

TEST_F(DatabaseGroupTest, RowsShowToOtherConnectionsOnceTheGroupIsOldEnoughWithoutFurtherWrites) {
  open();
  RawDb other(path_);
  std::atomic<bool> seen{false};
  on_run_thread([&] {
    db_.begin_write_group(1000, std::chrono::milliseconds(20));
    EXPECT_TRUE(db_add_folder(db_, 1, "/a"));
    EXPECT_TRUE(db_add_detail(db_, 1, "/a/x.jpg", "m", 'B', 'J'));
    // No more writes: the group is committed by its age alone.
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!seen && std::chrono::steady_clock::now() < deadline) {
      seen = other.rows("select count(*) from detail") == std::vector<std::string>{"1"};
      // Poll interval while waiting for the row; only the 30 s bound fails.
      if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    db_.end_write_group();
  });
  EXPECT_TRUE(seen);
  EXPECT_THAT(other.rows("select run_id, path from folder"), ElementsAre("1|/a"));
}

TEST_F(DatabaseGroupTest, AnotherThreadsWorkCommitsTheGroupFirst) {
  open();
  RawDb other(path_);
  uint8_t digest[64] = {7};
  std::mutex step;
  std::condition_variable turn;
  int stage = 0;
  std::thread run([&] {
    db_.begin_write_group(1000, std::chrono::hours(1));
    EXPECT_TRUE(db_add_detail(db_, 2, "/p/a.jpg", "", 'B', 'J'));
    EXPECT_TRUE(db_put_hash(db_, digest, "/p/a.jpg", "a.jpg/1/t/e"));
    {
      std::unique_lock<std::mutex> lock(step);
      stage = 1;
      turn.notify_all();
      turn.wait(lock, [&] { return stage == 2; });
    }
    // Its next write starts another group.
    EXPECT_TRUE(db_add_detail(db_, 2, "/p/b.jpg", "", 'B', 'J'));
    db_.end_write_group();
  });
  {
    std::unique_lock<std::mutex> lock(step);
    turn.wait(lock, [&] { return stage == 1; });
  }
  // Uncommitted, so far: another connection does not see the rows.
  EXPECT_THAT(other.rows("select count(*) from detail"), ElementsAre("0"));
  // A transaction of this thread (a purge) is not refused: the group is
  // committed first.
  {
    auto session = db_.lock();
    std::string message;
    EXPECT_TRUE(db_exec_quiet(db_, "begin transaction", &message)) << message;
    EXPECT_TRUE(db_exec_quiet(db_, "delete from hash_key", &message)) << message;
    EXPECT_TRUE(db_exec_quiet(db_, "commit", &message)) << message;
  }
  EXPECT_THAT(other.rows("select count(*) from detail"), ElementsAre("1"));
  EXPECT_THAT(other.rows("select count(*) from hash_key"), ElementsAre("0"));
  {
    std::lock_guard<std::mutex> lock(step);
    stage = 2;
    turn.notify_all();
  }
  run.join();
  EXPECT_THAT(other.rows("select path from detail order by rowid"), ElementsAre("/p/a.jpg", "/p/b.jpg"));
  EXPECT_THAT(other.rows("select path from hash_path"), ElementsAre("/p"));
  EXPECT_EQ(log_.text(), "");
}

TEST_F(DatabaseGroupTest, AFailedWriteInAGroupIsReportedAndTheGroupGoesOn) {
  open();
  RawDb other(path_);
  on_run_thread([&] {
    db_.begin_write_group();
    EXPECT_TRUE(db_add_detail(db_, 3, "/q/a.jpg", "", 'B', 'J'));
    EXPECT_FALSE(db_add_detail(db_, 3, nullptr, "m", 'B', 'J'));
    EXPECT_TRUE(db_add_detail(db_, 3, "/q/c.jpg", "", 'B', 'J'));
    db_.end_write_group();
  });
  EXPECT_THAT(other.rows("select path from detail order by rowid"), ElementsAre("/q/a.jpg", "/q/c.jpg"));
  EXPECT_EQ(db_.error_count(), 1);
  EXPECT_EQ(log_.text(),
            "\r\nDB ERROR: NOT NULL constraint failed: detail.path\r\n"
            "insert into detail (run_id, path, code, type, message) values(3, NULL, 'B', 'J', 'm')\r\n");
}

}  // namespace
