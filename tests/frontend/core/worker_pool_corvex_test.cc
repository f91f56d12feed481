// The worker pool driving the real corvex end to end.
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <string>
#include <tuple>

#include "frontend/core/worker_pool.h"
#include "platform/files.h"
#include "support/image_writers.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"

namespace {

using namespace std::chrono_literals;
using frontend::WorkerPool;
using testing_support::TempFolder;

class ResultsByPath : public frontend::PoolSink {
 public:
  void recordResult(const std::string& path, char code, char type, const std::string& message,
                    const std::string&) override {
    results[path] = {code, type, message};
  }
  void runLogNotice(const std::string&) override {}
  void logLine(const std::string&) override {}
  void reportError(const std::string& text, int) override { errors += text + "\n"; }
  void reportSystemError(const std::string& text, int) override { errors += text + "\n"; }

  std::map<std::string, std::tuple<char, char, std::string>> results;
  std::string errors;
};

class WorkerPoolCorvexTest : public ::testing::Test {
 protected:
  WorkerPoolCorvexTest() : env_(dir_.path()) { platform::make_folders(dir_.sub("root")); }

  std::unique_ptr<WorkerPool> make_pool() {
    frontend::PoolTimings timings;
    timings.poll_step = 20ms;
    timings.answer_budget = 30000ms;
    timings.long_answer_budget = 30000ms;
    return std::make_unique<WorkerPool>(
        frontend::PoolConfig{testing_support::corvex_path(), dir_.sub("root"), timings}, sink_, cancel_);
  }

  TempFolder dir_;
  testing_support::IsolatedEnvironment env_;
  std::atomic<bool> cancel_{false};
  ResultsByPath sink_;
};

TEST_F(WorkerPoolCorvexTest, AnswersFilesOfEachKind) {
  std::string good = dir_.sub("images/good.jpg");
  std::string text = dir_.write_file("images/notes.txt", "just some words, and no image at all");
  std::string bare = dir_.write_file("images/README", "no extension and no image either");
  std::string truncated = dir_.sub("images/cut.jpg");
  ASSERT_TRUE(testing_support::write_jpeg(good));
  ASSERT_TRUE(testing_support::write_jpeg(truncated));
  std::string whole = testing_support::read_file(truncated);
  dir_.write_file("images/cut.jpg", whole.substr(0, whole.size() / 2));

  auto pool = make_pool();
  pool->beginRun({2, dir_.sub("stderr.txt"), ""});
  for (const auto& path : {good, text, bare, truncated}) {
    ASSERT_EQ(pool->placeFile(path, false), WorkerPool::Placement::kPlaced) << path;
  }
  EXPECT_TRUE(pool->finishAllWorkers(false));
  EXPECT_EQ(sink_.errors, "");

  ASSERT_EQ(sink_.results.size(), 4u);
  EXPECT_EQ(sink_.results[good], std::make_tuple('G', 'J', std::string()));
  EXPECT_EQ(sink_.results[text], std::make_tuple('B', '?', std::string("Could not open or identify")));
  EXPECT_EQ(sink_.results[bare], std::make_tuple('S', '?', std::string("Could not open or identify")));
  EXPECT_EQ(std::get<0>(sink_.results[truncated]), 'B');
  EXPECT_EQ(std::get<1>(sink_.results[truncated]), 'J');
  // The JPEG library's complaint about the cut file reached the capture file
  // of the slot that checked it.
  pool->closeCaptureFiles();
  std::string captured;
  for (int slot = 0; slot < 2; ++slot) {
    captured += testing_support::read_file(frontend::slotCapturePath(dir_.sub("stderr.txt"), slot));
  }
  EXPECT_NE(captured.find("JPEG"), std::string::npos);
}

TEST_F(WorkerPoolCorvexTest, SendsARawBatchThroughTheConverter) {
  std::string first = dir_.write_file("raw/first.cr2", "raw one");
  std::string second = dir_.write_file("raw/second.cr2", "raw two");

  auto pool = make_pool();
  pool->beginRun({1, "", testing_support::fake_converter_path()});
  ASSERT_EQ(pool->placeFile(first, true), WorkerPool::Placement::kPlaced);
  ASSERT_EQ(pool->placeFile(second, true), WorkerPool::Placement::kPlaced);
  EXPECT_TRUE(pool->flushRawWorker());
  EXPECT_TRUE(pool->finishAllWorkers(false));
  EXPECT_EQ(sink_.errors, "");
  ASSERT_EQ(sink_.results.size(), 2u);
  EXPECT_EQ(sink_.results[first], std::make_tuple('G', 'R', std::string()));
  EXPECT_EQ(sink_.results[second], std::make_tuple('G', 'R', std::string()));
}

}  // namespace
