// XMPMeta::SerializeToBuffer: writes a metadata tree as RDF/XML in the pretty
// (one rdf:Description per schema) or compact (one rdf:Description, simple
// properties as attributes) form, optionally wrapped in a padded packet.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "xmp/unicode_converters.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_serialize.h"
#include "xmp/namespace_registry.h"
#include "xmp/xmp_node.h"

std::string* sSerializedPacket = nullptr;

namespace {

constexpr char kPacketHeader[] = "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>";
constexpr char kPacketTrailer[] = "<?xpacket end=\"w\"?>";
constexpr char kToolkitText[] = "XMP Core 3.5";
constexpr char kRdfEnd[] = "</rdf:RDF>";
constexpr char kXMPMetaEnd[] = "</x:xmpmeta>";
constexpr char kDescriptionStart[] = "<rdf:Description rdf:about=";
constexpr char kDescriptionEnd[] = "</rdf:Description>";

std::string XMPMetaStart() {
  return std::string("<x:xmpmeta xmlns:x=\"") + kXMP_NS_XMPMeta + "\" x:xmptk=\"" + kToolkitText + "\">";
}

std::string RdfStart() { return std::string("<rdf:RDF xmlns:rdf=\"") + kXMP_NS_RDF + "\">"; }

bool IsAttributeQualifier(const std::string& name) {
  return name == "xml:lang" || name == "rdf:resource" || name == "rdf:ID" || name == "rdf:bagID" ||
         name == "rdf:nodeID";
}

bool IsAttributeProperty(const XMP_Node* node) {
  return !(node->name[0] == '[' || !node->qualifiers.empty() || (node->options & kXMP_PropValueIsURI) ||
           (node->options & kXMP_PropCompositeMask));
}

// Moves the item whose language is "x-default" to the front of an alt-text array.
void PutDefaultItemFirst(XMP_Node* array) {
  XMP_NodeList& items = array->children;
  for (size_t i = 0; i < items.size(); ++i) {
    const XMP_Node* item = items[i].get();
    if (!item->qualifiers.empty() && item->qualifiers[0]->name == "xml:lang" &&
        item->qualifiers[0]->value == "x-default") {
      if (i != 0) std::swap(items[0], items[i]);
      return;
    }
  }
}

size_t EstimateNodeBytes(const XMP_Node* node, size_t n, size_t indentLen) {
  size_t bytes = 2 * (n * indentLen + node->name.size()) + 8;
  if (!node->qualifiers.empty()) {
    bytes += 2 * (strlen("<rdf:Description>") + indentLen * (n + 1)) +
             2 * (strlen("<rdf:value>") + indentLen * (n + 2)) + 8;
    for (const XMP_NodeOwner& qual : node->qualifiers) bytes += EstimateNodeBytes(qual.get(), n + 2, indentLen);
    n += 2;
  }
  if (node->options & kXMP_PropValueIsStruct) {
    bytes += 2 * (strlen("<rdf:Description>") + indentLen * (n + 1)) + 4;
    for (const XMP_NodeOwner& child : node->children) bytes += EstimateNodeBytes(child.get(), n + 2, indentLen);
  } else if (node->options & kXMP_PropValueIsArray) {
    bytes += 2 * (indentLen * (n + 1) + strlen("<rdf:Bag>")) +
             2 * node->children.size() * (strlen("<rdf:li>") + 2) + 4;
    for (const XMP_NodeOwner& child : node->children) bytes += EstimateNodeBytes(child.get(), n + 3, indentLen);
  } else {
    if (!(node->options & kXMP_SchemaNode)) bytes += node->value.size();
    for (const XMP_NodeOwner& child : node->children) bytes += EstimateNodeBytes(child.get(), n + 1, indentLen);
  }
  return bytes;
}

// Appends the RDF/XML of one metadata tree to one output string.
class RdfWriter {
 public:
  RdfWriter(std::string* out, const std::string& newline, const std::string& indent)
      : out_(*out), newline_(newline), indent_(indent) {}

  void Indent(size_t n) {
    for (size_t i = 0; i < n; ++i) out_ += indent_;
  }
  void Newline() { out_ += newline_; }

  void AppendEscapedValue(const std::string& value, bool forAttribute);
  // Texts that the reader takes as they are (namespace URIs, the about
  // text): only what XML itself needs is escaped.
  void AppendPlainAttribute(const std::string& text) {
    out_ += '"';
    for (char c : text) {
      switch (c) {
        case '&': out_ += "&amp;"; break;
        case '<': out_ += "&lt;"; break;
        case '>': out_ += "&gt;"; break;
        case '"': out_ += "&quot;"; break;
        case '\t': out_ += "&#x9;"; break;
        case '\n': out_ += "&#xA;"; break;
        case '\r': out_ += "&#xD;"; break;
        default: out_ += c;
      }
    }
    out_ += '"';
  }
  void AppendQuotedAttribute(const std::string& value) {
    out_ += '"';
    AppendEscapedValue(value, true);
    out_ += '"';
  }

  void StartDescription() { declared_.assign({"xml:", "rdf:"}); }
  void AppendXmlnsAttribute(const std::string& prefix, const std::string& uri, size_t n);
  void DeclareNamePrefix(const std::string& name, size_t n);
  void DeclareTreePrefixes(const XMP_Node* node, size_t n);

  void WriteArrayTag(size_t n, XMP_OptionBits options, size_t count, bool start);
  // Writes the attribute qualifiers of `node`; reports general qualifiers
  // and an rdf:resource qualifier.
  void WriteAttributeQualifiers(const XMP_Node* node, bool write, bool* general, bool* resource);
  void WriteSimpleValue(const XMP_Node* node, const std::string& elemName);

  void WritePrettySchema(size_t b, const std::string& about, XMP_Node* schema);
  void WritePrettyProperty(XMP_Node* node, size_t n, bool asRdfValue);

  void WriteCompactDescription(XMP_Node* root, size_t b);
  bool WriteCompactAttributes(const XMP_Node* parent, size_t n);
  void WriteCompactElements(XMP_Node* parent, size_t n);

 private:
  std::string& out_;
  const std::string& newline_;
  const std::string& indent_;
  // Prefixes (with their colons) declared on the current rdf:Description.
  std::vector<std::string> declared_;
};

void RdfWriter::AppendEscapedValue(const std::string& value, bool forAttribute) {
  static const char kHex[] = "0123456789ABCDEF";
  size_t runStart = 0;
  const size_t size = value.size();
  for (size_t i = 0; i < size; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    const char* replacement = nullptr;
    char control[12];
    if (c < 0x20) {
      if (c == '\t') {
        replacement = "&#x9;";
      } else if (c == '\n') {
        replacement = "&#xA;";
      } else if (c == '\r') {
        replacement = "&#xD;";
      } else {
        memcpy(control, "&amp;#x", 7);
        control[7] = kHex[c >> 4];
        control[8] = kHex[c & 0xF];
        control[9] = ';';
        control[10] = '\0';
        replacement = control;
      }
    } else if (c == '<') {
      replacement = "&lt;";
    } else if (c == '>') {
      replacement = "&gt;";
    } else if (c == '"' && forAttribute) {
      replacement = "&quot;";
    } else if (c == '&') {
      // A literal "&#x" that could still be read as a character reference
      // is written so that the reader's control-character repair gives it
      // back unchanged. The shortest text that repair replaces is five
      // bytes ("&#x", one digit, ";"), so five bytes left is enough to need
      // it: from six, a value ending in "&#xA;" came back as a line feed.
      constexpr size_t kShortestRepairedReference = 5;
      const bool couldBeReference =
          value.compare(i + 1, 2, "#x") == 0 && size - i >= kShortestRepairedReference;
      replacement = couldBeReference ? "&amp;#x26;" : "&amp;";
    }
    if (replacement == nullptr) continue;
    out_.append(value, runStart, i - runStart);
    out_ += replacement;
    runStart = i + 1;
  }
  out_.append(value, runStart, size - runStart);
}

void RdfWriter::AppendXmlnsAttribute(const std::string& prefix, const std::string& uri, size_t n) {
  // Whole entries are compared, so "f:" is not taken as declared by "rdf:".
  if (std::find(declared_.begin(), declared_.end(), prefix) != declared_.end()) return;
  Newline();
  Indent(n);
  out_ += "xmlns:";
  out_.append(prefix, 0, prefix.empty() ? 0 : prefix.size() - 1);
  out_ += '=';
  AppendPlainAttribute(uri);
  declared_.push_back(prefix);
}

void RdfWriter::DeclareNamePrefix(const std::string& name, size_t n) {
  size_t colon = name.find(':');
  if (colon == std::string::npos) return;
  std::string prefix = name.substr(0, colon + 1);
  const std::string* uri = FindURIForPrefix(prefix);
  XMP_Enforce(uri != nullptr, "prefixPos != sNamespacePrefixToURIMap->end()", "XMPMeta-Serialize", 225);
  AppendXmlnsAttribute(prefix, *uri, n);
}

void RdfWriter::DeclareTreePrefixes(const XMP_Node* node, size_t n) {
  if (node->options & kXMP_SchemaNode) {
    AppendXmlnsAttribute(node->value, node->name, n);
  } else if (node->options & kXMP_PropValueIsStruct) {
    for (const XMP_NodeOwner& field : node->children) DeclareNamePrefix(field->name, n);
  }
  for (const XMP_NodeOwner& child : node->children) DeclareTreePrefixes(child.get(), n);
  for (const XMP_NodeOwner& qual : node->qualifiers) {
    DeclareNamePrefix(qual->name, n);
    DeclareTreePrefixes(qual.get(), n);
  }
}

void RdfWriter::WriteArrayTag(size_t n, XMP_OptionBits options, size_t count, bool start) {
  if (!start && count == 0) return;
  Indent(n);
  out_ += start ? "<rdf:" : "</rdf:";
  if (options & kXMP_PropArrayIsAlternate) {
    out_ += "Alt";
  } else if (options & kXMP_PropArrayIsOrdered) {
    out_ += "Seq";
  } else {
    out_ += "Bag";
  }
  if (start && count == 0) out_ += '/';
  out_ += '>';
  Newline();
}

void RdfWriter::WriteAttributeQualifiers(const XMP_Node* node, bool write, bool* general, bool* resource) {
  *general = false;
  *resource = false;
  for (const XMP_NodeOwner& qual : node->qualifiers) {
    if (!IsAttributeQualifier(qual->name)) {
      *general = true;
      continue;
    }
    if (qual->name == "rdf:resource") *resource = true;
    if (!write) continue;
    out_ += ' ';
    out_ += qual->name;
    out_ += '=';
    AppendQuotedAttribute(qual->value);
  }
}

void RdfWriter::WriteSimpleValue(const XMP_Node* node, const std::string& elemName) {
  if (node->options & kXMP_PropValueIsURI) {
    out_ += " rdf:resource=";
    AppendQuotedAttribute(node->value);
    out_ += "/>";
  } else if (!node->value.empty()) {
    out_ += '>';
    AppendEscapedValue(node->value, false);
    out_ += "</";
    out_ += elemName;
    out_ += '>';
  } else {
    out_ += "/>";
  }
  Newline();
}

void RdfWriter::WritePrettySchema(size_t b, const std::string& about, XMP_Node* schema) {
  Indent(b + 2);
  out_ += kDescriptionStart;
  AppendPlainAttribute(about);
  StartDescription();
  DeclareTreePrefixes(schema, b + 4);
  out_ += '>';
  Newline();
  for (XMP_NodeOwner& prop : schema->children) WritePrettyProperty(prop.get(), b + 3, false);
  Indent(b + 2);
  out_ += kDescriptionEnd;
  Newline();
}

void RdfWriter::WritePrettyProperty(XMP_Node* node, size_t n, bool asRdfValue) {
  std::string elemName = asRdfValue ? "rdf:value" : node->name[0] == '[' ? "rdf:li" : node->name;
  Indent(n);
  out_ += '<';
  out_ += elemName;
  bool general = false;
  bool resource = false;
  WriteAttributeQualifiers(node, !asRdfValue, &general, &resource);
  if (general && !asRdfValue) {
    if (resource) XMP_Throw(kXMPErr_BadRDF, "Can't mix rdf:resource and general qualifiers");
    out_ += " rdf:parseType=\"Resource\">";
    Newline();
    WritePrettyProperty(node, n + 1, true);
    for (XMP_NodeOwner& qual : node->qualifiers) {
      if (!IsAttributeQualifier(qual->name)) WritePrettyProperty(qual.get(), n + 1, false);
    }
  } else if (!(node->options & kXMP_PropCompositeMask)) {
    WriteSimpleValue(node, elemName);
    return;
  } else if (node->options & kXMP_PropValueIsArray) {
    out_ += '>';
    Newline();
    WriteArrayTag(n + 1, node->options, node->children.size(), true);
    if (node->options & kXMP_PropArrayIsAltText) PutDefaultItemFirst(node);
    for (XMP_NodeOwner& item : node->children) WritePrettyProperty(item.get(), n + 2, false);
    WriteArrayTag(n + 1, node->options, node->children.size(), false);
  } else if (resource) {
    for (const XMP_NodeOwner& field : node->children) {
      if (!IsAttributeProperty(field.get())) XMP_Throw(kXMPErr_BadRDF, "Can't mix rdf:resource and complex fields");
    }
    for (const XMP_NodeOwner& field : node->children) {
      Newline();
      Indent(n + 1);
      out_ += ' ';
      out_ += field->name;
      out_ += '=';
      AppendQuotedAttribute(field->value);
    }
    out_ += "/>";
    Newline();
    return;
  } else if (node->children.empty()) {
    out_ += " rdf:parseType=\"Resource\"/>";
    Newline();
    return;
  } else {
    out_ += " rdf:parseType=\"Resource\">";
    Newline();
    for (XMP_NodeOwner& field : node->children) WritePrettyProperty(field.get(), n + 1, false);
  }
  Indent(n);
  out_ += "</";
  out_ += elemName;
  out_ += '>';
  Newline();
}

void RdfWriter::WriteCompactDescription(XMP_Node* root, size_t b) {
  Indent(b + 2);
  out_ += kDescriptionStart;
  AppendPlainAttribute(root->name);
  StartDescription();
  for (const XMP_NodeOwner& schema : root->children) DeclareTreePrefixes(schema.get(), b + 4);
  bool allAttributes = true;
  for (const XMP_NodeOwner& schema : root->children) {
    if (!WriteCompactAttributes(schema.get(), b + 3)) allAttributes = false;
  }
  if (allAttributes) {
    out_ += "/>";
    Newline();
    return;
  }
  out_ += '>';
  Newline();
  for (XMP_NodeOwner& schema : root->children) WriteCompactElements(schema.get(), b + 3);
  Indent(b + 2);
  out_ += kDescriptionEnd;
  Newline();
}

bool RdfWriter::WriteCompactAttributes(const XMP_Node* parent, size_t n) {
  bool all = true;
  for (const XMP_NodeOwner& child : parent->children) {
    if (!IsAttributeProperty(child.get())) {
      all = false;
      continue;
    }
    Newline();
    Indent(n);
    out_ += child->name;
    out_ += '=';
    AppendQuotedAttribute(child->value);
  }
  return all;
}

void RdfWriter::WriteCompactElements(XMP_Node* parent, size_t n) {
  for (XMP_NodeOwner& owner : parent->children) {
    XMP_Node* node = owner.get();
    if (IsAttributeProperty(node)) continue;
    std::string elemName = node->name[0] == '[' ? "rdf:li" : node->name;
    Indent(n);
    out_ += '<';
    out_ += elemName;
    bool general = false;
    bool resource = false;
    WriteAttributeQualifiers(node, true, &general, &resource);
    if (general) {
      out_ += " rdf:parseType=\"Resource\">";
      Newline();
      WritePrettyProperty(node, n + 1, true);
      // The node's own language was written as an attribute above.
      size_t first = (node->options & kXMP_PropHasLang) ? 1 : 0;
      for (size_t i = first; i < node->qualifiers.size(); ++i) WritePrettyProperty(node->qualifiers[i].get(), n + 1, false);
    } else if (!(node->options & kXMP_PropCompositeMask)) {
      WriteSimpleValue(node, elemName);
      continue;
    } else if (node->options & kXMP_PropValueIsArray) {
      out_ += '>';
      Newline();
      WriteArrayTag(n + 1, node->options, node->children.size(), true);
      if (node->options & kXMP_PropArrayIsAltText) PutDefaultItemFirst(node);
      WriteCompactElements(node, n + 2);
      WriteArrayTag(n + 1, node->options, node->children.size(), false);
    } else {
      bool attributeFields = false;
      bool elementFields = false;
      for (const XMP_NodeOwner& field : node->children) {
        (IsAttributeProperty(field.get()) ? attributeFields : elementFields) = true;
      }
      if (resource && elementFields) XMP_Throw(kXMPErr_BadRDF, "Can't mix rdf:resource qualifier and element fields");
      if (attributeFields && elementFields) {
        out_ += '>';
        Newline();
        Indent(n + 1);
        out_ += "<rdf:Description";
        WriteCompactAttributes(node, n + 2);
        out_ += '>';
        Newline();
        WriteCompactElements(node, n + 1);
        Indent(n + 1);
        out_ += kDescriptionEnd;
        Newline();
      } else if (elementFields) {
        out_ += " rdf:parseType=\"Resource\">";
        Newline();
        WriteCompactElements(node, n + 1);
      } else if (attributeFields) {
        WriteCompactAttributes(node, n + 1);
        out_ += "/>";
        Newline();
        continue;
      } else {
        out_ += " rdf:parseType=\"Resource\"/>";
        Newline();
        continue;
      }
    }
    Indent(n);
    out_ += "</";
    out_ += elemName;
    out_ += '>';
    Newline();
  }
}

}  // namespace

void WriteRdfPacket(std::string* out, XMPMeta* meta, std::string* trailer, XMP_OptionBits options,
                    const std::string& newline, const std::string& indent, size_t baseIndent) {
  XMP_Node* root = &meta->tree;
  const size_t b = baseIndent;
  const std::string xmpmetaStart = XMPMetaStart();
  const std::string rdfStart = RdfStart();
  size_t estimate = 2 * (strlen(kPacketHeader) + xmpmetaStart.size() + rdfStart.size() + 3 * b * indent.size());
  for (const XMP_NodeOwner& schema : root->children) {
    estimate += 2 * indent.size() * (b + 2) + strlen(kDescriptionEnd) + strlen(kDescriptionStart) +
                root->name.size() + 2 + EstimateNodeBytes(schema.get(), b + 2, indent.size());
  }
  out->clear();
  out->reserve(estimate + estimate / 4);

  RdfWriter writer(out, newline, indent);
  if (!(options & kXMP_OmitPacketWrapper)) {
    writer.Indent(b);
    *out += kPacketHeader;
    writer.Newline();
  }
  writer.Indent(b);
  *out += xmpmetaStart;
  writer.Newline();
  writer.Indent(b + 1);
  *out += rdfStart;
  writer.Newline();
  if (options & kXMP_UseCompactFormat) {
    writer.WriteCompactDescription(root, b);
  } else if (root->children.empty()) {
    writer.Indent(b + 2);
    *out += kDescriptionStart;
    writer.AppendPlainAttribute(root->name);
    *out += "/>";
    writer.Newline();
  } else {
    for (XMP_NodeOwner& schema : root->children) writer.WritePrettySchema(b, root->name, schema.get());
  }
  writer.Indent(b + 1);
  *out += kRdfEnd;
  writer.Newline();
  writer.Indent(b);
  *out += kXMPMetaEnd;
  writer.Newline();

  trailer->clear();
  if (!(options & kXMP_OmitPacketWrapper)) {
    for (size_t i = 0; i < b; ++i) *trailer += indent;
    *trailer += kPacketTrailer;
    if (options & kXMP_ReadOnlyPacket) (*trailer)[trailer->size() - 4] = 'r';
  }
}

namespace {

enum class OutputForm { kUtf8, kUtf16BE, kUtf16LE, kUtf32BE, kUtf32LE };

void Convert(const std::string& utf8, std::string* out, OutputForm form) {
  const UnicodeConverters& t = UnicodeConverterTable;
  switch (form) {
    case OutputForm::kUtf16BE: Utf8StringToUtf16(utf8, out, t.UTF8_to_UTF16BE); break;
    case OutputForm::kUtf16LE: Utf8StringToUtf16(utf8, out, t.UTF8_to_UTF16LE); break;
    case OutputForm::kUtf32BE: Utf8StringToUtf32(utf8, out, t.UTF8_to_UTF32BE); break;
    case OutputForm::kUtf32LE: Utf8StringToUtf32(utf8, out, t.UTF8_to_UTF32LE); break;
    case OutputForm::kUtf8: *out = utf8; break;
  }
}

bool HasThumbnails(const XMPMeta& meta) {
  for (const XMP_NodeOwner& schema : meta.tree.children) {
    if (schema->name != kXMP_NS_XMP) continue;
    for (const XMP_NodeOwner& prop : schema->children) {
      size_t colon = prop->name.find(':');
      if (colon != std::string::npos && prop->name.compare(colon + 1, std::string::npos, "Thumbnails") == 0) return true;
    }
  }
  return false;
}

}  // namespace

void XMPMeta::SerializeToBuffer(XMP_StringPtr* packet, XMP_StringLen* length, XMP_OptionBits options,
                                XMP_StringLen padding, XMP_StringPtr newline, XMP_StringPtr indent,
                                XMP_Index baseIndent) {
  OutputForm form = OutputForm::kUtf8;
  size_t unit = 1;
  XMP_OptionBits encoding = options & kXMP_EncodingMask;
  if ((encoding & kXMP_UTF16Bit) && (encoding & kXMP_UTF32Bit)) {
    XMP_Throw(kXMPErr_BadOptions, "Can't use both _XMP_UTF16_Bit and _XMP_UTF32_Bit");
  }
  if (encoding == kXMP_LittleEndianBit) XMP_Throw(kXMPErr_BadOptions, "Can't use _XMP_LittleEndian_Bit by itself");
  bool little = (encoding & kXMP_LittleEndianBit) != 0;
  if (encoding & kXMP_UTF16Bit) {
    form = little ? OutputForm::kUtf16LE : OutputForm::kUtf16BE;
    unit = 2;
  } else if (encoding & kXMP_UTF32Bit) {
    form = little ? OutputForm::kUtf32LE : OutputForm::kUtf32BE;
    unit = 4;
  }

  std::string newlineText = (newline == nullptr || *newline == '\0') ? "\n" : newline;
  std::string indentText;
  if (indent != nullptr && *indent != '\0') {
    indentText = indent;
  } else if (options & kXMP_UseTwoSpaceIndent) {
    indentText = "  ";
  } else {
    indentText = (options & kXMP_UseCompactFormat) ? " " : "   ";
  }

  size_t pad = padding;
  if (options & kXMP_ExactPacketLength) {
    if (options & (kXMP_OmitPacketWrapper | kXMP_IncludeThumbnailPad)) {
      XMP_Throw(kXMPErr_BadOptions, "Inconsistent options for exact size serialize");
    }
    if (pad % unit != 0) XMP_Throw(kXMPErr_BadOptions, "Exact size must be a multiple of the Unicode element");
  } else if (options & kXMP_ReadOnlyPacket) {
    if (options & (kXMP_OmitPacketWrapper | kXMP_IncludeThumbnailPad)) {
      XMP_Throw(kXMPErr_BadOptions, "Inconsistent options for read-only packet");
    }
    pad = 0;
  } else if (options & kXMP_OmitPacketWrapper) {
    if (options & kXMP_IncludeThumbnailPad) XMP_Throw(kXMPErr_BadOptions, "Inconsistent options for non-packet serialize");
    pad = 0;
  } else {
    if (pad == 0) pad = 2048 * unit;
    if ((options & kXMP_IncludeThumbnailPad) && !HasThumbnails(*this)) pad += 10000 * unit;
  }

  std::string& out = *sSerializedPacket;
  std::string trailer;
  WriteRdfPacket(&out, this, &trailer, options, newlineText, indentText, baseIndent < 0 ? 0 : static_cast<size_t>(baseIndent));

  std::string space = " ";
  if (form != OutputForm::kUtf8) {
    std::string converted;
    Convert(out, &converted, form);
    out.swap(converted);
    Convert(std::string(trailer), &trailer, form);
    Convert(std::string(newlineText), &newlineText, form);
    Convert(std::string(" "), &space, form);
  }
  if (options & kXMP_ExactPacketLength) {
    if (pad < out.size() + trailer.size()) XMP_Throw(kXMPErr_BadSerialize, "Can't fit into specified packet size");
    pad -= out.size() + trailer.size();
  }
  const size_t newlineLen = newlineText.size();
  const size_t lineLen = newlineLen + 100 * unit;
  auto appendSpaces = [&](size_t count) {
    for (size_t i = 0; i < count; ++i) out += space;
  };
  if (pad < newlineLen) {
    appendSpaces(pad / unit);
  } else {
    pad -= newlineLen;
    while (pad >= lineLen) {
      appendSpaces(100);
      out += newlineText;
      pad -= lineLen;
    }
    appendSpaces(pad / unit);
    out += newlineText;
  }
  out += trailer;
  *packet = out.c_str();
  *length = static_cast<XMP_StringLen>(out.size());
}
