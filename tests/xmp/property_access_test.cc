#include "xmp/property_access.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/xmp_tree_dump.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_utils.h"
#include "xmp_test_registries.h"

namespace {

using Items = std::vector<std::pair<const char*, const char*>>;  // (language, value)

class PropertyAccess : public XmpRegistries {
 protected:
  void SetUp() override {
    XmpRegistries::SetUp();
    XMPUtils::Initialize();
  }
  void TearDown() override {
    XMPUtils::Shutdown();
    XmpRegistries::TearDown();
  }

  // "id message", or "ok".
  template <typename Call>
  static std::string Outcome(Call call) {
    try {
      call();
      return "ok";
    } catch (const XMP_Error& error) {
      return std::to_string(error.GetID()) + " " + error.GetErrMsg();
    }
  }

  std::string Get(const char* schema, const char* path) {
    XMP_StringPtr value = nullptr;
    XMP_StringLen length = 0;
    XMP_OptionBits options = 0;
    if (!meta_.GetProperty(schema, path, &value, &length, &options)) return "(missing)";
    return std::string(value, length);
  }

  void MakeAltText(const char* path, const Items& items, XMP_OptionBits form = kXMP_PropArrayIsAltText) {
    meta_.SetProperty(kXMP_NS_DC, path, nullptr, form);
    int index = 0;
    for (const auto& [language, value] : items) {
      meta_.AppendArrayItem(kXMP_NS_DC, path, 0, value, 0);
      const std::string qualifier = std::string(path) + "[" + std::to_string(++index) + "]/?xml:lang";
      if (language != nullptr) meta_.SetProperty(kXMP_NS_DC, qualifier.c_str(), language, 0);
    }
  }

  // "lang=value, ..." of an array's items.
  std::string Describe(const char* path) {
    std::string text;
    for (int i = 1;; ++i) {
      XMP_StringPtr value;
      XMP_StringLen length;
      XMP_OptionBits options;
      if (!meta_.GetArrayItem(kXMP_NS_DC, path, i, &value, &length, &options)) break;
      const std::string item(value, length);
      const std::string qualifier = std::string(path) + "[" + std::to_string(i) + "]/?xml:lang";
      if (i > 1) text += ", ";
      text += Get(kXMP_NS_DC, qualifier.c_str()) + "=" + item;
    }
    return text;
  }

  XMPMeta meta_;
};

TEST_F(PropertyAccess, ArrayItemsByIndex) {
  EXPECT_EQ(Outcome([&] { meta_.AppendArrayItem(kXMP_NS_DC, "dc:creator", 0, "A", 0); }),
            "103 Explicit arrayOptions required to create new array");
  for (const char* name : {"A", "B", "C"}) meta_.AppendArrayItem(kXMP_NS_DC, "dc:creator", kXMP_PropArrayIsOrdered, name, 0);
  meta_.AppendArrayItem(kXMP_NS_DC, "dc:creator", 0, "D", 0);
  EXPECT_EQ(Get(kXMP_NS_DC, "dc:creator[4]"), "D");
  EXPECT_EQ(Get(kXMP_NS_DC, "dc:creator[last()]"), "D");

  XMP_StringPtr value;
  XMP_StringLen length;
  XMP_OptionBits options;
  EXPECT_TRUE(meta_.GetArrayItem(kXMP_NS_DC, "dc:creator", -1, &value, &length, &options));
  EXPECT_STREQ(value, "D");
  EXPECT_EQ(Outcome([&] { meta_.GetArrayItem(kXMP_NS_DC, "dc:creator", 0, &value, &length, &options); }),
            "102 Array index must be larger than zero");
  EXPECT_EQ(Outcome([&] { meta_.GetArrayItem(kXMP_NS_DC, "dc:creator", -2, &value, &length, &options); }),
            "4 Array index out of bounds");
  meta_.SetProperty(kXMP_NS_DC, "dc:subject", nullptr, kXMP_PropValueIsArray);
  EXPECT_FALSE(meta_.GetArrayItem(kXMP_NS_DC, "dc:subject", -1, &value, &length, &options));

  const std::string before = DumpXmpMeta(meta_);
  struct Case {
    const char* path;
    XMP_OptionBits arrayForm;
    const char* outcome;
  } cases[] = {
      {"dc:creator", kXMP_PropValueIsArray, "103 Mismatch of existing and specified array form"},
      {"dc:creator", kXMP_PropValueIsStruct, "103 Only array form flags allowed for arrayOptions"},
      {"dc:title", kXMP_PropValueIsArray | kXMP_PropValueIsStruct, "103 IsStruct and IsArray options are mutually exclusive"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { meta_.AppendArrayItem(kXMP_NS_DC, c.path, c.arrayForm, "x", 0); }), c.outcome);
  }
  meta_.SetProperty(kXMP_NS_DC, "dc:format", "image/x-dng", 0);
  EXPECT_EQ(Outcome([&] { meta_.AppendArrayItem(kXMP_NS_DC, "dc:format", 0, "x", 0); }),
            "102 The named property is not an array");
  meta_.DeleteProperty(kXMP_NS_DC, "dc:format");
  EXPECT_EQ(DumpXmpMeta(meta_), before);
}

TEST_F(PropertyAccess, PutArrayItemPlacesItems) {
  XMP_Node array(nullptr, "dc:creator", kXMP_PropValueIsArray);
  const auto values = [&array] {
    std::string text;
    for (const XMP_NodeOwner& item : array.children) text += item->value;
    return text;
  };
  for (const char* v : {"A", "B", "C"}) PutArrayItem(&array, -1, v, kXMP_InsertAfterItem);
  EXPECT_EQ(values(), "ABC");
  PutArrayItem(&array, 4, "D", kXMP_InsertBeforeItem);  // one past the end appends
  EXPECT_EQ(values(), "ABCD");
  PutArrayItem(&array, 0, "0", kXMP_InsertAfterItem);  // after "item 0": first
  EXPECT_EQ(values(), "0ABCD");
  PutArrayItem(&array, 2, "x", kXMP_InsertBeforeItem);
  PutArrayItem(&array, 2, "y", kXMP_InsertAfterItem);
  EXPECT_EQ(values(), "0xyABCD");
  PutArrayItem(&array, 1, "z", 0);
  EXPECT_EQ(values(), "zxyABCD");
  EXPECT_EQ(Outcome([&] { PutArrayItem(&array, 8, "E", kXMP_InsertAfterItem); }),
            "104 Can't insert before or after implicit new item");
  EXPECT_EQ(Outcome([&] { PutArrayItem(&array, 9, "E", 0); }), "104 Array index out of bounds");
  EXPECT_EQ(Outcome([&] { PutArrayItem(&array, -5, "E", 0); }), "104 Array index out of bounds");
  EXPECT_EQ(Outcome([&] { PutArrayItem(&array, -1, "\xC3", kXMP_InsertAfterItem); }), "4 Invalid UTF-8 data byte");
  EXPECT_EQ(values(), "zxyABCD");
}

TEST_F(PropertyAccess, FailedSetsLeaveTheTreeUnchanged) {
  meta_.SetProperty(kXMP_NS_DC, "dc:creator", nullptr, kXMP_PropArrayIsOrdered);
  meta_.AppendArrayItem(kXMP_NS_DC, "dc:creator", 0, "Ann", 0);
  meta_.SetProperty(kXMP_NS_DC, "dc:format", "image/x-dng", 0);
  const std::string before = DumpXmpMeta(meta_);
  struct Case {
    const char* path;
    const char* value;
    XMP_OptionBits options;
    const char* outcome;
  } cases[] = {
      {"dc:creator", "x", 0, "102 Composite nodes can't have values"},
      {"dc:creator", nullptr, kXMP_PropValueIsStruct, "102 Requested and existing composite form mismatch"},
      {"dc:format", nullptr, kXMP_PropValueIsArray, "102 Composite nodes can't have values"},
      {"dc:creator[5]", "x", 0, "102 Specified property does not exist"},
      {"dc:new", "\xC3\x28", 0, "4 Invalid UTF-8 data byte"},
      {"dc:new", "cut off \xE2\x82", 0, "4 Invalid UTF-8 data byte"},
      {"dc:new/dc:field", "\xF4\x90\x80\x80", 0, "4 Bad UTF-8 - out of range"},
      {"dc:creator[1]", "\xC3", 0, "4 Invalid UTF-8 data byte"},
      {"dc:new", "x", kXMP_PropValueIsArray, "103 Structs and arrays can't have string values"},
      {"dc:new", "x", 0x40, "103 Unrecognized option flags"},
      {"dc:new/dc:x[1]", "x", 0, "102 Indexing applied to non-array"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome([&] { meta_.SetProperty(kXMP_NS_DC, c.path, c.value, c.options); }), c.outcome) << c.path;
    EXPECT_EQ(DumpXmpMeta(meta_), before) << c.path;
  }
  EXPECT_EQ(Outcome([&] { meta_.AppendArrayItem(kXMP_NS_DC, "dc:newlist", kXMP_PropValueIsArray, "\xC3", 0); }),
            "4 Invalid UTF-8 data byte");
  EXPECT_EQ(DumpXmpMeta(meta_), before);
}

TEST_F(PropertyAccess, SetGetDeleteAndForms) {
  meta_.SetProperty(kXMP_NS_DC, "dc:creator", nullptr, kXMP_PropArrayIsOrdered);
  meta_.AppendArrayItem(kXMP_NS_DC, "dc:creator", 0, "Ann", 0);
  // Delete-existing turns the array into a simple property.
  meta_.SetProperty(kXMP_NS_DC, "dc:creator", "Bob", kXMP_DeleteExisting);
  XMP_StringPtr value;
  XMP_StringLen length;
  XMP_OptionBits options;
  ASSERT_TRUE(meta_.GetProperty(kXMP_NS_DC, "dc:creator", &value, &length, &options));
  EXPECT_STREQ(value, "Bob");
  EXPECT_EQ(options, 0u);

  meta_.SetProperty(kXMP_NS_DC, "dc:format/?xml:lang", "EN-gb", 0);
  EXPECT_EQ(Get(kXMP_NS_DC, "dc:format/?xml:lang"), "en-GB");

  meta_.SetStructField(kXMP_NS_EXIF, "exif:Flash", kXMP_NS_EXIF, "Fired", "True", 0);
  XMP_StringPtr fired;
  ASSERT_TRUE(meta_.GetStructField(kXMP_NS_EXIF, "exif:Flash", kXMP_NS_EXIF, "exif:Fired", &fired, &length, &options));
  EXPECT_STREQ(fired, "True");
  EXPECT_EQ(Outcome([&] { meta_.SetStructField(kXMP_NS_EXIF, "exif:Flash", kXMP_NS_EXIF, "a/exif:b", "x", 0); }),
            "102 The fieldName must be simple");
  EXPECT_TRUE(meta_.HasProperty(kXMP_NS_EXIF, "exif:Flash/exif:Fired"));

  // A qualifier's removal clears its parent's bits; the last property of a
  // schema takes the schema with it; a missing path is no error.
  meta_.DeleteProperty(kXMP_NS_DC, "dc:format/?xml:lang");
  ASSERT_TRUE(meta_.GetProperty(kXMP_NS_DC, "dc:format", &value, &length, &options));
  EXPECT_EQ(options, 0u);
  meta_.DeleteProperty(kXMP_NS_EXIF, "exif:Flash");
  meta_.DeleteProperty(kXMP_NS_EXIF, "exif:Flash");
  EXPECT_FALSE(meta_.HasProperty(kXMP_NS_EXIF, "exif:Flash"));
  EXPECT_EQ(meta_.tree.children.size(), 1u);
  meta_.DeleteProperty(kXMP_NS_DC, "dc:creator");
  meta_.DeleteProperty(kXMP_NS_DC, "dc:format");
  EXPECT_TRUE(meta_.tree.children.empty());
}

struct LocalizedCase {
  const char* name;
  Items before;  // empty: no array yet
  const char* generic;
  const char* specific;
  const char* value;
  const char* after;  // Describe() of the array, or "id message"
};

TEST_F(PropertyAccess, SetLocalizedTextTable) {
  const LocalizedCase cases[] = {
      {"new array", {}, "", "en-us", "V", "x-default=V, en-US=V"},
      {"new array, default only", {}, "", "x-default", "V", "x-default=V"},
      {"only a default", {{"x-default", "A"}}, "", "fr-FR", "B", "x-default=B, fr-FR=B"},
      {"generic match, own default", {{"x-default", "A"}, {"en-US", "B"}}, "en", "en-GB", "C", "x-default=A, en-US=C"},
      {"generic match, shared default", {{"x-default", "B"}, {"en-US", "B"}}, "en", "en-GB", "C", "x-default=C, en-US=C"},
      {"several generic matches", {{"x-default", "A"}, {"en-US", "B"}, {"en-CA", "C"}}, "en", "en-GB", "D",
       "x-default=A, en-US=B, en-CA=C, en-GB=D"},
      {"default set, equal values follow", {{"en-US", "A"}, {"x-default", "A"}, {"de", "X"}}, "", "x-default", "Z",
       "x-default=Z, en-US=Z, de=X"},
      {"specific match, no default", {{"en-US", "A"}}, "", "en-US", "B", "x-default=B, en-US=B"},
      {"no match, no default", {{"de", "A"}, {"fr", "B"}}, "", "en", "V", "de=A, fr=B, en=V"},
      {"default added first", {{"de", "A"}}, "", "x-default", "V", "x-default=V, de=A"},
      {"default kept", {{"x-default", "A"}, {"de", "B"}}, "", "fr", "C", "x-default=A, de=B, fr=C"},
      {"missing language", {{nullptr, "B"}, {"x-default", "A"}}, "", "fr", "C", "102 Language qualifier must be first"},
      {"missing language after the default", {{"x-default", "A"}, {nullptr, "B"}}, "", "fr", "C",
       "102 Alt-text array item has no language qualifier"},
      {"bad value on an existing item", {{"en-US", "A"}}, "", "en-US", "\xC3\x28", "4 Invalid UTF-8 data byte"},
  };
  for (const LocalizedCase& c : cases) {
    SCOPED_TRACE(c.name);
    meta_.tree.ClearChildNodes();
    if (!c.before.empty()) MakeAltText("dc:title", c.before);
    const std::string before = DumpXmpMeta(meta_);
    const std::string outcome =
        Outcome([&] { meta_.SetLocalizedText(kXMP_NS_DC, "dc:title", c.generic, c.specific, c.value, 0); });
    if (outcome == "ok") {
      EXPECT_EQ(Describe("dc:title"), c.after);
      XMP_StringPtr value;
      XMP_StringLen length;
      XMP_OptionBits options;
      meta_.GetProperty(kXMP_NS_DC, "dc:title", &value, &length, &options);
      EXPECT_EQ(options & kXMP_PropArrayFormMask, 0x1E00u);
    } else {
      EXPECT_EQ(outcome, c.after);
      EXPECT_EQ(DumpXmpMeta(meta_), before) << "a refused call changes nothing";
    }
  }
}

TEST_F(PropertyAccess, SetLocalizedTextRefusesOtherArrays) {
  MakeAltText("dc:subject", {{"en", "A"}}, kXMP_PropValueIsArray);
  EXPECT_EQ(Outcome([&] { meta_.SetLocalizedText(kXMP_NS_DC, "dc:subject", "", "en", "B", 0); }),
            "102 Localized text array is not alt-text");
  meta_.SetProperty(kXMP_NS_DC, "dc:format", "x", 0);
  EXPECT_EQ(Outcome([&] { meta_.SetLocalizedText(kXMP_NS_DC, "dc:format", "", "en", "B", 0); }),
            "102 Localized text array is not alt-text");
  MakeAltText("dc:title", {{"x-default", "A"}});
  XMP_Node* title = meta_.tree.children[0]->children.back().get();
  ASSERT_EQ(title->name, "dc:title");
  title->children[0]->options |= kXMP_PropValueIsStruct;
  EXPECT_EQ(Outcome([&] { meta_.SetLocalizedText(kXMP_NS_DC, "dc:title", "", "fr", "B", 0); }),
            "102 Alt-text array item is not simple");
  // A new array's value is stored without the UTF-8 test.
  EXPECT_EQ(Outcome([&] { meta_.SetLocalizedText(kXMP_NS_DC, "dc:rights", "", "x-default", "\xC3", 0); }), "ok");
}

TEST_F(PropertyAccess, GetLocalizedTextChoosesByLanguage) {
  MakeAltText("dc:title", {{"x-default", "A"}, {"en-US", "B"}, {"en-CA", "C"}, {"de-DE", "D"}});
  struct Case {
    const char* generic;
    const char* specific;
    const char* chosen;  // "lang=value" or "(none)"
  } cases[] = {
      {"en", "en-CA", "en-CA=C"}, {"en", "en-GB", "en-US=B"}, {"de", "de-AT", "de-DE=D"}, {nullptr, "fr", "x-default=A"},
      {"", "DE-de", "de-DE=D"},   {"e", "fr", "x-default=A"},
  };
  for (const Case& c : cases) {
    XMP_StringPtr language, value;
    XMP_StringLen languageSize, valueSize;
    XMP_OptionBits options;
    std::string chosen = "(none)";
    if (meta_.GetLocalizedText(kXMP_NS_DC, "dc:title", c.generic, c.specific, &language, &languageSize, &value,
                               &valueSize, &options)) {
      chosen = std::string(language, languageSize) + "=" + std::string(value, valueSize);
    }
    EXPECT_EQ(chosen, c.chosen) << c.specific;
  }
  const XMP_Node* item = nullptr;
  XMP_Node noDefault(nullptr, "dc:title", 0x1E00);
  EXPECT_EQ(ChooseLocalizedText(&noDefault, "", "en", &item), kXMP_CLT_NoValues);
  AddLanguageItem(&noDefault, "de", "D");
  AddLanguageItem(&noDefault, "fr", "F");
  EXPECT_EQ(ChooseLocalizedText(&noDefault, "", "en", &item), kXMP_CLT_FirstItem);
  EXPECT_EQ(item->value, "D");
  XMP_StringPtr language, value;
  XMP_StringLen size;
  XMP_OptionBits options;
  EXPECT_FALSE(meta_.GetLocalizedText(kXMP_NS_DC, "dc:missing", "", "en", &language, &size, &value, &size, &options));
}

}  // namespace
