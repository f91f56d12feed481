#include "frontend/ui/about_dialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLayout>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

// Room the desktop's title bar takes beside the title (its buttons, the
// window icon), and the title bar's font running wider than ours.
constexpr int kTitleBarButtons = 140;
constexpr double kTitleFontAllowance = 1.4;

}  // namespace

CAboutDlg::CAboutDlg(const QString& version, QWidget* parent) : QDialog(parent) {
  setObjectName("IDD_ABOUT");
  setWindowTitle("About Corvella");
  setWindowFlag(Qt::WindowContextHelpButtonHint, false);

  auto* row = new QHBoxLayout;
  auto* icon = new QLabel(this);
  icon->setObjectName("IDR_MAINFRAME");
  // The program's icon: the main window's, else the application's, else
  // the style's drive icon that the main window also uses.
  QIcon app_icon = parent != nullptr ? parent->windowIcon() : QApplication::windowIcon();
  if (app_icon.isNull()) app_icon = style()->standardIcon(QStyle::SP_DriveHDIcon);
  icon->setPixmap(app_icon.pixmap(48, 48));
  icon->setAlignment(Qt::AlignTop);
  row->addWidget(icon);
  auto* text = new QVBoxLayout;
  auto* name_row = new QHBoxLayout;
  name_row->addWidget(new QLabel("Corvella Version", this));
  auto* shown = new QLabel(version, this);
  shown->setObjectName("IDC_VERSION");
  shown->setTextFormat(Qt::PlainText);
  shown->setTextInteractionFlags(Qt::TextSelectableByMouse);
  name_row->addWidget(shown, 1);
  text->addLayout(name_row);
  text->addWidget(new QLabel("Checks folders of photographs for damaged or altered image files.", this));
  row->addLayout(text, 1);

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
  // As large as its text and its title need, and no smaller.
  layout->setSizeConstraint(QLayout::SetFixedSize);
  const int title = static_cast<int>(fontMetrics().horizontalAdvance(windowTitle()) * kTitleFontAllowance);
  setMinimumWidth(title + kTitleBarButtons);
}

CAboutDlg::~CAboutDlg() = default;
