#include "frontend/ui/opener.h"

#include <unistd.h>

#include <QDir>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QTemporaryFile>
#include <memory>

namespace frontend_ui {

namespace {

// How much of the opener's error output is looked at for its first line,
// and how much of that line is shown.
constexpr qint64 kErrorPeek = 4096;
constexpr qsizetype kErrorLineShown = 300;

}  // namespace

std::string openerStartFailure(const QString& program, const QString& error) {
  return program.toStdString() + " could not be started: " + error.toStdString();
}

std::string openerExitFailure(const QString& program, bool crashed, int exit_status, const QByteArray& error_output) {
  std::string why = program.toStdString();
  why += crashed ? " ended abnormally" : " ended with exit status " + std::to_string(exit_status);
  for (const QByteArray& piece : error_output.split('\n')) {
    QByteArray line = piece.trimmed();
    if (line.isEmpty()) continue;
    why += ": " + line.left(kErrorLineShown).toStdString();
    break;
  }
  return why;
}

std::string withReason(const std::string& text, const std::string& why) { return text + "\r\r" + why; }

bool startDesktopOpener(const QString& target, QObject* context, OpenFailed failed, const QString& program) {
  // Not parented: the viewer or browser it starts must outlive a window, and
  // a QProcess ends its process when it is destroyed.
  auto* process = new QProcess;
  process->setProgram(program);
  process->setArguments({target});
  process->setStandardInputFile(QProcess::nullDevice());
  process->setStandardOutputFile(QProcess::nullDevice());
  // Its error output goes into a file, not a pipe: the viewer it starts
  // inherits it and may write long after the opener has ended, which a pipe
  // that nobody reads any more would punish by ending the viewer.
  auto errors = std::make_shared<QTemporaryFile>(QDir::temp().filePath("corvella-opener-XXXXXX"));
  errors->setAutoRemove(false);
  const bool keep_errors = errors->open();
  process->setStandardErrorFile(keep_errors ? errors->fileName() : QProcess::nullDevice());
  process->start();
  const bool started = process->waitForStarted();
  // The started program holds the file open by now; the name can go, so
  // that nothing is left behind whenever it ends.
  if (keep_errors) unlink(QFile::encodeName(errors->fileName()).constData());
  if (!started) {
    std::string why = openerStartFailure(program, process->errorString());
    delete process;
    if (failed) failed(why);
    return false;
  }
  QPointer<QObject> alive(context);
  QObject::connect(process, &QProcess::finished, process,
                   [process, alive, errors, program, failed = std::move(failed)](int code,
                                                                                 QProcess::ExitStatus status) {
                     process->deleteLater();
                     const bool crashed = status != QProcess::NormalExit;
                     if ((!crashed && code == 0) || !alive || !failed) return;
                     QByteArray output;
                     if (errors->isOpen() && errors->seek(0)) output = errors->read(kErrorPeek);
                     failed(openerExitFailure(program, crashed, code, output));
                   });
  return true;
}

bool DesktopOpener::openUrl(const QUrl& url, OpenFailed failed) {
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
