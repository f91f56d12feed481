#include "frontend/core/run_engine.h"

#include <sys/stat.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <thread>

#include "examine/print_hook.h"
#include "frontend/core/worker_memory_limit.h"
#include "platform/files.h"
#include "util/prefs.h"
#include "util/trace.h"
#include "util/walker.h"

namespace frontend {

namespace {

// What the walk callback gives to stop a walk, besides the walker's own -1.
constexpr int kStopByFile = 2;   // the per-file step stopped the run
constexpr int kStopByLimit = 3;  // the Max Invalid limit was passed

// The longest path handed to a worker: its record must still hold the
// longest message next to it.
constexpr size_t kMaxPathLength = 400;

constexpr const char* kLineBreakInName = "file name contains a line break";
constexpr const char* kCancelledStatus = "Cancelled by user.";
constexpr const char* kResultsLostStatus = "Not all results were stored in the database.";

// The walker reports entries it cannot get the status of through a plain
// function; during a walk it goes to the walking run's log.
RunLogSink* g_walk_log = nullptr;
// Called before the walker's text goes into the run log.
void (*g_walk_before_output)(void*) = nullptr;
void* g_walk_engine = nullptr;

void walk_output(const char* format, ...) {
  if (g_walk_log == nullptr) return;
  if (g_walk_before_output != nullptr) g_walk_before_output(g_walk_engine);
  // Formatted at full length: the reason comes after a path that may be as
  // long as the system allows.
  va_list args;
  va_start(args, format);
  char* text = nullptr;
  int n = vasprintf(&text, format, args);
  va_end(args);
  if (n < 0) return;
  g_walk_log->appendRunLogNotice(text);
  free(text);
}

char ascii_upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

std::string run_extension(const std::string& path) {
  auto dot = path.rfind('.');
  if (dot == std::string::npos) return "";
  std::string ext = path.substr(dot + 1);
  for (char& c : ext) c = ascii_upper(c);
  return ext;
}

char run_type_letter(int type_code) {
  switch (type_code) {
    case kTypeJPEG: return 'J';
    case kTypeTIFF: return 'T';
    case kTypeDNG: return 'D';
    case kTypeRaw: return 'R';
    case kTypePSD: return 'O';
    default: return '?';
  }
}

RunEngine::RunEngine(RunUi& ui, RunLog& model, RunLogSink& log, Database& db, HashContext& hashes,
                     PoolConfig pool_config)
    : ui_(ui),
      model_(model),
      log_(log),
      db_(db),
      hashes_(hashes),
      reporter_(log, static_cast<MessageBoxes&>(*this)),
      recorder_(*this, cancel_),
      pool_(std::move(pool_config), *this, cancel_),
      digests_(cancel_),
      clock_([] { return static_cast<int64_t>(time(nullptr)); }) {}

RunEngine::~RunEngine() = default;

RunOutcome RunEngine::runVerification(const RunConfig& config) {
  RunOutcome outcome;
  config_ = config;
  worker_count_ = clampWorkerCount(config.max_sub_processes);

  if (config.store_hashes) {
    std::string text = "Do you want to create reference hashes from images?\r\r";
    text += config.keep_existing_hashes ? "Existing hashes will not be overwritten."
                                        : "\n\nExisting hashes will be overwritten.";
    text +=
        "\r\rDon't continue unless you're sure the images about to be processed are good.\r\r"
        "The Store Hashes setting will not be saved as part of the job.";
    if (!ui_.askOkCancel(text)) {
      ui_.clearStoreHashes();
      return outcome;
    }
  }
  if (!config.check_structure && !config.check_hashes) {
    if (!ui_.askOkCancel("Continue with all verification turned off?")) return outcome;
  }
  outcome.ran = true;

  cancel_message_shown_ = false;
  skipped_extensions_.clear();
  start_time_ = clock_();
  end_time_.reset();
  log_.appendRunLog(nullptr);
  reporter_.clear_run_status();

  run_id_ = 0;
  db_errors_at_start_ = db_.error_count();
  if (config.db_results) {
    run_id_ = db_run_record(db_, 0, nullptr, config.job_name.c_str(), 0, 0, 0, 0, 0, 0, 0, 0, start_time_);
  }
  if (prefs.Set() != nullptr) PropSetSave(prefs.Set());

  RecorderOptions options;
  options.store_hashes = config.store_hashes;
  options.keep_existing_hashes = config.keep_existing_hashes;
  options.ignore_tiff_errors = config.ignore_tiff_errors;
  options.db_results = config.db_results;
  options.db_details = config.db_details;
  options.check_hashes = config.check_hashes;
  options.check_structure = config.check_structure;
  recorder_.start_run(options);
  hashes_.set_check_hashes(config.check_hashes);
  hashes_.set_cancel_flag(&cancel_);

  max_invalid_ = config.max_invalid_infinite ? INT_MAX : strtol(config.max_invalid.c_str(), nullptr, 10);
  limit_stop_ = false;

  // The run thread; the window serves its calls until it has ended.
  cancel_.store(false);
  const std::optional<uint64_t> memory_limit = workerMemoryLimit(worker_count_);
  if (config.check_structure) log_.appendRunLog(workerMemoryLimitLine(memory_limit).c_str());
  pool_.beginRun(PoolRun{worker_count_, config.capture_path, config.converter_path}, memory_limit);
  // As many digests at once as the run has workers.
  digests_.start(worker_count_);
  std::atomic<bool> ended{false};
  std::thread thread([this, &ended] {
    runThread();
    ended.store(true);
  });
  ui_.showProgressUntil([&ended] { return ended.load(); });
  thread.join();

  endOfRun();
  outcome.run_id = run_id_;
  outcome.status = reporter_.run_status();
  outcome.summary = last_summary_;
  run_id_ = 0;
  ui_.clearStoreHashes();
  return outcome;
}

void RunEngine::runThread() {
  // The run's rows go into the database in groups, not one commit each.
  db_.begin_write_group();
  verifyFolders();
  db_.end_write_group();
  takeEndTime();
  if (!cancel_.load()) {
    ui_.closeProgress();
  } else {
    showCancelMessage();
  }
}

void RunEngine::verifyFolders() {
  for (const std::string& folder : config_.folders) {
    if (cancel_.load()) {
      showCancelMessage();
      break;
    }
    settleDigestsForOutput();
    log_.appendRunLog(("\nVerifying folder " + folder + "\n").c_str());
    log_printf("Verifying folder %s", folder.c_str());
    if (config_.db_results) db_add_folder(db_, run_id_, folder.c_str());
    files_in_folder_ = 0;

    g_walk_log = &log_;
    g_walk_before_output = settleDigestsForWalk;
    g_walk_engine = this;
    walk_set_output_hook(walk_output);
    int rc = walk_folder(folder.c_str(), walkCallback, config_.nested_folders ? 0 : -1, this);
    walk_set_output_hook(nullptr);
    g_walk_log = nullptr;
    g_walk_before_output = nullptr;
    g_walk_engine = nullptr;
    if (rc != 0) {
      settleDigestsForOutput();
      if (cancel_.load()) showCancelMessage();
      if (rc == -1) {
        errno = 0;
        reporter_.reportError("Can't traverse folder - check that the path exists and is readable.");
      }
      break;
    }
    log_printf("Processed folder %s (%d files)", folder.c_str(), files_in_folder_);
  }

  recorder_.showProgress("Waiting for subprocesses to complete...");
  if (pool_.rawBatchPending()) pool_.flushRawWorker();
  // The digests still being computed are waited for (a Stop ends them), so
  // the answers read below find their files decided.
  if (!pending_digests_.empty() && digests_.wait_idle()) recordFinishedDigests();
  bool cancelled = cancel_.load();
  if (cancelled) showCancelMessage();
  pool_.finishAllWorkers(cancelled);
  // After a Stop, files whose digest was not finished stay in flight, as
  // do the answers nobody read.
  digests_.stop();
  pending_digests_.clear();
  unwanted_answers_.clear();
  unreferenced_.clear();
}

int RunEngine::walkCallback(const char* path, const struct stat*, int kind, const WalkInfo* info, void* user) {
  auto* self = static_cast<RunEngine*>(user);
  if (kind == kWalkUnreadable) {
    self->settleDigestsForOutput();
    // A folder that cannot be listed, or an entry that cannot be reached:
    // an error of the run, named with its reason.
    self->recordUnreadable(path, info->error);
  } else {
    if (kind != kWalkFile) return 0;
    if (path[info->base] == '.') return 0;
    self->files_in_folder_ += 1;
    if (!self->verifyPath(path)) return kStopByFile;
    self->recordFinishedDigests();
  }
  const RunCounters& c = self->recorder_.counters();
  long bad = static_cast<long>(c.invalid) + c.indeterminate + c.error + c.hash_error;
  if (bad + static_cast<long>(self->pending_digests_.size()) > self->max_invalid_) {
    // The digests in progress could pass the limit: they are decided first,
    // so the walk stops where it would have with each file hashed in turn.
    if (self->digests_.wait_idle()) self->recordFinishedDigests();
    bad = static_cast<long>(c.invalid) + c.indeterminate + c.error + c.hash_error;
  }
  if (bad > self->max_invalid_) {
    self->limit_stop_ = true;
    self->log_.appendRunLog("\nMax Invalid Messages exceeded.\n");
    return kStopByLimit;
  }
  return 0;
}

bool RunEngine::verifyPath(const std::string& path) {
  if (cancel_.load()) {
    showCancelMessage();
    log_printf("Cancelled");
    return false;
  }
  struct stat st;
  if (stat(path.c_str(), &st) != 0) {
    settleDigestsForOutput();
    frontend::runLogNotice(log_, "%s", ("WARNING: Path doesn't exist: " + path).c_str());
    return true;
  }
  if (S_ISDIR(st.st_mode)) return true;
  RunCounters& counters = recorder_.counters();
  counters.processed += 1;

  std::string ext = run_extension(path);
  int type_code = prefs.TypeByExtension(ext.c_str());
  char type = run_type_letter(type_code);
  bool skip = !prefs.ShouldVerify(ext.c_str());
  if (!skip && config_.store_hashes && config_.keep_existing_hashes && hashes_.hash_exists(path.c_str())) {
    counters.hashes_kept += 1;
    return true;
  }
  if (!skip && !config_.check_structure && !config_.check_hashes) skip = true;
  if (skip) {
    if (ext.empty()) ext = "[no extension]";
    counters.skipped += 1;
    skipped_extensions_[ext] += 1;
    return true;
  }

  recorder_.showProgress(path);
  // A file whose digest is still in progress is in flight until recorded.
  if (recorder_.in_flight_contains(path)) settleDigestsForOutput();
  if (recorder_.in_flight_contains(path)) {
    errno = 0;
    log_.appendRunLogNotice((path + "\n").c_str());
    reporter_.reportError("Path already verified");
    log_printf("Path already verified");
    return false;
  }
  recorder_.in_flight().push_back(path);
  if (path.size() > kMaxPathLength) {
    settleDigestsForOutput();
    recorder_.recordResult(path, 'E', type, "path too long", "verify");
    log_.appendRunLogNotice("\t(Path too long)\n");
    return true;
  }
  // Requests are lines: a name holding a line break would be read by the
  // worker as two lines, and its answer would belong to another file.
  if (path.find_first_of("\r\n") != std::string::npos) {
    settleDigestsForOutput();
    recorder_.recordResult(path, 'E', type, kLineBreakInName, "verify");
    return true;
  }

  if (config_.check_hashes) {
    // The key and the stored reference here; the digest on a hashing thread
    // while a worker checks the structure. The file's result waits for both.
    std::string key;
    DigestPool::Digest reference;
    bool stored = hashes_.stored_reference(path.c_str(), &key, reference.data());
    if (cancel_.load()) {
      showCancelMessage();
      log_printf("Cancelled");
      return false;
    }
    if (!stored && !config_.check_structure) {
      settleDigestsForOutput();
      recorder_.recordResult(path, 'H', type, "no hash stored", "verify");
      return true;
    }
    if (!stored) {
      // Without a reference the file is still checked for damage: the
      // worker's answer decides, and only a sound file is a hash error.
      unreferenced_[path] = type;
    } else {
      if (!digests_.submit(path, reference)) {
        // Stop was pressed while the hashing threads were all taken.
        showCancelMessage();
        log_printf("Cancelled");
        return false;
      }
      pending_digests_[path] = PendingDigest{type, std::move(key), {}};
      if (!config_.check_structure) return true;
    }
  } else if (!config_.check_structure) {
    recorder_.recordResult(path, 'G', type, "", "verify");
    return true;
  }

  switch (pool_.placeFile(path, type_code == kTypeRaw)) {
    case WorkerPool::Placement::kPlaced: return true;
    case WorkerPool::Placement::kCancelled:
      showCancelMessage();
      log_printf("Cancelled");
      return false;
    case WorkerPool::Placement::kFailed: return false;
  }
  return false;
}

void RunEngine::recordUnreadable(const std::string& path, int err) {
  recorder_.counters().processed += 1;
  recorder_.in_flight().push_back(path);
  std::string reason = platform::errno_text(err);
  recorder_.recordResult(path, 'E', '?', err == ENAMETOOLONG ? "path too long: " + reason : "can't be read: " + reason,
                         "walk");
}

void RunEngine::endOfRun() {
  takeEndTime();
  model_.set_cap(0);
  pool_.closeCaptureFiles();

  // The workers' standard error goes into the log file slot by slot, each
  // slot's lines as one block under the slot's number, so that the lines of
  // workers that ran side by side stay apart and in their own order.
  for (int slot = 0; slot < worker_count_; ++slot) {
    const std::string path = slotCapturePath(config_.capture_path, slot);
    FILE* capture = fopen(path.c_str(), "r");
    if (capture == nullptr) {
      log_printf("Can't open %s", path.c_str());
      continue;
    }
    char line[500];
    bool headed = false;
    while (fgets(line, sizeof line, capture) != nullptr) {
      if (!headed) {
        log_printf("subprocess stderr of worker %d:", slot);
        headed = true;
      }
      size_t n = strlen(line);
      if (n > 0 && line[n - 1] == '\n') line[n - 1] = '\0';
      log_printf("subprocess stderr: %s", line);
    }
    fclose(capture);
  }

  if (cancel_.load()) {
    showCancelMessage();
  } else if (!recorder_.in_flight().empty()) {
    errno = 0;
    reporter_.reportError("Worked path not completed");
  }
  recorder_.in_flight().clear();

  int db_errors = db_.error_count() - db_errors_at_start_;
  if (cancel_.load()) {
    showCancelMessage();
    log_.appendRunLogNotice("\nCancelled by user.\n");
    // A stopped run did not check everything: its stored status says so
    // unless an earlier error already is the status.
    reporter_.take_status(kCancelledStatus);
  } else if (reporter_.run_status().empty() && db_errors == 0) {
    log_.appendRunLogNotice("\nFinished normally.\n");
  }
  if (db_errors > 0) {
    // Whatever else the status says, it tells that the record is not whole.
    char line[200];
    snprintf(line, sizeof line, "\nNot all results were stored in the database (%d database error%s).\n",
             db_errors, db_errors == 1 ? "" : "s");
    log_.appendRunLogNotice(line);
    reporter_.add_to_status(kResultsLostStatus);
  }

  std::string summary = recorder_.buildSummary();
  const RunCounters& c = recorder_.counters();
  if (config_.db_results) {
    std::string status = reporter_.run_status().empty() ? "OK" : reporter_.run_status();
    db_run_record(db_, run_id_, status.c_str(), config_.job_name.c_str(), c.processed, c.valid, c.invalid,
                  c.indeterminate, c.error, c.skipped, c.hash_error, 0, *end_time_);
  }

  std::string block = "\nSkipped Extensions:";
  if (skipped_extensions_.empty()) {
    block += " [none]\n";
  } else {
    block += "\n";
    for (const auto& [ext, count] : skipped_extensions_) {
      char line[300];
      snprintf(line, sizeof line, "\t%s: %ld\n", ext.c_str(), count);
      block += line;
    }
  }
  log_.appendRunLog(block.c_str());
  summary += block;

  int64_t elapsed = *end_time_ - start_time_;
  if (elapsed < 0) elapsed = 0;
  char total[64];
  snprintf(total, sizeof total, "\nTotal time: %02d:%02d:%02d\n", static_cast<int>((elapsed / 3600) % 24),
           static_cast<int>((elapsed / 60) % 60), static_cast<int>(elapsed % 60));
  log_.appendRunLog(total);
  summary += total;

  int verified = c.processed - c.skipped;
  float per_image = verified > 0 ? static_cast<float>(elapsed) / static_cast<float>(verified) : 0.0f;
  char per_image_text[100];
  format_c(per_image_text, sizeof per_image_text, "Time per image: %4.2f seconds\n", static_cast<double>(per_image));
  log_.appendRunLog(per_image_text);
  summary += per_image_text;

  if (config_.db_results) db_add_note(db_, run_id_, summary.c_str());
  last_summary_ = summary;
}

void RunEngine::showCancelMessage() {
  if (cancel_message_shown_) return;
  cancel_message_shown_ = true;
  showMessage("Cancelled by user.");
  log_.appendRunLogNotice("\n\nCancelled by user.\n");
}

void RunEngine::takeEndTime() {
  if (!end_time_) end_time_ = clock_();
}

void RunEngine::showMessage(const std::string& text) {
  takeEndTime();
  ui_.showMessage(text);
}

void RunEngine::recordResult(const std::string& path, char code, char type, const std::string& message,
                             const std::string& context) {
  if (!pending_digests_.empty()) {
    auto pending = pending_digests_.find(path);
    if (pending != pending_digests_.end()) {
      pending->second.held.push_back(HeldRecord{code, type, message, context});
      return;
    }
  }
  if (!unwanted_answers_.empty()) {
    auto unwanted = unwanted_answers_.find(path);
    if (unwanted != unwanted_answers_.end()) {
      if (--unwanted->second == 0) unwanted_answers_.erase(unwanted);
      return;
    }
  }
  if (!unreferenced_.empty()) {
    auto unreferenced = unreferenced_.find(path);
    if (unreferenced != unreferenced_.end()) {
      char own_type = unreferenced->second;
      unreferenced_.erase(unreferenced);
      // Sound but without a reference: the hash error it always was, in
      // place of the worker's answer (so counted once, and never stored).
      if (code == 'G') {
        recorder_.recordResult(path, 'H', own_type, "no hash stored", context);
        return;
      }
    }
  }
  recorder_.recordResult(path, code, type, message, context);
}

void RunEngine::settleDigestsForOutput() {
  if (config_.check_structure || pending_digests_.empty()) return;
  if (digests_.wait_idle()) recordFinishedDigests();
}

void RunEngine::settleDigestsForWalk(void* engine) { static_cast<RunEngine*>(engine)->settleDigestsForOutput(); }

void RunEngine::recordFinishedDigests() {
  if (!digests_.has_finished()) return;
  for (DigestPool::Finished& done : digests_.take_finished()) {
    // After a Stop a digest says nothing (it may have been cut short).
    if (cancel_.load()) return;
    auto it = pending_digests_.find(done.path);
    if (it == pending_digests_.end()) continue;
    PendingDigest pending = std::move(it->second);
    pending_digests_.erase(it);
    if (done.matches) {
      if (!config_.check_structure) recorder_.recordResult(done.path, 'G', pending.type, "", "verify");
      for (const HeldRecord& r : pending.held) recorder_.recordResult(done.path, r.code, r.type, r.message, r.context);
      continue;
    }
    std::string folder;
    db_hash_folder(db_, pending.key.c_str(), &folder);
    recorder_.recordResult(done.path, 'H', pending.type, "hash comparison failed", "verify");
    log_.appendRunLog(("\tStored hash based on image in " + folder + "\n").c_str());
    compareFiles(log_, folder.c_str(), done.path.c_str());
    // The worker's answer, when it has not come yet, no longer counts.
    if (config_.check_structure && pending.held.empty()) unwanted_answers_[done.path] += 1;
  }
}

void RunEngine::runLogNotice(const std::string& text) { log_.appendRunLogNotice(text.c_str()); }

void RunEngine::logLine(const std::string& text) { log_printf("%s", text.c_str()); }

void RunEngine::reportError(const std::string& text, int err) {
  errno = err;
  reporter_.reportError(text.c_str());
}

void RunEngine::reportSystemError(const std::string& text, int err) {
  errno = err;
  reporter_.reportSystemError(text.c_str());
}

bool RunEngine::hash_store(const std::string& path) { return hashes_.hash_store(path.c_str()); }

void RunEngine::db_add_detail(const std::string& path, const std::string& message, char code, char type) {
  frontend::db_add_detail(db_, run_id_, path.c_str(), message.c_str(), code, type);
}

void RunEngine::append_run_log(const std::string& text) { log_.appendRunLog(text.c_str()); }

void RunEngine::run_log_notice(const std::string& text) { log_.appendRunLogNotice(text.c_str()); }

void RunEngine::set_progress_line(int line, const std::string& text) { ui_.setProgressLine(line, text); }

}  // namespace frontend
