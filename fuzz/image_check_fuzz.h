// Shared by the JPEG and TIFF check targets: each input is written to a file
// (the readers work on paths) and identified and verified as the worker
// would, with the given extension.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "platform/files.h"
#include "util/trace.h"
#include "worker/image_reader.h"
#include "worker/report.h"

inline void check_image_bytes(const uint8_t* data, size_t size, const char* extension) {
  static const std::string path = [] {
    auto folder = platform::make_temp_folder("corvella-fuzz-");
    if (!folder) abort();
    report_hook = log_report;  // as in the worker: reports go to the (switched-off) log
    log_enabled = false;
    return *folder + "/input." + std::string("bin");
  }();
  FILE* f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  fwrite(data, 1, size, f);
  fclose(f);
  std::unique_ptr<ImageReader> reader(ImageReader::open(extension, path.c_str()));
  if (reader) reader->Verify();
}
