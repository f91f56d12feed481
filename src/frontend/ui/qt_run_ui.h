// The run's window side: what the run engine shows and asks, forwarded to
// the window's thread.
//
// Threads: made and destroyed on the window's thread. Every call may come
// from the run thread; it is then carried out on the window's thread with a
// blocking queued call, so the run thread waits for it as for a synchronous
// window message. A call made on the window's thread runs directly.
#pragma once

#include <QObject>
#include <QPointer>
#include <functional>
#include <string>

#include "frontend/core/run_engine.h"
#include "frontend/core/run_log.h"
#include "frontend/ui/progress_dialog.h"

class QWidget;
class UiServices;

// The progress dialog as a run drives it. Window's thread only.
class ProgressView {
 public:
  virtual ~ProgressView() = default;
  // Line 1..6; a line set while the dialog is hidden is dropped.
  virtual void setLine(int line, const std::string& text) = 0;
  // Shows the dialog window-modal and returns when it has ended (by close()
  // or by Stop) and run_ended() is true, serving the run thread meanwhile.
  virtual void showUntil(const std::function<bool()>& run_ended) = 0;
  // Ends the dialog (the run thread has finished).
  virtual void close() = 0;
};

// The progress dialog of the program; its Stop button stops the engine's run.
class DlgProgressView : public ProgressView {
 public:
  DlgProgressView(QWidget* parent, frontend::RunEngine& engine);
  ~DlgProgressView() override;
  void setLine(int line, const std::string& text) override;
  void showUntil(const std::function<bool()>& run_ended) override;
  void close() override;
  CDlgProgress& dialog() { return *dialog_; }

 private:
  QPointer<CDlgProgress> dialog_;  // a child of the window; deleted first by us
};

// Carries calls to the thread this object lives on (the window's) with a
// blocking queued call, and waits; a call made on that thread runs directly.
// A mutex taken on both sides of each call also shows the hand-over to
// ThreadSanitizer, which cannot see Qt's own locks.
class GuiThreadCaller : public QObject {
  Q_OBJECT
 public:
  void call(const std::function<void()>& fn);

 private slots:
  void serve(void* pending);
};

// Writes to the run-log model on the window's thread.
class QtRunLogSink : public GuiThreadCaller, public frontend::RunLogSink {
  Q_OBJECT
 public:
  explicit QtRunLogSink(frontend::RunLog& model) : model_(model) {}
  void appendRunLog(const char* text) override;
  void appendRunLogNotice(const char* text) override;

 private:
  frontend::RunLog& model_;
};

class QtRunUi : public GuiThreadCaller, public frontend::RunUi {
  Q_OBJECT
 public:
  QtRunUi(QWidget* window, UiServices& services, std::function<void()> clear_store_hashes)
      : window_(window), services_(services), clear_store_hashes_(std::move(clear_store_hashes)) {}

  // The progress dialog of the next runs (not owned).
  void setProgressView(ProgressView* progress) { progress_ = progress; }

  void showMessage(const std::string& text) override;
  bool askOkCancel(const std::string& text) override;
  void setProgressLine(int line, const std::string& text) override;
  void closeProgress() override;
  void showProgressUntil(const std::function<bool()>& run_ended) override;
  void clearStoreHashes() override;

 private:
  QWidget* window_;
  UiServices& services_;
  std::function<void()> clear_store_hashes_;
  ProgressView* progress_ = nullptr;
};
