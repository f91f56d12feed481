#include "frontend/ui/opener.h"

#include <QMessageBox>
#include <QPointer>
#include <QProcess>

namespace frontend_ui {

bool startDesktopOpener(const QString& target, QObject* context, std::function<void()> failed) {
  // Not parented: the viewer or browser it starts must outlive a window, and
  // a QProcess ends its process when it is destroyed.
  auto* process = new QProcess;
  process->setProgram("xdg-open");
  process->setArguments({target});
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  process->start();
  if (!process->waitForStarted()) {
    delete process;
    return false;
  }
  QPointer<QObject> alive(context);
  QObject::connect(process, &QProcess::finished, process,
                   [process, alive, failed = std::move(failed)](int code, QProcess::ExitStatus status) {
                     process->deleteLater();
                     if ((status != QProcess::NormalExit || code != 0) && alive && failed) failed();
                   });
  return true;
}

bool DesktopOpener::openUrl(const QUrl& url, std::function<void()> failed) {
  return startDesktopOpener(url.toString(QUrl::FullyEncoded), context_, std::move(failed));
}

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
