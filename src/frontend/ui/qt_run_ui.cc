#include "frontend/ui/qt_run_ui.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>
#include <mutex>

#include "frontend/ui/progress_dialog.h"
#include "frontend/ui/ui_services.h"

DlgProgressView::DlgProgressView(QWidget* parent, frontend::RunEngine& engine) : dialog_(new CDlgProgress(parent)) {
  QObject::connect(dialog_, &CDlgProgress::stopRequested, dialog_, [&engine] { engine.stop(); });
}

DlgProgressView::~DlgProgressView() { delete dialog_; }

void DlgProgressView::setLine(int line, const std::string& text) {
  dialog_->setLine(line, QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void DlgProgressView::showUntil(const std::function<bool()>& run_ended) { dialog_->showUntil(run_ended); }

void DlgProgressView::close() { dialog_->finishRun(); }

namespace {
struct PendingCall {
  std::mutex mutex;
  const std::function<void()>* fn = nullptr;
};
}  // namespace

void GuiThreadCaller::call(const std::function<void()>& fn) {
  if (QThread::currentThread() == thread()) {
    fn();
    return;
  }
  PendingCall pending;
  {
    std::lock_guard<std::mutex> hand_over(pending.mutex);
    pending.fn = &fn;
  }
  QMetaObject::invokeMethod(this, "serve", Qt::BlockingQueuedConnection, Q_ARG(void*, &pending));
  std::lock_guard<std::mutex> take_back(pending.mutex);
}

void GuiThreadCaller::serve(void* pending) {
  auto* call = static_cast<PendingCall*>(pending);
  std::lock_guard<std::mutex> hold(call->mutex);
  (*call->fn)();
}

void QtRunLogSink::appendRunLog(const char* text) {
  if (text == nullptr) {
    call([this] { model_.appendRunLog(nullptr); });
    return;
  }
  std::string copy = text;
  call([this, &copy] { model_.appendRunLog(copy.c_str()); });
}

void QtRunLogSink::appendRunLogNotice(const char* text) {
  std::string copy = text != nullptr ? text : "";
  call([this, &copy] { model_.appendRunLogNotice(copy.c_str()); });
}

void QtRunUi::showMessage(const std::string& text) {
  call([this, &text] { services_.message(window_, text); });
}

bool QtRunUi::askOkCancel(const std::string& text) {
  bool ok = false;
  call([this, &text, &ok] { ok = services_.okCancel(window_, text); });
  return ok;
}

void QtRunUi::setProgressLine(int line, const std::string& text) {
  call([this, line, &text] {
    if (progress_ != nullptr) progress_->setLine(line, text);
  });
}

void QtRunUi::closeProgress() {
  call([this] {
    if (progress_ != nullptr) progress_->close();
  });
}

void QtRunUi::showProgressUntil(const std::function<bool()>& run_ended) {
  if (progress_ != nullptr) {
    progress_->showUntil(run_ended);
    return;
  }
  // No dialog: serve the run thread's calls until the run has ended.
  if (run_ended()) return;
  QEventLoop loop;
  QTimer poll;
  poll.setInterval(5);
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (run_ended()) loop.quit();
  });
  poll.start();
  loop.exec();
}

void QtRunUi::clearStoreHashes() {
  call([this] { clear_store_hashes_(); });
}
