// Whole runs, headless: real folders, a real database file, real worker
// processes (the scriptable fake worker, or corvex itself).
#include "frontend/core/run_engine.h"

#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

#include "frontend/core/exif_time.h"
#include "platform/files.h"
#include "frontend/core/hash_key.h"
#include "frontend/core/hashes_model.h"
#include "frontend/core/worker_memory_limit.h"
#include "support/child_process.h"
#include "support/fake_worker.h"
#include "support/image_writers.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"
#include "util/prefs.h"
#include "util/proper.h"
#include "util/trace.h"

namespace {

using namespace std::chrono_literals;
using namespace testing_support;
using frontend::RunConfig;
using frontend::RunOutcome;

// The window as the tests see it: answers OK unless told otherwise,
// records message boxes, and can press Stop after a number of progress
// updates.
class FakeRunUi : public frontend::RunUi {
 public:
  std::deque<bool> answers;  // next askOkCancel answers; OK when empty
  std::vector<std::string> questions;
  std::vector<std::string> messages;
  int progress_updates = 0;
  int stop_after_updates = -1;
  bool closed = false;
  int store_hashes_cleared = 0;
  frontend::RunEngine* engine = nullptr;
  // Called on the test's thread while it waits for the run to end.
  std::function<void()> while_waiting;
  // Line 1 texts, in order (the run thread writes, the test reads after).
  std::vector<std::string> lines;

  bool askOkCancel(const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  void showMessage(const std::string& text) override {
    std::unique_lock<std::mutex> g(mutex_);
    messages.push_back(text);
    if (!hold_boxes_) return;
    // The box stays open until the test dismisses it.
    const int box = ++boxes_opened_;
    box_changed_.notify_all();
    box_changed_.wait(g, [&] { return boxes_dismissed_ >= box; });
  }
  // From now on every box stays open until dismissBox lets it go; boxes are
  // counted from here.
  void holdBoxes() {
    std::lock_guard<std::mutex> g(mutex_);
    hold_boxes_ = true;
    boxes_opened_ = 0;
    boxes_dismissed_ = 0;
  }
  // Waits until box n (counted from 1) is open; false when stopHolding came
  // first.
  bool waitForBox(int n) {
    std::unique_lock<std::mutex> g(mutex_);
    box_changed_.wait(g, [&] { return boxes_opened_ >= n || !hold_boxes_; });
    return boxes_opened_ >= n;
  }
  void dismissBox(int n) {
    std::lock_guard<std::mutex> g(mutex_);
    boxes_dismissed_ = n;
    box_changed_.notify_all();
  }
  void stopHolding() {
    std::lock_guard<std::mutex> g(mutex_);
    hold_boxes_ = false;
    box_changed_.notify_all();
  }
  void setProgressLine(int line, const std::string& text) override {
    if (line != 1) return;
    {
      std::lock_guard<std::mutex> g(mutex_);
      lines.push_back(text);
    }
    if (++progress_updates == stop_after_updates && engine != nullptr) engine->stop();
  }
  void closeProgress() override { closed = true; }
  void showProgressUntil(const std::function<bool()>& run_ended) override {
    auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!run_ended()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the run did not end";
      if (while_waiting) while_waiting();
      // The run gives no event here, as the real window's timer polls it too;
      // the interval only spaces the looks, the deadline alone can fail.
      std::this_thread::sleep_for(2ms);  // cannot change the outcome: sets only how often run_ended() is asked
    }
  }
  void clearStoreHashes() override { ++store_hashes_cleared; }

 private:
  std::mutex mutex_;
  std::condition_variable box_changed_;
  bool hold_boxes_ = false;
  int boxes_opened_ = 0;
  int boxes_dismissed_ = 0;
};

class RunEngineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    env_ = std::make_unique<IsolatedEnvironment>(dir_.path());
    root_ = dir_.sub("props");
    ASSERT_TRUE(PropInit(root_.c_str()));
    prefs.SetCurrent(propset_alloc(kPropCategory, "Test"));
    ASSERT_TRUE(frontend::db_open(db_, dir_.sub("qx_main.sqlite3")));
  }
  void TearDown() override {
    engine_.reset();
    frontend::db_close(db_);
    PropSetFree(prefs.Set());
    prefs.SetCurrent(nullptr);
    PropRootFree();
  }
  frontend::RunEngine& engine(const std::string& program) {
    frontend::PoolConfig pool{program, root_, {}};
    pool.timings.retry_pause = 50ms;
    engine_ = std::make_unique<frontend::RunEngine>(ui_, log_, log_, db_, hashes_, pool);
    ui_.engine = engine_.get();
    return *engine_;
  }
  RunConfig config(std::vector<std::string> folders) {
    RunConfig c;
    c.folders = std::move(folders);
    c.capture_path = dir_.sub("capture.txt");
    c.job_name = "Test";
    c.converter_path = "/bin/sh";  // must exist; the fake worker never runs it
    return c;
  }
  std::string jpeg(const std::string& name, int size = 32) {
    std::string path = dir_.sub(name);
    platform::make_folders(path.substr(0, path.rfind('/')));
    EXPECT_TRUE(write_jpeg(path, {size, size}));
    return path;
  }
  std::vector<frontend::DbRow> rows(const std::string& query) {
    std::vector<frontend::DbRow> out;
    EXPECT_TRUE(frontend::db_query_rows(db_, query, &out)) << query;
    return out;
  }
  static std::string text(const frontend::DbRow& row, size_t i) { return row.at(i).value_or("<null>"); }
  // The run log as the model holds it, with "\r\n" read as "\n".
  std::string run_log() {
    std::string t = log_.text();
    std::string out;
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] == '\r' && i + 1 < t.size() && t[i + 1] == '\n') continue;
      out.push_back(t[i]);
    }
    return out;
  }
  // The run log from a marker line on.
  std::string log_from(const std::string& marker) {
    std::string t = run_log();
    auto at = t.find(marker);
    return at == std::string::npos ? t : t.substr(at);
  }

  TempFolder dir_;
  std::unique_ptr<IsolatedEnvironment> env_;
  std::string root_;
  FakeRunUi ui_;
  frontend::RunLog log_;
  frontend::Database db_{log_};
  frontend::HashContext hashes_{db_, log_, std::make_unique<frontend::ExaminerExifTimeSource>()};
  std::unique_ptr<frontend::RunEngine> engine_;
};

TEST_F(RunEngineTest, ARunOverRealFilesWithCorvexRecordsEverything) {
  jpeg("photos/a.jpg");
  jpeg("photos/b.jpg");
  std::string cut = jpeg("photos/c.jpg", 256);
  ASSERT_TRUE(truncate_to(cut, 0.5));
  dir_.write_file("photos/notes.txt", "words");
  dir_.write_file("photos/.hidden.jpg", "ignored");
  ASSERT_TRUE(platform::make_folder(dir_.sub("photos/sub")));
  ASSERT_TRUE(write_tiff(dir_.sub("photos/sub/d.tif")));

  auto outcome = engine(corvex_path()).runVerification(config({dir_.sub("photos")}));
  ASSERT_TRUE(outcome.ran);
  EXPECT_EQ(outcome.status, "");
  EXPECT_TRUE(ui_.closed);
  EXPECT_TRUE(ui_.messages.empty());
  // The run log opens with the workers' memory limit, once per run.
  const std::string limit = frontend::workerMemoryLimitLine(frontend::workerMemoryLimit(8));
  EXPECT_EQ(run_log().rfind(limit + "\nVerifying folder " + dir_.sub("photos") + "\n", 0), 0u) << run_log();
  EXPECT_EQ(run_log().find("Worker memory limit: ", limit.size()), std::string::npos) << run_log();
  EXPECT_NE(run_log().find("Probably invalid: " + cut + "\n"), std::string::npos) << run_log();
  std::string tail = log_from("\nFinished normally.\n");
  auto times = tail.find("\nTotal time: ");
  EXPECT_EQ(tail.substr(0, times),
            "\nFinished normally.\n"
            "Verification Checks: Structure \n\n"
            "Total processed: 5\nTotal skipped: 1\nTotal hashes kept: 0 (not verified)\n"
            "Total valid: 3\nTotal invalid: 1\nTotal indeterminate: 0\nTotal error: 0\nTotal hash error: 0\n"
            "\n"
            "Valid JPEGs: 2\nValid TIFFs: 1\n"
            "\n"
            "Invalid JPEGs: 1\n"
            "\nSkipped Extensions:\n\tTXT: 1\n");
  EXPECT_THAT(tail.substr(times),
              ::testing::MatchesRegex("\nTotal time: 00:00:[0-9][0-9]\nTime per image: [0-9]+\\.[0-9][0-9] seconds\n"));

  auto run = rows("select job, status, num_processed, num_valid, num_invalid, num_indeterminate, num_error, "
                  "num_skipped from run");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(text(run[0], 0), "Test");
  EXPECT_EQ(text(run[0], 1), "OK");
  EXPECT_EQ(text(run[0], 2) + text(run[0], 3) + text(run[0], 4) + text(run[0], 7), "5311");
  auto folders = rows("select path from folder");
  ASSERT_EQ(folders.size(), 1u);
  EXPECT_EQ(text(folders[0], 0), dir_.sub("photos"));
  auto details = rows("select path, code, type from detail");
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(text(details[0], 0), cut);
  EXPECT_EQ(text(details[0], 1) + text(details[0], 2), "BJ");
  auto notes = rows("select data from note");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(text(notes[0], 0), outcome.summary);
  EXPECT_EQ(outcome.summary.rfind("Verification Checks: Structure \n", 0), 0u);
}

TEST_F(RunEngineTest, AMissingFolderStopsTheWalkButTheRunStillEnds) {
  jpeg("later/a.jpg");
  auto outcome =
      engine(fake_worker_path()).runVerification(config({dir_.sub("missing"), dir_.sub("later")}));
  EXPECT_EQ(outcome.status, "Can't traverse folder - check that the path exists and is readable.");
  EXPECT_EQ(run_log().find("Verifying folder " + dir_.sub("later")), std::string::npos);
  EXPECT_EQ(ui_.messages,
            std::vector<std::string>{
                "Can't traverse folder - check that the path exists and is readable.\r\r(Verification cancelled.)"});
  EXPECT_EQ(run_log().find("Finished normally"), std::string::npos);
  EXPECT_NE(run_log().find("Total processed: 0\n"), std::string::npos);
  EXPECT_EQ(text(rows("select status from run")[0], 0), outcome.status);
}

TEST_F(RunEngineTest, MaxInvalidZeroStopsAtTheFirstBadResult) {
  jpeg("one/a.jpg");
  jpeg("one/b.jpg");
  jpeg("two/c.jpg");
  write_fake_script(root_, "*\tB\tJ\t0\tbroken\n");
  auto c = config({dir_.sub("one"), dir_.sub("two")});
  c.max_invalid_infinite = false;
  c.max_invalid = "0";
  c.max_sub_processes = 1;  // the first answer is read before the second file goes out
  auto outcome = engine(fake_worker_path()).runVerification(c);
  EXPECT_NE(run_log().find("\nMax Invalid Messages exceeded.\n"), std::string::npos) << run_log();
  EXPECT_EQ(run_log().find("Can't traverse"), std::string::npos);
  EXPECT_EQ(run_log().find("Verifying folder " + dir_.sub("two")), std::string::npos);
  EXPECT_EQ(outcome.status, "");
}

TEST_F(RunEngineTest, SkippedFilesCountAndTheirExtensionsAreListed) {
  dir_.write_file("mix/a.txt", "1");
  dir_.write_file("mix/b.TXT", "2");
  dir_.write_file("mix/noext", "3");
  dir_.write_file("mix/.dot.jpg", "never counted");
  auto outcome = engine(fake_worker_path()).runVerification(config({dir_.sub("mix")}));
  EXPECT_NE(outcome.summary.find("Total processed: 3\nTotal skipped: 3\n"), std::string::npos) << outcome.summary;
  EXPECT_NE(outcome.summary.find("\nSkipped Extensions:\n\tTXT: 2\n\t[no extension]: 1\n"), std::string::npos)
      << outcome.summary;
  EXPECT_NE(outcome.summary.find("Time per image: 0.00 seconds\n"), std::string::npos);
}

TEST_F(RunEngineTest, AnEmptyFolderFinishesNormallyWithZeroTotals) {
  ASSERT_TRUE(platform::make_folder(dir_.sub("empty")));
  auto outcome = engine(fake_worker_path()).runVerification(config({dir_.sub("empty")}));
  EXPECT_NE(run_log().find("\nFinished normally.\n"), std::string::npos);
  EXPECT_NE(outcome.summary.find("Total processed: 0\n"), std::string::npos);
  EXPECT_NE(outcome.summary.find("\nSkipped Extensions: [none]\n"), std::string::npos);
}

TEST_F(RunEngineTest, APathTooLongForARecordIsAnErrorWithoutAWorker) {
  // 401 bytes: nested folders, then a name that makes up the rest.
  std::string folder = dir_.sub("long");
  std::string middle = "/" + std::string(200, 'm') + "/";
  std::string name = std::string(401 - folder.size() - middle.size() - 5, 'n') + "a.jpg";
  std::string path = jpeg("long" + middle + name);
  ASSERT_EQ(path.size(), 401u);
  name.replace(name.size() - 5, 1, "b");
  std::string next = jpeg("long" + middle + name);
  auto outcome = engine(fake_worker_path()).runVerification(config({folder}));
  // Each notice ends its line, so the next file's line starts a line.
  EXPECT_NE(run_log().find("Processing error: " + path + "\n\t(path too long)\n\t(Path too long)\n"
                           "Processing error: " + next + "\n\t(path too long)\n\t(Path too long)\n"),
            std::string::npos)
      << run_log();
  EXPECT_TRUE(fake_transcript(root_).empty());
}

TEST_F(RunEngineTest, TheSameFolderTwiceStopsOnAPathStillInFlight) {
  jpeg("twice/a.jpg");
  write_fake_script(root_, "a.jpg\tG\tJ\t800\n");
  auto c = config({dir_.sub("twice"), dir_.sub("twice")});
  c.max_sub_processes = 2;
  auto outcome = engine(fake_worker_path()).runVerification(c);
  EXPECT_EQ(outcome.status, "Path already verified");
  EXPECT_NE(run_log().find(dir_.sub("twice/a.jpg") + "\n"), std::string::npos);
}

TEST_F(RunEngineTest, StopEndsTheRunWithOneCancelMessage) {
  for (int i = 0; i < 20; ++i) jpeg("many/" + std::to_string(100 + i) + ".jpg");
  write_fake_script(root_, "*\tG\tJ\t100\n");
  ui_.stop_after_updates = 3;
  auto c = config({dir_.sub("many")});
  c.max_sub_processes = 1;
  auto outcome = engine(fake_worker_path()).runVerification(c);
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Cancelled by user."});
  EXPECT_NE(run_log().find("\n\nCancelled by user.\n"), std::string::npos);
  EXPECT_NE(run_log().find("\nCancelled by user.\nVerification Checks"), std::string::npos) << run_log();
  EXPECT_EQ(run_log().find("Worked path not completed"), std::string::npos);
  EXPECT_EQ(run_log().find("discrepancy"), std::string::npos);
  EXPECT_FALSE(ui_.closed);
}

TEST_F(RunEngineTest, ABoxLeftOpenAtTheEndDoesNotCountAsTimeOfTheRun) {
  // The run's clock stands still except while a box is open: each box the
  // run shows is held open until the test has moved the clock ten seconds
  // on, as a user who leaves it open does. The run's end comes before every
  // box, so its stop time, total time and time per image see none of them.
  struct Case {
    const char* name;
    std::function<RunConfig()> setup;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {"Stop",
       [&] {
         for (int i = 0; i < 20; ++i) jpeg("stop/" + std::to_string(100 + i) + ".jpg");
         ui_.stop_after_updates = 3;
         auto c = config({dir_.sub("stop")});
         c.max_sub_processes = 1;
         return c;
       },
       {"Cancelled by user."}},
      {"errors",
       [&] {
         dir_.write_file("raw/a.cr2", "raw");
         dir_.write_file("raw/b.cr2", "raw");
         PropPutInt(prefs.Set(), pref_key::VerifyRaws, 1);
         auto c = config({dir_.sub("raw")});
         c.converter_path = dir_.sub("no-converter");
         return c;
       },
       {"Converter set in Preferences does not exist.\r\r(Verification cancelled.)",
        "Failed to give final work to subprocess\r\r(Verification cancelled.)",
        "Worked path not completed\r\r(Verification cancelled.)"}},
  };
  constexpr int64_t kStart = 1700000000;
  auto& e = engine(fake_worker_path());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<int64_t> now{kStart};
    e.setClock([&now] { return now.load(); });
    ui_.messages.clear();
    ui_.holdBoxes();
    std::thread user([&] {
      for (int box = 1; ui_.waitForBox(box); ++box) {
        now += 10;
        ui_.dismissBox(box);
      }
    });
    auto outcome = e.runVerification(c.setup());
    ui_.stopHolding();
    user.join();
    ui_.stop_after_updates = -1;

    EXPECT_EQ(ui_.messages, c.boxes);
    EXPECT_EQ(now.load(), kStart + 10 * static_cast<int64_t>(c.boxes.size()));
    EXPECT_NE(outcome.summary.find("\nTotal time: 00:00:00\nTime per image: 0.00 seconds\n"), std::string::npos)
        << outcome.summary;
    auto run = rows("select start_dt, stop_dt from run where run_sk = " + std::to_string(outcome.run_id));
    ASSERT_EQ(run.size(), 1u);
    EXPECT_EQ(text(run[0], 0), frontend::db_time_text(kStart));
    EXPECT_EQ(text(run[0], 1), frontend::db_time_text(kStart));
  }
}

TEST_F(RunEngineTest, EachWorkersStandardErrorReachesTheLogFileAsOneBlock) {
  // Two workers take the files in turn, each writing a line to its standard
  // error for every request it reads, so their lines come interleaved in
  // time. The log file gets each slot's lines together, under the slot's
  // number, in the order its worker wrote them.
  const std::string log_path = dir_.sub("CorvellaLog.txt");
  log_setup(log_path.c_str());
  log_enabled = true;
  std::vector<std::string> files;
  for (int i = 0; i < 8; ++i) files.push_back(jpeg("pair/" + std::to_string(10 + i) + ".jpg"));
  write_fake_script(root_, "*\tG\tJ\t20\n");
  auto c = config({dir_.sub("pair")});
  c.max_sub_processes = 2;
  auto outcome = engine(fake_worker_path()).runVerification(c);
  log_enabled = false;
  log_reset();
  EXPECT_NE(outcome.summary.find("Total valid: 8\n"), std::string::npos) << outcome.summary;

  // The log's capture lines, without their time stamps.
  std::vector<std::string> lines;
  std::stringstream log(read_file(log_path));
  for (std::string line; std::getline(log, line);) {
    auto at = line.find("subprocess stderr");
    if (at != std::string::npos) lines.push_back(line.substr(at));
  }
  // What each worker was asked, in its order.
  std::map<pid_t, std::vector<std::string>> asked;
  for (const auto& r : fake_transcript(root_)) asked[r.pid].push_back(r.paths.at(0));
  ASSERT_EQ(asked.size(), 2u);

  std::vector<std::string> expected;
  std::set<pid_t> seen;
  size_t at = 0;
  for (int slot = 0; slot < 2; ++slot) {
    ASSERT_LT(at, lines.size());
    ASSERT_EQ(lines[at++], "subprocess stderr of worker " + std::to_string(slot) + ":") << ::testing::PrintToString(lines);
    // The block's worker: the one its first line names.
    ASSERT_LT(at, lines.size());
    const std::string prefix = "subprocess stderr: fake_worker ";
    ASSERT_EQ(lines[at].rfind(prefix, 0), 0u) << lines[at];
    pid_t pid = static_cast<pid_t>(std::stol(lines[at].substr(prefix.size())));
    ASSERT_TRUE(asked.count(pid)) << lines[at];
    seen.insert(pid);
    for (const std::string& path : asked[pid]) {
      expected.push_back(prefix + std::to_string(pid) + ": 1 internal " + path);
      ASSERT_LT(at, lines.size());
      EXPECT_EQ(lines[at++], expected.back());
    }
  }
  EXPECT_EQ(seen.size(), 2u);
  EXPECT_EQ(at, lines.size()) << ::testing::PrintToString(lines);
}

TEST_F(RunEngineTest, AWorkerThatDiesGivesAnIndeterminateResultAndTheRunGoesOn) {
  jpeg("d/a.jpg");
  jpeg("d/b.jpg");
  write_fake_script(root_, "a.jpg\tdie-before\n");
  auto outcome = engine(fake_worker_path()).runVerification(config({dir_.sub("d")}));
  EXPECT_NE(outcome.summary.find("Total valid: 1\n"), std::string::npos) << outcome.summary;
  EXPECT_NE(outcome.summary.find("Total indeterminate: 1\n"), std::string::npos);
  EXPECT_NE(run_log().find("Probably invalid: " + dir_.sub("d/a.jpg")), std::string::npos);
}

TEST_F(RunEngineTest, ElevenRawFilesGoAsABatchOfTenThenOne) {
  for (int i = 0; i < 11; ++i) dir_.write_file("raw/" + std::to_string(10 + i) + ".cr2", "raw");
  PropPutInt(prefs.Set(), "VerifyRaws", 1);
  auto c = config({dir_.sub("raw")});
  c.converter_path = "/bin/true";
  auto outcome = engine(fake_worker_path()).runVerification(c);
  auto requests = fake_transcript(root_);
  ASSERT_EQ(requests.size(), 2u) << run_log();
  // Two workers wrote the transcript: the order of its lines is theirs.
  std::multiset<size_t> sizes{requests[0].paths.size(), requests[1].paths.size()};
  EXPECT_EQ(sizes, (std::multiset<size_t>{1, 10}));
  EXPECT_EQ(requests[0].mode, "/bin/true");
  EXPECT_EQ(requests[1].mode, "/bin/true");
  EXPECT_NE(outcome.summary.find("Valid Raws: 11\n"), std::string::npos) << outcome.summary;
}

// A copy of a file of tests/fixtures under the test's folder.
std::string copy_fixture(const TempFolder& dir, const std::string& fixture, const std::string& name) {
  std::string bytes = read_file(std::string(CORVELLA_FIXTURES) + "/" + fixture);
  EXPECT_FALSE(bytes.empty()) << fixture;
  return dir.write_file(name, bytes);
}

TEST_F(RunEngineTest, WithTheBuiltInOptionsDngFilesAreValidatedAndRawFilesSkipped) {
  // No converter here: the worker validates DNG files itself, and camera
  // raw files are skipped without a word.
  jpeg("shoot/a.jpg");
  copy_fixture(dir_, "dng/canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng", "shoot/sound.dng");
  std::string damaged =
      copy_fixture(dir_, "dng/canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng", "shoot/damaged.DNG");
  ASSERT_TRUE(truncate_to(damaged, 0.5));
  copy_fixture(dir_, "raw/canon_eos300d_ciff_stripped.crw", "shoot/IMG_0001.CRW");
  auto c = config({dir_.sub("shoot")});
  c.converter_path = dir_.sub("no-converter");
  auto outcome = engine(corvex_path()).runVerification(c);
  EXPECT_EQ(outcome.status, "");
  EXPECT_EQ(ui_.messages, std::vector<std::string>{});
  EXPECT_NE(outcome.summary.find("Total processed: 4\nTotal skipped: 1\nTotal hashes kept: 0 (not verified)\n"
                                 "Total valid: 2\nTotal invalid: 1\nTotal indeterminate: 0\nTotal error: 0\n"
                                 "Total hash error: 0\n\n"
                                 "Valid JPEGs: 1\nValid DNGs: 1\n\nInvalid DNGs: 1\n"
                                 "\nSkipped Extensions:\n\tCRW: 1\n"),
            std::string::npos)
      << outcome.summary;
  auto details = rows("select path, code, type from detail");
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(text(details[0], 0) + "|" + text(details[0], 1) + text(details[0], 2), damaged + "|BD");
}

TEST_F(RunEngineTest, AJobThatChecksRawFilesWithoutAConverterStopsAtTheFirstOne) {
  copy_fixture(dir_, "raw/canon_eos300d_ciff_stripped.crw", "raw/IMG_0001.CRW");
  PropPutInt(prefs.Set(), "VerifyRaws", 1);
  auto c = config({dir_.sub("raw")});
  c.converter_path = dir_.sub("no-converter");
  auto outcome = engine(corvex_path()).runVerification(c);
  EXPECT_EQ(outcome.status, "Converter set in Preferences does not exist.");
  EXPECT_EQ(ui_.messages, (std::vector<std::string>{
                              "Converter set in Preferences does not exist.\r\r(Verification cancelled.)",
                              "Failed to give final work to subprocess\r\r(Verification cancelled.)",
                              "Worked path not completed\r\r(Verification cancelled.)"}));
}

TEST_F(RunEngineTest, IdleWorkersServeTheNextRun) {
  // Run 1: two workers, one file. The worker that answered is ended at the
  // end of the run; the idle one stays and serves run 2.
  jpeg("r1/a.jpg");
  jpeg("r2/b.jpg");
  jpeg("r2/c.jpg");
  auto& e = engine(fake_worker_path());
  auto first = config({dir_.sub("r1")});
  first.max_sub_processes = 2;
  e.runVerification(first);
  pid_t idle = 0;
  for (int i = 0; i < 2; ++i) idle = e.pool().workerPid(i) != 0 ? e.pool().workerPid(i) : idle;
  ASSERT_NE(idle, 0);
  auto second = config({dir_.sub("r2")});
  second.max_sub_processes = 2;
  e.runVerification(second);
  auto requests = fake_transcript(root_);
  ASSERT_EQ(requests.size(), 3u);
  int served_by_idle = 0;
  for (const auto& r : requests) served_by_idle += r.pid == idle;
  EXPECT_EQ(served_by_idle, 1);
  EXPECT_EQ(rows("select run_sk from run").size(), 2u);
}

TEST_F(RunEngineTest, DecliningAConfirmationRunsNothing) {
  auto c = config({dir_.sub("x")});
  c.store_hashes = true;
  c.keep_existing_hashes = true;
  ui_.answers = {false};
  auto outcome = engine(fake_worker_path()).runVerification(c);
  EXPECT_FALSE(outcome.ran);
  EXPECT_EQ(ui_.store_hashes_cleared, 1);
  ASSERT_EQ(ui_.questions.size(), 1u);
  EXPECT_EQ(ui_.questions[0],
            "Do you want to create reference hashes from images?\r\rExisting hashes will not be overwritten.\r\r"
            "Don't continue unless you're sure the images about to be processed are good.\r\r"
            "The Store Hashes setting will not be saved as part of the job.");
  EXPECT_TRUE(rows("select run_sk from run").empty());

  c.store_hashes = false;
  c.check_structure = false;
  ui_.answers = {false};
  EXPECT_FALSE(engine_->runVerification(c).ran);
  EXPECT_EQ(ui_.questions.back(), "Continue with all verification turned off?");
}

TEST_F(RunEngineTest, HashesStoredThenCheckedAfterMovingRenamingAndAltering) {
  std::string a = jpeg("h/a.jpg");
  std::string b = jpeg("h/b.jpg", 48);
  std::string c_path = jpeg("h/c.jpg", 64);
  auto store = config({dir_.sub("h")});
  store.store_hashes = true;
  auto& e = engine(fake_worker_path());
  auto stored = e.runVerification(store);
  EXPECT_NE(stored.summary.find("Total valid: 3 (3 hashes stored)\n"), std::string::npos) << stored.summary;

  // Moved (same name, size and times): passes. Renamed: no hash stored.
  // Altered in place with the same size: the comparison fails.
  platform::make_folder(dir_.sub("moved"));
  ASSERT_EQ(rename(a.c_str(), dir_.sub("moved/a.jpg").c_str()), 0);
  ASSERT_EQ(rename(b.c_str(), dir_.sub("h/renamed.jpg").c_str()), 0);
  struct stat st;
  ASSERT_EQ(stat(c_path.c_str(), &st), 0);
  ASSERT_TRUE(flip_bit(c_path, st.st_size / 2, 0));
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, c_path.c_str(), times, 0), 0);

  auto check = config({dir_.sub("moved"), dir_.sub("h")});
  check.check_hashes = true;
  check.check_structure = false;
  log_.appendRunLog(nullptr);
  auto checked = e.runVerification(check);
  EXPECT_NE(checked.summary.find("Total valid: 1\n"), std::string::npos) << checked.summary;
  EXPECT_NE(checked.summary.find("Total hash error: 2\n"), std::string::npos) << checked.summary;
  EXPECT_NE(run_log().find("Hash check error: " + dir_.sub("h/renamed.jpg") + "\n\t(no hash stored)\n"),
            std::string::npos)
      << run_log();
  // The reference was stored from this very file: it has changed since.
  EXPECT_NE(run_log().find("Hash check error: " + c_path + "\n\t(hash comparison failed)\n"
                             "\tStored hash based on image in " + dir_.sub("h") + "\n"
                             "\tFile has changed since its reference hash was stored\n"),
            std::string::npos)
      << run_log();
  EXPECT_EQ(run_log().find("hashing problem"), std::string::npos) << run_log();
}


TEST_F(RunEngineTest, ARunThatDoesNotStoreHashesLeavesADamagedTiffsReferenceAlone) {
  TiffOptions o;
  o.compression = 8;
  std::string path = dir_.sub("t/page.tif");
  platform::make_folders(dir_.sub("t"));
  ASSERT_TRUE(write_tiff(path, o));
  auto store = config({dir_.sub("t")});
  store.store_hashes = true;
  auto& e = engine(corvex_path());
  auto stored = e.runVerification(store);
  EXPECT_NE(stored.summary.find("Total valid: 1 (1 hashes stored)\n"), std::string::npos) << stored.summary;
  auto reference = rows("select key, hex(hash) from hash_key");
  ASSERT_EQ(reference.size(), 1u);

  // Damaged in place: same name, size and times, so the same key.
  struct stat st;
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  StripPlace strip;
  ASSERT_TRUE(find_strip(path, 0, 0, &strip));
  ASSERT_TRUE(zero_bytes(path, strip.offset, strip.length));
  struct timespec times[2] = {st.st_atim, st.st_mtim};
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

  // Invalid TIFFs would have their hashes stored, but this run stores none.
  auto check = config({dir_.sub("t")});
  check.ignore_tiff_errors = true;
  auto checked = e.runVerification(check);
  EXPECT_NE(checked.summary.find("Total invalid: 1\n"), std::string::npos) << checked.summary;
  auto after = rows("select key, hex(hash) from hash_key");
  ASSERT_EQ(after.size(), 1u);
  EXPECT_EQ(text(after[0], 0), text(reference[0], 0));
  EXPECT_EQ(text(after[0], 1), text(reference[0], 1));
}

TEST_F(RunEngineTest, AStoppedRunIsStoredAsCancelled) {
  for (int i = 0; i < 6; ++i) jpeg("stop/" + std::to_string(10 + i) + ".jpg");
  // One worker: the second file waits for the first file's answer, so at
  // the third file's progress line one answer has been recorded.
  ui_.stop_after_updates = 3;
  auto c = config({dir_.sub("stop")});
  c.max_sub_processes = 1;
  auto outcome = engine(corvex_path()).runVerification(c);
  EXPECT_EQ(outcome.status, "Cancelled by user.");
  auto run = rows("select status, num_valid from run");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(text(run[0], 0), "Cancelled by user.");
  EXPECT_GE(std::stoi(text(run[0], 1)), 1);
  EXPECT_NE(run_log().find("\n\nCancelled by user.\n"), std::string::npos) << run_log();
  EXPECT_NE(run_log().find("\nCancelled by user.\nVerification Checks"), std::string::npos) << run_log();
  EXPECT_EQ(run_log().find("Finished normally"), std::string::npos);
}

TEST_F(RunEngineTest, NamesWithLineBreaksAreNeverSentToAWorker) {
  // "evil.jpg" is sound; the damaged "evil.jpg\n00.jpg" must not be taken
  // for it (the worker reads requests line by line).
  jpeg("lb/evil.jpg");
  jpeg("lb/good.jpg");
  for (const char* name : {"lb/evil.jpg\n00.jpg", "lb/cr\r.jpg", "lb/bad.jpg"}) {
    std::string path = jpeg(name, 256);
    ASSERT_TRUE(truncate_to(path, 0.5)) << name;
  }
  auto outcome = engine(corvex_path()).runVerification(config({dir_.sub("lb")}));
  EXPECT_EQ(outcome.status, "");
  EXPECT_NE(outcome.summary.find("Total valid: 2\nTotal invalid: 1\nTotal indeterminate: 0\nTotal error: 2\n"),
            std::string::npos)
      << outcome.summary;
  auto details = rows("select path, code, message from detail order by path");
  ASSERT_EQ(details.size(), 3u);
  EXPECT_EQ(text(details[0], 0), dir_.sub("lb/bad.jpg"));
  EXPECT_EQ(text(details[0], 1), "B");
  EXPECT_EQ(text(details[1], 0), dir_.sub("lb/cr\r.jpg"));
  EXPECT_EQ(text(details[2], 0), dir_.sub("lb/evil.jpg\n00.jpg"));
  for (size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(text(details[i], 1), "E");
    EXPECT_EQ(text(details[i], 2), "file name contains a line break");
  }
  EXPECT_NE(run_log().find("\nFinished normally.\n"), std::string::npos);
}

TEST_F(RunEngineTest, ABackslashIsPartOfTheNameForStoredHashesAndPurge) {
  std::string odd = jpeg("bs/a\\b.jpg");
  auto c = config({dir_.sub("bs")});
  c.store_hashes = true;
  auto outcome = engine(corvex_path()).runVerification(c);
  EXPECT_NE(outcome.summary.find("Total valid: 1 (1 hashes stored)\n"), std::string::npos) << outcome.summary;
  auto stored = rows("select key, path from hash_key join hash_path on hash_path_id = hash_path.rowid");
  ASSERT_EQ(stored.size(), 1u);
  EXPECT_EQ(text(stored[0], 0).rfind("a\\b.jpg/", 0), 0u) << text(stored[0], 0);
  EXPECT_EQ(text(stored[0], 1), dir_.sub("bs"));

  // Purging a folder named like the part before the backslash leaves it.
  frontend::ManageHashesModel hashes(db_, ui_);
  auto yes = [](const std::string&) { return true; };
  EXPECT_EQ(hashes.OnBnClickedPurge(dir_.sub("bs/a"), yes), frontend::PurgeOutcome::kFailed);
  EXPECT_EQ(rows("select key from hash_key").size(), 1u);
  EXPECT_EQ(hashes.OnBnClickedPurge(dir_.sub("bs"), yes), frontend::PurgeOutcome::kPurged);
  EXPECT_TRUE(rows("select key from hash_key").empty());
}

std::string* nullptr_message() {
  static std::string ignored;
  return &ignored;
}

// The position of this process's reading of a file, -1 while it has none
// open.
long long read_position(const std::string& path) {
  long long position = -1;
  for (int fd = 0; fd < 1024; ++fd) {
    char link[4096];
    std::string name = "/proc/self/fd/" + std::to_string(fd);
    ssize_t n = readlink(name.c_str(), link, sizeof link - 1);
    if (n <= 0 || std::string(link, static_cast<size_t>(n)) != path) continue;
    std::string info = read_file("/proc/self/fdinfo/" + std::to_string(fd));
    auto at = info.find("pos:");
    if (at != std::string::npos) position = std::max(position, std::stoll(info.substr(at + 4)));
  }
  return position;
}

TEST_F(RunEngineTest, StopIsSeenWhileALargeFileIsHashed) {
  // A sparse file far too large to hash in the test's time: 1 TiB of zeros.
  std::string big = dir_.write_file("big/huge.jpg", "");
  ASSERT_EQ(truncate(big.c_str(), 1LL << 40), 0);
  std::string key;
  frontend::ExaminerExifTimeSource exif;
  frontend::make_hash_key(nullptr, exif, big.c_str(), &key);
  const uint8_t reference[64] = {1};
  ASSERT_TRUE(frontend::db_put_hash(db_, reference, big.c_str(), key.c_str()));

  auto c = config({dir_.sub("big")});
  c.check_hashes = true;
  c.check_structure = false;
  auto& e = engine(corvex_path());
  bool pressed = false;
  ui_.while_waiting = [&] {
    // Stop once the digest has begun to read the file.
    if (!pressed && read_position(big) > 0) {
      pressed = true;
      e.stop();
    }
  };
  auto outcome = e.runVerification(c);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(outcome.status, "Cancelled by user.");
  EXPECT_NE(outcome.summary.find("Total hash error: 0\n"), std::string::npos) << outcome.summary;
  EXPECT_TRUE(rows("select path from detail").empty());
}

// Stores a reference digest under the key of the file at path, as if it had
// been made from the file of the same name in folder: the file's own digest,
// or one that cannot match it.
void store_reference(frontend::Database& db, const std::string& path, const std::string& folder, bool matching) {
  std::string key;
  frontend::ExaminerExifTimeSource exif;
  frontend::make_hash_key(nullptr, exif, path.c_str(), &key);
  uint8_t digest[64] = {1};
  if (matching) {
    ASSERT_TRUE(frontend::hash_file_digest(path.c_str(), digest));
  }
  std::string name = folder + path.substr(path.rfind('/'));
  ASSERT_TRUE(frontend::db_put_hash(db, digest, name.c_str(), key.c_str()));
}

// Waits (up to a minute) until done() holds; false when it never did.
bool wait_until(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(2ms);  // cannot change the outcome: sets only how often done() is asked
  }
  return true;
}

// The fake worker that was sent path, 0 while none has read it.
pid_t worker_sent(const std::string& root, const std::string& path) {
  for (const auto& r : fake_transcript(root)) {
    if (!r.paths.empty() && r.paths[0] == path) return r.pid;
  }
  return 0;
}

TEST_F(RunEngineTest, StopEndsDigestsThatRunSideBySide) {
  // Two sparse files far too large to hash in the test's time, each with a
  // reference, checked by two workers that answer at once: both digests are
  // under way together when Stop comes, and neither file gets a result.
  std::vector<std::string> big;
  for (const char* name : {"big/a.jpg", "big/b.jpg"}) {
    big.push_back(dir_.write_file(name, ""));
    ASSERT_EQ(truncate(big.back().c_str(), 1LL << 40), 0);
    store_reference(db_, big.back(), dir_.sub("ref"), false);
  }
  auto c = config({dir_.sub("big")});
  c.check_hashes = true;
  c.max_sub_processes = 2;
  auto& e = engine(fake_worker_path());
  bool pressed = false;
  ui_.while_waiting = [&] {
    if (!pressed && read_position(big[0]) > 0 && read_position(big[1]) > 0) {
      pressed = true;
      e.stop();
    }
  };
  auto outcome = e.runVerification(c);
  EXPECT_TRUE(pressed);
  EXPECT_EQ(outcome.status, "Cancelled by user.");
  EXPECT_EQ(ui_.messages, std::vector<std::string>{"Cancelled by user."});
  // The workers' answers were held for the digests and count for nothing.
  EXPECT_NE(outcome.summary.find("Total processed: 2\n"), std::string::npos) << outcome.summary;
  EXPECT_NE(outcome.summary.find("Total valid: 0\n"), std::string::npos) << outcome.summary;
  EXPECT_NE(outcome.summary.find("Total hash error: 0\n"), std::string::npos) << outcome.summary;
  EXPECT_EQ(run_log().find("Worked path not completed"), std::string::npos) << run_log();
  EXPECT_TRUE(rows("select path from detail").empty());
  EXPECT_EQ(read_position(big[0]), -1);
  EXPECT_EQ(read_position(big[1]), -1);
}

TEST_F(RunEngineTest, AWorkerThatDiesWhileItsFileIsHashedGivesAnIndeterminateResult) {
  // a.jpg's worker dies at once; its digest waits until the run has taken up
  // that death (placing b.jpg, with the only worker gone), so the death is
  // held until the digest, which matches, lets it count.
  std::string a = jpeg("one/a.jpg");
  std::string b = jpeg("two/b.jpg");
  store_reference(db_, a, dir_.sub("one"), true);
  store_reference(db_, b, dir_.sub("two"), true);
  write_fake_script(root_, "a.jpg\tdie-before\n");
  auto c = config({dir_.sub("one"), dir_.sub("two")});
  c.check_hashes = true;
  c.max_sub_processes = 1;
  auto& e = engine(fake_worker_path());
  std::atomic<bool> gate_seen_death{false};
  e.digests().set_digest_function([&](const char* path, uint8_t* digest, const std::atomic<bool>* cancel) {
    if (path == a) {
      // Reaped: its number is no longer ours.
      gate_seen_death = wait_until([&] {
        pid_t pid = worker_sent(root_, a);
        return pid != 0 && kill(pid, 0) != 0 && errno == ESRCH;
      });
    }
    return frontend::hash_file_digest(path, digest, cancel);
  });
  auto outcome = e.runVerification(c);
  EXPECT_TRUE(gate_seen_death);
  EXPECT_EQ(outcome.status, "");
  EXPECT_NE(outcome.summary.find("Total valid: 1\nTotal invalid: 0\nTotal indeterminate: 1\nTotal error: 0\n"
                                 "Total hash error: 0\n"),
            std::string::npos)
      << outcome.summary;
  EXPECT_NE(run_log().find("Probably invalid: " + a + "\n"), std::string::npos) << run_log();
  auto details = rows("select path, code, message from detail");
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(text(details[0], 0), a);
  EXPECT_EQ(text(details[0], 1), "C");
  EXPECT_EQ(text(details[0], 2), "");
}

// How a file's failed digest and its worker's answer meet.
struct HashFailureCase {
  const char* name;
  int workers;
  // The digest of a.jpg waits until the worker's answer for it has been
  // read (the only worker was given b.jpg, which it gets only after that).
  bool digest_after_answer;
  // The workers answer only once a.jpg's hash error is in the run log.
  bool answer_after_digest;
};

class HashFailureTest : public RunEngineTest, public ::testing::WithParamInterface<HashFailureCase> {};

TEST_P(HashFailureTest, AFileWhoseHashFailsWhileItsStructureIsCheckedGetsOnlyItsHashError) {
  const HashFailureCase& t = GetParam();
  // The worker would call a.jpg invalid: an answer that must not count.
  std::string a = jpeg("one/a.jpg");
  std::string b = jpeg("two/b.jpg");
  store_reference(db_, a, dir_.sub("ref"), false);
  store_reference(db_, b, dir_.sub("two"), true);
  write_fake_script(root_, "a.jpg\tB\tJ\t0\tbroken\n");
  if (t.answer_after_digest) allow_fake_answers(root_, 0);
  auto c = config({dir_.sub("one"), dir_.sub("two")});
  c.check_hashes = true;
  c.max_sub_processes = t.workers;
  auto& e = engine(fake_worker_path());
  std::atomic<bool> gate_opened{!t.digest_after_answer};
  if (t.digest_after_answer) {
    e.digests().set_digest_function([&](const char* path, uint8_t* digest, const std::atomic<bool>* cancel) {
      if (path == a) gate_opened = wait_until([&] { return worker_sent(root_, b) != 0; });
      return frontend::hash_file_digest(path, digest, cancel);
    });
  }
  bool allowed = !t.answer_after_digest;
  ui_.while_waiting = [&] {
    if (!allowed && run_log().find("Hash check error: " + a) != std::string::npos) {
      allowed = true;
      allow_fake_answers(root_, 100);
    }
  };
  auto outcome = e.runVerification(c);
  EXPECT_TRUE(gate_opened);
  EXPECT_TRUE(allowed);
  EXPECT_EQ(outcome.status, "");
  EXPECT_NE(outcome.summary.find("Total valid: 1\nTotal invalid: 0\nTotal indeterminate: 0\nTotal error: 0\n"
                                 "Total hash error: 1\n"),
            std::string::npos)
      << outcome.summary;
  EXPECT_NE(run_log().find("Hash check error: " + a + "\n\t(hash comparison failed)\n\tStored hash based on image in " +
                           dir_.sub("ref") + "\n\tCan't open path - no file comparison possible\n"),
            std::string::npos)
      << run_log();
  EXPECT_EQ(run_log().find("broken"), std::string::npos) << run_log();
  EXPECT_EQ(run_log().find("Error finding worker match"), std::string::npos) << run_log();
  auto details = rows("select path, code, message from detail");
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(text(details[0], 0), a);
  EXPECT_EQ(text(details[0], 1), "H");
  EXPECT_EQ(text(details[0], 2), "hash comparison failed");
  // The worker did check it: its answer was there and was dropped.
  EXPECT_NE(worker_sent(root_, a), 0);
}

INSTANTIATE_TEST_SUITE_P(RunEngineOrders, HashFailureTest,
                         ::testing::Values(HashFailureCase{"AnswerFirst", 1, true, false},
                                           HashFailureCase{"DigestFirst", 2, false, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RunEngineTest, WithoutStructureChecksDigestOutcomesAreRecordedInWalkOrder) {
  // f1's digest is held until those of f2 to f4 are done; still, the hash
  // errors come in walk order, and f5 (no reference) after f1 to f4.
  std::vector<std::string> files;
  for (int i = 1; i <= 6; ++i) files.push_back(jpeg("w/f" + std::to_string(i) + ".jpg"));
  for (int i : {0, 2, 5}) store_reference(db_, files[i], dir_.sub("ref"), false);
  for (int i : {1, 3}) store_reference(db_, files[i], dir_.sub("w"), true);
  auto c = config({dir_.sub("w")});
  c.check_hashes = true;
  c.check_structure = false;
  c.max_sub_processes = 4;
  auto& e = engine(fake_worker_path());
  std::atomic<int> others_done{0};
  std::atomic<bool> held{false};
  e.digests().set_digest_function([&](const char* path, uint8_t* digest, const std::atomic<bool>* cancel) {
    if (path == files[0]) {
      held = wait_until([&] { return others_done.load() == 3; });
      return frontend::hash_file_digest(path, digest, cancel);
    }
    bool ok = frontend::hash_file_digest(path, digest, cancel);
    ++others_done;
    return ok;
  });
  auto outcome = e.runVerification(c);
  EXPECT_TRUE(held);
  EXPECT_EQ(outcome.status, "");
  auto details = rows("select path, message from detail order by rowid");
  ASSERT_EQ(details.size(), 4u);
  const std::pair<int, const char*> expected[] = {
      {0, "hash comparison failed"}, {2, "hash comparison failed"}, {4, "no hash stored"}, {5, "hash comparison failed"}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(text(details[i], 0), files[static_cast<size_t>(expected[i].first)]) << i;
    EXPECT_EQ(text(details[i], 1), expected[i].second) << i;
  }
  size_t at = 0;
  for (const auto& [index, message] : expected) {
    std::string line = "Hash check error: " + files[static_cast<size_t>(index)] + "\n\t(" + message + ")\n";
    size_t found = run_log().find(line, at);
    ASSERT_NE(found, std::string::npos) << line << run_log();
    at = found + line.size();
  }
  EXPECT_NE(outcome.summary.find("Total valid: 2\n"), std::string::npos) << outcome.summary;
  // No worker checks anything: the run log does not speak of their memory.
  EXPECT_EQ(run_log().find("Worker memory limit"), std::string::npos) << run_log();
}

TEST_F(RunEngineTest, WithHashAndStructureChecksAFileWithoutAReferenceIsStillCheckedForDamage) {
  // Checked by corvex. Without a reference: a sound file is the hash error
  // "no hash stored", a damaged one what the worker found. With a reference
  // that differs: the hash error, whatever the worker found.
  std::string sound = jpeg("p/sound.jpg");
  std::string damaged = jpeg("p/damaged.jpg", 256);
  ASSERT_TRUE(truncate_to(damaged, 0.5));
  std::string altered = jpeg("p/altered.jpg", 256);
  ASSERT_TRUE(truncate_to(altered, 0.5));
  store_reference(db_, altered, dir_.sub("ref"), false);
  std::string known = jpeg("p/known.jpg");
  store_reference(db_, known, dir_.sub("p"), true);
  auto c = config({dir_.sub("p")});
  c.check_hashes = true;
  auto outcome = engine(corvex_path()).runVerification(c);
  EXPECT_EQ(outcome.status, "");
  // Each file counted once, under one result.
  EXPECT_NE(outcome.summary.find("Verification Checks: Hash and Structure \n\n"
                                 "Total processed: 4\nTotal skipped: 0\nTotal hashes kept: 0 (not verified)\n"
                                 "Total valid: 1\nTotal invalid: 1\nTotal indeterminate: 0\nTotal error: 0\n"
                                 "Total hash error: 2\n\n"
                                 "Valid JPEGs: 1\n\nInvalid JPEGs: 1\nHash Error JPEGs: 2\n"),
            std::string::npos)
      << outcome.summary;
  auto details = rows("select path, code, type, message from detail order by path");
  ASSERT_EQ(details.size(), 3u);
  const std::vector<std::string> expected[] = {{altered, "H", "J", "hash comparison failed"},
                                                {damaged, "B", "J", ""},
                                                {sound, "H", "J", "no hash stored"}};
  for (size_t i = 0; i < details.size(); ++i) {
    for (size_t column = 0; column < 4; ++column) EXPECT_EQ(text(details[i], column), expected[i][column]) << i;
  }
  EXPECT_NE(run_log().find("Hash check error: " + sound + "\n\t(no hash stored)\n"), std::string::npos) << run_log();
  EXPECT_NE(run_log().find("Probably invalid: " + damaged + "\n"), std::string::npos) << run_log();
  EXPECT_EQ(run_log().find("Error finding worker match"), std::string::npos) << run_log();
  auto run = rows("select num_processed, num_valid, num_invalid, num_hash from run");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(text(run[0], 0) + text(run[0], 1) + text(run[0], 2) + text(run[0], 3), "4112");
  // Nothing was stored: hashes are stored only when asked for.
  EXPECT_EQ(rows("select key from hash_key").size(), 2u);
}

TEST_F(RunEngineTest, MaxInvalidZeroStopsAtTheFirstHashErrorWhileDigestsRunAside) {
  // The first file's digest takes a while and fails: the walk goes no
  // further than it, as when each file was hashed in turn.
  std::string a = dir_.write_file("m/a.jpg", std::string(8 << 20, 'x'));
  store_reference(db_, a, dir_.sub("ref"), false);
  for (const char* name : {"m/b.jpg", "m/c.jpg"}) store_reference(db_, jpeg(name), dir_.sub("m"), true);
  for (bool structure : {false, true}) {
    SCOPED_TRACE(structure ? "with structure checks" : "hash checks only");
    auto c = config({dir_.sub("m")});
    c.check_hashes = true;
    c.check_structure = structure;
    c.max_invalid_infinite = false;
    c.max_invalid = "0";
    auto outcome = engine(fake_worker_path()).runVerification(c);
    EXPECT_NE(outcome.summary.find("Total processed: 1\n"), std::string::npos) << outcome.summary;
    EXPECT_NE(outcome.summary.find("Total hash error: 1\n"), std::string::npos) << outcome.summary;
    EXPECT_NE(log_from("Hash check error: " + a).find("\nMax Invalid Messages exceeded.\n"), std::string::npos)
        << run_log();
  }
}

TEST_F(RunEngineTest, AFolderThatCannotBeReadIsAnErrorNamedInTheRunLog) {
  jpeg("locked/inside.jpg");
  jpeg("open/good.jpg");
  ASSERT_EQ(chmod(dir_.sub("locked").c_str(), 0), 0);
  std::string report = dir_.sub("report.txt");
  std::string db_path = dir_.sub("qx_main.sqlite3");
  auto c = config({dir_.sub("locked"), dir_.sub("open")});
  // The run needs a user for whom the folder is closed: root is not one.
  int rc = run_unprivileged(dir_.path(), [&] {
    frontend::RunLog log;
    frontend::Database db(log);
    if (!frontend::db_open(db, db_path)) return 3;
    frontend::HashContext hashes(db, log, std::make_unique<frontend::ExaminerExifTimeSource>());
    FakeRunUi ui;
    frontend::RunEngine e(ui, log, log, db, hashes, frontend::PoolConfig{corvex_path(), root_, {}});
    auto outcome = e.runVerification(c);
    e.quit();
    FILE* f = fopen(report.c_str(), "w");
    if (f == nullptr) return 2;
    fprintf(f, "%s\n----\n%s", outcome.status.c_str(), outcome.summary.c_str());
    std::string t = log.text();
    fprintf(f, "\n----\n%s", t.c_str());
    fclose(f);
    frontend::db_close(db);
    return 0;
  });
  chmod(dir_.sub("locked").c_str(), 0755);
  if (rc == kCannotDropRoot) GTEST_SKIP() << "root cannot be given up here";
  ASSERT_EQ(rc, 0);
  std::string seen = read_file(report);
  std::string log;
  for (char ch : seen.substr(seen.rfind("\n----\n") + 6)) {
    if (ch != '\r') log.push_back(ch);
  }
  EXPECT_NE(log.find("Processing error: " + dir_.sub("locked") + "\n\t(can't be read: Permission denied)\n"),
            std::string::npos)
      << log;
  EXPECT_NE(seen.find("Total processed: 2\nTotal skipped: 0\nTotal hashes kept: 0 (not verified)\n"
                      "Total valid: 1\nTotal invalid: 0\nTotal indeterminate: 0\nTotal error: 1\n"),
            std::string::npos)
      << seen;
  auto details = rows("select path, code from detail");
  ASSERT_EQ(details.size(), 1u);
  EXPECT_EQ(text(details[0], 0), dir_.sub("locked"));
}


// Whole runs against a database that other connections hold, that fills
// up, or whose front end is killed.
class RunStorageTest : public RunEngineTest {
 protected:
  std::string db_path() { return dir_.sub("qx_main.sqlite3"); }
  // count damaged JPEGs (cut in half) in folder.
  void damaged(const std::string& folder, int count, int size = 64) {
    for (int i = 0; i < count; ++i) {
      std::string path = jpeg(folder + "/" + std::to_string(1000 + i) + ".jpg", size);
      ASSERT_TRUE(truncate_to(path, 0.5));
    }
  }
  // A run of its own in this (child) process: a connection of its own on
  // the same file. Writes "<status>\n----\n<run log>" to report.
  int child_run(const RunConfig& c, const std::string& report) {
    frontend::RunLog log;
    frontend::Database db(log);
    if (!frontend::db_open(db, db_path())) return 3;
    frontend::HashContext hashes(db, log, std::make_unique<frontend::ExaminerExifTimeSource>());
    FakeRunUi ui;
    frontend::RunEngine e(ui, log, log, db, hashes, frontend::PoolConfig{corvex_path(), root_, {}});
    auto outcome = e.runVerification(c);
    e.quit();
    frontend::db_close(db);
    lift_file_size_limit();
    FILE* f = fopen(report.c_str(), "w");
    if (f == nullptr) return 2;
    std::string t = log.text();
    fprintf(f, "%s\n----\n%s", outcome.status.c_str(), t.c_str());
    fclose(f);
    return 0;
  }
  // The report's status and run log ("\r\n" read as "\n").
  static std::pair<std::string, std::string> read_report(const std::string& report) {
    std::string seen = read_file(report);
    auto cut = seen.find("\n----\n");
    if (cut == std::string::npos) return {"<no report>", ""};
    std::string log;
    for (char ch : seen.substr(cut + 6)) {
      if (ch != '\r') log.push_back(ch);
    }
    return {seen.substr(0, cut), log};
  }
};

int exec(sqlite3* db, const char* statement) { return sqlite3_exec(db, statement, nullptr, nullptr, nullptr); }

TEST_F(RunStorageTest, ARunWaitsWhileAnotherConnectionReadsTheDatabase) {
  damaged("held", 20);
  jpeg("held/good.jpg");
  // Another connection keeps a read transaction open. Each time it sees the
  // front end waiting to write (a third connection cannot start reading
  // then), it lets go, waits until the write is through, and reads again.
  std::atomic<bool> done{false};
  std::atomic<int> waits_seen{0};
  std::thread reader([&] {
    sqlite3* r = nullptr;
    sqlite3* probe = nullptr;
    sqlite3_open(db_path().c_str(), &r);
    sqlite3_open(db_path().c_str(), &probe);
    sqlite3_busy_timeout(r, 60000);
    auto writer_waiting = [&] { return exec(probe, "select count(*) from run") == SQLITE_BUSY; };
    while (!done) {
      if (exec(r, "begin") != SQLITE_OK || exec(r, "select count(*) from run") != SQLITE_OK) break;
      // Poll intervals while waiting for the writer to wait, then to go on:
      // the steps follow the writer's state, never the clock.
      while (!done && !writer_waiting()) std::this_thread::sleep_for(1ms);  // cannot change the outcome: how often the lock is probed
      if (!done) ++waits_seen;
      exec(r, "rollback");
      while (!done && writer_waiting()) std::this_thread::sleep_for(1ms);  // cannot change the outcome: how often the lock is probed
    }
    sqlite3_close(probe);
    sqlite3_close(r);
  });
  auto outcome = engine(corvex_path()).runVerification(config({dir_.sub("held")}));
  done = true;
  reader.join();
  EXPECT_GT(waits_seen.load(), 0);
  EXPECT_EQ(outcome.status, "");
  EXPECT_EQ(run_log().find("DB ERROR"), std::string::npos) << run_log();
  EXPECT_NE(run_log().find("\nFinished normally.\n"), std::string::npos);
  auto run = rows("select run_sk, status, num_invalid, stop_dt from run");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(text(run[0], 1), "OK");
  EXPECT_EQ(text(run[0], 2), "20");
  EXPECT_NE(text(run[0], 3), "<null>");
  EXPECT_EQ(rows("select path from detail where run_id = " + text(run[0], 0)).size(), 20u);
  EXPECT_EQ(rows("select path from folder where run_id = " + text(run[0], 0)).size(), 1u);
  EXPECT_EQ(rows("select data from note where run_id = " + text(run[0], 0)).size(), 1u);
}

TEST_F(RunStorageTest, TwoFrontEndsOnOneDataFolderStoreEverything) {
  damaged("first", 60);
  damaged("second", 60);
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::string report = dir_.sub("second.txt");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // The other front end starts when this one does.
    char byte;
    close(go[1]);
    if (read(go[0], &byte, 1) != 1) _exit(4);
    _exit(child_run(config({dir_.sub("second")}), report));
  }
  close(go[0]);
  ASSERT_EQ(write(go[1], "g", 1), 1);
  close(go[1]);
  auto outcome = engine(corvex_path()).runVerification(config({dir_.sub("first")}));
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
  auto [other_status, other_log] = read_report(report);
  EXPECT_EQ(outcome.status, "");
  EXPECT_EQ(other_status, "") << other_log;
  EXPECT_EQ(run_log().find("DB ERROR"), std::string::npos) << run_log();
  EXPECT_EQ(other_log.find("DB ERROR"), std::string::npos) << other_log;

  auto runs = rows("select run_sk, status, num_invalid from run order by run_sk");
  ASSERT_EQ(runs.size(), 2u);
  for (const auto& run : runs) {
    EXPECT_EQ(text(run, 1), "OK");
    EXPECT_EQ(text(run, 2), "60");
    EXPECT_EQ(rows("select path from detail where run_id = " + text(run, 0)).size(), 60u);
    EXPECT_EQ(rows("select data from note where run_id = " + text(run, 0)).size(), 1u);
  }
  EXPECT_TRUE(rows("select path from detail where run_id = 0").empty());
}

TEST_F(RunStorageTest, ResultsThatCannotBeStoredEndTheRunWithAStatusThatSaysSo) {
  damaged("locked", 2);
  jpeg("locked/good.jpg");
  // Another connection holds the file for the whole run, longer than the
  // front end waits.
  sqlite3* holder = nullptr;
  ASSERT_EQ(sqlite3_open(db_path().c_str(), &holder), SQLITE_OK);
  ASSERT_EQ(exec(holder, "begin exclusive"), SQLITE_OK);
  db_.set_busy_timeout(200ms);
  auto outcome = engine(corvex_path()).runVerification(config({dir_.sub("locked")}));
  exec(holder, "rollback");
  sqlite3_close(holder);
  EXPECT_EQ(outcome.status, "Not all results were stored in the database.");
  EXPECT_EQ(run_log().find("Finished normally"), std::string::npos) << run_log();
  EXPECT_NE(run_log().find("\nDB ERROR: database is locked\n"), std::string::npos) << run_log();
  EXPECT_THAT(run_log(), ::testing::HasSubstr("\nNot all results were stored in the database ("));
}

TEST_F(RunStorageTest, DatabaseErrorsOnAFullDiskAreShownAndTheStatusSaysResultsWereLost) {
  std::string folder = "full-" + std::string(60, 'f');
  damaged(folder, 300);
  struct stat st;
  ASSERT_EQ(stat(db_path().c_str(), &st), 0);
  std::string report = dir_.sub("report.txt");
  // Room for some pages of detail rows, not for all: the run log's cap is
  // passed before the file is full.
  int rc = run_with_file_size_limit(static_cast<rlim_t>(st.st_size) + 24 * 1024,
                                    [&] { return child_run(config({dir_.sub(folder)}), report); });
  struct stat after;
  ASSERT_EQ(stat(db_path().c_str(), &after), 0);
  EXPECT_LE(after.st_size, st.st_size + 24 * 1024);
  ASSERT_EQ(rc, 0);
  auto [status, log] = read_report(report);
  EXPECT_EQ(status, "Not all results were stored in the database.");
  EXPECT_NE(log.find("Additional results not shown here"), std::string::npos) << log;
  EXPECT_NE(log.find("\nDB ERROR: "), std::string::npos) << log;
  EXPECT_NE(log.find("\nNot all results were stored in the database ("), std::string::npos) << log;
  EXPECT_EQ(log.find("Finished normally"), std::string::npos);
  // Everything that was stored is sound.
  EXPECT_EQ(text(rows("pragma integrity_check")[0], 0), "ok");
}

TEST_F(RunStorageTest, AKilledFrontEndLeavesASoundDatabaseWithEveryCommittedRow) {
  // 100 files without a reference give hash-error detail rows; then the run
  // stays on a sparse 1 TiB file whose digest it cannot finish.
  for (int i = 0; i < 100; ++i) jpeg("many/" + std::to_string(1000 + i) + ".jpg", 16);
  std::string big = dir_.write_file("many/zzzz.jpg", "");
  ASSERT_EQ(truncate(big.c_str(), 1LL << 40), 0);
  std::string key;
  frontend::ExaminerExifTimeSource exif;
  frontend::make_hash_key(nullptr, exif, big.c_str(), &key);
  const uint8_t reference[64] = {1};
  ASSERT_TRUE(frontend::db_put_hash(db_, reference, big.c_str(), key.c_str()));

  std::string report = dir_.sub("report.txt");
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto c = config({dir_.sub("many")});
    c.check_hashes = true;
    c.check_structure = false;
    _exit(child_run(c, report));
  }
  // Once the rows show to another connection (committed), the front end is
  // killed mid-run.
  size_t seen = 0;
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (seen < 100 && std::chrono::steady_clock::now() < deadline) {
    std::vector<frontend::DbRow> found;
    if (frontend::db_query_rows_quiet(db_, "select count(*) from detail", &found, nullptr_message()))
      seen = std::stoul(text(found.at(0), 0));
    if (seen < 100) std::this_thread::sleep_for(5ms);  // spaces the looks; rows, not time, end it
  }
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_EQ(seen, 100u);
  EXPECT_EQ(text(rows("pragma integrity_check")[0], 0), "ok");
  auto run = rows("select stop_dt, status from run");
  ASSERT_EQ(run.size(), 1u);
  EXPECT_EQ(text(run[0], 0), "<null>");  // shown as incomplete
  EXPECT_EQ(rows("select path from detail where code = 'H'").size(), 100u);
  EXPECT_EQ(rows("select key from hash_key").size(), 1u);
}

}  // namespace
