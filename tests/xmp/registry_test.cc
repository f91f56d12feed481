#include <gtest/gtest.h>

#include <string>

#include "xmp/namespace_registry.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp_test_registries.h"

namespace {

using NamespaceRegistry = XmpRegistries;

struct Defined {
  std::string prefix;
  bool suggestedKept;
};

Defined Define(const char* uri, const char* prefix) {
  XMP_StringPtr registered = nullptr;
  XMP_StringLen length = 0;
  const bool kept = XMPMeta::DefineNamespace(uri, prefix, &registered, &length);
  return {std::string(registered, length), kept};
}

TEST_F(NamespaceRegistry, StandardUrisAsRealPacketsWriteThem) {
  // URIs as they appear in the camera and editor packets of the fixtures
  // and in the published schema lists: a wrong URI would put every such
  // property under a generated prefix.
  const struct {
    const char* uri;
    const char* prefix;
  } cases[] = {
      {"http://www.w3.org/XML/1998/namespace", "xml:"},
      {"http://www.w3.org/1999/02/22-rdf-syntax-ns#", "rdf:"},
      {"http://purl.org/dc/elements/1.1/", "dc:"},
      {"http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/", "Iptc4xmpCore:"},
      {"http://ns.adobe.com/xap/1.0/", "xap:"},
      {"http://ns.adobe.com/xap/1.0/mm/", "xapMM:"},
      {"http://ns.adobe.com/xap/1.0/rights/", "xapRights:"},
      {"http://ns.adobe.com/xap/1.0/sType/ResourceEvent#", "stEvt:"},
      {"http://ns.adobe.com/xap/1.0/sType/ResourceRef#", "stRef:"},
      {"http://ns.adobe.com/photoshop/1.0/", "photoshop:"},
      {"http://ns.adobe.com/camera-raw-settings/1.0/", "crs:"},
      {"http://ns.adobe.com/exif/1.0/", "exif:"},
      {"http://ns.adobe.com/exif/1.0/aux/", "aux:"},
      {"http://ns.adobe.com/tiff/1.0/", "tiff:"},
      {"adobe:ns:meta/", "x:"},
  };
  for (const auto& c : cases) {
    XMP_StringPtr prefix = nullptr;
    XMP_StringLen length = 0;
    ASSERT_TRUE(XMPMeta::LookupNamespacePrefix(c.uri, &prefix, &length)) << c.uri;
    EXPECT_EQ(std::string(prefix, length), c.prefix);
  }
  EXPECT_EQ(sURIToPrefixMap->size(), 33u);
  EXPECT_EQ(sNamespacePrefixToURIMap->size(), 33u);
  XMP_StringPtr untouched = "unchanged";
  XMP_StringLen length = 7;
  EXPECT_FALSE(XMPMeta::LookupNamespacePrefix("http://example.com/none/", &untouched, &length));
  EXPECT_STREQ(untouched, "unchanged");
  EXPECT_EQ(length, 7u);
}

TEST_F(NamespaceRegistry, ClashesGetGeneratedPrefixes) {
  EXPECT_EQ(Define("http://example.com/a/", "dc").prefix, "dc_1_:");
  EXPECT_FALSE(Define("http://example.com/b/", "dc").suggestedKept);
  EXPECT_EQ(Define("http://example.com/b/", "dc").prefix, "dc_2_:");
  // A known URI keeps its prefix whatever is suggested.
  EXPECT_EQ(Define(kXMP_NS_DC, "other").prefix, "dc:");
  EXPECT_FALSE(Define(kXMP_NS_DC, "other").suggestedKept);
  EXPECT_TRUE(Define(kXMP_NS_DC, "dc").suggestedKept);
  EXPECT_TRUE(Define(kXMP_NS_DC, "dc:").suggestedKept);
  EXPECT_EQ(*FindURIForPrefix("dc_2_:"), "http://example.com/b/");
}

TEST_F(NamespaceRegistry, GeneratedPrefixIsTheFirstFreeOne) {
  EXPECT_EQ(Define("http://example.com/0/", "ns").prefix, "ns:");
  EXPECT_EQ(Define("http://example.com/1/", "ns").prefix, "ns_1_:");
  // Taken by name, so the generator must step over it.
  EXPECT_EQ(Define("http://example.com/x/", "ns_2_").prefix, "ns_2_:");
  EXPECT_EQ(Define("http://example.com/2/", "ns").prefix, "ns_3_:");
  EXPECT_EQ(Define("http://example.com/y/", "ns_4_:").prefix, "ns_4_:");
  EXPECT_EQ(Define("http://example.com/3/", "ns").prefix, "ns_5_:");
}

TEST_F(NamespaceRegistry, ManyClashesOnOnePrefix) {
  // Each generated prefix costs one look-up, so this stays quick.
  std::string last;
  for (int i = 0; i < 20000; ++i) {
    last = Define(("http://example.com/many/" + std::to_string(i)).c_str(), "ns").prefix;
  }
  EXPECT_EQ(last, "ns_19999_:");
  EXPECT_EQ(sURIToPrefixMap->size(), sNamespacePrefixToURIMap->size());
}

TEST_F(NamespaceRegistry, BadArgumentsChangeNothing) {
  struct Case {
    const char* uri;
    const char* prefix;
    XMP_Int32 id;
    const char* message;
  } cases[] = {
      {"http://example.com/a/", "", 4, "Empty namespace URI or prefix"},
      {"http://example.com/a/", nullptr, 4, "Empty namespace URI or prefix"},
      {"", "a", 4, "Empty namespace URI or prefix"},
      {nullptr, "a", 4, "Empty namespace URI or prefix"},
      {"http://example.com/a/", "1a", 102, "Bad XML name"},
      {"http://example.com/a/", "a:b", 102, "Bad XML name"},
      {"http://example.com/a/", ":", 102, "Empty XML name"},
      {"http://example.com/a/", "a\xC3", 4, "Invalid UTF-8 data byte"},
  };
  for (const Case& c : cases) {
    try {
      Define(c.uri, c.prefix);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), c.id);
      EXPECT_STREQ(error.GetErrMsg(), c.message);
    }
  }
  EXPECT_EQ(sURIToPrefixMap->size(), 33u);
}

// "schema-step-text | root-text(options hex) | item-text(kind)" of an alias.
std::string Actual(const char* alias) {
  const auto found = sAliasMap->find(alias);
  if (found == sAliasMap->end()) return "(none)";
  const XMP_ExpandedXPath& path = found->second;
  char options[16];
  snprintf(options, sizeof options, "%X", path[kRootPropStep].options);
  std::string text = path[kSchemaStep].step + " | " + path[kRootPropStep].step + "(" + options + ")";
  if (path.size() == 3) text += " | " + path[2].step + "(" + std::to_string(StepKind(path[2])) + ")";
  return text;
}

TEST_F(NamespaceRegistry, StandardAliasesPointAtTheirActuals) {
  EXPECT_EQ(sAliasMap->size(), 34u);
  EXPECT_EQ(Actual("xap:Author"), std::string(kXMP_NS_DC) + " | dc:creator(601) | [1](3)");
  EXPECT_EQ(Actual("xap:Authors"), std::string(kXMP_NS_DC) + " | dc:creator(1)");
  EXPECT_EQ(Actual("pdf:Title"), std::string(kXMP_NS_DC) + " | dc:title(1E01) | [?xml:lang=\"x-default\"](5)");
  EXPECT_EQ(Actual("xapRights:Copyright"), std::string(kXMP_NS_DC) + " | dc:rights(1)");
  EXPECT_EQ(Actual("photoshop:Marked"), std::string(kXMP_NS_XMP_Rights) + " | xapRights:Marked(1)");
  EXPECT_EQ(Actual("tiff:DateTime"), std::string(kXMP_NS_XMP) + " | xap:ModifyDate(1)");
  EXPECT_EQ(Actual("png:Copyright"), std::string(kXMP_NS_DC) + " | dc:rights(1E01) | [?xml:lang=\"x-default\"](5)");

  // The same definition again changes nothing; a different one is refused.
  EXPECT_NO_THROW(XMPMeta::DefineAlias(kXMP_NS_XMP, "Author", kXMP_NS_DC, "creator", kXMP_PropArrayIsOrdered));
  struct Case {
    const char* actualNS;
    const char* actual;
    XMP_OptionBits form;
    const char* message;
  } mismatches[] = {
      {kXMP_NS_DC, "creator", 0, "Mismatch with existing alias array form"},
      {kXMP_NS_DC, "creator", kXMP_PropArrayIsAltText, "Mismatch with existing alias array form"},
      {kXMP_NS_DC, "contributor", kXMP_PropArrayIsOrdered, "Mismatch with existing actual name"},
  };
  for (const Case& c : mismatches) {
    try {
      XMPMeta::DefineAlias(kXMP_NS_XMP, "Author", c.actualNS, c.actual, c.form);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), kXMPErr_BadParam);
      EXPECT_STREQ(error.GetErrMsg(), c.message);
    }
  }
  EXPECT_EQ(Actual("xap:Author"), std::string(kXMP_NS_DC) + " | dc:creator(601) | [1](3)");
}

class AliasGroups : public XmpRegistries {
  bool WithStandardAliases() const override { return false; }
};

TEST_F(AliasGroups, EachSchemaRegistersItsGroup) {
  const struct {
    const char* uri;
    size_t count;
    const char* sample;
  } cases[] = {
      {kXMP_NS_EXIF, 5, "tiff:Artist"}, {kXMP_NS_TIFF, 5, "tiff:Software"}, {kXMP_NS_XMP, 8, "xapRights:Copyright"},
      {kXMP_NS_PDF, 7, "pdf:BaseURL"},  {kXMP_NS_PNG, 7, "png:Title"},      {kXMP_NS_Photoshop, 7, "photoshop:Caption"},
      {kXMP_NS_DC, 0, nullptr},         {"http://example.com/", 0, nullptr},
  };
  for (const auto& c : cases) {
    sAliasMap->clear();
    XMPMeta::DefineStandardAliases(c.uri);
    EXPECT_EQ(sAliasMap->size(), c.count) << c.uri;
    if (c.sample != nullptr) {
      EXPECT_NE(Actual(c.sample), "(none)") << c.sample;
    }
  }
}

constexpr char kTestNS[] = "http://example.com/t/";

class AliasChains : public XmpRegistries {
 protected:
  void SetUp() override {
    XmpRegistries::SetUp();
    Define(kTestNS, "t");
  }
  bool WithStandardAliases() const override { return false; }

  static void Alias(const char* alias, const char* actual, XMP_OptionBits form) {
    XMPMeta::DefineAlias(kTestNS, alias, kTestNS, actual, form);
  }
  static std::string Of(const char* alias) {
    const std::string text = Actual((std::string("t:") + alias).c_str());
    return text == "(none)" ? text : text.substr(sizeof kTestNS + 2);
  }
  static std::string Refusal(const char* alias, const char* actual, XMP_OptionBits form) {
    try {
      Alias(alias, actual, form);
      return "(accepted)";
    } catch (const XMP_Error& error) {
      return std::to_string(error.GetID()) + " " + error.GetErrMsg();
    }
  }
};

TEST_F(AliasChains, AliasOfAnAliasIsCollapsed) {
  Alias("A", "B", 0);
  Alias("C", "A", 0);  // two steps: takes A's whole actual
  EXPECT_EQ(Of("C"), "t:B(1)");
  Alias("D", "A", kXMP_PropArrayIsOrdered);  // item of an alias: B's name, own form and item
  EXPECT_EQ(Of("D"), "t:B(601) | [1](3)");
  Alias("E", "D", 0);  // whole property aliased to an item alias: takes the item path
  EXPECT_EQ(Of("E"), "t:B(601) | [1](3)");
  EXPECT_EQ(Refusal("F", "D", kXMP_PropArrayIsOrdered), "4 Can't alias an array item to an array item");
  EXPECT_EQ(Of("F"), "(none)");
}

TEST_F(AliasChains, NameBecomingAnAliasRedirectsItsFollowers) {
  Alias("A", "X", 0);
  Alias("E", "X", kXMP_PropArrayIsAltText);
  Alias("X", "Y", 0);
  EXPECT_EQ(Of("A"), "t:Y(1)");
  EXPECT_EQ(Of("E"), "t:Y(1E01) | [?xml:lang=\"x-default\"](5)");
  EXPECT_EQ(Of("X"), "t:Y(1)");

  // An item alias of a name that becomes an item alias would be an item of
  // an item: refused, and nothing changes.
  Alias("G", "P", kXMP_PropArrayIsOrdered);
  const size_t before = sAliasMap->size();
  EXPECT_EQ(Refusal("P", "Q", kXMP_PropArrayIsOrdered), "4 Can't alias an array item to an array item");
  EXPECT_EQ(sAliasMap->size(), before);
  EXPECT_EQ(Of("G"), "t:P(601) | [1](3)");
  // A whole-property alias of R follows R to its item.
  Alias("H", "R", 0);
  Alias("R", "Q", kXMP_PropArrayIsOrdered | kXMP_PropArrayIsAlternate);
  EXPECT_EQ(Of("H"), "t:Q(E01) | [1](3)");
}

TEST_F(AliasChains, BadDefinitions) {
  EXPECT_EQ(Refusal("A/t:b", "B", 0), "102 Alias and actual property names must be simple");
  EXPECT_EQ(Refusal("A", "B[1]", 0), "102 Alias and actual property names must be simple");
  EXPECT_EQ(Refusal("A", "B", kXMP_PropValueIsStruct), "103 Only array form flags are allowed");
  EXPECT_EQ(Refusal("A", "B", 0x4000), "103 Unrecognized option flags");
  EXPECT_EQ(Refusal("A", "", 0), "102 Empty initial XPath step");
  EXPECT_TRUE(sAliasMap->empty());
}

}  // namespace
