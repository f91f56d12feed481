#include "frontend/ui/progress_dialog.h"

#include <QEventLoop>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

#include "frontend/ui/progress_bar.h"

namespace {

// How often showUntil() looks whether the run has ended.
constexpr int kRunEndPollMs = 10;

}  // namespace

CDlgProgress::CDlgProgress(QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_PROGRESS");
  setWindowTitle("Verification Progress");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);
  for (int i = 0; i < kLines; ++i) {
    auto* label = new QLabel(" ", this);
    label->setObjectName(QString("IDC_PROGRESS_LINE%1").arg(i + 1));
    label->setTextFormat(Qt::PlainText);
    // Long paths must not widen the dialog.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    label->setMinimumWidth(520);
    layout->addWidget(label);
    lines_[static_cast<size_t>(i)] = label;
  }
  bar_ = new CMacProgressCtrl(this);
  layout->addWidget(bar_);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  stop_ = new QPushButton("Stop", this);
  stop_->setObjectName("IDOK");
  stop_->setDefault(true);
  stop_->setAutoDefault(true);
  buttons->addWidget(stop_);
  buttons->addStretch(1);
  layout->addLayout(buttons);

  connect(stop_, &QPushButton::clicked, this, &CDlgProgress::OnBnClickedStop);
}

CDlgProgress::~CDlgProgress() = default;

void CDlgProgress::OnInitDialog() {
  for (QLabel* label : lines_) label->setText(" ");
  stop_requested_ = false;
  bar_->setRange(0, 100);
  bar_->setPos(0);
  bar_->setIndeterminate(true);
  bar_->setFrame(0);
  bar_->startAnimation();
}

void CDlgProgress::setLine(int line, const QString& text) {
  if (!isVisible()) return;
  if (line >= 1 && line <= kLines) lines_[static_cast<size_t>(line - 1)]->setText(text);
  bar_->stepIt();
}

QString CDlgProgress::line(int line) const {
  if (line < 1 || line > kLines) return {};
  return lines_[static_cast<size_t>(line - 1)]->text();
}

void CDlgProgress::showUntil(const std::function<bool()>& run_ended) {
  OnInitDialog();
  setResult(0);
  // Window-modal, set anew for every showing: the rest of the program (the
  // Results window) stays usable while the main window is blocked.
  setWindowModality(Qt::WindowModal);
  show();

  QEventLoop loop;
  QTimer poll;
  poll.setInterval(kRunEndPollMs);
  QPointer<CDlgProgress> self(this);
  connect(&poll, &QTimer::timeout, &loop, [&] {
    if (!run_ended()) return;
    if (self && isVisible()) done(QDialog::Rejected);
    loop.quit();
  });
  poll.start();
  loop.exec();
}

void CDlgProgress::finishRun() {
  if (isVisible()) done(QDialog::Rejected);
}

void CDlgProgress::OnBnClickedStop() {
  if (!isVisible() || stop_requested_) return;
  stop_requested_ = true;
  emit stopRequested();
  lines_[0]->setText("Cancelling...");
  done(QDialog::Accepted);
}

void CDlgProgress::reject() {}

void CDlgProgress::hideEvent(QHideEvent* event) {
  // The animation lives with the shown window.
  bar_->stopAnimation();
  QDialog::hideEvent(event);
}
