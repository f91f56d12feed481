// Test bodies that must run in a process of their own: as a user without
// root's rights (a folder without read permission means nothing to root),
// or under a resource limit. Header only.
#pragma once

#include <ftw.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

namespace testing_support {

// The exit code of a child that could not give up root.
inline constexpr int kCannotDropRoot = 77;

namespace child_detail {
inline uid_t g_owner = 65534;
inline int chown_entry(const char* path, const struct stat*, int, struct FTW*) {
  return lchown(path, g_owner, g_owner) == 0 ? 0 : 1;
}
}  // namespace child_detail

// Runs body in a forked child and gives its result (its exit code), or -1
// when the child did not end normally. The child ends with _exit, so
// nothing of the test process runs twice.
inline int run_in_child(const std::function<int()>& body) {
  fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) _exit(body());
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// As run_in_child, but the child runs as a user without root's rights:
// the current one when that is not root; otherwise "nobody" (uid and gid
// 65534), to whom the folder is handed first. kCannotDropRoot when root
// cannot be given up (the caller skips).
inline int run_unprivileged(const std::string& folder, const std::function<int()>& body) {
  return run_in_child([&] {
    if (geteuid() == 0) {
      if (nftw(folder.c_str(), child_detail::chown_entry, 32, FTW_PHYS) != 0) return kCannotDropRoot;
      if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) return kCannotDropRoot;
      if (geteuid() == 0 || setuid(0) == 0) return kCannotDropRoot;
    }
    return body();
  });
}

// As run_in_child, with files limited to limit bytes (the soft limit: the
// body may lift it again before it writes what it reports); SIGXFSZ is
// ignored, so writing past the limit is an error (EFBIG), not the end.
inline int run_with_file_size_limit(rlim_t limit, const std::function<int()>& body) {
  return run_in_child([&] {
    signal(SIGXFSZ, SIG_IGN);
    struct rlimit r;
    if (getrlimit(RLIMIT_FSIZE, &r) != 0) return 2;
    r.rlim_cur = limit;
    if (setrlimit(RLIMIT_FSIZE, &r) != 0) return 2;
    return body();
  });
}

// Lifts the soft file-size limit to the hard one.
inline void lift_file_size_limit() {
  struct rlimit r;
  if (getrlimit(RLIMIT_FSIZE, &r) == 0) {
    r.rlim_cur = r.rlim_max;
    setrlimit(RLIMIT_FSIZE, &r);
  }
}

}  // namespace testing_support
