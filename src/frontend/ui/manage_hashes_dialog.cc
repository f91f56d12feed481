#include "frontend/ui/manage_hashes_dialog.h"
#include "frontend/ui/widget_helpers.h"

#include <QApplication>
#include <QFont>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

using frontend_ui::from_bytes;

QLabel* caption(QWidget* parent, const char* text) {
  auto* l = new QLabel(text, parent);
  l->setWordWrap(true);
  return l;
}

}  // namespace

CDlgManageHashes::CDlgManageHashes(QWidget* parent, frontend::Database& db, UiServices& services)
    : QDialog(parent), services_(services), boxes_(services, this), model_(db, boxes_) {
  setObjectName("IDD_MANAGE_HASHES");
  setWindowTitle("Manage Hashes");

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("IDC_FOLDER_TREE");
  tree_->setHeaderHidden(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  folder_path_ = new QLabel(this);
  folder_path_->setObjectName("IDC_FOLDER_PATH");
  folder_path_->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  folder_path_->setTextFormat(Qt::PlainText);
  keys_ = new QListWidget(this);
  keys_->setObjectName("IDC_KEY_LIST");
  keys_->setSelectionMode(QAbstractItemView::NoSelection);
  keys_->setSortingEnabled(true);
  retrieving_ = new QLabel(frontend::kRetrievingFolders, this);
  retrieving_->setObjectName("IDC_RETRIEVING");
  auto* purge = new QPushButton("Purge", this);
  purge->setObjectName("IDC_PURGE");
  purge->setAutoDefault(false);
  auto* close = new QPushButton("Close", this);
  close->setObjectName("IDOK");

  auto* left = new QVBoxLayout;
  left->addWidget(caption(this, frontend::kFoldersCaption));
  left->addWidget(retrieving_);
  left->addWidget(tree_, 1);
  auto* right = new QVBoxLayout;
  right->addWidget(folder_path_);
  right->addWidget(caption(this, frontend::kKeysCaption));
  right->addWidget(keys_, 1);
  auto* purge_row = new QHBoxLayout;
  purge_row->addWidget(purge);
  purge_row->addWidget(caption(this, frontend::kPurgeCaption), 1);
  right->addLayout(purge_row);
  auto* close_row = new QHBoxLayout;
  close_row->addStretch(1);
  close_row->addWidget(close);
  right->addLayout(close_row);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 2);
  layout->addLayout(right, 3);
  resize(850, 575);

  connect(purge, &QPushButton::clicked, this, &CDlgManageHashes::OnBnClickedPurge);
  connect(close, &QPushButton::clicked, this, &CDlgManageHashes::accept);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDlgManageHashes::OnTvnSelchangedFolderTree);
  tree_->hide();
}

CDlgManageHashes::~CDlgManageHashes() = default;

void CDlgManageHashes::insertItems(const frontend::FolderItem& item, QTreeWidgetItem* parent) {
  auto* tree_item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
  tree_item->setText(0, from_bytes(item.text));
  items_[tree_item] = const_cast<frontend::FolderItem*>(&item);
  for (const auto& child : item.children) insertItems(*child, tree_item);
}

void CDlgManageHashes::LoadFolders() {
  tree_->hide();
  retrieving_->show();
  // "Retrieving folders..." is on the screen while the query runs.
  if (isVisible()) repaint();
  {
    QSignalBlocker block(tree_);
    tree_->clear();
    items_.clear();
  }
  model_.LoadFolders();
  for (const auto& top : model_.tree().top_level()) {
    insertItems(*top, nullptr);
    QTreeWidgetItem* item = tree_->topLevelItem(tree_->topLevelItemCount() - 1);
    QFont font = item->font(0);
    font.setBold(true);
    item->setFont(0, font);
    item->setExpanded(true);
  }
  retrieving_->hide();
  tree_->show();
  OnTvnSelchangedFolderTree();
}

void CDlgManageHashes::OnTvnSelchangedFolderTree() {
  QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return;
  auto found = items_.find(selected.front());
  if (found == items_.end()) return;
  std::string path = frontend::FolderTree::GetItemPath(found->second);
  folder_path_->setText(from_bytes(path));
  LoadKeys(path);
}

void CDlgManageHashes::LoadKeys(const std::string& folder) {
  keys_->clear();
  for (const std::string& line : model_.LoadKeys(folder)) keys_->addItem(from_bytes(line));
}

void CDlgManageHashes::OnBnClickedPurge() {
  std::string folder = folder_path_->text().toStdString();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  frontend::PurgeOutcome outcome = model_.OnBnClickedPurge(folder, [this](const std::string& question) {
    QApplication::restoreOverrideCursor();
    bool ok = services_.okCancel(this, question);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    return ok;
  });
  QApplication::restoreOverrideCursor();
  if (outcome != frontend::PurgeOutcome::kPurged) return;
  folder_path_->clear();
  keys_->clear();
  QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  if (selected.isEmpty()) return;
  QTreeWidgetItem* item = selected.front();
  auto found = items_.find(item);
  if (found == items_.end()) return;
  frontend::FolderItem* model_item = found->second;
  // Forget the item and its sub-items before either tree lets them go.
  std::vector<QTreeWidgetItem*> pending{item};
  while (!pending.empty()) {
    QTreeWidgetItem* next = pending.back();
    pending.pop_back();
    items_.erase(next);
    for (int i = 0; i < next->childCount(); ++i) pending.push_back(next->child(i));
  }
  {
    QSignalBlocker block(tree_);
    delete item;
    tree_->clearSelection();
  }
  model_.tree().RemoveItem(model_item);
}
