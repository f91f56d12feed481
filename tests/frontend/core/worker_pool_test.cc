// The worker pool over real processes and pipes, with the scriptable fake
// worker standing in for corvex.
#include "frontend/core/worker_pool.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "frontend/core/worker_memory_limit.h"
#include "platform/files.h"
#include "platform/process.h"
#include "support/fake_worker.h"
#include "support/temp_folder.h"
#include "util/worker_memory.h"

namespace {

using namespace std::chrono_literals;
using frontend::PoolTimings;
using frontend::WorkerPool;
using testing_support::FakeRequest;
using testing_support::read_file;
using testing_support::TempFolder;
using Placement = WorkerPool::Placement;

struct Result {
  std::string path;
  char code;
  char type;
  std::string message;
  std::string context;
};

// Keeps everything the pool reports, in order.
class RecordingSink : public frontend::PoolSink {
 public:
  void recordResult(const std::string& path, char code, char type, const std::string& message,
                    const std::string& context) override {
    results.push_back({path, code, type, message, context});
  }
  void runLogNotice(const std::string& text) override { notices += text; }
  void logLine(const std::string& text) override { log.push_back(text); }
  void reportError(const std::string& text, int) override { errors.push_back(text); }
  void reportSystemError(const std::string& text, int) override { errors.push_back(text); }

  bool logged(const std::string& text) const { return std::find(log.begin(), log.end(), text) != log.end(); }
  const Result* result_for(const std::string& path) const {
    for (const auto& r : results) {
      if (r.path == path) return &r;
    }
    return nullptr;
  }

  std::vector<Result> results;
  std::string notices;
  std::vector<std::string> log;
  std::vector<std::string> errors;
};

// Whether a child has ended but not been reaped yet.
bool is_zombie(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

bool wait_for_zombie(pid_t pid) {
  for (int i = 0; i < 500; ++i) {
    if (is_zombie(pid)) return true;
    std::this_thread::sleep_for(10ms);
  }
  return false;
}

// Ended and reaped: the number is no longer ours.
bool is_gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

class WorkerPoolTest : public ::testing::Test {
 protected:
  WorkerPoolTest() : env_(dir_.path()) {
    root_ = dir_.sub("root");
    images_ = dir_.sub("images");
    platform::make_folders(root_);
    platform::make_folders(images_);
    converter_ = dir_.write_file("converter", "");
  }

  // Short steps, so that waits and time-outs take a test's time.
  static PoolTimings fast() {
    PoolTimings t;
    t.poll_step = 20ms;
    t.answer_budget = 20000ms;
    t.long_answer_budget = 20000ms;
    t.retry_pause = 20ms;
    t.placement_attempts = 3;
    return t;
  }

  WorkerPool& pool() {
    if (!pool_) {
      frontend::PoolConfig config{testing_support::fake_worker_path(), root_, timings_};
      pool_ = std::make_unique<WorkerPool>(config, sink_, cancel_);
    }
    return *pool_;
  }

  // A new run, with fresh capture files as the run makes them.
  void begin_run(long workers) { pool().beginRun({workers, capture_path(), converter_}); }
  // The run's end, as the run does it: finish, then close the capture files.
  bool finish(bool cancelled = false) {
    bool ok = pool().finishAllWorkers(cancelled);
    pool().closeCaptureFiles();
    return ok;
  }

  std::string capture_path() const { return dir_.sub("CorvellaLogStderr.txt"); }
  std::string slot_capture(int slot) const { return read_file(frontend::slotCapturePath(capture_path(), slot)); }
  std::string image(const std::string& name) { return dir_.write_file("images/" + name, "image bytes"); }
  void script(const std::string& text) { testing_support::write_fake_script(root_, text); }
  std::vector<FakeRequest> transcript() const { return testing_support::fake_transcript(root_); }

  void place(const std::string& path, bool raw = false) { ASSERT_EQ(pool().placeFile(path, raw), Placement::kPlaced); }

  TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  std::string root_;
  std::string images_;
  std::string converter_;
  PoolTimings timings_ = fast();
  std::atomic<bool> cancel_{false};
  RecordingSink sink_;
  std::unique_ptr<WorkerPool> pool_;
};

TEST_F(WorkerPoolTest, RecordsEveryCodeAsTheWorkerSentIt) {
  struct Case {
    const char* name;
    char code;
    char type;
    const char* message;
  };
  const Case cases[] = {
      {"valid.jpg", 'G', 'J', ""},
      {"bad.jpg", 'B', 'J', "Premature end of JPEG file"},
      {"noext", 'S', '?', "Could not open or identify"},
      {"err.tif", 'E', '?', "Error in Corvex - out of memory"},
      {"odd.psd", 'Z', 'P', "a code the front end does not know"},
  };
  std::string text;
  for (const auto& c : cases) text += std::string(c.name) + "\t" + c.code + "\t" + c.type + "\t0\t" + c.message + "\n";
  script(text);

  begin_run(1);
  for (const auto& c : cases) place(image(c.name));
  EXPECT_TRUE(finish());

  ASSERT_EQ(sink_.results.size(), std::size(cases));
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    const Result& r = sink_.results[i];
    EXPECT_EQ(r.path, images_ + "/" + cases[i].name);
    EXPECT_EQ(r.code, cases[i].code);
    EXPECT_EQ(r.type, cases[i].type);
    EXPECT_EQ(r.message, cases[i].message);
    // With one worker each answer is read when the next file needs it; the
    // last at the end of the run.
    EXPECT_EQ(r.context, i + 1 < std::size(cases) ? "verify" : "finishAllWorkers");
  }
  EXPECT_TRUE(sink_.errors.empty());

  auto requests = transcript();
  ASSERT_EQ(requests.size(), std::size(cases));
  for (size_t i = 0; i < requests.size(); ++i) {
    EXPECT_EQ(requests[i].count, 1);
    EXPECT_EQ(requests[i].mode, "internal");
    EXPECT_EQ(requests[i].paths, std::vector<std::string>{images_ + "/" + cases[i].name});
    EXPECT_EQ(requests[i].pid, requests[0].pid);
  }
}

TEST_F(WorkerPoolTest, EveryAnswerThatHasComeIsTakenWhenTheRunWaits) {
  // Four workers that have all answered: the next file reads all four
  // answers, so the three files after it go to the other finished workers
  // without a wait, and no worker is left holding an answer nobody reads.
  begin_run(4);
  std::vector<std::string> first;
  for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg"}) {
    first.push_back(image(name));
    place(first.back());
  }
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(platform::wait_readable(pool().slot(i).answer_pipe.get(), 60s)) << "slot " << i;
  }
  place(image("e.jpg"));
  ASSERT_EQ(sink_.results.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(sink_.results[i].path, first[i]);
    EXPECT_EQ(sink_.results[i].context, "verify");
  }
  for (const char* name : {"f.jpg", "g.jpg", "h.jpg"}) place(image(name));
  EXPECT_EQ(sink_.results.size(), 4u);
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(pool().slot(i).busy()) << "slot " << i;
  EXPECT_TRUE(finish());
  EXPECT_EQ(sink_.results.size(), 8u);
  EXPECT_EQ(testing_support::fake_starts(root_).size(), 4u);
  EXPECT_TRUE(sink_.errors.empty());
}

class WorkerCountTest : public WorkerPoolTest, public ::testing::WithParamInterface<std::pair<long, int>> {};

TEST_P(WorkerCountTest, TheFirstFileStartsAWorkerInEverySlotOfTheRun) {
  auto [setting, expected] = GetParam();
  begin_run(setting);
  EXPECT_EQ(pool().workerCount(), expected);
  place(image("a.jpg"));
  for (int i = 0; i < frontend::kWorkerSlots; ++i) {
    EXPECT_EQ(pool().workerPid(i) != 0, i < expected) << "slot " << i;
  }
  EXPECT_TRUE(finish());
}

// Settings of 9 and more, or one that was no number (read as 0), would reach
// past the eight slots.
INSTANTIATE_TEST_SUITE_P(Settings, WorkerCountTest,
                         ::testing::Values(std::pair<long, int>{2, 2}, std::pair<long, int>{8, 8},
                                           std::pair<long, int>{12, 8}, std::pair<long, int>{0, 1},
                                           std::pair<long, int>{-5, 1}));

class DeadWorkerTest : public WorkerPoolTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(DeadWorkerTest, ItsFileIsIndeterminateAndTheSlotGetsANewWorker) {
  const std::string how = GetParam();
  script(how == "killed" ? "first.jpg\tG\tJ\t60000\n" : "first.jpg\tdie-before\n");
  begin_run(1);
  std::string first = image("first.jpg");
  place(first);
  pid_t old_pid = pool().workerPid(0);
  if (how == "killed") kill(old_pid, SIGKILL);
  ASSERT_TRUE(wait_for_zombie(old_pid));

  std::string second = image("second.jpg");
  place(second);
  EXPECT_TRUE(is_gone(old_pid));
  EXPECT_NE(pool().workerPid(0), old_pid);
  EXPECT_TRUE(finish());

  ASSERT_EQ(sink_.results.size(), 2u);
  const Result& dead = sink_.results[0];
  EXPECT_EQ(dead.path, first);
  EXPECT_EQ(dead.code, 'C');
  EXPECT_EQ(dead.type, '?');
  EXPECT_EQ(dead.message, "");
  EXPECT_EQ(dead.context, "waitForTerminated");
  EXPECT_EQ(sink_.results[1].path, second);
  EXPECT_EQ(sink_.results[1].code, 'G');
  EXPECT_TRUE(sink_.errors.empty());
}

INSTANTIATE_TEST_SUITE_P(Ways, DeadWorkerTest, ::testing::Values("die-before", "killed"));

TEST_F(WorkerPoolTest, AnAnswerSentJustBeforeTheWorkerEndedIsKept) {
  script("first.jpg\tdie-after\nsecond.jpg\tB\tJ\t0\tbroken\n");
  begin_run(1);
  std::string first = image("first.jpg");
  place(first);
  ASSERT_TRUE(wait_for_zombie(pool().workerPid(0)));
  std::string second = image("second.jpg");
  place(second);
  EXPECT_TRUE(finish());

  ASSERT_EQ(sink_.results.size(), 2u);
  EXPECT_EQ(sink_.results[0].path, first);
  EXPECT_EQ(sink_.results[0].code, 'G');
  EXPECT_EQ(sink_.results[0].context, "waitForTerminated");
  EXPECT_EQ(sink_.results[1].path, second);
  EXPECT_EQ(sink_.results[1].code, 'B');
  EXPECT_EQ(sink_.results[1].message, "broken");
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WorkerPoolTest, ARequestForAWorkerThatIsEndingGoesToANewOne) {
  // The worker stops reading requests before it answers and ends a little
  // after: the next request finds its input closed before it can be reaped.
  script("first.jpg\tgone-after\n");
  begin_run(1);
  std::string first = image("first.jpg");
  std::string second = image("second.jpg");
  place(first);
  place(second);
  EXPECT_TRUE(finish());

  ASSERT_EQ(sink_.results.size(), 2u);
  EXPECT_EQ(sink_.results[0].path, first);
  EXPECT_EQ(sink_.results[0].code, 'G');
  EXPECT_EQ(sink_.results[1].path, second);
  EXPECT_EQ(sink_.results[1].code, 'G');
  EXPECT_TRUE(sink_.errors.empty());
  auto requests = transcript();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_NE(requests[0].pid, requests[1].pid);
  EXPECT_EQ(requests[1].paths, std::vector<std::string>{second});
}

TEST_F(WorkerPoolTest, AWorkerWhoseOutputEndsIsIndeterminateAndEnded) {
  script("first.jpg\tclose-output\n");
  begin_run(1);
  std::string first = image("first.jpg");
  place(first);
  pid_t old_pid = pool().workerPid(0);
  std::string second = image("second.jpg");
  place(second);
  EXPECT_TRUE(is_gone(old_pid));
  EXPECT_TRUE(finish());

  ASSERT_EQ(sink_.results.size(), 2u);
  EXPECT_EQ(sink_.results[0].path, first);
  EXPECT_EQ(sink_.results[0].code, 'C');
  EXPECT_EQ(sink_.results[0].context, "verify");
  EXPECT_NE(sink_.notices.find("No response from subprocess.\nResult C path=[" + first + "] msg[]\n"),
            std::string::npos);
  EXPECT_EQ(sink_.results[1].code, 'G');
  EXPECT_TRUE(sink_.errors.empty());
}

struct BrokenAnswer {
  const char* action;
  const char* error;
  const char* log_line;  // a log-file line it leaves, or empty
};

void PrintTo(const BrokenAnswer& c, std::ostream* out) { *out << c.action; }

class BrokenAnswerTest : public WorkerPoolTest, public ::testing::WithParamInterface<BrokenAnswer> {};

TEST_P(BrokenAnswerTest, IsReportedAndTheWorkerEnded) {
  const BrokenAnswer& c = GetParam();
  script(std::string("a.jpg\t") + c.action + "\n");
  begin_run(1);
  std::string path = image("a.jpg");
  place(path);
  pid_t pid = pool().workerPid(0);

  EXPECT_FALSE(finish());
  EXPECT_EQ(sink_.errors, std::vector<std::string>{c.error});
  if (*c.log_line != '\0') {
    EXPECT_TRUE(sink_.logged(c.log_line)) << c.log_line;
  }
  EXPECT_TRUE(sink_.results.empty());
  // Its answers are out of step: the worker is gone, so nothing it sends
  // later can be taken for another file's answer.
  EXPECT_TRUE(is_gone(pid));
  EXPECT_EQ(pool().workerPid(0), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BrokenAnswerTest,
    ::testing::Values(BrokenAnswer{"two-n", "inconsistent counts received from subprocess", ""},
                      BrokenAnswer{"not-n", "inconsistent counts received from subprocess", ""},
                      BrokenAnswer{"zero-n", "inconsistent counts received from subprocess", ""},
                      BrokenAnswer{"garbled", "Error reading response from pipe", "amt=512 strlen path=510"},
                      BrokenAnswer{"short", "Error reading response from pipe", "amt=100 strlen path=98"}),
    [](const auto& info) {
      std::string name = info.param.action;
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST_F(WorkerPoolTest, ABrokenAnswerInGiveWaitingForAWorkerStopsTheWalk) {
  script("a.jpg\ttwo-n\n");
  begin_run(1);
  place(image("a.jpg"));
  EXPECT_EQ(pool().placeFile(image("b.jpg"), false), Placement::kFailed);
  EXPECT_EQ(sink_.errors, std::vector<std::string>{"inconsistent counts received from subprocess"});
  EXPECT_TRUE(sink_.logged("readResult returned false"));
  EXPECT_TRUE(finish());
}

// Sets the cancel flag from another thread after a pause and measures how
// long the caller's own call takes. The calls tested would wait ten minutes
// for their worker: ending within a minute shows Stop was seen, on a machine
// of any speed.
template <typename F>
std::chrono::milliseconds stop_after(std::atomic<bool>& cancel, std::chrono::milliseconds pause, F call) {
  std::thread stopper([&] {
    std::this_thread::sleep_for(pause);
    cancel = true;
  });
  auto start = std::chrono::steady_clock::now();
  call();
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  stopper.join();
  return took;
}

TEST_F(WorkerPoolTest, StopIsSeenWhileWaitingForAFreeWorker) {
  timings_.answer_budget = 600000ms;
  script("a.jpg\thang\n");
  begin_run(1);
  place(image("a.jpg"));
  pid_t pid = pool().workerPid(0);
  Placement placed = Placement::kPlaced;
  auto took = stop_after(cancel_, 300ms, [&] { placed = pool().placeFile(image("b.jpg"), false); });
  EXPECT_EQ(placed, Placement::kCancelled);
  EXPECT_LT(took, 60000ms);

  EXPECT_TRUE(finish(true));
  EXPECT_TRUE(is_gone(pid));
  EXPECT_TRUE(sink_.results.empty());
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WorkerPoolTest, StopIsSeenWhileFinishingWaitsForAnswers) {
  timings_.answer_budget = 600000ms;
  script("a.jpg\thang\n");
  begin_run(1);
  place(image("a.jpg"));
  pid_t pid = pool().workerPid(0);
  auto took = stop_after(cancel_, 300ms, [&] { finish(); });
  EXPECT_LT(took, 60000ms);
  EXPECT_TRUE(is_gone(pid));
  EXPECT_TRUE(sink_.results.empty());
}

TEST_F(WorkerPoolTest, AHungWorkerUsesUpTheAttemptsOfTheNextFile) {
  timings_.answer_budget = 200ms;
  timings_.placement_attempts = 2;
  script("a.jpg\thang\n");
  begin_run(1);
  place(image("a.jpg"));
  EXPECT_EQ(pool().placeFile(image("b.jpg"), false), Placement::kFailed);
  EXPECT_EQ(sink_.notices, "timeout\ntimeout\n");
  EXPECT_EQ(sink_.errors, std::vector<std::string>{"Failed to assign work to worker"});
  EXPECT_TRUE(sink_.logged("Failed to assign work to worker"));
  EXPECT_TRUE(finish(true));
}

TEST_F(WorkerPoolTest, ElevenRawFilesGoAsABatchOfTenThenOne) {
  begin_run(2);
  std::vector<std::string> raws;
  for (int i = 1; i <= 11; ++i) raws.push_back(image("raw" + std::to_string(100 + i) + ".nef"));
  for (int i = 0; i < 10; ++i) place(raws[i], true);
  ASSERT_TRUE(pool().rawBatchPending());
  EXPECT_EQ(pool().slot(pool().rawBatchSlot()).paths.size(), 10u);
  EXPECT_TRUE(pool().longTimeout());

  place(raws[10], true);
  ASSERT_TRUE(pool().rawBatchPending());
  EXPECT_EQ(pool().slot(pool().rawBatchSlot()).paths, std::vector<std::string>{raws[10]});
  EXPECT_TRUE(pool().flushRawWorker());
  EXPECT_FALSE(pool().rawBatchPending());
  EXPECT_TRUE(finish());

  auto requests = transcript();
  ASSERT_EQ(requests.size(), 2u);
  std::sort(requests.begin(), requests.end(), [](const auto& a, const auto& b) { return a.count > b.count; });
  EXPECT_EQ(requests[0].count, 10);
  EXPECT_EQ(requests[0].mode, converter_);
  EXPECT_EQ(requests[0].paths, std::vector<std::string>(raws.begin(), raws.begin() + 10));
  EXPECT_EQ(requests[1].count, 1);
  EXPECT_EQ(requests[1].mode, converter_);
  EXPECT_EQ(requests[1].paths, std::vector<std::string>{raws[10]});

  ASSERT_EQ(sink_.results.size(), 11u);
  for (const auto& raw : raws) {
    const Result* r = sink_.result_for(raw);
    ASSERT_NE(r, nullptr) << raw;
    EXPECT_EQ(r->code, 'G');
    EXPECT_EQ(r->type, 'R');
  }
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WorkerPoolTest, ARawBatchIsSentBeforeTheNextJpeg) {
  begin_run(1);
  std::string raw = image("a.nef");
  std::string jpeg = image("b.jpg");
  place(raw, true);
  place(jpeg);
  EXPECT_TRUE(finish());

  auto requests = transcript();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].mode, converter_);
  EXPECT_EQ(requests[0].paths, std::vector<std::string>{raw});
  EXPECT_EQ(requests[1].mode, "internal");
  EXPECT_EQ(requests[1].paths, std::vector<std::string>{jpeg});
  ASSERT_EQ(sink_.results.size(), 2u);
  EXPECT_EQ(sink_.results[0].path, raw);
  EXPECT_EQ(sink_.results[0].type, 'R');
  EXPECT_EQ(sink_.results[1].path, jpeg);
}

TEST_F(WorkerPoolTest, AMissingConverterStopsTheBatch) {
  converter_ = dir_.sub("no such converter");
  begin_run(1);
  place(image("a.nef"), true);
  EXPECT_FALSE(pool().flushRawWorker());
  EXPECT_EQ(sink_.errors, (std::vector<std::string>{"Converter set in Preferences does not exist.",
                                                    "Failed to give final work to subprocess"}));
  EXPECT_TRUE(finish());
  EXPECT_TRUE(transcript().empty());
  EXPECT_TRUE(sink_.results.empty());
}

TEST_F(WorkerPoolTest, AGatheringWorkerThatDiesTakesItsBatchWithIt) {
  begin_run(1);
  std::string first = image("first.nef");
  std::string second = image("second.nef");
  std::string jpeg = image("third.jpg");
  place(first, true);
  pid_t gatherer = pool().workerPid(0);
  kill(gatherer, SIGKILL);
  ASSERT_TRUE(wait_for_zombie(gatherer));

  // The next raw file opens a new batch in the new worker instead of joining
  // the slot of the dead one, and the JPEG gets a request of its own.
  place(second, true);
  EXPECT_EQ(pool().slot(pool().rawBatchSlot()).paths, std::vector<std::string>{second});
  place(jpeg);
  EXPECT_TRUE(finish());

  auto requests = transcript();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].mode, converter_);
  EXPECT_EQ(requests[0].paths, std::vector<std::string>{second});
  EXPECT_EQ(requests[1].mode, "internal");
  EXPECT_EQ(requests[1].paths, std::vector<std::string>{jpeg});

  ASSERT_EQ(sink_.results.size(), 3u);
  EXPECT_EQ(sink_.results[0].path, first);
  EXPECT_EQ(sink_.results[0].code, 'C');
  EXPECT_EQ(sink_.results[1].path, second);
  EXPECT_EQ(sink_.results[1].code, 'G');
  EXPECT_EQ(sink_.results[2].path, jpeg);
  EXPECT_EQ(sink_.results[2].code, 'G');
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WorkerPoolTest, EndingAGatheringWorkerEndsItsBatch) {
  begin_run(1);
  place(image("a.nef"), true);
  ASSERT_TRUE(pool().rawBatchPending());
  pool().killWorker(pool().rawBatchSlot());
  EXPECT_FALSE(pool().rawBatchPending());
  EXPECT_TRUE(pool().flushRawWorker());
  EXPECT_TRUE(finish());
  EXPECT_TRUE(transcript().empty());
}

TEST_F(WorkerPoolTest, IdleWorkersServeTheNextRun) {
  // Two files for four workers: the two busy at the end of the run are
  // ended, the two idle ones stay up for the next run.
  begin_run(4);
  place(image("a.jpg"));
  place(image("b.jpg"));
  EXPECT_TRUE(finish());
  EXPECT_EQ(pool().workerPid(0), 0);
  EXPECT_EQ(pool().workerPid(1), 0);
  std::vector<pid_t> idle = {pool().workerPid(2), pool().workerPid(3)};
  EXPECT_NE(idle[0], 0);
  EXPECT_NE(idle[1], 0);

  begin_run(4);
  for (const char* name : {"c.jpg", "d.jpg", "e.jpg", "f.jpg"}) place(image(name));
  EXPECT_EQ(pool().workerPid(2), idle[0]);
  EXPECT_EQ(pool().workerPid(3), idle[1]);
  EXPECT_TRUE(finish());

  // Workers note their requests as they read them, so the transcript's order
  // across workers is theirs; look the requests up by path.
  std::map<std::string, pid_t> served_by;
  for (const auto& r : transcript()) served_by[r.paths.at(0)] = r.pid;
  EXPECT_EQ(served_by.size(), 6u);
  EXPECT_EQ(served_by[images_ + "/e.jpg"], idle[0]);
  EXPECT_EQ(served_by[images_ + "/f.jpg"], idle[1]);
  // Four started for the first run, two more for the slots whose workers
  // were ended.
  EXPECT_EQ(testing_support::fake_starts(root_).size(), 6u);
  EXPECT_EQ(sink_.results.size(), 6u);
  EXPECT_TRUE(sink_.errors.empty());
}

// The soft address-space limit of a process, from /proc; nothing when it
// is unlimited or cannot be read.
std::optional<uint64_t> address_space_limit_of(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/limits");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("Max address space", 0) != 0) continue;
    std::istringstream fields(line.substr(std::strlen("Max address space")));
    std::string soft;
    fields >> soft;
    if (soft == "unlimited") return std::nullopt;
    return std::stoull(soft);
  }
  return std::nullopt;
}

// Every worker of a run has the run's memory limit before its first
// request, also an idle worker kept from a run whose limit was another. The
// limits here lie far above what any process reserves (the sanitizers'
// shadow memory included), so the workers run as ever.
TEST_F(WorkerPoolTest, EveryWorkerOfARunHasTheRunsMemoryLimit) {
  constexpr uint64_t kFirst = uint64_t{1} << 46;
  constexpr uint64_t kSecond = kFirst + (uint64_t{1} << 40);
  pool().beginRun({2, capture_path(), converter_}, kFirst);
  place(image("a.jpg"));
  ASSERT_NE(pool().workerPid(0), 0);
  ASSERT_NE(pool().workerPid(1), 0);
  EXPECT_EQ(address_space_limit_of(pool().workerPid(0)), kFirst);
  EXPECT_EQ(address_space_limit_of(pool().workerPid(1)), kFirst);
  EXPECT_TRUE(finish());
  const pid_t idle = pool().workerPid(1);
  ASSERT_NE(idle, 0);

  pool().beginRun({2, capture_path(), converter_}, kSecond);
  EXPECT_EQ(address_space_limit_of(idle), kSecond);
  place(image("b.jpg"));
  place(image("c.jpg"));
  EXPECT_EQ(pool().workerPid(1), idle);
  EXPECT_EQ(address_space_limit_of(pool().workerPid(0)), kSecond);
  EXPECT_TRUE(finish());
  EXPECT_EQ(sink_.results.size(), 3u);
  EXPECT_TRUE(sink_.errors.empty());
  for (const std::string& line : sink_.log) EXPECT_EQ(line.find("Can't limit"), std::string::npos) << line;
}

// The run-log line that names the limit, in whole MiB, and the limit each
// kind of build gives: in a plain build each worker gets three quarters of
// the machine's physical memory over the run's worker count, never less
// than the floor; sanitizer builds, whose workers reserve terabytes of
// address space, give none.
TEST(WorkerMemoryLimit, TheRunLogLineNamesTheLimitOrNone) {
  EXPECT_EQ(frontend::workerMemoryLimitLine(uint64_t{2304} << 20), "Worker memory limit: 2304 MiB each\n");
  EXPECT_EQ(frontend::workerMemoryLimitLine((uint64_t{1934} << 20) + 12345), "Worker memory limit: 1934 MiB each\n");
  EXPECT_EQ(frontend::workerMemoryLimitLine(std::nullopt), "Worker memory limit: none\n");
  for (int workers : {1, 3, 8}) {
#ifdef CORVELLA_WORKERS_UNLIMITED
    EXPECT_EQ(frontend::workerMemoryLimit(workers), std::nullopt) << workers;
#else
    // A machine that does not say how much memory it has gets the floor.
    const uint64_t share = platform::physical_memory().value_or(0) / 4 * 3 / static_cast<uint64_t>(workers);
    EXPECT_EQ(frontend::workerMemoryLimit(workers), std::max(share, worker_memory::kFloor)) << workers;
#endif
  }
}

TEST_F(WorkerPoolTest, AnIdleWorkerThatDiedBetweenRunsIsReplaced) {
  begin_run(2);
  place(image("a.jpg"));
  EXPECT_TRUE(finish());
  pid_t idle = pool().workerPid(1);
  kill(idle, SIGKILL);
  ASSERT_TRUE(wait_for_zombie(idle));

  begin_run(2);
  std::string b = image("b.jpg");
  std::string c = image("c.jpg");
  place(b);
  place(c);
  EXPECT_TRUE(is_gone(idle));
  EXPECT_NE(pool().workerPid(1), 0);
  EXPECT_NE(pool().workerPid(1), idle);
  EXPECT_TRUE(finish());
  ASSERT_EQ(sink_.results.size(), 3u);
  EXPECT_NE(sink_.result_for(b), nullptr);
  EXPECT_NE(sink_.result_for(c), nullptr);
  // It owed nothing: no file is blamed on it.
  for (const auto& r : sink_.results) EXPECT_EQ(r.code, 'G') << r.path;
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(WorkerPoolTest, AnAnswerOfARunThatWasNotFinishedIsNotTakenIntoTheNext) {
  script("old.jpg\tB\tJ\t200\n");
  begin_run(1);
  place(image("old.jpg"));
  pid_t busy = pool().workerPid(0);

  begin_run(1);
  std::string fresh = image("new.jpg");
  place(fresh);
  EXPECT_TRUE(finish());
  EXPECT_TRUE(is_gone(busy));
  ASSERT_EQ(sink_.results.size(), 1u);
  EXPECT_EQ(sink_.results[0].path, fresh);
}

TEST_F(WorkerPoolTest, EachSlotsCaptureFileGetsTheStandardErrorOfItsOldAndNewWorkers) {
  begin_run(2);
  place(image("a.jpg"));
  EXPECT_TRUE(finish());
  pid_t old_pid = pool().workerPid(1);
  ASSERT_NE(old_pid, 0);
  EXPECT_NE(slot_capture(0).find("/a.jpg"), std::string::npos);
  EXPECT_EQ(slot_capture(1), "");

  // The next run makes the files anew; the worker started now in slot 0 and
  // the idle one that slot 1 kept from the first run each write into their
  // own slot's file.
  begin_run(2);
  place(image("b.jpg"));
  place(image("c.jpg"));
  EXPECT_EQ(pool().workerPid(1), old_pid);
  pid_t new_pid = pool().workerPid(0);
  EXPECT_TRUE(finish());

  EXPECT_EQ(slot_capture(0), "fake_worker " + std::to_string(new_pid) + ": 1 internal " + images_ + "/b.jpg\n");
  EXPECT_EQ(slot_capture(1), "fake_worker " + std::to_string(old_pid) + ": 1 internal " + images_ + "/c.jpg\n");
  // Slots the runs did not use have no file.
  EXPECT_FALSE(platform::exists(frontend::slotCapturePath(capture_path(), 2)));
}

TEST(SlotCapturePathTest, TheSlotNumberGoesBeforeTheExtension) {
  const struct {
    const char* path;
    int slot;
    const char* slot_path;
  } cases[] = {
      {"/d/CorvellaLogStderr.txt", 0, "/d/CorvellaLogStderr-0.txt"},
      {"/d/CorvellaLogStderr.txt", 7, "/d/CorvellaLogStderr-7.txt"},
      {"/d.x/stderr", 1, "/d.x/stderr-1"},
      {"/d/.stderr", 2, "/d/.stderr-2"},
      {"stderr.log.txt", 3, "stderr.log-3.txt"},
      {"", 0, ""},
  };
  for (const auto& c : cases) EXPECT_EQ(frontend::slotCapturePath(c.path, c.slot), c.slot_path) << c.path;
}

TEST_F(WorkerPoolTest, QuittingEndsAndReapsEveryWorker) {
  begin_run(4);
  place(image("a.jpg"));
  EXPECT_TRUE(finish());
  script("hung.jpg\thang\n");
  // A smaller run leaves the upper slots' workers idle; one worker is busy.
  begin_run(2);
  place(image("hung.jpg"));
  std::vector<pid_t> pids;
  for (int i = 0; i < frontend::kWorkerSlots; ++i) {
    if (pool().workerPid(i) != 0) pids.push_back(pool().workerPid(i));
  }
  ASSERT_EQ(pids.size(), 4u);

  pool().quit();
  for (pid_t pid : pids) EXPECT_TRUE(is_gone(pid)) << pid;
  for (int i = 0; i < frontend::kWorkerSlots; ++i) EXPECT_EQ(pool().workerPid(i), 0);
}

TEST_F(WorkerPoolTest, AFailedAnswerAtTheEndStillReadsAndEndsTheOtherWorkers) {
  script("a.jpg\ttwo-n\nb.jpg\tG\tJ\t300\n");
  begin_run(2);
  std::string b = image("b.jpg");
  place(image("a.jpg"));
  place(b);
  std::vector<pid_t> pids = {pool().workerPid(0), pool().workerPid(1)};

  EXPECT_FALSE(finish());
  EXPECT_EQ(sink_.errors, std::vector<std::string>{"inconsistent counts received from subprocess"});
  ASSERT_EQ(sink_.results.size(), 1u);
  EXPECT_EQ(sink_.results[0].path, b);
  EXPECT_EQ(sink_.results[0].context, "finishAllWorkers");
  for (pid_t pid : pids) EXPECT_TRUE(is_gone(pid));
}

TEST_F(WorkerPoolTest, AssigningToABusyWorkerIsRefused) {
  begin_run(1);
  place(image("a.jpg"));
  EXPECT_FALSE(pool().assign(0, image("b.jpg"), false));
  EXPECT_EQ(sink_.errors, std::vector<std::string>{"Attempt to assign to unavailable worker"});
  EXPECT_TRUE(finish());
  ASSERT_EQ(sink_.results.size(), 1u);
  EXPECT_EQ(sink_.results[0].path, images_ + "/a.jpg");
}

class MissingWorkerTest : public WorkerPoolTest, public ::testing::WithParamInterface<int> {};

// Only the first failure is reported, and the slots after it stay empty.
TEST_P(MissingWorkerTest, AWorkerProgramThatCannotStartIsReportedOnce) {
  frontend::PoolConfig config{dir_.sub("no-such-worker"), root_, timings_};
  pool_ = std::make_unique<WorkerPool>(config, sink_, cancel_);
  begin_run(GetParam());
  EXPECT_EQ(pool().placeFile(image("a.jpg"), false), Placement::kFailed);
  const std::string text = "Can't create subprocess " + dir_.sub("no-such-worker");
  EXPECT_EQ(sink_.errors, std::vector<std::string>{text});
  EXPECT_TRUE(sink_.logged(text));
  EXPECT_NE(sink_.notices.find("; trying to execute " + dir_.sub("no-such-worker") + "\n"), std::string::npos);
  for (int i = 0; i < frontend::kWorkerSlots; ++i) EXPECT_EQ(pool().workerPid(i), 0) << "slot " << i;
}

INSTANTIATE_TEST_SUITE_P(Slots, MissingWorkerTest, ::testing::Values(1, 8));

// The worker is looked for beside the program, then in the current folder,
// then in ../release from it; when it is nowhere, the place beside the
// program is named, as a full path.
TEST(FindWorkerProgram, LooksBesideTheProgramThenInTheCurrentFolderThenInRelease) {
  TempFolder dir;
  const std::string program = dir.sub("bin");
  const std::string current = dir.sub("work/debug");
  auto place = [&](const std::string& folder) { dir.write_file(folder + "/corvex", "#!/bin/sh\n"); };
  auto remove = [&](const std::string& folder) { std::remove(dir.sub(folder + "/corvex").c_str()); };
  dir.write_file("work/debug/notes.txt", "");  // the current folder exists, without a worker

  EXPECT_EQ(frontend::findWorkerProgramFrom(program, current), program + "/corvex");
  EXPECT_EQ(frontend::findWorkerProgramFrom(std::nullopt, current), current + "/corvex");
  place("work/release");
  EXPECT_EQ(frontend::findWorkerProgramFrom(program, current), current + "/../release/corvex");
  place("work/debug");
  EXPECT_EQ(frontend::findWorkerProgramFrom(program, current), current + "/corvex");
  place("bin");
  EXPECT_EQ(frontend::findWorkerProgramFrom(program, current), program + "/corvex");
  remove("bin");
  remove("work/debug");
  EXPECT_EQ(frontend::findWorkerProgramFrom(program, current), current + "/../release/corvex");
}

}  // namespace
