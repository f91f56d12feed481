// CDlgExamine: an Image Examination window, the structure dump of one image
// file in a read-only text box. Every request opens a new modeless window;
// earlier ones stay open until the user closes them.
//
// Thread: the GUI thread only.
#pragma once

#include <QDialog>
#include <string>

class QPlainTextEdit;

class CDlgExamine : public QDialog {
  Q_OBJECT

 public:
  explicit CDlgExamine(QWidget* parent = nullptr);
  ~CDlgExamine() override;

  // Titles the window with the path and shows the file's dump.
  void ExamineFile(const std::string& path);
  // The text as the box shows it.
  QString text() const;

 private:
  QPlainTextEdit* text_ = nullptr;
};

// Makes a new examination window over parent, fills it with the dump of
// path and shows it. The window deletes itself when closed.
CDlgExamine* openExamineWindow(const std::string& path, QWidget* parent);
