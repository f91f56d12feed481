// Packet serialisation: golden bytes of small trees, option checks, the
// padding rules, and parse-serialise-parse round trips in every form.
#include <gtest/gtest.h>

#include <string>

#include "support/xmp_toolkit_fixture.h"
#include "support/xmp_tree_dump.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_serialize.h"
#include "xmp/namespace_registry.h"

namespace {

using SerializeTest = XmpToolkitTest;

struct SerializeArgs {
  XMP_OptionBits options = 0;
  XMP_StringLen padding = 0;
  const char* newline = "";
  const char* indent = " ";
  XMP_Index baseIndent = 0;
};

std::string Serialize(XMPMeta* meta, const SerializeArgs& args) {
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  try {
    meta->SerializeToBuffer(&text, &length, args.options, args.padding, args.newline, args.indent, args.baseIndent);
  } catch (const XMP_Error& error) {
    return "error " + std::to_string(error.GetID()) + " " + error.GetErrMsg();
  }
  return std::string(text, length);
}

void Parse(XMPMeta* meta, const std::string& packet, XMP_OptionBits options = 0) {
  meta->ParseFromBuffer(packet.data(), static_cast<XMP_StringLen>(packet.size()), options);
}

std::string Header() { return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"; }

std::string Opening(const char* indent = " ") {
  return std::string("<x:xmpmeta xmlns:x=\"") + kXMP_NS_XMPMeta + "\" x:xmptk=\"XMP Core 3.5\">\n" + indent +
         "<rdf:RDF xmlns:rdf=\"" + kXMP_NS_RDF + "\">\n";
}

std::string Closing(const char* indent = " ") { return std::string(indent) + "</rdf:RDF>\n</x:xmpmeta>\n"; }

std::string Padding2048() {
  std::string pad;
  for (int i = 0; i < 20; ++i) pad += std::string(100, ' ') + "\n";
  return pad + std::string(27, ' ') + "\n";
}

TEST_F(SerializeTest, EmptyTreeGoldenBytes) {
  XMPMeta meta;
  EXPECT_EQ(Serialize(&meta, {}), Header() + Opening() + "  <rdf:Description rdf:about=\"\"/>\n" + Closing() +
                                      Padding2048() + "<?xpacket end=\"w\"?>");
  SerializeArgs readOnly;
  readOnly.options = kXMP_ReadOnlyPacket;
  EXPECT_EQ(Serialize(&meta, readOnly),
            Header() + Opening() + "  <rdf:Description rdf:about=\"\"/>\n" + Closing() + "<?xpacket end=\"r\"?>");
  SerializeArgs bare;
  bare.options = kXMP_OmitPacketWrapper | kXMP_UseCompactFormat;
  bare.newline = "\r\n";
  bare.indent = "";
  bare.baseIndent = 1;
  EXPECT_EQ(Serialize(&meta, bare), std::string(" <x:xmpmeta xmlns:x=\"") + kXMP_NS_XMPMeta +
                                        "\" x:xmptk=\"XMP Core 3.5\">\r\n  <rdf:RDF xmlns:rdf=\"" + kXMP_NS_RDF +
                                        "\">\r\n   <rdf:Description rdf:about=\"\"/>\r\n  </rdf:RDF>\r\n </x:xmpmeta>\r\n");
  SerializeArgs defaultIndent;
  defaultIndent.indent = nullptr;
  defaultIndent.options = kXMP_OmitPacketWrapper;
  EXPECT_EQ(Serialize(&meta, defaultIndent), Opening("   ") + "      <rdf:Description rdf:about=\"\"/>\n" +
                                                 Closing("   "));
  defaultIndent.options |= kXMP_UseTwoSpaceIndent;
  EXPECT_EQ(Serialize(&meta, defaultIndent), Opening("  ") + "    <rdf:Description rdf:about=\"\"/>\n" +
                                                 Closing("  "));
}

TEST_F(SerializeTest, PrettyFormGoldenBytes) {
  XMPMeta meta;
  Parse(&meta, XmpDescription("<ex:a>a&lt;b\t\x01&amp;#x41;\"q\"</ex:a>"
                              "<ex:u rdf:resource='http://x/?a=1&amp;b=\"2\"'/>"
                              "<ex:lang xml:lang='en'>hi</ex:lang>"
                              "<ex:qual rdf:value='v' xml:lang='en' ot:q='1'/>"
                              "<ex:bag><rdf:Bag/></ex:bag>"
                              "<ex:seq><rdf:Seq><rdf:li>1</rdf:li><rdf:li/></rdf:Seq></ex:seq>"
                              "<ex:s rdf:parseType='Resource'><ot:f>x</ot:f></ex:s>"
                              "<ex:e rdf:parseType='Resource'/>"));
  const std::string expected = Opening() +
      "  <rdf:Description rdf:about=\"\"\n"
      "    xmlns:ex=\"http://example.com/ex/\"\n"
      "    xmlns:ot=\"http://example.com/other/\">\n"
      "   <ex:a>a&lt;b&#x9;&amp;#x01;A\"q\"</ex:a>\n"
      "   <ex:u rdf:resource=\"http://x/?a=1&amp;b=&quot;2&quot;\"/>\n"
      "   <ex:lang xml:lang=\"en\">hi</ex:lang>\n"
      "   <ex:qual xml:lang=\"en\" rdf:parseType=\"Resource\">\n"
      "    <rdf:value>v</rdf:value>\n"
      "    <ot:q>1</ot:q>\n"
      "   </ex:qual>\n"
      "   <ex:bag>\n"
      "    <rdf:Bag/>\n"
      "   </ex:bag>\n"
      "   <ex:seq>\n"
      "    <rdf:Seq>\n"
      "     <rdf:li>1</rdf:li>\n"
      "     <rdf:li/>\n"
      "    </rdf:Seq>\n"
      "   </ex:seq>\n"
      "   <ex:s rdf:parseType=\"Resource\">\n"
      "    <ot:f>x</ot:f>\n"
      "   </ex:s>\n"
      "   <ex:e rdf:parseType=\"Resource\"/>\n"
      "  </rdf:Description>\n" +
      Closing();
  SerializeArgs args;
  args.options = kXMP_OmitPacketWrapper;
  EXPECT_EQ(Serialize(&meta, args), expected);
}

TEST_F(SerializeTest, ValueEscapes) {
  struct Case {
    const char* value;
    const char* element;
    const char* attribute;
  } cases[] = {
      {"a\tb", "a&#x9;b", "a&#x9;b"},
      {"\x01", "&amp;#x01;", "&amp;#x01;"},
      {"a&#x41;", "a&amp;#x26;#x41;", "a&amp;#x26;#x41;"},
      // Five bytes from the "&" already make a text the reader turns into a
      // character; four or fewer never do.
      {"&#xA;", "&amp;#x26;#xA;", "&amp;#x26;#xA;"},
      {"a&#x1;", "a&amp;#x26;#x1;", "a&amp;#x26;#x1;"},
      {"&#x41", "&amp;#x26;#x41", "&amp;#x26;#x41"},
      {"&#xA", "&amp;#xA", "&amp;#xA"},
      {"a&#x", "a&amp;#x", "a&amp;#x"},
      {"R&D", "R&amp;D", "R&amp;D"},
      {"\"<>\r\n", "\"&lt;&gt;&#xD;&#xA;", "&quot;&lt;&gt;&#xD;&#xA;"},
  };
  XMP_StringPtr prefix = nullptr;
  XMP_StringLen length = 0;
  XMPMeta::DefineNamespace("http://example.com/ex/", "ex", &prefix, &length);
  for (const Case& c : cases) {
    XMPMeta meta;
    meta.SetProperty("http://example.com/ex/", "ex:v", c.value, 0);
    SerializeArgs pretty;
    pretty.options = kXMP_OmitPacketWrapper;
    SerializeArgs compact;
    compact.options = kXMP_OmitPacketWrapper | kXMP_UseCompactFormat;
    const std::string prettyText = Serialize(&meta, pretty);
    const std::string compactText = Serialize(&meta, compact);
    EXPECT_NE(prettyText.find(std::string("<ex:v>") + c.element + "</ex:v>"), std::string::npos) << c.value;
    EXPECT_NE(compactText.find(std::string("ex:v=\"") + c.attribute + "\""), std::string::npos) << c.value;
    for (const std::string& text : {prettyText, compactText}) {
      XMPMeta again;
      Parse(&again, text);
      XMP_StringPtr value = nullptr;
      XMP_StringLen valueLength = 0;
      XMP_OptionBits options = 0;
      ASSERT_TRUE(again.GetProperty("http://example.com/ex/", "ex:v", &value, &valueLength, &options)) << text;
      EXPECT_EQ(std::string(value, valueLength), c.value) << text;
    }
  }
}

TEST_F(SerializeTest, CompactFormGoldenBytes) {
  XMPMeta simple;
  Parse(&simple, XmpDescription("<ex:a>1</ex:a><ex:b>2</ex:b>"));
  SerializeArgs args;
  args.options = kXMP_OmitPacketWrapper | kXMP_UseCompactFormat;
  EXPECT_EQ(Serialize(&simple, args), Opening() +
                                          "  <rdf:Description rdf:about=\"\"\n"
                                          "    xmlns:ex=\"http://example.com/ex/\"\n"
                                          "   ex:a=\"1\"\n"
                                          "   ex:b=\"2\"/>\n" +
                                          Closing());

  XMPMeta mixed;
  Parse(&mixed, XmpDescription("<ex:a>1</ex:a>"
                               "<ex:lang xml:lang='en'>hi</ex:lang>"
                               "<ex:gen rdf:value='v' ot:q='1' ot:r='2'/>"
                               "<ex:langgen rdf:value='w' xml:lang='de' ot:q='3'/>"
                               "<ex:s rdf:parseType='Resource'><ot:f>x</ot:f><ot:g><rdf:Bag/></ot:g></ex:s>"
                               "<ex:t rdf:parseType='Resource'><ot:g><rdf:Bag/></ot:g></ex:t>"
                               "<ex:u ot:f='x'/>"));
  EXPECT_EQ(Serialize(&mixed, args), Opening() +
                                         "  <rdf:Description rdf:about=\"\"\n"
                                         "    xmlns:ex=\"http://example.com/ex/\"\n"
                                         "    xmlns:ot=\"http://example.com/other/\"\n"
                                         "   ex:a=\"1\">\n"
                                         "   <ex:lang xml:lang=\"en\">hi</ex:lang>\n"
                                         "   <ex:gen rdf:parseType=\"Resource\">\n"
                                         "    <rdf:value>v</rdf:value>\n"
                                         "    <ot:q>1</ot:q>\n"
                                         "    <ot:r>2</ot:r>\n"
                                         "   </ex:gen>\n"
                                         "   <ex:langgen xml:lang=\"de\" rdf:parseType=\"Resource\">\n"
                                         "    <rdf:value>w</rdf:value>\n"
                                         "    <ot:q>3</ot:q>\n"
                                         "   </ex:langgen>\n"
                                         "   <ex:s>\n"
                                         "    <rdf:Description\n"
                                         "     ot:f=\"x\">\n"
                                         "    <ot:g>\n"
                                         "     <rdf:Bag/>\n"
                                         "    </ot:g>\n"
                                         "    </rdf:Description>\n"
                                         "   </ex:s>\n"
                                         "   <ex:t rdf:parseType=\"Resource\">\n"
                                         "    <ot:g>\n"
                                         "     <rdf:Bag/>\n"
                                         "    </ot:g>\n"
                                         "   </ex:t>\n"
                                         "   <ex:u\n"
                                         "    ot:f=\"x\"/>\n"
                                         "  </rdf:Description>\n" +
                                         Closing());
}

// A prefix that ends another declared prefix ("f:" in "rdf:") is still
// declared.
TEST_F(SerializeTest, ShortPrefixInsideALongerOneIsDeclared) {
  XMPMeta meta;
  XMP_StringPtr prefix = nullptr;
  XMP_StringLen length = 0;
  XMPMeta::DefineNamespace("http://example.com/f/", "f", &prefix, &length);
  meta.SetProperty("http://example.com/f/", "f:p", "v", 0);
  for (XMP_OptionBits form : {0u, static_cast<XMP_OptionBits>(kXMP_UseCompactFormat)}) {
    SerializeArgs args;
    args.options = kXMP_OmitPacketWrapper | form;
    std::string text = Serialize(&meta, args);
    EXPECT_NE(text.find("xmlns:f=\"http://example.com/f/\""), std::string::npos) << text;
    XMPMeta again;
    Parse(&again, text);
    EXPECT_EQ(DumpXmpTree(again.tree), DumpXmpTree(meta.tree));
  }
}

TEST_F(SerializeTest, OptionAndSizeErrors) {
  XMPMeta meta;
  struct Case {
    XMP_OptionBits options;
    XMP_StringLen padding;
    const char* expected;
  } cases[] = {
      {kXMP_UTF16Bit | kXMP_UTF32Bit, 0, "error 103 Can't use both _XMP_UTF16_Bit and _XMP_UTF32_Bit"},
      {kXMP_LittleEndianBit, 0, "error 103 Can't use _XMP_LittleEndian_Bit by itself"},
      {kXMP_ExactPacketLength | kXMP_OmitPacketWrapper, 4096, "error 103 Inconsistent options for exact size serialize"},
      {kXMP_ExactPacketLength | kXMP_IncludeThumbnailPad, 4096,
       "error 103 Inconsistent options for exact size serialize"},
      {kXMP_ExactPacketLength | kXMP_UTF16Bit, 4095, "error 103 Exact size must be a multiple of the Unicode element"},
      {kXMP_ReadOnlyPacket | kXMP_OmitPacketWrapper, 0, "error 103 Inconsistent options for read-only packet"},
      {kXMP_OmitPacketWrapper | kXMP_IncludeThumbnailPad, 0, "error 103 Inconsistent options for non-packet serialize"},
      {kXMP_ExactPacketLength, 100, "error 107 Can't fit into specified packet size"},
  };
  for (const Case& c : cases) {
    SerializeArgs args;
    args.options = c.options;
    args.padding = c.padding;
    EXPECT_EQ(Serialize(&meta, args), c.expected) << c.options;
  }
}

TEST_F(SerializeTest, PaddingSizes) {
  XMPMeta meta;
  Parse(&meta, ReadXmpFixture("tiff_deflate.xmp"));
  // The packet and trailer without padding, in each encoding.
  auto bare = [&meta](XMP_OptionBits encoding) {
    SerializeArgs args;
    args.options = kXMP_ReadOnlyPacket | encoding;
    return Serialize(&meta, args).size();
  };
  struct Case {
    XMP_OptionBits options;
    XMP_StringLen padding;
    size_t length;
  } cases[] = {
      {0, 0, bare(0) + 2048},
      {0, 10, bare(0) + 10},
      {0, 1, bare(0) + 1},
      {kXMP_IncludeThumbnailPad, 0, bare(0) + 2048 + 10000},
      {kXMP_ExactPacketLength, 20000, 20000},
      {kXMP_ExactPacketLength, static_cast<XMP_StringLen>(bare(0)), bare(0)},
      {kXMP_EncodeUTF16Big, 0, bare(kXMP_EncodeUTF16Big) + 2 * 2048},
      {kXMP_EncodeUTF32Little, 0, bare(kXMP_EncodeUTF32Little) + 4 * 2048},
      {kXMP_EncodeUTF32Little, 6, bare(kXMP_EncodeUTF32Little) + 4},
      {kXMP_EncodeUTF16Little | kXMP_ExactPacketLength, 40000, 40000},
  };
  for (const Case& c : cases) {
    SerializeArgs args;
    args.options = c.options;
    args.padding = c.padding;
    std::string text = Serialize(&meta, args);
    EXPECT_EQ(text.size(), c.length) << c.options << " " << c.padding << " " << text.substr(0, 40);
  }
}

// Parse, serialise in every form and encoding, parse again: the same tree.
TEST_F(SerializeTest, RoundTripsGiveTheSameTree) {
  std::vector<std::string> packets;
  for (const char* name : kXmpFixtures) packets.push_back(ReadXmpFixture(name));
  packets.push_back(XmpPacket("<rdf:Description rdf:about='a&amp;#x41;&quot;&lt;b\x01' ex:a='1'/>"));
  packets.push_back(XmpDescription(
      "<ex:a>a&lt;b\t\x01&amp;#x41;\"q\" &amp;#xA;</ex:a><ex:u rdf:resource='u&amp;v'/>"
      "<ex:qual rdf:value='v' xml:lang='en' ot:q='1'/><ex:gen rdf:value='v' ot:q='1'/>"
      "<ex:typed><ot:Thing ot:f='1'/></ex:typed>"
      "<ex:alt><rdf:Alt><rdf:li xml:lang='en'>e</rdf:li><rdf:li xml:lang='x-default'>d</rdf:li>"
      "<rdf:li xml:lang='de'>g</rdf:li></rdf:Alt></ex:alt>"
      "<ex:s rdf:parseType='Resource'><ot:f>x</ot:f><ot:g><rdf:Bag><rdf:li ot:k='1'/></rdf:Bag></ot:g></ex:s>"));
  const struct {
    const char* label;
    XMP_OptionBits options;
  } forms[] = {
      {"pretty UTF-8", 0},
      {"compact UTF-8", kXMP_UseCompactFormat},
      {"pretty UTF-16BE", kXMP_EncodeUTF16Big},
      {"compact UTF-16LE", kXMP_UseCompactFormat | kXMP_EncodeUTF16Little},
      {"compact UTF-16BE", kXMP_UseCompactFormat | kXMP_EncodeUTF16Big},
      {"pretty UTF-16LE", kXMP_EncodeUTF16Little},
      {"pretty UTF-32BE", kXMP_EncodeUTF32Big},
      {"compact UTF-32LE", kXMP_UseCompactFormat | kXMP_EncodeUTF32Little},
      {"compact UTF-32BE", kXMP_UseCompactFormat | kXMP_EncodeUTF32Big},
      {"pretty UTF-32LE", kXMP_EncodeUTF32Little},
      {"bare compact", kXMP_UseCompactFormat | kXMP_OmitPacketWrapper},
  };
  for (const std::string& packet : packets) {
    XMPMeta meta;
    Parse(&meta, packet);
    const std::string dump = DumpXmpTree(meta.tree);
    XMPMeta sorted;
    Parse(&sorted, packet);
    SortUnorderedChildren(&sorted.tree);
    const std::string sortedDump = DumpXmpTree(sorted.tree);
    for (const auto& form : forms) {
      SCOPED_TRACE(form.label);
      SerializeArgs args;
      args.options = form.options;
      std::string text = Serialize(&meta, args);
      ASSERT_EQ(text.find("error"), std::string::npos) << text;
      if (form.options & kXMP_UseCompactFormat) {
        // The compact form writes simple properties and fields first.
        EXPECT_EQ(ParseToSortedDump(text), sortedDump);
      } else {
        EXPECT_EQ(ParseToDump(text), dump);
      }
    }
  }
}

}  // namespace
