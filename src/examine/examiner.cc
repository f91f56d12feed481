#include "examine/examiner.h"

#include <cstring>

#include "examine/byte_reader.h"
#include "examine/limits.h"
#include "examine/tv_ifd.h"
#include "examine/x3f_walk.h"

ExaminerState::ExaminerState(FILE* f, const char** message_slot, PrintFn print_fn)
    : file(f), message(message_slot), print(print_fn), source(f) {}

ExaminerState::~ExaminerState() { delete first; }

bool ExaminerState::fail(const char* text) {
  *message = text;
  return false;
}

void summary_append(ExaminerState* state, int32_t tag, int type, uint32_t single_value,
                    uint32_t value_length, int kind, const char* name, const char* text) {
  state->summary.items.push_back(
      SummaryItem{tag, type, single_value, value_length, kind, name != nullptr ? name : "", text != nullptr ? text : ""});
}

namespace {

using Status = FileSource::Status;

// Reads n bytes at *position and steps past them; on failure sets the
// message to the text given for a short read (a failed seek gives
// seek_text) and gives false.
bool read_next(ExaminerState* state, uint64_t* position, uint8_t* buffer, size_t n, const char* short_text,
               const char* seek_text) {
  switch (state->source.read_at(*position, buffer, n)) {
    case Status::seek_failed: return state->fail(seek_text);
    case Status::short_read: return state->fail(short_text);
    case Status::ok: break;
  }
  *position += n;
  return true;
}

constexpr const char* kShortHeaderText = "Read error - file may be short (reading header)";

// A JFIF file: prints its APP0 header, then looks for an EXIF segment among
// the next segments. On success header holds that segment's TIFF header and
// the base is set; a scan that finds none leaves header as it was.
bool read_jfif(ExaminerState* state, uint8_t header[8], uint64_t* position) {
  uint8_t app0[12];
  if (!read_next(state, position, app0, sizeof app0, kShortHeaderText, "seek error")) return false;
  const unsigned app0_length = get_u16(header + 4, true);
  state->print("JPEG/JFIF (not TIFF compatible)\n");
  state->print("\tHeader length: %u\n", app0_length);
  state->print("\tVersion: %u.%u\n", unsigned{app0[3]}, unsigned{app0[4]});
  state->print("\tUnits: %u\n", unsigned{app0[5]});
  state->print("\tXdensity: %u\n", unsigned{get_u16(app0 + 6, true)});
  state->print("\tYdensity: %u\n", unsigned{get_u16(app0 + 8, true)});
  state->print("\tXthumbnail: %u\n", unsigned{app0[10]});
  state->print("\tYthumbnail: %u\n", unsigned{app0[11]});
  // The thumbnail would be skipped here; the scan below starts from the
  // APP0 length, so nothing depends on it.

  uint64_t segment = app0_length + 4;
  for (int i = 0; i < examine_limits::kMaxJfifSegments; ++i) {
    uint8_t bytes[10];
    uint64_t at = segment;
    if (!read_next(state, &at, bytes, sizeof bytes, "read error", "seek error")) return false;
    if (bytes[0] == 0xFF && bytes[1] == 0xE1 && memcmp(bytes + 4, "Exif", 4) == 0) {
      state->base = at;
      return read_next(state, &at, header, 8, kShortHeaderText, "seek error");
    }
    if (bytes[5] == 0) break;
    segment += uint64_t{get_u16(bytes + 2, true)} + 2;
  }
  return true;
}

// A Minolta MRW file: the TIFF header follows the block named "\0TTW".
bool read_mrw(ExaminerState* state, uint8_t header[8], uint64_t* position) {
  for (int i = 0; i < examine_limits::kMaxMrwBlocks; ++i) {
    uint8_t block[8];
    if (!read_next(state, position, block, sizeof block, "read error", "seek error")) return false;
    if (memcmp(block, "\0TTW", 4) == 0) break;
    *position += get_u32(block + 4, true);
  }
  state->base = *position;
  return read_next(state, position, header, 8, "read error", "seek error");
}

}  // namespace

bool examine_header(ExaminerState* state, ExamineMode mode) {
  uint8_t header[8];
  uint64_t position = 0;
  if (!read_next(state, &position, header, sizeof header, kShortHeaderText, "Seek error - file may be short")) {
    return false;
  }

  if (memcmp(header, "FUJIFILM", 8) == 0) {
    position = 160;
    if (!read_next(state, &position, header, sizeof header, "Read error - FUJI file may be short (reading header)",
                   "seek error")) {
      return false;
    }
    state->base = 160;
  }

  if (memcmp(header, "\0MRM", 4) == 0) {
    if (!read_mrw(state, header, &position)) return false;
  }

  if (header[0] == 0xFF && header[1] == 0xD8 && header[2] == 0xFF && header[3] == 0xE0 && header[6] == 'J' &&
      header[7] == 'F') {
    if (!read_jfif(state, header, &position)) return false;
  }

  if (header[0] == 0xFF && header[1] == 0xD8 && header[2] == 0xFF && header[3] == 0xE1 && header[6] == 'E' &&
      header[7] == 'x') {
    state->print("\tLength in EXIF header: @4=0x%x @5=0x%x (%d or %d)\n", unsigned{header[4]}, unsigned{header[5]},
                 int{get_u16(header + 4, true)}, int{get_u16(header + 4, false)});
    uint8_t rest[4];
    if (!read_next(state, &position, rest, sizeof rest, "Bad header - doesn't start with recognizable markers",
                   "seek error")) {
      return false;
    }
    if (rest[0] != 'i' || rest[1] != 'f' || rest[2] != 0) {
      return state->fail("Bad header - doesn't start with recognizable markers");
    }
    if (!read_next(state, &position, header, sizeof header, kShortHeaderText, "seek error")) return false;
    state->base = 12;
    state->print("JPEG in EXIF format\n");
  }

  const bool walking = mode != ExamineMode::read;
  const bool stop_after_exif = mode == ExamineMode::walk_stop_after_exif;

  if (memcmp(header, "II\x1a\0\0\0HE", 8) == 0) {
    state->big_endian = false;
    const uint32_t header_length = get_u32(header + 2, false);
    if (header_length == 0) return state->fail("Bad header - missing Directory Block Structure");
    auto* directory = new TV_IFD_CRW(state);
    state->first = directory;
    if (!walking) return directory->read(header_length);
    return directory->walk(header_length, "First", stop_after_exif, false, false);
  }

  if (memcmp(header, "FOVb", 4) == 0) return x3f_examine_header(state, mode);

  if (header[0] == 'M' && header[1] == 'M') {
    state->big_endian = true;
    state->print("Big Endian\n");
  } else if (header[0] == 'I' || header[1] == 'I') {
    state->big_endian = false;
    state->print("Little Endian\n");
  } else {
    return state->fail("Bad header - invalid byte-order designation");
  }

  const uint16_t magic = get_u16(header + 2, state->big_endian);
  if (magic != 42) state->print("Magic number (%d) not TIFF standard\n", int{magic});

  const uint32_t first_offset = get_u32(header + 4, state->big_endian);
  if (first_offset == 0) return state->fail("Bad header - missing Image File Directory");
  state->first = new TV_IFD(state);
  if (!walking) return state->first->read(first_offset);
  return state->first->walk(first_offset, "First", stop_after_exif, false, false);
}

ExaminerContext* new_examiner_context(FILE* file, PrintFn print) {
  auto* context = new ExaminerContext;
  context->file = file;
  context->print = print != nullptr ? print : print_nothing;
  return context;
}

namespace {

bool run_examination(const char* path, ExaminerContext* context, ExamineMode mode) {
  context->print("%s\n", path != nullptr ? path : "");
  if (context->owns_file && context->file != nullptr) {
    fclose(context->file);
    context->file = nullptr;
    context->owns_file = false;
  }
  delete context->state;
  context->state = nullptr;
  // The message belongs to this examination: a context used again after a
  // failure must not report the old failure for a file that reads well.
  context->message = "OK";
  if (context->file == nullptr) {
    context->file = path != nullptr ? fopen(path, "rb") : nullptr;
    if (context->file == nullptr) {
      context->message = "Can't open file";
      return false;
    }
    context->owns_file = true;
  }
  context->state = new ExaminerState(context->file, &context->message, context->print);
  context->state->maker_note_warnings = context->maker_note_warnings;
  return examine_header(context->state, mode);
}

}  // namespace

bool examine_file(const char* path, ExaminerContext* context) {
  return run_examination(path, context, ExamineMode::read);
}

bool walk_file(const char* path, ExaminerContext* context, bool stop_after_exif) {
  return run_examination(path, context, stop_after_exif ? ExamineMode::walk_stop_after_exif : ExamineMode::walk);
}

void free_examiner_context(ExaminerContext* context) {
  if (context == nullptr) return;
  if (context->owns_file && context->file != nullptr) fclose(context->file);
  delete context->state;
  delete context;
}
