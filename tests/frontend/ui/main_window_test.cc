// The main window with real widgets (offscreen): start-up, jobs, options,
// folders, the run log view and quitting.
#include <gmock/gmock.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QKeyEvent>
#include <QLabel>
#include <QTest>

#include "frontend/ui/run_log_view.h"
#include "main_window_fixture.h"
#include "platform/files.h"

namespace testing_support {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::Not;

bool isDir(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

TEST_F(MainWindowTest, FirstLaunchCreatesDefaultAndShowsItsOptions) {
  CCorvellaDlg& w = open();
  EXPECT_TRUE(ui_.messages.empty());
  EXPECT_EQ(w.propertyRoot(), root_);
  EXPECT_NE(setText("Default"), "");
  EXPECT_TRUE(w.database()->is_open());
  EXPECT_EQ(read_file(root_ + "/qx_main.sqlite3").substr(0, 15), "SQLite format 3");
  EXPECT_THAT(read_file(data_ + "/CorvellaLog.txt"), HasSubstr("App launched"));
  EXPECT_EQ(settingsValue("CurrentJob"), "Default");

  EXPECT_THAT(comboEntries(), ElementsAre("Default", "---------------", "New...", "Delete"));
  EXPECT_EQ(jobs()->currentText(), "Default");
  EXPECT_TRUE(box("IDC_CHECK_STRUCTURE")->isChecked());
  EXPECT_FALSE(box("IDC_CHECK_HASH")->isChecked());
  EXPECT_FALSE(box("IDC_STORE_HASHES")->isChecked());
  EXPECT_TRUE(box("IDC_KEEP_EXISTING_HASHES")->isHidden());
  EXPECT_TRUE(box("IDC_STORE_INVALID_TIFF_HASHES")->isHidden());
  EXPECT_TRUE(box("IDC_VERIFY_DNGS")->isHidden());
  EXPECT_TRUE(box("IDC_VERIFY_JPEGS")->isChecked());
  // Raw files need a converter, which a new installation lacks: off.
  EXPECT_FALSE(box("IDC_VERIFY_RAWS")->isChecked());
  EXPECT_FALSE(box("IDC_TIF_IS_RAW")->isChecked());
  EXPECT_FALSE(box("IDC_TIF_IS_RAW")->isEnabled());
  EXPECT_TRUE(box("IDC_UNLIMITED")->isChecked());
  EXPECT_TRUE(control<QLineEdit>("IDC_MAX_INVALID")->isHidden());
  EXPECT_EQ(control<QLineEdit>("IDC_MAX_INVALID")->text(), "100");
  EXPECT_EQ(control<QComboBox>("IDC_MAX_SUBPROCESSES")->currentText(), "8");
  EXPECT_FALSE(control<QPushButton>("IDC_RUN")->isEnabled());
  EXPECT_FALSE(control<QLabel>("IDC_FOLDERS_HINT")->isHidden());
  EXPECT_THAT(shownLog(), HasSubstr("WARRANTY"));
  EXPECT_EQ(w.runLog().cap(), frontend::RunLog::kInitialCap);
  // The default extension lists go into the job; DNG has a list of its own.
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("ExtensionsJPEG\t-JPG-JPEG-\n"));
  EXPECT_THAT(setText("Default"), HasSubstr("ExtensionsRAW\t-CR2-CRW-DCR-KDC-MRW-NEF-ORF-PEF-RAF-RAW-SRF-X3F-EEF-ARW-"
                                            "SR2-MEF-IIQ-MOS-RW2-\n"));
  EXPECT_THAT(setText("Default"), HasSubstr("ExtensionsDNG\t-DNG-\n"));
}

TEST_F(MainWindowTest, EveryControlHasItsId) {
  open();
  for (const char* id :
       {"IDC_RUN", "IDC_STORE_HASHES", "IDC_KEEP_EXISTING_HASHES", "IDC_STORE_INVALID_TIFF_HASHES", "IDC_CHECK_HASH",
        "IDC_CHECK_STRUCTURE", "IDC_VERIFY_JPEGS", "IDC_VERIFY_DNGS", "IDC_VERIFY_RAWS", "IDC_VERIFY_TIFFS",
        "IDC_VERIFY_PSDS", "IDC_TIF_IS_RAW", "IDC_JOB", "IDC_FOLDERS", "IDC_ADD_FOLDER", "IDC_REMOVE_FOLDER",
        "IDC_EDIT_FOLDER", "IDC_FOLDERS_HINT", "IDC_RUN_LOG", "IDC_RECORD_RESULTS", "IDC_NESTED_FOLDERS",
        "IDC_UNLIMITED", "IDC_MAX_INVALID", "IDC_MAX_SUBPROCESSES", "ID_FILE_EXIT", "ID_EDIT_COPY",
        "ID_TOOLS_RESULTS", "ID_TOOLS_MANAGE_HASHES", "ID_TOOLS_EXAMINE", "ID_TOOLS_PREFERENCES", "ID_HELP_WEB_SITE",
        "ID_HELP_CHECK_FOR_UPDATES", "ID_HELP_VIEW_EXTERNAL_LOG", "ID_HELP_ABOUT"}) {
    EXPECT_NE(window_->findChild<QObject*>(id), nullptr) << id;
  }
}

TEST_F(MainWindowTest, TheLogOfThePreviousLaunchIsKept) {
  open();
  close();
  open();
  EXPECT_THAT(read_file(data_ + "/CorvellaLog-PreviousLaunch.txt"), HasSubstr("Quitting"));
  EXPECT_THAT(read_file(data_ + "/CorvellaLog.txt"), Not(HasSubstr("Quitting")));
}

// Each option box writes its key into the job's set file.
TEST_F(MainWindowTest, OptionBoxesWriteTheirKeys) {
  const struct {
    const char* id;
    const char* key;
  } cases[] = {
      {"IDC_CHECK_HASH", "CheckHashes"},     {"IDC_CHECK_STRUCTURE", "CheckStructure"},
      {"IDC_VERIFY_JPEGS", "VerifyJPEGs"},   {"IDC_VERIFY_RAWS", "VerifyRaws"},
      {"IDC_VERIFY_TIFFS", "VerifyTIFFs"},   {"IDC_VERIFY_PSDS", "VerifyPSDs"},
      {"IDC_NESTED_FOLDERS", "NestedFolders"}, {"IDC_UNLIMITED", "MaxInvalidInfinite"},
      {"IDC_RECORD_RESULTS", "DBResults"},
  };
  open();
  std::vector<bool> before;
  for (const auto& c : cases) {
    QCheckBox* b = box(c.id);
    before.push_back(b->isChecked());
    b->click();
    EXPECT_NE(b->isChecked(), before.back()) << c.id;
  }
  close();
  std::string text = setText("Default");
  for (size_t i = 0; i < std::size(cases); ++i) {
    std::string line = std::string(cases[i].key) + "\t" + (before[i] ? "0" : "1") + "\n";
    EXPECT_THAT(text, HasSubstr(line)) << cases[i].id;
  }
}

TEST_F(MainWindowTest, UnlimitedOffShowsMaxInvalidWhichIsStoredAsText) {
  open();
  box("IDC_UNLIMITED")->click();
  QLineEdit* edit = control<QLineEdit>("IDC_MAX_INVALID");
  EXPECT_FALSE(edit->isHidden());
  edit->setText("25");
  emit edit->editingFinished();
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("MaxInvalid\t25\n"));
}

TEST_F(MainWindowTest, MaxSubprocessesIsStoredOnlyWhenItChanges) {
  writeSet("Default", "MaxSubProcesses\t4\n");
  open();
  QComboBox* combo = control<QComboBox>("IDC_MAX_SUBPROCESSES");
  EXPECT_EQ(combo->currentText(), "4");
  emit combo->activated(3);  // "4": nothing to store
  EXPECT_EQ(window_->runConfig().max_sub_processes, 4);
  emit combo->activated(4);
  EXPECT_EQ(window_->runConfig().max_sub_processes, 5);
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("MaxSubProcesses\t5\n"));
}

TEST_F(MainWindowTest, StoreHashesTurnsHashCheckOffAndShowsItsCompanions) {
  open();
  box("IDC_CHECK_HASH")->click();
  box("IDC_STORE_HASHES")->click();
  EXPECT_FALSE(box("IDC_CHECK_HASH")->isChecked());
  EXPECT_TRUE(box("IDC_CHECK_STRUCTURE")->isChecked());
  EXPECT_FALSE(box("IDC_CHECK_HASH")->isEnabled());
  EXPECT_FALSE(box("IDC_CHECK_STRUCTURE")->isEnabled());
  EXPECT_FALSE(box("IDC_KEEP_EXISTING_HASHES")->isHidden());
  EXPECT_TRUE(box("IDC_KEEP_EXISTING_HASHES")->isChecked());
  EXPECT_FALSE(box("IDC_STORE_INVALID_TIFF_HASHES")->isHidden());
  frontend::RunConfig c = window_->runConfig();
  EXPECT_TRUE(c.store_hashes);
  EXPECT_TRUE(c.keep_existing_hashes);
  EXPECT_FALSE(c.check_hashes);

  // Loading a job clears it.
  ui_.job_names = {"Other"};
  chooseJob("New...");
  EXPECT_FALSE(box("IDC_STORE_HASHES")->isChecked());
  EXPECT_TRUE(box("IDC_KEEP_EXISTING_HASHES")->isHidden());
  EXPECT_TRUE(box("IDC_CHECK_HASH")->isEnabled());
}

TEST_F(MainWindowTest, TifIsRawFollowsVerifyRaws) {
  open();
  EXPECT_FALSE(box("IDC_TIF_IS_RAW")->isEnabled());
  box("IDC_VERIFY_RAWS")->click();
  EXPECT_TRUE(box("IDC_TIF_IS_RAW")->isEnabled());
  box("IDC_TIF_IS_RAW")->click();
  EXPECT_TRUE(box("IDC_TIF_IS_RAW")->isChecked());
  box("IDC_VERIFY_RAWS")->click();
  EXPECT_FALSE(box("IDC_TIF_IS_RAW")->isEnabled());
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("TIFisRaw\t1\n"));
  EXPECT_THAT(setText("Default"), HasSubstr("ExtensionsRAW\t-CR2-CRW-DCR-KDC-MRW-NEF-ORF-PEF-RAF-RAW-SRF-X3F-EEF-ARW"));
  EXPECT_THAT(setText("Default"), HasSubstr("TIF-"));
}

TEST_F(MainWindowTest, NewJobStartsWithTheCurrentOptionsAndBecomesCurrent) {
  open();
  box("IDC_VERIFY_TIFFS")->click();  // off in Default
  ui_.job_names = {"Weekly"};
  chooseJob("New...");
  EXPECT_EQ(jobs()->currentText(), "Weekly");
  EXPECT_THAT(comboEntries(), ElementsAre("Default", "Weekly", "---------------", "New...", "Delete"));
  EXPECT_EQ(settingsValue("CurrentJob"), "Weekly");
  EXPECT_FALSE(box("IDC_VERIFY_TIFFS")->isChecked());
  EXPECT_THAT(setText("Weekly"), HasSubstr("VerifyTIFFs\t0\n"));
  EXPECT_THAT(setText("Default"), HasSubstr("VerifyTIFFs\t0\n"));

  // Back to Default, whose own options return.
  box("IDC_VERIFY_JPEGS")->click();  // off in Weekly only
  chooseJob("Default");
  EXPECT_EQ(settingsValue("CurrentJob"), "Default");
  EXPECT_TRUE(box("IDC_VERIFY_JPEGS")->isChecked());
  EXPECT_THAT(setText("Weekly"), HasSubstr("VerifyJPEGs\t0\n"));
}

TEST_F(MainWindowTest, NamesTheStoreCannotKeepAreRefused) {
  open();
  for (const char* name : {".hidden", "a/b", "New...", "Delete", "---------------"}) {
    ui_.messages.clear();
    ui_.job_names = {name};
    chooseJob("New...");
    ASSERT_EQ(ui_.messages.size(), 1u) << name;
    EXPECT_THAT(ui_.messages[0], HasSubstr("as a job name")) << name;
    EXPECT_EQ(jobs()->currentText(), "Default") << name;
  }
  EXPECT_THAT(comboEntries(), ElementsAre("Default", "---------------", "New...", "Delete"));
}

TEST_F(MainWindowTest, ChoosingTheCurrentJobOrTheSeparatorChangesNothing) {
  open();
  chooseJob("---------------");
  EXPECT_EQ(jobs()->currentText(), "Default");
  chooseJob("Default");
  EXPECT_EQ(jobs()->currentText(), "Default");
  EXPECT_TRUE(ui_.messages.empty());
}

TEST_F(MainWindowTest, DeleteRemovesTheCurrentJobButNeverDefault) {
  writeSet("Spare", "VerifyJPEGs\t0\n");
  open();
  chooseJob("Delete");
  EXPECT_THAT(ui_.messages, ElementsAre("Can't delete Default job."));

  chooseJob("Spare");
  EXPECT_EQ(jobs()->currentText(), "Spare");
  ui_.answers = {false};
  chooseJob("Delete");
  EXPECT_THAT(ui_.questions, ElementsAre("Delete Job?"));
  EXPECT_NE(setText("Spare"), "");

  chooseJob("Delete");  // OK this time
  EXPECT_EQ(setText("Spare"), "");
  EXPECT_EQ(jobs()->currentText(), "Default");
  EXPECT_EQ(settingsValue("CurrentJob"), "Default");
  EXPECT_THAT(comboEntries(), ElementsAre("Default", "---------------", "New...", "Delete"));
}

// The combo shows the job whose options are loaded, even when another
// entry begins with its name or differs only in case.
TEST_F(MainWindowTest, TheComboSelectsTheJobEqualToTheName) {
  for (const char* job : {"A", "D", "ab"}) {
    SCOPED_TRACE(job);
    writeSet("AB", "");
    writeSet("A", "");
    writeSet("D", "");
    writeSet("ab", "");
    setSettingsValue("CurrentJob", job);
    open();
    EXPECT_EQ(jobs()->currentText().toStdString(), job);
    close();
  }
}

TEST_F(MainWindowTest, AMissingCurrentJobFallsBackToTheExistingDefault) {
  writeSet("Default", "Folders\t/photos/keep\nVerifyTIFFs\t0\n");
  setSettingsValue("CurrentJob", "Gone");
  open();
  EXPECT_THAT(ui_.messages, ElementsAre("Can't read Job: Gone"));
  EXPECT_EQ(jobs()->currentText(), "Default");
  EXPECT_EQ(settingsValue("CurrentJob"), "Default");
  EXPECT_THAT(folderEntries(), ElementsAre("/photos/keep"));
  EXPECT_FALSE(box("IDC_VERIFY_TIFFS")->isChecked());
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("Folders\t/photos/keep\n"));
}

TEST_F(MainWindowTest, AFailedSaveWhileSwitchingJobsIsReported) {
  writeSet("Busy", "");
  setSettingsValue("CurrentJob", "Busy");
  open();
  box("IDC_VERIFY_JPEGS")->click();
  // A folder where the set file was makes saving it fail, even for root.
  ASSERT_EQ(::unlink(setFile("Busy").c_str()), 0);
  ASSERT_EQ(::mkdir(setFile("Busy").c_str(), 0700), 0);
  chooseJob("Default");
  EXPECT_EQ(jobs()->currentText(), "Default");
  EXPECT_THAT(window_->runLog().text(), HasSubstr("ERROR: Can't save Job: Busy"));
  EXPECT_TRUE(isDir(setFile("Busy")));
}

TEST_F(MainWindowTest, FoldersAreKeptSortedAndSaved) {
  open();
  ui_.folders = {"/pics/b", "/pics/B", "/pics/a", "/pics/c"};
  for (int i = 0; i < 4; ++i) control<QPushButton>("IDC_ADD_FOLDER")->click();
  EXPECT_THAT(folderEntries(), ElementsAre("/pics/a", "/pics/B", "/pics/b", "/pics/c"));
  EXPECT_TRUE(control<QPushButton>("IDC_RUN")->isEnabled());
  EXPECT_TRUE(control<QLabel>("IDC_FOLDERS_HINT")->isHidden());
  EXPECT_FALSE(control<QPushButton>("IDC_REMOVE_FOLDER")->isEnabled());

  // Edit replaces the selected folder and starts from it.
  folders()->setCurrentRow(0);
  EXPECT_TRUE(control<QPushButton>("IDC_EDIT_FOLDER")->isEnabled());
  ui_.folders = {"/pics/z"};
  control<QPushButton>("IDC_EDIT_FOLDER")->click();
  EXPECT_EQ(ui_.folder_starts.back(), "/pics/a");
  EXPECT_THAT(folderEntries(), ElementsAre("/pics/B", "/pics/b", "/pics/c", "/pics/z"));

  folders()->setCurrentRow(1);
  control<QPushButton>("IDC_REMOVE_FOLDER")->click();
  EXPECT_THAT(folderEntries(), ElementsAre("/pics/B", "/pics/c", "/pics/z"));
  EXPECT_EQ(window_->runConfig().folders, (std::vector<std::string>{"/pics/B", "/pics/c", "/pics/z"}));

  // Nothing chosen changes nothing.
  control<QPushButton>("IDC_ADD_FOLDER")->click();
  EXPECT_EQ(folders()->count(), 3);
  close();
  EXPECT_THAT(setText("Default"), HasSubstr("Folders\t/pics/B\nFolders\t/pics/c\nFolders\t/pics/z\n"));
}

TEST_F(MainWindowTest, FolderOrderComparesWithoutCaseThenExactly) {
  const struct {
    const char* a;
    const char* b;
    bool less;
  } cases[] = {
      {"/a", "/B", true}, {"/B", "/a", false}, {"/B", "/b", true}, {"/b", "/B", false}, {"/a", "/a", false},
      {"/a", "/a/b", true},
  };
  for (const auto& c : cases) EXPECT_EQ(folderLess(c.a, c.b), c.less) << c.a << " " << c.b;
}

TEST_F(MainWindowTest, EnterDoesNothingAndEscapeQuitsOnce) {
  CCorvellaDlg& w = open();
  w.show();
  QTest::keyClick(&w, Qt::Key_Return);
  EXPECT_TRUE(w.isVisible());
  QTest::keyClick(&w, Qt::Key_Escape);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.engine(), nullptr);
  w.quitApp();
  close();
  std::string log = read_file(data_ + "/CorvellaLog.txt");
  EXPECT_EQ(log.find("Quitting"), log.rfind("Quitting"));
  EXPECT_NE(log.find("Quitting"), std::string::npos);
}

TEST_F(MainWindowTest, CtrlQQuitsAndExitKeepsItsMnemonic) {
  CCorvellaDlg& w = open();
  auto* exit = w.findChild<QAction*>("ID_FILE_EXIT");
  ASSERT_NE(exit, nullptr);
  EXPECT_EQ(exit->text(), "E&xit");
  w.show();
  w.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
  QTest::keyClick(&w, Qt::Key_Q, Qt::ControlModifier);
  EXPECT_FALSE(w.isVisible());
  EXPECT_EQ(w.engine(), nullptr);
  close();
  EXPECT_THAT(read_file(data_ + "/CorvellaLog.txt"), HasSubstr("Quitting"));
}

TEST_F(MainWindowTest, TheFolderChooserStartsInTheHomeFolder) {
  // Started from another folder, with no folder listed or chosen before.
  const std::string elsewhere = dir_.sub("elsewhere");
  platform::make_folder(elsewhere);
  char previous[4096];
  ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
  ASSERT_EQ(chdir(elsewhere.c_str()), 0);
  open();
  ui_.folders = {"/pics/a"};
  control<QPushButton>("IDC_ADD_FOLDER")->click();
  ASSERT_EQ(chdir(previous), 0);
  EXPECT_THAT(ui_.folder_starts, ElementsAre(dir_.sub("home")));
  EXPECT_THAT(folderEntries(), ElementsAre("/pics/a"));
}

TEST_F(MainWindowTest, ViewExternalLogOpensThePreviousLaunchsLogOnlyWhenThereWasOne) {
  // The first launch has no earlier log to offer.
  open().OnHelpViewExternalLog();
  EXPECT_THAT(ui_.opened, ElementsAre(data_ + "/CorvellaLog.txt"));
  EXPECT_TRUE(ui_.messages.empty());
  close();

  ui_.opened.clear();
  CCorvellaDlg& w = open();
  w.OnHelpViewExternalLog();
  EXPECT_THAT(ui_.opened, ElementsAre(data_ + "/CorvellaLog-PreviousLaunch.txt", data_ + "/CorvellaLog.txt"));
  EXPECT_TRUE(ui_.messages.empty());

  // No viewer: the box names the file and what failed, and the second is
  // not tried.
  const std::string why = "\r\r" + ui_.open_failure;
  ui_.opened.clear();
  ui_.open_fails = true;
  w.OnHelpViewExternalLog();
  EXPECT_EQ(ui_.opened.size(), 1u);
  EXPECT_THAT(ui_.messages, ElementsAre("Could not open the log file " + data_ +
                                        "/CorvellaLog-PreviousLaunch.txt to view it." + why));

  // A viewer that starts and then fails says so for each file.
  ui_.messages.clear();
  ui_.open_fails = false;
  ui_.open_fails_late = true;
  w.OnHelpViewExternalLog();
  EXPECT_THAT(ui_.messages, ElementsAre(cantViewLogText(data_ + "/CorvellaLog-PreviousLaunch.txt") + why,
                                        cantViewLogText(data_ + "/CorvellaLog.txt") + why));
}

TEST(RunLogViewTest, LineEndsBecomeOneBreakEach) {
  const struct {
    std::vector<const char*> pieces;
    const char* shown;
  } cases[] = {
      {{"a\r\nb"}, "a\nb"},         {{"a\r\r\nb"}, "a\nb"},   {{"a\rb"}, "a\nb"},
      {{"a\n\nb"}, "a\n\nb"},       {{"a\r", "\nb"}, "a\nb"}, {{"a\r\n\r\nb"}, "a\n\nb"},
      {{"a\r", "b"}, "a\nb"},       {{"\r\n"}, "\n"},
  };
  for (const auto& c : cases) {
    bool after_cr = false;
    std::string out;
    for (const char* p : c.pieces) out += frontend::PlainTextRunLogView::toLineBreaks(p, &after_cr);
    EXPECT_EQ(out, c.shown) << ::testing::PrintToString(c.pieces);
  }
}

TEST_F(MainWindowTest, TheRunLogBoxShowsTheModelsText) {
  CCorvellaDlg& w = open();
  w.runLog().appendRunLog(nullptr);
  w.runLog().appendRunLog("one\ntwo\r\nthree");
  EXPECT_EQ(shownLog(), "one\ntwo\nthree");
  EXPECT_EQ(w.runLog().text(), "one\r\ntwo\r\r\nthree");
}

}  // namespace
}  // namespace testing_support
