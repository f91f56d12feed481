// Runs the container parser over bytes in memory the way the validation
// routine does (ReadStructure, FinishParse, Validate) and keeps what it
// printed: standard error as a transcript, standard output (which must stay
// empty) separately.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/support/stderr_capture.h"
#include "dng/support/stdout_capture.h"

namespace dng_parse_test {

struct ParseResult {
  int32_t code = 0;     // the DNG error that ended the parse, 0 when none
  bool valid = false;   // Validate's answer when the parse completed
  std::string err;      // standard error
  long out_bytes = 0;   // bytes written to standard output
  std::unique_ptr<dng_info> info;
};

// Parses with the given info object (a plain dng_info when null).
inline ParseResult parse_bytes(const std::string& bytes, std::unique_ptr<dng_info> info = nullptr) {
  ParseResult r;
  r.info = info ? std::move(info) : std::make_unique<dng_info>();
  dng_host host;
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  dng_test::StdoutCapture out;
  dng_test::StderrCapture err;
  try {
    r.info->ReadStructure(host, stream);
    r.info->FinishParse(host);
    r.valid = r.info->Validate();
  } catch (const dng_exception& e) {
    r.code = e.Code();
  }
  r.err = err.Take();
  r.out_bytes = static_cast<long>(out.Take().size());
  return r;
}

inline std::string warning(const std::string& message, const std::string& detail = "") {
  return "*** Warning: " + message + (detail.empty() ? "" : " (" + detail + ")") + " ***\n";
}

inline std::string error(const std::string& message, const std::string& detail = "") {
  return "*** Error: " + message + (detail.empty() ? "" : " (" + detail + ")") + " ***\n";
}

}  // namespace dng_parse_test
