// A private temporary folder for one test, removed with everything in it
// when the test ends.
#pragma once

#include <string>

namespace testing_support {

class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  // path() + "/" + name
  std::string sub(const std::string& name) const;
  // Writes a file below the folder (creating parent folders) and gives its path.
  std::string write_file(const std::string& name, const std::string& contents) const;

 private:
  std::string path_;
};

// Reads a whole file; empty when it cannot be read.
std::string read_file(const std::string& path);

// Points HOME, XDG_DATA_HOME, XDG_CONFIG_HOME, TMP and TMPDIR into a folder
// for the life of the object, so nothing a test does reaches real settings.
class IsolatedEnvironment {
 public:
  explicit IsolatedEnvironment(const std::string& folder);
  ~IsolatedEnvironment();

 private:
  struct Saved {
    std::string name;
    bool was_set;
    std::string value;
  };
  Saved saved_[5];
};

}  // namespace testing_support
