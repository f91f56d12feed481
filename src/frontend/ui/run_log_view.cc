#include "frontend/ui/run_log_view.h"

#include <QFile>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace frontend {

std::string PlainTextRunLogView::toLineBreaks(std::string_view text, bool* after_cr) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c == '\r') {
      // The first "\r" of a run is the break; the rest of the run and a
      // "\n" ending it belong to the same break.
      if (!*after_cr) out.push_back('\n');
      *after_cr = true;
    } else if (c == '\n') {
      if (!*after_cr) out.push_back('\n');
      *after_cr = false;
    } else {
      out.push_back(c);
      *after_cr = false;
    }
  }
  return out;
}

void PlainTextRunLogView::clearRunLog() {
  if (edit_ != nullptr) edit_->clear();
  after_cr_ = false;
}

void PlainTextRunLogView::insertRunLogText(std::string_view text) {
  std::string shown = toLineBreaks(text, &after_cr_);
  if (shown.empty() || edit_ == nullptr) return;
  QTextCursor cursor = edit_->textCursor();
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())));
  edit_->setTextCursor(cursor);
  edit_->ensureCursorVisible();
}

}  // namespace frontend
