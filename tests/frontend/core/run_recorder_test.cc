#include "frontend/core/run_recorder.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

namespace {

using frontend::RecorderOptions;
using frontend::RunRecorder;

struct FakeServices : frontend::RecorderServices {
  std::string run_log;
  std::vector<std::string> details;
  std::set<std::string> cannot_store;
  std::vector<std::string> stored;
  std::string progress[7];
  int cancel_messages = 0;

  bool hash_store(const std::string& path) override {
    if (cannot_store.count(path) != 0) return false;
    stored.push_back(path);
    return true;
  }
  void db_add_detail(const std::string& path, const std::string& message, char code, char type) override {
    details.push_back(path + "|" + message + "|" + code + type);
  }
  void append_run_log(const std::string& text) override { run_log += text; }
  void run_log_notice(const std::string& text) override { run_log += text; }
  void set_progress_line(int line, const std::string& text) override { progress[line] = text; }
  void show_cancel_message() override { ++cancel_messages; }
};

class RunRecorderTest : public ::testing::Test {
 protected:
  // Takes a path up as the per-file step does, then records its result.
  void take_and_record(const std::string& path, char code, char type, const std::string& message = "") {
    ++recorder_.counters().processed;
    recorder_.in_flight().push_back(path);
    recorder_.recordResult(path, code, type, message, "verify");
  }
  // The summary after its fixed first lines.
  std::string summary_tail() {
    std::string s = recorder_.buildSummary();
    return s.substr(s.find("Total hash error"));
  }

  FakeServices services_;
  std::atomic<bool> cancel_{false};
  RunRecorder recorder_{services_, cancel_};
};

TEST_F(RunRecorderTest, BreakdownListsValidRowsThenABlankLineThenTheRest) {
  recorder_.start_run({});
  for (int i = 0; i < 3; ++i) take_and_record("/p/" + std::to_string(i) + ".jpg", 'G', 'J');
  take_and_record("/p/bad.tif", 'B', 'T', "Failed to read scanline");
  EXPECT_EQ(summary_tail(), "Total hash error: 0\n\nValid JPEGs: 3\n\nInvalid TIFFs: 1\n");
  EXPECT_EQ(services_.run_log.rfind("Probably invalid: /p/bad.tif\n\t(Failed to read scanline)\nVerification", 0), 0u)
      << services_.run_log;
  EXPECT_EQ(services_.details, std::vector<std::string>{"/p/bad.tif|Failed to read scanline|BT"});
  EXPECT_TRUE(recorder_.in_flight().empty());
}

TEST_F(RunRecorderTest, WholeSummaryOfAMixedRun) {
  RecorderOptions o;
  o.check_hashes = true;
  recorder_.start_run(o);
  take_and_record("/a.jpg", 'G', 'J');
  take_and_record("/b.nef", 'E', 'R', "path too long");
  take_and_record("/c.psd", 'B', 'P', "bad section");
  take_and_record("/d.tif", 'H', 'T', "no hash stored");
  take_and_record("/e.dng", 'C', 'D');
  take_and_record("/f", 'S', '?');
  services_.run_log.clear();
  std::string summary = recorder_.buildSummary();
  EXPECT_EQ(summary,
            "Verification Checks: Hash and Structure \n\n"
            "Total processed: 6\nTotal skipped: 1\nTotal hashes kept: 0 (not verified)\n"
            "Total valid: 1\nTotal invalid: 1\nTotal indeterminate: 1\nTotal error: 1\nTotal hash error: 1\n"
            "\n"
            "Valid JPEGs: 1\n"
            "\n"
            "Invalid Others: 1\n"
            "Indeterminate DNGs: 1\n"
            "Error Raws: 1\n"
            "Hash Error TIFFs: 1\n"
            "Skipped Unknown Image Types: 1\n");
  EXPECT_EQ(services_.run_log, summary);  // the run log gets the same text
}

TEST_F(RunRecorderTest, RunLogWordsForBadResultsAndNothingForValidOrSkipped) {
  recorder_.start_run({});
  struct Case {
    char code;
    const char* line;
  } cases[] = {{'G', ""},
               {'S', ""},
               {'B', "Probably invalid: /x\n"},
               {'C', "Probably invalid: /x\n"},
               {'E', "Processing error: /x\n"},
               {'H', "Hash check error: /x\n"},
               {'Z', "Probably invalid: /x\n"}};
  for (const auto& c : cases) {
    services_.run_log.clear();
    take_and_record("/x", c.code, 'J');
    EXPECT_EQ(services_.run_log, c.line) << c.code;
  }
}

TEST_F(RunRecorderTest, StoredHashesAreCountedAndAFailedStoreBecomesAnError) {
  RecorderOptions o;
  o.store_hashes = true;
  recorder_.start_run(o);
  take_and_record("/1.jpg", 'G', 'J');
  take_and_record("/2.jpg", 'G', 'J');
  std::string all_stored = recorder_.buildSummary();
  EXPECT_NE(all_stored.find("Total valid: 2 (2 hashes stored)\n"), std::string::npos) << all_stored;
  EXPECT_EQ(all_stored.find("are different"), std::string::npos);

  services_.cannot_store.insert("/3.jpg");
  take_and_record("/3.jpg", 'G', 'J');
  EXPECT_NE(services_.run_log.find("Processing error: /3.jpg\n\t(can't store hash)\n"), std::string::npos);
  // The file whose digest could not be stored counts as an error, not as valid.
  std::string one_failed = recorder_.buildSummary();
  EXPECT_NE(one_failed.find("Total valid: 2 (2 hashes stored)\n"), std::string::npos) << one_failed;
  EXPECT_NE(one_failed.find("Total error: 1\n"), std::string::npos);
}

TEST_F(RunRecorderTest, InvalidTiffsGetHashesWhenTiffErrorsAreIgnored) {
  RecorderOptions o;
  o.store_hashes = true;
  o.ignore_tiff_errors = true;
  recorder_.start_run(o);
  take_and_record("/ok.tif", 'G', 'T');
  take_and_record("/bad.tif", 'B', 'T', "Failed to read scanline");
  take_and_record("/bad.jpg", 'B', 'J');
  std::string s = recorder_.buildSummary();
  EXPECT_EQ(services_.stored, (std::vector<std::string>{"/ok.tif", "/bad.tif"}));
  EXPECT_NE(s.find("Store Hashes for Invalid TIFFs\n\n"), std::string::npos) << s;
  EXPECT_NE(s.find("Total valid: 1 (1 hashes stored)\nTotal invalid: 2 (1 hashes stored)\n"), std::string::npos) << s;
  EXPECT_EQ(s.find("are different"), std::string::npos);
}

TEST_F(RunRecorderTest, WithoutStoreHashesNothingIsStoredWhateverTheTiffOption) {
  RecorderOptions o;
  o.ignore_tiff_errors = true;
  recorder_.start_run(o);
  take_and_record("/ok.tif", 'G', 'T');
  take_and_record("/bad.tif", 'B', 'T', "Failed to read scanline");
  EXPECT_TRUE(services_.stored.empty());
  std::string s = recorder_.buildSummary();
  EXPECT_NE(s.find("Total valid: 1\nTotal invalid: 1\n"), std::string::npos) << s;
  EXPECT_EQ(s.find("Store Hashes for Invalid TIFFs"), std::string::npos) << s;
}

TEST_F(RunRecorderTest, MissingStoresShowTheDifferenceLine) {
  RecorderOptions o;
  o.store_hashes = true;
  recorder_.start_run(o);
  take_and_record("/1.jpg", 'G', 'J');
  recorder_.counters().valid += 1;  // a valid file whose digest was never stored
  ++recorder_.counters().processed;
  std::string s = recorder_.buildSummary();
  EXPECT_NE(s.find("\nNumber of stored hashes (1) and number valid (2) are different.\n\n"), std::string::npos) << s;
}

TEST_F(RunRecorderTest, CountDiscrepancyIsReportedUnlessTheRunWasStopped) {
  recorder_.start_run({});
  take_and_record("/1.jpg", 'G', 'J');
  ++recorder_.counters().processed;  // a file taken up and never answered
  std::string s = recorder_.buildSummary();
  EXPECT_NE(s.find("Total hash error: 0\n\nERROR: File count discrepancy\n"), std::string::npos) << s;

  cancel_ = true;
  services_.run_log.clear();
  s = recorder_.buildSummary();
  EXPECT_EQ(s.find("discrepancy"), std::string::npos);
  EXPECT_EQ(services_.cancel_messages, 1);
}

TEST_F(RunRecorderTest, ResultsWithoutAnInFlightEntryAreNotedButCounted) {
  recorder_.start_run({});
  recorder_.recordResult("/never/taken.jpg", 'G', 'J', "", "readResult");
  EXPECT_EQ(services_.run_log, "Error finding worker match -- in readResult\n");
  EXPECT_EQ(recorder_.counters().valid, 1);
  services_.run_log.clear();
  recorder_.recordResult("", 'E', '?', "Error in Corvex reading stdin", "readResult");
  EXPECT_EQ(services_.run_log, "Processing error: \n\t(Error in Corvex reading stdin)\n");
}

TEST_F(RunRecorderTest, DetailRowsOnlyWhenResultsAndDetailsAreRecorded) {
  for (auto [results, details, rows] : {std::tuple{true, true, 1u}, {true, false, 0u}, {false, true, 0u}}) {
    RecorderOptions o;
    o.db_results = results;
    o.db_details = details;
    services_.details.clear();
    recorder_.start_run(o);
    take_and_record("/b.jpg", 'B', 'J');
    EXPECT_EQ(services_.details.size(), rows) << results << details;
  }
}

TEST_F(RunRecorderTest, ProgressLinesShowTheCounters) {
  recorder_.start_run({});
  take_and_record("/1.jpg", 'G', 'J');
  take_and_record("/2.jpg", 'H', 'J');
  recorder_.showProgress("/now.jpg");
  EXPECT_EQ(services_.progress[1], "/now.jpg");
  EXPECT_EQ(services_.progress[2], "Files processed: 2");
  EXPECT_EQ(services_.progress[3], "Valid: 1");
  EXPECT_EQ(services_.progress[4], "Invalid: 0; Hash error: 1");
  EXPECT_EQ(services_.progress[5], "Indeterminate: 0");
  EXPECT_EQ(services_.progress[6], "Errors: 0");
}

TEST_F(RunRecorderTest, StartingARunZeroesCountsButKeepsTheRows) {
  recorder_.start_run({});
  take_and_record("/1.jpg", 'G', 'J');
  recorder_.in_flight().push_back("/left");
  recorder_.start_run({});
  EXPECT_EQ(recorder_.counters().valid, 0);
  EXPECT_TRUE(recorder_.in_flight().empty());
  EXPECT_EQ(recorder_.breakdown()[0].code, 'G');
  EXPECT_EQ(recorder_.breakdown()[0].count, 0);
  EXPECT_EQ(recorder_.breakdown()[42].code, 0);
}

}  // namespace
