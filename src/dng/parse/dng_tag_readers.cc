#include "dng/parse/dng_tag_readers.h"

#include <cstring>
#include <initializer_list>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_heap_buffer.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_parse_limits.h"
#include "dng/parse/dng_tag_checks.h"
#include "dng/parse/dng_tag_extent.h"

namespace {

constexpr uint32_t k_date_time_bytes = 20;
constexpr uint32_t k_encoding_label_bytes = 8;

// Raises 100011 when bytes from the current position pass the stream's end:
// the verdict the read itself would give, before anything is allocated.
void require_bytes_left(dng_stream& stream, uint64_t bytes) {
  if (!bytes_left_fit(stream, bytes)) throw_dng_code(dng_code_end_of_file);
}

// count bytes read into a new buffer of count + 1 bytes, the last one zero.
// count 0 reads nothing and gives a buffer holding just the zero.
void read_terminated(dng_stream& stream, uint32_t count, dng_heap_buffer& buffer) {
  require_bytes_left(stream, count);
  buffer.Resize(size_t{count} + 1);
  char* bytes = buffer.Buffer_char();
  if (count != 0) stream.GetBytes(bytes, count);
  bytes[count] = 0;
}

uint32_t zero_bytes(const char* bytes, uint32_t count) {
  uint32_t zeros = 0;
  for (uint32_t i = 0; i < count; ++i) zeros += bytes[i] == 0 ? 1 : 0;
  return zeros;
}

bool reports_text_findings(uint32_t parent) { return parent < dng_first_maker_note_parent; }

bool is_label(const char* label, const char (&expected)[k_encoding_label_bytes + 1]) {
  return std::memcmp(label, expected, k_encoding_label_bytes) == 0;
}

}  // namespace

void read_string_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                     dng_text& text, bool trim, bool ascii_check) {
  dng_heap_buffer buffer;
  read_terminated(stream, count, buffer);
  const char* bytes = buffer.Buffer_char();
  if (zero_bytes(bytes, count) == 0 && reports_text_findings(parent)) {
    report_tag_warning(parent, tag, "is not NULL terminated");
  }
  if (ascii_check) {
    text.AssignASCIIOrSystem(bytes);
    if (!text.AllASCII() && reports_text_findings(parent)) {
      report_tag_warning(parent, tag, "has non-ASCII characters");
    }
  } else {
    text.Assign(bytes);
  }
  if (trim) text.StripTrailingSpaces();
}

void read_string_pair_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                          dng_text& first, dng_text& second) {
  dng_heap_buffer buffer;
  read_terminated(stream, count, buffer);
  const char* bytes = buffer.Buffer_char();
  const bool last_is_zero = count != 0 && bytes[count - 1] == 0;
  if (!last_is_zero && zero_bytes(bytes, count) <= 1 && reports_text_findings(parent)) {
    report_tag_warning(parent, tag, "is not NULL terminated");
  }
  const char* second_bytes = "";
  for (uint32_t i = 1; i + 1 < count; ++i) {
    if (bytes[i] == 0 && bytes[i - 1] != 0) {
      second_bytes = bytes + i + 1;
      break;
    }
  }
  first.AssignASCIIOrSystem(bytes);
  second.AssignASCIIOrSystem(second_bytes);
  for (dng_text* text : {&first, &second}) {
    if (!text->AllASCII()) report_tag_warning(parent, tag, "has non-ASCII characters");
    text->StripTrailingSpaces();
  }
}

void read_encoded_text_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t count,
                           dng_text& text) {
  if (count < k_encoding_label_bytes) {
    report_tag_warning(parent, tag, "has unexpected count (%u)", count);
    text.Assign(nullptr);
    return;
  }
  char label[k_encoding_label_bytes];
  stream.GetBytes(label, k_encoding_label_bytes);
  bool folded = false;
  for (char& c : label) {
    if (c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
      folded = true;
    }
  }
  if (folded) report_tag_warning(parent, tag, "text encoding label not all uppercase");

  const uint32_t rest = count - k_encoding_label_bytes;
  if (is_label(label, "UNICODE\0")) {
    const uint32_t units = rest / 2;
    require_bytes_left(stream, uint64_t{units} * 2);
    dng_heap_buffer buffer((size_t{units} + 1) * sizeof(uint16_t));
    auto* utf16 = static_cast<uint16_t*>(buffer.Buffer());
    for (uint32_t i = 0; i < units; ++i) utf16[i] = stream.GetUInt16();
    utf16[units] = 0;
    uint32_t blank_pairs = 0;
    for (uint32_t i = 0; i < units && utf16[i] != 0; ++i) blank_pairs += utf16[i] == 0x2020 ? 1 : 0;
    if (blank_pairs > 1) {
      report_tag_warning(parent, tag, "text appears to be UTF-8 rather than UTF-16");
    }
    text.AssignUTF16(utf16);
  } else {
    dng_heap_buffer buffer;
    read_terminated(stream, rest, buffer);
    const char* bytes = buffer.Buffer_char();
    if (is_label(label, "ASCII\0\0\0")) {
      text.AssignASCIIOrSystem(bytes);
      if (!text.AllASCII()) report_tag_warning(parent, tag, "has non-ASCII characters");
    } else if (is_label(label, "JIS\0\0\0\0\0")) {
      text.AssignJISCodePage(bytes);
    } else {
      if (is_label(label, "\0\0\0\0\0\0\0\0")) {
        report_tag_warning(parent, tag, "has unknown encoding");
      } else {
        report_tag_warning(parent, tag, "has unexpected text encoding");
      }
      bool printable = true;
      for (const char* p = bytes; *p != 0; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        if (c < 32 || c > 126) {
          printable = false;
          break;
        }
      }
      text.Assign(printable ? bytes : nullptr);
    }
  }
  text.StripTrailingSpaces();
}

bool read_date_time_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                        uint32_t count, dng_calendar_time& date_time) {
  if (!check_tag_type(parent, tag, type, dng_type_ascii)) return false;
  if (!check_tag_count(parent, tag, count, k_date_time_bytes)) return false;
  char bytes[k_date_time_bytes + 1];
  stream.GetBytes(bytes, k_date_time_bytes);
  bytes[k_date_time_bytes] = 0;
  dng_calendar_time parsed;
  if (parsed.ParseExifText(bytes)) {
    date_time = parsed;
    return true;
  }
  date_time.SetNone();
  for (const char* p = bytes; *p != 0; ++p) {
    if (*p != ' ' && *p != '0' && *p != ':') {
      report_tag_warning(parent, tag, "is not a valid date/time");
      return false;
    }
  }
  return true;
}

bool read_matrix_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                     uint32_t count, uint32_t rows, uint32_t columns, dng_matrix& matrix) {
  if (!check_tag_count(parent, tag, count, rows * columns)) return false;
  dng_matrix m(rows, columns);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < columns; ++c) m[r][c] = stream.TagValueAsReal64(type);
  }
  matrix = m;
  return true;
}

bool read_vector_tag(dng_stream& stream, uint32_t parent, uint32_t tag, uint32_t type,
                     uint32_t count, uint32_t n, dng_vector& vector) {
  if (!check_tag_count(parent, tag, count, n)) return false;
  dng_vector v(n);
  for (uint32_t i = 0; i < n; ++i) v[i] = stream.TagValueAsReal64(type);
  vector = v;
  return true;
}
