// Hash keys and whole-file digests.
#include "frontend/core/hash_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>

namespace frontend {

namespace {

// The piece size of the digest's reads.
constexpr size_t kReadPiece = 10240;
constexpr size_t kStreamBuffer = 256 * 1024;

}  // namespace

std::string hash_key_base_name(const char* path) {
  // A backslash is an ordinary file-name character: "a\\b.jpg" is one name.
  const char* last = std::strrchr(path, '/');
  return last != nullptr ? std::string(last + 1) : std::string(path);
}

bool hash_file_digest(const char* path, uint8_t digest[kSha512DigestSize], const std::atomic<bool>* cancel) {
  std::memset(digest, 0, kSha512DigestSize);
  // Non-blocking open and a regular-file check: a FIFO or device that
  // matches an image extension must not stall the run.
  int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat status;
  if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
    close(fd);
    return false;
  }
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    close(fd);
    return false;
  }
  // Reads of 10240 bytes from a large stream buffer: few system calls. The
  // buffer is no larger than the file needs (small files are the common
  // case) and is not cleared first.
  size_t buffer_size = kStreamBuffer;
  if (status.st_size >= 0 && static_cast<uint64_t>(status.st_size) < buffer_size) {
    buffer_size = static_cast<size_t>(status.st_size) + 1;
  }
  std::unique_ptr<char[]> stream_buffer(new char[buffer_size]);
  setvbuf(file, stream_buffer.get(), _IOFBF, buffer_size);
  Sha512 state;
  sha512_start(&state);
  uint8_t piece[kReadPiece];
  size_t n;
  bool stopped = false;
  while (!(stopped = cancel != nullptr && cancel->load(std::memory_order_relaxed)) &&
         (n = fread(piece, 1, sizeof piece, file)) > 0) {
    sha512_feed(&state, piece, n);
  }
  bool failed = stopped || ferror(file) != 0;
  fclose(file);
  if (failed) return false;
  sha512_finish(&state, digest);
  return true;
}

bool make_hash_key(uint8_t* digest, ExifTimeSource& exif, const char* path, std::string* key,
                   const std::atomic<bool>* cancel) {
  bool ok = true;
  std::string base = hash_key_base_name(path);

  long long size = 0;
  std::string modified = kNoModTime;
  struct stat status;
  if (stat(path, &status) == 0) {
    // Keys were first made with a 32-bit size field: files of 2 GiB and
    // more keep that field's (wrapped, signed) value.
    size = static_cast<int32_t>(static_cast<uint32_t>(status.st_size));
    struct tm local;
    char text[50];
    if (localtime_r(&status.st_mtime, &local) != nullptr &&
        strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local) > 0) {
      modified = text;
    }
  } else {
    ok = false;
  }

  std::string exif_time;
  if (!exif.exif_time_text(path, &exif_time)) ok = false;
  if (exif_time.size() > kExifTimeMax) exif_time.resize(kExifTimeMax);
  if (exif_time.empty() || exif_time == "/") exif_time = kNoExifTime;

  *key = base + "/" + std::to_string(size) + "/" + modified + "/" + exif_time;

  if (digest != nullptr && !hash_file_digest(path, digest, cancel)) ok = false;
  return ok;
}

std::string hash_key_display(const std::string& key) {
  std::string shown;
  for (char c : key) {
    if (c == '/')
      shown += " - ";
    else
      shown += c;
  }
  return shown;
}

}  // namespace frontend
