// The output steps of DNG validation: stage dumps, the rendered TIFF and the
// DNG written back, each into a file that appears whole or not at all.
#pragma once

#include <memory>
#include <string>

#include "dng/parse/dng_validate.h"

class dng_file_stream;
class dng_stream;

// A file written under a temporary name in the folder of its path and
// moved over the path by Commit. Until then the path keeps whatever it held
// before; the temporary file is removed by a failing Commit and by the
// destructor of an uncommitted file.
class dng_replacing_file {
 public:
  // Creates the temporary file (a hidden name beside the path, unique in
  // that folder, with the permissions a new file of the process gets) and
  // opens it for writing. When it cannot be created, prints the
  // "Unable to open file" error line with the path and raises 100002.
  explicit dng_replacing_file(const char* path);
  ~dng_replacing_file();
  dng_replacing_file(const dng_replacing_file&) = delete;
  dng_replacing_file& operator=(const dng_replacing_file&) = delete;

  dng_stream& Stream();
  const std::string& TemporaryPath() const { return temp_path_; }

  // Flushes, syncs and closes the temporary file, then renames it over the
  // path. Any failure removes the temporary file and raises the code of
  // the failure (100010 for a write, sync, close or rename).
  void Commit();

 private:
  std::string path_;
  std::string temp_path_;
  std::unique_ptr<dng_file_stream> stream_;
  bool committed_ = false;
};

// The output step that validate_dng_file runs through validate_output_step
// in every program that links the rendering library. Writes the file of the
// step's path option and empties the option once the file is in place; on
// any failure the option keeps its path and no file of the step remains.
// Stage dumps are uncompressed TIFFs, photometric 1 below 3 planes and 2
// otherwise, with no timer line; the rendered TIFF prints "Render time" and
// "Write TIFF time", the DNG "Build thumbnail time" and "Write DNG time",
// also when the step fails.
void validate_write_output(dng_validate_output step, dng_host& host, dng_negative& negative);
