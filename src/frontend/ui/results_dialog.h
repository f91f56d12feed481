// CDlgResults: the Results window. A tree of the stored runs (the last ten
// by date, all by job, all by folder walked), the text of the selected run
// and its suspected invalid images, from which the user opens a file's
// folder or its examination. Modeless; the main window makes it once and
// afterwards only brings it back.
//
// Thread: the GUI thread. It may be used while a run writes to the
// database: every query takes the database's lock for its own length. It
// is a window of its own, not one over the main window, so the progress
// dialog (modal over the main window) does not block it; the main window
// deletes it when quitting.
#pragma once

#include <QByteArray>
#include <QRect>
#include <optional>

#include <QDialog>
#include <string>

#include "frontend/core/results_model.h"
#include "frontend/ui/ui_services.h"

class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The normal rectangle of a stored 44-byte window placement (little-endian
// length, flags, show command, minimised and maximised positions, then the
// rectangle's left, top, right and bottom); nothing for any other size or an
// empty rectangle.
std::optional<QRect> decodeWindowPlacement(const QByteArray& bytes);

class CDlgResults : public QDialog, private frontend::DetailListView {
  Q_OBJECT

 public:
  // owner: the main window, which places it and deletes it.
  CDlgResults(QWidget* owner, frontend::Database& db, UiServices& services);
  ~CDlgResults() override;

  // Rebuilds the tree from the database (Refresh).
  void LoadRuns();
  // The path of the detail pair that is selected; empty when none.
  std::string GetSelectedPath();
  const frontend::ResultsModel& model() const { return model_; }

  // Enter and Escape hide the window; it keeps its tree.
  void accept() override;
  void reject() override;

 public slots:
  void OnBnClickedRefresh();
  void OnBnClickedContainingFolder();
  void OnBnClickedExamine();

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void OnTvnSelchangedRunTree();
  void OnLbnSelchangeDetailList(int row);
  void clearDetailList() override;
  void addDetailLine(const std::string& line) override;

  QWidget* owner_;
  UiServices& services_;
  ServiceBoxes boxes_;
  frontend::ResultsModel model_;
  bool shown_before_ = false;
  bool moving_selection_ = false;

  QTreeWidget* tree_ = nullptr;
  QPlainTextEdit* run_text_ = nullptr;
  QListWidget* details_ = nullptr;
};
