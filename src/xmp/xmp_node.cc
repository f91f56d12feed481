// The metadata tree node and its small shared helpers.
#include "xmp/xmp_node.h"

#include <algorithm>
#include <utility>

#include "xmp/xmp_error.h"

XMP_Node::XMP_Node(XMP_Node* parentNode, std::string_view nodeName, XMP_OptionBits nodeOptions)
    : options(nodeOptions), name(nodeName), parent(parentNode) {}

XMP_Node::XMP_Node(XMP_Node* parentNode, std::string_view nodeName, std::string_view nodeValue,
                   XMP_OptionBits nodeOptions)
    : options(nodeOptions), name(nodeName), value(nodeValue), parent(parentNode) {}

namespace {

// Deletes every node of the lists and of their subtrees, deepest last, one
// at a time, so no call depth grows with the tree's depth.
void DeleteSubtrees(XMP_NodeList* first, XMP_NodeList* second) {
  if (first->empty() && second->empty()) return;
  XMP_NodeList pending;
  try {
    for (XMP_NodeList* list : {first, second}) {
      for (XMP_NodeOwner& node : *list) pending.push_back(std::move(node));
      list->clear();
    }
    while (!pending.empty()) {
      XMP_NodeOwner node = std::move(pending.back());
      pending.pop_back();
      // A list that running out of memory left part-moved holds empty places.
      if (node == nullptr) continue;
      for (XMP_NodeList* list : {&node->children, &node->qualifiers}) {
        for (XMP_NodeOwner& below : *list) pending.push_back(std::move(below));
        list->clear();
      }
    }
  } catch (const std::bad_alloc&) {
    // Out of memory for the work list: what is left goes the plain
    // recursive way as the lists are destroyed.
  }
}

}  // namespace

XMP_Node::~XMP_Node() { DeleteSubtrees(&children, &qualifiers); }

void XMP_Node::ClearChildNodes() {
  XMP_NodeList none;
  DeleteSubtrees(&children, &none);
  children.clear();
}

void XMP_Node::ClearQualifierNodes() {
  XMP_NodeList none;
  DeleteSubtrees(&qualifiers, &none);
  qualifiers.clear();
}

void XMP_Node::Reset() {
  options = 0;
  name.clear();
  value.clear();
  ClearChildNodes();
  ClearQualifierNodes();
}

XMP_OptionBits CheckOptions(XMP_OptionBits options, bool hasValue) {
  if (options & kXMP_PropArrayIsAltText) options |= kXMP_PropArrayIsAlternate;
  if (options & kXMP_PropArrayIsAlternate) options |= kXMP_PropArrayIsOrdered;
  if (options & kXMP_PropArrayIsOrdered) options |= kXMP_PropValueIsArray;
  if (options & ~XMP_OptionBits{0x20001F02}) XMP_Throw(kXMPErr_BadOptions, "Unrecognized option flags");
  if ((options & kXMP_PropValueIsStruct) && (options & kXMP_PropValueIsArray)) {
    XMP_Throw(kXMPErr_BadOptions, "IsStruct and IsArray options are mutually exclusive");
  }
  if ((options & kXMP_PropValueIsURI) && (options & kXMP_PropCompositeMask)) {
    XMP_Throw(kXMPErr_BadOptions, "Structs and arrays can't have \"value\" options");
  }
  if (hasValue && (options & kXMP_PropCompositeMask)) {
    XMP_Throw(kXMPErr_BadOptions, "Structs and arrays can't have string values");
  }
  return options;
}

void CanonicalizeLangTag(std::string* tag) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
  const auto upper = [](char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; };
  std::string& text = *tag;
  size_t pos = 0;
  int subtag = 0;
  while (pos <= text.size()) {
    size_t end = text.find('-', pos);
    if (end == std::string::npos) end = text.size();
    const bool twoLetterRegion = subtag == 1 && end - pos == 2;
    for (size_t i = pos; i < end; ++i) text[i] = twoLetterRegion ? upper(text[i]) : lower(text[i]);
    pos = end + 1;
    ++subtag;
  }
}

namespace {

bool FirstQualifierIsDefault(const XMP_Node& item) {
  return !item.qualifiers.empty() && item.qualifiers[0]->value == "x-default";
}

}  // namespace

void PutDefaultLanguageFirst(XMP_Node* array) {
  XMP_NodeList& items = array->children;
  const auto found = std::find_if(items.begin(), items.end(),
                                  [](const XMP_NodeOwner& item) { return FirstQualifierIsDefault(*item); });
  if (found == items.end()) return;
  if (found != items.begin()) std::swap(*found, items.front());
  if (items.size() == 2) items[1]->value = items[0]->value;
}

void MarkAltTextArray(XMP_Node* array) {
  if (array->children.empty()) return;
  for (const XMP_NodeOwner& item : array->children) {
    if ((item->options & kXMP_PropCompositeMask) || !(item->options & kXMP_PropHasLang)) return;
  }
  array->options |= kXMP_PropArrayIsAltText;
  PutDefaultLanguageFirst(array);
}

void RemoveNodeFromParent(XMP_Node* node) {
  XMP_Node* parent = node->parent;
  const bool isQualifier = (node->options & kXMP_PropIsQualifier) != 0;
  XMP_NodeList& list = isQualifier ? parent->qualifiers : parent->children;
  const auto found =
      std::find_if(list.begin(), list.end(), [node](const XMP_NodeOwner& entry) { return entry.get() == node; });
  if (found == list.end()) return;
  if (isQualifier) {
    if (node->name == "xml:lang") parent->options &= ~XMP_OptionBits{kXMP_PropHasLang};
    if (node->name == "rdf:type") parent->options &= ~XMP_OptionBits{kXMP_PropHasType};
  }
  list.erase(found);  // deletes the node and its subtree
  if (isQualifier && parent->qualifiers.empty()) parent->options &= ~XMP_OptionBits{kXMP_PropHasQualifiers};
}

void RemoveEmptySchema(XMP_Node* schemaNode) {
  if ((schemaNode->options & kXMP_SchemaNode) && schemaNode->children.empty()) RemoveNodeFromParent(schemaNode);
}
