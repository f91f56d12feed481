// Runs the negative's XMP metadata rules over arbitrary bytes: the bytes as
// a packet are parsed and exchanged with an empty EXIF, an IPTC record and
// an orientation, the IPTC record is written and read back; the bytes as a
// text go through every XMP text form, whose written form must read back to
// the same written form.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_iptc.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp.h"
#include "dng/parse/dng_xmp_text.h"
#include "dng/parse/xmp_toolkit.h"

namespace {

void Same(const dng_text& first, const dng_text& second, const char* form) {
  if (std::string(first.CStr()) != second.CStr()) {
    std::fprintf(stderr, "%s does not read back: \"%s\" then \"%s\"\n", form, first.CStr(), second.CStr());
    std::abort();
  }
}

void TextForms(const char* text) {
  dng_calendar_time when;
  bool has_time = false;
  dng_text fraction;
  int32_t zone_hours = 0;
  int32_t zone_minutes = 0;
  decode_iso_date(text, &when, &has_time, &fraction, &zone_hours, &zone_minutes);
  const dng_text date = encode_iso_date(when, has_time, fraction.CStr(), zone_hours, zone_minutes);
  decode_iso_date(date.CStr(), &when, &has_time, &fraction, &zone_hours, &zone_minutes);
  Same(date, encode_iso_date(when, has_time, fraction.CStr(), zone_hours, zone_minutes), "ISO date");

  const dng_text version = encode_gps_version(decode_gps_version(text));
  Same(version, encode_gps_version(decode_gps_version(version.CStr())), "GPS version");

  dng_text ref;
  dng_unsigned_ratio coord[3];
  decode_gps_coordinate(text, ref, coord);
  const dng_text coordinate = encode_gps_coordinate(ref, coord);
  decode_gps_coordinate(coordinate.CStr(), ref, coord);
  Same(coordinate, encode_gps_coordinate(ref, coord), "GPS coordinate");

  dng_text stamp;
  dng_unsigned_ratio time[3];
  decode_gps_timestamp(text, stamp, time);
  const dng_text timestamp = encode_gps_timestamp(stamp, time);
  decode_gps_timestamp(timestamp.CStr(), stamp, time);
  Same(timestamp, encode_gps_timestamp(stamp, time), "GPS time stamp");

  dng_unsigned_ratio info[4];
  if (decode_lens_info(text, info)) {
    const dng_text lens = encode_lens_info(info);
    lens_name_from_info(info);
    if (info[0].d != 0 && (!decode_lens_info(lens.CStr(), info) || std::string(encode_lens_info(info).CStr()) != lens.CStr())) {
      std::abort();
    }
  }

  const dng_text hex = encode_fingerprint_hex(decode_fingerprint_hex(text));
  Same(hex, encode_fingerprint_hex(decode_fingerprint_hex(hex.CStr())), "fingerprint");
}

void Metadata(const uint8_t* data, size_t size) {
  dng_host host;
  dng_xmp xmp(default_memory_allocator);
  try {
    xmp.Parse(host, data, static_cast<uint32_t>(size));
  } catch (const dng_exception&) {
    return;
  }
  try {
    dng_exif exif;
    xmp.ExchangeExif(exif, false);
    dng_xmp copy(xmp);
    dng_exif other;
    copy.ExchangeExif(other, true);

    dng_negative negative(default_memory_allocator);
    xmp.ReconcileOrientation(negative, true);
    xmp.BuildIPTCBlock(negative);
    if (negative.IPTCSize() != 0) {
      dng_iptc back;
      back.LoadBlock(negative.IPTCBytes(), negative.IPTCSize(), dng_no_iptc_offset);
      xmp.VerifyIPTCFingerprint(negative, true);
    }
  } catch (const dng_exception&) {
    // Metadata writes may fail on texts the toolkit refuses.
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TextForms(text.c_str());
  try {
    xmp_toolkit_initialize(nullptr);
  } catch (const dng_exception&) {
    return 0;
  }
  Metadata(data, size);
  xmp_toolkit_terminate();
  return 0;
}
