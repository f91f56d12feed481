#include "worker/image_reader.h"

#include <cstdlib>
#include <cstring>

ImageReader::~ImageReader() {
  if (m_in != nullptr) fclose(m_in);
  free(path_);
  free(message_);
}

void ImageReader::SetPath(const char* path) {
  free(path_);
  path_ = path != nullptr ? strdup(path) : nullptr;
}

// No reader classes are built into this worker yet, so no file is
// identified: every file is answered as one that cannot be opened or
// identified.
ImageReader* ImageReader::open(const char*, const char*) { return nullptr; }
