// Reading one request from the worker's standard input, and the list of the
// paths it names.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct RequestEntry {
  std::string path;
  bool done = false;  // the converter runner's bookkeeping
  bool good = false;
};

// The paths of the current request; emptied before each request is read.
struct RequestList {
  std::vector<RequestEntry> entries;
};
extern RequestList request_list;

void request_list_clear();
// Appends a copy of a path with both flags cleared; false when memory runs out.
bool request_list_add(const char* path);

enum class RequestRead {
  kOk,           // a whole request: mode line and count paths
  kEndOfInput,   // the input ended where a request would start
  kTruncated,    // the input ended (or failed) inside a request
  kBadCount,     // a count below 0 or above the limit: the stream cannot be trusted
  kNoPaths,      // count 0: the mode line was read, there is nothing to check
  kLineTooLong,  // a line over the limit; the whole request was read past
  kOutOfMemory,  // a path could not be stored; the whole request was read past
};

struct Request {
  int32_t count = 0;
  std::string mode;       // the mode line without its "\n"
  std::string last_line;  // the last line read, for error answers
};

// The request stream, read from a descriptor in blocks (or, for tests, a
// fixed run of bytes).
class RequestInput {
 public:
  // block: the most bytes one read asks for.
  explicit RequestInput(int fd, size_t block = 16 * 1024);
  // A stream of exactly these bytes.
  explicit RequestInput(std::string bytes);

  // Moves up to size bytes into out; fewer only at the end of the input or
  // on a read error.
  size_t take(char* out, size_t size);
  // Appends the bytes up to the next "\n" (which is consumed, not kept) to
  // text while it holds fewer than limit bytes; the rest of a longer line is
  // read past. Gives false when the input ends (or fails) before the "\n";
  // *over_limit tells whether bytes were dropped.
  bool take_line(std::string* text, size_t limit, bool* over_limit);
  // Whether the input failed, as opposed to ended.
  bool failed() const { return failed_; }

  // Whether bytes are waiting on the request pipe beyond those taken: held
  // in the block already read, or ready to be read without waiting. Input
  // that is not a pipe or socket (a recorded stream replayed from a file)
  // never counts as waiting. The pipe is asked only when the last read
  // filled its block: a read from a pipe takes all that is waiting up to
  // its size, so after a shorter one the pipe held nothing more.
  bool input_waiting();

 private:
  // Reads the next block; false at the end or on a failure.
  bool fill();

  int fd_ = -1;
  bool from_pipe_ = false;
  bool failed_ = false;
  bool last_read_full_ = false;  // the last read filled the whole block
  std::string buffer_;
  size_t start_ = 0;  // the first byte not yet taken
  size_t end_ = 0;    // one past the last byte read
};

// Reads one request into request and request_list.
RequestRead read_request(RequestInput& in, Request* request);
