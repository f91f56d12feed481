#include "xmp/node_locate.h"

#include <gtest/gtest.h>

#include <string>

#include "support/xmp_tree_dump.h"
#include "xmp/xmp_error.h"
#include "xmp_test_registries.h"

namespace {

XMP_Node* Add(XMP_Node* parent, const char* name, const char* value, XMP_OptionBits options) {
  parent->children.push_back(std::make_unique<XMP_Node>(parent, name, value, options));
  return parent->children.back().get();
}

XMP_Node* AddQualifier(XMP_Node* node, const char* name, const char* value) {
  node->qualifiers.push_back(std::make_unique<XMP_Node>(node, name, value, kXMP_PropIsQualifier));
  node->options |= kXMP_PropHasQualifiers | (std::string(name) == "xml:lang" ? XMP_OptionBits{kXMP_PropHasLang} : 0u);
  return node->qualifiers.back().get();
}

class NodeLocate : public XmpRegistries {
 protected:
  void SetUp() override {
    XmpRegistries::SetUp();
    dc_ = Add(&root_, kXMP_NS_DC, "dc:", kXMP_SchemaNode);
    creator_ = Add(dc_, "dc:creator", "", kXMP_PropValueIsArray | kXMP_PropArrayIsOrdered);
    Add(creator_, "[]", "Ann", 0);
    Add(dc_, "dc:format", "image/x-dng", 0);
    XMP_Node* title = Add(dc_, "dc:title", "", 0x1E00);
    AddQualifier(Add(title, "[]", "Hello", 0), "xml:lang", "x-default");
    AddQualifier(Add(title, "[]", "Hallo", 0), "xml:lang", "de-CH");
    XMP_Node* history = Add(dc_, "dc:history", "", kXMP_PropValueIsArray);
    for (const char* id : {"one", "two"}) Add(Add(history, "[]", "", kXMP_PropValueIsStruct), "dc:id", id, 0);
  }

  XMP_Node* Walk(const char* schema, const char* path, bool create, XMP_OptionBits leaf = 0) {
    XMP_ExpandedXPath expanded;
    SplitPath(schema, path, &expanded);
    return LocateNode(&root_, expanded, create, leaf);
  }

  // "id message" of a failed walk, or "ok" / "null".
  std::string Outcome(const char* schema, const char* path, bool create) {
    try {
      return Walk(schema, path, create) == nullptr ? "null" : "ok";
    } catch (const XMP_Error& error) {
      return std::to_string(error.GetID()) + " " + error.GetErrMsg();
    }
  }

  XMP_Node root_{nullptr, "", 0};
  XMP_Node* dc_ = nullptr;
  XMP_Node* creator_ = nullptr;
};

TEST_F(NodeLocate, FindsItemsBySelector) {
  struct Case {
    const char* path;
    const char* value;  // expected value of the found node, or null for none
  } cases[] = {
      {"dc:creator[1]", "Ann"},
      {"dc:creator[last()]", "Ann"},
      {"dc:creator[]", "Ann"},
      {"dc:creator[2]", nullptr},
      {"dc:creator[2147483647]", nullptr},
      {"dc:title[?xml:lang=\"x-default\"]", "Hello"},
      {"dc:title[@xml:lang='x-default']", "Hello"},
      {"dc:title[?xml:lang=\"DE-ch\"]", "Hallo"},  // the selector's language is normalised
      {"dc:title[?xml:lang=\"fr\"]", nullptr},
      {"dc:title[2]/?xml:lang", "de-CH"},
      {"dc:history[dc:id='two']/dc:id", "two"},
      {"dc:history[dc:id='three']", nullptr},
      {"dc:format", "image/x-dng"},
      {"dc:missing", nullptr},
      {"dc:format/?xml:lang", nullptr},
  };
  const std::string before = DumpXmpTree(root_);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    XMP_Node* node = Walk(kXMP_NS_DC, c.path, false);
    if (c.value == nullptr) {
      EXPECT_EQ(node, nullptr);
    } else {
      ASSERT_NE(node, nullptr);
      EXPECT_EQ(node->value, c.value);
    }
  }
  EXPECT_EQ(DumpXmpTree(root_), before);
  EXPECT_EQ(Walk(kXMP_NS_XMP, "xap:CreateDate", false), nullptr) << "missing schema";
}

TEST_F(NodeLocate, WalkErrorsLeaveTheTreeAsItWas) {
  struct Case {
    const char* path;
    const char* outcome;
  } cases[] = {
      {"dc:creator[0]", "102 Array index must be larger than zero"},
      {"dc:creator[2147483648]", "102 Array index overflow"},
      {"dc:creator[99999999999999999999]", "102 Array index overflow"},
      {"dc:format[1]", "102 Indexing applied to non-array"},
      {"dc:format/dc:x", "102 Named children only allowed for schemas and structs"},
      {"dc:creator/dc:x", "102 Named children only allowed for schemas and structs"},
      {"dc:title[dc:id='x']", "102 Field selector must be used on array of struct"},
      {"dc:new/dc:field[1]", "102 Indexing applied to non-array"},
      {"dc:new/?xml:lang/dc:x[1]", "102 Indexing applied to non-array"},
      {"dc:creator[3]", "null"},
  };
  const std::string before = DumpXmpTree(root_);
  for (const Case& c : cases) {
    EXPECT_EQ(Outcome(kXMP_NS_DC, c.path, true), c.outcome) << c.path;
    EXPECT_EQ(DumpXmpTree(root_), before) << c.path;
  }
}

TEST_F(NodeLocate, CreatesMissingNodes) {
  // One past the end appends an item; the new leaf takes the leaf options.
  XMP_Node* item = Walk(kXMP_NS_DC, "dc:creator[2]", true, kXMP_PropValueIsURI);
  ASSERT_NE(item, nullptr);
  EXPECT_EQ(creator_->children.size(), 2u);
  EXPECT_EQ(item->options, kXMP_PropValueIsURI);

  // A new schema, a struct for the field's parent, and the field.
  ASSERT_NE(Walk(kXMP_NS_EXIF, "exif:Flash/exif:Fired", true), nullptr);
  XMP_Node* exif = root_.children.back().get();
  EXPECT_EQ(DumpXmpTree(*exif),
            "\"http://ns.adobe.com/exif/1.0/\" = \"exif:\" {0x80000000}\n"
            "  \"exif:Flash\" {0x00000100}\n"
            "    \"exif:Fired\" {0x00000000}\n");
  // The same walk failing at its last step removes everything it made.
  root_.children.pop_back();
  const std::string before = DumpXmpTree(root_);
  EXPECT_EQ(Outcome(kXMP_NS_EXIF, "exif:Flash/exif:Fired[1]", true), "102 Indexing applied to non-array");
  EXPECT_EQ(DumpXmpTree(root_), before);
}

TEST_F(NodeLocate, AliasesWalkToTheirActuals) {
  // xap:Author is the first item of dc:creator.
  XMP_Node* author = Walk(kXMP_NS_XMP, "xap:Author", false);
  ASSERT_NE(author, nullptr);
  EXPECT_EQ(author->value, "Ann");
  // pdf:Title is the x-default item of dc:title.
  XMP_Node* title = Walk(kXMP_NS_PDF, "Title", false);
  ASSERT_NE(title, nullptr);
  EXPECT_EQ(title->value, "Hello");
  // Creating through an alias of the x-default item makes that item first.
  root_.children.clear();
  XMP_Node* made = Walk(kXMP_NS_PDF, "pdf:Subject", true);
  ASSERT_NE(made, nullptr);
  EXPECT_EQ(DumpXmpTree(root_),
            "\"\" {0x00000000}\n"
            "  \"http://purl.org/dc/elements/1.1/\" = \"dc:\" {0x80000000}\n"
            "    \"dc:description\" {0x00001E00}\n"
            "      \"[]\" {0x00000050}\n"
            "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n");
}

TEST_F(NodeLocate, QualifiersKeepLanguageThenTypeFirst) {
  XMP_Node* format = dc_->children[1].get();
  ASSERT_NE(Walk(kXMP_NS_DC, "dc:format/?dc:note", true), nullptr);
  ASSERT_NE(Walk(kXMP_NS_DC, "dc:format/?xml:lang", true), nullptr);
  ASSERT_NE(Walk(kXMP_NS_DC, "dc:format/?rdf:type", true), nullptr);
  ASSERT_EQ(format->qualifiers.size(), 3u);
  EXPECT_EQ(format->qualifiers[0]->name, "xml:lang");
  EXPECT_EQ(format->qualifiers[1]->name, "rdf:type");
  EXPECT_EQ(format->qualifiers[2]->name, "dc:note");
  EXPECT_EQ(format->options, kXMP_PropHasQualifiers | kXMP_PropHasLang | kXMP_PropHasType);

  XMP_Node* other = Add(dc_, "dc:source", "x", 0);
  ASSERT_NE(Walk(kXMP_NS_DC, "dc:source/?rdf:type", true), nullptr);
  ASSERT_NE(Walk(kXMP_NS_DC, "dc:source/?xml:lang", true), nullptr);
  EXPECT_EQ(other->qualifiers[0]->name, "xml:lang");
  EXPECT_EQ(other->qualifiers[1]->name, "rdf:type");

  RemoveNodeFromParent(format->qualifiers[0].get());
  EXPECT_EQ(format->options, kXMP_PropHasQualifiers | kXMP_PropHasType);
  RemoveNodeFromParent(format->qualifiers[0].get());
  RemoveNodeFromParent(format->qualifiers[0].get());
  EXPECT_EQ(format->options, 0u);
}

TEST_F(NodeLocate, VeryDeepTreesAreCreatedAndDestroyedWithoutRecursion) {
  std::string path = "dc:deep";
  for (int i = 0; i < 100000; ++i) path += "/dc:d";
  XMP_Node* leaf = Walk(kXMP_NS_DC, path.c_str(), true);
  ASSERT_NE(leaf, nullptr);
  root_.children.clear();  // would exhaust the stack if destruction recursed
  EXPECT_TRUE(root_.children.empty());
}

TEST(XmpNodeHelpers, CanonicalizeLangTag) {
  const std::pair<const char*, const char*> cases[] = {
      {"EN-us", "en-US"},     {"DE-ch-1996", "de-CH-1996"}, {"x-default", "x-default"}, {"EN", "en"},
      {"en-LATN", "en-latn"}, {"ZH-Hant-TW", "zh-hant-tw"}, {"", ""},                   {"i-KLINGON", "i-klingon"},
  };
  for (const auto& [in, out] : cases) {
    std::string tag = in;
    CanonicalizeLangTag(&tag);
    EXPECT_EQ(tag, out) << in;
  }
}

TEST(XmpNodeHelpers, CheckOptions) {
  struct Case {
    XMP_OptionBits in;
    bool hasValue;
    XMP_OptionBits out;
    const char* error;
  } cases[] = {
      {0, true, 0, nullptr},
      {kXMP_PropArrayIsAltText, false, 0x1E00, nullptr},
      {kXMP_PropArrayIsAlternate, false, 0xE00, nullptr},
      {kXMP_PropArrayIsOrdered, false, 0x600, nullptr},
      {kXMP_PropValueIsURI | kXMP_DeleteExisting, true, 0x20000002, nullptr},
      {kXMP_PropHasLang, true, 0, "Unrecognized option flags"},
      {kXMP_SchemaNode, false, 0, "Unrecognized option flags"},
      {kXMP_PropValueIsStruct | kXMP_PropArrayIsOrdered, false, 0, "IsStruct and IsArray options are mutually exclusive"},
      {kXMP_PropValueIsURI | kXMP_PropValueIsStruct, false, 0, "Structs and arrays can't have \"value\" options"},
      {kXMP_PropValueIsArray, true, 0, "Structs and arrays can't have string values"},
  };
  for (const Case& c : cases) {
    try {
      EXPECT_EQ(CheckOptions(c.in, c.hasValue), c.out) << std::hex << c.in;
      EXPECT_EQ(c.error, nullptr);
    } catch (const XMP_Error& error) {
      ASSERT_NE(c.error, nullptr) << error.GetErrMsg();
      EXPECT_EQ(error.GetID(), kXMPErr_BadOptions);
      EXPECT_STREQ(error.GetErrMsg(), c.error);
    }
  }
}

TEST(XmpNodeHelpers, AltTextArraysPutTheDefaultFirst) {
  XMP_Node two(nullptr, "dc:title", kXMP_PropValueIsArray);
  AddQualifier(Add(&two, "[]", "English", 0), "xml:lang", "en");
  AddQualifier(Add(&two, "[]", "Default", 0), "xml:lang", "x-default");
  MarkAltTextArray(&two);
  EXPECT_TRUE(two.options & kXMP_PropArrayIsAltText);
  // With two items the other one takes the default's value.
  EXPECT_EQ(two.children[0]->value, "Default");
  EXPECT_EQ(two.children[1]->value, "Default");
  EXPECT_EQ(two.children[1]->qualifiers[0]->value, "en");

  XMP_Node three(nullptr, "dc:title", kXMP_PropValueIsArray);
  AddQualifier(Add(&three, "[]", "A", 0), "xml:lang", "en");
  AddQualifier(Add(&three, "[]", "B", 0), "xml:lang", "de");
  AddQualifier(Add(&three, "[]", "C", 0), "xml:lang", "x-default");
  PutDefaultLanguageFirst(&three);
  EXPECT_EQ(three.children[0]->value, "C");
  EXPECT_EQ(three.children[1]->value, "B");
  EXPECT_EQ(three.children[2]->value, "A");

  XMP_Node mixed(nullptr, "dc:subject", kXMP_PropValueIsArray);
  AddQualifier(Add(&mixed, "[]", "A", 0), "xml:lang", "en");
  Add(&mixed, "[]", "B", 0);
  MarkAltTextArray(&mixed);
  EXPECT_FALSE(mixed.options & kXMP_PropArrayIsAltText);
}

}  // namespace
