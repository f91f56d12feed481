// Processes and pipes: starting a child with its standard streams on pipes
// or files, waiting for it, ending it, and reading and writing pipes.
//
// Every descriptor made here is close-on-exec, so a child inherits only the
// three standard descriptors it was given; otherwise a worker would hold the
// pipe ends of its siblings and end-of-file would never arrive.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// Ignores SIGPIPE for the whole process, so that writing to a pipe whose
// reader has gone fails with EPIPE instead of killing the writer.
void ignore_sigpipe();

// An owned file descriptor, closed when it goes out of scope.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  Fd(Fd&& other) noexcept : fd_(other.release()) {}
  Fd& operator=(Fd&& other) noexcept;
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }

  int get() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  int release();
  void reset(int fd = -1);

 private:
  int fd_ = -1;
};

struct Pipe {
  Fd read_end;
  Fd write_end;
};

// A new pipe with both ends close-on-exec; nothing (errno set) on failure.
std::optional<Pipe> make_pipe();

// Makes reads (and writes) on fd return EAGAIN instead of blocking. The
// flag belongs to this end of a pipe only, not to the other end's holder.
bool set_nonblocking(int fd);

// Opens a file for a child's standard stream: created or truncated, appended.
Fd open_capture_file(const std::string& path);
// /dev/null for reading or writing.
Fd open_null(bool for_writing);

// write() and read() loops that retry on EINTR. write_all gives false on
// any failure or short write; read_some gives what read() gave (0 at end).
bool write_all(int fd, const void* data, size_t size);
ssize_t read_some(int fd, void* data, size_t size);
// Reads exactly size bytes unless the end comes first; gives the count read
// (less than size at end of input), or -1 on an error.
ssize_t read_full(int fd, void* data, size_t size);

// Waits up to timeout for fd to become readable (or to reach end of input or
// an error). true when reading will not block.
bool wait_readable(int fd, std::chrono::milliseconds timeout);

// What a child's standard descriptors are connected to. A value of -1 gives
// /dev/null. The descriptors stay owned by the caller, who closes its copies
// of the child's ends once the child has started.
struct SpawnOptions {
  std::vector<std::string> argv;  // argv[0] is the program's path
  int stdin_fd = -1;
  int stdout_fd = -1;
  int stderr_fd = -1;
  // Extra environment entries "NAME=value" on top of the parent's.
  std::vector<std::string> extra_env;
  // Starts the child as the leader of a new process group, so that it and
  // everything it starts can be ended together (kill_group).
  bool new_process_group = false;
};

// A started child process. Not copyable; the destructor neither waits nor
// kills, so the owner decides what happens to a child it lets go.
class ChildProcess {
 public:
  ChildProcess() = default;
  // Takes the child; opens its process descriptor (exit_fd) when the system
  // has them. The child must not have been reaped yet.
  explicit ChildProcess(pid_t pid);
  ChildProcess(ChildProcess&& other) noexcept { *this = std::move(other); }
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool started() const { return pid_ > 0; }
  // A descriptor that polls readable once the child has ended (a process
  // descriptor), -1 where the system gives none; owned by this object.
  int exit_fd() const { return exit_fd_.get(); }
  bool reaped() const { return reaped_; }
  // The raw wait status once reaped.
  int status() const { return status_; }
  // Exit code, or 128 + signal number for a child ended by a signal.
  int exit_code() const;

  // Reaps the child if it has ended; true once it has been reaped.
  bool try_wait();
  // Waits for the child to end (retrying on EINTR); true once reaped.
  bool wait();
  // Waits at most timeout; true once reaped.
  bool wait_for(std::chrono::milliseconds timeout);
  // Sends SIGKILL (never to a pid already reaped) and reaps the child.
  void kill_and_wait();
  // For a child started with new_process_group: sends SIGKILL to its whole
  // group (what it started included), then reaps the child. Nothing is sent
  // once the child has been reaped, since its number may then be reused.
  void kill_group_and_wait();
  // Sends SIGKILL to the child's group without waiting (nothing once
  // reaped), so that several children can end at the same time before
  // kill_group_and_wait reaps each.
  void kill_group();

 private:
  pid_t pid_ = -1;
  bool reaped_ = false;
  int status_ = 0;
  Fd exit_fd_;
};

// The soft limit of this process's address space in bytes; nothing when it
// is unlimited.
std::optional<uint64_t> address_space_limit();
// Sets the soft limit of a process's address space to `bytes` (no more than
// its hard limit, which stays as it is); a limit lowered below what the
// process already holds only refuses its later requests. false, errno set,
// when the process is gone or may not be changed.
bool set_address_space_limit(pid_t pid, uint64_t bytes);
// The machine's physical memory in bytes; nothing when the system does not
// say.
std::optional<uint64_t> physical_memory();

// Starts a program with posix_spawn. On failure gives nothing, fills error
// with the reason (the program missing, not executable, ...) and sets errno.
std::optional<ChildProcess> spawn_process(const SpawnOptions& options, std::string* error);

}  // namespace platform
