// Opening the image files a request names. Only regular files are read: a
// FIFO, socket or device named like an image must neither stall the worker
// nor be read.
#pragma once

#include <cstdio>

// A descriptor for reading the regular file at path (close-on-exec, in
// blocking mode), or -1 with errno set. The open itself never waits: a FIFO
// without a writer is refused at once (EINVAL), as are other special files
// and folders (EISDIR).
int open_image_file(const char* path);

// The same as a stream for binary reading, or nullptr with errno set.
FILE* fopen_image_file(const char* path);
