// Texts: UTF-8 decoding of damaged input, assignment and aliasing, the
// clean-up operations, ASCII folding, UTF-16 both ways (RFC 3629, RFC 2781),
// and the code pages against the C library's and the iconv program's
// conversions.
#include "dng/core/dng_text.h"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cstdio>
#include <string>
#include <vector>

#include "dng/core/dng_code_page.h"
#include "dng/core/dng_text_list.h"
#include "dng/core/dng_utf8.h"
#include "support/temp_folder.h"

namespace {

std::string hex_bytes(const std::string& s) {
  std::string out;
  char buf[4];
  for (unsigned char c : s) {
    snprintf(buf, sizeof buf, "%02X ", c);
    out += buf;
  }
  return out;
}

dng_text text_of(const std::string& s) {
  dng_text t;
  t.Assign(s.c_str());
  return t;
}

TEST(Utf8, DecodesAndAlwaysAdvancesWithinTheText) {
  struct Case {
    std::string bytes;
    std::vector<uint32_t> code_points;
  };
  const Case cases[] = {
      {"A", {0x41}},
      {"\xC3\xA9", {0xE9}},
      {"\xE2\x82\xAC", {0x20AC}},
      {"\xF0\x9F\x98\x80", {0x1F600}},  // RFC 3629 four-byte form
      {"\x80", {0xFFFD}},               // a continuation byte starts nothing
      {"\xBF" "A", {0xFFFD, 0x41}},
      {"\xE2\x82", {0xFFFD}},           // cut short by the terminator
      {"\xC3", {0xFFFD}},
      {"\xFF", {0xFFFD}},               // six-byte lead at the end
      {"\xF0\x9F", {0xFFFD}},
      {"x\xC3\xA9\x80y", {0x78, 0xE9, 0xFFFD, 0x79}},
      // Continuation bits are not tested: C3 41 combines like C3 81.
      {"\xC3\x41", {0x41 + 0xC0 - 0x80}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> got;
    const char* begin = c.bytes.c_str();
    const char* end = begin + c.bytes.size();
    const char* cursor = begin;
    while (*cursor != 0 && got.size() < 10) {
      const char* before = cursor;
      got.push_back(next_utf8_code_point(cursor));
      EXPECT_GT(cursor, before) << hex_bytes(c.bytes);
      EXPECT_LE(cursor, end) << hex_bytes(c.bytes);
    }
    EXPECT_EQ(got, c.code_points) << hex_bytes(c.bytes);
  }
}

TEST(Utf8, UpperAsciiChar) {
  EXPECT_EQ(upper_ascii_char('a'), 'A');
  EXPECT_EQ(upper_ascii_char('z'), 'Z');
  EXPECT_EQ(upper_ascii_char('{'), '{');
  EXPECT_EQ(upper_ascii_char('\xE9'), '\xE9');
}

TEST(Text, AssignReusesOrReleasesTheBlock) {
  dng_text t;
  EXPECT_TRUE(t.Empty());
  EXPECT_STREQ(t.CStr(), "");
  t.Assign("0123456789");
  const char* ten = t.CStr();
  t.Assign("abc");
  EXPECT_EQ(t.CStr(), ten);  // shorter: overwritten in place
  EXPECT_STREQ(t.CStr(), "abc");
  t.Assign("abcdefghijkl");
  EXPECT_STREQ(t.CStr(), "abcdefghijkl");
  EXPECT_EQ(t.ByteLength(), 12u);
  t.Assign("");
  EXPECT_TRUE(t.Empty());
  EXPECT_STREQ(t.CStr(), "");
  t.Assign("x");
  t.Assign(nullptr);
  EXPECT_TRUE(t.Empty());
}

TEST(Text, OwnBytesAsTheSource) {
  dng_text t = text_of("abcdef");
  t.Concat(t.CStr());
  EXPECT_STREQ(t.CStr(), "abcdefabcdef");
  t.Concat(t.CStr() + 9);
  EXPECT_STREQ(t.CStr(), "abcdefabcdefdef");
  t.Assign(t.CStr() + 3);  // overlapping move within the block
  EXPECT_STREQ(t.CStr(), "defabcdefdef");
  t.Assign(t.CStr());
  EXPECT_STREQ(t.CStr(), "defabcdefdef");
  t = t;
  EXPECT_STREQ(t.CStr(), "defabcdefdef");

  dng_text copy(t);
  copy.Concat("!");
  EXPECT_STREQ(t.CStr(), "defabcdefdef");
  EXPECT_STREQ(copy.CStr(), "defabcdefdef!");
}

TEST(Text, Comparisons) {
  struct Case {
    const char* text;
    const char* other;
    bool equals_exact;
    bool equals_folded;
    bool begins_exact;
    bool begins_folded;
  };
  const Case cases[] = {
      {"abc", "ABC", false, true, false, true},
      {"abc", "abc", true, true, true, true},
      {"abc", "abcd", false, false, false, false},
      {"abcd", "ab", false, false, true, true},
      {"abc", "", false, false, true, true},
      {"", "", true, true, true, true},
      {"\xC3\xA9", "\xC3\x89", false, false, false, false},  // only a-z fold
      {"a[", "A{", false, false, false, false},
  };
  for (const Case& c : cases) {
    dng_text t = text_of(c.text);
    EXPECT_EQ(t.EqualsText(c.other, true), c.equals_exact) << c.text << " / " << c.other;
    EXPECT_EQ(t.EqualsText(c.other, false), c.equals_folded) << c.text << " / " << c.other;
    EXPECT_EQ(t.BeginsWith(c.other, true), c.begins_exact) << c.text << " / " << c.other;
    EXPECT_EQ(t.BeginsWith(c.other, false), c.begins_folded) << c.text << " / " << c.other;
  }
}

TEST(Text, CleanUpOperations) {
  enum Op { kStrip, kLineEndsToLF, kLineEndsRemoved, kDropControls, kLimit2, kLimit1, kFold };
  struct Case {
    Op op;
    std::string in;
    std::string out;
  };
  const Case cases[] = {
      {kStrip, "abc  ", "abc"},
      {kStrip, "a b", "a b"},
      {kStrip, "   ", ""},
      {kStrip, "abc\t ", "abc\t"},
      {kLineEndsToLF, "a\r\n\r\nb", "a\n\nb"},
      {kLineEndsToLF, "a\n\rb", "a\nb"},
      {kLineEndsToLF, "a\r\rb\n", "a\n\nb\n"},
      {kLineEndsToLF, "a\n\r\nb", "a\n\nb"},
      {kLineEndsRemoved, "a\r\nb\rc\n", "abc"},
      {kLineEndsRemoved, "\r\n", ""},
      {kDropControls, std::string("a\x01\t\n\x0B\x0C\r\x1F\x7F\xC3\xA9 b"), "a\n\r\x7F\xC3\xA9 b"},
      {kDropControls, "\x01\x02", ""},
      {kLimit2, "\xC3\xA9x", "\xC3\xA9"},
      {kLimit1, "\xC3\xA9x", ""},
      {kLimit2, "ab", "ab"},
      {kLimit2, "\xE2\x82\xAC", ""},
      {kFold, "M\xC3\xBCller", "Muller"},
      {kFold, "\xC3\x9F", "?"},
      {kFold, "wait\xE2\x80\xA6", "wait..."},
      {kFold, "\xC2\xA9 2010", "(C) 2010"},
      {kFold, "\xC3\x86on \xEF\xAC\x81", "AEon fi"},
      {kFold, "\xE2\x80\x9Cq\xE2\x80\x9D", "\"q\""},
      {kFold, "\xF0\x9F\x98\x80", "?"},
      {kFold, "\x80z", "?z"},  // a stray continuation byte
      {kFold, "plain", "plain"},
  };
  for (const Case& c : cases) {
    dng_text t = text_of(c.in);
    switch (c.op) {
      case kStrip:
        EXPECT_EQ(t.StripTrailingSpaces(), c.in != c.out) << hex_bytes(c.in);
        break;
      case kLineEndsToLF:
        t.NormalizeLineEnds('\n');
        break;
      case kLineEndsRemoved:
        t.NormalizeLineEnds(0);
        break;
      case kDropControls:
        t.DropControlChars();
        break;
      case kLimit2:
        t.LimitBytes(2);
        break;
      case kLimit1:
        t.LimitBytes(1);
        break;
      case kFold:
        t.FoldToASCII();
        break;
    }
    EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(c.out)) << c.op << ": " << hex_bytes(c.in);
    EXPECT_EQ(t.Empty(), c.out.empty()) << c.op << ": " << hex_bytes(c.in);
  }
}

TEST(Text, FromUtf16) {
  struct Case {
    std::vector<uint16_t> units;  // without the terminator
    std::string utf8;
  };
  const Case cases[] = {
      {{0x0041, 0x0042}, "AB"},
      {{0xFEFF, 0x0041, 0x0042}, "AB"},
      {{0xFFFE, 0x4100, 0x4200}, "AB"},             // swapped after a reversed mark
      {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},       // RFC 2781 pair for U+1F600
      {{0xFFFE, 0x3DD8, 0x00DE}, "\xF0\x9F\x98\x80"},
      {{0xD800, 0x0041}, "\xED\xA0\x80" "A"},       // unpaired high surrogate
      {{0xD800}, "\xED\xA0\x80"},
      {{0xDC00, 0xD800}, "\xED\xB0\x80\xED\xA0\x80"},
      {{0x00E9, 0x07FF, 0x0800, 0xFFFF}, "\xC3\xA9\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
      {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"},
      {{}, ""},
      {{0xFEFF}, ""},
  };
  for (const Case& c : cases) {
    std::vector<uint16_t> units = c.units;
    units.push_back(0);
    dng_text t = text_of("previous");
    t.AssignUTF16(units.data());
    EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(c.utf8));
    EXPECT_EQ(t.Empty(), c.utf8.empty());
  }
  dng_text t = text_of("x");
  t.AssignUTF16(nullptr);
  EXPECT_TRUE(t.Empty());
}

TEST(Text, ToUtf16) {
  struct Case {
    std::string utf8;
    std::vector<uint16_t> units;  // with the terminator
  };
  const Case cases[] = {
      {"\xF0\x9F\x98\x80", {0xD83D, 0xDE00, 0}},
      {"A\xC3\xA9\xE2\x82\xAC", {0x41, 0xE9, 0x20AC, 0}},
      {"\xF4\x8F\xBF\xBF", {0xDBFF, 0xDFFF, 0}},
      {"\xF4\x90\x80\x80", {0xFFFD, 0}},  // above U+10FFFF
      {"\x80", {0xFFFD, 0}},
      {"", {0}},
  };
  for (const Case& c : cases) {
    dng_heap_buffer out;
    uint32_t n = dng_text(c.utf8.c_str()).ToUTF16Units(out);
    ASSERT_EQ(n + 1, c.units.size()) << hex_bytes(c.utf8);
    const uint16_t* u = static_cast<const uint16_t*>(out.Buffer());
    EXPECT_EQ(std::vector<uint16_t>(u, u + n + 1), c.units) << hex_bytes(c.utf8);
  }
}

// What the C library's iconv makes of bytes in the named encoding, as UTF-8;
// nullopt-like empty with ok = false when it refuses them.
std::string iconv_to_utf8(const char* from, const std::string& bytes, bool* ok) {
  iconv_t cd = iconv_open("UTF-8", from);
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(bytes.size() * 4 + 16, '\0');
  char* in = const_cast<char*>(bytes.data());
  size_t in_left = bytes.size();
  char* to = out.data();
  size_t to_left = out.size();
  *ok = iconv(cd, &in, &in_left, &to, &to_left) != static_cast<size_t>(-1);
  iconv_close(cd);
  out.resize(out.size() - to_left);
  return out;
}

TEST(CodePage, Windows1252AgainstTheCLibraryAndTheUnassignedBytes) {
  for (int b = 0x01; b <= 0xFF; ++b) {
    std::string byte(1, static_cast<char>(b));
    dng_text t;
    t.AssignSystemCodePage(byte.c_str());
    bool unassigned = b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D;
    if (unassigned) {
      // The C1 control of the same value, as Windows maps them.
      dng_text expected;
      const uint16_t units[] = {static_cast<uint16_t>(b), 0};
      expected.AssignUTF16(units);
      EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(expected.CStr())) << b;
      EXPECT_EQ(code_page_1252_unit(static_cast<uint8_t>(b)), b);
    } else {
      bool ok = false;
      std::string oracle = iconv_to_utf8("CP1252", byte, &ok);
      ASSERT_TRUE(ok) << b;
      EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(oracle)) << b;
    }
  }
  dng_text t;
  t.AssignASCIIOrSystem("Caf\xE9 \x80" "5");
  EXPECT_STREQ(t.CStr(), "Caf\xC3\xA9 \xE2\x82\xAC" "5");
}

TEST(CodePage, AsciiAndEmptyAndUnknown) {
  dng_text t;
  t.AssignJISCodePage("plain");
  EXPECT_STREQ(t.CStr(), "plain");
  t.AssignSystemCodePage(nullptr);
  EXPECT_TRUE(t.Empty());
  t.Assign("x");
  t.AssignCodePage("", dng_code_page_1252);
  EXPECT_TRUE(t.Empty());
  t.Assign("x");
  t.AssignCodePage("\xE9", 437);  // no converter for it: empty
  EXPECT_TRUE(t.Empty());
}

TEST(CodePage, EucJpDamagedSequences) {
  struct Case {
    std::string bytes;
    std::string utf8;
  };
  const Case cases[] = {
      {"\xA4\xA2", "\xE3\x81\x82"},                          // U+3042
      {"\xA4\xA2\xA4", "\xE3\x81\x82\xEF\xBF\xBD"},          // cut at the end
      {"\xA4" "A", "\xEF\xBF\xBD" "A"},                      // bad second byte
      {"\xFF\xA4\xA2", "\xEF\xBF\xBD\xE3\x81\x82"},
      {"\x8E\xB1", "\xEF\xBD\xB1"},                          // half-width katakana
      {"\x8F\xB0\xA1", "\xE4\xB8\x82"},                      // JIS X 0212
      {"x\x8E", "x\xEF\xBF\xBD"},
  };
  for (const Case& c : cases) {
    dng_text t;
    t.AssignJISCodePage(c.bytes.c_str());
    EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(c.utf8)) << hex_bytes(c.bytes);
  }
}

TEST(CodePage, EucJpTwoByteTableAgainstTheIconvProgram) {
  // Every two-byte code of rows A1-F4, one per line, through iconv(1).
  // Codes it refuses are left out of its input; they must come out of ours
  // as replacement characters only.
  testing_support::TempFolder folder;
  std::string input;
  std::vector<std::string> codes;
  for (int row = 0xA1; row <= 0xF4; ++row) {
    for (int cell = 0xA1; cell <= 0xFE; ++cell) {
      std::string code = {static_cast<char>(row), static_cast<char>(cell)};
      bool ok = false;
      iconv_to_utf8("EUC-JP", code, &ok);
      if (ok) {
        codes.push_back(code);
        input += code + "\n";
      } else {
        dng_text t;
        t.AssignJISCodePage(code.c_str());
        EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes("\xEF\xBF\xBD\xEF\xBF\xBD")) << hex_bytes(code);
      }
    }
  }
  ASSERT_GT(codes.size(), 6000u);
  std::string path = folder.write_file("eucjp.txt", input);
  std::string command = "iconv -f EUC-JP -t UTF-8 '" + path + "'";
  FILE* pipe = popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[64];
  size_t i = 0;
  while (fgets(line, sizeof line, pipe) != nullptr && i < codes.size()) {
    std::string expected(line);
    expected.pop_back();  // the newline
    dng_text t;
    t.AssignJISCodePage(codes[i].c_str());
    EXPECT_EQ(hex_bytes(t.CStr()), hex_bytes(expected)) << hex_bytes(codes[i]);
    ++i;
  }
  EXPECT_EQ(pclose(pipe), 0);
  EXPECT_EQ(i, codes.size());
}

TEST(TextList, GrowsByDoublingAndOwnsCopies) {
  dng_text_list list;
  std::vector<uint32_t> capacities;
  for (const char* s : {"one", "two", "three", "four", "five"}) {
    list.Append(dng_text(s));
    capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities, (std::vector<uint32_t>{1, 2, 4, 4, 8}));
  dng_text outside("zero");
  list.InsertCopy(0, outside);
  outside.Assign("changed");
  ASSERT_EQ(list.Count(), 6u);
  std::string joined;
  for (uint32_t i = 0; i < list.Count(); ++i) joined += std::string(list[i].CStr()) + ",";
  EXPECT_EQ(joined, "zero,one,two,three,four,five,");
  list.GrowCapacity(20);
  EXPECT_EQ(list.Capacity(), 20u);
  EXPECT_STREQ(list[5].CStr(), "five");
}

}  // namespace
