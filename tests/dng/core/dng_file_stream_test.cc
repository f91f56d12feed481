// File streams: opening, reading through windows and straight into the
// caller, files of 4 GiB and more, failing lengths, writes that are lost
// without a flush, and the checked close.
#include "dng/core/dng_file_stream.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "support/temp_folder.h"

namespace {

using dng_test::code_of;
using dng_test::StderrCapture;
using testing_support::read_file;
using testing_support::TempFolder;

std::string random_text(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(random());
  return s;
}

TEST(FileStream, MissingFilePrintsTheErrorLineAndRaisesSilently) {
  TempFolder folder;
  std::string path = folder.sub("absent.dng");
  StderrCapture capture;
  EXPECT_EQ(code_of([&] { dng_file_stream stream(path.c_str()); }), dng_code_silent);
  EXPECT_EQ(capture.Take(), "*** Error: Unable to open file (" + path + ") ***\n");
}

TEST(FileStream, ReadsWhatTheFileHolds) {
  TempFolder folder;
  std::string content = random_text(300000, 1);
  std::string path = folder.write_file("data.bin", content);
  dng_file_stream stream(path.c_str());
  EXPECT_EQ(stream.TotalLength(), 300000u);
  stream.SeekForRead(5);
  EXPECT_EQ(stream.GetUInt8(), static_cast<uint8_t>(content[5]));
  std::string big(100000, '\0');
  stream.GetBytes(big.data(), 100000);  // through the window, then straight
  EXPECT_EQ(big, content.substr(6, 100000));
  stream.SeekForRead(299998);
  stream.SetByteSwapped(true);
  EXPECT_EQ(stream.GetUInt16(), (static_cast<uint8_t>(content[299998]) << 8) | static_cast<uint8_t>(content[299999]));
  StderrCapture quiet;
  EXPECT_EQ(code_of([&] { stream.GetUInt8(); }), dng_code_end_of_file);
}

TEST(FileStream, FilesOf4GiBOrMoreReachTheLargest32BitLength) {
  TempFolder folder;
  std::string path = folder.sub("huge.bin");
  int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0600);
  ASSERT_GE(fd, 0);
  // Sparse: no data blocks are written. The low 32 bits of 5 GiB would be
  // 1 GiB.
  ASSERT_EQ(ftruncate(fd, (off_t{5} << 30)), 0);
  ASSERT_EQ(pwrite(fd, "\x5A", 1, 0xFFFFFFFEll), 1);
  ASSERT_EQ(pwrite(fd, "\xA5", 1, 0xC0000000ll), 1);
  close(fd);

  dng_file_stream stream(path.c_str());
  EXPECT_EQ(stream.TotalLength(), 0xFFFFFFFFu);
  stream.SeekForRead(0xFFFFFFFEu);
  EXPECT_EQ(stream.GetUInt8(), 0x5A);
  stream.SeekForRead(0xC0000000u);  // beyond 2^31
  EXPECT_EQ(stream.GetUInt8(), 0xA5);
  stream.SeekForRead(0xFFFFFFFFu);
  StderrCapture quiet;
  EXPECT_EQ(code_of([&] { stream.GetUInt8(); }), dng_code_end_of_file);
}

TEST(FileStream, LengthOfAnUnseekableFileIsAReadError) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  ASSERT_EQ(write(fds[1], "abc", 3), 3);
  close(fds[1]);
  std::string path = "/proc/self/fd/" + std::to_string(fds[0]);
  {
    dng_file_stream stream(path.c_str());
    StderrCapture capture;
    EXPECT_EQ(code_of([&] { stream.TotalLength(); }), dng_code_read_file);
    EXPECT_EQ(capture.Take(), "*** Error: File read error ***\n");
  }
  close(fds[0]);
}

TEST(FileStream, OpenedCloseOnExec) {
  TempFolder folder;
  std::string path = folder.write_file("f.bin", "x");
  dng_file_stream stream(path.c_str());
  // Find the descriptor that refers to the file.
  int found = -1;
  DIR* dir = opendir("/proc/self/fd");
  ASSERT_NE(dir, nullptr);
  while (dirent* entry = readdir(dir)) {
    char target[PATH_MAX] = {};
    std::string link = std::string("/proc/self/fd/") + entry->d_name;
    ssize_t n = readlink(link.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == path) found = atoi(entry->d_name);
  }
  closedir(dir);
  ASSERT_GE(found, 0);
  EXPECT_TRUE(fcntl(found, F_GETFD) & FD_CLOEXEC);
}

TEST(FileStream, DestructionDoesNotFlushButCloseDoes) {
  TempFolder folder;
  std::string lost = folder.sub("lost.bin");
  {
    dng_file_stream stream(lost.c_str(), true);
    stream.PutUInt32(0x64636261);
  }
  EXPECT_EQ(read_file(lost), "");

  std::string kept = folder.sub("kept.bin");
  {
    dng_file_stream stream(kept.c_str(), true);
    stream.PutUInt32(0x64636261);
    stream.SetByteSwapped(true);
    stream.PutUInt16(0x6566);
    stream.Close();
    stream.Close();  // a second close does nothing
  }
  EXPECT_EQ(read_file(kept), "abcdef");

  std::string flushed = folder.sub("flushed.bin");
  {
    dng_file_stream stream(flushed.c_str(), true);
    std::string big = random_text(10000, 2);
    stream.PutBytes(big.data(), 10000);  // straight to the file
    stream.SeekForWrite(3);
    stream.PutUInt8('!');
    stream.FlushBuffer();
    big[3] = '!';
    EXPECT_EQ(read_file(flushed), big);
  }
}

TEST(FileStream, CloseReportsAFailedWrite) {
  // Every write to /dev/full fails for lack of space.
  dng_file_stream stream("/dev/full", true);
  stream.PutUInt32(1);
  StderrCapture capture;
  EXPECT_EQ(code_of([&] { stream.Close(); }), dng_code_write_file);
  EXPECT_EQ(capture.Take(), "*** Error: File write error ***\n");
  EXPECT_EQ(code_of([&] { stream.Close(); }), 0);
}

TEST(FileStream, ResizingAFileIsNotSupported) {
  TempFolder folder;
  std::string path = folder.write_file("f.bin", "abc");
  dng_file_stream stream(path.c_str());
  StderrCapture quiet;
  EXPECT_EQ(code_of([&] { stream.Resize(1); }), dng_code_unknown);
}

}  // namespace
