#include "xmp/unicode_converters.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "xmp/xmp_error.h"

namespace {

using Bytes = std::vector<uint8_t>;

std::string Hex(const Bytes& bytes) {
  std::string text;
  char part[4];
  for (uint8_t b : bytes) {
    snprintf(part, sizeof part, "%02X ", b);
    text += part;
  }
  return text;
}

struct Utf8Case {
  Bytes in;
  size_t available;   // bytes the decoder may look at
  size_t read;        // expected bytes read (0: nothing)
  UTF32Unit codePoint;
  const char* error;  // expected id-4 message, or null
};

TEST(DecodeUtf8CodePoint, TableOfSequences) {
  const Utf8Case cases[] = {
      {{0x41}, 1, 1, 0x41, nullptr},
      {{0xC3, 0xA9}, 2, 2, 0xE9, nullptr},
      {{0xC3}, 1, 0, 0, nullptr},              // cut off: nothing read
      {{0xE2, 0x82}, 2, 0, 0, nullptr},        // cut off before its data bytes are looked at
      {{}, 0, 0, 0, nullptr},
      {{0xC0, 0x80}, 2, 2, 0, nullptr},        // overlong, accepted
      {{0xE0, 0x80, 0x80}, 3, 3, 0, nullptr},  // overlong, accepted
      {{0xEF, 0xBF, 0xBF}, 3, 3, 0xFFFF, nullptr},
      {{0xF0, 0x9F, 0x98, 0x80}, 4, 4, 0x1F600, nullptr},
      {{0xF4, 0x8F, 0xBF, 0xBF}, 4, 4, 0x10FFFF, nullptr},
      {{0xED, 0x9F, 0xBF}, 3, 3, 0xD7FF, nullptr},
      {{0xEE, 0x80, 0x80}, 3, 3, 0xE000, nullptr},
      {{0xC3, 0x41}, 2, 0, 0, "Invalid UTF-8 data byte"},
      {{0xC3, 0xC3}, 2, 0, 0, "Invalid UTF-8 data byte"},
      {{0xE2, 0x82, 0x41}, 3, 0, 0, "Invalid UTF-8 data byte"},
      {{0xED, 0xA0, 0x80}, 3, 0, 0, "Bad UTF-8 - surrogate code point"},
      {{0xED, 0xBF, 0xBF}, 3, 0, 0, "Bad UTF-8 - surrogate code point"},
      {{0xF4, 0x90, 0x80, 0x80}, 4, 0, 0, "Bad UTF-8 - out of range"},
      {{0xF7, 0xBF, 0xBF, 0xBF}, 4, 0, 0, "Bad UTF-8 - out of range"},
      {{0x80}, 1, 0, 0, "Invalid UTF-8 sequence length"},
      {{0xBF, 0x80}, 2, 0, 0, "Invalid UTF-8 sequence length"},
      {{0xF8, 0x80, 0x80, 0x80, 0x80}, 5, 0, 0, "Invalid UTF-8 sequence length"},
      {{0xFF}, 1, 0, 0, "Invalid UTF-8 sequence length"},
  };
  for (const Utf8Case& c : cases) {
    SCOPED_TRACE(Hex(c.in));
    UTF32Unit codePoint = 0;
    size_t read = 99;
    try {
      DecodeUtf8CodePoint(c.in.data(), c.available, &codePoint, &read);
      EXPECT_EQ(c.error, nullptr) << "no error";
      EXPECT_EQ(read, c.read);
      if (c.read != 0) {
        EXPECT_EQ(codePoint, c.codePoint);
      }
    } catch (const XMP_Error& error) {
      ASSERT_NE(c.error, nullptr) << error.GetErrMsg();
      EXPECT_EQ(error.GetID(), kXMPErr_BadParam);
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
}

TEST(EncodeUtf8CodePoint, ShortestFormOrNothingOrError) {
  struct Case {
    UTF32Unit codePoint;
    size_t room;
    Bytes out;
    const char* error;
  } cases[] = {
      {0x80, 2, {0xC2, 0x80}, nullptr},
      {0x7FF, 2, {0xDF, 0xBF}, nullptr},
      {0x800, 3, {0xE0, 0xA0, 0x80}, nullptr},
      {0xFFFD, 3, {0xEF, 0xBF, 0xBD}, nullptr},
      {0x10000, 4, {0xF0, 0x90, 0x80, 0x80}, nullptr},
      {0x10FFFF, 4, {0xF4, 0x8F, 0xBF, 0xBF}, nullptr},
      {0x10000, 3, {}, nullptr},  // no room: nothing written
      {0xE9, 1, {}, nullptr},
      {0x110000, 4, {}, "Bad UTF-32 - out of range"},
      {0xD800, 3, {}, "Bad UTF-32 - surrogate code point"},
      {0xDFFF, 3, {}, "Bad UTF-32 - surrogate code point"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.codePoint);
    uint8_t out[8] = {};
    size_t written = 99;
    try {
      EncodeUtf8CodePoint(c.codePoint, out, c.room, &written);
      EXPECT_EQ(c.error, nullptr);
      EXPECT_EQ(Bytes(out, out + written), c.out);
    } catch (const XMP_Error& error) {
      ASSERT_NE(c.error, nullptr) << error.GetErrMsg();
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
}

// Runs one stream converter over whole input bytes in one call with ample
// room; returns the output bytes and the input units read.
template <typename In, typename Out, typename Proc>
Bytes ConvertAll(Proc proc, const Bytes& in, size_t* unitsRead) {
  std::vector<In> inUnits(in.size() / sizeof(In) + 1);
  if (!in.empty()) std::memcpy(inUnits.data(), in.data(), in.size());
  inUnits.pop_back();
  std::vector<Out> outUnits(in.size() * 4 + 8);
  size_t written = 0;
  proc(inUnits.data(), inUnits.size(), outUnits.data(), outUnits.size(), unitsRead, &written);
  const auto* bytes = reinterpret_cast<const uint8_t*>(outUnits.data());
  Bytes out(bytes, bytes + written * sizeof(Out));
  return out;
}

TEST(StreamConverters, SurrogatePairsAndCutOffInput) {
  const UnicodeConverters& t = UnicodeConverterTable;
  size_t read = 0;
  EXPECT_EQ((ConvertAll<UTF16Unit, UTF8Unit>(t.UTF16BE_to_UTF8, {0xD8, 0x3D, 0xDE, 0x00}, &read)),
            (Bytes{0xF0, 0x9F, 0x98, 0x80}));
  EXPECT_EQ(read, 2u);
  EXPECT_EQ((ConvertAll<UTF16Unit, UTF8Unit>(t.UTF16LE_to_UTF8, {0x3D, 0xD8, 0x00, 0xDE}, &read)),
            (Bytes{0xF0, 0x9F, 0x98, 0x80}));
  // A pair cut after its high half converts nothing and reads nothing.
  EXPECT_EQ((ConvertAll<UTF16Unit, UTF8Unit>(t.UTF16BE_to_UTF8, {0xD8, 0x3D}, &read)),
 Bytes{});
  EXPECT_EQ(read, 0u);
  EXPECT_EQ((ConvertAll<UTF16Unit, UTF8Unit>(t.UTF16BE_to_UTF8, {0x00, 0x41, 0xD8, 0x3D}, &read)),
 Bytes{0x41});
  EXPECT_EQ(read, 1u);
  // UTF-8 cut inside a sequence: the part before it converts.
  EXPECT_EQ((ConvertAll<UTF8Unit, UTF16Unit>(t.UTF8_to_UTF16BE, {0x41, 0xE2, 0x82}, &read)),
 (Bytes{0x00, 0x41}));
  EXPECT_EQ(read, 1u);
  EXPECT_EQ((ConvertAll<UTF8Unit, UTF32Unit>(t.UTF8_to_UTF32LE, {0xC3, 0xA9}, &read)),
 (Bytes{0xE9, 0, 0, 0}));
  EXPECT_EQ((ConvertAll<UTF32Unit, UTF16Unit>(t.UTF32BE_to_UTF16LE, {0, 1, 0xF6, 0}, &read)),
            (Bytes{0x3D, 0xD8, 0x00, 0xDE}));
  EXPECT_EQ((ConvertAll<UTF16Unit, UTF32Unit>(t.UTF16LE_to_UTF32BE, {0x3D, 0xD8, 0x00, 0xDE}, &read)),
            (Bytes{0, 1, 0xF6, 0}));
}

TEST(StreamConverters, NoRoomForThePairWritesNothing) {
  const uint8_t in[] = {0xF0, 0x9F, 0x98, 0x80};
  UTF16Unit out[1];
  size_t read = 99, written = 99;
  UnicodeConverterTable.UTF8_to_UTF16BE(in, sizeof in, out, 1, &read, &written);
  EXPECT_EQ(read, 0u);
  EXPECT_EQ(written, 0u);
  UnicodeConverterTable.CodePoint_to_UTF16LE(0x1F600, out, 1, &written);
  EXPECT_EQ(written, 0u);
}

struct MalformedCase {
  const char* name;
  Bytes in;
  const char* error;
};

TEST(StreamConverters, MalformedInputThrowsItsMessage) {
  const UnicodeConverters& t = UnicodeConverterTable;
  const MalformedCase utf16[] = {
      {"leading low", {0xDC, 0x00, 0x00, 0x41}, "Bad UTF-16 - leading low surrogate"},
      {"high then ASCII", {0xD8, 0x3D, 0x00, 0x41}, "Bad UTF-16 - missing low surrogate"},
      {"high then high", {0xD8, 0x3D, 0xD8, 0x3D}, "Bad UTF-16 - missing low surrogate"},
  };
  for (const MalformedCase& c : utf16) {
    SCOPED_TRACE(c.name);
    size_t read;
    try {
      ConvertAll<UTF16Unit, UTF8Unit>(t.UTF16BE_to_UTF8, c.in, &read);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
    try {
      ConvertAll<UTF16Unit, UTF32Unit>(t.UTF16BE_to_UTF32LE, c.in, &read);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
  const MalformedCase utf32[] = {
      {"above range", {0x00, 0x11, 0x00, 0x00}, "Bad UTF-32 - out of range"},
      {"surrogate", {0x00, 0x00, 0xD8, 0x00}, "Bad UTF-32 - surrogate code point"},
  };
  for (const MalformedCase& c : utf32) {
    SCOPED_TRACE(c.name);
    size_t read;
    try {
      ConvertAll<UTF32Unit, UTF8Unit>(t.UTF32BE_to_UTF8, c.in, &read);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
}

TEST(Utf8StringConversion, WholeTextsAndIncompleteEnd) {
  std::string out;
  Utf8StringToUtf16("A\xC3\xA9", &out, UnicodeConverterTable.UTF8_to_UTF16LE);
  EXPECT_EQ(out, std::string("A\0\xE9\0", 4));
  Utf8StringToUtf32("", &out, UnicodeConverterTable.UTF8_to_UTF32BE);
  EXPECT_EQ(out, "");
  // Longer than one conversion piece.
  const std::string big(20000, 'x');
  Utf8StringToUtf32(big, &out, UnicodeConverterTable.UTF8_to_UTF32BE);
  ASSERT_EQ(out.size(), big.size() * 4);
  EXPECT_EQ(out.substr(out.size() - 4), std::string("\0\0\0x", 4));
  for (const char* text : {"abc\xE2", "\xE2", "abc\xF0\x9F\x98"}) {
    try {
      Utf8StringToUtf32(text, &out, UnicodeConverterTable.UTF8_to_UTF32LE);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), kXMPErr_BadXML);
      EXPECT_STREQ(error.GetErrMsg(), "Incomplete Unicode at end of string");
    }
  }
}

TEST(CheckUtf8Text, CutOffSequenceIsAnErrorNotASilentStop) {
  EXPECT_NO_THROW(CheckUtf8Text("plain \xC3\xA9 \xF0\x9F\x98\x80"));
  EXPECT_NO_THROW(CheckUtf8Text(std::string("\xC0\x80", 2)));
  for (const char* text : {"ab\xC3", "\xE2\x82", "x\xF0\x9F\x98", "\xC3\x28"}) {
    try {
      CheckUtf8Text(text);
      ADD_FAILURE() << "no error for " << text;
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), kXMPErr_BadParam);
      EXPECT_STREQ(error.GetErrMsg(), "Invalid UTF-8 data byte");
    }
  }
}

// glibc's iconv as an independent oracle.
Bytes Iconv(const char* to, const char* from, const Bytes& in) {
  iconv_t cd = iconv_open(to, from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  Bytes out(in.size() * 4 + 16);
  char* inPtr = reinterpret_cast<char*>(const_cast<uint8_t*>(in.data()));
  size_t inLeft = in.size();
  char* outPtr = reinterpret_cast<char*>(out.data());
  size_t outLeft = out.size();
  const size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  EXPECT_NE(result, static_cast<size_t>(-1));
  EXPECT_EQ(inLeft, 0u);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Random valid text as UTF-32LE bytes: mostly ASCII, with two-, three- and
// four-byte characters, never a surrogate.
Bytes RandomUtf32Le(std::mt19937& random) {
  std::uniform_int_distribution<int> length(0, 40), kind(0, 9);
  Bytes text;
  const int n = length(random);
  for (int i = 0; i < n; ++i) {
    UTF32Unit cp;
    switch (kind(random)) {
      case 0: cp = std::uniform_int_distribution<UTF32Unit>(0x80, 0x7FF)(random); break;
      case 1: cp = std::uniform_int_distribution<UTF32Unit>(0x800, 0xD7FF)(random); break;
      case 2: cp = std::uniform_int_distribution<UTF32Unit>(0xE000, 0xFFFF)(random); break;
      case 3: cp = std::uniform_int_distribution<UTF32Unit>(0x10000, 0x10FFFF)(random); break;
      default: cp = std::uniform_int_distribution<UTF32Unit>(0, 0x7F)(random); break;
    }
    for (int b = 0; b < 4; ++b) text.push_back(static_cast<uint8_t>(cp >> (8 * b)));
  }
  return text;
}

// Runs a stream converter the way the parser and serialiser do: the input
// arrives in random pieces (a character cut by a piece's end is left for
// the next call) and the output room is small.
template <typename In, typename Out, typename Proc>
Bytes ConvertInPieces(Proc proc, const Bytes& inBytes, std::mt19937& random, size_t minRoom) {
  std::vector<In> in(inBytes.size() / sizeof(In) + 1);
  if (!inBytes.empty()) std::memcpy(in.data(), inBytes.data(), inBytes.size());
  in.pop_back();
  Bytes out;
  std::vector<Out> room(8);
  size_t pos = 0;
  std::uniform_int_distribution<size_t> piece(1, 6), roomSize(minRoom, 7);
  while (pos < in.size()) {
    size_t available = std::min(piece(random), in.size() - pos);
    size_t read = 0, written = 0;
    proc(in.data() + pos, available, room.data(), roomSize(random), &read, &written);
    if (read == 0 && written == 0) {
      // Only a character cut by the piece's end or too little room may
      // stop a call; with everything at hand it must move.
      proc(in.data() + pos, in.size() - pos, room.data(), room.size(), &read, &written);
      if (read == 0) {
        ADD_FAILURE() << "no progress at unit " << pos;
        break;
      }
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(room.data());
    out.insert(out.end(), bytes, bytes + written * sizeof(Out));
    pos += read;
  }
  return out;
}

TEST(StreamConverters, RoundTripAgainstIconvThroughSmallBuffers) {
  const UnicodeConverters& t = UnicodeConverterTable;
  std::mt19937 random(20261210);
  for (int round = 0; round < 300; ++round) {
    const Bytes utf32le = RandomUtf32Le(random);
    const Bytes utf8 = Iconv("UTF-8", "UTF-32LE", utf32le);
    const Bytes utf16be = Iconv("UTF-16BE", "UTF-32LE", utf32le);
    const Bytes utf16le = Iconv("UTF-16LE", "UTF-32LE", utf32le);
    const Bytes utf32be = Iconv("UTF-32BE", "UTF-32LE", utf32le);
    SCOPED_TRACE(Hex(utf8));

    EXPECT_EQ((ConvertInPieces<UTF8Unit, UTF16Unit>(t.UTF8_to_UTF16BE, utf8, random, 2)), utf16be);
    EXPECT_EQ((ConvertInPieces<UTF8Unit, UTF16Unit>(t.UTF8_to_UTF16LE, utf8, random, 2)), utf16le);
    EXPECT_EQ((ConvertInPieces<UTF8Unit, UTF32Unit>(t.UTF8_to_UTF32BE, utf8, random, 1)), utf32be);
    EXPECT_EQ((ConvertInPieces<UTF8Unit, UTF32Unit>(t.UTF8_to_UTF32LE, utf8, random, 1)), utf32le);

    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF8Unit>(t.UTF16BE_to_UTF8, utf16be, random, 4)), utf8);
    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF8Unit>(t.UTF16LE_to_UTF8, utf16le, random, 4)), utf8);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF8Unit>(t.UTF32BE_to_UTF8, utf32be, random, 4)), utf8);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF8Unit>(t.UTF32LE_to_UTF8, utf32le, random, 4)), utf8);

    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF32Unit>(t.UTF16BE_to_UTF32BE, utf16be, random, 1)), utf32be);
    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF32Unit>(t.UTF16BE_to_UTF32LE, utf16be, random, 1)), utf32le);
    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF32Unit>(t.UTF16LE_to_UTF32BE, utf16le, random, 1)), utf32be);
    EXPECT_EQ((ConvertInPieces<UTF16Unit, UTF32Unit>(t.UTF16LE_to_UTF32LE, utf16le, random, 1)), utf32le);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF16Unit>(t.UTF32BE_to_UTF16BE, utf32be, random, 2)), utf16be);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF16Unit>(t.UTF32BE_to_UTF16LE, utf32be, random, 2)), utf16le);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF16Unit>(t.UTF32LE_to_UTF16BE, utf32le, random, 2)), utf16be);
    EXPECT_EQ((ConvertInPieces<UTF32Unit, UTF16Unit>(t.UTF32LE_to_UTF16LE, utf32le, random, 2)), utf16le);

    std::string wide;
    const std::string text(utf8.begin(), utf8.end());
    Utf8StringToUtf16(text, &wide, t.UTF8_to_UTF16BE);
    EXPECT_EQ(Bytes(wide.begin(), wide.end()), utf16be);
    Utf8StringToUtf32(text, &wide, t.UTF8_to_UTF32LE);
    EXPECT_EQ(Bytes(wide.begin(), wide.end()), utf32le);
  }
}

}  // namespace
