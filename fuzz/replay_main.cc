// Runs a fuzz target's entry point once on every file of the folders (or
// files) named on the command line, so the seed corpus and past findings
// are replayed as an ordinary test.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/files.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

static bool run_file(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (f == nullptr) {
    fprintf(stderr, "cannot open %s\n", path.c_str());
    return false;
  }
  std::vector<uint8_t> data;
  uint8_t buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) data.insert(data.end(), buf, buf + n);
  fclose(f);
  LLVMFuzzerTestOneInput(data.data(), data.size());
  return true;
}

int main(int argc, char** argv) {
  int files = 0;
  bool ok = true;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (platform::is_folder(arg)) {
      auto names = platform::list_folder(arg);
      if (!names) {
        fprintf(stderr, "cannot list %s\n", arg.c_str());
        return 1;
      }
      for (const auto& name : *names) {
        ok = run_file(platform::join_path(arg, name)) && ok;
        ++files;
      }
    } else {
      ok = run_file(arg) && ok;
      ++files;
    }
  }
  printf("replayed %d inputs\n", files);
  return ok && files > 0 ? 0 : 1;
}
