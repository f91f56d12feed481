#include "dng/parse/dng_shared.h"

#include <memory>
#include <new>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_stream.h"

std::unique_ptr<dng_shared> dng_host::NewShared() {
  try {
    return std::make_unique<dng_shared>();
  } catch (const std::bad_alloc&) {
    throw_dng_code(dng_code_memory);
  }
}

bool dng_shared::ReadTag(dng_stream& stream, dng_exif&, uint32_t parent, bool, uint32_t tag, uint32_t type,
                         uint32_t count, uint32_t position, int32_t) {
  if (parent != 0 && parent != 34665) return false;
  if (parent == 0) {
    switch (tag) {
      case 700: xmp_count = count; xmp_position = position; return true;
      case 33424: kodak_dcr_private_ifd = stream.TagValueAsUInt32(type); return true;
      case 33723: iptc_length = count * 4; iptc_position = position; return true;
      case 34665: exif_ifd = stream.TagValueAsUInt32(type); return true;
      case 34853: gps_info = stream.TagValueAsUInt32(type); return true;
      case 50706:
      case 50707: {
        uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = (v << 8) | stream.GetUInt8();
        (tag == 50706 ? dng_version : dng_backward_version) = v;
        return true;
      }
      case 50721:
        if (color_planes == 0) color_planes = count / 3 < 3 ? 3 : count / 3 > 4 ? 4 : count / 3;
        return true;
      case 50740: dng_private_data_count = count; dng_private_data_position = position; return true;
      case 65024: kodak_kdc_private_ifd = stream.TagValueAsUInt32(type); return true;
      default: break;
    }
  }
  if (tag == 37500) {
    maker_note_count = count;
    maker_note_position = position;
    return true;
  }
  if (tag == 40965) {
    interoperability_ifd = stream.TagValueAsUInt32(type);
    return true;
  }
  return false;
}

void dng_shared::FinishParse(dng_host&, dng_exif&) {
  if (dng_version == 0) return;
  if (dng_backward_version == 0) dng_backward_version = dng_version & 0xFFFF0000;
  if (color_planes == 0) color_planes = 1;
}

bool dng_shared::Validate() const {
  if (dng_version < 0x01000000) {
    report_dng_error("Missing or invalid DNGVersion");
    return false;
  }
  if (dng_backward_version > 0x01010000) {
    report_dng_error("DNGBackwardVersion (or DNGVersion) is too high");
    return false;
  }
  return true;
}
