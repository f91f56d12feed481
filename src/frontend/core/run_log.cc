// The run-log model: carriage returns before line feeds, the character cap
// and its one-time notice.
#include "frontend/core/run_log.h"

#include <cstdio>

namespace frontend {

namespace {

// The formatting buffer of runLogPrintf and runLogNotice.
constexpr size_t kFormatBuffer = 1000;

}  // namespace

void runLogPrintf(RunLogSink& log, const char* format, ...) {
  char buffer[kFormatBuffer];
  va_list args;
  va_start(args, format);
  vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  log.appendRunLog(buffer);
}

void runLogVNotice(RunLogSink& log, const char* format, va_list args) {
  char buffer[kFormatBuffer];
  vsnprintf(buffer, sizeof buffer, format, args);
  log.appendRunLogNotice(buffer);
}

void runLogNotice(RunLogSink& log, const char* format, ...) {
  va_list args;
  va_start(args, format);
  runLogVNotice(log, format, args);
  va_end(args);
}

void RunLog::appendRunLog(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  append_locked(text);
}

void RunLog::appendRunLogNotice(const char* text) {
  std::lock_guard<std::mutex> lock(mutex_);
  cap_ = 0;
  append_locked(text);
}

void RunLog::append_locked(const char* text) {
  if (text == nullptr) {
    text_.clear();
    count_ = 0;
    notice_shown_ = false;
    if (view_ != nullptr) view_->clearRunLog();
    return;
  }
  if (cap_ > 0 && count_ > cap_) {
    // The append that crossed the cap was written whole; the next one
    // writes the notice once, and later ones are dropped.
    if (notice_shown_) return;
    notice_shown_ = true;
    std::string_view notice(kNotice);
    text_.append(notice);
    count_ += static_cast<int>(notice.size());
    if (view_ != nullptr) view_->insertRunLogText(notice);
    return;
  }
  std::string copy;
  for (const char* p = text; *p != '\0'; ++p) {
    if (*p == '\n') copy.push_back('\r');
    copy.push_back(*p);
  }
  text_.append(copy);
  count_ += static_cast<int>(copy.size());
  if (view_ != nullptr) view_->insertRunLogText(copy);
}

void RunLog::set_cap(int cap) {
  std::lock_guard<std::mutex> lock(mutex_);
  cap_ = cap;
}

int RunLog::cap() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return cap_;
}

int RunLog::count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return count_;
}

bool RunLog::notice_shown() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return notice_shown_;
}

std::string RunLog::text() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return text_;
}

}  // namespace frontend
