#include "worker/request.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
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

RequestInput::RequestInput(int fd, size_t block) : fd_(fd), buffer_(block > 0 ? block : 1, '\0') {
  struct stat st;
  from_pipe_ = fd >= 0 && fstat(fd, &st) == 0 && (S_ISFIFO(st.st_mode) || S_ISSOCK(st.st_mode));
}

RequestInput::RequestInput(std::string bytes) : buffer_(std::move(bytes)), end_(buffer_.size()) {}

bool RequestInput::fill() {
  if (fd_ < 0 || failed_) return false;
  ssize_t n;
  do {
    n = read(fd_, buffer_.data(), buffer_.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) failed_ = true;
  last_read_full_ = n > 0 && static_cast<size_t>(n) == buffer_.size();
  if (n <= 0) return false;
  start_ = 0;
  end_ = static_cast<size_t>(n);
  return true;
}

size_t RequestInput::take(char* out, size_t size) {
  size_t got = 0;
  while (got < size) {
    if (start_ == end_ && !fill()) break;
    size_t n = std::min(size - got, end_ - start_);
    memcpy(out + got, buffer_.data() + start_, n);
    start_ += n;
    got += n;
  }
  return got;
}

bool RequestInput::take_line(std::string* text, size_t limit, bool* over_limit) {
  for (;;) {
    if (start_ == end_ && !fill()) return false;
    const char* begin = buffer_.data() + start_;
    size_t available = end_ - start_;
    const char* newline = static_cast<const char*>(memchr(begin, '\n', available));
    size_t length = newline != nullptr ? static_cast<size_t>(newline - begin) : available;
    size_t room = text->size() < limit ? limit - text->size() : 0;
    if (length > room) *over_limit = true;
    text->append(begin, std::min(length, room));
    if (newline != nullptr) {
      start_ += length + 1;
      return true;
    }
    start_ = end_;
  }
}

bool RequestInput::input_waiting() {
  if (!from_pipe_) return false;
  if (start_ != end_) return true;
  // Bytes written after the read that emptied the pipe came after the
  // request had been taken whole: a later request, which a poll here would
  // only have caught by the chance of arriving within these microseconds.
  if (!last_read_full_) return false;
  pollfd p{fd_, POLLIN, 0};
  int ready;
  do {
    ready = poll(&p, 1, 0);
  } while (ready < 0 && errno == EINTR);
  if (ready <= 0 || (p.revents & (POLLIN | POLLHUP)) == 0) return false;
  // Readable at once: bytes, or the end (which the next read reports again).
  return fill();
}

RequestRead read_request(RequestInput& in, Request* request) {
  request_list_clear();
  request->count = 0;
  request->mode.clear();
  // An answer to a failed read of the count names no path: the last line
  // belongs to the request before.
  request->last_line.clear();

  unsigned char bytes[4];
  size_t got = in.take(reinterpret_cast<char*>(bytes), sizeof bytes);
  if (got == 0 && !in.failed()) return RequestRead::kEndOfInput;
  if (got != sizeof bytes) return RequestRead::kTruncated;
  uint32_t raw = static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
                 (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
  int32_t count = static_cast<int32_t>(raw);
  request->count = count;
  if (count < 0 || count > wire::kMaxPaths) return RequestRead::kBadCount;

  bool too_long = false;
  bool out_of_memory = false;
  for (int32_t i = 0; i <= count; ++i) {
    request->last_line.clear();
    if (!in.take_line(&request->last_line, wire::kLineMax, &too_long)) return RequestRead::kTruncated;
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
