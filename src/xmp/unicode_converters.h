// Conversion between UTF-8, UTF-16 and UTF-32 in both byte orders, and the
// single-character UTF-8 decoders and encoder that check names and values.
//
// Units are bytes for UTF-8, 16-bit units for UTF-16 and 32-bit units for
// UTF-32. A unit's bytes are read and written in the converter's own byte
// order whatever the machine's order is. Malformed input throws XMP_Error 4
// with the messages below; the converters never allocate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

using UTF8Unit = uint8_t;
using UTF16Unit = uint16_t;
using UTF32Unit = uint32_t;

// Code point to UTF-16: 1 or 2 units, or 0 written when the room is too small.
using CodePoint_to_UTF16_Proc = void (*)(UTF32Unit codePoint, UTF16Unit* out, size_t room, size_t* written);
// UTF-16 to code point: 1 or 2 units read, or 0 when a pair is cut off by the end.
using UTF16_to_CodePoint_Proc = void (*)(const UTF16Unit* in, size_t available, UTF32Unit* codePoint,
                                         size_t* read);

// Stream converters: convert as much as fits and report the units read and
// written. They stop at the end of the input, when the next character does
// not fit in the output, or when the input ends inside a multi-unit
// character (which then counts as not read; the caller keeps it for later).
using UTF8_to_UTF16_Proc = void (*)(const UTF8Unit* in, size_t inLen, UTF16Unit* out, size_t outLen,
                                    size_t* read, size_t* written);
using UTF8_to_UTF32_Proc = void (*)(const UTF8Unit* in, size_t inLen, UTF32Unit* out, size_t outLen,
                                    size_t* read, size_t* written);
using UTF16_to_UTF8_Proc = void (*)(const UTF16Unit* in, size_t inLen, UTF8Unit* out, size_t outLen,
                                    size_t* read, size_t* written);
using UTF32_to_UTF8_Proc = void (*)(const UTF32Unit* in, size_t inLen, UTF8Unit* out, size_t outLen,
                                    size_t* read, size_t* written);
using UTF16_to_UTF32_Proc = void (*)(const UTF16Unit* in, size_t inLen, UTF32Unit* out, size_t outLen,
                                     size_t* read, size_t* written);
using UTF32_to_UTF16_Proc = void (*)(const UTF32Unit* in, size_t inLen, UTF16Unit* out, size_t outLen,
                                     size_t* read, size_t* written);

// The 20 converters, in slot order, picked by callers at run time.
struct UnicodeConverters {
  CodePoint_to_UTF16_Proc CodePoint_to_UTF16BE;  // 0
  CodePoint_to_UTF16_Proc CodePoint_to_UTF16LE;  // 1
  UTF16_to_CodePoint_Proc UTF16BE_to_CodePoint;  // 2
  UTF16_to_CodePoint_Proc UTF16LE_to_CodePoint;  // 3
  UTF8_to_UTF16_Proc UTF8_to_UTF16BE;            // 4
  UTF8_to_UTF16_Proc UTF8_to_UTF16LE;            // 5
  UTF8_to_UTF32_Proc UTF8_to_UTF32BE;            // 6
  UTF8_to_UTF32_Proc UTF8_to_UTF32LE;            // 7
  UTF16_to_UTF8_Proc UTF16BE_to_UTF8;            // 8
  UTF16_to_UTF8_Proc UTF16LE_to_UTF8;            // 9
  UTF32_to_UTF8_Proc UTF32BE_to_UTF8;            // 10
  UTF32_to_UTF8_Proc UTF32LE_to_UTF8;            // 11
  UTF16_to_UTF32_Proc UTF16BE_to_UTF32BE;        // 12
  UTF16_to_UTF32_Proc UTF16BE_to_UTF32LE;        // 13
  UTF16_to_UTF32_Proc UTF16LE_to_UTF32BE;        // 14
  UTF16_to_UTF32_Proc UTF16LE_to_UTF32LE;        // 15
  UTF32_to_UTF16_Proc UTF32BE_to_UTF16BE;        // 16
  UTF32_to_UTF16_Proc UTF32BE_to_UTF16LE;        // 17
  UTF32_to_UTF16_Proc UTF32LE_to_UTF16BE;        // 18
  UTF32_to_UTF16_Proc UTF32LE_to_UTF16LE;        // 19
};

// Filled by SetUpConverters at toolkit start-up (and already filled at
// program start, so it is never a table of nulls).
extern UnicodeConverters UnicodeConverterTable;
void SetUpConverters();

// One code point from UTF-8. Nothing available, or a sequence cut off by
// the end, reads nothing (*read == 0); an ASCII byte is itself. Throws 4
// "Invalid UTF-8 sequence length", "Invalid UTF-8 data byte", "Bad UTF-8 -
// surrogate code point" or "Bad UTF-8 - out of range". Longer-than-needed
// encodings are accepted.
void DecodeUtf8CodePoint(const UTF8Unit* in, size_t available, UTF32Unit* codePoint, size_t* read);
// As DecodeUtf8CodePoint for a lead byte of 0x80 or more.
void DecodeUtf8Sequence(const UTF8Unit* in, size_t available, UTF32Unit* codePoint, size_t* read);
// The shortest UTF-8 form, or nothing written when it does not fit. Throws
// 4 "Bad UTF-32 - out of range" or "Bad UTF-32 - surrogate code point".
void EncodeUtf8CodePoint(UTF32Unit codePoint, UTF8Unit* out, size_t room, size_t* written);

// Checks that text is whole, valid UTF-8 as the toolkit's names and values
// must be: the decoding errors above, and a sequence cut off by the end of
// the text throws 4 "Invalid UTF-8 data byte".
void CheckUtf8Text(std::string_view text);

// Whole-text conversion for the serialiser: out receives the units' bytes.
// A text that ends inside a UTF-8 sequence throws 201 "Incomplete Unicode
// at end of string".
void Utf8StringToUtf16(std::string_view utf8, std::string* out, UTF8_to_UTF16_Proc converter);
void Utf8StringToUtf32(std::string_view utf8, std::string* out, UTF8_to_UTF32_Proc converter);
