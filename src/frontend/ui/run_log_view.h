// The "Run Log" box: shows the run-log model's text in a read-only
// QPlainTextEdit.
//
// Thread: the window's thread only. The model calls it with its lock held,
// so the model must only be written on the window's thread (the run thread
// goes through QtRunLogSink).
#pragma once

#include <string>
#include <string_view>

#include "frontend/core/run_log.h"

class QPlainTextEdit;

namespace frontend {

// The model's "\r\n" line ends (and runs of "\r" before "\n", and a lone
// "\r") become one line break each.
class PlainTextRunLogView : public RunLogView {
 public:
  explicit PlainTextRunLogView(QPlainTextEdit* edit = nullptr) : edit_(edit) {}
  // The box to show the text in; text written before is not shown.
  void attach(QPlainTextEdit* edit) { edit_ = edit; }

  void clearRunLog() override;
  void insertRunLogText(std::string_view text) override;

  // The conversion, for a text that continues after a piece that ended in
  // "\r" when *after_cr is true; *after_cr tells the same for the next one.
  static std::string toLineBreaks(std::string_view text, bool* after_cr);

 private:
  QPlainTextEdit* edit_ = nullptr;
  bool after_cr_ = false;
};

}  // namespace frontend
