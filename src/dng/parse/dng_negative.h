// The in-memory model of one DNG file after parsing: camera names,
// orientation, default crop and scale, baseline values, colour data and the
// embedded camera profile, identity data, the maker note, IPTC, EXIF and XMP
// metadata, and the three images of the raw pipeline (stage 1 as read,
// stage 2 linearised, stage 3 interpolated).
//
// A negative owns every object it points to; replacing one deletes the old
// object first. It is made by dng_host::NewNegative (dng_negative::Create),
// then driven in this order: LoadFromInfo, FinishParse, ReadRawImage,
// ReconcileMetadata, BuildLinearImage, BuildInterpolatedImage,
// StampCurrentTime and RegenerateIPTC. Used by one thread.
//
// Every block read from the file (maker note, IPTC, XMP, private data and
// original raw file data) is checked in 64 bits against the stream length
// before anything is allocated for it: a block past the end raises 100011.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_box.h"
#include "dng/core/dng_chromaticity.h"
#include "dng/core/dng_digest.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_image_flip.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_rational.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_vector.h"
#include "dng/parse/dng_camera_profile.h"
#include "dng/parse/dng_exif.h"

class dng_color_spec;
class dng_host;
class dng_info;
class dng_pixel_density;
class dng_stream;
class dng_xmp;

// The IPTC file offset that means "no block".
inline constexpr uint32_t dng_no_iptc_offset = 0xFFFFFFFF;

class dng_negative {
 public:
  // A new negative with the allocator (not owned) and its EXIF and XMP
  // objects (CreateMetadataObjects); 100005 when it cannot be allocated.
  static std::unique_ptr<dng_negative> Create(dng_memory_allocator& allocator);

  // The start values; no metadata objects yet.
  explicit dng_negative(dng_memory_allocator& allocator);
  // Deletes stage 3, stage 2, stage 1, the mosaic info, the linearization
  // info, the XMP, the IPTC block, the EXIF, the maker note, the private
  // data, the raw file data and the embedded profile, in this order.
  virtual ~dng_negative();
  dng_negative(const dng_negative&) = delete;
  dng_negative& operator=(const dng_negative&) = delete;

  // ---- Virtual operations ------------------------------------------------

  virtual dng_image_flip StoredOrientation() const { return orientation_; }
  virtual const dng_camera_profile* AttachedProfile() const { return embedded_profile_.get(); }

  // Rendering and writing hooks. The parse library holds stand-ins that
  // raise 100000; the rendering library supplies the real bodies.
  virtual std::unique_ptr<dng_color_spec> NewColorSpec() const;
  virtual std::unique_ptr<dng_memory_block> MakeExifTiffBlock(const dng_pixel_density* resolution,
                                                              bool include_iptc) const;

  // Fills the negative from the parsed container: names, orientation, crop
  // and scale, baseline values, colour data and profile, identity data, the
  // EXIF object (moved out of the info), the linearization info and, for a
  // colour filter array, the mosaic info.
  virtual void LoadFromInfo(dng_host& host, dng_stream& stream, dng_info& info);
  // Reads the maker note (when safe), IPTC and XMP blocks and the white
  // balance; nothing when the host does not read metadata.
  virtual void FinishParse(dng_host& host, dng_stream& stream, dng_info& info);
  // IPTC fingerprint, EXIF exchange and orientation through the XMP object.
  virtual void ReconcileMetadata();
  // Turns a three-colour Bayer mosaic into four colours; false when it
  // cannot.
  virtual bool MakeFourColorBayer();
  // A new simple image with the negative's allocator; 100005 on failure.
  virtual std::unique_ptr<dng_image> MakeImage(const dng_box& area, uint32_t planes,
                                               uint32_t pixel_type, uint32_t pixel_range) const;
  // Stage 1 from the main image directory; the file must be able to hold
  // its data before the image is made (dng_ifd::CheckImageData).
  virtual void ReadRawImage(dng_host& host, dng_stream& stream, dng_info& info);
  // Stage 2 from stage 1; stage 1 and the linearization info are then
  // dropped unless the host keeps stage 1.
  virtual void BuildLinearImage(dng_host& host, uint32_t pixel_type);
  virtual void DropRawImage();
  // Stage 3 from stage 2 (a negative plane demosaics every plane of a
  // multi-plane mosaic); stage 2 is then dropped unless the host keeps it.
  virtual void BuildInterpolatedImage(dng_host& host, int32_t plane);
  // Deletes stage 2; unless stage 1 is still present, deletes the mosaic
  // info and folds the integer part of the raw-to-full scale into the crop
  // and scale.
  virtual void AfterInterpolation();
  virtual void DropInterpolatedImage();
  // The EXIF object, then the XMP object.
  virtual void CreateMetadataObjects();
  virtual std::unique_ptr<dng_exif> NewExif();
  virtual std::unique_ptr<dng_xmp> NewXmp();
  virtual std::unique_ptr<dng_linearization_info> NewLinearizationInfo();
  virtual std::unique_ptr<dng_mosaic_info> NewMosaicInfo();
  virtual uint16_t BaseWhiteLevel() const { return 65535; }
  virtual void DoLinearize(dng_host& host, uint32_t pixel_type);
  virtual void DemosaicPlane(dng_host& host, uint32_t target_size, int32_t plane);
  virtual void DemosaicMultiPlane(dng_host& host);

  // ---- Stores and accessors ----------------------------------------------

  dng_memory_allocator& Allocator() const { return *allocator_; }

  const dng_text& ModelName() const { return model_name_; }
  void SetModelName(const char* name) { model_name_.Assign(name); }
  const dng_text& LocalModelName() const { return local_model_name_; }
  void SetLocalModelName(const char* name) { local_model_name_.Assign(name); }

  bool HasOrientation() const { return has_orientation_; }
  void StoreOrientation(const dng_image_flip& flip) {
    has_orientation_ = true;
    orientation_ = flip;
  }

  const dng_unsigned_ratio& DefaultCropSizeH() const { return default_crop_size_h_; }
  const dng_unsigned_ratio& DefaultCropSizeV() const { return default_crop_size_v_; }
  const dng_unsigned_ratio& DefaultCropOriginH() const { return default_crop_origin_h_; }
  const dng_unsigned_ratio& DefaultCropOriginV() const { return default_crop_origin_v_; }
  void SetDefaultCropSize(const dng_unsigned_ratio& h, const dng_unsigned_ratio& v) {
    default_crop_size_h_ = h;
    default_crop_size_v_ = v;
  }
  void SetDefaultCropOrigin(const dng_unsigned_ratio& h, const dng_unsigned_ratio& v) {
    default_crop_origin_h_ = h;
    default_crop_origin_v_ = v;
  }
  const dng_unsigned_ratio& DefaultScaleH() const { return default_scale_h_; }
  const dng_unsigned_ratio& DefaultScaleV() const { return default_scale_v_; }
  void SetDefaultScale(const dng_unsigned_ratio& h, const dng_unsigned_ratio& v) {
    default_scale_h_ = h;
    default_scale_v_ = v;
  }
  const dng_unsigned_ratio& BestQualityScale() const { return best_quality_scale_; }
  void SetBestQualityScale(const dng_unsigned_ratio& scale) { best_quality_scale_ = scale; }
  double RawToFullScaleH() const { return raw_to_full_scale_h_; }
  double RawToFullScaleV() const { return raw_to_full_scale_v_; }
  void SetRawToFullScale(double h, double v) {
    raw_to_full_scale_h_ = h;
    raw_to_full_scale_v_ = v;
  }

  const dng_unsigned_ratio& BaselineNoise() const { return baseline_noise_; }
  void SetBaselineNoise(double noise) { baseline_noise_.FromReal(noise, 100); }
  const dng_signed_ratio& BaselineExposure() const { return baseline_exposure_; }
  void SetBaselineExposure(double exposure) { baseline_exposure_.FromReal(exposure, 100); }
  const dng_unsigned_ratio& BaselineSharpness() const { return baseline_sharpness_; }
  void SetBaselineSharpness(double sharpness) { baseline_sharpness_.FromReal(sharpness, 100); }
  const dng_unsigned_ratio& ChromaBlurRadius() const { return chroma_blur_radius_; }
  const dng_unsigned_ratio& AntiAliasStrength() const { return anti_alias_strength_; }
  const dng_unsigned_ratio& LinearResponseLimit() const { return linear_response_limit_; }
  void SetLinearResponseLimit(double limit) { linear_response_limit_.FromReal(limit, 100); }
  const dng_unsigned_ratio& ShadowScale() const { return shadow_scale_; }
  // Taken only when the ratio has a denominator and a value in (0, 1].
  void SetShadowScale(const dng_unsigned_ratio& scale);

  uint32_t ColorimetricReference() const { return colorimetric_reference_; }
  void SetColorimetricReference(uint32_t reference) { colorimetric_reference_ = reference; }
  uint32_t ColorChannels() const { return color_channels_; }
  void SetColorChannels(uint32_t channels) { color_channels_ = channels; }

  // Scaled so that the smallest entry is 1 (the largest for the neutral),
  // rounded to multiples of 1/1000000; an empty vector or one whose scaling
  // entry is not above 0 empties the field.
  void StoreAnalogBalance(const dng_vector& balance);
  const dng_vector& AnalogBalance() const { return analog_balance_; }
  void StoreCameraNeutral(const dng_vector& neutral);
  const dng_vector& CameraNeutral() const { return camera_neutral_; }
  void ClearCameraNeutral() { camera_neutral_.MakeEmpty(); }
  bool HasCameraNeutral() const { return !camera_neutral_.IsEmpty(); }
  // Each coordinate rounded half away from zero to a multiple of 0.000001
  // when both are above 0; otherwise (0, 0).
  void StoreWhiteXY(double x, double y);
  dng_chromaticity WhiteXY() const { return {camera_white_x_, camera_white_y_}; }
  bool HasCameraWhiteXY() const { return camera_white_x_ > 0.0 && camera_white_y_ > 0.0; }
  // x and y with denominator 1000000.
  void WhiteXYRationals(dng_unsigned_ratio& x, dng_unsigned_ratio& y) const;
  // The analog balance entry; 1.0 beyond the vector.
  double ChannelBalance(uint32_t channel) const;
  dng_unsigned_ratio ChannelBalanceRational(uint32_t channel) const;
  // The camera neutral entry with denominator 1000000 (0/1000000 beyond the
  // vector).
  dng_unsigned_ratio NeutralRational(uint32_t channel) const;

  // Takes ownership and names the profile "Embedded".
  void AdoptEmbeddedProfile(std::unique_ptr<dng_camera_profile> profile);
  dng_camera_profile* EmbeddedProfile() const { return embedded_profile_.get(); }

  const dng_digest& RawDataUniqueID() const { return raw_data_unique_id_; }
  void SetRawDataUniqueID(const dng_digest& id) { raw_data_unique_id_ = id; }
  const dng_text& OriginalRawFileName() const { return raw_file_name_; }
  void SetOriginalRawFileName(const char* name) { raw_file_name_.Assign(name); }
  bool HasOriginalRawFileData() const { return has_raw_file_data_; }
  const dng_memory_block* OriginalRawFileData() const { return raw_file_data_.get(); }
  const dng_memory_block* PrivateData() const { return private_data_.get(); }

  bool IsMakerNoteSafe() const { return maker_note_safe_; }
  void SetMakerNoteSafety(bool safe) { maker_note_safe_ = safe; }
  void AdoptMakerNote(std::unique_ptr<dng_memory_block> block) { maker_note_ = std::move(block); }
  const dng_memory_block* MakerNote() const { return maker_note_.get(); }

  dng_exif* GetExif() const { return exif_.get(); }
  void ResetExif(std::unique_ptr<dng_exif> exif) { exif_ = std::move(exif); }
  dng_xmp* GetXMP() const { return xmp_.get(); }
  void ResetXMP(std::unique_ptr<dng_xmp> xmp);

  // Takes ownership of the block (may be null) and records where it lies in
  // the file.
  void AdoptIPTC(std::unique_ptr<dng_memory_block> block, uint32_t file_offset);
  void DropIPTC();
  // Null, 0 and dng_no_iptc_offset when there is no block.
  const void* IPTCBytes() const;
  uint32_t IPTCSize() const;
  uint32_t IPTCFilePosition() const;
  // MD5 of the block without up to three trailing zero bytes; all zero when
  // there is no block or it is empty.
  dng_digest IPTCFingerprint() const;

  // Parses the packet into a new XMP object that replaces the current one;
  // false (and nothing changed) when the packet cannot be parsed. Only the
  // host's transient codes propagate.
  bool AdoptXMPPacket(dng_host& host, const void* bytes, uint32_t length, bool xmp_orientation_wins,
                      bool xmp_wins_over_iptc);
  bool XMPOrientationWins() const { return xmp_orientation_wins_; }
  bool XMPWinsOverIPTC() const { return xmp_wins_over_iptc_; }
  // Rebuilds the IPTC block from the XMP and stores its digest in the XMP.
  void RegenerateIPTC();
  // The current local time into the EXIF and the XMP.
  void StampCurrentTime();

  dng_linearization_info* LinearizationInfo() const { return linearization_info_.get(); }
  void ResetLinearizationInfo(std::unique_ptr<dng_linearization_info> info) {
    linearization_info_ = std::move(info);
  }
  dng_mosaic_info* MosaicInfo() const { return mosaic_info_.get(); }
  void ResetMosaicInfo(std::unique_ptr<dng_mosaic_info> info) { mosaic_info_ = std::move(info); }

  dng_image* Stage1Image() const { return stage1_.get(); }
  dng_image* Stage2Image() const { return stage2_.get(); }
  dng_image* Stage3Image() const { return stage3_.get(); }
  void ResetStage1Image(std::unique_ptr<dng_image> image) { stage1_ = std::move(image); }
  void ResetStage2Image(std::unique_ptr<dng_image> image) { stage2_ = std::move(image); }
  void ResetStage3Image(std::unique_ptr<dng_image> image) { stage3_ = std::move(image); }
  double Stage3Gain() const { return stage3_gain_; }
  bool IsDownscaled() const { return downscaled_; }

  // White level of the plane from the linearization info (+0.5,
  // truncated), or BaseWhiteLevel without one.
  uint32_t PlaneWhiteLevel(uint32_t plane) const;
  // Stage 1, else stage 2, else stage 3 (may be null).
  dng_image* BestImage() const;
  // (crop width x scale H) / (crop height x scale V).
  double FinalAspect() const;
  // The height that keeps FinalAspect at the given width: width / aspect +
  // 0.5, truncated; 0 when the crop is empty.
  uint32_t ScaledHeight(uint32_t width) const;
  // The default crop in stage-3 pixels at the given scale, moved inside the
  // scaled stage-3 bounds.
  dng_box CropRectangle(double scale_h, double scale_v) const;

 private:
  dng_memory_allocator* allocator_;
  dng_text model_name_;
  dng_text local_model_name_;
  bool has_orientation_ = false;
  dng_image_flip orientation_;
  dng_unsigned_ratio default_crop_size_h_{0, 0};
  dng_unsigned_ratio default_crop_size_v_{0, 0};
  dng_unsigned_ratio default_crop_origin_h_{0, 1};
  dng_unsigned_ratio default_crop_origin_v_{0, 1};
  dng_unsigned_ratio default_scale_h_{1, 1};
  dng_unsigned_ratio default_scale_v_{1, 1};
  dng_unsigned_ratio best_quality_scale_{1, 1};
  double raw_to_full_scale_h_ = 1.0;
  double raw_to_full_scale_v_ = 1.0;
  dng_unsigned_ratio baseline_noise_{100, 100};
  dng_signed_ratio baseline_exposure_{0, 100};
  dng_unsigned_ratio baseline_sharpness_{100, 100};
  dng_unsigned_ratio chroma_blur_radius_{0, 0};
  dng_unsigned_ratio anti_alias_strength_{100, 100};
  dng_unsigned_ratio linear_response_limit_{100, 100};
  dng_unsigned_ratio shadow_scale_{1, 1};
  uint32_t colorimetric_reference_ = 0;
  uint32_t color_channels_ = 0;
  dng_vector analog_balance_;
  dng_vector camera_neutral_;
  double camera_white_x_ = 0.0;
  double camera_white_y_ = 0.0;
  std::unique_ptr<dng_camera_profile> embedded_profile_;
  dng_digest raw_data_unique_id_;
  dng_text raw_file_name_;
  bool has_raw_file_data_ = false;
  std::unique_ptr<dng_memory_block> raw_file_data_;
  std::unique_ptr<dng_memory_block> private_data_;
  bool maker_note_safe_ = false;
  std::unique_ptr<dng_memory_block> maker_note_;
  std::unique_ptr<dng_exif> exif_;
  std::unique_ptr<dng_memory_block> iptc_block_;
  uint32_t iptc_offset_ = dng_no_iptc_offset;
  std::unique_ptr<dng_xmp> xmp_;
  bool xmp_orientation_wins_ = false;
  bool xmp_wins_over_iptc_ = false;
  std::unique_ptr<dng_linearization_info> linearization_info_;
  std::unique_ptr<dng_mosaic_info> mosaic_info_;
  std::unique_ptr<dng_image> stage1_;
  std::unique_ptr<dng_image> stage2_;
  std::unique_ptr<dng_image> stage3_;
  double stage3_gain_ = 1.0;
  bool downscaled_ = false;
};

// Reads count bytes at position into a new block from the host, after
// checking position + count against the stream length in 64 bits: a block
// past the end raises 100011 with nothing allocated.
std::unique_ptr<dng_memory_block> read_stream_block(dng_host& host, dng_stream& stream,
                                                    uint32_t position, uint32_t count);
