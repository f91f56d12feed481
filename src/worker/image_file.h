// Opening the image files a request names. Only regular files are read: a
// FIFO, socket or device named like an image must neither stall the worker
// nor be read.
#pragma once

#include <sys/types.h>

#include <cstdio>

// A descriptor for reading the regular file at path (close-on-exec, in
// blocking mode), or -1 with errno set. The open itself never waits: a FIFO
// without a writer is refused at once (EINVAL), as are other special files
// and folders (EISDIR).
int open_image_file(const char* path);

// The same, but left in the non-blocking mode it was opened in (which
// saves a system call); read it only with read_image_file, or make it
// blocking with make_blocking before handing it on.
// size, when given, receives the file's size at the open.
int open_image_file_nonblocking(const char* path, off_t* size = nullptr);
bool make_blocking(int fd);

// pread on a descriptor from either open: retries when interrupted, and a
// descriptor still in non-blocking mode that would block is made blocking
// and read again (regular files do not block, but some file systems may
// say so).
ssize_t read_image_file(int fd, void* buffer, size_t size, off_t offset);

// The same as a stream for binary reading, or nullptr with errno set.
FILE* fopen_image_file(const char* path);
