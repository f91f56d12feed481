// Test support for the XMP toolkit: a fixture that starts the toolkit for
// each test and stops it afterwards, a holder that puts the allocation
// hooks back, packet helpers, and UTF-16/32 transcoding through iconv(3)
// as an oracle independent of the toolkit's own converters.
#pragma once

#include <gtest/gtest.h>
#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "support/xmp_tree_dump.h"
#include "xmp/allocation_hooks.h"
#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

// Toolkit state is process-wide: never run these tests on several threads.
class XmpToolkitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    XMPCallResult result;
    XMPCall_Initialize(nullptr, nullptr, &result);
    ASSERT_EQ(result.message, nullptr) << result.message;
  }
  void TearDown() override { XMPCall_Shutdown(); }
};

// Restores AllocateHook and FreeHook when it goes out of scope, so a test
// that swaps them cannot leave the rest of the process on its hooks.
class ScopedAllocationHooks {
 public:
  ScopedAllocationHooks() : allocate_(AllocateHook), free_(FreeHook) {}
  ScopedAllocationHooks(const ScopedAllocationHooks&) = delete;
  ScopedAllocationHooks& operator=(const ScopedAllocationHooks&) = delete;
  ~ScopedAllocationHooks() {
    AllocateHook = allocate_;
    FreeHook = free_;
  }

 private:
  XMP_AllocateProc allocate_;
  XMP_DeleteProc free_;
};

// One encoding of a packet: the iconv name, the byte-order-mark text to put
// in front (empty for none) and the unit size.
struct XmpTestEncoding {
  const char* label;
  const char* iconvName;  // null for UTF-8 as it is
  bool byteOrderMark;
  size_t unitSize;
};

inline constexpr XmpTestEncoding kXmpTestEncodings[] = {
    {"UTF-8", nullptr, false, 1},
    {"UTF-16BE", "UTF-16BE", false, 2},
    {"UTF-16BE+BOM", "UTF-16BE", true, 2},
    {"UTF-16LE", "UTF-16LE", false, 2},
    {"UTF-16LE+BOM", "UTF-16LE", true, 2},
    {"UTF-32BE", "UTF-32BE", false, 4},
    {"UTF-32BE+BOM", "UTF-32BE", true, 4},
    {"UTF-32LE", "UTF-32LE", false, 4},
    {"UTF-32LE+BOM", "UTF-32LE", true, 4},
};

// Transcodes UTF-8 text with iconv(3); with `byteOrderMark` a U+FEFF is put
// in front first. Fails the test on invalid input.
inline std::string TranscodeWithIconv(std::string_view utf8, const char* toCode, bool byteOrderMark) {
  std::string in = byteOrderMark ? std::string("\xEF\xBB\xBF") : std::string();
  in.append(utf8);
  if (toCode == nullptr) return in;
  iconv_t cd = iconv_open(toCode, "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  std::string out(in.size() * 4 + 16, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  EXPECT_NE(rc, static_cast<size_t>(-1)) << "iconv errno " << errno;
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

// Wraps RDF node elements in rdf:RDF and x:xmpmeta, declaring the
// namespaces the tests use.
inline std::string XmpPacket(std::string_view descriptions) {
  std::string packet =
      "<x:xmpmeta xmlns:x='adobe:ns:meta/'>"
      "<rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'"
      " xmlns:dc='http://purl.org/dc/elements/1.1/'"
      " xmlns:xmp='http://ns.adobe.com/xap/1.0/'"
      " xmlns:xmpMM='http://ns.adobe.com/xap/1.0/mm/'"
      " xmlns:tiff='http://ns.adobe.com/tiff/1.0/'"
      " xmlns:exif='http://ns.adobe.com/exif/1.0/'"
      " xmlns:photoshop='http://ns.adobe.com/photoshop/1.0/'"
      " xmlns:iX='http://ns.adobe.com/iX/1.0/'"
      " xmlns:ex='http://example.com/ex/'"
      " xmlns:ot='http://example.com/other/'>";
  packet.append(descriptions);
  packet += "</rdf:RDF></x:xmpmeta>";
  return packet;
}

// The same inside one top-level rdf:Description with an empty rdf:about.
inline std::string XmpDescription(std::string_view properties) {
  std::string body = "<rdf:Description rdf:about=''>";
  body.append(properties);
  body += "</rdf:Description>";
  return XmpPacket(body);
}

// What parsing a packet gave: the canonical dump of the tree, or
// "error <id> <message>".
inline std::string ParseToDump(std::string_view bytes, XMP_OptionBits options = 0) {
  XMPMeta meta;
  try {
    meta.ParseFromBuffer(bytes.data(), static_cast<XMP_StringLen>(bytes.size()), options);
  } catch (const XMP_Error& error) {
    return "error " + std::to_string(error.GetID()) + " " + error.GetErrMsg();
  }
  return DumpXmpTree(meta.tree);
}

// Puts the properties of every schema and the fields of every struct in
// name order: their order carries no meaning, and the compact form writes
// simple ones before the others.
inline void SortUnorderedChildren(XMP_Node* node) {
  if ((node->options & (kXMP_SchemaNode | kXMP_PropValueIsStruct)) || node->parent == nullptr) {
    std::stable_sort(node->children.begin(), node->children.end(),
                     [](const XMP_NodeOwner& a, const XMP_NodeOwner& b) { return a->name < b->name; });
  }
  for (XMP_NodeOwner& child : node->children) SortUnorderedChildren(child.get());
  for (XMP_NodeOwner& qual : node->qualifiers) SortUnorderedChildren(qual.get());
}

// As ParseToDump, with SortUnorderedChildren applied first.
inline std::string ParseToSortedDump(std::string_view bytes, XMP_OptionBits options = 0) {
  XMPMeta meta;
  try {
    meta.ParseFromBuffer(bytes.data(), static_cast<XMP_StringLen>(bytes.size()), options);
  } catch (const XMP_Error& error) {
    return "error " + std::to_string(error.GetID()) + " " + error.GetErrMsg();
  }
  SortUnorderedChildren(&meta.tree);
  return DumpXmpTree(meta.tree);
}

// Reads a packet of tests/fixtures/xmp.
inline std::string ReadXmpFixture(const char* name) {
  std::ifstream in(std::string(CORVELLA_FIXTURES) + "/xmp/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

inline constexpr const char* kXmpFixtures[] = {"canon_eos_6d_dng.xmp", "psd_small_iptc.xmp", "tiff_deflate.xmp",
                                               "psd_hopper.xmp"};
