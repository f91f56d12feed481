// Walking an expanded path through a metadata tree: finding nodes,
// creating missing ones on request, and following registered aliases.
#pragma once

#include <string>
#include <string_view>

#include "xmp/xmp_node.h"
#include "xmp/xpath.h"

// Walks the path from the tree root. With createNodes, missing nodes are
// made; when the walk then fails (null) or throws, every node it made is
// removed again, so a failed walk leaves the tree as it was. When the walk
// created nodes and ends with a node, leafOptions are ORed into it.
// position (optional) receives the node's index in its parent's child or
// qualifier list.
XMP_Node* LocateNode(XMP_Node* xmpTree, const XMP_ExpandedXPath& expandedXPath, bool createNodes,
                     XMP_OptionBits leafOptions = 0, size_t* position = nullptr);

// The node of one step below parent, or null.
XMP_Node* FollowXPathStep(const XMP_ExpandedXPath& expandedXPath, XMP_Node* parent, size_t stepNum,
                          bool createNodes, size_t* position, bool aliasedArrayItem);

XMP_Node* LocateSchemaNode(XMP_Node* xmpTree, std::string_view namespaceURI, bool createNodes,
                           size_t* position = nullptr);
XMP_Node* LocateChildNode(XMP_Node* parent, std::string_view childName, bool createNodes,
                          size_t* position = nullptr);
XMP_Node* LocateQualifierNode(XMP_Node* parent, std::string_view qualName, bool createNodes,
                              size_t* position = nullptr);

// 0-based index of an index step's item, or -1; with createNodes the item
// one past the end is appended.
XMP_Index LocateIndexedItem(std::string_view indexStep, XMP_Node* array, bool createNodes);

// 0-based index of the first matching item, or -1.
XMP_Index FindItemByField(const XMP_Node* array, std::string_view fieldName, std::string_view fieldValue);
XMP_Index FindItemByLanguage(const XMP_Node* array, std::string_view language);
XMP_Index FindItemByQualifier(const XMP_Node* array, std::string_view qualName, std::string_view qualValue);

// Gives a new implicit node the struct bit when the path's next step
// (stepNum) names a field.
void MarkImplicitStruct(size_t stepNum, const XMP_ExpandedXPath& expandedXPath, XMP_Node* node, size_t stepLim);
