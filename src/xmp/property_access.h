// Helpers that set a node's value or form, place array items and choose a
// language variant; shared by the property operations and the parser.
#pragma once

#include <string_view>

#include "xmp/xmp_node.h"

// Stores a value after checking it is whole, valid UTF-8 (id 4 otherwise,
// and nothing is stored); an xml:lang qualifier's value is normalised.
void AssignSimpleValue(XMP_Node* node, std::string_view value);

// Sets a node's value (value non-null) or makes it an array or struct
// (value null) with the given options. Every check comes before any change,
// so a refused assignment leaves the node as it was.
void AssignNode(XMP_Node* node, XMP_StringPtr value, XMP_OptionBits options);

// Sets item `index` (1-based, -1 = last) of an array, or inserts a new item
// before or after it (kXMP_InsertBeforeItem, kXMP_InsertAfterItem).
void PutArrayItem(XMP_Node* array, XMP_Index index, XMP_StringPtr value, XMP_OptionBits options);

// Adds an item with an xml:lang qualifier; the value is stored unchecked.
// An x-default item goes first in a non-empty array, any other last.
void AddLanguageItem(XMP_Node* array, std::string_view language, std::string_view value);

// How ChooseLocalizedText found its item.
enum XMP_CLTMatch : int {
  kXMP_CLT_NoValues = 0,
  kXMP_CLT_SpecificMatch = 1,
  kXMP_CLT_SingleGeneric = 2,
  kXMP_CLT_MultipleGeneric = 3,
  kXMP_CLT_XDefault = 4,
  kXMP_CLT_FirstItem = 5,
};

// Picks the item of an alt-text array for a specific and a generic
// language (both already normalised).
XMP_CLTMatch ChooseLocalizedText(const XMP_Node* array, std::string_view genericLang,
                                 std::string_view specificLang, const XMP_Node** item);
