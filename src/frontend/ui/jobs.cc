// The main window's jobs, job options and folder list: loading, switching,
// creating and deleting jobs, the option controls and the keys they write,
// and the sorted folder list with its editing.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSignalBlocker>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "frontend/core/job_file.h"
#include "frontend/core/run_log.h"
#include "frontend/ui/app_settings.h"
#include "frontend/ui/widget_helpers.h"
#include "frontend/ui/main_window.h"
#include "util/prefs.h"
#include "util/proper.h"
#include "util/trace.h"

namespace {

using frontend_ui::from_bytes;
using frontend_ui::to_bytes;

constexpr const char* kSeparator = "---------------";
constexpr const char* kNewJob = "New...";
constexpr const char* kDeleteJob = "Delete";

// A string value of the current set, or nothing.
const char* set_text(const char* key, int index) {
  PROPVAL* pv = PropGet(prefs.Set(), key, index);
  return pv != nullptr && pv->type == PROPVAL_STR ? pv->v.strval : nullptr;
}

}  // namespace

bool folderLess(const std::string& a, const std::string& b) {
  int folded = strcasecmp(a.c_str(), b.c_str());
  if (folded != 0) return folded < 0;
  return a < b;
}

void CCorvellaDlg::setCurrentJob(const std::string& name) {
  if (!app_settings::writeCurrentJob(name)) log_printf("Can't write profile string CurrentJob");
  prefs.SetName(name.c_str());
}

// The entry equal to the name; "Default" when there is none.
void CCorvellaDlg::selectJobInCombo(const std::string& name) {
  int index = job_->findText(from_bytes(name), Qt::MatchExactly | Qt::MatchCaseSensitive);
  if (index < 0) index = job_->findText("Default", Qt::MatchExactly | Qt::MatchCaseSensitive);
  QSignalBlocker block(job_);
  job_->setCurrentIndex(index);
}

void CCorvellaDlg::fillJobList() {
  QSignalBlocker block(job_);
  job_->clear();
  int count = PropSetCount();
  job_->addItem("Default");
  for (int i = 0; i < count; ++i) {
    char* name = nullptr;
    if (!PropSetEnum(i, &name)) {
      message("Error accessing job names");
      break;
    }
    if (name == nullptr) break;
    if (strcmp(name, "Default") != 0) job_->addItem(QFile::decodeName(name));
    free(name);
  }
  job_->addItem(kSeparator);
  job_->addItem(kNewJob);
  job_->addItem(kDeleteJob);
  selectJobInCombo(app_settings::getCurrentJob());
}

void CCorvellaDlg::loadJob(const std::string& requested) {
  std::string name = requested;
  // The job that was current is saved and let go; a failed save is told in
  // the run log, and the set is freed either way.
  if (PROPSET* current = prefs.Set()) {
    prefs.SetCurrent(nullptr);
    if (!PropSetSave(current)) {
      const char* old_name = current->setname != nullptr ? current->setname : "";
      log_printf("Can't save Job: %s", old_name);
      frontend::runLogNotice(run_log_, "\nERROR: Can't save Job: %s\n", old_name);
    }
    PropSetFree(current);
  }
  if (!prefs.Open(name.c_str())) {
    // A file that exists but cannot be read is kept aside first: nothing
    // saved later under the job's name may write over it.
    bool kept = frontend::keepUnreadableJob(name, run_log_);
    message("Can't read Job: " + name);
    bool was_default = name == "Default";
    name = "Default";
    // The user's own "Default" comes first; an empty one is made only when
    // that cannot be read either.
    if (!prefs.Open("Default")) {
      bool safe = was_default ? kept : frontend::keepUnreadableJob("Default", run_log_);
      PROPSET* empty = PropSetOpen(nullptr);
      // Unnamed (so never saved) while an unreadable file holds the name.
      if (empty != nullptr && safe) PropSetRename(empty, "Default");
      prefs.SetCurrent(empty);
      prefs.SetName("Default");
    }
    if (prefs.Set() == nullptr) {
      message("Can't allocate empty Job. Application will quit.");
      std::exit(1);
    }
  }
  setExtensionDefaults();
  selectJobInCombo(prefs.GetName());
  setCurrentJob(name);
  fillFolderList();
  store_hashes_->setChecked(false);
  keep_existing_hashes_->setVisible(false);
  updateControls();
}

void CCorvellaDlg::switchJob(const std::string& name) {
  fillJobList();
  loadJob(name);
  selectJobInCombo(name);
}

void CCorvellaDlg::setExtensionDefaults() {
  PROPSET* set = prefs.Set();
  if (set == nullptr) return;
  if (!prefs.HasExtensionsJPEG()) {
    const struct {
      const char* key;
      const char* fallback;
    } lists[] = {
        {pref_key::ExtensionsJPEG, pref_default::ExtensionsJPEG},
        {pref_key::ExtensionsTIFF, pref_default::ExtensionsTIFF},
        {pref_key::ExtensionsRAW, pref_default::ExtensionsRAW},
        {pref_key::ExtensionsDNG, pref_default::ExtensionsDNG},
    };
    for (const auto& list : lists) {
      const char* held = set_text(list.key, 0);
      std::string value = held != nullptr ? held : list.fallback;
      PropPutStr(set, list.key, 0, value.c_str());
    }
    PropPutInt(set, pref_key::ProcessNoExtension, prefs.GetProcessNoExtension() ? 1 : 0);
  }
  prefs.SetTIFisRaw(prefs.GetTIFisRaw());
}

int CCorvellaDlg::storedMaxSubProcesses() const {
  PROPVAL* pv = PropGet(prefs.Set(), pref_key::MaxSubProcesses, 0);
  if (pv == nullptr) return pref_default::MaxSubProcesses;
  if (pv->type == PROPVAL_INT) return pv->v.intval;
  if (pv->type == PROPVAL_STR) return static_cast<int>(strtol(pv->v.strval, nullptr, 10));
  return 0;
}

std::string CCorvellaDlg::storedMaxInvalid() const {
  PROPVAL* pv = PropGet(prefs.Set(), pref_key::MaxInvalid, 0);
  if (pv == nullptr) return pref_default::MaxInvalid;
  if (pv->type == PROPVAL_STR) return pv->v.strval;
  if (pv->type == PROPVAL_INT) return std::to_string(pv->v.intval);
  return {};
}

void CCorvellaDlg::updateControls() {
  check_structure_->setChecked(prefs.GetCheckStructure());
  check_hash_->setChecked(prefs.GetCheckHashes());
  bool storing = store_hashes_->isChecked();
  check_structure_->setEnabled(!storing);
  store_invalid_tiff_hashes_->setVisible(storing);
  store_invalid_tiff_hashes_->setChecked(prefs.GetIgnoreTIFFErrors());
  check_hash_->setEnabled(!storing);
  verify_jpegs_->setChecked(prefs.GetVerifyJPEGs());
  verify_dngs_->setChecked(prefs.GetVerifyDNGs());
  verify_raws_->setChecked(prefs.GetVerifyRaws());
  verify_tiffs_->setChecked(prefs.GetVerifyTIFFs());
  verify_psds_->setChecked(prefs.GetVerifyPSDs());
  tif_is_raw_->setChecked(prefs.GetTIFisRaw());
  tif_is_raw_->setEnabled(prefs.GetVerifyRaws());
  nested_folders_->setChecked(prefs.GetNestedFolders());
  record_results_->setChecked(prefs.GetDBResults());
  // The edit shows text values only (the window writes it as text).
  PROPVAL* invalid = PropGet(prefs.Set(), pref_key::MaxInvalid, 0);
  if (invalid == nullptr) {
    max_invalid_->setText(pref_default::MaxInvalid);
  } else {
    max_invalid_->setText(invalid->type == PROPVAL_STR ? QFile::decodeName(invalid->v.strval) : QString());
  }
  unlimited_->setChecked(prefs.GetMaxInvalidInfinite());
  max_invalid_->setVisible(!prefs.GetMaxInvalidInfinite());
  int sub = storedMaxSubProcesses();
  QSignalBlocker block(max_subprocesses_);
  max_subprocesses_->setCurrentIndex(sub >= 1 && sub <= 8 ? sub - 1 : -1);
}

void CCorvellaDlg::onOptionClicked(QCheckBox* box, const char* key) {
  if (prefs.Set() != nullptr) PropPutInt(prefs.Set(), key, box->isChecked() ? 1 : 0);
  updateControls();
}

void CCorvellaDlg::OnBnClickedTifIsRaw() {
  prefs.SetTIFisRaw(tif_is_raw_->isChecked());
  updateControls();
}

void CCorvellaDlg::OnBnClickedStoreHashes() {
  bool storing = store_hashes_->isChecked();
  if (storing && prefs.Set() != nullptr) {
    PropPutInt(prefs.Set(), pref_key::CheckHashes, 0);
    PropPutInt(prefs.Set(), pref_key::CheckStructure, 1);
    keep_existing_hashes_->setChecked(true);
  }
  keep_existing_hashes_->setVisible(storing);
  updateControls();
}

void CCorvellaDlg::OnEnKillfocusMaxInvalid() {
  if (prefs.Set() == nullptr) return;
  PropPutStr(prefs.Set(), pref_key::MaxInvalid, 0, to_bytes(max_invalid_->text()).c_str());
}

void CCorvellaDlg::OnCbnSelchangeMaxSubprocesses(int index) {
  if (index < 0 || index > 7 || prefs.Set() == nullptr) return;
  if (index + 1 != storedMaxSubProcesses()) PropPutInt(prefs.Set(), pref_key::MaxSubProcesses, index + 1);
}

void CCorvellaDlg::OnCbnSelchangeJob(int index) {
  std::string text = to_bytes(job_->itemText(index));
  std::string current = prefs.GetName();
  if (text == current) return;
  selectJobInCombo(current);
  if (text == kNewJob) {
    std::string name = services_.askNewJobName(this);
    if (name.empty()) return;
    if (!PropSetNameValid(name.c_str()) || name == kSeparator || name == kNewJob || name == kDeleteJob) {
      message("Can't use \"" + name + "\" as a job name.\r\rA job name can't begin with \".\" or contain \"/\", " +
              "and can't be \"" + kSeparator + "\", \"" + kNewJob + "\" or \"" + kDeleteJob + "\".");
      return;
    }
    PROPSET* set = prefs.Set();
    if (set != nullptr) {
      PropSetSave(set);
      PropSetRename(set, name.c_str());
    }
    prefs.SetName(name.c_str());
    setExtensionDefaults();
    switchJob(name);
  } else if (text == kDeleteJob) {
    if (app_settings::getCurrentJob() != current) {
      message("Can't delete -- not the current job.");
    } else if (current == "Default") {
      message("Can't delete Default job.");
    } else if (services_.okCancel(this, "Delete Job?")) {
      prefs.DeleteSet();
      switchJob("Default");
    }
  } else if (text == kSeparator) {
    // Nothing.
  } else {
    loadJob(text);
    selectJobInCombo(text);
  }
}

// The folder list.
void CCorvellaDlg::insertFolderSorted(const std::string& folder) {
  int row = 0;
  while (row < folders_->count() && !folderLess(folder, to_bytes(folders_->item(row)->text()))) ++row;
  folders_->insertItem(row, from_bytes(folder));
}

void CCorvellaDlg::fillFolderList() {
  {
    QSignalBlocker block(folders_);
    folders_->clear();
    int count = prefs.GetFolderCount();
    for (int i = 0; i < count; ++i) {
      const char* value = set_text(pref_key::Folders, i);
      insertFolderSorted(value != nullptr ? value : "");
    }
  }
  updateFolderButtons();
}

void CCorvellaDlg::updateFolderButtons() {
  {
    QSignalBlocker block(folders_);
    folders_->setCurrentRow(-1);
    folders_->clearSelection();
  }
  selected_folder_ = -1;
  remove_folder_->setEnabled(false);
  edit_folder_->setEnabled(false);
  run_->setEnabled(folders_->count() > 0);
  folders_hint_->setVisible(folders_->count() == 0);
}

void CCorvellaDlg::saveFolders() {
  PROPSET* set = prefs.Set();
  if (set != nullptr) {
    PropDelete(set, pref_key::Folders);
    int stored = 0;
    for (int i = 0; i < folders_->count(); ++i) {
      // A value that cannot be stored is in the error trace; the list keeps it.
      if (PropPutStr(set, pref_key::Folders, stored, to_bytes(folders_->item(i)->text()).c_str())) ++stored;
    }
  }
  updateFolderButtons();
}

void CCorvellaDlg::editFolder(int index) {
  int start_row = index < 0 ? 0 : index;
  std::string start =
      start_row < folders_->count() ? to_bytes(folders_->item(start_row)->text()) : last_chosen_folder_;
  // With nothing to start from, the chooser starts in the home folder rather
  // than wherever the program happened to be started.
  if (start.empty()) start = to_bytes(QDir::homePath());
  std::optional<std::string> chosen = services_.chooseFolder(this, start);
  if (!chosen || chosen->empty()) return;
  last_chosen_folder_ = *chosen;
  if (index != -1) delete folders_->takeItem(index);
  insertFolderSorted(*chosen);
  saveFolders();
}

void CCorvellaDlg::OnLbnSelchangeFolders(int row) {
  selected_folder_ = row;
  remove_folder_->setEnabled(row >= 0);
  edit_folder_->setEnabled(row >= 0);
}

void CCorvellaDlg::OnBnClickedAddFolder() { editFolder(-1); }

void CCorvellaDlg::OnBnClickedRemoveFolder() {
  if (selected_folder_ < 0 || selected_folder_ >= folders_->count()) return;
  delete folders_->takeItem(selected_folder_);
  saveFolders();
}

void CCorvellaDlg::OnBnClickedEditFolder() {
  if (selected_folder_ < 0 || selected_folder_ >= folders_->count()) return;
  editFolder(selected_folder_);
}

// What a run reads from the window.
frontend::RunConfig CCorvellaDlg::runConfig() {
  frontend::RunConfig c;
  for (int i = 0; i < folders_->count(); ++i) c.folders.push_back(to_bytes(folders_->item(i)->text()));
  c.store_hashes = store_hashes_->isChecked();
  c.keep_existing_hashes = keep_existing_hashes_->isChecked();
  c.check_hashes = prefs.GetCheckHashes();
  c.check_structure = prefs.GetCheckStructure();
  c.nested_folders = prefs.GetNestedFolders();
  c.db_results = prefs.GetDBResults();
  c.db_details = prefs.GetDBDetails();
  c.ignore_tiff_errors = prefs.GetIgnoreTIFFErrors();
  c.max_invalid_infinite = prefs.GetMaxInvalidInfinite();
  c.max_invalid = storedMaxInvalid();
  c.max_sub_processes = storedMaxSubProcesses();
  c.job_name = prefs.GetName();
  c.converter_path = app_settings::getConverterApp();
  c.capture_path = capture_path_;
  return c;
}
