// What the main window asks of the desktop: message boxes, the folder
// chooser, the new-job name, opening files in the desktop's viewer. The
// program uses the Qt versions; tests replace them so nothing blocks.
//
// Thread: the window's thread only (the run thread reaches the boxes through
// QtRunUi, which forwards to the window's thread).
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "frontend/core/reporters.h"

class QWidget;

class UiServices {
 public:
  virtual ~UiServices() = default;
  // A box with an OK button. Texts use "\r" as a line break.
  virtual void message(QWidget* parent, const std::string& text) = 0;
  // OK and Cancel; true for OK.
  virtual bool okCancel(QWidget* parent, const std::string& text) = 0;
  // The folder browser; nothing when the user chose nothing.
  virtual std::optional<std::string> chooseFolder(QWidget* parent, const std::string& start) = 0;
  // The open-file chooser for an existing file, starting at start (a file
  // or a folder); nothing when the user chose nothing.
  virtual std::optional<std::string> chooseFile(QWidget* parent, const std::string& start) = 0;
  // The name for a new job; empty on Cancel.
  virtual std::string askNewJobName(QWidget* parent) = 0;
  // Opens a file or folder in the desktop's viewer without waiting. When
  // that cannot be started, failed is called at once with the reason and
  // false given; when the opener reports later that it could not open it,
  // failed is called then (not once parent is gone).
  virtual bool openFile(QWidget* parent, const std::string& path,
                        std::function<void(const std::string& why)> failed) = 0;
};

// The desktop's own boxes and choosers (QMessageBox, QFileDialog,
// QDesktopServices).
class QtUiServices : public UiServices {
 public:
  void message(QWidget* parent, const std::string& text) override;
  bool okCancel(QWidget* parent, const std::string& text) override;
  std::optional<std::string> chooseFolder(QWidget* parent, const std::string& start) override;
  std::optional<std::string> chooseFile(QWidget* parent, const std::string& start) override;
  std::string askNewJobName(QWidget* parent) override;
  bool openFile(QWidget* parent, const std::string& path, std::function<void(const std::string& why)> failed) override;
};

// The message boxes of a window, shown through its services.
class ServiceBoxes : public frontend::MessageBoxes {
 public:
  ServiceBoxes(UiServices& services, QWidget* parent) : services_(services), parent_(parent) {}
  void showMessage(const std::string& text) override { services_.message(parent_, text); }

 private:
  UiServices& services_;
  QWidget* parent_;
};

// A box text as the desktop shows it: "\r\n" and a lone "\r" are one line
// break each.
std::string display_text(const std::string& text);
