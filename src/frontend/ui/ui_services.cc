#include "frontend/ui/ui_services.h"
#include "frontend/ui/widget_helpers.h"

#include "frontend/ui/new_job_dialog.h"
#include "frontend/ui/opener.h"

#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

std::string display_text(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      out.push_back(text[i]);
    } else if (i + 1 >= text.size() || text[i + 1] != '\n') {
      out.push_back('\n');
    }
  }
  return out;
}

namespace {

using frontend_ui::from_bytes;
}  // namespace

void QtUiServices::message(QWidget* parent, const std::string& text) {
  QMessageBox::information(parent, "Corvella", from_bytes(display_text(text)));
}

bool QtUiServices::okCancel(QWidget* parent, const std::string& text) {
  return QMessageBox::question(parent, "Corvella", from_bytes(display_text(text)),
                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok) == QMessageBox::Ok;
}

std::optional<std::string> QtUiServices::chooseFolder(QWidget* parent, const std::string& start) {
  QString chosen =
      QFileDialog::getExistingDirectory(parent, "Choose folder containing images to be verified.", from_bytes(start));
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(chosen).toStdString();
}

std::optional<std::string> QtUiServices::chooseFile(QWidget* parent, const std::string& start) {
  QString chosen = QFileDialog::getOpenFileName(parent, QString(), from_bytes(start));
  if (chosen.isEmpty()) return std::nullopt;
  return QFile::encodeName(chosen).toStdString();
}

std::string QtUiServices::askNewJobName(QWidget* parent) {
  return QFile::encodeName(frontend_ui::askNewJobName(parent)).toStdString();
}

bool QtUiServices::openFile(QWidget* parent, const std::string& path,
                           std::function<void(const std::string& why)> failed) {
  return frontend_ui::startDesktopOpener(from_bytes(path), parent, std::move(failed));
}
