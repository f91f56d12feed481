// The printing walk of a Canon CIFF heap: blocks of records, each block
// ending in the offset of its directory, records naming their data by
// offset and length within the block or holding 8 bytes themselves, and
// sub-blocks nested inside their parent.
#include "examine/ciff_walk.h"

#include <cstring>
#include <new>
#include <string>

#include "examine/byte_reader.h"
#include "examine/examiner.h"
#include "examine/limits.h"
#include "examine/tag_def.h"

namespace {

using examine_limits::kMaxCiffNestingDepth;
using examine_limits::kMaxCiffRecords;
using examine_limits::kMaxCiffValueBytes;
using Status = FileSource::Status;

// Failure texts of the walk's own guards (the read and seek texts are
// inline below).
constexpr const char* kOutsideParentText = "CIFF sub-block lies outside its parent block";
constexpr const char* kTooDeepText = "CIFF blocks nested too deeply";
constexpr const char* kTooManyRecordsText = "Too many CIFF records";
constexpr const char* kTooMuchDataText = "Too much CIFF record data";

constexpr size_t kRecordSize = 10;

// Parts of a record's tag word.
constexpr uint16_t kLocationMask = 0xC000;
constexpr uint16_t kLocationElsewhere = 0x0000;  // length and offset in the record
constexpr uint16_t kLocationInRecord = 0x4000;   // 8 data bytes in the record
constexpr uint16_t kTypeMask = 0x3800;
constexpr uint16_t kTagMask = 0x3FFF;

bool is_sub_block_type(uint16_t type) { return type == 0x2800 || type == 0x3000; }

// Names of the 16-bit (or, for ImageInfo, 32-bit) elements of the records
// printed element by element.
constexpr const char* kShotInfoNames[] = {
    "Size",          "AutoISO",           "BaseISO",          "MeasuredEV",
    "TargetAperture", "TargetExposureTime", "ExposureCompensation", "WhiteBalance",
    "SlowShutter",   "SequenceNumber",    "OpticalZoomCode",  "?",
    "?",             "FlashGuideNumber",  "AFPointsUsed2",    "FlashExposureComp",
    "AutoExposureBracketing", "AEBBracketValue", "?",         "FocusDistanceUpper",
    "FocusDistanceLower", "FNumber",      "ExposureTime",     "?",
    "BulbDuration",  "?",                 "CameraType",       "AutoRotate",
    "NDFilter",      "Self-timer2"};
static_assert(std::size(kShotInfoNames) == 30);

constexpr const char* kCameraSettingsNames[] = {
    "Size",         "MacroMode",        "Self-timer",      "Quality",        "CanonFlashMode",
    "ContinuousDrive", "?",             "FocusMode",       "?",              "RecordMode",
    "CanonImageSize", "EasyMode",       "DigitalZoom",     "Contrast",       "Saturation",
    "Sharpness",    "CameraISO",        "MeteringMode",    "FocusRange",     "AFPoint",
    "CanonExposureMode", "?",           "LensType",        "LongFocal",      "ShortFocal",
    "FocalUnits",   "MaxAperture",      "MinAperture",     "FlashActivity",  "FlashBits",
    "?",            "?",                "FocusContinuous", "AESetting",      "ImageStabilization",
    "DisplayAperture", "ZoomSourceWidth", "ZoomTargetWidth", "?",            "?",
    "PhotoEffect",  "?",                "ColorTone"};
static_assert(std::size(kCameraSettingsNames) == 43);

constexpr const char* kSensorInfoNames[] = {
    "Size",       "SensorWidth",     "SensorHeight",     "?",                 "?",
    "SensorLeftBorder", "SensorTopBorder", "SensorRightBorder", "SensorBottomBorder"};
static_assert(std::size(kSensorInfoNames) == 9);

constexpr const char* kImageInfoNames[] = {"ImageWidth", "ImageHeight ", "PixelAspectRatio", "Rotation",
                                           "ComponentBitDepth", "ColorBitDepth", "ColorBW"};
static_assert(std::size(kImageInfoNames) == 7);

// How a record is printed, by its tag.
enum class Row {
  none,            // nothing
  make_model,      // two strings one after the other
  artist,          // a string, also the summary item Artist
  text,            // a string
  iso,             // the first 16-bit value, also the summary item ISOSpeedRatings
  short_value,     // the first 16-bit value
  four_shorts,     // the first four 16-bit values
  short_elements,  // every 16-bit value with its element name
  size_only,       // the data length
  long_value,      // the first 32-bit value
  time_stamp,      // a UTC time, a time zone code and information
  long_elements,   // every 32-bit value with its element name
};

Row row_of(uint32_t tag) {
  switch (tag) {
    case 2058: return Row::make_model;
    case 2064: return Row::artist;
    case 2053: case 2059: case 2060: case 2061: case 2069: case 2070: case 2071: return Row::text;
    case 4124: return Row::iso;
    case 4106: case 4112: case 4113: case 4118: case 4270: case 4276: return Row::short_value;
    case 4136: case 4137: return Row::four_shorts;
    case 4138: case 4141: case 4145: return Row::short_elements;
    case 4140: case 4144: case 4147: case 4152: case 4153: case 4243: case 4264: case 4265: case 4266:
    case 4277: case 4288: case 4289: case 6163: case 6168: case 6197:
      return Row::size_only;
    case 6147: case 6148: case 6150: case 6151: case 6155: case 6164: case 6167: case 6196: case 6203:
      return Row::long_value;
    case 6158: return Row::time_stamp;
    case 6160: return Row::long_elements;
    default: return Row::none;
  }
}

// The data bytes a row prints from; SIZE_MAX for all of them.
size_t bytes_printed(Row row) {
  switch (row) {
    case Row::none:
    case Row::size_only: return 0;
    case Row::iso:
    case Row::short_value: return 2;
    case Row::four_shorts: return 8;
    case Row::long_value: return 4;
    case Row::time_stamp: return 12;
    default: return SIZE_MAX;
  }
}

struct ElementNames {
  const char* const* names;
  size_t count;
};

ElementNames element_names(uint32_t tag) {
  switch (tag) {
    case 4138: return {kShotInfoNames, std::size(kShotInfoNames)};
    case 4141: return {kCameraSettingsNames, std::size(kCameraSettingsNames)};
    case 4145: return {kSensorInfoNames, std::size(kSensorInfoNames)};
    default: return {kImageInfoNames, std::size(kImageInfoNames)};
  }
}

// The string at from in data: up to its zero byte or the end of the data.
std::string text_at(const uint8_t* data, size_t length, size_t from) {
  if (from >= length) return std::string();
  const char* text = reinterpret_cast<const char*>(data + from);
  return std::string(text, strnlen(text, length - from));
}

// What one walk has spent, over all its blocks.
struct CiffWalk {
  ExaminerState* state;
  uint32_t records = 0;
  uint64_t value_bytes = 0;
};

// Prints one record of the given tag from the first held bytes of its data
// (length bytes in the file); only values the held bytes contain appear.
void print_record(ExaminerState* state, uint32_t tag, Row row, const uint8_t* data, size_t held,
                  uint32_t length) {
  const PrintFn print = state->print;
  const char* name = tag_def_CRW_name(static_cast<int32_t>(tag));
  const int size = static_cast<int32_t>(length);
  char number[16];
  switch (row) {
    case Row::none:
      break;
    case Row::make_model: {
      const std::string make = text_at(data, held, 0);
      const std::string model = make.size() < held ? text_at(data, held, make.size() + 1) : std::string();
      summary_append(state, static_cast<int32_t>(tag), 2, 0, length, 0, "Make", make.c_str());
      summary_append(state, static_cast<int32_t>(tag), 2, 0, length, 0, "Model", model.c_str());
      print("\t\t%s: %s - %s\n", name, make.c_str(), model.c_str());
      break;
    }
    case Row::artist:
    case Row::text: {
      const std::string text = text_at(data, held, 0);
      if (row == Row::artist) summary_append(state, static_cast<int32_t>(tag), 2, 0, length, 0, "Artist", text.c_str());
      print("\t\t%s: %s\n", name, text.c_str());
      break;
    }
    case Row::iso:
    case Row::short_value:
      if (held < 2) {
        print("\t\t%s: [NULL]\n", name);
        break;
      }
      if (row == Row::iso) {
        snprintf(number, sizeof number, "%d", int{get_u16(data, false)});
        summary_append(state, static_cast<int32_t>(tag), 3, get_u16(data, false), length, 0, "ISOSpeedRatings",
                       number);
      }
      print("\t\t%s: %d\n", name, int{get_u16(data, false)});
      break;
    case Row::four_shorts: {
      const size_t values = std::min<size_t>(4, held / 2);
      print("\t\t%s:", name);
      if (values == 0) print(" [NULL]");
      for (size_t i = 0; i < values; ++i) print(" %d", int{get_u16(data + 2 * i, false)});
      print("\n");
      if (tag == 4137 && values >= 2) {
        snprintf(number, sizeof number, "%dmm", int{get_u16(data + 2, false)});
        summary_append(state, static_cast<int32_t>(tag), 3, get_u16(data + 2, false), length, 0, "FocalLength",
                       number);
      }
      break;
    }
    case Row::short_elements:
    case Row::long_elements: {
      const ElementNames list = element_names(tag);
      const size_t width = row == Row::short_elements ? 2 : 4;
      print("\t\t%s (size=%d):\n", name, size);
      for (size_t i = 0; i < held / width; ++i) {
        const char* element = i < list.count ? list.names[i] : "?";
        const uint8_t* p = data + width * i;
        const int value = width == 2 ? int{get_u16(p, false)} : static_cast<int32_t>(get_u32(p, false));
        print("\t\t\t%s: %d\n", element, value);
      }
      break;
    }
    case Row::size_only:
      print("\t\t%s (size=%d):\n", name, size);
      break;
    case Row::long_value:
      if (held < 4) {
        print("\t\t%s: [NULL]\n", name);
      } else {
        print("\t\t%s: %d\n", name, static_cast<int32_t>(get_u32(data, false)));
      }
      break;
    case Row::time_stamp: {
      print("\t\t%s:\n", name);
      if (held >= 4) {
        char when[64];
        format_utc_time(when, sizeof when, "%Y:%m:%d %H:%M:%S", static_cast<time_t>(get_u32(data, false)));
        print("\t\t\tDateTimeOriginal: %s\n", when);
        summary_append(state, static_cast<int32_t>(tag), 4, get_u32(data, false), length, 0, "DateTimeOriginal", when);
      }
      if (held >= 8) print("\t\t\tTimeZoneCode: %d\n", static_cast<int32_t>(get_u32(data + 4, false)));
      if (held >= 12) print("\t\t\tTimeZoneInfo: %u\n", get_u32(data + 8, false));
      break;
    }
  }
}

bool walk_block(CiffWalk* walk, TV_IFD_CRW* block, uint64_t start, uint64_t length, const std::string& label,
                int depth) {
  ExaminerState* state = walk->state;
  FileSource& source = state->source;
  block->block_start = start;
  block->block_length = length;
  if (depth > kMaxCiffNestingDepth) return state->fail(kTooDeepText);

  // The block's last 4 bytes give its directory, relative to its start.
  uint8_t field[4];
  if (length < sizeof field) return state->fail("Seek error (to end of block) - file may be short");
  switch (source.read_at(start + length - sizeof field, field, sizeof field)) {
    case Status::seek_failed: return state->fail("Seek error (to end of block) - file may be short");
    case Status::short_read: return state->fail("Read error - file may be short (reading DirStart)");
    case Status::ok: break;
  }
  const uint64_t directory = start + get_u32(field, false);
  uint8_t count_bytes[2];
  switch (source.read_at(directory, count_bytes, sizeof count_bytes)) {
    case Status::seek_failed: return state->fail("Seek error (to DirStart) - file may be short");
    case Status::short_read: return state->fail("Read error - file may be short (reading num_entries)");
    case Status::ok: break;
  }
  const uint32_t count = get_u16(count_bytes, false);
  block->directory_start = directory;
  block->record_count = count;
  state->print("\n%s Directory Block at offset %d (%d entries)\n", label.c_str(), static_cast<int32_t>(start),
               static_cast<int>(count));
  if (count == 0) return true;
  if (count > kMaxCiffRecords - walk->records) return state->fail(kTooManyRecordsText);
  walk->records += count;

  // The records in one read; the first one the file lacks fails below, after
  // the records before it were printed.
  std::vector<uint8_t> records(kRecordSize * count);
  bool seek_ok;
  const size_t got = source.read_some_at(directory + 2, records.data(), records.size(), &seek_ok);

  for (uint32_t i = 0; i < count; ++i) {
    if (!seek_ok || got < kRecordSize * (i + 1)) {
      return state->fail("Read error - file may be short (reading directory entry)");
    }
    const uint8_t* record = records.data() + kRecordSize * i;
    const uint16_t word = get_u16(record, false);
    const uint16_t location = word & kLocationMask;
    const uint16_t type = word & kTypeMask;
    const uint32_t tag = word & kTagMask;

    if (location == kLocationInRecord) {
      print_record(state, tag, row_of(tag), record + 2, 8, 8);
      continue;
    }
    if (location != kLocationElsewhere) return state->fail("Read error - invalid DataLocation value");

    const uint32_t data_length = get_u32(record + 2, false);
    const uint32_t data_offset = get_u32(record + 6, false);
    if (is_sub_block_type(type)) {
      // A sub-block lies inside its parent and is smaller than it, so the
      // nesting ends however the records point.
      if (data_offset >= length || data_length > length - data_offset || data_length >= length) {
        return state->fail(kOutsideParentText);
      }
      block->sub_blocks.push_back(std::make_unique<TV_IFD_CRW>(state));
      const std::string name = tag_def_CRW_name(static_cast<int32_t>(tag));
      if (!walk_block(walk, block->sub_blocks.back().get(), start + data_offset, data_length, name, depth + 1)) {
        return false;
      }
      continue;
    }

    const uint64_t at = start + data_offset;
    if (!source.has_range(at, data_length)) return state->fail("Read error - file may be short (reading value)");
    const Row row = row_of(tag);
    // Only what the dump shows is read: never the image data.
    const size_t wanted = std::min<uint64_t>(data_length, bytes_printed(row));
    if (wanted > kMaxCiffValueBytes - walk->value_bytes) return state->fail(kTooMuchDataText);
    walk->value_bytes += wanted;
    if (wanted > 0) {
      try {
        if (state->scratch.size() < wanted) state->scratch.resize(wanted);
      } catch (const std::bad_alloc&) {
        return state->fail("Out of memory");
      }
      switch (source.read_at(at, state->scratch.data(), wanted)) {
        case Status::seek_failed: return state->fail("Seek error (for value) - file may be short");
        case Status::short_read: return state->fail("Read error - file may be short (reading value)");
        case Status::ok: break;
      }
    }
    print_record(state, tag, row, state->scratch.data(), wanted, data_length);
  }
  return true;
}

}  // namespace

TV_IFD_CRW::~TV_IFD_CRW() = default;

bool TV_IFD_CRW::walk(uint32_t header_length, const char* label, bool stop_after_exif, bool summary,
                      bool hide_maker_note) {
  // The heap runs from the end of the header to the end of the file.
  if (!state->source.size_known()) return fail("Seek error (to end of block) - file may be short");
  const uint64_t size = state->source.size();
  const uint64_t length = size > header_length ? size - header_length : 0;
  return crw_walk_block(this, header_length, length, label, stop_after_exif, summary, hide_maker_note);
}

bool crw_walk_block(TV_IFD_CRW* block, uint64_t block_start, uint64_t block_length, const char* label, bool,
                    bool, bool) {
  CiffWalk walk{block->state};
  return walk_block(&walk, block, block_start, block_length, label != nullptr ? label : "", 0);
}
