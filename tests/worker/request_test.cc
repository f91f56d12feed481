#include "worker/request.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "util/worker_wire.h"
#include "worker/request_loop.h"

namespace {

struct Read {
  RequestRead status;
  std::string mode;
  std::vector<std::string> paths;
};

// Reads requests from bytes until the reader says the stream is done.
std::vector<Read> read_all(const std::string& bytes) {
  std::vector<Read> reads;
  FILE* in = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "rb");
  Request request;
  for (;;) {
    RequestRead status = read_request(in, &request);
    Read r{status, request.mode, {}};
    for (const auto& e : request_list.entries) r.paths.push_back(e.path);
    reads.push_back(r);
    if (status == RequestRead::kEndOfInput || status == RequestRead::kTruncated || status == RequestRead::kBadCount)
      break;
  }
  fclose(in);
  return reads;
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
