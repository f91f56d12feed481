#include "frontend/ui/preferences_dialog.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QSettings>

#include "frontend/ui/app_settings.h"
#include "frontend/ui/opener.h"

namespace frontend_ui {

ElidedPathLabel::ElidedPathLabel(QWidget* parent) : QFrame(parent) {
  setFrameStyle(QFrame::Panel | QFrame::Sunken);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void ElidedPathLabel::setPath(const QString& path) {
  path_ = path;
  setToolTip(path);
  update();
}

QSize ElidedPathLabel::sizeHint() const {
  const int margin = 2 * (frameWidth() + 3);
  return {360, fontMetrics().height() + margin};
}

void ElidedPathLabel::paintEvent(QPaintEvent* event) {
  QFrame::paintEvent(event);
  QPainter p(this);
  const QRect area = contentsRect().adjusted(3, 0, -3, 0);
  p.drawText(area, Qt::AlignLeft | Qt::AlignVCenter, fontMetrics().elidedText(path_, Qt::ElideMiddle, area.width()));
}

}  // namespace frontend_ui

namespace {

QString chooseConverter(QWidget* parent, const QString& start_folder) {
  return QFileDialog::getOpenFileName(parent, "Open", start_folder, "All files (*)");
}

}  // namespace

CDlgPreferences::CDlgPreferences(QWidget* parent, frontend::MessageBoxes* boxes)
    : QDialog(parent), boxes_(boxes), chooser_(chooseConverter) {
  if (boxes_ == nullptr) {
    own_boxes_ = std::make_unique<frontend_ui::QtMessageBoxes>(this);
    boxes_ = own_boxes_.get();
  }
  setObjectName("IDD_PREFERENCES");
  setWindowTitle("Corvella Preferences");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* grid = new QGridLayout(this);
  grid->addWidget(new QLabel("DNG Converter", this), 0, 0);
  converter_path_ = new frontend_ui::ElidedPathLabel(this);
  converter_path_->setObjectName("IDC_CONVERTER_PATH");
  grid->addWidget(converter_path_, 0, 1);
  auto* choose = new QPushButton("Choose...", this);
  choose->setObjectName("IDC_CHOOSE");
  choose->setAutoDefault(false);
  grid->addWidget(choose, 0, 2);
  // Broken by hand rather than wrapped, so that the dialog's smallest size
  // still shows the whole hint.
  auto* where = new QLabel("The DNG converter is a separate program from its maker;\ninstall it, then choose it here.",
                           this);
  where->setObjectName("IDC_CONVERTER_HINT");
  grid->addWidget(where, 1, 1, 1, 2);

  update_check_ = new QCheckBox("Update Check", this);
  update_check_->setObjectName("IDC_UPDATE_CHECK");
  grid->addWidget(update_check_, 2, 0);
  grid->addWidget(new QLabel("If checked, check weekly for updates.", this), 2, 1);

  auto* close = new QPushButton("Close", this);
  close->setObjectName("IDOK");
  close->setDefault(true);
  grid->addWidget(close, 3, 2);

  // It can grow (for a long converter path), never shrink below its text.
  grid->setSizeConstraint(QLayout::SetMinimumSize);

  connect(choose, &QPushButton::clicked, this, &CDlgPreferences::OnBnClickedChoose);
  connect(update_check_, &QCheckBox::clicked, this, &CDlgPreferences::OnBnClickedUpdateCheck);
  connect(close, &QPushButton::clicked, this, &QDialog::accept);
}

CDlgPreferences::~CDlgPreferences() = default;

void CDlgPreferences::showEvent(QShowEvent* event) {
  ShowSettings();
  QDialog::showEvent(event);
}

void CDlgPreferences::ShowSettings() {
  converter_path_->setPath(QFile::decodeName(QByteArray::fromStdString(app_settings::getConverterApp())));
  update_check_->setChecked(app_settings::value("UpdateCheck", 1).toInt() != 0);
}

void CDlgPreferences::OnBnClickedChoose() {
  // Start beside the converter set now, else in the home folder.
  QFileInfo current(QFile::decodeName(QByteArray::fromStdString(app_settings::getConverterApp())));
  QString start = current.absoluteDir().exists() ? current.absolutePath() : QDir::homePath();
  QString chosen = chooser_(this, start);
  if (chosen.isEmpty()) return;
  if (!app_settings::setConverterApp(QFile::encodeName(chosen).toStdString())) boxes_->showMessage(frontend_ui::kCantWriteProfile);
  ShowSettings();
}

void CDlgPreferences::OnBnClickedUpdateCheck() {
  if (!app_settings::setValue("UpdateCheck", update_check_->isChecked() ? 1 : 0)) {
    boxes_->showMessage(frontend_ui::kCantWriteProfile);
  }
}
