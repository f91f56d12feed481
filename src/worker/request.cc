#include "worker/request.h"

#include <cstdlib>
#include <new>

#include "util/worker_wire.h"

RequestList request_list;

void request_list_clear() {
  request_list.entries.clear();
  request_list.entries.shrink_to_fit();
}

bool request_list_add(const char* path) {
  try {
    request_list.entries.push_back(RequestEntry{path, false, false});
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

namespace {

enum class LineRead { kOk, kEnd, kTooLong };

// Reads one "\n"-ended line of any length; the text is kept only up to the
// limit. A line that ends without "\n" is a cut-off request.
LineRead read_line(FILE* in, std::string* text) {
  text->clear();
  bool too_long = false;
  for (;;) {
    int c = getc(in);
    if (c == EOF) return LineRead::kEnd;
    if (c == '\n') break;
    if (text->size() < wire::kLineMax) {
      text->push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
  }
  return too_long ? LineRead::kTooLong : LineRead::kOk;
}

}  // namespace

RequestRead read_request(FILE* in, Request* request) {
  request_list_clear();
  request->count = 0;
  request->mode.clear();

  unsigned char bytes[4];
  size_t got = fread(bytes, 1, sizeof bytes, in);
  if (got == 0 && feof(in) && !ferror(in)) return RequestRead::kEndOfInput;
  if (got != sizeof bytes) return RequestRead::kTruncated;
  uint32_t raw = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                 (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  int32_t count = static_cast<int32_t>(raw);
  request->count = count;
  if (count < 0 || count > wire::kMaxPaths) return RequestRead::kBadCount;

  bool too_long = false;
  bool out_of_memory = false;
  for (int32_t i = 0; i <= count; ++i) {
    LineRead r = read_line(in, &request->last_line);
    if (r == LineRead::kEnd) return RequestRead::kTruncated;
    if (r == LineRead::kTooLong) too_long = true;
    if (i == 0) {
      request->mode = request->last_line;
    } else if (!out_of_memory && !request_list_add(request->last_line.c_str())) {
      out_of_memory = true;
    }
  }
  if (too_long) return RequestRead::kLineTooLong;
  if (out_of_memory) return RequestRead::kOutOfMemory;
  if (count == 0) return RequestRead::kNoPaths;
  return RequestRead::kOk;
}
