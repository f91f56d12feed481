#include "frontend/ui/progress_bar.h"

#include <algorithm>

#include <QEvent>
#include <QPainter>
#include <QPolygon>
#include <QTimerEvent>

namespace frontend_ui {

namespace {

constexpr int kShadeStep = 51;

int lighter(int channel) { return channel > 255 - kShadeStep ? channel : channel + kShadeStep; }
int darker(int channel) { return channel <= kShadeStep - 1 ? channel : channel - kShadeStep; }

QColor lighter(const QColor& c) { return QColor(lighter(c.red()), lighter(c.green()), lighter(c.blue())); }
QColor darker(const QColor& c) { return QColor(darker(c.red()), darker(c.green()), darker(c.blue())); }

int halfway(int from, int to) { return from + ((to - from) >> 1); }

// The pen of each stripe offset 0..9; offset 5 keeps the light 3 fill.
const QColor* stripePen(const ProgressShades& s, int k) {
  switch (k) {
    case 0: return &s.dark2;
    case 1: case 9: return &s.dark1;
    case 2: case 8: return &s.bar;
    case 3: case 7: return &s.light1;
    case 4: case 6: return &s.light2;
    default: return nullptr;
  }
}

// A 45-degree line of n pixels from (x, y), stepping dx and dy per pixel;
// like a line drawn up to, but not including, its end point.
void diagonal(QPainter& p, const QColor& colour, int x, int y, int n, int dx, int dy) {
  if (n <= 0) return;
  QPolygon points(n);
  for (int i = 0; i < n; ++i) points.setPoint(i, x + i * dx, y + i * dy);
  p.setPen(QPen(colour, 0));
  p.drawPoints(points);
}

void hline(QPainter& p, const QColor& colour, int x0, int x1, int y) {
  if (x1 < x0) return;
  p.setPen(QPen(colour, 0));
  p.drawLine(x0, y, x1, y);
}

void vline(QPainter& p, const QColor& colour, int x, int y0, int y1) {
  if (y1 < y0) return;
  p.setPen(QPen(colour, 0));
  p.drawLine(x, y0, x, y1);
}

void pixel(QPainter& p, const QColor& colour, int x, int y) {
  p.setPen(QPen(colour, 0));
  p.drawPoint(x, y);
}

}  // namespace

ProgressShades computeShades(const QColor& bar, const QColor& dark_shadow, const QColor& shadow) {
  ProgressShades s;
  s.bar = QColor(bar.red(), bar.green(), bar.blue());
  s.light1 = lighter(s.bar);
  s.light2 = lighter(s.light1);
  s.light3 = lighter(s.light2);
  s.dark1 = darker(s.bar);
  s.dark2 = darker(s.dark1);
  s.dark_shadow = QColor(dark_shadow.red(), dark_shadow.green(), dark_shadow.blue());
  s.shadow = QColor(shadow.red(), shadow.green(), shadow.blue());
  s.middle_shadow = QColor(halfway(s.shadow.red(), s.dark_shadow.red()), halfway(s.shadow.green(), s.dark_shadow.green()),
                           halfway(s.shadow.blue(), s.dark_shadow.blue()));
  return s;
}

// Rectangles are taken with exclusive right and bottom edges:
// right = left + width, bottom = top + height.
void paintHorizontal(QPainter& p, const QRect& area, const ProgressShades& s, bool indeterminate, int frame) {
  const int left = area.x(), top = area.y();
  const int right = left + area.width(), bottom = top + area.height();
  if (right <= left || bottom <= top) return;

  if (indeterminate) {
    const int h = bottom - top;
    // One stripe more than the bar's width needs, starting one period
    // further left: otherwise a bar less than 20 pixels high loses the
    // bottom of its leftmost band in frame 19, and the corner blinks.
    const int n = (right - left) / 20 + 3;
    int x = left + frame + h - 19 - 20;
    p.save();
    p.setClipRect(area);
    for (int i = 0; i < n; ++i, x += 20) {
      for (int k = 0; k < 10; ++k) {
        if (const QColor* c = stripePen(s, k)) diagonal(p, *c, x + k - h, top, h, 1, 1);
      }
    }
    p.restore();
    return;
  }

  // The shaded bar, from the outside in.
  hline(p, s.bar, left, right - 1, top);
  vline(p, s.bar, left, top, bottom - 1);
  hline(p, s.light1, left + 1, right - 2, top + 1);
  hline(p, s.light2, left + 1, right - 2, top + 2);
  hline(p, s.bar, left + 1, right - 2, bottom - 3);
  hline(p, s.dark1, left + 1, right - 2, bottom - 2);
  hline(p, s.dark2, left, right - 1, bottom - 1);
  vline(p, s.dark2, right - 1, top, bottom - 1);
  vline(p, s.middle_shadow, right, top, bottom - 1);
  vline(p, s.shadow, right + 1, top, bottom - 1);
  pixel(p, s.light1, left, top + 1);
  pixel(p, s.light2, left, top + 2);
  pixel(p, s.bar, left, bottom - 3);
  pixel(p, s.dark1, left, bottom - 2);
}

void paintVertical(QPainter& p, const QRect& area, const ProgressShades& s, bool indeterminate, int frame) {
  const int left = area.x(), top = area.y();
  const int right = left + area.width(), bottom = top + area.height();
  if (right <= left || bottom <= top) return;

  if (indeterminate) {
    const int w = right - left;
    const int n = (bottom - top) / 20 + 3;
    int y = bottom - 1 - frame - w + 19 + 20;
    p.save();
    p.setClipRect(area);
    for (int i = 0; i < n; ++i, y -= 20) {
      for (int k = 0; k < 10; ++k) {
        if (const QColor* c = stripePen(s, k)) diagonal(p, *c, left, y - k + w, w, 1, -1);
      }
    }
    p.restore();
    return;
  }

  if (bottom - top < 4) {
    p.fillRect(area, s.bar);
    p.setPen(QPen(s.dark1, 0));
    p.drawRect(left, top, right - left - 1, bottom - top - 1);
    return;
  }
  vline(p, s.bar, left, top, bottom - 1);
  vline(p, s.light1, left + 1, top + 1, bottom - 1);
  vline(p, s.light2, left + 2, top + 1, bottom - 1);
  vline(p, s.light2, right - 3, top + 1, bottom - 1);
  vline(p, s.light1, right - 2, top + 1, bottom - 1);
  vline(p, s.dark1, right - 1, top, bottom - 1);
  hline(p, s.dark2, left, right - 1, top);
  hline(p, s.middle_shadow, left, right - 1, top - 1);
  hline(p, s.shadow, left, right - 1, top - 2);
  pixel(p, s.light1, left + 1, bottom - 1);
  pixel(p, s.light2, left + 2, bottom - 1);
  pixel(p, s.bar, right - 3, bottom - 1);
  pixel(p, s.dark1, right - 2, bottom - 1);
}

}  // namespace frontend_ui

CMacProgressCtrl::CMacProgressCtrl(QWidget* parent) : QWidget(parent) {
  setObjectName("IDC_PROGRESS_BAR");
  // Every pixel is painted, so nothing needs erasing first (no flicker).
  setAttribute(Qt::WA_OpaquePaintEvent);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  ComputeShades();
}

CMacProgressCtrl::~CMacProgressCtrl() = default;

void CMacProgressCtrl::ComputeShades() {
  const QPalette& pal = palette();
  shades_ = frontend_ui::computeShades(pal.color(QPalette::Highlight), pal.color(QPalette::Shadow),
                                       pal.color(QPalette::Dark));
  face_ = pal.color(QPalette::Button);
}

void CMacProgressCtrl::setRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
  pos_ = std::clamp(pos_, std::min(lower, upper), std::max(lower, upper));
  update();
}

void CMacProgressCtrl::setPos(int pos) {
  pos_ = pos;
  update();
}

void CMacProgressCtrl::stepIt() {
  pos_ += step_;
  if (pos_ > upper_) pos_ = lower_ + (pos_ - upper_);
  update();
}

void CMacProgressCtrl::setIndeterminate(bool on) {
  indeterminate_ = on;
  update();
}

void CMacProgressCtrl::setVertical(bool on) {
  vertical_ = on;
  update();
}

void CMacProgressCtrl::setFrame(int frame) {
  frame_ = ((frame % kFrames) + kFrames) % kFrames;
  repaint();
}

void CMacProgressCtrl::startAnimation() { timer_.start(kFrameMs, this); }

void CMacProgressCtrl::stopAnimation() { timer_.stop(); }

void CMacProgressCtrl::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing, false);
  const QRect client = rect();
  p.fillRect(client, face_);

  QRect area = client;
  if (!indeterminate_ && upper_ != lower_) {
    const double part = static_cast<double>(pos_ - lower_) / (upper_ - lower_);
    if (vertical_) {
      area.setTop(area.y() + area.height() - static_cast<int>(part * area.height()));
    } else {
      area.setWidth(static_cast<int>(part * area.width()));
    }
  }
  if (area.width() <= 0 || area.height() <= 0) return;
  p.fillRect(area, shades_.light3);
  if (vertical_) {
    frontend_ui::paintVertical(p, area, shades_, indeterminate_, frame_);
  } else {
    frontend_ui::paintHorizontal(p, area, shades_, indeterminate_, frame_);
  }
}

void CMacProgressCtrl::timerEvent(QTimerEvent* event) {
  if (event->timerId() != timer_.timerId()) {
    QWidget::timerEvent(event);
    return;
  }
  timer_.stop();
  frame_ = (frame_ + 1) % kFrames;
  repaint();
  timer_.start(kFrameMs, this);
}

void CMacProgressCtrl::changeEvent(QEvent* event) {
  if (event->type() == QEvent::PaletteChange) {
    ComputeShades();
    update();
  }
  QWidget::changeEvent(event);
}
