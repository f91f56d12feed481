// A verification run: the Run command's confirmations and preparation, the
// run thread that walks the folders and dispatches each file (reference
// hash, worker pool), and the end-of-run steps (capture file, closing lines,
// summary, skipped extensions, times, database rows).
//
// Threads: runVerification() is called on the window's thread and returns
// when the run is over. Meanwhile a run thread walks the folders; it reaches
// the window only through RunUi, RunLogSink and MessageBoxes, whose window
// implementations forward each call to the window's thread and wait. Stop
// sets the cancel flag, which every wait of the run looks at. The end-of-run
// steps start only after the run thread has ended.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "frontend/core/database.h"
#include "frontend/core/digest_pool.h"
#include "frontend/core/hash_context.h"
#include "frontend/core/pool_sink.h"
#include "frontend/core/reporters.h"
#include "frontend/core/run_log.h"
#include "frontend/core/run_recorder.h"
#include "frontend/core/worker_pool.h"

struct stat;
struct WalkInfo;

namespace frontend {

// What a run reads from the main window, taken once when Run is pressed.
struct RunConfig {
  std::vector<std::string> folders;  // in list order
  bool store_hashes = false;
  bool keep_existing_hashes = false;
  // The job's options.
  bool check_hashes = false;
  bool check_structure = true;
  bool nested_folders = true;
  bool db_results = true;
  bool db_details = true;
  bool ignore_tiff_errors = false;
  bool max_invalid_infinite = true;
  std::string max_invalid = "100";  // decimal text
  long max_sub_processes = 8;
  std::string job_name = "Default";
  std::string converter_path;
  std::string capture_path;  // names the worker slots' capture files (slotCapturePath)
};

// What the run shows and asks. The window implements it; tests fake it.
class RunUi : public MessageBoxes {
 public:
  // OK and Cancel; true for OK. Texts use "\r" as a line break.
  virtual bool askOkCancel(const std::string& text) = 0;
  // Line 1..6 of the progress dialog (each also steps its bar).
  virtual void setProgressLine(int line, const std::string& text) = 0;
  // The run thread ends the progress dialog when it has finished.
  virtual void closeProgress() = 0;
  // Shows the progress dialog (window-modal) and returns once it has ended
  // and run_ended() is true, serving the run thread's calls meanwhile.
  virtual void showProgressUntil(const std::function<bool()>& run_ended) = 0;
  // Store Hashes is unchecked and Keep Existing Hashes hidden after a run
  // (and when the store confirmation is declined).
  virtual void clearStoreHashes() = 0;
};

// What a finished run leaves for its caller and for tests.
struct RunOutcome {
  bool ran = false;  // false: a confirmation was declined
  int run_id = 0;
  std::string status;   // the first error, empty when none
  std::string summary;  // as stored in the run's note
};

class RunEngine : private PoolSink, private RecorderServices, private MessageBoxes {
 public:
  // model is the run log the window shows; log is how any thread writes to
  // it (the same object when there is no window).
  RunEngine(RunUi& ui, RunLog& model, RunLogSink& log, Database& db, HashContext& hashes, PoolConfig pool_config);
  ~RunEngine() override;
  RunEngine(const RunEngine&) = delete;
  RunEngine& operator=(const RunEngine&) = delete;

  // The Run command. Returns when the run is over.
  RunOutcome runVerification(const RunConfig& config);
  // Stop: the run thread sees it at its next check.
  void stop() { cancel_.store(true); }
  std::atomic<bool>& cancel_flag() { return cancel_; }

  WorkerPool& pool() { return pool_; }
  DigestPool& digests() { return digests_; }
  RunRecorder& recorder() { return recorder_; }
  ErrorReporter& reporter() { return reporter_; }
  // Quitting: ends every worker.
  void quit() { pool_.quit(); }
  // The clock of a run's start and end times (seconds since the epoch);
  // time() unless a test sets another. Set it between runs only.
  void setClock(std::function<int64_t()> clock) { clock_ = std::move(clock); }

 private:
  // The run thread.
  void runThread();
  void verifyFolders();
  static int walkCallback(const char* path, const struct stat* st, int kind, const WalkInfo* info, void* user);
  bool verifyPath(const std::string& path);
  // Records a folder or entry the walk could not get into as an error.
  void recordUnreadable(const std::string& path, int err);
  void endOfRun();
  void showCancelMessage();
  // The run has ended: its work is done, or a box that ends it is about to
  // show. The first call of a run fixes the end time that the stored stop
  // time, the total time and the time per image all use, so that a box left
  // open does not count as time of the run.
  void takeEndTime();
  // Records the outcome of every digest that has finished: a file that
  // matches its reference gets the worker's answer (or 'G' without a
  // structure check), one that does not gets its hash error, and the
  // worker's answer for it is dropped.
  void recordFinishedDigests();
  // Waits for every digest in progress and records it (nothing after a
  // Stop). Without structure checks a run's records and run-log lines come
  // in walk order, so this runs before the run writes anything of a later
  // file; otherwise it does nothing.
  void settleDigestsForOutput();
  static void settleDigestsForWalk(void* engine);

  // PoolSink
  void recordResult(const std::string& path, char code, char type, const std::string& message,
                    const std::string& context) override;
  void runLogNotice(const std::string& text) override;
  void logLine(const std::string& text) override;
  void reportError(const std::string& text, int err) override;
  void reportSystemError(const std::string& text, int err) override;
  // RecorderServices
  bool hash_store(const std::string& path) override;
  void db_add_detail(const std::string& path, const std::string& message, char code, char type) override;
  void append_run_log(const std::string& text) override;
  void run_log_notice(const std::string& text) override;
  void set_progress_line(int line, const std::string& text) override;
  void show_cancel_message() override { showCancelMessage(); }
  // MessageBoxes: every box of a run (the cancel message, the error
  // reporters') ends the run's time before it shows.
  void showMessage(const std::string& text) override;

  RunUi& ui_;
  RunLog& model_;
  RunLogSink& log_;
  Database& db_;
  HashContext& hashes_;
  std::atomic<bool> cancel_{false};
  ErrorReporter reporter_;
  RunRecorder recorder_;
  WorkerPool pool_;
  DigestPool digests_;

  // A file whose digest is being computed: what its hash error needs, and
  // the worker's records for it, held until the digest says whether they
  // count. Keyed by path (a path is in flight at most once).
  struct HeldRecord {
    char code;
    char type;
    std::string message;
    std::string context;
  };
  struct PendingDigest {
    char type = '?';
    std::string key;
    std::vector<HeldRecord> held;
  };
  std::unordered_map<std::string, PendingDigest> pending_digests_;
  // Paths recorded as hash errors while a worker still owed their answer:
  // that many records for the path are dropped when they come.
  std::unordered_map<std::string, int> unwanted_answers_;
  // Files without a stored reference that a worker checks, with the type
  // letter of their extension: a 'G' answer for one is recorded as its hash
  // error "no hash stored", any other answer as the worker gave it.
  std::unordered_map<std::string, char> unreferenced_;

  // The current run.
  RunConfig config_;
  int worker_count_ = 8;
  long max_invalid_ = 0;
  bool limit_stop_ = false;
  bool cancel_message_shown_ = false;
  int run_id_ = 0;
  int db_errors_at_start_ = 0;
  int files_in_folder_ = 0;
  int64_t start_time_ = 0;
  std::optional<int64_t> end_time_;
  std::function<int64_t()> clock_;
  std::map<std::string, long> skipped_extensions_;
  std::string last_summary_;
};

// The per-file step's extension: the text after the last "." of the whole
// path, upper-cased (ASCII); empty when the path has no dot.
std::string run_extension(const std::string& path);
// The type letter of an extension for the run's records: J, T, D, R, '?',
// and 'O' for PSD.
char run_type_letter(int type_code);

}  // namespace frontend
