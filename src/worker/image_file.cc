#include "worker/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int open_image_file_nonblocking(const char* path, off_t* size) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  }
  if (err != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  if (size != nullptr) *size = st.st_size;
  return fd;
}

// Of the status flags F_SETFL can change, the open set only O_NONBLOCK.
bool make_blocking(int fd) { return fcntl(fd, F_SETFL, 0) == 0; }

int open_image_file(const char* path) {
  int fd = open_image_file_nonblocking(path);
  if (fd >= 0 && !make_blocking(fd)) {
    int err = errno;
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
}

ssize_t read_image_file(int fd, void* buffer, size_t size, off_t offset) {
  for (;;) {
    ssize_t n = pread(fd, buffer, size, offset);
    if (n >= 0 || errno == EINTR) {
      if (n >= 0) return n;
      continue;
    }
    if ((errno != EAGAIN && errno != EWOULDBLOCK) || !make_blocking(fd)) return -1;
  }
}

FILE* fopen_image_file(const char* path) {
  int fd = open_image_file(path);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "rb");
  if (file == nullptr) {
    int err = errno;
    ::close(fd);
    errno = err;
  }
  return file;
}
