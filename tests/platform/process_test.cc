#include "platform/process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <errno.h>
#include <unistd.h>

#include <string>

#include "platform/files.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using testing_support::read_file;
using testing_support::TempFolder;

platform::SpawnOptions shell(const std::string& script) {
  platform::SpawnOptions options;
  options.argv = {"/bin/sh", "-c", script};
  return options;
}

TEST(Process, ChildTalksOverPipesAndWritesStderrToAFile) {
  TempFolder dir;
  auto in = platform::make_pipe();
  auto out = platform::make_pipe();
  ASSERT_TRUE(in && out);
  platform::Fd err = platform::open_capture_file(dir.sub("stderr.txt"));
  auto options = shell("read line; echo \"got $line\"; echo oops >&2; exit 3");
  options.stdin_fd = in->read_end.get();
  options.stdout_fd = out->write_end.get();
  options.stderr_fd = err.get();
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  in->read_end.reset();
  out->write_end.reset();

  ASSERT_TRUE(platform::write_all(in->write_end.get(), "hello\n", 6));
  char buf[64] = {};
  ssize_t n = platform::read_full(out->read_end.get(), buf, sizeof buf - 1);
  EXPECT_EQ(std::string(buf, static_cast<size_t>(n)), "got hello\n");
  ASSERT_TRUE(child->wait_for(10s));
  EXPECT_EQ(child->exit_code(), 3);
  EXPECT_EQ(read_file(dir.sub("stderr.txt")), "oops\n");
}

TEST(Process, ChildInheritsNoOtherDescriptors) {
  // If the child kept a copy of this pipe's write end, reading it would
  // never reach end of input after we close ours.
  auto unrelated = platform::make_pipe();
  ASSERT_TRUE(unrelated);
  auto options = shell("sleep 5");
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  unrelated->write_end.reset();
  ASSERT_TRUE(platform::wait_readable(unrelated->read_end.get(), 2000ms));
  char byte;
  EXPECT_EQ(platform::read_some(unrelated->read_end.get(), &byte, 1), 0);
  child->kill_and_wait();
}

TEST(Process, KillEndsAChildAndNeverSignalsAReapedPid) {
  std::string error;
  auto child = platform::spawn_process(shell("sleep 30"), &error);
  ASSERT_TRUE(child) << error;
  EXPECT_FALSE(child->try_wait());
  child->kill_and_wait();
  EXPECT_TRUE(child->reaped());
  EXPECT_EQ(child->exit_code(), 128 + SIGKILL);
  child->kill_and_wait();  // already reaped: nothing is sent
  EXPECT_TRUE(child->reaped());
}

TEST(Process, KillingAGroupEndsWhatTheChildStarted) {
  // The child starts a sleeper that would hold the pipe open for a minute.
  auto out = platform::make_pipe();
  ASSERT_TRUE(out);
  auto options = shell("sleep 60 & echo $!; wait");
  options.stdout_fd = out->write_end.get();
  options.new_process_group = true;
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  out->write_end.reset();
  EXPECT_EQ(getpgid(child->pid()), child->pid());
  ASSERT_TRUE(platform::wait_readable(out->read_end.get(), 10000ms));
  char text[32] = {};
  ASSERT_GT(platform::read_some(out->read_end.get(), text, sizeof text - 1), 0);
  child->kill_group_and_wait();
  EXPECT_EQ(child->exit_code(), 128 + SIGKILL);
  // With the sleeper gone too, the pipe reaches its end at once.
  ASSERT_TRUE(platform::wait_readable(out->read_end.get(), 5000ms));
  char byte;
  EXPECT_EQ(platform::read_some(out->read_end.get(), &byte, 1), 0);
}

TEST(Process, MissingProgramIsAnErrorNotAChild) {
  platform::SpawnOptions options;
  options.argv = {"/nonexistent/program"};
  std::string error;
  EXPECT_FALSE(platform::spawn_process(options, &error));
  EXPECT_EQ(errno, ENOENT);
  EXPECT_NE(error.find("/nonexistent/program"), std::string::npos);
  EXPECT_NE(error.find("No such file"), std::string::npos);
}

// The child starts with nothing blocked and SIGPIPE at its default action,
// whatever this process blocks, ignores or handles.
TEST(Process, TheChildGetsNoBlockedSignalsAndTheDefaultSigpipe) {
  platform::ignore_sigpipe();
  struct sigaction handler = {};
  handler.sa_handler = [](int) {};
  struct sigaction previous_usr1 = {};
  sigaction(SIGUSR1, &handler, &previous_usr1);
  sigset_t blocked, previous_mask;
  sigemptyset(&blocked);
  sigaddset(&blocked, SIGUSR2);
  pthread_sigmask(SIG_BLOCK, &blocked, &previous_mask);

  TempFolder dir;
  platform::Fd out = platform::open_capture_file(dir.sub("status.txt"));
  platform::SpawnOptions options;
  options.argv = {"/bin/grep", "-E", "^Sig(Blk|Ign|Cgt):", "/proc/self/status"};
  options.stdout_fd = out.get();
  std::string error;
  auto child = platform::spawn_process(options, &error);
  pthread_sigmask(SIG_SETMASK, &previous_mask, nullptr);
  sigaction(SIGUSR1, &previous_usr1, nullptr);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->wait_for(10s));

  const std::string status = read_file(dir.sub("status.txt"));
  auto mask_of = [&](const std::string& name) {
    size_t at = status.find(name + ":");
    EXPECT_NE(at, std::string::npos) << status;
    return at == std::string::npos ? 0ull : std::stoull(status.substr(at + name.size() + 1), nullptr, 16);
  };
  EXPECT_EQ(mask_of("SigBlk"), 0u);
  EXPECT_EQ(mask_of("SigIgn") & (1ull << (SIGPIPE - 1)), 0u);
  EXPECT_EQ(mask_of("SigCgt") & (1ull << (SIGUSR1 - 1)), 0u);
}

TEST(Process, UnsetStreamsAreNullAndExtraEnvironmentIsPassed) {
  TempFolder dir;
  platform::Fd out = platform::open_capture_file(dir.sub("out.txt"));
  auto options = shell("cat; echo \"[$CORVELLA_TEST_VALUE]\"");
  options.stdout_fd = out.get();
  options.extra_env = {"CORVELLA_TEST_VALUE=42"};
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->wait_for(10s));
  EXPECT_EQ(read_file(dir.sub("out.txt")), "[42]\n");
}

TEST(Process, WritingToAClosedPipeFailsInsteadOfKilling) {
  platform::ignore_sigpipe();
  auto p = platform::make_pipe();
  ASSERT_TRUE(p);
  p->read_end.reset();
  EXPECT_FALSE(platform::write_all(p->write_end.get(), "x", 1));
  EXPECT_EQ(errno, EPIPE);
}

TEST(Process, WaitReadableTimesOutOnAQuietPipe) {
  auto p = platform::make_pipe();
  ASSERT_TRUE(p);
  EXPECT_FALSE(platform::wait_readable(p->read_end.get(), 50ms));
  ASSERT_TRUE(platform::write_all(p->write_end.get(), "x", 1));
  EXPECT_TRUE(platform::wait_readable(p->read_end.get(), 50ms));
}

}  // namespace
