#include "support/raw_pipeline.h"

#include <exception>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_linearization_parse.h"

namespace testing_support {

const char* raw_stage_name(RawStage stage) {
  switch (stage) {
    case RawStage::kParse: return "parse";
    case RawStage::kRead: return "read";
    case RawStage::kLinearize: return "linearize";
    case RawStage::kInterpolate: return "interpolate";
  }
  return "?";
}

namespace {

void run_stages(dng_host& host, dng_stream& stream, RawStage last, RawPipelineResult& r) {
  r.stage = RawStage::kParse;
  r.info = std::make_unique<dng_info>();
  dng_info& info = *r.info;
  info.ReadStructure(host, stream);
  info.FinishParse(host);
  if (!info.Validate() || info.main_index < 0) throw dng_exception(dng_code_bad_format);
  const dng_ifd& ifd = *info.ifd[info.main_index];
  r.main_ifd = &ifd;
  parse_linearization_info(host, stream, ifd, r.linearization);
  r.mosaic.Parse(ifd, *info.shared);
  if (last == RawStage::kParse) return;

  r.stage = RawStage::kRead;
  const dng_box stage1_bounds(0, 0, static_cast<int32_t>(ifd.image_length), static_cast<int32_t>(ifd.image_width));
  r.stage1 = std::make_unique<dng_simple_image>(stage1_bounds, ifd.samples_per_pixel, ifd.SamplePixelType());
  ifd.ReadImageData(host, stream, *r.stage1);
  if (last == RawStage::kRead) return;

  r.stage = RawStage::kLinearize;
  r.linearization.FinishParse(stage1_bounds);
  const dng_box& active = r.linearization.active_area;
  r.stage2 = std::make_unique<dng_simple_image>(dng_box(0, 0, static_cast<int32_t>(active.H()), static_cast<int32_t>(active.W())), r.stage1->Planes(),
                                                dng_type_short, 65535);
  r.linearization.LinearizeImage(host, *r.stage1, *r.stage2);
  if (last == RawStage::kLinearize || !r.mosaic.IsColorFilterArray()) return;

  r.stage = RawStage::kInterpolate;
  r.mosaic.FinishParse(dng_extent(static_cast<int32_t>(r.stage2->Bounds().H()), static_cast<int32_t>(r.stage2->Bounds().W())), ifd.default_crop_size_v.ToReal(),
                       ifd.default_crop_size_h.ToReal(), ifd.default_scale_h.ToReal(),
                       ifd.default_scale_v.ToReal());
  const dng_extent factors = r.mosaic.ChooseDownScale(host.TargetSize());
  const dng_extent size = r.mosaic.ScaledSize(factors);
  r.stage3 = std::make_unique<dng_simple_image>(dng_box(0, 0, size.v, size.h), r.mosaic.color_planes,
                                                r.stage2->PixelType(), r.stage2->SampleRange());
  r.mosaic.Demosaic(host, *r.stage2, *r.stage3, factors, 0);
}

RawPipelineResult run_guarded(dng_host& host, dng_stream& stream, RawStage last) {
  RawPipelineResult r;
  try {
    run_stages(host, stream, last, r);
  } catch (const dng_exception& e) {
    r.code = e.Code();
  } catch (const std::exception&) {
    r.code = dng_code_unknown;
  }
  return r;
}

}  // namespace

RawPipelineResult run_raw_pipeline(dng_host& host, dng_stream& stream, RawStage last) {
  return run_guarded(host, stream, last);
}

RawPipelineResult run_raw_pipeline(const std::string& bytes, RawStage last) {
  dng_host host;
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  return run_guarded(host, stream, last);
}

RawPipelineResult run_raw_pipeline_on_file(const std::string& path, RawStage last) {
  dng_host host;
  try {
    dng_file_stream stream(path.c_str());
    return run_guarded(host, stream, last);
  } catch (const dng_exception& e) {
    RawPipelineResult r;
    r.code = e.Code();
    return r;
  }
}

uint32_t image_sample(const dng_simple_image& image, int32_t row, int32_t col, uint32_t plane) {
  const dng_pixel_buffer& b = image.Buffer();
  const void* p = b.Pixel(row, col, plane);
  switch (b.pixel_size) {
    case 1: return *static_cast<const uint8_t*>(p);
    case 2: return *static_cast<const uint16_t*>(p);
    default: return *static_cast<const uint32_t*>(p);
  }
}

}  // namespace testing_support
