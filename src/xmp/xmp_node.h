// The metadata tree: XMP_Node and the helpers that validate options, check
// language tags, shape alt-text arrays and take nodes out of the tree.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xmp/xmp_types.h"

class XMP_Node;
using XMP_NodeOwner = std::unique_ptr<XMP_Node>;
// Ordered list of owned nodes.
using XMP_NodeList = std::vector<XMP_NodeOwner>;

// One node: the root (no parent, empty name), a schema (named by its URI,
// value = its prefix), a property, struct field, array item ("[]") or
// qualifier (named by a qualified name). A node owns its children and its
// qualifiers; when present, xml:lang is the first qualifier and rdf:type
// comes right after it (or first).
class XMP_Node {
 public:
  XMP_Node(XMP_Node* parentNode, std::string_view nodeName, XMP_OptionBits nodeOptions);
  XMP_Node(XMP_Node* parentNode, std::string_view nodeName, std::string_view nodeValue,
           XMP_OptionBits nodeOptions);
  XMP_Node(const XMP_Node&) = delete;
  XMP_Node& operator=(const XMP_Node&) = delete;
  // Destroys the whole subtree without recursing, however deep it is.
  virtual ~XMP_Node();

  void ClearChildNodes();
  void ClearQualifierNodes();
  // Options 0, empty name and value, no children or qualifiers.
  void Reset();

  XMP_OptionBits options;
  std::string name;
  std::string value;
  XMP_Node* parent;
  XMP_NodeList children;
  XMP_NodeList qualifiers;
};

// Completes options with their implied bits (alt-text -> alternate ->
// ordered -> array) and throws 103 on bad combinations. hasValue tells
// whether a value is being set with them.
XMP_OptionBits CheckOptions(XMP_OptionBits options, bool hasValue);

// Normalises a language tag in place (ASCII letters only): the first subtag
// lower case, a second subtag of two letters upper case (else lower case),
// later subtags lower case. "EN-us" becomes "en-US".
void CanonicalizeLangTag(std::string* tag);

// Gives an array whose items are all simple with a language the alt-text
// bit, and puts its x-default item first.
void MarkAltTextArray(XMP_Node* array);
// Moves the first x-default item to the front; with exactly two items the
// other item then takes the x-default value.
void PutDefaultLanguageFirst(XMP_Node* array);

// Takes a node out of its parent's child or qualifier list and deletes it
// with its subtree; a qualifier's removal clears the parent's has-qualifiers,
// has-language or has-type bit as it applies.
void RemoveNodeFromParent(XMP_Node* node);
// Deletes a schema node that has no properties left.
void RemoveEmptySchema(XMP_Node* schemaNode);
