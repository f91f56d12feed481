#include "xmp/xmp_meta_parse.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "xmp/expat_adapter.h"
#include "xmp/parse_normalise.h"
#include "xmp/rdf_parser.h"
#include "xmp/unicode_converters.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

namespace {

constexpr size_t kUtf8BufferSize = 4096;

// Whole input bytes per conversion pass: the UTF-8 of 2048 bytes of UTF-16
// or UTF-32 always fits the 4096-byte buffer.
constexpr size_t kConvertPassBytes = 2048;

bool IsUpperHex(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

int HexValue(uint8_t c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

bool IsXmlWhiteControl(int v) { return v == 9 || v == 10 || v == 13; }

void Feed(XMLParserAdapter* adapter, const void* text, size_t length) {
  if (length > 0) adapter->ParseChunk(text, length, false);
}

// Scans `bytes`, feeding it with control characters escaped; returns where an
// unfinished control-character reference begins (or `length`).
size_t ScanAndFeed(XMLParserAdapter* adapter, const uint8_t* bytes, size_t length) {
  size_t runStart = 0;
  size_t i = 0;
  while (i < length) {
    uint8_t c = bytes[i];
    if (c < 0x20 && !IsXmlWhiteControl(c)) {
      Feed(adapter, bytes + runStart, i - runStart);
      char escape[16];
      int n = snprintf(escape, sizeof escape, "&amp;#x%X;", c);
      Feed(adapter, escape, static_cast<size_t>(n));
      runStart = ++i;
      continue;
    }
    if (c != '&') {
      ++i;
      continue;
    }
    // "&#x" H [H] ";" naming a control character becomes literal text.
    size_t j = i + 1;
    static constexpr char kLead[] = "#x";
    bool broken = false;
    for (int k = 0; k < 2 && j < length; ++k, ++j) {
      if (bytes[j] != static_cast<uint8_t>(kLead[k])) {
        broken = true;
        break;
      }
    }
    if (!broken && j >= length) {  // cut off by the end of the buffer
      Feed(adapter, bytes + runStart, i - runStart);
      return i;
    }
    if (broken || !IsUpperHex(bytes[j])) {
      i = j;
      continue;
    }
    int value = HexValue(bytes[j++]);
    if (j < length && IsUpperHex(bytes[j])) value = value * 16 + HexValue(bytes[j++]);
    if (value >= 0x20 || IsXmlWhiteControl(value)) {
      i = j;
      continue;
    }
    if (j >= length) {
      Feed(adapter, bytes + runStart, i - runStart);
      return i;
    }
    if (bytes[j] != ';') {
      i = j;
      continue;
    }
    Feed(adapter, bytes + runStart, i - runStart);
    char escape[16];
    int n = snprintf(escape, sizeof escape, "&amp;%.*s", static_cast<int>(j + 1 - (i + 1)),
                     reinterpret_cast<const char*>(bytes + i + 1));
    Feed(adapter, escape, static_cast<size_t>(n));
    i = j + 1;
    runStart = i;
  }
  Feed(adapter, bytes + runStart, length - runStart);
  return length;
}

void KeepTail(XMLParserAdapter* adapter, const uint8_t* bytes, size_t length) {
  if (length >= sizeof adapter->prevTail) {
    XMP_Throw(kXMPErr_EnforceFailure,
              XMP_EnforceText("refLen < sizeof(xmlParser->prevTail)", "XMPMeta-Parse", 959));
  }
  memcpy(adapter->prevTail, bytes, length);
  adapter->prevTail[length] = '\0';
  adapter->prevTailLen = length;
}

// Converts whole units of UTF-16 or UTF-32 `bytes` and feeds the UTF-8;
// returns the bytes consumed (an incomplete last character is left).
size_t ConvertAndFeed(XMLParserAdapter* adapter, const uint8_t* bytes, size_t length) {
  size_t unitSize = adapter->charEncoding >= kEncodingUTF32BE ? 4 : 2;
  alignas(4) uint8_t units[kConvertPassBytes];
  uint8_t utf8[kUtf8BufferSize];
  size_t take = length < kConvertPassBytes ? length : kConvertPassBytes;
  take -= take % unitSize;
  memcpy(units, bytes, take);
  size_t unitsRead = 0;
  size_t bytesWritten = 0;
  if (unitSize == 2) {
    adapter->utf16Converter(reinterpret_cast<const UTF16Unit*>(units), take / 2, utf8, sizeof utf8,
                            &unitsRead, &bytesWritten);
  } else {
    adapter->utf32Converter(reinterpret_cast<const UTF32Unit*>(units), take / 4, utf8, sizeof utf8,
                            &unitsRead, &bytesWritten);
  }
  FeedUtf8Portion(adapter, utf8, bytesWritten, 0);
  return unitsRead * unitSize;
}

void ParseWideInput(XMLParserAdapter* adapter, const uint8_t* buffer, size_t length) {
  if (adapter->pendingCount > 0) {
    size_t oldPending = adapter->pendingCount;
    size_t taken = 0;
    while (adapter->pendingCount < 4 && taken < length) {
      adapter->pendingInput[adapter->pendingCount++] = buffer[taken++];
    }
    size_t used = ConvertAndFeed(adapter, adapter->pendingInput, adapter->pendingCount);
    if (used >= oldPending) {
      // Everything left came from this buffer: hand it back.
      size_t back = adapter->pendingCount - used;
      buffer += taken - back;
      length -= taken - back;
      adapter->pendingCount = 0;
    } else {
      // The old character is still incomplete, which only happens when this
      // buffer ran out before 4 bytes were pending (4 bytes always finish a
      // character or fail). All of it stays pending, behind the old bytes:
      // given back, its bytes would be converted a byte out of step.
      memmove(adapter->pendingInput, adapter->pendingInput + used, adapter->pendingCount - used);
      adapter->pendingCount -= static_cast<uint32_t>(used);
      buffer += taken;
      length -= taken;
    }
  }
  while (length > 0) {
    size_t used = ConvertAndFeed(adapter, buffer, length);
    if (used == 0) {
      // An incomplete character at the end waits for the next buffer.
      if (adapter->pendingCount + length > sizeof adapter->pendingInput) {
        XMP_Throw(kXMPErr_BadXML, "Input ends with a partial character");
      }
      memcpy(adapter->pendingInput + adapter->pendingCount, buffer, length);
      adapter->pendingCount += static_cast<uint32_t>(length);
      return;
    }
    buffer += used;
    length -= used;
  }
}

}  // namespace

size_t SniffEncoding(size_t newLength, XMLParserAdapter* adapter, const uint8_t* bytes, bool lastCall) {
  if (adapter->pendingCount + newLength < 4) {
    if (lastCall) XMP_Throw(kXMPErr_BadXML, "Insufficient parsing input");
    memcpy(adapter->pendingInput + adapter->pendingCount, bytes, newLength);
    adapter->pendingCount += static_cast<uint32_t>(newLength);
    return newLength;
  }
  size_t taken = 4 - adapter->pendingCount;
  memcpy(adapter->pendingInput + adapter->pendingCount, bytes, taken);
  adapter->pendingCount = 4;
  const uint8_t* b = adapter->pendingInput;
  int32_t encoding = kEncodingUnknown;
  if (b[0] == 0x00) {
    if (b[1] != 0x00) {
      encoding = kEncodingUTF16BE;
    } else if ((b[2] == 0x00 && b[3] != 0x00) || (b[2] == 0xFE && b[3] == 0xFF)) {
      encoding = kEncodingUTF32BE;
    }
  } else if (b[0] == 0xFE) {
    if (b[1] == 0xFF) encoding = kEncodingUTF16BE;
  } else if (b[0] == 0xFF && b[1] == 0xFE) {
    encoding = (b[2] == 0x00 && b[3] == 0x00) ? kEncodingUTF32LE : kEncodingUTF16LE;
  } else if (b[1] != 0x00) {
    encoding = kEncodingUTF8;
  } else if (b[2] != 0x00 || b[3] != 0x00) {
    encoding = kEncodingUTF16LE;
  } else {
    encoding = kEncodingUTF32LE;
  }
  if (encoding == kEncodingUnknown) XMP_Throw(kXMPErr_BadXMP, "Can't determine character encoding");
  adapter->charEncoding = encoding;
  if (encoding == kEncodingUTF8) {
    memcpy(adapter->prevTail, b, 4);
    adapter->prevTail[4] = '\0';
    adapter->prevTailLen = 4;
    adapter->pendingCount = 0;
  } else {
    const UnicodeConverters& table = UnicodeConverterTable;
    adapter->utf16Converter = encoding == kEncodingUTF16BE ? table.UTF16BE_to_UTF8 : table.UTF16LE_to_UTF8;
    adapter->utf32Converter = encoding == kEncodingUTF32BE ? table.UTF32BE_to_UTF8 : table.UTF32LE_to_UTF8;
    adapter->DeclareUtf8Input();
  }
  return taken;
}

void FeedUtf8Portion(XMLParserAdapter* adapter, const uint8_t* bytes, size_t length, uint32_t) {
  if (adapter->prevTailLen > 0) {
    // Re-scan the tail joined with enough of this buffer to decide it.
    size_t oldTail = adapter->prevTailLen;
    size_t extra = length < 8 ? length : 8;
    uint8_t joined[sizeof adapter->prevTail + 8];
    memcpy(joined, adapter->prevTail, oldTail);
    memcpy(joined + oldTail, bytes, extra);
    adapter->prevTailLen = 0;
    adapter->prevTail[0] = '\0';
    size_t stop = ScanAndFeed(adapter, joined, oldTail + extra);
    if (stop == oldTail + extra) {
      bytes += extra;
      length -= extra;
    } else if (stop >= oldTail) {
      bytes += stop - oldTail;
      length -= stop - oldTail;
    } else {
      // Still unfinished: the whole buffer went into the tail.
      KeepTail(adapter, joined + stop, oldTail + extra - stop);
      return;
    }
  }
  size_t stop = ScanAndFeed(adapter, bytes, length);
  if (stop < length) KeepTail(adapter, bytes + stop, length - stop);
}

int32_t ParseToolkitVersion(const char* text) {
  const char* p = text;
  while (*p != '\0' && (*p < '0' || *p > '9')) ++p;
  if (*p == '\0') return 0;
  auto number = [&p](int32_t limit) {
    int32_t n = 0;
    while (*p >= '0' && *p <= '9') {
      n = n * 10 + (*p - '0');
      if (n > limit) n = limit;
      ++p;
    }
    return n;
  };
  auto skip = [&p](char c) {
    if (*p == c) ++p;
  };
  int32_t major = number(99);
  skip('.');
  int32_t minor = number(99);
  skip('.');
  int32_t micro = number(99);
  skip('-');
  int32_t build = number(999);
  return major * 10000000 + minor * 100000 + micro * 1000 + build;
}

const XML_Node* SearchRdfRoot(const XML_Node& node, bool requireXMPMeta) {
  for (const XML_Node* child : node.content) {
    if (child->kind != kElemNode) continue;
    if (child->name == "pxmp:XMP_Packet") return child;
    if (child->name == "x:xmpmeta" || child->name == "x:xapmeta") return SearchRdfRoot(*child, false);
  }
  if (!requireXMPMeta) {
    for (const XML_Node* child : node.content) {
      if (child->kind == kElemNode && child->name == "rdf:RDF") return child;
    }
  }
  for (const XML_Node* child : node.content) {
    if (child->kind != kElemNode) continue;
    if (const XML_Node* found = SearchRdfRoot(*child, requireXMPMeta)) return found;
  }
  return nullptr;
}

const XML_Node* LocateRdfRoot(const XMLParserAdapter& adapter, XMPMeta* meta, uint32_t options) {
  bool requireXMPMeta = (options & kXMP_RequireXMPMeta) != 0;
  const XML_Node* root =
      adapter.rootCount < 2 ? adapter.rootNode : SearchRdfRoot(adapter.tree, requireXMPMeta);
  if (root == nullptr) return nullptr;
  const char* version = "";
  if (root->name == "pxmp:XMP_Packet") {
    for (const XML_Node* attr : root->attrs) {
      if (attr->name == "pxmp:xmptk") {
        version = attr->value.c_str();
        break;
      }
    }
  } else {
    const XML_Node* parent = root->parent;
    bool inXMPMeta = parent != nullptr && (parent->name == "x:xmpmeta" || parent->name == "x:xapmeta");
    if (requireXMPMeta && !inXMPMeta) return nullptr;
    if (parent != nullptr) {
      for (const XML_Node* attr : parent->attrs) {
        if (attr->name == "x:xmptk" || attr->name == "x:xaptk") {
          version = attr->value.c_str();
          break;
        }
      }
    }
  }
  meta->prevTkVer = ParseToolkitVersion(version);
  return root;
}

void XMPMeta::ParseFromBuffer(XMP_StringPtr buffer, XMP_StringLen length, XMP_OptionBits options) {
  try {
    if (!tree.children.empty()) XMP_Throw(kXMPErr_BadParse, "Can only parse into an empty object");
    if (buffer == nullptr && length != 0) XMP_Throw(kXMPErr_BadParam, "Null parse buffer");
    if (length == static_cast<XMP_StringLen>(-1)) length = static_cast<XMP_StringLen>(strlen(buffer));
    bool lastCall = (options & kXMP_ParseMoreBuffers) == 0;
    const auto* bytes = reinterpret_cast<const uint8_t*>(buffer);
    size_t remaining = length;
    if (xmlParser == nullptr) {
      if (remaining == 0 && lastCall) return;
      xmlParser = new ExpatAdapter;
    }
    XMLParserAdapter* adapter = xmlParser;
    if (adapter->charEncoding == kEncodingUnknown) {
      size_t taken = SniffEncoding(remaining, adapter, bytes, lastCall);
      bytes += taken;
      remaining -= taken;
      if (adapter->charEncoding == kEncodingUnknown) return;
    }
    if (adapter->charEncoding == kEncodingUTF8) {
      if (remaining > 0) FeedUtf8Portion(adapter, bytes, remaining, 0);
    } else {
      ParseWideInput(adapter, bytes, remaining);
    }
    if (!lastCall) return;
    if (adapter->pendingCount > 0) XMP_Throw(kXMPErr_BadXML, "Input ends with a partial character");
    if (adapter->prevTailLen > 0) {
      adapter->ParseChunk(adapter->prevTail, adapter->prevTailLen, true);
    } else {
      adapter->ParseChunk(" ", 1, true);
    }
    adapter->prevTailLen = 0;
    adapter->prevTail[0] = '\0';
    if (const XML_Node* root = LocateRdfRoot(*adapter, this, options)) {
      ConvertRdf(&tree, *root);
      MakeDCArrays(&tree);
      if (tree.options & kXMP_PropHasAliases) MoveAliasedProperties(&tree, options);
      RepairTree(&tree);
      std::erase_if(tree.children, [](const XMP_NodeOwner& schema) { return schema->children.empty(); });
    }
    delete xmlParser;
    xmlParser = nullptr;
  } catch (...) {
    delete xmlParser;
    xmlParser = nullptr;
    prevTkVer = 0;
    tree.Reset();
    throw;
  }
}
