// XMLParserAdapter: the state of one packet parse between its buffers, from
// the sniffed character encoding to the XML element tree being built.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "xmp/unicode_converters.h"
#include "xmp/xml_node.h"

enum XMLCharEncoding : int32_t {
  kEncodingUnknown = -1,
  kEncodingUTF8 = 0,
  kEncodingUTF16BE = 2,
  kEncodingUTF16LE = 3,
  kEncodingUTF32BE = 4,
  kEncodingUTF32LE = 5,
};

// Owns the element tree. The parse stack holds the open elements with the
// tree root at the bottom. Used under the toolkit lock only.
class XMLParserAdapter {
 public:
  XMLParserAdapter() : tree(nullptr, "", kRootNode) { parseStack.push_back(&tree); }
  XMLParserAdapter(const XMLParserAdapter&) = delete;
  XMLParserAdapter& operator=(const XMLParserAdapter&) = delete;
  virtual ~XMLParserAdapter() = default;

  // Parses the next piece of UTF-8 text; `last` ends the document.
  virtual void ParseChunk(const void* text, size_t length, bool last) = 0;

  // Makes the XML parser take its input as UTF-8 whatever the packet's XML
  // declaration says: the packet was converted from UTF-16 or UTF-32.
  virtual void DeclareUtf8Input() {}

  XML_Node tree;
  std::vector<XML_Node*> parseStack;
  XML_Node* rootNode = nullptr;
  uint32_t rootCount = 0;
  int32_t charEncoding = kEncodingUnknown;
  uint32_t pendingCount = 0;
  uint8_t pendingInput[4] = {};
  // The converter to UTF-8 of the detected encoding (one of the two is set).
  UTF16_to_UTF8_Proc utf16Converter = nullptr;
  UTF32_to_UTF8_Proc utf32Converter = nullptr;
  // UTF-8 text carried to the next buffer: the bytes that decided the
  // encoding, later an unfinished character reference.
  char prevTail[8] = {};
  size_t prevTailLen = 0;
  // Elements, attributes, text and instructions made so far in this parse.
  size_t nodeCount = 0;
};
