// The whole DNG validation with every output option set: stage dumps, the
// rendered TIFF and the DNG written back go to a private folder, emptied
// after each input. The input's length picks the two switches (bit 0: the
// preferred size 256, bit 1: four colours), so the corpus reaches the
// reduced interpolation and the four-colour mosaic too.
//
// Besides crashes, hangs and leaks, a finding is a broken promise of the
// output steps: a path option emptied without its file in place, a file
// in place while its option is still set, or a temporary file left behind.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dng_file_input.h"
#include "dng/core/dng_limits.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"

namespace {

// Kept for the whole process (never destroyed), as the clean-up at exit
// runs after the destructors of function-local statics made before it.
const std::string& scratch_folder() {
  static const std::string& path = *new std::string([] {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ = std::string(tmp != nullptr && tmp[0] != '\0' ? tmp : "/tmp") + "/dng_outputs_XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) std::abort();
    std::atexit([] {
      const std::string& folder = scratch_folder();
      for (const char* name : {"input.dng", "s1.tif", "s2.tif", "s3.tif", "r.tif", "x.dng"}) {
        unlink((folder + "/" + name).c_str());
      }
      rmdir(folder.c_str());
    });
    return templ;
  }());
  return path;
}

bool exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_support::cap_dng_images();
  const std::string& folder = scratch_folder();
  const std::string input = folder + "/input.dng";
  fuzz_support::write_dng_input(input, data, size);

  struct Output {
    dng_text* option;
    const char* name;
  } const outputs[] = {
      {&validate_stage1_path, "s1.tif"}, {&validate_stage2_path, "s2.tif"}, {&validate_stage3_path, "s3.tif"},
      {&validate_tiff_path, "r.tif"},    {&validate_dng_path, "x.dng"},
  };
  for (const Output& o : outputs) o.option->Assign((folder + "/" + o.name).c_str());
  validate_preferred_size = (size & 1) != 0 ? 256 : 0;
  validate_four_color = (size & 2) != 0;

  fuzz_support::validate_with_toolkit(input);

  for (const Output& o : outputs) {
    const std::string path = folder + "/" + o.name;
    // Emptied exactly when the file was put in place.
    if (o.option->Empty() != exists(path)) std::abort();
    unlink(path.c_str());
    o.option->Assign(nullptr);
  }
  DIR* d = opendir(folder.c_str());
  if (d == nullptr) std::abort();
  while (dirent* e = readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != ".." && name != "input.dng") std::abort();  // a temporary file left behind
  }
  closedir(d);
  return 0;
}
