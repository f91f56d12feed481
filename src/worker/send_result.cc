#include "worker/send_result.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/files.h"
#include "util/trace.h"
#include "util/worker_wire.h"

namespace {

int g_result_fd = STDOUT_FILENO;

bool write_record(const wire::RecordBytes& bytes) {
  ssize_t n;
  do {
    n = write(g_result_fd, bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    int err = errno;
    log_printf("SendResult: write error (%s)", platform::errno_text(err).c_str());
    errno = err;
    return false;
  }
  if (static_cast<size_t>(n) != bytes.size()) {
    log_printf("SendResult: short write count");
    errno = 0;
    return false;
  }
  return true;
}

}  // namespace

void set_result_fd(int fd) { g_result_fd = fd; }

bool SendResult(const char* message, const char* path, char code, char type) {
  if (message == nullptr) message = "";
  if (path == nullptr) path = "";
  auto bytes = wire::encode_record(code, type, path, message);
  if (!bytes) {
    log_printf("SendResult: buffer of %d greater than %d", static_cast<int>(strlen(message) + strlen(path) + 4),
               static_cast<int>(wire::kRecordSize));
    errno = 0;
    return false;
  }
  return write_record(*bytes);
}

bool SendCount(int count) { return write_record(wire::encode_count_record(count)); }
