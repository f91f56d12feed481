#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace platform {

std::string errno_text(int err) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  if (text == nullptr || *text == '\0') return "no message string";
  return text;
}

std::optional<std::vector<std::string>> list_folder(const std::string& folder) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return std::nullopt;
  std::vector<std::string> names;
  for (;;) {
    errno = 0;
    struct dirent* d = readdir(dir);
    if (d == nullptr) break;
    if (strcmp(d->d_name, ".") == 0 || strcmp(d->d_name, "..") == 0) continue;
    names.emplace_back(d->d_name);
  }
  int err = errno;
  closedir(dir);
  if (err != 0) {
    errno = err;
    return std::nullopt;
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool file_status(const std::string& path, struct stat* st) { return stat(path.c_str(), st) == 0; }

bool link_status(const std::string& path, struct stat* st) { return lstat(path.c_str(), st) == 0; }

bool is_folder(const std::string& path) {
  struct stat st;
  return file_status(path, &st) && S_ISDIR(st.st_mode);
}

bool exists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

bool make_folder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) {
    if (is_folder(path)) return true;
    errno = EEXIST;
  }
  return false;
}

bool make_folders(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return false;
  }
  if (is_folder(path)) return true;
  std::string::size_type pos = 0;
  while ((pos = path.find('/', pos + 1)) != std::string::npos) {
    std::string part = path.substr(0, pos);
    if (!part.empty() && part.back() != '/' && !make_folder(part)) return false;
  }
  return make_folder(path);
}

bool remove_folder(const std::string& path) { return rmdir(path.c_str()) == 0; }

bool remove_file(const std::string& path) { return unlink(path.c_str()) == 0; }

static std::string parent_of(const std::string& path) {
  auto slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool sync_parent_folder(const std::string& path) {
  int fd = open(parent_of(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = fsync(fd);
  int err = errno;
  close(fd);
  errno = err;
  // Some file systems refuse fsync on folders; that is no reason to fail a save.
  return rc == 0 || errno == EINVAL || errno == EROFS;
}

bool replace_file(const std::string& temp_path, const std::string& target_path) {
  int fd = open(temp_path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  int rc = fsync(fd);
  int err = errno;
  close(fd);
  if (rc != 0 && err != EINVAL && err != EROFS) {
    errno = err;
    return false;
  }
  if (rename(temp_path.c_str(), target_path.c_str()) != 0) return false;
  sync_parent_folder(target_path);
  return true;
}

std::string temp_folder() {
  for (const char* var : {"TMP", "TMPDIR"}) {
    const char* value = getenv(var);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/tmp";
}

std::optional<std::string> make_temp_folder(const std::string& prefix) {
  std::string tmpl = join_path(temp_folder(), prefix + "XXXXXX");
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (mkdtemp(buf.data()) == nullptr) return std::nullopt;
  return std::string(buf.data());
}

// Empties the folder open as dir_fd, working relative to open folders so
// that no path ever grows past the system's limit.
static bool remove_contents(int dir_fd, int depth) {
  if (depth > 4096) {
    errno = ELOOP;
    return false;
  }
  DIR* dir = fdopendir(dir_fd);
  if (dir == nullptr) {
    close(dir_fd);
    return false;
  }
  bool ok = true;
  std::vector<std::string> names;
  while (struct dirent* d = readdir(dir)) {
    if (strcmp(d->d_name, ".") != 0 && strcmp(d->d_name, "..") != 0) names.emplace_back(d->d_name);
  }
  for (const auto& name : names) {
    struct stat st;
    if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      int child = openat(dirfd(dir), name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      if (child < 0 || !remove_contents(child, depth + 1)) ok = false;
      if (unlinkat(dirfd(dir), name.c_str(), AT_REMOVEDIR) != 0) ok = false;
    } else if (unlinkat(dirfd(dir), name.c_str(), 0) != 0) {
      ok = false;
    }
  }
  closedir(dir);
  return ok;
}

bool remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return false;
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0;
  int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = remove_contents(fd, 0);
  return rmdir(path.c_str()) == 0 && ok;
}

std::optional<std::string> app_data_folder() {
  std::string folder;
  const char* xdg = getenv("XDG_DATA_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    folder = xdg;
  } else {
    const char* home = getenv("HOME");
    if (home == nullptr || home[0] != '/') {
      errno = ENOENT;
      return std::nullopt;
    }
    folder = join_path(home, ".local/share");
  }
  if (!make_folders(folder)) return std::nullopt;
  return folder;
}

std::string join_path(const std::string& folder, const std::string& name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

std::optional<std::string> executable_folder() {
  char buf[PATH_MAX];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return std::nullopt;
  buf[n] = '\0';
  return parent_of(buf);
}

}  // namespace platform
