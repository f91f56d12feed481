// CDlgNewFolderName: asks for the name of a new job. The name has at most 31
// characters and never holds "/", ":" or "\"; names that the job store would
// refuse or hide, and the job list's own entries, are refused with a message
// and the dialog stays open.
//
// Thread: the GUI thread only.
#pragma once

#include <QDialog>
#include <QString>
#include <memory>

#include "frontend/core/reporters.h"

class QLineEdit;

namespace frontend_ui {

inline constexpr int kMaxJobNameLength = 31;

// One step of the name filter: removes every "/", or when there is none
// every ":", or when there is none either every "\". Gives the text
// unchanged when there is nothing to remove.
QString filterJobNameOnce(const QString& name);

// Why a job cannot have this name; empty when it can. An empty name is not
// refused: it means no new job, as Cancel does.
QString jobNameRefusal(const QString& name);

// Runs the New Job dialog modally: the name entered on OK, or an empty text
// on Cancel. boxes shows refusals; nullptr: the dialog's own message boxes.
QString askNewJobName(QWidget* parent, frontend::MessageBoxes* boxes = nullptr);

}  // namespace frontend_ui

class CDlgNewFolderName : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgNewFolderName(QWidget* parent = nullptr, frontend::MessageBoxes* boxes = nullptr);
  ~CDlgNewFolderName() override;

  // The name as entered (empty at first).
  const QString& name() const { return name_; }

 public slots:
  void OnEnChangeJobName();
  // OK: refuses unusable names, else ends the dialog with the name.
  void accept() override;

 private:
  std::unique_ptr<frontend::MessageBoxes> own_boxes_;
  frontend::MessageBoxes* boxes_;
  QLineEdit* edit_ = nullptr;
  QString name_;
};
