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

TEST_F(SendResultTest, AClosedReaderIsAFailureNotADeath) {
  pipe_.read_end.reset();
  EXPECT_FALSE(SendCount(1));
  EXPECT_EQ(errno, EPIPE);
}

}  // namespace
