// corvella: the desktop front end. Shows the main window until it is closed.
#include <QApplication>
#include <QStyle>
#include <clocale>
#include <csignal>

#include "frontend/core/worker_pool.h"
#include "frontend/ui/app_settings.h"
#include "frontend/ui/main_window.h"
#include "frontend/ui/update_check.h"
#include "frontend/ui/ui_services.h"

int main(int argc, char** argv) {
  // A worker that died must give a write error, not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  QApplication app(argc, argv);
  // QApplication takes the user's locale; numbers and times in files and
  // logs are written in the C locale.
  std::setlocale(LC_NUMERIC, "C");
  std::setlocale(LC_TIME, "C");
  QApplication::setOrganizationName(app_settings::kOrganisation);
  QApplication::setApplicationName(app_settings::kApplication);
  // Every window's icon, the About box's included.
  QApplication::setWindowIcon(app.style()->standardIcon(QStyle::SP_DriveHDIcon));

  QtUiServices services;
  MainWindowSetup setup;
  setup.services = &services;
  setup.worker_program = frontend::findWorkerProgram();
  setup.check_for_updates = [](bool manual, std::string& version_text, frontend::RunLogSink& log,
                               frontend::MessageBoxes& boxes) {
    QString text = QString::fromStdString(version_text);
    frontend_ui::checkForUpdates(manual, text, log, boxes);
    version_text = text.toStdString();
  };
  CCorvellaDlg window(std::move(setup));
  window.show();
  return app.exec();
}
