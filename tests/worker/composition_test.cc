// The worker holds the DNG rendering and writing library beside the parsing
// one. This program links the worker library as corvex does, so the
// validation routine that the DNG reader calls has its real output steps
// and the negative its real colour model and EXIF block, not the parse
// library's stand-ins that raise 100000; and corvex itself carries those
// definitions.
#include <tiffio.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <sstream>
#include <string>

#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_validate.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_color_spec.h"
#include "dng/render/dng_validate_outputs.h"
#include "dng/support/code_of.h"
#include "dng/support/command_output.h"
#include "dng/support/stderr_capture.h"
#include "support/raw_dng_builder.h"
#include "support/temp_folder.h"
#include "support/worker_process.h"

namespace {

using namespace testing_support;

struct tiff_closer {
  void operator()(TIFF* t) const { TIFFClose(t); }
};

// The validation that the DNG reader runs writes the rendered TIFF when
// asked to, in the sRGB space with that space's own ICC profile.
TEST(WorkerComposition, TheValidationRoutineHasItsOutputSteps) {
  ASSERT_EQ(validate_output_step, &validate_write_output);
  TempFolder folder;
  RawDngOptions options;
  options.width = 64;
  options.height = 48;
  const std::string source = folder.write_file("source.tif", build_raw_dng(options).bytes);
  const std::string rendered = folder.sub("rendered.tif");
  validate_tiff_path.Assign(rendered.c_str());
  xmp_toolkit_initialize();
  dng_test::StderrCapture err;
  const int32_t code = validate_dng_file(source.c_str());
  const std::string transcript = err.Take();
  xmp_toolkit_terminate();
  const bool released = validate_tiff_path.Empty();
  validate_tiff_path.Assign(nullptr);
  ASSERT_EQ(code, 0) << transcript;
  EXPECT_TRUE(released);
  EXPECT_NE(transcript.find("Render time: "), std::string::npos) << transcript;

  TIFFSetWarningHandler(nullptr);
  std::unique_ptr<TIFF, tiff_closer> tiff(TIFFOpen(rendered.c_str(), "r"));
  ASSERT_NE(tiff, nullptr);
  uint16_t samples = 0;
  TIFFGetFieldDefaulted(tiff.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
  EXPECT_EQ(samples, 3);
  uint32_t icc_size = 0;
  const void* icc = nullptr;
  ASSERT_TRUE(TIFFGetField(tiff.get(), TIFFTAG_ICCPROFILE, &icc_size, &icc));
  uint32_t srgb_size = 0;
  const uint8_t* srgb = nullptr;
  ASSERT_TRUE(dng_space_sRGB::Instance().IccProfileBytes(srgb_size, srgb));
  ASSERT_EQ(icc_size, srgb_size);
  EXPECT_EQ(std::memcmp(icc, srgb, srgb_size), 0);
}

// The negative's colour model and EXIF block: the stand-ins would raise.
TEST(WorkerComposition, TheNegativeHasItsColourModelAndExifBlock) {
  std::unique_ptr<dng_negative> negative = dng_negative::Create(default_memory_allocator);
  std::unique_ptr<dng_color_spec> spec;
  EXPECT_EQ(dng_test::code_of([&] { spec = negative->NewColorSpec(); }), 0);
  EXPECT_NE(spec, nullptr);
  std::unique_ptr<dng_memory_block> block;
  EXPECT_EQ(dng_test::code_of([&] { block = negative->MakeExifTiffBlock(nullptr, false); }), 0);
  ASSERT_NE(block, nullptr);
  ASSERT_GE(block->Size(), 8u);
  EXPECT_EQ(std::memcmp(block->Buffer_uint8(), "II\x2a\x00\x08\x00\x00\x00", 8), 0);
}

// The built corvex: its symbol table (as nm lists it) defines the three
// operations itself. The parse library's stand-ins are weak definitions,
// which nm marks W; a worker without the rendering library would show
// those for the negative's two and no output step at all.
TEST(WorkerComposition, CorvexDefinesTheRealOperations) {
  const std::string listing = dng_test::command_output("nm --defined-only '" + corvex_path() + "' 2>&1");
  std::map<std::string, std::string> kinds;
  std::istringstream lines(listing);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string address, kind, name;
    if (fields >> address >> kind >> name) kinds[name] = kind;
  }
  ASSERT_FALSE(kinds.empty()) << listing.substr(0, 500);
  for (const char* name : {"_ZNK12dng_negative12NewColorSpecEv",
                           "_ZNK12dng_negative17MakeExifTiffBlockEPK17dng_pixel_densityb",
                           "_Z21validate_write_output19dng_validate_outputR8dng_hostR12dng_negative"}) {
    EXPECT_EQ(kinds[name], "T") << name;
  }
}

}  // namespace
