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

// Reads one request from a buffered stream into request and request_list.
RequestRead read_request(FILE* in, Request* request);
