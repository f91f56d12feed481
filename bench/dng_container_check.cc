// Reads the TIFF structure of each DNG file named on the command line with
// the container parser (ReadStructure, FinishParse, Validate), as the DNG
// check does, and prints one line per file: "valid", "invalid" or the DNG
// error code. Warning and error lines go to standard error as usual.
#include <cstdio>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/parse/dng_info.h"

int main(int argc, char** argv) {
  int failures = 0;
  for (int i = 1; i < argc; ++i) {
    const char* verdict = "valid";
    int32_t code = 0;
    try {
      dng_host host;
      dng_file_stream stream(argv[i]);
      dng_info info;
      info.ReadStructure(host, stream);
      info.FinishParse(host);
      if (!info.Validate()) verdict = "invalid";
    } catch (const dng_exception& e) {
      code = e.Code();
      verdict = "error";
    }
    if (code != 0) {
      std::printf("%s: error %d\n", argv[i], code);
    } else {
      std::printf("%s: %s\n", argv[i], verdict);
    }
    failures += code != 0 || verdict[0] == 'i';
  }
  return failures == 0 ? 0 : 1;
}
