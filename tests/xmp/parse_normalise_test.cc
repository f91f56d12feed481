// Post-parse repair: Dublin Core arrays, aliases moved to their actual
// properties, control characters, GPS times and UUID document names.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/xmp_toolkit_fixture.h"
#include "xmp/parse_normalise.h"
#include "xmp/xmp_meta_parse.h"

namespace {

using NormaliseTest = XmpToolkitTest;

struct NormaliseCase {
  const char* label;
  const char* properties;  // inside one rdf:Description
  XMP_OptionBits options;
  const char* expected;    // dump, or "error <id> <message>"
};

const NormaliseCase kCases[] = {
    {"simple Dublin Core values become arrays",
     "<dc:title>Sunset</dc:title><dc:subject>sun</dc:subject><dc:format>image/x</dc:format>"
     "<dc:creator>Ann</dc:creator>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:title\" {0x00001E00}\n"
     "      \"[]\" = \"Sunset\" {0x00000050}\n"
     "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n"
     "    \"dc:subject\" {0x00000200}\n"
     "      \"[]\" = \"sun\" {0x00000000}\n"
     "    \"dc:format\" = \"image/x\" {0x00000000}\n"
     "    \"dc:creator\" {0x00000600}\n"
     "      \"[]\" = \"Ann\" {0x00000000}\n"},
    {"an alias of a whole property moves and its schema disappears",
     "<tiff:Artist>Ann</tiff:Artist><tiff:Copyright>(c)</tiff:Copyright>", 0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:creator\" {0x00000600}\n"
     "      \"[]\" = \"Ann\" {0x00000000}\n"
     "    \"dc:rights\" = \"(c)\" {0x00000000}\n"},
    {"an alias with its actual present is dropped", "<tiff:Artist>Ann</tiff:Artist>"
     "<dc:creator><rdf:Seq><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:creator\" {0x00000600}\n"
     "      \"[]\" = \"Bob\" {0x00000000}\n"},
    {"strict aliasing: the alias must equal its actual", "<tiff:Artist>Ann</tiff:Artist>"
     "<dc:creator><rdf:Seq><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>",
     kXMP_StrictAliasing, "error 203 Mismatch between alias and base nodes"},
    {"strict aliasing: an equal alias is dropped", "<tiff:Artist>Bob</tiff:Artist>"
     "<dc:creator><rdf:Seq><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>",
     kXMP_StrictAliasing,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:creator\" {0x00000600}\n"
     "      \"[]\" = \"Bob\" {0x00000000}\n"},
    {"an x-default alias becomes the new first item",
     "<photoshop:Title>T</photoshop:Title>"
     "<dc:title><rdf:Alt><rdf:li xml:lang='de'>D</rdf:li></rdf:Alt></dc:title>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:title\" {0x00001E00}\n"
     "      \"[]\" = \"T\" {0x00000050}\n"
     "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n"
     "      \"[]\" = \"D\" {0x00000050}\n"
     "        ? \"xml:lang\" = \"de\" {0x00000020}\n"},
    {"an x-default alias with its own language",
     "<photoshop:Title xml:lang='en'>T</photoshop:Title>"
     "<dc:title><rdf:Alt><rdf:li xml:lang='de'>D</rdf:li></rdf:Alt></dc:title>",
     0, "error 203 Alias to x-default already has a language qualifier"},
    {"an x-default alias without its array", "<photoshop:Title>T</photoshop:Title>", 0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:title\" {0x00001E00}\n"
     "      \"[]\" = \"T\" {0x00000050}\n"
     "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n"},
    {"dc:subject is always a plain array", "<dc:subject><rdf:Seq><rdf:li>a</rdf:li></rdf:Seq></dc:subject>", 0,
     "\"\" {0x00000000}\n"
     "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
     "    \"dc:subject\" {0x00000200}\n"
     "      \"[]\" = \"a\" {0x00000000}\n"},
    {"a time-only GPS stamp takes the picture's date",
     "<exif:GPSTimeStamp>12:30:05Z</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-10-17T08:00:00"
     "</exif:DateTimeOriginal>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"2009-10-17T12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-10-17T08:00:00\" {0x00000000}\n"},
    {"a GPS stamp at +00:00 is completed as UTC",
     "<exif:GPSTimeStamp>12:30:05+00:00</exif:GPSTimeStamp><exif:DateTimeDigitized>2009-10-17"
     "</exif:DateTimeDigitized>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"2009-10-17T12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeDigitized\" = \"2009-10-17\" {0x00000000}\n"},
    {"a GPS stamp keeps its own zone",
     "<exif:GPSTimeStamp>T12:30:05.25-05:30</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-10-17"
     "</exif:DateTimeOriginal>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"2009-10-17T12:30:05.25-05:30\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-10-17\" {0x00000000}\n"},
    {"GPS stamps that stay as they are",
     "<exif:GPSTimeStamp>noon</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-10-17</exif:DateTimeOriginal>"
     "<ex:x>1</ex:x>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"noon\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-10-17\" {0x00000000}\n"
     "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
     "    \"ex:x\" = \"1\" {0x00000000}\n"},
    {"a GPS stamp with a date stays",
     "<exif:GPSTimeStamp>2001-02-03T12:30:05Z</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-10-17"
     "</exif:DateTimeOriginal>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"2001-02-03T12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-10-17\" {0x00000000}\n"},
    {"a date without month and day gives no date",
     "<exif:GPSTimeStamp>12:30:05Z</exif:GPSTimeStamp><exif:DateTimeOriginal>2009</exif:DateTimeOriginal>", 0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009\" {0x00000000}\n"},
    {"an impossible date-only month gives no date",
     "<exif:GPSTimeStamp>12:30:05Z</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-13-45</exif:DateTimeOriginal>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-13-45\" {0x00000000}\n"},
    {"an absurd date-only day gives no date",
     "<exif:GPSTimeStamp>12:30:05Z</exif:GPSTimeStamp><exif:DateTimeOriginal>2009-01-999999999"
     "</exif:DateTimeOriginal>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
     "    \"exif:GPSTimeStamp\" = \"12:30:05Z\" {0x00000000}\n"
     "    \"exif:DateTimeOriginal\" = \"2009-01-999999999\" {0x00000000}\n"},
    {"control-character references in values, qualifiers and items",
     "<ex:a>&amp;#x41;&amp;#x1F;&amp;#xE9;&amp;#xe9;&amp;#x4</ex:a>"
     "<ex:b rdf:value='x' xml:lang='en' ot:q='&amp;#x9;'/>"
     "<ex:c><rdf:Bag><rdf:li>&amp;#x7F;</rdf:li></rdf:Bag></ex:c>",
     0,
     "\"\" {0x00000000}\n"
     "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
     "    \"ex:a\" = \"A\\x1F\\xC3\\xA9&#xe9;&#x4\" {0x00000000}\n"
     "    \"ex:b\" = \"x\" {0x00000050}\n"
     "      ? \"xml:lang\" = \"en\" {0x00000020}\n"
     "      ? \"ot:q\" = \"\\x09\" {0x00000020}\n"
     "    \"ex:c\" {0x00000200}\n"
     "      \"[]\" = \"\\x7F\" {0x00000000}\n"},
};

TEST_F(NormaliseTest, Cases) {
  for (const NormaliseCase& c : kCases) {
    std::string dump = ParseToDump(XmpDescription(c.properties), c.options);
    EXPECT_EQ(dump, c.expected) << c.label;
  }
}

struct AboutCase {
  const char* about;
  const char* expected;
};

// A UUID document name becomes xmpMM:InstanceID.
TEST_F(NormaliseTest, UuidAboutBecomesTheInstanceID) {
  const AboutCase cases[] = {
      {"uuid:1234",
       "\"\" {0x00000000}\n"
       "  \"http://ns.adobe.com/xap/1.0/mm/\" = \"xapMM:\" {0x80000000}\n"
       "    \"xapMM:InstanceID\" = \"uuid:1234\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:a\" = \"1\" {0x00000000}\n"},
      {"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d",
       "\"\" {0x00000000}\n"
       "  \"http://ns.adobe.com/xap/1.0/mm/\" = \"xapMM:\" {0x80000000}\n"
       "    \"xapMM:InstanceID\" = \"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:a\" = \"1\" {0x00000000}\n"},
      {"0a1b2c3d-4e5f-6a7b-8c9d-0E1F2A3B4C5D",
       "\"0a1b2c3d-4e5f-6a7b-8c9d-0E1F2A3B4C5D\" {0x00000000}\n"
       "  \"http://ns.adobe.com/xap/1.0/mm/\" = \"xapMM:\" {0x80000000}\n"
       "    \"xapMM:InstanceID\" {0x00000200}\n"
       "      \"[]\" = \"old\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:a\" = \"1\" {0x00000000}\n"},
      {"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d0",
       "\"0a1b2c3d-4e5f-6a7b-8c9d-0e1f2a3b4c5d0\" {0x00000000}\n"
       "  \"http://ns.adobe.com/xap/1.0/mm/\" = \"xapMM:\" {0x80000000}\n"
       "    \"xapMM:InstanceID\" {0x00000200}\n"
       "      \"[]\" = \"old\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:a\" = \"1\" {0x00000000}\n"},
  };
  for (const AboutCase& c : cases) {
    std::string packet = XmpPacket(std::string("<rdf:Description rdf:about='") + c.about +
                                   "'><xmpMM:InstanceID><rdf:Bag><rdf:li>old</rdf:li></rdf:Bag></xmpMM:InstanceID>"
                                   "<ex:a>1</ex:a></rdf:Description>");
    std::string dump = ParseToDump(packet);
    EXPECT_EQ(dump, c.expected) << c.about;
  }
}

}  // namespace
