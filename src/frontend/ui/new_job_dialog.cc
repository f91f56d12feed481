#include "frontend/ui/new_job_dialog.h"

#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "frontend/ui/opener.h"
#include "util/proper.h"

namespace frontend_ui {

namespace {

// The job list's own entries after the jobs (see the main window's list).
const char* const kJobListEntries[] = {"---------------", "New...", "Delete"};

}  // namespace

QString filterJobNameOnce(const QString& name) {
  for (QChar c : {QChar('/'), QChar(':'), QChar('\\')}) {
    if (name.contains(c)) return QString(name).remove(c);
  }
  return name;
}

QString jobNameRefusal(const QString& name) {
  if (name.isEmpty()) return {};
  for (const char* entry : kJobListEntries) {
    if (name == QLatin1String(entry)) {
      return QString("\"%1\" is an entry of the job list and can't name a job. Please choose another name.").arg(name);
    }
  }
  if (name.startsWith('.')) {
    return "A job name can't begin with \".\": such a job would not appear in the job list. "
           "Please choose another name.";
  }
  if (!PropSetNameValid(QFile::encodeName(name).constData())) {
    return QString("\"%1\" can't name a job. Please choose another name.").arg(name);
  }
  return {};
}

QString askNewJobName(QWidget* parent, frontend::MessageBoxes* boxes) {
  CDlgNewFolderName dialog(parent, boxes);
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.name();
}

}  // namespace frontend_ui

CDlgNewFolderName::CDlgNewFolderName(QWidget* parent, frontend::MessageBoxes* boxes) : QDialog(parent), boxes_(boxes) {
  if (boxes_ == nullptr) {
    own_boxes_ = std::make_unique<frontend_ui::QtMessageBoxes>(this);
    boxes_ = own_boxes_.get();
  }
  setObjectName("IDD_NEW_JOB");
  setWindowTitle("New Job");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* layout = new QVBoxLayout(this);
  edit_ = new QLineEdit(this);
  edit_->setObjectName("IDC_JOB_NAME");
  edit_->setMaxLength(frontend_ui::kMaxJobNameLength);
  edit_->setMinimumWidth(260);
  layout->addWidget(edit_);

  auto* buttons = new QDialogButtonBox(this);
  QPushButton* ok = buttons->addButton(QDialogButtonBox::Ok);
  ok->setObjectName("IDOK");
  ok->setDefault(true);
  QPushButton* cancel = buttons->addButton(QDialogButtonBox::Cancel);
  cancel->setObjectName("IDCANCEL");
  layout->addWidget(buttons);

  connect(buttons, &QDialogButtonBox::accepted, this, &CDlgNewFolderName::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  // Programmatic changes notify too, so writing the filtered name back runs
  // the filter again until nothing is left to remove.
  connect(edit_, &QLineEdit::textChanged, this, &CDlgNewFolderName::OnEnChangeJobName);
}

CDlgNewFolderName::~CDlgNewFolderName() = default;

void CDlgNewFolderName::OnEnChangeJobName() {
  name_ = edit_->text();
  QString filtered = frontend_ui::filterJobNameOnce(name_);
  if (filtered != name_) {
    edit_->setText(filtered);
    edit_->setCursorPosition(static_cast<int>(edit_->text().size()));
  }
}

void CDlgNewFolderName::accept() {
  name_ = edit_->text();
  QString refusal = frontend_ui::jobNameRefusal(name_);
  if (!refusal.isEmpty()) {
    boxes_->showMessage(refusal.toStdString());
    edit_->setFocus();
    edit_->selectAll();
    return;
  }
  QDialog::accept();
}
