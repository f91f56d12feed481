#include "support/temp_folder.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/files.h"

namespace testing_support {

TempFolder::TempFolder() {
  auto made = platform::make_temp_folder("corvella-test-");
  if (!made) throw std::runtime_error("cannot make a temporary folder");
  path_ = *made;
}

TempFolder::~TempFolder() { platform::remove_tree(path_); }

std::string TempFolder::sub(const std::string& name) const { return path_ + "/" + name; }

std::string TempFolder::write_file(const std::string& name, const std::string& contents) const {
  std::string path = sub(name);
  auto slash = path.rfind('/');
  platform::make_folders(path.substr(0, slash));
  std::ofstream out(path, std::ios::binary);
  out << contents;
  return path;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

IsolatedEnvironment::IsolatedEnvironment(const std::string& folder) {
  const char* names[5] = {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "TMP", "TMPDIR"};
  const char* subs[5] = {"home", "home/.local/share", "home/.config", "tmp", "tmp"};
  for (int i = 0; i < 5; ++i) {
    const char* old = getenv(names[i]);
    saved_[i] = {names[i], old != nullptr, old != nullptr ? old : ""};
    std::string value = folder + "/" + subs[i];
    platform::make_folders(value);
    setenv(names[i], value.c_str(), 1);
  }
}

IsolatedEnvironment::~IsolatedEnvironment() {
  for (const auto& s : saved_) {
    if (s.was_set) {
      setenv(s.name.c_str(), s.value.c_str(), 1);
    } else {
      unsetenv(s.name.c_str());
    }
  }
}

}  // namespace testing_support
