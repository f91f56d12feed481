// The one entry of the DNG pipeline: validate_dng_file checks one file from
// its TIFF structure through the raw image, the metadata and the demosaic,
// with the output options that can write the image of each stage.
#pragma once

#include <cstdint>

#include "dng/core/dng_text.h"

class dng_host;
class dng_negative;

// Output options, read only by validate_dng_file. Paths start empty and
// switches zero, and with these values the routine writes no file. A path is
// one-shot: the output step that writes its file empties it afterwards; a
// step that did not run or failed leaves it as it was.
extern dng_text validate_stage1_path;  // stage-1 image as uncompressed TIFF
extern dng_text validate_stage2_path;  // stage-2 image as uncompressed TIFF
extern dng_text validate_stage3_path;  // stage-3 image as uncompressed TIFF
extern dng_text validate_tiff_path;    // rendered negative as uncompressed TIFF
extern dng_text validate_dng_path;     // the negative written back as DNG
// After metadata reconciliation, dng_negative::MakeFourColorBayer is called.
extern bool validate_four_color;
// Non-zero: the host's target size, which lets the demosaic reduce stage 3.
extern uint32_t validate_preferred_size;

// Fixed values of the routine.
extern uint32_t validate_linear_pixel_type;     // stage 2: 3 (16-bit unsigned)
extern int32_t validate_interpolate_plane;      // -1: all planes
extern uint32_t validate_rendered_pixel_type;   // rendered TIFF: 1 (8-bit unsigned)

// The output steps, each run after the step that produced its image when
// its option is set.
enum class dng_validate_output {
  stage1,        // after the raw image is read
  stage2,        // after linearisation
  stage3,        // after interpolation
  rendered_tiff, // after the time stamp and the IPTC block are renewed
  dng_file,      // after the rendered TIFF
};

// Performs one output step: reads its path option, writes the file and then
// empties the option; failures raise dng_exception codes. Starts as the
// rendering library's validate_write_output in programs that link it, and
// null in the others, where a set option raises 100001 when its step is
// reached.
using dng_validate_output_fn = void (*)(dng_validate_output step, dng_host& host, dng_negative& negative);
extern dng_validate_output_fn validate_output_step;

// Filled by validate_dng_file when the structure checks failed for a file
// whose DNGBackwardVersion (after its repair against DNGVersion) is newer
// than the 1.1.0.0 this reader validates: the file may be sound, but this
// reader cannot judge it. Left as it was otherwise.
struct dng_version_refusal {
  bool refused = false;
  uint32_t backward_version = 0;  // bytes 1.2.3.4 as 0x01020304
};

// Validates the DNG file at path (a zero-terminated byte string), writing
// the "Validating" line, the warning and error lines, the three stage timer
// lines and, on success only, "Validation complete" to standard error;
// nothing goes to standard output. Answers 0 when the file passed every
// step, 100006 when its structure was read but failed the DNG checks, the
// code of a dng_exception raised on the way (100002 when the file cannot be
// opened, 100005 out of memory, 100011 truncated, ...), 100005 also for a
// std::bad_alloc, and 100000 for any other exception. Never ends the
// process. After 100005, dng_failed_allocation_size() (dng_errors.h) gives
// the size that could not be had, where it is known.
//
// The caller keeps the XMP toolkit started around the call
// (xmp_toolkit_initialize / xmp_toolkit_terminate). Single-threaded.
int32_t validate_dng_file(const char* path, dng_version_refusal* refusal = nullptr);
