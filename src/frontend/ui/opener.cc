#include "frontend/ui/opener.h"

#include <QDesktopServices>
#include <QMessageBox>

namespace frontend_ui {

void DesktopOpener::openUrl(const QUrl& url) { QDesktopServices::openUrl(url); }

QString messageBoxText(const std::string& text) {
  QString shown = QString::fromStdString(text);
  shown.replace("\r\n", "\n");
  shown.replace('\r', '\n');
  return shown;
}

void QtMessageBoxes::showMessage(const std::string& text) {
  QMessageBox::information(parent_, "Corvella", messageBoxText(text));
}

}  // namespace frontend_ui
