// The one QApplication of the widget tests, made on first use.
#pragma once

class QApplication;

namespace testing_support {
QApplication& qt_app();
}  // namespace testing_support
