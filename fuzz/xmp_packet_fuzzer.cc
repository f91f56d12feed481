// Parses arbitrary bytes as an XMP packet. The first byte picks the
// encoding the rest is given in (UTF-8 as it is, or transcoded to UTF-16 or
// UTF-32 in either order, with or without a byte-order mark) and where the
// bytes are split into two buffers. The same bytes fed in pieces of 1 to 5
// bytes (sizes taken from the input) must give the same outcome. A packet
// that parses must serialise, in the pretty and the compact form, to text
// that parses to the same tree.
#include <iconv.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "xmp/xmp_call.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_parse.h"
#include "xmp/xmp_meta_serialize.h"

namespace {

struct Encoding {
  const char* iconvName;  // null: the bytes as they are
  bool byteOrderMark;
};

constexpr Encoding kEncodings[] = {
    {nullptr, false},     {"UTF-16BE", false}, {"UTF-16BE", true}, {"UTF-16LE", false}, {"UTF-16LE", true},
    {"UTF-32BE", false},  {"UTF-32BE", true},  {"UTF-32LE", false}, {"UTF-32LE", true},
};

// The bytes transcoded from UTF-8; input that is not UTF-8 stays as it is.
std::string Transcode(const std::string& utf8, const Encoding& encoding) {
  if (encoding.iconvName == nullptr) return utf8;
  std::string in = encoding.byteOrderMark ? "\xEF\xBB\xBF" + utf8 : utf8;
  iconv_t cd = iconv_open(encoding.iconvName, "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return utf8;
  std::string out(in.size() * 4 + 8, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) return utf8;
  out.resize(out.size() - outLeft);
  return out;
}

void Dump(const XMP_Node& node, int depth, std::string* out) {
  out->append(static_cast<size_t>(depth), ' ');
  char options[16];
  snprintf(options, sizeof options, "%08X ", node.options);
  *out += options;
  *out += node.name;
  *out += '=';
  *out += node.value;
  *out += '\n';
  for (const XMP_NodeOwner& qual : node.qualifiers) {
    *out += '?';
    Dump(*qual, depth + 1, out);
  }
  for (const XMP_NodeOwner& child : node.children) Dump(*child, depth + 1, out);
}

// Properties of a schema and fields of a struct carry no order; the
// compact form writes simple ones first.
void SortUnordered(XMP_Node* node) {
  if ((node->options & (kXMP_SchemaNode | kXMP_PropValueIsStruct)) || node->parent == nullptr) {
    std::stable_sort(node->children.begin(), node->children.end(),
                     [](const XMP_NodeOwner& a, const XMP_NodeOwner& b) { return a->name < b->name; });
  }
  for (XMP_NodeOwner& child : node->children) SortUnordered(child.get());
  for (XMP_NodeOwner& qual : node->qualifiers) SortUnordered(qual.get());
}

std::string Dump(XMPMeta& meta, bool sorted) {
  if (sorted) SortUnordered(&meta.tree);
  std::string out;
  Dump(meta.tree, 0, &out);
  return out;
}

void CheckRoundTrip(XMPMeta* meta, XMP_OptionBits form) {
  const bool sorted = (form & kXMP_UseCompactFormat) != 0;
  const std::string before = Dump(*meta, sorted);
  XMP_StringPtr text = nullptr;
  XMP_StringLen length = 0;
  meta->SerializeToBuffer(&text, &length, form, 0, "", "", 0);
  const std::string packet(text, length);
  XMPMeta again;
  try {
    again.ParseFromBuffer(packet.data(), static_cast<XMP_StringLen>(packet.size()), 0);
  } catch (const XMP_Error& error) {
    fprintf(stderr, "serialised packet does not parse: %d %s\n%s\n", error.GetID(), error.GetErrMsg(),
            packet.c_str());
    abort();
  }
  const std::string after = Dump(again, sorted);
  if (after != before) {
    fprintf(stderr, "round trip changed the tree\n--- before\n%s--- after\n%s--- packet\n%s\n", before.c_str(),
            after.c_str(), packet.c_str());
    abort();
  }
}

// The tree dump after a parse in short pieces, or empty when it failed.
std::string ParseInShortPieces(const std::string& bytes, const uint8_t* sizes, size_t sizeCount) {
  XMPMeta meta;
  try {
    size_t start = 0;
    for (size_t k = 0; start < bytes.size(); ++k) {
      const size_t piece = std::min<size_t>(1 + sizes[k % sizeCount] % 5, bytes.size() - start);
      meta.ParseFromBuffer(bytes.data() + start, static_cast<XMP_StringLen>(piece), kXMP_ParseMoreBuffers);
      start += piece;
    }
    meta.ParseFromBuffer(bytes.data(), 0, 0);
  } catch (const XMP_Error&) {
    return std::string();
  }
  return Dump(meta, false);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const uint8_t selector = data[0];
  const Encoding& encoding = kEncodings[selector % 9];
  const std::string bytes = Transcode(std::string(reinterpret_cast<const char*>(data + 1), size - 1), encoding);
  const size_t split = bytes.size() * (selector / 9) / 28;

  XMPCallResult result;
  XMPCall_Initialize(nullptr, nullptr, &result);
  if (result.message != nullptr) abort();
  {
    XMPMeta meta;
    bool parsed = true;
    try {
      meta.ParseFromBuffer(bytes.data(), static_cast<XMP_StringLen>(split), kXMP_ParseMoreBuffers);
      meta.ParseFromBuffer(bytes.data() + split, static_cast<XMP_StringLen>(bytes.size() - split), 0);
    } catch (const XMP_Error&) {
      parsed = false;
      if (!meta.tree.children.empty() || meta.xmlParser != nullptr) abort();
    }
    const bool pieced = size > 1 && !bytes.empty();
    const std::string inPieces = pieced ? ParseInShortPieces(bytes, data + 1, size - 1) : std::string();
    const std::string whole = parsed ? Dump(meta, false) : std::string();
    if (pieced && inPieces != whole) {
      fprintf(stderr, "short pieces parse differently\n--- two buffers\n%s--- short pieces\n%s\n", whole.c_str(),
              inPieces.c_str());
      abort();
    }
    if (parsed) {
      CheckRoundTrip(&meta, 0);
      CheckRoundTrip(&meta, kXMP_UseCompactFormat);
      CheckRoundTrip(&meta, kXMP_UseCompactFormat | kXMP_EncodeUTF16Little);
    }
  }
  XMPCall_Shutdown();
  return 0;
}
