// A DNG file in memory taken through the parser and into a negative, with
// what the parser printed. Header only: the suites that use it link the
// parse library themselves.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_negative.h"
#include "dng/support/stderr_capture.h"

namespace dng_test {

class parsed_dng {
 public:
  // The negative is made even when the structure did not validate; with
  // read_raw_image, only when it did, and it then reads its raw image too
  // (stage 1).
  explicit parsed_dng(std::string bytes, bool read_raw_image = false) : bytes_(std::move(bytes)) {
    stream_ = std::make_unique<dng_stream>(bytes_.data(), uint32_t(bytes_.size()));
    dng_test::StderrCapture err;
    info_.ReadStructure(host_, *stream_);
    info_.FinishParse(host_);
    valid = info_.Validate();
    if (valid || !read_raw_image) {
      negative = host_.NewNegative();
      negative->LoadFromInfo(host_, *stream_, info_);
      negative->FinishParse(host_, *stream_, info_);
      if (read_raw_image) negative->ReadRawImage(host_, *stream_, info_);
    }
    errors = err.Take();
  }

 private:
  std::string bytes_;
  dng_host host_;
  std::unique_ptr<dng_stream> stream_;
  dng_info info_;

 public:
  bool valid = false;
  std::string errors;
  std::unique_ptr<dng_negative> negative;
};

}  // namespace dng_test
