#include "frontend/ui/about_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

CAboutDlg::CAboutDlg(const QString& version, QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_ABOUT");
  setWindowTitle("About Corvella");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setObjectName("IDR_MAINFRAME");
  const QIcon app_icon = QApplication::windowIcon();
  if (!app_icon.isNull()) icon->setPixmap(app_icon.pixmap(32, 32));
  row->addWidget(icon);
  row->addWidget(new QLabel("Corvella Version", this));
  auto* shown = new QLabel(version, this);
  shown->setObjectName("IDC_VERSION");
  shown->setTextFormat(Qt::PlainText);
  shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
  row->addWidget(shown, 1);

  auto* ok = new QPushButton("OK", this);
  ok->setObjectName("IDOK");
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(row);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok);
  layout->addLayout(buttons);
}

CAboutDlg::~CAboutDlg() = default;
