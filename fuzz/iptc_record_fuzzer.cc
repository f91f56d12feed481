// Reads arbitrary bytes as an IPTC block, writes the record back and reads
// the written block again. The written block must be a well-formed run of
// datasets whose counts add up to its length, and reading it must not fail.
// When the first read completed (a truncated dataset ends it with 100011
// before the date is checked), the second gives back the urgency, the
// date, the time and the zone unchanged.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/parse/dng_iptc.h"

namespace {

void check(bool condition) {
  if (!condition) __builtin_trap();
}

// Every dataset starts with the marker and a count that stays inside the
// block; the last one ends exactly at the block's end. Fixed-size datasets
// have their sizes.
void check_well_formed(const uint8_t* bytes, uint32_t length) {
  uint64_t position = 0;
  while (position < length) {
    check(position + 5 <= length);
    check(bytes[position] == 0x1C);
    const uint8_t record = bytes[position + 1];
    const uint8_t dataset = bytes[position + 2];
    const uint32_t count = (uint32_t{bytes[position + 3]} << 8) | bytes[position + 4];
    if (record == 2 && dataset == 10) check(count == 1);
    if (record == 2 && dataset == 55) check(count == 8);
    if (record == 2 && dataset == 60) check(count == 11);
    position += 5 + uint64_t{count};
    check(position <= length);
  }
}

bool same_time(const dng_calendar_time& a, const dng_calendar_time& b) {
  return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
         a.second == b.second;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > 1 << 20) return 0;
  dng_iptc first;
  bool complete = true;
  try {
    first.LoadBlock(data, static_cast<uint32_t>(size), 0);
  } catch (const dng_exception& e) {
    check(e.Code() == dng_code_end_of_file);
    complete = false;
  }

  std::unique_ptr<dng_memory_block> block = first.SaveBlock(default_memory_allocator);
  check(block != nullptr);
  check_well_formed(block->Buffer_uint8(), block->Size());

  dng_iptc second;
  second.LoadBlock(block->Buffer(), block->Size(), 0xFFFFFFFF);
  if (!complete) return 0;
  check(second.urgency == first.urgency);
  check(second.has_time == first.has_time);
  check(second.zone_minutes == first.zone_minutes);
  if (first.date_created.InRange()) {
    if (first.has_time) {
      check(same_time(second.date_created, first.date_created));
    } else {
      check(second.date_created.year == first.date_created.year);
      check(second.date_created.month == first.date_created.month);
      check(second.date_created.day == first.date_created.day);
    }
  } else {
    check(!second.date_created.InRange());
  }
  check(second.keywords.Count() <= first.keywords.Count());
  check(second.supplemental_categories.Count() <= first.supplemental_categories.Count());
  return 0;
}
