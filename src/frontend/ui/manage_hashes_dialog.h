// CDlgManageHashes: the Manage Hashes window. The folders that hold
// reference digests as a tree (root item "/"), the keys stored directly in
// the selected folder, and Purge, which deletes the digests of the folder
// and its sub-folders after an OK/Cancel question. Image files are never
// touched. Every opening rebuilds the tree from the database.
//
// Thread: the GUI thread only.
#pragma once

#include <QDialog>
#include <string>
#include <unordered_map>

#include "frontend/core/hashes_model.h"
#include "frontend/ui/ui_services.h"

class QLabel;
class QListWidget;
class QTreeWidget;
class QTreeWidgetItem;

class CDlgManageHashes : public QDialog {
  Q_OBJECT

 public:
  CDlgManageHashes(QWidget* parent, frontend::Database& db, UiServices& services);
  ~CDlgManageHashes() override;

  // Rebuilds the tree from every stored folder; the opener calls it once
  // the window is shown, so that "Retrieving folders..." is seen meanwhile.
  void LoadFolders();

 public slots:
  void OnBnClickedPurge();

 private:
  void OnTvnSelchangedFolderTree();
  void LoadKeys(const std::string& folder);
  void insertItems(const frontend::FolderItem& item, QTreeWidgetItem* parent);

  UiServices& services_;
  ServiceBoxes boxes_;
  frontend::ManageHashesModel model_;
  // The model's item of every tree item.
  std::unordered_map<QTreeWidgetItem*, frontend::FolderItem*> items_;

  QTreeWidget* tree_ = nullptr;
  QLabel* folder_path_ = nullptr;
  QListWidget* keys_ = nullptr;
  QLabel* retrieving_ = nullptr;
};
