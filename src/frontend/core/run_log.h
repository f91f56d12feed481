// The run log: the text of the main window's "Run Log" box, kept as a model
// so that the window only shows it. Texts use "\r\n" line ends as the model
// makes them; a view turns them into its own line breaks.
#pragma once

#include <cstdarg>
#include <mutex>
#include <string>
#include <string_view>

namespace frontend {

// What the run core writes run-log text to. The main window's model
// implements it; a thread other than the window's reaches the model through
// an adapter that forwards each call to the window's thread and waits.
class RunLogSink {
 public:
  virtual ~RunLogSink() = default;
  // Appends text under the character cap; nullptr clears the log.
  virtual void appendRunLog(const char* text) = 0;
  // Sets the cap to 0 (no cap), then appends the text.
  virtual void appendRunLogNotice(const char* text) = 0;
};

// Formats into a 1000-character buffer (longer output is cut) and appends.
void runLogPrintf(RunLogSink& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Lifts the cap, then formats as runLogPrintf does and appends. Errors and
// warnings go through here so that they always appear.
void runLogNotice(RunLogSink& log, const char* format, ...) __attribute__((format(printf, 2, 3)));
void runLogVNotice(RunLogSink& log, const char* format, va_list args);

// Where the model's text is shown. Called with the model's lock held: a view
// must not call back into the model.
class RunLogView {
 public:
  virtual ~RunLogView() = default;
  virtual void clearRunLog() = 0;
  // Inserts text at the end (the caret is put there and kept in sight).
  virtual void insertRunLogText(std::string_view text) = 0;
};

// The run-log model: its text, character count, cap and notice flag.
// Thread-safe; the view is called with the lock held.
class RunLog : public RunLogSink {
 public:
  static constexpr int kInitialCap = 10000;
  static constexpr const char* kNotice =
      "\r\n\r\nAdditional results not shown here -- see Tools-Results\r\n\r\n";

  explicit RunLog(RunLogView* view = nullptr) : view_(view) {}

  void appendRunLog(const char* text) override;
  void appendRunLogNotice(const char* text) override;

  // Sets the cap; 0 means no cap. The end of every run sets it to 0.
  void set_cap(int cap);
  int cap() const;
  int count() const;
  bool notice_shown() const;
  // The whole text as the view shows it.
  std::string text() const;

 private:
  void append_locked(const char* text);

  mutable std::mutex mutex_;
  RunLogView* view_;
  std::string text_;
  int count_ = 0;
  int cap_ = kInitialCap;
  bool notice_shown_ = false;
};

}  // namespace frontend
