// UTF-8, UTF-16 and UTF-32 converters in both byte orders.
#include "xmp/unicode_converters.h"

#include "xmp/xmp_error.h"

namespace {

template <bool kBigEndian>
UTF32Unit Read16(const UTF16Unit* unit) {
  const auto* b = reinterpret_cast<const uint8_t*>(unit);
  return kBigEndian ? (UTF32Unit{b[0]} << 8) | b[1] : (UTF32Unit{b[1]} << 8) | b[0];
}

template <bool kBigEndian>
void Write16(UTF16Unit* unit, UTF32Unit value) {
  auto* b = reinterpret_cast<uint8_t*>(unit);
  const auto hi = static_cast<uint8_t>(value >> 8);
  const auto lo = static_cast<uint8_t>(value);
  b[0] = kBigEndian ? hi : lo;
  b[1] = kBigEndian ? lo : hi;
}

template <bool kBigEndian>
UTF32Unit Read32(const UTF32Unit* unit) {
  const auto* b = reinterpret_cast<const uint8_t*>(unit);
  if (kBigEndian) return (UTF32Unit{b[0]} << 24) | (UTF32Unit{b[1]} << 16) | (UTF32Unit{b[2]} << 8) | b[3];
  return (UTF32Unit{b[3]} << 24) | (UTF32Unit{b[2]} << 16) | (UTF32Unit{b[1]} << 8) | b[0];
}

template <bool kBigEndian>
void Write32(UTF32Unit* unit, UTF32Unit value) {
  auto* b = reinterpret_cast<uint8_t*>(unit);
  for (int i = 0; i < 4; ++i) {
    const int shift = kBigEndian ? 24 - 8 * i : 8 * i;
    b[i] = static_cast<uint8_t>(value >> shift);
  }
}

bool IsSurrogate(UTF32Unit value) { return value >= 0xD800 && value <= 0xDFFF; }

// Code point to UTF-16 (slots 0 and 1).
template <bool kBigEndian>
void CodePointToUtf16(UTF32Unit codePoint, UTF16Unit* out, size_t room, size_t* written) {
  *written = 0;
  if (codePoint <= 0xFFFF) {
    if (IsSurrogate(codePoint)) XMP_Throw(kXMPErr_BadParam, "Bad UTF-32 - surrogate code point");
    if (room < 1) return;
    Write16<kBigEndian>(out, codePoint);
    *written = 1;
    return;
  }
  if (codePoint > 0x10FFFF) XMP_Throw(kXMPErr_BadParam, "Bad UTF-32 - out of range");
  if (room < 2) return;
  const UTF32Unit offset = codePoint - 0x10000;
  Write16<kBigEndian>(out, 0xD800 | (offset >> 10));
  Write16<kBigEndian>(out + 1, 0xDC00 | (codePoint & 0x3FF));
  *written = 2;
}

// UTF-16 to code point (slots 2 and 3).
template <bool kBigEndian>
void Utf16ToCodePoint(const UTF16Unit* in, size_t available, UTF32Unit* codePoint, size_t* read) {
  *read = 0;
  if (available < 1) return;
  const UTF32Unit first = Read16<kBigEndian>(in);
  if (!IsSurrogate(first)) {
    *codePoint = first;
    *read = 1;
    return;
  }
  if (first >= 0xDC00) XMP_Throw(kXMPErr_BadParam, "Bad UTF-16 - leading low surrogate");
  if (available < 2) return;
  const UTF32Unit second = Read16<kBigEndian>(in + 1);
  if (second < 0xDC00 || second > 0xDFFF) XMP_Throw(kXMPErr_BadParam, "Bad UTF-16 - missing low surrogate");
  *codePoint = 0x10000 + (((first & 0x3FF) << 10) | (second & 0x3FF));
  *read = 2;
}

// Each stream converter alternates a fast loop over plain units and a slow
// loop over one multi-unit character at a time. Every round of the outer
// loop either moves forward or ends.

template <bool kBigEndian>
void Utf8ToUtf16(const UTF8Unit* in, size_t inLen, UTF16Unit* out, size_t outLen, size_t* read,
                 size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    if (in[i] < 0x80) {
      Write16<kBigEndian>(out + o, in[i]);
      ++i, ++o;
      continue;
    }
    UTF32Unit codePoint;
    size_t unitsIn, unitsOut;
    DecodeUtf8Sequence(in + i, inLen - i, &codePoint, &unitsIn);
    if (unitsIn == 0) break;
    CodePointToUtf16<kBigEndian>(codePoint, out + o, outLen - o, &unitsOut);
    if (unitsOut == 0) break;
    i += unitsIn, o += unitsOut;
  }
  *read = i, *written = o;
}

template <bool kBigEndian>
void Utf8ToUtf32(const UTF8Unit* in, size_t inLen, UTF32Unit* out, size_t outLen, size_t* read,
                 size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    if (in[i] < 0x80) {
      Write32<kBigEndian>(out + o, in[i]);
      ++i, ++o;
      continue;
    }
    UTF32Unit codePoint;
    size_t unitsIn;
    DecodeUtf8Sequence(in + i, inLen - i, &codePoint, &unitsIn);
    if (unitsIn == 0) break;
    Write32<kBigEndian>(out + o, codePoint);
    i += unitsIn, ++o;
  }
  *read = i, *written = o;
}

template <bool kBigEndian>
void Utf16ToUtf8(const UTF16Unit* in, size_t inLen, UTF8Unit* out, size_t outLen, size_t* read,
                 size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    const UTF32Unit unit = Read16<kBigEndian>(in + i);
    if (unit < 0x80) {
      out[o] = static_cast<UTF8Unit>(unit);
      ++i, ++o;
      continue;
    }
    UTF32Unit codePoint;
    size_t unitsIn, unitsOut;
    Utf16ToCodePoint<kBigEndian>(in + i, inLen - i, &codePoint, &unitsIn);
    if (unitsIn == 0) break;
    EncodeUtf8CodePoint(codePoint, out + o, outLen - o, &unitsOut);
    if (unitsOut == 0) break;
    i += unitsIn, o += unitsOut;
  }
  *read = i, *written = o;
}

template <bool kBigEndian>
void Utf32ToUtf8(const UTF32Unit* in, size_t inLen, UTF8Unit* out, size_t outLen, size_t* read,
                 size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    const UTF32Unit codePoint = Read32<kBigEndian>(in + i);
    if (codePoint < 0x80) {
      out[o] = static_cast<UTF8Unit>(codePoint);
      ++i, ++o;
      continue;
    }
    size_t unitsOut;
    EncodeUtf8CodePoint(codePoint, out + o, outLen - o, &unitsOut);
    if (unitsOut == 0) break;
    ++i, o += unitsOut;
  }
  *read = i, *written = o;
}

template <bool kInBigEndian, bool kOutBigEndian>
void Utf16ToUtf32(const UTF16Unit* in, size_t inLen, UTF32Unit* out, size_t outLen, size_t* read,
                  size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    const UTF32Unit unit = Read16<kInBigEndian>(in + i);
    if (!IsSurrogate(unit)) {
      Write32<kOutBigEndian>(out + o, unit);
      ++i, ++o;
      continue;
    }
    UTF32Unit codePoint;
    size_t unitsIn;
    Utf16ToCodePoint<kInBigEndian>(in + i, inLen - i, &codePoint, &unitsIn);
    if (unitsIn == 0) break;
    Write32<kOutBigEndian>(out + o, codePoint);
    i += unitsIn, ++o;
  }
  *read = i, *written = o;
}

// Values up to 0xFFFF are copied as they are; larger ones become a pair.
template <bool kInBigEndian, bool kOutBigEndian>
void Utf32ToUtf16(const UTF32Unit* in, size_t inLen, UTF16Unit* out, size_t outLen, size_t* read,
                  size_t* written) {
  size_t i = 0, o = 0;
  while (i < inLen && o < outLen) {
    const UTF32Unit value = Read32<kInBigEndian>(in + i);
    if (value <= 0xFFFF) {
      Write16<kOutBigEndian>(out + o, value);
      ++i, ++o;
      continue;
    }
    size_t unitsOut;
    CodePointToUtf16<kOutBigEndian>(value, out + o, outLen - o, &unitsOut);
    if (unitsOut == 0) break;
    ++i, o += unitsOut;
  }
  *read = i, *written = o;
}

constexpr UnicodeConverters kStandardConverters = {
    CodePointToUtf16<true>,     CodePointToUtf16<false>,    Utf16ToCodePoint<true>,
    Utf16ToCodePoint<false>,    Utf8ToUtf16<true>,          Utf8ToUtf16<false>,
    Utf8ToUtf32<true>,          Utf8ToUtf32<false>,         Utf16ToUtf8<true>,
    Utf16ToUtf8<false>,         Utf32ToUtf8<true>,          Utf32ToUtf8<false>,
    Utf16ToUtf32<true, true>,   Utf16ToUtf32<true, false>,  Utf16ToUtf32<false, true>,
    Utf16ToUtf32<false, false>, Utf32ToUtf16<true, true>,   Utf32ToUtf16<true, false>,
    Utf32ToUtf16<false, true>,  Utf32ToUtf16<false, false>,
};

}  // namespace

constinit UnicodeConverters UnicodeConverterTable = kStandardConverters;

void SetUpConverters() { UnicodeConverterTable = kStandardConverters; }

void DecodeUtf8CodePoint(const UTF8Unit* in, size_t available, UTF32Unit* codePoint, size_t* read) {
  *read = 0;
  if (available == 0) return;
  if (in[0] < 0x80) {
    *codePoint = in[0];
    *read = 1;
    return;
  }
  DecodeUtf8Sequence(in, available, codePoint, read);
}

void DecodeUtf8Sequence(const UTF8Unit* in, size_t available, UTF32Unit* codePoint, size_t* read) {
  *read = 0;
  const UTF8Unit lead = in[0];
  size_t length;
  UTF32Unit value;
  if (lead >= 0xC0 && lead <= 0xDF) {
    length = 2, value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF7) {
    length = 4, value = lead & 0x07;
  } else {
    XMP_Throw(kXMPErr_BadParam, "Invalid UTF-8 sequence length");
  }
  if (available < length) return;
  for (size_t k = 1; k < length; ++k) {
    if (in[k] < 0x80 || in[k] > 0xBF) XMP_Throw(kXMPErr_BadParam, "Invalid UTF-8 data byte");
    value = (value << 6) | (in[k] & 0x3F);
  }
  if (IsSurrogate(value)) XMP_Throw(kXMPErr_BadParam, "Bad UTF-8 - surrogate code point");
  if (value > 0x10FFFF) XMP_Throw(kXMPErr_BadParam, "Bad UTF-8 - out of range");
  *codePoint = value;
  *read = length;
}

void EncodeUtf8CodePoint(UTF32Unit codePoint, UTF8Unit* out, size_t room, size_t* written) {
  *written = 0;
  if (codePoint > 0x10FFFF) XMP_Throw(kXMPErr_BadParam, "Bad UTF-32 - out of range");
  if (IsSurrogate(codePoint)) XMP_Throw(kXMPErr_BadParam, "Bad UTF-32 - surrogate code point");
  size_t length;
  UTF8Unit leadMark;
  if (codePoint < 0x80) {
    length = 1, leadMark = 0;
  } else if (codePoint < 0x800) {
    length = 2, leadMark = 0xC0;
  } else if (codePoint < 0x10000) {
    length = 3, leadMark = 0xE0;
  } else {
    length = 4, leadMark = 0xF0;
  }
  if (room < length) return;
  for (size_t k = length - 1; k > 0; --k) {
    out[k] = static_cast<UTF8Unit>(0x80 | (codePoint & 0x3F));
    codePoint >>= 6;
  }
  out[0] = static_cast<UTF8Unit>(leadMark | codePoint);
  *written = length;
}

void CheckUtf8Text(std::string_view text) {
  const auto* bytes = reinterpret_cast<const UTF8Unit*>(text.data());
  size_t pos = 0;
  while (pos < text.size()) {
    if (bytes[pos] < 0x80) {
      ++pos;
      continue;
    }
    UTF32Unit codePoint;
    size_t read;
    DecodeUtf8Sequence(bytes + pos, text.size() - pos, &codePoint, &read);
    if (read == 0) XMP_Throw(kXMPErr_BadParam, "Invalid UTF-8 data byte");
    pos += read;
  }
}

namespace {

template <typename Unit, size_t kBufferUnits, typename Converter>
void Utf8StringToWide(std::string_view utf8, std::string* out, Converter converter) {
  out->clear();
  out->reserve(utf8.size() * sizeof(Unit));
  Unit buffer[kBufferUnits];
  const auto* in = reinterpret_cast<const UTF8Unit*>(utf8.data());
  size_t left = utf8.size();
  while (left > 0) {
    size_t read, written;
    converter(in, left, buffer, kBufferUnits, &read, &written);
    if (written == 0) XMP_Throw(kXMPErr_BadXML, "Incomplete Unicode at end of string");
    out->append(reinterpret_cast<const char*>(buffer), written * sizeof(Unit));
    in += read, left -= read;
  }
}

}  // namespace

void Utf8StringToUtf16(std::string_view utf8, std::string* out, UTF8_to_UTF16_Proc converter) {
  Utf8StringToWide<UTF16Unit, 8192>(utf8, out, converter);
}

void Utf8StringToUtf32(std::string_view utf8, std::string* out, UTF8_to_UTF32_Proc converter) {
  Utf8StringToWide<UTF32Unit, 4096>(utf8, out, converter);
}
