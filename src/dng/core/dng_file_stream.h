// A stream over a file of the file system.
#pragma once

#include <cstdio>

#include "dng/core/dng_stream.h"

// Owns the open file. Positions are 32-bit at the interface; a file of
// 4 GiB or more reports the length 0xFFFFFFFF. The file is opened
// close-on-exec, so processes started meanwhile do not inherit it.
// Destruction closes the file without flushing the stream's window; a
// writer ends with Close, which reports every failure.
class dng_file_stream : public dng_stream {
 public:
  // Opens for writing ("wb") or reading ("rb"). When the file does not
  // open, prints the "Unable to open file" error line with the path and
  // raises 100002.
  dng_file_stream(const char* path, bool write = false);
  ~dng_file_stream() override;

  // Flushes the window, the C library's buffer and the file system's cache
  // (fsync), then closes the file; each failure raises 100010. The file is
  // closed afterwards whatever happened.
  void Close();

 protected:
  uint32_t StorageLength() override;
  void StorageRead(void* data, uint32_t count, uint32_t offset) override;
  void StorageWrite(const void* data, uint32_t count, uint32_t offset) override;

 private:
  // Positions the file at offset (skipped when it is already there).
  bool SeekTo(uint32_t offset);

  FILE* file_ = nullptr;
  // Where the file is positioned, or -1 when unknown.
  int64_t file_position_ = -1;
};
