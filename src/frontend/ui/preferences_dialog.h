// CDlgPreferences: the path of the external DNG converter and the weekly
// update check, each written to the program's settings as soon as it is
// changed. Also the program's "App" settings values that other windows read.
//
// Thread: the GUI thread only. One object is made at start-up with the main
// window as parent and shown again whenever Tools-Preferences is chosen.
#pragma once

#include <QDialog>
#include <QFrame>
#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

#include "frontend/core/reporters.h"

class QCheckBox;

namespace frontend_ui {

inline constexpr const char* kCantWriteProfile = "Can't write profile string";

// A sunken one-line path that shortens itself in the middle when it does
// not fit.
class ElidedPathLabel : public QFrame {
  Q_OBJECT

 public:
  explicit ElidedPathLabel(QWidget* parent = nullptr);
  void setPath(const QString& path);
  const QString& path() const { return path_; }
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString path_;
};

}  // namespace frontend_ui

class CDlgPreferences : public QDialog {
  Q_OBJECT

 public:
  // Asks for the converter program, starting in the given folder; empty
  // when the user cancels.
  using FileChooser = std::function<QString(QWidget* parent, const QString& start_folder)>;

  // boxes shows the failures; nullptr: the dialog's own message boxes.
  explicit CDlgPreferences(QWidget* parent = nullptr, frontend::MessageBoxes* boxes = nullptr);
  ~CDlgPreferences() override;

  // Replaces the file dialog of Choose... (tests).
  void setFileChooser(FileChooser chooser) { chooser_ = std::move(chooser); }

 public slots:
  void ShowSettings();
  void OnBnClickedChoose();
  void OnBnClickedUpdateCheck();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  std::unique_ptr<frontend::MessageBoxes> own_boxes_;
  frontend::MessageBoxes* boxes_;
  FileChooser chooser_;
  frontend_ui::ElidedPathLabel* converter_path_ = nullptr;
  QCheckBox* update_check_ = nullptr;
};
