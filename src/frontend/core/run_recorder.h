// The results of one run: recording each file's result (reference hash,
// counters, run-log lines, detail rows, the in-flight list), the progress
// lines, and the summary that ends every run.
//
// Used by the run thread while a run lives and by the window thread only in
// the end-of-run steps, never by both at once.
#pragma once

#include <array>
#include <atomic>
#include <string>
#include <vector>

namespace frontend {

// What recording needs from the rest of the front end.
class RecorderServices {
 public:
  virtual ~RecorderServices() = default;
  // Stores the reference digest of a file; false when it cannot.
  virtual bool hash_store(const std::string& path) = 0;
  // Adds a detail row to the run's results.
  virtual void db_add_detail(const std::string& path, const std::string& message, char code, char type) = 0;
  virtual void append_run_log(const std::string& text) = 0;
  virtual void run_log_notice(const std::string& text) = 0;
  // Line 1..6 of the progress dialog.
  virtual void set_progress_line(int line, const std::string& text) = 0;
  // Shows the run's cancel message (once per run).
  virtual void show_cancel_message() = 0;
};

// The options of the run that recording and the summary look at.
struct RecorderOptions {
  bool store_hashes = false;
  bool keep_existing_hashes = false;
  bool ignore_tiff_errors = false;
  bool db_results = true;
  bool db_details = true;
  bool check_hashes = false;
  bool check_structure = true;
};

struct RunCounters {
  int processed = 0;
  int valid = 0;
  int invalid = 0;
  int indeterminate = 0;
  int error = 0;
  int skipped = 0;
  int hash_error = 0;
  int hashes_stored = 0;
  int hashes_kept = 0;
  int hashes_stored_invalid_tiff = 0;
};

struct BreakdownRow {
  int code = 0;
  int type = 0;
  int count = 0;
};

class RunRecorder {
 public:
  static constexpr int kBreakdownRows = 64;

  RunRecorder(RecorderServices& services, const std::atomic<bool>& cancel);

  // Zeroes the counters and breakdown counts and empties the in-flight list.
  void start_run(const RecorderOptions& options);

  void recordResult(const std::string& path, char code, char type, const std::string& message,
                    const std::string& context);
  void updateCounters(char type, char code);
  void showProgress(const std::string& text);
  // Writes the summary into the run log and gives the same text.
  std::string buildSummary();

  RunCounters& counters() { return counters_; }
  const std::array<BreakdownRow, kBreakdownRows>& breakdown() const { return breakdown_; }
  std::vector<std::string>& in_flight() { return in_flight_; }
  bool in_flight_contains(const std::string& path) const;
  const RecorderOptions& options() const { return options_; }

 private:
  // Writes a piece into the run log and appends it to the summary.
  void put(std::string* summary, const std::string& piece);

  RecorderServices& services_;
  const std::atomic<bool>& cancel_;
  RecorderOptions options_;
  RunCounters counters_;
  std::array<BreakdownRow, kBreakdownRows> breakdown_{};
  std::vector<std::string> in_flight_;
};

// The words of the summary and the run log.
const char* result_code_word(int code);
const char* image_type_word(int type);
const char* run_log_word(char code);

}  // namespace frontend
