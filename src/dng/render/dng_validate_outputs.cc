#include "dng/render/dng_validate_outputs.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_file_stream.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_stopwatch.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_image_writer.h"
#include "dng/render/dng_render.h"

namespace {

// Enough tries to step past names left behind by processes that died
// while writing; a name is taken only when the folder has none of it.
constexpr int kNameAttempts = 100;
// Keeps the temporary name within the file system's limit for a name.
constexpr size_t kKeptNameBytes = 160;

}  // namespace

dng_replacing_file::dng_replacing_file(const char* path) : path_(path != nullptr ? path : "") {
  const size_t slash = path_.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string() : path_.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path_ : path_.substr(slash + 1);
  static unsigned serial = 0;
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, ".%ld.%u.tmp", static_cast<long>(getpid()), serial++);
    temp_path_ = folder + "." + name.substr(0, kKeptNameBytes) + suffix;
    // O_EXCL: never write through a name someone else holds; mode 0666 as
    // fopen gives, narrowed by the process's umask.
    fd = open(temp_path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    temp_path_.clear();
    report_dng_error("Unable to open file", path_.c_str());
    throw_dng_code(dng_code_silent);
  }
  close(fd);
  try {
    stream_ = std::make_unique<dng_file_stream>(temp_path_.c_str(), true);
  } catch (...) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
    throw;
  }
}

dng_replacing_file::~dng_replacing_file() {
  stream_.reset();
  if (!committed_ && !temp_path_.empty()) unlink(temp_path_.c_str());
}

dng_stream& dng_replacing_file::Stream() { return *stream_; }

void dng_replacing_file::Commit() {
  if (committed_ || stream_ == nullptr) throw_dng_code(dng_code_write_file);
  try {
    stream_->Close();
  } catch (...) {
    stream_.reset();
    unlink(temp_path_.c_str());
    temp_path_.clear();
    throw;
  }
  stream_.reset();
  if (std::rename(temp_path_.c_str(), path_.c_str()) != 0) {
    unlink(temp_path_.c_str());
    temp_path_.clear();
    throw_dng_code(dng_code_write_file);
  }
  committed_ = true;
}

namespace {

dng_text& path_option(dng_validate_output step) {
  switch (step) {
    case dng_validate_output::stage1:
      return validate_stage1_path;
    case dng_validate_output::stage2:
      return validate_stage2_path;
    case dng_validate_output::stage3:
      return validate_stage3_path;
    case dng_validate_output::rendered_tiff:
      return validate_tiff_path;
    case dng_validate_output::dng_file:
      return validate_dng_path;
  }
  throw_dng_code(dng_code_unknown);
}

uint32_t photometric_for(const dng_image& image) { return image.Planes() < 3 ? 1 : 2; }

const dng_image& stage_image(dng_validate_output step, const dng_negative& negative) {
  const dng_image* image = step == dng_validate_output::stage1   ? negative.Stage1Image()
                           : step == dng_validate_output::stage2 ? negative.Stage2Image()
                                                                 : negative.Stage3Image();
  if (image == nullptr) throw_dng_code(dng_code_unknown);
  return *image;
}

void write_stage(dng_validate_output step, dng_host& host, dng_negative& negative, const char* path) {
  const dng_image& image = stage_image(step, negative);
  dng_replacing_file file(path);
  {
    dng_image_writer writer;
    writer.WriteTiffFile(host, file.Stream(), image, photometric_for(image), 1);
  }
  file.Commit();
}

void write_rendered_tiff(dng_host& host, dng_negative& negative, const char* path) {
  const dng_color_space& space = *validate_render_space();
  std::unique_ptr<dng_image> image;
  {
    dng_render render(host, negative);
    render.SetFinalSpace(space);
    render.SetFinalPixelType(validate_rendered_pixel_type);
    if (validate_preferred_size != 0 && negative.Stage3Image() != nullptr) {
      const dng_box& bounds = negative.Stage3Image()->Bounds();
      render.SetMaximumSize(std::max(bounds.H(), bounds.W()));
    }
    dng_stopwatch timer("Render time");
    image = render.MakeFinalImage();
  }
  if (image == nullptr) throw_dng_code(dng_code_unknown);
  image->Reorient(negative.StoredOrientation());

  dng_replacing_file file(path);
  {
    dng_image_writer writer;
    dng_stopwatch timer("Write TIFF time");
    writer.WriteTiffFile(host, file.Stream(), *image, photometric_for(*image), 1, &negative, &space);
  }
  file.Commit();
}

void write_dng(dng_host& host, dng_negative& negative, const char* path) {
  std::unique_ptr<dng_image> thumbnail;
  {
    dng_stopwatch timer("Build thumbnail time");
    dng_render render(host, negative);
    render.SetFinalSpace(negative.ColorChannels() == 1 ? dng_space_GrayGamma22::Instance()
                                                       : dng_space_sRGB::Instance());
    render.SetFinalPixelType(1);
    render.SetMaximumSize(256);
    thumbnail = render.MakeFinalImage();
  }

  dng_replacing_file file(path);
  {
    dng_image_writer writer;
    dng_stopwatch timer("Write DNG time");
    writer.WriteDngFile(host, file.Stream(), negative, thumbnail.get(), 7);
  }
  file.Commit();
}

}  // namespace

void validate_write_output(dng_validate_output step, dng_host& host, dng_negative& negative) {
  dng_text& option = path_option(step);
  if (option.Empty()) return;
  // The option may be emptied only once the file is in place; the writers
  // read from a copy.
  const std::string path = option.CStr();
  switch (step) {
    case dng_validate_output::stage1:
    case dng_validate_output::stage2:
    case dng_validate_output::stage3:
      write_stage(step, host, negative, path.c_str());
      break;
    case dng_validate_output::rendered_tiff:
      write_rendered_tiff(host, negative, path.c_str());
      break;
    case dng_validate_output::dng_file:
      write_dng(host, negative, path.c_str());
      break;
  }
  option.Assign(nullptr);
}
