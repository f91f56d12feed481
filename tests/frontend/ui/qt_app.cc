#include "qt_app.h"

#include <QApplication>

namespace testing_support {

QApplication& qt_app() {
  static int argc = 1;
  static char name[] = "frontend_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

}  // namespace testing_support
