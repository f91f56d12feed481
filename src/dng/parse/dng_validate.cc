#include "dng/parse/dng_validate.h"

#include <cstdio>
#include <memory>

#include "dng/core/dng_allocation.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_shared.h"
#include "dng/parse/dng_stopwatch.h"

dng_text validate_stage1_path;
dng_text validate_stage2_path;
dng_text validate_stage3_path;
dng_text validate_tiff_path;
dng_text validate_dng_path;
bool validate_four_color = false;
uint32_t validate_preferred_size = 0;

uint32_t validate_linear_pixel_type = 3;
int32_t validate_interpolate_plane = -1;
uint32_t validate_rendered_pixel_type = 1;

// Defined by the rendering library, whose programs ask the linker for it;
// the weak reference leaves the hook null in programs without that library.
__attribute__((weak)) void validate_write_output(dng_validate_output step, dng_host& host, dng_negative& negative);
dng_validate_output_fn validate_output_step = validate_write_output;

namespace {

// The newest DNGBackwardVersion whose files this reader validates.
constexpr uint32_t kNewestValidatedVersion = 0x01010000;

void run_output_step(const dng_text& option, dng_validate_output step, dng_host& host, dng_negative& negative) {
  if (option.Empty()) return;
  if (validate_output_step == nullptr) throw_dng_code(dng_code_not_implemented);
  validate_output_step(step, host, negative);
}

int32_t validate(const char* path, dng_version_refusal* refusal) {
  std::fprintf(stderr, "Validating \"%s\"...\n", path);

  {
    dng_file_stream stream(path);
    dng_host host;
    if (validate_preferred_size != 0) host.SetTargetSize(validate_preferred_size);
    if (!validate_dng_path.Empty()) host.SetKeepStage1(true);

    auto info = std::make_unique<dng_info>();
    info->ReadStructure(host, stream);
    info->FinishParse(host);
    if (!info->Validate()) {
      if (refusal != nullptr && info->shared != nullptr &&
          info->shared->dng_backward_version > kNewestValidatedVersion) {
        refusal->refused = true;
        refusal->backward_version = info->shared->dng_backward_version;
      }
      return dng_code_bad_format;
    }

    std::unique_ptr<dng_negative> negative = host.NewNegative();
    negative->LoadFromInfo(host, stream, *info);
    negative->FinishParse(host, stream, *info);
    {
      dng_stopwatch timer("Raw image read time");
      negative->ReadRawImage(host, stream, *info);
    }
    info.reset();

    run_output_step(validate_stage1_path, dng_validate_output::stage1, host, *negative);

    negative->ReconcileMetadata();
    if (validate_four_color) negative->MakeFourColorBayer();
    {
      dng_stopwatch timer("Linearization time");
      negative->BuildLinearImage(host, validate_linear_pixel_type);
    }
    run_output_step(validate_stage2_path, dng_validate_output::stage2, host, *negative);
    {
      dng_stopwatch timer("Interpolate time");
      negative->BuildInterpolatedImage(host, validate_interpolate_plane);
    }
    run_output_step(validate_stage3_path, dng_validate_output::stage3, host, *negative);

    negative->StampCurrentTime();
    negative->RegenerateIPTC();

    run_output_step(validate_tiff_path, dng_validate_output::rendered_tiff, host, *negative);
    run_output_step(validate_dng_path, dng_validate_output::dng_file, host, *negative);
  }

  std::fprintf(stderr, "Validation complete\n");
  return dng_code_none;
}

}  // namespace

int32_t validate_dng_file(const char* path, dng_version_refusal* refusal) {
  try {
    // Memory that runs out in code without a mapping of its own is still
    // out of memory, not an unknown failure.
    return with_dng_allocation([&] { return validate(path != nullptr ? path : "", refusal); });
  } catch (const dng_exception& e) {
    return e.Code();
  } catch (...) {
    return dng_code_unknown;
  }
}
