// Runs the parts of the raw pipeline over one DNG file the way a negative
// will: parse the container (dng_info), read the main image into stage 1
// (dng_ifd::ReadImageData), linearize it into stage 2
// (dng_linearization_info) and interpolate a CFA image into stage 3
// (dng_mosaic_info at full scale). Keeps every stage so that a test can
// compare each with its own reference; a benchmark can stop after any.
//
// Users link corvella_raw_test_support and the corvella_new_hooks object
// library.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_simple_image.h"
#include "dng/parse/dng_info.h"

class dng_host;
class dng_stream;

namespace testing_support {

enum class RawStage { kParse, kRead, kLinearize, kInterpolate };

const char* raw_stage_name(RawStage stage);

struct RawPipelineResult {
  // The DNG error that ended the run, 0 when every stage asked for ran; a
  // file the container parser calls invalid gives 100006 after parsing.
  int32_t code = 0;
  // The stage that failed, or the last one that ran.
  RawStage stage = RawStage::kParse;
  std::unique_ptr<dng_info> info;
  const dng_ifd* main_ifd = nullptr;
  dng_linearization_info linearization;
  dng_mosaic_info mosaic;
  std::unique_ptr<dng_simple_image> stage1;
  std::unique_ptr<dng_simple_image> stage2;
  // Only for a CFA image; LinearRaw stops at stage 2.
  std::unique_ptr<dng_simple_image> stage3;
};

// Runs up to and including `last`. Exceptions other than a DNG error are
// reported as 100000. Diagnostics go to standard error as in the worker.
RawPipelineResult run_raw_pipeline(dng_host& host, dng_stream& stream, RawStage last = RawStage::kInterpolate);
RawPipelineResult run_raw_pipeline(const std::string& bytes, RawStage last = RawStage::kInterpolate);
// A file on disk, read through a file stream.
RawPipelineResult run_raw_pipeline_on_file(const std::string& path, RawStage last = RawStage::kInterpolate);

// One sample of an image of any integer pixel type.
uint32_t image_sample(const dng_simple_image& image, int32_t row, int32_t col, uint32_t plane);

}  // namespace testing_support
