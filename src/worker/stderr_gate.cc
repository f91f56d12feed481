#include "worker/stderr_gate.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/process.h"

namespace {

struct GateState {
  bool in_request = false;
  uint64_t lines = 0;     // lines begun and passed
  uint64_t bytes = 0;     // bytes passed
  uint64_t left_out = 0;  // lines withheld, whole or in part
  bool in_line = false;   // the last byte seen was not a line end
  bool passing = false;   // the line in progress passes
  bool open_line = false; // the last byte passed was not a line end
};

GateState state;

void pass(const char* data, size_t size) {
  if (size == 0) return;
  platform::write_all(STDERR_FILENO, data, size);
  state.bytes += size;
  state.open_line = data[size - 1] != '\n';
}

ssize_t write_through_gate(void*, const char* data, size_t size) {
  stderr_gate_write(data, size);
  return static_cast<ssize_t>(size);
}

}  // namespace

void stderr_gate_install() {
  cookie_io_functions_t io{};
  io.write = write_through_gate;
  FILE* gated = fopencookie(nullptr, "w", io);
  if (gated == nullptr) return;
  // Unbuffered, as the error stream always is: each write reaches the
  // descriptor at once, in order with the direct writes.
  setvbuf(gated, nullptr, _IONBF, 0);
  stderr = gated;
}

void stderr_gate_write(const char* data, size_t size) {
  if (!state.in_request) {
    platform::write_all(STDERR_FILENO, data, size);
    return;
  }
  while (size > 0) {
    if (!state.in_line) {
      state.in_line = true;
      state.passing = state.lines < kMaxRequestLines && state.bytes < kMaxRequestBytes;
      if (state.passing) {
        state.lines += 1;
      } else {
        state.left_out += 1;
      }
    }
    const char* end = static_cast<const char*>(std::memchr(data, '\n', size));
    const size_t piece = end != nullptr ? static_cast<size_t>(end - data) + 1 : size;
    if (state.passing) {
      const uint64_t room = kMaxRequestBytes - state.bytes;
      if (piece <= room) {
        pass(data, piece);
      } else {
        // A line that runs past the byte bound is cut there and counts as
        // left out.
        pass(data, static_cast<size_t>(room));
        state.passing = false;
        state.left_out += 1;
      }
    }
    if (end != nullptr) state.in_line = false;
    data += piece;
    size -= piece;
  }
}

void stderr_gate_begin_request() {
  state = GateState{};
  state.in_request = true;
}

void stderr_gate_end_request() {
  if (state.left_out > 0) {
    char text[80];
    const int n = snprintf(text, sizeof text, "%s... %llu further lines left out\n", state.open_line ? "\n" : "",
                           static_cast<unsigned long long>(state.left_out));
    if (n > 0) platform::write_all(STDERR_FILENO, text, static_cast<size_t>(n));
  }
  state = GateState{};
}
