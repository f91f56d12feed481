// The negative's operations that need the rendering and writing types: its
// dng_color_spec and the small TIFF that carries its EXIF metadata.
// They replace the parse library's stand-ins wherever this library is
// linked (its CMake target asks the linker for both symbols).
#include <memory>

#include "dng/core/dng_memory_stream.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_negative.h"
#include "dng/render/dng_color_spec.h"
#include "dng/render/dng_exif_tag_group.h"
#include "dng/render/dng_tag_sets.h"
#include "dng/render/dng_tiff_tags.h"

std::unique_ptr<dng_color_spec> dng_negative::NewColorSpec() const {
  return std::make_unique<dng_color_spec>(*this, AttachedProfile());
}

std::unique_ptr<dng_memory_block> dng_negative::MakeExifTiffBlock(const dng_pixel_density* resolution,
                                                                  bool include_iptc) const {
  dng_memory_stream stream(Allocator(), nullptr, 65536);
  tag_directory ifd0;

  const resolution_tag_set resolution_tags(ifd0, resolution);
  std::unique_ptr<tag_iptc> iptc;
  if (include_iptc && IPTCSize() != 0) {
    iptc = std::make_unique<tag_iptc>(IPTCBytes(), IPTCSize());
    ifd0.Insert(iptc.get());
  }
  const dng_exif fresh;
  const dng_exif& exif = GetExif() != nullptr ? *GetExif() : fresh;
  const dng_memory_block* maker_note = MakerNote();
  exif_tag_group group(ifd0, exif, IsMakerNoteSafe(), maker_note != nullptr ? maker_note->Buffer() : nullptr,
                       maker_note != nullptr ? maker_note->Size() : 0, false);

  const uint32_t exif_at = 8 + ifd0.ByteSize();
  const uint32_t gps_at = exif_at + group.ExifDirectory().ByteSize();
  group.SetExifOffset(exif_at);
  group.SetGpsOffset(gps_at);
  stream.SeekForWrite(0);
  stream.PutUInt16(stream.IsByteSwapped() ? 0x4D4D : 0x4949);
  stream.PutUInt16(42);
  stream.PutUInt32(8);
  ifd0.WriteTo(stream);
  group.ExifDirectory().WriteTo(stream);
  group.GpsDirectory().WriteTo(stream);
  stream.FlushBuffer();
  stream.Resize(stream.Position());
  return std::unique_ptr<dng_memory_block>(stream.CopyToMemoryBlock(Allocator()));
}
