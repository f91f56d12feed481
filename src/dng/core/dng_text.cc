// dng_text: UTF-8 texts and their conversions.
#include "dng/core/dng_text.h"

#include <cstring>

#include "dng/core/dng_ascii_fallback.h"
#include "dng/core/dng_code_page.h"
#include "dng/core/dng_utf8.h"

namespace {

inline uint8_t byte_at(const char* s, size_t i) { return static_cast<uint8_t>(s[i]); }

bool all_ascii(const char* s) {
  for (; *s != 0; ++s) {
    if (static_cast<uint8_t>(*s) >= 0x80) return false;
  }
  return true;
}

// Appends the UTF-8 form of cp (at most four bytes) at out.
char* put_utf8(char* out, uint32_t cp) {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp <= 0xFFFF) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

bool same_byte(char a, char b, bool case_sensitive) {
  return case_sensitive ? a == b : upper_ascii_char(a) == upper_ascii_char(b);
}

}  // namespace

dng_text& dng_text::operator=(const dng_text& other) {
  if (this != &other) Assign(other.CStr());
  return *this;
}

void dng_text::TakeCopy(const char* bytes, uint32_t length) {
  buffer_.Resize(size_t{length} + 1);
  std::memcpy(Bytes(), bytes, length);
  Bytes()[length] = 0;
}

void dng_text::ReleaseIfEmpty() {
  if (!Empty() && Bytes()[0] == 0) buffer_.Release();
}

void dng_text::Assign(const char* s) {
  if (s == nullptr || *s == 0) {
    buffer_.Release();
    return;
  }
  size_t length = std::strlen(s);
  if (length > ByteLength()) {
    // Longer than this text, so s cannot lie inside its block.
    TakeCopy(s, static_cast<uint32_t>(length));
  } else {
    std::memmove(Bytes(), s, length + 1);
  }
}

const char* dng_text::CStr() const { return Empty() ? "" : Bytes(); }

uint32_t dng_text::ByteLength() const { return Empty() ? 0 : static_cast<uint32_t>(std::strlen(Bytes())); }

bool dng_text::AllASCII() const { return all_ascii(CStr()); }

void dng_text::Concat(const char* s) {
  if (s == nullptr || *s == 0) return;
  size_t old_length = ByteLength();
  size_t added = std::strlen(s);
  // The new block is filled before the old one is released, so s may point
  // into this text.
  dng_heap_buffer joined(old_length + added + 1);
  char* out = joined.Buffer_char();
  std::memcpy(out, CStr(), old_length);
  std::memcpy(out + old_length, s, added);
  out[old_length + added] = 0;
  TakeCopy(out, static_cast<uint32_t>(old_length + added));
}

bool dng_text::EqualsText(const char* s, bool case_sensitive) const {
  const char* mine = CStr();
  if (s == nullptr) s = "";
  for (;; ++mine, ++s) {
    if (*mine == 0 || *s == 0) return *mine == *s;
    if (!same_byte(*mine, *s, case_sensitive)) return false;
  }
}

bool dng_text::BeginsWith(const char* s, bool case_sensitive) const {
  const char* mine = CStr();
  if (s == nullptr) return true;
  for (; *s != 0; ++mine, ++s) {
    if (*mine == 0 || !same_byte(*mine, *s, case_sensitive)) return false;
  }
  return true;
}

bool dng_text::StripTrailingSpaces() {
  uint32_t length = ByteLength();
  uint32_t end = length;
  while (end > 0 && Bytes()[end - 1] == ' ') --end;
  if (end == length) return false;
  Bytes()[end] = 0;
  ReleaseIfEmpty();
  return true;
}

void dng_text::NormalizeLineEnds(char replacement) {
  if (Empty()) return;
  char* p = Bytes();
  size_t out = 0;
  for (size_t in = 0; p[in] != 0;) {
    char c = p[in];
    if (c == '\r' || c == '\n') {
      char other = c == '\r' ? '\n' : '\r';
      in += p[in + 1] == other ? 2 : 1;
      if (replacement != 0) p[out++] = replacement;
    } else {
      p[out++] = c;
      ++in;
    }
  }
  p[out] = 0;
  ReleaseIfEmpty();
}

void dng_text::DropControlChars() {
  if (Empty()) return;
  char* p = Bytes();
  size_t out = 0;
  for (size_t in = 0; p[in] != 0; ++in) {
    uint8_t b = byte_at(p, in);
    bool control = b < 0x20 && b != '\n' && b != '\r';
    if (!control) p[out++] = p[in];
  }
  p[out] = 0;
  ReleaseIfEmpty();
}

void dng_text::LimitBytes(uint32_t n) {
  if (ByteLength() <= n) return;
  char* p = Bytes();
  uint32_t cut = n;
  while (cut > 0 && byte_at(p, cut) >= 0x80 && byte_at(p, cut) <= 0xBF) --cut;
  p[cut] = 0;
  ReleaseIfEmpty();
}

void dng_text::FoldToASCII() {
  if (AllASCII()) return;
  size_t length = ByteLength();
  // At most three ASCII bytes per code point, and a code point takes at
  // least one byte.
  dng_heap_buffer folded(3 * length + 1);
  char* out = folded.Buffer_char();
  const char* cursor = CStr();
  while (*cursor != 0) {
    uint32_t cp = next_utf8_code_point(cursor);
    if (cp < 0x80) {
      *out++ = static_cast<char>(cp);
    } else {
      const char* replacement = ascii_fallback_for(cp);
      size_t n = std::strlen(replacement);
      std::memcpy(out, replacement, n);
      out += n;
    }
  }
  *out = 0;
  Assign(folded.Buffer_char());
}

void dng_text::AssignUTF16(const uint16_t* units) {
  if (units == nullptr) {
    buffer_.Release();
    return;
  }
  bool swapped = false;
  if (units[0] == 0xFEFF) {
    ++units;
  } else if (units[0] == 0xFFFE) {
    ++units;
    swapped = true;
  }
  size_t count = 0;
  while (units[count] != 0) ++count;
  auto unit = [&](size_t i) -> uint32_t {
    return swapped ? static_cast<uint16_t>((units[i] >> 8) | (units[i] << 8)) : units[i];
  };

  dng_heap_buffer utf8(6 * count + 1);
  char* out = utf8.Buffer_char();
  for (size_t i = 0; i < count; ++i) {
    uint32_t cp = unit(i);
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < count) {
      uint32_t low = unit(i + 1);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = (cp - 0xD800) * 1024 + (low - 0xDC00) + 0x10000;
        ++i;
      }
    }
    out = put_utf8(out, cp);
  }
  *out = 0;
  Assign(utf8.Buffer_char());
}

void dng_text::AssignCodePage(const char* s, uint32_t code_page) {
  if (s == nullptr || *s == 0) {
    buffer_.Release();
    return;
  }
  size_t length = std::strlen(s);
  size_t room = 3 * length + 128;
  dng_heap_buffer units((room + 1) * sizeof(uint16_t));
  uint16_t* u = static_cast<uint16_t*>(units.Buffer());
  uint32_t n = code_page_to_utf16(code_page, s, static_cast<uint32_t>(length), u, static_cast<uint32_t>(room));
  if (n == 0 || n > room) {
    buffer_.Release();
    return;
  }
  u[n] = 0;
  AssignUTF16(u);
}

void dng_text::AssignSystemCodePage(const char* s) {
  if (s == nullptr || all_ascii(s)) {
    Assign(s);
  } else {
    AssignCodePage(s, dng_system_code_page());
  }
}

void dng_text::AssignJISCodePage(const char* s) {
  if (s == nullptr || all_ascii(s)) {
    Assign(s);
  } else {
    AssignCodePage(s, dng_code_page_euc_jp);
  }
}

uint32_t dng_text::ToUTF16Units(dng_heap_buffer& out) const {
  size_t count = 0;
  for (const char* cursor = CStr(); *cursor != 0;) {
    uint32_t cp = next_utf8_code_point(cursor);
    count += (cp >= 0x10000 && cp <= 0x10FFFF) ? 2 : 1;
  }
  out.Resize(2 * count + 2);
  uint16_t* u = static_cast<uint16_t*>(out.Buffer());
  for (const char* cursor = CStr(); *cursor != 0;) {
    uint32_t cp = next_utf8_code_point(cursor);
    if (cp < 0x10000) {
      *u++ = static_cast<uint16_t>(cp);
    } else if (cp <= 0x10FFFF) {
      *u++ = static_cast<uint16_t>(0xD800 + ((cp - 0x10000) >> 10));
      *u++ = static_cast<uint16_t>(0xDC00 | (cp & 0x3FF));
    } else {
      *u++ = 0xFFFD;
    }
  }
  *u = 0;
  return static_cast<uint32_t>(count);
}
