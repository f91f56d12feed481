#include "dng/render/dng_render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_limits.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_negative.h"
#include "dng/render/dng_1d_functions.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_tone_curve.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"
#include "support/dng_builder.h"
#include "support/raw_dng_builder.h"

namespace {

using dng_test::code_of;
using testing_support::DngBuilder;

constexpr int kIfd0 = DngBuilder::kIfd0;

// A camera whose AsShotNeutral is (1/2, 1, 2/3), with one daylight matrix.
const std::vector<double> kDaylight = {1.0, -0.2, -0.1, -0.3, 1.2, 0.1, -0.05, 0.2, 0.7};

std::vector<std::pair<int32_t, int32_t>> matrix_tag(const std::vector<double>& values) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (double v : values) out.push_back({int32_t(std::lround(v * 1000000)), 1000000});
  return out;
}

// A negative parsed from a small generated DNG (for its colour data), whose
// stage 3 image, crop, scale and white settings the tests then set directly.
class render_negative {
 public:
  explicit render_negative(const std::vector<double>& color_matrix = kDaylight,
                           dng_memory_allocator* allocator = nullptr)
      : host(allocator) {
    DngBuilder b;
    b.add_dng_tags();
    b.remove(kIfd0, 50721);
    b.add_srational(kIfd0, 50721, matrix_tag(color_matrix));
    b.add_cfa_image(kIfd0);
    bytes_ = b.build();
    stream_ = std::make_unique<dng_stream>(bytes_.data(), uint32_t(bytes_.size()));
    dng_test::StderrCapture err;
    info_.ReadStructure(host, *stream_);
    info_.FinishParse(host);
    valid = info_.Validate();
    negative = host.NewNegative();
    negative->LoadFromInfo(host, *stream_, info_);
    negative->FinishParse(host, *stream_, info_);
    errors = err.Take();
  }

  // A stage 3 image of rows x cols pixels; sample (r, c, p) = value(r, c, p)
  // in 0..1 of the type's range (16-bit) or as it stands (float). The crop
  // becomes the whole image at scale 1.
  dng_simple_image& SetStage3(uint32_t rows, uint32_t cols, uint32_t planes, uint32_t pixel_type,
                              const std::function<double(int32_t, int32_t, uint32_t)>& value) {
    negative->ResetStage3Image(
        negative->MakeImage(dng_box(0, 0, int32_t(rows), int32_t(cols)), planes, pixel_type, 0));
    auto& image = dynamic_cast<dng_simple_image&>(*negative->Stage3Image());
    const dng_pixel_buffer& buffer = image.Buffer();
    for (int32_t r = 0; r < int32_t(rows); ++r)
      for (int32_t c = 0; c < int32_t(cols); ++c)
        for (uint32_t p = 0; p < planes; ++p) {
          const double v = value(r, c, p);
          if (pixel_type == dng_type_float) {
            *static_cast<float*>(buffer.Pixel(r, c, p)) = float(v);
          } else {
            *static_cast<uint16_t*>(buffer.Pixel(r, c, p)) = uint16_t(std::lround(v * 65535.0));
          }
        }
    SetCrop(0, 0, rows, cols);
    negative->SetDefaultScale(dng_unsigned_ratio(1, 1), dng_unsigned_ratio(1, 1));
    return image;
  }

  void SetCrop(uint32_t top, uint32_t left, uint32_t rows, uint32_t cols) {
    negative->SetDefaultCropOrigin(dng_unsigned_ratio(left, 1), dng_unsigned_ratio(top, 1));
    negative->SetDefaultCropSize(dng_unsigned_ratio(cols, 1), dng_unsigned_ratio(rows, 1));
  }

  dng_host host;
  bool valid = false;
  std::string errors;
  std::unique_ptr<dng_negative> negative;

 private:
  std::string bytes_;
  std::unique_ptr<dng_stream> stream_;
  dng_info info_;
};

// Sample (r, c, p) of a rendered image as a fraction of its type's range.
double sample(const dng_image& image, int32_t r, int32_t c, uint32_t p) {
  const dng_pixel_buffer& buffer = dynamic_cast<const dng_simple_image&>(image).Buffer();
  if (image.PixelType() == dng_type_byte) return *static_cast<const uint8_t*>(buffer.Pixel(r, c, p)) / 255.0;
  return *static_cast<const uint16_t*>(buffer.Pixel(r, c, p)) / 65535.0;
}

// Begin of a task over a small final image, for what it chooses.
struct begun_task {
  begun_task(const dng_negative& negative, const dng_render& render)
      : final_image(negative.MakeImage(dng_box(0, 0, 4, 4), 3, dng_type_byte, 0)),
        task(*negative.Stage3Image(), *final_image, negative, render, dng_extent(0, 0)) {
    task.Begin(1, dng_extent(4, 4), negative.Allocator(), nullptr);
  }
  std::unique_ptr<dng_image> final_image;
  dng_render_task task;
};

double flat(int32_t, int32_t, uint32_t) { return 0.25; }

TEST(DngRender, DefaultsFollowTheNegative) {
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  {
    dng_render render(rn.host, *rn.negative);
    EXPECT_EQ(render.Shadows(), 5.0);
    EXPECT_EQ(&render.ToneCurve(), &dng_tone_curve_acr3_default::Instance());
    EXPECT_EQ(&render.FinalSpace(), &dng_space_sRGB::Instance());
    EXPECT_EQ(render.FinalPixelType(), uint32_t(dng_type_byte));
    EXPECT_EQ(render.MaximumSize(), 0u);
    EXPECT_FALSE(render.WhiteXY().IsPositive());
  }
  // Colorimetric data is rendered without shadows or a tone curve.
  rn.negative->SetColorimetricReference(1);
  dng_render render(rn.host, *rn.negative);
  EXPECT_EQ(render.Shadows(), 0.0);
  EXPECT_EQ(&render.ToneCurve(), &dng_1d_identity::Instance());
}

TEST(DngRender, FinalSizeFromCropScaleAndLimit) {
  struct size_case {
    const char* name;
    dng_unsigned_ratio crop_w, crop_h, scale_h, scale_v;
    uint32_t maximum;
    int32_t want_w, want_h;
  };
  const dng_unsigned_ratio one(1, 1);
  const size_case cases[] = {
      {"landscape into 256", {3000, 1}, {2000, 1}, one, one, 256, 256, 171},
      {"portrait into 256", {2000, 1}, {3000, 1}, one, one, 256, 171, 256},
      {"within the limit", {200, 1}, {100, 1}, one, one, 256, 200, 100},
      {"no limit", {3000, 1}, {2000, 1}, one, one, 0, 3000, 2000},
      {"non-square pixels", {100, 1}, {100, 1}, {2, 1}, one, 0, 200, 100},
      {"non-square pixels into 100", {100, 1}, {100, 1}, {2, 1}, one, 100, 100, 50},
      {"half-pixel rounds up", {5, 1}, {3, 1}, {1, 2}, {1, 2}, 0, 3, 2},
      {"tiny scale keeps a pixel", {64, 1}, {48, 1}, {1, 10000}, {1, 10000}, 0, 1, 1},
      {"extreme aspect keeps a pixel", {30000, 1}, {2, 1}, one, one, 256, 256, 1},
  };
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  for (const size_case& c : cases) {
    SCOPED_TRACE(c.name);
    rn.negative->SetDefaultCropSize(c.crop_w, c.crop_h);
    rn.negative->SetDefaultScale(c.scale_h, c.scale_v);
    dng_render render(rn.host, *rn.negative);
    render.SetMaximumSize(c.maximum);
    const dng_extent size = render.FinalSize();
    EXPECT_EQ(size.h, c.want_w);
    EXPECT_EQ(size.v, c.want_h);
  }
}

// A DefaultScale far from 1 must give a small image or fail with 100005
// before anything large is allocated, never an empty or overrun image.
TEST(DngRender, ExtremeScalesFailCleanlyOrGiveAPixel) {
  struct scale_case {
    const char* name;
    uint32_t rows, cols;
    dng_unsigned_ratio scale;
    int32_t code;
    int32_t want_side;
  };
  const scale_case cases[] = {
      {"1e-4", 48, 64, {1, 10000}, 0, 1},
      // The resampler's kernel then spans 40000 source columns.
      {"1e-4 over a long row", 2, 12000, {1, 10000}, 0, 1},
      {"1e6", 48, 64, {1000000, 1}, dng_code_memory, 0},
      {"4e9", 48, 64, {4000000000u, 1}, dng_code_memory, 0},
  };
  for (const scale_case& c : cases) {
    SCOPED_TRACE(c.name);
    dng_test::FailingAllocator allocator;
    render_negative rn(kDaylight, &allocator);
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.SetStage3(c.rows, c.cols, 3, dng_type_short, flat);
    rn.negative->SetDefaultScale(c.scale, c.scale);
    dng_render render(rn.host, *rn.negative);
    std::unique_ptr<dng_image> image;
    const size_t before = allocator.Requests().size();
    EXPECT_EQ(code_of([&] { image = render.MakeFinalImage(); }), c.code);
    if (c.code == 0) {
      ASSERT_NE(image, nullptr);
      EXPECT_EQ(image->Bounds(), dng_box(0, 0, c.want_side, c.want_side));
      EXPECT_TRUE(render.LastResampled());
    } else {
      EXPECT_EQ(allocator.Requests().size(), before) << "allocated before refusing";
    }
  }
}

TEST(DngRender, BeginChoosesTheWhite) {
  struct white_case {
    const char* name;
    dng_xy_coord render_white;
    bool neutral;
    dng_xy_coord negative_white;
    dng_xy_coord want;  // (0, 0): the white from the camera neutral
  };
  const white_case cases[] = {
      {"render's own white", {0.31, 0.33}, true, {0.40, 0.40}, {0.31, 0.33}},
      {"camera neutral", {0, 0}, true, {0.40, 0.40}, {0, 0}},
      {"negative's white", {0, 0}, false, {0.40, 0.39}, {0.40, 0.39}},
      {"one render coordinate only", {0.31, 0}, false, {0.40, 0.39}, {0.40, 0.39}},
      {"nothing set", {0, 0}, false, {0, 0}, {0.3324, 0.3474}},
  };
  for (const white_case& c : cases) {
    SCOPED_TRACE(c.name);
    render_negative rn;
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.SetStage3(4, 4, 3, dng_type_short, flat);
    const dng_vector neutral = rn.negative->CameraNeutral();
    ASSERT_EQ(neutral.Count(), 3u);
    if (!c.neutral) rn.negative->ClearCameraNeutral();
    rn.negative->StoreWhiteXY(c.negative_white.x, c.negative_white.y);
    dng_render render(rn.host, *rn.negative);
    render.SetWhiteXY(c.render_white);
    begun_task t(*rn.negative, render);
    if (c.want.IsPositive()) {
      EXPECT_DOUBLE_EQ(t.task.White().x, c.want.x);
      EXPECT_DOUBLE_EQ(t.task.White().y, c.want.y);
    } else {
      // The camera white is then the neutral with a largest entry of 1.
      for (uint32_t i = 0; i < 3; ++i)
        EXPECT_NEAR(t.task.CameraWhite()[i], neutral[i] / neutral.LargestEntry(), 1e-6) << i;
    }
  }
}

TEST(DngRender, BeginSetsExposureAndShadows) {
  struct exposure_case {
    const char* name;
    double render_exposure;
    double baseline;
    uint32_t colorimetric;
    double want_white;
    double want_black;
  };
  const exposure_case cases[] = {
      {"no exposure", 0, 0, 0, 1.0, 0.005},
      {"one stop up", 1, 0, 0, 0.5, 0.005},
      {"baseline and render add", 0.5, 0.5, 0, 0.5, 0.005},
      {"one stop down keeps white 1", -1, 0, 0, 1.0, 0.005},
      {"colorimetric: no shadows", 0, 0, 1, 1.0, 0.0},
  };
  for (const exposure_case& c : cases) {
    SCOPED_TRACE(c.name);
    render_negative rn;
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.SetStage3(4, 4, 3, dng_type_short, flat);
    rn.negative->SetBaselineExposure(c.baseline);
    rn.negative->SetColorimetricReference(c.colorimetric);
    dng_render render(rn.host, *rn.negative);
    render.SetExposure(c.render_exposure);
    begun_task t(*rn.negative, render);
    EXPECT_NEAR(t.task.ExposureStops(), c.render_exposure + c.baseline, 1e-9);
    EXPECT_NEAR(t.task.WhitePoint(), c.want_white, 1e-12);
    EXPECT_NEAR(t.task.BlackPoint(), c.want_black, 1e-12);

    const float* ramp = t.task.ExposureTable().Entries();
    ASSERT_NE(ramp, nullptr);
    EXPECT_EQ(ramp[0], 0.0f);
    EXPECT_FLOAT_EQ(ramp[dng_1d_table::kTableSize], 1.0f);
    if (c.want_black == 0.0) {
      // Without a black point the ramp is linear from the first entry on.
      EXPECT_NEAR(ramp[1], 1.0 / 4096 / c.want_white, 1e-7);
    }
    // Below 0 stops the tone function compresses: the middle goes down.
    const float* tone = t.task.ToneTable().Entries();
    dng_1d_table plain_tone;
    plain_tone.Fill(rn.negative->Allocator(), render.ToneCurve());
    if (t.task.ExposureStops() < 0) {
      EXPECT_LT(tone[1024], plain_tone.Entries()[1024]);
    } else {
      EXPECT_EQ(tone[1024], plain_tone.Entries()[1024]);
    }
  }
}

// A patch at the camera neutral is a gray: equal channels in every output
// type, and the same gray value at either depth.
TEST(DngRender, NeutralPatchRendersGray) {
  struct gray_case {
    uint32_t colors;
    uint32_t type;
  };
  const gray_case cases[] = {
      {3, dng_type_byte}, {3, dng_type_short}, {4, dng_type_byte}, {4, dng_type_short}};
  for (const gray_case& gc : cases) {
    const uint32_t type = gc.type;
    SCOPED_TRACE(testing::Message() << gc.colors << " colours, type " << type);
    render_negative rn;
    ASSERT_TRUE(rn.valid) << rn.errors;
    if (gc.colors == 4) {
      ASSERT_TRUE(rn.negative->MakeFourColorBayer());
    }
    const dng_vector neutral = rn.negative->CameraNeutral();
    ASSERT_EQ(neutral.Count(), gc.colors);
    // Columns step through brightness; every pixel is a multiple of the neutral.
    rn.SetStage3(2, 8, gc.colors, dng_type_short,
                 [&](int32_t, int32_t c, uint32_t p) { return neutral[p] * (c + 1) / 8.0; });
    dng_render render(rn.host, *rn.negative);
    render.SetFinalPixelType(type);
    const std::unique_ptr<dng_image> image = render.MakeFinalImage();
    EXPECT_FALSE(render.LastResampled());
    ASSERT_EQ(image->Planes(), 3u);
    ASSERT_EQ(image->PixelType(), type);
    ASSERT_EQ(image->Bounds(), dng_box(0, 0, 2, 8));
    const double tolerance = type == dng_type_byte ? 1.0 / 255 : 2e-4;
    double last = -1.0;
    for (int32_t c = 0; c < 8; ++c) {
      const double g = sample(*image, 0, c, 1);
      EXPECT_NEAR(sample(*image, 0, c, 0), g, tolerance) << c;
      EXPECT_NEAR(sample(*image, 0, c, 2), g, tolerance) << c;
      EXPECT_GT(g, last) << c;
      last = g;
    }
    EXPECT_NEAR(last, 1.0, 1.0 / 255) << "the camera white renders white";
  }
}

TEST(DngRender, PlanesOfSourceAndFinalSpace) {
  struct plane_case {
    const char* name;
    uint32_t source_planes;
    const dng_color_space* space;
    uint32_t want_planes;
  };
  const plane_case cases[] = {
      {"gray into gray", 1, &dng_space_GrayGamma22::Instance(), 1},
      {"gray into sRGB", 1, &dng_space_sRGB::Instance(), 3},
      {"colour into gray", 3, &dng_space_GrayGamma22::Instance(), 1},
      {"colour into ProPhoto", 3, &dng_space_ProPhoto::Instance(), 3},
  };
  for (const plane_case& c : cases) {
    SCOPED_TRACE(c.name);
    render_negative rn;
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.SetStage3(3, 5, c.source_planes, dng_type_short,
                 [](int32_t, int32_t col, uint32_t) { return col / 4.0; });
    dng_render render(rn.host, *rn.negative);
    render.SetFinalSpace(*c.space);
    const std::unique_ptr<dng_image> image = render.MakeFinalImage();
    ASSERT_EQ(image->Planes(), c.want_planes);
    EXPECT_EQ(sample(*image, 1, 0, 0), 0.0) << "black stays black";
    if (c.source_planes == 1 && c.want_planes == 3) {
      // One plane feeds all three working channels: a gray in sRGB.
      for (int32_t col = 0; col < 5; ++col) {
        EXPECT_NEAR(sample(*image, 1, col, 0), sample(*image, 1, col, 1), 1.0 / 255) << col;
        EXPECT_NEAR(sample(*image, 1, col, 2), sample(*image, 1, col, 1), 1.0 / 255) << col;
      }
    }
  }
}

// A crop of the final size is read from stage 3 in place, at its offset;
// any other size is resampled, and a flat crop stays flat.
TEST(DngRender, CropAtFinalSizeIsReadInPlace) {
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  // One bright pixel at (5, 7) in a dark image.
  rn.SetStage3(20, 30, 1, dng_type_short,
               [](int32_t r, int32_t c, uint32_t) { return r == 5 && c == 7 ? 0.8 : 0.1; });
  rn.SetCrop(5, 7, 6, 9);
  dng_render render(rn.host, *rn.negative);
  render.SetFinalSpace(dng_space_GrayGamma22::Instance());
  const std::unique_ptr<dng_image> image = render.MakeFinalImage();
  EXPECT_FALSE(render.LastResampled());
  ASSERT_EQ(image->Bounds(), dng_box(0, 0, 6, 9));
  const double bright = sample(*image, 0, 0, 0);
  const double dark = sample(*image, 0, 1, 0);
  EXPECT_GT(bright, dark);
  for (int32_t r = 0; r < 6; ++r) {
    for (int32_t c = 0; c < 9; ++c) {
      if (r != 0 || c != 0) {
        EXPECT_EQ(sample(*image, r, c, 0), dark) << r << "," << c;
      }
    }
  }

  // The same crop scaled by 2 is resampled; over a flat image both paths
  // give the same value.
  rn.SetStage3(20, 30, 1, dng_type_short, flat);
  rn.SetCrop(5, 7, 6, 9);
  const std::unique_ptr<dng_image> direct = render.MakeFinalImage();
  EXPECT_FALSE(render.LastResampled());
  rn.negative->SetDefaultScale(dng_unsigned_ratio(2, 1), dng_unsigned_ratio(2, 1));
  const std::unique_ptr<dng_image> scaled = render.MakeFinalImage();
  EXPECT_TRUE(render.LastResampled());
  ASSERT_EQ(scaled->Bounds(), dng_box(0, 0, 12, 18));
  for (int32_t r = 0; r < 12; ++r)
    for (int32_t c = 0; c < 18; ++c)
      EXPECT_EQ(sample(*scaled, r, c, 0), sample(*direct, 0, 0, 0)) << r << "," << c;

  // A maximum size shrinks the longer side to it, keeping the aspect.
  // At 9 that is the crop's own size again, read in place.
  render.SetMaximumSize(9);
  EXPECT_EQ(render.MakeFinalImage()->Bounds(), dng_box(0, 0, 6, 9));
  EXPECT_FALSE(render.LastResampled());
  render.SetMaximumSize(8);
  const std::unique_ptr<dng_image> limited = render.MakeFinalImage();
  EXPECT_TRUE(render.LastResampled());
  ASSERT_EQ(limited->Bounds(), dng_box(0, 0, 5, 8));
  for (int32_t r = 0; r < 5; ++r)
    for (int32_t c = 0; c < 8; ++c)
      EXPECT_EQ(sample(*limited, r, c, 0), sample(*direct, 0, 0, 0)) << r << "," << c;
}

// The tone curve acts on the largest and smallest working channel; the
// middle one keeps its relative place between them (the hue).
TEST(DngRender, ToneCurveKeepsTheHue) {
  class square_curve : public dng_1d_function {
   public:
    double ValueAt(double x) const override { return x * x; }
  };
  const square_curve square;
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  const dng_vector neutral = rn.negative->CameraNeutral();
  const double tint[] = {0.9, 0.5, 0.3};
  rn.SetStage3(1, 4, 3, dng_type_short,
               [&](int32_t, int32_t c, uint32_t p) { return neutral[p] * tint[p] * (c + 1) / 4.0; });
  const dng_color_space& prophoto = dng_space_ProPhoto::Instance();
  // Linear working values of pixel c, by undoing the ProPhoto encoding.
  const auto linear = [&](const dng_image& image, int32_t c) {
    std::vector<double> v;
    for (uint32_t p = 0; p < 3; ++p) v.push_back(prophoto.EncodingCurve().InverseAt(sample(image, 0, c, p)));
    return v;
  };
  dng_render plain(rn.host, *rn.negative);
  plain.SetFinalSpace(prophoto);
  plain.SetFinalPixelType(dng_type_short);
  plain.SetToneCurve(dng_1d_identity::Instance());
  dng_render toned(rn.host, *rn.negative);
  toned.SetFinalSpace(prophoto);
  toned.SetFinalPixelType(dng_type_short);
  toned.SetToneCurve(square);
  const std::unique_ptr<dng_image> a = plain.MakeFinalImage();
  const std::unique_ptr<dng_image> b = toned.MakeFinalImage();
  for (int32_t c = 0; c < 4; ++c) {
    SCOPED_TRACE(c);
    const std::vector<double> in = linear(*a, c);
    const std::vector<double> out = linear(*b, c);
    const auto hi = std::max_element(in.begin(), in.end()) - in.begin();
    const auto lo = std::min_element(in.begin(), in.end()) - in.begin();
    ASSERT_NE(hi, lo);
    const auto mid = 3 - hi - lo;
    EXPECT_NEAR(out[hi], in[hi] * in[hi], 2e-3);
    EXPECT_NEAR(out[lo], in[lo] * in[lo], 2e-3);
    const double place = (in[mid] - in[lo]) / (in[hi] - in[lo]);
    EXPECT_NEAR(out[mid], out[lo] + place * (out[hi] - out[lo]), 2e-3);
  }
}

// FilterArea handles 1, 3 and 4 planes; other counts are refused before a
// plane that is not there could be read.
TEST(DngRender, UnsupportedPlaneCountsRaise) {
  for (uint32_t planes : {2u, 5u}) {
    SCOPED_TRACE(planes);
    render_negative rn;
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.SetStage3(4, 4, planes, dng_type_short, flat);
    dng_render render(rn.host, *rn.negative);
    EXPECT_EQ(code_of([&] { (void)render.MakeFinalImage(); }), dng_code_unknown);
    std::unique_ptr<dng_image> final_image =
        rn.negative->MakeImage(dng_box(0, 0, 4, 4), 3, dng_type_byte, 0);
    EXPECT_EQ(code_of([&] {
                dng_render_task task(*rn.negative->Stage3Image(), *final_image, *rn.negative, render,
                                     dng_extent(0, 0));
              }),
              dng_code_unknown);
  }
  // Colour data of three channels cannot render a four-plane stage 3.
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  rn.SetStage3(4, 4, 4, dng_type_short, flat);
  dng_render render(rn.host, *rn.negative);
  EXPECT_EQ(code_of([&] { (void)render.MakeFinalImage(); }), dng_code_unknown);
}

TEST(DngRender, MissingStage3OrBadPixelTypeRaise) {
  render_negative rn;
  ASSERT_TRUE(rn.valid) << rn.errors;
  dng_render render(rn.host, *rn.negative);
  if (rn.negative->Stage3Image() == nullptr) {
    EXPECT_EQ(code_of([&] { (void)render.MakeFinalImage(); }), dng_code_unknown);
  }
  rn.SetStage3(4, 4, 3, dng_type_short, flat);
  render.SetFinalPixelType(dng_type_float);
  EXPECT_EQ(code_of([&] { (void)render.MakeFinalImage(); }), dng_code_unknown);
}

// Colour data whose camera response to white has a largest entry near 0
// (scaling by its inverse makes the matrices huge), and float samples that
// are not numbers or infinite, still render to defined values (the sanitizer
// build checks every conversion): the same bytes on every run, and with
// usual colour data NaN as black and infinity as the clipped white.
TEST(DngRender, DegenerateDataRendersDefinedValues) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double d0 = 0.9642957, d2 = 0.8251046;
  struct degenerate_case {
    const char* name;
    std::vector<double> color_matrix;
    bool usual;
  };
  const degenerate_case cases[] = {
      {"usual colour data", kDaylight, true},
      // First row nearly orthogonal to the D50 white.
      {"largest response near 0", {d2, 0, -d0, -1, 0, 0, 0, -1, 0}, false},
  };
  for (const degenerate_case& c : cases) {
    SCOPED_TRACE(c.name);
    render_negative rn(c.color_matrix);
    ASSERT_TRUE(rn.valid) << rn.errors;
    rn.negative->ClearCameraNeutral();
    rn.negative->StoreWhiteXY(0.3457, 0.3585);
    const double values[] = {0.0, nan, inf, 1.0, -inf, 0.5};
    rn.SetStage3(1, 6, 3, dng_type_float, [&](int32_t, int32_t col, uint32_t) { return values[col]; });
    for (uint32_t type : {uint32_t(dng_type_byte), uint32_t(dng_type_short)}) {
      SCOPED_TRACE(type);
      dng_render render(rn.host, *rn.negative);
      render.SetFinalPixelType(type);
      std::unique_ptr<dng_image> first;
      std::unique_ptr<dng_image> second;
      ASSERT_EQ(code_of([&] { first = render.MakeFinalImage(); }), 0);
      ASSERT_EQ(code_of([&] { second = render.MakeFinalImage(); }), 0);
      for (int32_t col = 0; col < 6; ++col)
        for (uint32_t p = 0; p < 3; ++p)
          EXPECT_EQ(sample(*first, 0, col, p), sample(*second, 0, col, p)) << col << "," << p;
      if (!c.usual) continue;
      for (uint32_t p = 0; p < 3; ++p) {
        EXPECT_EQ(sample(*first, 0, 1, p), sample(*first, 0, 0, p)) << "NaN as 0, plane " << p;
        EXPECT_EQ(sample(*first, 0, 2, p), sample(*first, 0, 3, p)) << "inf as 1, plane " << p;
        EXPECT_EQ(sample(*first, 0, 4, p), sample(*first, 0, 0, p)) << "-inf as 0, plane " << p;
      }
    }
  }
}

}  // namespace

namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A real file and generated ones (LinearRaw; a CFA with non-square pixels)
// through the negative's pipeline as DNG validation runs it, then rendered:
// into 256 pixels on the longer side, and at full size.
TEST(DngRenderFiles, NegativesRenderToTheirFinalSize) {
  testing_support::RawDngOptions linear;
  linear.cfa_rows.clear();
  linear.width = 300;
  linear.height = 200;
  linear.dng_version = 0x01010000;
  testing_support::RawDngOptions wide;
  wide.width = 200;
  wide.height = 300;
  wide.dng_version = 0x01010000;
  wide.default_scale = {{2, 1}, {1, 1}};
  struct source {
    const char* name;
    std::string bytes;
  };
  const source sources[] = {
      {"camera file",
       read_file(std::string(CORVELLA_FIXTURES) + "/dng/canon_eos_kissx4_magiclantern_uncompressed14bit_cfa.dng")},
      {"LinearRaw", testing_support::build_raw_dng(linear).bytes},
      {"CFA, non-square pixels", testing_support::build_raw_dng(wide).bytes},
  };
  for (const source& src : sources) {
    SCOPED_TRACE(src.name);
    ASSERT_FALSE(src.bytes.empty());
    dng_stream stream(src.bytes.data(), uint32_t(src.bytes.size()));
    dng_host host;
    dng_test::StderrCapture err;
    dng_info info;
    info.ReadStructure(host, stream);
    info.FinishParse(host);
    ASSERT_TRUE(info.Validate()) << err.Take();
    std::unique_ptr<dng_negative> negative = host.NewNegative();
    negative->LoadFromInfo(host, stream, info);
    negative->FinishParse(host, stream, info);
    negative->ReadRawImage(host, stream, info);
    negative->BuildLinearImage(host, dng_type_short);
    negative->BuildInterpolatedImage(host, -1);
    ASSERT_NE(negative->Stage3Image(), nullptr);
    const dng_box crop = negative->CropRectangle(1.0, 1.0);

    for (uint32_t maximum : {256u, 0u}) {
      SCOPED_TRACE(maximum);
      dng_render render(host, *negative);
      render.SetMaximumSize(maximum);
      render.SetFinalPixelType(maximum == 0 ? dng_type_short : dng_type_byte);
      const std::unique_ptr<dng_image> image = render.MakeFinalImage();
      ASSERT_EQ(image->Planes(), 3u);
      const dng_extent size = render.FinalSize();
      EXPECT_EQ(image->Bounds(), dng_box(0, 0, size.v, size.h));
      if (maximum != 0) {
        EXPECT_EQ(uint32_t(std::max(size.v, size.h)), maximum);
      } else {
        EXPECT_EQ(image->Bounds().W(), uint32_t(std::lround(crop.W() * negative->DefaultScaleH().ToReal())));
        EXPECT_EQ(image->Bounds().H(), uint32_t(std::lround(crop.H() * negative->DefaultScaleV().ToReal())));
      }
      // A photograph, not a flat or clipped field: the mean lies well inside
      // the range and samples vary.
      double sum = 0.0, low = 1.0, high = 0.0;
      const dng_box b = image->Bounds();
      uint64_t count = 0;
      for (int32_t r = 0; r < b.bottom; r += 7)
        for (int32_t c = 0; c < b.right; c += 7)
          for (uint32_t p = 0; p < 3; ++p) {
            const double v = sample(*image, r, c, p);
            sum += v;
            low = std::min(low, v);
            high = std::max(high, v);
            ++count;
          }
      const double mean = sum / double(count);
      EXPECT_GT(mean, 0.02);
      EXPECT_LT(mean, 0.98);
      EXPECT_GT(high - low, 0.2);
    }
  }
}

}  // namespace
