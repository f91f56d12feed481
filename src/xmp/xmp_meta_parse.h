// Packet input: encoding detection, conversion to UTF-8, control-character
// escaping and the search for the RDF root of a parsed packet.
#pragma once

#include <cstddef>
#include <cstdint>

#include "xmp/xml_parser_adapter.h"

class XMPMeta;

// Options of XMPMeta::ParseFromBuffer.
enum : uint32_t {
  kXMP_RequireXMPMeta = 0x1,
  kXMP_ParseMoreBuffers = 0x2,
  kXMP_StrictAliasing = 0x4,
};

// Takes bytes from `bytes` until the encoding is decided; returns how many.
size_t SniffEncoding(size_t newLength, XMLParserAdapter* adapter, const uint8_t* bytes, bool lastCall);

// Passes UTF-8 text to the adapter, turning control characters that XML
// forbids into literal "&#xN;" text; keeps an unfinished reference for the
// next buffer.
void FeedUtf8Portion(XMLParserAdapter* adapter, const uint8_t* bytes, size_t length, uint32_t flags);

// The rdf:RDF (or pxmp:XMP_Packet) element of the parsed packet, or null;
// sets the object's previous toolkit version.
const XML_Node* LocateRdfRoot(const XMLParserAdapter& adapter, XMPMeta* meta, uint32_t options);
const XML_Node* SearchRdfRoot(const XML_Node& node, bool requireXMPMeta);

// Reads a writer's toolkit version text as major*10^7 + minor*10^5 + micro*10^3 + build.
int32_t ParseToolkitVersion(const char* text);
