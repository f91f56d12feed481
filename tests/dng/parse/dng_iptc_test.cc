// IPTC records: blocks read into fields (character sets, line ends, dates,
// times and zones, hostile counts and scans) and fields written back into
// blocks (order, limits, CR line ends, the time dataset's fixed length).
#include "dng/parse/dng_iptc.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/support/code_of.h"
#include "dng/support/failing_allocator.h"
#include "dng/support/stderr_capture.h"

namespace {

using dng_test::code_of;

// One dataset: marker, record, dataset, big-endian count, data.
std::string dataset(int record, int number, const std::string& data) {
  std::string out = {'\x1C', static_cast<char>(record), static_cast<char>(number),
                     static_cast<char>(data.size() >> 8), static_cast<char>(data.size() & 0xFF)};
  return out + data;
}

const std::string kUTF8Marker = dataset(1, 90, "\x1B%G");

// The fields that are set, in a fixed order, for comparisons.
std::string dump(const dng_iptc& r) {
  std::string out;
  auto text = [&out](const char* name, const dng_text& t) {
    if (!t.Empty()) out += std::string(name) + "=" + t.CStr() + ";";
  };
  auto list = [&out](const char* name, const dng_text_list& l) {
    if (l.Count() == 0) return;
    out += std::string(name) + "=[";
    for (uint32_t i = 0; i < l.Count(); ++i) out += std::string(i ? "|" : "") + l[i].CStr();
    out += "];";
  };
  text("title", r.title);
  if (r.urgency >= 0) out += "urgency=" + std::to_string(r.urgency) + ";";
  text("category", r.category);
  list("supplemental", r.supplemental_categories);
  list("keywords", r.keywords);
  text("instructions", r.instructions);
  const dng_calendar_time& d = r.date_created;
  if (d.year || d.month || d.day || d.hour || d.minute || d.second) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "date=%04u-%02u-%02u %02u:%02u:%02u;", d.year, d.month, d.day, d.hour, d.minute,
                  d.second);
    out += buf;
  }
  if (r.has_time) out += "has_time;";
  if (r.zone_minutes != 0) out += "zone=" + std::to_string(r.zone_minutes) + ";";
  text("author", r.author);
  text("authors_position", r.authors_position);
  text("city", r.city);
  text("state", r.state);
  text("country", r.country);
  text("country_code", r.country_code);
  text("location", r.location);
  text("transmission_reference", r.transmission_reference);
  text("headline", r.headline);
  text("credit", r.credit);
  text("source", r.source);
  text("copyright", r.copyright);
  text("caption", r.caption);
  text("caption_writer", r.caption_writer);
  return out;
}

// Loads a block from its own exactly sized heap copy, so that a read past
// its end is seen by the address sanitizer.
std::string load_dump(const std::string& block, int32_t* code = nullptr) {
  std::unique_ptr<char[]> bytes(new char[block.size() + 1]);
  std::memcpy(bytes.get(), block.data(), block.size());
  dng_iptc record;
  int32_t got = code_of([&] { record.LoadBlock(bytes.get(), static_cast<uint32_t>(block.size()), 0); });
  if (code != nullptr) *code = got;
  return dump(record);
}

std::string block_bytes(const dng_memory_block& block) {
  return std::string(reinterpret_cast<const char*>(block.Buffer()), block.Size());
}

std::string saved(const dng_iptc& record) {
  std::unique_ptr<dng_memory_block> block = record.SaveBlock(default_memory_allocator);
  return block_bytes(*block);
}

// What SaveBlock writes before the first field.
const std::string kSavePrefix = kUTF8Marker + dataset(2, 0, std::string("\x00\x02", 2));

TEST(DngIptcSave, TitleOnlyRecordIsTheDocumentedBytes) {
  dng_iptc record;
  record.title.Assign("ABC");
  const unsigned char expected[] = {0x1C, 0x01, 0x5A, 0x00, 0x03, 0x1B, 0x25, 0x47, 0x1C, 0x02, 0x00,
                                    0x00, 0x02, 0x00, 0x02, 0x1C, 0x02, 0x05, 0x00, 0x03, 0x41, 0x42, 0x43};
  EXPECT_EQ(saved(record), std::string(reinterpret_cast<const char*>(expected), sizeof expected));
}

TEST(DngIptcLoad, FieldsFromBlocks) {
  struct Case {
    const char* label;
    std::string block;
    std::string expected;
  };
  const std::string all_texts =
      dataset(2, 5, "T") + dataset(2, 15, "Cat") + dataset(2, 40, "Ins") + dataset(2, 80, "Au") +
      dataset(2, 85, "Pos") + dataset(2, 90, "City") + dataset(2, 92, "Loc") + dataset(2, 95, "St") +
      dataset(2, 100, "FR") + dataset(2, 101, "France") + dataset(2, 103, "Ref") + dataset(2, 105, "Head") +
      dataset(2, 110, "Cr") + dataset(2, 115, "Src") + dataset(2, 116, "(c)") + dataset(2, 120, "Cap") +
      dataset(2, 122, "CW");
  const Case cases[] = {
      {"every text dataset", all_texts,
       "title=T;category=Cat;instructions=Ins;author=Au;authors_position=Pos;city=City;state=St;country=France;"
       "country_code=FR;location=Loc;transmission_reference=Ref;headline=Head;credit=Cr;source=Src;copyright=(c);"
       "caption=Cap;caption_writer=CW;"},
      {"system code page without the marker", dataset(2, 120, "Caf\xE9 \x80"), "caption=Caf\xC3\xA9 \xE2\x82\xAC;"},
      {"UTF-8 with the marker", kUTF8Marker + dataset(2, 120, "Caf\xC3\xA9"), "caption=Caf\xC3\xA9;"},
      {"marker with other bytes is no marker", dataset(1, 90, "\x1B%H") + dataset(2, 120, "\xC3\xA9"),
       "caption=\xC3\x83\xC2\xA9;"},
      {"marker after the text comes too late", dataset(2, 120, "\xE9") + kUTF8Marker, "caption=\xC3\xA9;"},
      {"line ends, control bytes, trailing spaces", dataset(2, 120, "a\r\nb\rc\n\rd\te\x01  "),
       "caption=a\nb\nc\nde;"},
      {"zero byte ends a text", dataset(2, 5, std::string("AB\0CD", 5)), "title=AB;"},
      {"keywords and categories in order, empty ones dropped",
       dataset(2, 25, "one") + dataset(2, 25, "") + dataset(2, 25, "  ") + dataset(2, 20, "s1") +
           dataset(2, 25, "two"),
       "supplemental=[s1];keywords=[one|two];"},
      {"urgency digit", dataset(2, 10, "7"), "urgency=7;"},
      {"urgency not a digit", dataset(2, 10, "x"), ""},
      {"urgency of two bytes", dataset(2, 10, "12"), ""},
      {"date and time with western zone", dataset(2, 55, "20070304") + dataset(2, 60, "143000-0500"),
       "date=2007-03-04 14:30:00;has_time;zone=-300;"},
      {"time before date", dataset(2, 60, "010203+0130") + dataset(2, 55, "19991231"),
       "date=1999-12-31 01:02:03;has_time;zone=90;"},
      {"date alone", dataset(2, 55, "20070304"), "date=2007-03-04 00:00:00;"},
      {"zone of 14 hours dropped with the time", dataset(2, 55, "20070304") + dataset(2, 60, "143000+1400"),
       "date=2007-03-04 14:30:00;"},
      {"zone of exactly 13 hours kept", dataset(2, 55, "20070304") + dataset(2, 60, "143000-1300"),
       "date=2007-03-04 14:30:00;has_time;zone=-780;"},
      {"time without a date", dataset(2, 60, "143000+0100"), ""},
      {"month 13 clears the date", dataset(2, 55, "20071304") + dataset(2, 60, "143000+0100"), ""},
      {"hour 24 clears the date", dataset(2, 55, "20070304") + dataset(2, 60, "240000+0100"), ""},
      {"date of wrong length", dataset(2, 55, "2007034"), ""},
      {"time of wrong length", dataset(2, 55, "20070304") + dataset(2, 60, "1430+0100"), "date=2007-03-04 00:00:00;"},
      {"time without a sign", dataset(2, 55, "20070304") + dataset(2, 60, "1430000100"),
       "date=2007-03-04 00:00:00;"},
      // sscanf's %u takes a sign and wraps; such numbers leave the field absent.
      {"negative month", dataset(2, 55, "2007-104"), ""},
      {"negative second", dataset(2, 55, "20070304") + dataset(2, 60, "1430-1+0100"), "date=2007-03-04 00:00:00;"},
      {"negative zone minutes", dataset(2, 55, "20070304") + dataset(2, 60, "143000+01-1"),
       "date=2007-03-04 00:00:00;"},
      {"letters in the date", dataset(2, 55, "2007MMDD"), ""},
      {"unknown datasets and records skipped",
       dataset(2, 0, std::string("\x00\x02", 2)) + dataset(2, 200, "x") + dataset(3, 5, "no") + dataset(1, 20, "no") +
           dataset(2, 5, "yes"),
       "title=yes;"},
      {"byte other than the marker ends the parse", dataset(2, 5, "A") + "\x1D" + dataset(2, 120, "B").substr(1),
       "title=A;"},
      {"short tail after the last dataset", dataset(2, 5, "A") + std::string("\x1C\x02\x78\x00", 4), "title=A;"},
      {"five-byte header at the very end is not read", dataset(2, 5, "A") + dataset(2, 10, ""), "title=A;"},
      {"empty block", "", ""},
      {"garbage", "not an IPTC block at all", ""},
  };
  for (const Case& c : cases) {
    int32_t code = -1;
    EXPECT_EQ(load_dump(c.block, &code), c.expected) << c.label;
    EXPECT_EQ(code, 0) << c.label;
  }
}

// Datasets 55 and 60 hold digits that the block does not terminate: a scan
// that skipped spaces past the dataset would run off the block (the sanitizer
// sees it) or take the bytes after the dataset as part of the date.
TEST(DngIptcLoad, DateScansStayInsideTheirDataset) {
  struct Case {
    const char* label;
    std::string block;
    std::string expected;
  };
  const Case cases[] = {
      {"date of spaces at the end of the block", dataset(2, 55, "        "), ""},
      {"time of spaces at the end of the block", dataset(2, 55, "20070304") + dataset(2, 60, "      +    "),
       "date=2007-03-04 00:00:00;"},
      {"spaces, then digits after the dataset", dataset(2, 55, "2007    ") + "0304", ""},
      {"zone cut by spaces, then digits after the dataset",
       dataset(2, 55, "20070304") + dataset(2, 60, "143000+01  ") + "00", "date=2007-03-04 00:00:00;"},
  };
  for (const Case& c : cases) EXPECT_EQ(load_dump(c.block), c.expected) << c.label;
}

TEST(DngIptcLoad, DatasetsRunningPastTheBlockEndTheParse) {
  struct Case {
    const char* label;
    std::string block;
    std::string fields_before;
  };
  const std::string title = dataset(2, 5, "A");
  const Case cases[] = {
      {"text count past the end", title + dataset(2, 120, "caption").substr(0, 9), "title=A;"},
      {"count of 65535 over a few bytes", title + std::string("\x1C\x02\x78\xFF\xFFxyz", 8), "title=A;"},
      {"keyword past the end", title + dataset(2, 25, "keyword").substr(0, 8), "title=A;"},
      {"date past the end", title + dataset(2, 55, "20070304").substr(0, 9), "title=A;"},
      {"time past the end", title + dataset(2, 60, "143000+0100").substr(0, 12), "title=A;"},
      {"UTF-8 marker past the end", title + kUTF8Marker.substr(0, 7), "title=A;"},
  };
  for (const Case& c : cases) {
    dng_test::StderrCapture err;
    int32_t code = 0;
    EXPECT_EQ(load_dump(c.block, &code), c.fields_before) << c.label;
    EXPECT_EQ(code, 100011) << c.label;
    EXPECT_EQ(err.Take(), "*** Error: Unexpected end-of-file ***\n") << c.label;
  }
}

// Datasets that are skipped are not read, so their counts may point
// anywhere: the parse ends at the block's end without an error.
TEST(DngIptcLoad, SkippedDatasetsPastTheEndAreNoError) {
  const std::string block =
      dataset(2, 5, "A") + std::string("\x1C\x02\xC8\xFF\xFF", 5) + "x";  // dataset 200, count 65535
  int32_t code = -1;
  EXPECT_EQ(load_dump(block, &code), "title=A;");
  EXPECT_EQ(code, 0);
}

TEST(DngIptcSave, DatasetsInOrderWithLimitsAndCRLineEnds) {
  struct Case {
    const char* label;
    void (*fill)(dng_iptc&);
    std::string expected_after_prefix;
  };
  const Case cases[] = {
      {"empty record", [](dng_iptc&) {}, ""},
      {"line ends written as CR",
       [](dng_iptc& r) { r.caption.Assign("a\nb\r\nc"); },
       dataset(2, 120, "a\rb\rc")},
      {"category cut to three bytes", [](dng_iptc& r) { r.category.Assign("ABCDE"); }, dataset(2, 15, "ABC")},
      {"title cut to 64 bytes without splitting a character",
       [](dng_iptc& r) { r.title.Assign((std::string(63, 'x') + "\xC3\xA9").c_str()); },
       dataset(2, 5, std::string(63, 'x'))},
      {"urgency", [](dng_iptc& r) { r.urgency = 5; }, dataset(2, 10, "5")},
      {"urgency of two digits not written", [](dng_iptc& r) { r.urgency = 12; }, ""},
      {"country code of two letters not written", [](dng_iptc& r) { r.country_code.Assign("FR"); }, ""},
      {"country code of three letters", [](dng_iptc& r) { r.country_code.Assign("FRA"); }, dataset(2, 100, "FRA")},
      {"lists item by item",
       [](dng_iptc& r) {
         r.keywords.Append(dng_text("k1"));
         r.keywords.Append(dng_text("k2"));
         r.supplemental_categories.Append(dng_text("s1"));
       },
       dataset(2, 20, "s1") + dataset(2, 25, "k1") + dataset(2, 25, "k2")},
      {"date without time",
       [](dng_iptc& r) {
         r.date_created.year = 2007;
         r.date_created.month = 3;
         r.date_created.day = 4;
       },
       dataset(2, 55, "20070304")},
      {"date, time and western zone",
       [](dng_iptc& r) {
         r.date_created = {2007, 3, 4, 14, 30, 0};
         r.has_time = true;
         r.zone_minutes = -300;
       },
       dataset(2, 55, "20070304") + dataset(2, 60, "143000-0500")},
      {"zone of zero is plus",
       [](dng_iptc& r) {
         r.date_created = {2007, 3, 4, 1, 2, 3};
         r.has_time = true;
       },
       dataset(2, 55, "20070304") + dataset(2, 60, "010203+0000")},
      // A zone of 100 hours would print twelve characters into an
      // eleven-byte dataset; zones beyond 13 hours lose the time instead.
      {"zone of 100 hours drops the time",
       [](dng_iptc& r) {
         r.date_created = {2007, 3, 4, 14, 30, 0};
         r.has_time = true;
         r.zone_minutes = 6000;
       },
       dataset(2, 55, "20070304")},
      {"zone of 14 hours drops the time",
       [](dng_iptc& r) {
         r.date_created = {2007, 3, 4, 14, 30, 0};
         r.has_time = true;
         r.zone_minutes = -840;
       },
       dataset(2, 55, "20070304")},
      {"time of an invalid date not written",
       [](dng_iptc& r) {
         r.date_created = {2007, 13, 4, 14, 30, 0};
         r.has_time = true;
       },
       ""},
      {"every field in dataset order",
       [](dng_iptc& r) {
         const struct {
           dng_text dng_iptc::*field;
           const char* value;
         } texts[] = {{&dng_iptc::caption_writer, "CW"}, {&dng_iptc::caption, "Cap"}, {&dng_iptc::copyright, "C"},
                      {&dng_iptc::source, "Src"},        {&dng_iptc::credit, "Cr"},  {&dng_iptc::headline, "H"},
                      {&dng_iptc::transmission_reference, "R"}, {&dng_iptc::country, "Fr"},
                      {&dng_iptc::country_code, "FRA"},  {&dng_iptc::state, "St"},   {&dng_iptc::location, "L"},
                      {&dng_iptc::city, "Ci"},           {&dng_iptc::authors_position, "P"},
                      {&dng_iptc::author, "Au"},         {&dng_iptc::instructions, "I"},
                      {&dng_iptc::category, "Cat"},      {&dng_iptc::title, "T"}};
         for (const auto& t : texts) (r.*t.field).Assign(t.value);
         r.urgency = 1;
         r.keywords.Append(dng_text("K"));
         r.supplemental_categories.Append(dng_text("S"));
         r.date_created = {2001, 2, 3, 4, 5, 6};
         r.has_time = true;
         r.zone_minutes = 60;
       },
       dataset(2, 5, "T") + dataset(2, 10, "1") + dataset(2, 15, "Cat") + dataset(2, 20, "S") +
           dataset(2, 25, "K") + dataset(2, 40, "I") + dataset(2, 55, "20010203") + dataset(2, 60, "040506+0100") +
           dataset(2, 80, "Au") + dataset(2, 85, "P") + dataset(2, 90, "Ci") + dataset(2, 92, "L") +
           dataset(2, 95, "St") + dataset(2, 100, "FRA") + dataset(2, 101, "Fr") + dataset(2, 103, "R") +
           dataset(2, 105, "H") + dataset(2, 110, "Cr") + dataset(2, 115, "Src") + dataset(2, 116, "C") +
           dataset(2, 120, "Cap") + dataset(2, 122, "CW")},
  };
  for (const Case& c : cases) {
    dng_iptc record;
    c.fill(record);
    EXPECT_EQ(saved(record), kSavePrefix + c.expected_after_prefix) << c.label;
  }
}

TEST(DngIptcSave, LongCaptionIsCutAtTwoThousandBytesOnACharacterBoundary) {
  struct Case {
    std::string caption;
    std::string written;
  };
  const std::string ascii(2500, 'a');
  // A two-byte character that starts at byte 1999 would end at 2001.
  const std::string split = std::string(1999, 'a') + "\xC3\xA9" + std::string(499, 'b');
  const Case cases[] = {
      {ascii, std::string(2000, 'a')},
      {split, std::string(1999, 'a')},
  };
  for (const Case& c : cases) {
    dng_iptc record;
    record.caption.Assign(c.caption.c_str());
    EXPECT_EQ(saved(record), kSavePrefix + dataset(2, 120, c.written));
  }
}

// Writing a record and reading it back gives the same fields, with every
// limit respected (the fields here fit their limits).
TEST(DngIptcSave, RoundTripKeepsEveryField) {
  dng_iptc record;
  record.title.Assign("Title \xC3\xA9");
  record.urgency = 0;
  record.category.Assign("Cat");
  record.supplemental_categories.Append(dng_text("s1"));
  record.supplemental_categories.Append(dng_text("s2"));
  record.keywords.Append(dng_text("k\xE2\x82\xAC"));
  record.instructions.Assign("line1\nline2");
  record.date_created = {2019, 12, 31, 23, 59, 58};
  record.has_time = true;
  record.zone_minutes = -570;
  record.author.Assign("Au");
  record.authors_position.Assign("Pos");
  record.city.Assign("City");
  record.state.Assign("St");
  record.country.Assign("Country");
  record.country_code.Assign("ABC");
  record.location.Assign("Loc");
  record.transmission_reference.Assign("Ref");
  record.headline.Assign("Head");
  record.credit.Assign("Cr");
  record.source.Assign("Src");
  record.copyright.Assign("(c) 2019");
  record.caption.Assign("Cap\ntion");
  record.caption_writer.Assign("CW");

  EXPECT_EQ(load_dump(saved(record)), dump(record));
}

TEST(DngIptc, HasNoFields) {
  struct Case {
    const char* label;
    void (*fill)(dng_iptc&);
    bool empty;
  };
  const Case cases[] = {
      {"fresh record", [](dng_iptc&) {}, true},
      {"urgency 0", [](dng_iptc& r) { r.urgency = 0; }, false},
      {"a keyword", [](dng_iptc& r) { r.keywords.Append(dng_text("k")); }, false},
      {"a supplemental category", [](dng_iptc& r) { r.supplemental_categories.Append(dng_text("s")); }, false},
      {"a valid date", [](dng_iptc& r) { r.date_created = {2001, 1, 1, 0, 0, 0}; }, false},
      {"an invalid date", [](dng_iptc& r) { r.date_created = {2001, 13, 1, 0, 0, 0}; }, true},
      {"the last text", [](dng_iptc& r) { r.caption_writer.Assign("x"); }, false},
      {"the country code", [](dng_iptc& r) { r.country_code.Assign("x"); }, false},
  };
  for (const Case& c : cases) {
    dng_iptc record;
    c.fill(record);
    EXPECT_EQ(record.HasNoFields(), c.empty) << c.label;
  }
}

TEST(DngIptcSave, ExhaustedMemoryRaises100005) {
  dng_iptc record;
  record.caption.Assign("caption");
  for (uint64_t fail_at = 1; fail_at <= 2; ++fail_at) {
    dng_test::FailingAllocator allocator(fail_at);
    dng_test::StderrCapture err;
    EXPECT_EQ(code_of([&] { record.SaveBlock(allocator); }), 100005) << fail_at;
    EXPECT_EQ(err.Take(), "*** Error: Unable to allocate memory ***\n");
  }
}

// The IPTC block of a JPEG: the data of image resource 0x0404 in its APP13
// segment ("8BIM", the id, an even-padded Pascal name, a 32-bit size).
std::string jpeg_iptc_block(const char* name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/jpeg/" + name, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  size_t at = file.find(std::string("8BIM\x04\x04", 6));
  if (at == std::string::npos) return "";
  at += 6;
  const size_t name_bytes = 1 + static_cast<unsigned char>(file[at]);
  at += name_bytes + (name_bytes % 2);
  const uint32_t size = (uint32_t{static_cast<unsigned char>(file[at])} << 24) |
                        (uint32_t{static_cast<unsigned char>(file[at + 1])} << 16) |
                        (uint32_t{static_cast<unsigned char>(file[at + 2])} << 8) |
                        static_cast<unsigned char>(file[at + 3]);
  return file.substr(at + 4, size);
}

// Records of real files, as exiftool reads them (its IPTC charset set to
// cp1252, as these records carry no UTF-8 marker).
TEST(DngIptcLoad, RealRecordsReadAsAnIndependentReaderReadsThem) {
  struct Case {
    const char* file;
    std::string expected;
  };
  const Case cases[] = {
      {"iptc_xmp_small.jpg",
       "title=Test IPTC picture;urgency=8;category=1;supplemental=[amazing|image|utilities];"
       "keywords=[ExifTool|Test|IPTC];instructions=What instructions;date=2004-02-26 00:00:00;author=Phil Harvey;"
       "authors_position=My Position;city=Kingston;state=Ont;country=Canada;"
       "transmission_reference=What is a transmission reference;headline=No headline;credit=My Credit;"
       "source=I'm the source;copyright=Copyright 2004 Phil Harvey;caption=A witty caption;"
       "caption_writer=I wrote it;"},
      {"nikon_d1x_type3_le_iptc.jpg",
       "supplemental=[Woodworking];keywords=[Woodworking];date=2003-08-06 18:04:34;has_time;zone=-300;"
       "copyright=\xC2\xA9 2003 Joseph S. Colson;caption=Workshop showing workbench and storage;"},
  };
  for (const Case& c : cases) {
    const std::string block = jpeg_iptc_block(c.file);
    ASSERT_FALSE(block.empty()) << c.file;
    int32_t code = -1;
    EXPECT_EQ(load_dump(block, &code), c.expected) << c.file;
    EXPECT_EQ(code, 0) << c.file;
  }
}

}  // namespace
