// Path walks through the metadata tree.
#include "xmp/node_locate.h"

#include <cstdint>

#include "xmp/namespace_registry.h"
#include "xmp/xmp_error.h"
#include "xmp/xmp_meta.h"

namespace {

XMP_Node* FindByName(XMP_NodeList& list, std::string_view name, size_t* position) {
  for (size_t i = 0; i < list.size(); ++i) {
    if (list[i]->name == name) {
      if (position != nullptr) *position = i;
      return list[i].get();
    }
  }
  return nullptr;
}

bool HasNewImplicitBit(const XMP_Node* node) { return (node->options & kXMP_NewImplicitNode) != 0; }

}  // namespace

XMP_Node* LocateSchemaNode(XMP_Node* xmpTree, std::string_view namespaceURI, bool createNodes,
                           size_t* position) {
  if (XMP_Node* found = FindByName(xmpTree->children, namespaceURI, position)) return found;
  if (!createNodes) return nullptr;
  const std::string* prefix = FindPrefixForURI(namespaceURI);
  auto schema = std::make_unique<XMP_Node>(xmpTree, namespaceURI, prefix == nullptr ? "" : *prefix,
                                           kXMP_SchemaNode | kXMP_NewImplicitNode);
  xmpTree->children.push_back(std::move(schema));
  if (position != nullptr) *position = xmpTree->children.size() - 1;
  return xmpTree->children.back().get();
}

XMP_Node* LocateChildNode(XMP_Node* parent, std::string_view childName, bool createNodes, size_t* position) {
  if (!(parent->options & (kXMP_SchemaNode | kXMP_PropValueIsStruct))) {
    if (!HasNewImplicitBit(parent)) {
      XMP_Throw(kXMPErr_BadXPath, "Named children only allowed for schemas and structs");
    }
    if (parent->options & kXMP_PropValueIsArray) {
      XMP_Throw(kXMPErr_BadXPath, "Named children not allowed for arrays");
    }
    if (!createNodes) XMP_Throw(kXMPErr_InternalFailure, "Parent is new implicit node, but createNodes is false");
    parent->options |= kXMP_PropValueIsStruct;
  }
  if (XMP_Node* found = FindByName(parent->children, childName, position)) return found;
  if (!createNodes) return nullptr;
  parent->children.push_back(std::make_unique<XMP_Node>(parent, childName, kXMP_NewImplicitNode));
  if (position != nullptr) *position = parent->children.size() - 1;
  return parent->children.back().get();
}

XMP_Node* LocateQualifierNode(XMP_Node* parent, std::string_view qualName, bool createNodes, size_t* position) {
  if (XMP_Node* found = FindByName(parent->qualifiers, qualName, position)) return found;
  if (!createNodes) return nullptr;
  auto qualifier = std::make_unique<XMP_Node>(parent, qualName, kXMP_PropIsQualifier | kXMP_NewImplicitNode);
  XMP_NodeList& list = parent->qualifiers;
  size_t at = list.size();
  if (!list.empty()) {
    if (qualName == "xml:lang") {
      at = 0;
    } else if (qualName == "rdf:type") {
      at = (parent->options & kXMP_PropHasLang) ? 1 : 0;
    }
  }
  list.insert(list.begin() + static_cast<ptrdiff_t>(at), std::move(qualifier));
  parent->options |= kXMP_PropHasQualifiers;
  if (qualName == "xml:lang") parent->options |= kXMP_PropHasLang;
  if (qualName == "rdf:type") parent->options |= kXMP_PropHasType;
  if (position != nullptr) *position = at;
  return list[at].get();
}

XMP_Index LocateIndexedItem(std::string_view indexStep, XMP_Node* array, bool createNodes) {
  int64_t value = 0;
  for (size_t i = 1; i + 1 < indexStep.size(); ++i) {
    value = value * 10 + (indexStep[i] - '0');
    if (value > INT32_MAX) XMP_Throw(kXMPErr_BadXPath, "Array index overflow");
  }
  if (value < 1) XMP_Throw(kXMPErr_BadXPath, "Array index must be larger than zero");
  const size_t count = array->children.size();
  if (static_cast<size_t>(value) == count + 1 && createNodes) {
    array->children.push_back(std::make_unique<XMP_Node>(array, "[]", kXMP_NewImplicitNode));
  }
  const size_t index = static_cast<size_t>(value - 1);
  return index < array->children.size() ? static_cast<XMP_Index>(index) : -1;
}

XMP_Index FindItemByField(const XMP_Node* array, std::string_view fieldName, std::string_view fieldValue) {
  for (size_t i = 0; i < array->children.size(); ++i) {
    const XMP_Node& item = *array->children[i];
    if (!(item.options & kXMP_PropValueIsStruct)) {
      XMP_Throw(kXMPErr_BadXPath, "Field selector must be used on array of struct");
    }
    for (const XMP_NodeOwner& field : item.children) {
      if (field->name == fieldName && field->value == fieldValue) return static_cast<XMP_Index>(i);
    }
  }
  return -1;
}

XMP_Index FindItemByLanguage(const XMP_Node* array, std::string_view language) {
  if (!(array->options & kXMP_PropValueIsArray)) XMP_Throw(kXMPErr_BadXPath, "Language item must be used on array");
  for (size_t i = 0; i < array->children.size(); ++i) {
    const XMP_Node& item = *array->children[i];
    if (item.qualifiers.empty() || item.qualifiers[0]->name != "xml:lang") continue;
    if (item.qualifiers[0]->value == language) return static_cast<XMP_Index>(i);
  }
  return -1;
}

XMP_Index FindItemByQualifier(const XMP_Node* array, std::string_view qualName, std::string_view qualValue) {
  if (qualName == "xml:lang") {
    std::string language(qualValue);
    CanonicalizeLangTag(&language);
    return FindItemByLanguage(array, language);
  }
  for (size_t i = 0; i < array->children.size(); ++i) {
    for (const XMP_NodeOwner& qualifier : array->children[i]->qualifiers) {
      if (qualifier->name == qualName && qualifier->value == qualValue) return static_cast<XMP_Index>(i);
    }
  }
  return -1;
}

void MarkImplicitStruct(size_t stepNum, const XMP_ExpandedXPath& expandedXPath, XMP_Node* node, size_t stepLim) {
  if (stepNum < stepLim && !(node->options & kXMP_PropCompositeMask) &&
      StepKind(expandedXPath[stepNum]) == kXMP_StructFieldStep) {
    node->options |= kXMP_PropValueIsStruct;
  }
}

XMP_Node* FollowXPathStep(const XMP_ExpandedXPath& expandedXPath, XMP_Node* parent, size_t stepNum,
                          bool createNodes, size_t* position, bool aliasedArrayItem) {
  const XPathStep& step = expandedXPath[stepNum];
  const XMP_OptionBits kind = StepKind(step);
  XMP_Node* node = nullptr;
  if (kind == kXMP_StructFieldStep) {
    node = LocateChildNode(parent, step.step, createNodes, position);
  } else if (kind == kXMP_QualifierStep) {
    node = LocateQualifierNode(parent, std::string_view(step.step).substr(1), createNodes, position);
  } else {
    if (!(parent->options & kXMP_PropValueIsArray)) XMP_Throw(kXMPErr_BadXPath, "Indexing applied to non-array");
    XMP_Index index;
    std::string name, value;
    switch (kind) {
      case kXMP_ArrayIndexStep:
        index = LocateIndexedItem(step.step, parent, createNodes);
        break;
      case kXMP_ArrayLastStep:
        index = static_cast<XMP_Index>(parent->children.size()) - 1;
        break;
      case kXMP_FieldSelectorStep:
        SplitSelector(step.step, &name, &value);
        index = FindItemByField(parent, name, value);
        break;
      case kXMP_QualSelectorStep:
        SplitSelector(step.step, &name, &value);
        index = FindItemByQualifier(parent, name, value);
        break;
      default:
        XMP_Throw(kXMPErr_InternalFailure, "Unknown array indexing step in FollowXPathStep");
    }
    if (index >= 0 && static_cast<size_t>(index) < parent->children.size()) {
      node = parent->children[static_cast<size_t>(index)].get();
    } else if (index == -1 && createNodes && aliasedArrayItem && kind == kXMP_QualSelectorStep) {
      auto item = std::make_unique<XMP_Node>(parent, "[]",
                                             kXMP_NewImplicitNode | kXMP_PropHasQualifiers | kXMP_PropHasLang);
      item->qualifiers.push_back(std::make_unique<XMP_Node>(item.get(), "xml:lang", "x-default", kXMP_PropIsQualifier));
      parent->children.insert(parent->children.begin(), std::move(item));
      index = 0;
      node = parent->children.front().get();
    }
    if (node != nullptr && position != nullptr) *position = static_cast<size_t>(index);
  }
  if (node != nullptr && HasNewImplicitBit(node)) node->options |= (step.options & kXMP_PropArrayFormMask);
  return node;
}

XMP_Node* LocateNode(XMP_Node* xmpTree, const XMP_ExpandedXPath& expandedXPath, bool createNodes,
                     XMP_OptionBits leafOptions, size_t* position) {
  if (expandedXPath.empty()) XMP_Throw(kXMPErr_BadXPath, "Empty XPath");
  const size_t stepLim = expandedXPath.size();
  XMP_Node* createdRoot = nullptr;  // the first node this walk made
  size_t nodePosition = 0;

  // Clears a node's new-implicit bit, remembers the first such node, and
  // makes a new node a struct when the client's next step names a field.
  const auto settle = [&](XMP_Node* node, size_t nextStep, bool belowSchema) {
    if (!HasNewImplicitBit(node)) return;
    node->options &= ~XMP_OptionBits{kXMP_NewImplicitNode};
    if (createdRoot == nullptr) createdRoot = node;
    if (belowSchema) MarkImplicitStruct(nextStep, expandedXPath, node, stepLim);
  };

  XMP_Node* node = nullptr;
  try {
    size_t stepNum;
    if (stepLim > kRootPropStep && (expandedXPath[kRootPropStep].options & kXMP_StepIsAlias)) {
      const auto alias = sAliasMap->find(expandedXPath[kRootPropStep].step);
      if (alias == sAliasMap->end()) XMP_Throw(kXMPErr_InternalFailure, "Unknown alias in path");
      const XMP_ExpandedXPath& actual = alias->second;
      node = LocateSchemaNode(xmpTree, actual[kSchemaStep].step, createNodes, &nodePosition);
      if (node == nullptr) return nullptr;
      settle(node, 0, false);
      node = FollowXPathStep(actual, node, kRootPropStep, createNodes, &nodePosition, false);
      if (node != nullptr) settle(node, 2, true);
      if (node != nullptr && actual.size() > 2) {
        node = FollowXPathStep(actual, node, 2, createNodes, &nodePosition, true);
        if (node != nullptr) settle(node, 2, true);
      }
      stepNum = 2;
    } else {
      node = LocateSchemaNode(xmpTree, expandedXPath[kSchemaStep].step, createNodes, &nodePosition);
      if (node == nullptr) return nullptr;
      settle(node, 0, false);
      stepNum = kRootPropStep;
    }
    for (; node != nullptr && stepNum < stepLim; ++stepNum) {
      node = FollowXPathStep(expandedXPath, node, stepNum, createNodes, &nodePosition, false);
      if (node != nullptr) settle(node, stepNum + 1, true);
    }
  } catch (...) {
    if (createdRoot != nullptr) RemoveNodeFromParent(createdRoot);
    throw;
  }
  if (createdRoot != nullptr) {
    if (node != nullptr) {
      node->options |= leafOptions;
    } else {
      RemoveNodeFromParent(createdRoot);
    }
  }
  if (node != nullptr && position != nullptr) *position = nodePosition;
  return node;
}
