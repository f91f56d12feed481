// Expansion of property path texts into steps.
#include "xmp/xpath.h"

#include "xmp/namespace_registry.h"
#include "xmp/unicode_converters.h"
#include "xmp/xmp_error.h"

namespace {

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsNonAsciiNameStartChar(UTF32Unit cp) {
  return (cp >= 0xC0 && cp <= 0xD6) || (cp >= 0xD8 && cp <= 0xF6) || (cp >= 0xF8 && cp <= 0x2FF) ||
         (cp >= 0x370 && cp <= 0x37D) || (cp >= 0x37F && cp <= 0x1FFF) || (cp >= 0x200C && cp <= 0x200D) ||
         (cp >= 0x2070 && cp <= 0x218F) || (cp >= 0x2C00 && cp <= 0x2FEF) || (cp >= 0x3001 && cp <= 0xD7FF) ||
         (cp >= 0xF900 && cp <= 0xFDCF) || (cp >= 0xFDF0 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0xEFFFF);
}

bool IsNonAsciiNameChar(UTF32Unit cp) {
  return IsNonAsciiNameStartChar(cp) || cp == 0xB7 || (cp >= 0x300 && cp <= 0x36F) ||
         (cp >= 0x203F && cp <= 0x2040);
}

// One code point of a name; a sequence cut off by the end of the name is
// malformed, never "nothing read".
UTF32Unit NextUtf8CodePoint(std::string_view text, size_t* pos) {
  const auto* bytes = reinterpret_cast<const UTF8Unit*>(text.data()) + *pos;
  const size_t left = text.size() - *pos;
  UTF32Unit cp = 0;
  size_t read = 0;
  DecodeUtf8CodePoint(bytes, left < 4 ? left : 4, &cp, &read);
  if (read == 0) XMP_Throw(kXMPErr_BadParam, "Invalid UTF-8 data byte");
  *pos += read;
  return cp;
}

}  // namespace

void CheckXmlName(std::string_view name) {
  if (name.empty()) XMP_Throw(kXMPErr_BadXPath, "Empty XML name");
  size_t pos = 0;
  bool first = true;
  while (pos < name.size()) {
    const char c = name[pos];
    bool ok;
    if (static_cast<unsigned char>(c) >= 0x80) {
      const UTF32Unit cp = NextUtf8CodePoint(name, &pos);
      ok = first ? IsNonAsciiNameStartChar(cp) : IsNonAsciiNameChar(cp);
    } else {
      ok = IsAsciiLetter(c) || c == '_' || (!first && (IsAsciiDigit(c) || c == '-' || c == '.'));
      ++pos;
    }
    if (!ok) XMP_Throw(kXMPErr_BadXPath, "Bad XML name");
    first = false;
  }
}

void CheckQualName(std::string_view qualName) {
  if (qualName.empty()) XMP_Throw(kXMPErr_BadXPath, "Empty qualified name");
  const size_t colon = qualName.find(':');
  if (colon == std::string_view::npos || colon == 0) XMP_Throw(kXMPErr_BadXPath, "Ill-formed qualified name");
  CheckXmlName(qualName.substr(0, colon));
  CheckXmlName(qualName.substr(colon + 1));
  if (FindURIForPrefix(qualName.substr(0, colon + 1)) == nullptr) {
    XMP_Throw(kXMPErr_BadXPath, "Unknown namespace prefix for qualified name");
  }
}

void CheckRootStep(std::string_view schemaNS, std::string_view rootName, XMP_ExpandedXPath* expandedXPath) {
  if (schemaNS.empty()) XMP_Throw(kXMPErr_BadSchema, "Schema namespace URI is required");
  if (!rootName.empty() && (rootName[0] == '?' || rootName[0] == '@')) {
    XMP_Throw(kXMPErr_BadXPath, "Top level name must not be a qualifier");
  }
  if (rootName.find_first_of("/[") != std::string_view::npos) {
    XMP_Throw(kXMPErr_BadXPath, "Top level name must be simple");
  }
  const std::string* prefix = FindPrefixForURI(schemaNS);
  if (prefix == nullptr) XMP_Throw(kXMPErr_BadSchema, "Unregistered schema namespace URI");
  const size_t colon = rootName.find(':');
  CheckXmlName(rootName.substr(0, colon));
  if (colon == std::string_view::npos) {
    expandedXPath->emplace_back(std::string(schemaNS), kXMP_SchemaNode);
    expandedXPath->emplace_back(*prefix + std::string(rootName), 0);
    return;
  }
  CheckXmlName(rootName.substr(colon + 1));
  const std::string_view rootPrefix = rootName.substr(0, colon + 1);
  if (FindURIForPrefix(rootPrefix) == nullptr) XMP_Throw(kXMPErr_BadSchema, "Unknown schema namespace prefix");
  if (rootPrefix != *prefix) XMP_Throw(kXMPErr_BadSchema, "Schema namespace URI and prefix mismatch");
  expandedXPath->emplace_back(std::string(schemaNS), kXMP_SchemaNode);
  expandedXPath->emplace_back(std::string(rootName), 0);
}

void SplitPath(std::string_view schemaNS, std::string_view path, XMP_ExpandedXPath* expandedXPath) {
  expandedXPath->clear();
  size_t separators = 0;
  for (char c : path) separators += (c == '/' || c == '[');
  expandedXPath->reserve(2 + separators);

  size_t pos = path.find_first_of("/[*");
  if (pos == std::string_view::npos) pos = path.size();
  if (pos == 0) XMP_Throw(kXMPErr_BadXPath, "Empty initial XPath step");
  CheckRootStep(schemaNS, path.substr(0, pos), expandedXPath);
  XPathStep& root = (*expandedXPath)[kRootPropStep];
  root.options = kXMP_StructFieldStep;
  if (IsRegisteredAlias(root.step)) root.options |= kXMP_StepIsAlias;

  const size_t end = path.size();
  while (pos < end) {
    if (path[pos] == '/') ++pos;
    if (pos < end && path[pos] == '*') {
      ++pos;
      if (pos >= end || path[pos] != '[') XMP_Throw(kXMPErr_BadXPath, "Missing '[' after '*'");
    }
    const size_t begin = pos;
    XMP_OptionBits kind;
    if (pos < end && path[pos] == '[') {
      ++pos;
      if (pos < end && IsAsciiDigit(path[pos])) {
        while (pos < end && IsAsciiDigit(path[pos])) ++pos;
        if (pos >= end || path[pos] != ']') XMP_Throw(kXMPErr_BadXPath, "Missing ']' for integer array index");
        kind = kXMP_ArrayIndexStep;
      } else {
        while (pos < end && path[pos] != ']' && path[pos] != '=') ++pos;
        if (pos >= end) XMP_Throw(kXMPErr_BadXPath, "Missing ']' or '=' for array index");
        if (path[pos] == ']') {
          const std::string_view lead = path.substr(begin, pos - begin);
          if (std::string_view("[last()").substr(0, lead.size()) != lead) {
            XMP_Throw(kXMPErr_BadXPath, "Invalid non-numeric array index");
          }
          kind = kXMP_ArrayLastStep;
        } else {
          ++pos;
          if (pos >= end || (path[pos] != '\'' && path[pos] != '"')) {
            XMP_Throw(kXMPErr_BadXPath, "Invalid quote in array selector");
          }
          const char quote = path[pos++];
          for (;;) {
            if (pos >= end) XMP_Throw(kXMPErr_BadXPath, "No terminating quote for array selector");
            if (path[pos] == quote) {
              if (pos + 1 < end && path[pos + 1] == quote) {
                pos += 2;
                continue;
              }
              break;
            }
            ++pos;
          }
          ++pos;  // past the closing quote
          kind = kXMP_FieldSelectorStep;
        }
      }
      if (pos >= end || path[pos] != ']') XMP_Throw(kXMPErr_BadXPath, "Missing ']' for array index");
      ++pos;
    } else {
      while (pos < end && path[pos] != '/' && path[pos] != '[' && path[pos] != '*') ++pos;
      kind = kXMP_StructFieldStep;
    }
    if (pos == begin) XMP_Throw(kXMPErr_BadXPath, "Empty XPath step");

    std::string text(path.substr(begin, pos - begin));
    if (kind == kXMP_StructFieldStep) {
      if (text[0] == '@') {
        text[0] = '?';
        if (text != "?xml:lang") XMP_Throw(kXMPErr_BadXPath, "Only xml:lang allowed with '@'");
      }
      if (text[0] == '?') {
        kind = kXMP_QualifierStep;
        CheckQualName(std::string_view(text).substr(1));
      } else {
        CheckQualName(text);
      }
    } else if (kind == kXMP_FieldSelectorStep) {
      if (text[1] == '@') {
        text[1] = '?';
        if (text.compare(0, 11, "[?xml:lang=") != 0) XMP_Throw(kXMPErr_BadXPath, "Only xml:lang allowed with '@'");
      }
      size_t nameBegin = 1;
      if (text[1] == '?') {
        kind = kXMP_QualSelectorStep;
        nameBegin = 2;
      }
      const size_t equals = text.find('=');
      CheckQualName(std::string_view(text).substr(nameBegin, equals - nameBegin));
    }
    expandedXPath->emplace_back(std::move(text), kind);
  }
}

void SplitSelector(std::string_view stepText, std::string* name, std::string* value) {
  const size_t equals = stepText.find('=');
  const size_t nameBegin = stepText[1] == '?' ? 2 : 1;
  *name = stepText.substr(nameBegin, equals - nameBegin);
  const char quote = stepText[stepText.size() - 2];
  value->clear();
  for (size_t i = equals + 2; i + 2 < stepText.size(); ++i) {
    value->push_back(stepText[i]);
    if (stepText[i] == quote) ++i;  // a doubled quote stands for one
  }
}
