// Reading, writing and removing properties of a metadata object.
#include "xmp/property_access.h"

#include <algorithm>
#include <string>
#include <vector>

#include "xmp/node_locate.h"
#include "xmp/unicode_converters.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"
#include "xmp/xmp_utils.h"

namespace {

std::string_view TextOrEmpty(XMP_StringPtr text) { return text == nullptr ? std::string_view() : text; }

XMP_ExpandedXPath Expand(XMP_StringPtr schemaNS, XMP_StringPtr path) {
  XMP_ExpandedXPath expanded;
  SplitPath(TextOrEmpty(schemaNS), TextOrEmpty(path), &expanded);
  return expanded;
}

std::string NormalizedLang(XMP_StringPtr language) {
  std::string text(TextOrEmpty(language));
  CanonicalizeLangTag(&text);
  return text;
}

const std::string& LanguageOf(const XMP_Node& item) { return item.qualifiers[0]->value; }

}  // namespace

void AssignSimpleValue(XMP_Node* node, std::string_view value) {
  CheckUtf8Text(value);
  node->value = value;
  if ((node->options & kXMP_PropIsQualifier) && node->name == "xml:lang") CanonicalizeLangTag(&node->value);
}

void AssignNode(XMP_Node* node, XMP_StringPtr value, XMP_OptionBits options) {
  const bool deleteExisting = (options & kXMP_DeleteExisting) != 0;
  options &= ~XMP_OptionBits{kXMP_DeleteExisting};
  const XMP_OptionBits newOptions = deleteExisting ? options : node->options | options;
  if (value != nullptr) {
    if (newOptions & kXMP_PropCompositeMask) XMP_Throw(kXMPErr_BadXPath, "Composite nodes can't have values");
    CheckUtf8Text(value);
  } else {
    if (!deleteExisting && !node->value.empty()) XMP_Throw(kXMPErr_BadXPath, "Composite nodes can't have values");
    if ((newOptions & kXMP_PropCompositeMask) != (options & kXMP_PropCompositeMask)) {
      XMP_Throw(kXMPErr_BadXPath, "Requested and existing composite form mismatch");
    }
  }
  if (deleteExisting) {
    node->value.clear();
    node->ClearChildNodes();
    node->ClearQualifierNodes();
  }
  node->options = newOptions;
  if (value != nullptr) {
    AssignSimpleValue(node, value);
  } else {
    node->ClearChildNodes();
  }
}

void PutArrayItem(XMP_Node* array, XMP_Index index, XMP_StringPtr value, XMP_OptionBits options) {
  XMP_OptionBits location = options & (kXMP_InsertBeforeItem | kXMP_InsertAfterItem);
  options = CheckOptions(options & ~location, value != nullptr);
  if (value != nullptr) CheckUtf8Text(value);  // before any item is made
  const auto count = static_cast<XMP_Index>(array->children.size());
  if (index == -1) index = count;
  if (index == 0 && location == kXMP_InsertAfterItem) {
    index = 1;
    location = kXMP_InsertBeforeItem;
  }
  if (index == count && location == kXMP_InsertAfterItem) {
    index = count + 1;
    location = 0;
  }
  XMP_Node* item;
  if (index == count + 1) {
    if (location == kXMP_InsertAfterItem) XMP_Throw(kXMPErr_BadIndex, "Can't insert before or after implicit new item");
    array->children.push_back(std::make_unique<XMP_Node>(array, "[]", 0));
    item = array->children.back().get();
  } else {
    if (index < 1 || index > count) XMP_Throw(kXMPErr_BadIndex, "Array index out of bounds");
    if (location != 0) {
      const XMP_Index at = location == kXMP_InsertBeforeItem ? index - 1 : index;
      const auto where = array->children.insert(array->children.begin() + at, std::make_unique<XMP_Node>(array, "[]", 0));
      item = where->get();
    } else {
      item = array->children[static_cast<size_t>(index - 1)].get();
    }
  }
  AssignNode(item, value, options);
}

void AddLanguageItem(XMP_Node* array, std::string_view language, std::string_view value) {
  auto item = std::make_unique<XMP_Node>(array, "[]", value, kXMP_PropHasQualifiers | kXMP_PropHasLang);
  item->qualifiers.push_back(std::make_unique<XMP_Node>(item.get(), "xml:lang", language, kXMP_PropIsQualifier));
  if (language == "x-default" && !array->children.empty()) {
    array->children.insert(array->children.begin(), std::move(item));
  } else {
    array->children.push_back(std::move(item));
  }
}

namespace {

// ChooseLocalizedText over items in a given order (which may be an order
// the array is about to take).
XMP_CLTMatch ChooseFromItems(const std::vector<const XMP_Node*>& items, std::string_view genericLang,
                             std::string_view specificLang, const XMP_Node** chosen) {
  *chosen = nullptr;
  if (items.empty()) return kXMP_CLT_NoValues;
  for (const XMP_Node* item : items) {
    if (item->options & kXMP_PropCompositeMask) XMP_Throw(kXMPErr_BadXPath, "Alt-text array item is not simple");
    if (item->qualifiers.empty() || item->qualifiers[0]->name != "xml:lang") {
      XMP_Throw(kXMPErr_BadXPath, "Alt-text array item has no language qualifier");
    }
  }
  for (const XMP_Node* item : items) {
    if (LanguageOf(*item) == specificLang) {
      *chosen = item;
      return kXMP_CLT_SpecificMatch;
    }
  }
  if (!genericLang.empty()) {
    const auto matchesGeneric = [genericLang](const XMP_Node* item) {
      const std::string& language = LanguageOf(*item);
      return language.compare(0, genericLang.size(), genericLang) == 0 &&
             (language.size() == genericLang.size() || language[genericLang.size()] == '-');
    };
    const auto first = std::find_if(items.begin(), items.end(), matchesGeneric);
    if (first != items.end()) {
      *chosen = *first;
      return std::find_if(first + 1, items.end(), matchesGeneric) != items.end() ? kXMP_CLT_MultipleGeneric
                                                                                 : kXMP_CLT_SingleGeneric;
    }
  }
  for (const XMP_Node* item : items) {
    if (LanguageOf(*item) == "x-default") {
      *chosen = item;
      return kXMP_CLT_XDefault;
    }
  }
  *chosen = items.front();
  return kXMP_CLT_FirstItem;
}

std::vector<const XMP_Node*> ItemsOf(const XMP_Node* array) {
  std::vector<const XMP_Node*> items;
  items.reserve(array->children.size());
  for (const XMP_NodeOwner& item : array->children) items.push_back(item.get());
  return items;
}

}  // namespace

XMP_CLTMatch ChooseLocalizedText(const XMP_Node* array, std::string_view genericLang, std::string_view specificLang,
                                 const XMP_Node** item) {
  const bool altText = (array->options & kXMP_PropArrayIsAltText) != 0;
  const bool emptyAlternate = array->children.empty() && (array->options & kXMP_PropArrayIsAlternate);
  if (!altText && !emptyAlternate) XMP_Throw(kXMPErr_BadXPath, "Localized text array is not alt-text");
  return ChooseFromItems(ItemsOf(array), genericLang, specificLang, item);
}

bool XMPMeta::GetProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr* propValue,
                          XMP_StringLen* valueSize, XMP_OptionBits* options) const {
  const XMP_ExpandedXPath expanded = Expand(schemaNS, propName);
  const XMP_Node* node = LocateNode(const_cast<XMP_Node*>(&tree), expanded, false);
  if (node == nullptr) return false;
  *propValue = node->value.c_str();
  *valueSize = static_cast<XMP_StringLen>(node->value.size());
  *options = node->options;
  return true;
}

bool XMPMeta::GetArrayItem(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_Index itemIndex,
                           XMP_StringPtr* itemValue, XMP_StringLen* valueSize, XMP_OptionBits* options) const {
  XMP_StringPtr path;
  XMP_StringLen pathSize;
  XMPUtils::MakeArrayItemPath(schemaNS, arrayName, itemIndex, &path, &pathSize);
  return GetProperty(schemaNS, path, itemValue, valueSize, options);
}

bool XMPMeta::GetStructField(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                             XMP_StringPtr fieldName, XMP_StringPtr* fieldValue, XMP_StringLen* valueSize,
                             XMP_OptionBits* options) const {
  XMP_StringPtr path;
  XMP_StringLen pathSize;
  XMPUtils::MakeStructFieldPath(schemaNS, structName, fieldNS, fieldName, &path, &pathSize);
  return GetProperty(schemaNS, path, fieldValue, valueSize, options);
}

void XMPMeta::SetProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName, XMP_StringPtr propValue,
                          XMP_OptionBits options) {
  options = CheckOptions(options, propValue != nullptr);
  // Checked before the walk, so a bad value never leaves new nodes behind.
  if (propValue != nullptr) CheckUtf8Text(propValue);
  const XMP_ExpandedXPath expanded = Expand(schemaNS, propName);
  XMP_Node* node = LocateNode(&tree, expanded, true, options);
  if (node == nullptr) XMP_Throw(kXMPErr_BadXPath, "Specified property does not exist");
  AssignNode(node, propValue, options);
}

void XMPMeta::SetStructField(XMP_StringPtr schemaNS, XMP_StringPtr structName, XMP_StringPtr fieldNS,
                             XMP_StringPtr fieldName, XMP_StringPtr fieldValue, XMP_OptionBits options) {
  XMP_StringPtr path;
  XMP_StringLen pathSize;
  XMPUtils::MakeStructFieldPath(schemaNS, structName, fieldNS, fieldName, &path, &pathSize);
  const std::string composed(path, pathSize);  // SetProperty may compose again
  SetProperty(schemaNS, composed.c_str(), fieldValue, options);
}

void XMPMeta::AppendArrayItem(XMP_StringPtr schemaNS, XMP_StringPtr arrayName, XMP_OptionBits arrayOptions,
                              XMP_StringPtr itemValue, XMP_OptionBits itemOptions) {
  arrayOptions = CheckOptions(arrayOptions, false);
  if (arrayOptions & ~XMP_OptionBits{kXMP_PropArrayFormMask}) {
    XMP_Throw(kXMPErr_BadOptions, "Only array form flags allowed for arrayOptions");
  }
  const XMP_ExpandedXPath expanded = Expand(schemaNS, arrayName);
  XMP_Node* array = LocateNode(&tree, expanded, false);
  if (array != nullptr) {
    if (!(array->options & kXMP_PropValueIsArray)) XMP_Throw(kXMPErr_BadXPath, "The named property is not an array");
    if (arrayOptions != 0 && arrayOptions != (array->options & kXMP_PropArrayFormMask)) {
      XMP_Throw(kXMPErr_BadOptions, "Mismatch of existing and specified array form");
    }
  } else {
    if (arrayOptions == 0) XMP_Throw(kXMPErr_BadOptions, "Explicit arrayOptions required to create new array");
    // The item is checked before the array is made, so a refused item
    // never leaves an empty new array behind.
    const XMP_OptionBits location = kXMP_InsertBeforeItem | kXMP_InsertAfterItem;
    CheckOptions(itemOptions & ~location, itemValue != nullptr);
    if (itemValue != nullptr) CheckUtf8Text(itemValue);
    array = LocateNode(&tree, expanded, true, arrayOptions);
    if (array == nullptr) XMP_Throw(kXMPErr_BadXPath, "Failure creating array node");
  }
  PutArrayItem(array, -1, itemValue, itemOptions | kXMP_InsertAfterItem);
}

void XMPMeta::DeleteProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName) {
  const XMP_ExpandedXPath expanded = Expand(schemaNS, propName);
  XMP_Node* node = LocateNode(&tree, expanded, false);
  if (node == nullptr) return;
  XMP_Node* parent = node->parent;
  const bool isQualifier = (node->options & kXMP_PropIsQualifier) != 0;
  RemoveNodeFromParent(node);
  if (!isQualifier) RemoveEmptySchema(parent);
}

bool XMPMeta::HasProperty(XMP_StringPtr schemaNS, XMP_StringPtr propName) const {
  const XMP_ExpandedXPath expanded = Expand(schemaNS, propName);
  return LocateNode(const_cast<XMP_Node*>(&tree), expanded, false) != nullptr;
}

bool XMPMeta::GetLocalizedText(XMP_StringPtr schemaNS, XMP_StringPtr altTextName, XMP_StringPtr genericLang,
                               XMP_StringPtr specificLang, XMP_StringPtr* actualLang, XMP_StringLen* langSize,
                               XMP_StringPtr* itemValue, XMP_StringLen* valueSize, XMP_OptionBits* options) const {
  const std::string generic = NormalizedLang(genericLang);
  const std::string specific = NormalizedLang(specificLang);
  const XMP_ExpandedXPath expanded = Expand(schemaNS, altTextName);
  const XMP_Node* array = LocateNode(const_cast<XMP_Node*>(&tree), expanded, false);
  if (array == nullptr) return false;
  const XMP_Node* item = nullptr;
  if (ChooseLocalizedText(array, generic, specific, &item) == kXMP_CLT_NoValues) return false;
  const std::string& language = LanguageOf(*item);
  *actualLang = language.c_str();
  *langSize = static_cast<XMP_StringLen>(language.size());
  *itemValue = item->value.c_str();
  *valueSize = static_cast<XMP_StringLen>(item->value.size());
  *options = item->options;
  return true;
}

void XMPMeta::SetLocalizedText(XMP_StringPtr schemaNS, XMP_StringPtr altTextName, XMP_StringPtr genericLang,
                               XMP_StringPtr specificLang, XMP_StringPtr itemValue, XMP_OptionBits /*options*/) {
  const std::string generic = NormalizedLang(genericLang);
  const std::string specific = NormalizedLang(specificLang);
  const std::string_view value = TextOrEmpty(itemValue);
  const XMP_ExpandedXPath expanded = Expand(schemaNS, altTextName);
  XMP_Node* array = LocateNode(&tree, expanded, true,
                               kXMP_PropValueIsArray | kXMP_PropArrayIsOrdered | kXMP_PropArrayIsAlternate);
  if (array == nullptr) XMP_Throw(kXMPErr_BadXPath, "Failed to find or create array node");

  // Everything that can refuse the call is decided on the order the items
  // are about to take, before the array changes.
  if (!(array->options & kXMP_PropArrayIsAltText) &&
      (!array->children.empty() || !(array->options & kXMP_PropArrayIsAlternate))) {
    XMP_Throw(kXMPErr_BadXPath, "Localized text array is not alt-text");
  }
  XMP_NodeList& items = array->children;
  size_t defaultIndex = items.size();
  for (size_t i = 0; i < items.size(); ++i) {
    const XMP_Node& item = *items[i];
    if (item.qualifiers.empty() || item.qualifiers[0]->name != "xml:lang") {
      XMP_Throw(kXMPErr_BadXPath, "Language qualifier must be first");
    }
    if (item.qualifiers[0]->value == "x-default") {
      defaultIndex = i;
      break;
    }
  }
  bool haveDefault = defaultIndex < items.size();
  std::vector<const XMP_Node*> order = ItemsOf(array);
  if (haveDefault) std::swap(order[0], order[defaultIndex]);
  const XMP_Node* chosen = nullptr;
  const XMP_CLTMatch match = ChooseFromItems(order, generic, specific, &chosen);
  const bool specificIsDefault = specific == "x-default";
  const bool assignsValues = match == kXMP_CLT_SpecificMatch || match == kXMP_CLT_SingleGeneric ||
                             (match == kXMP_CLT_XDefault && items.size() == 1);
  if (assignsValues) CheckUtf8Text(value);

  array->options |= kXMP_PropArrayIsAltText;
  if (haveDefault) std::swap(items[0], items[defaultIndex]);
  XMP_Node* defaultItem = haveDefault ? items[0].get() : nullptr;
  auto* chosenItem = const_cast<XMP_Node*>(chosen);

  switch (match) {
    case kXMP_CLT_NoValues:
      AddLanguageItem(array, "x-default", value);
      haveDefault = true;
      if (!specificIsDefault) AddLanguageItem(array, specific, value);
      break;
    case kXMP_CLT_SpecificMatch:
      if (specificIsDefault) {
        for (const XMP_NodeOwner& item : items) {
          if (item.get() != chosenItem && item->value == chosenItem->value) AssignSimpleValue(item.get(), value);
        }
        AssignSimpleValue(chosenItem, value);
        break;
      }
      [[fallthrough]];
    case kXMP_CLT_SingleGeneric:
      if (defaultItem != nullptr && defaultItem != chosenItem && defaultItem->value == chosenItem->value) {
        AssignSimpleValue(defaultItem, value);
      }
      AssignSimpleValue(chosenItem, value);
      break;
    case kXMP_CLT_MultipleGeneric:
    case kXMP_CLT_FirstItem:
      AddLanguageItem(array, specific, value);
      if (specificIsDefault) haveDefault = true;
      break;
    case kXMP_CLT_XDefault:
      if (items.size() == 1) AssignSimpleValue(defaultItem, value);
      AddLanguageItem(array, specific, value);
      break;
    default:
      XMP_Throw(kXMPErr_InternalFailure, "Unexpected result from ChooseLocalizedText");
  }
  if (!haveDefault && items.size() == 1) AddLanguageItem(array, "x-default", value);
}
