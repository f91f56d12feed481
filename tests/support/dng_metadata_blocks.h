// Metadata blocks that a camera or converter puts in a DNG file, added to a
// DngBuilder file: EXIF and GPS directories, a maker note, an IPTC record
// (with or without the UTF-8 marker) and an XMP packet. Header only, so
// tests, benchmarks and fuzz seed writers share it.
#pragma once

#include <cstdint>
#include <string>

#include "support/dng_builder.h"
#include "support/raw_dng_builder.h"

namespace testing_support {

// One IPTC dataset: 0x1C, record, dataset, 16-bit big-endian length, data.
inline std::string iptc_dataset(uint8_t record, uint8_t dataset, const std::string& data) {
  std::string s = {'\x1C', static_cast<char>(record), static_cast<char>(dataset),
                   static_cast<char>(data.size() >> 8), static_cast<char>(data.size() & 0xFF)};
  return s + data;
}

// An IPTC record with a title, keywords, a creation date and time with a
// zone, and a caption; with utf8 the envelope's coded character set marks
// UTF-8 and the caption holds a non-ASCII character.
inline std::string sample_iptc_block(bool utf8) {
  std::string b;
  if (utf8) b += iptc_dataset(1, 90, "\x1B%G");
  b += iptc_dataset(2, 0, std::string("\x00\x04", 2));
  b += iptc_dataset(2, 5, "ABC");
  b += iptc_dataset(2, 25, "harbour");
  b += iptc_dataset(2, 25, "evening");
  b += iptc_dataset(2, 55, "20261210");
  b += iptc_dataset(2, 60, "183000+0100");
  b += iptc_dataset(2, 120, utf8 ? "Caf\xC3\xA9 by the water" : "Cafe by the water");
  return b;
}

inline std::string sample_xmp_packet() {
  return "<?xpacket begin='\xEF\xBB\xBF' id='W5M0MpCehiHzreSzNTczkc9d'?>"
         "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
         "<rdf:Description rdf:about=''"
         " xmlns:dc='http://purl.org/dc/elements/1.1/'"
         " xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
         " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
         " xmp:CreateDate='2026-12-10T18:30:00+01:00' xmp:Rating='3'"
         " photoshop:City='Harbourtown'>"
         "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>ABC</rdf:li></rdf:Alt></dc:title>"
         "<dc:subject><rdf:Bag><rdf:li>harbour</rdf:li><rdf:li>evening</rdf:li></rdf:Bag></dc:subject>"
         "</rdf:Description></rdf:RDF></x:xmpmeta>"
         "<?xpacket end='w'?>";
}

// Adds the EXIF and GPS directories, a maker note, the IPTC record and the
// XMP packet to IFD 0.
inline void add_sample_metadata(DngBuilder& b, bool iptc_utf8 = true) {
  constexpr int kIfd0 = DngBuilder::kIfd0;
  b.add_ascii(kIfd0, 306, "2026:12:10 18:30:00");  // DateTime
  b.add_ascii(kIfd0, 305, "Corvella test writer");  // Software
  const int exif = b.exif_ifd();
  b.add_rational(exif, 33434, {{1, 250}});            // ExposureTime
  b.add_rational(exif, 33437, {{56, 10}});            // FNumber
  b.add_short(exif, 34855, {400});                    // ISOSpeedRatings
  b.add_ascii(exif, 36867, "2026:12:10 18:30:00");    // DateTimeOriginal
  b.add_rational(exif, 37386, {{350, 10}});           // FocalLength
  b.add_undefined(exif, 36864, "0221");               // ExifVersion
  const int gps = b.gps_ifd();
  b.add_byte(gps, 0, {2, 2, 0, 0});                    // GPSVersionID
  b.add_ascii(gps, 1, "N");                            // GPSLatitudeRef
  b.add_rational(gps, 2, {{52, 1}, {30, 1}, {1234, 100}});
  b.add_ascii(gps, 3, "E");                            // GPSLongitudeRef
  b.add_rational(gps, 4, {{13, 1}, {24, 1}, {5678, 100}});
  MakerNoteSpec note;
  note.kind = MakerNoteKind::kNikon;
  b.add_maker_note(note);
  b.add_short(kIfd0, 50741, {1});  // MakerNoteSafety: safe
  b.add_iptc(kIfd0, sample_iptc_block(iptc_utf8));
  b.add_xmp(kIfd0, sample_xmp_packet());
}

// A raw DNG laid out as a camera writes one: CFA RGGB or three-sample
// LinearRaw, uncompressed in strips or lossless JPEG in tiles, a default
// crop that leaves the demosaic its padding, and every metadata block above.
inline RawDngOptions camera_raw_options(uint32_t width, uint32_t height, bool cfa, bool lossless,
                                        uint32_t tile_width = 256, uint32_t tile_length = 256) {
  RawDngOptions o;
  o.width = width;
  o.height = height;
  if (!cfa) o.cfa_rows.clear();
  if (lossless) {
    o.compression = 7;
    o.tile_width = tile_width;
    o.tile_length = tile_length;
  }
  o.default_crop_origin = {{8, 1}, {8, 1}};
  o.default_crop_size = {{width - 16, 1}, {height - 16, 1}};
  o.extra = [](DngBuilder& b) { add_sample_metadata(b); };
  return o;
}

}  // namespace testing_support
