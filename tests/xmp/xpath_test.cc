#include "xmp/xpath.h"

#include <gtest/gtest.h>

#include <string>

#include "xmp/xmp_error.h"
#include "xmp_test_registries.h"

namespace {

// "text(kind)" per step after the schema step, joined by " | "; the root
// step shows its alias bit as "+alias".
std::string Describe(const XMP_ExpandedXPath& path) {
  std::string text;
  for (size_t i = kRootPropStep; i < path.size(); ++i) {
    if (i > kRootPropStep) text += " | ";
    text += path[i].step + "(" + std::to_string(StepKind(path[i])) + ")";
    if (path[i].options & kXMP_StepIsAlias) text += "+alias";
  }
  return text;
}

struct PathCase {
  const char* schema;
  const char* path;
  const char* steps;  // expected Describe() text, or null for an error
  XMP_Int32 id;
  const char* message;
};

using SplitPathTest = XmpRegistries;

TEST_F(SplitPathTest, TableOfPaths) {
  const PathCase cases[] = {
      {kXMP_NS_DC, "dc:title", "dc:title(1)", 0, nullptr},
      {kXMP_NS_DC, "title", "dc:title(1)", 0, nullptr},
      {kXMP_NS_DC, "dc:title[?xml:lang=\"x-default\"]", "dc:title(1) | [?xml:lang=\"x-default\"](5)", 0, nullptr},
      {kXMP_NS_DC, "dc:title[@xml:lang=\"x-default\"]", "dc:title(1) | [?xml:lang=\"x-default\"](5)", 0, nullptr},
      {kXMP_NS_DC, "dc:title[?xml:lang='x-default']", "dc:title(1) | [?xml:lang='x-default'](5)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator[last()]", "dc:creator(1) | [last()](4)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator[]", "dc:creator(1) | [](4)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator[l]", "dc:creator(1) | [l](4)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator[0]", "dc:creator(1) | [0](3)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator[2147483648]", "dc:creator(1) | [2147483648](3)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator/*[2]", "dc:creator(1) | [2](3)", 0, nullptr},
      {kXMP_NS_DC, "dc:creator*[2]", "dc:creator(1) | [2](3)", 0, nullptr},
      {kXMP_NS_DC, "dc:a/dc:b/?xml:lang", "dc:a(1) | dc:b(1) | ?xml:lang(2)", 0, nullptr},
      {kXMP_NS_DC, "dc:a/@xml:lang", "dc:a(1) | ?xml:lang(2)", 0, nullptr},
      {kXMP_NS_DC, "dc:a[dc:b='it''s']/dc:c", "dc:a(1) | [dc:b='it''s'](6) | dc:c(1)", 0, nullptr},
      {kXMP_NS_DC, "dc:a[dc:b=\"]\"]", "dc:a(1) | [dc:b=\"]\"](6)", 0, nullptr},
      {kXMP_NS_DC, "dc:a[?rdf:type='t'][3]", "dc:a(1) | [?rdf:type='t'](5) | [3](3)", 0, nullptr},
      {kXMP_NS_XMP, "Author", "xap:Author(1)+alias", 0, nullptr},
      {kXMP_NS_XMP, "xap:Author[1]", "xap:Author(1)+alias | [1](3)", 0, nullptr},
      {kXMP_NS_DC, "dc:\xC3\xA9t\xC3\xA9", "dc:\xC3\xA9t\xC3\xA9(1)", 0, nullptr},

      {kXMP_NS_DC, "", nullptr, 102, "Empty initial XPath step"},
      {kXMP_NS_DC, "/dc:a", nullptr, 102, "Empty initial XPath step"},
      {kXMP_NS_DC, "[1]", nullptr, 102, "Empty initial XPath step"},
      {"", "dc:a", nullptr, 101, "Schema namespace URI is required"},
      {"", "", nullptr, 102, "Empty initial XPath step"},
      {"http://example.com/unknown/", "a", nullptr, 101, "Unregistered schema namespace URI"},
      {kXMP_NS_DC, "?dc:a", nullptr, 102, "Top level name must not be a qualifier"},
      {kXMP_NS_DC, "@xml:lang", nullptr, 102, "Top level name must not be a qualifier"},
      {kXMP_NS_DC, "zz:a", nullptr, 101, "Unknown schema namespace prefix"},
      {kXMP_NS_DC, "xap:title", nullptr, 101, "Schema namespace URI and prefix mismatch"},
      {kXMP_NS_DC, "dc:1a", nullptr, 102, "Bad XML name"},
      {kXMP_NS_DC, "dc:a:b", nullptr, 102, "Bad XML name"},
      {kXMP_NS_DC, "1dc:a", nullptr, 102, "Bad XML name"},
      {kXMP_NS_DC, "dc:", nullptr, 102, "Empty XML name"},
      {kXMP_NS_DC, "dc:a*", nullptr, 102, "Missing '[' after '*'"},
      {kXMP_NS_DC, "dc:a/*b", nullptr, 102, "Missing '[' after '*'"},
      {kXMP_NS_DC, "dc:creator[1", nullptr, 102, "Missing ']' for integer array index"},
      {kXMP_NS_DC, "dc:creator[1a]", nullptr, 102, "Missing ']' for integer array index"},
      {kXMP_NS_DC, "dc:creator[lost()]", nullptr, 102, "Invalid non-numeric array index"},
      {kXMP_NS_DC, "dc:creator[last()x]", nullptr, 102, "Invalid non-numeric array index"},
      {kXMP_NS_DC, "dc:creator[x", nullptr, 102, "Missing ']' or '=' for array index"},
      {kXMP_NS_DC, "dc:a[dc:b=x]", nullptr, 102, "Invalid quote in array selector"},
      {kXMP_NS_DC, "dc:a[dc:b=", nullptr, 102, "Invalid quote in array selector"},
      {kXMP_NS_DC, "dc:a[dc:b='x]", nullptr, 102, "No terminating quote for array selector"},
      {kXMP_NS_DC, "dc:a[dc:b='x''", nullptr, 102, "No terminating quote for array selector"},
      {kXMP_NS_DC, "dc:a[dc:b='x'y]", nullptr, 102, "Missing ']' for array index"},
      {kXMP_NS_DC, "dc:a[dc:b='x'", nullptr, 102, "Missing ']' for array index"},
      {kXMP_NS_DC, "dc:a//dc:b", nullptr, 102, "Empty XPath step"},
      {kXMP_NS_DC, "dc:a/", nullptr, 102, "Empty XPath step"},
      {kXMP_NS_DC, "dc:a/@dc:b", nullptr, 102, "Only xml:lang allowed with '@'"},
      {kXMP_NS_DC, "dc:a/@xml:langx", nullptr, 102, "Only xml:lang allowed with '@'"},
      {kXMP_NS_DC, "dc:a[@dc:b='x']", nullptr, 102, "Only xml:lang allowed with '@'"},
      {kXMP_NS_DC, "dc:a/b", nullptr, 102, "Ill-formed qualified name"},
      {kXMP_NS_DC, "dc:a/:b", nullptr, 102, "Ill-formed qualified name"},
      {kXMP_NS_DC, "dc:a/?", nullptr, 102, "Empty qualified name"},
      {kXMP_NS_DC, "dc:a[='x']", nullptr, 102, "Empty qualified name"},
      {kXMP_NS_DC, "dc:a/zz:b", nullptr, 102, "Unknown namespace prefix for qualified name"},
      {kXMP_NS_DC, "dc:a[?zz:b='x']", nullptr, 102, "Unknown namespace prefix for qualified name"},
      {kXMP_NS_DC, "dc:a/dc:\xC3", nullptr, 4, "Invalid UTF-8 data byte"},
  };
  for (const PathCase& c : cases) {
    SCOPED_TRACE(c.path);
    XMP_ExpandedXPath path;
    try {
      SplitPath(c.schema, c.path, &path);
      ASSERT_NE(c.steps, nullptr) << "no error; got " << Describe(path);
      EXPECT_EQ(Describe(path), c.steps);
      EXPECT_EQ(path[kSchemaStep], XPathStep(c.schema, kXMP_SchemaNode));
    } catch (const XMP_Error& error) {
      ASSERT_EQ(c.steps, nullptr) << error.GetErrMsg();
      EXPECT_EQ(error.GetID(), c.id);
      EXPECT_STREQ(error.GetErrMsg(), c.message);
    }
  }
}

TEST_F(SplitPathTest, SelectorsSplitIntoNameAndUnquotedValue) {
  struct Case {
    const char* step;
    const char* name;
    const char* value;
  } cases[] = {
      {"[?xml:lang=\"x-default\"]", "xml:lang", "x-default"},
      {"[dc:b='it''s']", "dc:b", "it's"},
      {"[dc:b=\"a\"\"b\"\"\"]", "dc:b", "a\"b\""},
      {"[dc:b='']", "dc:b", ""},
      {"[dc:b='a\"b']", "dc:b", "a\"b"},
  };
  for (const Case& c : cases) {
    std::string name, value;
    SplitSelector(c.step, &name, &value);
    EXPECT_EQ(name, c.name) << c.step;
    EXPECT_EQ(value, c.value) << c.step;
  }
}

// UTF-8 of one code point, written here independently of the toolkit.
std::string Utf8(uint32_t cp) {
  std::string s;
  if (cp < 0x80) {
    s += static_cast<char>(cp);
  } else if (cp < 0x800) {
    s += static_cast<char>(0xC0 | (cp >> 6));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    s += static_cast<char>(0xE0 | (cp >> 12));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    s += static_cast<char>(0xF0 | (cp >> 18));
    s += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    s += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    s += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return s;
}

bool IsGoodName(const std::string& name) {
  try {
    CheckXmlName(name);
    return true;
  } catch (const XMP_Error& error) {
    EXPECT_EQ(error.GetID(), kXMPErr_BadXPath);
    EXPECT_STREQ(error.GetErrMsg(), "Bad XML name");
    return false;
  }
}

TEST(CheckXmlName, CodePointRangeEdges) {
  struct Case {
    uint32_t cp;
    bool start;  // may begin a name
    bool later;  // may follow the first character
  } cases[] = {
      {0xB7, false, true},     {0xBF, false, false},    {0xC0, true, true},      {0xD6, true, true},
      {0xD7, false, false},    {0xD8, true, true},      {0xF6, true, true},      {0xF7, false, false},
      {0xF8, true, true},      {0x2FF, true, true},     {0x300, false, true},    {0x36F, false, true},
      {0x370, true, true},     {0x37D, true, true},     {0x37E, false, false},   {0x37F, true, true},
      {0x1FFF, true, true},    {0x2000, false, false},  {0x200B, false, false},  {0x200C, true, true},
      {0x200D, true, true},    {0x200E, false, false},  {0x203E, false, false},  {0x203F, false, true},
      {0x2040, false, true},   {0x2041, false, false},  {0x206F, false, false},  {0x2070, true, true},
      {0x218F, true, true},    {0x2190, false, false},  {0x2BFF, false, false},  {0x2C00, true, true},
      {0x2FEF, true, true},    {0x2FF0, false, false},  {0x3000, false, false},  {0x3001, true, true},
      {0xD7FF, true, true},    {0xE000, false, false},  {0xF8FF, false, false},  {0xF900, true, true},
      {0xFDCF, true, true},    {0xFDD0, false, false},  {0xFDEF, false, false},  {0xFDF0, true, true},
      {0xFFFD, true, true},    {0xFFFE, false, false},  {0xFFFF, false, false},  {0x10000, true, true},
      {0xEFFFF, true, true},   {0xF0000, false, false}, {0x10FFFF, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cp);
    EXPECT_EQ(IsGoodName(Utf8(c.cp) + "a"), c.start);
    EXPECT_EQ(IsGoodName("a" + Utf8(c.cp)), c.later);
  }
}

TEST(CheckXmlName, AsciiNamesAndMalformedUtf8) {
  for (const char* good : {"a", "_", "A-1.b_", "xml", "Z9"}) EXPECT_TRUE(IsGoodName(good)) << good;
  for (const char* bad : {"-a", "1a", ".a", "a:b", "a b", "a/b", "a\x7F"}) EXPECT_FALSE(IsGoodName(bad)) << bad;
  struct Case {
    std::string name;
    XMP_Int32 id;
    const char* message;
  } errors[] = {
      {"", 102, "Empty XML name"},
      {"a\xC3", 4, "Invalid UTF-8 data byte"},          // cut off at the end: never a zero step
      {"\xE2\x82", 4, "Invalid UTF-8 data byte"},
      {"a\xF0\x90\x80", 4, "Invalid UTF-8 data byte"},
      {"a\xC3\x28", 4, "Invalid UTF-8 data byte"},
      {"\x80", 4, "Invalid UTF-8 sequence length"},
      {"a\xED\xA0\x80", 4, "Bad UTF-8 - surrogate code point"},
  };
  for (const Case& c : errors) {
    try {
      CheckXmlName(c.name);
      ADD_FAILURE() << "no error";
    } catch (const XMP_Error& error) {
      EXPECT_EQ(error.GetID(), c.id);
      EXPECT_STREQ(error.GetErrMsg(), c.message);
    }
  }
}

}  // namespace
