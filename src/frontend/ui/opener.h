// What the program asks of the desktop: opening an address in the user's
// browser (or a file in its viewer), and message boxes. The program uses the
// desktop's own services; tests put fakes in their place.
//
// Thread: the GUI thread.
#pragma once

#include <QString>
#include <QUrl>
#include <string>

#include "frontend/core/reporters.h"

class QWidget;

namespace frontend_ui {

class Opener {
 public:
  virtual ~Opener() = default;
  // Asks the desktop to open the address; whether it could is not checked.
  virtual void openUrl(const QUrl& url) = 0;
};

class DesktopOpener : public Opener {
 public:
  void openUrl(const QUrl& url) override;
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
