#include "frontend/core/run_recorder.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>

namespace frontend {

namespace {

constexpr char kPresetCodes[] = {'G', 'B', 'C', 'E', 'H', 'O', 'S'};
constexpr char kPresetTypes[] = {'J', 'D', 'R', 'T', '?', 'O'};

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
  char text[1000];
  va_list args;
  va_start(args, fmt);
  vsnprintf(text, sizeof text, fmt, args);
  va_end(args);
  return text;
}

bool known_type(char type) { return type == '?' || type == 'D' || type == 'J' || type == 'R' || type == 'T'; }

}  // namespace

const char* result_code_word(int code) {
  switch (code) {
    case 'B': return "Invalid";
    case 'C': return "Indeterminate";
    case 'E': return "Error";
    case 'G': return "Valid";
    case 'H': return "Hash Error";
    case 'S': return "Skipped";
    default: return "Other";
  }
}

const char* image_type_word(int type) {
  switch (type) {
    case '?': return "Unknown Image Type";
    case 'D': return "DNG";
    case 'J': return "JPEG";
    case 'R': return "Raw";
    case 'T': return "TIFF";
    default: return "Other";
  }
}

const char* run_log_word(char code) {
  switch (code) {
    case 'E': return "Processing error";
    case 'H': return "Hash check error";
    default: return "Probably invalid";
  }
}

RunRecorder::RunRecorder(RecorderServices& services, const std::atomic<bool>& cancel)
    : services_(services), cancel_(cancel) {
  size_t row = 0;
  for (char code : kPresetCodes) {
    for (char type : kPresetTypes) breakdown_[row++] = {code, type, 0};
  }
}

void RunRecorder::start_run(const RecorderOptions& options) {
  options_ = options;
  counters_ = RunCounters{};
  for (auto& row : breakdown_) row.count = 0;
  in_flight_.clear();
}

bool RunRecorder::in_flight_contains(const std::string& path) const {
  return std::find(in_flight_.begin(), in_flight_.end(), path) != in_flight_.end();
}

void RunRecorder::recordResult(const std::string& path, char code, char type, const std::string& message,
                               const std::string& context) {
  std::string text = message;
  // Only a run that stores hashes stores any: a run that merely checks
  // must never replace a reference, least of all with a damaged file's.
  bool store = options_.store_hashes && (code == 'G' || (code == 'B' && type == 'T' && options_.ignore_tiff_errors));
  if (store) {
    if (services_.hash_store(path)) {
      ++counters_.hashes_stored;
      if (code != 'G') ++counters_.hashes_stored_invalid_tiff;
    } else if (cancel_.load()) {
      // Stop ended the digest: the file keeps its verdict, without a
      // reference (the summary shows the stored count apart).
    } else {
      text = "can't store hash";
      code = 'E';
    }
  }
  updateCounters(type, code);
  if (code != 'G' && code != 'S') {
    services_.append_run_log(std::string(run_log_word(code)) + ": " + path + "\n");
    if (!text.empty()) services_.append_run_log(format("\t(%s)\n", text.c_str()));
    if (options_.db_results && options_.db_details) services_.db_add_detail(path, text, code, type);
  }
  if (!path.empty()) {
    auto it = std::find(in_flight_.begin(), in_flight_.end(), path);
    if (it != in_flight_.end()) {
      in_flight_.erase(it);
    } else {
      services_.run_log_notice("Error finding worker match -- in " + context + "\n");
    }
  }
}

void RunRecorder::updateCounters(char type, char code) {
  switch (code) {
    case 'B': ++counters_.invalid; break;
    case 'C': ++counters_.indeterminate; break;
    case 'E': ++counters_.error; break;
    case 'G': ++counters_.valid; break;
    case 'H': ++counters_.hash_error; break;
    case 'S': ++counters_.skipped; break;
    default: code = 'O'; break;
  }
  if (!known_type(type)) type = 'O';
  for (auto& row : breakdown_) {
    if (row.code <= 0) {
      // The first free row takes a pair not seen before.
      row = {code, type, 1};
      return;
    }
    if (row.code == code && row.type == type) {
      ++row.count;
      return;
    }
  }
}

void RunRecorder::showProgress(const std::string& text) {
  services_.set_progress_line(1, text);
  services_.set_progress_line(2, format("Files processed: %d", counters_.processed));
  services_.set_progress_line(3, format("Valid: %d", counters_.valid));
  services_.set_progress_line(4, format("Invalid: %d; Hash error: %d", counters_.invalid, counters_.hash_error));
  services_.set_progress_line(5, format("Indeterminate: %d", counters_.indeterminate));
  services_.set_progress_line(6, format("Errors: %d", counters_.error));
}

void RunRecorder::put(std::string* summary, const std::string& piece) {
  services_.append_run_log(piece);
  summary->append(piece);
}

std::string RunRecorder::buildSummary() {
  const RunCounters& c = counters_;
  std::string summary;

  std::string checks = "Verification Checks: ";
  if (options_.check_hashes) checks += "Hash";
  if (options_.check_hashes && options_.check_structure) checks += " and ";
  if (options_.check_structure) checks += "Structure ";
  checks += "\n";
  if (options_.store_hashes) {
    if (options_.keep_existing_hashes) checks += "Existing Hashes Kept (not rehashed)\n";
    if (options_.ignore_tiff_errors) checks += "Store Hashes for Invalid TIFFs\n";
  }
  checks += "\n";
  put(&summary, checks);

  put(&summary, format("Total processed: %d\n", c.processed));
  put(&summary, format("Total skipped: %d\n", c.skipped));
  put(&summary, format("Total hashes kept: %d (not verified)\n", c.hashes_kept));

  std::string valid = format("Total valid: %d", c.valid);
  int stored_valid = c.hashes_stored - c.hashes_stored_invalid_tiff;
  if (options_.store_hashes && stored_valid == c.valid) valid += format(" (%d hashes stored)", stored_valid);
  put(&summary, valid + "\n");

  std::string invalid = format("Total invalid: %d", c.invalid);
  if (c.hashes_stored_invalid_tiff > 0) invalid += format(" (%d hashes stored)", c.hashes_stored_invalid_tiff);
  put(&summary, invalid + "\n");

  put(&summary, format("Total indeterminate: %d\n", c.indeterminate));
  put(&summary, format("Total error: %d\n", c.error));
  put(&summary, format("Total hash error: %d\n", c.hash_error));

  if (cancel_.load()) {
    services_.show_cancel_message();
  } else if (c.processed !=
             c.hash_error + c.error + c.indeterminate + c.invalid + c.valid + c.hashes_kept + c.skipped) {
    services_.append_run_log("\nERROR: File count discrepancy\n");
    summary += "\nERROR: File count discrepancy";
  }
  put(&summary, "\n");

  if (options_.store_hashes && c.hashes_stored != c.valid + c.hashes_stored_invalid_tiff) {
    put(&summary, format("Number of stored hashes (%d) and number valid (%d) are different.\n\n", c.hashes_stored,
                         c.valid));
  }

  bool gap_written = false;
  for (const auto& row : breakdown_) {
    if (row.code <= 0) break;
    if (row.count <= 0) continue;
    if (row.code != 'G' && !gap_written) {
      put(&summary, "\n");
      gap_written = true;
    }
    put(&summary, format("%s %ss: %d\n", result_code_word(row.code), image_type_word(row.type), row.count));
  }
  return summary;
}

}  // namespace frontend
