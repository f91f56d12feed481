#include "worker/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/process.h"
#include "util/worker_wire.h"
#include "worker/request_loop.h"

namespace {

struct Read {
  RequestRead status;
  std::string mode;
  std::vector<std::string> paths;
};

// Reads requests from bytes until the reader says the stream is done.
std::vector<Read> read_from(RequestInput& in) {
  std::vector<Read> reads;
  Request request;
  for (;;) {
    RequestRead status = read_request(in, &request);
    Read r{status, request.mode, {}};
    for (const auto& e : request_list.entries) r.paths.push_back(e.path);
    reads.push_back(r);
    if (status == RequestRead::kEndOfInput || status == RequestRead::kTruncated || status == RequestRead::kBadCount)
      break;
  }
  return reads;
}

std::vector<Read> read_all(const std::string& bytes) {
  RequestInput in(bytes);
  return read_from(in);
}

std::string count_bytes(int32_t count) { return wire::encode_request_with_count(count, "", {}).substr(0, 4); }

TEST(RequestReader, ReadsRequestsBackToBackUntilTheEnd) {
  std::string bytes = wire::encode_request("internal", {"/a.jpg"}) +
                      wire::encode_request("/usr/local/bin/dng-converter", {"/r/1.cr2", "/r/2.nef"});
  auto reads = read_all(bytes);
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].status, RequestRead::kOk);
  EXPECT_EQ(reads[0].mode, "internal");
  EXPECT_EQ(reads[0].paths, std::vector<std::string>{"/a.jpg"});
  EXPECT_EQ(reads[1].mode, "/usr/local/bin/dng-converter");
  EXPECT_EQ(reads[1].paths, (std::vector<std::string>{"/r/1.cr2", "/r/2.nef"}));
  EXPECT_EQ(reads[2].status, RequestRead::kEndOfInput);
  EXPECT_TRUE(reads[2].paths.empty());
}

TEST(RequestReader, DamagedStreamsGiveTheirOwnAnswer) {
  std::string good = wire::encode_request("internal", {"/a.jpg"});
  std::string long_path = "/" + std::string(wire::kLineMax, 'x');  // one byte over
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<RequestRead> statuses;
  } cases[] = {
      {"empty input", "", {RequestRead::kEndOfInput}},
      {"count cut short", good.substr(0, 2), {RequestRead::kTruncated}},
      {"mode line cut short", good.substr(0, 7), {RequestRead::kTruncated}},
      {"path without newline", good.substr(0, good.size() - 1), {RequestRead::kTruncated}},
      {"fewer paths than counted", wire::encode_request_with_count(2, "internal", {"/a.jpg"}), {RequestRead::kTruncated}},
      {"negative count", count_bytes(-1) + "internal\n", {RequestRead::kBadCount}},
      {"huge count", count_bytes(0x40000001) + "internal\n", {RequestRead::kBadCount}},
      {"one past the limit", count_bytes(wire::kMaxPaths + 1), {RequestRead::kBadCount}},
      {"count zero keeps the stream in step",
       wire::encode_request("internal", {}) + good,
       {RequestRead::kNoPaths, RequestRead::kOk, RequestRead::kEndOfInput}},
      {"too long a line is read past",
       wire::encode_request("internal", {long_path}) + good,
       {RequestRead::kLineTooLong, RequestRead::kOk, RequestRead::kEndOfInput}},
  };
  for (const auto& c : cases) {
    std::vector<RequestRead> got;
    for (const auto& r : read_all(c.bytes)) got.push_back(r.status);
    EXPECT_EQ(got, c.statuses) << c.what;
  }
}

TEST(RequestReader, LinesUpToTheLimitAreKeptWhole) {
  std::string path = "/" + std::string(wire::kLineMax - 1, 'y');
  auto reads = read_all(wire::encode_request("internal", {path}));
  ASSERT_EQ(reads[0].status, RequestRead::kOk);
  EXPECT_EQ(reads[0].paths[0], path);
}

TEST(RequestReader, AllPathsOfAnInternalRequestAreRead) {
  auto reads = read_all(wire::encode_request("internal", {"/1", "/2", "/3"}) + wire::encode_request("internal", {"/4"}));
  ASSERT_EQ(reads.size(), 3u);
  EXPECT_EQ(reads[0].paths.size(), 3u);
  EXPECT_EQ(reads[1].paths, std::vector<std::string>{"/4"});
}

// Requests read from a pipe in blocks of every small size come out as when
// read whole: counts, lines and paths that straddle blocks included.
TEST(RequestReader, BlocksOfAnySizeGiveTheSameRequests) {
  std::string long_path = "/" + std::string(wire::kLineMax + 10, 'z');
  std::string bytes = wire::encode_request("internal", {"/a.jpg"}) +
                      wire::encode_request("/usr/local/bin/dng-converter", {"/r/1.cr2", "/r/2.nef", "/r/3.arw"}) +
                      wire::encode_request("internal", {long_path}) + wire::encode_request("internal", {"/b.jpg"});
  auto whole = read_all(bytes);
  for (size_t block : {1u, 2u, 3u, 5u, 7u, 64u}) {
    auto p = platform::make_pipe();
    ASSERT_TRUE(p);
    ASSERT_TRUE(platform::write_all(p->write_end.get(), bytes.data(), bytes.size()));  // fits the pipe
    p->write_end.reset();
    RequestInput in(p->read_end.get(), block);
    auto reads = read_from(in);
    ASSERT_EQ(reads.size(), whole.size()) << block;
    for (size_t i = 0; i < reads.size(); ++i) {
      EXPECT_EQ(reads[i].status, whole[i].status) << block << " " << i;
      EXPECT_EQ(reads[i].mode, whole[i].mode) << block << " " << i;
      EXPECT_EQ(reads[i].paths, whole[i].paths) << block << " " << i;
    }
  }
}

// Bytes beyond a whole request on the pipe are seen whether they were read
// with it or still wait in the pipe (left there by a read that filled its
// block); the end of the input is not such bytes.
TEST(RequestReader, InputWaitingSeesBytesBeyondTheRequest) {
  std::string request = wire::encode_request("internal", {"/a.jpg"});
  struct Case {
    const char* what;
    std::string after;
    size_t block;
    bool close_writer;
    bool waiting;
  } cases[] = {
      {"nothing sent yet", "", 4096, false, false},
      {"writer closed", "", 4096, true, false},
      {"extra bytes read with the request", "x", 4096, false, true},
      {"extra bytes still in the pipe", "x", request.size(), false, true},
      // Every read of the request filled its block, the last one included.
      {"extra bytes in the pipe after several full blocks", "x", request.size() / 4, false, true},
  };
  ASSERT_EQ(request.size() % 4, 0u);
  for (const auto& c : cases) {
    auto p = platform::make_pipe();
    ASSERT_TRUE(p);
    std::string bytes = request + c.after;
    ASSERT_TRUE(platform::write_all(p->write_end.get(), bytes.data(), bytes.size()));
    if (c.close_writer) p->write_end.reset();
    RequestInput in(p->read_end.get(), c.block);
    Request r;
    ASSERT_EQ(read_request(in, &r), RequestRead::kOk) << c.what;
    EXPECT_EQ(in.input_waiting(), c.waiting) << c.what;
    EXPECT_EQ(in.input_waiting(), c.waiting) << c.what << " (asked again)";
  }
  // Input from memory (or a file) is never held to one request at a time.
  RequestInput replayed(request + request);
  Request r;
  ASSERT_EQ(read_request(replayed, &r), RequestRead::kOk);
  EXPECT_FALSE(replayed.input_waiting());
}

TEST(RequestPathExtension, TextAfterTheLastDotOfTheFileName) {
  struct Case {
    const char* path;
    const char* extension;  // nullptr: no extension
  } cases[] = {
      {"/p/a.jpg", "jpg"},       {"/p/a.tar.gz", "gz"},     {"/pics.d/image", nullptr},
      {"/p/image.", ""},         {"noext", nullptr},        {"C:\\pics.d\\image", nullptr},
      {"/p/.hidden", "hidden"},  {"/a.b/c.d/e.JPG", "JPG"},
  };
  for (const auto& c : cases) {
    auto ext = request_path_extension(c.path);
    if (c.extension == nullptr) {
      EXPECT_FALSE(ext) << c.path;
    } else {
      ASSERT_TRUE(ext) << c.path;
      EXPECT_EQ(*ext, c.extension) << c.path;
    }
  }
}

}  // namespace
