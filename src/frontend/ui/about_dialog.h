// CAboutDlg: the program's name and the version text it is given (the
// main window's, which the launch's update check may have marked
// " (up-to-date)").
//
// Thread: the GUI thread only.
#pragma once

#include <QDialog>
#include <QString>

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(const QString& version, QWidget* parent = nullptr);
  ~CAboutDlg() override;
};
