// The one QApplication of the widget tests, and settings kept inside a
// test's temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QSettings>
#include <cstdlib>
#include <string>

namespace testing_support {

// Made on first use and kept until the process ends; every widget test
// calls it before making a widget.
inline QApplication& qt_app() {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "frontend_ui_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// QSettings works out the user's settings folder once per process, so a test
// that points XDG_CONFIG_HOME at its own folder (IsolatedEnvironment) must
// tell QSettings too. Call after the environment is in place.
inline void use_isolated_settings() {
  qt_app();
  const char* config = std::getenv("XDG_CONFIG_HOME");
  if (config == nullptr) std::abort();
  QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
  QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, QString::fromLocal8Bit(config));
}

// A fixture whose widgets (members included) are made after the application.
class QtTest : public ::testing::Test {
 protected:
  QtTest() { qt_app(); }
};

}  // namespace testing_support
