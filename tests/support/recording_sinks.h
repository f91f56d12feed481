// Stand-ins for the window's run log and message boxes that keep what they
// were given, for tests of the run core and of the dialogs.
#pragma once

#include <string>
#include <vector>

#include "frontend/core/reporters.h"
#include "frontend/core/run_log.h"

namespace testing_support {

// A run log that keeps its text; appendRunLog(nullptr) clears it.
class RecordingLog : public frontend::RunLogSink {
 public:
  void appendRunLog(const char* text) override {
    if (text == nullptr) {
      text_.clear();
    } else {
      text_ += text;
    }
  }
  void appendRunLogNotice(const char* text) override { text_ += text; }
  std::string text_;
};

// Message boxes that are never shown, only noted.
class RecordingBoxes : public frontend::MessageBoxes {
 public:
  void showMessage(const std::string& text) override { shown.push_back(text); }
  std::vector<std::string> shown;
};

}  // namespace testing_support
