// Reader classes: one per kind of image the worker checks. open() decides
// what a file is and makes the matching reader; Verify() checks the file.
// A reader lives for one request: made, verified once, answered, deleted.
#pragma once

#include <cstdint>
#include <cstdio>
#include <vector>

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
  // A result code that replaces the valid/invalid verdict ('E' when the
  // check could not be made at all), or 0.
  char forced_code() const { return forced_code_; }

 protected:
  ImageReader(int type, FILE* in, const char* path);
  void SetMessage(const char* text);

  char* path_ = nullptr;
  FILE* m_in = nullptr;
  int type_ = 0;
  char* message_ = nullptr;
  char forced_code_ = 0;
};

// Holds the file identification opened as a descriptor (m_in stays absent)
// and the bytes identification read from its start: the decode goes on
// from them.
class ImageReaderJPEG : public ImageReader {
 public:
  ImageReaderJPEG(int fd, const char* path, const unsigned char* start, size_t start_size);
  ~ImageReaderJPEG() override;
  bool ReadHeader() override { return false; }
  bool Verify() override;

 private:
  int fd_ = -1;
  std::vector<unsigned char> start_;
};

class ImageReaderTIFF : public ImageReader {
 public:
  ImageReaderTIFF(FILE* in, const char* path);
  ~ImageReaderTIFF() override;
  bool ReadHeader() override;
  bool Verify() override;

 private:
  bool VerifyDirectory(void* tif);
  std::vector<unsigned char> buffer_;
};

class ImageReaderPSD : public ImageReader {
 public:
  ImageReaderPSD(FILE* in, const char* path);
  bool ReadHeader() override { return false; }
  bool Verify() override;
};

class ImageReaderRAW : public ImageReader {
 public:
  ImageReaderRAW(FILE* in, const char* path);
  bool ReadHeader() override { return false; }
  bool Verify() override;
};

// A file the identification took for DNG: validated by the DNG pipeline,
// with the XMP toolkit started for exactly as long as the reader exists.
// Every answer has an empty message and the reasons go to standard error,
// except two errors ('E'): the toolkit would not start (nothing is
// validated), and the file declares a DNG backward version newer than the
// pipeline validates.
class ImageReaderDNG : public ImageReader {
 public:
  ImageReaderDNG(FILE* in, const char* path);
  ~ImageReaderDNG() override;
  bool ReadHeader() override { return false; }
  bool Verify() override;

 private:
  bool toolkit_started_ = false;
};
