#include "dng/parse/dng_negative.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_xmp.h"
#include "dng/parse/xmp_toolkit.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"
#include "dng/support/stdout_capture.h"
#include "support/dng_builder.h"
#include "support/raw_dng_builder.h"
#include "support/raw_pipeline.h"
#include "xmp/allocation_hooks.h"

namespace {

using dng_test::code_of;
using testing_support::DngBuilder;

constexpr int kIfd0 = DngBuilder::kIfd0;

// A DNG with the builder's DNG tags and a 16 x 16 image in IFD 0.
DngBuilder builder_with_image(bool cfa, bool tiled = false) {
  DngBuilder b;
  b.add_dng_tags();
  if (cfa)
    b.add_cfa_image(kIfd0, tiled);
  else
    b.add_linear_raw_image(kIfd0, tiled);
  return b;
}

// One file taken through the container parser, then through the negative the
// way the validation routine drives it. The host options are set before
// Load.
class NegativeRun {
 public:
  explicit NegativeRun(std::string bytes, dng_memory_allocator* allocator = nullptr)
      : bytes_(std::move(bytes)),
        host(allocator),
        stream(bytes_.data(), static_cast<uint32_t>(bytes_.size())) {}

  // Parses the container; the parse must reach a main image.
  void Parse(bool must_be_valid = true) {
    dng_test::StderrCapture err;
    info.ReadStructure(host, stream);
    info.FinishParse(host);
    const bool valid = info.Validate();
    parse_errors = err.Take();
    ASSERT_GE(info.main_index, 0) << parse_errors;
    if (must_be_valid) {
      ASSERT_TRUE(valid) << parse_errors;
    }
  }
  void Create() { negative = host.NewNegative(); }
  void Load() {
    negative->LoadFromInfo(host, stream, info);
    negative->FinishParse(host, stream, info);
  }
  // Parse, Create and Load.
  void Open(bool must_be_valid = true) {
    Parse(must_be_valid);
    if (::testing::Test::HasFatalFailure()) return;
    Create();
    Load();
  }
  void RunPipeline() {
    negative->ReadRawImage(host, stream, info);
    negative->ReconcileMetadata();
    negative->BuildLinearImage(host, 3);
    negative->BuildInterpolatedImage(host, -1);
  }

 private:
  std::string bytes_;

 public:
  dng_host host;
  dng_stream stream;
  dng_info info;
  std::string parse_errors;
  std::unique_ptr<dng_negative> negative;
};

std::string hex(const dng_digest& d) {
  std::string out;
  char two[3];
  for (uint8_t b : d.data) {
    std::snprintf(two, sizeof two, "%02x", b);
    out += two;
  }
  return out;
}

std::vector<double> entries(const dng_vector& v) {
  std::vector<double> out;
  for (uint32_t i = 0; i < v.Count(); ++i) out.push_back(v[i]);
  return out;
}

dng_vector vec(const std::vector<double>& values) {
  if (values.empty()) return dng_vector();
  dng_vector v(static_cast<uint32_t>(values.size()));
  for (uint32_t i = 0; i < v.Count(); ++i) v[i] = values[i];
  return v;
}

uint16_t sample(const dng_image& image, int32_t row, int32_t col, uint32_t plane) {
  const auto& simple = dynamic_cast<const dng_simple_image&>(image);
  return *static_cast<const uint16_t*>(simple.Buffer().Pixel(row, col, plane));
}

// The builder's raw ramp at (row, col, plane) of a 16-column image.
uint32_t builder_raw(uint32_t planes, int32_t row, int32_t col, uint32_t plane) {
  return (256 + 37 * ((uint32_t(row) * 16 + uint32_t(col)) * planes + plane)) & 0xFFFF;
}

// The builder's white level is 60000 and its black level 0.
double linearised(uint32_t raw) { return raw * 65535.0 / 60000.0; }

// The XMP toolkit started around each test, as the worker does around each
// DNG file.
class NegativeFileTest : public ::testing::Test {
 protected:
  void SetUp() override { xmp_toolkit_initialize(); }
  void TearDown() override { xmp_toolkit_terminate(); }
};

using NegativeXmp = NegativeFileTest;
using NegativeLoad = NegativeFileTest;
using NegativePipeline = NegativeFileTest;

std::string packet_with(const std::string& attributes) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
         "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description rdf:about='' "
         "xmlns:tiff='http://ns.adobe.com/tiff/1.0/' xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/' " +
         attributes + "/></rdf:RDF></x:xmpmeta>";
}

// ---- Stores ---------------------------------------------------------------

TEST(NegativeStores, NormaliseAndRoundVectorsAndWhite) {
  struct Case {
    const char* what;
    std::vector<double> in;
    std::vector<double> balance;  // StoreAnalogBalance: smallest entry becomes 1
    std::vector<double> neutral;  // StoreCameraNeutral: largest entry becomes 1
  };
  const Case cases[] = {
      {"already normal", {1.0, 2.0}, {1.0, 2.0}, {0.5, 1.0}},
      {"scaled", {2.0, 4.0, 3.0}, {1.0, 2.0, 1.5}, {0.5, 1.0, 0.75}},
      {"thirds round to millionths", {1.0, 3.0}, {1.0, 3.0}, {0.333333, 1.0}},
      {"two thirds round up", {2.0, 3.0}, {1.0, 1.5}, {0.666667, 1.0}},
      {"zero entry", {0.0, 1.0}, {}, {0.0, 1.0}},
      {"all zero", {0.0, 0.0}, {}, {}},
      {"negative", {-1.0, -2.0}, {}, {}},
      {"empty", {}, {}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dng_negative n(default_memory_allocator);
    n.StoreAnalogBalance(vec(c.in));
    n.StoreCameraNeutral(vec(c.in));
    const std::vector<double> balance = entries(n.AnalogBalance());
    const std::vector<double> neutral = entries(n.CameraNeutral());
    ASSERT_EQ(balance.size(), c.balance.size());
    ASSERT_EQ(neutral.size(), c.neutral.size());
    for (size_t i = 0; i < balance.size(); ++i) EXPECT_NEAR(balance[i], c.balance[i], 1e-12);
    for (size_t i = 0; i < neutral.size(); ++i) EXPECT_NEAR(neutral[i], c.neutral[i], 1e-12);
  }
}

TEST(NegativeStores, WhiteXYRoundsHalfAwayAndNeedsBothPositive) {
  struct Case {
    double x, y;
    double want_x, want_y;
    uint32_t rational_x, rational_y;
  };
  const Case cases[] = {
      {0.3457, 0.3585, 0.3457, 0.3585, 345700, 358500},
      {0.31271234, 0.32902251, 0.312712, 0.329023, 312712, 329023},
      {0.0000005, 0.5, 0.000001, 0.5, 1, 500000},
      {0.0, 0.5, 0.0, 0.0, 0, 0},
      {0.3, -0.3, 0.0, 0.0, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + ", " + std::to_string(c.y));
    dng_negative n(default_memory_allocator);
    n.StoreWhiteXY(0.4, 0.4);
    n.StoreWhiteXY(c.x, c.y);
    EXPECT_NEAR(n.WhiteXY().x, c.want_x, 1e-12);
    EXPECT_NEAR(n.WhiteXY().y, c.want_y, 1e-12);
    dng_unsigned_ratio rx, ry;
    n.WhiteXYRationals(rx, ry);
    EXPECT_EQ(rx.n, c.rational_x);
    EXPECT_EQ(ry.n, c.rational_y);
    EXPECT_EQ(rx.d, 1000000u);
  }
}

TEST(NegativeStores, ChannelAccessorsBeyondTheVectors) {
  dng_negative n(default_memory_allocator);
  n.StoreAnalogBalance(vec({1.0, 1.25}));
  n.StoreCameraNeutral(vec({0.5, 1.0}));
  EXPECT_EQ(n.ChannelBalance(1), 1.25);
  EXPECT_EQ(n.ChannelBalance(2), 1.0);
  EXPECT_EQ(n.ChannelBalanceRational(1).n, 1250000u);
  EXPECT_EQ(n.ChannelBalanceRational(3).n, 1000000u);
  EXPECT_EQ(n.NeutralRational(0).n, 500000u);
  EXPECT_EQ(n.NeutralRational(0).d, 1000000u);
}

TEST(NegativeStores, ShadowScaleNeedsAValueInZeroToOne) {
  struct Case {
    dng_unsigned_ratio in;
    dng_unsigned_ratio want;
  };
  const Case cases[] = {
      {{1, 2}, {1, 2}}, {{3, 3}, {3, 3}}, {{0, 1}, {1, 1}}, {{3, 2}, {1, 1}}, {{1, 0}, {1, 1}},
  };
  for (const Case& c : cases) {
    dng_negative n(default_memory_allocator);
    n.SetShadowScale(c.in);
    EXPECT_EQ(n.ShadowScale().n, c.want.n) << c.in.n << "/" << c.in.d;
    EXPECT_EQ(n.ShadowScale().d, c.want.d) << c.in.n << "/" << c.in.d;
  }
}

// MD5 values from md5sum.
TEST(NegativeIptc, FingerprintLeavesOutUpToThreeTrailingZeros) {
  struct Case {
    std::string block;
    const char* md5;
  };
  const Case cases[] = {
      {std::string("abc"), "900150983cd24fb0d6963f7d28e17f72"},
      {std::string("abc\0", 4), "900150983cd24fb0d6963f7d28e17f72"},
      {std::string("abc\0\0\0", 6), "900150983cd24fb0d6963f7d28e17f72"},
      {std::string("abc\0\0\0\0", 7), "147a664a2ca9410911e61986d3f0d52a"},  // "abc\0"
      {std::string("\0\0\0", 3), "d41d8cd98f00b204e9800998ecf8427e"},          // ""
      {std::string("IPTC\0\0\1", 7), "a4d4f7caff6ce5b02c8dd96597fd66d2"},   // inner zeros stay
      {std::string(), "00000000000000000000000000000000"},
  };
  for (const Case& c : cases) {
    dng_negative n(default_memory_allocator);
    std::unique_ptr<dng_memory_block> block(default_memory_allocator.NewBlock(uint32_t(c.block.size())));
    if (!c.block.empty()) std::memcpy(block->Buffer(), c.block.data(), c.block.size());
    n.AdoptIPTC(std::move(block), 1234);
    EXPECT_EQ(hex(n.IPTCFingerprint()), c.md5) << c.block.size() << " bytes";
  }
  dng_negative none(default_memory_allocator);
  EXPECT_TRUE(none.IPTCFingerprint().IsZero());
}

TEST(NegativeIptc, AdoptAndDropKeepTheOffsetWithTheBlock) {
  dng_negative n(default_memory_allocator);
  EXPECT_EQ(n.IPTCBytes(), nullptr);
  EXPECT_EQ(n.IPTCSize(), 0u);
  EXPECT_EQ(n.IPTCFilePosition(), 0xFFFFFFFFu);
  n.AdoptIPTC(std::unique_ptr<dng_memory_block>(default_memory_allocator.NewBlock(5)), 77);
  EXPECT_NE(n.IPTCBytes(), nullptr);
  EXPECT_EQ(n.IPTCSize(), 5u);
  EXPECT_EQ(n.IPTCFilePosition(), 77u);
  n.DropIPTC();
  EXPECT_EQ(n.IPTCBytes(), nullptr);
  EXPECT_EQ(n.IPTCFilePosition(), 0xFFFFFFFFu);
}

// ---- Geometry -------------------------------------------------------------

TEST(NegativeGeometry, AfterInterpolationFoldsWholeScaleIntoTheCrop) {
  struct Case {
    const char* what;
    double scale_h, scale_v;
    bool keep_stage1;
    // Expected crop size, origin and scale numerators / denominators, H then V.
    uint32_t size_h, size_v, origin_h, origin_v, scale_d_h, scale_d_v;
    double left_h, left_v;  // raw-to-full scale afterwards
  };
  const Case cases[] = {
      {"half size stays", 0.5, 0.5, false, 12, 10, 2, 3, 1, 1, 0.5, 0.5},
      {"one stays", 1.0, 1.0, false, 12, 10, 2, 3, 1, 1, 1.0, 1.0},
      {"double rows", 1.0, 2.0, false, 12, 20, 2, 6, 1, 2, 1.0, 1.0},
      {"double columns", 2.0, 1.0, false, 24, 10, 4, 3, 2, 1, 1.0, 1.0},
      {"three and a bit", 3.2, 1.0, false, 36, 10, 6, 3, 3, 1, 3.2 / 3, 1.0},
      {"stage 1 kept: raw pixels stay", 2.0, 2.0, true, 12, 10, 2, 3, 1, 1, 2.0, 2.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dng_negative n(default_memory_allocator);
    n.SetDefaultCropSize({12, 1}, {10, 1});
    n.SetDefaultCropOrigin({2, 1}, {3, 1});
    n.SetRawToFullScale(c.scale_h, c.scale_v);
    n.ResetMosaicInfo(std::make_unique<dng_mosaic_info>());
    n.ResetStage2Image(n.MakeImage(dng_box(0, 0, 4, 4), 1, 3, 0));
    if (c.keep_stage1) n.ResetStage1Image(n.MakeImage(dng_box(0, 0, 4, 4), 1, 3, 0));
    n.AfterInterpolation();
    EXPECT_EQ(n.Stage2Image(), nullptr);
    EXPECT_EQ(n.MosaicInfo() != nullptr, c.keep_stage1);
    EXPECT_EQ(n.DefaultCropSizeH().n, c.size_h);
    EXPECT_EQ(n.DefaultCropSizeV().n, c.size_v);
    EXPECT_EQ(n.DefaultCropOriginH().n, c.origin_h);
    EXPECT_EQ(n.DefaultCropOriginV().n, c.origin_v);
    EXPECT_EQ(n.DefaultCropSizeH().d, 1u);
    EXPECT_EQ(n.DefaultScaleH().n, 1u);
    EXPECT_EQ(n.DefaultScaleH().d, c.scale_d_h);
    EXPECT_EQ(n.DefaultScaleV().d, c.scale_d_v);
    EXPECT_DOUBLE_EQ(n.RawToFullScaleH(), c.left_h);
    EXPECT_DOUBLE_EQ(n.RawToFullScaleV(), c.left_v);
  }
}

TEST(NegativeGeometry, CropRectangleInStage3PixelsStaysInside) {
  struct Case {
    const char* what;
    uint32_t origin_h, origin_v, size_h, size_v;
    double raw_to_full_h, raw_to_full_v, scale_h, scale_v;
    dng_box want;  // top, left, bottom, right
  };
  // Stage 3 is 40 rows x 60 columns.
  const Case cases[] = {
      {"plain", 2, 3, 50, 30, 1.0, 1.0, 1.0, 1.0, {3, 2, 33, 52}},
      {"half scale rounds away", 3, 3, 51, 31, 1.0, 1.0, 0.5, 0.5, {2, 2, 18, 28}},
      {"raw-to-full doubles rows", 2, 3, 50, 15, 1.0, 2.0, 1.0, 1.0, {6, 2, 36, 52}},
      {"past the right edge moves left", 20, 0, 50, 40, 1.0, 1.0, 1.0, 1.0, {0, 10, 40, 60}},
      {"past the bottom moves up", 0, 10, 60, 35, 1.0, 1.0, 1.0, 1.0, {5, 0, 40, 60}},
      {"largest values", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 1.0, 1.0, 1.0, 1.0,
       {-2147483607, -2147483587, 40, 60}},  // each product saturates at 2^31 - 1
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    dng_negative n(default_memory_allocator);
    n.SetDefaultCropOrigin({c.origin_h, 1}, {c.origin_v, 1});
    n.SetDefaultCropSize({c.size_h, 1}, {c.size_v, 1});
    n.SetRawToFullScale(c.raw_to_full_h, c.raw_to_full_v);
    n.ResetStage3Image(n.MakeImage(dng_box(0, 0, 40, 60), 3, 3, 0));
    const dng_box r = n.CropRectangle(c.scale_h, c.scale_v);
    EXPECT_EQ(r.top, c.want.top);
    EXPECT_EQ(r.left, c.want.left);
    EXPECT_EQ(r.bottom, c.want.bottom);
    EXPECT_EQ(r.right, c.want.right);
  }
}

TEST(NegativeGeometry, AspectAndScaledHeightFollowCropAndScale) {
  struct Case {
    uint32_t crop_h, crop_v, scale_h_n, scale_h_d;
    double aspect;
    uint32_t width, height;
  };
  const Case cases[] = {
      {3000, 2000, 1, 1, 1.5, 1500, 1000},
      {2000, 3000, 1, 1, 2.0 / 3.0, 1000, 1500},
      {1000, 1000, 2, 1, 2.0, 999, 500},  // wide pixels; 499.5 rounds up
      {1000, 1000, 1, 2, 0.5, 10, 20},
  };
  for (const Case& c : cases) {
    dng_negative n(default_memory_allocator);
    n.SetDefaultCropSize({c.crop_h, 1}, {c.crop_v, 1});
    n.SetDefaultScale({c.scale_h_n, c.scale_h_d}, {1, 1});
    EXPECT_DOUBLE_EQ(n.FinalAspect(), c.aspect) << c.crop_h << "x" << c.crop_v;
    EXPECT_EQ(n.ScaledHeight(c.width), c.height) << c.crop_h << "x" << c.crop_v;
  }
}

// ---- Factories and failures -----------------------------------------------

TEST(NegativeFactories, MakeImageFailsWith100005WhenTheAllocatorDoes) {
  dng_test::FailingAllocator allocator(1);
  dng_negative n(allocator);
  EXPECT_EQ(code_of([&] { n.MakeImage(dng_box(0, 0, 8, 8), 1, 3, 0); }), dng_code_memory);
}

// Every heap allocation that Create makes is failed in turn: each failure
// gives 100005 and nothing leaks; once none fails the negative is complete.
TEST(NegativeFactories, CreateRaises100005ForEachFailedAllocation) {
  static int64_t remaining = 0;
  bool completed = false;
  for (int64_t fail_at = 1; fail_at < 100 && !completed; ++fail_at) {
    int32_t code = 0;
    std::unique_ptr<dng_negative> negative;
    {
      const XMP_AllocateProc saved = AllocateHook;
      remaining = fail_at;
      AllocateHook = [](size_t size) -> void* { return --remaining == 0 ? nullptr : std::malloc(size); };
      code = code_of([&] { negative = dng_negative::Create(default_memory_allocator); });
      AllocateHook = saved;
    }
    if (code == 0) {
      completed = true;
      ASSERT_NE(negative, nullptr);
      EXPECT_NE(negative->GetExif(), nullptr);
      EXPECT_NE(negative->GetXMP(), nullptr);
    } else {
      EXPECT_EQ(code, dng_code_memory) << "allocation " << fail_at;
    }
  }
  EXPECT_TRUE(completed);
}

TEST(NegativeFactories, HostMakesANegativeWithMetadataObjects) {
  dng_test::FailingAllocator allocator;
  dng_host host(&allocator);
  std::unique_ptr<dng_negative> n = host.NewNegative();
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(&n->Allocator(), &allocator);
  EXPECT_NE(n->GetExif(), nullptr);
  EXPECT_NE(n->GetXMP(), nullptr);
  // Start values that later steps rely on.
  EXPECT_EQ(n->BaselineExposure().n, 0);
  EXPECT_EQ(n->BaselineExposure().d, 100);
  EXPECT_EQ(n->DefaultCropSizeH().d, 0u);
  EXPECT_EQ(n->IPTCFilePosition(), 0xFFFFFFFFu);
  EXPECT_EQ(n->PlaneWhiteLevel(0), 65535u);
  EXPECT_EQ(n->BestImage(), nullptr);
}

// A negative whose XMP factory raises the given code (or a foreign
// exception when the code is 0).
class ThrowingXmpNegative : public dng_negative {
 public:
  explicit ThrowingXmpNegative(int32_t code) : dng_negative(default_memory_allocator), code_(code) {}
  std::unique_ptr<dng_xmp> NewXmp() override {
    if (!armed_) return dng_negative::NewXmp();
    if (code_ == 0) throw std::runtime_error("foreign");
    throw dng_exception(code_);
  }
  bool armed_ = false;

 private:
  int32_t code_;
};

TEST_F(NegativeXmp, AdoptPacketPassesOnlyTransientCodes) {
  struct Case {
    int32_t code;
    int32_t escapes;  // 0: answered false
  };
  const Case cases[] = {
      {dng_code_memory, dng_code_memory},
      {dng_code_canceled, dng_code_canceled},
      {dng_code_bad_format, 0},
      {dng_code_unknown, 0},
      {dng_code_end_of_file, 0},
      {0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    ThrowingXmpNegative n(c.code);
    n.CreateMetadataObjects();
    dng_xmp* const before = n.GetXMP();
    n.armed_ = true;
    dng_host host;
    bool answer = true;
    const char packet[] = "<x:xmpmeta xmlns:x='adobe:ns:meta/'/>";
    EXPECT_EQ(code_of([&] { answer = n.AdoptXMPPacket(host, packet, sizeof packet - 1, true, true); }),
              c.escapes);
    if (c.escapes == 0) {
      EXPECT_FALSE(answer);
    }
    EXPECT_EQ(n.GetXMP(), before);
    EXPECT_FALSE(n.XMPOrientationWins());
    EXPECT_FALSE(n.XMPWinsOverIPTC());
  }
}

TEST_F(NegativeXmp, AdoptPacketReplacesTheXmpOnlyWhenItParses) {
  struct Case {
    const char* what;
    std::string packet;
    bool adopted;
  };
  const Case cases[] = {
      {"sound packet", packet_with("tiff:Orientation='6'"), true},
      {"unclosed element", "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF", false},
      {"not XML", std::string("\0\1\2garbage", 10), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<dng_negative> n = dng_negative::Create(default_memory_allocator);
    dng_xmp* const before = n->GetXMP();
    dng_host host;
    dng_test::StderrCapture err;
    EXPECT_EQ(n->AdoptXMPPacket(host, c.packet.data(), uint32_t(c.packet.size()), true, false), c.adopted);
    err.Take();
    EXPECT_EQ(n->GetXMP() != before, c.adopted);
    EXPECT_EQ(n->XMPOrientationWins(), c.adopted);
    EXPECT_FALSE(n->XMPWinsOverIPTC());
    EXPECT_EQ(n->GetXMP()->GetOrientation(), c.adopted ? dng_image_flip::FromTiff(6) : dng_image_flip());
  }
}

// A damaged packet in the file leaves the negative loadable.
TEST_F(NegativeXmp, FileWithDamagedPacketStillLoads) {
  DngBuilder b = builder_with_image(true);
  b.add_xmp(kIfd0, "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF><oops");
  NegativeRun run(b.build());
  run.Parse();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  run.Create();
  dng_test::StderrCapture err;
  EXPECT_EQ(code_of([&] { run.Load(); }), 0);
  err.Take();
  ASSERT_NE(run.negative->GetXMP(), nullptr);
  EXPECT_EQ(run.negative->GetXMP()->GetOrientation(), dng_image_flip());
}

TEST_F(NegativeXmp, RegenerateIptcBuildsTheBlockAndItsDigest) {
  struct Case {
    const char* what;
    std::string packet;
    bool block;
  };
  const Case cases[] = {
      {"an IPTC field", packet_with("photoshop:City='Oslo'"), true},
      {"no IPTC field", packet_with("tiff:Orientation='1'"), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<dng_negative> n = dng_negative::Create(default_memory_allocator);
    dng_host host;
    ASSERT_TRUE(n->AdoptXMPPacket(host, c.packet.data(), uint32_t(c.packet.size()), false, false));
    // A stale block and digest are replaced.
    n->AdoptIPTC(std::unique_ptr<dng_memory_block>(default_memory_allocator.NewBlock(4)), 100);
    dng_digest stale;
    stale.data[0] = 1;
    n->GetXMP()->SetIPTCDigest(stale);
    n->RegenerateIPTC();
    EXPECT_EQ(n->IPTCSize() != 0, c.block);
    EXPECT_EQ(n->IPTCFilePosition(), 0xFFFFFFFFu);
    EXPECT_TRUE(n->GetXMP()->GetIPTCDigest().SameAs(n->IPTCFingerprint()));
    if (c.block) {
      const std::string bytes(static_cast<const char*>(n->IPTCBytes()), n->IPTCSize());
      EXPECT_NE(bytes.find("Oslo"), std::string::npos);
      EXPECT_FALSE(n->IPTCFingerprint().IsZero());
    }
  }
}

// ---- Loading from a file --------------------------------------------------

TEST_F(NegativeLoad, CopiesNamesBaselineValuesAndGeometry) {
  DngBuilder b = builder_with_image(true);
  b.add_srational(kIfd0, 50730, {{1234, 1000}});  // BaselineExposure
  b.add_rational(kIfd0, 50731, {{8, 10}});         // BaselineNoise
  b.add_rational(kIfd0, 50732, {{3, 2}});          // BaselineSharpness
  b.add_rational(kIfd0, 50734, {{2, 3}});          // LinearResponseLimit
  b.add_rational(kIfd0, 50739, {{1, 4}});          // ShadowScale
  b.add_ascii(kIfd0, 50709, "Local Model");
  b.add_rational(kIfd0, 50718, {{2, 1}, {1, 1}});  // DefaultScale
  b.add_rational(kIfd0, 50727, {{2, 1}, {4, 1}, {3, 1}});  // AnalogBalance
  b.add_byte(kIfd0, 50781, std::vector<uint8_t>(16, 7));   // RawDataUniqueID
  b.add_ascii(kIfd0, 50827, "IMG_0001.CR2");
  b.remove(kIfd0, 274);
  b.add_short(kIfd0, 274, {6});
  NegativeRun run(b.build());
  run.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  const dng_negative& n = *run.negative;
  EXPECT_STREQ(n.ModelName().CStr(), "Corvella Test Camera");
  EXPECT_STREQ(n.LocalModelName().CStr(), "Local Model");
  EXPECT_EQ(n.BaselineExposure().n, 123);
  EXPECT_EQ(n.BaselineExposure().d, 100);
  EXPECT_EQ(n.BaselineNoise().n, 80u);
  EXPECT_EQ(n.BaselineSharpness().n, 150u);
  EXPECT_EQ(n.LinearResponseLimit().n, 67u);
  EXPECT_EQ(n.LinearResponseLimit().d, 100u);
  EXPECT_EQ(n.ShadowScale().n, 1u);
  EXPECT_EQ(n.ShadowScale().d, 4u);
  EXPECT_TRUE(n.HasOrientation());
  EXPECT_EQ(n.StoredOrientation(), dng_image_flip::FromTiff(6));
  EXPECT_EQ(n.DefaultCropSizeH().n, 12u);
  EXPECT_EQ(n.DefaultCropOriginV().n, 2u);
  EXPECT_EQ(n.DefaultScaleH().n, 2u);
  EXPECT_EQ(entries(n.AnalogBalance()), (std::vector<double>{1.0, 2.0, 1.5}));
  EXPECT_EQ(n.RawDataUniqueID().data[15], 7);
  EXPECT_STREQ(n.OriginalRawFileName().CStr(), "IMG_0001.CR2");
  EXPECT_EQ(n.ColorChannels(), 3u);
  ASSERT_NE(n.AttachedProfile(), nullptr);
  EXPECT_STREQ(n.AttachedProfile()->Name().CStr(), "Embedded");
  EXPECT_NE(n.LinearizationInfo(), nullptr);
  ASSERT_NE(n.MosaicInfo(), nullptr);
  EXPECT_TRUE(n.MosaicInfo()->IsColorFilterArray());
  EXPECT_EQ(run.info.exif, nullptr);
  EXPECT_NE(n.GetExif(), nullptr);
}

TEST_F(NegativeLoad, OrientationOnlyFromOneToEight) {
  for (uint16_t value : {0, 1, 8, 9}) {
    DngBuilder b = builder_with_image(false);
    b.remove(kIfd0, 274);
    b.add_short(kIfd0, 274, {value});
    NegativeRun run(b.build());
    run.Open(false);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    EXPECT_EQ(run.negative->HasOrientation(), value >= 1 && value <= 8) << value;
  }
}

// UniqueCameraModel is converted from the system code page once, when the
// tag is read; the negative takes the text as it is.
TEST_F(NegativeLoad, ModelNamesAreConvertedFromTheCodePageOnce) {
  const struct {
    const char* stored;
    const char* model;
  } cases[] = {
      {"Corvella Test Camera", "Corvella Test Camera"},
      {"Caf\xE9 Cam", "Caf\xC3\xA9 Cam"},
      {"\x80 Edition \xC5", "\xE2\x82\xAC Edition \xC3\x85"},
  };
  for (const auto& c : cases) {
    DngBuilder b = builder_with_image(true);
    b.remove(kIfd0, 50708);
    b.add_ascii(kIfd0, 50708, c.stored);
    b.add_ascii(kIfd0, 50709, "Caf\xC3\xA9 Local");  // LocalizedCameraModel is UTF-8 already
    NegativeRun run(b.build());
    run.Open();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    EXPECT_STREQ(run.negative->ModelName().CStr(), c.model) << c.stored;
    EXPECT_STREQ(run.negative->LocalModelName().CStr(), "Caf\xC3\xA9 Local") << c.stored;
  }
}

// The white balance, from the shared colour data as the parser left them.
TEST_F(NegativeLoad, WhiteBalanceFromTheAsShotTags) {
  const dng_chromaticity d50 = d50_chromaticity();
  struct Case {
    const char* what;
    uint32_t channels;
    uint32_t colorimetric_reference;
    std::vector<double> as_shot_neutral;
    dng_chromaticity as_shot_white;
    std::vector<double> want_neutral;
    dng_chromaticity want_white;
    bool want_profile;
  };
  const Case cases[] = {
      {"neutral only", 3, 0, {0.5, 1.0, 0.25}, {}, {0.5, 1.0, 0.25}, {}, true},
      {"neutral wins over white", 3, 0, {0.5, 1.0, 0.25}, {0.3, 0.31}, {0.5, 1.0, 0.25}, {}, true},
      {"wrong count: white instead", 3, 0, {0.5, 1.0}, {0.3, 0.31}, {}, {0.3, 0.31}, true},
      {"white only", 3, 0, {}, {0.3, 0.31}, {}, {0.3, 0.31}, true},
      {"reference 1 forces D50", 3, 1, {0.5, 1.0, 0.25}, {0.3, 0.31}, {}, d50, true},
      {"monochrome takes neither", 1, 0, {1.0}, {0.3, 0.31}, {}, {}, false},
      {"monochrome reference 1", 1, 1, {}, {}, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    NegativeRun run(builder_with_image(false).build());
    run.Parse();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    dng_shared& shared = *run.info.shared;
    shared.color_planes = c.channels;
    shared.colorimetric_reference = c.colorimetric_reference;
    shared.as_shot_neutral = vec(c.as_shot_neutral);
    shared.as_shot_white_xy = c.as_shot_white;
    run.Create();
    run.Load();
    const dng_negative& n = *run.negative;
    EXPECT_EQ(entries(n.CameraNeutral()), c.want_neutral);
    EXPECT_NEAR(n.WhiteXY().x, c.want_white.x, 1e-9);
    EXPECT_NEAR(n.WhiteXY().y, c.want_white.y, 1e-9);
    EXPECT_EQ(n.AttachedProfile() != nullptr, c.want_profile);
  }
}

TEST_F(NegativeLoad, MonochromeFileHasNoProfileNeutralOrWhite) {
  DngBuilder b = builder_with_image(false);
  b.remove(kIfd0, 50721);  // ColorMatrix1
  b.remove(kIfd0, 50728);  // AsShotNeutral
  b.add_rational(kIfd0, 50729, {{3, 10}, {31, 100}});
  NegativeRun run(b.build());
  run.Open(false);
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  EXPECT_EQ(run.negative->ColorChannels(), 1u);
  EXPECT_EQ(run.negative->AttachedProfile(), nullptr);
  EXPECT_TRUE(run.negative->CameraNeutral().IsEmpty());
  EXPECT_FALSE(run.negative->HasCameraWhiteXY());
}

TEST_F(NegativeLoad, BothAsShotTagsInAFileKeepTheNeutral) {
  DngBuilder b = builder_with_image(true);
  b.add_rational(kIfd0, 50729, {{3, 10}, {31, 100}});
  NegativeRun run(b.build());
  run.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  // The builder's AsShotNeutral is (1/2, 1, 2/3).
  EXPECT_EQ(entries(run.negative->CameraNeutral()), (std::vector<double>{0.5, 1.0, 0.666667}));
  EXPECT_EQ(run.negative->WhiteXY().x, 0.0);
}

TEST_F(NegativeLoad, MetadataBlocksAreReadAsTheHostAndSafetySay) {
  const std::string iptc = std::string("\x1c\x02\x78\x00\x03" "ABC", 8);  // 2:120 "ABC"
  const std::string private_body = "Vendor data", raw_body = "original raw bytes";
  struct Case {
    const char* what;
    bool read_metadata;
    uint16_t safety;
    bool keep;  // the keep-private-data and keep-original-raw-data flags
  };
  const Case cases[] = {
      {"safe maker note, nothing kept", true, 1, false},
      {"unsafe maker note", true, 0, false},
      {"private and raw data kept", true, 1, true},
      {"metadata not read", false, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    DngBuilder b = builder_with_image(true);
    testing_support::MakerNoteSpec note;
    note.kind = testing_support::MakerNoteKind::kMakeCanon;
    b.add_maker_note(note);
    b.add_short(kIfd0, 50741, {c.safety});
    b.add_iptc(kIfd0, iptc);
    b.add_undefined(kIfd0, 50828, raw_body);
    b.add_byte(kIfd0, 50740, std::vector<uint8_t>(private_body.begin(), private_body.end()));
    const std::string bytes = b.build();
    NegativeRun run(bytes);
    run.host.SetReadMetadata(c.read_metadata);
    run.host.SetKeepPrivateData(c.keep);
    run.host.SetKeepOriginalRawData(c.keep);
    run.Open(false);
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    const dng_negative& n = *run.negative;
    const dng_shared& shared = *run.info.shared;
    const bool note_read = c.read_metadata && c.safety == 1;
    ASSERT_EQ(n.MakerNote() != nullptr, note_read);
    EXPECT_EQ(n.IsMakerNoteSafe(), note_read);
    if (note_read) {
      EXPECT_EQ(std::string(static_cast<const char*>(n.MakerNote()->Buffer()), n.MakerNote()->Size()),
                bytes.substr(shared.maker_note_position, shared.maker_note_count));
    }
    ASSERT_EQ(n.IPTCSize(), c.read_metadata ? iptc.size() : 0u);
    if (c.read_metadata) {
      EXPECT_EQ(std::string(static_cast<const char*>(n.IPTCBytes()), n.IPTCSize()), iptc);
      EXPECT_EQ(n.IPTCFilePosition(), shared.iptc_position);
      EXPECT_EQ(bytes.substr(n.IPTCFilePosition(), iptc.size()), iptc);
    }
    EXPECT_TRUE(n.HasOriginalRawFileData());
    ASSERT_EQ(n.OriginalRawFileData() != nullptr, c.keep);
    ASSERT_EQ(n.PrivateData() != nullptr, c.keep);
    if (c.keep) {
      EXPECT_EQ(std::string(static_cast<const char*>(n.OriginalRawFileData()->Buffer()),
                            n.OriginalRawFileData()->Size()),
                raw_body);
      EXPECT_EQ(std::string(static_cast<const char*>(n.PrivateData()->Buffer()), n.PrivateData()->Size()),
                private_body);
    }
  }
}

// Block counts and offsets that reach past the end of the stream are refused
// with the stream's end-of-file code before anything is allocated for them,
// whatever the parser let through.
TEST_F(NegativeLoad, BlocksPastTheEndRaise100011WithNothingAllocated) {
  enum Block { kMakerNote, kIptc, kXmp, kPrivate, kRawFile };
  struct Place {
    const char* what;
    uint32_t position;  // 0xFFFFFFFF: the file length
    uint32_t count;
  };
  const Place places[] = {
      {"one byte past the end", 8, 0},  // count filled in: length - 8 + 1
      {"count near 2^32", 8, 0xFFFFFFFF},
      {"count 2^32 - 64", 8, 0xFFFFFFC0},
      {"offset at the end", 0xFFFFFFFF, 1},
      {"offset near 2^32 wraps in 32 bits", 0xFFFFFFF0, 0x13},
  };
  const std::pair<Block, const char*> blocks[] = {
      {kMakerNote, "maker note"}, {kIptc, "IPTC"}, {kXmp, "XMP"}, {kPrivate, "private data"}, {kRawFile, "raw file data"},
  };
  for (const auto& [block, block_name] : blocks) {
    for (const Place& place : places) {
      SCOPED_TRACE(std::string(block_name) + ": " + place.what);
      dng_test::FailingAllocator allocator;
      NegativeRun run(builder_with_image(false).build(), &allocator);
      run.host.SetKeepPrivateData(true);
      run.host.SetKeepOriginalRawData(true);
      run.Parse();
      ASSERT_FALSE(::testing::Test::HasFatalFailure());
      const uint32_t length = run.stream.TotalLength();
      const uint32_t position = place.position == 0xFFFFFFFF ? length : place.position;
      const uint32_t count = place.count == 0 ? length - position + 1 : place.count;
      dng_shared& shared = *run.info.shared;
      switch (block) {
        case kMakerNote:
          shared.maker_note_safety = 1;
          shared.maker_note_position = position;
          shared.maker_note_count = count;
          break;
        case kIptc:
          shared.iptc_position = position;
          shared.iptc_length = count;
          break;
        case kXmp:
          shared.xmp_position = position;
          shared.xmp_count = count;
          break;
        case kPrivate:
          shared.dng_private_data_position = position;
          shared.dng_private_data_count = count;
          break;
        case kRawFile:
          shared.original_raw_file_data_position = position;
          shared.original_raw_file_data_count = count;
          break;
      }
      run.Create();
      dng_test::StderrCapture err;
      EXPECT_EQ(code_of([&] { run.Load(); }), dng_code_end_of_file);
      err.Take();
      for (uint32_t size : allocator.Requests()) EXPECT_NE(size, count) << "the block was allocated";
    }
  }
}

// ---- The raw pipeline -----------------------------------------------------

struct PipelineCase {
  const char* what;
  bool cfa;
  bool tiled;
  bool keep_stage1;
  bool keep_stage2;
};

TEST_F(NegativePipeline, BuildsStage3AndDropsStagesAsTheHostSays) {
  const PipelineCase cases[] = {
      {"CFA strip", true, false, false, false},
      {"CFA tile, keep stage 1", true, true, true, false},
      {"CFA strip, keep stage 2", true, false, false, true},
      {"LinearRaw strip", false, false, false, false},
      {"LinearRaw tile, keep both", false, true, true, true},
  };
  for (const PipelineCase& c : cases) {
    SCOPED_TRACE(c.what);
    NegativeRun run(builder_with_image(c.cfa, c.tiled).build());
    run.host.SetKeepStage1(c.keep_stage1);
    run.host.SetKeepStage2(c.keep_stage2);
    run.Open();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    dng_negative& n = *run.negative;
    n.ReadRawImage(run.host, run.stream, run.info);
    ASSERT_NE(n.Stage1Image(), nullptr);
    EXPECT_EQ(n.Stage1Image()->Planes(), c.cfa ? 1u : 3u);
    EXPECT_EQ(sample(*n.Stage1Image(), 5, 7, 0), builder_raw(c.cfa ? 1 : 3, 5, 7, 0));
    n.ReconcileMetadata();
    n.BuildLinearImage(run.host, 3);
    EXPECT_EQ(n.Stage1Image() != nullptr, c.keep_stage1);
    EXPECT_EQ(n.LinearizationInfo() != nullptr, c.keep_stage1);
    ASSERT_NE(n.Stage2Image(), nullptr);
    EXPECT_EQ(n.Stage2Image()->PixelRange(), 65535u);
    dng_image* const stage2 = n.Stage2Image();
    n.BuildInterpolatedImage(run.host, -1);
    ASSERT_NE(n.Stage3Image(), nullptr);
    const dng_image& stage3 = *n.Stage3Image();
    EXPECT_EQ(stage3.Bounds(), dng_box(0, 0, 16, 16));
    EXPECT_EQ(stage3.Planes(), 3u);
    EXPECT_FALSE(n.IsDownscaled());
    EXPECT_EQ(n.RawToFullScaleH(), 1.0);
    EXPECT_EQ(n.RawToFullScaleV(), 1.0);
    if (c.cfa) {
      EXPECT_EQ(n.Stage2Image() != nullptr, c.keep_stage2);
      EXPECT_EQ(n.MosaicInfo() != nullptr, c.keep_stage1 || c.keep_stage2);
      // RGGB: each site keeps its own colour's sample.
      for (int32_t row = 0; row < 16; ++row)
        for (int32_t col = 0; col < 16; ++col) {
          const uint32_t plane = (row % 2) + (col % 2);
          EXPECT_NEAR(sample(stage3, row, col, plane), linearised(builder_raw(1, row, col, 0)), 1.0)
              << row << "," << col;
        }
    } else {
      // Stage 3 is the stage-2 image itself.
      EXPECT_EQ(n.Stage3Image(), stage2);
      EXPECT_EQ(n.Stage2Image(), nullptr);
      EXPECT_EQ(n.MosaicInfo(), nullptr);
      for (int32_t row = 0; row < 16; row += 5)
        for (int32_t col = 0; col < 16; col += 3)
          for (uint32_t plane = 0; plane < 3; ++plane)
            EXPECT_NEAR(sample(stage3, row, col, plane), linearised(builder_raw(3, row, col, plane)), 1.0);
    }
    // Crop and scale stay in raw pixels at full scale.
    EXPECT_EQ(n.DefaultCropSizeH().n, 12u);
    EXPECT_EQ(n.DefaultScaleH().d, 1u);
  }
}

// The images agree in bounds, planes, pixel type and every sample.
void expect_same_image(const dng_image& got, const dng_image& want, const char* stage) {
  SCOPED_TRACE(stage);
  ASSERT_EQ(got.Bounds(), want.Bounds());
  ASSERT_EQ(got.Planes(), want.Planes());
  ASSERT_EQ(got.PixelType(), want.PixelType());
  const auto& g = dynamic_cast<const dng_simple_image&>(got);
  const auto& w = dynamic_cast<const dng_simple_image&>(want);
  uint32_t mismatches = 0;
  for (uint32_t p = 0; p < got.Planes(); ++p)
    for (int32_t y = 0; y < int32_t(got.Bounds().H()); ++y)
      for (int32_t x = 0; x < int32_t(got.Bounds().W()); ++x) {
        const uint32_t a = testing_support::image_sample(g, y, x, p);
        const uint32_t b = testing_support::image_sample(w, y, x, p);
        if (a != b && mismatches++ < 5)
          ADD_FAILURE() << "plane " << p << " (" << y << ", " << x << "): " << a << " vs " << b;
      }
}

// Every generated layout (uncompressed and lossless, CFA of every layout and
// LinearRaw) through the negative gives the stages of the plain pipeline.
// Kept stages stay in raw pixels; with nothing kept only stage 3 remains and
// a doubled axis is folded into the crop and scale.
TEST_F(NegativePipeline, EveryRawLayoutGivesThePipelineStages) {
  for (const testing_support::RawDngOptions& o : testing_support::raw_dng_layouts()) {
    SCOPED_TRACE(o.name);
    const testing_support::RawDng file = testing_support::build_raw_dng(o);
    dng_test::StderrCapture diagnostics;
    const testing_support::RawPipelineResult want = testing_support::run_raw_pipeline(file.bytes);
    ASSERT_EQ(want.code, 0) << diagnostics.Take();
    const bool cfa = !o.cfa_rows.empty();

    NegativeRun kept(file.bytes);
    kept.host.SetKeepStage1(true);
    kept.host.SetKeepStage2(true);
    kept.Open();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    kept.RunPipeline();
    const dng_negative& k = *kept.negative;
    ASSERT_NE(k.Stage1Image(), nullptr);
    expect_same_image(*k.Stage1Image(), *want.stage1, "stage 1");
    ASSERT_NE(k.Stage3Image(), nullptr);
    EXPECT_NE(k.LinearizationInfo(), nullptr);
    if (cfa) {
      ASSERT_NE(k.Stage2Image(), nullptr);
      expect_same_image(*k.Stage2Image(), *want.stage2, "stage 2");
      expect_same_image(*k.Stage3Image(), *want.stage3, "stage 3");
      EXPECT_NE(k.MosaicInfo(), nullptr);
    } else {
      EXPECT_EQ(k.Stage2Image(), nullptr);
      expect_same_image(*k.Stage3Image(), *want.stage2, "stage 3 = stage 2");
      EXPECT_EQ(k.MosaicInfo(), nullptr);
    }
    const dng_extent factors = cfa ? want.mosaic.FullScaleFactors() : dng_extent(1, 1);
    EXPECT_EQ(k.RawToFullScaleH(), double(factors.h));
    EXPECT_EQ(k.RawToFullScaleV(), double(factors.v));

    NegativeRun plain(file.bytes);
    plain.Open();
    ASSERT_FALSE(::testing::Test::HasFatalFailure());
    plain.RunPipeline();
    diagnostics.Take();
    const dng_negative& n = *plain.negative;
    EXPECT_EQ(n.Stage1Image(), nullptr);
    EXPECT_EQ(n.Stage2Image(), nullptr);
    EXPECT_EQ(n.LinearizationInfo(), nullptr);
    EXPECT_EQ(n.MosaicInfo(), nullptr);
    ASSERT_NE(n.Stage3Image(), nullptr);
    expect_same_image(*n.Stage3Image(), *k.Stage3Image(), "stage 3, nothing kept");
    EXPECT_EQ(n.RawToFullScaleH(), 1.0);
    EXPECT_EQ(n.RawToFullScaleV(), 1.0);
    EXPECT_EQ(n.DefaultCropSizeH().n, k.DefaultCropSizeH().n * uint32_t(factors.h));
    EXPECT_EQ(n.DefaultCropSizeV().n, k.DefaultCropSizeV().n * uint32_t(factors.v));
    EXPECT_EQ(n.DefaultCropOriginV().n, k.DefaultCropOriginV().n * uint32_t(factors.v));
    EXPECT_EQ(n.DefaultScaleH().d, k.DefaultScaleH().d * uint32_t(factors.h));
    EXPECT_EQ(n.DefaultScaleV().d, k.DefaultScaleV().d * uint32_t(factors.v));
    EXPECT_EQ(n.DefaultScaleV().n, k.DefaultScaleV().n);
  }
}

TEST_F(NegativePipeline, ATargetSizeHalvesTheMosaicAndLeavesTheCrop) {
  NegativeRun run(builder_with_image(true).build());
  run.host.SetTargetSize(6);
  run.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  run.RunPipeline();
  const dng_negative& n = *run.negative;
  ASSERT_NE(n.Stage3Image(), nullptr);
  EXPECT_TRUE(n.IsDownscaled());
  EXPECT_EQ(n.Stage3Image()->Bounds(), dng_box(0, 0, 8, 8));
  EXPECT_EQ(n.RawToFullScaleH(), 0.5);
  EXPECT_EQ(n.RawToFullScaleV(), 0.5);
  EXPECT_EQ(n.DefaultCropSizeH().n, 12u);
  EXPECT_EQ(n.DefaultCropOriginH().n, 2u);
  EXPECT_EQ(n.DefaultScaleH().d, 1u);
  EXPECT_EQ(n.CropRectangle(1.0, 1.0), dng_box(1, 1, 7, 7));
}

TEST_F(NegativePipeline, FourColorBayerSplitsTheGreens) {
  NegativeRun run(builder_with_image(true).build());
  run.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  dng_negative& n = *run.negative;
  ASSERT_TRUE(n.MakeFourColorBayer());
  EXPECT_EQ(n.ColorChannels(), 4u);
  EXPECT_EQ(entries(n.CameraNeutral()), (std::vector<double>{0.5, 1.0, 0.666667, 1.0}));
  EXPECT_FALSE(n.MakeFourColorBayer());

  NegativeRun linear(builder_with_image(false).build());
  linear.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  EXPECT_FALSE(linear.negative->MakeFourColorBayer());
  EXPECT_EQ(linear.negative->ColorChannels(), 3u);
}

TEST_F(NegativePipeline, StampCurrentTimeWritesTheExifDate) {
  NegativeRun run(builder_with_image(false).build());
  run.Open();
  ASSERT_FALSE(::testing::Test::HasFatalFailure());
  set_dng_test_clock(86400 * 365);
  run.negative->StampCurrentTime();
  clear_dng_test_clock();
  EXPECT_TRUE(run.negative->GetExif()->date_time.InRange());
}

}  // namespace
