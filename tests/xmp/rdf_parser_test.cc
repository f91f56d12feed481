// The RDF grammar: packet snippets and the tree (or the error) they give.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "support/xmp_toolkit_fixture.h"

namespace {

using RdfParserTest = XmpToolkitTest;

struct RdfErrorCase {
  const char* rdf;  // node elements below rdf:RDF
  const char* expected;
};

TEST_F(RdfParserTest, GrammarErrors) {
  const RdfErrorCase cases[] = {
      {"<rdf:li/>", "error 202 Node element must be rdf:Description or typedNode"},
      {"<rdf:Bag/>", "error 203 Top level typedNode not allowed"},
      {"<ex:Thing/>", "error 203 Top level typedNode not allowed"},
      {"<rdf:Description rdf:about='a' rdf:ID='b'/>", "error 202 Mutally exclusive about, ID, nodeID attributes"},
      {"<rdf:Description rdf:nodeID='a' rdf:nodeID='b'/>", "error 201 XML parsing failure"},
      {"<rdf:Description rdf:about='a'/><rdf:Description rdf:about='b'/>",
       "error 203 Mismatched top level rdf:about values"},
      {"<rdf:Description rdf:resource='a'/>", "error 202 Invalid nodeElement attribute"},
      {"<rdf:Description>text</rdf:Description>", "error 202 Expected property element node not found"},
      {"<rdf:Description><rdf:Description/></rdf:Description>", "error 202 Invalid property element name"},
      {"<rdf:Description><rdf:about/></rdf:Description>", "error 202 Invalid property element name"},
      {"<rdf:Description><rdf:bagID/></rdf:Description>", "error 202 Invalid property element name"},
      {"<rdf:Description><ex:p rdf:parseType='Literal'/></rdf:Description>",
       "error 203 ParseTypeLiteral property element not allowed"},
      {"<rdf:Description><ex:p rdf:parseType='Collection'/></rdf:Description>",
       "error 203 ParseTypeCollection property element not allowed"},
      {"<rdf:Description><ex:p rdf:parseType='Other'/></rdf:Description>",
       "error 203 ParseTypeOther property element not allowed"},
      {"<rdf:Description><ex:p rdf:bagID='x'/></rdf:Description>",
       "error 202 Unrecognized attribute of empty property element"},
      {"<rdf:Description><ex:p xml:lang='en' rdf:ID='i'> <?xpacket x?> </ex:p></rdf:Description>",
       "error 202 Children of resource property element must be XML elements"},
      {"<rdf:Description><ex:p><rdf:Bag/>text</ex:p></rdf:Description>",
       "error 202 Invalid child of resource property element"},
      {"<rdf:Description><ex:p><rdf:Bag/><rdf:Bag/></ex:p></rdf:Description>",
       "error 202 Invalid child of resource property element"},
      {"<rdf:Description><ex:p><nons/></ex:p></rdf:Description>", "error 203 All XML elements must be in a namespace"},
      {"<rdf:Description><ex:p rdf:datatype='t' ex:q='1'>v</ex:p></rdf:Description>",
       "error 202 Invalid attribute for literal property element"},
      {"<rdf:Description><ex:p rdf:datatype='t'>v<ex:q/></ex:p></rdf:Description>",
       "error 202 Invalid child of literal property element"},
      {"<rdf:Description><ex:p>v<ex:q/></ex:p></rdf:Description>",
       "error 202 Children of resource property element must be XML elements"},
      {"<rdf:Description><ex:p rdf:parseType='Resource' ex:q='1'/></rdf:Description>",
       "error 202 Invalid attribute for ParseTypeResource property element"},
      {"<rdf:Description><ex:p ex:q='1'>v</ex:p></rdf:Description>",
       "error 202 Nested content not allowed with rdf:resource or property attributes"},
      {"<rdf:Description><ex:p rdf:nodeID='n' rdf:resource='r'/></rdf:Description>",
       "error 202 Empty property element can't have both rdf:resource and rdf:nodeID"},
      {"<rdf:Description><ex:p rdf:resource='r' rdf:nodeID='n'/></rdf:Description>",
       "error 202 Empty property element can't have both rdf:resource and rdf:nodeID"},
      {"<rdf:Description><ex:p rdf:value='v' rdf:resource='r'/></rdf:Description>",
       "error 203 Empty property element can't have both rdf:value and rdf:resource"},
      {"<rdf:Description><ex:p rdf:resource='r' rdf:value='v'/></rdf:Description>",
       "error 203 Empty property element can't have both rdf:value and rdf:resource"},
      {"<rdf:Description><ex:p rdf:about='a'/></rdf:Description>",
       "error 202 Unrecognized attribute of empty property element"},
      {"<rdf:Description><ex:p xml:lang='en' rdf:ID='i' ex:a='1' rdf:about='x'/></rdf:Description>",
       "error 202 Unrecognized attribute of empty property element"},
      {"<rdf:Description plain='1'/>", "error 202 XML namespace required for all elements and attributes"},
      {"<rdf:Description><ex:p plain='1'/></rdf:Description>",
       "error 202 XML namespace required for all elements and attributes"},
      {"<rdf:Description ex:p='1'><ex:p>2</ex:p></rdf:Description>", "error 203 Duplicate property or field node"},
      {"<rdf:Description><ex:s ex:f='1'><ex:f>2</ex:f></ex:s></rdf:Description>",
       "error 202 Nested content not allowed with rdf:resource or property attributes"},
      {"<rdf:Description><ex:s rdf:parseType='Resource'><ex:f>1</ex:f><ex:f>2</ex:f></ex:s></rdf:Description>",
       "error 203 Duplicate property or field node"},
      {"<rdf:Description><rdf:value>v</rdf:value></rdf:Description>", "error 202 Misplaced rdf:value element"},
      {"<rdf:Description><ex:p><rdf:Bag><rdf:value>v</rdf:value></rdf:Bag></ex:p></rdf:Description>",
       "error 202 Misplaced rdf:value element"},
      {"<rdf:Description><ex:p><rdf:Description><rdf:li>v</rdf:li></rdf:Description></ex:p></rdf:Description>",
       "error 202 Misplaced rdf:li element"},
      {"<rdf:Description><ex:p><rdf:Bag><ex:f>v</ex:f></rdf:Bag></ex:p></rdf:Description>",
       "error 102 Named children only allowed for schemas and structs"},
      {"<rdf:Description><ex:p xml:lang='en' rdf:parseType='Resource'><rdf:value xml:lang='de'>v</rdf:value>"
       "</ex:p></rdf:Description>",
       "error 203 Redundant xml:lang for rdf:value element"},
      {"<rdf:Description><ex:p rdf:parseType='Resource'><rdf:value xml:lang='de'>v</rdf:value>"
       "<xml:lang>fr</xml:lang></ex:p></rdf:Description>",
       "error 203 Redundant xml:lang for rdf:value element"},
      {"<rdf:Description><ex:p xml:lang='en' rdf:parseType='Resource'><rdf:value>v</rdf:value>"
       "<xml:lang>fr</xml:lang></ex:p></rdf:Description>",
       "error 203 Redundant xml:lang for rdf:value element"},
  };
  for (const RdfErrorCase& c : cases) EXPECT_EQ(ParseToDump(XmpPacket(c.rdf)), c.expected) << c.rdf;
}

// Spellings that RDF allows for one tree.
struct SameTreeCase {
  const char* label;
  const char* a;
  const char* b;
};

TEST_F(RdfParserTest, EquivalentSpellingsGiveOneTree) {
  const SameTreeCase cases[] = {
      {"struct: description with attributes / parseType Resource",
       "<rdf:Description><ex:s><rdf:Description ex:f='1' ex:g='2'/></ex:s></rdf:Description>",
       "<rdf:Description><ex:s rdf:parseType='Resource'><ex:f>1</ex:f><ex:g>2</ex:g></ex:s></rdf:Description>"},
      {"struct: parseType Resource / empty element with attributes",
       "<rdf:Description><ex:s rdf:parseType='Resource'><ex:f>1</ex:f><ex:g>2</ex:g></ex:s></rdf:Description>",
       "<rdf:Description><ex:s ex:f='1' ex:g='2'/></rdf:Description>"},
      {"top-level descriptions with one about merge",
       "<rdf:Description rdf:about='u'><ex:a>1</ex:a></rdf:Description>"
       "<rdf:Description rdf:about='u' ex:b='2'/>",
       "<rdf:Description rdf:about='u' ex:a='1' ex:b='2'/>"},
      {"one description without about",
       "<rdf:Description rdf:about='u' ex:a='1'/><rdf:Description ex:b='2'/>",
       "<rdf:Description rdf:about='u' ex:a='1' ex:b='2'/>"},
      {"unqualified about",
       "<rdf:Description about='u' ex:a='1'/>",
       "<rdf:Description rdf:about='u' ex:a='1'/>"},
      {"rdf:value with fields / value with qualifiers",
       "<rdf:Description><ex:p rdf:parseType='Resource'><rdf:value>v</rdf:value><xml:lang>fr</xml:lang>"
       "<ot:q>1</ot:q></ex:p></rdf:Description>",
       "<rdf:Description><ex:p rdf:value='v' xml:lang='fr' ot:q='1'/></rdf:Description>"},
      {"rdf:value of an array keeps the array",
       "<rdf:Description><ex:p><rdf:Description><rdf:value><rdf:Bag><rdf:li>x</rdf:li></rdf:Bag></rdf:value>"
       "<ot:q>1</ot:q></rdf:Description></ex:p></rdf:Description>",
       "<rdf:Description><ex:p rdf:parseType='Resource'><rdf:value><rdf:Bag><rdf:li>x</rdf:li></rdf:Bag>"
       "</rdf:value><ot:q>1</ot:q></ex:p></rdf:Description>"},
      {"iX:changes at top level is dropped",
       "<rdf:Description ex:a='1'><iX:changes><rdf:Bag><rdf:li>x</rdf:li></rdf:Bag></iX:changes>"
       "</rdf:Description>",
       "<rdf:Description ex:a='1'/>"},
      {"IDs and datatypes are ignored",
       "<rdf:Description rdf:ID='d'><ex:a rdf:ID='i' rdf:datatype='t'>1</ex:a>"
       "<ex:b rdf:ID='j'><rdf:Bag/></ex:b></rdf:Description>",
       "<rdf:Description><ex:a>1</ex:a><ex:b><rdf:Bag/></ex:b></rdf:Description>"},
      {"whitespace between elements",
       "<rdf:Description>\n <ex:b>\n  <rdf:Seq>\n   <rdf:li>1</rdf:li>\n  </rdf:Seq>\n </ex:b>\n</rdf:Description>\n",
       "<rdf:Description><ex:b><rdf:Seq><rdf:li>1</rdf:li></rdf:Seq></ex:b></rdf:Description>"},
  };
  for (const SameTreeCase& c : cases) {
    const std::string a = ParseToDump(XmpPacket(c.a));
    EXPECT_EQ(a.find("error"), std::string::npos) << c.label << ": " << a;
    EXPECT_EQ(a, ParseToDump(XmpPacket(c.b))) << c.label;
  }
}

struct RdfTreeCase {
  const char* label;
  const char* rdf;  // node elements below rdf:RDF
  const char* expected;
};

TEST_F(RdfParserTest, SnippetsAndTheirTrees) {
  const RdfTreeCase cases[] = {
      {"alt-text array with its x-default item put first",
       "<rdf:Description><ex:t><rdf:Alt><rdf:li xml:lang='de'>D</rdf:li><rdf:li xml:lang='en-us'>E</rdf:li>"
       "<rdf:li xml:lang='x-default'>X</rdf:li></rdf:Alt></ex:t></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:t\" {0x00001E00}\n"
       "      \"[]\" = \"X\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n"
       "      \"[]\" = \"E\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"en-US\" {0x00000020}\n"
       "      \"[]\" = \"D\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"de\" {0x00000020}\n"},
      {"two-item alt-text array: the other item takes the x-default value",
       "<rdf:Description><ex:t><rdf:Alt><rdf:li xml:lang='de'>D</rdf:li>"
       "<rdf:li xml:lang='x-default'>X</rdf:li></rdf:Alt></ex:t></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:t\" {0x00001E00}\n"
       "      \"[]\" = \"X\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"x-default\" {0x00000020}\n"
       "      \"[]\" = \"X\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"de\" {0x00000020}\n"},
      {"an item without a language keeps a plain alternative array",
       "<rdf:Description><ex:t><rdf:Alt><rdf:li xml:lang='de'>D</rdf:li><rdf:li>X</rdf:li></rdf:Alt></ex:t>"
       "</rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:t\" {0x00000E00}\n"
       "      \"[]\" = \"D\" {0x00000050}\n"
       "        ? \"xml:lang\" = \"de\" {0x00000020}\n"
       "      \"[]\" = \"X\" {0x00000000}\n"},
      {"typed node gives a struct with rdf:type",
       "<rdf:Description><ex:s><ot:Thing ot:f='1'/></ex:s></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:s\" {0x00000190}\n"
       "      ? \"rdf:type\" = \"http://example.com/other/:Thing\" {0x00000020}\n"
       "      \"ot:f\" = \"1\" {0x00000000}\n"},
      {"typed node with a language on its property",
       "<rdf:Description><ex:s xml:lang='fr'><ot:Thing><ot:f>1</ot:f></ot:Thing></ex:s></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:s\" {0x000001D0}\n"
       "      ? \"xml:lang\" = \"fr\" {0x00000020}\n"
       "      ? \"rdf:type\" = \"http://example.com/other/:Thing\" {0x00000020}\n"
       "      \"ot:f\" = \"1\" {0x00000000}\n"},
      {"empty element with rdf:resource and a qualifier",
       "<rdf:Description><ex:r rdf:resource='http://x/' ot:q='1'/></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:r\" = \"http://x/\" {0x00000012}\n"
       "      ? \"ot:q\" = \"1\" {0x00000020}\n"},
      {"empty element with rdf:value and a language",
       "<rdf:Description><ex:v rdf:value='v' xml:lang='EN-gb'/></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:v\" = \"v\" {0x00000050}\n"
       "      ? \"xml:lang\" = \"en-GB\" {0x00000020}\n"},
      {"rdf:value with an xml:lang field",
       "<rdf:Description><ex:v rdf:parseType='Resource'><ot:q>1</ot:q><rdf:value>v</rdf:value>"
       "<xml:lang>de</xml:lang></ex:v></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:v\" = \"v\" {0x00000050}\n"
       "      ? \"xml:lang\" = \"de\" {0x00000020}\n"
       "      ? \"ot:q\" = \"1\" {0x00000020}\n"},
      {"iX:changes inside a struct is read",
       "<rdf:Description><ex:s rdf:parseType='Resource'><iX:changes>c</iX:changes></ex:s></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:s\" {0x00000100}\n"
       "      \"iX:changes\" = \"c\" {0x00000000}\n"},
      {"nested arrays and an empty element",
       "<rdf:Description><ex:b><rdf:Bag><rdf:li><rdf:Seq><rdf:li>1</rdf:li></rdf:Seq></rdf:li><rdf:li/>"
       "</rdf:Bag></ex:b></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:b\" {0x00000200}\n"
       "      \"[]\" {0x00000600}\n"
       "        \"[]\" = \"1\" {0x00000000}\n"
       "      \"[]\" {0x00000000}\n"},
      {"literal text in pieces", "<rdf:Description><ex:l>a<!-- c -->b<![CDATA[<c>]]>d</ex:l></rdf:Description>",
       "\"\" {0x00000000}\n"
       "  \"http://example.com/ex/\" = \"ex:\" {0x80000000}\n"
       "    \"ex:l\" = \"ab<c>d\" {0x00000000}\n"},
  };
  for (const RdfTreeCase& c : cases) {
    std::string dump = ParseToDump(XmpPacket(c.rdf));
    EXPECT_EQ(dump, c.expected) << c.label;
  }
}

// 100,000 properties in one schema are read in linear time.
TEST_F(RdfParserTest, ManyPropertiesInOneSchema) {
  std::string body;
  for (int i = 0; i < 100000; ++i) body += "<ex:p" + std::to_string(i) + ">v</ex:p" + std::to_string(i) + ">";
  const auto start = std::chrono::steady_clock::now();
  std::string dump = ParseToDump(XmpDescription(body));
  EXPECT_EQ(dump.find("error"), std::string::npos);
  EXPECT_NE(dump.find("ex:p99999"), std::string::npos);
  // Generous: quadratic look-ups take minutes here.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(60));
  body += "<ex:p500>again</ex:p500>";
  EXPECT_EQ(ParseToDump(XmpDescription(body)), "error 203 Duplicate property or field node");
}

}  // namespace
