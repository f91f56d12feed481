// The negative's XMP metadata: the sync rule under every option set, the
// value forms and their hostile texts, the EXIF exchange in both directions,
// the IPTC sync with its digest, the rebuilt IPTC block, orientation and the
// time stamp.
#include "dng/parse/dng_xmp.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dng/core/dng_errors.h"
#include "dng/core/dng_host.h"
#include "dng/core/dng_memory_allocator.h"
#include "dng/core/dng_memory_block.h"
#include "dng/core/dng_text.h"
#include "dng/core/dng_text_list.h"
#include "dng/parse/dng_exif.h"
#include "dng/parse/dng_iptc.h"
#include "dng/parse/dng_negative.h"
#include "dng/parse/dng_xmp_store.h"
#include "dng/parse/dng_xmp_text.h"
#include "dng/support/code_of.h"
#include "dng/support/stderr_capture.h"
#include "xmp/namespace_registry.h"
#include "xmp_glue_test_util.h"
#include "dng/support/scoped_zone.h"

namespace {

using dng_test::code_of;

constexpr const char* kTiff = kXMP_NS_TIFF;
constexpr const char* kExif = kXMP_NS_EXIF;
constexpr const char* kAux = kXMP_NS_EXIF_Aux;
constexpr const char* kDc = kXMP_NS_DC;
constexpr const char* kXap = kXMP_NS_XMP;
constexpr const char* kPs = kXMP_NS_Photoshop;
constexpr const char* kCore = kXMP_NS_IPTCCore;
constexpr const char* kEx = dng_test::kNsExample;

const std::string kAbsent = "(absent)";

// A packet with one rdf:Description holding `properties`, every prefix the
// tests use declared.
std::string packet(const std::string& properties) {
  return "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
         "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
         "<rdf:Description rdf:about=''"
         " xmlns:tiff='http://ns.adobe.com/tiff/1.0/'"
         " xmlns:exif='http://ns.adobe.com/exif/1.0/'"
         " xmlns:aux='http://ns.adobe.com/exif/1.0/aux/'"
         " xmlns:dc='http://purl.org/dc/elements/1.1/'"
         " xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
         " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
         " xmlns:Iptc4xmpCore='http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/'"
         " xmlns:ex='http://example.com/glue/'>" +
         properties + "</rdf:Description></rdf:RDF></x:xmpmeta>";
}

std::string ratio_text(const dng_unsigned_ratio& r) { return std::to_string(r.n) + "/" + std::to_string(r.d); }
std::string ratio_text(const dng_signed_ratio& r) { return std::to_string(r.n) + "/" + std::to_string(r.d); }

class DngXmpTest : public dng_test::XmpGlueTest {
 public:
  void Parse(const std::string& properties) {
    const std::string text = packet(properties);
    xmp_.Parse(host_, text.data(), static_cast<uint32_t>(text.size()));
  }

  std::string Text(const char* ns, const char* path) const {
    dng_text text;
    return xmp_.Store().GetText(ns, path, text) ? text.CStr() : kAbsent;
  }

  std::string List(const char* ns, const char* path) const {
    dng_text_list list;
    if (!xmp_.Store().GetTextList(ns, path, list)) return kAbsent;
    std::string joined;
    for (uint32_t i = 0; i < list.Count(); ++i) joined += (i == 0 ? "" : "|") + std::string(list[i].CStr());
    return joined;
  }

  std::string Field(const char* name) const {
    dng_text text;
    return xmp_.Store().GetFieldText(kExif, "Flash", kExif, name, text) ? text.CStr() : kAbsent;
  }

  dng_host host_;
  dng_xmp xmp_{default_memory_allocator};
};

// ---- The sync rule ---------------------------------------------------------

TEST_F(DngXmpTest, SyncRuleForEveryOptionSet) {
  // native / XMP: "" or absent means none.
  const struct {
    uint32_t options;
    const char* native;
    const char* xmp;
    const char* native_after;
    const char* xmp_after;
    bool taken;
  } cases[] = {
      // No option bits: as prefer-native.
      {0, "nat", "xmp", "nat", "nat", false},
      {0, "", "xmp", "xmp", "xmp", true},
      {0, "nat", nullptr, "nat", "nat", false},
      {0, "", nullptr, "", nullptr, false},
      // Native replaces: an absent native value removes the property.
      {1, "nat", "xmp", "nat", "nat", false},
      {1, "", "xmp", "", nullptr, false},
      {1, "nat", nullptr, "nat", "nat", false},
      {1, "", nullptr, "", nullptr, false},
      // Prefer XMP.
      {2, "nat", "xmp", "xmp", "xmp", true},
      {2, "", "xmp", "xmp", "xmp", true},
      {2, "nat", nullptr, "nat", "nat", false},
      {2, "", nullptr, "", nullptr, false},
      // Prefer native.
      {4, "nat", "xmp", "nat", "nat", false},
      {4, "", "xmp", "xmp", "xmp", true},
      {4, "nat", nullptr, "nat", "nat", false},
      {4, "", nullptr, "", nullptr, false},
      // Prefer native wins over prefer XMP for a present value.
      {6, "nat", "xmp", "nat", "nat", false},
      {6, "", "xmp", "xmp", "xmp", true},
      // Native replaces wins over both.
      {7, "nat", "xmp", "nat", "nat", false},
      {3, "", "xmp", "", nullptr, false},
      // ASCII only: a non-ASCII XMP text is dropped under prefer-native
      // (also implied), folded otherwise; ASCII texts pass.
      {8 | 4, "", "Caf\xC3\xA9", "", "Caf\xC3\xA9", true},
      {8, "", "Caf\xC3\xA9", "", "Caf\xC3\xA9", true},
      {8 | 2, "nat", "Caf\xC3\xA9", "Cafe", "Caf\xC3\xA9", true},
      {8 | 2, "nat", "plain", "plain", "plain", true},
      {8 | 4, "Caf\xC3\xA9", nullptr, "Caf\xC3\xA9", "Caf\xC3\xA9", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.options) + " " + c.native + " " + (c.xmp ? c.xmp : "(none)"));
    xmp_.Store().DropMeta();
    if (c.xmp != nullptr) xmp_.Store().SetText(kEx, "P", dng_text(c.xmp));
    dng_text native(c.native);
    EXPECT_EQ(xmp_.SyncString(kEx, "P", native, c.options), c.taken);
    EXPECT_STREQ(native.CStr(), c.native_after);
    EXPECT_EQ(Text(kEx, "P"), c.xmp_after ? c.xmp_after : kAbsent);
  }
}

TEST_F(DngXmpTest, SyncedTextsAreStoredNormalised) {
  dng_text native("line one\r\nline\ttwo");
  xmp_.SyncString(kEx, "P", native, dng_xmp_prefer_native);
  EXPECT_EQ(Text(kEx, "P"), "line one\nlinetwo");
}

TEST_F(DngXmpTest, NumbersReadOnlyWhenTheyFit) {
  const struct {
    const char* text;
    bool u32;
    uint32_t u32_value;
    bool urational;
    const char* urational_value;
    bool srational;
    const char* srational_value;
  } cases[] = {
      {"1/200", true, 1, true, "1/200", true, "1/200"},
      {"-1/3", false, 0, false, "", true, "-1/3"},
      {"4294967295/1", true, 4294967295u, true, "4294967295/1", false, ""},
      {"4294967296/1", false, 0, false, "", false, ""},
      {"7/0", true, 7, false, "", false, ""},
      {"7", true, 7, false, "", false, ""},
      {"7 / 2", true, 7, false, "", false, ""},
      {"2147483648/-1", true, 2147483648u, false, "", false, ""},
      {"-2147483648/-1", false, 0, false, "", true, "-2147483648/-1"},
      {"", false, 0, false, "", false, ""},
      {"x", false, 0, false, "", false, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    xmp_.Store().SetValue(kEx, "N", c.text);
    uint32_t value = 99;
    EXPECT_EQ(xmp_.GetUInt32(kEx, "N", value), c.u32);
    if (c.u32) {
      EXPECT_EQ(value, c.u32_value);
    }
    dng_unsigned_ratio ur(9, 9);
    EXPECT_EQ(xmp_.GetURational(kEx, "N", ur), c.urational);
    EXPECT_EQ(ratio_text(ur), c.urational ? c.urational_value : "9/9");
    dng_signed_ratio sr(9, 9);
    EXPECT_EQ(xmp_.GetSRational(kEx, "N", sr), c.srational);
    EXPECT_EQ(ratio_text(sr), c.srational ? c.srational_value : "9/9");
  }
}

TEST_F(DngXmpTest, ValueKindsWriteTheirTextFormsAndAbsence) {
  uint32_t value = 42;
  xmp_.SyncUInt32(kEx, "U", value, false, dng_xmp_prefer_native);
  EXPECT_EQ(Text(kEx, "U"), "42");
  xmp_.SyncUInt32(kEx, "U", value, true, dng_xmp_native_replaces);
  EXPECT_EQ(Text(kEx, "U"), kAbsent);

  dng_unsigned_ratio ur(3, 2);
  xmp_.SyncURational(kEx, "R", ur, dng_xmp_prefer_native);
  EXPECT_EQ(Text(kEx, "R"), "3/2");
  dng_signed_ratio sr(-3, 2);
  xmp_.SyncSRational(kEx, "S", sr, dng_xmp_prefer_native);
  EXPECT_EQ(Text(kEx, "S"), "-3/2");
  // A zero denominator is absent: the property is read instead.
  dng_unsigned_ratio absent(5, 0);
  EXPECT_TRUE(xmp_.SyncURational(kEx, "R", absent, dng_xmp_prefer_native));
  EXPECT_EQ(ratio_text(absent), "3/2");
  // An unreadable property leaves an absent value absent and unwritten.
  xmp_.Store().SetValue(kEx, "R", "3/0");
  dng_unsigned_ratio still(0, 0);
  EXPECT_FALSE(xmp_.SyncURational(kEx, "R", still, dng_xmp_prefer_native));
  EXPECT_EQ(ratio_text(still), "0/0");
  EXPECT_EQ(Text(kEx, "R"), "3/0");
}

TEST_F(DngXmpTest, StringListsAppendXmpItems) {
  dng_text_list native;
  native.Append(dng_text("a"));
  native.Append(dng_text("b"));
  xmp_.SyncStringList(kEx, "L", native, true, dng_xmp_prefer_native);
  EXPECT_EQ(List(kEx, "L"), "a|b");

  dng_text_list empty;
  EXPECT_TRUE(xmp_.SyncStringList(kEx, "L", empty, true, dng_xmp_prefer_native));
  EXPECT_EQ(empty.Count(), 2u);

  dng_text_list none;
  xmp_.SyncStringList(kEx, "L", none, true, dng_xmp_native_replaces);
  EXPECT_EQ(List(kEx, "L"), kAbsent);
}

TEST_F(DngXmpTest, UInt32ArraysKeepTheItemsThatParse) {
  const struct {
    const char* items;  // XMP array, "|" separated
    uint32_t maximum;
    uint32_t count;
    std::vector<uint32_t> values;
  } cases[] = {
      {"100|200|400|800", 3, 3, {100, 200, 400}},
      {"100|x|400", 3, 2, {100, 400, 0}},
      {"4294967296|5", 4, 1, {5, 0, 0, 0}},
      {"-1|7", 2, 1, {7, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.items);
    dng_text_list list;
    std::string items = c.items;
    for (size_t start = 0;;) {
      const size_t bar = items.find('|', start);
      list.Append(dng_text(items.substr(start, bar - start).c_str()));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    xmp_.Store().SetTextList(kEx, "A", list, false);
    uint32_t values[4] = {9, 9, 9, 9};
    uint32_t count = 0;
    EXPECT_TRUE(xmp_.SyncUInt32Array(kEx, "A", values, count, c.maximum, dng_xmp_prefer_native));
    EXPECT_EQ(count, c.count);
    EXPECT_EQ(std::vector<uint32_t>(values, values + c.maximum), c.values);
  }

  uint32_t values[3] = {50, 60, 0};
  uint32_t count = 2;
  EXPECT_FALSE(xmp_.SyncUInt32Array(kEx, "W", values, count, 3, dng_xmp_prefer_native));
  EXPECT_EQ(List(kEx, "W"), "50|60");
}

TEST_F(DngXmpTest, FingerprintsNeedThirtyTwoDigitsAndANonZeroValue) {
  const struct {
    const char* text;
    bool read;
  } cases[] = {
      {"00112233445566778899AABBCCDDEEFF", true},
      {"00112233445566778899aabbccddeeff", true},
      {"00000000000000000000000000000000", false},
      {"00112233445566778899AABBCCDDEEF", false},
      {"00112233445566778899AABBCCDDEEFG", false},
  };
  for (const auto& c : cases) {
    xmp_.Store().SetValue(kEx, "F", c.text);
    dng_digest digest;
    EXPECT_EQ(xmp_.GetFingerprint(kEx, "F", digest), c.read) << c.text;
    EXPECT_EQ(digest.IsZero(), !c.read) << c.text;
  }
  dng_digest digest;
  digest.data[15] = 0xAB;
  xmp_.SetFingerprint(kEx, "F", digest);
  EXPECT_EQ(Text(kEx, "F"), "000000000000000000000000000000AB");
  xmp_.SetFingerprint(kEx, "F", dng_digest());
  EXPECT_EQ(Text(kEx, "F"), kAbsent);
}

// ---- Flash -----------------------------------------------------------------

TEST_F(DngXmpTest, FlashStructFromTheValueAndItsMask) {
  const struct {
    uint32_t flash;
    uint32_t mask;
    const char* fired;
    const char* ret;
    const char* mode;
    const char* function;
    const char* red_eye;
  } cases[] = {
      {0x59, 0x7F, "True", "0", "3", "False", "True"},
      {0x07, 0x07, "True", "3", "(absent)", "(absent)", "(absent)"},
      {0x20, 0x21, "False", "(absent)", "(absent)", "True", "(absent)"},
      {0x10, 0x01, "False", "(absent)", "(absent)", "(absent)", "(absent)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.flash);
    Parse("<exif:Flash rdf:parseType='Resource'><exif:Return>2</exif:Return></exif:Flash>");
    uint32_t flash = c.flash;
    uint32_t mask = c.mask;
    xmp_.SyncFlash(flash, mask, dng_xmp_prefer_native);
    EXPECT_EQ(Field("Fired"), c.fired);
    EXPECT_EQ(Field("Return"), c.ret);
    EXPECT_EQ(Field("Mode"), c.mode);
    EXPECT_EQ(Field("Function"), c.function);
    EXPECT_EQ(Field("RedEyeMode"), c.red_eye);
  }
}

TEST_F(DngXmpTest, FlashValueFromTheStruct) {
  const struct {
    const char* fields;
    uint32_t flash;
    uint32_t mask;
  } cases[] = {
      {"<exif:Fired>True</exif:Fired><exif:Return>3</exif:Return><exif:Mode>1</exif:Mode>"
       "<exif:Function>False</exif:Function><exif:RedEyeMode>TRUE</exif:RedEyeMode>",
       0x4F, 0x7F},
      {"<exif:Fired>false</exif:Fired><exif:Return>4</exif:Return><exif:Mode>4294967297</exif:Mode>", 0, 0x01},
      {"<exif:Fired>yes</exif:Fired><exif:Function>True</exif:Function>", 0x20, 0x21},
      // No Fired field: nothing is taken.
      {"<exif:Return>3</exif:Return>", dng_exif_absent, 0xFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.fields);
    Parse(std::string("<exif:Flash rdf:parseType='Resource'>") + c.fields + "</exif:Flash>");
    uint32_t flash = dng_exif_absent;
    uint32_t mask = 0xFFFF;
    xmp_.SyncFlash(flash, mask, dng_xmp_prefer_native);
    EXPECT_EQ(flash, c.flash);
    EXPECT_EQ(mask, c.mask);
  }

  // Native replaces with no value removes the struct.
  Parse("<exif:Flash rdf:parseType='Resource'><exif:Fired>True</exif:Fired></exif:Flash>");
  uint32_t flash = dng_exif_absent;
  uint32_t mask = 0xFFFF;
  xmp_.SyncFlash(flash, mask, dng_xmp_native_replaces);
  EXPECT_EQ(flash, dng_exif_absent);
  EXPECT_EQ(Field("Fired"), kAbsent);
}

// ---- EXIF exchange ---------------------------------------------------------

TEST_F(DngXmpTest, ExchangeExifCases) {
  const struct {
    const char* name;
    const char* properties;
    std::function<void(dng_exif&)> native;
    std::function<void(const dng_exif&, DngXmpTest&)> check;
  } cases[] = {
      {"native make replaces the XMP make", "<tiff:Make>Other</tiff:Make>",
       [](dng_exif& e) { e.make.Assign("Maker A"); },
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_STREQ(e.make.CStr(), "Maker A");
         EXPECT_EQ(t.Text(kTiff, "Make"), "Maker A");
       }},
      {"non-ASCII XMP model is not taken", "<tiff:Model>Mod\xC3\xA8le</tiff:Model>", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) { EXPECT_STREQ(e.model.CStr(), ""); }},
      {"original date from XMP", "<exif:DateTimeOriginal>2007-03-04T05:06:07.25+02:00</exif:DateTimeOriginal>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(e.date_time_original.year, 2007u);
         EXPECT_EQ(e.date_time_original.second, 7u);
         EXPECT_STREQ(e.subsec_time_original.CStr(), "25");
         EXPECT_EQ(e.date_time_original_zone, 2);
       }},
      {"digitized date from XMP takes no zone",
       "<exif:DateTimeDigitized>2007-03-04T05:06:07+02:00</exif:DateTimeDigitized>", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(e.date_time_digitized.hour, 5u);
         EXPECT_EQ(e.date_time_original_zone, dng_exif_no_zone);
       }},
      {"EXIF date with zone 0 into XMP", "",
       [](dng_exif& e) {
         e.date_time.year = 2007;
         e.date_time.month = 3;
         e.date_time.day = 4;
         e.date_time.hour = 5;
         e.date_time.minute = 6;
         e.date_time.second = 7;
         e.date_time_zone = 0;
       },
       [](const dng_exif&, DngXmpTest& t) { EXPECT_EQ(t.Text(kTiff, "DateTime"), "2007-03-04T05:06:07Z"); }},
      {"lens name from lens info", "",
       [](dng_exif& e) {
         e.lens_info[0] = {24, 1};
         e.lens_info[1] = {70, 1};
         e.lens_info[2] = {28, 10};
         e.lens_info[3] = {28, 10};
       },
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_STREQ(e.lens.CStr(), "24.0-70.0 mm f/2.8");
         EXPECT_EQ(t.Text(kAux, "Lens"), "24.0-70.0 mm f/2.8");
         EXPECT_EQ(t.Text(kAux, "LensInfo"), "24/1 70/1 28/10 28/10");
       }},
      {"lens info from XMP", "<aux:LensInfo>18/1 55/1 35/10 56/10</aux:LensInfo>", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(ratio_text(e.lens_info[3]), "56/10");
         EXPECT_STREQ(e.lens.CStr(), "18.0-55.0 mm f/3.5-5.6");
       }},
      {"GPS into XMP", "",
       [](dng_exif& e) {
         e.gps_version_id = 0x02020000;
         e.gps_latitude_ref.Assign("N");
         e.gps_latitude[0] = {48, 1};
         e.gps_latitude[1] = {51, 1};
         e.gps_latitude[2] = {2950, 100};
         e.gps_date_stamp.Assign("2008:05:12");
         e.gps_time_stamp[0] = {14, 1};
         e.gps_time_stamp[1] = {5, 1};
         e.gps_time_stamp[2] = {335, 10};
       },
       [](const dng_exif&, DngXmpTest& t) {
         EXPECT_EQ(t.Text(kExif, "GPSVersionID"), "2.2.0.0");
         EXPECT_EQ(t.Text(kExif, "GPSLatitude"), "48,51,29.5N");
         EXPECT_EQ(t.Text(kExif, "GPSTimeStamp"), "2008-05-12T14:05:33.5Z");
       }},
      {"GPS from XMP",
       "<exif:GPSVersionID>2.2.0.0</exif:GPSVersionID><exif:GPSLongitude>11,34.5E</exif:GPSLongitude>"
       "<exif:GPSAltitude>5000/10</exif:GPSAltitude><exif:GPSTimeStamp>14:05:33.5Z</exif:GPSTimeStamp>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(e.gps_version_id, 0x02020000u);
         EXPECT_STREQ(e.gps_longitude_ref.CStr(), "E");
         EXPECT_EQ(ratio_text(e.gps_longitude[1]), "345000/10000");
         EXPECT_EQ(ratio_text(e.gps_altitude), "5000/10");
         EXPECT_EQ(ratio_text(e.gps_time_stamp[2]), "33500/1000");
       }},
      {"flash both ways", "",
       [](dng_exif& e) {
         e.flash = 0x01;
         e.flash_mask = 0x01;
       },
       [](const dng_exif&, DngXmpTest& t) { EXPECT_EQ(t.Field("Fired"), "True"); }},
      {"EXIF version defaults to 0221", "", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_EQ(e.exif_version, 0x30323231u);
         EXPECT_EQ(t.Text(kExif, "ExifVersion"), "0221");
       }},
      {"EXIF version into XMP", "", [](dng_exif& e) { e.exif_version = 0x30323330; },
       [](const dng_exif&, DngXmpTest& t) { EXPECT_EQ(t.Text(kExif, "ExifVersion"), "0230"); }},
      {"EXIF version from XMP", "<exif:ExifVersion>0231</exif:ExifVersion>", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) { EXPECT_EQ(e.exif_version, 0x30323331u); }},
      {"exposure time from XMP fills shutter speed", "<exif:ExposureTime>1/8</exif:ExposureTime>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_EQ(ratio_text(e.exposure_time), "1/8");
         EXPECT_DOUBLE_EQ(e.shutter_speed_value.ToReal(), 3.0);
         EXPECT_NE(t.Text(kExif, "ShutterSpeedValue"), kAbsent);
       }},
      {"overflowing exposure time stays absent", "<exif:ExposureTime>4294967296/1</exif:ExposureTime>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_EQ(e.exposure_time.d, 0u);
         EXPECT_EQ(t.Text(kExif, "ExposureTime"), "4294967296/1");
       }},
      {"aperture from XMP fills f-number", "<exif:ApertureValue>4/1</exif:ApertureValue>", [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) { EXPECT_DOUBLE_EQ(e.f_number.ToReal(), 4.0); }},
      {"ISO array from XMP",
       "<exif:ISOSpeedRatings><rdf:Seq><rdf:li>100</rdf:li><rdf:li>200</rdf:li><rdf:li>400</rdf:li>"
       "<rdf:li>800</rdf:li></rdf:Seq></exif:ISOSpeedRatings>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(e.iso_speed_ratings[0], 100u);
         EXPECT_EQ(e.iso_speed_ratings[2], 400u);
       }},
      {"creator list from XMP", "<dc:creator><rdf:Seq><rdf:li>Ann</rdf:li><rdf:li>Bob</rdf:li></rdf:Seq></dc:creator>",
       [](dng_exif&) {}, [](const dng_exif& e, DngXmpTest&) { EXPECT_STREQ(e.artist.CStr(), "Ann"); }},
      {"artist into XMP", "", [](dng_exif& e) { e.artist.Assign("Zed"); },
       [](const dng_exif& e, DngXmpTest& t) {
         EXPECT_STREQ(e.artist.CStr(), "Zed");
         EXPECT_EQ(t.List(kDc, "creator"), "Zed");
       }},
      {"non-ASCII description is emptied",
       "<dc:description><rdf:Alt><rdf:li xml:lang='x-default'>\xC3\xA9t\xC3\xA9</rdf:li></rdf:Alt></dc:description>",
       [](dng_exif& e) { e.image_description.Assign("old"); },
       [](const dng_exif& e, DngXmpTest&) { EXPECT_STREQ(e.image_description.CStr(), ""); }},
      {"copyright into XMP", "", [](dng_exif& e) { e.copyright.Assign("(c) A"); },
       [](const dng_exif&, DngXmpTest& t) {
         dng_text text;
         EXPECT_TRUE(t.xmp_.Store().GetDefaultLangText(kDc, "rights", text));
         EXPECT_STREQ(text.CStr(), "(c) A");
       }},
      {"creator tool prefers XMP", "<xmp:CreatorTool>Tool B</xmp:CreatorTool>",
       [](dng_exif& e) { e.software.Assign("Tool A"); },
       [](const dng_exif& e, DngXmpTest&) { EXPECT_STREQ(e.software.CStr(), "Tool B"); }},
      {"user comment from XMP",
       "<exif:UserComment><rdf:Alt><rdf:li xml:lang='x-default'>hello</rdf:li></rdf:Alt></exif:UserComment>",
       [](dng_exif&) {}, [](const dng_exif& e, DngXmpTest&) { EXPECT_STREQ(e.user_comment.CStr(), "hello"); }},
      {"image unique id from XMP", "<exif:ImageUniqueID>00112233445566778899AABBCCDDEEFF</exif:ImageUniqueID>",
       [](dng_exif&) {},
       [](const dng_exif& e, DngXmpTest&) {
         EXPECT_EQ(e.image_unique_id.data[0], 0x00);
         EXPECT_EQ(e.image_unique_id.data[15], 0xFF);
       }},
      {"short values above their range are absent", "<exif:LightSource>3</exif:LightSource>",
       [](dng_exif& e) { e.light_source = 0x10000; },
       [](const dng_exif& e, DngXmpTest&) { EXPECT_EQ(e.light_source, 3u); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    xmp_.Store().DropMeta();
    if (*c.properties != 0) Parse(c.properties);
    dng_exif exif;
    c.native(exif);
    xmp_.ExchangeExif(exif, false);
    c.check(exif, *this);
  }
}

TEST_F(DngXmpTest, ExchangeExifWithNativeReplacingRemovesWhatTheExifLacks) {
  Parse("<tiff:Make>Other</tiff:Make><exif:MeteringMode>2</exif:MeteringMode><aux:Lens>L</aux:Lens>");
  dng_exif exif;
  xmp_.ExchangeExif(exif, true);
  EXPECT_EQ(Text(kTiff, "Make"), kAbsent);
  EXPECT_EQ(Text(kExif, "MeteringMode"), kAbsent);
  EXPECT_EQ(Text(kAux, "Lens"), kAbsent);
  EXPECT_STREQ(exif.make.CStr(), "");
}

// ---- IPTC ------------------------------------------------------------------

class DngXmpIptcTest : public DngXmpTest {
 protected:
  // The negative holds the block of a record with these fields.
  void GiveBlock(const std::function<void(dng_iptc&)>& fill) {
    dng_iptc record;
    fill(record);
    negative_.AdoptIPTC(record.SaveBlock(default_memory_allocator), 1000);
  }

  dng_negative negative_{default_memory_allocator};
};

TEST_F(DngXmpIptcTest, NewDigestSyncsIptcOverXmp) {
  Parse("<photoshop:Title>Old</photoshop:Title><photoshop:City>Paris</photoshop:City>");
  GiveBlock([](dng_iptc& r) {
    r.title.Assign("ABC");
    r.keywords.Append(dng_text("k1"));
  });
  const dng_digest digest = negative_.IPTCFingerprint();
  xmp_.VerifyIPTCFingerprint(negative_, false);
  EXPECT_EQ(Text(kPs, "LegacyIPTCDigest"), encode_fingerprint_hex(digest).CStr());
  EXPECT_EQ(Text(kPs, "Title"), "ABC");
  EXPECT_EQ(Text(kPs, "City"), "Paris");
  EXPECT_EQ(List(kPs, "Keywords"), "k1");
  EXPECT_EQ(negative_.IPTCSize(), 0u);
  EXPECT_EQ(negative_.IPTCFilePosition(), dng_no_iptc_offset);
}

TEST_F(DngXmpIptcTest, EqualDigestLeavesXmpAndBlockAlone) {
  GiveBlock([](dng_iptc& r) { r.title.Assign("ABC"); });
  Parse("<photoshop:Title>Old</photoshop:Title><photoshop:LegacyIPTCDigest>" +
        std::string(encode_fingerprint_hex(negative_.IPTCFingerprint()).CStr()) + "</photoshop:LegacyIPTCDigest>");
  xmp_.VerifyIPTCFingerprint(negative_, false);
  EXPECT_EQ(Text(kPs, "Title"), "Old");
  EXPECT_NE(negative_.IPTCSize(), 0u);
}

TEST_F(DngXmpIptcTest, XmpWinsOnlyWithoutAnOlderDigest) {
  const struct {
    const char* digest;
    bool xmp_wins;
    const char* title;
  } cases[] = {
      {nullptr, true, "Old"},
      {nullptr, false, "ABC"},
      {"00112233445566778899AABBCCDDEEFF", true, "ABC"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.digest ? c.digest : "no digest") + (c.xmp_wins ? " wins" : ""));
    Parse(std::string("<photoshop:Title>Old</photoshop:Title>") +
          (c.digest ? std::string("<photoshop:LegacyIPTCDigest>") + c.digest + "</photoshop:LegacyIPTCDigest>" : ""));
    GiveBlock([](dng_iptc& r) { r.title.Assign("ABC"); });
    xmp_.VerifyIPTCFingerprint(negative_, c.xmp_wins);
    EXPECT_EQ(Text(kPs, "Title"), c.title);
    EXPECT_EQ(negative_.IPTCSize(), 0u);
  }
}

TEST_F(DngXmpIptcTest, NoBlockWritesNothing) {
  Parse("<photoshop:Title>Old</photoshop:Title>");
  xmp_.VerifyIPTCFingerprint(negative_, false);
  EXPECT_EQ(Text(kPs, "LegacyIPTCDigest"), kAbsent);
  EXPECT_EQ(Text(kPs, "Title"), "Old");
}

TEST_F(DngXmpIptcTest, TruncatedBlockFailsWithTheStreamCode) {
  const uint8_t bytes[] = {0x1C, 2, 5, 0, 10, 'A', 'B'};
  std::unique_ptr<dng_memory_block> block(default_memory_allocator.NewBlock(sizeof bytes));
  std::memcpy(block->Buffer(), bytes, sizeof bytes);
  negative_.AdoptIPTC(std::move(block), 0);
  EXPECT_EQ(code_of([&] { xmp_.VerifyIPTCFingerprint(negative_, false); }), 100011);
}

TEST_F(DngXmpIptcTest, SyncIptcCarriesEveryField) {
  dng_iptc in;
  in.title.Assign("T");
  in.urgency = 3;
  in.category.Assign("CAT");
  in.supplemental_categories.Append(dng_text("s1"));
  in.keywords.Append(dng_text("k1"));
  in.keywords.Append(dng_text("k2"));
  in.instructions.Assign("I");
  in.date_created.year = 2007;
  in.date_created.month = 3;
  in.date_created.day = 4;
  in.date_created.hour = 14;
  in.date_created.minute = 30;
  in.has_time = true;
  in.zone_minutes = -300;
  const struct {
    dng_text dng_iptc::*field;
    const char* ns;
    const char* path;
  } texts[] = {
      {&dng_iptc::author, kPs, "Author"},
      {&dng_iptc::authors_position, kPs, "AuthorsPosition"},
      {&dng_iptc::city, kPs, "City"},
      {&dng_iptc::state, kPs, "State"},
      {&dng_iptc::country, kPs, "Country"},
      {&dng_iptc::country_code, kCore, "CountryCode"},
      {&dng_iptc::location, kCore, "Location"},
      {&dng_iptc::transmission_reference, kPs, "TransmissionReference"},
      {&dng_iptc::headline, kPs, "Headline"},
      {&dng_iptc::credit, kPs, "Credit"},
      {&dng_iptc::source, kPs, "Source"},
      {&dng_iptc::copyright, kPs, "Copyright"},
      {&dng_iptc::caption, kPs, "Caption"},
      {&dng_iptc::caption_writer, kPs, "CaptionWriter"},
  };
  for (const auto& t : texts) (in.*t.field).Assign(t.path);
  xmp_.SyncIPTC(in, dng_xmp_prefer_native);
  EXPECT_EQ(Text(kPs, "DateCreated"), "2007-03-04T14:30:00-05:00");
  EXPECT_EQ(Text(kPs, "Urgency"), "3");
  EXPECT_EQ(List(kPs, "Keywords"), "k1|k2");
  for (const auto& t : texts) EXPECT_EQ(Text(t.ns, t.path), t.path);

  dng_iptc out;
  xmp_.SyncIPTC(out, dng_xmp_prefer_xmp);
  EXPECT_STREQ(out.title.CStr(), "T");
  EXPECT_EQ(out.urgency, 3);
  EXPECT_EQ(out.keywords.Count(), 2u);
  EXPECT_EQ(out.date_created.hour, 14u);
  EXPECT_TRUE(out.has_time);
  EXPECT_EQ(out.zone_minutes, -300);
  for (const auto& t : texts) EXPECT_STREQ((out.*t.field).CStr(), t.path);
}

TEST_F(DngXmpIptcTest, DateCreatedAndUrgencyFromHostileXmp) {
  const struct {
    const char* date;
    const char* urgency;
    bool has_time;
    int32_t zone_minutes;
    int32_t urgency_after;
  } cases[] = {
      {"2007-03-04T14:30:00+13:00", "9", true, 780, 9},
      {"2007-03-04T14:30:00+99:00", "10", false, 0, -1},
      {"2007-03-04T14:30:00-4294967295:00", "4294967296", false, 0, -1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    Parse(std::string("<photoshop:DateCreated>") + c.date + "</photoshop:DateCreated><photoshop:Urgency>" +
          c.urgency + "</photoshop:Urgency>");
    dng_iptc record;
    xmp_.SyncIPTC(record, dng_xmp_prefer_xmp);
    EXPECT_EQ(record.date_created.day, 4u);
    EXPECT_EQ(record.has_time, c.has_time);
    EXPECT_EQ(record.zone_minutes, c.zone_minutes);
    EXPECT_EQ(record.urgency, c.urgency_after);
  }
}

TEST_F(DngXmpIptcTest, BuildIptcBlockFromXmp) {
  // A zone no IPTC time can hold is dropped with the time, so the block
  // stays well formed.
  Parse(
      "<photoshop:Title>ABC</photoshop:Title>"
      "<photoshop:DateCreated>2007-03-04T14:30:00+99:00</photoshop:DateCreated>"
      "<photoshop:Keywords><rdf:Bag><rdf:li>k1</rdf:li></rdf:Bag></photoshop:Keywords>");
  xmp_.BuildIPTCBlock(negative_);
  ASSERT_NE(negative_.IPTCSize(), 0u);
  EXPECT_EQ(negative_.IPTCFilePosition(), dng_no_iptc_offset);
  dng_iptc back;
  back.LoadBlock(negative_.IPTCBytes(), negative_.IPTCSize(), dng_no_iptc_offset);
  EXPECT_STREQ(back.title.CStr(), "ABC");
  EXPECT_EQ(back.keywords.Count(), 1u);
  EXPECT_EQ(back.date_created.year, 2007u);
  EXPECT_FALSE(back.has_time);
}

TEST_F(DngXmpIptcTest, BuildIptcBlockWithoutFieldsOrTree) {
  xmp_.BuildIPTCBlock(negative_);
  EXPECT_EQ(negative_.IPTCSize(), 0u);
  Parse("<tiff:Make>M</tiff:Make>");
  xmp_.BuildIPTCBlock(negative_);
  EXPECT_EQ(negative_.IPTCSize(), 0u);
}

// ---- Orientation and time stamp --------------------------------------------

TEST_F(DngXmpIptcTest, ReconcileOrientation) {
  const struct {
    const char* xmp;  // null: no property
    uint32_t negative;  // 0: no orientation
    bool xmp_wins;
    uint32_t negative_after;  // TIFF orientation, 0 for none
    const char* xmp_after;
  } cases[] = {
      {"6", 1, false, 1, "1"},
      {"6", 1, true, 6, "6"},
      {"6", 0, false, 6, "6"},
      {"9", 0, false, 0, "1"},
      {"0", 3, true, 3, "3"},
      {nullptr, 3, false, 3, "3"},
      {"4294967296", 0, false, 0, "1"},
      {"-6", 0, false, 0, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.xmp ? c.xmp : "none") + " " + std::to_string(c.negative));
    dng_negative negative(default_memory_allocator);
    if (c.negative != 0) negative.StoreOrientation(dng_image_flip::FromTiff(c.negative));
    xmp_.Store().DropMeta();
    if (c.xmp != nullptr) xmp_.Store().SetValue(kTiff, "Orientation", c.xmp);
    xmp_.ReconcileOrientation(negative, c.xmp_wins);
    EXPECT_EQ(negative.HasOrientation(), c.negative_after != 0);
    if (c.negative_after != 0) {
      EXPECT_EQ(negative.StoredOrientation().ToTiff(), c.negative_after);
    }
    EXPECT_EQ(Text(kTiff, "Orientation"), c.xmp_after);
  }
}

TEST_F(DngXmpTest, OrientationGetSetAndDrop) {
  xmp_.SetOrientation(dng_image_flip::FromTiff(8));
  EXPECT_EQ(Text(kTiff, "Orientation"), "8");
  EXPECT_EQ(xmp_.GetOrientation(), dng_image_flip::FromTiff(8));
  xmp_.DropOrientation();
  EXPECT_EQ(Text(kTiff, "Orientation"), kAbsent);
  EXPECT_EQ(xmp_.GetOrientation().Code(), 0);
}

TEST_F(DngXmpTest, UpdateDateTimeWritesTheZone) {
  ScopedZone zone("CET-1CEST,M3.5.0,M10.5.0/3");
  dng_calendar_time when;
  when.year = 2007;
  when.month = 7;
  when.day = 4;
  when.hour = 5;
  const struct {
    int32_t zone_hours;
    const char* expected;
  } cases[] = {{-5, "2007-07-04T05:00:00-05:00"}, {0, "2007-07-04T05:00:00Z"}, {dng_xmp_no_zone, "2007-07-04T05:00:00+02:00"}};
  for (const auto& c : cases) {
    xmp_.UpdateDateTime(when, c.zone_hours);
    EXPECT_EQ(Text(kTiff, "DateTime"), c.expected);
  }
}

// ---- Object ----------------------------------------------------------------

TEST_F(DngXmpTest, CopySharesTheTreeAndPacketsRoundTrip) {
  Parse("<ex:P>v</ex:P>");
  dng_xmp copy(xmp_);
  copy.Store().SetValue(kEx, "Q", "w");
  EXPECT_EQ(Text(kEx, "Q"), "w");

  std::unique_ptr<dng_memory_block> block = xmp_.WritePacketBlock(true, 0, 100);
  ASSERT_NE(block, nullptr);
  dng_xmp back(default_memory_allocator);
  back.Parse(host_, block->Buffer(), block->Size());
  dng_text text;
  ASSERT_TRUE(back.Store().GetText(kEx, "Q", text));
  EXPECT_STREQ(text.CStr(), "w");
}

TEST_F(DngXmpTest, DamagedPacketRaisesInvalidFormat) {
  const std::string damaged = "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF";
  dng_test::StderrCapture capture;
  EXPECT_EQ(code_of([&] { xmp_.Parse(host_, damaged.data(), static_cast<uint32_t>(damaged.size())); }), 100006);
}

}  // namespace
