#include "dng/render/dng_image_writer.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "dng/core/dng_checked_size.h"
#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_image.h"
#include "dng/core/dng_linearization_info.h"
#include "dng/core/dng_ljpeg_encoder.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_mosaic_info.h"
#include "dng/core/dng_pixel_buffer.h"
#include "dng/core/dng_pixel_kernels.h"
#include "dng/core/dng_stream.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_ifd.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp.h"
#include "dng/render/dng_color_space.h"
#include "dng/render/dng_exif_tag_group.h"
#include "dng/render/dng_negative_tag_groups.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/render/dng_tiff_tags.h"

namespace {

constexpr uint32_t kBandBytes = 131072;

// Photometric interpretations and compressions the writer names.
constexpr uint32_t kPhotometricBlackIsZero = 1;
constexpr uint32_t kPhotometricRGB = 2;
constexpr uint32_t kPhotometricCFA = 32803;
constexpr uint32_t kPhotometricLinearRaw = 34892;
constexpr uint32_t kCompressionNone = 1;
constexpr uint32_t kCompressionJPEG = 7;

// Header of a TIFF file in the stream's byte order, at position 0.
void put_header(dng_stream& stream) {
  stream.SeekForWrite(0);
  stream.PutUInt16(stream.IsByteSwapped() ? 0x4D4D : 0x4949);
  stream.PutUInt16(42);
  stream.PutUInt32(8);
}

constexpr uint32_t kNoClamp = 0xFFFFFFFF;

// The last index of a table that narrows 16-bit raw samples to 8 bits, or
// kNoClamp when the raw image keeps its size: a non-empty table of at most
// 256 entries (a LinearizationTable shorter than 514 bytes).
uint32_t narrowing_table_limit(const dng_negative& negative, const dng_image& raw) {
  if (raw.PixelType() != dng_type_short) return kNoClamp;
  const dng_linearization_info* info = negative.LinearizationInfo();
  if (info == nullptr || info->table.empty() || info->table.size() > 256) return kNoClamp;
  return uint32_t(info->table.size() - 1);
}

// Releases the writer's blocks when a write ends, also by an exception.
template <class F>
class scope_exit {
 public:
  explicit scope_exit(F f) : f_(std::move(f)) {}
  ~scope_exit() { f_(); }
  scope_exit(const scope_exit&) = delete;
  scope_exit& operator=(const scope_exit&) = delete;

 private:
  F f_;
};

}  // namespace

dng_image_writer::dng_image_writer() = default;

dng_image_writer::~dng_image_writer() = default;

void dng_image_writer::ReleaseBlocks() {
  compressed_buffer_.reset();
  uncompressed_buffer_.reset();
}

uint32_t dng_image_writer::CompressionScratchSize(const dng_ifd& ifd, uint32_t uncompressed_bytes) {
  if (ifd.compression == kCompressionJPEG && ifd.bits_per_sample[0] <= 8) {
    return checked_u32(checked_mul_u64(uncompressed_bytes, 2));
  }
  return 0;
}

void dng_image_writer::ApplyPredictor(dng_host&, const dng_ifd& ifd, dng_pixel_buffer&) {
  if (ifd.predictor != 1) throw_dng_code(dng_code_unknown);
}

void dng_image_writer::SwapBufferBytes(dng_host&, dng_pixel_buffer& buffer) {
  const uint64_t samples = uint64_t(buffer.area.H()) * uint64_t(std::max(buffer.row_step, 0));
  const uint32_t count = checked_u32(samples, dng_code_unknown);
  if (buffer.pixel_size == 2) {
    dng_pixel_kernels.ByteSwapWords(buffer.data, count);
  } else if (buffer.pixel_size == 4) {
    dng_pixel_kernels.ByteSwapLongs(buffer.data, count);
  }
}

void dng_image_writer::EmitBuffer(dng_host& host, const dng_ifd& ifd, dng_stream& stream,
                                  dng_pixel_buffer& buffer) {
  const uint32_t rows = buffer.area.H();
  const uint64_t samples = uint64_t(rows) * uint64_t(std::max(buffer.row_step, 0));
  if (ifd.compression == kCompressionNone) {
    if (buffer.pixel_size == 2 && ifd.bits_per_sample[0] == 8) {
      // 16-bit samples declared as 8 bits (a small linearization table):
      // the strip holds one byte per sample. The samples were clamped to
      // the table's last index, so no value is cut. In place: byte i is
      // written after sample i has been read.
      auto* from = static_cast<const uint16_t*>(buffer.data);
      auto* to = static_cast<uint8_t*>(buffer.data);
      for (uint64_t i = 0; i < samples; ++i) to[i] = uint8_t(std::min<uint16_t>(from[i], 255));
      buffer.pixel_size = 1;
      buffer.pixel_type = dng_type_byte;
    }
    if (stream.IsByteSwapped()) SwapBufferBytes(host, buffer);
    stream.PutBytes(buffer.data, checked_u32(checked_mul_u64(samples, buffer.pixel_size), dng_code_unknown));
    return;
  }
  if (ifd.compression != kCompressionJPEG) throw_dng_code(dng_code_unknown);

  dng_pixel_buffer samples16 = buffer;
  if (buffer.pixel_size == 1) {
    if (compressed_buffer_ == nullptr ||
        uint64_t(compressed_buffer_->Size()) < checked_mul_u64(samples, 2)) {
      throw_dng_code(dng_code_unknown);
    }
    const auto* from = static_cast<const uint8_t*>(buffer.data);
    auto* to = static_cast<uint16_t*>(compressed_buffer_->Buffer());
    for (uint64_t i = 0; i < samples; ++i) to[i] = from[i];
    samples16.data = to;
    samples16.pixel_size = 2;
    samples16.pixel_type = dng_type_short;
  } else if (buffer.pixel_size != 2) {
    throw_dng_code(dng_code_unknown);
  }
  ljpeg_encode_samples(static_cast<const uint16_t*>(samples16.data), rows, samples16.area.W(), samples16.planes,
                       ifd.bits_per_sample[0], samples16.row_step, samples16.col_step, stream);
}

void dng_image_writer::EmitBand(dng_host& host, const dng_ifd& ifd, dng_stream& stream, const dng_image& image,
                                const dng_box& area, bool rescale, uint32_t column_merge) {
  dng_pixel_buffer buffer;
  buffer.area = area;
  buffer.plane = 0;
  buffer.planes = ifd.samples_per_pixel;
  buffer.col_step = int32_t(buffer.planes);
  buffer.row_step = int32_t(checked_u32(checked_mul_u64(buffer.planes, area.W()), dng_code_unknown));
  buffer.plane_step = 1;
  buffer.pixel_type = image.PixelType();
  buffer.pixel_size = image.BytesPerSample();
  buffer.pixel_range = image.PixelRange();
  buffer.data = uncompressed_buffer_->Buffer();
  const uint64_t samples = uint64_t(area.H()) * uint64_t(buffer.row_step);
  if (checked_mul_u64(samples, buffer.pixel_size) > uncompressed_buffer_->Size()) throw_dng_code(dng_code_unknown);

  image.ReadArea(buffer, dng_edge_zero, 0, 0);

  if (buffer.pixel_type == dng_type_short) {
    auto* v = static_cast<uint16_t*>(buffer.data);
    const uint32_t range = image.SampleRange();
    if (rescale && range != 65535 && range != 0) {
      // 0..range onto 0..65535; values above the range saturate.
      for (uint64_t i = 0; i < samples; ++i) {
        const uint32_t s = v[i];
        uint32_t scaled;
        if (s >= range) {
          scaled = 65535;
        } else if (range == 32768) {
          scaled = (s * 65535u + 16384u) >> 15;
        } else {
          scaled = uint32_t((uint64_t(range / 2) + uint64_t(s) * 65535u) / range);
        }
        v[i] = uint16_t(std::min<uint32_t>(scaled, 65535));
      }
    }
    if (clamp_limit_ < 65535) {
      const auto limit = uint16_t(clamp_limit_);
      for (uint64_t i = 0; i < samples; ++i) v[i] = std::min(v[i], limit);
    }
  }

  ApplyPredictor(host, ifd, buffer);

  if (column_merge > 1) {
    if (area.W() % column_merge != 0) throw_dng_code(dng_code_unknown);
    buffer.planes *= column_merge;
    buffer.col_step *= int32_t(column_merge);
    buffer.area.right = int32_t(int64_t(area.left) + area.W() / column_merge);
  }

  EmitBuffer(host, ifd, stream, buffer);
}

void dng_image_writer::EmitImage(dng_host& host, const dng_ifd& ifd, basic_tag_set& tags, dng_stream& stream,
                                 const dng_image& image, bool rescale, uint32_t column_merge) {
  scope_exit release([this] { ReleaseBlocks(); });

  const uint64_t row_bytes =
      checked_product_u64({ifd.tile_width, ifd.samples_per_pixel, image.BytesPerSample()});
  if (row_bytes == 0) throw_dng_code(dng_code_unknown);
  const dng_box first_tile(0, 0, int32_t(std::min<uint64_t>(ifd.tile_length, INT32_MAX)),
                           int32_t(std::min<uint64_t>(ifd.tile_width, INT32_MAX)));
  uint32_t band_rows;
  if (ifd.UncompressedTileBytes(first_tile) != 0) {
    band_rows = uint32_t(std::clamp<uint64_t>(kBandBytes / row_bytes, 1, std::max(ifd.tile_length, 1u)));
  } else {
    band_rows = std::max(ifd.tile_length, 1u);
  }
  const uint32_t buffer_bytes = checked_u32(checked_mul_u64(row_bytes, band_rows));
  uncompressed_buffer_.reset(host.AllocateBlock(buffer_bytes));
  if (const uint32_t scratch = CompressionScratchSize(ifd, buffer_bytes); scratch != 0) {
    compressed_buffer_.reset(host.AllocateBlock(scratch));
  }

  const dng_box bounds = image.Bounds();
  const uint64_t rows = ifd.TileRows();
  const uint64_t columns = ifd.TileColumns();
  if (checked_mul_u64(rows, columns, dng_code_unknown) != tags.TileCount()) throw_dng_code(dng_code_unknown);
  for (uint64_t row = 0; row < rows; ++row) {
    for (uint64_t column = 0; column < columns; ++column) {
      const dng_tile_bounds tile = ifd.TileBounds(row, column);
      const uint64_t index = row * columns + column;
      const uint32_t start = stream.Position();
      tags.TileOffsets()[index] = start;
      const int64_t left = bounds.left + tile.left;
      const int64_t right = bounds.left + tile.right;
      if (left < INT32_MIN || right > INT32_MAX) throw_dng_code(dng_code_unknown);
      for (int64_t top = tile.top; top < tile.bottom; top += band_rows) {
        const int64_t bottom = std::min<int64_t>(top + band_rows, tile.bottom);
        if (bounds.top + bottom > INT32_MAX) throw_dng_code(dng_code_unknown);
        host.PollCancel();
        const dng_box band(int32_t(bounds.top + top), int32_t(left), int32_t(bounds.top + bottom), int32_t(right));
        EmitBand(host, ifd, stream, image, band, rescale, column_merge);
      }
      const uint32_t count = stream.Position() - start;
      tags.TileByteCounts()[index] = count;
      if (count & 1) stream.PutUInt8(0);
    }
  }
}

void dng_image_writer::WriteTiffFile(dng_host& host, dng_stream& stream, const dng_image& image,
                                     uint32_t photometric, uint32_t compression, const dng_negative* negative,
                                     const dng_color_space* space, const dng_pixel_density* resolution,
                                     const dng_encoded_preview* thumbnail, const dng_memory_block* resource_block) {
  const uint32_t planes = image.Planes();
  if (planes < 1 || planes > 4) throw_dng_code(dng_code_unknown);

  dng_ifd ifd;
  ifd.image_width = image.Bounds().W();
  ifd.image_length = image.Bounds().H();
  ifd.samples_per_pixel = planes;
  for (uint32_t p = 0; p < planes; ++p) ifd.bits_per_sample[p] = 8 * image.BytesPerSample();
  ifd.photometric_interpretation = photometric;
  ifd.compression = compression;
  if (compression == kCompressionNone) {
    ifd.UseSingleTile();
  } else {
    ifd.ChooseStripRows(kBandBytes, 16);
    ifd.predictor = 2;
  }
  uint32_t extra = 0;
  if (photometric == kPhotometricBlackIsZero) extra = planes - 1;
  if (photometric == kPhotometricRGB && planes > 3) extra = planes - 3;
  ifd.extra_samples_count = extra;
  for (uint32_t i = 0; i < 4; ++i) ifd.extra_samples[i] = 0;
  if (image.PixelType() == dng_type_float) {
    for (uint32_t p = 0; p < 4; ++p) ifd.sample_format[p] = 3;
  }

  tag_directory ifd0;
  basic_tag_set basic(ifd0, ifd);

  const resolution_tag_set resolution_tags(ifd0, resolution);

  const tag_icc_profile icc(space);
  if (icc.Count() != 0) ifd0.Insert(&icc);

  // The negative's XMP without its orientation (the pixels are already
  // oriented). A copy of dng_xmp shares its tree with the negative, so the
  // packet is parsed into a tree of its own before the orientation goes.
  std::unique_ptr<dng_xmp> xmp;
  if (negative != nullptr && negative->GetXMP() != nullptr) {
    if (std::unique_ptr<dng_memory_block> packet = negative->GetXMP()->WritePacketBlock(true, 0, 0);
        packet != nullptr && packet->Size() != 0) {
      xmp = std::make_unique<dng_xmp>(negative->Allocator());
      xmp->Parse(host, packet->Buffer(), packet->Size());
      xmp->DropOrientation();
    }
  }
  const tag_xmp xmp_tag(xmp.get());
  if (xmp_tag.Count() != 0) ifd0.Insert(&xmp_tag);

  std::unique_ptr<tag_iptc> iptc;
  if (negative != nullptr && negative->IPTCSize() != 0) {
    iptc = std::make_unique<tag_iptc>(negative->IPTCBytes(), negative->IPTCSize());
    ifd0.Insert(iptc.get());
  }

  const tag_image_resources resources(thumbnail, negative != nullptr ? negative->IPTCFingerprint() : dng_digest(),
                                      resource_block);
  if (resources.Count() != 0) ifd0.Insert(&resources);

  const dng_exif fresh;
  const dng_exif* exif = negative != nullptr ? negative->GetExif() : nullptr;
  const dng_memory_block* maker_note = negative != nullptr ? negative->MakerNote() : nullptr;
  exif_tag_group exif_group(ifd0, exif != nullptr ? *exif : fresh, negative != nullptr && negative->IsMakerNoteSafe(),
                            maker_note != nullptr ? maker_note->Buffer() : nullptr,
                            maker_note != nullptr ? maker_note->Size() : 0, false);

  const uint32_t exif_at = checked_u32(uint64_t(8) + ifd0.ByteSize(), dng_code_unknown);
  const uint32_t gps_at = checked_u32(uint64_t(exif_at) + exif_group.ExifDirectory().ByteSize(), dng_code_unknown);
  const uint32_t data_at = checked_u32(uint64_t(gps_at) + exif_group.GpsDirectory().ByteSize(), dng_code_unknown);
  exif_group.SetExifOffset(exif_at);
  exif_group.SetGpsOffset(gps_at);

  stream.SeekForWrite(data_at);
  EmitImage(host, ifd, basic, stream, image, true, 1);

  stream.Resize(stream.Position());
  put_header(stream);
  ifd0.WriteTo(stream);
  exif_group.ExifDirectory().WriteTo(stream);
  exif_group.GpsDirectory().WriteTo(stream);
  stream.FlushBuffer();
}

void dng_image_writer::WriteDngFile(dng_host& host, dng_stream& stream, const dng_negative& negative,
                                    const dng_image* thumbnail, uint32_t compression,
                                    const dng_encoded_preview* preview1, const dng_encoded_preview* preview2) {
  const dng_image* raw = negative.BestImage();
  if (raw == nullptr || thumbnail == nullptr) throw_dng_code(dng_code_unknown);
  // IFD 0 declares an 8-bit grey or RGB thumbnail.
  if (thumbnail->PixelType() != dng_type_byte || (thumbnail->Planes() != 1 && thumbnail->Planes() != 3)) {
    throw_dng_code(dng_code_unknown);
  }
  if (raw->Planes() < 1 || raw->Planes() > 4) throw_dng_code(dng_code_unknown);

  // IFD 0: versions and the thumbnail.
  tag_directory ifd0;
  static constexpr uint8_t kVersion[4] = {1, 1, 0, 0};
  const tag_uint8_ptr dng_version(50706, kVersion, 4);
  const tag_uint8_ptr dng_backward_version(50707, kVersion, 4);
  ifd0.Insert(&dng_version);
  ifd0.Insert(&dng_backward_version);

  dng_ifd thumbnail_ifd;
  thumbnail_ifd.new_subfile_type = 1;
  thumbnail_ifd.image_width = thumbnail->Bounds().W();
  thumbnail_ifd.image_length = thumbnail->Bounds().H();
  thumbnail_ifd.samples_per_pixel = thumbnail->Planes();
  for (uint32_t p = 0; p < thumbnail->Planes(); ++p) thumbnail_ifd.bits_per_sample[p] = 8;
  thumbnail_ifd.photometric_interpretation = thumbnail->Planes() == 1 ? kPhotometricBlackIsZero : kPhotometricRGB;
  thumbnail_ifd.compression = kCompressionNone;
  thumbnail_ifd.UseSingleTile();
  basic_tag_set thumbnail_tags(ifd0, thumbnail_ifd);

  // The raw image's description.
  const dng_mosaic_info fresh_mosaic;
  const dng_mosaic_info& mosaic = negative.MosaicInfo() != nullptr ? *negative.MosaicInfo() : fresh_mosaic;
  dng_ifd raw_ifd;
  raw_ifd.image_width = raw->Bounds().W();
  raw_ifd.image_length = raw->Bounds().H();
  raw_ifd.samples_per_pixel = raw->Planes();
  raw_ifd.compression = raw->PixelType() == dng_type_long ? kCompressionNone : compression;
  raw_ifd.photometric_interpretation = mosaic.IsColorFilterArray() ? kPhotometricCFA : kPhotometricLinearRaw;
  uint32_t bits = 0;
  const uint32_t table_limit = narrowing_table_limit(negative, *raw);
  switch (raw->PixelType()) {
    case dng_type_byte: bits = 8; break;
    case dng_type_short: bits = table_limit != kNoClamp ? 8 : 16; break;
    case dng_type_long: bits = 32; break;
    default: throw_dng_code(dng_code_unknown);
  }
  for (uint32_t p = 0; p < raw->Planes(); ++p) raw_ifd.bits_per_sample[p] = bits;
  uint32_t merge = 1;
  if (raw_ifd.compression == kCompressionJPEG) {
    if (mosaic.pattern_cols == 2 || mosaic.pattern_cols == 4) merge = mosaic.pattern_cols;
    while (raw->Planes() * merge > 4 && merge > 1) merge /= 2;
    raw_ifd.ChooseTileSize(kBandBytes, 16, 16);
  } else {
    raw_ifd.UseSingleTile();
  }

  // The raw SubIFD.
  tag_directory raw_directory;
  basic_tag_set raw_tags(raw_directory, raw_ifd);
  const dng_unsigned_ratio default_scale[2] = {negative.DefaultScaleH(), negative.DefaultScaleV()};
  const tag_urational_ptr default_scale_tag(50718, default_scale, 2);
  raw_directory.Insert(&default_scale_tag);
  const tag_urational best_quality_scale(50780, negative.BestQualityScale());
  raw_directory.Insert(&best_quality_scale);
  const dng_unsigned_ratio crop_origin[2] = {negative.DefaultCropOriginH(), negative.DefaultCropOriginV()};
  const tag_urational_ptr crop_origin_tag(50719, crop_origin, 2);
  raw_directory.Insert(&crop_origin_tag);
  const dng_unsigned_ratio crop_size[2] = {negative.DefaultCropSizeH(), negative.DefaultCropSizeV()};
  const tag_urational_ptr crop_size_tag(50720, crop_size, 2);
  raw_directory.Insert(&crop_size_tag);
  const range_tag_group range_group(raw_directory, negative);
  const dng_mosaic_info mosaic_copy = mosaic;
  const mosaic_tag_group mosaic_group(raw_directory, mosaic_copy);
  const tag_urational chroma_blur(50737, negative.ChromaBlurRadius());
  if (negative.ChromaBlurRadius().d != 0) raw_directory.Insert(&chroma_blur);
  const tag_urational anti_alias(50738, negative.AntiAliasStrength());
  if (negative.AntiAliasStrength().d != 0) raw_directory.Insert(&anti_alias);

  // IFD 0 continued: colour, rendering hints, identity and metadata.
  std::unique_ptr<color_tag_group> color_group;
  if (negative.ColorChannels() != 1) {
    color_group = std::make_unique<color_tag_group>(ifd0, negative, negative.AttachedProfile());
  }
  const tag_uint16 orientation(274, uint16_t(negative.StoredOrientation().ToTiff()));
  ifd0.Insert(&orientation);
  const tag_srational baseline_exposure(50730, negative.BaselineExposure());
  ifd0.Insert(&baseline_exposure);
  const tag_urational baseline_noise(50731, negative.BaselineNoise());
  ifd0.Insert(&baseline_noise);
  const tag_urational baseline_sharpness(50732, negative.BaselineSharpness());
  ifd0.Insert(&baseline_sharpness);
  const tag_string unique_camera_model(50708, negative.ModelName(), true);
  ifd0.Insert(&unique_camera_model);
  const tag_string localized_camera_model(50709, negative.LocalModelName(), false);
  if (!negative.LocalModelName().Empty()) ifd0.Insert(&localized_camera_model);
  const tag_urational shadow_scale(50739, negative.ShadowScale());
  ifd0.Insert(&shadow_scale);
  const tag_uint16 colorimetric_reference(50879, uint16_t(negative.ColorimetricReference()));
  if (negative.ColorimetricReference() != 0) ifd0.Insert(&colorimetric_reference);
  const dng_digest unique_id = negative.RawDataUniqueID();
  const tag_uint8_ptr unique_id_tag(50781, unique_id.data, dng_digest::kBytes);
  if (!unique_id.IsZero()) ifd0.Insert(&unique_id_tag);
  const tag_string raw_file_name(50827, negative.OriginalRawFileName(), false);
  if (!negative.OriginalRawFileName().Empty()) ifd0.Insert(&raw_file_name);
  const dng_memory_block* raw_file_data = negative.OriginalRawFileData();
  std::unique_ptr<tag_uint8_ptr> raw_file_data_tag;
  if (negative.HasOriginalRawFileData() && raw_file_data != nullptr && raw_file_data->Size() != 0) {
    raw_file_data_tag = std::make_unique<tag_uint8_ptr>(50828, raw_file_data->Buffer_uint8(), raw_file_data->Size(),
                                                        uint16_t(dng_type_undefined));
    ifd0.Insert(raw_file_data_tag.get());
  }
  const tag_xmp xmp_tag(negative.GetXMP());
  if (xmp_tag.Count() != 0) ifd0.Insert(&xmp_tag);
  const dng_exif fresh_exif;
  const dng_memory_block* maker_note = negative.MakerNote();
  exif_tag_group exif_group(ifd0, negative.GetExif() != nullptr ? *negative.GetExif() : fresh_exif,
                            negative.IsMakerNoteSafe(), maker_note != nullptr ? maker_note->Buffer() : nullptr,
                            maker_note != nullptr ? maker_note->Size() : 0, true);
  const dng_memory_block* private_data = negative.PrivateData();
  std::unique_ptr<tag_uint8_ptr> private_data_tag;
  if (private_data != nullptr && private_data->Size() != 0) {
    private_data_tag = std::make_unique<tag_uint8_ptr>(50740, private_data->Buffer_uint8(), private_data->Size());
    ifd0.Insert(private_data_tag.get());
  }

  // Previews: the second only with the first.
  const dng_encoded_preview* previews[2] = {preview1, preview1 != nullptr ? preview2 : nullptr};
  std::vector<std::unique_ptr<dng_ifd>> preview_ifds;
  std::vector<std::unique_ptr<tag_directory>> preview_directories;
  std::vector<std::unique_ptr<jpeg_tag_set>> preview_tags;
  for (const dng_encoded_preview* preview : previews) {
    if (preview == nullptr) continue;
    if (preview->jpeg == nullptr) throw_dng_code(dng_code_unknown);
    auto ifd = std::make_unique<dng_ifd>();
    ifd->new_subfile_type = 1;
    ifd->image_width = preview->width;
    ifd->image_length = preview->height;
    ifd->samples_per_pixel = preview->photometric == kPhotometricBlackIsZero ? 1 : 3;
    for (uint32_t p = 0; p < ifd->samples_per_pixel; ++p) ifd->bits_per_sample[p] = 8;
    ifd->photometric_interpretation = preview->photometric;
    ifd->compression = kCompressionJPEG;
    ifd->predictor = 1;
    ifd->UseSingleTile();
    auto directory = std::make_unique<tag_directory>();
    preview_tags.push_back(std::make_unique<jpeg_tag_set>(*directory, *ifd, *preview));
    preview_ifds.push_back(std::move(ifd));
    preview_directories.push_back(std::move(directory));
  }

  uint32_t sub_ifds[3] = {};
  const tag_uint32_ptr sub_ifds_tag(330, sub_ifds, uint32_t(1 + preview_directories.size()));
  ifd0.Insert(&sub_ifds_tag);

  // Offsets: IFD 0, the raw IFD, the previews, EXIF, GPS, then the data.
  uint64_t at = 8 + uint64_t(ifd0.ByteSize());
  sub_ifds[0] = checked_u32(at, dng_code_unknown);
  at += raw_directory.ByteSize();
  for (size_t i = 0; i < preview_directories.size(); ++i) {
    sub_ifds[1 + i] = checked_u32(at, dng_code_unknown);
    at += preview_directories[i]->ByteSize();
  }
  exif_group.SetExifOffset(checked_u32(at, dng_code_unknown));
  at += exif_group.ExifDirectory().ByteSize();
  exif_group.SetGpsOffset(checked_u32(at, dng_code_unknown));
  at += exif_group.GpsDirectory().ByteSize();
  stream.SeekForWrite(checked_u32(at, dng_code_unknown));

  // Data: thumbnail, previews, raw image.
  EmitImage(host, thumbnail_ifd, thumbnail_tags, stream, *thumbnail, false, 1);
  for (size_t i = 0; i < preview_tags.size(); ++i) {
    const dng_memory_block& jpeg = *previews[i]->jpeg;
    preview_tags[i]->TileOffsets()[0] = stream.Position();
    preview_tags[i]->TileByteCounts()[0] = jpeg.Size();
    stream.PutBytes(jpeg.Buffer(), jpeg.Size());
    if (jpeg.Size() & 1) stream.PutUInt8(0);
  }
  clamp_limit_ = table_limit;
  scope_exit no_clamp([this] { clamp_limit_ = kNoClamp; });
  EmitImage(host, raw_ifd, raw_tags, stream, *raw, false, merge);

  stream.Resize(stream.Position());
  put_header(stream);
  ifd0.WriteTo(stream);
  raw_directory.WriteTo(stream);
  for (const auto& directory : preview_directories) directory->WriteTo(stream);
  exif_group.ExifDirectory().WriteTo(stream);
  exif_group.GpsDirectory().WriteTo(stream);
  stream.FlushBuffer();
}
