#include "worker/image_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

int open_image_file(const char* path) {
  int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  struct stat st;
  int err = 0;
  if (fstat(fd, &st) != 0) {
    err = errno;
  } else if (!S_ISREG(st.st_mode)) {
    err = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
  } else {
    // Of the status flags F_SETFL can change, the open set only O_NONBLOCK.
    if (fcntl(fd, F_SETFL, 0) != 0) err = errno;
  }
  if (err != 0) {
    ::close(fd);
    errno = err;
    return -1;
  }
  return fd;
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
