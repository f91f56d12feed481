#include "xmp/parse_normalise.h"

#include <cstring>
#include <memory>

#include "xmp/xmp_date.h"
#include "xmp/namespace_registry.h"
#include "xmp/node_locate.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_meta_parse.h"
#include "xmp/xmp_node.h"

namespace {

struct DcArrayForm {
  const char* name;
  XMP_OptionBits form;
};

// The array forms that Dublin Core properties written as simple values take.
constexpr DcArrayForm kDcArrayForms[] = {
    {"dc:creator", kXMP_PropArrayIsOrdered},
    {"dc:date", kXMP_PropArrayIsOrdered},
    {"dc:description", kXMP_PropArrayIsAltText},
    {"dc:rights", kXMP_PropArrayIsAltText},
    {"dc:title", kXMP_PropArrayIsAltText},
    {"dc:contributor", kXMP_PropValueIsArray},
    {"dc:language", kXMP_PropValueIsArray},
    {"dc:publisher", kXMP_PropValueIsArray},
    {"dc:relation", kXMP_PropValueIsArray},
    {"dc:subject", kXMP_PropValueIsArray},
    {"dc:type", kXMP_PropValueIsArray},
};

void AddDefaultLanguage(XMP_Node* node) {
  node->qualifiers.insert(node->qualifiers.begin(),
                          std::make_unique<XMP_Node>(node, "xml:lang", "x-default", kXMP_PropIsQualifier));
  node->options |= kXMP_PropHasQualifiers | kXMP_PropHasLang;
}

void TransplantAliasItem(XMP_Node* schema, size_t propNum, XMP_Node* array) {
  XMP_Node* prop = schema->children[propNum].get();
  if (array->options & kXMP_PropArrayIsAltText) {
    if (prop->options & kXMP_PropHasLang) {
      XMP_Throw(kXMPErr_BadXMP, "Alias to x-default already has a language qualifier");
    }
    AddDefaultLanguage(prop);
  }
  array->children.reserve(array->children.size() + 1);
  XMP_NodeOwner owned = std::move(schema->children[propNum]);
  schema->children.erase(schema->children.begin() + static_cast<std::ptrdiff_t>(propNum));
  prop->name = "[]";
  prop->parent = array;
  array->children.insert(array->children.begin(), std::move(owned));
}

void CompareAliasAndBase(const XMP_Node* alias, const XMP_Node* base, bool outerCall) {
  bool same = alias->value == base->value && alias->children.size() == base->children.size();
  if (same && !outerCall) {
    same = alias->name == base->name && alias->options == base->options &&
           alias->qualifiers.size() == base->qualifiers.size();
  }
  if (!same) XMP_Throw(kXMPErr_BadXMP, "Mismatch between alias and base nodes");
  for (size_t i = 0; i < alias->children.size(); ++i) {
    CompareAliasAndBase(alias->children[i].get(), base->children[i].get(), false);
  }
  for (size_t i = 0; i < alias->qualifiers.size(); ++i) {
    CompareAliasAndBase(alias->qualifiers[i].get(), base->qualifiers[i].get(), false);
  }
}

void RestoreControlCharsInTree(XMP_Node* node) {
  if (node->options & kXMP_PropCompositeMask) {
    for (XMP_NodeOwner& child : node->children) RestoreControlCharsInTree(child.get());
  } else {
    RestoreControlChars(&node->value);
  }
  for (XMP_NodeOwner& qual : node->qualifiers) RestoreControlCharsInTree(qual.get());
}

const XMP_Node* FindChild(const XMP_Node* parent, const char* name) {
  for (const XMP_NodeOwner& child : parent->children) {
    if (child->name == name) return child.get();
  }
  return nullptr;
}

void CompleteGpsTimeStamp(XMP_Node* gps, const XMP_Node* exif) {
  XMPDateValue time;
  try {
    ParseIsoDate(gps->value.c_str(), &time);
  } catch (const XMP_Error&) {
    return;
  }
  if (time.year != 0 || time.month != 0 || time.day != 0) return;
  const XMP_Node* source = FindChild(exif, "exif:DateTimeOriginal");
  if (source == nullptr) source = FindChild(exif, "exif:DateTimeDigitized");
  if (source == nullptr) return;
  XMPDateValue date;
  try {
    ParseIsoDate(source->value.c_str(), &date);
  } catch (const XMP_Error&) {
    return;
  }
  // A date-only text skips the range checks; only a real calendar date is copied.
  if (date.month < 1 || date.month > 12 || date.day < 1 || date.day > 31) return;
  time.year = date.year;
  time.month = date.month;
  time.day = date.day;
  // UTC written as an offset of zero is written as "Z".
  if (time.tzSign != 0 && time.tzHour == 0 && time.tzMinute == 0) time.tzSign = 0;
  try {
    XMP_StringPtr text = nullptr;
    XMP_StringLen length = 0;
    WriteIsoDate(time, &text, &length);
    gps->value.assign(text, length);
  } catch (const XMP_Error&) {
    // The node keeps its time-only value.
  }
}

void RepairSchema(XMP_Node* schema) {
  for (XMP_NodeOwner& prop : schema->children) RestoreControlCharsInTree(prop.get());
  if (schema->name == kXMP_NS_DC) {
    for (XMP_NodeOwner& prop : schema->children) {
      if (prop->name == "dc:subject") {
        prop->options &= ~(kXMP_PropArrayIsOrdered | kXMP_PropArrayIsAlternate | kXMP_PropArrayIsAltText);
      }
    }
  } else if (schema->name == kXMP_NS_EXIF) {
    for (XMP_NodeOwner& prop : schema->children) {
      if (prop->name == "exif:GPSTimeStamp") CompleteGpsTimeStamp(prop.get(), schema);
    }
  }
}

bool IsUuidText(const std::string& text) {
  if (text.compare(0, 5, "uuid:") == 0) return true;
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    bool dashPlace = i == 8 || i == 13 || i == 18 || i == 23;
    if (dashPlace != (c == '-')) return false;
    if (!dashPlace && !((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

bool IsUpperHex(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return c <= '9' ? c - '0' : c - 'A' + 10; }

}  // namespace

void MakeDCArrays(XMP_Node* tree) {
  XMP_Node* dc = LocateSchemaNode(tree, kXMP_NS_DC, false);
  if (dc == nullptr) return;
  for (XMP_NodeOwner& slot : dc->children) {
    XMP_Node* prop = slot.get();
    if (prop->options & kXMP_PropCompositeMask) continue;
    XMP_OptionBits form = 0;
    for (const DcArrayForm& entry : kDcArrayForms) {
      if (prop->name == entry.name) form = entry.form;
    }
    if (form == 0) continue;
    form = CheckOptions(form, false);
    auto array = std::make_unique<XMP_Node>(dc, prop->name, form);
    array->children.reserve(1);
    prop->name = "[]";
    prop->parent = array.get();
    array->children.push_back(std::move(slot));
    slot = std::move(array);
    if ((form & kXMP_PropArrayIsAltText) && !(prop->options & kXMP_PropHasLang)) AddDefaultLanguage(prop);
  }
}

void MoveAliasedProperties(XMP_Node* tree, XMP_OptionBits parseOptions) {
  bool strict = (parseOptions & kXMP_StrictAliasing) != 0;
  tree->options &= ~kXMP_PropHasAliases;
  for (size_t schemaNum = 0; schemaNum < tree->children.size(); ++schemaNum) {
    XMP_Node* schema = tree->children[schemaNum].get();
    for (size_t propNum = 0; propNum < schema->children.size();) {
      XMP_Node* prop = schema->children[propNum].get();
      if (!(prop->options & kXMP_PropIsAlias)) {
        ++propNum;
        continue;
      }
      prop->options &= ~kXMP_PropIsAlias;
      auto alias = sAliasMap->find(prop->name);
      if (alias == sAliasMap->end()) {  // the parser marks registered aliases only
        ++propNum;
        continue;
      }
      const XMP_ExpandedXPath& actual = alias->second;
      const std::string& actualName = actual[kRootPropStep].step;
      XMP_OptionBits form = actual[kRootPropStep].options & kXMP_PropArrayFormMask;
      XMP_Node* actualSchema = LocateSchemaNode(tree, actual[kSchemaStep].step, true);
      actualSchema->options &= ~kXMP_NewImplicitNode;
      XMP_Node* base = LocateChildNode(actualSchema, actualName, false);
      if (base == nullptr) {
        if (form == 0) {
          actualSchema->children.reserve(actualSchema->children.size() + 1);
          XMP_NodeOwner owned = std::move(schema->children[propNum]);
          schema->children.erase(schema->children.begin() + static_cast<std::ptrdiff_t>(propNum));
          prop->name = actualName;
          prop->parent = actualSchema;
          actualSchema->children.push_back(std::move(owned));
        } else {
          actualSchema->children.push_back(std::make_unique<XMP_Node>(actualSchema, actualName, form));
          TransplantAliasItem(schema, propNum, actualSchema->children.back().get());
        }
        continue;
      }
      if (form != 0) {
        const XMP_Node* item = nullptr;
        if (form & kXMP_PropArrayIsAltText) {
          XMP_Index index = FindItemByLanguage(base, "x-default");
          if (index >= 0) item = base->children[static_cast<size_t>(index)].get();
        } else if (!base->children.empty()) {
          item = base->children[0].get();
        }
        if (item == nullptr) {
          TransplantAliasItem(schema, propNum, base);
          continue;
        }
        if (strict) CompareAliasAndBase(prop, item, true);
      } else if (strict) {
        CompareAliasAndBase(prop, base, true);
      }
      schema->children.erase(schema->children.begin() + static_cast<std::ptrdiff_t>(propNum));
    }
    if (schema->children.empty()) {
      tree->children.erase(tree->children.begin() + static_cast<std::ptrdiff_t>(schemaNum));
      --schemaNum;
    }
  }
}

void RepairTree(XMP_Node* tree) {
  for (size_t i = 0; i < tree->children.size(); ++i) RepairSchema(tree->children[i].get());
  if (tree->name.empty() || !IsUuidText(tree->name)) return;
  XMP_ExpandedXPath path;
  SplitPath(kXMP_NS_XMP_MM, "InstanceID", &path);
  XMP_Node* node = LocateNode(tree, path, true);
  if (node == nullptr) XMP_Throw(kXMPErr_InternalFailure, "Failure creating xmpMM:InstanceID");
  node->options = 0;
  node->value = tree->name;
  node->ClearChildNodes();
  node->ClearQualifierNodes();
  tree->name.clear();
}

void RestoreControlChars(std::string* text) {
  const std::string& in = *text;
  if (in.size() < 5 || in.find("&#x") == std::string::npos) return;
  std::string out;
  out.reserve(in.size());
  size_t i = 0;
  while (i < in.size()) {
    if (i + 5 <= in.size() && in.compare(i, 3, "&#x") == 0 && IsUpperHex(in[i + 3])) {
      size_t j = i + 3;
      unsigned value = static_cast<unsigned>(HexValue(in[j++]));
      if (IsUpperHex(in[j])) value = value * 16 + static_cast<unsigned>(HexValue(in[j++]));
      if (j < in.size() && in[j] == ';') {
        // The character is written as UTF-8, so values of 0x80 and above
        // stay valid text.
        if (value < 0x80) {
          out += static_cast<char>(value);
        } else {
          out += static_cast<char>(0xC0 | (value >> 6));
          out += static_cast<char>(0x80 | (value & 0x3F));
        }
        i = j + 1;
        continue;
      }
    }
    out += in[i++];
  }
  text->swap(out);
}
