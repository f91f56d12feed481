// Times the raw pipeline on one DNG file in this process, the way a DNG
// check runs it: (a) parse (structure, finish, validate) and read the raw
// image into stage 1; (b) linearize into stage 2 and interpolate at full
// scale into stage 3. Prints one line "read_ms=A process_ms=B" per run.
// With --verify, stage 1 of a scene file (bench/make_raw_scene) is compared
// with the scene first.
//   raw_pipeline_time [--verify] [--runs N] FILE
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "bench/raw_scene.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_linearization_parse.h"
#include "dng/parse/dng_shared.h"

namespace {

using clock_type = std::chrono::steady_clock;

double ms_since(clock_type::time_point t) {
  return std::chrono::duration<double, std::milli>(clock_type::now() - t).count();
}

bool run(const char* path, bool verify) {
  dng_host host;
  const auto start = clock_type::now();
  dng_file_stream stream(path);
  dng_info info;
  info.ReadStructure(host, stream);
  info.FinishParse(host);
  if (!info.Validate() || info.main_index < 0) {
    std::fprintf(stderr, "%s: not a valid DNG\n", path);
    return false;
  }
  const dng_ifd& ifd = *info.ifd[info.main_index];
  const dng_box bounds(0, 0, int32_t(ifd.image_length), int32_t(ifd.image_width));
  dng_simple_image stage1(bounds, ifd.samples_per_pixel, ifd.SamplePixelType());
  ifd.ReadImageData(host, stream, stage1);
  const double read_ms = ms_since(start);

  if (verify) {
    const dng_pixel_buffer& b = stage1.Buffer();
    for (uint32_t r = 0; r < ifd.image_length; ++r) {
      const auto* row = static_cast<const uint16_t*>(b.Pixel(int32_t(r), 0, 0));
      for (uint32_t c = 0; c < ifd.image_width; ++c) {
        if (row[c] != raw_scene::sample(r, c, ifd.image_width, ifd.image_length)) {
          std::fprintf(stderr, "%s: stage 1 differs from the scene at (%u, %u)\n", path, r, c);
          return false;
        }
      }
    }
  }

  const auto middle = clock_type::now();
  dng_linearization_info linearization;
  parse_linearization_info(host, stream, ifd, linearization);
  linearization.FinishParse(bounds);
  const dng_box& active = linearization.active_area;
  dng_simple_image stage2(dng_box(0, 0, active.bottom - active.top, active.right - active.left),
                          stage1.Planes(), dng_type_short, 65535);
  linearization.LinearizeImage(host, stage1, stage2);
  dng_mosaic_info mosaic;
  mosaic.Parse(ifd, *info.shared);
  if (mosaic.IsColorFilterArray()) {
    const dng_box s2 = stage2.Bounds();
    mosaic.FinishParse(dng_extent(int32_t(s2.H()), int32_t(s2.W())), double(s2.H()), double(s2.W()), 1.0, 1.0);
    const dng_extent size = mosaic.ScaledSize(dng_extent(1, 1));
    dng_simple_image stage3(dng_box(0, 0, size.v, size.h), mosaic.color_planes, dng_type_short, 65535);
    mosaic.Demosaic(host, stage2, stage3, dng_extent(1, 1), 0);
  }
  const double process_ms = ms_since(middle);
  std::printf("read_ms=%.3f process_ms=%.3f\n", read_ms, process_ms);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  bool verify = false;
  int runs = 1;
  const char* path = nullptr;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--verify") == 0) {
      verify = true;
    } else if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else {
      path = argv[i];
    }
  }
  if (path == nullptr || runs < 1) {
    std::fprintf(stderr, "usage: raw_pipeline_time [--verify] [--runs N] FILE\n");
    return 2;
  }
  try {
    for (int i = 0; i < runs; ++i) {
      if (!run(path, verify && i == 0)) return 1;
    }
  } catch (const dng_exception& e) {
    std::fprintf(stderr, "%s: error %d\n", path, e.Code());
    return 1;
  }
  return 0;
}
