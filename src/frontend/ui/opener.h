// What the program asks of the desktop: opening an address in the user's
// browser (or a file in its viewer), and message boxes. The program uses the
// desktop's own services; tests put fakes in their place.
//
// Thread: the GUI thread.
#pragma once

#include <QString>
#include <QUrl>
#include <functional>
#include <string>

#include "frontend/core/reporters.h"

class QObject;
class QWidget;

namespace frontend_ui {

// Starts the desktop's opener (xdg-open) for a file or an address without
// waiting for it. False when it could not be started; when it starts but
// then reports that nothing could open the target, failed is called later
// on this thread, unless context is gone by then.
bool startDesktopOpener(const QString& target, QObject* context, std::function<void()> failed);

class Opener {
 public:
  virtual ~Opener() = default;
  // Asks the desktop to open the address. False when that could not be
  // started; failed is called when it fails later.
  virtual bool openUrl(const QUrl& url, std::function<void()> failed) = 0;
};

// The desktop's opener, its late failures reported while context lives.
class DesktopOpener : public Opener {
 public:
  explicit DesktopOpener(QObject* context) : context_(context) {}
  bool openUrl(const QUrl& url, std::function<void()> failed) override;

 private:
  QObject* context_;
};

// A message box's text as shown: "\r\n" and a lone "\r" become line breaks.
QString messageBoxText(const std::string& text);

// Message boxes with an OK button, shown modally over the parent.
class QtMessageBoxes : public frontend::MessageBoxes {
 public:
  explicit QtMessageBoxes(QWidget* parent = nullptr) : parent_(parent) {}
  void showMessage(const std::string& text) override;

 private:
  QWidget* parent_;
};

}  // namespace frontend_ui
