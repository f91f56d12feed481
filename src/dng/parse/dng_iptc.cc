#include "dng/parse/dng_iptc.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_memory_stream.h"
#include "dng/core/dng_stream.h"

namespace {

constexpr uint8_t kMarker = 0x1C;
constexpr uint32_t kDatasetHeaderBytes = 5;  // marker, record, dataset, count
constexpr uint32_t kPageSize = 2048;

// Record 1 dataset 90 with these bytes marks the texts as UTF-8.
constexpr uint8_t kUTF8Marker[3] = {27, '%', 'G'};

// Record-2 text datasets and the field each fills, in the order SaveBlock
// writes them after the dates, with the most bytes written back.
struct TextDataset {
  uint8_t dataset;
  dng_text dng_iptc::*field;
  uint32_t limit;
};

constexpr TextDataset kTrailingTexts[] = {
    {80, &dng_iptc::author, 32},
    {85, &dng_iptc::authors_position, 32},
    {90, &dng_iptc::city, 32},
    {92, &dng_iptc::location, 32},
    {95, &dng_iptc::state, 32},
    {100, &dng_iptc::country_code, 3},
    {101, &dng_iptc::country, 64},
    {103, &dng_iptc::transmission_reference, 32},
    {105, &dng_iptc::headline, 255},
    {110, &dng_iptc::credit, 32},
    {115, &dng_iptc::source, 32},
    {116, &dng_iptc::copyright, 128},
    {120, &dng_iptc::caption, 2000},
    {122, &dng_iptc::caption_writer, 32},
};

constexpr TextDataset kLeadingTexts[] = {
    {5, &dng_iptc::title, 64},
    {15, &dng_iptc::category, 3},
    {40, &dng_iptc::instructions, 255},
};

constexpr uint8_t kCountryCodeDataset = 100;

// The text field that a record-2 dataset fills, or null.
dng_text* text_field(dng_iptc& record, uint8_t dataset) {
  for (const TextDataset& d : kLeadingTexts) {
    if (d.dataset == dataset) return &(record.*d.field);
  }
  for (const TextDataset& d : kTrailingTexts) {
    if (d.dataset == dataset) return &(record.*d.field);
  }
  return nullptr;
}

// Reads count bytes (the dataset's data) into a zero-terminated buffer of
// count + 1 bytes; count comes from a 16-bit field.
void read_terminated(dng_stream& stream, char* buffer, uint32_t count) {
  stream.GetBytes(buffer, count);
  buffer[count] = '\0';
}

void put_header(dng_stream& stream, uint8_t record, uint8_t dataset, uint16_t count) {
  stream.PutUInt8(kMarker);
  stream.PutUInt8(record);
  stream.PutUInt8(dataset);
  stream.PutUInt16(count);
}

// One record-2 dataset holding exactly the formatted bytes; nothing when the
// formatting does not give `expected` characters.
template <class... Args>
void put_formatted(dng_stream& stream, uint8_t dataset, uint32_t expected, const char* format, Args... args) {
  char buffer[16];
  int length = std::snprintf(buffer, sizeof buffer, format, args...);
  if (length < 0 || static_cast<uint32_t>(length) != expected) return;
  put_header(stream, 2, dataset, static_cast<uint16_t>(expected));
  stream.PutBytes(buffer, expected);
}

// sscanf's %u takes a sign and wraps a negative number; such a value does
// not fit the digits it was read from and fails the read.
bool fits(unsigned value, unsigned digits) { return value < (digits == 4 ? 10000u : 100u); }

bool zone_in_range(int32_t zone) { return zone >= -dng_iptc_zone_limit && zone <= dng_iptc_zone_limit; }

// Dataset 10: one ASCII digit. The stream is at the dataset's count.
void read_urgency(dng_stream& stream, uint32_t count, dng_iptc& record) {
  stream.GetUInt16();
  if (count != 1) return;
  uint8_t digit = stream.GetUInt8();
  if (digit >= '0' && digit <= '9') record.urgency = digit - '0';
}

// Dataset 55: "CCYYMMDD".
void read_date(dng_stream& stream, uint32_t count, dng_iptc& record) {
  stream.GetUInt16();
  if (count != 8) return;
  char text[9];
  read_terminated(stream, text, 8);
  unsigned year = 0, month = 0, day = 0;
  if (std::sscanf(text, "%4u%2u%2u", &year, &month, &day) != 3) return;
  if (!fits(year, 4) || !fits(month, 2) || !fits(day, 2)) return;
  record.date_created.year = year;
  record.date_created.month = month;
  record.date_created.day = day;
}

// Dataset 60: "HHMMSS" and the zone "+HHMM" or "-HHMM".
void read_time(dng_stream& stream, uint32_t count, dng_iptc& record) {
  stream.GetUInt16();
  if (count != 11) return;
  char text[12];
  read_terminated(stream, text, 11);
  const char sign = text[6];
  if (sign != '+' && sign != '-') return;
  char time_text[7];
  char zone_text[5];
  std::memcpy(time_text, text, 6);
  time_text[6] = '\0';
  std::memcpy(zone_text, text + 7, 4);
  zone_text[4] = '\0';
  unsigned hour = 0, minute = 0, second = 0, zone_hours = 0, zone_mins = 0;
  if (std::sscanf(time_text, "%2u%2u%2u", &hour, &minute, &second) != 3) return;
  if (std::sscanf(zone_text, "%2u%2u", &zone_hours, &zone_mins) != 2) return;
  if (!fits(hour, 2) || !fits(minute, 2) || !fits(second, 2) || !fits(zone_hours, 2) || !fits(zone_mins, 2)) return;
  record.date_created.hour = hour;
  record.date_created.minute = minute;
  record.date_created.second = second;
  record.has_time = true;
  const int32_t zone = static_cast<int32_t>(zone_hours * 60 + zone_mins);
  record.zone_minutes = sign == '-' ? -zone : zone;
}

}  // namespace

bool dng_iptc::HasNoFields() const {
  for (const TextDataset& d : kLeadingTexts) {
    if (!(this->*d.field).Empty()) return false;
  }
  for (const TextDataset& d : kTrailingTexts) {
    if (!(this->*d.field).Empty()) return false;
  }
  return supplemental_categories.Count() == 0 && keywords.Count() == 0 && urgency < 0 && !date_created.InRange();
}

void dng_iptc::ReadDatasetText(dng_stream& stream, dng_text& text, bool utf8) {
  uint32_t count = stream.GetUInt16();
  dng_heap_buffer buffer(count + 1);
  read_terminated(stream, buffer.Buffer_char(), count);
  if (utf8) {
    text.Assign(buffer.Buffer_char());
  } else {
    text.AssignSystemCodePage(buffer.Buffer_char());
  }
  text.NormalizeLineEnds('\n');
  text.DropControlChars();
  text.StripTrailingSpaces();
}

void dng_iptc::WriteDatasetText(dng_stream& stream, const dng_text& text, uint8_t dataset, uint32_t limit) {
  if (text.Empty()) return;
  dng_text copy(text);
  copy.NormalizeLineEnds('\r');
  copy.LimitBytes(limit);
  uint32_t length = copy.ByteLength();
  put_header(stream, 2, dataset, static_cast<uint16_t>(length));
  stream.PutBytes(copy.CStr(), length);
}

void dng_iptc::LoadBlock(const void* bytes, uint32_t length, uint32_t offset) {
  dng_stream stream(bytes, length, static_cast<int32_t>(offset));
  stream.SetByteSwapped(true);  // big-endian
  bool utf8 = false;
  uint64_t position = 0;
  while (position + kDatasetHeaderBytes < length) {
    stream.SeekForRead(static_cast<uint32_t>(position));
    if (stream.GetUInt8() != kMarker) break;
    uint8_t record = stream.GetUInt8();
    uint8_t dataset = stream.GetUInt8();
    uint32_t count = stream.GetUInt16();
    uint64_t next = position + kDatasetHeaderBytes + count;

    if (record == 1) {
      if (dataset == 90 && count == sizeof kUTF8Marker) {
        uint8_t data[sizeof kUTF8Marker];
        stream.GetBytes(data, sizeof data);
        if (std::memcmp(data, kUTF8Marker, sizeof data) == 0) utf8 = true;
      }
    } else if (record == 2) {
      stream.SeekForRead(static_cast<uint32_t>(position) + 3);  // back to the count
      if (dng_text* field = text_field(*this, dataset)) {
        ReadDatasetText(stream, *field, utf8);
      } else if (dataset == 20 || dataset == 25) {
        dng_text item;
        ReadDatasetText(stream, item, utf8);
        if (!item.Empty()) (dataset == 20 ? supplemental_categories : keywords).Append(item);
      } else if (dataset == 10) {
        read_urgency(stream, count, *this);
      } else if (dataset == 55) {
        read_date(stream, count, *this);
      } else if (dataset == 60) {
        read_time(stream, count, *this);
      }
    }
    position = next;
  }

  if (!date_created.InRange()) {
    date_created.SetNone();
    has_time = false;
    zone_minutes = 0;
  }
  if (!zone_in_range(zone_minutes)) {
    has_time = false;
    zone_minutes = 0;
  }
}

std::unique_ptr<dng_memory_block> dng_iptc::SaveBlock(dng_memory_allocator& allocator) const {
  dng_memory_stream stream(allocator, nullptr, kPageSize);
  stream.SetByteSwapped(true);  // big-endian

  put_header(stream, 1, 90, sizeof kUTF8Marker);
  stream.PutBytes(kUTF8Marker, sizeof kUTF8Marker);
  put_header(stream, 2, 0, 2);
  stream.PutUInt16(2);  // record version

  WriteDatasetText(stream, title, 5, 64);
  if (urgency >= 0 && urgency <= 9) put_formatted(stream, 10, 1, "%1u", static_cast<unsigned>(urgency));
  WriteDatasetText(stream, category, 15, 3);
  for (uint32_t i = 0; i < supplemental_categories.Count(); ++i) {
    WriteDatasetText(stream, supplemental_categories[i], 20, 32);
  }
  for (uint32_t i = 0; i < keywords.Count(); ++i) WriteDatasetText(stream, keywords[i], 25, 64);
  WriteDatasetText(stream, instructions, 40, 255);

  if (date_created.InRange()) {
    put_formatted(stream, 55, 8, "%04u%02u%02u", date_created.year, date_created.month, date_created.day);
    // A zone beyond the range that LoadBlock keeps is not written, and
    // neither is the time that goes with it.
    if (has_time && zone_in_range(zone_minutes)) {
      uint32_t zone = static_cast<uint32_t>(std::abs(zone_minutes));
      put_formatted(stream, 60, 11, "%02u%02u%02u%c%02u%02u", date_created.hour, date_created.minute,
                    date_created.second, zone_minutes >= 0 ? '+' : '-', zone / 60, zone % 60);
    }
  }

  for (const TextDataset& d : kTrailingTexts) {
    const dng_text& text = this->*d.field;
    if (d.dataset == kCountryCodeDataset && text.ByteLength() != 3) continue;
    WriteDatasetText(stream, text, d.dataset, d.limit);
  }

  stream.FlushBuffer();
  return std::unique_ptr<dng_memory_block>(stream.CopyToMemoryBlock(allocator));
}
