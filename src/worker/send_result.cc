#include "worker/send_result.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/files.h"
#include "util/trace.h"
#include "util/worker_wire.h"

namespace {

int g_result_fd = STDOUT_FILENO;

// Writes bytes with one write. A partial write fails unless finish_partial
// is set, when the rest follows in further writes (an answer of many
// records still arrives whole and in order).
bool write_bytes(const char* data, size_t size, bool finish_partial) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = write(g_result_fd, data + done, size - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      int err = errno;
      log_printf("SendResult: write error (%s)", platform::errno_text(err).c_str());
      errno = err;
      return false;
    }
    done += static_cast<size_t>(n);
    if (done < size && (!finish_partial || n == 0)) {
      log_printf("SendResult: short write count");
      errno = 0;
      return false;
    }
  }
  return true;
}

bool write_record(const wire::RecordBytes& bytes) { return write_bytes(bytes.data(), bytes.size(), false); }

void log_oversized(const char* message, const char* path) {
  log_printf("SendResult: buffer of %d greater than %d", static_cast<int>(strlen(message) + strlen(path) + 4),
             static_cast<int>(wire::kRecordSize));
  errno = 0;
}

}  // namespace

void set_result_fd(int fd) { g_result_fd = fd; }

bool SendResult(const char* message, const char* path, char code, char type) {
  if (message == nullptr) message = "";
  if (path == nullptr) path = "";
  auto bytes = wire::encode_record(code, type, path, message);
  if (!bytes) {
    log_oversized(message, path);
    return false;
  }
  return write_record(*bytes);
}

bool SendCount(int count) { return write_record(wire::encode_count_record(count)); }

bool SendAnswer(const ResultText* results, size_t count) {
  std::string bytes;
  bytes.reserve((count + 1) * wire::kRecordSize);
  auto count_record = wire::encode_count_record(static_cast<int>(count));
  bytes.append(count_record.data(), count_record.size());
  for (size_t i = 0; i < count; ++i) {
    const char* message = results[i].message != nullptr ? results[i].message : "";
    const char* path = results[i].path != nullptr ? results[i].path : "";
    auto record = wire::encode_record(results[i].code, results[i].type, path, message);
    if (!record) {
      // What comes before the record that does not fit is sent, as record
      // by record sending would have.
      if (!write_bytes(bytes.data(), bytes.size(), true)) return false;
      log_oversized(message, path);
      return false;
    }
    bytes.append(record->data(), record->size());
  }
  return write_bytes(bytes.data(), bytes.size(), true);
}
