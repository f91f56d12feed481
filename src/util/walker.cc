#include "util/walker.h"

#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <utility>

#include "platform/files.h"
#include "util/trace.h"

namespace {

WalkOutputHook g_output_hook = nullptr;

using FolderId = std::pair<dev_t, ino_t>;

struct WalkState {
  WalkCallback callback;
  void* user;
  bool descend;
  std::set<FolderId> entered;
};

std::string entry_path(const std::string& folder, const char* name) {
  if (folder.empty()) return name;
  if (folder.back() == '/') return folder + name;
  return folder + "/" + name;
}

int base_offset(const char* path) {
  const char* slash = strrchr(path, '/');
  return slash == nullptr ? 0 : static_cast<int>(slash - path + 1);
}

// Reports a failure to get an entry's status, as call_fn does.
void report_status_failure(const char* path, int err) {
  std::string text = platform::errno_text(err);
  log_printf("call_fn stat(%s) failed: %s", path, text.c_str());
  if (g_output_hook != nullptr) g_output_hook("\nERROR accessing %s (%s)\n\n", path, text.c_str());
}

// Tells the callback of a folder or entry the walk could not get into.
int report_unreadable(const std::string& path, int depth, int err, WalkState& state) {
  WalkInfo info{base_offset(path.c_str()), depth, err};
  return state.callback(path.c_str(), nullptr, kWalkUnreadable, &info, state.user);
}

// Failures that belong to one entry only: the walk reports them and goes on.
bool entry_failure(int err) {
  return err == ENOENT || err == ENOTDIR || err == ELOOP || err == ENAMETOOLONG || err == EACCES || err == EPERM;
}

int walk(const std::string& folder, int depth, WalkState& state, bool report_self) {
  if (report_self) {
    int rc = call_fn(depth, folder.c_str(), state.callback, true, state.user);
    if (rc != 0) return rc;
  }
  struct stat self;
  if (platform::file_status(folder.empty() ? "." : folder, &self)) {
    state.entered.insert({self.st_dev, self.st_ino});
  }

  auto names = platform::list_folder(folder);
  if (!names) {
    int err = errno;
    if (err == EACCES || err == EPERM) {
      // Passed over, but never in silence: the caller hears of it.
      log_printf("Can't read folder %s: %s", folder.c_str(), platform::errno_text(err).c_str());
      return report_unreadable(folder, depth, err, state);
    }
    std::string pattern = entry_path(folder, "*");
    std::string text = platform::errno_text(err);
    log_printf("\n\nERROR: [%s] %s failed with error %d: %s\n", pattern.c_str(), "FindFirstFile", err, text.c_str());
    char c[5];
    for (size_t i = 0; i < 5; ++i) c[i] = i < text.size() ? text[i] : ' ';
    log_printf("%c %c %c %c %c\n", c[0], c[1], c[2], c[3], c[4]);
    return -1;
  }

  for (const std::string& name : *names) {
    std::string path = entry_path(folder, name.c_str());
    if (path.size() >= PATH_MAX) {
      report_status_failure(path.c_str(), ENAMETOOLONG);
      int rc = report_unreadable(path, depth + 1, ENAMETOOLONG, state);
      if (rc != 0) return rc;
      continue;
    }
    struct stat st;
    if (!platform::file_status(path, &st)) {
      int err = errno;
      if (entry_failure(err)) {
        // A dangling link, an entry removed since the listing, a link loop.
        report_status_failure(path.c_str(), err);
        int rc = report_unreadable(path, depth + 1, err, state);
        if (rc != 0) return rc;
        continue;
      }
      report_status_failure(path.c_str(), err);
      return -1;
    }
    int rc = 0;
    if (S_ISDIR(st.st_mode)) {
      if (!state.descend) continue;
      if (name == "$Recycle.Bin") continue;
      if (state.entered.count({st.st_dev, st.st_ino}) != 0) continue;
      rc = walk(path, depth + 1, state, true);
    } else if (S_ISREG(st.st_mode)) {
      rc = call_fn(depth + 1, path.c_str(), state.callback, false, state.user);
    } else {
      continue;  // FIFO, socket or device
    }
    if (rc != 0) return rc;
  }
  return 0;
}

}  // namespace

void walk_set_output_hook(WalkOutputHook hook) { g_output_hook = hook; }

int call_fn(int depth, const char* path, WalkCallback callback, bool is_folder, void* user) {
  struct stat st;
  if (stat(*path == '\0' ? "." : path, &st) != 0) {
    report_status_failure(path, errno);
    return -1;
  }
  WalkInfo info{base_offset(path), depth, 0};
  return callback(path, &st, is_folder ? kWalkFolder : kWalkFile, &info, user);
}

int walk_folder(const char* folder, WalkCallback callback, int depth, void* user) {
  WalkState state{callback, user, true, {}};
  if (depth == -1) {
    state.descend = false;
    depth = 0;
  }
  return walk(folder != nullptr ? folder : "", depth, state, true);
}

int collect_file_name(const char* path, const struct stat*, int kind, const WalkInfo* info, void* user) {
  if (info->level != 1 || kind == kWalkUnreadable) return 0;
  auto* list = static_cast<FileList*>(user);
  if (list->count == list->capacity) {
    int grown_capacity = list->capacity + 2;
    auto* grown = static_cast<char**>(realloc(list->names, sizeof(char*) * static_cast<size_t>(grown_capacity)));
    if (grown == nullptr) return 1;
    list->names = grown;
    list->capacity = grown_capacity;
  }
  char* copy = strdup(path + info->base);
  if (copy == nullptr) return 1;
  list->names[list->count++] = copy;
  return 0;
}

FileList* list_files(const char* folder) {
  if (access(folder, F_OK) != 0) return nullptr;
  auto* list = static_cast<FileList*>(calloc(1, sizeof(FileList)));
  if (list == nullptr) return nullptr;
  list->names = static_cast<char**>(calloc(2, sizeof(char*)));
  if (list->names == nullptr) {
    free(list);
    return nullptr;
  }
  list->capacity = 2;
  if (walk_folder(folder, collect_file_name, 0, list) == 1) {
    free_file_list(list);
    return nullptr;
  }
  list->cursor = 0;
  return list;
}

void free_file_list(FileList* list) {
  if (list == nullptr) return;
  for (int i = 0; i < list->count; ++i) free(list->names[i]);
  free(list->names);
  free(list);
}
