// The IPTC-NAA record of an image (record 2 of the Information Interchange
// Model): its fields as texts, lists and a date-time, read from and written
// back to an IPTC block.
#pragma once

#include <cstdint>
#include <memory>

#include "dng/core/dng_date_time.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"

class dng_memory_allocator;
class dng_memory_block;
class dng_stream;

// A plain record: made empty, filled once (LoadBlock or the XMP sync),
// possibly written (SaveBlock), destroyed by its user. One thread.
//
// Block format: datasets of the marker 0x1C, the record and dataset numbers
// (one byte each), a 16-bit big-endian count and that many bytes. Texts in
// the record are UTF-8.
class dng_iptc {
 public:
  dng_iptc() = default;
  virtual ~dng_iptc() = default;
  dng_iptc(const dng_iptc&) = delete;
  dng_iptc& operator=(const dng_iptc&) = delete;

  // The fields, each with its dataset number and the most bytes written.
  dng_text title;                          // 5, 64
  int32_t urgency = -1;                    // 10, one digit; negative: none
  dng_text category;                       // 15, 3
  dng_text_list supplemental_categories;   // 20 per item, 32 each
  dng_text_list keywords;                  // 25 per item, 64 each
  dng_text instructions;                   // 40, 255
  dng_calendar_time date_created;          // 55 (date) and 60 (time)
  bool has_time = false;                   // dataset 60 set the time
  int32_t zone_minutes = 0;                // east of UTC, from dataset 60
  dng_text author;                         // 80, 32
  dng_text authors_position;               // 85, 32
  dng_text city;                           // 90, 32
  dng_text state;                          // 95, 32
  dng_text country;                        // 101, 64
  dng_text country_code;                   // 100, written only when 3 bytes
  dng_text location;                       // 92, 32
  dng_text transmission_reference;         // 103, 32
  dng_text headline;                       // 105, 255
  dng_text credit;                         // 110, 32
  dng_text source;                         // 115, 32
  dng_text copyright;                      // 116, 128
  dng_text caption;                        // 120, 2000
  dng_text caption_writer;                 // 122, 32

  // Every text and both lists empty, no urgency and no valid date-time.
  bool HasNoFields() const;

  // Fills a fresh record from the block (length bytes; offset is the
  // block's position in its file, 0xFFFFFFFF when none). A dataset whose
  // count runs past the end raises 100011; a byte other than the marker
  // where a dataset should start ends the parse without error; malformed
  // urgencies, dates and times are ignored field by field. A date-time
  // that is not in range is cleared with its time and zone, and a zone
  // outside -780..780 minutes is dropped with the time.
  void LoadBlock(const void* bytes, uint32_t length, uint32_t offset);

  // The record as a new block from the allocator: the UTF-8 marker, the
  // record version, then the fields in dataset order. 100005 when memory
  // runs out.
  std::unique_ptr<dng_memory_block> SaveBlock(dng_memory_allocator& allocator) const;

  // Reads a text dataset's count and bytes at the stream's position (the
  // count): UTF-8 when the marker was seen, else the system code page; line
  // ends become LF, control bytes go, trailing spaces are stripped.
  static void ReadDatasetText(dng_stream& stream, dng_text& text, bool utf8);

  // Writes one record-2 text dataset; nothing for an empty text. Line ends
  // become CR and the text is cut to `limit` bytes without splitting a UTF-8
  // sequence.
  static void WriteDatasetText(dng_stream& stream, const dng_text& text, uint8_t dataset, uint32_t limit);
};

// Zones that the record keeps: at most 13 hours either side of UTC.
inline constexpr int32_t dng_iptc_zone_limit = 780;
