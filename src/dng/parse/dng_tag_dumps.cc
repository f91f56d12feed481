#include "dng/parse/dng_tag_dumps.h"

#include <algorithm>
#include <cstdio>

#include "dng/core/dng_tag_types.h"
#include "dng/core/dng_utf8.h"
#include "dng/parse/dng_parse_limits.h"
#include "dng/parse/dng_tag_extent.h"
#include "dng/parse/dng_tag_names.h"
#include "dng/parse/dng_tag_readers.h"

bool dng_verbose = false;

namespace {

constexpr uint32_t k_hex_line_bytes = 16;
constexpr uint32_t k_xmp_line_columns = 127;

uint32_t value_limit() { return std::max<uint32_t>(dng_dump_limit, 4); }

// Bytes between the stream's position and its end: a dump shows no more
// than these, so a count that runs past the end of a hostile file prints
// what is there instead of raising a verdict the quiet parse would not.
uint32_t bytes_left(dng_stream& stream) {
  const uint32_t length = stream.TotalLength();
  const uint32_t position = stream.Position();
  return position < length ? length - position : 0;
}

bool printable(uint32_t c) { return c >= 32 && c <= 126; }

}  // namespace

void dump_tag_values(dng_stream& stream, const char* label, uint32_t parent, uint32_t tag,
                     uint32_t type, uint32_t count, const char* name) {
  std::printf("%s:", name != nullptr ? name : tag_code_name(parent, tag));
  switch (type) {
    case dng_type_ascii: {
      dng_text text;
      read_string_tag(stream, parent, tag, count, text, false, false);
      std::printf(" ");
      dump_string(text);
      std::printf("\n");
      return;
    }
    case dng_type_short: case dng_type_long: case dng_type_rational: case dng_type_sbyte:
    case dng_type_sshort: case dng_type_slong: case dng_type_srational: case dng_type_float:
    case dng_type_double: case dng_type_ifd: {
      const bool list = count > 4;
      if (list) {
        std::printf(" %u entries", count);
      } else {
        std::printf(" %s =", label);
      }
      const uint32_t in_stream = bytes_left(stream) / tag_type_size(type);
      const uint32_t shown = std::min({count, value_limit(), in_stream});
      for (uint32_t i = 0; i < shown; ++i) {
        if (list) {
          std::printf("\n    %s [%u] = ", label, i);
        } else {
          std::printf(" ");
        }
        switch (type) {
          case dng_type_short: case dng_type_long: case dng_type_ifd:
            std::printf("%u", stream.TagValueAsUInt32(type));
            break;
          case dng_type_rational: {
            const dng_unsigned_ratio r = stream.TagValueAsURational(type);
            std::printf("%u/%u", r.n, r.d);
            break;
          }
          case dng_type_srational: {
            const dng_signed_ratio r = stream.TagValueAsSRational(type);
            std::printf("%d/%d", r.n, r.d);
            break;
          }
          case dng_type_float: case dng_type_double:
            std::printf("%f", stream.TagValueAsReal64(type));
            break;
          default:
            std::printf("%d", stream.TagValueAsInt32(type));
            break;
        }
      }
      std::printf("\n");
      if (shown < count) std::printf("    ... %u more entries\n", count - shown);
      return;
    }
    default:
      if (count == 1 && (type == dng_type_byte || type == dng_type_undefined) && bytes_left(stream) >= 1) {
        std::printf(" %s = %u\n", tag_type_name(type), stream.GetUInt8());
        return;
      }
      const uint64_t bytes = tag_value_bytes(count, type);
      std::printf(" %s, size = %u\n", tag_type_name(type), static_cast<uint32_t>(bytes));
      dump_hex_ascii(stream, static_cast<uint32_t>(std::min<uint64_t>(bytes, UINT32_MAX)));
      return;
  }
}

void dump_hex_ascii(dng_stream& stream, uint32_t count) {
  const uint32_t shown = static_cast<uint32_t>(
      std::min<uint64_t>({count, uint64_t{dng_dump_limit} * k_hex_line_bytes, bytes_left(stream)}));
  for (uint32_t line = 0; line < shown; line += k_hex_line_bytes) {
    uint8_t bytes[k_hex_line_bytes];
    const uint32_t n = std::min(k_hex_line_bytes, shown - line);
    stream.GetBytes(bytes, n);
    std::printf("    ");
    for (uint32_t i = 0; i < k_hex_line_bytes; ++i) {
      if (i < n) {
        std::printf("%02x ", bytes[i]);
      } else {
        std::printf("   ");
      }
    }
    std::printf("   ");
    for (uint32_t i = 0; i < n; ++i) std::printf("%c", printable(bytes[i]) ? bytes[i] : '.');
    std::printf("\n");
  }
  if (shown < count) std::printf("    ... %u more bytes\n", count - shown);
}

void dump_xmp(dng_stream& stream, uint32_t count) {
  count = std::min(count, bytes_left(stream));
  uint32_t column = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const uint8_t c = stream.GetUInt8();
    if (c == '\r' || c == '\n') {
      if (column != 0) std::printf("\n");
      column = 0;
      continue;
    }
    if (column == 0) column = static_cast<uint32_t>(std::printf("XMP: "));
    if (printable(c)) {
      std::printf("%c", c);
      column += 1;
    } else {
      column += static_cast<uint32_t>(std::printf("\\%03o", c));
    }
    if (column > k_xmp_line_columns) {
      std::printf("\n");
      column = 0;
    }
  }
  if (column != 0) std::printf("\n");
}

void dump_string(const dng_text& text) {
  const char* p = text.CStr();
  const char* end = p + text.ByteLength();
  const uint32_t limit = dng_dump_limit * 64;
  std::printf("\"");
  uint32_t points = 0;
  while (*p != 0) {
    if (points == limit) {
      std::printf("...\" (%u more bytes)", static_cast<uint32_t>(end - p));
      return;
    }
    const uint32_t c = next_utf8_code_point(p);
    ++points;
    if (c == '\t') {
      std::printf("\\t");
    } else if (c == '\n') {
      std::printf("\\n");
    } else if (c == '\r') {
      std::printf("\\r");
    } else if (printable(c)) {
      std::printf("%c", static_cast<char>(c));
    } else {
      std::printf("[%X]", c);
    }
  }
  std::printf("\"");
}

void dump_text_line(const char* name, const dng_text& text) {
  std::printf("%s: ", name);
  dump_string(text);
  std::printf("\n");
}

void dump_cfa_pattern(const uint8_t (&pattern)[8][8], uint32_t rows, uint32_t cols) {
  for (uint32_t r = 0; r < rows && r < 8; ++r) {
    std::printf("    ");
    for (uint32_t c = 0; c < cols && c < 8; ++c) {
      std::printf("%-9s", tag_value_name(dng_value_kind::cfa_color, pattern[r][c]));
    }
    std::printf("\n");
  }
}

void dump_matrix(const dng_matrix& matrix) {
  for (uint32_t r = 0; r < matrix.Rows(); ++r) {
    for (uint32_t c = 0; c < matrix.Cols(); ++c) {
      std::printf(c == 0 ? "    " : " ");
      std::printf("%8.4f", matrix[r][c]);
    }
    std::printf("\n");
  }
}

void dump_vector(const dng_vector& vector) {
  for (uint32_t i = 0; i < vector.Count(); ++i) std::printf(" %0.4f", vector[i]);
  std::printf("\n");
}

void dump_date_time(const dng_calendar_time& d) {
  std::printf("%04d:%02d:%02d %02d:%02d:%02d", static_cast<int>(d.year), static_cast<int>(d.month),
              static_cast<int>(d.day), static_cast<int>(d.hour), static_cast<int>(d.minute),
              static_cast<int>(d.second));
}

void dump_exposure_time(double t) {
  if (t >= 0.25) {
    std::printf("%0.2f sec", t);
  } else if (t >= 0.01) {
    std::printf("1/%0.1f sec", 1.0 / t);
  } else if (t > 0.0) {
    std::printf("1/%0.0f sec", 1.0 / t);
  } else {
    std::printf("<invalid>");
  }
}
