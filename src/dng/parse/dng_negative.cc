#include "dng/parse/dng_negative.h"

#include <cmath>
#include <new>
#include <utility>

#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_date_time.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_md5.h"
#include "dng/core/dng_rounding.h"
#include "dng/core/dng_simple_image.h"
#include "dng/core/dng_stream.h"
#include "dng/parse/dng_info.h"
#include "dng/parse/dng_linearization_parse.h"
#include "dng/parse/dng_xmp.h"

namespace {

constexpr uint32_t k_cfa_photometric = 32803;
constexpr uint32_t k_pixel_type_short = 3;
constexpr double k_fraction_scale = 1000000.0;

// Makes an object, turning an allocation failure into 100005.
template <class T, class... Args>
std::unique_ptr<T> make_or_raise(Args&&... args) {
  try {
    return std::make_unique<T>(std::forward<Args>(args)...);
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

dng_unsigned_ratio millionths(double x) {
  return dng_unsigned_ratio(round_half_up_uint32(x * k_fraction_scale), 1000000);
}

const dng_ifd& main_ifd_of(const dng_info& info) {
  if (info.main_index < 0 || static_cast<uint32_t>(info.main_index) >= info.ifd_count ||
      info.ifd[info.main_index] == nullptr)
    throw_dng_code(dng_code_bad_format);
  return *info.ifd[info.main_index];
}

const dng_shared& shared_of(const dng_info& info) {
  if (info.shared == nullptr) throw_dng_code(dng_code_bad_format);
  return *info.shared;
}

}  // namespace

std::unique_ptr<dng_memory_block> read_stream_block(dng_host& host, dng_stream& stream,
                                                    uint32_t position, uint32_t count) {
  if (uint64_t(position) + uint64_t(count) > uint64_t(stream.TotalLength()))
    throw_dng_code(dng_code_end_of_file);
  std::unique_ptr<dng_memory_block> block(host.AllocateBlock(count));
  stream.SeekForRead(position);
  stream.GetBytes(block->Buffer(), count);
  return block;
}

std::unique_ptr<dng_negative> dng_host::NewNegative() {
  return dng_negative::Create(Allocator());
}

std::unique_ptr<dng_negative> dng_negative::Create(dng_memory_allocator& allocator) {
  std::unique_ptr<dng_negative> negative = make_or_raise<dng_negative>(allocator);
  negative->CreateMetadataObjects();
  return negative;
}

dng_negative::dng_negative(dng_memory_allocator& allocator) : allocator_(&allocator) {}

dng_negative::~dng_negative() {
  stage3_.reset();
  stage2_.reset();
  stage1_.reset();
  mosaic_info_.reset();
  linearization_info_.reset();
  xmp_.reset();
  iptc_block_.reset();
  exif_.reset();
  maker_note_.reset();
  private_data_.reset();
  raw_file_data_.reset();
  embedded_profile_.reset();
}

void dng_negative::LoadFromInfo(dng_host& host, dng_stream& stream, dng_info& info) {
  const dng_shared& shared = shared_of(info);
  const dng_ifd& main_ifd = main_ifd_of(info);
  if (info.ifd[0] == nullptr) throw_dng_code(dng_code_bad_format);
  const dng_ifd& ifd0 = *info.ifd[0];

  // Already converted from the system code page when the tag was read; a
  // second conversion would turn each non-ASCII letter into two.
  model_name_ = shared.unique_camera_model;
  local_model_name_ = shared.localized_camera_model;

  if (ifd0.orientation >= 1 && ifd0.orientation <= 8)
    StoreOrientation(dng_image_flip::FromTiff(ifd0.orientation));

  default_crop_size_h_ = main_ifd.default_crop_size_h;
  default_crop_size_v_ = main_ifd.default_crop_size_v;
  default_crop_origin_h_ = main_ifd.default_crop_origin_h;
  default_crop_origin_v_ = main_ifd.default_crop_origin_v;
  default_scale_h_ = main_ifd.default_scale_h;
  default_scale_v_ = main_ifd.default_scale_v;
  best_quality_scale_ = main_ifd.best_quality_scale;

  SetBaselineNoise(shared.baseline_noise.ToReal());
  SetBaselineExposure(shared.baseline_exposure.ToReal());
  SetBaselineSharpness(shared.baseline_sharpness.ToReal());

  chroma_blur_radius_ = main_ifd.chroma_blur_radius;
  anti_alias_strength_ = main_ifd.anti_alias_strength;

  SetLinearResponseLimit(shared.linear_response_limit.ToReal());
  SetShadowScale(shared.shadow_scale);

  colorimetric_reference_ = shared.colorimetric_reference;
  color_channels_ = shared.color_planes;

  if (!shared.analog_balance.IsEmpty()) StoreAnalogBalance(shared.analog_balance);

  if (host.ReadMetadata() && color_channels_ > 1) {
    std::unique_ptr<dng_camera_profile> profile = make_or_raise<dng_camera_profile>();
    profile->SetFromShared(host, stream, info);
    AdoptEmbeddedProfile(std::move(profile));
  }

  if (!shared.raw_data_unique_id.IsZero()) raw_data_unique_id_ = shared.raw_data_unique_id;
  if (!shared.original_raw_file_name.Empty()) raw_file_name_ = shared.original_raw_file_name;

  if (shared.original_raw_file_data_count != 0) {
    has_raw_file_data_ = true;
    if (host.KeepOriginalRawData())
      raw_file_data_ = read_stream_block(host, stream, shared.original_raw_file_data_position,
                                         shared.original_raw_file_data_count);
  }

  if (shared.dng_private_data_count != 0 && host.KeepPrivateData())
    private_data_ = read_stream_block(host, stream, shared.dng_private_data_position,
                                      shared.dng_private_data_count);

  if (info.exif != nullptr) exif_ = std::move(info.exif);

  if (linearization_info_ == nullptr) linearization_info_ = NewLinearizationInfo();
  parse_linearization_info(host, stream, main_ifd, *linearization_info_);

  if (main_ifd.photometric_interpretation == k_cfa_photometric) {
    if (mosaic_info_ == nullptr) mosaic_info_ = NewMosaicInfo();
    mosaic_info_->Parse(main_ifd, shared);
  }
}

void dng_negative::FinishParse(dng_host& host, dng_stream& stream, dng_info& info) {
  if (!host.ReadMetadata()) return;
  const dng_shared& shared = shared_of(info);

  if (shared.maker_note_count != 0) {
    maker_note_safe_ = shared.maker_note_safety == 1;
    if (maker_note_safe_)
      AdoptMakerNote(read_stream_block(host, stream, shared.maker_note_position,
                                       shared.maker_note_count));
  }

  if (shared.iptc_length != 0) {
    std::unique_ptr<dng_memory_block> block =
        read_stream_block(host, stream, shared.iptc_position, shared.iptc_length);
    // Where the block starts in the file the stream was cut from.
    stream.SeekForRead(shared.iptc_position);
    AdoptIPTC(std::move(block), stream.OriginalFilePosition());
  }

  if (shared.xmp_count != 0) {
    std::unique_ptr<dng_memory_block> block =
        read_stream_block(host, stream, shared.xmp_position, shared.xmp_count);
    AdoptXMPPacket(host, block->Buffer(), block->Size(), false, false);
  }

  if (color_channels_ != 1) {
    if (colorimetric_reference_ == 1) {
      camera_neutral_.MakeEmpty();
      const dng_chromaticity d50 = d50_chromaticity();
      StoreWhiteXY(d50.x, d50.y);
    } else {
      if (shared.as_shot_neutral.Count() == color_channels_ && !shared.as_shot_neutral.IsEmpty())
        StoreCameraNeutral(shared.as_shot_neutral);
      if (shared.as_shot_white_xy.IsPositive() && camera_neutral_.IsEmpty())
        StoreWhiteXY(shared.as_shot_white_xy.x, shared.as_shot_white_xy.y);
    }
  }
}

void dng_negative::ReconcileMetadata() {
  if (xmp_ == nullptr) return;
  xmp_->VerifyIPTCFingerprint(*this, xmp_wins_over_iptc_);
  if (exif_ != nullptr) xmp_->ExchangeExif(*exif_, false);
  xmp_->ReconcileOrientation(*this, xmp_orientation_wins_);
}

bool dng_negative::MakeFourColorBayer() {
  if (color_channels_ != 3 || mosaic_info_ == nullptr || !mosaic_info_->ConvertToFourColors())
    return false;
  color_channels_ = 4;
  if (camera_neutral_.Count() == 3) {
    dng_vector four(4);
    for (uint32_t i = 0; i < 3; ++i) four[i] = camera_neutral_[i];
    four[3] = camera_neutral_[1];
    camera_neutral_ = four;
  }
  if (embedded_profile_ != nullptr) embedded_profile_->ConvertToFourColors();
  return true;
}

std::unique_ptr<dng_image> dng_negative::MakeImage(const dng_box& area, uint32_t planes,
                                                   uint32_t pixel_type, uint32_t pixel_range) const {
  return make_or_raise<dng_simple_image>(area, planes, pixel_type, pixel_range, *allocator_);
}

void dng_negative::ReadRawImage(dng_host& host, dng_stream& stream, dng_info& info) {
  const dng_ifd& ifd = main_ifd_of(info);
  ifd.CheckImageData(stream, dng_info::SlotParent(static_cast<uint32_t>(info.main_index)));
  const dng_box area(0, 0, saturating_cast<int32_t>(ifd.image_length),
                     saturating_cast<int32_t>(ifd.image_width));
  stage1_ = MakeImage(area, ifd.samples_per_pixel, ifd.SamplePixelType(), 0);
  ifd.ReadImageData(host, stream, *stage1_);
}

void dng_negative::BuildLinearImage(dng_host& host, uint32_t pixel_type) {
  if (stage1_ == nullptr) throw_dng_code(dng_code_unknown);
  if (linearization_info_ == nullptr) linearization_info_ = NewLinearizationInfo();
  linearization_info_->FinishParse(stage1_->Bounds());
  DoLinearize(host, pixel_type);
  if (!host.KeepStage1()) DropRawImage();
}

void dng_negative::DoLinearize(dng_host& host, uint32_t pixel_type) {
  if (stage1_ == nullptr || linearization_info_ == nullptr) throw_dng_code(dng_code_unknown);
  const dng_box& active = linearization_info_->active_area;
  const dng_box area(0, 0, saturating_cast<int32_t>(active.H()),
                     saturating_cast<int32_t>(active.W()));
  const uint32_t range = pixel_type == k_pixel_type_short ? BaseWhiteLevel() : 0;
  stage2_ = MakeImage(area, stage1_->Planes(), pixel_type, range);
  linearization_info_->LinearizeImage(host, *stage1_, *stage2_);
}

void dng_negative::DropRawImage() {
  stage1_.reset();
  linearization_info_.reset();
}

void dng_negative::BuildInterpolatedImage(dng_host& host, int32_t plane) {
  if (stage2_ == nullptr) throw_dng_code(dng_code_unknown);
  if (mosaic_info_ != nullptr)
    mosaic_info_->FinishParse(stage2_->Extent(), default_crop_size_v_.ToReal(),
                              default_crop_size_h_.ToReal(), default_scale_h_.ToReal(),
                              default_scale_v_.ToReal());
  if (mosaic_info_ != nullptr && mosaic_info_->IsColorFilterArray()) {
    const double stage2_width = stage2_->Bounds().W();
    const double stage2_height = stage2_->Bounds().H();
    if (stage2_->Planes() > 1 && plane < 0)
      DemosaicMultiPlane(host);
    else
      DemosaicPlane(host, host.TargetSize(), plane);
    raw_to_full_scale_h_ = stage3_->Bounds().W() / stage2_width;
    raw_to_full_scale_v_ = stage3_->Bounds().H() / stage2_height;
  } else {
    stage3_ = std::move(stage2_);
  }
  if (!host.KeepStage2()) AfterInterpolation();
}

void dng_negative::DemosaicPlane(dng_host& host, uint32_t target_size, int32_t plane) {
  if (stage2_ == nullptr || mosaic_info_ == nullptr) throw_dng_code(dng_code_unknown);
  const dng_extent factors = mosaic_info_->ChooseDownScale(target_size);
  if (!(factors == dng_extent(1, 1))) downscaled_ = true;
  const dng_extent size = mosaic_info_->ScaledSize(factors);
  stage3_ = MakeImage(dng_box(0, 0, size.v, size.h), mosaic_info_->color_planes,
                      stage2_->PixelType(), stage2_->SampleRange());
  const uint32_t source_plane =
      plane < 0 || static_cast<uint32_t>(plane) >= stage2_->Planes() ? 0 : uint32_t(plane);
  mosaic_info_->Demosaic(host, *stage2_, *stage3_, factors, source_plane);
}

void dng_negative::DemosaicMultiPlane(dng_host& host) {
  DemosaicPlane(host, host.TargetSize(), 0);
  stage3_gain_ = std::pow(2.0, baseline_exposure_.ToReal());
}

void dng_negative::AfterInterpolation() {
  stage2_.reset();
  if (stage1_ != nullptr) return;
  mosaic_info_.reset();
  if (raw_to_full_scale_h_ > 1.0) {
    const uint32_t n = saturating_cast<uint32_t>(raw_to_full_scale_h_ + 0.5);
    default_crop_size_h_.n *= n;
    default_crop_origin_h_.n *= n;
    default_scale_h_.d *= n;
    raw_to_full_scale_h_ /= n;
  }
  if (raw_to_full_scale_v_ > 1.0) {
    const uint32_t n = saturating_cast<uint32_t>(raw_to_full_scale_v_ + 0.5);
    default_crop_size_v_.n *= n;
    default_crop_origin_v_.n *= n;
    default_scale_v_.d *= n;
    raw_to_full_scale_v_ /= n;
  }
}

void dng_negative::DropInterpolatedImage() { stage3_.reset(); }

void dng_negative::CreateMetadataObjects() {
  exif_ = NewExif();
  xmp_ = NewXmp();
}

std::unique_ptr<dng_exif> dng_negative::NewExif() { return make_or_raise<dng_exif>(); }

std::unique_ptr<dng_xmp> dng_negative::NewXmp() { return make_or_raise<dng_xmp>(*allocator_); }

std::unique_ptr<dng_linearization_info> dng_negative::NewLinearizationInfo() {
  return make_or_raise<dng_linearization_info>();
}

std::unique_ptr<dng_mosaic_info> dng_negative::NewMosaicInfo() {
  return make_or_raise<dng_mosaic_info>();
}

void dng_negative::SetShadowScale(const dng_unsigned_ratio& scale) {
  if (scale.d == 0) return;
  const double value = scale.ToReal();
  if (value > 0.0 && value <= 1.0) shadow_scale_ = scale;
}

void dng_negative::StoreAnalogBalance(const dng_vector& balance) {
  if (balance.IsEmpty() || !(balance.SmallestEntry() > 0.0)) {
    analog_balance_.MakeEmpty();
    return;
  }
  analog_balance_ = balance;
  analog_balance_.MultiplyAll(1.0 / balance.SmallestEntry());
  analog_balance_.Quantize(k_fraction_scale);
}

void dng_negative::StoreCameraNeutral(const dng_vector& neutral) {
  if (neutral.IsEmpty() || !(neutral.LargestEntry() > 0.0)) {
    camera_neutral_.MakeEmpty();
    return;
  }
  camera_neutral_ = neutral;
  camera_neutral_.MultiplyAll(1.0 / neutral.LargestEntry());
  camera_neutral_.Quantize(k_fraction_scale);
}

void dng_negative::StoreWhiteXY(double x, double y) {
  if (x > 0.0 && y > 0.0) {
    camera_white_x_ = round_half_away_int32(x * k_fraction_scale) / k_fraction_scale;
    camera_white_y_ = round_half_away_int32(y * k_fraction_scale) / k_fraction_scale;
  } else {
    camera_white_x_ = 0.0;
    camera_white_y_ = 0.0;
  }
}

void dng_negative::WhiteXYRationals(dng_unsigned_ratio& x, dng_unsigned_ratio& y) const {
  x = millionths(camera_white_x_);
  y = millionths(camera_white_y_);
}

double dng_negative::ChannelBalance(uint32_t channel) const {
  return channel < analog_balance_.Count() ? analog_balance_[channel] : 1.0;
}

dng_unsigned_ratio dng_negative::ChannelBalanceRational(uint32_t channel) const {
  return millionths(ChannelBalance(channel));
}

dng_unsigned_ratio dng_negative::NeutralRational(uint32_t channel) const {
  return millionths(channel < camera_neutral_.Count() ? camera_neutral_[channel] : 0.0);
}

void dng_negative::AdoptEmbeddedProfile(std::unique_ptr<dng_camera_profile> profile) {
  if (profile != nullptr) profile->SetName("Embedded");
  embedded_profile_ = std::move(profile);
}

void dng_negative::ResetXMP(std::unique_ptr<dng_xmp> xmp) { xmp_ = std::move(xmp); }

void dng_negative::AdoptIPTC(std::unique_ptr<dng_memory_block> block, uint32_t file_offset) {
  iptc_block_ = std::move(block);
  iptc_offset_ = file_offset;
}

void dng_negative::DropIPTC() {
  iptc_block_.reset();
  iptc_offset_ = dng_no_iptc_offset;
}

const void* dng_negative::IPTCBytes() const {
  return iptc_block_ != nullptr ? iptc_block_->Buffer() : nullptr;
}

uint32_t dng_negative::IPTCSize() const { return iptc_block_ != nullptr ? iptc_block_->Size() : 0; }

uint32_t dng_negative::IPTCFilePosition() const {
  return iptc_block_ != nullptr ? iptc_offset_ : dng_no_iptc_offset;
}

dng_digest dng_negative::IPTCFingerprint() const {
  const uint32_t size = IPTCSize();
  if (size == 0) return dng_digest();
  const uint8_t* bytes = iptc_block_->Buffer_uint8();
  uint32_t length = size;
  for (uint32_t dropped = 0; dropped < 3 && length > 0 && bytes[length - 1] == 0; ++dropped)
    --length;
  dng_md5_context context;
  context.Feed(bytes, length);
  return context.Digest();
}

bool dng_negative::AdoptXMPPacket(dng_host& host, const void* bytes, uint32_t length,
                                  bool xmp_orientation_wins, bool xmp_wins_over_iptc) {
  try {
    std::unique_ptr<dng_xmp> xmp = NewXmp();
    xmp->Parse(host, bytes, length);
    xmp_ = std::move(xmp);
    xmp_orientation_wins_ = xmp_orientation_wins;
    xmp_wins_over_iptc_ = xmp_wins_over_iptc;
    return true;
  } catch (const dng_exception& e) {
    if (host.IsRetryableCode(e.Code())) throw;
    return false;
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  } catch (...) {
    return false;
  }
}

void dng_negative::RegenerateIPTC() {
  DropIPTC();
  if (xmp_ == nullptr) return;
  xmp_->BuildIPTCBlock(*this);
  xmp_->SetIPTCDigest(IPTCFingerprint());
}

void dng_negative::StampCurrentTime() {
  dng_calendar_time now;
  int32_t zone_hours = 0x7FFFFFFF;
  current_local_time(now, zone_hours);
  if (exif_ != nullptr) exif_->StoreDateTime(now, zone_hours);
  if (xmp_ != nullptr) xmp_->UpdateDateTime(now, zone_hours);
}

uint32_t dng_negative::PlaneWhiteLevel(uint32_t plane) const {
  if (linearization_info_ == nullptr || plane >= 4) return BaseWhiteLevel();
  return saturating_cast<uint32_t>(linearization_info_->white_level[plane] + 0.5);
}

dng_image* dng_negative::BestImage() const {
  if (stage1_ != nullptr) return stage1_.get();
  if (stage2_ != nullptr) return stage2_.get();
  return stage3_.get();
}

double dng_negative::FinalAspect() const {
  return (default_crop_size_h_.ToReal() * default_scale_h_.ToReal()) /
         (default_crop_size_v_.ToReal() * default_scale_v_.ToReal());
}

uint32_t dng_negative::ScaledHeight(uint32_t width) const {
  const double aspect = FinalAspect();
  if (!(aspect > 0.0)) return 0;
  return saturating_cast<uint32_t>(width / aspect + 0.5);
}

dng_box dng_negative::CropRectangle(double scale_h, double scale_v) const {
  if (stage3_ == nullptr) throw_dng_code(dng_code_unknown);
  // Products rounded half away from zero; sums in 64 bits so that hostile
  // crop values cannot overflow.
  auto product = [](double a, double b, double c = 1.0) -> int64_t { return round_half_away_int32(a * b * c); };
  const int64_t limit_h = product(stage3_->Bounds().W(), scale_h);
  const int64_t limit_v = product(stage3_->Bounds().H(), scale_v);
  int64_t left = product(default_crop_origin_h_.ToReal(), raw_to_full_scale_h_, scale_h);
  int64_t top = product(default_crop_origin_v_.ToReal(), raw_to_full_scale_v_, scale_v);
  int64_t right = left + product(default_crop_size_h_.ToReal(), raw_to_full_scale_h_, scale_h);
  int64_t bottom = top + product(default_crop_size_v_.ToReal(), raw_to_full_scale_v_, scale_v);
  if (right > limit_h) {
    left -= right - limit_h;
    right = limit_h;
  }
  if (bottom > limit_v) {
    top -= bottom - limit_v;
    bottom = limit_v;
  }
  auto to_int32 = [](int64_t v) { return saturating_cast<int32_t>(static_cast<double>(v)); };
  return dng_box(to_int32(top), to_int32(left), to_int32(bottom), to_int32(right));
}
