// The main window under test: a private settings, data and log folder,
// faked message boxes, choosers and viewer, and helpers that find the
// window's controls by their ids.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "frontend/ui/main_window.h"
#include "qt_app.h"
#include "support/temp_folder.h"
#include "util/trace.h"

namespace testing_support {

// Records every box and answers from queues (OK, nothing chosen, no name
// when a queue is empty).
class FakeUiServices : public UiServices {
 public:
  std::vector<std::string> messages;
  std::vector<std::string> questions;
  std::deque<bool> answers;
  std::deque<std::string> folders;
  std::vector<std::string> folder_starts;
  std::deque<std::string> files;
  std::vector<std::string> file_starts;
  std::deque<std::string> job_names;
  std::vector<std::string> opened;
  bool open_fails = false;       // the viewer cannot be started
  bool open_fails_late = false;  // it starts, then reports failure
  std::string open_failure = "xdg-open ended with exit status 3: xdg-open: no method available";

  void message(QWidget*, const std::string& text) override { messages.push_back(text); }
  bool okCancel(QWidget*, const std::string& text) override {
    questions.push_back(text);
    if (answers.empty()) return true;
    bool a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<std::string> chooseFolder(QWidget*, const std::string& start) override {
    folder_starts.push_back(start);
    if (folders.empty()) return std::nullopt;
    std::string f = folders.front();
    folders.pop_front();
    return f;
  }
  std::optional<std::string> chooseFile(QWidget*, const std::string& start) override {
    file_starts.push_back(start);
    if (files.empty()) return std::nullopt;
    std::string f = files.front();
    files.pop_front();
    return f;
  }
  std::string askNewJobName(QWidget*) override {
    if (job_names.empty()) return {};
    std::string n = job_names.front();
    job_names.pop_front();
    return n;
  }
  bool openFile(QWidget*, const std::string& path, std::function<void(const std::string&)> failed) override {
    opened.push_back(path);
    if ((open_fails || open_fails_late) && failed) failed(open_failure);
    return !open_fails;
  }
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    qt_app();
    env_ = std::make_unique<IsolatedEnvironment>(dir_.path());
    use_isolated_settings();
    data_ = dir_.sub("home/.local/share");
    root_ = data_ + "/Corvella";
  }
  void TearDown() override {
    window_.reset();
    log_reset();
  }

  CCorvellaDlg& open(MainWindowSetup setup = {}) {
    setup.services = &ui_;
    window_ = std::make_unique<CCorvellaDlg>(std::move(setup));
    return *window_;
  }
  void close() { window_.reset(); }

  template <typename T>
  T* control(const char* id) {
    T* w = window_->findChild<T*>(id);
    EXPECT_NE(w, nullptr) << id;
    return w;
  }
  QCheckBox* box(const char* id) { return control<QCheckBox>(id); }
  QComboBox* jobs() { return control<QComboBox>("IDC_JOB"); }
  QListWidget* folders() { return control<QListWidget>("IDC_FOLDERS"); }
  std::vector<std::string> comboEntries() {
    std::vector<std::string> out;
    for (int i = 0; i < jobs()->count(); ++i) out.push_back(jobs()->itemText(i).toStdString());
    return out;
  }
  std::vector<std::string> folderEntries() {
    std::vector<std::string> out;
    for (int i = 0; i < folders()->count(); ++i) out.push_back(folders()->item(i)->text().toStdString());
    return out;
  }
  // Picks a combo entry as the user does.
  void chooseJob(const std::string& text) {
    int index = jobs()->findText(QString::fromStdString(text), Qt::MatchExactly | Qt::MatchCaseSensitive);
    ASSERT_GE(index, 0) << text;
    jobs()->setCurrentIndex(index);
    emit jobs()->activated(index);
  }
  std::string setFile(const std::string& job) { return root_ + "/QXMain/" + job; }
  std::string setText(const std::string& job) { return read_file(setFile(job)); }
  void writeSet(const std::string& job, const std::string& lines) {
    dir_.write_file("home/.local/share/Corvella/QXMain/" + job, "Version\t1\nDate\tMon Jan  1 00:00:00 2024\n" + lines);
  }
  std::string settingsValue(const char* name) {
    QSettings s("Aldercrest", "Corvella");
    return s.value(QString("App/") + name).toString().toStdString();
  }
  void setSettingsValue(const char* name, const std::string& value) {
    QSettings s("Aldercrest", "Corvella");
    s.setValue(QString("App/") + name, QString::fromStdString(value));
  }
  // The run log as the box shows it.
  std::string shownLog() { return control<QPlainTextEdit>("IDC_RUN_LOG")->toPlainText().toStdString(); }

  TempFolder dir_;
  std::unique_ptr<IsolatedEnvironment> env_;
  std::string data_;
  std::string root_;
  FakeUiServices ui_;
  std::unique_ptr<CCorvellaDlg> window_;
};

}  // namespace testing_support
