// The maker-note decoders: the dispatcher's choice of maker, each maker's
// header forms and tag table, the entry printer's value texts, and the
// faults a hostile note must not reach (loops, 0/0, reads past the value
// field or the note).
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "examine/makernote.h"
#include "examine/makernote_internal.h"
#include "examine_harness.h"
#include "support/comma_locale.h"
#include "support/makernote_builder.h"

namespace {

using examine_test::contains;
using examine_test::Examination;
using testing_support::MakerNoteBuilder;

// What one call of the dispatcher printed, and what it wrote to standard
// error and standard output.
struct Decoded {
  std::string printed;
  std::string warnings;
  std::string stdout_text;
};

// Decodes note as a maker note of make. The note is handed over in a heap
// block of exactly its size, so that a read past its end is caught by the
// address sanitizer.
Decoded decode(const std::string& make, const std::string& note, bool big_endian = false,
               MakerNoteFindings* findings = nullptr, FILE* file = nullptr) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[note.size() + (note.empty() ? 1 : 0)]);
  memcpy(copy.get(), note.data(), note.size());
  MakerNoteFindings local;
  examine_test::printed().clear();
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  print_maker_notes(examine_test::print_to_string, "Model", copy.get(), static_cast<uint32_t>(note.size()),
                    make.c_str(), big_endian, file, 0, findings != nullptr ? findings : &local);
  Decoded out;
  out.stdout_text = testing::internal::GetCapturedStdout();
  out.warnings = testing::internal::GetCapturedStderr();
  out.printed = examine_test::printed();
  return out;
}

// The offset, from the TIFF header, of the Make text of the file that
// maker_note_jpeg builds: a string entry of a note may point at it, since
// most makers' strings are read from the file.
uint32_t make_offset(const std::string& make, bool big_endian = false) {
  const std::string jpeg = testing_support::maker_note_jpeg(make, "", big_endian);
  return static_cast<uint32_t>(jpeg.find(make + std::string(1, '\0')) - 12);
}

// ---------------------------------------------------------------------------
// One case per maker: the note in the maker's header form, inside a JPEG,
// walked by the examiner.

struct MakerCase {
  const char* name;
  const char* make;
  bool file_big_endian;
  std::function<std::string(uint32_t make_at)> note;
  std::vector<std::string> lines;  // printed in this order
  const char* warning;             // on standard error, "" for none
};

std::string text_of(const std::vector<std::string>& lines) {
  std::string all;
  for (const std::string& line : lines) all += line;
  return all;
}

const MakerCase kMakers[] = {
    {"canon", "Canon", false,
     [](uint32_t make_at) {
       MakerNoteBuilder b;
       b.add_short(1, {7}).add_short(2, {9}).add_raw(6, 2, 6, make_at).add_long(8, {1234567});
       return plain_note(b);
     },
     {"\t\tCanon1Tag: 7\n", "\t\tImageType: Canon\n", "\t\tImgNum: 1234567\n"}, ""},
    {"olympus", "OLYMPUS OPTICAL CO.,LTD", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_short(513, {2}).add_rational(516, 100, 100).add_byte(521, {1, 2, 3, 4});
       return olympus_note(b);
     },
     {"\t\tOlympusQuality: 2\n", "\t\tOlympusDigiZoom: 1\n", "\t\tOlympusCameraID: 1 2 3 4 \n"}, ""},
    // A FUJIFILM note is little-endian whatever the file.
    {"fujifilm", "FUJIFILM", true,
     [](uint32_t) {
       MakerNoteBuilder b(false);
       b.add_ascii(4096, "FIN").add_short(4097, {3}).add_rational(4113, 1, 3);
       return fujifilm_note(b);
     },
     {"\t\tFujiQuality: FIN\n", "\t\tFujiSharpness: 3\n", "\t\tFujiFlashStrength: 1/3\n"}, ""},
    // Second format: a big-endian TIFF header of its own in a little-endian
    // file; strings come from the note.
    {"nikon second format", "NIKON CORPORATION", false,
     [](uint32_t) {
       MakerNoteBuilder b(true);
       b.add_byte(1, {0, 2, 1, 0}).add_short(2, {0, 200}).add_ascii(4, "FINE   ").add_rational(133, 7, 2);
       return nikon2_note(b);
     },
     {"\t\tNikonVersion: 0 2 1 0 \n", "\t\tNikonISOUsed: 0 200\n", "\t\tNikonQuality: FINE   \n",
      "\t\tNikonFocusDist: 3.5\n"},
     ""},
    {"nikon first format", "NIKON", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_short(3, {2}).add_short(11, {0});
       return nikon1_note(b);
     },
     {"\t\tNikonQuality: 2\n", "\t\tNikonAdapter: 0\n"}, ""},
    {"nikon without header", "NIKON", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_ascii(3, "COLOR").add_short(15, {100});
       return plain_note(b);
     },
     {"\t\tNikonColorMode1: COLOR\n", "\t\tNikonISOSelect: 100\n"}, ""},
    {"casio QVC", "CASIO COMPUTER CO.,LTD.", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_ascii(8193, "021").add_ascii(12294, "abc");
       return casio_qvc_note(b);
     },
     {"\t\tCasioASCII1: 021\n", "\t\tCasioASCII3: abc\n"}, "(null): Casio maker note version not supported\n"},
    {"casio", "CASIO", true,
     [](uint32_t) {
       MakerNoteBuilder b(true);
       b.add_short(2, {1}).add_short(20, {80});
       return plain_note(b);
     },
     {"\t\tCasioQuality: 1\n", "\t\tCasioSensitive: 80\n"}, ""},
    {"minolta", "Minolta Co., Ltd.", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_long(64, {1234}).add_long(136, {4096});
       return plain_note(b);
     },
     {"\t\tMinoltaCompImgSz: 1234\n", "\t\tMinoltaThumbOff: 4096\n"}, ""},
    {"sanyo", "SANYO Electric Co.,Ltd.", false,
     [](uint32_t make_at) {
       MakerNoteBuilder b;
       b.add_short(513, {4}).add_raw(519, 2, 24, make_at);
       return sanyo_note(b);
     },
     {"\t\tSanyoQuality: 4\n", "\t\tSanyoFirmware: SANYO Electric Co.,Ltd.\n"}, ""},
    // Without a header the note is read big-endian, even in a little-endian
    // file, once its first 16 bits (in the file's order) are 10 or more.
    {"asahi", "Asahi Optical Co.,Ltd", false,
     [](uint32_t) {
       MakerNoteBuilder b(true);
       for (uint16_t tag : {1, 2, 3, 8, 9, 13, 25, 31, 32, 33}) b.add_short(tag, {tag});
       return plain_note(b);
     },
     {"\t\tAsahiQuality: 8\n", "\t\tAsahiRes: 9\n", "\t\tAsahiFocus: 13\n", "\t\tAsahiWhiteB: 25\n",
      "\t\tAsahiSaturate: 31\n", "\t\tAsahiContrast: 32\n", "\t\tAsahiSharp: 33\n"},
     ""},
    {"pentax", "PENTAX Corporation", false,
     [](uint32_t) {
       MakerNoteBuilder b(true);
       b.add_short(8, {1}).add_short(33, {2});
       return asahi_aoc_note(b, "  ");
     },
     {"\t\tAsahiQuality: 1\n", "\t\tAsahiSharp: 2\n"}, ""},
    {"pentax keeping the file's order", "PENTAX", true,
     [](uint32_t) {
       MakerNoteBuilder b(true);
       b.add_short(9, {3});
       return asahi_aoc_note(b, std::string(2, '\0'));
     },
     {"\t\tAsahiRes: 3\n"}, ""},
    {"leica", "LEICA", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_short(1, {1}).add_short(44, {0});
       return leica_note(b);
     },
     {"\t\tLeicaCompress: 1\n", "\t\tLeicaContrast: 0\n"}, ""},
    {"leica made by fujifilm", "Leica Camera AG", true,
     [](uint32_t) {
       MakerNoteBuilder b(false);
       b.add_short(4097, {2});
       return fujifilm_note(b);
     },
     {"\t\tFujiSharpness: 2\n"}, ""},
    {"panasonic", "Panasonic", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_short(1, {2}).add_srational(36, -1, 3).add_short(45, {0});
       return panasonic_note(b);
     },
     {"\t\tPanasonicQuality: 2\n", "\t\tPanasonicFlashBias: -1/3\n", "\t\tPanasonicNoiseReduce: 0\n"}, ""},
    {"sigma", "SIGMA", false,
     [](uint32_t make_at) {
       MakerNoteBuilder b;
       b.add_raw(2, 2, 6, make_at).add_short(22, {12});
       return sigma_note(b);
     },
     {"\t\tSigmaSerial: SIGMA\n", "\t\tSigmaQuality: 12\n"}, ""},
    {"sigma foveon", "SIGMA", false,
     [](uint32_t) {
       MakerNoteBuilder b;
       b.add_short(25, {1});
       return sigma_note(b, true);
     },
     {"\t\tSigmaAutoBrack: 1\n"}, ""},
};

class EachMaker : public testing::TestWithParam<MakerCase> {};

TEST_P(EachMaker, PrintsTheNamedEntriesOfItsDirectory) {
  const MakerCase& c = GetParam();
  const std::string note = c.note(make_offset(c.make, c.file_big_endian));
  Examination e(testing_support::maker_note_jpeg(c.make, note, c.file_big_endian));
  testing::internal::CaptureStderr();
  const bool ok = e.walk();
  const std::string warnings = testing::internal::GetCapturedStderr();
  ASSERT_TRUE(ok) << e.message();
  const std::string expected = std::string("\n\tMaker Notes for ") + c.make + "\n" + text_of(c.lines) + "\n";
  EXPECT_TRUE(contains(e.dump(), expected)) << e.dump();
  EXPECT_EQ(warnings, c.warning);
}

INSTANTIATE_TEST_SUITE_P(Makers, EachMaker, testing::ValuesIn(kMakers), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
});

// ---------------------------------------------------------------------------
// The dispatcher.

TEST(MakerNoteDispatch, GoldenNikonSecondFormat) {
  MakerNoteBuilder b(false);
  b.add_byte(1, {48, 50, 49, 48})
      .add_short(2, {0, 400})
      .add_ascii(4, "NORMAL ")
      .add_ascii(5, "AUT")  // four bytes with its zero: held in the value field
      .add_short(10, {5})    // no row: not printed
      .add_rational(133, 10, 20)
      .add_srational(134, 300, 100)
      .add_long(167, {12345})
      .add_long(168, {1, 2})  // no row
      .add_raw(169, 4, 2, 0)
      .add_raw(170, 12, 1, 0);
  const Decoded d = decode("NIKON CORPORATION", nikon2_note(b));
  EXPECT_EQ(d.printed,
            "\n\tMaker Notes for NIKON CORPORATION\n"
            "\t\tNikonVersion: 48 50 49 48 \n"
            "\t\tNikonISOUsed: 0 400\n"
            "\t\tNikonQuality: NORMAL \n"
            "\t\tNikonWhiteBal: AUT\n"
            "\t\tNikonFocusDist: 1/2\n"
            "\t\tNikonDigiZoom: 3\n"
            "\t\tNikonActuations: 12345\n"
            "\t\tNikonImageOpt: [Can't interpret value (TIFF_[S]LONG count = 2).]\n"
            "\t\tNikonSaturate2: [Can't interpret value (type = 12).]\n"
            "\n");
  EXPECT_EQ(d.warnings, "");
}

struct MakeCase {
  const char* make;
  const char* first_line;  // after the heading
};

// One plain big-endian note whose tags mean something to several makers.
std::string shared_note() {
  MakerNoteBuilder b(true);
  for (uint16_t tag = 1; tag <= 12; ++tag) b.add_short(tag, {tag});
  return plain_note(b);
}

const MakeCase kMakes[] = {
    {"Canon", "\t\tCanon1Tag: 1\n"},
    {"canon inc.", "\t\tCanon1Tag: 1\n"},
    {"NIKON CORPORATION", "\t\tNikonVersion: 1\n"},
    {"Nikon", "\t\tNikonVersion: 1\n"},
    {"CASIO COMPUTER CO.,LTD.", "\t\tCasioRecord: 1\n"},
    {"Minolta Co., Ltd.", "\t\tMinolta1Tag: 1\n"},
    {"LEICA CAMERA AG", "\t\tLeicaCompress: 1\n"},
    {"Asahi Optical Co.,Ltd", "\t\tAsahiQuality: 8\n"},
    {"PENTAX Corporation", "\t\tAsahiQuality: 8\n"},
    {"OLYMPUS OPTICAL CO.,LTD", "\n"},  // no tag below 256 has a row
    {"SANYO Electric Co.,Ltd.", "\n"},
    {"FUJIFILM", "\n"},
    // Only the Make's first 24 characters count.
    {"xxxxxxxxxxxxxxxxxxxxxxxxCanon", "\t\t[Can't interpret Maker Notes.]\n"},
    // The Make must start with the maker's prefix.
    {"Konica Minolta Camera, I", "\t\t[Can't interpret Maker Notes.]\n"},
    {"Apple", "\t\t[Can't interpret Maker Notes.]\n"},
    {"EASTMAN KODAK COMPANY", "\t\t[Can't interpret Maker Notes.]\n"},
};

class DispatchByMake : public testing::TestWithParam<MakeCase> {};

TEST_P(DispatchByMake, PicksTheMakerByTheMakePrefix) {
  const MakeCase& c = GetParam();
  const Decoded d = decode(c.make, shared_note(), true);
  const std::string heading = std::string("\n\tMaker Notes for ") + c.make + "\n";
  ASSERT_EQ(d.printed.substr(0, heading.size()), heading);
  EXPECT_EQ(d.printed.substr(heading.size(), strlen(c.first_line)), c.first_line) << d.printed;
}

INSTANTIATE_TEST_SUITE_P(Makes, DispatchByMake, testing::ValuesIn(kMakes));

TEST(MakerNoteDispatch, NoMakePrintsAQuestionMark) {
  const Decoded d = decode("", shared_note(), true);
  EXPECT_EQ(d.printed, "\n\tMaker Notes for ?\n\t\t[Can't interpret Maker Notes.]\n\n");
}

TEST(MakerNoteDispatch, UnknownMakerInAFile) {
  Examination e(testing_support::maker_note_jpeg("Samsung Techwin", "whatever bytes"));
  ASSERT_TRUE(e.walk()) << e.message();
  EXPECT_TRUE(contains(e.dump(), "\n\tMaker Notes for Samsung Techwin\n\t\t[Can't interpret Maker Notes.]\n\n"))
      << e.dump();
}

// The worker's silent read reaches a maker note in the first directory and
// prints nothing on standard output, which carries its results.
TEST(MakerNoteDispatch, SilentReadDecodesWithoutPrinting) {
  MakerNoteBuilder b;
  b.add_short(1, {1});
  Examination e(testing_support::maker_note_tiff("Canon", plain_note(b)), print_nothing);
  testing::internal::CaptureStdout();
  const bool ok = e.examine();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_TRUE(ok) << e.message();
  EXPECT_EQ(e.state()->maker_note.count, 1);
}

// ---------------------------------------------------------------------------
// Header and version problems: a warning on standard error, and the error
// line in the dump.

struct RefusedCase {
  const char* name;
  const char* make;
  std::string note;
  const char* warning;
};

std::string two_entries(bool big_endian) {
  MakerNoteBuilder b(big_endian);
  b.add_short(1, {1}).add_short(2, {2});
  return plain_note(b);
}

const RefusedCase kRefused[] = {
    {"nikon version 3", "NIKON CORPORATION", nikon2_note(MakerNoteBuilder().add_short(1, {1}), 0x0300),
     "(null): Nikon maker note version not supported\n"},
    {"nikon short header", "NIKON", std::string("Nikon\0", 6), "(null): Nikon maker note version not supported\n"},
    {"nikon bad byte order", "NIKON", std::string("Nikon\0\2\0\0\0XX\0\x2A\0\0\0\x08", 18) + two_entries(false),
     "(null): invalid Nikon TIFF header\n"},
    {"nikon bad magic", "NIKON", std::string("Nikon\0\2\0\0\0II\x2B\0\x08\0\0\0", 18) + two_entries(false),
     "(null): invalid Nikon TIFF header\n"},
    {"nikon truncated tiff header", "NIKON", std::string("Nikon\0\2\x10\0\0II\x2A\0", 14),
     "(null): invalid Nikon TIFF header\n"},
    {"minolta plus m", "Minolta", std::string("+M\0\0\0\0\0\0", 8), "(null): Minolta maker note version not supported\n"},
    {"minolta one entry", "Minolta", plain_note(MakerNoteBuilder().add_short(1, {1})),
     "(null): Minolta maker note version not supported\n"},
    {"minolta too many entries", "Minolta", std::string("\x00\x01\0\0", 4),
     "(null): Minolta maker note version not supported\n"},
    {"asahi unknown mark", "PENTAX", std::string("AOC\0MM", 6) + two_entries(true),
     "(null): Asahi maker note version not supported\n"},
    {"asahi few entries", "Asahi", two_entries(false), "(null): Asahi maker note version not supported\n"},
    {"panasonic without header", "Panasonic", two_entries(false), "(null): Maker note format not supported\n"},
    {"sigma without header", "SIGMA", two_entries(false), "(null): Sigma maker note version not supported\n"},
};

class RefusedHeader : public testing::TestWithParam<RefusedCase> {};

TEST_P(RefusedHeader, WarnsOnStandardErrorAndPrintsTheErrorLine) {
  const RefusedCase& c = GetParam();
  const Decoded d = decode(c.make, c.note);
  EXPECT_EQ(d.printed, std::string("\n\tMaker Notes for ") + c.make + "\n\t\t[Error interpreting Maker Notes.]\n\n");
  EXPECT_EQ(d.warnings, c.warning);
  EXPECT_EQ(d.stdout_text, "");
}

INSTANTIATE_TEST_SUITE_P(Headers, RefusedHeader, testing::ValuesIn(kRefused), [](const auto& info) {
  std::string name = info.param.name;
  for (char& ch : name) {
    if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
  }
  return name;
});

TEST(MakerNoteDispatch, WarningsGoToStandardErrorEvenWhenSilent) {
  // The worker's examinations print through print_nothing; the warning
  // still reaches standard error (its capture file), never standard output.
  std::string note = nikon2_note(MakerNoteBuilder().add_short(1, {1}), 0x0300);
  Examination e(testing_support::maker_note_tiff("NIKON", note), print_nothing);
  testing::internal::CaptureStderr();
  testing::internal::CaptureStdout();
  EXPECT_TRUE(e.examine());
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "(null): Nikon maker note version not supported\n");
}

TEST(MakerNoteDispatch, CasioQvcWarnsAndStillPrints) {
  const Decoded d = decode("CASIO", casio_qvc_note(MakerNoteBuilder().add_ascii(8194, "ab")));
  EXPECT_EQ(d.printed, "\n\tMaker Notes for CASIO\n\t\tCasioASCII2: ab\n\n");
  EXPECT_EQ(d.warnings, "(null): Casio maker note version not supported\n");
}

TEST(MakerNoteDispatch, DirectoryThatDoesNotFitIsAnError) {
  // 2 + 12 x count bytes must lie inside the note.
  std::string note = plain_note(MakerNoteBuilder().add_short(1, {1}).set_count_raw(2));
  note.resize(2 + 12 + 4);
  const Decoded d = decode("Canon", note);
  EXPECT_EQ(d.printed, "\n\tMaker Notes for Canon\n\t\t[Error interpreting Maker Notes.]\n\n");
  EXPECT_EQ(d.warnings, "");
}

TEST(MakerNoteDispatch, FujifilmDirectoryStartingWithTagZeroStopsTheListing) {
  MakerNoteBuilder b(false);
  b.add_raw(0, 7, 4, 0x30313330).add_short(4097, {3});
  const Decoded d = decode("FUJIFILM", fujifilm_note(b));
  EXPECT_EQ(d.printed, "\n\tMaker Notes for FUJIFILM\n\t\tFujiVersion: [tag is 0]\n\n");
}

TEST(MakerNoteDispatch, TagZeroWithoutARowIsSkipped) {
  MakerNoteBuilder b;
  b.add_short(0, {5}).add_short(1, {1});
  const Decoded d = decode("Canon", plain_note(b));
  EXPECT_EQ(d.printed, "\n\tMaker Notes for Canon\n\t\tCanon1Tag: 1\n\n");
}

// ---------------------------------------------------------------------------
// Rationals.

struct RationalCase {
  int type;
  uint32_t numerator;
  uint32_t denominator;
  const char* text;
};

const RationalCase kRationals[] = {
    {5, 10, 20, "1/2"},
    {5, 300, 100, "3"},
    {5, 1, 3, "1/3"},
    {5, 7, 2, "3.5"},
    {5, 0, 5, "0"},
    {5, 5, 0, "Infinite"},
    {5, 0, 0, "0"},  // common in unset fields; must not divide by zero
    {5, 3, 10, "0.3"},
    {5, 3, 100, "3/100"},
    {5, 2, 30, "1/15"},
    {5, 4294967295u, 1, "4294967295"},
    {5, 4294967295u, 4294967295u, "1"},
    {10, 0, 0, "0"},
    {10, static_cast<uint32_t>(-7), 2, "-3.5"},
    {10, static_cast<uint32_t>(-1), 3, "-1/3"},
    {10, 1, static_cast<uint32_t>(-3), "1/-3"},
    {10, 3, 10, "0.3"},
    {10, 2, 4, "1/2"},
    {10, 0x80000000u, 0xFFFFFFFFu, "2147483648"},  // INT_MIN / -1
    {10, 0x80000000u, 0x80000000u, "1"},
    {10, 5, 0, "Infinite"},
};

class RationalText : public testing::TestWithParam<RationalCase> {};

TEST_P(RationalText, ReducesAndFormats) {
  const RationalCase& c = GetParam();
  char text[64];
  mn_rational_text(c.type, c.numerator, c.denominator, text, sizeof text);
  EXPECT_STREQ(text, c.text);
}

INSTANTIATE_TEST_SUITE_P(Rationals, RationalText, testing::ValuesIn(kRationals));

TEST(MakerNoteEntry, DecimalsUseThePointWhateverTheLocale) {
  testing_support::CommaLocale locale;
  ASSERT_TRUE(locale.active()) << "no comma-decimal locale (scripts/install-deps installs the locales package)";
  const Decoded d = decode("Panasonic", panasonic_note(MakerNoteBuilder().add_rational(36, 7, 2)));
  EXPECT_TRUE(contains(d.printed, "\t\tPanasonicFlashBias: 3.5\n")) << d.printed;
}

TEST(MakerNoteEntry, ZeroOverZeroRationalInANote) {
  const Decoded d = decode("Panasonic", panasonic_note(MakerNoteBuilder().add_rational(36, 0, 0).add_srational(35, 0, 0)));
  EXPECT_EQ(d.printed, "\n\tMaker Notes for Panasonic\n\t\tPanasonicFlashBias: 0\n\t\tPanasonicWBAdjust: 0\n\n");
}

TEST(MakerNoteEntry, RationalPastTheNoteIsNamed) {
  MakerNoteBuilder b;
  b.add_raw(1, 5, 1, 0xFFFFFFF8u).add_raw(3, 10, 2, 30);
  const std::string note = leica_note(b);  // 8 + 2 + 24 + 4 = 38 bytes
  ASSERT_EQ(note.size(), 38u);
  const Decoded d = decode("LEICA", note);
  EXPECT_EQ(d.printed,
            "\n\tMaker Notes for LEICA\n"
            "\t\tLeicaCompress: [Can't interpret rational value (count = 1; value = 4294967288; maxlen = 38).]\n"
            "\t\tLeicaWhiteBal: Infinite\n"  // 30 (this field) over 0 (the next field): the last 8 bytes
            "\n");
}

// ---------------------------------------------------------------------------
// Value fields and strings.

TEST(MakerNoteEntry, BytesComeFromTheFourByteFieldAndNoMoreThanTheCount) {
  // Five bytes used to be read from the four-byte field: the fifth is the
  // next entry's first byte, or past the note after the last entry. This
  // note ends right after its last entry (no next field).
  MakerNoteBuilder b;
  b.add_raw(1, 1, 2, 0x04030201).add_raw(3, 7, 5, 0x08070605);
  std::string note = leica_note(b);
  note.resize(note.size() - 4);
  const Decoded d = decode("LEICA", note);
  EXPECT_EQ(d.printed, "\n\tMaker Notes for LEICA\n\t\tLeicaCompress: 1 2 \n\t\tLeicaWhiteBal: 5 6 7 8 \n\n");
}

TEST(MakerNoteEntry, StringsAreBoundedByTheirCount) {
  MakerNoteBuilder b(true);
  b.add_raw(1, 2, 3, 0x41424344)  // "ABCD" in the field, count 3
      .add_raw(2, 2, 0, 0x41424344)
      .add_ascii(3, "unterminated", false);
  std::string note = nikon2_note(b);
  const Decoded d = decode("NIKON", note);
  EXPECT_EQ(d.printed,
            "\n\tMaker Notes for NIKON\n\t\tNikonVersion: ABC\n\t\tNikonISOUsed: \n\t\tNikonColorMode1: unterminated\n\n");
}

TEST(MakerNoteEntry, StringsPastTheNoteOrFileAreNotFetched) {
  MakerNoteBuilder b(true);
  b.add_raw(3, 2, 20, 0xFFFFFFF0u).add_raw(4, 2, 2000, 0);
  const Decoded d = decode("NIKON", nikon2_note(b));
  EXPECT_EQ(d.printed, "\n\tMaker Notes for NIKON\n\t\tNikonColorMode1: ?\n\t\tNikonQuality: ?\n\n");

  // From the file: an offset past its end, and no file at all.
  std::string file_bytes = "0123456789abcdef";
  FILE* file = fmemopen(file_bytes.data(), file_bytes.size(), "rb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(fseek(file, 3, SEEK_SET), 0);
  MakerNoteBuilder c;
  c.add_raw(6, 2, 8, 4).add_raw(7, 2, 8, 12).add_raw(8, 2, 5, 0xFFFFFFFFu);
  const Decoded from_file = decode("Canon", plain_note(c), false, nullptr, file);
  EXPECT_EQ(from_file.printed, "\n\tMaker Notes for Canon\n\t\tImageType: 456789ab\n\t\tFirmwareVer: ?\n\t\tImgNum: ?\n\n");
  EXPECT_EQ(ftell(file), 3) << "the file position is restored";
  fclose(file);
  const Decoded no_file = decode("Canon", plain_note(c));
  EXPECT_TRUE(contains(no_file.printed, "\t\tImageType: ?\n"));
}

TEST(MakerNoteEntry, LongStringsPrintAtMost999Characters) {
  MakerNoteBuilder b;
  b.add_ascii(3, std::string(1500, 'x'));
  const Decoded d = decode("NIKON", nikon2_note(b));
  EXPECT_TRUE(contains(d.printed, "\t\tNikonColorMode1: " + std::string(999, 'x') + "\n")) << d.printed.size();
}

TEST(MakerNoteEntry, ShortsPrintTheTwoHalvesOfTheField) {
  MakerNoteBuilder b(true);
  b.add_short(1, {65535}).add(3, 8, 1, b.u16(0xFFFF)).add(7, 8, 2, b.u16(0xFFFE) + b.u16(7)).add_short(15, {1, 2, 3});
  const Decoded d = decode("LEICA", leica_note(b), true);
  EXPECT_TRUE(contains(d.printed, "\t\tLeicaCompress: 65535\n\t\tLeicaWhiteBal: -1\n")) << d.printed;
  EXPECT_TRUE(contains(d.printed, "\t\tLeicaFocusMode: -2 7\n")) << d.printed;
}

// ---------------------------------------------------------------------------
// Chains and caps.

TEST(MakerNoteChain, ALoopingChainPrintsItsFirstDirectoryOnce) {
  // The next offset points back at the directory itself (0), and at the
  // note's start for an AOC note: only the first directory is read.
  MakerNoteBuilder b;
  b.add_long(64, {1}).add_long(136, {2}).set_next_raw(0);
  const Decoded minolta = decode("Minolta", plain_note(b));
  EXPECT_EQ(minolta.printed, "\n\tMaker Notes for Minolta\n\t\tMinoltaCompImgSz: 1\n\t\tMinoltaThumbOff: 2\n\n");

  MakerNoteBuilder p(true);
  p.add_short(8, {1}).set_next_raw(6);
  const Decoded pentax = decode("PENTAX", asahi_aoc_note(p, "  "));
  EXPECT_EQ(pentax.printed, "\n\tMaker Notes for PENTAX\n\t\tAsahiQuality: 1\n\n");

  MakerNoteBuilder s;
  s.add_short(2, {1}).set_next_raw(10);
  const Decoded sigma = decode("SIGMA", sigma_note(s));
  EXPECT_EQ(sigma.printed, "\n\tMaker Notes for SIGMA\n\t\tSigmaSerial: 1\n\n");
}

TEST(MakerNoteChain, EntriesAreCappedOverOneExamination) {
  MakerNoteBuilder b;
  b.add_short(1, {1}).add_short(4, {4});
  MakerNoteFindings findings;
  const Decoded first = decode("Canon", plain_note(b), false, &findings);
  EXPECT_EQ(findings.count, 1);
  EXPECT_EQ(findings.total, 2);
  findings.total = (1 << 18) - 1;
  const Decoded capped = decode("Canon", plain_note(b), false, &findings);
  EXPECT_EQ(capped.printed, "\n\tMaker Notes for Canon\n\t\tCanon1Tag: 1\n\n");
}

TEST(MakerNoteChain, NikonDirectoryOffsetsThatWrapAreRefused) {
  MakerNoteBuilder b(false);
  b.add_short(1, {1});
  std::string note = nikon2_note(b);
  const std::string huge = b.u32(0xFFFFFFF8u);
  note.replace(14, 4, huge);
  const Decoded d = decode("NIKON", note);
  EXPECT_EQ(d.printed, "\n\tMaker Notes for NIKON\n\t\t[Error interpreting Maker Notes.]\n\n");
}

TEST(MakerNoteChain, FujifilmDirectoryPositionPastTheNote) {
  MakerNoteBuilder b(false);
  b.add_short(4097, {1});
  std::string note = fujifilm_note(b);
  note[8] = '\xF0';
  note[9] = '\xFF';
  EXPECT_EQ(decode("FUJIFILM", note).printed, "\n\tMaker Notes for FUJIFILM\n\t\t[Error interpreting Maker Notes.]\n\n");
  EXPECT_EQ(decode("FUJIFILM", "FUJIFILM\x0C").printed,
            "\n\tMaker Notes for FUJIFILM\n\t\t[Error interpreting Maker Notes.]\n\n");
}

// Every maker with notes of no bytes, one byte and just the header.
TEST(MakerNoteChain, TinyNotesAreErrorsForEveryMaker) {
  const char* makes[] = {"Canon", "OLYMPUS", "FUJIFILM", "NIKON", "CASIO", "Minolta", "SANYO",
                         "Asahi", "PENTAX", "LEICA", "Panasonic", "SIGMA"};
  const std::string notes[] = {"", std::string(1, '\x05'), std::string("OLYMP\0", 6), "FUJIFILM",
                               std::string("Nikon\0\1\0", 8), std::string("QVC\0\0\0", 6), std::string("AOC\0", 4),
                               std::string("AOC\0  ", 6), "LEICA", std::string("Panasonic\0\0\0", 12),
                               std::string("SIGMA\0\0\0", 8), std::string("SANYO\0", 6)};
  for (const char* make : makes) {
    for (const std::string& note : notes) {
      const Decoded d = decode(make, note);
      EXPECT_TRUE(contains(d.printed, "\t\t[Error interpreting Maker Notes.]\n")) << make << " " << note.size();
    }
  }
}

}  // namespace
