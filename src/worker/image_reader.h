// Reader classes: one per kind of image the worker can check. open() decides
// what a file is and makes the matching reader; Verify() checks the file.
#pragma once

#include <cstdio>

class ImageReader {
 public:
  virtual ~ImageReader();

  // The reader for a file, or nullptr when the file cannot be opened or
  // identified. extension is the text after the file name's last dot, or
  // nullptr when the name has none.
  static ImageReader* open(const char* extension, const char* path);

  virtual bool ReadHeader() = 0;
  virtual bool Verify() = 0;

  void SetPath(const char* path);
  const char* path() const { return path_; }
  int type() const { return type_; }
  const char* message() const { return message_; }

 protected:
  ImageReader() = default;

  char* path_ = nullptr;
  FILE* m_in = nullptr;
  int type_ = 0;
  char* message_ = nullptr;
};
