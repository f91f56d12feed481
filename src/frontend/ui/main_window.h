// The main window, CCorvellaDlg: jobs, their options and folders, the Run
// button, the run log and the menu. It owns the program's state from
// start-up to quitting: the current job (through prefs), the database, the
// reference-hash context and the run engine with its workers.
//
// Thread: the window's thread. During a run the run thread reaches the
// window only through QtRunUi and QtRunLogSink.
#pragma once

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "frontend/core/database.h"
#include "frontend/core/hash_context.h"
#include "frontend/core/run_engine.h"
#include "frontend/core/run_log.h"
#include "frontend/ui/manage_hashes_dialog.h"
#include "frontend/ui/qt_run_ui.h"
#include "frontend/ui/results_dialog.h"
#include "frontend/ui/run_log_view.h"
#include "frontend/ui/ui_services.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QMenuBar;
class QPlainTextEdit;
class QPushButton;

// Help-View External Log's box when a log file cannot be shown.
std::string cantViewLogText(const std::string& path);

// How the window is put together; tests replace the services and hooks.
struct MainWindowSetup {
  UiServices* services = nullptr;  // required
  std::string worker_program;      // corvex
  // The update check; manual is false at launch. It writes into the run log,
  // shows its boxes, and may amend the version text (" (up-to-date)").
  std::function<void(bool manual, std::string& version_text, frontend::RunLogSink& log,
                     frontend::MessageBoxes& boxes)>
      check_for_updates;
  // The progress dialog the runs use (made by the window when not given).
  std::function<std::unique_ptr<ProgressView>(QWidget* parent, frontend::RunEngine& engine)> make_progress;
};

// The folder list's order: without regard to case, ties by exact text.
bool folderLess(const std::string& a, const std::string& b);

class CCorvellaDlg : public QDialog {
  Q_OBJECT
 public:
  explicit CCorvellaDlg(MainWindowSetup setup, QWidget* parent = nullptr);
  ~CCorvellaDlg() override;

  // Enter does nothing; Escape quits.
  void accept() override;
  void reject() override;

  // The orderly end; runs once.
  void quitApp();

  // Jobs, options and folders.
  void fillJobList();
  void loadJob(const std::string& name);
  void switchJob(const std::string& name);
  void selectJobInCombo(const std::string& name);
  void setExtensionDefaults();
  void updateControls();
  void fillFolderList();
  void updateFolderButtons();
  void saveFolders();
  void editFolder(int index);

  // What the window holds, for the program and for tests.
  frontend::RunLog& runLog() { return run_log_; }
  frontend::RunEngine* engine() { return engine_.get(); }
  frontend::Database* database() { return db_.get(); }
  const std::string& propertyRoot() const { return property_root_; }
  const std::string& logPath() const { return log_path_; }
  const std::string& capturePath() const { return capture_path_; }
  const std::string& previousLogPath() const { return previous_log_path_; }
  const std::string& versionText() const { return version_; }
  // The last run's outcome.
  const frontend::RunOutcome& lastRun() const { return last_run_; }
  // The browsing windows while they exist.
  CDlgResults* resultsWindow() const { return results_; }
  CDlgManageHashes* manageHashesWindow() const { return manage_hashes_; }
  // The run snapshot as Run would take it now.
  frontend::RunConfig runConfig();

 public slots:
  void OnBnClickedRun();
  void OnCbnSelchangeJob(int index);
  void OnBnClickedStoreHashes();
  void OnBnClickedTifIsRaw();
  void OnEnKillfocusMaxInvalid();
  void OnCbnSelchangeMaxSubprocesses(int index);
  void OnLbnSelchangeFolders(int row);
  void OnBnClickedAddFolder();
  void OnBnClickedRemoveFolder();
  void OnBnClickedEditFolder();
  void OnToolsResults();
  void OnToolsManageHashes();
  void OnToolsExamine();
  void OnToolsPreferences();
  void OnHelpWebSite();
  void OnHelpCheckForUpdates();
  void OnHelpViewExternalLog();
  void OnHelpAbout();
  void OnFileExit();

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void buildControls();
  void buildMenu(QMenuBar* bar);
  void OnInitDialog();
  void setLogFileNames();
  void openDatabase();
  void openDefaultSet();
  void writeNotices();
  void message(const std::string& text);
  void onOptionClicked(QCheckBox* box, const char* key);
  void insertFolderSorted(const std::string& folder);
  int storedMaxSubProcesses() const;
  std::string storedMaxInvalid() const;
  void clearStoreHashes();
  void setCurrentJob(const std::string& name);

  MainWindowSetup setup_;
  UiServices& services_;
  std::string version_;

  // Controls.
  QWidget* body_ = nullptr;
  QMenuBar* menu_bar_ = nullptr;
  QPushButton* run_ = nullptr;
  QCheckBox* store_hashes_ = nullptr;
  QCheckBox* keep_existing_hashes_ = nullptr;
  QCheckBox* store_invalid_tiff_hashes_ = nullptr;
  QCheckBox* check_hash_ = nullptr;
  QCheckBox* check_structure_ = nullptr;
  QCheckBox* verify_jpegs_ = nullptr;
  QCheckBox* verify_dngs_ = nullptr;
  QCheckBox* verify_raws_ = nullptr;
  QCheckBox* verify_tiffs_ = nullptr;
  QCheckBox* verify_psds_ = nullptr;
  QCheckBox* tif_is_raw_ = nullptr;
  QComboBox* job_ = nullptr;
  QListWidget* folders_ = nullptr;
  QPushButton* add_folder_ = nullptr;
  QPushButton* remove_folder_ = nullptr;
  QPushButton* edit_folder_ = nullptr;
  QLabel* folders_hint_ = nullptr;
  QPlainTextEdit* run_log_edit_ = nullptr;
  QCheckBox* record_results_ = nullptr;
  QCheckBox* nested_folders_ = nullptr;
  QCheckBox* unlimited_ = nullptr;
  QLineEdit* max_invalid_ = nullptr;
  QComboBox* max_subprocesses_ = nullptr;

  // The run log and how every thread writes to it.
  frontend::PlainTextRunLogView run_log_view_;
  frontend::RunLog run_log_{&run_log_view_};
  QtRunLogSink run_log_sink_{run_log_};
  QtRunUi run_ui_;

  std::string log_path_;
  std::string capture_path_;
  std::string previous_log_path_;
  std::string property_root_;
  std::string last_chosen_folder_;
  std::string last_examined_;
  int selected_folder_ = -1;
  bool quitting_ = false;
  // Whether start-up found the log of a previous launch (and kept it under
  // the previous-launch name).
  bool had_previous_launch_ = false;

  std::unique_ptr<frontend::Database> db_;
  std::unique_ptr<frontend::HashContext> hashes_;
  std::unique_ptr<frontend::RunEngine> engine_;
  std::unique_ptr<ProgressView> progress_;
  frontend::RunOutcome last_run_;
  QPointer<CDlgResults> results_;
  QPointer<CDlgManageHashes> manage_hashes_;
};
