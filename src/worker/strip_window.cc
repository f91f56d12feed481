#include "worker/strip_window.h"

#include <sys/mman.h>
#include <unistd.h>

namespace {

// Closes a descriptor on every path.
struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

}  // namespace

std::unique_ptr<StripWindow> StripWindow::make(uint64_t size) {
  if (size == 0 || size > kMaxStripWindowRange) return nullptr;
  const size_t windows = static_cast<size_t>((size + kStripWindowBytes - 1) / kStripWindowBytes);
  const size_t reserved = windows * kStripWindowBytes;
  FdCloser memory{memfd_create("corvex-strip-window", MFD_CLOEXEC)};
  if (memory.fd < 0 || ftruncate(memory.fd, static_cast<off_t>(kStripWindowBytes)) != 0) return nullptr;
  void* base = mmap(nullptr, reserved, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (base == MAP_FAILED) return nullptr;
  for (size_t i = 0; i < windows; ++i) {
    void* at = static_cast<char*>(base) + i * kStripWindowBytes;
    if (mmap(at, kStripWindowBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, memory.fd, 0) == MAP_FAILED) {
      munmap(base, reserved);
      return nullptr;
    }
  }
  return std::unique_ptr<StripWindow>(new StripWindow(base, reserved, size));
}

StripWindow::~StripWindow() { munmap(base_, reserved_); }
