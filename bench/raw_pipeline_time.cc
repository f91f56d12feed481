// Times the raw pipeline on one DNG file in this process, the way a DNG
// check runs it: (a) parse (structure, finish, validate) and read the raw
// image into stage 1 through the pipeline driver; (b) linearize into stage
// 2 and interpolate at full scale into stage 3 as the driver does. Prints one line "read_ms=A process_ms=B" per run.
// With --verify, stage 1 of a scene file (bench/make_raw_scene) is compared
// with the scene first; --read-only stops after (a).
//   raw_pipeline_time [--verify] [--read-only] [--runs N] FILE
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench/raw_scene.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"
#include "support/raw_pipeline.h"

namespace {

using clock_type = std::chrono::steady_clock;
using testing_support::RawStage;

double ms_since(clock_type::time_point t) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

bool run(const char* path, bool verify, bool read_only) {
  const auto start = clock_type::now();
  testing_support::RawPipelineResult r = testing_support::run_raw_pipeline_on_file(path, RawStage::kRead);
  const double read_ms = ms_since(start);
  if (r.code != 0) {
    std::fprintf(stderr, "%s: error %d in the %s stage\n", path, r.code, testing_support::raw_stage_name(r.stage));
    return false;
  }
  const dng_ifd& ifd = *r.main_ifd;
  if (verify) {
    for (uint32_t y = 0; y < ifd.image_length; ++y) {
      for (uint32_t x = 0; x < ifd.image_width; ++x) {
        if (testing_support::image_sample(*r.stage1, int32_t(y), int32_t(x), 0) !=
            raw_scene::sample(y, x, ifd.image_width, ifd.image_length)) {
          std::fprintf(stderr, "%s: stage 1 differs from the scene at (%u, %u)\n", path, y, x);
          return false;
        }
      }
    }
  }

  if (read_only) {
    std::printf("read_ms=%.3f\n", read_ms);
    return true;
  }

  // Linearization and interpolation as the pipeline driver runs them.
  const auto middle = clock_type::now();
  dng_host host;
  r.linearization.FinishParse(r.stage1->Bounds());
  const dng_box& active = r.linearization.active_area;
  dng_simple_image stage2(dng_box(0, 0, int32_t(active.H()), int32_t(active.W())), r.stage1->Planes(),
                          dng_type_short, 65535);
  r.linearization.LinearizeImage(host, *r.stage1, stage2);
  if (r.mosaic.IsColorFilterArray()) {
    const dng_box s2 = stage2.Bounds();
    r.mosaic.FinishParse(dng_extent(int32_t(s2.H()), int32_t(s2.W())), ifd.default_crop_size_v.ToReal(),
                         ifd.default_crop_size_h.ToReal(), ifd.default_scale_h.ToReal(),
                         ifd.default_scale_v.ToReal());
    const dng_extent factors = r.mosaic.ChooseDownScale(host.TargetSize());
    const dng_extent size = r.mosaic.ScaledSize(factors);
    dng_simple_image stage3(dng_box(0, 0, size.v, size.h), r.mosaic.color_planes, dng_type_short, 65535);
    r.mosaic.Demosaic(host, stage2, stage3, factors, 0);
  }
  const double process_ms = ms_since(middle);
  std::printf("read_ms=%.3f process_ms=%.3f\n", read_ms, process_ms);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool verify = false, read_only = false;
  int runs = 1;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verify") == 0) {
      verify = true;
    } else if (std::strcmp(argv[i], "--read-only") == 0) {
      read_only = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr || runs < 1) {
    std::fprintf(stderr, "usage: raw_pipeline_time [--verify] [--read-only] [--runs N] FILE\n");
    return 2;
  }
  try {
    for (int i = 0; i < runs; ++i) {
      if (!run(path, verify && i == 0, read_only)) return 1;
    }
  } catch (const dng_exception& e) {
    std::fprintf(stderr, "%s: error %d\n", path, e.Code());
    return 1;
  }
  return 0;
}
