// CMacProgressCtrl: a progress bar drawn in shades of the highlight colour,
// either as a shaded three-dimensional bar or as diagonal stripes that move
// one pixel every 25 ms (the indeterminate animation).
//
// Thread: the GUI thread only.
#pragma once

#include <QBasicTimer>
#include <QColor>
#include <QRect>
#include <QWidget>

class QPainter;

namespace frontend_ui {

// The colours of the bar, each derived from the palette by fixed rules.
struct ProgressShades {
  QColor bar;
  QColor light1;
  QColor light2;
  QColor light3;
  QColor dark1;
  QColor dark2;
  QColor dark_shadow;
  QColor middle_shadow;
  QColor shadow;
};

// Lights add 51 per channel (a channel above 204 is kept), darks take 51
// away (a channel of 50 or less is kept); the middle shadow lies halfway
// from the shadow to the dark shadow (the difference halved by a shift).
ProgressShades computeShades(const QColor& bar, const QColor& dark_shadow, const QColor& shadow);

// Draws a bar's contents, already filled with light 3, into bar_area:
// stripes for the given animation frame (0..19) when indeterminate, else
// the shaded bar.
void paintHorizontal(QPainter& p, const QRect& bar_area, const ProgressShades& s, bool indeterminate, int frame);
void paintVertical(QPainter& p, const QRect& bar_area, const ProgressShades& s, bool indeterminate, int frame);

}  // namespace frontend_ui

class CMacProgressCtrl : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kFrames = 20;
  static constexpr int kFrameMs = 25;

  explicit CMacProgressCtrl(QWidget* parent = nullptr);
  ~CMacProgressCtrl() override;

  void setRange(int lower, int upper);
  void setPos(int pos);
  int pos() const { return pos_; }
  // Advances the position by the step (10), starting over past the upper end.
  void stepIt();
  void setIndeterminate(bool on);
  bool indeterminate() const { return indeterminate_; }
  void setVertical(bool on);

  int frame() const { return frame_; }
  void setFrame(int frame);
  // Starts (or restarts) the 25 ms animation timer; stopAnimation ends it.
  void startAnimation();
  void stopAnimation();
  bool animating() const { return timer_.isActive(); }

  const frontend_ui::ProgressShades& shades() const { return shades_; }

  QSize sizeHint() const override { return {300, 18}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void timerEvent(QTimerEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void ComputeShades();

  int frame_ = 0;
  bool indeterminate_ = false;
  bool vertical_ = false;
  int lower_ = 0;
  int upper_ = 100;
  int pos_ = 0;
  int step_ = 10;
  frontend_ui::ProgressShades shades_;
  QColor face_;
  QBasicTimer timer_;
};
