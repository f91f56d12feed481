// The real corvex program, driven over its pipes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "support/image_writers.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"
#include "util/worker_wire.h"

namespace {

using namespace std::chrono_literals;
using testing_support::read_file;
using testing_support::TempFolder;
using testing_support::WorkerProcess;

class CorvexTest : public ::testing::Test {
 protected:
  std::unique_ptr<WorkerProcess> start(std::optional<std::string> root) {
    auto w = std::make_unique<WorkerProcess>(std::move(root), dir_.sub("stderr-" + std::to_string(++started_) + ".txt"));
    EXPECT_TRUE(w->started());
    return w;
  }
  std::unique_ptr<WorkerProcess> start() { return start(root()); }
  std::string root() const { return dir_.sub("props"); }

  TempFolder dir_;
  int started_ = 0;
};

void expect_record(const wire::Record& r, char code, char type, const std::string& path, const std::string& message) {
  EXPECT_EQ(r.code, code);
  EXPECT_EQ(r.type, static_cast<unsigned char>(type));
  EXPECT_EQ(r.path, path);
  EXPECT_EQ(r.message, message);
}

TEST_F(CorvexTest, UnidentifiedFilesAreInvalidOrSkippedByTheirExtension) {
  auto w = start();
  struct Case {
    std::string name;
    char code;
  } cases[] = {
      {"notes.txt", 'B'},          // an extension: invalid
      {"pics.d/image", 'S'},       // the only dot is in a folder name: skipped
      {"trailing.", 'B'},          // the empty extension is still an extension
      {"missing/file.jpg", 'B'},   // cannot be opened
      {"README", 'S'},
  };
  for (const auto& c : cases) {
    std::string path = c.name == "missing/file.jpg" ? dir_.sub(c.name) : dir_.write_file(c.name, "not an image");
    ASSERT_TRUE(w->send_internal(path));
    auto header = w->read_record();
    ASSERT_TRUE(header) << c.name;
    expect_record(*header, 'N', 1, "", "");
    auto answer = w->read_record();
    ASSERT_TRUE(answer) << c.name;
    expect_record(*answer, c.code, '?', path, "Could not open or identify");
  }
}

TEST_F(CorvexTest, OnlyTheFirstPathOfAnInternalRequestIsAnswered) {
  auto w = start();
  ASSERT_TRUE(w->send_request("internal", {"/x/1.jpg", "/x/2.jpg", "/x/3.jpg"}));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 1u);
  EXPECT_EQ((*answer)[0].path, "/x/1.jpg");
  ASSERT_TRUE(w->send_internal("/x/4"));
  answer = w->read_answer();
  ASSERT_TRUE(answer);
  expect_record((*answer)[0], 'S', '?', "/x/4", "Could not open or identify");
}

TEST_F(CorvexTest, EndOfInputEndsTheWorkerQuietly) {
  dir_.write_file("props/QXMain/Default", "VerifyJPEGs\t1\n");
  auto w = start();
  ASSERT_TRUE(w->send_internal("/x/a.jpg"));
  ASSERT_TRUE(w->read_answer());
  w->close_input();
  EXPECT_TRUE(w->output_ends(5s));
  EXPECT_EQ(w->wait_exit(5s), 0);
  // No trace dump. (A /tmp/QX.txt owned by another user would add a
  // "Can't open logfile" line, which is fine.)
  EXPECT_EQ(w->stderr_text().find("ERROR:"), std::string::npos) << w->stderr_text();
}

TEST_F(CorvexTest, BrokenRequestsGetOneErrorAnswer) {
  struct Case {
    const char* what;
    std::string bytes;
    bool worker_goes_on;
  } cases[] = {
      {"cut inside the mode line", std::string("\x01\x00\x00\x00inter", 9), false},
      {"negative count", std::string("\xff\xff\xff\xff", 4) + "internal\n", false},
      {"absurd count", std::string("\x01\x00\x00\x40", 4) + "internal\n/a\n", false},
      {"count zero", wire::encode_request("internal", {}), true},
      {"a path longer than a line may be", wire::encode_request("internal", {"/" + std::string(3000, 'z')}), true},
  };
  for (const auto& c : cases) {
    auto w = start();
    ASSERT_TRUE(w->send_bytes(c.bytes)) << c.what;
    if (!c.worker_goes_on) w->close_input();
    auto answer = w->read_answer();
    ASSERT_TRUE(answer) << c.what;
    ASSERT_EQ(answer->size(), 1u) << c.what;
    EXPECT_EQ((*answer)[0].code, 'E') << c.what;
    EXPECT_EQ((*answer)[0].type, '?') << c.what;
    EXPECT_EQ((*answer)[0].message, "Error in Corvex reading stdin") << c.what;
    if (c.worker_goes_on) {
      ASSERT_TRUE(w->send_internal("/after/it.jpg")) << c.what;
      auto next = w->read_answer();
      ASSERT_TRUE(next) << c.what;
      EXPECT_EQ((*next)[0].path, "/after/it.jpg") << c.what;
      w->close_input();
      EXPECT_EQ(w->wait_exit(), 0) << c.what;
    } else {
      EXPECT_TRUE(w->output_ends(5s)) << c.what;
      EXPECT_EQ(w->wait_exit(), 1) << c.what;
    }
  }
}

TEST_F(CorvexTest, AnErrorAnswerAfterAnEarlierRequestNamesOnlyWhatWasReadSinceIt) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* path;  // in the error answer
  } cases[] = {
      {"count cut short", std::string("\x01\x00", 2), ""},
      {"negative count", std::string("\xff\xff\xff\xff", 4), ""},
      {"path cut short", std::string("\x01\x00\x00\x00", 4) + "internal\n/cut/sho", "/cut/sho"},
  };
  for (const auto& c : cases) {
    auto w = start();
    ASSERT_TRUE(w->send_internal("/earlier/request.jpg")) << c.what;
    auto first = w->read_answer();
    ASSERT_TRUE(first) << c.what;
    ASSERT_TRUE(w->send_bytes(c.bytes)) << c.what;
    w->close_input();
    auto answer = w->read_answer();
    ASSERT_TRUE(answer) << c.what;
    ASSERT_EQ(answer->size(), 1u) << c.what;
    expect_record((*answer)[0], 'E', '?', c.path, "Error in Corvex reading stdin");
    EXPECT_EQ(w->wait_exit(), 1) << c.what;
  }
}

TEST_F(CorvexTest, APathCutInTwoByALineBreakIsRefusedNotChecked) {
  // "evil" is a sound JPEG; "evil\n00.jpg" is the file named. The request's
  // one path arrives as two lines: the worker must not answer for "evil".
  ASSERT_TRUE(testing_support::write_jpeg(dir_.sub("evil")));
  auto w = start();
  ASSERT_TRUE(w->send_bytes(wire::encode_request("internal", {dir_.sub("evil\n00.jpg")})));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->size(), 1u);
  EXPECT_EQ((*answer)[0].code, 'E');
  EXPECT_EQ((*answer)[0].type, '?');
  EXPECT_EQ((*answer)[0].message, "Error in Corvex reading stdin");
  // No second answer for the rest of the name: the worker ends.
  EXPECT_TRUE(w->output_ends());
  EXPECT_EQ(w->wait_exit(), 1);
}

TEST_F(CorvexTest, RequestsReplayedFromAFileAreAllAnswered) {
  // Only the front end's pipe is held to one request at a time.
  std::string requests = wire::encode_request("internal", {"/x/1.jpg"}) + wire::encode_request("internal", {"/x/2"});
  std::string file = dir_.write_file("requests", requests);
  platform::Fd input(open(file.c_str(), O_RDONLY | O_CLOEXEC));
  auto out = platform::make_pipe();
  ASSERT_TRUE(input.get() >= 0 && out);
  platform::SpawnOptions options;
  options.argv = {testing_support::corvex_path(), root()};
  options.stdin_fd = input.get();
  options.stdout_fd = out->write_end.get();
  options.stderr_fd = -1;
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  out->write_end.reset();
  char answers[4 * wire::kRecordSize];
  ASSERT_EQ(platform::read_full(out->read_end.get(), answers, sizeof answers), static_cast<ssize_t>(sizeof answers));
  EXPECT_EQ(answers[wire::kRecordSize], 'B');
  EXPECT_EQ(answers[3 * wire::kRecordSize], 'S');
  ASSERT_TRUE(child->wait_for(10s));
  EXPECT_EQ(child->exit_code(), 0);
}

// A listening socket at path; the descriptor stays open for the test.
int make_socket_file(const std::string& path) {
  int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (fd < 0 || path.size() >= sizeof address.sun_path) return -1;
  path.copy(address.sun_path, path.size());
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(fd, 1) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

TEST_F(CorvexTest, SpecialFilesNamedLikeImagesAreAnsweredAtOnce) {
  // A FIFO without a writer would block an ordinary open for ever.
  auto w = start();
  std::string fifo_jpg = dir_.sub("pipe.jpg");
  std::string fifo_tif = dir_.sub("pipe.tif");
  std::string fifo_raw = dir_.sub("pipe");
  std::string folder = dir_.sub("folder.jpg");
  ASSERT_EQ(mkfifo(fifo_jpg.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(fifo_tif.c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(fifo_raw.c_str(), 0600), 0);
  ASSERT_TRUE(platform::make_folder(folder));
  std::string socket_path = dir_.sub("sock.jpg");
  int socket_fd = make_socket_file(socket_path);
  ASSERT_GE(socket_fd, 0);
  struct Case {
    std::string path;
    char code;
    char type;
    const char* message;
  } cases[] = {
      {fifo_jpg, 'B', '?', "Could not open or identify"},
      {fifo_tif, 'B', '?', "Could not open or identify"},
      {fifo_raw, 'S', '?', "Could not open or identify"},  // no extension
      {socket_path, 'B', '?', "Could not open or identify"},
      {folder, 'B', '?', "Could not open or identify"},
      {dir_.sub("pipe.psd"), 'B', 'P', "can't open"},
  };
  ASSERT_EQ(mkfifo(cases[5].path.c_str(), 0600), 0);
  for (const auto& c : cases) {
    ASSERT_TRUE(w->send_internal(c.path)) << c.path;
    auto answer = w->read_answer();
    ASSERT_TRUE(answer) << c.path;
    expect_record((*answer)[0], c.code, c.type, c.path, c.message);
  }
  // The worker goes on with the next file.
  std::string sound = dir_.sub("sound.jpg");
  ASSERT_TRUE(testing_support::write_jpeg(sound));
  ASSERT_TRUE(w->send_internal(sound));
  auto answer = w->read_answer();
  ASSERT_TRUE(answer);
  expect_record((*answer)[0], 'G', 'J', sound, "");
  close(socket_fd);
}

TEST_F(CorvexTest, AClosedResultPipeEndsTheWorkerWithStatusOne) {
  auto w = start();
  w->close_output();
  ASSERT_TRUE(w->send_internal("/x/a.jpg"));
  EXPECT_EQ(w->wait_exit(), 1);  // not killed by SIGPIPE
}

TEST_F(CorvexTest, StartUpFailuresEndWithStatusOne) {
  auto no_root = start(std::nullopt);
  EXPECT_EQ(no_root->wait_exit(), 1);
  EXPECT_TRUE(no_root->output_ends(1s));

  auto bad_root = start(dir_.sub("no/such/parent"));
  EXPECT_EQ(bad_root->wait_exit(), 1);
  EXPECT_TRUE(bad_root->output_ends(1s));
  EXPECT_NE(bad_root->stderr_text().find("ERROR:\t0: [fcn???] [proper:230] 0"), std::string::npos)
      << bad_root->stderr_text();
}

TEST_F(CorvexTest, ResultsAndDiagnosticsOnOnePipeAreRefused) {
  auto out = platform::make_pipe();
  auto in = platform::make_pipe();
  ASSERT_TRUE(out && in);
  platform::SpawnOptions options;
  options.argv = {testing_support::corvex_path(), root()};
  options.stdin_fd = in->read_end.get();
  options.stdout_fd = out->write_end.get();
  options.stderr_fd = out->write_end.get();
  std::string error;
  auto child = platform::spawn_process(options, &error);
  ASSERT_TRUE(child) << error;
  ASSERT_TRUE(child->wait_for(10s));
  EXPECT_EQ(child->exit_code(), 1);
}

TEST_F(CorvexTest, AMissingDefaultSetIsCreatedAndAnExistingOneIsKept) {
  auto w = start();
  ASSERT_TRUE(w->send_internal("/x/a.jpg"));
  ASSERT_TRUE(w->read_answer());
  std::string created = read_file(root() + "/QXMain/Default");
  EXPECT_EQ(created.rfind("Version\t1\nDate\t", 0), 0u) << created;

  std::string mine = "Version\t1\nDate\tMon Jan  1 00:00:00 2001\nExtensionsRAW\t-NEF-\n";
  dir_.write_file("props/QXMain/Default", mine);
  auto again = start();
  ASSERT_TRUE(again->send_internal("/x/a.jpg"));
  ASSERT_TRUE(again->read_answer());
  EXPECT_EQ(read_file(root() + "/QXMain/Default"), mine);
}

TEST_F(CorvexTest, EightWorkersStartingTogetherShareOneDefaultSet) {
  std::vector<std::unique_ptr<WorkerProcess>> workers;
  for (int i = 0; i < 8; ++i) workers.push_back(start());
  for (auto& w : workers) {
    ASSERT_TRUE(w->send_internal("/x/a.jpg"));
    auto answer = w->read_answer();
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)[0].code, 'B');
  }
  auto names = platform::list_folder(root() + "/QXMain");
  ASSERT_TRUE(names);
  EXPECT_EQ(*names, std::vector<std::string>{"Default"});  // no temporary files left
}

}  // namespace
