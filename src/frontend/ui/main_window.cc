// The main window: its controls and menu, start-up, the run log, the menu
// commands, the Run button and quitting. Jobs, options and the folder list
// are in jobs.cc.
#include "frontend/ui/main_window.h"
#include "frontend/ui/widget_helpers.h"

#include "frontend/core/job_file.h"
#include "frontend/ui/about_dialog.h"
#include "frontend/ui/examine_dialog.h"
#include "frontend/ui/manage_hashes_dialog.h"
#include "frontend/ui/opener.h"
#include "frontend/ui/preferences_dialog.h"
#include "frontend/ui/results_dialog.h"
#include "frontend/ui/update_check.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeySequence>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QVBoxLayout>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <vector>

#include "frontend/core/exif_time.h"
#include "frontend/ui/app_settings.h"
#include "platform/files.h"
#include "util/prefs.h"
#include "util/proper.h"
#include "util/trace.h"

namespace {

using frontend_ui::button;
using frontend_ui::label;

// Where the settings sets live when there is no application-data folder:
// the installation's data folder.
constexpr const char* kFallbackPropertyRoot = CORVELLA_DATA_FOLDER;

constexpr const char* kWarranty =
    "\n\nWARRANTY\n\n"
    "This software is provided \"as is\", without warranty of any kind, express or implied, including but not "
    "limited to the warranties of merchantability, fitness for a particular purpose and noninfringement. In no "
    "event shall the authors be liable for any claim, damages or other liability, including damage to or loss of "
    "image files, arising from the use of this software.\n";
constexpr const char* kHashCredit = "\nSHA-512 reference hashes: our own implementation of the FIPS 180-4 algorithm.\n";
constexpr const char* kProgressCredit = "Thanks to the authors of the shaded progress bar that inspired ours.\n";

QCheckBox* check_box(QWidget* parent, const char* id, const char* text) {
  auto* box = new QCheckBox(text, parent);
  box->setObjectName(id);
  return box;
}

}  // namespace

CCorvellaDlg::CCorvellaDlg(MainWindowSetup setup, QWidget* parent)
    : QDialog(parent),
      setup_(std::move(setup)),
      services_(*setup_.services),
      version_(frontend_ui::productVersion().toStdString()),
      run_ui_(this, *setup_.services, [this] { clearStoreHashes(); }) {
  setObjectName("IDD_MAIN");
  setWindowTitle("Corvella");
  buildControls();
  run_log_view_.attach(run_log_edit_);
  OnInitDialog();
}

CCorvellaDlg::~CCorvellaDlg() { quitApp(); }

void CCorvellaDlg::buildControls() {
  auto* outer = new QVBoxLayout(this);
  menu_bar_ = new QMenuBar(this);
  buildMenu(menu_bar_);
  outer->setMenuBar(menu_bar_);

  body_ = new QWidget(this);
  outer->addWidget(body_);
  auto* grid = new QGridLayout(body_);

  // Jobs and folders.
  auto* left = new QVBoxLayout;
  auto* job_row = new QHBoxLayout;
  job_row->addWidget(label(body_, "Job"));
  job_ = new QComboBox(body_);
  job_->setObjectName("IDC_JOB");
  job_->setEditable(false);
  job_->setMinimumWidth(200);
  job_row->addWidget(job_, 1);
  left->addLayout(job_row);
  left->addWidget(label(body_, "Folders to Verify"));
  folders_ = new QListWidget(body_);
  folders_->setObjectName("IDC_FOLDERS");
  folders_->setSortingEnabled(false);  // kept in folderLess order by insertFolderSorted
  left->addWidget(folders_, 1);
  auto* folder_buttons = new QHBoxLayout;
  add_folder_ = button(body_, "IDC_ADD_FOLDER", "+");
  remove_folder_ = button(body_, "IDC_REMOVE_FOLDER", "-");
  edit_folder_ = button(body_, "IDC_EDIT_FOLDER", "Edit");
  folder_buttons->addWidget(add_folder_);
  folder_buttons->addWidget(remove_folder_);
  folder_buttons->addWidget(edit_folder_);
  folders_hint_ = new QLabel("Add folders and then press Run.", body_);
  folders_hint_->setObjectName("IDC_FOLDERS_HINT");
  folder_buttons->addWidget(folders_hint_, 1);
  left->addLayout(folder_buttons);
  grid->addLayout(left, 0, 0);

  // Options.
  auto* right = new QVBoxLayout;
  check_structure_ = check_box(body_, "IDC_CHECK_STRUCTURE", "Check Structure");
  check_hash_ = check_box(body_, "IDC_CHECK_HASH", "Check Hash");
  store_hashes_ = check_box(body_, "IDC_STORE_HASHES", "Store Hashes");
  keep_existing_hashes_ = check_box(body_, "IDC_KEEP_EXISTING_HASHES", "Keep Existing Hashes");
  store_invalid_tiff_hashes_ = check_box(body_, "IDC_STORE_INVALID_TIFF_HASHES", "Store Hashes for Invalid TIFFs");
  store_invalid_tiff_hashes_->setVisible(false);
  verify_jpegs_ = check_box(body_, "IDC_VERIFY_JPEGS", "Verify JPEGs");
  verify_dngs_ = check_box(body_, "IDC_VERIFY_DNGS", "Verify DNGs");
  verify_dngs_->setVisible(false);
  verify_raws_ = check_box(body_, "IDC_VERIFY_RAWS", "Verify Raws");
  verify_tiffs_ = check_box(body_, "IDC_VERIFY_TIFFS", "Verify TIFFs");
  verify_psds_ = check_box(body_, "IDC_VERIFY_PSDS", "Verify PSDs");
  tif_is_raw_ = check_box(body_, "IDC_TIF_IS_RAW", ".TIF is Raw");
  nested_folders_ = check_box(body_, "IDC_NESTED_FOLDERS", "Verify Nested Subfolders");
  record_results_ = check_box(body_, "IDC_RECORD_RESULTS", "Record Results in Database");
  for (QCheckBox* b : {check_structure_, check_hash_, store_hashes_, keep_existing_hashes_, store_invalid_tiff_hashes_,
                       verify_jpegs_, verify_dngs_, verify_raws_, verify_tiffs_, verify_psds_, tif_is_raw_,
                       nested_folders_, record_results_}) {
    right->addWidget(b);
  }
  auto* invalid_row = new QHBoxLayout;
  invalid_row->addWidget(label(body_, "Max Invalid Messages:"));
  max_invalid_ = new QLineEdit(body_);
  max_invalid_->setObjectName("IDC_MAX_INVALID");
  max_invalid_->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), max_invalid_));
  max_invalid_->setMaximumWidth(70);
  invalid_row->addWidget(max_invalid_);
  unlimited_ = check_box(body_, "IDC_UNLIMITED", "Unlimited");
  invalid_row->addWidget(unlimited_);
  invalid_row->addStretch(1);
  right->addLayout(invalid_row);
  auto* sub_row = new QHBoxLayout;
  sub_row->addWidget(label(body_, "Max Subprocesses:"));
  max_subprocesses_ = new QComboBox(body_);
  max_subprocesses_->setObjectName("IDC_MAX_SUBPROCESSES");
  for (int i = 1; i <= 8; ++i) max_subprocesses_->addItem(QString::number(i));
  sub_row->addWidget(max_subprocesses_);
  sub_row->addStretch(1);
  right->addLayout(sub_row);
  right->addStretch(1);
  run_ = button(body_, "IDC_RUN", "&Run");  // Alt+R, as the menus have theirs
  right->addWidget(run_);
  grid->addLayout(right, 0, 1);

  // The run log.
  auto* log_box = new QVBoxLayout;
  log_box->addWidget(label(body_, "Run Log"));
  run_log_edit_ = new QPlainTextEdit(body_);
  run_log_edit_->setObjectName("IDC_RUN_LOG");
  run_log_edit_->setReadOnly(true);
  run_log_edit_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  log_box->addWidget(run_log_edit_);
  grid->addLayout(log_box, 1, 0, 1, 2);
  grid->setRowStretch(0, 2);
  grid->setRowStretch(1, 3);
  resize(980, 680);

  // Option boxes that write their key (user clicks only).
  const struct {
    QCheckBox* box;
    const char* key;
  } keyed[] = {
      {check_hash_, pref_key::CheckHashes},           {check_structure_, pref_key::CheckStructure},
      {verify_jpegs_, pref_key::VerifyJPEGs},         {verify_dngs_, pref_key::VerifyDNGs},
      {verify_raws_, pref_key::VerifyRaws},           {verify_tiffs_, pref_key::VerifyTIFFs},
      {verify_psds_, pref_key::VerifyPSDs},           {nested_folders_, pref_key::NestedFolders},
      {unlimited_, pref_key::MaxInvalidInfinite},     {record_results_, pref_key::DBResults},
      {store_invalid_tiff_hashes_, pref_key::IgnoreTIFFErrors},
  };
  for (const auto& k : keyed) {
    QCheckBox* box = k.box;
    const char* key = k.key;
    connect(box, &QCheckBox::clicked, this, [this, box, key] { onOptionClicked(box, key); });
  }
  connect(tif_is_raw_, &QCheckBox::clicked, this, &CCorvellaDlg::OnBnClickedTifIsRaw);
  connect(store_hashes_, &QCheckBox::clicked, this, &CCorvellaDlg::OnBnClickedStoreHashes);
  connect(run_, &QPushButton::clicked, this, &CCorvellaDlg::OnBnClickedRun);
  connect(job_, &QComboBox::activated, this, &CCorvellaDlg::OnCbnSelchangeJob);
  connect(max_subprocesses_, &QComboBox::activated, this, &CCorvellaDlg::OnCbnSelchangeMaxSubprocesses);
  connect(max_invalid_, &QLineEdit::editingFinished, this, &CCorvellaDlg::OnEnKillfocusMaxInvalid);
  connect(folders_, &QListWidget::currentRowChanged, this, &CCorvellaDlg::OnLbnSelchangeFolders);
  connect(add_folder_, &QPushButton::clicked, this, &CCorvellaDlg::OnBnClickedAddFolder);
  connect(remove_folder_, &QPushButton::clicked, this, &CCorvellaDlg::OnBnClickedRemoveFolder);
  connect(edit_folder_, &QPushButton::clicked, this, &CCorvellaDlg::OnBnClickedEditFolder);
}

void CCorvellaDlg::buildMenu(QMenuBar* bar) {
  // The menus and their items carry the desktop's keyboard mnemonics (Alt+F,
  // then X, quits); the texts shown are the same without the "&".
  auto item = [this](QMenu* menu, const char* id, const char* text, void (CCorvellaDlg::*slot)()) {
    QAction* a = menu->addAction(text);
    a->setObjectName(id);
    if (slot != nullptr) connect(a, &QAction::triggered, this, slot);
    return a;
  };
  QMenu* file = bar->addMenu("&File");
  // Ctrl+Q quits, as it does in the desktop's other programs.
  item(file, "ID_FILE_EXIT", "E&xit", &CCorvellaDlg::OnFileExit)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  QMenu* edit = bar->addMenu("&Edit");
  // The label names the shortcut; the run log copies with it by itself.
  item(edit, "ID_EDIT_COPY", "&Copy\tCtrl+C", nullptr);
  QMenu* tools = bar->addMenu("&Tools");
  item(tools, "ID_TOOLS_RESULTS", "&Results...", &CCorvellaDlg::OnToolsResults);
  item(tools, "ID_TOOLS_MANAGE_HASHES", "&Manage Hashes...", &CCorvellaDlg::OnToolsManageHashes);
  item(tools, "ID_TOOLS_EXAMINE", "E&xamine...", &CCorvellaDlg::OnToolsExamine);
  tools->addSeparator();
  item(tools, "ID_TOOLS_PREFERENCES", "&Preferences...", &CCorvellaDlg::OnToolsPreferences);
  QMenu* help = bar->addMenu("&Help");
  item(help, "ID_HELP_WEB_SITE", "&Web Site", &CCorvellaDlg::OnHelpWebSite);
  item(help, "ID_HELP_CHECK_FOR_UPDATES", "&Check for Updates", &CCorvellaDlg::OnHelpCheckForUpdates);
  item(help, "ID_HELP_VIEW_EXTERNAL_LOG", "View External &Log", &CCorvellaDlg::OnHelpViewExternalLog);
  help->addSeparator();
  item(help, "ID_HELP_ABOUT", "&About Corvella...", &CCorvellaDlg::OnHelpAbout);
}

void CCorvellaDlg::message(const std::string& text) { services_.message(this, text); }

// Start-up, in order.
void CCorvellaDlg::OnInitDialog() {
  setLogFileNames();
  if (!log_path_.empty()) {
    std::remove(previous_log_path_.c_str());
    had_previous_launch_ = std::rename(log_path_.c_str(), previous_log_path_.c_str()) == 0;
  }
  log_setup(log_path_.empty() ? nullptr : log_path_.c_str());
  log_enabled = true;
  log_printf("App launched");

  // (The preferences dialog is made when the menu asks for it.)
  setWindowIcon(style()->standardIcon(QStyle::SP_DriveHDIcon));

  openDatabase();
  prefs.SetName("Default");
  auto app_data = platform::app_data_folder();
  property_root_ = app_data ? platform::join_path(*app_data, "Corvella") : kFallbackPropertyRoot;
  openDefaultSet();

  if (setup_.check_for_updates) setup_.check_for_updates(false, version_, run_log_, run_ui_);
  writeNotices();

  loadJob(app_settings::getCurrentJob());
  fillJobList();
  store_hashes_->setChecked(false);
  keep_existing_hashes_->setVisible(false);
  updateControls();

  hashes_ = std::make_unique<frontend::HashContext>(*db_, run_log_sink_,
                                                    std::make_unique<frontend::ExaminerExifTimeSource>());
  frontend::PoolConfig pool{setup_.worker_program.empty() ? frontend::findWorkerProgram() : setup_.worker_program,
                            property_root_,
                            {}};
  engine_ = std::make_unique<frontend::RunEngine>(run_ui_, run_log_, run_log_sink_, *db_, *hashes_, pool);
  progress_ = setup_.make_progress ? setup_.make_progress(this, *engine_)
                                   : std::make_unique<DlgProgressView>(this, *engine_);
  run_ui_.setProgressView(progress_.get());
}

void CCorvellaDlg::setLogFileNames() {
  auto folder = platform::app_data_folder();
  if (!folder) return;
  log_path_ = platform::join_path(*folder, "CorvellaLog.txt");
  capture_path_ = platform::join_path(*folder, "CorvellaLogStderr.txt");
  previous_log_path_ = platform::join_path(*folder, "CorvellaLog-PreviousLaunch.txt");
}

void CCorvellaDlg::openDatabase() {
  db_ = std::make_unique<frontend::Database>(run_log_sink_);
  auto app_data = platform::app_data_folder();
  if (!app_data) return;
  std::string folder = platform::join_path(*app_data, "Corvella");
  if (mkdir(folder.c_str(), 0777) != 0 && errno != EEXIST) message("Can't create: " + folder);
  if (!frontend::db_open(*db_, folder + "/qx_main.sqlite3")) message("Can't initialize database.");
}

// The property store and the set "Default": the existing one, or a new
// empty one saved under that name.
void CCorvellaDlg::openDefaultSet() {
  PROPSET* set = nullptr;
  if (PropInit(property_root_.c_str())) {
    set = PropSetOpen("Default");
    if (set == nullptr) {
      bool safe = frontend::keepUnreadableJob("Default", run_log_);
      set = PropSetOpen(nullptr);
      if (set != nullptr && safe) PropSetRename(set, "Default");
    }
  }
  prefs.SetCurrent(set);
  if (set == nullptr) message("prefs->Open failed");
}

void CCorvellaDlg::writeNotices() {
  run_log_.appendRunLog(kWarranty);
  run_log_.appendRunLog(kHashCredit);
  run_log_.appendRunLog(kProgressCredit);
}

void CCorvellaDlg::accept() {}

void CCorvellaDlg::reject() {
  quitApp();
  QDialog::done(QDialog::Rejected);
}

void CCorvellaDlg::closeEvent(QCloseEvent* event) {
  quitApp();
  QDialog::closeEvent(event);
}

void CCorvellaDlg::OnFileExit() {
  quitApp();
  QDialog::done(QDialog::Accepted);
}

void CCorvellaDlg::quitApp() {
  if (quitting_) return;
  quitting_ = true;
  log_printf("Quitting");
  if (engine_) engine_->quit();
  if (PROPSET* set = prefs.Set()) {
    prefs.SetCurrent(nullptr);
    if (!PropSetSave(set)) log_printf("Can't save Job: %s", set->setname != nullptr ? set->setname : "");
    PropSetFree(set);
  }
  prefs.Close();
  // The browsing windows go before the database they read.
  delete results_;
  delete manage_hashes_;
  if (db_) frontend::db_close(*db_);
  run_ui_.setProgressView(nullptr);
  progress_.reset();
  engine_.reset();
  hashes_.reset();
}

// The menu.
void CCorvellaDlg::OnToolsResults() {
  if (!db_ || quitting_) return;
  if (results_ == nullptr) results_ = new CDlgResults(this, *db_, services_);
  // Made once; afterwards only brought back to the top.
  results_->showNormal();
  results_->raise();
  results_->activateWindow();
}

void CCorvellaDlg::OnToolsManageHashes() {
  if (!db_ || quitting_) return;
  if (manage_hashes_ != nullptr) {
    manage_hashes_->raise();
    return;
  }
  manage_hashes_ = new CDlgManageHashes(this, *db_, services_);
  manage_hashes_->setAttribute(Qt::WA_DeleteOnClose);
  // Modal over the main window, without holding this call.
  manage_hashes_->open();
  manage_hashes_->LoadFolders();
}

void CCorvellaDlg::OnToolsExamine() {
  std::optional<std::string> path = services_.chooseFile(this, last_examined_);
  if (!path) return;
  last_examined_ = *path;
  openExamineWindow(*path, this);
}

void CCorvellaDlg::OnToolsPreferences() {
  CDlgPreferences dialog(this, &run_ui_);
  dialog.exec();
}

void CCorvellaDlg::OnHelpWebSite() {
  frontend_ui::DesktopOpener opener(this);
  frontend_ui::openWebSite(opener, run_ui_);
}

void CCorvellaDlg::OnHelpAbout() {
  CAboutDlg dialog(QString::fromStdString(version_), this);
  dialog.exec();
}

void CCorvellaDlg::OnHelpCheckForUpdates() {
  if (setup_.check_for_updates) setup_.check_for_updates(true, version_, run_log_, run_ui_);
}

std::string cantViewLogText(const std::string& path) {
  return "Could not open the log file " + path + " to view it.";
}

void CCorvellaDlg::OnHelpViewExternalLog() {
  // The previous launch's log (when there was a previous launch), then this
  // one's; when the first cannot be opened, the second is not tried. A box
  // names the file and says what failed.
  std::vector<const std::string*> paths;
  if (had_previous_launch_) paths.push_back(&previous_log_path_);
  paths.push_back(&log_path_);
  for (const std::string* path : paths) {
    const std::string text = cantViewLogText(*path);
    auto tell = [this, text](const std::string& why) { message(frontend_ui::withReason(text, why)); };
    if (!services_.openFile(this, *path, tell)) return;
  }
}

// The Run button.
void CCorvellaDlg::OnBnClickedRun() {
  if (!engine_) return;
  // A Max Invalid value typed just before Run counts.
  OnEnKillfocusMaxInvalid();
  frontend::RunConfig config = runConfig();
  body_->setEnabled(false);
  menu_bar_->setEnabled(false);
  last_run_ = engine_->runVerification(config);
  body_->setEnabled(true);
  menu_bar_->setEnabled(true);
}

void CCorvellaDlg::clearStoreHashes() {
  store_hashes_->setChecked(false);
  keep_existing_hashes_->setVisible(false);
  updateControls();
}
