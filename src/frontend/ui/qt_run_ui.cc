#include "frontend/ui/qt_run_ui.h"

#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include "frontend/ui/ui_services.h"

void run_on_thread_of(QObject* context, const std::function<void()>& fn) {
  if (QThread::currentThread() == context->thread()) {
    fn();
  } else {
    QMetaObject::invokeMethod(context, fn, Qt::BlockingQueuedConnection);
  }
}

void QtRunLogSink::appendRunLog(const char* text) {
  if (text == nullptr) {
    run_on_thread_of(this, [this] { model_.appendRunLog(nullptr); });
    return;
  }
  std::string copy = text;
  run_on_thread_of(this, [this, &copy] { model_.appendRunLog(copy.c_str()); });
}

void QtRunLogSink::appendRunLogNotice(const char* text) {
  std::string copy = text != nullptr ? text : "";
  run_on_thread_of(this, [this, &copy] { model_.appendRunLogNotice(copy.c_str()); });
}

void QtRunUi::showMessage(const std::string& text) {
  run_on_thread_of(this, [this, &text] { services_.message(window_, text); });
}

bool QtRunUi::askOkCancel(const std::string& text) {
  bool ok = false;
  run_on_thread_of(this, [this, &text, &ok] { ok = services_.okCancel(window_, text); });
  return ok;
}

void QtRunUi::setProgressLine(int line, const std::string& text) {
  run_on_thread_of(this, [this, line, &text] {
    if (progress_ != nullptr) progress_->setLine(line, text);
  });
}

void QtRunUi::closeProgress() {
  run_on_thread_of(this, [this] {
    if (progress_ != nullptr) progress_->close();
  });
}

void QtRunUi::showProgressUntil(const std::function<bool()>& run_ended) {
  if (progress_ != nullptr) progress_->runModal();
  // After Stop the run thread still winds down: it shows its cancel message
  // and writes its last lines through us, so keep serving it until it ends.
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
  run_on_thread_of(this, [this] { clear_store_hashes_(); });
}
