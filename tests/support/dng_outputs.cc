// dng_outputs: validates DNG files with the validation's output options set,
// for a developer who wants the images of the stages, a rendering or the
// negative written back:
//
//   dng_outputs [--stage1 P] [--stage2 P] [--stage3 P] [--tiff P] [--dng P]
//               [--size N] [--four-color] [--verbose] FILE...
//
// Each file is validated with the XMP toolkit started before and stopped
// after it, as the worker's DNG reader does. A path is used once per run:
// the first file that reaches its step writes it. Standard error carries the
// validation's lines; standard output one line per file, "<result> <file>",
// after the structure dumps of the file's parse when --verbose turns them on
// (the worker never does: its standard output is its result channel).
// The exit status is the first non-zero result (as the system keeps its low
// byte; 1 when that byte is 0), 0 when every file passed, and 2 for a wrong
// command line.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"

namespace {

int usage(const char* message) {
  std::fprintf(stderr,
               "dng_outputs: %s\n"
               "usage: dng_outputs [--stage1 P] [--stage2 P] [--stage3 P] [--tiff P] [--dng P] [--size N] "
               "[--four-color] [--verbose] FILE...\n",
               message);
  return 2;
}

bool parse_size(const char* text, uint32_t& size) {
  if (text[0] < '0' || text[0] > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || value > UINT32_MAX) return false;
  size = static_cast<uint32_t>(value);
  return true;
}

int32_t validate_one(const char* path) {
  try {
    xmp_toolkit_initialize();
  } catch (const dng_exception& e) {
    return e.Code();
  } catch (...) {
    return dng_code_unknown;
  }
  const int32_t result = validate_dng_file(path);
  xmp_toolkit_terminate();
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  struct PathOption {
    const char* name;
    dng_text* option;
  } const path_options[] = {
      {"--stage1", &validate_stage1_path}, {"--stage2", &validate_stage2_path}, {"--stage3", &validate_stage3_path},
      {"--tiff", &validate_tiff_path},     {"--dng", &validate_dng_path},
  };

  std::vector<const char*> files;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!files.empty() || std::strncmp(arg, "--", 2) != 0) {
      files.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--four-color") == 0) {
      validate_four_color = true;
      continue;
    }
    if (std::strcmp(arg, "--verbose") == 0) {
      dng_verbose = true;
      continue;
    }
    if (i + 1 >= argc) return usage((std::string(arg) + " needs a value").c_str());
    const char* value = argv[++i];
    if (std::strcmp(arg, "--size") == 0) {
      if (!parse_size(value, validate_preferred_size)) return usage("--size needs a whole number");
      continue;
    }
    bool known = false;
    for (const PathOption& p : path_options) {
      if (std::strcmp(arg, p.name) != 0) continue;
      if (value[0] == '\0') return usage((std::string(arg) + " needs a path").c_str());
      p.option->Assign(value);
      known = true;
    }
    if (!known) return usage((std::string("unknown option ") + arg).c_str());
  }
  if (files.empty()) return usage("no file to validate");

  int32_t first = 0;
  for (const char* file : files) {
    const int32_t result = validate_one(file);
    std::printf("%d %s\n", static_cast<int>(result), file);
    std::fflush(stdout);
    if (first == 0) first = result;
  }
  if (first == 0) return 0;
  return (first & 0xFF) != 0 ? (first & 0xFF) : 1;
}
