#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "platform/files.h"

extern char** environ;

namespace platform {

void ignore_sigpipe() {
  struct sigaction sa;
  memset(&sa, 0, sizeof sa);
  sa.sa_handler = SIG_IGN;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGPIPE, &sa, nullptr);
}

Fd& Fd::operator=(Fd&& other) noexcept {
  if (this != &other) reset(other.release());
  return *this;
}

int Fd::release() {
  int fd = fd_;
  fd_ = -1;
  return fd;
}

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

std::optional<Pipe> make_pipe() {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return std::nullopt;
  return Pipe{Fd(fds[0]), Fd(fds[1])};
}

bool set_nonblocking(int fd) {
  int flags = fcntl(fd, F_GETFL);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

Fd open_capture_file(const std::string& path) {
  return Fd(open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644));
}

Fd open_null(bool for_writing) {
  return Fd(open("/dev/null", (for_writing ? O_WRONLY : O_RDONLY) | O_CLOEXEC));
}

bool write_all(int fd, const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = write(fd, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = EIO;
      return false;
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

ssize_t read_some(int fd, void* data, size_t size) {
  for (;;) {
    ssize_t n = read(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    return n;
  }
}

ssize_t read_full(int fd, void* data, size_t size) {
  char* p = static_cast<char*>(data);
  size_t got = 0;
  while (got < size) {
    ssize_t n = read_some(fd, p + got, size - got);
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool wait_readable(int fd, std::chrono::milliseconds timeout) {
  struct pollfd pfd = {fd, POLLIN, 0};
  auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    int rc = poll(&pfd, 1, left.count() < 0 ? 0 : static_cast<int>(left.count()));
    if (rc > 0) return true;
    if (rc == 0) return false;
    if (errno != EINTR) return true;  // let the read report the error
  }
}

ChildProcess::ChildProcess(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
  // Close-on-exec by definition; ENOSYS on kernels without it leaves -1.
  if (pid > 0) exit_fd_.reset(static_cast<int>(syscall(SYS_pidfd_open, pid, 0)));
#endif
}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  pid_ = other.pid_;
  reaped_ = other.reaped_;
  status_ = other.status_;
  exit_fd_ = std::move(other.exit_fd_);
  other.pid_ = -1;
  other.reaped_ = false;
  other.status_ = 0;
  return *this;
}

int ChildProcess::exit_code() const {
  if (WIFEXITED(status_)) return WEXITSTATUS(status_);
  if (WIFSIGNALED(status_)) return 128 + WTERMSIG(status_);
  return -1;
}

bool ChildProcess::try_wait() {
  if (pid_ <= 0 || reaped_) return reaped_;
  int st = 0;
  pid_t rc;
  do {
    rc = waitpid(pid_, &st, WNOHANG);
  } while (rc < 0 && errno == EINTR);
  if (rc == pid_) {
    reaped_ = true;
    status_ = st;
  }
  return reaped_;
}

bool ChildProcess::wait() {
  if (pid_ <= 0 || reaped_) return reaped_;
  int st = 0;
  pid_t rc;
  do {
    rc = waitpid(pid_, &st, 0);
  } while (rc < 0 && errno == EINTR);
  if (rc == pid_) {
    reaped_ = true;
    status_ = st;
  }
  return reaped_;
}

bool ChildProcess::wait_for(std::chrono::milliseconds timeout) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  auto step = std::chrono::milliseconds(1);
  while (!try_wait()) {
    if (pid_ <= 0 || std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(step);
    if (step < std::chrono::milliseconds(20)) step *= 2;
  }
  return true;
}

void ChildProcess::kill_and_wait() {
  if (pid_ <= 0 || reaped_) return;
  if (!try_wait()) {
    ::kill(pid_, SIGKILL);
    wait();
  }
}

void ChildProcess::kill_group() {
  if (pid_ <= 0 || reaped_) return;
  ::kill(-pid_, SIGKILL);
}

void ChildProcess::kill_group_and_wait() {
  if (pid_ <= 0 || reaped_) return;
  // Not reaped: the child, if only as a zombie, still holds its number.
  ::kill(-pid_, SIGKILL);
  wait();
}

namespace {

// posix_spawn file actions and attributes, released on every path.
struct SpawnActions {
  posix_spawn_file_actions_t actions;
  SpawnActions() { posix_spawn_file_actions_init(&actions); }
  ~SpawnActions() { posix_spawn_file_actions_destroy(&actions); }
};

}  // namespace

std::optional<ChildProcess> spawn_process(const SpawnOptions& options, std::string* error) {
  auto fail = [&](const std::string& what, int err) -> std::optional<ChildProcess> {
    if (error != nullptr) *error = what + ": " + errno_text(err);
    errno = err;
    return std::nullopt;
  };
  if (options.argv.empty()) return fail("spawn", EINVAL);

  // Descriptors given as -1 get /dev/null; they are closed again on return.
  Fd null_in, null_out, null_err;
  int in_fd = options.stdin_fd, out_fd = options.stdout_fd, err_fd = options.stderr_fd;
  if (in_fd < 0) {
    null_in = open_null(false);
    in_fd = null_in.get();
  }
  if (out_fd < 0) {
    null_out = open_null(true);
    out_fd = null_out.get();
  }
  if (err_fd < 0) {
    null_err = open_null(true);
    err_fd = null_err.get();
  }
  if (in_fd < 0 || out_fd < 0 || err_fd < 0) return fail("open /dev/null", errno);

  // A source that already sits on 0, 1 or 2 would be overwritten by an
  // earlier dup2; move every source above 2 first.
  Fd moved[3];
  int* sources[3] = {&in_fd, &out_fd, &err_fd};
  for (int i = 0; i < 3; ++i) {
    if (*sources[i] <= 2) {
      int copy = fcntl(*sources[i], F_DUPFD_CLOEXEC, 3);
      if (copy < 0) return fail("dup", errno);
      moved[i].reset(copy);
      *sources[i] = copy;
    }
  }

  SpawnActions fa;
  posix_spawn_file_actions_adddup2(&fa.actions, in_fd, 0);
  posix_spawn_file_actions_adddup2(&fa.actions, out_fd, 1);
  posix_spawn_file_actions_adddup2(&fa.actions, err_fd, 2);

  std::vector<char*> argv;
  for (const auto& a : options.argv) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);

  std::vector<std::string> env_store;
  std::vector<char*> envp;
  char** env = environ;
  if (!options.extra_env.empty()) {
    for (char** e = environ; *e != nullptr; ++e) {
      std::string entry = *e;
      std::string name = entry.substr(0, entry.find('='));
      bool overridden = false;
      for (const auto& x : options.extra_env) {
        if (x.compare(0, name.size() + 1, name + "=") == 0) overridden = true;
      }
      if (!overridden) env_store.push_back(entry);
    }
    for (const auto& x : options.extra_env) env_store.push_back(x);
    for (auto& s : env_store) envp.push_back(s.data());
    envp.push_back(nullptr);
    env = envp.data();
  }

  // A signal mask and dispositions set to default in the child, so a child
  // of a program that ignores SIGPIPE still dies of it like any other.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t def;
  sigemptyset(&def);
  sigaddset(&def, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &def);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attr, &none);
  short flags = POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK;
  if (options.new_process_group) {
    posix_spawnattr_setpgroup(&attr, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attr, flags);

  pid_t pid = -1;
  int rc = posix_spawn(&pid, argv[0], &fa.actions, &attr, argv.data(), env);
  posix_spawnattr_destroy(&attr);
  if (rc != 0) return fail("can't start " + options.argv[0], rc);
  return ChildProcess(pid);
}

std::optional<uint64_t> address_space_limit() {
  struct rlimit limit;
  if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
  return static_cast<uint64_t>(limit.rlim_cur);
}

bool set_address_space_limit(pid_t pid, uint64_t bytes) {
  struct rlimit limit;
  if (prlimit(pid, RLIMIT_AS, nullptr, &limit) != 0) return false;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  if (limit.rlim_max != RLIM_INFINITY && limit.rlim_cur > limit.rlim_max) limit.rlim_cur = limit.rlim_max;
  return prlimit(pid, RLIMIT_AS, &limit, nullptr) == 0;
}

std::optional<uint64_t> physical_memory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return std::nullopt;
  return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

}  // namespace platform
