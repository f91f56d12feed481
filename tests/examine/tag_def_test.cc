#include "examine/tag_def.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(TagDef, TablesHoldEveryListedRow) {
  EXPECT_EQ(tag_def_rows(), 242u);
  EXPECT_EQ(tag_def_EXIF_rows(), 42u);
  EXPECT_EQ(tag_def_GPS_rows(), 31u);
  EXPECT_EQ(tag_def_CRW_rows(), 60u);
}

struct NameCase {
  int32_t tag;
  const char* name;
};

TEST(TagDef, NamesTagsFromEveryPartOfTheTable) {
  const NameCase cases[] = {
      {46, "RW2preview"},        {306, "DateTimeChanged"}, {33432, "Copyright"},
      {32932, "Wang Annotation"}, {34665, "Exif IFD"},     {37398, "TIFF/EPStandardID"},
      {41730, "CFAPattern?"},    {33422, "CFAPattern?"},   {50706, "DNGVersion"},
      {50829, "ActiveArea"},     {37399, "SensingMethod"}, {41495, "SensingMethod"},
  };
  for (const NameCase& c : cases) EXPECT_STREQ(tag_def_name(c.tag), c.name) << c.tag;
}

TEST(TagDef, UnlistedTagGetsItsNumber) {
  EXPECT_STREQ(tag_def_name(65000), "[Tag 65000]");
  EXPECT_STREQ(tag_def_name(-1), "[Tag -1]");
  EXPECT_STREQ(tag_def_CRW_name(9999), "[Tag 9999]");
}

TEST(TagDef, GpsNamesCoverTagsZeroToThirty) {
  EXPECT_STREQ(tag_def_GPS_name(0), "GPSVersionID");
  EXPECT_STREQ(tag_def_GPS_name(30), "GPSDifferential");
  for (int32_t tag = 0; tag <= 30; ++tag) EXPECT_NE(tag_def_GPS_name(tag), nullptr) << tag;
  EXPECT_EQ(tag_def_GPS_name(31), nullptr);
}

TEST(TagDef, SummaryTableKeepsItsNames) {
  EXPECT_STREQ(tag_def_EXIF_find(167), "Actuations");
  EXPECT_STREQ(tag_def_EXIF_find(37500), "MakerNote");
  EXPECT_STREQ(tag_def_EXIF_find(306), "DateTimeChanged");
  EXPECT_EQ(tag_def_EXIF_find(256), nullptr);
}

TEST(TagDef, CiffRecordNames) {
  EXPECT_STREQ(tag_def_CRW_name(2058), "CanonRawMakeModel");
  EXPECT_STREQ(tag_def_CRW_name(4153), "?");
  EXPECT_STREQ(tag_def_CRW_name(12299), "ExifInformation");
}

}  // namespace
