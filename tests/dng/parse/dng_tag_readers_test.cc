// The text, date-time, matrix and vector readers over literal value bytes:
// what they take, the warning lines they print, and hostile counts that must
// be refused before anything is allocated.
#include "dng/parse/dng_tag_readers.h"

#include <gtest/gtest.h>

#include <string>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_tag_types.h"
#include "dng/parse/dng_tag_dumps.h"
#include "dng/support/failing_allocator.h"
#include "parse_test_util.h"

namespace {

using dng_test::printed_by;
using dng_test::warning_line;

std::string warnings(std::initializer_list<std::string> messages) {
  std::string out;
  for (const std::string& m : messages) out += warning_line(m);
  return out;
}

TEST(ReadStringTag, TextsAndTheirWarnings) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t parent;
    uint32_t count;
    bool trim;
    bool ascii_check;
    std::string text;
    std::string err;
  };
  const Case cases[] = {
      {"terminated", std::string("Canon\0", 6), 0, 6, true, true, "Canon", ""},
      {"not terminated", "Canon", 0, 5, true, true, "Canon",
       warning_line("IFD 0 Make is not NULL terminated")},
      {"not terminated in a maker note", "Canon", 0x30008, 5, true, true, "Canon", ""},
      {"ends at the first zero", std::string("ab\0cd", 5), 0, 5, true, true, "ab", ""},
      {"count 0 reads nothing", "xyz", 0, 0, true, true, "",
       warning_line("IFD 0 Make is not NULL terminated")},
      {"trimmed", std::string("EOS   \0", 7), 0, 7, true, true, "EOS", ""},
      {"untrimmed", std::string("EOS   \0", 7), 0, 7, false, true, "EOS   ", ""},
      {"code page 1252", std::string("Caf\xE9\0", 5), 0, 5, true, true, "Caf\xC3\xA9",
       warning_line("IFD 0 Make has non-ASCII characters")},
      {"1252 in a private block", std::string("Caf\xE9\0", 5), 0x40000, 5, true, true,
       "Caf\xC3\xA9", ""},
      {"UTF-8 as is", std::string("Caf\xC3\xA9\0", 6), 0, 6, true, false, "Caf\xC3\xA9", ""},
  };
  for (const Case& c : cases) {
    dng_stream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    dng_text text("old");
    const dng_test::Printed p = printed_by([&] {
      read_string_tag(stream, c.parent, 271, c.count, text, c.trim, c.ascii_check);
    });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_STREQ(text.CStr(), c.text.c_str()) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
    EXPECT_EQ(stream.Position(), c.count) << c.what;
  }
}

// A count the stream cannot hold is the read-past-the-end verdict, raised
// before the buffer of count + 1 bytes is asked for (the first raw
// allocation would fail with 100005 instead).
TEST(TextReaders, CountsBeyondTheStreamFailBeforeAllocating) {
  const std::string bytes = "ASCII\0\0\0abcdefgh";
  for (uint32_t count : {17u, 0x40000001u, 0xFFFFFFFEu, 0xFFFFFFFFu}) {
    struct Reader {
      const char* what;
      std::function<void(dng_stream&)> read;
    };
    dng_text a, b;
    const Reader readers[] = {
        {"string", [&](dng_stream& s) { read_string_tag(s, 0, 305, count, a, true, true); }},
        {"pair", [&](dng_stream& s) { read_string_pair_tag(s, 0, 33432, count, a, b); }},
        {"encoded", [&](dng_stream& s) { read_encoded_text_tag(s, 34665, 37510, count, a); }},
    };
    for (const Reader& r : readers) {
      dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
      dng_test::Printed p;
      {
        dng_test::RawMallocFailure no_allocation(1);
        p = printed_by([&] { r.read(stream); });
      }
      EXPECT_EQ(p.code, dng_code_end_of_file) << r.what << " " << count;
      EXPECT_EQ(p.err, dng_test::error_line("Unexpected end-of-file")) << r.what;
      EXPECT_EQ(p.out, "") << r.what;
    }
  }
}

TEST(ReadStringPairTag, TwoTextsAndTheTerminationRule) {
  struct Case {
    const char* what;
    std::string bytes;
    std::string first;
    std::string second;
    std::string err;
  };
  const std::string not_terminated = warning_line("IFD 0 Copyright is not NULL terminated");
  const Case cases[] = {
      {"two texts", std::string("Photographer\0Editor\0", 20), "Photographer", "Editor", ""},
      {"one text", std::string("Photographer\0", 13), "Photographer", "", ""},
      {"one text, no zero", "Photographer", "Photographer", "", not_terminated},
      {"second not terminated", std::string("Photo\0Editor", 12), "Photo", "Editor",
       not_terminated},
      {"two zeros, last not zero", std::string("A\0B\0C", 5), "A", "B", ""},
      {"leading zero", std::string("\0Editor\0", 8), "", "", ""},
      {"blanks trimmed", std::string("A  \0B  \0", 8), "A", "B", ""},
      {"count 0", "", "", "", not_terminated},
      {"one byte", "A", "A", "", not_terminated},
      {"one zero byte", std::string("\0", 1), "", "", ""},
      {"zero at count - 1 starts nothing", std::string("A\0", 2), "A", "", ""},
      {"non-ASCII second", std::string("A\0\xA9 B\0", 6), "A", "\xC2\xA9 B",
       warning_line("IFD 0 Copyright has non-ASCII characters")},
  };
  for (const Case& c : cases) {
    dng_stream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    dng_text first("x"), second("y");
    const dng_test::Printed p = printed_by([&] {
      read_string_pair_tag(stream, 0, 33432, static_cast<uint32_t>(c.bytes.size()), first,
                           second);
    });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_STREQ(first.CStr(), c.first.c_str()) << c.what;
    EXPECT_STREQ(second.CStr(), c.second.c_str()) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
  }
}

std::string utf16(const std::u16string& units, bool big_endian) {
  std::string s;
  for (char16_t u : units) dng_test::put16(s, u, big_endian);
  return s;
}

TEST(ReadEncodedTextTag, LabelsDecideTheEncoding) {
  struct Case {
    const char* what;
    std::string bytes;
    bool big_endian;
    std::string text;
    std::string err;
  };
  const std::string label_unicode("UNICODE\0", 8);
  const std::string label_ascii("ASCII\0\0\0", 8);
  const Case cases[] = {
      {"ASCII", label_ascii + "Hello  ", false, "Hello", ""},
      {"ASCII with terminator", label_ascii + std::string("Hi\0junk", 7), false, "Hi", ""},
      {"lower-case label", std::string("ascii\0\0\0Hi", 10), false, "Hi",
       warnings({"Exif IFD UserComment text encoding label not all uppercase"})},
      {"ASCII label, 1252 byte", label_ascii + "caf\xE9", false, "caf\xC3\xA9",
       warnings({"Exif IFD UserComment has non-ASCII characters"})},
      {"UTF-16 little-endian", label_unicode + utf16(u"H\u00E9", false), false, "H\xC3\xA9", ""},
      {"UTF-16 big-endian", label_unicode + utf16(u"H\u00E9", true), true, "H\xC3\xA9", ""},
      {"UTF-16, odd byte left", label_unicode + utf16(u"Ok", false) + "x", false, "Ok", ""},
      {"UTF-16 ended early", label_unicode + utf16(std::u16string(u"Ok\0zz", 5), false), false,
       "Ok", ""},
      {"UTF-8 read as UTF-16", label_unicode + "ab    cd", false,
       "\xE6\x89\xA1\xE2\x80\xA0\xE2\x80\xA0\xE6\x91\xA3",
       warnings({"Exif IFD UserComment text appears to be UTF-8 rather than UTF-16"})},
      {"one blank pair is fine", label_unicode + utf16(u"a\u2020b", false), false,
       "a\xE2\x80\xA0" "b", ""},
      {"JIS", std::string("JIS\0\0\0\0\0", 8) + "\xA4\xA2", false, "\xE3\x81\x82", ""},
      {"undefined label", std::string(8, '\0') + "Text", false, "Text",
       warnings({"Exif IFD UserComment has unknown encoding"})},
      {"other label", std::string("XYZ\0\0\0\0\0", 8) + "Text", false, "Text",
       warnings({"Exif IFD UserComment has unexpected text encoding"})},
      {"other label, control byte", std::string("XYZ\0\0\0\0\0", 8) + "Te\x01xt", false, "",
       warnings({"Exif IFD UserComment has unexpected text encoding"})},
      {"label only", label_ascii, false, "", ""},
      {"count below 8", "ASCII", false, "",
       warnings({"Exif IFD UserComment has unexpected count (5)"})},
  };
  for (const Case& c : cases) {
    dng_stream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    stream.SetByteSwapped(c.big_endian);
    dng_text text("old");
    const dng_test::Printed p = printed_by([&] {
      read_encoded_text_tag(stream, 34665, 37510, static_cast<uint32_t>(c.bytes.size()), text);
    });
    EXPECT_EQ(p.code, 0) << c.what;
    EXPECT_EQ(std::string(text.CStr()), c.text) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
  }
}

TEST(ReadDateTimeTag, ParsesAcceptsBlankDatesAndRefusesTheRest) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t type;
    uint32_t count;
    bool taken;
    uint32_t year, month, day, hour, minute, second;
    std::string err;
  };
  const Case cases[] = {
      {"date-time", std::string("2024:05:06 07:08:09\0", 20), 2, 20, true, 2024, 5, 6, 7, 8, 9,
       ""},
      {"blanks", std::string(19, ' ') + '\0', 2, 20, true, 0, 0, 0, 0, 0, 0, ""},
      {"zeros and colons", std::string("0000:00:00 00:00:00\0", 20), 2, 20, true, 0, 0, 0, 0, 0,
       0, ""},
      {"month 13", std::string("2024:13:06 07:08:09\0", 20), 2, 20, false, 0, 0, 0, 0, 0, 0,
       warning_line("IFD 0 DateTime is not a valid date/time")},
      {"wrong type", std::string("2024:05:06 07:08:09\0", 20), 7, 20, false, 1, 1, 1, 1, 1, 1,
       warning_line("IFD 0 DateTime has unexpected type (Undefined)")},
      {"wrong count", std::string("2024:05:06 07:08:09", 19), 2, 19, false, 1, 1, 1, 1, 1, 1,
       warning_line("IFD 0 DateTime has unexpected count (19)")},
  };
  for (const Case& c : cases) {
    dng_stream stream(c.bytes.data(), static_cast<uint32_t>(c.bytes.size()));
    dng_calendar_time d;
    d.year = d.month = d.day = d.hour = d.minute = d.second = 1;
    bool taken = false;
    const dng_test::Printed p =
        printed_by([&] { taken = read_date_time_tag(stream, 0, 306, c.type, c.count, d); });
    EXPECT_EQ(taken, c.taken) << c.what;
    EXPECT_EQ(d.year, c.year) << c.what;
    EXPECT_EQ(d.month, c.month) << c.what;
    EXPECT_EQ(d.day, c.day) << c.what;
    EXPECT_EQ(d.hour, c.hour) << c.what;
    EXPECT_EQ(d.minute, c.minute) << c.what;
    EXPECT_EQ(d.second, c.second) << c.what;
    EXPECT_EQ(p.err, c.err) << c.what;
    EXPECT_EQ(p.out, "") << c.what;
  }
}

TEST(ReadMatrixTag, RowByRowOrUnchangedOnACountMismatch) {
  std::string bytes;
  for (int32_t v : {1, 2, -3, 4, 5, 6}) {
    dng_test::put32(bytes, static_cast<uint32_t>(v * 10), true);
    dng_test::put32(bytes, 10, true);
  }
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  stream.SetByteSwapped(true);
  dng_matrix m;
  bool taken = false;
  dng_test::Printed p = printed_by(
      [&] { taken = read_matrix_tag(stream, 0, 50721, dng_type_srational, 6, 2, 3, m); });
  EXPECT_TRUE(taken);
  ASSERT_EQ(m.Rows(), 2u);
  ASSERT_EQ(m.Cols(), 3u);
  EXPECT_EQ(m[0][2], -3.0);
  EXPECT_EQ(m[1][0], 4.0);
  EXPECT_EQ(p.err + p.out, "");

  stream.SeekForRead(0);
  p = printed_by(
      [&] { taken = read_matrix_tag(stream, 0, 50721, dng_type_srational, 6, 3, 3, m); });
  EXPECT_FALSE(taken);
  EXPECT_EQ(m.Rows(), 2u);
  EXPECT_EQ(p.err, warning_line("IFD 0 ColorMatrix1 has unexpected count (6)"));
  EXPECT_EQ(stream.Position(), 0u);
}

TEST(ReadVectorTag, ReadsNRealsOrLeavesTheVector) {
  std::string bytes;
  for (uint32_t v : {1u, 2u, 3u}) {
    dng_test::put32(bytes, v, false);
    dng_test::put32(bytes, 4, false);
  }
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  dng_vector v;
  EXPECT_TRUE(read_vector_tag(stream, 0, 50728, dng_type_rational, 3, 3, v));
  ASSERT_EQ(v.Count(), 3u);
  EXPECT_EQ(v[2], 0.75);
  const dng_test::Printed p =
      printed_by([&] { EXPECT_FALSE(read_vector_tag(stream, 0, 50728, 5, 2, 3, v)); });
  EXPECT_EQ(p.err, warning_line("IFD 0 AsShotNeutral has unexpected count (2)"));
  EXPECT_EQ(v.Count(), 3u);
}

TEST(Dumps, StayOffAndPrintOnlyWhenSwitchedOn) {
  EXPECT_FALSE(dng_verbose);
  const std::string bytes = "0123456789abcdefXYZ";
  dng_stream stream(bytes.data(), static_cast<uint32_t>(bytes.size()));
  const dng_test::Printed p = printed_by([&] {
    dump_hex_ascii(stream, 19);
    dump_exposure_time(1.0 / 60);
    dump_string(dng_text("a\tb\xC3\xA9"));
  });
  EXPECT_EQ(p.out,
            "    30 31 32 33 34 35 36 37 38 39 61 62 63 64 65 66    0123456789abcdef\n"
            "    58 59 5a " + std::string(13 * 3 + 3, ' ') + "XYZ\n" +
                "1/60.0 sec\"a\\tb[E9]\"");
}

}  // namespace
