// Jobs through the main window: a job file that exists but cannot be read
// is kept aside and never saved over.
#include <dirent.h>
#include <gmock/gmock.h>

#include "main_window_fixture.h"

namespace testing_support {
namespace {

using ::testing::HasSubstr;

// A set file cut off in the middle of a line that had only begun: the
// store refuses to read it.
const std::string kDamagedLines = "CheckStructure\t1\nFolders\t/photos/2009\nFolders\t/photos/2010\n\t\t";

class JobFileTest : public MainWindowTest {
 protected:
  // The names in the settings folder that keep an unreadable job's file.
  std::vector<std::string> kept(const std::string& job) {
    std::vector<std::string> names;
    DIR* d = opendir((root_ + "/QXMain").c_str());
    if (d == nullptr) return names;
    std::string prefix = "." + job + ".unreadable-";
    while (dirent* e = readdir(d)) {
      if (std::string(e->d_name).rfind(prefix, 0) == 0) names.push_back(e->d_name);
    }
    closedir(d);
    return names;
  }
};

struct DamagedJobCase {
  const char* name;
  const char* job;           // the damaged job
  const char* current_job;   // CurrentJob at start-up
};

void PrintTo(const DamagedJobCase& c, std::ostream* out) { *out << c.name; }

class DamagedJobTest : public JobFileTest, public ::testing::WithParamInterface<DamagedJobCase> {};

TEST_P(DamagedJobTest, IsKeptAsideToldInTheRunLogAndNeverOverwritten) {
  const DamagedJobCase& c = GetParam();
  writeSet(c.job, kDamagedLines);
  std::string original = setText(c.job);
  if (std::string(c.job) != "Default") writeSet("Default", "CheckStructure\t1\n");
  setSettingsValue("CurrentJob", c.current_job);

  open();
  EXPECT_THAT(shownLog(), HasSubstr("ERROR: Can't read Job: " + std::string(c.job) + " (its contents are damaged)"));
  close();  // quitting saves the current job

  auto names = kept(c.job);
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(read_file(root_ + "/QXMain/" + names[0]), original);
  // The job list never shows the kept file; "Default" is readable again.
  EXPECT_THAT(setText("Default"), HasSubstr("Version\t1\n"));
  open();
  for (const std::string& entry : comboEntries()) EXPECT_EQ(entry.find("unreadable"), std::string::npos);
  EXPECT_THAT(shownLog(), ::testing::Not(HasSubstr("Can't read Job")));
}

INSTANTIATE_TEST_SUITE_P(Jobs, DamagedJobTest,
                         ::testing::Values(DamagedJobCase{"DefaultAtStartUp", "Default", "Default"},
                                           DamagedJobCase{"CurrentJobAtStartUp", "Trips", "Trips"}),
                         [](const ::testing::TestParamInfo<DamagedJobCase>& info) { return info.param.name; });

}  // namespace
}  // namespace testing_support
