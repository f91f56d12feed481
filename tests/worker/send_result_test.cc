#include "worker/send_result.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/process.h"
#include "util/worker_wire.h"

namespace {

class SendResultTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ignore_sigpipe();
    auto p = platform::make_pipe();
    ASSERT_TRUE(p);
    pipe_ = std::move(*p);
    set_result_fd(pipe_.write_end.get());
  }
  void TearDown() override { set_result_fd(STDOUT_FILENO); }
  std::optional<wire::Record> next() {
    char bytes[wire::kRecordSize];
    if (platform::read_full(pipe_.read_end.get(), bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes))
      return std::nullopt;
    return wire::decode_record(bytes, sizeof bytes);
  }
  platform::Pipe pipe_;
};

TEST_F(SendResultTest, SendsWholeRecordsAndRefusesOversizedOnes) {
  std::string path(300, 'p');
  ASSERT_TRUE(SendResult(std::string(208, 'm').c_str(), path.c_str(), 'B', '?'));
  auto r = next();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->message.size(), 208u);

  errno = EINVAL;
  EXPECT_FALSE(SendResult(std::string(209, 'm').c_str(), path.c_str(), 'B', '?'));
  EXPECT_EQ(errno, 0);

  ASSERT_TRUE(SendResult(nullptr, "/x", 'G', 'J'));
  r = next();
  ASSERT_TRUE(r);
  EXPECT_EQ(r->message, "");
  EXPECT_EQ(r->path, "/x");
}

// An answer sent whole is byte for byte what sending the 'N' record and then
// each record would give, and it comes in one write.
TEST_F(SendResultTest, AnAnswerInOneWriteHoldsTheSameRecordsInOrder) {
  const ResultText results[] = {
      {"", "/p/a.nef", 'G', 'R'}, {nullptr, "/p/b.nef", 'B', 'R'}, {"converter failed", "/p/c.nef", 'E', 'R'}};
  ASSERT_TRUE(SendCount(3));
  for (const auto& r : results) ASSERT_TRUE(SendResult(r.message, r.path, r.code, r.type));
  std::string one_by_one(4 * wire::kRecordSize, '\0');
  ASSERT_EQ(platform::read_full(pipe_.read_end.get(), one_by_one.data(), one_by_one.size()),
            static_cast<ssize_t>(one_by_one.size()));

  ASSERT_TRUE(SendAnswer(results, 3));
  std::string whole(4 * wire::kRecordSize, '\0');
  // One write of no more than the pipe's atomic size arrives in one read.
  ASSERT_EQ(read(pipe_.read_end.get(), whole.data(), whole.size()), static_cast<ssize_t>(whole.size()));
  EXPECT_EQ(whole, one_by_one);
}

TEST_F(SendResultTest, AnAnswerStopsBeforeARecordThatDoesNotFit) {
  std::string path(300, 'p');
  std::string too_long(209, 'm');
  const ResultText results[] = {{"", "/ok", 'G', 'J'}, {too_long.c_str(), path.c_str(), 'B', '?'}, {"", "/x", 'G', 'J'}};
  errno = EINVAL;
  EXPECT_FALSE(SendAnswer(results, 3));
  EXPECT_EQ(errno, 0);
  // The 'N' record for all three and the first record were sent.
  auto n = next();
  ASSERT_TRUE(n);
  EXPECT_EQ(n->code, 'N');
  EXPECT_EQ(n->type, 3);
  auto first = next();
  ASSERT_TRUE(first);
  EXPECT_EQ(first->path, "/ok");
  pipe_.write_end.reset();
  char byte;
  EXPECT_EQ(read(pipe_.read_end.get(), &byte, 1), 0);  // nothing more
}

TEST_F(SendResultTest, AClosedReaderIsAFailureNotADeath) {
  pipe_.read_end.reset();
  EXPECT_FALSE(SendCount(1));
  EXPECT_EQ(errno, EPIPE);
  const ResultText result{"", "/x", 'G', 'J'};
  EXPECT_FALSE(SendAnswer(&result, 1));
  EXPECT_EQ(errno, EPIPE);
}

}  // namespace
