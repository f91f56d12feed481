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

// Why opening something failed, in a line for the user: what could not be
// started, or the opener's exit status and the first line of its error
// output.
using OpenFailed = std::function<void(const std::string& why)>;

// The program that opens files and addresses in the desktop's viewer,
// browser or file manager.
inline constexpr const char* kDesktopOpenerProgram = "xdg-open";

// Starts the desktop's opener for a file or an address without waiting for
// it. When it cannot be started, failed is called at once and false given;
// when it starts but then ends with a failure (nothing could open the
// target), failed is called later on this thread, unless context is gone by
// then. program replaces the opener (tests).
bool startDesktopOpener(const QString& target, QObject* context, OpenFailed failed,
                        const QString& program = kDesktopOpenerProgram);

// A failure's line: "<program> could not be started: <error>", or
// "<program> ended with exit status <n>" (or "ended abnormally"), followed
// by ": <first line>" when the program wrote an error line.
std::string openerStartFailure(const QString& program, const QString& error);
std::string openerExitFailure(const QString& program, bool crashed, int exit_status, const QByteArray& error_output);

// A box's text with the reason of a failure on a line of its own below it.
std::string withReason(const std::string& text, const std::string& why);

class Opener {
 public:
  virtual ~Opener() = default;
  // Asks the desktop to open the address. When that could not be started,
  // failed is called at once and false given; when it fails later, failed
  // is called then.
  virtual bool openUrl(const QUrl& url, OpenFailed failed) = 0;
};

// The desktop's opener, its late failures reported while context lives.
class DesktopOpener : public Opener {
 public:
  explicit DesktopOpener(QObject* context) : context_(context) {}
  bool openUrl(const QUrl& url, OpenFailed failed) override;

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
