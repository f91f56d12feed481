// Converter requests: the real corvex running the stand-in converter.
#include <signal.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/files.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"
#include "util/worker_wire.h"
#include "worker/converter.h"

namespace {

using namespace std::chrono_literals;
using testing_support::fake_converter_path;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::WorkerProcess;

// One line of the stand-in converter's log.
struct LoggedRun {
  long pid = 0;
  int leftovers = 0;  // entries already in its output folder when it started
  std::vector<std::string> files;
};

class ConverterTest : public ::testing::Test {
 protected:
  // A worker whose TMP is this test's own folder, whose converter logs each
  // run, and which leaves a sub-folder among its outputs.
  std::unique_ptr<WorkerProcess> start(std::vector<std::string> env = {}) {
    platform::make_folders(tmp());
    bool own_tmp = std::any_of(env.begin(), env.end(), [](const std::string& e) { return e.rfind("TMP=", 0) == 0; });
    if (!own_tmp) env.push_back("TMP=" + tmp());
    env.push_back("TMPDIR=" + tmp());
    env.push_back("FAKE_CONVERTER_LOG=" + dir_.sub("converter.log"));
    env.push_back("FAKE_CONVERTER_SUBFOLDER=1");
    auto w = std::make_unique<WorkerProcess>(dir_.sub("props"), dir_.sub("stderr.txt"), std::move(env));
    EXPECT_TRUE(w->started());
    return w;
  }

  std::string tmp() const { return dir_.sub("tmp"); }

  // Paths of n raw files; those whose 1-based number is in bad contain
  // "bad", which the converter is told to name.
  static std::vector<std::string> raw_files(int n, const std::set<int>& bad = {}) {
    std::vector<std::string> paths;
    for (int i = 1; i <= n; ++i) {
      paths.push_back("/photos/shoot/" + std::string(bad.count(i) ? "bad-" : "img-") + std::to_string(i) + ".cr2");
    }
    return paths;
  }

  std::vector<LoggedRun> runs() const {
    std::vector<LoggedRun> result;
    std::istringstream log(read_file(dir_.sub("converter.log")));
    std::string line;
    while (std::getline(log, line)) {
      std::istringstream fields(line);
      std::string field;
      LoggedRun run;
      std::getline(fields, field, '\t');
      run.pid = std::stol(field);
      std::getline(fields, field, '\t');
      run.leftovers = std::stoi(field);
      while (std::getline(fields, field, '\t')) run.files.push_back(field);
      result.push_back(std::move(run));
    }
    return result;
  }

  // Nothing of the worker's is left in its temporary folder.
  void expect_temp_folder_empty() const {
    auto names = platform::list_folder(tmp());
    ASSERT_TRUE(names);
    EXPECT_TRUE(names->empty()) << (*names)[0];
  }

  TempFolder dir_;
};

void expect_answer(const std::vector<wire::Record>& answer, const std::vector<std::string>& paths,
                   const std::string& codes, const std::string& message = "") {
  ASSERT_EQ(answer.size(), paths.size());
  for (size_t i = 0; i < answer.size(); ++i) {
    EXPECT_EQ(answer[i].code, codes[i]) << paths[i];
    EXPECT_EQ(answer[i].type, 'R') << paths[i];
    EXPECT_EQ(answer[i].path, paths[i]);
    EXPECT_EQ(answer[i].message, answer[i].code == 'E' ? message : "") << paths[i];
  }
}

TEST_F(ConverterTest, FilesNamedOnStandardErrorFailAndTheFilesAfterThemRunAgain) {
  struct Case {
    const char* what;
    int files;
    std::set<int> bad;
    // Each run: the number of its first file, how many files it got, and
    // whether it begins a pass.
    struct Shape {
      int first, count;
      bool new_pass;
    };
    std::vector<Shape> runs;
  } cases[] = {
      {"nothing named: batches of 50", 120, {}, {{1, 50, true}, {51, 50, false}, {101, 20, false}}},
      {"the third of five", 5, {3}, {{1, 5, true}, {4, 2, true}}},
      {"two of five", 5, {2, 4}, {{1, 5, true}, {3, 3, true}, {5, 1, true}}},
      {"the last of five", 5, {5}, {{1, 5, true}}},
      // The second batch names file 70, so the third batch is not run in
      // that pass, and the next pass starts right after file 70.
      {"one in the second batch", 120, {70}, {{1, 50, true}, {51, 50, false}, {71, 50, true}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::remove_file(dir_.sub("converter.log"));
    auto w = start({"FAKE_CONVERTER_NAME=bad"});
    auto paths = raw_files(c.files, c.bad);
    ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
    auto header = w->read_record();
    ASSERT_TRUE(header);
    EXPECT_EQ(header->code, 'N');
    EXPECT_EQ(header->type, c.files);
    std::vector<wire::Record> answer;
    for (int i = 0; i < c.files; ++i) {
      auto r = w->read_record();
      ASSERT_TRUE(r);
      answer.push_back(*r);
    }
    std::string codes;
    for (int i = 1; i <= c.files; ++i) codes += c.bad.count(i) ? 'B' : 'G';
    expect_answer(answer, paths, codes);

    auto logged = runs();
    ASSERT_EQ(logged.size(), c.runs.size());
    for (size_t r = 0; r < logged.size(); ++r) {
      const auto& shape = c.runs[r];
      std::vector<std::string> expected(paths.begin() + shape.first - 1, paths.begin() + shape.first - 1 + shape.count);
      EXPECT_EQ(logged[r].files, expected) << "run " << r;
      // Outputs are deleted after each pass, not between the batches of one.
      if (shape.new_pass) {
        EXPECT_EQ(logged[r].leftovers, 0) << "run " << r;
      } else {
        EXPECT_GT(logged[r].leftovers, 0) << "run " << r;
      }
    }
    expect_temp_folder_empty();
    w->close_input();
    EXPECT_EQ(w->wait_exit(), 0);
  }
}

TEST_F(ConverterTest, PathsReachTheConverterExactlyAsSent) {
  auto w = start({"FAKE_CONVERTER_NAME=bad"});
  std::vector<std::string> paths = {"/photos/my shoot/a \"quoted\" name.nef", "relative/dir/bad one.nef",
                                    "/photos/back\\slash.nef", "/photos/after.nef"};
  ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  expect_answer(*answer, paths, "GBGG");
  auto logged = runs();
  ASSERT_FALSE(logged.empty());
  EXPECT_EQ(logged[0].files, paths);
}

TEST_F(ConverterTest, AConverterThatCannotBeRunEndsTheWorkerWithOneError) {
  std::string not_executable = dir_.write_file("bin/converter.sh", "#!/bin/sh\n");
  chmod(not_executable.c_str(), 0644);
  for (const std::string& converter : {dir_.sub("no/such/converter"), not_executable}) {
    SCOPED_TRACE(converter);
    auto w = start();
    ASSERT_TRUE(w->send_request(converter, raw_files(3)));
    auto answer = w->read_answer();
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 1u);
    EXPECT_EQ((*answer)[0].code, 'E');
    EXPECT_EQ((*answer)[0].type, '?');
    EXPECT_EQ((*answer)[0].path, "[no path]");
    EXPECT_EQ((*answer)[0].message, "can't execute DNG Converter");
    EXPECT_TRUE(w->output_ends(5s));
    EXPECT_EQ(w->wait_exit(), 1);
    expect_temp_folder_empty();
  }
}

TEST_F(ConverterTest, ATemporaryFolderThatCannotBeMadeOrListedEndsTheWorkerWithOneError) {
  struct Case {
    std::string env;
    const char* message;
  } cases[] = {
      {"TMP=" + dir_.sub("no/such/folder"), "can't make directory"},
      {"FAKE_CONVERTER_REMOVE_FOLDER=1", "can't open directory"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message);
    auto w = start({c.env});
    ASSERT_TRUE(w->send_request(fake_converter_path(), raw_files(2)));
    auto answer = w->read_answer();
    ASSERT_TRUE(answer);
    ASSERT_EQ(answer->size(), 1u);
    EXPECT_EQ((*answer)[0].code, 'E');
    EXPECT_EQ((*answer)[0].type, '?');
    EXPECT_EQ((*answer)[0].path, "[no path]");
    EXPECT_EQ((*answer)[0].message, c.message);
    EXPECT_EQ(w->wait_exit(), 1);
    expect_temp_folder_empty();
  }
}

TEST_F(ConverterTest, ARunThatFailsWithoutNamingAFileAnswersItsFilesWithAnError) {
  // A file that is executable but no program: it cannot be started.
  std::string garbage = dir_.write_file("bin/garbage", "this is not a program\n");
  chmod(garbage.c_str(), 0755);
  struct Case {
    const char* what;
    std::string converter;
    std::vector<std::string> env;
    std::string message;
  } cases[] = {
      {"non-zero exit", fake_converter_path(), {"FAKE_CONVERTER_EXIT=3"}, "DNG Converter failed (exit status 3)"},
      {"crash", fake_converter_path(), {"FAKE_CONVERTER_CRASH=1"}, "DNG Converter was killed by signal 6 (Aborted)"},
      {"cannot start", garbage, {}, "Can't execute: " + garbage + " (error code = 8)"},
      {"never ends",
       fake_converter_path(),
       {"FAKE_CONVERTER_SLEEP=60", "CORVEX_CONVERTER_TIME_LIMIT=1"},
       "DNG Converter did not finish within 1 seconds and was stopped"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    platform::remove_file(dir_.sub("converter.log"));
    auto w = start(c.env);
    auto paths = raw_files(3);
    ASSERT_TRUE(w->send_request(c.converter, paths));
    auto answer = w->read_answer();
    ASSERT_TRUE(answer);
    expect_answer(*answer, paths, "EEE", c.message);
    // The converter is gone, and so is its folder; the worker goes on.
    for (const auto& run : runs()) EXPECT_EQ(kill(static_cast<pid_t>(run.pid), 0), -1);
    expect_temp_folder_empty();
    ASSERT_TRUE(w->send_request(c.converter, {"/photos/next.cr2"}));
    auto next = w->read_answer();
    ASSERT_TRUE(next);
    EXPECT_EQ((*next)[0].path, "/photos/next.cr2");
  }
}

TEST_F(ConverterTest, AFailedRunThatNamesAFileRunsTheOthersAgain) {
  // Every run fails: the named file is invalid, the others of its run are
  // converted again, and that run names none of them.
  auto w = start({"FAKE_CONVERTER_NAME=bad", "FAKE_CONVERTER_EXIT=1"});
  auto paths = raw_files(5, {3});
  ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  expect_answer(*answer, paths, "EEBEE", "DNG Converter failed (exit status 1)");
  auto logged = runs();
  ASSERT_EQ(logged.size(), 2u);
  EXPECT_EQ(logged[1].files, (std::vector<std::string>{paths[0], paths[1], paths[3], paths[4]}));
}

TEST_F(ConverterTest, TheConverterCannotTouchTheWorkersRequestAndResultChannels) {
  struct Case {
    const char* what;
    const char* env;
  } cases[] = {
      {"prints on standard output", "FAKE_CONVERTER_STDOUT=100000"},
      {"reads standard input", "FAKE_CONVERTER_READ_STDIN=1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto w = start({c.env});
    for (int request = 0; request < 2; ++request) {
      auto paths = raw_files(3 + request);
      ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
      auto answer = w->read_answer(5s);
      ASSERT_TRUE(answer);
      expect_answer(*answer, paths, std::string(paths.size(), 'G'));
    }
  }
}

TEST_F(ConverterTest, TheWholeErrorTextUpToItsCapIsSearchedAndNothingBlocks) {
  struct Case {
    const char* what;
    std::string env;
    std::string codes;
  } cases[] = {
      {"a name, then 200 KB", "FAKE_CONVERTER_STDERR_AFTER=200000", "GBG"},
      {"440 bytes, then a name", "FAKE_CONVERTER_STDERR_BEFORE=440", "GBG"},
      {"200 KB, then a name", "FAKE_CONVERTER_STDERR_BEFORE=200000", "GBG"},
      // Past the cap the text is drained but no longer searched.
      {"5 MB, then a name", "FAKE_CONVERTER_STDERR_BEFORE=5000000", "GGG"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    auto w = start({"FAKE_CONVERTER_NAME=bad", c.env});
    auto paths = raw_files(3, {2});
    ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
    auto answer = w->read_answer(5s);
    ASSERT_TRUE(answer);
    expect_answer(*answer, paths, c.codes);
  }
}

TEST_F(ConverterTest, AProcessLeftBehindHoldingTheErrorPipeDoesNotHoldUpTheAnswer) {
  auto w = start({"FAKE_CONVERTER_ORPHAN=10"});
  auto paths = raw_files(2);
  ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
  auto answer = w->read_answer(8s);
  ASSERT_TRUE(answer);
  expect_answer(*answer, paths, "GG");
}

}  // namespace

namespace {

TEST(ConverterTextNames, APathCountsOnlyWhereItStandsWhole) {
  struct Case {
    const char* text;
    const char* path;
    bool named;
  } cases[] = {
      {"cannot convert \"/x/a.cr2\"\n", "/x/a.cr2", true},
      {"/x/a.cr2: unsupported camera", "/x/a.cr2", true},
      {"Cannot read /x/a.cr2.", "/x/a.cr2", true},       // a full stop ends the sentence
      {"Cannot read /x/a.cr2...\n", "/x/a.cr2", true},
      {"/x/a.cr2", "/x/a.cr2", true},                    // the end of the text
      {"(/x/a.cr2) failed", "/x/a.cr2", true},
      {"bad file /x/a.cr2\tskipped", "/x/a.cr2", true},
      {"cannot convert \"/x/a.cr2.nef\"\n", "/x/a.cr2", false},  // a longer name
      {"/x/a.cr2_1.cr2: bad", "/x/a.cr2", false},
      {"/x/a.cr2-copy: bad", "/x/a.cr2", false},
      {"/x/a.cr2/inner: bad", "/x/a.cr2", false},
      {"/x/a.cr2\xc3\xa9.nef: bad", "/x/a.cr2", false},  // a UTF-8 name goes on
      // A longer name first does not hide the path named whole later.
      {"/x/a.cr2.nef: bad\n/x/a.cr2: bad\n", "/x/a.cr2", true},
      {"nothing to say", "/x/a.cr2", false},
      {"", "/x/a.cr2", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(converter_text_names(c.text, c.path), c.named) << c.text;
  }
}

TEST_F(ConverterTest, AComplaintAboutALongerNameLeavesTheShorterOneValid) {
  auto w = start({"FAKE_CONVERTER_NAME=a.cr2.nef"});
  std::vector<std::string> paths = {"/photos/a.cr2", "/photos/a.cr2.nef", "/photos/b.cr2"};
  ASSERT_TRUE(w->send_request(fake_converter_path(), paths));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  expect_answer(*answer, paths, "GBG");
}

}  // namespace
