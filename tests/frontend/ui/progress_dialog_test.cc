// The progress dialog driven the way a run drives it: a second thread sets
// its lines through blocking queued calls while the dialog is shown; and
// the shaded bar rendered from its palette.
#include "frontend/ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <thread>

#include "frontend/ui/progress_bar.h"
#include "support/temp_folder.h"
#include "qt_app.h"

namespace {

using frontend_ui::computeShades;
using frontend_ui::ProgressShades;

struct ShadeCase {
  QColor highlight, dark_shadow, shadow;
  QColor light1, light2, light3, dark1, dark2, middle_shadow;
};

TEST(ProgressShades, FollowTheChannelRules) {
  const ShadeCase cases[] = {
      // Plain colour: lights climb by 51 until a channel passes 204.
      {{100, 150, 200}, {0, 0, 0}, {128, 128, 128},
       {151, 201, 251}, {202, 252, 251}, {253, 252, 251}, {49, 99, 149}, {49, 48, 98}, {64, 64, 64}},
      // Every channel above 204: the lights are the bar colour.
      {{210, 220, 230}, {105, 105, 105}, {160, 160, 160},
       {210, 220, 230}, {210, 220, 230}, {210, 220, 230}, {159, 169, 179}, {108, 118, 128}, {132, 132, 132}},
      // Channels of 50 or less stay when darkened; a lighter dark shadow.
      {{40, 50, 60}, {200, 10, 101}, {100, 20, 100},
       {91, 101, 111}, {142, 152, 162}, {193, 203, 213}, {40, 50, 9}, {40, 50, 9}, {150, 15, 100}},
  };
  for (const ShadeCase& c : cases) {
    SCOPED_TRACE(c.highlight.name().toStdString());
    ProgressShades s = computeShades(c.highlight, c.dark_shadow, c.shadow);
    EXPECT_EQ(s.bar, c.highlight);
    EXPECT_EQ(s.light1, c.light1);
    EXPECT_EQ(s.light2, c.light2);
    EXPECT_EQ(s.light3, c.light3);
    EXPECT_EQ(s.dark1, c.dark1);
    EXPECT_EQ(s.dark2, c.dark2);
    EXPECT_EQ(s.middle_shadow, c.middle_shadow);
    EXPECT_EQ(s.dark_shadow, c.dark_shadow);
    EXPECT_EQ(s.shadow, c.shadow);
  }
}

QPalette testPalette() {
  QPalette pal;
  pal.setColor(QPalette::Highlight, QColor(100, 150, 200));
  pal.setColor(QPalette::Shadow, QColor(0, 0, 0));
  pal.setColor(QPalette::Dark, QColor(128, 128, 128));
  pal.setColor(QPalette::Button, QColor(212, 208, 200));
  return pal;
}

QImage grabBar(CMacProgressCtrl& bar) { return bar.grab().toImage().convertToFormat(QImage::Format_RGB32); }

// Whether `later` is `earlier` moved right by `shift` pixels (the columns
// that were outside the bar excepted).
bool shiftedRight(const QImage& earlier, const QImage& later, int shift) {
  if (earlier.size() != later.size()) return false;
  for (int y = 0; y < earlier.height(); ++y) {
    for (int x = shift; x < earlier.width(); ++x) {
      if (later.pixel(x, y) != earlier.pixel(x - shift, y)) return false;
    }
  }
  return true;
}

class ProgressBarTest : public testing_support::QtTest {
 protected:
  void SetUp() override {
    bar_.setPalette(testPalette());
    bar_.resize(200, 16);
  }
  CMacProgressCtrl bar_;
};

TEST_F(ProgressBarTest, StripesUseOnlyThePaletteShades) {
  bar_.setIndeterminate(true);
  const ProgressShades s = computeShades(QColor(100, 150, 200), QColor(0, 0, 0), QColor(128, 128, 128));
  QSet<QRgb> seen;
  QImage image = grabBar(bar_);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) seen.insert(image.pixel(x, y));
  const QSet<QRgb> expected = {s.light3.rgb(), s.light2.rgb(), s.light1.rgb(),
                               s.bar.rgb(),    s.dark1.rgb(),  s.dark2.rgb()};
  EXPECT_EQ(seen, expected);
}

TEST_F(ProgressBarTest, StripesMoveOnePixelPerFrameAndRepeatAfterTwenty) {
  bar_.setIndeterminate(true);
  for (int frame = 0; frame < CMacProgressCtrl::kFrames; ++frame) {
    bar_.setFrame(frame);
    QImage now = grabBar(bar_);
    bar_.setFrame(frame + 1);
    QImage next = grabBar(bar_);
    EXPECT_TRUE(shiftedRight(now, next, 1)) << "frame " << frame;
    EXPECT_NE(now, next);
  }
}

TEST_F(ProgressBarTest, ShadedBarStopsAtThePositionOverTheButtonFace) {
  bar_.setIndeterminate(false);
  bar_.setRange(0, 100);
  bar_.setPos(50);
  const ProgressShades s = computeShades(QColor(100, 150, 200), QColor(0, 0, 0), QColor(128, 128, 128));
  QImage image = grabBar(bar_);
  const int mid = image.height() / 2;
  EXPECT_EQ(image.pixel(50, mid), s.light3.rgb());     // inside the bar
  EXPECT_EQ(image.pixel(100, mid), s.middle_shadow.rgb());  // just beyond its end
  EXPECT_EQ(image.pixel(101, mid), s.shadow.rgb());
  EXPECT_EQ(image.pixel(150, mid), QColor(212, 208, 200).rgb());  // the button face
}

TEST_F(ProgressBarTest, PaletteChangeRecolours) {
  bar_.setIndeterminate(true);
  QPalette pal = testPalette();
  pal.setColor(QPalette::Highlight, QColor(210, 220, 230));
  bar_.setPalette(pal);
  // Every channel is above 204, so the fill (light 3) is the highlight itself.
  QImage image = grabBar(bar_);
  int fill = 0;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x) fill += image.pixel(x, y) == QColor(210, 220, 230).rgb();
  EXPECT_GT(fill, image.width() * image.height() / 3);
}

// A stand-in for the run thread: every call it makes waits until the
// dialog's thread has served it.
class ProgressDialogTest : public testing_support::QtTest {
 protected:
  void SetUp() override {
    env_ = std::make_unique<testing_support::IsolatedEnvironment>(dir_.path());
    main_.resize(400, 300);
    main_.show();
    dialog_ = new CDlgProgress(&main_);
    QObject::connect(dialog_, &CDlgProgress::stopRequested, [this] {
      ++stops_;
      cancel_.store(true);
    });
  }

  // Runs fn on the dialog's thread and waits for it, as the run's calls do.
  template <typename Fn>
  void onGui(Fn fn) {
    QMetaObject::invokeMethod(dialog_, fn, Qt::BlockingQueuedConnection);
  }

  QLabel* label(int line) { return dialog_->findChild<QLabel*>(QString("IDC_PROGRESS_LINE%1").arg(line)); }
  QPushButton* stopButton() { return dialog_->findChild<QPushButton*>("IDOK"); }

  testing_support::TempFolder dir_;
  std::unique_ptr<testing_support::IsolatedEnvironment> env_;
  QWidget main_;
  CDlgProgress* dialog_ = nullptr;  // owned by main_
  std::atomic<bool> cancel_{false};
  std::atomic<bool> ended_{false};
  int stops_ = 0;
};

TEST_F(ProgressDialogTest, ShowsTheRunsLinesUntilTheRunCloses) {
  ASSERT_NE(stopButton(), nullptr);
  EXPECT_EQ(stopButton()->text(), "Stop");
  EXPECT_EQ(dialog_->windowTitle(), "Verification Progress");

  QStringList seen;
  bool modal_to_main = false;
  std::thread run([&] {
    for (int line = 1; line <= CDlgProgress::kLines; ++line) {
      onGui([&, line] { dialog_->setLine(line, QString("line %1").arg(line)); });
    }
    onGui([&] { dialog_->setLine(7, "no such line"); });
    onGui([&] {
      for (int line = 1; line <= CDlgProgress::kLines; ++line) seen << label(line)->text();
      modal_to_main = dialog_->isVisible() && dialog_->windowModality() == Qt::WindowModal;
    });
    onGui([&] { dialog_->finishRun(); });
    ended_.store(true);
  });
  dialog_->showUntil([&] { return ended_.load(); });
  run.join();

  EXPECT_EQ(seen, (QStringList{"line 1", "line 2", "line 3", "line 4", "line 5", "line 6"}));
  EXPECT_TRUE(modal_to_main);
  EXPECT_FALSE(dialog_->isVisible());
  EXPECT_FALSE(dialog_->bar()->animating());
  EXPECT_EQ(stops_, 0);

  // Closed: further lines are dropped.
  dialog_->setLine(2, "late");
  EXPECT_EQ(dialog_->line(2), "line 2");
}

TEST_F(ProgressDialogTest, LinesBeforeTheDialogShowsAreDropped) {
  dialog_->setLine(1, "too early");
  EXPECT_EQ(dialog_->line(1), " ");
  EXPECT_EQ(dialog_->bar()->pos(), 0);
}

TEST_F(ProgressDialogTest, StopCancelsOnceClosesAtOnceAndServesTheRunUntilItEnds) {
  std::atomic<int> updates{0};
  bool visible_after_stop = true;
  QString line1_after_stop;
  std::thread run([&] {
    while (!cancel_.load()) {
      onGui([&] { dialog_->setLine(2, QString("file %1").arg(updates.load())); });
      ++updates;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // The cancel message box of a stopped run is shown after the dialog closed.
    onGui([&] {
      visible_after_stop = dialog_->isVisible();
      line1_after_stop = dialog_->line(1);
    });
    ended_.store(true);
  });
  // Stop is pressed once the run has shown something.
  QTimer press;
  QObject::connect(&press, &QTimer::timeout, dialog_, [&] {
    if (updates.load() == 0 || !dialog_->isVisible()) return;
    press.stop();
    QTest::mouseClick(stopButton(), Qt::LeftButton);
    stopButton()->click();  // a second press once closed does nothing
  });
  press.start(5);
  dialog_->showUntil([&] { return ended_.load(); });
  run.join();

  EXPECT_EQ(stops_, 1);
  EXPECT_TRUE(dialog_->stopWasRequested());
  EXPECT_FALSE(visible_after_stop);
  EXPECT_EQ(line1_after_stop, "Cancelling...");
  EXPECT_GT(updates.load(), 0);
}

TEST_F(ProgressDialogTest, EscapeDoesNotEndARun) {
  bool still_visible = false;
  std::thread run([&] {
    onGui([&] {
      QTest::keyClick(dialog_, Qt::Key_Escape);
      dialog_->close();
      still_visible = dialog_->isVisible();
      dialog_->finishRun();
    });
    ended_.store(true);
  });
  dialog_->showUntil([&] { return ended_.load(); });
  run.join();
  EXPECT_TRUE(still_visible);
  EXPECT_EQ(stops_, 0);
}

TEST_F(ProgressDialogTest, ASecondRunStartsFreshWithItsAnimationRunning) {
  // First run: stopped.
  std::thread first([&] {
    onGui([&] { dialog_->setLine(3, "old"); });
    onGui([&] { stopButton()->click(); });
    ended_.store(true);
  });
  dialog_->showUntil([&] { return ended_.load(); });
  first.join();
  ASSERT_EQ(stops_, 1);

  // Second run: the stripes move by one pixel per 25 ms tick.
  ended_.store(false);
  cancel_.store(false);
  QString line3;
  bool modal = false;
  bool animating = false;
  int moved = 0;
  bool shifted = false;
  qint64 elapsed_ms = 0;
  QTimer::singleShot(0, dialog_, [&] {
    line3 = dialog_->line(3);
    modal = dialog_->windowModality() == Qt::WindowModal;
    CMacProgressCtrl* bar = dialog_->bar();
    animating = bar->animating();

    int before_frame = bar->frame();
    QImage before = grabBar(*bar);
    QElapsedTimer wait;
    wait.start();
    while (bar->frame() == before_frame && wait.elapsed() < 60000) QTest::qWait(1);
    int after_frame = bar->frame();
    QImage after = grabBar(*bar);
    shifted = shiftedRight(before, after, (after_frame - before_frame + CMacProgressCtrl::kFrames) %
                                              CMacProgressCtrl::kFrames);

    // Count the ticks over a while, and at least two: never more than one
    // per 25 ms (a loaded machine gives fewer, never more).
    QElapsedTimer clock;
    clock.start();
    int last = bar->frame();
    while ((clock.elapsed() < 300 || moved < 2) && clock.elapsed() < 60000) {
      QTest::qWait(5);
      moved += (bar->frame() - last + CMacProgressCtrl::kFrames) % CMacProgressCtrl::kFrames;
      last = bar->frame();
    }
    elapsed_ms = clock.elapsed();
    dialog_->finishRun();
    ended_.store(true);
  });
  dialog_->showUntil([&] { return ended_.load(); });

  EXPECT_EQ(line3, " ");
  EXPECT_TRUE(modal);
  EXPECT_TRUE(animating);
  EXPECT_TRUE(shifted);
  EXPECT_GE(moved, 2);
  EXPECT_LE(moved, elapsed_ms / CMacProgressCtrl::kFrameMs + 1);
  EXPECT_FALSE(dialog_->stopWasRequested());
  EXPECT_EQ(stops_, 1);
}

TEST_F(ProgressDialogTest, TheRunsEndClosesADialogNobodyClosed) {
  std::thread run([&] {
    onGui([&] { dialog_->setLine(1, "walking"); });
    ended_.store(true);
  });
  dialog_->showUntil([&] { return ended_.load(); });
  run.join();
  EXPECT_FALSE(dialog_->isVisible());
}

}  // namespace
