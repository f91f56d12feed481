#include "worker/converter.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/files.h"
#include "util/trace.h"
#include "util/walker.h"
#include "util/worker_wire.h"
#include "worker/request.h"
#include "worker/send_result.h"

std::string converter_temp_dir;

namespace {

constexpr const char* kTempPrefix = "QXtemp";
constexpr const char* kNoPath = "[no path]";
constexpr const char* kTimeLimitVariable = "CORVEX_CONVERTER_TIME_LIMIT";

// Ends a converter request that cannot go on: one 'E' record for no path,
// then exit status 1. The temporary folder goes first.
[[noreturn]] void fatal(const char* text) {
  log_printf("fatal in main.cpp: %s", text);
  if (!converter_temp_dir.empty()) platform::remove_tree(converter_temp_dir);
  ResultText result{text, kNoPath, wire::kError, wire::kTypeLetterUnknown};
  if (!SendAnswer(&result, 1)) {
    log_printf("SendResult failed (%s) -- exiting [msg: %s]\n", platform::errno_text(errno).c_str(), text);
  }
  exit(1);
}

std::chrono::milliseconds time_limit_for(size_t files) {
  const char* value = getenv(kTimeLimitVariable);
  if (value != nullptr && *value != '\0') {
    char* end = nullptr;
    long seconds = strtol(value, &end, 10);
    if (*end == '\0' && seconds > 0) return std::chrono::seconds(seconds);
  }
  return kConverterBaseTime + kConverterTimePerFile * static_cast<long>(files);
}

// Deletes whatever the converter left in the temporary folder.
void empty_temp_folder() {
  FileList* list = list_files(converter_temp_dir.c_str());
  if (list == nullptr) fatal("can't open directory");
  for (int i = 0; i < list->count; ++i) {
    std::string path = platform::join_path(converter_temp_dir, list->names[i]);
    if (!platform::remove_tree(path)) {
      log_printf("can't delete %s (%s)", path.c_str(), platform::errno_text(errno).c_str());
    }
  }
  free_file_list(list);
}

// The message of an 'E' record, cut so that the record fits.
std::string fitted_message(const std::string& path, std::string message) {
  size_t room = wire::kRecordSize - 4;
  room = path.size() < room ? room - path.size() : 0;
  if (message.size() > room) message.resize(room);
  return message;
}

bool send_answer(const std::vector<std::string>& messages) {
  const auto& entries = request_list.entries;
  std::vector<std::string> fitted(entries.size());
  std::vector<ResultText> results(entries.size());
  for (size_t i = 0; i < entries.size(); ++i) {
    const auto& entry = entries[i];
    char code = entry.good ? wire::kValid : messages[i].empty() ? wire::kInvalid : wire::kError;
    fitted[i] = fitted_message(entry.path, messages[i]);
    results[i] = ResultText{fitted[i].c_str(), entry.path.c_str(), code, wire::kTypeLetterRaw};
  }
  return SendAnswer(results.data(), results.size());
}

bool run_request(const char* converter_path) {
  auto& entries = request_list.entries;
  for (auto& entry : entries) entry.done = entry.good = false;
  // The failure text of each entry answered 'E'; empty for 'G' and 'B'.
  std::vector<std::string> messages(entries.size());

  auto folder = platform::make_temp_folder(kTempPrefix);
  if (!folder) fatal("can't make directory");
  converter_temp_dir = *folder;

  for (;;) {
    std::vector<std::string> files;
    for (const auto& entry : entries) {
      if (!entry.done) files.push_back(entry.path);
    }
    if (files.empty()) break;
    if (access(converter_path, X_OK) != 0) fatal("can't execute DNG Converter");

    std::vector<ConverterVerdict> verdicts = run_converter_batches(converter_path, converter_temp_dir, files);
    empty_temp_folder();

    // Each file of the pass is matched, in order, to the first entry with
    // its path that this pass has not matched yet.
    std::vector<bool> matched(entries.size(), false);
    for (size_t f = 0; f < files.size(); ++f) {
      size_t e = 0;
      while (e < entries.size() && (entries[e].done || matched[e] || entries[e].path != files[f])) ++e;
      if (e == entries.size()) fatal("can't find arg in entries");
      matched[e] = true;
      const ConverterVerdict& verdict = verdicts[f];
      if (verdict.kind == ConverterVerdict::kPending) continue;
      entries[e].done = true;
      entries[e].good = verdict.kind == ConverterVerdict::kValid;
      if (verdict.kind == ConverterVerdict::kError) messages[e] = verdict.message;
    }
  }

  if (!platform::remove_tree(converter_temp_dir)) {
    log_printf("can't remove %s (%s)", converter_temp_dir.c_str(), platform::errno_text(errno).c_str());
  }
  converter_temp_dir.clear();
  return send_answer(messages);
}

}  // namespace

namespace {

// Characters that end a path in a converter's message: white space and
// control characters, quotes, brackets and the punctuation that follows a
// name in a sentence. Every other character (letters, digits, ".", "-",
// "_", "/", bytes of UTF-8 names) may continue a longer path.
bool ends_a_path(unsigned char c) {
  if (c <= ' ' || c == 0x7f) return true;
  return strchr("\"'`:;,()[]{}<>|!?*", c) != nullptr;
}

}  // namespace

bool converter_text_names(const std::string& text, const std::string& path) {
  if (path.empty()) return false;
  for (size_t at = text.find(path); at != std::string::npos; at = text.find(path, at + 1)) {
    size_t after = at + path.size();
    // Full stops that end a sentence do not continue the path.
    while (after < text.size() && text[after] == '.') ++after;
    if (after == text.size() || ends_a_path(static_cast<unsigned char>(text[after]))) return true;
  }
  return false;
}

std::vector<ConverterVerdict> run_converter_batches(const std::string& converter_path, const std::string& folder,
                                                    const std::vector<std::string>& files) {
  std::vector<ConverterVerdict> verdicts(files.size());
  for (size_t start = 0; start < files.size(); start += kConverterBatchSize) {
    size_t end = std::min(files.size(), start + kConverterBatchSize);
    std::vector<std::string> args = {converter_path, "-p0", "-d", folder};
    args.insert(args.end(), files.begin() + static_cast<long>(start), files.begin() + static_cast<long>(end));
    ConverterRun run = execute_converter(converter_path, args, time_limit_for(end - start));

    // Only the start of the error text is searched, for exactly the path
    // the converter was given.
    std::string searched = run.error_text.substr(0, kConverterErrorSearched);
    for (size_t i = start; i < end; ++i) {
      if (!converter_text_names(searched, files[i])) continue;
      // Files before the one named passed only if the run succeeded; after
      // a failed run they are converted again.
      if (run.ok) {
        for (size_t j = start; j < i; ++j) verdicts[j].kind = ConverterVerdict::kValid;
      }
      verdicts[i].kind = ConverterVerdict::kInvalid;
      return verdicts;
    }
    for (size_t i = start; i < end; ++i) {
      if (run.ok) {
        verdicts[i].kind = ConverterVerdict::kValid;
      } else {
        verdicts[i].kind = ConverterVerdict::kError;
        verdicts[i].message = run.failure;
      }
    }
  }
  return verdicts;
}

bool convert_with_external_converter(const char* converter_path) {
  try {
    return run_request(converter_path);
  } catch (const std::bad_alloc&) {
    fatal("out of memory");
  }
}
