// CDlgProgress: the dialog shown while a verification runs: six status
// lines that the run rewrites for every file, the animated bar, and Stop.
//
// Thread: the GUI thread only. The run thread reaches it through the main
// window's blocking queued calls, which the event loop of showUntil() serves
// for as long as the run lives, also after Stop has closed the dialog.
//
// One object is made at the first run and shown again for every run; each
// showing starts with blank lines and a fresh animation.
#pragma once

#include <QDialog>
#include <QString>
#include <array>
#include <functional>

class CMacProgressCtrl;
class QLabel;
class QPushButton;

class CDlgProgress : public QDialog {
  Q_OBJECT

 public:
  static constexpr int kLines = 6;

  explicit CDlgProgress(QWidget* parent = nullptr);
  ~CDlgProgress() override;

  // Status line 1..6 (other numbers set no line); also steps the bar. Does
  // nothing unless the dialog is shown, so lines arriving before the dialog
  // appears or after it has closed are dropped.
  void setLine(int line, const QString& text);
  QString line(int line) const;

  // Shows the dialog window-modal to its parent and returns once it has
  // ended (Stop or finishRun()) and run_ended() gives true. Until then the
  // event loop keeps serving the run thread's calls. When the run ends while
  // the dialog is still shown, the dialog is ended too.
  void showUntil(const std::function<bool()>& run_ended);

  // The run thread has finished its walk: ends the dialog. Nothing happens
  // when it is not shown.
  void finishRun();

  // Whether Stop was pressed during the current (or last) showing.
  bool stopWasRequested() const { return stop_requested_; }

  CMacProgressCtrl* bar() const { return bar_; }

 signals:
  // Stop was pressed: emitted once per showing, before the dialog closes.
  void stopRequested();

 public slots:
  void OnBnClickedStop();

 protected:
  // Escape and the window's close button leave the dialog up: while a run
  // goes on only Stop (or the run's end) closes it.
  void reject() override;
  void hideEvent(QHideEvent* event) override;

 private:
  void OnInitDialog();

  std::array<QLabel*, kLines> lines_{};
  CMacProgressCtrl* bar_ = nullptr;
  QPushButton* stop_ = nullptr;
  bool stop_requested_ = false;
};
