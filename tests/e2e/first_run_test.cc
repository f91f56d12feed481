// The first run as a person makes it: the built corvella started as its own
// process under a real X server, from a folder that has nothing to do with
// the build, with a private home. A job written beforehand points at a
// folder of sound and damaged photographs; Run is pressed and the program is
// quit through the window's keyboard mnemonics (xdotool), and the results
// database it leaves is checked.
//
// Every wait is for an event (the display's number, the window, a database
// row, the program's exit) with a generous bound that only a broken program
// reaches.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "support/image_writers.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using testing_support::TempFolder;

constexpr auto kBound = 90s;  // reached only by a broken program

// A child process with its own environment and working folder; killed and
// reaped when the object goes.
class Child {
 public:
  Child(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env, const std::string& cwd,
        const std::string& output, int extra_fd = -1) {
    pid_ = fork();
    if (pid_ != 0) return;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
    int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (out >= 0) {
      dup2(out, 1);
      dup2(out, 2);
    }
    if (extra_fd >= 0) fcntl(extra_fd, F_SETFD, 0);
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  pid_t pid() const { return pid_; }
  // The exit status once the process has ended; nothing while it runs.
  std::optional<int> poll() {
    if (status_) return status_;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) status_ = status;
    return status_;
  }
  // Waits for the end; nothing when the bound passed first.
  std::optional<int> wait(std::chrono::seconds bound = kBound) {
    const auto end = Clock::now() + bound;
    // A poll interval while waiting for the exit, not a wait for time: how
    // long it takes cannot change the outcome short of the broken-program bound.
    while (!poll() && Clock::now() < end) std::this_thread::sleep_for(20ms);
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

// Runs a command to its end; its standard output, or nothing when it failed
// or did not end within the bound.
std::optional<std::string> run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env,
                               const std::string& output_file) {
  std::remove(output_file.c_str());
  Child child(argv, env, "", output_file);
  std::optional<int> status = child.wait();
  if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0) return std::nullopt;
  return testing_support::read_file(output_file);
}

// Waits until the condition holds; false when the bound passed first.
template <typename Condition>
bool wait_for(Condition condition, std::chrono::seconds bound = kBound) {
  const auto end = Clock::now() + bound;
  while (!condition()) {
    if (Clock::now() >= end) return false;
    // Poll interval between looks at the condition; only the bound fails.
    std::this_thread::sleep_for(50ms);
  }
  return true;
}

bool tool_exists(const std::string& name) {
  return system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// The rows of a query on the database, each row's columns joined by "|";
// nothing while the file cannot be read (not there yet, or locked).
std::optional<std::vector<std::string>> query(const std::string& db_path, const std::string& sql) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(db_path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return std::nullopt;
  }
  sqlite3_busy_timeout(db, 2000);
  sqlite3_stmt* statement = nullptr;
  std::optional<std::vector<std::string>> rows;
  if (sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK) {
    rows.emplace();
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW) {
      std::string row;
      for (int i = 0; i < sqlite3_column_count(statement); ++i) {
        if (i > 0) row += "|";
        const unsigned char* text = sqlite3_column_text(statement, i);
        row += text != nullptr ? reinterpret_cast<const char*>(text) : "NULL";
      }
      rows->push_back(row);
    }
    if (rc != SQLITE_DONE) rows.reset();
  }
  sqlite3_finalize(statement);
  sqlite3_close(db);
  return rows;
}

class FirstRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* tool : {"Xvfb", "xdotool"}) {
      ASSERT_TRUE(tool_exists(tool)) << tool << " is missing: scripts/install-deps installs xvfb and xdotool";
    }
    home_ = dir_.sub("home");
    data_ = home_ + "/.local/share";
    config_ = home_ + "/.config";
    elsewhere_ = dir_.sub("elsewhere");
    runtime_ = dir_.sub("runtime");
    for (const std::string& folder : {data_, config_, elsewhere_, runtime_}) {
      ASSERT_EQ(system(("mkdir -p '" + folder + "'").c_str()), 0);
    }
    chmod(runtime_.c_str(), 0700);
    startDisplay();
  }

  // Xvfb on the first free display; it writes the number it took to the
  // pipe once it accepts connections.
  void startDisplay() {
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    xvfb_ = std::make_unique<Child>(
        std::vector<std::string>{"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", "1280x1024x24",
                                 "-nolisten", "tcp", "-noreset"},
        std::map<std::string, std::string>{}, "", dir_.sub("xvfb.log"), fds[1]);
    close(fds[1]);
    std::string number;
    char c;
    const auto end = Clock::now() + kBound;
    while (Clock::now() < end) {
      ssize_t n = read(fds[0], &c, 1);
      if (n <= 0 || c == '\n') break;
      number.push_back(c);
    }
    close(fds[0]);
    ASSERT_FALSE(number.empty()) << "Xvfb did not start: " << testing_support::read_file(dir_.sub("xvfb.log"));
    display_ = ":" + number;
  }

  std::map<std::string, std::string> environment() const {
    return {{"DISPLAY", display_},
            {"HOME", home_},
            {"XDG_DATA_HOME", data_},
            {"XDG_CONFIG_HOME", config_},
            {"XDG_RUNTIME_DIR", runtime_},
            {"TMP", dir_.path()},
            {"TMPDIR", dir_.path()},
            {"QT_QPA_PLATFORM", "xcb"},
            {"LSAN_OPTIONS", "suppressions=" CORVELLA_E2E_LSAN_SUPPRESSIONS}};
  }

  // Runs xdotool with the arguments; its output, or nothing on failure.
  std::optional<std::string> xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    return run(args, environment(), dir_.sub("xdotool.out"));
  }

  // The ids of the visible windows a search finds, one per line.
  std::vector<std::string> windows(const std::vector<std::string>& search) {
    std::vector<std::string> args{"search", "--onlyvisible"};
    args.insert(args.end(), search.begin(), search.end());
    std::optional<std::string> out = xdotool(args);
    std::vector<std::string> ids;
    if (!out) return ids;
    size_t start = 0;
    while (start < out->size()) {
      size_t end = out->find('\n', start);
      if (end == std::string::npos) end = out->size();
      if (end > start) ids.push_back(out->substr(start, end - start));
      start = end + 1;
    }
    return ids;
  }
  // The top-level windows titled exactly "Corvella": the main window and
  // any message box.
  std::vector<std::string> corvellaWindows() { return windows({"--name", "^Corvella$"}); }
  // Every window of the program, its menus' pop-ups included.
  size_t programWindowCount() { return windows({"--class", "corvella"}).size(); }

  // Opens the File menu with Alt+F, as a person at the keyboard does. The
  // program takes mnemonics only once it has seen its window activated, so
  // the keys are pressed again until the menu shows.
  bool openFileMenu(const std::string& window, Child& program) {
    const size_t closed = programWindowCount();
    return wait_for([&] {
      if (program.poll()) return true;
      if (!xdotool({"windowfocus", "--sync", window}) || !xdotool({"key", "--clearmodifiers", "alt+f"})) return false;
      return wait_for([&] { return programWindowCount() > closed; }, 3s);
    });
  }
  bool closeMenu() {
    const size_t open = programWindowCount();
    return xdotool({"key", "Escape"}) && wait_for([&] { return programWindowCount() < open; });
  }

  // A job "Holiday" over the folder with the options given (one "Key\tValue\n"
  // line each; those not given keep their built-in defaults), made the
  // current job, as an earlier session of the program would have left it.
  void writeJob(const std::string& folder,
                const std::string& options =
                    "VerifyJPEGs\t1\nCheckStructure\t1\nDBResults\t1\nDBDetails\t1\nMaxSubProcesses\t4\n") {
    const std::string sets = data_ + "/Corvella/QXMain";
    ASSERT_EQ(system(("mkdir -p '" + sets + "'").c_str()), 0);
    std::ofstream job(sets + "/Holiday");
    job << "Version\t1\nDate\tMon Jan  1 00:00:00 2024\n"
        << "Folders\t" << folder << "\n"
        << options;
    ASSERT_TRUE(job.good());
    ASSERT_EQ(system(("mkdir -p '" + config_ + "/Aldercrest'").c_str()), 0);
    std::ofstream settings(config_ + "/Aldercrest/Corvella.conf");
    // The weekly update check stays off: the test machine has no network.
    settings << "[App]\nCurrentJob=Holiday\nUpdateCheck=0\n";
    ASSERT_TRUE(settings.good());
  }

  // Starts corvella as a person does and waits for its main window; the
  // window's id.
  void startProgram() {
    corvella_ = std::make_unique<Child>(std::vector<std::string>{CORVELLA_PROGRAM}, environment(), elsewhere_,
                                        dir_.sub("corvella.out"));
    ASSERT_TRUE(wait_for([&] {
      EXPECT_FALSE(corvella_->poll()) << "corvella ended at start-up" << diagnostics();
      if (corvella_->poll()) return true;
      std::vector<std::string> windows = corvellaWindows();
      if (windows.size() == 1) window_ = windows[0];
      return !window_.empty();
    })) << "the main window did not appear";
    ASSERT_FALSE(window_.empty());
  }

  // Presses Run (Alt+R) and waits until the run's row has its stop time;
  // any message box fails the test at once, as it stops the run.
  void runJob() {
    // The window takes keys once the File menu has answered one.
    ASSERT_TRUE(openFileMenu(window_, *corvella_)) << "the File menu did not open" << diagnostics();
    ASSERT_TRUE(closeMenu());
    ASSERT_TRUE(xdotool({"key", "--clearmodifiers", "alt+r"}));
    std::optional<std::vector<std::string>> runs;
    bool box = false;
    ASSERT_TRUE(wait_for([&] {
      if (corvella_->poll()) return true;
      if ((box = corvellaWindows().size() > 1)) return true;
      runs = query(db(), "select job from run where stop_dt is not null");
      return runs && !runs->empty();
    })) << "the run did not end" << diagnostics();
    ASSERT_FALSE(corvella_->poll()) << diagnostics();
    ASSERT_FALSE(box) << "a message box showed during the run" << diagnostics();
    // Nothing asked the user anything: the main window is the only one.
    EXPECT_EQ(corvellaWindows().size(), 1u) << "a message box is showing";
  }

  // Quits through File-Exit and waits for a clean exit.
  void quitProgram() {
    ASSERT_TRUE(openFileMenu(window_, *corvella_)) << "the File menu did not open" << diagnostics();
    ASSERT_TRUE(xdotool({"key", "x"}));
    std::optional<int> status = corvella_->wait();
    ASSERT_TRUE(status) << "corvella did not quit through File-Exit";
    EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "exit status " << *status << diagnostics();
  }

  std::string db() const { return data_ + "/Corvella/qx_main.sqlite3"; }
  // The rows of a query on the results database the program left.
  std::vector<std::string> rows(const std::string& sql) {
    std::optional<std::vector<std::string>> found = query(db(), sql);
    EXPECT_TRUE(found) << sql;
    return found ? *found : std::vector<std::string>{};
  }

  // What the program said, for a failure's message.
  std::string diagnostics() const {
    return "\n--- corvella's output:\n" + testing_support::read_file(dir_.sub("corvella.out")) +
           "\n--- CorvellaLog.txt:\n" + testing_support::read_file(data_ + "/CorvellaLog.txt");
  }

  TempFolder dir_;
  std::string home_, data_, config_, elsewhere_, runtime_, display_;
  std::unique_ptr<Child> xvfb_;
  std::unique_ptr<Child> corvella_;
  std::string window_;
};

// A copy of a file of tests/fixtures.
std::string copy_fixture(const std::string& fixture, const std::string& path) {
  std::string bytes = testing_support::read_file(std::string(CORVELLA_FIXTURES) + "/" + fixture);
  EXPECT_FALSE(bytes.empty()) << fixture;
  std::ofstream out(path, std::ios::binary);
  out << bytes;
  EXPECT_TRUE(out.good()) << path;
  return path;
}

TEST_F(FirstRunTest, RunPressedInTheWindowChecksTheJobsFolderAndStoresTheRun) {
  const std::string photos = dir_.sub("Photos");
  ASSERT_EQ(system(("mkdir -p '" + photos + "'").c_str()), 0);
  for (int i = 0; i < 6; ++i) ASSERT_TRUE(testing_support::write_jpeg(photos + "/IMG_" + std::to_string(i) + ".jpg"));
  std::set<std::string> damaged;
  for (int i = 0; i < 3; ++i) {
    const std::string path = photos + "/damaged_" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(testing_support::write_jpeg(path, {320, 240}));
    ASSERT_TRUE(testing_support::truncate_to(path, 0.4));
    damaged.insert(path);
  }
  writeJob(photos);

  ASSERT_NO_FATAL_FAILURE(startProgram());
  ASSERT_NO_FATAL_FAILURE(runJob());
  ASSERT_NO_FATAL_FAILURE(quitProgram());

  std::vector<std::string> runs =
      rows("select job, status, num_processed, num_valid, num_invalid, num_indeterminate, num_error from run");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0], "Holiday|OK|9|6|3|0|0");
  std::vector<std::string> details = rows("select path, code, type from detail");
  std::set<std::string> expected;
  for (const std::string& path : damaged) expected.insert(path + "|B|J");
  EXPECT_EQ(std::set<std::string>(details.begin(), details.end()), expected);
  EXPECT_EQ(rows("select path from folder"), std::vector<std::string>{photos});
  // The log of this launch says it quit in order.
  EXPECT_NE(testing_support::read_file(data_ + "/CorvellaLog.txt").find("Quitting"), std::string::npos);
}

TEST_F(FirstRunTest, CtrlQQuits) {
  const std::string photos = dir_.sub("Photos");
  ASSERT_EQ(system(("mkdir -p '" + photos + "'").c_str()), 0);
  writeJob(photos);
  Child corvella({CORVELLA_PROGRAM}, environment(), elsewhere_, dir_.sub("corvella.out"));
  std::string window;
  ASSERT_TRUE(wait_for([&] {
    if (corvella.poll()) return true;
    std::vector<std::string> windows = corvellaWindows();
    if (windows.size() == 1) window = windows[0];
    return !window.empty();
  })) << "the main window did not appear";
  ASSERT_FALSE(corvella.poll()) << "corvella ended at start-up" << diagnostics();

  // As with the mnemonics, the program takes the shortcut once it has seen
  // its window activated, so the keys are pressed again until it ends.
  ASSERT_TRUE(wait_for([&] {
    if (corvella.poll()) return true;
    if (!xdotool({"windowfocus", "--sync", window}) || !xdotool({"key", "--clearmodifiers", "ctrl+q"})) return false;
    return wait_for([&] { return corvella.poll().has_value(); }, 3s);
  })) << "corvella did not quit on Ctrl+Q" << diagnostics();
  std::optional<int> status = corvella.poll();
  ASSERT_TRUE(status);
  EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0) << "exit status " << *status << diagnostics();
  EXPECT_NE(testing_support::read_file(data_ + "/CorvellaLog.txt").find("Quitting"), std::string::npos);
}

TEST_F(FirstRunTest, WithDefaultOptionsDngFilesAreValidatedAndRawFilesSkippedWithoutABox) {
  // A camera's card: JPEGs, DNGs (one cut short) and a raw file, which
  // no converter here can judge.
  const std::string card = dir_.sub("Card");
  ASSERT_EQ(system(("mkdir -p '" + card + "'").c_str()), 0);
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(testing_support::write_jpeg(card + "/IMG_" + std::to_string(i) + ".JPG"));
  const std::string dng = "dng/canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng";
  const std::string sound = copy_fixture(dng, card + "/IMG_0002.dng");
  const std::string damaged = copy_fixture(dng, card + "/IMG_0003.DNG");
  ASSERT_TRUE(testing_support::truncate_to(damaged, 0.5));
  copy_fixture("raw/canon_eos300d_ciff_stripped.crw", card + "/IMG_0004.CRW");
  writeJob(card, "");

  ASSERT_NO_FATAL_FAILURE(startProgram());
  ASSERT_NO_FATAL_FAILURE(runJob());
  ASSERT_NO_FATAL_FAILURE(quitProgram());

  EXPECT_EQ(rows("select status, num_processed, num_valid, num_invalid, num_indeterminate, num_error, num_skipped "
                 "from run"),
            std::vector<std::string>{"OK|5|3|1|0|0|1"});
  EXPECT_EQ(rows("select path, code, type from detail"), std::vector<std::string>{damaged + "|B|D"});
  std::vector<std::string> notes = rows("select data from note");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("Valid JPEGs: 2\nValid DNGs: 1\n\nInvalid DNGs: 1\n"), std::string::npos) << notes[0];
  EXPECT_NE(notes[0].find("\nSkipped Extensions:\n\tCRW: 1\n"), std::string::npos) << notes[0];
}

TEST_F(FirstRunTest, CheckHashFindsDamagedFilesThatHaveNoReference) {
  // No reference is stored for any file: the sound ones are hash errors,
  // the damaged ones invalid.
  const std::string photos = dir_.sub("Photos");
  ASSERT_EQ(system(("mkdir -p '" + photos + "'").c_str()), 0);
  std::set<std::string> expected;
  for (int i = 0; i < 2; ++i) {
    const std::string sound = photos + "/IMG_" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(testing_support::write_jpeg(sound));
    expected.insert(sound + "|H|J|no hash stored");
    const std::string damaged = photos + "/damaged_" + std::to_string(i) + ".jpg";
    ASSERT_TRUE(testing_support::write_jpeg(damaged, {320, 240}));
    ASSERT_TRUE(testing_support::truncate_to(damaged, 0.4));
    expected.insert(damaged + "|B|J|");
  }
  writeJob(photos, "CheckHashes\t1\nCheckStructure\t1\nMaxSubProcesses\t4\n");

  ASSERT_NO_FATAL_FAILURE(startProgram());
  ASSERT_NO_FATAL_FAILURE(runJob());
  ASSERT_NO_FATAL_FAILURE(quitProgram());

  EXPECT_EQ(rows("select status, num_processed, num_valid, num_invalid, num_indeterminate, num_error, num_hash "
                 "from run"),
            std::vector<std::string>{"OK|4|0|2|0|0|2"});
  std::vector<std::string> details = rows("select path, code, type, message from detail");
  EXPECT_EQ(std::set<std::string>(details.begin(), details.end()), expected);
}

}  // namespace
