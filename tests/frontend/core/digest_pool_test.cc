// The hashing threads of a run: what they decide for each kind of file, the
// order in which they give their outcomes back, and Stop.
#include "frontend/core/digest_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "frontend/core/hash_key.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using frontend::DigestPool;
using testing_support::TempFolder;

DigestPool::Digest digest_of(const std::string& path) {
  DigestPool::Digest d{};
  EXPECT_TRUE(frontend::hash_file_digest(path.c_str(), d.data()));
  return d;
}

// Takes outcomes until n have come (waiting up to a minute).
std::vector<DigestPool::Finished> take(DigestPool& pool, size_t n) {
  std::vector<DigestPool::Finished> all;
  auto deadline = std::chrono::steady_clock::now() + 60s;
  while (all.size() < n && std::chrono::steady_clock::now() < deadline) {
    pool.wait_idle();
    for (auto& f : pool.take_finished()) all.push_back(std::move(f));
  }
  return all;
}

TEST(DigestPoolTest, EachFileIsComparedWithItsReferenceAndGivenBackInOrder) {
  TempFolder dir;
  std::string good = dir.write_file("good.jpg", std::string(300000, 'g'));
  std::string other = dir.write_file("other.jpg", "other bytes");
  std::string empty = dir.write_file("empty.jpg", "");
  struct Case {
    const char* what;
    std::string path;
    DigestPool::Digest reference;
    bool matches;
  };
  DigestPool::Digest zero{};
  const Case cases[] = {
      {"its own digest", good, digest_of(good), true},
      {"another file's digest", other, digest_of(good), false},
      {"an empty file", empty, digest_of(empty), true},
      // Unreadable files have an all-zero digest, which matches nothing
      // stored (an all-zero digest is never stored).
      {"a missing file", dir.sub("missing.jpg"), digest_of(good), false},
      {"a folder", dir.path(), digest_of(good), false},
      {"a missing file against zeros", dir.sub("gone.jpg"), zero, true},
  };
  std::atomic<bool> cancel{false};
  DigestPool pool(cancel);
  pool.start(3);
  for (const Case& c : cases) ASSERT_TRUE(pool.submit(c.path, c.reference)) << c.what;
  auto done = take(pool, std::size(cases));
  ASSERT_EQ(done.size(), std::size(cases));
  for (size_t i = 0; i < done.size(); ++i) {
    EXPECT_EQ(done[i].path, cases[i].path) << cases[i].what;
    EXPECT_EQ(done[i].matches, cases[i].matches) << cases[i].what;
  }
  EXPECT_EQ(pool.outstanding(), 0u);
  pool.stop();
}

TEST(DigestPoolTest, AnOutcomeWaitsForTheJobsSubmittedBeforeIt) {
  TempFolder dir;
  std::string first = dir.write_file("first.jpg", "1");
  std::string second = dir.write_file("second.jpg", "2");
  std::atomic<bool> cancel{false};
  std::atomic<bool> release{false};
  std::atomic<bool> second_done{false};
  DigestPool pool(cancel);
  pool.set_digest_function([&](const char* path, uint8_t* digest, const std::atomic<bool>* flag) {
    if (path == first) {
      release.wait(false);
    }
    bool ok = frontend::hash_file_digest(path, digest, flag);
    if (path == second) second_done = true;
    return ok;
  });
  pool.start(2);
  ASSERT_TRUE(pool.submit(first, digest_of(first)));
  ASSERT_TRUE(pool.submit(second, digest_of(second)));
  ASSERT_TRUE(pool.wait_finished(60s));  // the bound is reached only by a broken pool
  ASSERT_TRUE(second_done);
  EXPECT_TRUE(pool.take_finished().empty());
  release = true;
  release.notify_all();
  auto done = take(pool, 2);
  ASSERT_EQ(done.size(), 2u);
  EXPECT_EQ(done[0].path, first);
  EXPECT_EQ(done[1].path, second);
}

TEST(DigestPoolTest, StopEndsTheDigestsAndRefusesMore) {
  TempFolder dir;
  std::string file = dir.write_file("a.jpg", "a");
  std::atomic<bool> cancel{false};
  std::atomic<int> started{0};
  DigestPool pool(cancel);
  // Digests that run until Stop, as a huge file's would.
  pool.set_digest_function([&](const char*, uint8_t*, const std::atomic<bool>* flag) {
    ++started;
    started.notify_all();
    flag->wait(false);
    return false;
  });
  pool.start(2);
  // Two run, two wait: the queue is full.
  for (int i = 0; i < 4; ++i) ASSERT_TRUE(pool.submit(file, {}));
  std::thread stopper([&] {
    for (int now = started.load(); now < 2; now = started.load()) started.wait(now);
    cancel = true;
    cancel.notify_all();
  });
  EXPECT_FALSE(pool.submit(file, {}));  // waits for room until Stop
  stopper.join();
  EXPECT_FALSE(pool.wait_idle());
  pool.stop();
  EXPECT_EQ(pool.outstanding(), 0u);
  EXPECT_TRUE(pool.take_finished().empty());
}

}  // namespace
