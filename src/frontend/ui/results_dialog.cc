#include "frontend/ui/results_dialog.h"
#include "frontend/ui/widget_helpers.h"

#include "frontend/ui/app_settings.h"
#include "frontend/ui/opener.h"

#include <QFile>
#include <QFont>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShowEvent>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "frontend/ui/examine_dialog.h"

namespace {

using frontend_ui::button;
using frontend_ui::from_bytes;
using frontend_ui::label;

// Where an item keeps its node's kind and run id.
constexpr int kKindRole = Qt::UserRole;
constexpr int kRunIdRole = Qt::UserRole + 1;

}  // namespace

CDlgResults::CDlgResults(QWidget* owner, frontend::Database& db, UiServices& services)
    : QDialog(nullptr), owner_(owner), services_(services), boxes_(services, this), model_(db, boxes_) {
  setObjectName("IDD_RESULTS");
  setWindowTitle("Verification Results");
  setModal(false);
  setSizeGripEnabled(true);

  tree_ = new QTreeWidget(this);
  tree_->setObjectName("IDC_RUN_TREE");
  tree_->setHeaderHidden(true);
  tree_->setRootIsDecorated(true);
  tree_->setSelectionMode(QAbstractItemView::SingleSelection);
  run_text_ = new QPlainTextEdit(this);
  run_text_->setObjectName("IDC_RUN_TEXT");
  run_text_->setReadOnly(true);
  details_ = new QListWidget(this);
  details_->setObjectName("IDC_DETAIL_LIST");
  details_->setSelectionMode(QAbstractItemView::SingleSelection);

  QPushButton* refresh = button(this, "IDC_REFRESH", "Refresh");
  QPushButton* folder = button(this, "IDC_CONTAINING_FOLDER", "Containing Folder");
  QPushButton* examine = button(this, "IDC_EXAMINE", "Examine...");
  QPushButton* ok = button(this, "IDOK", "OK");

  auto* left = new QVBoxLayout;
  left->addWidget(label(this, "Runs"));
  left->addWidget(tree_, 1);
  left->addWidget(refresh, 0, Qt::AlignLeft);
  auto* right = new QVBoxLayout;
  right->addWidget(label(this, "Selected Run"));
  right->addWidget(run_text_, 1);
  right->addWidget(label(this, "Suspected Invalid Images"));
  right->addWidget(details_, 1);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(folder);
  buttons->addWidget(examine);
  buttons->addStretch(1);
  buttons->addWidget(ok);
  right->addLayout(buttons);
  auto* layout = new QHBoxLayout(this);
  layout->addLayout(left, 2);
  layout->addLayout(right, 3);
  resize(1000, 680);

  connect(refresh, &QPushButton::clicked, this, &CDlgResults::OnBnClickedRefresh);
  connect(folder, &QPushButton::clicked, this, &CDlgResults::OnBnClickedContainingFolder);
  connect(examine, &QPushButton::clicked, this, &CDlgResults::OnBnClickedExamine);
  connect(ok, &QPushButton::clicked, this, &CDlgResults::accept);
  connect(details_, &QListWidget::itemDoubleClicked, this, &CDlgResults::OnBnClickedExamine);
  connect(details_, &QListWidget::currentRowChanged, this, &CDlgResults::OnLbnSelchangeDetailList);
  connect(tree_, &QTreeWidget::itemSelectionChanged, this, &CDlgResults::OnTvnSelchangedRunTree);
}

CDlgResults::~CDlgResults() = default;

void CDlgResults::accept() { hide(); }
void CDlgResults::reject() { hide(); }

std::optional<QRect> decodeWindowPlacement(const QByteArray& bytes) {
  if (bytes.size() != 44) return std::nullopt;
  auto at = [&bytes](int offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(bytes[offset + i]);
    return static_cast<int32_t>(v);
  };
  int left = at(28), top = at(32), right = at(36), bottom = at(40);
  if (right <= left || bottom <= top) return std::nullopt;
  return QRect(QPoint(left, top), QSize(right - left, bottom - top));
}

void CDlgResults::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (event->spontaneous() || shown_before_) return;
  shown_before_ = true;
  // A placement stored by an earlier version of the program wins; it is
  // read, never written.
  auto stored = decodeWindowPlacement(app_settings::value("DlgResultsPlacement", QByteArray()).toByteArray());
  if (stored) {
    setGeometry(*stored);
  } else if (owner_ != nullptr) {
    move(owner_->frameGeometry().topLeft() + QPoint(20, 50));
  }
  LoadRuns();
}

void CDlgResults::LoadRuns() {
  // A failed rebuild keeps the items the tree had.
  if (!model_.LoadRuns()) return;
  QSignalBlocker block(tree_);
  tree_->clear();
  auto insert = [this](const frontend::ResultObj& node, QTreeWidgetItem* parent, bool bold) {
    auto* item = parent != nullptr ? new QTreeWidgetItem(parent) : new QTreeWidgetItem(tree_);
    item->setText(0, from_bytes(node.GetName()));
    item->setData(0, kKindRole, node.kind);
    item->setData(0, kRunIdRole, node.run_id);
    // Only runs can be selected.
    if (node.kind != frontend::ResultObj::kRun) item->setFlags(Qt::ItemIsEnabled);
    if (bold) {
      QFont font = item->font(0);
      font.setBold(true);
      item->setFont(0, font);
    }
    return item;
  };
  frontend::InsertNodes<QTreeWidgetItem*>(model_.root(), nullptr, insert);
  // The date and job groups are expanded; the folder group stays collapsed.
  for (int i = 0; i < tree_->topLevelItemCount() && i < 2; ++i) tree_->topLevelItem(i)->setExpanded(true);
  // The selection went with the old items.
  OnTvnSelchangedRunTree();
}

void CDlgResults::OnBnClickedRefresh() { LoadRuns(); }

void CDlgResults::OnTvnSelchangedRunTree() {
  QList<QTreeWidgetItem*> selected = tree_->selectedItems();
  bool shown = selected.isEmpty() ? model_.ShowRun(frontend::ResultObj::kNotSet, -1)
                                  : model_.ShowRun(selected.front()->data(0, kKindRole).toInt(),
                                                   selected.front()->data(0, kRunIdRole).toInt());
  if (shown) run_text_->setPlainText(from_bytes(display_text(model_.run_text())));
  model_.FillDetailList(*this);
}

void CDlgResults::clearDetailList() {
  QSignalBlocker block(details_);
  details_->clear();
}

void CDlgResults::addDetailLine(const std::string& line) {
  QSignalBlocker block(details_);
  details_->addItem(from_bytes(line));
}

void CDlgResults::OnLbnSelchangeDetailList(int row) {
  if (moving_selection_) return;
  int path_row = model_.DetailPathRow(row);
  if (path_row < 0 || path_row == row) return;
  moving_selection_ = true;
  details_->setCurrentRow(path_row);
  moving_selection_ = false;
}

std::string CDlgResults::GetSelectedPath() {
  int row = details_->selectedItems().isEmpty() ? -1 : details_->currentRow();
  int path_row = model_.DetailPathRow(row);
  if (path_row >= 0 && path_row != row) {
    moving_selection_ = true;
    details_->setCurrentRow(path_row);
    moving_selection_ = false;
  }
  return model_.GetSelectedPath(row);
}

void CDlgResults::OnBnClickedContainingFolder() {
  std::string folder;
  if (!frontend::containing_folder(GetSelectedPath(), &folder)) {
    boxes_.showMessage(frontend::kCantDetermineFolder);
    return;
  }
  services_.openFile(this, folder, [this](const std::string& why) {
    boxes_.showMessage(frontend_ui::withReason(frontend::kCantShowFolder, why));
  });
}

// Over this window, so that it too stays usable during a run.
void CDlgResults::OnBnClickedExamine() { openExamineWindow(GetSelectedPath(), this); }
