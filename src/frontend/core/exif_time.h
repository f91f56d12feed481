// The EXIF time part of a hash key: when and, if it differs, last changed,
// as the image's own metadata records it.
#pragma once

#include <cstddef>
#include <mutex>
#include <string>

struct ExaminerContext;

namespace frontend {

// The longest EXIF time text a key holds.
inline constexpr size_t kExifTimeMax = 99;

// DateTimeDigitized, then "." and SubSecTimeDigitized when that is not
// empty, then "/" and DateTime when that is not empty and differs from
// DateTimeDigitized; cut to kExifTimeMax characters.
std::string compose_exif_time(const char* date_time_digitized, const char* sub_sec_digitized,
                              const char* date_time);

// Gives the EXIF time text of an image file. Used by the run thread through
// the hash context.
class ExifTimeSource {
 public:
  virtual ~ExifTimeSource() = default;
  // The text (at most kExifTimeMax characters). false, with an empty text,
  // when the file's structure could not be examined.
  virtual bool exif_time_text(const char* path, std::string* out) = 0;
};

// Serialises every use of the structure examiner in the front end (hash
// keys on the run thread, structure dumps in the examination windows): the
// examiner keeps process-wide scratch state.
std::mutex& examiner_mutex();

// The structure examiner's printing walk, silenced and stopped after the
// EXIF directory, so no image data is read. Owns its examiner context (made
// on first use, freed with the object) and closes the examined file after
// each walk.
class ExaminerExifTimeSource : public ExifTimeSource {
 public:
  ExaminerExifTimeSource() = default;
  ~ExaminerExifTimeSource() override;
  ExaminerExifTimeSource(const ExaminerExifTimeSource&) = delete;
  ExaminerExifTimeSource& operator=(const ExaminerExifTimeSource&) = delete;

  bool exif_time_text(const char* path, std::string* out) override;

 private:
  ExaminerContext* context_ = nullptr;
};

}  // namespace frontend
