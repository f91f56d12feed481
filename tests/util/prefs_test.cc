#include "util/prefs.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/files.h"
#include "support/temp_folder.h"
#include "util/trace.h"

namespace {

using testing_support::TempFolder;

// A Prefs object over a set built in memory (no file involved).
class PrefsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    set_ = propset_alloc(kPropCategory, "Test");
    prefs_.SetCurrent(set_);
  }
  void TearDown() override { PropSetFree(set_); }
  std::string list(const char* key) {
    PROPVAL* pv = PropGet(set_, key, 0);
    return pv != nullptr && pv->type == PROPVAL_STR ? pv->v.strval : "<none>";
  }

  PROPSET* set_;
  Prefs prefs_;
};

TEST_F(PrefsTest, BooleansReadIntegersAndDecimalTextWithDefaults) {
  EXPECT_TRUE(prefs_.GetVerifyJPEGs());  // missing: default on
  EXPECT_FALSE(prefs_.GetTIFisRaw());    // missing: default off
  EXPECT_FALSE(prefs_.GetCheckHashes());
  EXPECT_TRUE(prefs_.GetCheckStructure());
  PropPutStr(set_, "VerifyJPEGs", 0, "0");
  EXPECT_FALSE(prefs_.GetVerifyJPEGs());
  PropPutInt(set_, "VerifyJPEGs", 0);
  EXPECT_FALSE(prefs_.GetVerifyJPEGs());
  PropPutStr(set_, "CheckHashes", 0, "1");
  EXPECT_TRUE(prefs_.GetCheckHashes());
  PropPutStr(set_, "CheckHashes", 0, "yes");  // not a number: 0
  EXPECT_FALSE(prefs_.GetCheckHashes());
  PropPutInt(set_, "TIFisRaw", 7);
  EXPECT_TRUE(prefs_.GetTIFisRaw());
}

TEST_F(PrefsTest, WithoutASetEveryReaderGivesItsDefault) {
  Prefs empty;
  // No DNG converter here: raw files are not checked until a job says so,
  // and DNG files have their own list, which the program validates itself.
  EXPECT_FALSE(empty.GetVerifyRaws());
  EXPECT_TRUE(empty.GetVerifyDNGs());
  EXPECT_TRUE(empty.GetNestedFolders());
  EXPECT_FALSE(empty.GetProcessNoExtension());
  EXPECT_EQ(empty.GetFolderCount(), 0);
  EXPECT_STREQ(empty.GetExtensionsRAW(), "-CR2-CRW-DCR-KDC-MRW-NEF-ORF-PEF-RAF-RAW-SRF-X3F-EEF-ARW-SR2-MEF-IIQ-MOS-RW2-");
  EXPECT_STREQ(empty.GetExtensionsDNG(), "-DNG-");
  EXPECT_EQ(empty.TypeByExtension("jpg"), kTypeJPEG);
  EXPECT_EQ(empty.TypeByExtension("dng"), kTypeDNG);
}

TEST_F(PrefsTest, ShouldVerifyFollowsTheListsAndSwitches) {
  struct Case {
    const char* extension;
    const char* set_switch;  // a switch written for this case, or nullptr
    int value;
    bool no_extension_on;
    bool expected;
  } cases[] = {
      {"jpg", nullptr, 0, false, true},
      {"JPEG", nullptr, 0, false, true},
      {"jpg", "VerifyJPEGs", 0, false, false},
      {"tif", nullptr, 0, false, true},
      {"tiff", "VerifyTIFFs", 0, false, false},
      {"psd", nullptr, 0, false, true},
      {"psd", "VerifyPSDs", 0, false, false},
      {"cr2", nullptr, 0, false, false},  // raw checking is off by default
      {"cr2", "VerifyRaws", 1, false, true},
      {"dng", nullptr, 0, false, true},
      {"dng", "VerifyDNGs", 0, false, false},  // DNG has its own list, not the raw list
      {"", nullptr, 0, false, false},
      {"", nullptr, 0, true, true},
      {"txt", nullptr, 0, true, false},
      {"jp", nullptr, 0, false, false},
      {"\xc3\xa9jpg", nullptr, 0, false, false},
  };
  for (const auto& c : cases) {
    PROPSET* s = propset_alloc(kPropCategory, "Case");
    prefs_.SetCurrent(s);
    if (c.set_switch != nullptr) PropPutInt(s, c.set_switch, c.value);
    PropPutInt(s, "ProcessNoExtension", c.no_extension_on ? 1 : 0);
    EXPECT_EQ(prefs_.ShouldVerify(c.extension), c.expected)
        << "'" << c.extension << "' " << (c.set_switch ? c.set_switch : "-") << "=" << c.value;
    PropSetFree(s);
  }
  prefs_.SetCurrent(set_);
}

TEST_F(PrefsTest, TypeByExtensionTestsDngBeforeRawAndIgnoresSwitches) {
  struct Case {
    const char* extension;
    int type;
  } cases[] = {{"jpg", kTypeJPEG}, {"Tif", kTypeTIFF}, {"psd", kTypePSD}, {"dng", kTypeDNG},
               {"nef", kTypeRaw},  {"txt", kTypeNone}, {"", kTypeNone}};
  PropPutInt(set_, "VerifyJPEGs", 0);
  PropPutInt(set_, "VerifyDNGs", 0);
  for (const auto& c : cases) EXPECT_EQ(prefs_.TypeByExtension(c.extension), c.type) << c.extension;
  // A job whose raw list holds DNG as well: the DNG list still wins.
  PropPutStr(set_, "ExtensionsRAW", 0, "-NEF-DNG-");
  EXPECT_EQ(prefs_.TypeByExtension("dng"), kTypeDNG);
  PropPutStr(set_, "ExtensionsDNG", 0, "-xxx-");
  EXPECT_EQ(prefs_.TypeByExtension("dng"), kTypeRaw);
  PropPutInt(set_, "ExtensionsJPEG", 3);  // not text: an empty list
  EXPECT_EQ(prefs_.TypeByExtension("jpg"), kTypeNone);
}

TEST_F(PrefsTest, ExtInListMatchesWholeEntriesOnly) {
  EXPECT_TRUE(prefs_.ExtInList("jpg", "-JPG-JPEG-"));
  EXPECT_FALSE(prefs_.ExtInList("pg", "-JPG-JPEG-"));
  EXPECT_FALSE(prefs_.ExtInList("", "-JPG-JPEG-"));
  EXPECT_FALSE(prefs_.ExtInList(nullptr, "-JPG-"));
  EXPECT_FALSE(prefs_.ExtInList("jpg", nullptr));
  std::string long_extension(5000, 'a');
  EXPECT_FALSE(prefs_.ExtInList(long_extension.c_str(), "-A-"));
}

TEST_F(PrefsTest, TifIsRawMovesTifBetweenTheLists) {
  prefs_.SetTIFisRaw(true);
  EXPECT_EQ(list("ExtensionsTIFF"), "-TIFF-");
  EXPECT_EQ(list("ExtensionsRAW"), std::string(pref_default::ExtensionsRAW) + "TIF-");
  EXPECT_TRUE(prefs_.GetTIFisRaw());
  EXPECT_EQ(prefs_.TypeByExtension("tif"), kTypeRaw);

  prefs_.SetTIFisRaw(false);
  EXPECT_EQ(list("ExtensionsTIFF"), "-TIFF-TIF-");
  EXPECT_EQ(list("ExtensionsRAW"), pref_default::ExtensionsRAW);
  EXPECT_FALSE(prefs_.GetTIFisRaw());
  EXPECT_EQ(prefs_.TypeByExtension("tif"), kTypeTIFF);

  // Lists already in the wanted form are not written again.
  prefs_.SetTIFisRaw(false);
  EXPECT_EQ(list("ExtensionsTIFF"), "-TIFF-TIF-");
  prefs_.SetTIFisRaw(true);
  EXPECT_EQ(list("ExtensionsTIFF"), "-TIFF-");
}

TEST_F(PrefsTest, FolderCountAndStoredJpegList) {
  EXPECT_FALSE(prefs_.HasExtensionsJPEG());
  PropPutStr(set_, "Folders", -1, "/a");
  PropPutStr(set_, "folders", -1, "/b");
  EXPECT_EQ(prefs_.GetFolderCount(), 2);
  PropPutStr(set_, "ExtensionsJPEG", 0, "-JPG-");
  EXPECT_TRUE(prefs_.HasExtensionsJPEG());
}

class PrefsFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(PropInit(dir_.sub("root").c_str())); }
  void TearDown() override {
    PropRootFree();
    trace_clear();
  }
  TempFolder dir_;
};

TEST_F(PrefsFileTest, OpenDropsStoredExtensionListsAndNamesTheSet) {
  dir_.write_file("root/QXMain/Job", "ExtensionsPSD\t-XYZ-\nExtensionsRAW\t-NEF-\nVerifyPSDs\t1\n");
  Prefs p;
  ASSERT_TRUE(p.Open("Job"));
  EXPECT_STREQ(p.GetName(), "Job");
  EXPECT_EQ(p.TypeByExtension("psd"), kTypePSD);
  EXPECT_EQ(p.TypeByExtension("xyz"), kTypeNone);
  EXPECT_EQ(PropGet(p.Set(), "ExtensionsRAW", 0), nullptr);
  p.Close();
  EXPECT_EQ(PropRoot(), nullptr);  // Close forgets the root

  Prefs missing;
  ASSERT_TRUE(PropInit(dir_.sub("root").c_str()));
  EXPECT_FALSE(missing.Open("Nope"));
  EXPECT_STREQ(missing.GetName(), "Nope");
  missing.SetName(nullptr);
  EXPECT_STREQ(missing.GetName(), "Default");
}

TEST_F(PrefsFileTest, DeleteSetSavesThenRemovesTheFileButKeepsTheRoot) {
  dir_.write_file("root/QXMain/Job", "A\t1\n");
  Prefs p;
  ASSERT_TRUE(p.Open("Job"));
  p.DeleteSet();
  EXPECT_EQ(p.Set(), nullptr);
  EXPECT_FALSE(platform::exists(dir_.sub("root/QXMain/Job")));
  EXPECT_NE(PropRoot(), nullptr);
}

}  // namespace
